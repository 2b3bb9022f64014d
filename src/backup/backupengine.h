#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace ktr::platform {
class Clock;
}

// Snapshots of the data folder: making, listing, purging, exporting and restoring them. Static functions
// only; the folders and file names are the state. Every call runs on the calling (worker) thread and
// blocks it; errors come back as Chinese text for the caller to show through Lang::tr.
class BackupEngine
{
public:
    BackupEngine() = delete;

    using Progress = std::function<void(int percent, const QString& status)>;

    struct SnapshotInfo
    {
        QString path;
        QString name;
        QDateTime time;
        qint64 size = 0;
        bool isPreRestore = false;
    };

    // The default snapshot folder: "Backups" in the data folder.
    static QString backupDir(const QString& dataDir);
    // True for a name this engine gives a snapshot: a prefix, "yyyyMMdd-HHmmss-zzz" and ".zip".
    static bool isSnapshotName(const QString& fileName);
    // The snapshots of a folder (only names of the snapshot pattern), newest first.
    static QList<SnapshotInfo> listSnapshots(const QString& dir);
    // Deletes all but the keep newest automatic snapshots of the folder, and all but the keep newest
    // pre-restore snapshots (each kind counted by itself); other files are never touched, nor the snapshot
    // `spare` (the one a restore reads, which may be among the oldest).
    static void purgeOld(const QString& dir, int keep, const QString& spare = QString());
    // The failures of these calls are returned as false (or an empty path), with a sentence for the user in
    // *error when error is not null.
    static bool exportSnapshot(const QString& src, const QString& dst, QString* error);
    // Removes partial snapshot files whose writing run is proven gone (at once), and those at least
    // maxAgeSecs old whose writer can't be told (names without a run tag).
    static int removeStaleParts(const QString& dir, int maxAgeSecs);
    // Removes at once what dead runs of this program left: partial files in backupDir (as above, with a
    // day for the ones that can't be told) and restore work folders beside dataDir. Returns the count.
    static int removeDeadRunLeftovers(const QString& dataDir, const QString& backupDir);

    // Removes what earlier runs left in the temporary folder (tempDir, or the system's when empty) once it
    // is more than 24 hours old: work folders "ktrbak_*" and "ktrrest_*" (recursively), and the files
    // "ktrbk_*.ps1", "ktrbak_prog_*.txt" and "ktrrest_prog_*.txt". Links are removed as links and never
    // followed; entries owned by another user are left alone. Stops before the next entry once stop is set.
    // Returns the number of entries removed. Safe on a worker thread.
    static int cleanupTempLeftovers(const QString& tempDir, const std::atomic<bool>* stop);

    // Writes a snapshot of dataDir into backupDir; returns the new zip's absolute path, empty on failure. The
    // files are read straight from the data folder; one that can't be read is left out and named, like a
    // file that kept changing while it was read, in warnings (user texts, empty when all went well).
    static QString createSnapshot(const QString& backupDir, const QString& dataDir, QString* error, bool preRestore,
                                  Progress progress, const std::atomic<bool>* cancel, bool* cancelled,
                                  QStringList* warnings = nullptr);
    // Whether the zip is a snapshot a restore into dataDir would take: a whole zip (every entry read through),
    // shaped like a snapshot, with nothing unsafe or too large to unpack, its settings and layout readable.
    // Writes nothing. On false, *error holds a sentence for the user (in the current language) saying what is
    // wrong with the file.
    static bool checkRestorable(const QString& zip, const QString& dataDir, QString* error,
                                const std::atomic<bool>* cancel = nullptr, bool* cancelled = nullptr);
    // Lays the snapshot (any zip path) over dataDir. A zip not shaped like a snapshot is refused before the
    // data folder is touched; the files are unpacked beside the data folder and moved in, the replaced ones
    // kept in a rollback folder beside it until the restore has ended.
    static bool restoreSnapshot(const QString& zip, const QString& dataDir, QString* error, Progress progress,
                                const std::atomic<bool>* cancel, bool* cancelled);

    // Sets the given members of the data folder's "settings.json" (after a restore: the values that belong to
    // this computer, not to the snapshot), keeping every other member as the file has it. A missing file is
    // left missing (true); an unreadable one is not rewritten (false).
    static bool keepSettingsMembers(const QString& dataDir, const QJsonObject& members);

    // The rollback folder of a data folder: its path with ".__restore_bak" appended, a sibling of it.
    static QString rollbackDir(const QString& dataDir);
    // A rollback folder left by a restore that did not end (the process was killed mid-way): its path, or
    // empty. complete tells whether it holds the whole data folder as it was before that restore.
    static QString findLeftoverRollback(const QString& dataDir, bool* complete);
    // Puts the data folder back from a complete leftover rollback folder, then removes that folder.
    static bool putBackRollback(const QString& dataDir, QString* error);
    // Keeps a leftover rollback folder for the user under a name of its own beside the data folder, so it
    // no longer stands in the way of the next restore; keptAt receives the new path.
    static bool keepRollbackAside(const QString& dataDir, QString* keptAt, QString* error);

    // The clock for snapshot names and run deadlines (null: the system clock). For tests.
    static void setClock(ktr::platform::Clock* clock);
};

// The time-out of a run over the given number of bytes: 120 s plus 1 s per 8 MiB, at most 4 hours.
int backupTimeoutMs(qint64 bytes);
// Folder names a snapshot never holds ("logs", "cache", "Backups", ".__restore_bak", any case).
bool isExcludedDirName(const QString& name);
// Files a snapshot never holds: below a "logs", "cache" or "Backups" folder or the market's download cache
// ("apps/_cache"), or named "*.log".
bool isBackupExcluded(const QString& relativePath);
// Bytes of the files below root that isBackupExcluded keeps; the cancel flag is read every 256th file.
qint64 dirSizeBytes(const QString& root, const std::atomic<bool>* cancel);
// Sets *cancelled (when given) and error to "已取消".
void markCancelled(QString& error, bool* cancelled);
// Copies src over dst, leaving out what a snapshot leaves out (and the folder excludedDir, wherever it
// lies, when given), symbolic links and hidden entries; false at the first failure or when cancelled.
bool copyTreeWithExclusions(const QString& src, const QString& dst, const std::atomic<bool>* cancel,
                            const QString& excludedDir = QString());
// Appends the absolute path of every file a snapshot of root would hold (the same rules as the copy).
void collectSnapshotFiles(const QString& root, const QString& relativeFolder, QStringList& out,
                          const QString& excludedDir = QString());
