// The main window's side of the interface lock and the obfuscation protection: WindowLock makes the lock
// controller and follows its signals; this hands it the window's services.

#include "mainwindow/mainwindow.h"

#include "mainwindow/borderframe.h"
#include "mainwindow/windowlock.h"
#include "mainwindow/windowonline.h"
#include "mainwindow/windowsearch.h"
#include "panel/bottombar.h"
#include "panel/titlebaractions.h"
#include "settings/settingsdialog.h"

void MainWindow::buildLock()
{
    WindowLock::Host host;
    host.window = this;
    host.settings = &m_settings;
    host.saveSettings = [this] { saveSettings(); };
    host.setButtonActive = [this](int button, bool active) {
        if (!m_titleBar || !m_bottomBar)
            return;
        m_titleBar->setButtonActive(button, active);
        m_bottomBar->setButtonActive(button, active);
    };
    host.setMarketLocked = [this](bool locked) { m_online->setMarketLocked(locked); };
    host.followSettingsDialog = [this] { m_settingsBridge->followPanel(); };
    host.closeSettingsDialog = [this] {
        if (SettingsDialog* dialog = m_settingsBridge->dialog())
            dialog->close();
    };
    host.hideSearch = [this] {
        if (m_search)
            m_search->hide();
    };
    host.setDividerY = [this](int y) {
        if (m_borderFrame)
            m_borderFrame->setDividerY(y);
    };
    host.toast = [this](const QString& text, Toast::Kind kind) { showToast(text, kind); };
    m_lock = (new WindowLock(std::move(host), this))->controller();
}
