#pragma once

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QTimer;
struct AppSettings;

namespace ktr::platform {
class Clock;
}

// The automatic backup: an hourly look whether a snapshot is due (and one shortly after start), the
// snapshot and its pruning on the global pool, and the wait for it at quit. It has no interface of its
// own: outcomes go to the log, the time of a success into the settings, and the first failure of a streak
// to whoever shows it to the user (failed).
class BackupScheduler : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 3600000;
    static constexpr int kFirstRunDelayMs = 2500;
    static constexpr int kStalePartSecs = 21600;

    // What the scheduler takes from the main window.
    struct Host
    {
        AppSettings* settings = nullptr;                    // the live record (read, and backupLastAt written)
        std::function<QString()> dataDir;                   // the folder of "layout.json"
        std::function<bool()> saveSettings;                 // writes "settings.json" after a success
        std::function<void(int restMs)> cancelDialogWorker; // the settings dialog's worker, when one is open
    };
    // One run's work on the pool thread: an empty result for a finished or cancelled snapshot, else the
    // error text. The default makes an automatic snapshot and prunes unless cancelled.
    using SnapshotTask = std::function<QString(const QString& backupDir, const QString& dataDir, int keep,
                                               const std::atomic<bool>* cancel)>;

    explicit BackupScheduler(Host host, QObject* parent = nullptr);
    ~BackupScheduler() override;

    // Whether a snapshot last made at lastAt (ISO 8601 local time, maybe empty or garbage) is due at now. A time
    // after now (stamped under a wrong clock) is due too, or no snapshot would be made until that date.
    static bool isDue(const QString& lastAt, int intervalDays, const QDateTime& now);
    static QString runSnapshot(const QString& backupDir, const QString& dataDir, int keep,
                               const std::atomic<bool>* cancel);

    // What the user is told of a failed run (translated): a backup folder that is, or lies below, a regular
    // file is named as such; otherwise the snapshot's own error text.
    static QString failureText(const QString& reason, const QString& backupDir);
    // True when the backup folder is, or lies below, a regular file: no snapshot can ever be made there.
    static bool isBlockedByFile(const QString& backupDir);

    void setClock(ktr::platform::Clock* clock); // null: the system clock
    void setSnapshotTask(SnapshotTask task);    // empty: runSnapshot

    // Starts the hourly look and the first one 2.5 s later (once).
    void start();
    void stop();
    // The look: stale partial files once per process run, then a snapshot when on and due.
    void runIfDue();
    bool isRunning() const;
    // Sets the cancel flag and waits up to budgetMs for a running snapshot (blocking the GUI thread).
    void stopWorker(int budgetMs);
    // At quit: the automatic backup first, then the settings dialog's worker with what is left.
    void waitWorkers(int budgetMs);

Q_SIGNALS:
    // After the completion of a run was handled (backupLastAt already written on success).
    void runFinished();
    // A run failed after a success, or as the first of this process: the user is told once per streak of
    // failures, not every hour. reason is the snapshot's error text (Chinese, to pass through Lang::tr).
    void failed(const QString& reason, const QString& backupDir);

private:
    void onFinished(const QString& result);
    QString backupFolder() const;

    Host m_host;
    ktr::platform::Clock* m_clock = nullptr;
    SnapshotTask m_task;
    QTimer* m_timer = nullptr;
    QTimer* m_firstRun = nullptr;
    QFuture<QString> m_future; // the latest run
    int m_runs = 0;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_staleCleaned = false;
    bool m_failing = false; // the last finished run failed (a cancelled one changes nothing)
    QString m_runFolder;    // the backup folder of the run in progress, for the log
};
