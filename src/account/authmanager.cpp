#include "account/authmanager.h"

#include "account/deviceid.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <climits>

namespace {

constexpr int kAuthTimeoutMs = 15000;
constexpr int kReportHostTimeoutMs = 10000;

const QString kJsonType = QStringLiteral("application/json; charset=utf-8");

// Flags of the protocol are the number 1; a JSON true is not accepted.
bool isOne(const QJsonValue& v)
{
    return v.isDouble() && v.toDouble() == 1.0;
}

int statusOf(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QUrl authUrl(const QString& action)
{
    return ktr::serviceUrl(QStringLiteral("/api/auth.php"), QStringLiteral("action=") + action);
}

} // namespace

AuthManager::AuthManager(QObject* parent) : QObject(parent)
{
}

AuthManager::~AuthManager()
{
    if (!m_owned)
        return;
    if (m_owned->inFlight == 0)
        delete m_owned->manager;
    else
        m_owned->orphaned = true;
}

void AuthManager::setNetworkManager(QNetworkAccessManager* manager)
{
    m_manager = manager;
}

QNetworkAccessManager* AuthManager::manager()
{
    if (!m_manager) {
        m_owned = std::make_shared<Owned>();
        m_owned->manager = new QNetworkAccessManager;
        m_manager = m_owned->manager;
    }
    return m_manager;
}

void AuthManager::watch(QNetworkReply* reply, std::function<void(QNetworkReply*)> deliver)
{
    std::shared_ptr<Owned> owned = (m_owned && reply->manager() == m_owned->manager) ? m_owned : nullptr;
    if (owned)
        ++owned->inFlight;
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, self = QPointer<AuthManager>(this), deliver = std::move(deliver), owned] {
                         if (self && deliver)
                             deliver(reply);
                         reply->deleteLater();
                         if (owned && --owned->inFlight == 0 && owned->orphaned)
                             owned->manager->deleteLater();
                     });
}

void AuthManager::fetchCaptcha(const CaptchaCallback& callback)
{
    if (!ktr::serviceConfigured()) {
        QTimer::singleShot(0, this, [callback] {
            if (callback)
                callback(false, QString(), QString(), ktr::noServiceText());
        });
        return;
    }
    QNetworkRequest req(authUrl(QStringLiteral("captcha")));
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(kAuthTimeoutMs);
    QNetworkReply* reply = manager()->get(req);
    watch(reply, [callback](QNetworkReply* r) {
        const int status = statusOf(r);
        const bool transportError = r->error() != QNetworkReply::NoError;
        if (transportError || status < 200 || status > 299) {
            qWarning().noquote() << "captcha rejected: http =" << status
                                 << "transportError =" << (transportError ? "true" : "false");
            if (callback)
                callback(false, QString(), QString(), networkErrorText(r));
            return;
        }
        QJsonObject o;
        if (!parseJsonObject(r->readAll(), o)) {
            if (callback)
                callback(false, QString(), QString(), Lang::tr("服务端返回格式异常，请稍后重试"));
            return;
        }
        const bool ok = isOne(o.value(QStringLiteral("ok")));
        if (callback)
            callback(ok, o.value(QStringLiteral("id")).toString(), o.value(QStringLiteral("q")).toString(),
                     ok ? QString() : o.value(QStringLiteral("msg")).toString());
    });
}

void AuthManager::request(const QString& action, const QString& username, const QString& password, const QString& token,
                          const Callback& callback, const QString& captchaId, const QString& captchaCode, bool agree,
                          bool confirm)
{
    QJsonObject body{{QStringLiteral("username"), username},
                     {QStringLiteral("password"), password},
                     {QStringLiteral("token"), token}};
    if (agree)
        body.insert(QStringLiteral("agree"), 1);
    if (!captchaId.isEmpty())
        body.insert(QStringLiteral("captcha_id"), captchaId);
    if (!captchaCode.isEmpty())
        body.insert(QStringLiteral("captcha_code"), captchaCode);
    body.insert(QStringLiteral("device"), deviceId());
    body.insert(QStringLiteral("device_name"), deviceDisplayName());
    body.insert(QStringLiteral("precheck"), 1);
    if (confirm)
        body.insert(QStringLiteral("confirm"), 1);
    postJson(authUrl(action), QJsonDocument(body).toJson(QJsonDocument::Compact), callback);
}

void AuthManager::fetchMe(const QString& token, const Callback& callback)
{
    const QJsonObject body{{QStringLiteral("token"), token}};
    postJson(authUrl(QStringLiteral("me")), QJsonDocument(body).toJson(QJsonDocument::Compact), callback);
}

void AuthManager::reportHost(const QString& token)
{
    if (token.isEmpty() || !ktr::serviceConfigured())
        return;
    const QJsonObject body{{QStringLiteral("token"), token}, {QStringLiteral("host"), deviceDisplayName()}};
    QNetworkRequest req(ktr::serviceUrl(QStringLiteral("/api/uc.php"), QStringLiteral("action=report_host")));
    req.setHeader(QNetworkRequest::ContentTypeHeader, kJsonType);
    req.setTransferTimeout(kReportHostTimeoutMs);
    watch(manager()->post(req, QJsonDocument(body).toJson(QJsonDocument::Compact)), nullptr);
}

void AuthManager::postJson(const QUrl& url, const QByteArray& body, const Callback& callback)
{
    if (url.isEmpty()) {
        // No service configured: nothing is sent (no name, no password, no device), and the caller hears so
        // as it hears any outcome, on a later turn of the event loop.
        QTimer::singleShot(0, this, [callback] {
            Result r;
            r.code = QStringLiteral("NO_SERVICE");
            r.msg = ktr::noServiceText();
            if (callback)
                callback(r);
        });
        return;
    }
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, kJsonType);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(kAuthTimeoutMs);
    watch(manager()->post(req, body), [callback](QNetworkReply* r) {
        const Result result = handleReply(r);
        if (callback)
            callback(result);
    });
}

AuthManager::Result AuthManager::handleReply(QNetworkReply* reply)
{
    Result r;
    const int status = statusOf(reply);
    const bool transportError = reply->error() != QNetworkReply::NoError;

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll(), &parseError);
    const bool badFormat = parseError.error != QJsonParseError::NoError || !doc.isObject();
    const QJsonObject o = badFormat ? QJsonObject() : doc.object();
    const QString code = o.value(QStringLiteral("code")).toString();
    const QString msg = o.value(QStringLiteral("msg")).toString();

    const auto logRejected = [&] {
        qWarning().noquote() << "auth response rejected: http =" << status
                             << "transportError =" << (transportError ? "true" : "false");
    };
    if (status == 401 || code == QLatin1String("NOT_LOGIN")) {
        r.code = QStringLiteral("NOT_LOGIN");
        r.msg = msg.isEmpty() ? Lang::tr("登录已失效，请重新登录") : msg;
        return r;
    }
    if (transportError || status < 200 || status > 299) {
        r.code = (transportError && status == 0) ? QStringLiteral("NETWORK") : QStringLiteral("SERVER");
        r.msg = msg.isEmpty() ? networkErrorText(reply) : msg;
        logRejected();
        return r;
    }
    if (badFormat) {
        qWarning().noquote() << "auth response JSON parse failed:"
                             << (parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                              : QStringLiteral("not an object"));
        r.code = QStringLiteral("SERVER");
        r.msg = Lang::tr("服务端返回格式异常，请稍后重试");
        return r;
    }
    r.ok = isOne(o.value(QStringLiteral("ok")));
    r.msg = msg;
    r.token = o.value(QStringLiteral("token")).toString();
    r.username = o.value(QStringLiteral("username")).toString();
    r.needConfirm = isOne(o.value(QStringLiteral("needConfirm")));
    if (o.contains(QStringLiteral("maxDevices"))) {
        const QJsonValue v = o.value(QStringLiteral("maxDevices"));
        const double d = v.toDouble();
        r.maxDevices = (v.isDouble() && d == double(qint64(d)) && d >= INT_MIN && d <= INT_MAX) ? int(d) : 0;
    }
    if (r.needConfirm) {
        const QJsonArray list = o.value(QStringLiteral("willKick")).toArray();
        for (const QJsonValue& v : list) {
            const QJsonObject e = v.toObject();
            KickDevice d;
            d.name = e.value(QStringLiteral("name")).toString().trimmed();
            if (d.name.isEmpty())
                d.name = Lang::tr("另一台电脑");
            d.ip = e.value(QStringLiteral("ip")).toString().trimmed();
            d.lastSeen = e.value(QStringLiteral("lastSeen")).toString().trimmed();
            r.willKick.append(d);
        }
        if (r.willKick.isEmpty())
            r.willKick.append(KickDevice{Lang::tr("另一台电脑"), QString(), QString()});
    }
    if (!r.ok) {
        r.code = code;
        if (r.msg.isEmpty())
            r.msg = Lang::tr("服务器返回异常（HTTP %1），请稍后重试").arg(status);
    }
    return r;
}

QString AuthManager::networkErrorText(QNetworkReply* reply)
{
    // Qt ends a request whose transfer time-out ran out as cancelled; nothing here cancels its own
    // requests, so for the user that is the time-out it was.
    const QNetworkReply::NetworkError error =
        reply->error() == QNetworkReply::OperationCanceledError ? QNetworkReply::TimeoutError : reply->error();
    return networkErrorText(error, statusOf(reply), reply->errorString());
}

QString AuthManager::networkErrorText(QNetworkReply::NetworkError error, int httpStatus, const QString& errorString)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return Lang::tr("服务器拒绝连接，请稍后重试");
    case QNetworkReply::HostNotFoundError:
        return Lang::tr("无法解析服务器域名，请检查网络连接");
    case QNetworkReply::TimeoutError:
        return Lang::tr("连接服务器超时，请稍后重试");
    case QNetworkReply::SslHandshakeFailedError:
        return Lang::tr("安全连接（HTTPS）被拦截或证书校验失败，请检查本机代理/防火墙/系统时间后重试");
    default:
        break;
    }
    if (httpStatus > 0)
        return Lang::tr("服务器返回 HTTP %1，请稍后重试").arg(httpStatus);
    return Lang::tr("网络错误：") + errorString;
}
