// The market against the state folder of ktr-servicehost: catalogue page, manifest and package files,
// a download refused for a stale token that goes on after the next login, a download cut by the host that
// resumes where it stopped.
#include "fakeservicehost.h"
#include "market/marketcatalogue.h"
#include "market/marketfiles.h"
#include "marketstate.h"
#include "servicehoststate.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>

using ktr::test::writeFile;
using Host = ktr::test::FakeServiceHost;

namespace {

// What a GET of the host's download route brings, read off the wire (an HTTP client would retry a cut request
// on its own): the status, the Content-Length announced, the body bytes received before the host closed.
struct Fetched
{
    int status = 0;
    qint64 announced = -1;
    QByteArray body;
    bool closedByHost = false;
};

Fetched fetchPackage(const QUrl& base, const QByteArray& range = {})
{
    QTcpSocket socket;
    socket.connectToHost(base.host(), quint16(base.port()));
    Fetched out;
    if (!socket.waitForConnected(5000))
        return out;
    QByteArray head =
        "GET /api/download.php?app=demo&file=demo-1.0.zip&token=live HTTP/1.1\r\nHost: " + base.host().toLatin1() +
        "\r\n";
    if (!range.isEmpty())
        head += "Range: " + range + "\r\n";
    socket.write(head + "\r\n");
    // The host answers from this thread's event loop: wait in it, not in a blocking read.
    QByteArray raw;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { raw += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    out.closedByHost = closed.wait(10000);
    raw += socket.readAll();
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return out;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    out.status = lines.value(0).split(' ').value(1).toInt();
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("content-length:"))
            out.announced = line.mid(15).trimmed().toLongLong();
    }
    out.body = raw.mid(end + 4);
    return out;
}

bool armCuts(const QUrl& base, const QJsonObject& body)
{
    QNetworkAccessManager nam;
    QUrl url = base;
    url.setPath("/api/admin.php");
    url.setQuery("action=cutdownloads");
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply* reply = nam.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(5000);
    const bool ok = QJsonDocument::fromJson(reply->readAll()).object().value("ok").toInt() == 1;
    delete reply;
    return ok;
}

QByteArray packageOf(qsizetype size)
{
    QByteArray package = QByteArray("PK\3\4");
    package.reserve(size);
    for (qsizetype i = package.size(); i < size; ++i)
        package.append(char('a' + (i * 7) % 26));
    return package;
}

// A state host serving one market app "demo" whose package is the given bytes.
struct DemoHost
{
    static QString stateWith(const QByteArray& package, bool* written)
    {
        const QString state = ktr::test::freshDir("state");
        *written = ktr::test::writeMarketState(state, "demo", "Demo", package, "demo.sh");
        return state;
    }
    bool written = false;
    Host host{Host::Scheme::Http};
    ktr::test::ServiceHostState model;
    bool ready = false;
    explicit DemoHost(const QByteArray& package) : model(stateWith(package, &written))
    {
        model.install(host);
        ready = written && host.listen();
    }
};

} // namespace

class TestMarketFlow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void installAfterLogin()
    {
        const QString state = ktr::test::freshDir("state");
        const QByteArray package = QByteArray("PK\3\4") + QByteArray(5000, 'z');
        QVERIFY(ktr::test::writeMarketState(state, "demo", "Demo", package, "demo.sh", "1.2.0"));

        ktr::test::FakeServiceHost host(ktr::test::FakeServiceHost::Scheme::Http);
        ktr::test::ServiceHostState model(state);
        model.install(host);
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());

        MarketCatalogue market;
        QSignalSpy verified(&market, &MarketCatalogue::packageVerified);
        QSignalSpy login(&market, &MarketCatalogue::loginRequested);
        market.token = "stale";
        market.fetchSdkMin();
        market.fetchIndex(1);
        QTRY_VERIFY(market.findRow("demo"));
        QTRY_COMPARE(market.minSdkVersion, QString("1.2.0"));
        market.fetchManifest(*market.findRow("demo"));
        QTRY_COMPARE(login.count(), 1);
        QCOMPARE(market.findRow("demo")->errorText.shown(), Lang::tr("登录已失效，请重新登录（登录后自动继续下载）"));
        QVERIFY(market.pendingLoginIds.contains("demo"));
        market.setToken("live");
        QTRY_COMPARE(verified.count(), 1);
        QCOMPARE(verified.at(0).at(1).toString(), packageFilePath("demo"));
        QCOMPARE(ktr::test::readFile(packageFilePath("demo")), package);
    }

    // The staff's cut closes the connection mid-body (the whole length announced), for as many downloads
    // as asked; a Range request after it gets exactly the rest.
    void cutDownloadsThenRangeGetsTheRest_data()
    {
        QTest::addColumn<qint64>("after");
        QTest::addColumn<int>("count");
        QTest::newRow("after 1 byte, once") << qint64(1) << 1;
        QTest::newRow("after 1.5 MB, twice") << qint64(1572864) << 2;
        QTest::newRow("one byte short of the end") << qint64(3 * 1024 * 1024 - 1) << 1;
    }

    void cutDownloadsThenRangeGetsTheRest()
    {
        QFETCH(qint64, after);
        QFETCH(int, count);
        const QByteArray package = packageOf(3 * 1024 * 1024);
        DemoHost demo(package);
        QVERIFY(demo.ready);
        Host& host = demo.host;
        QVERIFY(armCuts(host.baseUrl(), QJsonObject{{"afterBytes", after}, {"count", count}}));

        for (int i = 0; i < count; ++i) {
            const Fetched cut = fetchPackage(host.baseUrl());
            QCOMPARE(cut.status, 200);
            QCOMPARE(cut.announced, qint64(package.size()));
            QVERIFY(cut.closedByHost);
            QCOMPARE(cut.body, package.left(after));
        }
        const QByteArray range = "bytes=" + QByteArray::number(after) + '-';
        const Fetched rest = fetchPackage(host.baseUrl(), range);
        QCOMPARE(rest.status, 206);
        QCOMPARE(rest.announced, qint64(package.size() - after));
        QCOMPARE(package.left(after) + rest.body, package);
        const Fetched whole = fetchPackage(host.baseUrl());
        QCOMPARE(whole.status, 200);
        QCOMPARE(whole.body, package);
    }

    void badCutRequestsAreRefused()
    {
        DemoHost demo(packageOf(4096));
        QVERIFY(demo.ready);
        Host& host = demo.host;
        QVERIFY(!armCuts(host.baseUrl(), QJsonObject{{"afterBytes", -1}}));
        QVERIFY(!armCuts(host.baseUrl(), QJsonObject{{"count", 1}}));
        QCOMPARE(fetchPackage(host.baseUrl()).body.size(), 4096);
        // count 0 ends cuts still armed.
        QVERIFY(armCuts(host.baseUrl(), QJsonObject{{"afterBytes", 10}, {"count", 3}}));
        QVERIFY(armCuts(host.baseUrl(), QJsonObject{{"afterBytes", 10}, {"count", 0}}));
        QCOMPARE(fetchPackage(host.baseUrl()).body.size(), 4096);
    }

    // The market against a cut download: the row names the network, and the retry asks for the rest.
    void marketResumesACutDownloadOnRetry()
    {
        const QByteArray package = packageOf(3 * 1024 * 1024);
        DemoHost demo(package);
        QVERIFY(demo.ready);
        Host& host = demo.host;
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());
        demo.model.cutDownloads(1572864, 1);

        MarketCatalogue market;
        QSignalSpy verified(&market, &MarketCatalogue::packageVerified);
        market.token = "live";
        market.fetchSdkMin();
        market.fetchIndex(1);
        QTRY_VERIFY(market.findRow("demo"));
        market.fetchManifest(*market.findRow("demo"));
        QTRY_COMPARE_WITH_TIMEOUT(market.findRow("demo")->errorText.shown(), Lang::tr("下载失败（网络中断，请重试）"),
                                  10000);
        QCOMPARE(QFileInfo(packageFilePath("demo") + ".part").size(), 1572864);
        host.clearRequests();
        market.fetchManifest(*market.findRow("demo"));
        QTRY_COMPARE_WITH_TIMEOUT(verified.count(), 1, 10000);
        QByteArray range;
        for (const Host::Request& r : host.requests()) {
            if (r.path == "/api/download.php")
                range = r.header("range");
        }
        QCOMPARE(range, QByteArray("bytes=1572864-"));
        QCOMPARE(ktr::test::readFile(packageFilePath("demo")), package);
    }
};

KTR_TEST_MAIN(TestMarketFlow)
#include "tst_marketflow.moc"
