#include "account/sessioncontroller.h"

#include "ui/datadir.h"
#include "ui/jsonutil.h"
#include "ui/namedtimer.h"
#include "ui/savefile.h"

#include <QDebug>
#include <QJsonObject>
#include <QTimer>

SessionController::SessionController(QObject* parent) : QObject(parent)
{
}

int SessionController::heartbeatSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("KTR_TOKEN_HEARTBEAT_SEC", &ok);
    return ok && seconds >= 1 ? seconds : 60;
}

void SessionController::load()
{
    m_token.clear();
    m_userName.clear();
    m_savedPassword.clear();
    QByteArray data;
    if (ktr::readFileCapped(appDataDir() + QStringLiteral("/auth.json"), 1024 * 1024, &data) != ktr::ReadStatus::Ok)
        return;
    QJsonObject object;
    if (!parseJsonObject(data, object)) {
        qInfo().noquote() << "loadAuth: bad JSON, ignored";
        return;
    }
    // The stored token and password are protected per user; reading them comes with the account service.
    m_userName = object.value(QStringLiteral("username")).toString();
    m_rememberLogin = object.value(QStringLiteral("remember")).toBool();
    m_autoLogin = object.value(QStringLiteral("autologin")).toBool();
}

void SessionController::start()
{
    if (m_token.isEmpty()) {
        tryAutoLogin();
        return;
    }
    m_auth.fetchMe(m_token, [this](const AuthManager::Result& r) {
        if (!r.ok && r.code != QLatin1String("NETWORK"))
            onAuthLost(r.code);
    });
}

void SessionController::startHeartbeat()
{
    if (m_heartbeatTimer)
        return;
    const int seconds = heartbeatSeconds();
    m_heartbeatTimer = ktr::makeNamedTimer(this, "heartbeatTimer", seconds * 1000);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &SessionController::checkTokenAlive);
    m_heartbeatTimer->start();
    QTimer::singleShot(kStartupStepDelayMs, this, [this] { startupAccountStep(); });
    qInfo().noquote() << "token heartbeat started, interval(s) =" << seconds;
}

void SessionController::stop()
{
    if (m_heartbeatTimer)
        m_heartbeatTimer->stop();
}

void SessionController::tryAutoLogin()
{
    // Logging in needs the account service; until it exists there is nothing to try.
}

void SessionController::onAuthLost(const QString& reason)
{
    if (m_authLostRunning)
        return;
    m_authLostRunning = true;
    const bool hadToken = !m_token.isEmpty();
    m_token.clear();
    emit sessionLost(reason);
    if (hadToken)
        qWarning().noquote() << "auth lost:" << reason;
    m_authLostRunning = false;
}

bool SessionController::signOut()
{
    if (m_token.isEmpty())
        return false;
    m_token.clear();
    m_autoLogin = false;
    if (!m_rememberLogin) {
        m_userName.clear();
        m_savedPassword.clear();
    }
    return true;
}

void SessionController::checkTokenAlive()
{
    if (m_token.isEmpty())
        return;
    syncLockState();
    const QString sent = m_token;
    m_auth.fetchMe(sent, [this, sent](const AuthManager::Result& r) {
        if (r.ok || r.code == QLatin1String("NETWORK") || sent != m_token)
            return;
        qInfo().noquote() << "token heartbeat: session invalid ->" << r.code;
        onAuthLost(r.code);
    });
}

void SessionController::syncLockState()
{
    // The account unlock comes with the account service.
}

void SessionController::startupAccountStep()
{
    syncLockState();
    if (!m_token.isEmpty() && m_token != m_reportedToken) {
        m_reportedToken = m_token;
        m_auth.reportHost(m_token);
    }
}
