// The main window's side of the self-update, the uninstall and the factory reset: ProgramMaintenance does
// them; this hands it the window's services.
#include "mainwindow/mainwindow.h"

#include "mainwindow/programmaintenance.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowonline.h"
#include "market/updatechecker.h"
#include "settings/settingsdialog.h"
#include "support/supportpoller.h"

void MainWindow::buildMaintenance()
{
    ProgramMaintenance::Host host;
    host.window = this;
    host.network = m_online->network();
    host.toast = [this](const QString& text, Toast::Kind kind) { showToast(text, kind); };
    host.stopAll = [this] { abortNetwork(); };
    host.closeForQuit = [this] {
        m_tray->requestQuit();
        close();
    };
    host.questionParent = [this]() -> QWidget* {
        SettingsDialog* dialog = m_settingsBridge->dialog();
        if (dialog && dialog->isVisible())
            return dialog;
        return this;
    };
    m_maintenance = new ProgramMaintenance(std::move(host), this);
    // The notice poll pauses while the installer downloads and goes on after a failed download.
    connect(m_maintenance->updates(), &UpdateChecker::downloadStarted, supportPoller(), &SupportPoller::stop);
    connect(m_maintenance->updates(), &UpdateChecker::downloadFailed, supportPoller(), &SupportPoller::resume);
}
