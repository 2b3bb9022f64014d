// The main window's online side: the session (login, logout, loss), the support chat with its unread badge and
// the server notices. The logic lives in SessionController and SupportPoller; this wires them to the widgets.

#include "mainwindow/mainwindow.h"

#include "account/sessioncontroller.h"
#include "lock/lockcontroller.h"
#include "mainwindow/windowfiles.h"
#include "market/appmarketdialog.h"
#include "panel/bottombar.h"
#include "panel/titlebaractions.h"
#include "support/supportchatdialog.h"
#include "support/supportpoller.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QNetworkAccessManager>

void MainWindow::connectOnline()
{
    m_session->setNetworkManager(m_network);
    m_support->setNetworkManager(m_network);
    connect(m_session, &SessionController::toastRequested, this, &MainWindow::showToast);
    connect(m_session, &SessionController::saveFailed, m_files, &WindowFiles::reportSaveFailure);
    connect(m_session, &SessionController::sessionLost, this, &MainWindow::onSessionLost);
    // Whatever works with the account follows its token: the market downloads with it, the chat talks as its
    // user, the pollers ask for its counts (usage reports read it when they are sent).
    connect(m_session, &SessionController::tokenChanged, this, [this](const QString& token, const QString& user) {
        m_support->setToken(token);
        if (m_appMarket)
            m_appMarket->setToken(token);
        if (m_supportChat)
            m_supportChat->setSession(token, user);
    });
    // After a sign-out the next user must not see the previous one's conversation.
    connect(m_session, &SessionController::signedOut, this, [this] {
        if (m_supportChat)
            m_supportChat->clearSession();
        m_support->setUnreadCount(0);
    });
    // The account may lift the program's protection; the lock decides from the reply.
    connect(m_session, &SessionController::lockSyncReplied, m_lock, &LockController::applyLockSyncReply);
    connect(m_support, &SupportPoller::unreadCountChanged, this, [this](int count) {
        if (m_bottomBar)
            m_bottomBar->setBadgeCount(count);
    });
    connect(m_support, &SupportPoller::loginRequested, this, &MainWindow::loginFromChat);
}

SupportChatDialog* MainWindow::supportChat() const
{
    return m_supportChat;
}

void MainWindow::loadAuth()
{
    m_session->load();
}

bool MainWindow::showLoginDialog()
{
    return m_session->showLoginDialog();
}

void MainWindow::loginFromMarket()
{
    // The new token reaches the market through the session's tokenChanged.
    if (showLoginDialog() && m_appMarket)
        m_appMarket->update();
}

void MainWindow::loginFromChat()
{
    if (!showLoginDialog())
        return;
    if (m_supportChat) {
        m_supportChat->setSession(m_session->token(), m_session->userName());
        m_supportChat->reloadAfterLogin();
    }
    pollSupportUnread();
}

void MainWindow::checkTokenAlive()
{
    m_session->checkTokenAlive();
}

void MainWindow::onAuthLost(const QString& reason)
{
    m_session->onAuthLost(reason);
}

// The session ended; the token was already taken from the market, the chat and the pollers.
void MainWindow::onSessionLost()
{
}

void MainWindow::pollSupportUnread()
{
    m_support->pollUnread();
}

void MainWindow::fetchLatestNotice()
{
    m_support->fetchLatestNotice();
}

void MainWindow::openSupportChat()
{
    if (!ktr::serviceConfigured()) {
        showToast(ktr::noServiceText(), Toast::Info);
        return;
    }
    if (!m_supportChat) {
        m_supportChat = new SupportChatDialog(this);
        m_supportChat->setNetworkManager(m_network);
        m_support->setChat(m_supportChat);
    }
    if (!m_session->signedIn()) {
        if (!showLoginDialog())
            return;
        pollSupportUnread();
    }
    m_supportChat->setSession(m_session->token(), m_session->userName());
    m_supportChat->openAt(mapToGlobal(QPoint(width() - 440, height() - 378)));
    m_support->setUnreadCount(0);
    m_bottomBar->setBadgeCount(0);
}

void MainWindow::onGearMenuAction(int action)
{
    if (m_lock->blocks())
        return;
    switch (action) {
    case GearMenuPopup::SignIn:
        if (!m_session->signedIn())
            showLoginDialog();
        break;
    case GearMenuPopup::OpenSettings:
        openSettings();
        break;
    case GearMenuPopup::Website:
        ktr::openServicePage(this, QString()); // the home page: the host address as it is
        break;
    case GearMenuPopup::CheckUpdate:
        checkForUpdates(m_settings.updateChannel == 1, true);
        break;
    case GearMenuPopup::SignOut:
        if (m_session->signOut())
            showToast(Lang::tr("退出成功"), Toast::Info);
        else
            showToast(Lang::tr("尚未登录账户"), Toast::Error);
        break;
    default:
        break;
    }
}
