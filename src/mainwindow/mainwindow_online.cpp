// The main window's online side: WindowOnline holds the session, the support chat, the notices and the market
// window; this hands it the window's services and dispatches the gear menu.

#include "mainwindow/mainwindow.h"

#include "account/sessioncontroller.h"
#include "lock/lockcontroller.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/programmaintenance.h"
#include "mainwindow/windowfiles.h"
#include "mainwindow/windowonline.h"
#include "market/appmarketdialog.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

void MainWindow::buildOnline()
{
    WindowOnline::Host host;
    host.window = this;
    host.model = &m_model;
    host.toast = [this](const QString& text, Toast::Kind kind) { showToast(text, kind); };
    host.reportSaveFailure = [this](const QString& path, const QString& message) {
        m_files->reportSaveFailure(path, message);
    };
    host.locked = [this] { return m_lock->isLocked(); };
    host.setBadgeCount = [this](int count) {
        if (m_bottomBar)
            m_bottomBar->setBadgeCount(count);
    };
    host.showAdded = [this](int group, const QString& path) {
        saveLayout();
        m_model.setCurrentGroup(group);
        if (m_grid) {
            m_grid->resetScroll();
            m_grid->update();
        }
        if (m_sidebar)
            m_sidebar->update();
        m_icons->ensure(path);
    };
    host.repaint = [this] { repaintPanels(); };
    m_online = new WindowOnline(std::move(host), this);
}

SessionController* MainWindow::session() const
{
    return m_online->session();
}

SupportPoller* MainWindow::supportPoller() const
{
    return m_online->supportPoller();
}

void MainWindow::onGearMenuAction(int action)
{
    if (m_lock->blocks())
        return;
    switch (action) {
    case GearMenuPopup::SignIn:
        if (!session()->signedIn())
            session()->showLoginDialog();
        break;
    case GearMenuPopup::OpenSettings:
        openSettings();
        break;
    case GearMenuPopup::Website:
        ktr::openServicePage(this, QString()); // the home page: the host address as it is
        break;
    case GearMenuPopup::CheckUpdate:
        m_maintenance->checkForUpdates(m_settings.updateChannel == 1, true);
        break;
    case GearMenuPopup::SignOut:
        if (session()->signOut())
            showToast(Lang::tr("退出成功"), Toast::Info);
        else
            showToast(Lang::tr("尚未登录账户"), Toast::Error);
        break;
    default:
        break;
    }
}
