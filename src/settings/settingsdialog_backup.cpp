// The backup worker of the settings dialog: one create, restore or export at a time on the global pool,
// the progress card over the dialog, and the outcome on the GUI thread.
#include "settings/settingsdialog.h"

#include "backup/backupengine.h"
#include "backup/futurewait.h"
#include "settings/backupformat.h"
#include "settings/backupprogressdialog.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/msgdialog.h"

#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

// Said after every restore: what the snapshot did not bring back.
constexpr const char* kKeptLocalText = "本机的备份目录、上次备份时间与录屏目录已保留，未被快照中的设置替换。";

SettingsDialog::BackupExecutor& executorSlot()
{
    static SettingsDialog::BackupExecutor executor;
    return executor;
}

// Translated at every start, so a language switched while the dialog is open shows too.
QString operationLabel(int op)
{
    static const char* const labels[4] = {"", "正在创建备份快照…", "正在还原快照…", "正在导出备份…"};
    const int i = std::clamp(op, 0, 3);
    return i == 0 ? QString() : Lang::tr(labels[i]);
}

// The engine's progress, mapped into lo..hi, reaches the card on the GUI thread (when both still exist).
BackupEngine::Progress progressInto(QPointer<BackupProgressDialog> card, int lo, int hi, bool ranged)
{
    return [card, lo, hi, ranged](int percent, const QString& text) {
        if (card.isNull() || !qApp)
            return;
        const int shown = ranged ? rangedProgress(lo, hi, percent) : percent;
        QMetaObject::invokeMethod(
            qApp,
            [card, shown, text] {
                if (card)
                    card->setProgress(shown, text);
            },
            Qt::QueuedConnection);
    };
}

} // namespace

SettingsDialog::BackupExecutor SettingsDialog::setBackupExecutor(BackupExecutor executor)
{
    BackupExecutor previous = std::move(executorSlot());
    executorSlot() = std::move(executor);
    return previous;
}

bool SettingsDialog::backupWorkerRunning() const
{
    return m_backupBusy;
}

QString SettingsDialog::closedDialogOutcome(const BackupResult& result, int op, bool* failed)
{
    const QString name = Lang::tr(result.wasRestore ? "还原" : op == 1 ? "立即备份" : "导出备份");
    bool bad = true;
    QString text;
    if (result.cancelled) {
        text = Lang::tr("设置窗口已关闭，「%1」已取消。").arg(name);
    } else if (result.ok) {
        bad = false;
        text = Lang::tr(result.wasRestore ? "已恢复快照，设置与分组布局已重新加载。"
                        : op == 1         ? "已创建备份快照。"
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

void SettingsDialog::runBackupOp(int op, const QString& first, const QString& second)
{
    if (m_backupBusy) {
        // Say so instead of dropping the request, and bring back a progress card closed with Escape.
        qInfo().noquote() << "backup operation" << op << "refused: operation" << m_backupOp << "still running";
        showInfoCard(Lang::tr("备份与恢复"), Lang::tr("已有备份、还原或导出正在进行，请等它完成后再试。"), {});
        if (m_progressCard && m_backupBusy) {
            m_progressCard->show();
            m_progressCard->raise();
        }
        return;
    }
    m_backupBusy = true;
    m_backupOp = op;
    BackupJob job;
    job.op = op;
    job.dataDir = m_dataDir;
    job.backupDir = effectiveBackupDir();
    m_backupRunDir = job.backupDir;
    job.first = first;
    job.second = second;
    job.keep = m_edited.backupRetain;
    m_backupCancel = std::make_shared<std::atomic<bool>>(false);
    m_backupCancelRaw = m_backupCancel.get();
    job.cancel = m_backupCancel;
    job.unknownText = Lang::tr("未知操作");
    if (op == 2) {
        // The folder whose snapshots the page lists (also one chosen but not yet confirmed with OK), and the
        // live record's last backup and recording folder: this computer's, not the snapshot's.
        job.localSettings.insert(QStringLiteral("backupDir"), m_edited.backupDir);
        job.localSettings.insert(QStringLiteral("backupLastAt"), m_main ? m_main->backupLastAt : m_edited.backupLastAt);
        job.localSettings.insert(QStringLiteral("monitorDir"), m_main ? m_main->monitorDir : m_edited.monitorDir);
    }

    if (m_progressCard) {
        m_progressCard->deleteLater();
        m_progressCard = nullptr;
    }
    std::shared_ptr<std::atomic<bool>> flag = m_backupCancel;
    m_progressCard = new BackupProgressDialog(this, operationLabel(op), [flag] { flag->store(true); });
    m_progressCard->show();
    update();
    job.card = m_progressCard;

    if (m_backupWatcher)
        m_backupWatcher->deleteLater();
    // No parent: when the dialog goes first, the completion of a restore still reloads the main window.
    auto* watcher = new QFutureWatcher<BackupResult>();
    m_backupWatcher = watcher;
    SettingsDialog* raw = this;
    QPointer<SettingsDialog> alive(this);
    const std::function<void()> restored = m_onSnapshotRestored;
    const std::function<void(const QString&, bool)> outcome = m_onBackupOutcome;
    connect(watcher, &QFutureWatcherBase::finished, watcher, [raw, alive, watcher, restored, outcome, op] {
        const BackupResult result = watcher->future().result();
        if (alive && raw->m_backupWatcher == watcher)
            raw->m_backupWatcher = nullptr;
        watcher->deleteLater();
        if (alive) {
            raw->onBackupFinished(result);
            return;
        }
        if (result.wasRestore && result.ok && restored) {
            // The dialog was closed during the restore: the restored files are on disk, so the main window
            // must take them up instead of later saving its old state over them.
            restored();
        }
        // Nobody is left to show the outcome card: the panel says how it ended.
        bool failed = false;
        const QString text = closedDialogOutcome(result, op, &failed);
        qInfo().noquote() << "backup operation" << op << "ended after its dialog closed:"
                          << (result.cancelled ? "cancelled"
                              : result.ok      ? "ok"
                                               : "failed")
                          << result.message;
        if (outcome)
            outcome(text, failed);
    });
    const BackupExecutor executor = executorSlot() ? executorSlot() : BackupExecutor(&SettingsDialog::executeBackupOp);
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [executor, job] { return executor(job); }));
}

SettingsDialog::BackupResult SettingsDialog::executeBackupOp(const BackupJob& job)
{
    BackupResult r;
    const std::atomic<bool>* cancel = job.cancel.get();
    QString error;
    bool cancelled = false;
    switch (job.op) {
    case 1: {
        const QString path =
            BackupEngine::createSnapshot(job.backupDir, job.dataDir, error, false,
                                         progressInto(job.card, 0, 100, false), cancel, &cancelled, &r.warnings);
        if (!path.isEmpty())
            BackupEngine::purgeOld(job.backupDir, job.keep);
        r.ok = !path.isEmpty();
        r.message = error;
        r.cancelled = cancelled;
        return r;
    }
    case 2: {
        r.wasRestore = true;
        // A file that is no restorable snapshot is refused before anything is written: no safety snapshot is
        // made for it (each one would count against the snapshots kept), and the user is told what is wrong.
        if (!BackupEngine::checkRestorable(job.first, job.dataDir, error, cancel, &cancelled)) {
            r.message = error;
            r.cancelled = cancelled;
            r.messageForUser = !cancelled;
            return r;
        }
        const QString path =
            BackupEngine::createSnapshot(job.backupDir, job.dataDir, error, true, progressInto(job.card, 0, 45, true),
                                         cancel, &cancelled, &r.warnings);
        if (cancelled) {
            r.message = error;
            r.cancelled = true;
            return r;
        }
        if (path.isEmpty()) {
            r.message = error.isEmpty() ? Lang::tr("还原前快照创建失败，已中止还原") : error;
            return r;
        }
        r.ok = BackupEngine::restoreSnapshot(job.first, job.dataDir, error, progressInto(job.card, 45, 100, true),
                                             cancel, &cancelled);
        if (r.ok && !job.localSettings.isEmpty() && !BackupEngine::keepSettingsMembers(job.dataDir, job.localSettings))
            qWarning() << "[backup] restore: this computer's backup and recording folders could not be kept";
        // Pruning only now, and never the snapshot just restored: the pre-restore snapshot may have pushed
        // the chosen one, the oldest, over the limit.
        BackupEngine::purgeOld(job.backupDir, job.keep, job.first);
        r.message = error;
        r.cancelled = cancelled;
        return r;
    }
    case 3:
        r.ok = BackupEngine::exportSnapshot(job.first, job.second, error);
        r.message = error;
        return r;
    default:
        r.message = job.unknownText;
        return r;
    }
}

void SettingsDialog::onBackupFinished(const BackupResult& result)
{
    m_backupBusy = false;
    if (m_progressCard) {
        m_progressCard->hide();
        m_progressCard->deleteLater();
        m_progressCard = nullptr;
    }
    m_backupCancel.reset();
    m_backupCancelRaw = nullptr;

    backupSummaryText(true);
    relayout();
    update();

    if (result.wasRestore && result.ok) {
        if (m_onSnapshotRestored)
            m_onSnapshotRestored();
        // The copy takes the restored record, so OK can't write the old values back.
        if (m_main)
            setEditedSettings(*m_main);
        else
            reloadEditorsFromCopy();
    }
    const QString title = Lang::tr("备份与恢复");
    if (result.cancelled) {
        showInfoCard(title, Lang::tr("已取消。"), {});
    } else if (result.ok) {
        const char* text = result.wasRestore ? "已恢复快照，设置与分组布局已重新加载。"
                           : m_backupOp == 1 ? "已创建备份快照。"
                                             : "已导出备份文件。";
        QString shown = Lang::tr(text);
        if (result.wasRestore)
            shown += Lang::tr(kKeptLocalText);
        // A file left out is named here, or the user would believe the snapshot holds it.
        if (!result.warnings.isEmpty())
            shown += QLatin1Char('\n') + result.warnings.join(QLatin1Char('\n'));
        showInfoCard(title, shown, {});
    } else {
        const QString text = result.messageForUser ? result.message
                                                   : backupFailureText(result.wasRestore ? 2 : m_backupOp,
                                                                       result.message, m_backupRunDir);
        MsgDialog card(this, MsgDialog::Warning, title, text, {Lang::tr("确定")}, 0);
        execCard(card);
    }
}

void SettingsDialog::cancelBackupWorker(int budgetMs)
{
    if (m_backupCancel)
        m_backupCancel->store(true);
    if (!m_backupWatcher)
        return;
    if (!ktr::waitFinished(m_backupWatcher->future(), budgetMs))
        qWarning("settings backup worker still running on exit; cancel requested");
}
