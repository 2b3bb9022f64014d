// Starts the built panel as the user would (offscreen, with this test's own HOME and XDG folders).
#include "fakeservicehost.h"
#include "panelprocess.h"
#include "platform/version.h"
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
            [] {
                return indexOf(ktr::test::panelLogLines(), QStringLiteral("main window shown, entering event loop")) >=
                       0;
            },
            15000);
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
        // The install path goes into the user's store; the machine-wide one is never written by a start.
        QVERIFY(QFileInfo::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Kestrune/registry.ini")));
        QVERIFY(!QFileInfo::exists(qEnvironmentVariable("XDG_CONFIG_DIRS") + QStringLiteral("/Kestrune")));
    }

    // Answered on the terminal with no display at all (Qt would abort trying to reach one), with a data
    // folder that can't be made and a home that must stay empty: no application object, no panel, no log.
    void terminalAnswers_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("outHas"); // every text in the standard output; empty: no output
        QTest::addColumn<QString>("errHas");     // the one line on the standard error; empty: none
        const QStringList help = {"--agent", "--icon-probe=", "--ui-preview=", "--help", "--version"};
        QTest::newRow("--help") << QStringList{"--help"} << "C" << 0 << (help + QStringList{"Usage:"}) << "";
        QTest::newRow("-h") << QStringList{"-h"} << "en_GB.UTF-8" << 0 << (help + QStringList{"Usage:"}) << "";
        QTest::newRow("--help in Chinese")
            << QStringList{"--help"} << "zh_CN.UTF-8" << 0 << (help + QStringList{"用法："}) << "";
        QTest::newRow("--help after a run mode") << QStringList{"--agent", "--help"} << "C" << 0 << help << "";
        QTest::newRow("--help after Qt's own option")
            << QStringList{"-platform", "xcb", "--help"} << "C" << 0 << help << "";
        QTest::newRow("--version") << QStringList{"--version"} << "C" << 0
                                   << QStringList{"kestrune-panel " + ktr::platform::compiledVersion() + "\n"} << "";
        QTest::newRow("unknown long option") << QStringList{"--bogus"} << "C" << 2 << QStringList() << "--bogus";
        QTest::newRow("unknown short option") << QStringList{"-x"} << "C" << 2 << QStringList() << "-x";
        QTest::newRow("a run mode with a value it does not take")
            << QStringList{"--agent=1"} << "C" << 2 << QStringList() << "--agent=1";
        QTest::newRow("a run mode without its =")
            << QStringList{"--icon-probe"} << "C" << 2 << QStringList() << "--icon-probe";
        QTest::newRow("one letter more") << QStringList{"--helpx"} << "C" << 2 << QStringList() << "--helpx";
        QTest::newRow("another case") << QStringList{"--Version"} << "C" << 2 << QStringList() << "--Version";
        QTest::newRow("unknown, in Chinese")
            << QStringList{"--bogus"} << "zh_CN.UTF-8" << 2 << QStringList() << "未知选项 --bogus";
        QTest::newRow("unknown before --help")
            << QStringList{"--bogus", "--help"} << "C" << 2 << QStringList() << "--bogus";
    }
    void terminalAnswers()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, lang);
        QFETCH(int, exitCode);
        QFETCH(QStringList, outHas);
        QFETCH(QString, errHas);
        const QString root = ktr::test::freshDir(QStringLiteral("terminal"));
        const QString blocker = root + QStringLiteral("/file");
        QVERIFY(ktr::test::writeFile(blocker, "x"));
        const QString home = root + QStringLiteral("/home");
        const QString runtime = root + QStringLiteral("/runtime");
        QVERIFY(QDir().mkpath(home));
        QVERIFY(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("LANG"), lang);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), blocker + QStringLiteral("/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), blocker + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), blocker + QStringLiteral("/etc-xdg"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KTR_PANEL_EXE), args);
        QVERIFY(p.waitForFinished(15000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == exitCode, qPrintable(QString::number(p.exitCode()) + QLatin1Char(' ') + err));
        if (outHas.isEmpty())
            QCOMPARE(out, QString());
        for (const QString& text : outHas)
            QVERIFY2(out.contains(text), qPrintable(text + QStringLiteral(" not in:\n") + out));
        if (errHas.isEmpty()) {
            QCOMPARE(err, QString());
        } else {
            QVERIFY2(err.endsWith(QLatin1Char('\n')) && err.count(QLatin1Char('\n')) == 1, qPrintable(err));
            QVERIFY2(err.contains(errHas), qPrintable(err));
        }
        const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        QCOMPARE(QDir(home).entryList(all), QStringList());
        QCOMPARE(QDir(runtime).entryList(all), QStringList());
        QCOMPARE(QDir(root).entryList(all), (QStringList{"file", "home", "runtime"}));
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
            return f.open(QIODevice::ReadOnly)
                       ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                       : QStringList();
        };
        if (configured) {
            // The first notice poll, 3 s after the start.
            QTRY_VERIFY_WITH_TIMEOUT(!host.requests().isEmpty(), 15000);
            QVERIFY(attempts().contains(QStringLiteral("connect 127.0.0.1:") + QString::number(host.baseUrl().port())));
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
