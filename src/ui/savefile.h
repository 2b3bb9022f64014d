#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QSaveFile;

namespace ktr {

// The one way a data file is written: whole, through QSaveFile (a temporary file beside the target,
// renamed over it on commit). The parent folder is created when missing. Every write, the flush and
// the sync to disk are checked before the commit; a new file is readable by its owner only. When the
// file can't be opened, any write, the flush, the sync or the commit fails, the write is abandoned,
// the previous file stays untouched, false is returned and `error` (when given) holds the reason
// in English for the log; callers show their own message.
bool saveFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);

// Seams of saveFileAtomic for tests: the sync of the written temporary file (by its descriptor) and the
// commit that renames it over the target. An empty function is the real step. Set them from the GUI thread
// while no save runs; a default-made value puts the real steps back.
struct SaveFileSeams
{
    std::function<bool(int fd, QString* error)> sync;
    std::function<bool(QSaveFile& file)> commit;
};
void setSaveFileSeams(SaveFileSeams seams);

// Outcome of reading a data file.
enum class ReadStatus {
    Ok,       // the whole file is in `data`
    Missing,  // nothing exists at the path
    NotAFile, // something other than a regular file (a folder, a device) lies there
    TooLarge, // larger than the cap; refused before reading
    Failed,   // exists but could not be opened or read
};

// Reads a whole file of at most `maxSize` bytes. Anything larger is refused without being read.
// `data` is emptied unless the result is Ok; `error` (when given) holds the reason in English.
ReadStatus readFileCapped(const QString& path, qint64 maxSize, QByteArray* data, QString* error = nullptr);

} // namespace ktr
