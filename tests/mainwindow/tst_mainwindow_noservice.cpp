// A panel built and started without a service address talks to nobody: none of its polls starts, no socket
// is opened and no name is looked up, and every online entry point says in one line why nothing happens.
// With the fake host's address the same start reaches the host, so the watch is seen to see.

#include "account/authstore.h"
#include "account/logindialog.h"
#include "account/sessioncontroller.h"
#include "connectlog.h"
#include "fakeservicehost.h"
#include "logcapture.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/windowonline.h"
#include "noticeroutes.h"
#include "panel/titlebaractions.h"
#include "servicehoststate.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/servicehost.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QTimer>
#include <QtTest/QtTest>

using Host = ktr::test::FakeServiceHost;
using namespace ktr::test;

namespace {

QString authFile()
{
    return appDataDir() + QStringLiteral("/auth.json");
}

// A signed-in user with a remembered password: every start-up step of the account has something to do.
void storeSignedInSession()
{
    StoredSession s;
    s.token = QStringLiteral("stored-token");
    s.username = QStringLiteral("alice");
    s.password = QStringLiteral("secret66");
    s.remember = true;
    s.autologin = true;
    QString message;
    QVERIFY(saveAuthFile(authFile(), s, &message));
}

// Lets queued sends go out. Nothing can be awaited when the point is that nothing happens: the requests
// of a start are queued on the event loop, so a few turns of it show any that were made.
void settle()
{
    for (int i = 0; i < 5; ++i)
        QTest::qWait(20);
}

} // namespace

class TestMainWindowNoService : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    std::unique_ptr<ServiceHostState> m_state;
    std::unique_ptr<ktr::dialogs::ScopedSeams> m_seams;
    QList<QUrl> m_opened;
    QStringList m_notices;
    int m_loginRuns = 0;

    std::unique_ptr<MainWindow> makeWindow()
    {
        auto w = std::make_unique<MainWindow>();
        w->session()->setLoginRunner([this](LoginDialog&) {
            ++m_loginRuns;
            return int(QDialog::Rejected);
        });
        return w;
    }

private Q_SLOTS:
    void initTestCase() { useRedIconExtractor(); }
    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void init()
    {
        QFile::remove(authFile());
        const QString stateDir = freshDir(QStringLiteral("state"));
        QVERIFY(writeFile(stateDir + QStringLiteral("/accounts.json"),
                          R"({"users":[{"username":"alice","password":"secret66",)"
                          R"("sessions":[{"token":"stored-token","device":"d","name":"n"}]}]})"));
        m_host = std::make_unique<Host>(Host::Scheme::Http);
        m_state = std::make_unique<ServiceHostState>(stateDir);
        m_state->install(*m_host);
        installNoticeRoutes(*m_host, stateDir);
        QVERIFY(m_host->listen());
        // A build without an address, whatever address this build carries.
        ktr::setDefaultServiceHostForTesting(QUrl());
        qunsetenv("KTR_SERVICE_HOST");
        m_opened.clear();
        m_notices.clear();
        m_loginRuns = 0;
        ktr::dialogs::Seams seams;
        seams.openUrl = [this](const QUrl& url) {
            m_opened.append(url);
            return true;
        };
        seams.information = [this](QWidget*, const QString&, const QString& text, int) { m_notices.append(text); };
        seams.question = [](QWidget*, const QString&, const QString&) { return 0; };
        installSeams(m_seams, std::move(seams));
        clearConnectAttempts();
    }

    void cleanup()
    {
        m_seams.reset();
        m_host.reset();
        m_state.reset();
        Lang::setLanguage(0);
        ktr::resetDefaultServiceHostForTesting();
        qputenv("KTR_SERVICE_HOST", "http://127.0.0.1:9");
    }

    // The start of a signed-in panel: the token check, the heartbeat with its lock synchronisation and host
    // report, the unread count, the notice poll and the update check. Without a service none is armed and none
    // sends even when its time comes; with the fake's address all of them reach it.
    void startReachesNoHost_data()
    {
        QTest::addColumn<bool>("configured");
        QTest::newRow("no service") << false;
        QTest::newRow("the fake host's address") << true;
    }
    void startReachesNoHost()
    {
        QFETCH(bool, configured);
        if (configured)
            qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        storeSignedInSession();
        LogCapture log;
        auto w = makeWindow();
        QCOMPARE(w->session()->token(), QStringLiteral("stored-token")); // kept either way

        QTimer* notices = w->findChild<QTimer*>(QStringLiteral("noticeFirstTimer"));
        QTimer* update = w->findChild<QTimer*>(QStringLiteral("updateCheckTimer"));
        QTimer* unread = w->findChild<QTimer*>(QStringLiteral("supportUnreadTimer"));
        QTimer* heartbeat = w->session()->heartbeatTimer();
        QTimer* startupStep = w->session()->startupStepTimer();
        const auto armed = [](QTimer* t) { return t && t->isActive(); };
        QCOMPARE(armed(notices), configured);
        QCOMPARE(armed(update), configured);
        QCOMPARE(armed(unread), configured);
        QCOMPARE(armed(heartbeat), configured);
        QCOMPARE(armed(startupStep), configured);
        // Each one's time comes (a timer that was never made has no time to come).
        for (QTimer* t : {notices, update, unread, heartbeat, startupStep})
            if (t)
                QMetaObject::invokeMethod(t, "timeout");

        if (configured) {
            const QString port = QString::number(m_host->baseUrl().port());
            const auto asked = [this](const char* path) {
                const QList<Host::Request> requests = m_host->requests();
                return std::any_of(requests.cbegin(), requests.cend(),
                                   [path](const Host::Request& r) { return r.path == QLatin1String(path); });
            };
            for (const char* path :
                 {"/api/auth.php", "/api/notice.php", "/api/support.php", "/api/uc.php", "/update/apps/panel.json"})
                QTRY_VERIFY2(asked(path), path);
            const QStringList attempts = connectAttempts();
            QVERIFY(!attempts.isEmpty());
            for (const QString& a : attempts)
                QCOMPARE(a, QStringLiteral("connect 127.0.0.1:") + port);
            return;
        }
        settle();
        QCOMPARE(connectAttempts(), QStringList());
        QCOMPARE(m_host->requests().size(), 0);
        QVERIFY(log.contains(QStringLiteral("[servicehost] no service host configured")));
        for (const QString& m : log.messages())
            QVERIFY2(!m.contains(QLatin1String("transportError")) && !m.contains(QLatin1String("http =")),
                     qPrintable(m));
        QCOMPARE(m_loginRuns, 0);
    }

    // Each online entry point of the window tells why nothing happens, in the language shown, and sends nothing.
    void entryPointsSayNoService_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("language");
        for (const char* entry :
             {"market button", "support chat button", "gear login", "gear update check", "gear web site"}) {
            QTest::addRow("%s, zh", entry) << QString::fromLatin1(entry) << 0;
            QTest::addRow("%s, en", entry) << QString::fromLatin1(entry) << 1;
        }
    }
    void entryPointsSayNoService()
    {
        QFETCH(QString, entry);
        QFETCH(int, language);
        auto w = makeWindow();
        Lang::setLanguage(language);
        const QString line = ktr::noServiceText();
        if (entry == QLatin1String("market button"))
            w->onUiButton(UiBtn::Market);
        else if (entry == QLatin1String("support chat button"))
            w->onUiButton(UiBtn::Feedback);
        else if (entry == QLatin1String("gear login"))
            w->onGearMenuAction(GearMenuPopup::SignIn);
        else if (entry == QLatin1String("gear update check"))
            w->onGearMenuAction(GearMenuPopup::CheckUpdate);
        else
            w->onGearMenuAction(GearMenuPopup::Website);

        if (entry == QLatin1String("gear web site")) {
            QCOMPARE(m_notices, QStringList{line});
            QCOMPARE(m_opened, QList<QUrl>());
        } else {
            QCOMPARE(toastText(*w), line);
        }
        QCOMPARE(m_loginRuns, 0);
        QVERIFY(!w->online()->appMarket());
        QVERIFY(!w->online()->supportChat());
        QVERIFY(w->findChildren<LoginDialog*>().isEmpty());
        settle();
        QCOMPARE(connectAttempts(), QStringList());
        QCOMPARE(m_host->requests().size(), 0);
    }
};

KTR_TEST_MAIN(TestMainWindowNoService)
#include "tst_mainwindow_noservice.moc"
