#include "mainwindow/mainwindow.h"

#include "backup/backupjobs.h"
#include "backup/backupscheduler.h"
#include "mainwindow/windowfiles.h"
#include "settings/settingsdialog.h"

#include <QFileInfo>

// The automatic backup works on the live record and the data folder of "layout.json"; at quit it leaves
// what is left of the budget to the backup, restore or export started in the settings dialog.
BackupScheduler::Host MainWindow::backupHost()
{
    BackupScheduler::Host host;
    host.settings = &m_settings;
    host.dataDir = [this] { return QFileInfo(m_files->store().layoutPath()).absolutePath(); };
    host.saveSettings = [this] { return saveSettings(); };
    host.cancelDialogWorker = [this](int restMs) { m_backupJobs->cancelAndWait(restMs); };
    return host;
}

// The automatic backup has no window of its own: its first failure in a row is told on the panel, and an
// open backup page shows the new last-success time at once.
void MainWindow::connectBackupOutcomes()
{
    // A restored snapshot is taken up even when its dialog was closed meanwhile, so the window never saves its
    // old settings and layout over the restored files; an operation whose dialog is gone ends on the panel.
    connect(m_backupJobs, &BackupJobs::snapshotRestored, m_settingsBridge, &SettingsBridge::reloadUserData);
    connect(m_backupJobs, &BackupJobs::outcomeForPanel, this,
            [this](const QString& text, bool failed) { showToast(text, failed ? Toast::Error : Toast::Info); });
    connect(m_backups, &BackupScheduler::failed, this, [this](const QString& reason, const QString& folder) {
        showToast(BackupScheduler::failureText(reason, folder), Toast::Error);
    });
    connect(m_backups, &BackupScheduler::runFinished, this, [this] {
        if (SettingsDialog* dialog = m_settingsBridge->dialog())
            dialog->update();
    });
}
