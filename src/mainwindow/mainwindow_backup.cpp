#include "mainwindow/mainwindow.h"

#include "backup/backupscheduler.h"
#include "settings/settingsdialog.h"

#include <QFileInfo>

// The automatic backup works on the live record and the data folder of "layout.json"; at quit it leaves
// what is left of the budget to the settings dialog's own backup, restore or export.
BackupScheduler::Host MainWindow::backupHost()
{
    BackupScheduler::Host host;
    host.settings = &m_settings;
    host.dataDir = [this] { return QFileInfo(layoutPath()).absolutePath(); };
    host.saveSettings = [this] { return saveSettings(); };
    host.cancelDialogWorker = [this](int restMs) {
        if (m_settingsDialog)
            m_settingsDialog->cancelBackupWorker(restMs);
    };
    return host;
}

// The automatic backup has no window of its own: its first failure in a row is told on the panel, and an
// open backup page shows the new last-success time at once.
void MainWindow::connectBackupOutcomes()
{
    connect(m_backups, &BackupScheduler::failed, this, [this](const QString& reason, const QString& folder) {
        showToast(BackupScheduler::failureText(reason, folder), Toast::Error);
    });
    connect(m_backups, &BackupScheduler::runFinished, this, [this] {
        if (m_settingsDialog)
            m_settingsDialog->update();
    });
}
