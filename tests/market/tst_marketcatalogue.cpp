#include "fakeservicehost.h"
#include "logcapture.h"
#include "market/appmarketdialog.h"
#include "market/marketcatalogue.h"
#include "market/marketfiles.h"
#include "recordingnetwork.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <memory>

using Host = ktr::test::FakeServiceHost;
using Reply = Host::Reply;
using Request = Host::Request;

Q_DECLARE_METATYPE(Reply)

namespace {

QJsonObject app(const QString& id, const QJsonObject& extra = {})
{
    QJsonObject o{{"id", id}, {"name", "Name " + id}, {"desc", "Desc"}, {"category", "Tools"}, {"version", "1.0"}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

Reply page(const QJsonArray& apps)
{
    return Reply::json(QJsonObject{{"apps", apps}});
}

QByteArray png(int w, int h, bool noise = false)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::red);
    if (noise) {
        QRandomGenerator gen(7);
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = gen.generate();
        }
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

} // namespace

class TestMarketCatalogue : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    std::unique_ptr<QNetworkAccessManager> m_nam;
    std::unique_ptr<MarketCatalogue> m_market;
    std::unique_ptr<QSignalSpy> m_finished; // every reply the catalogue's manager finished
    const QString kPage = QStringLiteral("/update/index/page-1.json");

    // Fetches page 1 and waits for it to be applied (or refused).
    void load(const QJsonArray& apps)
    {
        m_host->route("GET", kPage, "", page(apps));
        loadRouted();
    }
    void loadRouted()
    {
        QSignalSpy changed(m_market.get(), &MarketCatalogue::changed);
        m_market->fetchIndex(1);
        QVERIFY(changed.wait(5000));
    }
    QString url(const QString& path) const { return m_host->baseUrl().toString() + path; }

private Q_SLOTS:
    void init()
    {
        QDir(appsRootDir()).removeRecursively();
        m_host = std::make_unique<Host>(Host::Scheme::Http);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_nam = std::make_unique<QNetworkAccessManager>();
        m_finished = std::make_unique<QSignalSpy>(m_nam.get(), &QNetworkAccessManager::finished);
        m_market = std::make_unique<MarketCatalogue>();
        m_market->setNetworkManager(m_nam.get());
    }
    void cleanup()
    {
        m_market.reset();
        m_finished.reset();
        m_nam.reset();
        m_host.reset();
    }
    // The handlers run in the same emission as the manager's signal, so they are done once it counts n.
    void waitReplies(int n) { QTRY_COMPARE(m_finished->count(), n); }

    void rowNameOfTheWindow()
    {
        // The window and the core share one row type.
        QVERIFY((std::is_same_v<AppMarketDialog::AppRow, MarketCatalogue::AppRow>));
    }

    void appIdRule_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("ok");
        QTest::newRow("letters digits _ -") << "Ab_9-x" << true;
        QTest::newRow("48") << QString(48, 'a') << true;
        QTest::newRow("49") << QString(49, 'a') << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dot") << "a.b" << false;
        QTest::newRow("space") << "a b" << false;
        QTest::newRow("non-ASCII letter") << QString::fromUtf8("应用") << false;
    }
    void appIdRule()
    {
        QFETCH(QString, id);
        QFETCH(bool, ok);
        QCOMPARE(isValidAppId(id), ok);
    }

    void versionRule_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("ok");
        QTest::newRow("all allowed characters") << "1.0_b+2-rc.A" << true;
        QTest::newRow("64") << QString(64, '1') << true;
        QTest::newRow("65") << QString(65, '1') << false;
        QTest::newRow("double dot") << "1..2" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("slash") << "1/2" << false;
        QTest::newRow("space") << "1 2" << false;
    }
    void versionRule()
    {
        QFETCH(QString, version);
        QFETCH(bool, ok);
        QCOMPARE(isValidVersionString(version), ok);
    }

    void launchRule_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ok");
        QTest::newRow("plain") << "app.exe" << true;
        QTest::newRow("128") << QString(128, 'a') << true;
        QTest::newRow("129") << QString(129, 'a') << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dots") << "a..exe" << false;
        QTest::newRow("slash") << "bin/app" << false;
        QTest::newRow("backslash") << "bin\\app" << false;
        QTest::newRow("colon") << "c:app" << false;
    }
    void launchRule()
    {
        QFETCH(QString, name);
        QFETCH(bool, ok);
        QCOMPARE(isSafeLaunchName(name), ok);
    }

    void httpUrlRule_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("ok");
        QTest::newRow("https") << "https://h.example/x" << true;
        QTest::newRow("HTTP upper") << "HTTP://h.example" << true;
        QTest::newRow("ftp") << "ftp://h.example/x" << false;
        QTest::newRow("no host") << "https:///x" << false;
        QTest::newRow("relative") << "/x" << false;
    }
    void httpUrlRule()
    {
        QFETCH(QString, url);
        QFETCH(bool, ok);
        QCOMPARE(isHttpUrl(url), ok);
    }

    void getRequestShape()
    {
        ktr::test::RecordingNetworkManager nam;
        m_market->setNetworkManager(&nam);
        m_host->route("GET", kPage, "", page({}));
        loadRouted();
        QCOMPARE(nam.sent.size(), 1);
        const QNetworkRequest& r = nam.sent[0].request;
        QCOMPARE(r.url().path(), kPage);
        QCOMPARE(r.transferTimeout(), 15000);
        QCOMPARE(r.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
                 int(QNetworkRequest::NoLessSafeRedirectPolicy));
    }

    void entriesParsed()
    {
        load(QJsonArray{
            app("ok", {{"size", -5}, {"exeSize", "123"}, {"icon", ""}}),
            app("big", {{"size", 3000000000.0}, {"version", "1..2"}}),
            app("a.b"),
            app(QString(49, 'x')),
            app("web", {{"type", "web"}, {"url", "https://w.example/"}}),
            app("webftp", {{"type", "web"}, {"url", "ftp://w.example/"}}),
            app("webnohost", {{"type", "web"}, {"url", "https:///p"}}),
            app("pkgftp", {{"url", "ftp://w.example/"}}),
            app("dup", {{"name", "first"}}),
            app("dup", {{"name", "second"}}),
            QJsonValue(5),
        });
        QVERIFY(m_market->indexLoaded);
        QStringList ids;
        for (const auto& r : std::as_const(m_market->rows))
            ids << r.id;
        QCOMPARE(ids, (QStringList{"ok", "big", "web", "pkgftp", "dup", "dup"}));
        const auto* ok = m_market->findRow("ok");
        QCOMPARE(ok->size, qint64(0));
        QCOMPARE(ok->exeSize, qint64(123));
        QCOMPARE(ok->version, QString("1.0"));
        QCOMPARE(ok->searchKey, QString("name ok desc tools"));
        QCOMPARE(m_market->findRow("big")->size, qint64(2147483648LL));
        QCOMPARE(m_market->findRow("big")->version, QString());
        QVERIFY(m_market->findRow("web")->isWeb);
        QCOMPARE(m_market->findRow("dup")->name, QString("first")); // the first row of an id
        QCOMPARE(m_market->findRow("none"), nullptr);
    }

    void installedFromRegistry()
    {
        QVERIFY(ktr::test::writeFile(appsRootDir() + "/inst/run.sh", QByteArray(777, 'x')));
        m_market->setInstalledApps({{"inst", {"0.9", "run.sh"}}, {"nolaunch", {"0.1", ""}}});
        load(QJsonArray{app("inst"), app("nolaunch"), app("other")});
        QCOMPARE(m_market->findRow("inst")->installedVersion, QString("0.9"));
        QCOMPARE(m_market->findRow("inst")->installedSize, qint64(777));
        QCOMPARE(m_market->findRow("nolaunch")->installedSize, qint64(0));
        QCOMPARE(m_market->findRow("other")->installedVersion, QString());
    }

    // A refresh during a download keeps the row's progress, pause state and transfer.
    void refreshKeepsRowState()
    {
        load(QJsonArray{app("a"), app("b")});
        auto* a = m_market->findRow("a");
        a->downloading = true;
        a->received = 10;
        a->total = 100;
        a->generation = 7;
        a->sha256 = "abc";
        a->installedSize = 5;
        a->exeSize = 999;
        QSignalSpy replaced(m_market.get(), &MarketCatalogue::listReplaced);
        load(QJsonArray{app("b", {{"name", "B2"}}), app("a", {{"version", "2.0"}, {"exeSize", 1}})});
        QCOMPARE(replaced.count(), 1);
        QCOMPARE(m_market->rows[0].name, QString("B2"));
        a = m_market->findRow("a");
        QVERIFY(a->downloading);
        QCOMPARE(a->received, qint64(10));
        QCOMPARE(a->total, qint64(100));
        QCOMPARE(a->generation, qint64(7));
        QCOMPARE(a->sha256, QString("abc"));
        QCOMPARE(a->installedSize, qint64(5));
        QCOMPARE(a->version, QString("2.0")); // from the catalogue
        QCOMPARE(a->exeSize, qint64(1));
    }

    void failedPagesKeepTheList_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<int>("rows");
        QTest::newRow("no apps key") << Reply::json(QJsonObject{{"x", 1}}) << true << 2;
        QTest::newRow("500") << Reply::raw(500, "{}") << true << 2;
        QTest::newRow("not json") << Reply::raw(200, "<html>") << true << 2;
        QTest::newRow("apps not an array") << Reply::json(QJsonObject{{"apps", 3}}) << false << 0;
        QTest::newRow("empty apps") << page({}) << false << 0;
    }
    void failedPagesKeepTheList()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, failed);
        QFETCH(int, rows);
        load(QJsonArray{app("a"), app("b")});
        m_host->route("GET", kPage, "", reply);
        loadRouted();
        QCOMPARE(m_market->indexFailed, failed);
        QVERIFY(m_market->indexLoaded);
        QCOMPARE(m_market->rows.size(), rows);
    }

    void firstPageFailing()
    {
        m_host->route("GET", kPage, "", Reply::raw(404, {}));
        loadRouted();
        QVERIFY(m_market->indexFailed);
        QVERIFY(!m_market->indexLoaded);
    }

    // Two requests in flight: only the newer one's page is applied.
    void olderPageDropped()
    {
        int n = 0;
        m_host->route("GET", kPage, "", [&n](const Request&) {
            Reply r = page(QJsonArray{app(++n == 1 ? "slow" : "fast")});
            r.delayMs = n == 1 ? 300 : 0;
            return r;
        });
        m_market->fetchIndex(1);
        m_market->fetchIndex(1);
        QCOMPARE(m_market->indexSeq, 2);
        waitReplies(2); // the slow reply arrives last and must change nothing
        QCOMPARE(m_market->rows.size(), 1);
        QVERIFY(m_market->findRow("fast"));
    }

    void icons_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("shown");
        QTest::newRow("small png") << png(96, 64) << true;
        QTest::newRow("4096 wide") << png(4096, 1) << true;
        QTest::newRow("4097 wide") << png(4097, 1) << false;
        QTest::newRow("above 2 MiB") << png(1000, 1000, true) << false;
        QTest::newRow("not an image") << QByteArray("hello") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void icons()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, shown);
        if (QTest::currentDataTag() == QByteArray("above 2 MiB"))
            QVERIFY(body.size() > 2 * 1024 * 1024);
        m_market->setIconPixelRatio(2.0);
        m_host->route("GET", "/i.png", "", Reply::raw(200, body, "image/png"));
        m_host->route("GET", "/done.png", "", Reply::raw(200, png(8, 8), "image/png"));
        load(QJsonArray{app("a", {{"icon", url("/i.png")}}), app("z", {{"icon", url("/done.png")}}),
                        app("ftp", {{"icon", "ftp://x/i.png"}})});
        waitReplies(3); // page and two icons; the ftp one is never asked for
        QVERIFY(!m_market->findRow("z")->icon.isNull());
        const QPixmap icon = m_market->findRow("a")->icon;
        QCOMPARE(!icon.isNull(), shown);
        if (shown) {
            QCOMPARE(qMax(icon.width(), icon.height()), 96); // 48 at ratio 2, aspect kept
            QCOMPARE(icon.devicePixelRatio(), 2.0);
        }
    }

    // An icon stream beyond the cap, with no length announced and no end: the transfer is stopped as soon as
    // the cap is passed, not buffered until the time-out (a 1.2 GB stream once took the panel to 1.3 GB).
    void endlessIconStreamStopped()
    {
        ktr::test::LogCapture log;
        Reply endless = Reply::raw(200, QByteArray(3 * 1024 * 1024, 'x'), "image/png");
        endless.omitLength = true;
        endless.holdOpen = true;
        endless.chunkSize = 256 * 1024;
        m_host->route("GET", "/big.png", "", endless);
        load(QJsonArray{app("a", {{"icon", url("/big.png")}})});
        QElapsedTimer timer;
        timer.start();
        waitReplies(2);
        QVERIFY(timer.elapsed() < MarketCatalogue::kGetTimeoutMs);
        QVERIFY(log.contains(QStringLiteral("[market] reply beyond its cap, stopped:")));
        QVERIFY(m_market->findRow("a")->icon.isNull());
    }

    void sdkMinimum_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("minimum");
        QTest::newRow("given") << Reply::json(QJsonObject{{"minSdkVersion", "2.0.1"}}) << "2.0.1";
        QTest::newRow("empty string") << Reply::json(QJsonObject{{"minSdkVersion", ""}}) << "1.1.0";
        QTest::newRow("not json") << Reply::raw(200, "x") << "1.1.0";
        QTest::newRow("404") << Reply::raw(404, {}) << "1.1.0";
    }
    void sdkMinimum()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, minimum);
        m_market->minSdkVersion = "9.9";
        m_host->route("GET", "/update/sdk_min.json", "", reply);
        m_market->fetchSdkMin();
        QCOMPARE(m_market->minSdkVersion, QString("1.1.0"));
        waitReplies(1);
        QCOMPARE(m_market->minSdkVersion, minimum);
    }

    void manifests_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("error");
        const QJsonObject good{{"url", "https://cdn.example/a-2.zip"},
                               {"sha256", "AB"},
                               {"launch", "a.exe"},
                               {"version", "2.0"},
                               {"sdkVersion", "1.0"},
                               {"exeSize", 5000}};
        auto with = [&](const char* key, const QJsonValue& v) {
            QJsonObject o = good;
            o.insert(key, v);
            return Reply::json(o);
        };
        QTest::newRow("good: download starts") << Reply::json(good) << QString();
        QTest::newRow("404") << Reply::raw(404, {}) << Lang::tr("清单获取失败");
        QTest::newRow("not json") << Reply::raw(200, "x") << Lang::tr("清单获取失败");
        QTest::newRow("launch with slash") << with("launch", "bin/a.exe") << Lang::tr("清单数据不完整");
        QTest::newRow("launch with backslash") << with("launch", "bin\\a") << Lang::tr("清单数据不完整");
        QTest::newRow("launch with colon") << with("launch", "c:a") << Lang::tr("清单数据不完整");
        QTest::newRow("launch with ..") << with("launch", "a..b") << Lang::tr("清单数据不完整");
        QTest::newRow("ftp package") << with("url", "ftp://cdn.example/a.zip") << Lang::tr("清单数据不完整");
    }
    void manifests()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, error);
        load(QJsonArray{app("a")});
        m_market->token = "t";
        m_host->route("GET", "/update/apps/a.json", "", reply);
        m_host->route("GET", "/api/download.php", "", Reply::raw(500, {}));
        auto* a = m_market->findRow("a");
        a->errorText = Lang::later("old");
        const qint64 before = a->generation;
        m_market->fetchManifest(*a);
        QVERIFY(a->installing);
        QCOMPARE(a->errorText.shown(), QString());
        QCOMPARE(a->generation, before + 1);
        if (error.isEmpty()) {
            QTRY_VERIFY(a->downloading || !a->errorText.isEmpty());
            QCOMPARE(a->packageUrl, QString("https://cdn.example/a-2.zip"));
            QCOMPARE(a->launch, QString("a.exe"));
            QCOMPARE(a->manifestVersion, QString("2.0"));
            QCOMPARE(a->sdkVersion, QString("1.0"));
            QCOMPARE(a->exeSize, qint64(5000));
            QTRY_COMPARE(m_host->requests().last().path, QString("/api/download.php"));
        } else {
            QTRY_COMPARE(a->errorText.shown(), error);
            QVERIFY(!a->installing);
        }
    }

    // A manifest that arrives after a newer request or a cancel changes nothing.
    void staleManifestIgnored()
    {
        load(QJsonArray{app("a")});
        m_host->route("GET", "/update/apps/a.json", "", Reply::raw(404, {}));
        auto* a = m_market->findRow("a");
        m_market->fetchManifest(*a);
        ++a->generation; // a newer click
        waitReplies(2);
        QCOMPARE(a->errorText.shown(), QString());
        m_market->fetchManifest(*a);
        a->cancelRequested = true;
        waitReplies(3);
        QCOMPARE(a->errorText.shown(), QString());
    }

    void search()
    {
        load(QJsonArray{app("a", {{"name", "Paint"}}), app("b", {{"desc", "Music player"}})});
        m_market->setSearchText("  MUSIC ");
        QCOMPARE(m_market->searchText, QString("music"));
        QVERIFY(!m_market->matchesSearch(*m_market->findRow("a")));
        QVERIFY(m_market->matchesSearch(*m_market->findRow("b")));
        m_market->setSearchText("");
        QVERIFY(m_market->matchesSearch(*m_market->findRow("a")));
    }
};

KTR_TEST_MAIN(TestMarketCatalogue)
#include "tst_marketcatalogue.moc"
