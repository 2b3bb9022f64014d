#include "app/agentmode.h"
#include "app/agentserver.h"
#include "logcapture.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"

#include <QApplication>
#include <QFile>
#include <QLocalSocket>
#include <QMenu>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// Records what the agent asks of the process.
struct FakeProcess
{
    QStringList calls;
    bool lockHeld = true;
    bool launchWorks = true;
    bool lockFree = true;
    bool socketPresentAtLaunch = true;
    int exitCode = -1;

    AgentEnvironment env(int msPerIdleSecond = 1000)
    {
        AgentEnvironment e;
        e.writeInstallPath = [this] { calls << "installPath"; };
        e.joinCleanupThread = [this] { calls << "join"; };
        e.holdsInstanceLock = [this] { return lockHeld; };
        e.releaseInstanceLock = [this] {
            calls << "release";
            lockHeld = false;
        };
        e.reacquireInstanceLock = [this] {
            calls << "reacquire";
            lockHeld = lockFree;
            return lockFree;
        };
        e.launchPanel = [this] {
            calls << "launch";
            socketPresentAtLaunch = QFile::exists(agentPipeName());
            return launchWorks;
        };
        e.exitLoop = [this](int code) {
            calls << QStringLiteral("exit %1").arg(code);
            exitCode = code;
        };
        e.hardExit = [this](int code) { calls << QStringLiteral("hardExit %1").arg(code); };
        e.msPerIdleSecond = msPerIdleSecond;
        return e;
    }
};

// Sends one request line and waits for the server to close the connection.
QByteArray request(const QByteArray& line)
{
    QLocalSocket client;
    QByteArray received;
    QObject::connect(&client, &QLocalSocket::readyRead, [&] { received += client.readAll(); });
    client.connectToServer(agentPipeName());
    if (!client.waitForConnected(1000))
        return {};
    client.write(line + '\n');
    const bool closed = QTest::qWaitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }, 2000);
    return closed ? received : QByteArray();
}

} // namespace

class TestAgentMode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { qunsetenv("KTR_AGENT_IDLE_SEC"); }

    void idleSetting_data()
    {
        QTest::addColumn<QByteArray>("value"); // null: unset
        QTest::addColumn<int>("intervalMs");   // 0: resident
        QTest::newRow("unset") << QByteArray() << 0;
        QTest::newRow("0") << QByteArray("0") << 0;
        QTest::newRow("-5") << QByteArray("-5") << 0;
        QTest::newRow("abc") << QByteArray("abc") << 0;
        QTest::newRow("30") << QByteArray("30") << 30000;
        QTest::newRow("longer than a timer counts") << QByteArray("99999999") << INT_MAX;
    }
    void idleSetting()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, intervalMs);
        if (!value.isNull())
            qputenv("KTR_AGENT_IDLE_SEC", value);
        ktr::test::LogCapture log;
        FakeProcess process;
        AgentMode agent(process.env(), nullptr);
        QVERIFY(agent.start(nullptr));
        QCOMPARE(process.calls, QStringList{"installPath"});
        if (intervalMs == 0) {
            QVERIFY(!agent.idleTimer());
            QVERIFY(log.contains("agent mode: resident mode (no idle exit)"));
        } else {
            QVERIFY(agent.idleTimer()->isActive());
            QCOMPARE(agent.idleTimer()->interval(), intervalMs);
            QVERIFY(log.contains("agent mode: idle auto-exit enabled, idle(s) = " + QString::fromLatin1(value)));
        }
    }

    void clientsKeepTheAgentAliveUntilIdle()
    {
        // One idle "second" lasts 50 ms here: 8 of them are 400 ms, ten times the gap between the pings, so a
        // loaded machine that delays a ping a little doesn't end the agent early.
        qputenv("KTR_AGENT_IDLE_SEC", "8");
        ktr::test::LogCapture log;
        FakeProcess process;
        AgentMode agent(process.env(50), nullptr);
        QVERIFY(agent.start(nullptr));
        for (int i = 0; i < 5; ++i) {
            QTest::qWait(40);
            QVERIFY(request("{\"cmd\":\"ping\"}").startsWith("{\"cmd\":\"ping\""));
        }
        QCOMPARE(process.exitCode, -1); // 200 ms passed, never 400 ms without a client
        QTRY_COMPARE_WITH_TIMEOUT(process.exitCode, 0, 2000);
        QVERIFY(log.contains("agent mode: idle timeout, quitting"));
    }

    void showHandsOverOnce()
    {
        ktr::test::LogCapture log;
        FakeProcess process;
        AgentMode agent(process.env(), nullptr);
        QVERIFY(agent.start(nullptr));
        const QByteArray reply = request("{\"cmd\":\"show\"}");
        QCOMPARE(reply, QByteArray("{\"cmd\":\"show\",\"ok\":true,\"v\":1}\n"));
        QTRY_VERIFY(agent.handingOver());
        QCOMPARE(process.calls, (QStringList{"installPath", "release", "launch", "exit 0"}));
        // The socket was gone before the panel started, so the panel can take the name.
        QVERIFY(!process.socketPresentAtLaunch);
        QVERIFY(log.contains("agent: promoting to GUI panel"));

        // A tray double-click, the menu entry and a second double-click arriving now start nothing more.
        Q_EMIT agent.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
        agent.trayIcon()->contextMenu()->actions().at(0)->trigger();
        Q_EMIT agent.trayIcon()->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(process.calls.count("launch"), 1);
    }

    void failedLaunchStaysResident()
    {
        ktr::test::LogCapture log;
        FakeProcess process;
        process.launchWorks = false;
        AgentMode agent(process.env(), nullptr);
        QVERIFY(agent.start(nullptr));
        Q_EMIT agent.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(process.calls, (QStringList{"installPath", "release", "launch", "reacquire"}));
        QVERIFY(log.contains("agent: failed to launch GUI panel, staying resident:"));
        QVERIFY(!agent.handingOver());
        QVERIFY(process.lockHeld);
        // Still serving, and a later request may try again.
        QVERIFY(request("{\"cmd\":\"ping\"}").startsWith("{\"cmd\":\"ping\""));
        process.launchWorks = true;
        QVERIFY(request("{\"cmd\":\"show\"}").startsWith("{\"cmd\":\"show\""));
        QTRY_VERIFY(agent.handingOver());
        QCOMPARE(process.calls.count("launch"), 2);
        QCOMPARE(process.exitCode, 0);
    }

    void failedLaunchWithTheLockTakenQuits()
    {
        ktr::test::LogCapture log;
        FakeProcess process;
        process.launchWorks = false;
        process.lockFree = false;
        AgentMode agent(process.env(), nullptr);
        QVERIFY(agent.start(nullptr));
        agent.promoteAgentToPanel();
        QCOMPARE(process.calls, (QStringList{"installPath", "release", "launch", "reacquire", "exit 0"}));
        QVERIFY(log.contains("agent: mutex owned by another instance, quitting"));
        QVERIFY(agent.handingOver());
        agent.promoteAgentToPanel();
        QCOMPARE(process.calls.count("launch"), 1);
    }

    void tray()
    {
        ktr::test::LogCapture log;
        FakeProcess process;
        AgentMode agent(process.env(), nullptr);
        QVERIFY(agent.start(nullptr));
        QSystemTrayIcon* tray = agent.trayIcon();
        QVERIFY(tray);
        QVERIFY(!tray->icon().isNull());
        QCOMPARE(tray->toolTip(), Lang::tr("青岚舟面板 · 后台服务运行中"));
        const QList<QAction*> actions = tray->contextMenu()->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions.at(0)->text(), Lang::tr("打开主面板"));
        QCOMPARE(actions.at(1)->text(), Lang::tr("退出后台服务"));
        // Offscreen there is no tray: the agent says so and serves its socket all the same.
        QCOMPARE(log.contains("agent mode: no system tray available"), !QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(log.contains("agent mode: tray shown (resident)"));
        QVERIFY(agent.server()->isListening());

        Q_EMIT tray->activated(QSystemTrayIcon::Context);
        Q_EMIT tray->activated(QSystemTrayIcon::MiddleClick);
        QCOMPARE(process.calls.count("launch"), 0);
        actions.at(1)->trigger();
        QCOMPARE(process.exitCode, 0);
        QCOMPARE(process.calls.count("launch"), 0);
    }

    // The agent reads the language the user chose in the panel; its tray follows a later switch too.
    void trayInTheStoredLanguage()
    {
        const QString settings = appDataDir() + QStringLiteral("/settings.json");
        QVERIFY(ktr::test::writeFile(settings, "{\"language\": 1}"));
        const auto restore = qScopeGuard([&] {
            QFile::remove(settings);
            Lang::setLanguage(0);
        });
        FakeProcess process;
        AgentMode agent(process.env(), nullptr);
        QVERIFY(agent.start(nullptr));
        QCOMPARE(agent.trayIcon()->toolTip(), QStringLiteral("Kestrune Panel · Background service running"));
        QCOMPARE(agent.trayIcon()->contextMenu()->actions().at(1)->text(), QStringLiteral("Exit Background Service"));
        Lang::setLanguage(0);
        Lang::notifyChanged();
        QCOMPARE(agent.trayIcon()->toolTip(), QStringLiteral("青岚舟面板 · 后台服务运行中"));
    }

    void storedUiLanguage_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("expected");
        QTest::newRow("no file") << QByteArray() << 0;
        QTest::newRow("english") << QByteArray("{\"language\": 1}") << 1;
        QTest::newRow("chinese") << QByteArray("{\"language\": 0}") << 0;
        QTest::newRow("damaged") << QByteArray("{\"language\": 1") << 0;
        QTest::newRow("a string") << QByteArray("{\"language\": \"1\"}") << 0;
    }
    void storedUiLanguage()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, expected);
        const QString path = ktr::test::testRoot() + QStringLiteral("/stored-language.json");
        QFile::remove(path);
        if (!content.isNull())
            QVERIFY(ktr::test::writeFile(path, content));
        QCOMPARE(::storedUiLanguage(path), expected);
        if (!content.isNull())
            QCOMPARE(ktr::test::readFile(path), content); // only read
    }

    void runEndsTheProcessWithTheLoopCode()
    {
        ktr::test::LogCapture log;
        FakeProcess process;
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCOMPARE(runAgentMode(*qApp, process.env()), 0);
        QVERIFY(log.contains("agent mode: event loop exited, code 0"));
        QCOMPARE(process.calls, (QStringList{"installPath", "join", "hardExit 0"}));
        qDeleteAll(qApp->findChildren<AgentMode*>());
        QVERIFY(!QFile::exists(agentPipeName()));
    }

    void runWithoutTheSocketEndsWithCode2()
    {
        AgentServer other;
        QVERIFY(other.start());
        ktr::test::LogCapture log;
        FakeProcess process;
        QCOMPARE(runAgentMode(*qApp, process.env()), 2);
        QVERIFY(log.contains("agent mode: listen failed ->"));
        QCOMPARE(process.calls, (QStringList{"installPath", "join", "hardExit 2"}));
        const QList<AgentMode*> agents = qApp->findChildren<AgentMode*>();
        QCOMPARE(agents.size(), 1);
        QVERIFY(!agents.first()->trayIcon());
        qDeleteAll(agents);
    }
};

KTR_TEST_MAIN(TestAgentMode)
#include "tst_agentmode.moc"
