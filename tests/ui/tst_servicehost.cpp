#include "logcapture.h"
#include "testenv.h"
#include "ui/servicehost.h"

#include <QApplication>

class TestServiceHost : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { qunsetenv("KTR_SERVICE_HOST"); }

    void acceptable_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("acceptable");
        QTest::newRow("https") << "https://example.com" << true;
        QTest::newRow("https with port and path") << "https://example.com:8443/base" << true;
        QTest::newRow("http remote") << "http://example.com" << false;
        QTest::newRow("http 127.0.0.1") << "http://127.0.0.1:8765" << true;
        QTest::newRow("http 127.5.6.7") << "http://127.5.6.7" << true;
        QTest::newRow("http ::1") << "http://[::1]:80" << true;
        QTest::newRow("http localhost") << "http://LocalHost:1" << true;
        QTest::newRow("http localhost lookalike") << "http://localhost.example.com" << false;
        QTest::newRow("http 128.0.0.1") << "http://128.0.0.1" << false;
        QTest::newRow("http 10.0.0.1") << "http://10.0.0.1" << false;
        QTest::newRow("ftp") << "ftp://127.0.0.1" << false;
        QTest::newRow("no host") << "https:///x" << false;
        QTest::newRow("credentials") << "https://user:pw@example.com" << false;
        QTest::newRow("not a URL") << "127.0.0.1:80" << false;
    }
    void acceptable()
    {
        QFETCH(QString, url);
        QFETCH(bool, acceptable);
        QCOMPARE(ktr::acceptableServiceHost(QUrl(url, QUrl::StrictMode)), acceptable);
    }

    void defaultIsHttps()
    {
        QCOMPARE(ktr::serviceHost(), ktr::defaultServiceHost());
        QCOMPARE(ktr::defaultServiceHost().scheme(), QStringLiteral("https"));
    }

    void overrideAndRefusal_data()
    {
        QTest::addColumn<QString>("env");
        QTest::addColumn<QString>("url"); // of /api/auth.php?action=me; empty = the default host's
        QTest::addColumn<bool>("warned");
        QTest::newRow("loopback http") << "http://127.0.0.1:8765" << "http://127.0.0.1:8765/api/auth.php?action=me"
                                       << false;
        QTest::newRow("trailing slash") << " https://h.example/ " << "https://h.example/api/auth.php?action=me"
                                        << false;
        QTest::newRow("path prefix") << "https://h.example/svc/" << "https://h.example/svc/api/auth.php?action=me"
                                     << false;
        QTest::newRow("query dropped") << "https://h.example/?x=1#f" << "https://h.example/api/auth.php?action=me"
                                       << false;
        QTest::newRow("remote http refused") << "http://h.example" << QString() << true;
        QTest::newRow("garbage refused") << "::::" << QString() << true;
    }
    void overrideAndRefusal()
    {
        QFETCH(QString, env);
        QFETCH(QString, url);
        QFETCH(bool, warned);
        qputenv("KTR_SERVICE_HOST", env.toUtf8());
        ktr::test::LogCapture log;
        QUrl expected(url);
        if (url.isEmpty()) {
            expected = ktr::defaultServiceHost();
            expected.setPath(QStringLiteral("/api/auth.php"));
            expected.setQuery(QStringLiteral("action=me"));
        }
        QCOMPARE(ktr::serviceUrl(QStringLiteral("/api/auth.php"), QStringLiteral("action=me")), expected);
        QCOMPARE(log.contains(QStringLiteral("KTR_SERVICE_HOST refused")), warned);
    }
};

KTR_TEST_MAIN(TestServiceHost)
#include "tst_servicehost.moc"
