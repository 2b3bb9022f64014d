// The main window's online side against the service host with memory: the stored session at start, the
// automatic login, the heartbeat with the lock synchronisation, login and logout from the gear menu, the loss of
// the session, the support chat with its unread badge and the server notices.

#include "account/authstore.h"
#include "account/kickconfirmdialog.h"
#include "account/logindialog.h"
#include "account/sessioncontroller.h"
#include "account/sessionkickeddialog.h"
#include "fakeservicehost.h"
#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "logcapture.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/windowonline.h"
#include "market/appmarketdialog.h"
#include "noticeroutes.h"
#include "panel/bottombar.h"
#include "panel/titlebaractions.h"
#include "servicehoststate.h"
#include "support/noticedialog.h"
#include "support/noticeservice.h"
#include "support/supportchatdialog.h"
#include "support/supportpoller.h"
#include "support/unreadpoller.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/dialogseams.h"
#include "ui/servicehost.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>
#include <QtTest/QtTest>

#include <atomic>
#include <memory>

using Host = ktr::test::FakeServiceHost;
Q_DECLARE_METATYPE(Host::Reply)
using namespace ktr::test;

namespace {

QString authFile()
{
    return appDataDir() + QStringLiteral("/auth.json");
}

QString actionOf(const QUrl& url)
{
    return QUrlQuery(url).queryItemValue(QStringLiteral("action"));
}

void fire(QTimer* timer)
{
    QVERIFY(timer);
    QMetaObject::invokeMethod(timer, "timeout");
}

} // namespace

class TestMainWindowOnline : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    std::unique_ptr<ServiceHostState> m_state;
    QString m_stateDir;
    std::unique_ptr<ktr::dialogs::ScopedSeams> m_seams;
    QList<QUrl> m_opened;
    QHash<QString, int> m_finished; // finished replies of the window's manager, by action
    int m_loginRuns = 0;
    std::shared_ptr<std::atomic<int>> m_terminations;

    // A login through the real dialog (its own request to the host); an empty user cancels it.
    SessionController::LoginRunner loginAs(const QString& user, const QString& password, bool remember = false,
                                           bool autoLogin = false)
    {
        return [this, user, password, remember, autoLogin](LoginDialog& d) {
            ++m_loginRuns;
            if (user.isEmpty())
                return int(QDialog::Rejected);
            d.setCredentials(user, password, remember);
            if (autoLogin && !d.autoLogin())
                QTest::mouseClick(&d, Qt::LeftButton, {}, d.autoLoginRect().center());
            QSignalSpy done(&d, &QDialog::finished);
            d.submit();
            if (done.isEmpty() && !done.wait(5000))
                return int(QDialog::Rejected);
            return d.result();
        };
    }

    std::unique_ptr<MainWindow> makeWindow()
    {
        auto w = std::make_unique<MainWindow>();
        // Replies of the start-up check can't have arrived yet: the window's hooks are set before any is handled.
        w->session()->setLoginRunner(loginAs(QString(), QString()));
        auto count = m_terminations;
        w->session()->setAppTerminator([count] {
            ++*count;
            return QStringList{QStringLiteral("Viewer.bin")};
        });
        connect(w->online()->network(), &QNetworkAccessManager::finished, this,
                [this](QNetworkReply* reply) { ++m_finished[actionOf(reply->url())]; });
        return w;
    }

    static QList<SessionKickedDialog*> openKickedDialogs(const MainWindow& w)
    {
        QList<SessionKickedDialog*> out;
        for (SessionKickedDialog* d : w.findChildren<SessionKickedDialog*>())
            if (d->isVisible())
                out.append(d);
        return out;
    }

    int requestsOf(const QString& path, const QString& action) const
    {
        int n = 0;
        for (const Host::Request& r : m_host->requests())
            n += r.path == path && r.action == action;
        return n;
    }

    QList<Host::Request> requestsWith(const QString& action) const
    {
        QList<Host::Request> out;
        for (const Host::Request& r : m_host->requests())
            if (r.action == action)
                out.append(r);
        return out;
    }

    // A live session of alice as the service made it (another window logged in before).
    QString aliceToken()
    {
        for (const QJsonValue& s : m_state->user(QStringLiteral("alice")).value(QStringLiteral("sessions")).toArray())
            return s.toObject().value(QStringLiteral("token")).toString();
        return QString();
    }

    static void storeSession(const QString& token, bool remember = false, bool autologin = false,
                             const QString& password = QString())
    {
        StoredSession s;
        s.token = token;
        s.username = QStringLiteral("alice");
        s.remember = remember;
        s.autologin = autologin;
        s.password = password;
        QString message;
        QVERIFY(saveAuthFile(authFile(), s, &message));
    }

    // Logs alice in through the gear menu of the window.
    void gearLogin(MainWindow& w, bool remember = false)
    {
        w.session()->setLoginRunner(loginAs(QStringLiteral("alice"), QStringLiteral("secret66"), remember));
        w.onGearMenuAction(GearMenuPopup::SignIn);
        QVERIFY(w.session()->signedIn());
    }

private Q_SLOTS:
    void initTestCase() { useRedIconExtractor(); }
    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void init()
    {
        QDir(authFile()).removeRecursively(); // left by a failed write test
        QFile::remove(authFile());
        QFile::remove(appDataDir() + QStringLiteral("/notice_seen.txt"));
        m_stateDir = freshDir(QStringLiteral("state"));
        QVERIFY(writeFile(m_stateDir + QStringLiteral("/accounts.json"),
                          R"({"users":[{"username":"alice","password":"secret66","sessions":[]}]})"));
        m_host = std::make_unique<Host>(Host::Scheme::Http);
        m_state = std::make_unique<ServiceHostState>(m_stateDir);
        m_state->install(*m_host);
        installNoticeRoutes(*m_host, m_stateDir);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_opened.clear();
        m_finished.clear();
        m_loginRuns = 0;
        m_terminations = std::make_shared<std::atomic<int>>(0);
        ktr::dialogs::Seams seams;
        seams.openUrl = [this](const QUrl& url) {
            m_opened.append(url);
            return true;
        };
        seams.question = [](QWidget*, const QString&, const QString&) { return 0; };
        seams.information = [](QWidget*, const QString&, const QString&, int) {};
        installSeams(m_seams, std::move(seams));
    }

    void cleanup()
    {
        m_seams.reset();
        m_host.reset();
        m_state.reset();
        qputenv("KTR_SERVICE_HOST", "http://127.0.0.1:9");
    }

    // The stored session at start: kept while the service is unreachable or accepts it, ended when it refuses.
    void storedSessionAtStart_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("kept");
        QTest::newRow("accepted") << "live" << true;
        QTest::newRow("service unreachable") << "drop" << true;
        QTest::newRow("refused with 401") << "revoked" << false;
        QTest::newRow("service in maintenance (503)") << "503" << true;
    }
    void storedSessionAtStart()
    {
        QFETCH(QString, mode);
        QFETCH(bool, kept);
        QString token = QStringLiteral("revoked-token");
        if (mode == QLatin1String("live")) {
            auto first = makeWindow();
            gearLogin(*first);
            token = aliceToken();
            m_loginRuns = 0;
        } else if (mode == QLatin1String("drop")) {
            m_host->route("POST", QStringLiteral("/api/auth.php"), QStringLiteral("me"), Host::Reply::dropped());
        } else if (mode == QLatin1String("503")) {
            m_host->route("POST", QStringLiteral("/api/auth.php"), QStringLiteral("me"),
                          Host::Reply::raw(503, "<html>maintenance</html>", "text/html"));
        }
        QVERIFY(!token.isEmpty());
        storeSession(token);
        m_finished.clear();
        m_host->clearRequests();

        auto w = makeWindow();
        QCOMPARE(w->session()->token(), token);
        QTRY_COMPARE(m_finished.value(QStringLiteral("me")), 1);
        QCOMPARE(requestsWith(QStringLiteral("me")).first().json.value(QStringLiteral("token")).toString(), token);
        QCOMPARE(w->session()->signedIn(), kept);
        QCOMPARE(m_loginRuns, 0);
        if (kept) {
            QVERIFY(openKickedDialogs(*w).isEmpty());
            QCOMPARE(int(*m_terminations), 0);
            QCOMPARE(loadAuthFile(authFile()).token, token);
            return;
        }
        // Cleared and saved, the service's message shown, the market apps ended on the worker.
        QCOMPARE(loadAuthFile(authFile()).token, QString());
        QCOMPARE(loadAuthFile(authFile()).username, QStringLiteral("alice"));
        const QList<SessionKickedDialog*> dialogs = openKickedDialogs(*w);
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs.first()->reasonText(), QStringLiteral("登录已失效，请重新登录"));
        QTRY_VERIFY(!w->session()->marketAppsEnding());
        QCOMPARE(int(*m_terminations), 1);
        QCOMPARE(dialogs.first()->killedApps(), QStringList{QStringLiteral("Viewer.bin")});
        QVERIFY(!dialogs.first()->isPending());
    }

    // A slow refusal of the old token must not end the session the user made meanwhile: whether it answers the
    // start-up check or a later heartbeat.
    void staleStartupRefusalKeepsNewLogin_data()
    {
        QTest::addColumn<int>("refused"); // which check of the old token is refused late: 1 at start, 2 a beat
        QTest::newRow("start-up check") << 1;
        QTest::newRow("heartbeat") << 2;
    }
    void staleStartupRefusalKeepsNewLogin()
    {
        QFETCH(int, refused);
        storeSession(QStringLiteral("old-token"));
        int oldChecks = 0;
        m_host->route("POST", QStringLiteral("/api/auth.php"), QStringLiteral("me"), [&](const Host::Request& r) {
            if (r.json.value(QStringLiteral("token")).toString() == QLatin1String("old-token") &&
                ++oldChecks == refused) {
                Host::Reply late = Host::Reply::json(
                    QJsonObject{{"ok", 0}, {"code", "NOT_LOGIN"}, {"msg", QStringLiteral("登录已失效，请重新登录")}},
                    401);
                late.delayMs = 400;
                return late;
            }
            return Host::Reply::json(QJsonObject{{"ok", 1}});
        });
        auto w = makeWindow();
        QCOMPARE(w->session()->token(), QStringLiteral("old-token"));
        if (refused == 2) {
            QTRY_COMPARE(m_finished.value(QStringLiteral("me")), 1); // the start-up check accepted it
            QCOMPARE(w->session()->token(), QStringLiteral("old-token"));
            fire(w->session()->heartbeatTimer());
            QTRY_COMPARE(oldChecks, 2);
        }
        // The market asks for a login (its download was refused) while the check of the old token is on its way.
        w->onUiButton(UiBtn::Market);
        w->session()->setLoginRunner(loginAs(QStringLiteral("alice"), QStringLiteral("secret66")));
        emit w->online()->appMarket()->loginRequested();
        QVERIFY(w->session()->signedIn());
        const QString fresh = w->session()->token();
        QVERIFY(fresh != QLatin1String("old-token"));
        QTRY_COMPARE(m_finished.value(QStringLiteral("me")), refused);
        QCOMPARE(w->session()->token(), fresh);
        QCOMPARE(w->online()->appMarket()->token(), fresh);
        QVERIFY(openKickedDialogs(*w).isEmpty());
        QCOMPARE(int(*m_terminations), 0);
        QCOMPARE(loadAuthFile(authFile()).token, fresh);
    }

    // The remembered login at start, when the toggles allow it.
    void autoLoginAtStart_data()
    {
        QTest::addColumn<bool>("autologin");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("toast");
        QTest::newRow("logs in") << true << "secret66"
                                 << "已自动登录：alice";
        QTest::newRow("wrong password") << true << "wrong666"
                                        << "自动登录失败，请重新登录";
        QTest::newRow("not wanted") << false << "secret66"
                                    << "";
    }
    void autoLoginAtStart()
    {
        QFETCH(bool, autologin);
        QFETCH(QString, password);
        QFETCH(QString, toast);
        storeSession(QString(), true, autologin, password);
        auto w = makeWindow();
        if (toast.isEmpty()) {
            QCOMPARE(requestsOf(QStringLiteral("/api/auth.php"), QStringLiteral("login")), 0);
            QVERIFY(!w->session()->signedIn());
            return;
        }
        QTRY_COMPARE(m_finished.value(QStringLiteral("login")), 1);
        QCOMPARE(toastText(*w), toast);
        const bool loggedIn = password == QLatin1String("secret66");
        QCOMPARE(w->session()->signedIn(), loggedIn);
        const StoredSession saved = loadAuthFile(authFile());
        QCOMPARE(saved.token, w->session()->token());
        // The remembered credentials and toggles stay either way.
        QCOMPARE(saved.password, password);
        QVERIFY(saved.remember && saved.autologin);
    }

    // The remembered login meets a full device quota: no session came, so it failed (name and password kept),
    // and the user decides, as in a manual login, whether the other computer is signed out.
    void autoLoginWithFullDeviceQuota_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("declined") << false;
        QTest::newRow("confirmed") << true;
    }
    void autoLoginWithFullDeviceQuota()
    {
        QFETCH(bool, confirm);
        QVERIFY(writeFile(m_stateDir + QStringLiteral("/config.json"), R"({"maxDevices":1})"));
        QVERIFY(writeFile(
            m_stateDir + QStringLiteral("/accounts.json"),
            R"({"users":[{"username":"alice","password":"secret66","sessions":[{"token":"office-token",)"
            R"("device":"office-device","name":"OFFICE-PC","ip":"10.0.0.8","lastSeen":"2026-05-01 09:00"}]}]})"));
        // The state as written now; the first one stays alive for the routes it installed.
        std::unique_ptr<ServiceHostState> first =
            std::exchange(m_state, std::make_unique<ServiceHostState>(m_stateDir));
        m_state->install(*m_host);
        storeSession(QString(), true, true, QStringLiteral("secret66"));
        auto w = makeWindow();
        int asked = 0;
        QString toastWhenAsked;
        QList<AuthManager::KickDevice> devices;
        w->session()->setKickRunner([&](KickConfirmDialog& d) {
            ++asked;
            toastWhenAsked = toastText(*w);
            devices = d.devices();
            return int(confirm ? QDialog::Accepted : QDialog::Rejected);
        });
        QTRY_COMPARE(asked, 1);
        QCOMPARE(toastWhenAsked, QStringLiteral("自动登录失败，请重新登录"));
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices.first().name, QStringLiteral("OFFICE-PC"));
        QCOMPARE(w->session()->userName(), QStringLiteral("alice"));
        const QList<Host::Request> logins = requestsWith(QStringLiteral("login"));
        if (!confirm) {
            QTest::qWait(100); // nothing more may come
            QCOMPARE(requestsWith(QStringLiteral("login")).size(), 1);
            QVERIFY(!w->session()->signedIn());
            const StoredSession saved = loadAuthFile(authFile());
            QCOMPARE(saved.username, QStringLiteral("alice"));
            QCOMPARE(saved.password, QStringLiteral("secret66"));
            QVERIFY(saved.remember && saved.autologin);
            return;
        }
        QTRY_VERIFY(w->session()->signedIn());
        QCOMPARE(asked, 1);
        QCOMPARE(toastText(*w), QStringLiteral("已自动登录：alice"));
        const QList<Host::Request> all = requestsWith(QStringLiteral("login"));
        QCOMPARE(all.size(), 2);
        QVERIFY(!all.first().json.contains(QStringLiteral("confirm")));
        QCOMPARE(all.last().json.value(QStringLiteral("confirm")).toInt(), 1);
        const QJsonArray sessions = m_state->user(QStringLiteral("alice")).value(QStringLiteral("sessions")).toArray();
        QCOMPARE(sessions.size(), 1);
        QVERIFY(sessions.first().toObject().value(QStringLiteral("token")).toString() != QLatin1String("office-token"));
        QCOMPARE(loadAuthFile(authFile()).token, w->session()->token());
        QCOMPARE(loadAuthFile(authFile()).username, QStringLiteral("alice"));
    }

    // "auth.json" can't be written (a folder stands in its place): the login holds for this run, and the
    // user is told that the next start may ask again.
    void authWriteFailureIsShown()
    {
        QVERIFY(QDir().mkpath(authFile()));
        auto w = makeWindow();
        gearLogin(*w);
        QCOMPARE(toastText(*w), QStringLiteral("登录状态写入失败，下次启动可能需要重新登录"));
        QVERIFY(w->session()->signedIn());
        QVERIFY(QDir(authFile()).removeRecursively());
    }

    // Refused downloads in a row share one login dialog: the later request waits for its outcome.
    void refusedDownloadsShareOneLoginDialog()
    {
        auto w = makeWindow();
        w->onUiButton(UiBtn::Market);
        AppMarketDialog* market = w->online()->appMarket();
        QVERIFY(market);
        int runs = 0;
        bool secondReturned = false;
        bool signedInWhenSecondReturned = false;
        w->session()->setLoginRunner([&](LoginDialog& d) {
            ++runs;
            if (runs > 1)
                return int(QDialog::Rejected); // a stacked second dialog
            d.setCredentials(QStringLiteral("alice"), QStringLiteral("secret66"), false);
            QSignalSpy done(&d, &QDialog::finished);
            // The next refusal arrives while this dialog is open; the user then signs in.
            QTimer::singleShot(0, &d, [&] {
                emit market->loginRequested();
                secondReturned = true;
                signedInWhenSecondReturned = w->session()->signedIn();
            });
            QTimer::singleShot(0, &d, [&d] { d.submit(); });
            if (done.isEmpty() && !done.wait(5000))
                return int(QDialog::Rejected);
            return d.result();
        });
        emit market->loginRequested();
        QCOMPARE(runs, 1);
        QVERIFY(secondReturned);
        QVERIFY(signedInWhenSecondReturned);
        QVERIFY(w->session()->signedIn());
        QCOMPARE(market->token(), w->session()->token());
        QVERIFY(!w->session()->loginDialogOpen());
    }

    // The heartbeat checks the token and posts the lock synchronisation, one at a time; the 2.5 s step posts
    // the lock synchronisation and reports the host once per token.
    void heartbeatAndStartupStep()
    {
        auto w = makeWindow();
        QVERIFY(!w->session()->heartbeatTimer()->isActive()); // signed out: no token to check
        QCOMPARE(w->session()->startupStepTimer()->interval(), SessionController::kStartupStepDelayMs);
        QVERIFY(w->session()->startupStepTimer()->isSingleShot() && w->session()->startupStepTimer()->isActive());
        // Logged out: neither asks anything.
        fire(w->session()->heartbeatTimer());
        fire(w->session()->startupStepTimer());
        QCOMPARE(m_host->requests().size(), 0);
        gearLogin(*w);
        QVERIFY(w->session()->heartbeatTimer()->isActive());
        QTRY_COMPARE(m_finished.value(QStringLiteral("lock_sync")), 1); // the login syncs at once
        QTRY_COMPARE(requestsOf(QStringLiteral("/api/uc.php"), QStringLiteral("report_host")), 1);

        QSignalSpy lockReplies(w->session(), &SessionController::lockSyncReplied);
        m_host->route("POST", QStringLiteral("/api/uc.php"), QStringLiteral("lock_sync"), [](const Host::Request&) {
            Host::Reply slow = Host::Reply::json(QJsonObject{{"ok", 1}, {"epoch", 0}});
            slow.delayMs = 150;
            return slow;
        });
        fire(w->session()->heartbeatTimer());
        QVERIFY(w->session()->lockSyncPending());
        fire(w->session()->heartbeatTimer());
        fire(w->session()->startupStepTimer());
        QTRY_COMPARE(m_finished.value(QStringLiteral("me")), 2);
        QTRY_COMPARE(lockReplies.size(), 1);
        QVERIFY(!w->session()->lockSyncPending());
        QCOMPARE(lockReplies.first().at(0).toBool(), true);
        QCOMPARE(QJsonDocument::fromJson(lockReplies.first().at(1).toByteArray()).object().value("ok").toInt(), 1);
        QCOMPARE(requestsOf(QStringLiteral("/api/uc.php"), QStringLiteral("lock_sync")), 2);
        QCOMPARE(requestsOf(QStringLiteral("/api/uc.php"), QStringLiteral("report_host")), 1);
        for (const Host::Request& r : requestsWith(QStringLiteral("lock_sync"))) {
            QCOMPARE(r.jsonKeys(), QStringList{QStringLiteral("token")});
            QCOMPARE(r.json.value(QStringLiteral("token")).toString(), w->session()->token());
        }
        QVERIFY(w->session()->signedIn());
        QVERIFY(openKickedDialogs(*w).isEmpty());
    }

    // Only the service saying the session is gone ends it: an error status, a page or a reply of the wrong shape
    // keeps the session and the running apps, is logged, tried again at the next beat, and told once when it
    // persists; the service answering again ends that.
    void heartbeatKeepsSessionOnServiceFaults_data()
    {
        QTest::addColumn<Host::Reply>("reply");
        QTest::addColumn<bool>("serviceFault"); // told once it persists; an unreachable network is not
        QTest::newRow("503") << Host::Reply::raw(503, "") << true;
        QTest::newRow("500 with a message")
            << Host::Reply::json(QJsonObject{{"ok", 0}, {"msg", "维护中"}}, 500) << true;
        QTest::newRow("404 page") << Host::Reply::raw(404, "<html>not found</html>", "text/html") << true;
        QTest::newRow("200 page") << Host::Reply::raw(200, "<html>captive portal</html>", "text/html") << true;
        QTest::newRow("ok true") << Host::Reply::raw(200, R"({"ok":true})", "application/json") << true;
        QTest::newRow("ok as a string") << Host::Reply::raw(200, R"({"ok":"1"})", "application/json") << true;
        QTest::newRow("array") << Host::Reply::raw(200, R"([{"ok":1}])", "application/json") << true;
        QTest::newRow("network unreachable") << Host::Reply::dropped() << false;
    }
    void heartbeatKeepsSessionOnServiceFaults()
    {
        QFETCH(Host::Reply, reply);
        QFETCH(bool, serviceFault);
        auto w = makeWindow();
        gearLogin(*w);
        const QString token = w->session()->token();
        m_host->route("POST", QStringLiteral("/api/auth.php"), QStringLiteral("me"), reply);
        LogCapture log;
        for (int beat = 1; beat <= SessionController::kUndecidedAnswersBeforeNotice + 1; ++beat) {
            fire(w->session()->heartbeatTimer());
            QTRY_COMPARE(m_finished.value(QStringLiteral("me")), beat);
            QCOMPARE(w->session()->token(), token);
            QVERIFY(openKickedDialogs(*w).isEmpty());
            const bool told = toastText(*w).contains(QStringLiteral("已保留登录"));
            QCOMPARE(told, serviceFault && beat >= SessionController::kUndecidedAnswersBeforeNotice);
        }
        QCOMPARE(log.count(QStringLiteral("token heartbeat undecided, session kept")),
                 SessionController::kUndecidedAnswersBeforeNotice + 1);
        QCOMPARE(int(*m_terminations), 0);
        QCOMPARE(loadAuthFile(authFile()).token, token);
        QVERIFY(w->session()->heartbeatTimer()->isActive());

        // The service answers again and later refuses the token: the session ends then.
        m_host->route("POST", QStringLiteral("/api/auth.php"), QStringLiteral("me"),
                      Host::Reply::json(QJsonObject{{"ok", 0}, {"code", "NOT_LOGIN"}, {"msg", "已下线"}}));
        fire(w->session()->heartbeatTimer());
        QTRY_VERIFY(!w->session()->signedIn());
        QTRY_COMPARE(int(*m_terminations), 1);
    }

    // The service host's maintenance switch: while it lasts every answer is a 503 page and the session stays;
    // after it, the heartbeat finds the session valid again.
    void maintenanceWindowKeepsSession()
    {
        auto w = makeWindow();
        gearLogin(*w);
        QNetworkAccessManager staff;
        auto post = [&](const QJsonObject& body) {
            QNetworkRequest request(QUrl(m_host->baseUrl().toString() + "/api/admin.php?action=outage"));
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            QNetworkReply* reply = staff.post(request, QJsonDocument(body).toJson());
            QSignalSpy done(reply, &QNetworkReply::finished);
            QVERIFY(done.wait(5000));
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
            reply->deleteLater();
        };
        post(QJsonObject{{"seconds", 60}});
        QList<int> statuses;
        connect(w->online()->network(), &QNetworkAccessManager::finished, this, [&statuses](QNetworkReply* reply) {
            if (actionOf(reply->url()) == QLatin1String("me"))
                statuses.append(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
        });
        fire(w->session()->heartbeatTimer());
        QTRY_COMPARE(statuses, QList<int>{503});
        QVERIFY(w->session()->signedIn());
        post(QJsonObject{{"seconds", 0}});
        fire(w->session()->heartbeatTimer());
        QTRY_COMPARE(statuses, (QList<int>{503, 200}));
        QVERIFY(w->session()->signedIn());
        QVERIFY(openKickedDialogs(*w).isEmpty());
        QCOMPARE(int(*m_terminations), 0);
    }

    // The heartbeat's lock synchronisation reaches the lock: an epoch the account raised after the protection
    // was set lifts it.
    void accountUnlockThroughHeartbeat()
    {
        auto w = makeWindow();
        w->settings().protectPasswordHash = QStringLiteral("pbkdf2$x$y");
        w->settings().obfuscateEnabled = true;
        w->settings().progUnlockEpoch = 2;
        gearLogin(*w);
        QTRY_COMPARE(m_finished.value(QStringLiteral("lock_sync")), 1); // epoch 0: nothing
        QVERIFY(!w->settings().protectPasswordHash.isEmpty());
        m_host->route("POST", QStringLiteral("/api/uc.php"), QStringLiteral("lock_sync"),
                      Host::Reply::json(QJsonObject{{"ok", 1}, {"epoch", 3}}));
        fire(w->session()->heartbeatTimer());
        QTRY_COMPARE(m_finished.value(QStringLiteral("lock_sync")), 2);
        QVERIFY(w->settings().protectPasswordHash.isEmpty());
        QVERIFY(!w->settings().obfuscateEnabled);
        QCOMPARE(w->settings().progUnlockEpoch, 3);
        QCOMPARE(toastText(*w), QStringLiteral("已通过账户解除程序锁定"));
    }

    // Two heartbeats refused with NOT_LOGIN: one dialog, one worker; a later loss while it is open adds none.
    void twoRefusalsOneDialogOneWorker()
    {
        auto w = makeWindow();
        gearLogin(*w);
        m_host->route("POST", QStringLiteral("/api/auth.php"), QStringLiteral("me"), [](const Host::Request&) {
            Host::Reply refused = Host::Reply::json(
                QJsonObject{{"ok", 0}, {"code", "NOT_LOGIN"}, {"msg", QStringLiteral("您的账户已在其他电脑登录")}},
                401);
            refused.delayMs = 100;
            return refused;
        });
        fire(w->session()->heartbeatTimer());
        fire(w->session()->heartbeatTimer());
        QTRY_COMPARE(m_finished.value(QStringLiteral("me")), 2);
        QTRY_VERIFY(!w->session()->marketAppsEnding());
        QCOMPARE(openKickedDialogs(*w).size(), 1);
        QCOMPARE(int(*m_terminations), 1);
        QCOMPARE(openKickedDialogs(*w).first()->reason(), SessionKickedDialog::Reason::Elsewhere);

        // A loss while that notice is still open: the session is cleared and saved, no second dialog or worker.
        storeSession(QStringLiteral("another-token"));
        w->session()->load();
        QVERIFY(w->session()->signedIn());
        w->session()->onAuthLost(QStringLiteral("登录已失效，请重新登录"));
        QVERIFY(!w->session()->signedIn());
        QCOMPARE(loadAuthFile(authFile()).token, QString());
        QCOMPARE(openKickedDialogs(*w).size(), 1);
        QVERIFY(!w->session()->marketAppsEnding());
        QCOMPARE(int(*m_terminations), 1);

        // A login closes the notice; the next loss opens a new one.
        gearLogin(*w);
        QTRY_VERIFY(openKickedDialogs(*w).isEmpty());
        w->session()->onAuthLost(QString());
        QCOMPARE(openKickedDialogs(*w).size(), 1);
        QTRY_COMPARE(int(*m_terminations), 2);
    }

    // The gear menu: login once, the web site, logout hands the market and the chat an empty token and clears
    // the chat; a locked panel shows only its lock screen.
    void gearMenu()
    {
        auto w = makeWindow();
        w->onUiButton(UiBtn::Market);
        QVERIFY(w->online()->appMarket());
        QCOMPARE(w->online()->appMarket()->token(), QString());
        w->onGearMenuAction(GearMenuPopup::SignOut);
        QCOMPARE(toastText(*w), QStringLiteral("尚未登录账户"));

        gearLogin(*w, true);
        QCOMPARE(m_loginRuns, 1);
        QCOMPARE(toastText(*w), QStringLiteral("欢迎你，alice"));
        const QString token = w->session()->token();
        QCOMPARE(w->online()->appMarket()->token(), token);
        QCOMPARE(loadAuthFile(authFile()).token, token);
        w->onGearMenuAction(GearMenuPopup::SignIn);
        QCOMPARE(m_loginRuns, 1); // signed in: nothing

        // The chat of this user, with a conversation.
        m_state->addSupportReply(QStringLiteral("alice"), QStringLiteral("您好，请问有什么可以帮您？"));
        w->onUiButton(UiBtn::Feedback);
        SupportChatDialog* chat = w->online()->supportChat();
        QVERIFY(chat && chat->isVisible());
        QCOMPARE(chat->token(), token);
        QTRY_VERIFY(!chat->messages().isEmpty());

        w->onGearMenuAction(GearMenuPopup::Website);
        QCOMPARE(m_opened, QList<QUrl>{ktr::serviceHost()});

        w->onGearMenuAction(GearMenuPopup::SignOut);
        QCOMPARE(toastText(*w), QStringLiteral("退出成功"));
        QCOMPARE(w->session()->token(), QString());
        QCOMPARE(w->online()->appMarket()->token(), QString());
        QCOMPARE(chat->token(), QString());
        QVERIFY(chat->messages().isEmpty());
        QVERIFY(!chat->isVisible());
        QTRY_COMPARE(m_finished.value(QStringLiteral("logout")), 1);
        QCOMPARE(requestsWith(QStringLiteral("logout")).first().json.value(QStringLiteral("token")).toString(), token);
        QVERIFY(aliceToken().isEmpty()); // the service ended it
        // Remembered: the name and password stay, automatic login is off.
        const StoredSession saved = loadAuthFile(authFile());
        QCOMPARE(saved.token, QString());
        QCOMPARE(saved.username, QStringLiteral("alice"));
        QCOMPARE(saved.password, QStringLiteral("secret66"));
        QVERIFY(saved.remember && !saved.autologin);

        // Locked: the lock screen comes up, the action does not run.
        w->settings().uiLocked = true;
        w->onGearMenuAction(GearMenuPopup::SignIn);
        w->onGearMenuAction(GearMenuPopup::Website);
        QCOMPARE(m_loginRuns, 1);
        QCOMPARE(m_opened.size(), 1);
        QVERIFY(w->lockController()->overlay() && w->lockController()->overlay()->isVisibleTo(w.get()));
        w->settings().uiLocked = false;
    }

    // Item 3 of the session: log in, quit, start again (the session is back without a dialog); revoke it on the
    // host: the next heartbeat shows the signed-out dialog.
    void restartThenRevoke()
    {
        {
            auto first = makeWindow();
            gearLogin(*first);
        }
        m_loginRuns = 0;
        const QString token = aliceToken();
        QVERIFY(!token.isEmpty());
        m_finished.clear();
        auto w = makeWindow();
        QCOMPARE(w->session()->token(), token);
        QCOMPARE(w->session()->userName(), QStringLiteral("alice"));
        QTRY_COMPARE(m_finished.value(QStringLiteral("me")), 1);
        QVERIFY(w->session()->signedIn());
        QCOMPARE(m_loginRuns, 0);
        QVERIFY(openKickedDialogs(*w).isEmpty());

        QVERIFY(m_state->revokeSessions(QStringLiteral("alice"), QStringLiteral("您的账户已被管理员强制下线")));
        fire(w->session()->heartbeatTimer());
        QTRY_COMPARE(openKickedDialogs(*w).size(), 1);
        SessionKickedDialog* kicked = openKickedDialogs(*w).first();
        QCOMPARE(kicked->reason(), SessionKickedDialog::Reason::Admin);
        QCOMPARE(kicked->reasonText(), QStringLiteral("您的账户已被管理员强制下线"));
        QVERIFY(!w->session()->signedIn());
        QCOMPARE(loadAuthFile(authFile()).token, QString());
        QTRY_COMPARE(kicked->killedApps(), QStringList{QStringLiteral("Viewer.bin")});
        // Logged out now: the heartbeat stops, and a tick still on its way asks nothing.
        QVERIFY(!w->session()->heartbeatTimer()->isActive());
        const int before = m_host->requests().size();
        fire(w->session()->heartbeatTimer());
        QCOMPARE(m_host->requests().size(), before);
    }

    // The unread badge: polled with the token, not while the chat is open, once when it closes; opening the chat
    // while logged out asks for a login, and a cancelled login leaves the chat closed.
    void supportChatAndBadge()
    {
        auto w = makeWindow();
        UnreadPoller* unread = w->supportPoller()->unread();
        QVERIFY(!unread->timer()->isActive()); // signed out: nothing to count
        QCOMPARE(unread->timer()->interval(), 12000);

        w->onUiButton(UiBtn::Feedback);
        QCOMPARE(m_loginRuns, 1);
        QVERIFY(w->online()->supportChat() && !w->online()->supportChat()->isVisible());

        gearLogin(*w);
        QVERIFY(unread->timer()->isActive());
        m_state->addSupportReply(QStringLiteral("alice"), QStringLiteral("第一条"));
        m_state->addSupportReply(QStringLiteral("alice"), QStringLiteral("第二条"));
        m_finished.clear();
        fire(unread->timer());
        QTRY_COMPARE(m_finished.value(QStringLiteral("unread")), 1);
        QCOMPARE(requestsWith(QStringLiteral("unread")).last().json.value(QStringLiteral("token")).toString(),
                 w->session()->token());
        QCOMPARE(w->bottomBar()->badgeCount(), 2);

        w->onUiButton(UiBtn::Feedback);
        SupportChatDialog* chat = w->online()->supportChat();
        QVERIFY(chat->isVisible());
        QCOMPARE(w->bottomBar()->badgeCount(), 0);
        QCOMPARE(chat->pos(), w->mapToGlobal(QPoint(w->width() - 440, w->height() - 378)));
        const int unreadBefore = requestsWith(QStringLiteral("unread")).size();
        fire(unread->timer());
        w->supportPoller()->pollUnread();
        QCOMPARE(requestsWith(QStringLiteral("unread")).size(), unreadBefore);
        QTRY_COMPARE(requestsWith(QStringLiteral("read")).size() > 0, true);

        chat->hide();
        QTRY_COMPARE(requestsWith(QStringLiteral("unread")).size(), unreadBefore + 1);
        QTRY_COMPARE(m_finished.value(QStringLiteral("unread")), 2);
        QCOMPARE(w->bottomBar()->badgeCount(), 0);
        m_state->addSupportReply(QStringLiteral("alice"), QStringLiteral("第三条"));
        fire(unread->timer());
        QTRY_COMPARE(w->bottomBar()->badgeCount(), 1);
    }

    // A notice 3 s after start (fired here), then every minute; paused while an installer downloads.
    void noticeAppears()
    {
        const QString created = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(writeFile(m_stateDir + QStringLiteral("/notices.json"),
                          QJsonDocument(QJsonObject{{"ok", 1},
                                                    {"gen", 1},
                                                    {"notice", QJsonObject{{"id", 7},
                                                                           {"created", created},
                                                                           {"title", QStringLiteral("维护通知")},
                                                                           {"body", QStringLiteral("今晚维护")}}}})
                              .toJson()));
        auto w = makeWindow();
        NoticeService* notices = w->supportPoller()->notices();
        QVERIFY(notices->firstTimer()->isActive());
        QCOMPARE(notices->firstTimer()->interval(), 3000);
        QVERIFY(notices->timer()->isActive());
        QCOMPARE(notices->timer()->interval(), 60000);
        fire(notices->firstTimer());
        QTRY_VERIFY(notices->openDialog());
        QCOMPARE(notices->shownNoticeId(), 7);
        w->supportPoller()->stop();
        QVERIFY(!notices->timer()->isActive());
        w->supportPoller()->resume();
        QVERIFY(notices->timer()->isActive());
    }
};

KTR_TEST_MAIN(TestMainWindowOnline)
#include "tst_mainwindow_online.moc"
