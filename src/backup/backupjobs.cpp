#include "backup/backupjobs.h"

#include "backup/backupengine.h"
#include "backup/futurewait.h"
#include "ui/background.h"
#include "ui/lang.h"

#include <QDebug>
#include <QMetaObject>

#include <algorithm>

namespace {

BackupJobs::Executor& executorSlot()
{
    static BackupJobs::Executor executor;
    return executor;
}

// The engine's progress of one step, placed into lo..hi of the whole operation.
BackupEngine::Progress stepProgress(const BackupJobs::Job& job, int lo, int hi, bool ranged)
{
    if (!job.progress)
        return {};
    return [report = job.progress, lo, hi, ranged](int percent, const QString& text) {
        report(ranged ? rangedProgress(lo, hi, percent) : percent, text);
    };
}

} // namespace

int rangedProgress(int lo, int hi, int p)
{
    return lo + std::clamp(p, 0, 100) * (hi - lo) / 100;
}

BackupJobs::BackupJobs(QObject* parent) : QObject(parent)
{
}

BackupJobs::~BackupJobs()
{
    // The watcher goes with this object: a job still running finishes unheard, asked to stop.
    cancel();
}

BackupJobs::Executor BackupJobs::setExecutor(Executor executor)
{
    Executor previous = std::move(executorSlot());
    executorSlot() = std::move(executor);
    return previous;
}

bool BackupJobs::start(Job job)
{
    if (m_running) {
        qInfo().noquote() << "backup operation" << job.op << "refused: operation" << m_op << "still running";
        return false;
    }
    m_running = true;
    m_op = job.op;
    m_runDir = job.backupDir;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    job.cancel = m_cancel;
    // Progress reaches the GUI thread while this object lives.
    QPointer<BackupJobs> self(this);
    job.progress = [self](int percent, const QString& text) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, percent, text] {
                if (self)
                    Q_EMIT self->progressed(percent, text);
            },
            Qt::QueuedConnection);
    };
    const Executor executor = executorSlot() ? executorSlot() : Executor(&BackupJobs::execute);
    m_future = runHeavyInBackground(
        this, [executor, job] { return executor(job); }, [this](const Result& result) { onDone(result); });
    return true;
}

void BackupJobs::cancel()
{
    if (m_cancel)
        m_cancel->store(true);
}

void BackupJobs::cancelAndWait(int budgetMs)
{
    cancel();
    if (!m_running)
        return;
    if (!ktr::waitFinished(m_future, budgetMs))
        qWarning("settings backup worker still running on exit; cancel requested");
}

void BackupJobs::onDone(const Result& result)
{
    const int op = m_op;
    const QString dir = m_runDir;
    m_running = false;
    m_cancel.reset();
    // The restored files are on disk: the main window takes them up first, so it never saves its old state
    // over them, and the viewer then shows what it has reloaded.
    if (result.wasRestore && result.ok) {
        m_restoredLayout = result.layout;
        Q_EMIT snapshotRestored();
        m_restoredLayout.reset();
    }
    const bool viewerGone = m_viewer.isNull();
    Q_EMIT finished(result, op, dir);
    if (!viewerGone)
        return;
    bool failed = false;
    const QString text = panelOutcome(result, op, &failed);
    qInfo().noquote() << "backup operation" << op << "ended after its dialog closed:"
                      << (result.cancelled ? "cancelled"
                          : result.ok      ? "ok"
                                           : "failed")
                      << result.message;
    Q_EMIT outcomeForPanel(text, failed);
}

QString BackupJobs::panelOutcome(const Result& result, int op, bool* failed)
{
    const QString name = Lang::tr(result.wasRestore ? "还原" : op == Create ? "立即备份" : "导出备份");
    bool bad = true;
    QString text;
    if (result.cancelled) {
        text = Lang::tr("设置窗口已关闭，「%1」已取消。").arg(name);
    } else if (result.ok) {
        bad = false;
        text = Lang::tr(result.wasRestore ? "已恢复快照，设置与分组布局已重新加载。"
                        : op == Create    ? "已创建备份快照。"
                                          : "已导出备份文件。");
        if (result.wasRestore)
            text += Lang::tr(kKeptLocalText);
    } else {
        const QString why = result.message.isEmpty() ? Lang::tr("操作失败，请稍后重试。")
                            : result.messageForUser  ? result.message
                                                     : Lang::tr(result.message);
        text = Lang::tr("「%1」失败：%2").arg(name, why);
    }
    if (failed)
        *failed = bad;
    return text;
}

BackupJobs::Result BackupJobs::execute(const Job& job)
{
    Result r;
    const std::atomic<bool>* cancel = job.cancel.get();
    QString error;
    bool cancelled = false;
    switch (job.op) {
    case Create: {
        const QString path =
            BackupEngine::createSnapshot(job.backupDir, job.dataDir, &error, false, stepProgress(job, 0, 100, false),
                                         cancel, &cancelled, &r.warnings);
        if (!path.isEmpty())
            BackupEngine::purgeOld(job.backupDir, job.keep);
        r.ok = !path.isEmpty();
        r.message = error;
        r.cancelled = cancelled;
        return r;
    }
    case Restore: {
        r.wasRestore = true;
        // A file that is no restorable snapshot is refused before anything is written: no safety snapshot is
        // made for it (each one would count against the snapshots kept), and the user is told what is wrong.
        if (!BackupEngine::checkRestorable(job.first, job.dataDir, &error, cancel, &cancelled)) {
            r.message = error;
            r.cancelled = cancelled;
            r.messageForUser = !cancelled;
            return r;
        }
        const QString path = BackupEngine::createSnapshot(
            job.backupDir, job.dataDir, &error, true, stepProgress(job, 0, 45, true), cancel, &cancelled, &r.warnings);
        if (cancelled) {
            r.message = error;
            r.cancelled = true;
            return r;
        }
        if (path.isEmpty()) {
            r.message = error.isEmpty() ? Lang::tr("还原前快照创建失败，已中止还原") : error;
            return r;
        }
        r.ok = BackupEngine::restoreSnapshot(job.first, job.dataDir, &error, stepProgress(job, 45, 100, true), cancel,
                                             &cancelled);
        if (r.ok && !job.localSettings.isEmpty() && !BackupEngine::keepSettingsMembers(job.dataDir, job.localSettings))
            qWarning() << "[backup] restore: this computer's backup and recording folders could not be kept";
        // Pruning only now, and never the snapshot just restored: the pre-restore snapshot may have pushed
        // the chosen one, the oldest, over the limit.
        BackupEngine::purgeOld(job.backupDir, job.keep, job.first);
        if (r.ok)
            r.layout = std::make_shared<const ConfigStore::LayoutRead>(
                ConfigStore::readLayoutFile(ConfigStore::layoutFileIn(job.dataDir)));
        r.message = error;
        r.cancelled = cancelled;
        return r;
    }
    case Export:
        r.ok = BackupEngine::exportSnapshot(job.first, job.second, &error);
        r.message = error;
        return r;
    default:
        r.message = job.unknownText;
        return r;
    }
}
