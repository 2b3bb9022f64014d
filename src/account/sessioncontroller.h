#pragma once

#include "account/authmanager.h"
#include "ui/toast.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class KickConfirmDialog;
class LoginDialog;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QWidget;
class SessionKickedDialog;

// The main window's side of the online account: the saved session ("auth.json"), the token check at start,
// the automatic login, the token heartbeat with the lock synchronisation, the host report, the login dialog,
// signing out and the loss of the session (the market apps ended on a worker, the signed-out dialog). It owns
// its timers, replies and state and reports through signals; the window hands the token on to whoever needs it
// (market, chat, usage reports, notices).
class SessionController : public QObject
{
    Q_OBJECT
public:
    static constexpr int kStartupStepDelayMs = 2500;
    static constexpr int kLockSyncTimeoutMs = 12000;
    // Answers in a row that neither confirm nor end the session before the user is told.
    static constexpr int kUndecidedAnswersBeforeNotice = 3;

    // Runs the login dialog and returns its result code (tests replace the modal run).
    using LoginRunner = std::function<int(LoginDialog& dialog)>;
    // Runs the device confirmation of an automatic login and returns its result code (tests answer it).
    using KickRunner = std::function<int(KickConfirmDialog& dialog)>;
    // Ends the running market apps and returns the names of the programs ended; runs on a worker thread.
    using AppTerminator = std::function<QStringList()>;

    // window: the parent of the login and signed-out dialogs.
    explicit SessionController(QWidget* window, QObject* parent = nullptr);
    ~SessionController() override;

    // Not owned: the window's shared manager for the account requests and the lock synchronisation.
    void setNetworkManager(QNetworkAccessManager* manager);
    void setLoginRunner(LoginRunner runner) { m_loginRunner = std::move(runner); }
    void setKickRunner(KickRunner runner) { m_kickRunner = std::move(runner); }
    void setAppTerminator(AppTerminator terminator) { m_terminator = std::move(terminator); }

    const QString& token() const { return m_token; }
    const QString& userName() const { return m_userName; }
    bool signedIn() const { return !m_token.isEmpty(); }
    bool rememberLogin() const { return m_rememberLogin; }
    bool autoLogin() const { return m_autoLogin; }

    // Reads the saved session; a missing or damaged file leaves the account signed out.
    void load();
    // Writes the session to "auth.json"; a failure is logged and reported through saveFailed.
    bool save();
    // Checks a saved token, else tries the remembered login; nothing without a service.
    void start();
    // Starts the heartbeat (once) and arms the lock synchronisation and host report 2.5 s later; without a
    // service none of them starts.
    void startHeartbeat();
    void checkTokenAlive();
    // Posts the lock synchronisation when signed in and none is in flight; lockSyncReplied carries the answer.
    void syncLockState();
    // Reports the host name once per token.
    void reportHostOnce();
    // Runs the login dialog modally; true when the user logged in (the session is then stored). One login
    // dialog at a time: a call while one is open raises it and waits for its outcome. Without a service no
    // dialog opens: the not-configured line goes out through toastRequested and the result is false.
    bool showLoginDialog();
    bool loginDialogOpen() const { return !m_loginDialog.isNull(); }
    // Signs out (the service is told, its answer ignored); false when nobody was signed in.
    bool signOut();
    // Drops the token after the service refused it; re-entrant calls are ignored.
    void onAuthLost(const QString& reason);
    void stop();

    bool lockSyncPending() const { return !m_lockSyncReply.isNull(); }
    bool marketAppsEnding() const { return m_terminateRun != 0; }
    SessionKickedDialog* kickedDialog() const;
    QTimer* heartbeatTimer() const { return m_heartbeatTimer; }
    QTimer* startupStepTimer() const { return m_startupTimer; }
    AuthManager& auth() { return m_auth; }

    // The token heartbeat in seconds: KTR_TOKEN_HEARTBEAT_SEC, 60 when unset, not a number or below 1.
    static int heartbeatSeconds();

signals:
    // The token (and user name) changed: a login, a logout or a loss.
    void tokenChanged(const QString& token, const QString& userName);
    // The user signed out: what showed the account's data clears it.
    void signedOut();
    // The service no longer accepts the session: whatever runs with its token ends.
    void sessionLost(const QString& reason);
    // The answer of one lock synchronisation: replyOk is false for a transport or HTTP error.
    void lockSyncReplied(bool replyOk, const QByteArray& body);
    // A notice for the user (already translated).
    void toastRequested(const QString& text, Toast::Kind kind);
    // "auth.json" could not be written; message is translated.
    void saveFailed(const QString& path, const QString& message);
    // The open login dialog's outcome was taken (the session is stored when accepted).
    void loginAttemptEnded(bool accepted);

private:
    void followTokenWithHeartbeat();
    // A token check answered neither "valid" nor "gone": logged, kept, told once when it persists.
    void noteUndecidedAnswer(const AuthManager::Result& r, const char* what);
    void tryAutoLogin();
    void onAutoLoginReply(const AuthManager::Result& r);
    // The device quota is full: the user decides whether the automatic login signs other computers out.
    void confirmAutoLogin(const AuthManager::Result& r);
    bool finishLogin(LoginDialog* dialog, int result);
    void startupAccountStep();
    void setToken(const QString& token);

    QPointer<QWidget> m_window;
    AuthManager m_auth;
    QPointer<QNetworkAccessManager> m_network;
    QNetworkAccessManager* m_ownNetwork = nullptr;
    QTimer* m_heartbeatTimer = nullptr;
    bool m_heartbeatWanted = false; // started and not stopped: runs while there is a token
    QTimer* m_startupTimer = nullptr;
    QPointer<SessionKickedDialog> m_kicked;
    QPointer<QNetworkReply> m_lockSyncReply; // the lock synchronisation in flight
    int m_terminateRun = 0;                  // the market apps' ending whose outcome is awaited (0: none)
    int m_terminateRuns = 0;                 // endings started so far, so a later one is told from an earlier one
    LoginRunner m_loginRunner;
    KickRunner m_kickRunner;
    QPointer<LoginDialog> m_loginDialog; // the one open login dialog
    bool m_loginTaken = false;           // its outcome was handled
    bool m_loginAccepted = false;
    bool m_kickAsking = false; // the automatic login's device confirmation is open
    AppTerminator m_terminator;
    QString m_token;
    QString m_userName;
    QString m_savedPassword;
    QString m_reportedToken;
    bool m_rememberLogin = false;
    bool m_autoLogin = false;
    bool m_authLostRunning = false;
    int m_undecidedBeats = 0;
    bool m_undecidedNoticeShown = false;
};
