// What the main window hands its settings dialog, the screen recorder button and the gear menu.

#include "mainwindow/mainwindow.h"

#include "mainwindow/iconqueue.h"
#include "mainwindow/programmaintenance.h"
#include "mainwindow/windowstatecontroller.h"

#include "account/sessioncontroller.h"
#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/summonhotkey.h"
#include "market/appmarketdialog.h"
#include "model/desktopcollect.h"
#include "model/userdatatransfer.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "recorder/recorderbutton.h"
#include "settings/settingsdialog.h"
#include "support/supportchatdialog.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

#include <array>

// ---- settings dialog ------------------------------------------------------------------------------------

// What the settings dialog runs and what follows its close and the reloads of the panel's data.
SettingsBridge::Host MainWindow::settingsBridgeHost()
{
    SettingsBridge::Host host;
    host.window = this;
    host.settings = &m_settings;
    host.model = &m_model;
    host.files = m_files;
    host.locked = [this] { return m_lock->blocks(); };
    host.backupJobs = [this] { return m_backupJobs; };
    host.summonHotkey = [this] { return m_winState->summonHotkey(); };
    host.toast = [this](const QString& text, Toast::Kind kind) { showToast(text, kind); };
    host.clearIconCache = [this] { reloadAllIcons(); };
    host.preview = [this](const AppSettings& edited) { applyAppearance(edited); };
    host.checkUpdate = [this](bool beta) { m_maintenance->checkForUpdates(beta, true); };
    host.exportLogs = [this] { exportLogs(); };
    host.uninstall = [this](bool removeAll) { m_maintenance->uninstallProgram(removeAll); };
    host.iconsChanged = [this] { onIconsChanged(); };
    host.lockBackgroundChosen = [this](const QString& path) { m_lock->onLockBackgroundChosen(path); };
    host.protectCommitted = [this](const QString& hash, const QMap<QString, QString>& obfuscateMap) {
        m_lock->onProtectCommitted(hash, obfuscateMap);
    };
    host.factoryReset = [this] { m_maintenance->factoryReset(); };
    host.unregisterHotkey = [this] { m_winState->unregisterSummonHotkey(); };
    host.registerHotkey = [this] { m_winState->registerSummonHotkey(false); };
    host.applySettings = [this] { applySettings(); };
    host.setAutoStart = [this](bool on) { return m_winState->setAutoStart(on); };
    host.guardImport = [this](AppSettings& imported) { m_lock->guardImport(imported); };
    host.guardRestore = [this](const AppSettings& before) { return m_lock->guardRestore(before); };
    host.settingsReloaded = [this] { m_lock->settingsReloaded(); };
    host.refreshLockButtons = [this] { m_lock->refreshButtons(); };
    host.loadAuth = [this] { session()->load(); };
    host.refreshGridIcons = [this] { refreshGridIcons(); };
    host.repaintPanels = [this] { repaintPanels(); };
    return host;
}

void MainWindow::openSettings()
{
    m_settingsBridge->open();
}

// ---- screen recorder button -----------------------------------------------------------------------------

void MainWindow::startScreenMonitor()
{
    QString why;
    switch (m_recorder->toggle(m_settings, &why)) {
    case RecorderButton::Outcome::Stopped:
        showToast(Lang::tr("屏幕监控已停止"), Toast::Info);
        break;
    case RecorderButton::Outcome::NeedsSetup:
        showToast(Lang::tr("请先在 设置→屏幕监控 完成配置"), Toast::Info);
        openSettings();
        // The page holds the protection settings too: it asks for the password as every way to it does.
        if (SettingsDialog* dialog = m_settingsBridge->dialog())
            dialog->openProtectPage();
        break;
    case RecorderButton::Outcome::Started:
        showToast(Lang::tr("屏幕监控已启动"), Toast::Info);
        break;
    case RecorderButton::Outcome::Failed:
        // The recorder's reason is already in the user's language.
        showToast(why.isEmpty() ? Lang::tr("屏幕监控启动失败") : why, Toast::Error);
        break;
    }
}

// ---- gear menu ------------------------------------------------------------------------------------------

void MainWindow::onGearMenuAboutToShow()
{
    if (GearMenuPopup* popup = m_titleBar ? m_titleBar->gearMenu() : nullptr)
        popup->setAccountText(session()->signedIn() ? session()->userName() : QString());
}
