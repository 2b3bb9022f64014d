#include "market/selfremoval.h"
#include "market/selfscripts.h"
#include "model/shortcutfile.h"
#include "platform/autostart.h"
#include "platform/launcher.h"
#include "platform/videobackend.h"
#include "testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest/QtTest>

#include <signal.h>

using namespace ktr::test;
using namespace selfscripts;

namespace {

// A name with everything a shell could read into: blanks, quotes, $, %, a backslash, a wildcard, CJK.
const QString kAwkward = QStringLiteral("my app's $HOME %PATH% back\\slash *[x] 青岚 `id`");

// Runs a script with sh and waits for it; the exit code.
int runScript(const QByteArray& script, const QString& dir)
{
    const QString path = dir + QStringLiteral("/script.sh");
    if (!writeFile(path, script))
        return -1;
    QProcess sh;
    sh.setWorkingDirectory(dir);
    sh.start(QStringLiteral("/bin/sh"), {path});
    if (!sh.waitForFinished(10000))
        return -2;
    return sh.exitCode();
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// The folders an install into an empty prefix makes, as its marker lists them (deepest first).
const QStringList kMadeFolders = {"share/icons/hicolor/128x128/apps",
                                  "share/icons/hicolor/128x128",
                                  "share/icons/hicolor",
                                  "share/icons",
                                  "share/applications",
                                  "share",
                                  "libexec/kestrune",
                                  "libexec",
                                  "lib/kestrune",
                                  "lib",
                                  "bin"};

// binMade false: the prefix had its bin/ before the install, so the marker does not list it as made.
QByteArray marker(const QString& prefix, bool binMade = true)
{
    QString text = QStringLiteral("KestrunePanel 1.0.0\nprefix=%1\n%1/bin/kestrune-panel\n"
                                  "%1/share/applications/kestrune-panel.desktop\n"
                                  "%1/share/icons/hicolor/128x128/apps/kestrune-panel.png\n%1/lib/kestrune/%3\n"
                                  "%1/libexec/kestrune/%4\n%1/bin/%2\n"
                                  "%1/bin/notes.txt\n/etc/passwd\n")
                       .arg(prefix, QLatin1String(ktr::platform::kInstallMarkerName),
                            QLatin1String(ktr::platform::kVideoModuleFileName),
                            QLatin1String(ktr::platform::kVideoEncoderFileName));
    // Listed in a shuffled order; folders outside the prefix, above it, or holding none of our files never
    // count.
    for (const char* d :
         {"share", binMade ? "bin" : "var/other", "libexec/kestrune", "share/icons/hicolor/128x128/apps", "lib",
          "share/icons/hicolor", "lib/kestrune", "share/applications", "libexec", "share/icons/hicolor/128x128",
          "share/icons", "var/other", "../", "lib/../.."})
        text += QStringLiteral("dir=%1/%2\n").arg(prefix, QString::fromUtf8(d));
    text += QStringLiteral("dir=/etc\ndir=%1\n").arg(prefix);
    return text.toUtf8();
}

// An installed tree below root: bin/ with the executable and the marker, the helpers in lib/ and libexec/,
// the desktop entry, the icon.
QString makeInstall(const QString& root, bool binMade = true)
{
    const QString prefix = root + QStringLiteral("/prefix ") + kAwkward;
    writeFile(prefix + "/bin/kestrune-panel", "#!/bin/sh\n");
    writeFile(prefix + "/lib/kestrune/" + ktr::platform::kVideoModuleFileName, "module");
    writeFile(prefix + "/libexec/kestrune/" + ktr::platform::kVideoEncoderFileName, "encoder");
    writeFile(prefix + "/bin/" + ktr::platform::kInstallMarkerName, marker(prefix, binMade));
    writeFile(prefix + "/share/applications/kestrune-panel.desktop", "[Desktop Entry]\n");
    writeFile(prefix + "/share/icons/hicolor/128x128/apps/kestrune-panel.png", "png");
    QDir().mkpath(prefix + "/var/other");
    return prefix;
}

selfremoval::Env sandboxEnv(const QString& root, const QString& exe)
{
    selfremoval::Env env;
    env.exe = exe;
    env.dataDir = root + QStringLiteral("/data ") + kAwkward;
    env.tempDir = root + QStringLiteral("/tmp");
    env.desktopDir = root + QStringLiteral("/Desktop");
    env.applicationsDir = root + QStringLiteral("/applications");
    env.autostartEntry = root + QStringLiteral("/autostart/KestrunePanel.desktop");
    QDir().mkpath(env.tempDir);
    writeFile(env.dataDir + "/settings.json", "{}");
    writeFile(env.dataDir + "/apps/x/app.bin", "x");
    writeFile(env.desktopDir + "/青岚舟面板.desktop", "[Desktop Entry]\n");
    writeFile(env.desktopDir + "/mine.txt", "the user's");
    writeFile(env.applicationsDir + "/青岚舟面板.desktop", "[Desktop Entry]\n");
    writeFile(env.autostartEntry, "[Desktop Entry]\n");
    env.installPathStores = {root + QStringLiteral("/etc-xdg/Kestrune/registry.ini")};
    writeFile(env.installPathStores.first(), "[SOFTWARE]\n");
    return env;
}

// Records what would be started instead of starting it.
class RecordingLauncher : public ktr::platform::Launcher
{
public:
    bool startDetached(const QString& program, const QStringList& arguments, const QString& workDir) override
    {
        calls << (QStringList{program} + arguments);
        workDirs << workDir;
        return true;
    }
    QList<QStringList> calls;
    QStringList workDirs;
};

} // namespace

class TestSelfScripts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void quotingSurvivesTheShell_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("blanks") << "/a b/c  d";
        QTest::newRow("quote") << "/it's/'/''";
        QTest::newRow("dollar") << "/$HOME/${x}/$(id)";
        QTest::newRow("percent") << "/%1/%PATH%";
        QTest::newRow("backslash") << "/a\\b\\\\c\\";
        QTest::newRow("wildcards") << "/*/?/[a-z]";
        QTest::newRow("cjk") << "/青岚舟/面板 数据";
        QTest::newRow("newline") << "/a\nb";
        QTest::newRow("everything") << kAwkward;
    }
    void quotingSurvivesTheShell()
    {
        QFETCH(QString, text);
        QProcess sh;
        sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("printf %s ") + shQuote(text)});
        QVERIFY(sh.waitForFinished(5000));
        QCOMPARE(QString::fromUtf8(sh.readAllStandardOutput()), text);
    }

    void scriptsAreUtf8AndQuoteEveryPath()
    {
        const QByteArray script =
            updateScript(QStringLiteral("/d/数据 x/panel_update_setup.exe"), {4242, "/usr/bin/x y"}, 1);
        const QStringList lines = QString::fromUtf8(script).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("#!/bin/sh"));
        QVERIFY(lines.contains(QStringLiteral("sleep 1")));
        QVERIFY(lines.contains(
            QStringLiteral("if [ \"$(readlink /proc/4242/exe 2>/dev/null)\" = '/usr/bin/x y' ]; then kill -9 4242 "
                           "2>/dev/null; fi")));
        QCOMPARE(lines.last(), QStringLiteral("'/d/数据 x/panel_update_setup.exe' /SILENT /SUPPRESSMSGBOXES /NORESTART "
                                              "/CLOSEAPPLICATIONS /FORCECLOSEAPPLICATIONS"));
        QVERIFY(!script.contains('\r'));
    }

    void protectedFolders()
    {
        QVERIFY(isProtectedFolder("/"));
        QVERIFY(isProtectedFolder(""));
        QVERIFY(isProtectedFolder("relative/dir"));
        QVERIFY(isProtectedFolder(QDir::homePath()));
        QVERIFY(isProtectedFolder(QDir::homePath() + "/"));
        QVERIFY(isProtectedFolder(QFileInfo(QDir::homePath()).absolutePath()));
        QVERIFY(isProtectedFolder(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)));
        QVERIFY(isProtectedFolder(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)));
        QVERIFY(!isProtectedFolder(QDir::homePath() + "/Downloads/panel"));
        QVERIFY(!isProtectedFolder("/opt/kestrune/bin"));
    }

    void programFilesFromTheMarker()
    {
        const QString prefix = "/opt/k " + kAwkward;
        const QByteArray text = marker(prefix);
        const ProgramFiles installed = programFiles(prefix + "/bin/kestrune-panel", &text);
        QVERIFY(installed.installed);
        QCOMPARE(installed.files,
                 QStringList({prefix + "/bin/kestrune-panel", prefix + "/share/applications/kestrune-panel.desktop",
                              prefix + "/share/icons/hicolor/128x128/apps/kestrune-panel.png",
                              prefix + "/lib/kestrune/" + ktr::platform::kVideoModuleFileName,
                              prefix + "/libexec/kestrune/" + ktr::platform::kVideoEncoderFileName,
                              prefix + "/bin/" + ktr::platform::kInstallMarkerName}));
        QCOMPARE(installed.folder, prefix + "/bin");
        // Deepest first; a folder of the same depth keeps the marker's order.
        QStringList made;
        for (const QString& d : kMadeFolders)
            made << prefix + "/" + d;
        QStringList got = installed.madeFolders;
        QCOMPARE(got.size(), made.size());
        for (int i = 1; i < got.size(); ++i)
            QVERIFY2(got.at(i - 1).count('/') >= got.at(i).count('/'), qPrintable(got.join('\n')));
        got.sort();
        made.sort();
        QCOMPARE(got, made);

        const ProgramFiles loose = programFiles(QDir::homePath() + "/Downloads/kestrune-panel", nullptr);
        QVERIFY(!loose.installed);
        QCOMPARE(loose.files, QStringList{QDir::homePath() + "/Downloads/kestrune-panel"});
        QVERIFY(loose.folder.isEmpty());

        // A bin/ the prefix had before the install is not the program's folder to remove.
        const QByteArray intoTheirs = marker(prefix, false);
        QVERIFY(programFiles(prefix + "/bin/kestrune-panel", &intoTheirs).folder.isEmpty());
    }

    // Each generated script run for real in a sandbox; the pause is dropped and the panel's pid is one of
    // ours that the script must end (or, running another program, leave alone).
    void uninstallRemovesExactlyOurFiles_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("userFileBesideProgram");
        QTest::addColumn<bool>("full");
        QTest::addColumn<bool>("binMade");
        QTest::newRow("installed, keep data") << true << false << false << true;
        QTest::newRow("installed, full") << true << false << true << true;
        QTest::newRow("installed, a user file in bin") << true << true << true << true;
        QTest::newRow("installed into a bin/ that was there") << true << false << true << false;
        QTest::newRow("loose copy among the user's files") << false << true << false << true;
    }
    void uninstallRemovesExactlyOurFiles()
    {
        QFETCH(bool, installed);
        QFETCH(bool, userFileBesideProgram);
        QFETCH(bool, full);
        QFETCH(bool, binMade);
        const QString root = freshDir("uninstall");
        QString exe;
        QString prefix;
        if (installed) {
            prefix = makeInstall(root, binMade);
            exe = prefix + "/bin/kestrune-panel";
        } else {
            exe = root + "/Downloads " + kAwkward + "/kestrune-panel";
            writeFile(exe, "#!/bin/sh\n");
        }
        const QString programDir = QFileInfo(exe).absolutePath();
        if (userFileBesideProgram)
            writeFile(programDir + "/holiday 照片.jpg", "jpg");

        selfremoval::Env env = sandboxEnv(root, exe);
        QProcess victim;
        victim.start("sleep", {"30"});
        QVERIFY(victim.waitForStarted());
        env.target = {victim.processId(),
                      QFileInfo("/proc/" + QString::number(victim.processId()) + "/exe").symLinkTarget()};
        selfscripts::UninstallPlan plan = selfremoval::uninstallPlan(full, env);
        plan.delaySeconds = 0;
        QCOMPARE(runScript(uninstallScript(plan), env.tempDir), 0);
        QVERIFY(victim.waitForFinished(5000));
        QCOMPARE(victim.exitStatus(), QProcess::CrashExit); // killed by the script

        QVERIFY(!QFileInfo::exists(exe));
        QVERIFY(!QFileInfo::exists(env.desktopDir + "/青岚舟面板.desktop"));
        QVERIFY(!QFileInfo::exists(env.applicationsDir + "/青岚舟面板.desktop"));
        QVERIFY(!QFileInfo::exists(env.autostartEntry));
        QVERIFY(!QFileInfo::exists(root + "/etc-xdg/Kestrune")); // the install path's store and its folder
        QCOMPARE(entries(env.desktopDir), QStringList{"mine.txt"});
        QCOMPARE(QFileInfo::exists(env.dataDir + "/settings.json"), !full);
        if (installed) {
            QVERIFY(!QFileInfo::exists(prefix + "/share/applications/kestrune-panel.desktop"));
            QVERIFY(!QFileInfo::exists(prefix + "/share/icons/hicolor/128x128/apps/kestrune-panel.png"));
            QVERIFY(!QFileInfo::exists(programDir + "/" + ktr::platform::kInstallMarkerName));
        }
        if (userFileBesideProgram)
            QCOMPARE(entries(programDir), QStringList{"holiday 照片.jpg"});
        else if (binMade)
            QVERIFY(!QFileInfo::exists(programDir));
        else
            QVERIFY(QFileInfo(programDir).isDir() && entries(programDir).isEmpty());
        // The prefix is left as it was before the install: only what was there already (var/other) stays.
        if (installed)
            QCOMPARE(entries(prefix),
                     userFileBesideProgram || !binMade ? QStringList({"bin", "var"}) : QStringList{"var"});
        QVERIFY(QFileInfo::exists("/etc/passwd")); // a listed file outside the prefix is never touched
    }

    void factoryResetEmptiesTheDataFolderAndRestarts()
    {
        const QString root = freshDir("reset");
        const QString restarted = root + "/restarted";
        const QString exe = root + "/bin " + kAwkward + "/kestrune-panel";
        writeFile(exe, QStringLiteral("#!/bin/sh\necho restarted > %1\n").arg(shQuote(restarted)).toUtf8());
        QFile(exe).setPermissions(QFile::permissions(exe) | QFileDevice::ExeOwner);
        selfremoval::Env env = sandboxEnv(root, exe);
        QProcess other;
        other.start("sleep", {"30"});
        QVERIFY(other.waitForStarted());
        env.target = {other.processId(), exe}; // the pid runs another program: it must survive

        ResetPlan plan;
        plan.target = env.target;
        plan.dataFolder = env.dataDir;
        plan.autostartEntry = env.autostartEntry;
        plan.restartProgram = exe;
        plan.scriptPath = env.tempDir + "/script.sh";
        plan.delaySeconds = 0;
        QCOMPARE(runScript(factoryResetScript(plan), env.tempDir), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(restarted), 5000);
        QVERIFY(QFileInfo(env.dataDir).isDir());
        QVERIFY(entries(env.dataDir).isEmpty());
        QVERIFY(!QFileInfo::exists(env.autostartEntry));
        QVERIFY(!QFileInfo::exists(plan.scriptPath)); // it deleted itself
        QVERIFY(QFileInfo::exists(env.desktopDir + "/青岚舟面板.desktop"));
        QCOMPARE(other.state(), QProcess::Running);
        other.kill();
        other.waitForFinished();
    }

    void factoryResetRefusesABadDataFolder_data()
    {
        QTest::addColumn<QString>("dataDir");
        QTest::newRow("root") << "/";
        QTest::newRow("short") << "/tmp/abcd";
        QTest::newRow("missing") << testRoot() + "/no such folder";
        QTest::newRow("home") << QDir::homePath();
    }
    void factoryResetRefusesABadDataFolder()
    {
        QFETCH(QString, dataDir);
        selfremoval::Env env = sandboxEnv(freshDir("badreset"), "/bin/true");
        env.dataDir = dataDir;
        QString message;
        QString script;
        QVERIFY(!selfremoval::startFactoryReset(env, &message, &script));
        QCOMPARE(message, QStringLiteral("初始化失败：数据目录无效，已中止"));
        QVERIFY(script.isEmpty());
        QCOMPARE(entries(env.tempDir), QStringList());
    }

    void scriptWriteFailures()
    {
        const QString root = freshDir("writefail");
        writeFile(root + "/file", "x");
        QCOMPARE(writeScript(root + "/file/below", "x"), WriteResult::OpenFailed);
        QCOMPARE(writeScript(root + "/ok.sh", "echo\n"), WriteResult::Ok);
        // Whatever already lies at the name is never opened: a file, or a link (followed, it would write
        // into its target).
        QCOMPARE(writeScript(root + "/ok.sh", "echo again\n"), WriteResult::OpenFailed);
        QCOMPARE(readFile(root + "/ok.sh"), QByteArray("echo\n"));
        QVERIFY(QFile::link(root + "/file", root + "/link.sh"));
        QCOMPARE(writeScript(root + "/link.sh", "echo\n"), WriteResult::OpenFailed);
        QVERIFY(QFile::link(root + "/missing", root + "/dangling.sh"));
        QCOMPARE(writeScript(root + "/dangling.sh", "echo\n"), WriteResult::OpenFailed);
        QVERIFY(!QFileInfo::exists(root + "/missing"));
        QCOMPARE(readFile(root + "/file"), QByteArray("x"));

        selfremoval::Env env = sandboxEnv(root, "/bin/true");
        env.tempDir = root + "/file"; // a file where the temporary folder should be
        QString message;
        QVERIFY(!selfremoval::startUninstall(false, env, &message));
        QCOMPARE(message, QStringLiteral("卸载失败：无法写临时脚本"));
        QVERIFY(!selfremoval::startFactoryReset(env, &message));
        QCOMPARE(message, QStringLiteral("初始化失败：无法写临时脚本"));
    }

    // Another user may plant a link or a file of their own under the names the scripts once had in the shared
    // temporary folder: neither is written through nor started. Each script goes into a fresh folder of ours
    // (0700) below the session's runtime folder, is created there as a new file and started from there.
    void scriptsLeaveWhatOthersPlantAlone()
    {
        const QString root = freshDir("planted");
        const selfremoval::Env sandbox = sandboxEnv(root, "/bin/true");
        selfremoval::Env env = selfremoval::Env::system(); // where the program puts its scripts
        const QString base = env.tempDir;
        env.exe = sandbox.exe;
        env.dataDir = sandbox.dataDir;
        env.desktopDir = sandbox.desktopDir;
        env.applicationsDir = sandbox.applicationsDir;
        env.autostartEntry = sandbox.autostartEntry;
        env.target = {};
        env.tempDir = base;

        const QString victim = root + "/victim.txt";
        QVERIFY(writeFile(victim, "the user's own text"));
        const QString linkName = QDir::tempPath() + "/Kestrune_uninstall.sh";
        const QString fileName = QDir::tempPath() + "/Kestrune_factory_reset.sh";
        const QByteArray foreign = "#!/bin/sh\necho someone else's commands\n";
        QFile::remove(linkName);
        QFile::remove(fileName);
        QVERIFY(QFile::link(victim, linkName));
        QVERIFY(writeFile(fileName, foreign));

        RecordingLauncher launcher;
        ktr::platform::setLauncher(&launcher);
        QString message, uninstall, reset;
        const bool uninstallStarted = selfremoval::startUninstall(true, env, &message, &uninstall);
        const bool resetStarted = selfremoval::startFactoryReset(env, &message, &reset);
        ktr::platform::setLauncher(nullptr);
        QVERIFY2(uninstallStarted && resetStarted, qPrintable(message));

        QCOMPARE(readFile(victim), QByteArray("the user's own text"));
        QVERIFY(QFileInfo(linkName).isSymLink());
        QCOMPARE(readFile(fileName), foreign);
        QCOMPARE(launcher.calls, (QList<QStringList>{{"setsid", "/bin/sh", uninstall}, {"setsid", "/bin/sh", reset}}));
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        const int owner = int(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const QString& script : {uninstall, reset}) {
            const QFileInfo folder(QFileInfo(script).absolutePath());
            QCOMPARE(folder.absolutePath(), runtime);
            QVERIFY(!folder.isSymLink());
            QCOMPARE(int(folder.permissions() & 0xf0ff), owner);
            QCOMPARE(int(QFileInfo(script).permissions() & 0xf0ff), owner);
            QCOMPARE(entries(folder.absoluteFilePath()), QStringList{QFileInfo(script).fileName()});
            // It removes itself and its folder at its end.
            const QString text = QString::fromUtf8(readFile(script));
            QVERIFY(text.contains("rm -f -- " + shQuote(script) + "\nrmdir -- " + shQuote(folder.absoluteFilePath())));
        }
        QCOMPARE(launcher.workDirs,
                 QStringList({QFileInfo(uninstall).absolutePath(), QFileInfo(reset).absolutePath()}));
        QVERIFY(QFileInfo(uninstall).absolutePath() != QFileInfo(reset).absolutePath());
        QFile::remove(linkName);
        QFile::remove(fileName);
    }
    // A full uninstall takes the market apps away with the data folder, and so the launchers the market wrote
    // for them on the desktop, which would start nothing; one that keeps the data keeps them. A launcher that is
    // not ours (no marker), a link, or one of ours that starts a program elsewhere stays.
    void fullUninstallTakesTheMarketLaunchers_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("full") << true;
        QTest::newRow("keep data") << false;
    }
    void fullUninstallTakesTheMarketLaunchers()
    {
        QFETCH(bool, full);
        const QString root = freshDir("launchers");
        const QString exe = root + "/kestrune-panel";
        QVERIFY(writeFile(exe, "#!/bin/sh\n"));
        selfremoval::Env env = sandboxEnv(root, exe);
        const QString app = env.dataDir + "/apps/demo/demo.sh";
        QVERIFY(writeFile(app, "#!/bin/sh\n"));
        const auto launcher = [&](const QString& name, const QString& program, bool ours) {
            QString exec = desktopExecString({program});
            exec.replace(u'\\', QStringLiteral("\\\\"));
            return writeFile(env.desktopDir + "/" + name + ".desktop",
                             ("[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" +
                              (ours ? "X-Kestrune-Market=true\n" : ""))
                                 .toUtf8());
        };
        QVERIFY(launcher("Demo 演示", app, true));
        QVERIFY(launcher("Handmade", app, false));
        QVERIFY(launcher("Elsewhere", env.dataDir + "/apps-old/demo/demo.sh", true)); // beside the apps folder
        QVERIFY(QFile::link(env.desktopDir + "/Demo 演示.desktop", env.desktopDir + "/Linked.desktop"));

        const selfscripts::UninstallPlan plan = selfremoval::uninstallPlan(full, env);
        QCOMPARE(plan.shortcuts.contains(env.desktopDir + "/Demo 演示.desktop"), full);
        for (const char* stays : {"Handmade", "Elsewhere", "Linked"})
            QVERIFY2(!plan.shortcuts.contains(env.desktopDir + "/" + stays + ".desktop"), stays);
    }

    // What the panel made outside its data folder goes with it, when nothing else is left in it; what was there
    // before, or holds another program's files, stays.
    void uninstallTakesAwayWhatThePanelMade_data()
    {
        QTest::addColumn<bool>("full");
        QTest::addColumn<bool>("autostartWasThere");
        QTest::addColumn<bool>("otherEntry");
        QTest::newRow("full, the panel made the autostart folder") << true << false << false;
        QTest::newRow("keep data, the panel made the autostart folder") << false << false << false;
        QTest::newRow("the autostart folder was there before") << true << true << false;
        QTest::newRow("another program's entry in the folder the panel made") << true << false << true;
    }
    void uninstallTakesAwayWhatThePanelMade()
    {
        QFETCH(bool, full);
        QFETCH(bool, autostartWasThere);
        QFETCH(bool, otherEntry);
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        const QString autostart = config + "/autostart";
        QDir(autostart).removeRecursively();
        QDir(config + "/Kestrune").removeRecursively();
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        const QString organisation = QFileInfo(data).absolutePath();
        QVERIFY(writeFile(data + "/settings.json", "{}"));
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        const QStringList ours = {"KestrunePanel_Wake_0", "KestrunePanel_0", "KestrunePanel_SingleInstanceMutex.lock",
                                  "ktr-backup-0123456789abcdef0123.lock"};
        for (const QString& name : ours)
            QVERIFY(writeFile(runtime + "/" + name, ""));
        QVERIFY(writeFile(runtime + "/other-program.sock", ""));

        const QString root = freshDir("made");
        const QString exe = root + "/kestrune-panel";
        QVERIFY(writeFile(exe, "#!/bin/sh\n"));
        if (autostartWasThere)
            QVERIFY(QDir().mkpath(autostart));
        QCOMPARE(ktr::platform::setAutostart(true, exe), 0);
        if (otherEntry)
            QVERIFY(writeFile(autostart + "/other.desktop", "[Desktop Entry]\n"));

        selfremoval::Env env = selfremoval::Env::system();
        env.exe = exe;
        env.target = {};
        env.tempDir = root;
        env.desktopDir.clear();
        env.applicationsDir.clear();
        selfscripts::UninstallPlan plan = selfremoval::uninstallPlan(full, env);
        plan.delaySeconds = 0;
        QCOMPARE(runScript(uninstallScript(plan), root), 0);

        QVERIFY(!QFileInfo::exists(autostart + "/KestrunePanel.desktop"));
        QCOMPARE(QFileInfo::exists(autostart), autostartWasThere || otherEntry);
        if (otherEntry)
            QCOMPARE(entries(autostart), QStringList{"other.desktop"});
        QVERIFY(!QFileInfo::exists(config + "/Kestrune")); // the record of made folders and its folder
        QCOMPARE(QFileInfo::exists(organisation), !full);  // empty once the data folder is gone
        for (const QString& name : ours)
            QVERIFY2(!QFileInfo::exists(runtime + "/" + name), qPrintable(name));
        QVERIFY(QFileInfo::exists(runtime + "/other-program.sock"));
        QVERIFY(QFileInfo::exists(runtime)); // the session's own folder stays
    }
};

KTR_TEST_MAIN(TestSelfScripts)
#include "tst_selfscripts.moc"
