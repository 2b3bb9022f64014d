#pragma once

#include "model/panelmodel.h"
#include "ui/appsettings.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

namespace ktr::platform {
class Clock;
}

// The main window's two configuration files, "layout.json" and "settings.json", and what they share:
// the treatment of a damaged file, the report of a failed write and the once-per-run notice. The main
// window owns one and forwards its loadLayout, saveLayout, loadSettings, saveSettings,
// reportSaveFailure and preserveCorruptFile to it; everything here runs without a window.
//
// A file that exists but can't be used is never replaced by defaults without a copy: a damaged file
// (not JSON, or JSON that is not an object) is moved aside first; one that can't be read at all (an
// I/O error, a folder in its place, oversize) or can't be moved aside is left untouched and this run
// does not write over it.
class ConfigStore
{
public:
    // Shows a toast: kind 0 information, 1 error. The text is already translated.
    using ToastHandler = std::function<void(const QString& text, int kind)>;
    // Runs a task after a delay (a coarse single-shot timer unless a test replaces it).
    using DeferHandler = std::function<void(int delayMs, std::function<void()> task)>;

    static constexpr qint64 kMaxLayoutBytes = 64 * 1024 * 1024;
    static constexpr qint64 kMaxSettingsBytes = 16 * 1024 * 1024;
    static constexpr qint64 kToastIntervalMs = 5000;
    static constexpr int kSettingsNoticeDelayMs = 3000;
    static constexpr int kLayoutNoticeDelayMs = 3200;

    // An empty folder means the data folder of the program, determined on first use.
    explicit ConfigStore(const QString& dataDir = QString());
    // Waits for the layout's background writes (nothing of them is reported any more).
    ~ConfigStore();
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    void setToastHandler(ToastHandler handler) { m_toast = std::move(handler); }
    void setDeferHandler(DeferHandler handler) { m_defer = std::move(handler); }
    void setClock(ktr::platform::Clock* clock);

    QString layoutPath();
    QString settingsPath();

    // What a file's bytes gave, before anything is done about it: made by readFileObject on any thread.
    struct FileRead
    {
        int status = 0;      // a ktr::ReadStatus
        QString error;       // why it could not be read, in English
        bool parsed = false; // the bytes were a JSON object, now in object
        QString parseError;  // otherwise what was wrong with them
        bool empty = false;
        QJsonObject object;
    };
    // The layout file read and turned into groups without touching the store, so a large one can be
    // parsed on a worker thread while the window starts; takeLayout then decides on the GUI thread.
    struct LayoutRead
    {
        FileRead file;
        bool dropsData = false; // the right type in the wrong shape: content would be lost
        QList<Group> groups;
        // Of a large layout in the saved form: the file's size and two digests of its bytes, so a save that
        // would write the same bytes (the quit of a start without an edit) leaves the file alone.
        qsizetype savedSize = -1;
        std::pair<size_t, size_t> savedDigest;
        // The file it was read from, with the size and time of change the file had just before the read.
        QString path;
        qint64 fileSize = -1;
        QDateTime fileModified;
    };
    static FileRead readFileObject(const QString& path, qint64 cap);
    static LayoutRead readLayoutFile(const QString& path);
    // Whether a read made earlier (on a worker) still stands for the file at path: the same file, with the
    // size and time of change it had when it was read. Anything written there since makes it false.
    static bool readStillCurrent(const LayoutRead& read, const QString& path);
    // The layout file of a data folder ("layout.json" in it), as layoutPath() names it for this store's.
    static QString layoutFileIn(const QString& dataDir);

    // Replaces `groups` with the file's content and returns true; returns false and leaves `groups`
    // as it was when the file is missing, unusable or damaged. Items of an old layout pointing at
    // write.exe are moved to WordPad (then the layout is saved). The caller sets the current group
    // and queues the icon loads.
    bool loadLayout(QList<Group>& groups);
    // The same for a file already read (by readLayoutFile on this store's layoutPath()): the damaged
    // file's copy, the notices and the protection against overwriting happen here.
    bool takeLayout(LayoutRead read, QList<Group>& groups);
    bool saveLayout(const QList<Group>& groups);

    // A layout of at least this many items takes longer to serialise and write than a frame lasts.
    static constexpr qsizetype kBackgroundSaveItems = 5000;
    // The window's save. A small layout is written at once (saveLayout). A large one is handed to the writer
    // thread as it is now (an implicitly shared copy: the model goes on changing its own), serialised and
    // written there with the same atomic write; saves asked for meanwhile are coalesced, so the latest one
    // is written next and none in between. While one is queued or being written every save goes that way,
    // so they reach the disk in order. A failure is reported as saveLayout's is (log, toast) once the writer
    // is done. A layout equal to the one last handed over (written or on its way) is not written again.
    // False only for what fails at once: a protected file, or a small layout's failed write.
    bool saveLayoutSoon(const QList<Group>& groups);
    // Waits at most budgetMs (-1: as long as it takes) for the writer to write what was handed over, then
    // reports its failures; true when nothing is left to write.
    bool waitForLayoutSaves(int budgetMs = -1);
    bool layoutSavesPending() const;
    // Runs on the writer thread before each background write (a test holds a write back with it).
    static void setLayoutWriteHook(std::function<void()> hook);

    // Fills `settings` and `savedSize` from the file and applies the language; a missing or unusable
    // file leaves both unchanged. Failures are only logged or shown, never returned.
    void loadSettings(AppSettings& settings, QSize& savedSize);
    bool saveSettings(const AppSettings& settings, const QSize& windowSize);
    // The theme switch: flips the theme and saves; the caller applies the settings afterwards.
    void toggleTheme(AppSettings& settings, const QSize& windowSize);

    // Logs "config save failed:" every time; shows `message` (or a generic text when empty) as an
    // error toast at most once per path every 5000 ms.
    void reportSaveFailure(const QString& path, const QString& message, const QString& detail = QString());
    // Moves a damaged file aside as "<path>.corrupt-yyyyMMdd-HHmmss-zzz" ("-0".."-99" appended when
    // taken); copies and deletes when renaming fails. True when the file was preserved.
    // With keepOriginal the file is copied and stays where it is (it was read, only some values were not).
    bool preserveCorruptFile(const QString& path, bool keepOriginal = false);

    // True once a damaged-file notice has been scheduled in this run (never cleared).
    bool corruptNoticeScheduled() const { return m_corruptNoticeScheduled; }
    // True when the file at `path` exists but could not be used, so it is not written this run.
    bool isProtected(const QString& path) const { return m_protected.contains(path); }

private:
    enum class Read { Ok, Missing, Empty, Damaged, DamagedNotKept, Unusable };
    bool keepMisshapenCopy(const QString& path);
    Read readObject(const QString& path, qint64 cap, QJsonObject* object);
    Read settleRead(const QString& path, const FileRead& read);
    bool writeFile(const QString& path, const QByteArray& data, const QString& message);
    void scheduleCorruptNotice(int delayMs, const char* text);
    void scheduleCorruptNotice(int delayMs, std::function<QString()> text);
    QString dataDir();

    QString m_dataDir;
    QString m_layoutPath;
    QString m_settingsPath;
    ToastHandler m_toast;
    DeferHandler m_defer;
    ktr::platform::Clock* m_clock;
    QHash<QString, qint64> m_lastToastMs;
    QSet<QString> m_protected;
    bool m_corruptNoticeScheduled = false;
    QObject m_timerContext; // deferred notices die with the store
    struct LayoutWriter;
    std::shared_ptr<LayoutWriter> m_writer;
    void reportLayoutWrites();
};
