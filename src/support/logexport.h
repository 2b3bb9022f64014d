#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QWidget;

namespace ktr::platform {
class Clock;
}

// Exports of the program's log: the log root packed into one zip (through the platform's zip layer, on a
// worker) or, when that fails, copied into a plain folder; and the default names offered for them.
namespace logexport {

// The longest a zip of the log root may take; past it the zip is abandoned.
constexpr int kZipDeadlineMs = 120000;

// "<desktop>/青岚舟面板日志_<yyyyMMdd>.zip" (or ".txt"), translated.
QString defaultZipPath();
QString defaultTextPath();

// The chosen path with the suffix (".zip", ".txt") added when the name has none.
QString withDefaultSuffix(const QString& path, const QString& suffix);

// The folder the fallback copies into: the target without a final ".zip" (any case), or the target itself.
QString baseFolderFor(const QString& target);

// `base` when nothing exists there, else the first free "base_2", "base_3", ...: an export never writes
// into (or deletes) a folder it did not create.
QString freeFolderName(const QString& base);

// Packs the files and folders of root (not hidden ones; links and other special entries are left out with
// a warning) into a zip at target. The zip is written under a partial name beside the target and renamed
// over it only when complete; a run that fails, passes the deadline or is cancelled removes the partial it
// created and leaves an existing target alone. clock: nullptr for the system clock.
bool zipFolder(const QString& root, const QString& target, const std::atomic<bool>* cancel, ktr::platform::Clock* clock,
               QString* error);

// Copies every file of source into target (created with its parents), then every sub-folder the same way.
// A file that can't be copied (a link, a FIFO, a read failure) is logged and makes the result false; the
// others are copied all the same. Hidden entries are not copied.
bool copyDirRecursive(const QString& source, const QString& target);

struct Result
{
    bool ok = false;
    bool zipped = false; // the zip was made (else the folder copy ran, when asked for)
    QString path;        // the zip, or the folder copied into
};

// The whole export of the main window: the zip, and when it fails the folder copy into a free folder
// named after the target. Runs on a worker.
Result exportArchive(const QString& root, const QString& target, bool copyWhenZipFails, const std::atomic<bool>* cancel,
                     ktr::platform::Clock* clock);

// Test seam: the clock the GUI-side exports hand to their workers (nullptr: the system clock).
void setClock(ktr::platform::Clock* clock);
ktr::platform::Clock* clock();

// The main window's export ("导出日志" of the settings dialog): asks for the target with `window` as the
// chooser's parent, zips the log root on a worker (folder copy when that fails) and reports through
// `toast` (text translated; kind 0 information, 1 error). Every call runs its own export; a window destroyed
// meanwhile receives nothing, and its export is cancelled.
void exportLogsFromWindow(QWidget* window, std::function<void(const QString& text, int kind)> toast);

} // namespace logexport
