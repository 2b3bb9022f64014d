#include "support/supportpoller.h"

#include "ui/namedtimer.h"

#include <QTimer>

SupportPoller::SupportPoller(QObject* parent)
    : QObject(parent), m_unreadTimer(ktr::makeNamedTimer(this, "supportUnreadTimer", kUnreadIntervalMs))
{
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
    m_noticeTimer = ktr::makeNamedTimer(this, "noticeTimer", kNoticeIntervalMs);
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
