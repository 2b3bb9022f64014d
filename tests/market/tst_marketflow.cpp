// The market against the state folder of ktr-servicehost: catalogue page, manifest and package files,
// a download refused for a stale token that goes on after the next login.
#include "fakeservicehost.h"
#include "market/marketcatalogue.h"
#include "market/marketfiles.h"
#include "servicehoststate.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

using ktr::test::writeFile;

class TestMarketFlow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void installAfterLogin()
    {
        const QString state = ktr::test::freshDir("state");
        const QByteArray package = QByteArray("PK\3\4") + QByteArray(5000, 'z');
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
        auto json = [](const QJsonObject& o) { return QJsonDocument(o).toJson(); };
        QVERIFY(writeFile(state + "/accounts.json",
                          json({{"users", QJsonArray{QJsonObject{{"username", "u"}, {"password", "p"},
                                                                 {"sessions", QJsonArray{QJsonObject{
                                                                                  {"token", "live"}, {"device", "d"}}}}}}}})));
        QVERIFY(writeFile(state + "/files/update/index/page-1.json",
                          json({{"apps", QJsonArray{QJsonObject{{"id", "demo"}, {"name", "Demo"}, {"version", "1.0"},
                                                                {"size", package.size()}}}}})));
        QVERIFY(writeFile(state + "/files/update/sdk_min.json", json({{"minSdkVersion", "1.2.0"}})));
        QVERIFY(writeFile(state + "/files/update/apps/demo.json",
                          json({{"url", "https://cdn.example/pkgs/demo-1.0.zip"}, {"sha256", sha},
                                {"launch", "demo.sh"}, {"version", "1.0"}})));
        QVERIFY(writeFile(state + "/files/packages/demo/demo-1.0.zip", package));

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
        QCOMPARE(market.findRow("demo")->errorText, Lang::tr("登录已失效，请重新登录（登录后自动继续下载）"));
        QVERIFY(market.pendingLoginIds.contains("demo"));
        market.setToken("live");
        QTRY_COMPARE(verified.count(), 1);
        QCOMPARE(verified.at(0).at(1).toString(), packageFilePath("demo"));
        QCOMPARE(ktr::test::readFile(packageFilePath("demo")), package);
    }
};

KTR_TEST_MAIN(TestMarketFlow)
#include "tst_marketflow.moc"
