// The real AuthManager against the service host with memory, over HTTPS: what a user goes through.

#include "account/authmanager.h"
#include "account/deviceid.h"
#include "authwait.h"
#include "fakeservicehost.h"
#include "servicehoststate.h"
#include "testenv.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>

using Host = ktr::test::FakeServiceHost;
using Result = AuthManager::Result;

namespace {

// Another computer signing in to the same account, as its own client would.
QJsonObject loginFromOtherComputer(const QUrl& base, const QString& user, const QString& password)
{
    QNetworkAccessManager nam;
    QUrl url = base;
    url.setPath("/api/auth.php");
    url.setQuery("action=login");
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json; charset=utf-8");
    const QJsonObject body{
        {"username", user},          {"password", password}, {"token", ""}, {"device", "0ther0device0id"},
        {"device_name", "书房电脑"}, {"precheck", 1},        {"confirm", 1}};
    QNetworkReply* reply = nam.post(req, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(5000);
    const QJsonObject out = QJsonDocument::fromJson(reply->readAll()).object();
    delete reply;
    return out;
}

QString answerOf(const QString& question)
{
    static const QRegularExpression re("^(\\d+) \\+ (\\d+) = \\?$");
    const auto m = re.match(question);
    return m.hasMatch() ? QString::number(m.captured(1).toInt() + m.captured(2).toInt()) : QString();
}

} // namespace

class TestAccountFlow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void captchaRegisterLoginConfirmMeLogoutReportHost()
    {
        Host::setTestCaTrusted(true);
        Host host(Host::Scheme::Https);
        ktr::test::ServiceHostState state(ktr::test::freshDir("state"));
        state.install(host);
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());
        AuthManager auth;

        // Register: a wrong captcha answer is refused, the right one accepted.
        ktr::test::Captcha c = ktr::test::awaitCaptcha(auth);
        QVERIFY2(c.ok, qPrintable(c.message));
        Result r = ktr::test::awaitResult(
            [&](auto cb) { auth.request("register", "alice", "secret66", "", cb, c.id, "999", true, false); });
        QVERIFY(!r.ok);
        QCOMPARE(r.code, QStringLiteral("BAD_CAPTCHA"));
        c = ktr::test::awaitCaptcha(auth);
        r = ktr::test::awaitResult([&](auto cb) {
            auth.request("register", "alice", "secret66", "", cb, c.id, answerOf(c.question), true, false);
        });
        QVERIFY2(r.ok, qPrintable(r.msg));
        QCOMPARE(r.username, QStringLiteral("alice"));
        const QString registered = r.token;
        QVERIFY(!registered.isEmpty());

        // Another computer signs in; the quota of one device means ours would sign it out.
        const QJsonObject other = loginFromOtherComputer(host.baseUrl(), "alice", "secret66");
        QCOMPARE(other.value("ok").toInt(), 1);
        const QString otherToken = other.value("token").toString();
        r = ktr::test::awaitResult([&](auto cb) { auth.fetchMe(registered, cb); });
        QCOMPARE(r.code, QStringLiteral("NOT_LOGIN")); // our registration session went to the other computer

        // Login: first the pre-check asks for confirmation, naming the other computer.
        r = ktr::test::awaitResult([&](auto cb) { auth.request("login", "alice", "secret66", "", cb); });
        QVERIFY(r.ok);
        QVERIFY(r.needConfirm);
        QVERIFY(r.token.isEmpty());
        QCOMPARE(r.maxDevices, 1);
        QCOMPARE(r.willKick.size(), 1);
        QCOMPARE(r.willKick[0].name, QStringLiteral("书房电脑"));
        QCOMPARE(r.willKick[0].ip, QStringLiteral("127.0.0.1"));
        QVERIFY(!r.willKick[0].lastSeen.isEmpty());
        r = ktr::test::awaitResult(
            [&](auto cb) { auth.request("login", "alice", "secret66", "", cb, "", "", false, true); });
        QVERIFY(r.ok);
        QVERIFY(!r.needConfirm);
        const QString token = r.token;
        QVERIFY(!token.isEmpty());

        // The other computer is signed out, with the service's reason.
        r = ktr::test::awaitResult([&](auto cb) { auth.fetchMe(otherToken, cb); });
        QCOMPARE(r.code, QStringLiteral("NOT_LOGIN"));
        QVERIFY(r.msg.contains(QStringLiteral("其他电脑登录")));

        // me, then the host report reaches the session.
        r = ktr::test::awaitResult([&](auto cb) { auth.fetchMe(token, cb); });
        QVERIFY(r.ok);
        QCOMPARE(r.username, QStringLiteral("alice"));
        QSignalSpy logged(&host, &Host::requestLogged);
        auth.reportHost(token);
        QVERIFY(logged.wait(5000));
        const QJsonArray sessions = state.user("alice").value("sessions").toArray();
        QCOMPARE(sessions.size(), 1);
        QCOMPARE(sessions[0].toObject().value("host").toString(), deviceDisplayName());
        QCOMPARE(sessions[0].toObject().value("device").toString(), deviceId());

        // Wrong password, then logout ends the session.
        r = ktr::test::awaitResult([&](auto cb) { auth.request("login", "alice", "wrong-pw", "", cb); });
        QVERIFY(!r.ok);
        QCOMPARE(r.code, QStringLiteral("BAD_LOGIN"));
        QCOMPARE(r.msg, QStringLiteral("用户名或密码错误"));
        r = ktr::test::awaitResult([&](auto cb) { auth.request("logout", "", "", token, cb); });
        QVERIFY(r.ok);
        r = ktr::test::awaitResult([&](auto cb) { auth.fetchMe(token, cb); });
        QCOMPARE(r.code, QStringLiteral("NOT_LOGIN"));

        // The state survives a restart of the host.
        ktr::test::ServiceHostState again(state.folder());
        QVERIFY(!again.user("alice").isEmpty());
        QVERIFY(again.user("alice").value("sessions").toArray().isEmpty());
    }

    void appStatReportsAreKept()
    {
        Host host(Host::Scheme::Http);
        ktr::test::ServiceHostState state(ktr::test::freshDir("state"));
        state.install(host);
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());
        QSignalSpy logged(&host, &Host::requestLogged);
        reportAppStat("app.x", "launch", "");
        QVERIFY(logged.wait(5000));
        QTRY_VERIFY_WITH_TIMEOUT(ktr::test::readFile(state.folder() + "/appstat.jsonl").contains("\"app.x\""), 5000);
    }

    void filesAreServedWithRanges()
    {
        Host host(Host::Scheme::Http);
        ktr::test::ServiceHostState state(ktr::test::freshDir("state"));
        state.install(host);
        QVERIFY(host.listen());
        QVERIFY(ktr::test::writeFile(state.folder() + "/files/update/index/page-1.json", "0123456789"));
        QNetworkAccessManager nam;
        QUrl url = host.baseUrl();
        url.setPath("/update/index/page-1.json");
        QNetworkRequest req(url);
        req.setRawHeader("Range", "bytes=4-");
        QNetworkReply* reply = nam.get(req);
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(5000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 206);
        QCOMPARE(reply->readAll(), QByteArray("456789"));
        QCOMPARE(reply->rawHeader("Content-Range"), QByteArray("bytes 4-9/10"));
        delete reply;
        url.setPath("/../state/accounts.json");
        reply = nam.get(QNetworkRequest(url));
        QSignalSpy done2(reply, &QNetworkReply::finished);
        QVERIFY(done2.wait(5000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
        delete reply;
    }
};

KTR_TEST_MAIN(TestAccountFlow)
#include "tst_accountflow.moc"
