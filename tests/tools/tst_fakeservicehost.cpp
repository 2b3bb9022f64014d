// The test service host itself: the faults and Range answers later download and update tests rely on.

#include "fakeservicehost.h"
#include "testenv.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>

#include <memory>

using Host = ktr::test::FakeServiceHost;
using Reply = ktr::test::FakeServiceHost::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

struct Got
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QByteArray contentRange;
};

Got fetch(QNetworkAccessManager& nam, const QUrl& url, const QByteArray& range = {}, int timeoutMs = 0)
{
    QNetworkRequest req(url);
    if (!range.isEmpty())
        req.setRawHeader("Range", range);
    if (timeoutMs > 0)
        req.setTransferTimeout(timeoutMs);
    std::unique_ptr<QNetworkReply> reply(nam.get(req));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(10000);
    return Got{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->error(), reply->readAll(),
               reply->rawHeader("Content-Range")};
}

} // namespace

class TestFakeServiceHost : public QObject
{
    Q_OBJECT
    const QByteArray m_content = "abcdefghijklmnopqrstuvwxyz";

private Q_SLOTS:
    void rangeAnswers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentRange");
        QTest::newRow("correct 206") << int(Host::RangeMode::Honour) << QByteArray("bytes=20-") << 206
                                     << QByteArray("uvwxyz") << QByteArray("bytes 20-25/26");
        QTest::newRow("wrong Content-Range") << int(Host::RangeMode::WrongContentRange) << QByteArray("bytes=20-")
                                             << 206 << QByteArray("tuvwxyz") << QByteArray("bytes 19-25/26");
        QTest::newRow("200 whole") << int(Host::RangeMode::IgnoreRange) << QByteArray("bytes=20-") << 200 << m_content
                                   << QByteArray();
        QTest::newRow("416") << int(Host::RangeMode::Unsatisfiable) << QByteArray("bytes=20-") << 416 << QByteArray()
                             << QByteArray("bytes */26");
        QTest::newRow("beyond the end") << int(Host::RangeMode::Honour) << QByteArray("bytes=26-") << 416
                                        << QByteArray() << QByteArray("bytes */26");
        QTest::newRow("no Range header") << int(Host::RangeMode::Honour) << QByteArray() << 200 << m_content
                                         << QByteArray();
    }
    void rangeAnswers()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentRange);
        Host host(Host::Scheme::Http);
        QVERIFY(host.listen());
        const QByteArray content = m_content;
        host.route("GET", "/p.zip", "", [content, mode](const Host::Request& r) {
            return Host::rangeReply(r, content, Host::RangeMode(mode));
        });
        QNetworkAccessManager nam;
        QUrl url = host.baseUrl();
        url.setPath("/p.zip");
        const Got got = fetch(nam, url, range);
        QCOMPARE(got.status, status);
        QCOMPARE(got.body, body);
        QCOMPARE(got.contentRange, contentRange);
        QCOMPARE(host.requests().value(0).header("Range"), range);
    }

    void faults_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        const QByteArray body(1000, 'x');
        Reply slow = Reply::raw(200, body);
        slow.chunkSize = 100;
        slow.chunkIntervalMs = 5;
        QTest::newRow("slow stream arrives whole") << slow << 0 << int(QNetworkReply::NoError) << 200 << body;
        QTest::newRow("dropped") << Reply::dropped() << 0 << int(QNetworkReply::RemoteHostClosedError) << 0
                                 << QByteArray();
        QTest::newRow("half body") << Reply::halfBody(body) << 0 << int(QNetworkReply::RemoteHostClosedError) << 200
                                   << body.left(500);
        QTest::newRow("lying Content-Length")
            << Reply::lyingLength(body, 5000) << 0 << int(QNetworkReply::RemoteHostClosedError) << 200 << body;
        // Qt ends a transfer time-out as a cancel and drops what had arrived.
        QTest::newRow("stalled until the client's time-out")
            << Reply::stalled(body, 10) << 300 << int(QNetworkReply::OperationCanceledError) << 200 << QByteArray();
    }
    void faults()
    {
        QFETCH(Reply, reply);
        QFETCH(int, timeoutMs);
        QFETCH(int, error);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        Host host(Host::Scheme::Http);
        QVERIFY(host.listen());
        host.route("GET", "/f", "", reply);
        QNetworkAccessManager nam;
        QUrl url = host.baseUrl();
        url.setPath("/f");
        const Got got = fetch(nam, url, {}, timeoutMs);
        QCOMPARE(int(got.error), error);
        QCOMPARE(got.status, status);
        QCOMPARE(got.body, body);
    }

    // A delayed reply whose client gave up is dropped, not written to a dead connection.
    void lateReplyToAGoneClient()
    {
        Host host(Host::Scheme::Http);
        QVERIFY(host.listen());
        Reply late = Reply::raw(200, "late");
        late.delayMs = 50;
        host.route("GET", "/late", "", late);
        QNetworkAccessManager nam;
        QUrl url = host.baseUrl();
        url.setPath("/late");
        QSignalSpy logged(&host, &Host::requestLogged);
        QSignalSpy abandoned(&host, &Host::replyAbandoned);
        QNetworkReply* reply = nam.get(QNetworkRequest(url));
        QVERIFY(logged.wait(5000));
        reply->abort();
        delete reply;
        QVERIFY(abandoned.wait(5000));
    }

    void httpsNeedsTheTestCa()
    {
        Host host(Host::Scheme::Https);
        QVERIFY(host.listen());
        host.route("GET", "/x", "", Reply::raw(200, "ok"));
        QUrl url = host.baseUrl();
        url.setPath("/x");
        QCOMPARE(url.scheme(), QStringLiteral("https"));
        {
            Host::setTestCaTrusted(false);
            QNetworkAccessManager nam;
            QCOMPARE(int(fetch(nam, url).error), int(QNetworkReply::SslHandshakeFailedError));
        }
        Host::setTestCaTrusted(true);
        QNetworkAccessManager nam;
        const Got got = fetch(nam, url);
        QCOMPARE(int(got.error), int(QNetworkReply::NoError));
        QCOMPARE(got.body, QByteArray("ok"));
        url.setHost("localhost"); // the certificate names localhost too
        QCOMPARE(fetch(nam, url).body, QByteArray("ok"));
    }

    void logHoldsMethodPathQueryHeadersAndJson()
    {
        Host host(Host::Scheme::Http);
        QVERIFY(host.listen());
        QNetworkAccessManager nam;
        QUrl url = host.baseUrl();
        url.setPath("/api/x.php");
        url.setQuery("action=go&n=2");
        QNetworkRequest req(url);
        req.setRawHeader("X-Test", "yes");
        std::unique_ptr<QNetworkReply> reply(nam.post(req, QByteArray(R"({"b":1,"a":"z"})")));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        QVERIFY(done.wait(5000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404); // unrouted
        const Host::Request r = host.requests().value(0);
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.path, QStringLiteral("/api/x.php"));
        QCOMPARE(r.action, QStringLiteral("go"));
        QCOMPARE(r.query.queryItemValue("n"), QStringLiteral("2"));
        QCOMPARE(r.header("x-test"), QByteArray("yes"));
        QVERIFY(r.jsonObject);
        QCOMPARE(r.jsonKeys(), (QStringList{"a", "b"}));
    }
};

KTR_TEST_MAIN(TestFakeServiceHost)
#include "tst_fakeservicehost.moc"
