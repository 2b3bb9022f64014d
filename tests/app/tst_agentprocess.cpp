// The agent and the panel as separate processes of the built program, talking over the agent socket.
#include "app/agentserver.h"
#include "app/qmain.h"
#include "panelprocess.h"
#include "platform/instancelock.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>

#include <csignal>

namespace {

QJsonObject send(const QByteArray& line)
{
    QLocalSocket client;
    client.connectToServer(agentPipeName());
    if (!client.waitForConnected(1000))
        return {};
    client.write(line + '\n');
    QByteArray reply;
    while (client.waitForReadyRead(3000))
        reply += client.readAll();
    reply += client.readAll();
    return QJsonDocument::fromJson(reply).object();
}

// The process holding the single-instance lock (its id is the lock file's first line), if it is ours.
qint64 lockHolder()
{
    const QString lock =
        ktr::platform::SingleInstanceLock::lockPath(QStringLiteral("KestrunePanel_SingleInstanceMutex"));
    const qint64 pid = ktr::test::readFile(lock).split('\n').value(0).toLongLong();
    if (pid <= 0 || QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath() !=
                        QFileInfo(QStringLiteral(KTR_PANEL_EXE)).canonicalFilePath())
        return 0;
    return pid;
}

} // namespace

class TestAgentProcess : public QObject
{
    Q_OBJECT
    QProcess* m_process = nullptr;

    bool startProgram(const QStringList& args, const QString& readyLine)
    {
        QDir(ktr::test::panelDataDir() + QStringLiteral("/logs")).removeRecursively();
        m_process = new QProcess(this);
        m_process->setProcessChannelMode(QProcess::ForwardedChannels);
        m_process->start(QStringLiteral(KTR_PANEL_EXE), args);
        // Bounds, not waits: a start on a machine busy with a parallel build can take many seconds.
        return m_process->waitForStarted(10000) &&
               QTest::qWaitFor([&] { return ktr::test::panelLogText().contains(readyLine); }, 40000);
    }

private Q_SLOTS:
    void cleanup()
    {
        qunsetenv("KTR_AGENT_IDLE_SEC");
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished();
        }
        delete m_process;
        m_process = nullptr;
        // A panel the agent started runs detached.
        if (const qint64 pid = lockHolder()) {
            ::kill(pid_t(pid), SIGKILL);
            if (!QTest::qWaitFor([&] { return lockHolder() != pid; }, 15000))
                qWarning() << "panel" << pid << "still holds the lock";
        }
    }

    void panelAnswersOnTheSocket()
    {
        QVERIFY(startProgram({}, QStringLiteral("agent server listening:")));
        const QJsonObject reply = send(R"({"cmd":"ping","app":"test"})");
        QCOMPARE(reply.value("ok").toBool(), true);
        QCOMPARE(reply.value("logged_in").toBool(), false);
        QCOMPARE(reply.value("panel").toString(), panelVersionString());
        // "show" is answered and changes nothing in the panel.
        QCOMPARE(send(R"({"cmd":"show"})").value("ok").toBool(), true);
        QTest::qWait(100);
        QCOMPARE(m_process->state(), QProcess::Running);
        ::kill(pid_t(m_process->processId()), SIGTERM);
        QVERIFY(m_process->waitForFinished(15000));
        QCOMPARE(m_process->exitCode(), 0);
    }

    void agentEndsWhenIdle()
    {
        qputenv("KTR_AGENT_IDLE_SEC", "1");
        QVERIFY(startProgram({QStringLiteral("--agent")}, QStringLiteral("agent mode: tray shown (resident)")));
        QVERIFY(m_process->waitForFinished(10000));
        QCOMPARE(m_process->exitCode(), 0);
        const QString log = ktr::test::panelLogText();
        QVERIFY(log.contains("agent mode: idle auto-exit enabled, idle(s) = 1"));
        QVERIFY(log.contains("agent mode: idle timeout, quitting"));
        QVERIFY(log.contains("agent mode: event loop exited, code 0"));
    }

    void showHandsOverToAPanel()
    {
        QVERIFY(startProgram({QStringLiteral("--agent")}, QStringLiteral("agent mode: tray shown (resident)")));
        const qint64 agentPid = m_process->processId();
        QCOMPARE(lockHolder(), agentPid);
        QCOMPARE(send(R"({"cmd":"show"})").value("cmd").toString(), QStringLiteral("show"));
        QVERIFY(m_process->waitForFinished(10000));
        QCOMPARE(m_process->exitCode(), 0);

        // The new panel holds the lock and answers on the same socket.
        QVERIFY(QTest::qWaitFor(
            [] { return ktr::test::panelLogText().contains("main window shown, entering event loop"); }, 15000));
        QVERIFY(QTest::qWaitFor([] { return send(R"({"cmd":"ping"})").value("ok").toBool(); }, 5000));
        const qint64 panelPid = lockHolder();
        QVERIFY(panelPid > 0);
        QVERIFY(panelPid != agentPid);
        const QString log = ktr::test::panelLogText();
        QVERIFY(log.contains("agent: promoting to GUI panel"));
        QVERIFY(!log.contains("agent server unavailable in GUI mode:"));
    }

    void secondStartAsksTheAgentToShowThePanel()
    {
        QVERIFY(startProgram({QStringLiteral("--agent")}, QStringLiteral("agent mode: tray shown (resident)")));
        const qint64 agentPid = m_process->processId();

        // A plain start finds no panel to wake, asks the agent and ends with 0; the agent hands over.
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QStringLiteral(KTR_PANEL_EXE), {});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(m_process->waitForFinished(10000));
        QVERIFY(ktr::test::panelLogText().contains("agent running without main window, request show"));
        QVERIFY(QTest::qWaitFor(
            [] { return ktr::test::panelLogText().contains("main window shown, entering event loop"); }, 15000));
        QVERIFY(QTest::qWaitFor([&] { return lockHolder() > 0 && lockHolder() != agentPid; }, 5000));
    }

    void secondStartWithNobodyAnsweringEndsWithZero()
    {
        // The lock is held, but neither a panel nor an agent answers (a hung holder).
        QDir(ktr::test::panelDataDir() + QStringLiteral("/logs")).removeRecursively();
        ktr::platform::SingleInstanceLock lock(QStringLiteral("KestrunePanel_SingleInstanceMutex"));
        // The panel an earlier case left behind was killed; it frees the lock once it is reaped.
        QTRY_COMPARE_WITH_TIMEOUT(lock.tryAcquire(), ktr::platform::SingleInstanceLock::Result::Acquired, 10000);
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QStringLiteral(KTR_PANEL_EXE), {});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(ktr::test::panelLogText().contains("agentRequestShow: connect failed:"));
    }
};

KTR_TEST_MAIN(TestAgentProcess)
#include "tst_agentprocess.moc"
