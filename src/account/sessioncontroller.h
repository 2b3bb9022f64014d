#pragma once

#include "account/authmanager.h"

#include <QObject>
#include <QString>

class QTimer;

// The main window's side of the online account: the saved session ("auth.json"), the token check at start,
// the token heartbeat and signing out. It owns its timer and state and reports through signals; the window
// passes the token on to whoever needs it (market, chat, usage reports).
class SessionController : public QObject
{
    Q_OBJECT
public:
    static constexpr int kStartupStepDelayMs = 2500;

    explicit SessionController(QObject* parent = nullptr);

    const QString& token() const { return m_token; }
    const QString& userName() const { return m_userName; }
    bool signedIn() const { return !m_token.isEmpty(); }

    // Reads the saved session; a missing or damaged file leaves the account signed out.
    void load();
    // Checks a saved token, else tries the remembered login.
    void start();
    // Starts the heartbeat (once) and, a little later, the first account step of the session.
    void startHeartbeat();
    void checkTokenAlive();
    // Drops the token after the service refused it (re-entrant calls are ignored).
    void onAuthLost(const QString& reason);
    // Signs out; false when nobody was signed in.
    bool signOut();
    void stop();

    // The token heartbeat in seconds: KTR_TOKEN_HEARTBEAT_SEC, 60 when unset, not a number or below 1.
    static int heartbeatSeconds();

signals:
    // The service no longer accepts the session: whatever runs with its token ends.
    void sessionLost(const QString& reason);

private:
    void tryAutoLogin();
    void syncLockState();
    void startupAccountStep();

    AuthManager m_auth;
    QTimer* m_heartbeatTimer = nullptr;
    QString m_token;
    QString m_userName;
    QString m_savedPassword;
    QString m_reportedToken;
    bool m_rememberLogin = false;
    bool m_autoLogin = false;
    bool m_authLostRunning = false;
};
