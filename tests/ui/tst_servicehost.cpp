#include "logcapture.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QApplication>

#ifndef KTR_EXPECTED_BUILTIN_HOST
#error "KTR_EXPECTED_BUILTIN_HOST must carry the build's service address"
#endif

class TestServiceHost : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        qunsetenv("KTR_SERVICE_HOST");
        ktr::resetDefaultServiceHostForTesting();
        Lang::setLanguage(0);
    }

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
        QTest::newRow("empty") << "" << false;
    }
    void acceptable()
    {
        QFETCH(QString, url);
        QFETCH(bool, acceptable);
        QCOMPARE(ktr::acceptableServiceHost(QUrl(url, QUrl::StrictMode)), acceptable);
    }

    // The address the configure step was given is the one the program carries; a default build carries none.
    void builtInAddressIsTheBuilds()
    {
        const QString expected = QString::fromUtf8(KTR_EXPECTED_BUILTIN_HOST);
        QCOMPARE(ktr::defaultServiceHost(), expected.isEmpty() ? QUrl() : QUrl(expected));
        QCOMPARE(ktr::defaultServiceHost().isEmpty(), expected.isEmpty());
    }

    // Where the requests go: the run-time variable over the built-in address, and nowhere when neither names
    // an acceptable host (a refused variable never falls back to a host nobody chose).
    void overrideAndRefusal_data()
    {
        QTest::addColumn<QString>("builtIn"); // the build's address; empty = a build without one
        QTest::addColumn<QString>("env");     // empty = unset
        QTest::addColumn<QString>("url");     // of /api/auth.php?action=me; empty = none at all
        QTest::addColumn<bool>("warned");
        const QString me = QStringLiteral("/api/auth.php?action=me");
        QTest::newRow("nothing set") << ""
                                     << ""
                                     << "" << false;
        QTest::newRow("built in only") << "https://built.example"
                                       << ""
                                       << "https://built.example" + me << false;
        QTest::newRow("built in with prefix") << "https://built.example/svc/"
                                              << ""
                                              << "https://built.example/svc" + me << false;
        QTest::newRow("loopback http") << ""
                                       << "http://127.0.0.1:8765"
                                       << "http://127.0.0.1:8765" + me << false;
        QTest::newRow("variable over built in") << "https://built.example"
                                                << "http://127.0.0.1:8765"
                                                << "http://127.0.0.1:8765" + me << false;
        QTest::newRow("trailing slash") << ""
                                        << " https://h.example/ "
                                        << "https://h.example" + me << false;
        QTest::newRow("path prefix") << ""
                                     << "https://h.example/svc/"
                                     << "https://h.example/svc" + me << false;
        QTest::newRow("query dropped") << ""
                                       << "https://h.example/?x=1#f"
                                       << "https://h.example" + me << false;
        QTest::newRow("blank variable") << ""
                                        << "   "
                                        << "" << false;
        QTest::newRow("remote http refused, none built in") << ""
                                                            << "http://h.example"
                                                            << "" << true;
        QTest::newRow("remote http refused, built in used") << "https://built.example"
                                                            << "http://h.example"
                                                            << "https://built.example" + me << true;
        QTest::newRow("garbage refused") << ""
                                         << "::::"
                                         << "" << true;
    }
    void overrideAndRefusal()
    {
        QFETCH(QString, builtIn);
        QFETCH(QString, env);
        QFETCH(QString, url);
        QFETCH(bool, warned);
        ktr::setDefaultServiceHostForTesting(builtIn.isEmpty() ? QUrl() : QUrl(builtIn));
        if (!env.isEmpty())
            qputenv("KTR_SERVICE_HOST", env.toUtf8());
        ktr::test::LogCapture log;
        QCOMPARE(ktr::serviceUrl(QStringLiteral("/api/auth.php"), QStringLiteral("action=me")),
                 url.isEmpty() ? QUrl() : QUrl(url));
        QCOMPARE(ktr::serviceConfigured(), !url.isEmpty());
        QCOMPARE(ktr::serviceHost().isEmpty(), url.isEmpty());
        QCOMPARE(log.contains(QStringLiteral("KTR_SERVICE_HOST refused")), warned);
    }

    // The one line the entry points show names the variable, in both languages.
    void notConfiguredLine_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("zh") << 0;
        QTest::newRow("en") << 1;
    }
    void notConfiguredLine()
    {
        QFETCH(int, language);
        Lang::setLanguage(language);
        const QString text = ktr::noServiceText();
        QVERIFY(text.contains(QStringLiteral("KTR_SERVICE_HOST")));
        QVERIFY(!text.contains(QLatin1Char('\n')));
        QCOMPARE(text == QString::fromUtf8(ktr::noServiceSource()), language == 0);
        if (language == 1)
            QVERIFY(text.startsWith(QStringLiteral("No online service")));
    }

    // A page of the service opens in the browser; without a service the user is told so and nothing opens.
    void servicePage_data()
    {
        QTest::addColumn<QString>("env");
        QTest::addColumn<QString>("opened"); // empty = nothing opened, the notice shown
        QTest::newRow("service") << "http://127.0.0.1:8765"
                                 << "http://127.0.0.1:8765/forgot-lock.html";
        QTest::newRow("no service") << ""
                                    << "";
    }
    void servicePage()
    {
        QFETCH(QString, env);
        QFETCH(QString, opened);
        ktr::setDefaultServiceHostForTesting(QUrl());
        if (!env.isEmpty())
            qputenv("KTR_SERVICE_HOST", env.toUtf8());
        QList<QUrl> urls;
        QStringList notices;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            urls << url;
            return true;
        };
        seams.information = [&](QWidget*, const QString&, const QString& text, int) { notices << text; };
        ktr::dialogs::ScopedSeams scoped(seams);
        QCOMPARE(ktr::openServicePage(nullptr, QStringLiteral("/forgot-lock.html")), !opened.isEmpty());
        QCOMPARE(urls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
        QCOMPARE(notices, opened.isEmpty() ? QStringList{ktr::noServiceText()} : QStringList());
    }
};

KTR_TEST_MAIN(TestServiceHost)
#include "tst_servicehost.moc"
