// The settings dialog's side of the backups a person starts: the job handed to the backup controller, the
// progress card over the dialog, and the outcome shown while the dialog is open. The controller runs the
// operation and outlives the dialog, so closing the dialog needs nothing of its own.
#include "settings/settingsdialog.h"

#include "backup/backupjobs.h"
#include "settings/backupformat.h"
#include "settings/backupprogressdialog.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/msgdialog.h"

#include <QDebug>

#include <algorithm>

namespace {

// Translated at every start, so a language switched while the dialog is open shows too.
QString operationLabel(int op)
{
    static const char* const labels[4] = {"", "正在创建备份快照…", "正在还原快照…", "正在导出备份…"};
    const int i = std::clamp(op, 0, 3);
    return i == 0 ? QString() : Lang::tr(labels[i]);
}

} // namespace

void SettingsDialog::setBackupJobs(BackupJobs* jobs)
{
    if (m_jobs)
        disconnect(m_jobs, nullptr, this, nullptr);
    m_jobs = jobs;
    if (!jobs)
        return;
    jobs->setViewer(this);
    connect(jobs, &BackupJobs::progressed, this, [this](int percent, const QString& text) {
        if (m_progressCard)
            m_progressCard->setProgress(percent, text);
    });
    connect(jobs, &BackupJobs::finished, this, &SettingsDialog::onBackupFinished);
}

void SettingsDialog::runBackupOp(int op, const QString& first, const QString& second)
{
    if (!m_jobs) {
        qWarning() << "backup operation" << op << "refused: no backup controller";
        return;
    }
    BackupJobs::Job job;
    job.op = op;
    job.dataDir = m_dataDir;
    job.backupDir = effectiveBackupDir();
    job.first = first;
    job.second = second;
    job.keep = m_edited.backupRetain;
    job.unknownText = Lang::tr("未知操作");
    if (op == BackupJobs::Restore) {
        // The folder whose snapshots the page lists (also one chosen but not yet confirmed with OK), and the
        // live record's last backup and recording folder: this computer's, not the snapshot's.
        job.localSettings.insert(QStringLiteral("backupDir"), m_edited.backupDir);
        job.localSettings.insert(QStringLiteral("backupLastAt"), m_main ? m_main->backupLastAt : m_edited.backupLastAt);
        job.localSettings.insert(QStringLiteral("monitorDir"), m_main ? m_main->monitorDir : m_edited.monitorDir);
    }

    if (!m_jobs->start(job)) {
        // Say so instead of dropping the request, and bring back a progress card closed with Escape.
        showInfoCard(Lang::tr("备份与恢复"), Lang::tr("已有备份、还原或导出正在进行，请等它完成后再试。"), {});
        if (m_progressCard && m_jobs->running()) {
            m_progressCard->show();
            m_progressCard->raise();
        }
        return;
    }
    // The job's progress arrives through the event loop, so the card made now sees all of it.
    if (m_progressCard)
        m_progressCard->deleteLater();
    QPointer<BackupJobs> jobs(m_jobs);
    m_progressCard = new BackupProgressDialog(this, operationLabel(op), [jobs] {
        if (jobs)
            jobs->cancel();
    });
    m_progressCard->show();
    update();
}

void SettingsDialog::onBackupFinished(const BackupJobs::Result& result, int op, const QString& backupDir)
{
    if (m_progressCard) {
        m_progressCard->hide();
        m_progressCard->deleteLater();
        m_progressCard = nullptr;
    }
    backupSummaryText(true);
    relayout();
    update();

    if (result.wasRestore && result.ok) {
        // The main window has taken up the restored files; the copy takes the restored record, so OK can't
        // write the old values back.
        if (m_main)
            setEditedSettings(*m_main);
        else
            reloadEditorsFromCopy();
    }
    const QString title = Lang::tr("备份与恢复");
    if (result.cancelled) {
        showInfoCard(title, Lang::tr("已取消。"), {});
    } else if (result.ok) {
        const char* text = result.wasRestore          ? "已恢复快照，设置与分组布局已重新加载。"
                           : op == BackupJobs::Create ? "已创建备份快照。"
                                                      : "已导出备份文件。";
        QString shown = Lang::tr(text);
        if (result.wasRestore)
            shown += Lang::tr(BackupJobs::kKeptLocalText);
        // A file left out is named here, or the user would believe the snapshot holds it.
        if (!result.warnings.isEmpty())
            shown += QLatin1Char('\n') + result.warnings.join(QLatin1Char('\n'));
        showInfoCard(title, shown, {});
    } else {
        const QString text = result.messageForUser ? result.message
                                                   : backupFailureText(result.wasRestore ? BackupJobs::Restore : op,
                                                                       result.message, backupDir);
        MsgDialog card(this, MsgDialog::Warning, title, text, {Lang::tr("确定")}, 0);
        execCard(card);
    }
}
