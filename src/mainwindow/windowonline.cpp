#include "mainwindow/windowonline.h"

#include "account/appstat.h"
#include "account/sessioncontroller.h"
#include "market/appmarketdialog.h"
#include "model/panelmodel.h"
#include "support/supportchatdialog.h"
#include "support/supportpoller.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWidget>

namespace {

// The program to add. The market hands over the launch target it resolved inside the app's folder, as its
// own launch does: a script or a program of any name, taken as it is. A folder yields its first "*.exe".
QString resolveInstalledExe(const QString& exePath)
{
    const QString path = QDir::toNativeSeparators(exePath);
    const QFileInfo info(path);
    if (info.isFile())
        return path;
    if (!info.isDir())
        return {};
    const QFileInfoList found =
        QDir(path).entryInfoList({QStringLiteral("*.exe")}, QDir::Files | QDir::Hidden, QDir::NoSort);
    for (const QFileInfo& f : found) {
        if (f.isFile())
            return QDir::toNativeSeparators(f.absoluteFilePath());
    }
    return {};
}

} // namespace

WindowOnline::WindowOnline(Host host, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_network(new QNetworkAccessManager(this)),
      m_session(new SessionController(m_host.window, this)), m_support(new SupportPoller(m_host.window, this)),
      m_reportAppStat(reportAppStat)
{
    m_session->setNetworkManager(m_network);
    m_support->setNetworkManager(m_network);
    connect(m_session, &SessionController::toastRequested, this,
            [this](const QString& text, Toast::Kind kind) { m_host.toast(text, kind); });
    connect(m_session, &SessionController::saveFailed, this,
            [this](const QString& path, const QString& message) { m_host.reportSaveFailure(path, message); });
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
    connect(m_support, &SupportPoller::unreadCountChanged, this, [this](int count) { m_host.setBadgeCount(count); });
    connect(m_support, &SupportPoller::loginRequested, this, &WindowOnline::loginFromChat);
}

SupportChatDialog* WindowOnline::supportChat() const
{
    return m_supportChat;
}

AppMarketDialog* WindowOnline::appMarket() const
{
    return m_appMarket;
}

void WindowOnline::reportLaunch(const QString& appId)
{
    if (m_reportAppStat)
        m_reportAppStat(appId, QStringLiteral("launch"), m_session->token());
}

void WindowOnline::loginFromMarket()
{
    // The new token reaches the market through the session's tokenChanged.
    if (m_session->showLoginDialog() && m_appMarket)
        m_appMarket->update();
}

void WindowOnline::loginFromChat()
{
    if (!m_session->showLoginDialog())
        return;
    if (m_supportChat) {
        m_supportChat->setSession(m_session->token(), m_session->userName());
        m_supportChat->reloadAfterLogin();
    }
    m_support->pollUnread();
}

void WindowOnline::openSupportChat()
{
    if (!ktr::serviceConfigured()) {
        m_host.toast(ktr::noServiceText(), Toast::Info);
        return;
    }
    if (!m_supportChat) {
        m_supportChat = new SupportChatDialog(m_host.window);
        m_supportChat->setNetworkManager(m_network);
        m_support->setChat(m_supportChat);
    }
    if (!m_session->signedIn()) {
        if (!m_session->showLoginDialog())
            return;
        m_support->pollUnread();
    }
    m_supportChat->setSession(m_session->token(), m_session->userName());
    QWidget* window = m_host.window;
    m_supportChat->openAt(window->mapToGlobal(QPoint(window->width() - 440, window->height() - 378)));
    m_support->setUnreadCount(0);
    m_host.setBadgeCount(0);
}

void WindowOnline::openAppMarket()
{
    // No service, no catalogue: the button says why nothing opens.
    if (!ktr::serviceConfigured()) {
        m_host.toast(ktr::noServiceText(), Toast::Info);
        return;
    }
    if (!m_appMarket) {
        m_appMarket = new AppMarketDialog(m_host.window);
        connect(m_appMarket, &AppMarketDialog::addToPanelRequested, this, &WindowOnline::onAppInstalled);
        connect(m_appMarket, &AppMarketDialog::appUninstalled, this, &WindowOnline::onAppUninstalled);
        connect(m_appMarket, &AppMarketDialog::loginRequested, this, &WindowOnline::loginFromMarket);
    }
    m_appMarket->setLocked(m_host.locked());
    m_appMarket->openAndRefresh(m_session->token());
}

void WindowOnline::setMarketLocked(bool locked)
{
    if (m_appMarket)
        m_appMarket->setLocked(locked);
}

void WindowOnline::onAppInstalled(const QString& name, const QString& exePath)
{
    if (m_host.locked()) {
        qWarning().noquote() << "market add refused: the panel is locked" << exePath;
        return;
    }
    PanelModel& model = *m_host.model;
    int index = -1;
    model.editGroups([&index](QList<Group>& groups) {
        bool changed = false;
        index = ensureMarketGroup(groups, &changed);
        return changed;
    });
    const QString exe = resolveInstalledExe(exePath);
    if (exe.isEmpty()) {
        m_host.toast(Lang::tr("未找到可执行文件，「%1」添加失败").arg(name), Toast::Info);
        return;
    }
    const Group& group = model.groups().at(index);
    for (const Item& existing : group.items) {
        if (existing.path == exe) {
            m_host.toast(Lang::tr("「%1」已安装在「应用市场」分类中").arg(name), Toast::Info);
            return;
        }
    }
    Item item;
    item.path = exe;
    item.name = name.isEmpty() ? QFileInfo(exe).completeBaseName() : name;
    model.editGroups([&](QList<Group>& groups) {
        groups[index].items.append(item);
        return true;
    });
    m_host.showAdded(index, exe);
    m_host.toast(Lang::tr("「%1」安装完成，图标已放入「应用市场」分类").arg(item.name), Toast::Info);
}

// Neither the app's own icon stays nor one collected from the desktop entry the uninstall removed.
void WindowOnline::onAppUninstalled(const QString& appId, const QString& appDir, const QString& desktopEntry)
{
    Q_UNUSED(appDir);
    if (appId.isEmpty())
        return;
    const QString entry = QDir::cleanPath(QDir::fromNativeSeparators(desktopEntry));
    const int removed = m_host.model->removeItems([&](const Item& item) {
        return appIdForPath(item.path) == appId ||
               (!entry.isEmpty() && QDir::cleanPath(QDir::fromNativeSeparators(item.path)) == entry);
    });
    if (removed > 0)
        m_host.repaint();
}

void WindowOnline::abortReplies()
{
    const QList<QNetworkReply*> replies = m_network->findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        reply->disconnect();
        reply->abort();
        reply->deleteLater();
    }
}
