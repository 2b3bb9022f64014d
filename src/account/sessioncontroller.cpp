#include "account/sessioncontroller.h"

#include "account/authstore.h"
#include "account/kickconfirmdialog.h"
#include "account/logindialog.h"
#include "account/marketapps.h"
#include "account/sessionkickeddialog.h"
#include "ui/background.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/namedtimer.h"
#include "ui/servicehost.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QWidget>

namespace {

QString authPath()
{
    return appDataDir() + QStringLiteral("/auth.json");
}

// Only the service saying the session is gone ends it. A transport failure, an HTTP error status, a page or
// a reply of the wrong shape says nothing about the session: a service in maintenance must not end the user's
// running apps and their unsaved work.
bool endsSession(const AuthManager::Result& r)
{
    return !r.ok && r.code == QLatin1String("NOT_LOGIN");
}

} // namespace

SessionController::SessionController(QWidget* window, QObject* parent) : QObject(parent), m_window(window)
{
    m_loginRunner = [](LoginDialog& dialog) { return dialog.exec(); };
    m_kickRunner = [](KickConfirmDialog& dialog) { return dialog.exec(); };
    m_terminator = [] {
        QStringList names;
        terminateMarketApps(&names);
        return names;
    };
}

SessionController::~SessionController() = default;

SessionKickedDialog* SessionController::kickedDialog() const
{
    return m_kicked;
}

int SessionController::heartbeatSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("KTR_TOKEN_HEARTBEAT_SEC", &ok);
    return ok && seconds >= 1 ? seconds : 60;
}

void SessionController::setNetworkManager(QNetworkAccessManager* manager)
{
    m_network = manager;
    m_auth.setNetworkManager(manager);
}

void SessionController::setToken(const QString& token)
{
    if (token == m_token)
        return;
    m_token = token;
    m_undecidedBeats = 0;
    m_undecidedNoticeShown = false;
    emit tokenChanged(m_token, m_userName);
}

void SessionController::load()
{
    const StoredSession stored = loadAuthFile(authPath());
    m_userName = stored.username;
    m_savedPassword = stored.remember ? stored.password : QString();
    m_rememberLogin = stored.remember;
    m_autoLogin = stored.autologin;
    m_token = stored.token;
    emit tokenChanged(m_token, m_userName);
}

bool SessionController::save()
{
    StoredSession session;
    session.token = m_token;
    session.username = m_userName;
    session.password = m_rememberLogin ? m_savedPassword : QString();
    session.remember = m_rememberLogin;
    session.autologin = m_autoLogin;
    QString message;
    QString error;
    if (saveAuthFile(authPath(), session, &message, &error))
        return true;
    qWarning().noquote() << "saveAuth: auth.json not written:" << error;
    emit saveFailed(authPath(), Lang::tr(message));
    return false;
}

void SessionController::start()
{
    // Without a service a stored session is kept as it is, unchecked: there is nobody to ask.
    if (!ktr::serviceConfigured()) {
        qInfo().noquote() << "[servicehost] no service host configured (KTR_SERVICE_HOST unset): online features off";
        return;
    }
    if (m_token.isEmpty()) {
        tryAutoLogin();
        return;
    }
    // The check may answer late: a session made in between (a login) must not be ended by the old token's
    // refusal.
    const QString sent = m_token;
    QPointer<SessionController> self(this);
    m_auth.fetchMe(sent, [self, sent](const AuthManager::Result& r) {
        if (!self || sent != self->m_token)
            return;
        if (!endsSession(r)) {
            self->noteUndecidedAnswer(r, "token check at start");
            return;
        }
        self->onAuthLost(r.msg);
    });
}

void SessionController::tryAutoLogin()
{
    if (!m_token.isEmpty() || !m_autoLogin || !m_rememberLogin || m_userName.isEmpty() || m_savedPassword.isEmpty())
        return;
    QPointer<SessionController> self(this);
    m_auth.request(QStringLiteral("login"), m_userName, m_savedPassword, QString(),
                   [self](const AuthManager::Result& r) {
                       if (self)
                           self->onAutoLoginReply(r);
                   });
}

void SessionController::onAutoLoginReply(const AuthManager::Result& r)
{
    // A login through the dialog meanwhile keeps its own session.
    if (r.ok && !m_token.isEmpty())
        return;
    if (r.ok && !r.token.isEmpty()) {
        if (!r.username.isEmpty())
            m_userName = r.username;
        setToken(r.token);
        emit toastRequested(Lang::tr("已自动登录：%1").arg(m_userName), Toast::Info);
        save();
        return;
    }
    if (r.ok && r.needConfirm) {
        // Not a session: the device quota is full. The remembered name, password and toggles stay, so the
        // next start tries again; the user may sign the other computers out now.
        qWarning().noquote() << "auto login: device quota full (maxDevices =" << r.maxDevices
                             << "), confirmation asked";
        emit toastRequested(Lang::tr("自动登录失败，请重新登录"), Toast::Error);
        // Out of the reply's handler: the confirmation runs its own event loop.
        QPointer<SessionController> self(this);
        QTimer::singleShot(0, this, [self, r] {
            if (self)
                self->confirmAutoLogin(r);
        });
        return;
    }
    if (!r.ok && !m_userName.isEmpty()) {
        qWarning().noquote() << "auto login failed:" << (r.code.isEmpty() ? QStringLiteral("-") : r.code) << r.msg;
        emit toastRequested(Lang::tr("自动登录失败，请重新登录"), Toast::Error);
    } else if (r.ok) {
        qWarning().noquote() << "auto login: reply without a token ignored";
        emit toastRequested(Lang::tr("自动登录失败，请重新登录"), Toast::Error);
    }
}

void SessionController::confirmAutoLogin(const AuthManager::Result& r)
{
    if (m_kickAsking || !m_token.isEmpty() || m_loginDialog)
        return;
    m_kickAsking = true;
    QPointer<KickConfirmDialog> dialog = new KickConfirmDialog(r.willKick, r.maxDevices, m_window);
    const int answer = m_kickRunner(*dialog);
    delete dialog.data();
    m_kickAsking = false;
    if (answer != QDialog::Accepted || !m_token.isEmpty()) {
        qInfo().noquote() << "auto login: device confirmation declined";
        return;
    }
    QPointer<SessionController> self(this);
    m_auth.request(
        QStringLiteral("login"), m_userName, m_savedPassword, QString(),
        [self](const AuthManager::Result& again) {
            if (!self)
                return;
            if (again.ok && again.token.isEmpty()) {
                // Asked to confirm once more: no second dialog in a row.
                emit self->toastRequested(Lang::tr("自动登录失败，请重新登录"), Toast::Error);
                return;
            }
            self->onAutoLoginReply(again);
        },
        QString(), QString(), false, true);
}

void SessionController::startHeartbeat()
{
    if (m_heartbeatTimer || !ktr::serviceConfigured())
        return;
    const int seconds = heartbeatSeconds();
    m_heartbeatTimer = ktr::makeNamedTimer(this, "heartbeatTimer", seconds * 1000);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &SessionController::checkTokenAlive);
    // Signed out there is no token to check: the timer runs while there is one, so an idle signed-out panel
    // is not woken every minute for nothing.
    m_heartbeatWanted = true;
    connect(this, &SessionController::tokenChanged, this, &SessionController::followTokenWithHeartbeat);
    followTokenWithHeartbeat();
    m_startupTimer = ktr::makeNamedTimer(this, "sessionStartupTimer", kStartupStepDelayMs, true);
    connect(m_startupTimer, &QTimer::timeout, this, &SessionController::startupAccountStep);
    m_startupTimer->start();
    qInfo().noquote() << "token heartbeat started, interval(s) =" << seconds;
}

void SessionController::followTokenWithHeartbeat()
{
    if (!m_heartbeatTimer)
        return;
    if (!m_heartbeatWanted || m_token.isEmpty())
        m_heartbeatTimer->stop();
    else if (!m_heartbeatTimer->isActive())
        m_heartbeatTimer->start();
}

void SessionController::stop()
{
    m_heartbeatWanted = false;
    if (m_heartbeatTimer)
        m_heartbeatTimer->stop();
    if (m_startupTimer)
        m_startupTimer->stop();
}

void SessionController::checkTokenAlive()
{
    if (m_token.isEmpty() || !ktr::serviceConfigured())
        return;
    syncLockState();
    const QString sent = m_token;
    QPointer<SessionController> self(this);
    m_auth.fetchMe(sent, [self, sent](const AuthManager::Result& r) {
        if (!self || sent != self->m_token)
            return;
        if (!endsSession(r)) {
            self->noteUndecidedAnswer(r, "token heartbeat");
            return;
        }
        qInfo().noquote() << "token heartbeat: session invalid ->" << r.msg;
        self->onAuthLost(r.msg);
    });
}

void SessionController::noteUndecidedAnswer(const AuthManager::Result& r, const char* what)
{
    if (r.ok) {
        m_undecidedBeats = 0;
        m_undecidedNoticeShown = false;
        return;
    }
    qWarning().noquote() << what << "undecided, session kept: code =" << (r.code.isEmpty() ? "(none)" : r.code)
                         << "msg =" << r.msg;
    // An unreachable network is the user's own to see; a service that keeps answering wrongly is told once,
    // so the user knows the panel can't confirm the sign-in while it goes on.
    if (r.code == QLatin1String("NETWORK"))
        return;
    if (++m_undecidedBeats < kUndecidedAnswersBeforeNotice || m_undecidedNoticeShown)
        return;
    m_undecidedNoticeShown = true;
    emit toastRequested(Lang::tr("账户服务暂时无法确认登录状态（%1），已保留登录，稍后自动重试").arg(r.msg),
                        Toast::Error);
}

void SessionController::syncLockState()
{
    if (m_token.isEmpty() || m_lockSyncReply || !ktr::serviceConfigured())
        return;
    if (!m_network) {
        if (!m_ownNetwork)
            m_ownNetwork = new QNetworkAccessManager(this);
        m_network = m_ownNetwork;
    }
    QNetworkRequest req(ktr::serviceUrl(QStringLiteral("/api/uc.php"), QStringLiteral("action=lock_sync")));
    req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json; charset=utf-8"));
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(kLockSyncTimeoutMs);
    const QJsonObject body{{QStringLiteral("token"), m_token}};
    QNetworkReply* reply = m_network->post(req, QJsonDocument(body).toJson(QJsonDocument::Compact));
    m_lockSyncReply = reply; // an aborted reply (shutdown) clears it when it is deleted
    QPointer<SessionController> self(this);
    connect(reply, &QNetworkReply::finished, this, [self, reply] {
        reply->deleteLater();
        if (!self)
            return;
        self->m_lockSyncReply.clear();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
        emit self->lockSyncReplied(ok, ok ? reply->readAll() : QByteArray());
    });
}

void SessionController::reportHostOnce()
{
    if (m_token.isEmpty() || m_token == m_reportedToken || !ktr::serviceConfigured())
        return;
    m_reportedToken = m_token;
    m_auth.reportHost(m_token);
}

void SessionController::startupAccountStep()
{
    syncLockState();
    reportHostOnce();
}

bool SessionController::showLoginDialog()
{
    // No service: no dialog whose login or registration could go nowhere; the user is told why.
    if (!ktr::serviceConfigured()) {
        emit toastRequested(ktr::noServiceText(), Toast::Info);
        return false;
    }
    if (m_loginDialog) {
        // Several requests in a row (refused downloads, the chat, the menu) share the one dialog: this one
        // waits for its outcome instead of stacking a second modal dialog on it.
        m_loginDialog->raise();
        m_loginDialog->activateWindow();
        QEventLoop wait;
        connect(this, &SessionController::loginAttemptEnded, &wait, &QEventLoop::quit);
        connect(m_loginDialog.data(), &QObject::destroyed, &wait, &QEventLoop::quit);
        wait.exec();
        return m_loginAccepted && signedIn();
    }
    QPointer<LoginDialog> dialog = new LoginDialog(m_window);
    if (m_network)
        dialog->auth().setNetworkManager(m_network);
    dialog->setCredentials(m_userName, m_savedPassword, m_rememberLogin);
    m_loginDialog = dialog;
    m_loginTaken = false;
    m_loginAccepted = false;
    // Taken as soon as the dialog closes, so requests waiting for it see the session stored.
    connect(dialog.data(), &QDialog::finished, this, [this, dialog](int result) {
        if (dialog && dialog == m_loginDialog)
            finishLogin(dialog, result);
    });
    const int result = m_loginRunner(*dialog);
    if (!dialog) {
        m_loginDialog.clear();
        emit loginAttemptEnded(false);
        return false; // taken down with its parent
    }
    const bool accepted = finishLogin(dialog, result);
    m_loginDialog.clear();
    delete dialog.data();
    return accepted;
}

bool SessionController::finishLogin(LoginDialog* dialog, int result)
{
    if (m_loginTaken)
        return m_loginAccepted;
    m_loginTaken = true;
    const bool accepted = result == QDialog::Accepted && !dialog->token().isEmpty();
    m_loginAccepted = accepted;
    if (accepted) {
        const QString token = dialog->token();
        m_userName = dialog->username();
        m_rememberLogin = dialog->remember();
        m_autoLogin = dialog->autoLogin();
        m_savedPassword = m_rememberLogin ? dialog->password() : QString();
        if (m_kicked) {
            m_kicked->close(); // deleted later: a loss right after this login opens a new notice
            m_kicked = nullptr;
        }
        m_token.clear(); // the user name changed too: always tell
        setToken(token);
        emit toastRequested(Lang::tr("欢迎你，%1").arg(m_userName), Toast::Info);
        // After the welcome, so that a failed write is the notice left on screen.
        save();
        syncLockState();
        reportHostOnce();
    }
    emit loginAttemptEnded(accepted);
    return accepted;
}

bool SessionController::signOut()
{
    if (m_token.isEmpty())
        return false;
    const QString sent = m_token;
    m_autoLogin = false;
    if (!m_rememberLogin) {
        m_userName.clear();
        m_savedPassword.clear();
    }
    m_token.clear();
    save();
    m_auth.request(QStringLiteral("logout"), QString(), QString(), sent, [](const AuthManager::Result&) {});
    emit tokenChanged(m_token, m_userName);
    emit signedOut();
    return true;
}

void SessionController::onAuthLost(const QString& reason)
{
    if (m_authLostRunning)
        return;
    m_authLostRunning = true;
    QElapsedTimer elapsed;
    elapsed.start();
    const bool hadToken = !m_token.isEmpty();
    setToken(QString());
    emit sessionLost(reason);
    if (hadToken) {
        save();
        qWarning().noquote() << "auth lost:" << (reason.isEmpty() ? QStringLiteral("token invalid") : reason);
    }
    // A notice the user closed is only deleted later: it no longer counts as open.
    if (hadToken && !(m_kicked && m_kicked->isVisible())) {
        m_kicked = SessionKickedDialog::showKicked(reason, {}, m_window);
        m_kicked->setPending(true);
        qInfo().noquote() << "auth lost timing: showKicked done @" << elapsed.elapsed() << "ms";
        const int run = ++m_terminateRuns;
        m_terminateRun = run;
        runInBackground(this, m_terminator, [this, run](const QStringList& names) {
            if (m_terminateRun == run)
                m_terminateRun = 0;
            if (!names.isEmpty())
                qInfo().noquote() << "auth lost: terminated market app(s):" << names.join(QStringLiteral(", "));
            if (m_kicked) {
                m_kicked->setPending(false);
                m_kicked->setKilledApps(names);
            }
        });
    }
    m_authLostRunning = false;
}
