#include "account/marketapps.h"
#include "logcapture.h"
#include "testenv.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <memory>
#include <unistd.h>

using ktr::platform::ProcessEntry;

Q_DECLARE_METATYPE(ktr::platform::ProcessEntry)

namespace {

ProcessEntry entry(qint64 pid, qint64 parent, quint64 start, const QString& path)
{
    ProcessEntry e;
    e.pid = pid;
    e.parentPid = parent;
    e.startTicks = start;
    e.imagePath = path;
    return e;
}

bool alive(qint64 pid)
{
    ProcessEntry e;
    if (!ktr::platform::readProcessEntry(pid, &e))
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    stat.open(QIODevice::ReadOnly);
    const QByteArray s = stat.readAll();
    return !s.mid(s.lastIndexOf(')') + 2, 1).startsWith('Z');
}

qint64 childOf(qint64 parent)
{
    QList<ProcessEntry> all;
    ktr::platform::snapshotProcesses(&all);
    for (const auto& e : all) {
        if (e.parentPid == parent)
            return e.pid;
    }
    return 0;
}

} // namespace

class TestMarketApps : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The rules over a made-up snapshot: which ids are signalled, which names are listed.
    void killSet_data()
    {
        QTest::addColumn<QList<ProcessEntry>>("snapshot");
        QTest::addColumn<QList<qint64>>("killed");
        QTest::addColumn<QStringList>("names");
        const QString a = "/d/apps/";
        const qint64 self = 500;
        QTest::newRow("nothing running") << QList<ProcessEntry>{entry(10, 1, 5, "/usr/bin/x")} << QList<qint64>{}
                                         << QStringList{};
        QTest::newRow("app and its children, names once regardless of case")
            << QList<ProcessEntry>{entry(10, 1, 5, a + "x/Tool"), entry(11, 1, 6, a + "y/tool"),
                                   entry(12, 10, 7, "/usr/bin/helper"), entry(13, 12, 8, ""),
                                   entry(14, 2, 9, "/usr/bin/other")}
            << QList<qint64>{10, 11, 12, 13} << QStringList{"Tool", "helper"};
        QTest::newRow("sibling folder apps2 untouched")
            << QList<ProcessEntry>{entry(20, 1, 5, "/d/apps2/x/run"), entry(21, 1, 5, "/d/apps")} << QList<qint64>{}
            << QStringList{};
        QTest::newRow("case differs on Linux: another folder")
            << QList<ProcessEntry>{entry(20, 1, 5, "/d/Apps/x/run")} << QList<qint64>{} << QStringList{};
        QTest::newRow("pid 1, low ids and ourselves never")
            << QList<ProcessEntry>{entry(1, 0, 1, a + "x/init"),     entry(4, 1, 1, a + "x/k"),
                                   entry(self, 1, 3, a + "x/panel"), entry(30, 1, 2, a + "x/app"),
                                   entry(3, 30, 4, "/usr/bin/low"),  entry(self, 30, 4, "/usr/bin/me")}
            << QList<qint64>{30} << QStringList{"app"};
        QTest::newRow("reused parent id: a child older than its parent is not its child")
            << QList<ProcessEntry>{entry(40, 1, 1000, a + "x/app"), entry(41, 40, 200, "/usr/bin/unrelated"),
                                   entry(42, 40, 1000, "/usr/bin/same-tick-child")}
            << QList<qint64>{40, 42} << QStringList{"app", "same-tick-child"};
        QTest::newRow("grandchildren through several passes")
            << QList<ProcessEntry>{entry(53, 52, 9, "/bin/c"), entry(52, 51, 8, "/bin/b"), entry(51, 50, 7, "/bin/a"),
                                   entry(50, 1, 6, a + "z/root")}
            << QList<qint64>{53, 52, 51, 50} << QStringList{"c", "b", "a", "root"};
    }
    void killSet()
    {
        QFETCH(QList<ProcessEntry>, snapshot);
        QFETCH(QList<qint64>, killed);
        QFETCH(QStringList, names);
        QList<qint64> signalled;
        QStringList got{"stale"};
        ktr::test::LogCapture log;
        const int count = terminateMarketAppsIn(
            "/d/apps", snapshot, 500,
            [&](qint64 pid) {
                signalled << pid;
                return true;
            },
            &got);
        QCOMPARE(signalled, killed);
        QCOMPARE(count, int(killed.size()));
        QCOMPARE(got, names);
        QVERIFY(!signalled.contains(1) && !signalled.contains(500));
        QVERIFY(log.contains(QStringLiteral("terminate market apps: root = /d/apps/ killed = %1").arg(count)));
    }

    void failedKillIsNeitherCountedNorNamed()
    {
        QStringList names;
        const int count = terminateMarketAppsIn(
            "/d/apps", {entry(10, 1, 1, "/d/apps/x/a"), entry(11, 1, 1, "/d/apps/x/b")}, 500,
            [](qint64 pid) { return pid == 11; }, &names);
        QCOMPARE(count, 1);
        QCOMPARE(names, QStringList{"b"});
    }

    // Real processes: a copy of sleep inside apps, a script inside apps that starts sleep from outside,
    // and a copy in the sibling folder apps2.
    void endsRealProcesses()
    {
        const QString data = ktr::test::freshDir("data");
        // Reached through a symbolic link, as a data folder below a linked home would be.
        const QString link = ktr::test::testRoot() + "/linked-data";
        QVERIFY(QFile::link(data, link));
        QVERIFY(QDir().mkpath(data + "/apps/x"));
        QVERIFY(QDir().mkpath(data + "/apps2/y"));
        // Spaces and parentheses in the name: /proc/PID/stat shows it inside its own parentheses.
        QVERIFY(QFile::copy("/bin/sleep", data + "/apps/x/my (sleep) 2"));
        QVERIFY(QFile::copy("/bin/sleep", data + "/apps2/y/mysleep2"));
        QVERIFY(ktr::test::writeFile(data + "/apps/x/run.sh", "#!/bin/sh\n/bin/sleep 300 &\nwait\n"));
        for (const char* f : {"/apps/x/my (sleep) 2", "/apps2/y/mysleep2", "/apps/x/run.sh"})
            QFile::setPermissions(data + f, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QProcess inApps, script, sibling;
        inApps.start(data + "/apps/x/my (sleep) 2", {"300"});
        script.start(data + "/apps/x/run.sh", {});
        sibling.start(data + "/apps2/y/mysleep2", {"300"});
        QVERIFY(inApps.waitForStarted() && script.waitForStarted() && sibling.waitForStarted());
        qint64 grandchild = 0;
        QTRY_VERIFY_WITH_TIMEOUT((grandchild = childOf(script.processId())) > 0, 5000);

        ProcessEntry scriptEntry;
        QVERIFY(ktr::platform::readProcessEntry(script.processId(), &scriptEntry));
        QCOMPARE(scriptEntry.imagePath, data + "/apps/x/run.sh");

        QList<ProcessEntry> snapshot;
        QVERIFY(ktr::platform::snapshotProcesses(&snapshot));
        QList<qint64> signalled;
        QStringList names;
        const int count = terminateMarketAppsIn(
            link + "/apps", snapshot, ktr::platform::currentProcessId(),
            [&](qint64 pid) {
                signalled << pid;
                return ktr::platform::killProcess(pid);
            },
            &names);
        QCOMPARE(count, 3);
        names.sort(); // in the order the snapshot lists them, which follows the ids given out
        QCOMPARE(names, (QStringList{"my (sleep) 2", "run.sh", "sleep"}));
        QVERIFY(!signalled.contains(1));
        QVERIFY(!signalled.contains(ktr::platform::currentProcessId()));
        QVERIFY(inApps.waitForFinished(5000));
        QVERIFY(script.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!alive(grandchild), 5000);
        QCOMPARE(sibling.state(), QProcess::Running);
        sibling.kill();
        sibling.waitForFinished();
    }

    // A market script whose "#!" line names its interpreter through env, where that name is a link to a
    // program of another name (as python3 is to python3.11): found by its arguments, whether started by its
    // path or by name in its own folder, and ended. A program that merely shows the script is left alone.
    void scriptThroughEnvIsFound_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("isApp");
        QTest::addColumn<bool>("ended");
        QTest::newRow("started by its path") << "apps/x/run.sh" << QStringList() << true << true;
        QTest::newRow("env NAME script, in its folder")
            << "/usr/bin/env" << QStringList{"ktrsh", "run.sh"} << true << true;
        // Not the app's program, but it works in the app's folder, which is going away.
        QTest::newRow("a viewer of the script, in its folder")
            << "/usr/bin/tail" << QStringList{"-f", "run.sh"} << false << true;
    }
    void scriptThroughEnvIsFound()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(bool, isApp);
        QFETCH(bool, ended);
        const QString data = ktr::test::freshDir("envdata");
        const QString bin = ktr::test::freshDir("bin");
        const QString shell = QFileInfo("/bin/sh").canonicalFilePath();
        QVERIFY(QFile::copy(shell, bin + "/ktrsh-1.0"));
        QVERIFY(QFile::setPermissions(bin + "/ktrsh-1.0", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::link(bin + "/ktrsh-1.0", bin + "/ktrsh"));
        const QString script = data + "/apps/x/run.sh";
        QVERIFY(ktr::test::writeFile(script, "#!/usr/bin/env ktrsh\n/bin/sleep 300 &\nwait\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", bin + ":" + env.value("PATH"));
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(data + "/apps/x");
        app.start(program.startsWith('/') ? program : data + "/" + program, arguments);
        QVERIFY(app.waitForStarted());
        const qint64 pid = app.processId();
        // The child is first a copy of this test, then env, then the interpreter: wait for the program it ends
        // up running, so what is read below is not half one and half the next (on a busy machine the read can
        // fall between two of these).
        const QString running =
            isApp ? QFileInfo(bin + "/ktrsh-1.0").canonicalFilePath() : QFileInfo(program).canonicalFilePath();
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath(), running,
                                  5000);
        ProcessEntry e;
        QVERIFY(ktr::platform::readProcessEntry(pid, &e));
        if (isApp)
            QCOMPARE(e.imagePath, script);
        else
            QCOMPARE(e.imagePath, QFileInfo(program).canonicalFilePath());

        QList<ProcessEntry> snapshot;
        QVERIFY(ktr::platform::snapshotProcesses(&snapshot));
        QList<qint64> signalled;
        terminateMarketAppsIn(
            data + "/apps", snapshot, ktr::platform::currentProcessId(),
            [&](qint64 p) {
                signalled << p;
                return ktr::platform::killProcess(p);
            },
            nullptr);
        QCOMPARE(signalled.contains(pid), ended);
        if (ended) {
            QVERIFY(app.waitForFinished(5000));
        } else {
            QCOMPARE(app.state(), QProcess::Running);
            app.kill();
            app.waitForFinished();
        }
    }

    // A market app started through "#!/usr/bin/env python3", where the python3 first on PATH is a script that
    // starts the real interpreter (a version manager's shim): what runs is the system's python3 with the app as
    // its argument, from wherever it was started. It is ended at sign-out (the whole apps folder) and at
    // uninstall (its own folder); a process of the same kind in a folder beside it is not.
    void appThroughAShimIsEnded_data()
    {
        QTest::addColumn<QString>("scope");    // "sign-out": terminateMarketApps; "uninstall": the app's folder
        QTest::addColumn<QString>("folder");   // where the app lies, below the data folder
        QTest::addColumn<bool>("inItsFolder"); // started with its folder as the working folder
        QTest::addColumn<bool>("ended");
        QTest::newRow("sign-out, started in its folder") << "sign-out"
                                                         << "apps/x" << true << true;
        QTest::newRow("sign-out, started from elsewhere") << "sign-out"
                                                          << "apps/x" << false << true;
        QTest::newRow("uninstall, started from elsewhere") << "uninstall"
                                                           << "apps/x" << false << true;
        QTest::newRow("uninstall of x, an app of x2 beside it") << "uninstall"
                                                                << "apps/x2" << true << false;
        QTest::newRow("sign-out, a script in apps2") << "sign-out"
                                                     << "apps2/x" << true << false;
    }
    void appThroughAShimIsEnded()
    {
        QFETCH(QString, scope);
        QFETCH(QString, folder);
        QFETCH(bool, inItsFolder);
        QFETCH(bool, ended);
        // Debian's interpreter (scripts/deps.sh), not whatever this machine's PATH names first.
        const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin", "/bin"});
        if (python.isEmpty())
            QSKIP("needs python3");
        const QString data = QDir::cleanPath(appDataDir());
        const QString appDir = data + "/" + folder;
        QVERIFY(QDir(data + "/apps").removeRecursively() || !QFileInfo::exists(data + "/apps"));
        const QString app = appDir + "/app.py";
        QVERIFY(ktr::test::writeFile(app, "#!/usr/bin/env python3\nimport time\ntime.sleep(300)\n"));
        QVERIFY(QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString shims = ktr::test::freshDir("shims");
        QVERIFY(ktr::test::writeFile(shims + "/python3",
                                     QStringLiteral("#!/bin/sh\nexec %1 \"$@\"\n").arg(python).toUtf8()));
        QVERIFY(QFile::setPermissions(shims + "/python3", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QProcess proc;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", shims + ":" + env.value("PATH"));
        proc.setProcessEnvironment(env);
        proc.setWorkingDirectory(inItsFolder ? appDir : ktr::test::freshDir("elsewhere"));
        proc.start(app, {});
        QVERIFY(proc.waitForStarted());
        const qint64 pid = proc.processId();
        const QString real = QFileInfo(python).canonicalFilePath();
        // env, then the shim's shell, replace themselves: wait until the real interpreter runs.
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget(), real, 5000);
        ProcessEntry e;
        QVERIFY(ktr::platform::readProcessEntry(pid, &e));
        QVERIFY2(!e.imagePath.startsWith(data), qPrintable(e.imagePath)); // the program itself lies outside

        ktr::test::LogCapture log;
        int count = 0;
        if (scope == QLatin1String("sign-out")) {
            count = terminateMarketApps(nullptr);
        } else {
            QList<ProcessEntry> snapshot;
            QVERIFY(ktr::platform::snapshotProcesses(&snapshot));
            count = terminateMarketAppsIn(data + "/apps/x", snapshot, ktr::platform::currentProcessId(),
                                          ktr::platform::killProcess, nullptr);
        }
        if (ended) {
            QVERIFY(proc.waitForFinished(5000));
            QVERIFY(count >= 1);
        } else {
            QCOMPARE(count, 0);
            QCOMPARE(proc.state(), QProcess::Running);
            proc.kill();
            proc.waitForFinished();
        }
    }

    void noMarketAppRunning()
    {
        ktr::test::LogCapture log;
        QStringList names{"x"};
        QCOMPARE(terminateMarketApps(&names), 0);
        QVERIFY(names.isEmpty());
        QVERIFY(log.contains("killed = 0"));
    }
};

KTR_TEST_MAIN(TestMarketApps)
#include "tst_marketapps.moc"
