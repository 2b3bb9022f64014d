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
// or another. Waits for a busy folder until it is free or the cancel flag is set.
class EngineLock
{
public:
    EngineLock(const QStringList& folders, const std::atomic<bool>* cancel);
    ~EngineLock();
    bool acquired() const { return m_acquired; }
    static QString lockPathFor(const QString& folder);

private:
    std::vector<std::unique_ptr<ktr::platform::FileLock>> m_locks;
    bool m_acquired = false;
};

// Removes a folder with everything below it without following links; false when something stayed.
bool removeTree(const QString& path);

// The marker a complete rollback folder carries while its restore runs.
QString rollbackMarkerPath(const QString& rollback);

// Puts the data folder back from the rollback folder: files the rollback lacks are deleted, then the
// rollback is copied over the data folder. excludedDir is left alone as in the copy.
bool rollBack(const QString& rollback, const QString& dataDir, const QString& excludedDir);

} // namespace backupdetail
