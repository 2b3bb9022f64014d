#include "support/supportpoller.h"

#include <QTimer>

SupportPoller::SupportPoller(QObject* parent) : QObject(parent), m_unreadTimer(new QTimer(this))
{
    m_unreadTimer->setObjectName(QStringLiteral("supportUnreadTimer"));
    m_unreadTimer->setInterval(kUnreadIntervalMs);
    m_unreadTimer->setTimerType(Qt::CoarseTimer);
    connect(m_unreadTimer, &QTimer::timeout, this, &SupportPoller::pollUnread);
}

void SupportPoller::startUnreadPolling()
{
    if (m_unreadTimer->isActive())
        return;
    m_unreadTimer->start();
    pollUnread();
}

void SupportPoller::startNotices()
{
    if (m_noticeTimer)
        return;
    m_noticeTimer = new QTimer(this);
    m_noticeTimer->setObjectName(QStringLiteral("noticeTimer"));
    m_noticeTimer->setInterval(kNoticeIntervalMs);
    m_noticeTimer->setTimerType(Qt::CoarseTimer);
    connect(m_noticeTimer, &QTimer::timeout, this, &SupportPoller::fetchLatestNotice);
    m_noticeTimer->start();
    QTimer::singleShot(kFirstNoticeDelayMs, this, [this] { fetchLatestNotice(); });
}

void SupportPoller::pollUnread()
{
}

void SupportPoller::fetchLatestNotice()
{
}

void SupportPoller::stop()
{
    m_unreadTimer->stop();
    if (m_noticeTimer)
        m_noticeTimer->stop();
}
