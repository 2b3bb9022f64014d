#pragma once

#include "model/configstore.h"

#include <QFuture>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

// The backups a person starts (create, restore, export): one at a time on the global pool, its progress
// and its outcome reported through signals. It lives as long as the main window, so whoever started an
// operation (the settings dialog) may go at any time: the outcome is still reported, to the panel when no
// viewer is left, and a restored snapshot is still taken up (snapshotRestored).
class BackupJobs : public QObject
{
    Q_OBJECT
public:
    enum Op { Create = 1, Restore = 2, Export = 3 };

    // Outcome of one operation.
    struct Result
    {
        bool ok = false;
        QString message;
        bool wasRestore = false;
        bool cancelled = false;
        QStringList warnings;        // files the snapshot had to leave out or took while they changed
        bool messageForUser = false; // message is a sentence for the user, already in the shown language
        // After a restore: the data folder's layout file as the restore left it, read and parsed on the worker
        // (at 100,000 items that takes longer than many frames), for the window to take up.
        std::shared_ptr<const ConfigStore::LayoutRead> layout;
    };
    // What one operation's worker takes along: copies made on the GUI thread before it starts.
    struct Job
    {
        int op = 0; // Op; anything else ends as unknown
        QString dataDir;
        QString backupDir;
        QString first;  // restore, export: the snapshot
        QString second; // export: the target file
        int keep = 10;
        std::shared_ptr<std::atomic<bool>> cancel; // set by start
        QString unknownText;
        // restore: this computer's values a snapshot does not bring back (backup folder, last backup, recording
        // folder), put back into the restored settings.
        QJsonObject localSettings;
        // Progress 0..100 of the whole operation, from the worker thread (set by start).
        std::function<void(int percent, const QString& text)> progress;
    };
    using Executor = std::function<Result(const Job& job)>;
    // Said after every restore: what the snapshot did not bring back.
    static constexpr const char* kKeptLocalText =
        "本机的备份目录、上次备份时间与录屏目录已保留，未被快照中的设置替换。";

    explicit BackupJobs(QObject* parent = nullptr);
    ~BackupJobs() override;

    // Starts an operation; false (and nothing started) while one runs.
    bool start(Job job);
    bool running() const { return m_running; }
    int runningOp() const { return m_op; }
    // While snapshotRestored is said: the restored layout file as the worker read it (null at any other time,
    // and when it was not read).
    std::shared_ptr<const ConfigStore::LayoutRead> restoredLayout() const { return m_restoredLayout; }
    // The object that shows the outcome of the running operation while it lives (the settings dialog); when
    // it is gone at the end, outcomeForPanel says it instead.
    void setViewer(QObject* viewer) { m_viewer = viewer; }
    // Asks the running operation to stop.
    void cancel();
    // At quit: asks a running operation to stop and waits for it at most `budgetMs`.
    void cancelAndWait(int budgetMs);

    // The panel's words for an operation whose viewer was gone when it ended (failed: a failure or a cancel).
    static QString panelOutcome(const Result& result, int op, bool* failed);
    // The real work of an operation, on the pool thread.
    static Result execute(const Job& job);
    // The work of an operation (tests run something else there); an empty one restores execute.
    static Executor setExecutor(Executor executor);

Q_SIGNALS:
    void progressed(int percent, const QString& text);
    // A restore wrote the snapshot's files: the main window takes them up before anything else happens.
    void snapshotRestored();
    // Every end, after snapshotRestored; the operation no longer runs.
    void finished(const BackupJobs::Result& result, int op, const QString& backupDir);
    // The end when the viewer was gone (text translated).
    void outcomeForPanel(const QString& text, bool failed);

private:
    void onDone(const Result& result);

    bool m_running = false;
    int m_op = 0;
    QString m_runDir;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    QFuture<Result> m_future;
    QPointer<QObject> m_viewer;
    std::shared_ptr<const ConfigStore::LayoutRead> m_restoredLayout;
};

// The bar position of an engine percent p inside the range lo..hi (p clamped to 0..100 first).
int rangedProgress(int lo, int hi, int p);
