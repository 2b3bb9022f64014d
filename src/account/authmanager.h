#pragma once

#include "account/appstat.h" // the usage reports belong with the account client

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;

// The client of the account part of the service host: captcha, login, register, logout, the token check
// ("me") and the host report. Every request is asynchronous and its outcome arrives once, on the GUI
// thread, in the caller's callback; destroying the AuthManager silences the callbacks of its pending
// replies (they still finish and are deleted). No request is retried.
class AuthManager : public QObject
{
public:
    // One computer a confirmed login would sign out.
    struct KickDevice
    {
        QString name;
        QString ip;
        QString lastSeen;
    };
    // The outcome of one JSON request. The client makes the codes "NOT_LOGIN" (HTTP 401 or the service's
    // own), "NETWORK" (no HTTP status: the session is then kept), "SERVER" (any other failure) and
    // "NO_SERVICE" (no service host configured: nothing was sent).
    struct Result
    {
        bool ok = false;
        QString msg;
        QString token;
        QString username;
        QString code;
        bool needConfirm = false;
        int maxDevices = 1;
        QList<KickDevice> willKick;
    };
    using Callback = std::function<void(const Result&)>;
    using CaptchaCallback =
        std::function<void(bool ok, const QString& id, const QString& question, const QString& message)>;

    explicit AuthManager(QObject* parent = nullptr);
    ~AuthManager() override;

    // Uses the given manager instead of making its own (not owned; tests record requests through it).
    void setNetworkManager(QNetworkAccessManager* manager);

    // GET /api/auth.php?action=captcha.
    void fetchCaptcha(const CaptchaCallback& callback);
    // POST /api/auth.php?action=<action> ("login", "register", "logout") with the fields of the protocol;
    // "precheck" is always 1, "agree" and "confirm" are sent (as 1) only when true, the captcha keys only
    // when not empty.
    void request(const QString& action, const QString& username, const QString& password, const QString& token,
                 const Callback& callback, const QString& captchaId = QString(), const QString& captchaCode = QString(),
                 bool agree = false, bool confirm = false);
    // POST /api/auth.php?action=me with {"token"}: is the token still valid?
    void fetchMe(const QString& token, const Callback& callback);
    // POST /api/uc.php?action=report_host with {"token", "host"}; nothing for an empty token. Answer ignored.
    void reportHost(const QString& token);
    // POSTs compact JSON bytes to the URL and turns the reply into a Result for the callback.
    void postJson(const QUrl& url, const QByteArray& body, const Callback& callback);

    // The Result of a finished JSON reply (status, transport error, body), as the callbacks get it.
    static Result handleReply(QNetworkReply* reply);
    // The user's message for a failed reply (through Lang::tr).
    static QString networkErrorText(QNetworkReply* reply);
    static QString networkErrorText(QNetworkReply::NetworkError error, int httpStatus, const QString& errorString);

private:
    QNetworkAccessManager* manager();
    // Calls `deliver` when the reply finishes, unless this AuthManager is gone by then; the reply is
    // deleted either way.
    void watch(QNetworkReply* reply, std::function<void(QNetworkReply*)> deliver);

    // Our own manager lives as long as its replies: when this AuthManager goes first, the manager is
    // deleted after the last of them finished.
    struct Owned
    {
        QNetworkAccessManager* manager = nullptr;
        int inFlight = 0;
        bool orphaned = false;
    };
    QNetworkAccessManager* m_manager = nullptr;
    std::shared_ptr<Owned> m_owned;
};
