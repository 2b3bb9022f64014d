// The market against the state folder of ktr-servicehost: catalogue page, manifest and package files,
// a download refused for a stale token that goes on after the next login.
#include "fakeservicehost.h"
#include "marketstate.h"
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
};

KTR_TEST_MAIN(TestMarketFlow)
#include "tst_marketflow.moc"
