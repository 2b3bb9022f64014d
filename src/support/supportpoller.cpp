#include "support/supportpoller.h"

#include "support/noticedialog.h"
#include "support/noticeservice.h"
#include "support/supportchatdialog.h"
#include "support/unreadpoller.h"

SupportPoller::SupportPoller(QWidget* window, QObject* parent)
    : QObject(parent), m_unread(new UnreadPoller(this)), m_notices(new NoticeService(window, this))
{
    connect(m_unread, &UnreadPoller::countChanged, this, &SupportPoller::unreadCountChanged);
}

SupportPoller::~SupportPoller() = default;

void SupportPoller::setNetworkManager(QNetworkAccessManager* manager)
{
    m_unread->setNetworkManager(manager);
    m_notices->setNetworkManager(manager);
}

void SupportPoller::setToken(const QString& token)
{
    m_unread->setToken(token);
    m_notices->setToken(token);
}

void SupportPoller::setChat(SupportChatDialog* chat)
{
    if (m_chat == chat)
        return;
    if (m_chat)
        m_chat->disconnect(this);
    m_chat = chat;
    m_unread->setChat(chat);
    if (!chat)
        return;
    connect(chat, &SupportChatDialog::unreadChanged, m_unread, &UnreadPoller::setCount);
    connect(chat, &SupportChatDialog::chatHidden, this, &SupportPoller::pollUnread);
    connect(chat, &SupportChatDialog::loginRequested, this, &SupportPoller::loginRequested);
}

void SupportPoller::startUnreadPolling()
{
    m_unread->startIfStopped();
}

void SupportPoller::pollUnread()
{
    m_unread->poll();
}

void SupportPoller::setUnreadCount(int count)
{
    m_unread->setCount(count);
}

void SupportPoller::startNotices()
{
    m_notices->start();
}

void SupportPoller::fetchLatestNotice()
{
    m_notices->fetchLatestNotice();
}

void SupportPoller::stop()
{
    m_notices->firstTimer()->stop();
    m_notices->stop();
}

void SupportPoller::resume()
{
    m_notices->resume();
}

void SupportPoller::shutdown()
{
    m_unread->stop();
    stop();
}
