// Starts the built panel as the user would (offscreen, with this test's own HOME and XDG folders).
#include "fakeservicehost.h"
#include "panelprocess.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QProcess>

#include <csignal>

namespace {

int indexOf(const QStringList& lines, const QString& text, int from = 0)
{
    for (int i = from; i < lines.size(); ++i)
        if (lines.at(i).contains(text))
            return i;
    return -1;
}

// Runs a short-lived start to its end; returns its exit code (-1 when it crashed or hung).
int runToEnd(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(KTR_PANEL_EXE), args);
    // A whole preview run takes several seconds, many more under the sanitizers.
    if (!p.waitForFinished(90000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class TestPanelProcess : public QObject
{
    Q_OBJECT
    QProcess* m_panel = nullptr;

    bool startPanel(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        QDir(ktr::test::panelDataDir() + QStringLiteral("/logs")).removeRecursively();
        m_panel = new QProcess(this);
        m_panel->setProcessChannelMode(QProcess::ForwardedChannels);
        m_panel->setProcessEnvironment(env);
        m_panel->start(QStringLiteral(KTR_PANEL_EXE), QStringList());
        if (!m_panel->waitForStarted(10000))
            return false;
        // Polls the log (no fixed sleep) until the panel is in its event loop.
        return QTest::qWaitFor(
            [] { return indexOf(ktr::test::panelLogLines(), QStringLiteral("main window shown, entering event loop")) >= 0; }, 15000);
    }

private Q_SLOTS:
    void cleanup()
    {
        if (m_panel && m_panel->state() != QProcess::NotRunning) {
            m_panel->kill();
            m_panel->waitForFinished();
        }
        delete m_panel;
        m_panel = nullptr;
    }

    void quitSignalRunsTheQuitHandler_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void quitSignalRunsTheQuitHandler()
    {
        QFETCH(int, signal);
        QVERIFY(startPanel());
        // The quit handler writes both files again.
        const QString settingsFile = ktr::test::panelDataDir() + QStringLiteral("/settings.json");
        const QString layoutFile = ktr::test::panelDataDir() + QStringLiteral("/layout.json");
        QFile::remove(settingsFile);
        QFile::remove(layoutFile);
        ::kill(static_cast<pid_t>(m_panel->processId()), signal);
        QVERIFY(m_panel->waitForFinished(15000));
        QCOMPARE(m_panel->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_panel->exitCode(), 0);

        const QStringList lines = ktr::test::panelLogLines();
        const QStringList inOrder = {QStringLiteral("startup: "),
                                     QStringLiteral("main window shown, entering event loop"),
                                     QStringLiteral("startup state: opacity"),
                                     QStringLiteral("aboutToQuit: stopping recorder, persisting state and releasing "
                                                    "icon cache"),
                                     QStringLiteral("event loop exited, code 0")};
        int at = 0;
        for (const QString& text : inOrder) {
            at = indexOf(lines, text, at);
            QVERIFY2(at >= 0, qPrintable(text + QStringLiteral("\n--- log:\n") + lines.join(QLatin1Char('\n'))));
        }
        QVERIFY(QFileInfo::exists(settingsFile));
        QVERIFY(QFileInfo::exists(layoutFile));
        QVERIFY(QFileInfo::exists(qEnvironmentVariable("XDG_CONFIG_DIRS") + QStringLiteral("/Kestrune/registry.ini")));
    }

    void secondStartsEndWithZero()
    {
        QVERIFY(startPanel());
        QCOMPARE(runToEnd({}), 0);
        QCOMPARE(runToEnd({QStringLiteral("--agent")}), 0);
        // The diagnostic runs don't look at the lock at all.
        QCOMPARE(runToEnd({QStringLiteral("--icon-probe=")}), 0);
        const QString previewDir = ktr::test::testRoot() + QStringLiteral("/preview");
        QCOMPARE(runToEnd({QStringLiteral("--ui-preview=") + previewDir}), 0);
        QCOMPARE(m_panel->state(), QProcess::Running);

        const QStringList lines = ktr::test::panelLogLines();
        QVERIFY(indexOf(lines, QStringLiteral("second instance detected, wake existing window and exit")) >= 0);
        QVERIFY(indexOf(lines, QStringLiteral("agent mode: panel already running, exit without waking window")) >= 0);
        QVERIFY(indexOf(lines, QStringLiteral("icon probe:")) >= 0);
        QVERIFY(indexOf(lines, QStringLiteral("ui preview written to ") + previewDir) >= 0);
        QCOMPARE(lines.filter(QStringLiteral("main window shown")).size(), 1);

        ::kill(static_cast<pid_t>(m_panel->processId()), SIGTERM);
        QVERIFY(m_panel->waitForFinished(15000));
        QCOMPARE(m_panel->exitCode(), 0);
    }

    // The panel as a new user starts it from a build without a service address: it opens no Internet socket
    // and looks up no name, past the moments its start-up steps and first notice poll would run, and its log
    // holds no network failure. The same start with the fake host's address reaches the host, so the
    // recording (every connect and name lookup of the process, through LD_PRELOAD) is seen to see.
    void noServiceNoConnection_data()
    {
        QTest::addColumn<bool>("configured");
        QTest::newRow("no service") << false;
        QTest::newRow("the fake host's address") << true;
    }
    void noServiceNoConnection()
    {
        QFETCH(bool, configured);
        if (!configured && !QByteArray(KTR_EXPECTED_BUILTIN_HOST).isEmpty())
            QSKIP("this build carries a service address");
        ktr::test::FakeServiceHost host(ktr::test::FakeServiceHost::Scheme::Http);
        QVERIFY(host.listen());
        const QString connectLog = ktr::test::freshDir(QStringLiteral("connect")) + QStringLiteral("/attempts.txt");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KTR_CONNECTLOG_LIB));
        env.insert(QStringLiteral("KTR_CONNECT_LOG"), connectLog);
        // A sanitized build wants its runtime first in the list; the recording library is harmless before it.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
        if (configured)
            env.insert(QStringLiteral("KTR_SERVICE_HOST"), host.baseUrl().toString());
        else
            env.remove(QStringLiteral("KTR_SERVICE_HOST"));
        QVERIFY(startPanel(env));
        const auto attempts = [&connectLog] {
            QFile f(connectLog);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'),
                                                                                     Qt::SkipEmptyParts)
                                               : QStringList();
        };
        if (configured) {
            // The first notice poll, 3 s after the start.
            QTRY_VERIFY_WITH_TIMEOUT(!host.requests().isEmpty(), 15000);
            QVERIFY(attempts().contains(QStringLiteral("connect 127.0.0.1:") +
                                        QString::number(host.baseUrl().port())));
        } else {
            // Nothing to wait for when nothing may happen: past the start-up account step (2.5 s) and the
            // first notice poll (3 s), with a margin.
            QTest::qWait(4500);
            QCOMPARE(attempts(), QStringList());
            QCOMPARE(host.requests().size(), 0);
            const QStringList lines = ktr::test::panelLogLines();
            QVERIFY(indexOf(lines, QStringLiteral("[servicehost] no service host configured")) >= 0);
            for (const QString& line : lines)
                QVERIFY2(!line.contains(QLatin1String("transportError")) && !line.contains(QLatin1String("http =")),
                         qPrintable(line));
        }
        ::kill(static_cast<pid_t>(m_panel->processId()), SIGTERM);
        QVERIFY(m_panel->waitForFinished(15000));
        QCOMPARE(m_panel->exitCode(), 0);
    }

};

KTR_TEST_MAIN(TestPanelProcess)
#include "tst_panelprocess.moc"
