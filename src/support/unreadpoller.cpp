#include "support/unreadpoller.h"

#include "account/deviceid.h"
#include "ui/jsonutil.h"
#include "ui/servicehost.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QWidget>

UnreadPoller::UnreadPoller(QObject* parent) : QObject(parent)
{
    m_timer.setParent(this); // found by name among its owner's children; a member, so it goes first
    m_timer.setObjectName(QStringLiteral("supportUnreadTimer"));
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &UnreadPoller::onTick);
}

void UnreadPoller::setNetworkManager(QNetworkAccessManager* manager)
{
    m_manager = manager;
}

bool UnreadPoller::chatVisible() const
{
    return m_chat && m_chat->isVisible();
}

void UnreadPoller::setToken(const QString& token)
{
    const bool had = !m_token.isEmpty();
    m_token = token;
    if (token.isEmpty()) {
        if (had)
            stopTimerAndReply();
        return;
    }
    if (m_wanted && !m_timer.isActive() && ktr::serviceConfigured()) {
        m_timer.start();
        poll();
    }
}

bool UnreadPoller::startIfStopped()
{
    m_wanted = true;
    if (m_timer.isActive() || m_token.isEmpty() || !ktr::serviceConfigured())
        return false;
    m_timer.start();
    poll();
    return true;
}

void UnreadPoller::stop()
{
    m_wanted = false;
    stopTimerAndReply();
}

void UnreadPoller::stopTimerAndReply()
{
    m_timer.stop();
    if (QNetworkReply* old = m_pending.data()) {
        m_pending.clear();
        old->abort();
    }
}

void UnreadPoller::onTick()
{
    if (chatVisible() || m_pending)
        return; // a slow reply is never doubled
    poll();
}

void UnreadPoller::setCount(int count)
{
    if (count == m_count)
        return;
    m_count = count;
    emit countChanged(count);
}

void UnreadPoller::poll()
{
    if (chatVisible() || m_token.isEmpty() || !ktr::serviceConfigured())
        return;
    // The newest question wins: an older reply still on its way could carry an older count.
    if (QNetworkReply* old = m_pending.data()) {
        m_pending.clear();
        old->abort();
    }
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    QNetworkRequest req(ktr::serviceUrl(QStringLiteral("/api/support.php"), QStringLiteral("action=unread")));
    req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json; charset=utf-8"));
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(kTimeoutMs);
    const QJsonObject body{{"token", m_token}, {"device", deviceId()}, {"as_user", 1}};
    QNetworkReply* reply = m_manager->post(req, QJsonDocument(body).toJson(QJsonDocument::Compact));
    m_pending = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (m_pending != reply)
            return; // replaced by a newer poll
        m_pending.clear();
        QJsonObject o;
        if (!parseReplyObject(reply, o) || o.value(QStringLiteral("ok")).toInt() != 1)
            return;
        if (chatVisible())
            return; // the open chat shows and reads the messages itself
        setCount(o.value(QStringLiteral("unread")).toInt(0));
    });
}
