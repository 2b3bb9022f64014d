#include "platform/instancelock.h"
#include "platform/qtenv.h"
#include "platform/registry.h"
#include "platform/unixsignals.h"
#include "platform/version.h"

#include "testenv.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>

#include <csignal>

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

    void quitSignalsBecomeQuitRequests_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
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
