#include "platform/fsentry.h"
#include "platform/instancelock.h"
#include "platform/qtenv.h"
#include "platform/registry.h"
#include "platform/unixsignals.h"
#include "platform/version.h"

#include "testenv.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestPlatformCore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void qtPlatformRule_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("kept");
        QTest::newRow("xcb") << QByteArray("xcb") << true;
        QTest::newRow("offscreen") << QByteArray("offscreen") << true;
        QTest::newRow("minimal") << QByteArray("minimal") << true;
        QTest::newRow("with options") << QByteArray("xcb:nomitshm") << true;
        QTest::newRow("capitals and blanks") << QByteArray("  OFFSCREEN ") << true;
        QTest::newRow("wayland") << QByteArray("wayland") << false;
        QTest::newRow("wayland then xcb") << QByteArray("wayland;xcb") << false;
        QTest::newRow("windows") << QByteArray("windows") << false;
        QTest::newRow("prefix of a kept name") << QByteArray("xcbx") << false;
        QTest::newRow("vnc") << QByteArray("vnc:size=800x600") << false;
    }
    void qtPlatformRule()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, kept);
        const QByteArray saved = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", value);
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", "/elsewhere/platforms");
        qputenv("QT_PLUGIN_PATH", "/elsewhere/plugins");
        qunsetenv("XDG_SESSION_TYPE");
        ktr::platform::cleanQtEnvironment();
        const bool stays = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
        const QByteArray now = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", saved);
        QCOMPARE(stays, kept);
        if (kept)
            QCOMPARE(now, value);
        QVERIFY(!qEnvironmentVariableIsSet("QT_QPA_PLATFORM_PLUGIN_PATH"));
        QVERIFY(!qEnvironmentVariableIsSet("QT_PLUGIN_PATH"));
    }

    void waylandSessionRunsThroughXWayland_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("X server at hand") << QByteArray(":5") << QByteArray("xcb");
        QTest::newRow("no X server") << QByteArray() << QByteArray();
    }
    void waylandSessionRunsThroughXWayland()
    {
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, expected);
        const QByteArray savedPlatform = qgetenv("QT_QPA_PLATFORM");
        const QByteArray savedDisplay = qgetenv("DISPLAY");
        qputenv("QT_QPA_PLATFORM", "wayland");
        qputenv("XDG_SESSION_TYPE", "wayland");
        qputenv("DISPLAY", display);
        ktr::platform::cleanQtEnvironment();
        const QByteArray now = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", savedPlatform);
        qputenv("DISPLAY", savedDisplay);
        qunsetenv("XDG_SESSION_TYPE");
        QCOMPARE(now, expected);
    }

    void singleInstanceLock()
    {
        const QString name = QStringLiteral("KtrTestLock");
        QCOMPARE(ktr::platform::SingleInstanceLock::lockPath(name),
                 qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/KtrTestLock.lock"));
        ktr::platform::SingleInstanceLock first(name);
        QCOMPARE(first.tryAcquire(), ktr::platform::SingleInstanceLock::Result::Acquired);
        QVERIFY(first.isHeld());
        QVERIFY(QFileInfo::exists(first.path()));
        first.release();
        QVERIFY(!first.isHeld());
        QVERIFY(!QFileInfo::exists(first.path()));

        // A lock left by a process that died is taken over at once.
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted(5000));
        const QByteArray deadPid = QByteArray::number(gone.processId());
        QVERIFY(gone.waitForFinished(5000));
        QVERIFY(ktr::test::writeFile(first.path(),
                                     deadPid + "\nkestrune-panel\n" + QSysInfo::machineHostName().toUtf8() + '\n'));
        ktr::platform::SingleInstanceLock second(name);
        QCOMPARE(second.tryAcquire(), ktr::platform::SingleInstanceLock::Result::Acquired);

        // A folder in the way of the lock file is a failure, not another instance.
        ktr::platform::SingleInstanceLock blocked(QStringLiteral("missing-folder/KtrTestLock"));
        QCOMPARE(blocked.tryAcquire(), ktr::platform::SingleInstanceLock::Result::Failed);
    }

    // A lock file QLockFile can't read never went stale by itself, so every later start gave up.
    void unreadableLockWithoutLiveHolderIsStale_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("stale");
        QProcess gone;
        gone.start(QStringLiteral("true"));
        gone.waitForFinished(5000);
        const QByteArray deadPid = QByteArray::number(gone.processId());
        const QByteArray livePid = QByteArray::number(QCoreApplication::applicationPid());
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("garbage") << QByteArray("\x01\xfe not a lock\n") << true;
        QTest::newRow("another host, dead pid") << deadPid + "\nkestrune-panel\nother-host.example\n" << true;
        QTest::newRow("another host, pid alive here") << livePid + "\nkestrune-panel\nother-host.example\n" << false;
    }
    void unreadableLockWithoutLiveHolderIsStale()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, stale);
        const QString name = QStringLiteral("KtrStaleLock");
        QVERIFY(ktr::test::writeFile(ktr::platform::SingleInstanceLock::lockPath(name), content));
        ktr::platform::SingleInstanceLock lock(name);
        QCOMPARE(lock.tryAcquire(), stale ? ktr::platform::SingleInstanceLock::Result::Acquired
                                          : ktr::platform::SingleInstanceLock::Result::HeldElsewhere);
        lock.release();
        QFile::remove(lock.path());
    }

    void liveHolderIsNeverTakenOver()
    {
        ktr::platform::SingleInstanceLock holder(QStringLiteral("KtrLiveLock"));
        QCOMPARE(holder.tryAcquire(), ktr::platform::SingleInstanceLock::Result::Acquired);
        // Even with its content garbled, the holder's lock on the file shows it alive.
        QVERIFY(ktr::test::writeFile(holder.path(), "garbled"));
        ktr::platform::SingleInstanceLock second(QStringLiteral("KtrLiveLock"));
        QCOMPARE(second.tryAcquire(), ktr::platform::SingleInstanceLock::Result::HeldElsewhere);
        QVERIFY(holder.isHeld());
    }

    // Without XDG_RUNTIME_DIR and with the temporary folder's runtime name planted by another user, the lock
    // goes to a private folder of ours, never to the shared folder.
    void runtimeFallbackIsPrivate()
    {
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray savedTmp = qgetenv("TMPDIR");
        const QString tmp = ktr::test::freshDir(QStringLiteral("shared-tmp"));
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(tmp));
        const QString planted =
            tmp + QStringLiteral("/runtime-") + QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name);
        QVERIFY(QDir().mkpath(planted));
        const bool chowned = ::chown(QFile::encodeName(planted).constData(), 4242, 4242) == 0;
        const QString lockPath = ktr::platform::SingleInstanceLock::lockPath(QStringLiteral("KtrFallback"));
        const QString dir = ktr::platform::privateRuntimeDir();
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("TMPDIR", savedTmp);
        if (!chowned)
            QSKIP("cannot hand a folder to another user here");
        QVERIFY2(!lockPath.startsWith(tmp), qPrintable(lockPath));
        QCOMPARE(QFileInfo(lockPath).absolutePath(), dir);
        const ktr::platform::EntryStat st = ktr::platform::entryStat(dir);
        QVERIFY(st.isDir && !st.isLink);
        QCOMPARE(st.owner, uint(::getuid()));
        QCOMPARE(int(st.mode), 0700);
    }

    void privateDirRefusesWhatIsNotOurs_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("missing") << "missing" << true;
        QTest::newRow("ours, too open") << "open" << true;
        QTest::newRow("another user's") << "foreign" << false;
        QTest::newRow("a link to our folder") << "link" << false;
        QTest::newRow("a file") << "file" << false;
    }
    void privateDirRefusesWhatIsNotOurs()
    {
        QFETCH(QString, setup);
        QFETCH(bool, accepted);
        const QString base = ktr::test::freshDir(QStringLiteral("private-") + setup);
        const QString dir = base + QStringLiteral("/run");
        const QByteArray native = QFile::encodeName(dir);
        if (setup == "open") {
            QVERIFY(QDir().mkpath(dir));
            QVERIFY(::chmod(native.constData(), 0777) == 0);
        } else if (setup == "foreign") {
            QVERIFY(QDir().mkpath(dir));
            if (::chown(native.constData(), 4242, 4242) != 0)
                QSKIP("cannot hand a folder to another user here");
        } else if (setup == "link") {
            QVERIFY(QDir().mkpath(base + QStringLiteral("/real")));
            QVERIFY(QFile::link(base + QStringLiteral("/real"), dir));
        } else if (setup == "file") {
            QVERIFY(ktr::test::writeFile(dir, "x"));
        }
        QString error;
        QCOMPARE(ktr::platform::ensurePrivateDir(dir, &error), accepted);
        QCOMPARE(error.isEmpty(), accepted);
        if (accepted)
            QCOMPARE(int(ktr::platform::entryStat(dir).mode), 0700);
    }

    void registryStore()
    {
        using ktr::platform::RegistryHive;
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QCOMPARE(ktr::platform::registryFilePath(RegistryHive::CurrentUser),
                 config + QStringLiteral("/Kestrune/registry.ini"));
        QCOMPARE(ktr::platform::registryFilePath(RegistryHive::LocalMachine),
                 qEnvironmentVariable("XDG_CONFIG_DIRS") + QStringLiteral("/Kestrune/registry.ini"));
        const QString key = QStringLiteral("SOFTWARE\\KestrunePanel");
        QVERIFY(ktr::platform::writeRegistryString(RegistryHive::CurrentUser, key, QStringLiteral("InstallPath"),
                                                   QStringLiteral("/opt/青岚 舟")));
        QCOMPARE(ktr::platform::readRegistryString(RegistryHive::CurrentUser, key, QStringLiteral("InstallPath")),
                 QStringLiteral("/opt/青岚 舟"));
        QCOMPARE(int(ktr::platform::entryStat(config + QStringLiteral("/Kestrune")).mode), 0700);
        // The same value again leaves the store as it is (a write would replace the file); another one is written.
        const QString store = ktr::platform::registryFilePath(RegistryHive::CurrentUser);
        const QByteArray before = ktr::test::readFile(store);
        {
            QFile f(store);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
        }
        QVERIFY(ktr::platform::writeRegistryString(RegistryHive::CurrentUser, key, QStringLiteral("InstallPath"),
                                                   QStringLiteral("/opt/青岚 舟")));
        QCOMPARE(QFileInfo(store).lastModified().date().year(), 2020);
        QCOMPARE(ktr::test::readFile(store), before);
        QVERIFY(ktr::platform::writeRegistryString(RegistryHive::CurrentUser, key, QStringLiteral("InstallPath"),
                                                   QStringLiteral("/opt/other")));
        QCOMPARE(ktr::platform::readRegistryString(RegistryHive::CurrentUser, key, QStringLiteral("InstallPath")),
                 QStringLiteral("/opt/other"));
        QVERIFY(QFileInfo(store).lastModified().date().year() > 2020);
        QCOMPARE(ktr::platform::readRegistryString(RegistryHive::LocalMachine, key, QStringLiteral("InstallPath")),
                 QString());

        // The store's folder can't be made below a regular file: a failure with its reason.
        const QString blocker = ktr::test::freshDir(QStringLiteral("reg")) + QStringLiteral("/file");
        QVERIFY(ktr::test::writeFile(blocker, "x"));
        const QByteArray saved = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS", blocker.toUtf8());
        QString error;
        const bool ok = ktr::platform::writeRegistryString(RegistryHive::LocalMachine, key,
                                                           QStringLiteral("InstallPath"), QStringLiteral("/x"), &error);
        qputenv("XDG_CONFIG_DIRS", saved);
        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
    }

    // The uninstall deletes a store only when it names this very copy and holds nothing else.
    void installPathStores_data()
    {
        QTest::addColumn<QByteArray>("userStore");
        QTest::addColumn<QByteArray>("machineStore");
        QTest::addColumn<QStringList>("expected"); // "user", "machine"
        const QByteArray ours = "[SOFTWARE]\nKestrunePanel\\InstallPath=/opt/k p/bin\n";
        QTest::newRow("both name this copy") << ours << ours << QStringList{"user", "machine"};
        QTest::newRow("the user's only") << ours << QByteArray() << QStringList{"user"};
        QTest::newRow("machine-wide left by an earlier version") << QByteArray() << ours << QStringList{"machine"};
        QTest::newRow("another copy") << QByteArray("[SOFTWARE]\nKestrunePanel\\InstallPath=/opt/other/bin\n")
                                      << QByteArray() << QStringList();
        QTest::newRow("one character more")
            << QByteArray("[SOFTWARE]\nKestrunePanel\\InstallPath=/opt/k p/bin2\n") << QByteArray() << QStringList();
        QTest::newRow("one character less")
            << QByteArray("[SOFTWARE]\nKestrunePanel\\InstallPath=/opt/k p/bi\n") << QByteArray() << QStringList();
        QTest::newRow("something else beside it")
            << QByteArray("[SOFTWARE]\nKestrunePanel\\InstallPath=/opt/k p/bin\nKestrunePanel\\Other=1\n")
            << QByteArray() << QStringList();
        QTest::newRow("a folder where the store should be") << QByteArray("folder") << QByteArray() << QStringList();
    }
    void installPathStores()
    {
        QFETCH(QByteArray, userStore);
        QFETCH(QByteArray, machineStore);
        QFETCH(QStringList, expected);
        const QString user = ktr::test::freshDir(QStringLiteral("user-config"));
        const QString machine = ktr::test::freshDir(QStringLiteral("machine-config"));
        const QString userFile = user + QStringLiteral("/Kestrune/registry.ini");
        const QString machineFile = machine + QStringLiteral("/Kestrune/registry.ini");
        if (userStore == "folder")
            QVERIFY(QDir().mkpath(userFile));
        else if (!userStore.isEmpty())
            QVERIFY(ktr::test::writeFile(userFile, userStore));
        if (!machineStore.isEmpty())
            QVERIFY(ktr::test::writeFile(machineFile, machineStore));
        const QByteArray savedUser = qgetenv("XDG_CONFIG_HOME");
        const QByteArray savedMachine = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_HOME", user.toUtf8());
        qputenv("XDG_CONFIG_DIRS", machine.toUtf8());
        const QStringList stores = ktr::platform::installPathStoresOf(QStringLiteral("/opt/k p/bin/"));
        qputenv("XDG_CONFIG_HOME", savedUser);
        qputenv("XDG_CONFIG_DIRS", savedMachine);
        QStringList want;
        if (expected.contains(QStringLiteral("user")))
            want << userFile;
        if (expected.contains(QStringLiteral("machine")))
            want << machineFile;
        QCOMPARE(stores, want);
    }

    // A quit signal ends the event loop even while a window refuses to close (a panel that closes to the
    // tray), and the quit handler runs.
    void quitSignalEndsTheLoopPastARefusingWindow()
    {
        QVERIFY(ktr::platform::QuitSignalWatcher::install());
        struct Refuses : QWidget
        {
            void closeEvent(QCloseEvent* e) override { e->ignore(); }
        } window;
        window.show();
        QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(9); });
        guard.start(5000);
        QTimer::singleShot(0, [] { ::raise(SIGTERM); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(aboutToQuit.count(), 1);
    }

    // A closed pipe must not kill the program; SIGQUIT and SIGUSR1 quit like SIGTERM.
    void brokenPipeIsHarmless()
    {
        QVERIFY(ktr::platform::QuitSignalWatcher::install());
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        ::close(fds[0]);
        QCOMPARE(::write(fds[1], "x", 1), ssize_t(-1));
        QCOMPARE(errno, EPIPE);
        ::close(fds[1]);
    }

    void quitSignalsBecomeQuitRequests_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGQUIT") << int(SIGQUIT);
        QTest::newRow("SIGUSR1") << int(SIGUSR1);
    }
    void quitSignalsBecomeQuitRequests()
    {
        QFETCH(int, signal);
        auto* watcher = ktr::platform::QuitSignalWatcher::install();
        QVERIFY(watcher);
        QCOMPARE(ktr::platform::QuitSignalWatcher::install(), watcher);
        // Keep the application's quit from ending the test run.
        QObject::disconnect(watcher, &ktr::platform::QuitSignalWatcher::quitRequested, qApp, nullptr);
        QSignalSpy spy(watcher, &ktr::platform::QuitSignalWatcher::quitRequested);
        ::raise(signal);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first().toInt(), signal);
    }

    void versionIsCompiledIn() { QCOMPARE(ktr::platform::compiledVersion(), QStringLiteral(KTR_PROJECT_VERSION)); }
};

KTR_TEST_MAIN(TestPlatformCore)
#include "tst_platformcore.moc"
