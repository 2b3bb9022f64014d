#include "account/authmanager.h"
#include "account/deviceid.h"
#include "authwait.h"
#include "fakeservicehost.h"
#include "logcapture.h"
#include "recordingnetwork.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>

#include <memory>

using Host = ktr::test::FakeServiceHost;
using Reply = ktr::test::FakeServiceHost::Reply;
using Result = AuthManager::Result;

Q_DECLARE_METATYPE(Reply)

namespace {

QJsonObject obj(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class TestAuthManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    std::unique_ptr<ktr::test::RecordingNetworkManager> m_nam;
    std::unique_ptr<AuthManager> m_auth;

    // A fresh manager per case: Qt reuses connections whatever the TLS settings of a later request.
    void freshClient()
    {
        m_auth.reset();
        m_nam = std::make_unique<ktr::test::RecordingNetworkManager>();
        m_auth = std::make_unique<AuthManager>();
        m_auth->setNetworkManager(m_nam.get());
    }

private Q_SLOTS:
    void init()
    {
        Host::setTestCaTrusted(true);
        m_host = std::make_unique<Host>(Host::Scheme::Https);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        freshClient();
    }
    void cleanup()
    {
        m_auth.reset();
        m_nam.reset();
        m_host.reset();
    }

    // What each operation sends: method, path, action, headers, JSON keys, time-out and redirect policy.
    void requests_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("redirectPolicy");
        const QStringList base{"device", "device_name", "password", "precheck", "token", "username"};
        QTest::newRow("captcha") << "captcha" << QByteArray("GET") << "/api/auth.php"
                                 << "captcha" << QStringList() << 15000 << true;
        QTest::newRow("login") << "login" << QByteArray("POST") << "/api/auth.php"
                               << "login" << base << 15000 << true;
        QStringList withCaptcha = base + QStringList{"agree", "captcha_code", "captcha_id"};
        withCaptcha.sort();
        QTest::newRow("register with captcha and agree") << "register" << QByteArray("POST") << "/api/auth.php"
                                                         << "register" << withCaptcha << 15000 << true;
        QStringList withConfirm = base + QStringList{"confirm"};
        withConfirm.sort();
        QTest::newRow("login confirmed") << "confirm" << QByteArray("POST") << "/api/auth.php"
                                         << "login" << withConfirm << 15000 << true;
        QTest::newRow("logout") << "logout" << QByteArray("POST") << "/api/auth.php"
                                << "logout" << base << 15000 << true;
        QTest::newRow("me") << "me" << QByteArray("POST") << "/api/auth.php"
                            << "me" << QStringList{"token"} << 15000 << true;
        QTest::newRow("report_host") << "report_host" << QByteArray("POST") << "/api/uc.php"
                                     << "report_host" << QStringList{"host", "token"} << 10000 << false;
    }
    void requests()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QString, action);
        QFETCH(QStringList, keys);
        QFETCH(int, timeout);
        QFETCH(bool, redirectPolicy);
        m_host->setFallback([](const Host::Request&) { return Reply::json(obj(R"({"ok":1})")); });
        QSignalSpy logged(m_host.get(), &Host::requestLogged);
        const auto ignore = [](const Result&) {};
        if (op == "captcha")
            m_auth->fetchCaptcha([](bool, const QString&, const QString&, const QString&) {});
        else if (op == "login")
            m_auth->request("login", "u", "p", "", ignore);
        else if (op == "register")
            m_auth->request("register", "u", "p", "", ignore, "cid", "7", true, false);
        else if (op == "confirm")
            m_auth->request("login", "u", "p", "", ignore, "", "", false, true);
        else if (op == "logout")
            m_auth->request("logout", "", "", "tok", ignore);
        else if (op == "me")
            m_auth->fetchMe("tok", ignore);
        else if (op == "report_host")
            m_auth->reportHost("tok");
        QVERIFY(logged.wait(5000));
        const Host::Request r = m_host->requests().value(0);
        QCOMPARE(r.method, method);
        QCOMPARE(r.path, path);
        QCOMPARE(r.action, action);
        QCOMPARE(r.query.queryItems().size(), 1);
        QCOMPARE(r.jsonKeys(), keys);
        if (method == "POST") {
            QCOMPARE(r.header("content-type"), QByteArray("application/json; charset=utf-8"));
            QVERIFY(!r.body.contains(' ')); // compact (no value here holds a space)
        } else {
            QCOMPARE(r.header("content-type"), QByteArray());
        }
        if (keys.contains("precheck")) {
            // Flags are the number 1, never true.
            QCOMPARE(r.json.value("precheck"), QJsonValue(1));
            QCOMPARE(r.json.value("device").toString(), deviceId());
            QCOMPARE(r.json.value("device_name").toString(), deviceDisplayName());
        }
        for (const char* f : {"agree", "confirm"}) {
            if (keys.contains(f))
                QCOMPARE(r.json.value(f), QJsonValue(1));
        }
        if (op == "register") {
            QCOMPARE(r.json.value("captcha_id").toString(), QStringLiteral("cid"));
            QCOMPARE(r.json.value("captcha_code").toString(), QStringLiteral("7"));
        }
        if (op == "report_host")
            QCOMPARE(r.json.value("host").toString(), deviceDisplayName());

        QCOMPARE(m_nam->sent.size(), 1);
        const QNetworkRequest sent = m_nam->sent[0].request;
        QCOMPARE(sent.transferTimeout(), timeout);
        const QVariant policy = sent.attribute(QNetworkRequest::RedirectPolicyAttribute);
        if (redirectPolicy)
            QCOMPARE(policy.toInt(), int(QNetworkRequest::NoLessSafeRedirectPolicy));
        else
            QVERIFY(!policy.isValid());
    }

    void reportHostWithoutTokenSendsNothing()
    {
        m_auth->reportHost(QString());
        QVERIFY(m_nam->sent.isEmpty());
    }

    // One table of reply -> Result: status x body x transport error.
    void replyToResult_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("target"); // "" = the host, "refused" = a closed port, "untrusted" = no CA
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("msg");
        QTest::addColumn<int>("maxDevices");
        QTest::addColumn<bool>("needConfirm");
        QTest::addColumn<QStringList>("kicks"); // "name|ip|lastSeen"
        const QStringList none;
        const QString expired = Lang::tr("登录已失效，请重新登录");
        const QString format = Lang::tr("服务端返回格式异常，请稍后重试");
        const QString other = Lang::tr("另一台电脑");
        QTest::newRow("401 with msg") << Reply::json(obj(R"({"ok":0,"msg":"踢下线了"})"), 401) << "" << false
                                      << "NOT_LOGIN"
                                      << "踢下线了" << 1 << false << none;
        QTest::newRow("401 without msg") << Reply::raw(401, "nope") << "" << false << "NOT_LOGIN" << expired << 1
                                         << false << none;
        QTest::newRow("200 code NOT_LOGIN") << Reply::json(obj(R"({"ok":0,"code":"NOT_LOGIN"})")) << "" << false
                                            << "NOT_LOGIN" << expired << 1 << false << none;
        QTest::newRow("500 code NOT_LOGIN")
            << Reply::json(obj(R"({"code":"NOT_LOGIN","msg":"m"})"), 500) << "" << false << "NOT_LOGIN"
            << "m" << 1 << false << none;
        QTest::newRow("ok true is not ok")
            << Reply::json(obj(R"({"ok":true})")) << "" << false << ""
            << Lang::tr("服务器返回异常（HTTP %1），请稍后重试").arg(200) << 1 << false << none;
        QTest::newRow("ok string 1 is not ok") << Reply::json(obj(R"({"ok":"1","msg":"x"})")) << "" << false << ""
                                               << "x" << 1 << false << none;
        QTest::newRow("refused with the service's code")
            << Reply::json(obj(R"({"ok":0,"code":"BAD_LOGIN","msg":"用户名或密码错误"})")) << "" << false << "BAD_LOGIN"
            << "用户名或密码错误" << 1 << false << none;
        QTest::newRow("200 not JSON") << Reply::raw(200, "<html>") << "" << false << "SERVER" << format << 1 << false
                                      << none;
        QTest::newRow("200 JSON array") << Reply::raw(200, "[1]", "application/json") << "" << false << "SERVER"
                                        << format << 1 << false << none;
        QTest::newRow("201 is a success")
            << Reply::json(obj(R"({"ok":1,"token":"t","username":"u"})"), 201) << "" << true << ""
            << "" << 1 << false << none;
        QTest::newRow("500 with msg") << Reply::json(obj(R"({"ok":0,"msg":"维护中"})"), 500) << "" << false << "SERVER"
                                      << "维护中" << 1 << false << none;
        QTest::newRow("503 without body") << Reply::raw(503, "") << "" << false << "SERVER"
                                          << Lang::tr("服务器返回 HTTP %1，请稍后重试").arg(503) << 1 << false << none;
        QTest::newRow("302 elsewhere is not followed to http") <<
            [] {
                Reply r = Reply::raw(302, "");
                r.addHeader("Location", "http://127.0.0.1:9/api/auth.php?action=me");
                return r;
            }() << "" << false << "SERVER" << Lang::tr("服务器返回 HTTP %1，请稍后重试").arg(302)
                                                               << 1 << false << none;
        QTest::newRow("ok without maxDevices")
            << Reply::json(obj(R"({"ok":1,"token":"t","username":"u"})")) << "" << true << ""
            << "" << 1 << false << none;
        QTest::newRow("maxDevices 3") << Reply::json(obj(R"({"ok":1,"maxDevices":3})")) << "" << true << ""
                                      << "" << 3 << false << none;
        QTest::newRow("maxDevices as a string") << Reply::json(obj(R"({"ok":1,"maxDevices":"3"})")) << "" << true << ""
                                                << "" << 0 << false << none;
        QTest::newRow("maxDevices 2.5") << Reply::json(obj(R"({"ok":1,"maxDevices":2.5})")) << "" << true << ""
                                        << "" << 0 << false << none;
        QTest::newRow("maxDevices null") << Reply::json(obj(R"({"ok":1,"maxDevices":null})")) << "" << true << ""
                                         << "" << 0 << false << none;
        QTest::newRow("needConfirm with empty willKick")
            << Reply::json(obj(R"({"ok":0,"needConfirm":1,"willKick":[]})")) << "" << false << ""
            << Lang::tr("服务器返回异常（HTTP %1），请稍后重试").arg(200) << 1 << true << QStringList{other + "||"};
        QTest::newRow("willKick entries in order, trimmed, non-objects defaulted")
            << Reply::json(obj(
                   R"({"ok":1,"needConfirm":1,"maxDevices":2,"willKick":[{"name":" 书房 ","ip":" 10.0.0.2 ","lastSeen":" 2026-12-01 08:00 "},7,{"name":"","ip":"1.1.1.1"}]})"))
            << "" << true << ""
            << "" << 2 << true << QStringList{"书房|10.0.0.2|2026-12-01 08:00", other + "||", other + "|1.1.1.1|"};
        QTest::newRow("needConfirm true is not a confirmation")
            << Reply::json(obj(R"({"ok":1,"needConfirm":true,"willKick":[{"name":"x"}]})")) << "" << true << ""
            << "" << 1 << false << none;
        QTest::newRow("willKick ignored without needConfirm")
            << Reply::json(obj(R"({"ok":1,"willKick":[{"name":"x"}]})")) << "" << true << ""
            << "" << 1 << false << none;
        QTest::newRow("dropped before a byte") << Reply::dropped() << "" << false << "NETWORK"
                                               << "*" << 1 << false << none;
        QTest::newRow("half-sent body") << Reply::halfBody(R"({"ok":1,"token":"abcdef"})") << "" << false << "SERVER"
                                        << Lang::tr("服务器返回 HTTP %1，请稍后重试").arg(200) << 1 << false << none;
        QTest::newRow("lying Content-Length")
            << Reply::lyingLength(R"({"ok":1})", 400) << "" << false << "SERVER"
            << Lang::tr("服务器返回 HTTP %1，请稍后重试").arg(200) << 1 << false << none;
        // Headers came, so there is a status: a failure of the service, not an undecided network.
        QTest::newRow("stalled until the time-out") << Reply::stalled("{\"ok\":1}", 3) << "timeout" << false << "SERVER"
                                                    << Lang::tr("连接服务器超时，请稍后重试") << 1 << false << none;
        QTest::newRow("no answer until the time-out") <<
            [] {
                Reply r = Reply::json(QJsonObject{{"ok", 1}});
                r.delayMs = 5000;
                return r;
            }() << "timeout" << false << "NETWORK" << Lang::tr("连接服务器超时，请稍后重试")
                                                      << 1 << false << none;
        QTest::newRow("connection refused") << Reply() << "refused" << false << "NETWORK"
                                            << Lang::tr("服务器拒绝连接，请稍后重试") << 1 << false << none;
        QTest::newRow("untrusted certificate")
            << Reply::json(obj(R"({"ok":1})")) << "untrusted" << false << "NETWORK"
            << Lang::tr("安全连接（HTTPS）被拦截或证书校验失败，请检查本机代理/防火墙/系统时间后重试") << 1 << false
            << none;
    }
    void replyToResult()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, target);
        QFETCH(bool, ok);
        QFETCH(QString, code);
        QFETCH(QString, msg);
        QFETCH(int, maxDevices);
        QFETCH(bool, needConfirm);
        QFETCH(QStringList, kicks);
        m_host->route("POST", "/api/auth.php", "me", reply);
        if (target == "refused") {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const quint16 port = closed.serverPort();
            closed.close();
            qputenv("KTR_SERVICE_HOST", QByteArray("https://127.0.0.1:") + QByteArray::number(port));
        } else if (target == "timeout") {
            m_nam->shortenTimeoutsTo = 200;
        } else if (target == "untrusted") {
            Host::setTestCaTrusted(false);
            freshClient();
        }
        ktr::test::LogCapture log;
        const Result r = ktr::test::awaitResult([&](auto cb) { m_auth->fetchMe("tok", cb); });
        QCOMPARE(r.ok, ok);
        QCOMPARE(r.code, code);
        if (msg == "*")
            QVERIFY(r.msg.startsWith(Lang::tr("网络错误：")));
        else
            QCOMPARE(r.msg, msg);
        QCOMPARE(r.maxDevices, maxDevices);
        QCOMPARE(r.needConfirm, needConfirm);
        QStringList got;
        for (const auto& k : r.willKick)
            got << k.name + "|" + k.ip + "|" + k.lastSeen;
        QCOMPARE(got, kicks);
        if (code == "NETWORK" || code == "SERVER") {
            const bool format = r.msg == Lang::tr("服务端返回格式异常，请稍后重试");
            QCOMPARE(log.contains(format ? "auth response JSON parse failed:" : "auth response rejected: http ="),
                     true);
        }
        if (ok && reply.body.startsWith("{\"ok\":1,\"token\"")) {
            QCOMPARE(r.token, QStringLiteral("t"));
            QCOMPARE(r.username, QStringLiteral("u"));
        }
    }

    void captchaReplies_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("message");
        QTest::newRow("ok") << Reply::json(obj(R"({"ok":1,"id":"c1","q":"3 + 4 = ?","msg":"ignored"})")) << true << "c1"
                            << "3 + 4 = ?"
                            << "";
        QTest::newRow("ok true") << Reply::json(obj(R"({"ok":true,"id":"c1","q":"q","msg":"m"})")) << false << "c1"
                                 << "q"
                                 << "m";
        QTest::newRow("refused") << Reply::json(obj(R"({"ok":0,"msg":"太频繁"})")) << false << ""
                                 << ""
                                 << "太频繁";
        QTest::newRow("not JSON") << Reply::raw(200, "oops") << false << ""
                                  << "" << Lang::tr("服务端返回格式异常，请稍后重试");
        QTest::newRow("HTTP 500") << Reply::json(obj(R"({"ok":1,"id":"c1","q":"q"})"), 500) << false << ""
                                  << "" << Lang::tr("服务器返回 HTTP %1，请稍后重试").arg(500);
    }
    void captchaReplies()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, ok);
        QFETCH(QString, id);
        QFETCH(QString, question);
        QFETCH(QString, message);
        m_host->route("GET", "/api/auth.php", "captcha", reply);
        const ktr::test::Captcha c = ktr::test::awaitCaptcha(*m_auth);
        QCOMPARE(c.ok, ok);
        QCOMPARE(c.id, id);
        QCOMPARE(c.question, question);
        QCOMPARE(c.message, message);
    }

    void networkErrorTexts_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("refused") << int(QNetworkReply::ConnectionRefusedError) << 0
                                 << Lang::tr("服务器拒绝连接，请稍后重试");
        QTest::newRow("host not found") << int(QNetworkReply::HostNotFoundError) << 0
                                        << Lang::tr("无法解析服务器域名，请检查网络连接");
        QTest::newRow("time-out") << int(QNetworkReply::TimeoutError) << 0 << Lang::tr("连接服务器超时，请稍后重试");
        QTest::newRow("tls") << int(QNetworkReply::SslHandshakeFailedError) << 0
                             << Lang::tr("安全连接（HTTPS）被拦截或证书校验失败，请检查本机代理/防火墙/系统时间后重试");
        QTest::newRow("other with status")
            << int(QNetworkReply::ContentNotFoundError) << 404 << Lang::tr("服务器返回 HTTP %1，请稍后重试").arg(404);
        QTest::newRow("other without status")
            << int(QNetworkReply::UnknownNetworkError) << 0 << Lang::tr("网络错误：") + "boom";
    }
    void networkErrorTexts()
    {
        QFETCH(int, error);
        QFETCH(int, status);
        QFETCH(QString, text);
        QCOMPARE(AuthManager::networkErrorText(QNetworkReply::NetworkError(error), status, "boom"), text);
    }

    void englishTexts()
    {
        Lang::setLanguage(1);
        m_host->route("POST", "/api/auth.php", "me", Reply::raw(401, ""));
        const Result r = ktr::test::awaitResult([&](auto cb) { m_auth->fetchMe("tok", cb); });
        Lang::setLanguage(0);
        QCOMPARE(r.msg, QStringLiteral("Your session has expired. Please sign in again."));
    }

    // Callbacks run in the order the replies finish, and none runs once the AuthManager is gone.
    void repliesAfterOwnerIsGoneCallNothing()
    {
        Reply slow = Reply::json(obj(R"({"ok":1})"));
        slow.delayMs = 50;
        m_host->route("POST", "/api/auth.php", "me", slow);
        m_host->route("POST", "/api/auth.php", "logout", Reply::json(obj(R"({"ok":1})")));
        QStringList order;
        const Result first = ktr::test::awaitResult([&](auto cb) {
            m_auth->fetchMe("a", [&order](const Result&) { order << "me"; });
            m_auth->request("logout", "", "", "t", [&order, cb](const Result& r) {
                order << "logout";
                cb(r);
            });
        });
        QVERIFY(first.ok);
        QSignalSpy finished(m_nam.get(), &QNetworkAccessManager::finished);
        QVERIFY(finished.wait(5000));
        QCOMPARE(order, (QStringList{"logout", "me"}));

        bool called = false;
        m_auth->fetchMe("b", [&called](const Result&) { called = true; });
        m_auth->fetchCaptcha([&called](bool, const QString&, const QString&, const QString&) { called = true; });
        m_auth.reset();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 5000);
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    // Without a manager of its own given, the AuthManager makes one; going away with replies in flight
    // must neither call back nor crash when they finish.
    void ownManagerOutlivesItsOwnerSafely()
    {
        Reply slow = Reply::json(obj(R"({"ok":1})"));
        slow.delayMs = 30;
        m_host->route("POST", "/api/auth.php", "me", slow);
        QSignalSpy logged(m_host.get(), &Host::requestLogged);
        bool called = false;
        {
            AuthManager own;
            own.fetchMe("x", [&called](const Result&) { called = true; });
            QVERIFY(logged.wait(5000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_host->openConnections(), 0, 5000);
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }
};

KTR_TEST_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
