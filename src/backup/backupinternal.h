#pragma once

// Pieces shared by the snapshot store, creation and restore; not for other folders.

#include "backup/backupengine.h"
#include "platform/fileops.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace ktr::platform {
class Clock;
}

namespace backupdetail {

// A restore refuses an entry that inflates to more than this many times its compressed size.
constexpr qint64 kMaxInflateRatio = 1000;
// A restore refuses a zip of more entries than this: no data folder holds that many files.
constexpr qsizetype kMaxSnapshotEntries = 50000;

// Creates the folder and its missing parents readable by the owner only (0700); folders that exist keep
// their mode. False when the folder is not there afterwards.
bool makePrivatePath(const QString& path);

// Opens a data file for reading (no links followed): a descriptor, or -1 with errno set. Tests replace the
// opener to make a read fail where permissions can't (a run as root).
int openDataFile(const QString& path);
using FileOpener = std::function<int(const QString& path)>;
void setFileOpener(FileOpener opener);

// This process as the name of what its runs leave behind: "<pid>-<start ticks>".
QString runTag();
// Whether a run tag names a process that is gone (its id is free, or taken by a process started at
// another time): what it left can be removed at once. False for a live run or a tag that can't be read.
bool isDeadRunTag(const QString& tag);

// The work folders a restore makes beside the data folder: "<data>.ktrrest_<run tag>-<unique>".
QString restoreWorkPath(const QString& dataDir);
// Test seam: called after each file the restore moved into the data folder with the count so far; true
// ends the run on the spot, leaving everything as a killed process would.
using MoveSeam = std::function<bool(int moved)>;
void setMoveSeam(MoveSeam seam);
bool moveSeamStops(int moved);

ktr::platform::Clock* clock();
void setClock(ktr::platform::Clock* clock);

// What a walk of a data tree leaves out besides the fixed rules: the effective snapshot folder, by path.
// When that folder is the tree's root itself, only the snapshot files (and their partials) at the root
// are left out.
struct Scope
{
    QString root;        // absolute, cleaned
    QString excludedDir; // absolute, cleaned; empty for none
    QString excludedCanonical;
    bool excludedIsRoot = false;

    Scope(const QString& rootPath, const QString& excluded);
    bool skipsDir(const QString& absPath) const;
    bool skipsRootFile(const QString& name) const;
};

// The walk every tree operation shares: folders and files, no hidden entries, no symbolic links, folders
// of excluded names and the scope's folder not entered, excluded files left out. visit gets the path
// relative to the root and the absolute path; returning false ends the walk (walk returns false).
bool walk(const Scope& scope, const QString& relativeFolder,
          const std::function<bool(const QString& rel, const QString& abs, bool isDir)>& visit);

// True for "Kestrune-...zip.<pid>.part".
bool isPartialName(const QString& fileName);

// One in-process run with the contract of a job: a deadline from its start, the caller's cancel flag, and
// the run's one error text.
class Job
{
public:
    Job(QString& error, const std::atomic<bool>* cancel, bool* cancelled);
    void start(int timeoutMs);
    // False once the cancel flag is set ("已取消", cancelled) or the deadline passed ("备份操作超时").
    bool check();
    bool fail(const QString& text);
    bool isCancelRequested() const { return m_cancel && m_cancel->load(); }

private:
    QString& m_error;
    const std::atomic<bool>* m_cancel;
    bool* m_cancelled;
    qint64 m_deadline = -1;
    bool m_failed = false;
};

// Reports a percent only when it changed since the last report.
class PercentReporter
{
public:
    PercentReporter(BackupEngine::Progress progress, QString status)
        : m_progress(std::move(progress)), m_status(std::move(status))
    {
    }
    void report(int percent)
    {
        if (percent == m_last)
            return;
        m_last = percent;
        if (m_progress)
            m_progress(percent, m_status);
    }

private:
    BackupEngine::Progress m_progress;
    QString m_status;
    int m_last = -1;
};

// The engine lock of the folders a run touches (a data folder, a snapshot folder): held while one
// creation, purge, restore or put-back runs, so none of them overlap on the same folder, in this process
// or another. The lock files lie in the user's private runtime folder (checked to be ours, 0700), are
// opened without following links and must be ours. Waits for a busy folder until it is free, the cancel
// flag is set, or the wait bound passed; then error() says why it was not taken (for the user).
class EngineLock
{
public:
    EngineLock(const QStringList& folders, const std::atomic<bool>* cancel);
    ~EngineLock();
    bool acquired() const { return m_acquired; }
    QString error() const { return m_error; }
    // The lock file of a folder; empty when there is no private folder to keep it in.
    static QString lockPathFor(const QString& folder);
    // How long a busy lock is waited for (default 10000 ms). For tests.
    static void setWaitMs(int ms);

private:
    std::vector<std::unique_ptr<ktr::platform::FileLock>> m_locks;
    bool m_acquired = false;
    QString m_error;
};

// Removes a folder with everything below it without following links; false when something stayed.
bool removeTree(const QString& path);

// The marker a complete rollback folder (a whole copy of the data folder) carries while its restore runs.
QString rollbackMarkerPath(const QString& rollback);
// The journal of a rollback folder that keeps the replaced files by rename: written before the first file
// of the data folder is moved, it names every file the restore replaces or adds.
QString rollbackJournalPath(const QString& rollback);

struct JournalEntry
{
    QString rel;
    bool existed = false; // the data folder held it before: its old version goes to the rollback folder
};
bool writeJournal(const QString& rollback, const QString& dataDir, const QString& snapshotFolder,
                  const QList<JournalEntry>& entries);
bool readJournal(const QString& rollback, QList<JournalEntry>* entries);
// The first folder below dataDir that a journal line leads through and that is a link; empty when none.
QString journalLinkedFolder(const QList<JournalEntry>& entries, const QString& dataDir);
// Puts back what a journal names: the added files go, the replaced ones come back from the rollback
// folder; a line leading through a link of the data folder is left alone. False when a file could not be
// put back (the rest are still tried).
bool putBackJournal(const QString& rollback, const QString& dataDir);
// Moves a file, by rename on the same file system and by copy and delete across file systems.
bool moveFile(const QString& from, const QString& to);
// Removes a rollback folder no longer needed: first renamed out of the way in one step (a folder under
// the rollback name is never half removed), then deleted.
bool discardRollback(const QString& rollback, const QString& dataDir);

// Puts the data folder back from the rollback folder: files the rollback lacks are deleted, then the
// rollback is copied over the data folder. excludedDir is left alone as in the copy.
bool rollBack(const QString& rollback, const QString& dataDir, const QString& excludedDir);

} // namespace backupdetail
