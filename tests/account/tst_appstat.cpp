#include "account/appstat.h"
#include "account/deviceid.h"
#include "fakeservicehost.h"
#include "logcapture.h"
#include "recordingnetwork.h"
#include "testenv.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QSignalSpy>

using Host = ktr::test::FakeServiceHost;

class TestAppStat : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void appIds_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("id");
        const QString data = appDataDir();
        QTest::newRow("file in the app") << data + "/apps/abc/bin/run"
                                         << "abc";
        QTest::newRow("file right in the app folder") << data + "/apps/abc/run"
                                                      << "abc";
        QTest::newRow("the app folder itself") << data + "/apps/abc"
                                               << "";
        QTest::newRow("the app folder with slash") << data + "/apps/abc/"
                                                   << "abc";
        QTest::newRow("the apps folder") << data + "/apps/"
                                         << "";
        QTest::newRow("double slash") << data + "/apps//abc/x"
                                      << "";
        QTest::newRow("elsewhere") << "/usr/bin/abc"
                                   << "";
        QTest::newRow("sibling apps2") << data + "/apps2/abc/x"
                                       << "";
        QTest::newRow("prefix in other case") << data.toUpper() + "/APPS/abc/x"
                                              << "abc";
        QTest::newRow("backslashes") << QString(data + "/apps/abc/bin/x").replace('/', '\\') << "abc";
    }
    void appIds()
    {
        QFETCH(QString, path);
        QFETCH(QString, id);
        QCOMPARE(marketAppIdForPath(path), id);
    }

    // The body of each report, and what is left out.
    void reports_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("install, no token") << "install"
                                           << "" << QStringList{"app_id", "device", "event"};
        QTest::newRow("uninstall, no token") << "uninstall"
                                             << "" << QStringList{"app_id", "device", "event"};
        QTest::newRow("launch with token") << "launch"
                                           << "tok" << QStringList{"app_id", "device", "event", "token"};
    }
    void reports()
    {
        QFETCH(QString, event);
        QFETCH(QString, token);
        QFETCH(QStringList, keys);
        Host host(Host::Scheme::Http); // plain http is allowed on loopback
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());
        host.route("POST", "/api/appstat.php", "", Host::Reply::json(QJsonObject{{"ok", 1}}));
        ktr::test::RecordingNetworkManager nam;
        QSignalSpy finished(&nam, &QNetworkAccessManager::finished);
        ktr::test::LogCapture log;
        sendAppStat(&nam, "app.one", event, token);
        QVERIFY(finished.wait(5000));
        const Host::Request r = host.requests().value(0);
        QCOMPARE(r.path, QStringLiteral("/api/appstat.php"));
        QVERIFY(r.query.isEmpty());
        QCOMPARE(r.header("content-type"), QByteArray("application/json; charset=utf-8"));
        QCOMPARE(r.jsonKeys(), keys);
        QCOMPARE(r.json.value("app_id").toString(), QStringLiteral("app.one"));
        QCOMPARE(r.json.value("event").toString(), event);
        QCOMPARE(r.json.value("device").toString(), deviceId());
        QCOMPARE(r.json.value("token").toString(), token);
        QCOMPARE(nam.sent.value(0).request.transferTimeout(), 10000);
        QVERIFY(!log.contains("appstat report failed"));
    }

    void nothingSentWithoutIdOrEvent()
    {
        ktr::test::RecordingNetworkManager nam;
        sendAppStat(&nam, "", "launch", "t");
        sendAppStat(&nam, "a", "", "t");
        QVERIFY(nam.sent.isEmpty());
    }

    void failureIsLogged()
    {
        Host host(Host::Scheme::Https);
        Host::setTestCaTrusted(true);
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());
        host.route("POST", "/api/appstat.php", "", Host::Reply::raw(500, "down"));
        ktr::test::LogCapture log;
        QSignalSpy logged(&host, &Host::requestLogged);
        reportAppStat("a", "launch", "");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("appstat report failed"), 5000);
        const QString line = log.messages().filter("appstat report failed").value(0);
        QVERIFY2(line.contains("http = 500") && line.contains("transportError = true") && line.contains("err ="),
                 qPrintable(line));
        QCOMPARE(logged.size(), 1);
    }
};

KTR_TEST_MAIN(TestAppStat)
#include "tst_appstat.moc"
