#include "app/qmain.h"
#include "platform/registry.h"

#include "logcapture.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <fcntl.h>
#include <sys/stat.h>

class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versionHasThreeNumbers()
    {
        QCOMPARE(panelVersionString(), QStringLiteral(KTR_PROJECT_VERSION));
        QVERIFY(QRegularExpression(QStringLiteral(R"(^\d+\.\d+\.\d+$)")).match(panelVersionString()).hasMatch());
    }

    // An ordinary start writes the user's store only; the machine-wide one stays untouched even when it is
    // writable (as for root), and nothing but that one value goes into the user's.
    void installPath_data()
    {
        QTest::addColumn<bool>("machineWritable");
        QTest::addColumn<bool>("userWritable");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both writable") << true << true << "install path written to HKCU:";
        QTest::newRow("per user only") << false << true << "install path written to HKCU:";
        QTest::newRow("machine-wide only") << true << false << "install path not written (no permission):";
        QTest::newRow("neither") << false << false << "install path not written (no permission):";
    }
    void installPath()
    {
        QFETCH(bool, machineWritable);
        QFETCH(bool, userWritable);
        QFETCH(QString, expected);
        // A regular file where a folder should be makes a store unwritable, even for root.
        const QString blocker = ktr::test::freshDir(QStringLiteral("reg")) + QStringLiteral("/file");
        QVERIFY(ktr::test::writeFile(blocker, "x"));
        const QString machineDir = ktr::test::freshDir(QStringLiteral("etc-xdg"));
        const QString userDir = ktr::test::freshDir(QStringLiteral("config"));
        const QByteArray savedMachine = qgetenv("XDG_CONFIG_DIRS");
        const QByteArray savedUser = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_DIRS", (machineWritable ? machineDir : blocker).toUtf8());
        qputenv("XDG_CONFIG_HOME", (userWritable ? userDir : blocker).toUtf8());
        ktr::test::LogCapture log;
        writeInstallPath();
        const QString user = ktr::platform::readRegistryString(ktr::platform::RegistryHive::CurrentUser,
                                                               QLatin1String(ktr::platform::kInstallPathKey),
                                                               QLatin1String(ktr::platform::kInstallPathName));
        const QStringList stores = ktr::platform::installPathStoresOf(QCoreApplication::applicationDirPath());
        qputenv("XDG_CONFIG_DIRS", savedMachine);
        qputenv("XDG_CONFIG_HOME", savedUser);
        QVERIFY2(log.contains(expected + QLatin1Char(' ') + QCoreApplication::applicationDirPath()),
                 qPrintable(log.messages().join(QLatin1Char('\n'))));
        QCOMPARE(QDir(machineDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        if (userWritable) {
            QCOMPARE(user, QCoreApplication::applicationDirPath());
            QCOMPARE(stores, QStringList{userDir + QStringLiteral("/Kestrune/registry.ini")});
        }
    }

    void selfHeal_data()
    {
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("finding");
        QTest::newRow("on no screen") << QPoint(5000, 4000) << true << "geo 5000,4000 -> 居中";
        QTest::newRow("hidden") << QPoint(10, 10) << false << "hidden/minimized -> showNormal";
        QTest::newRow("fine") << QPoint(10, 10) << true << "";
    }
    void selfHeal()
    {
        QFETCH(QPoint, position);
        QFETCH(bool, shown);
        QFETCH(QString, finding);
        QWidget w;
        w.resize(300, 200);
        w.setWindowOpacity(0.5);
        const qreal opacity = w.windowOpacity(); // stored in 8 bits
        w.move(position);
        if (shown)
            w.show();
        ktr::test::LogCapture log;
        startupSelfHeal(&w);
        QVERIFY(w.isVisible());
        QCOMPARE(w.size(), QSize(300, 200));
        QCOMPARE(w.windowOpacity(), opacity);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(area.intersects(w.frameGeometry()));
        if (finding.isEmpty()) {
            QVERIFY(log.contains(QStringLiteral("启动体检通过：可视且位置有效")));
        } else {
            QVERIFY2(log.contains(QStringLiteral("启动自愈：窗口不可见，已复位 -> ") + finding),
                     qPrintable(log.messages().join(QLatin1Char('\n'))));
            QVERIFY(log.contains(QStringLiteral("| 现在 opacity")));
        }
        if (position.x() > 1000)
            QCOMPARE(w.pos(), QPoint(area.left() + (area.width() - 300) / 2, area.top() + (area.height() - 200) / 2));
    }

    void cleanupThreadRunsOnceAndJoinsAnyNumberOfTimes()
    {
        const QString leftover = QDir::tempPath() + QStringLiteral("/ktrbak_prog_old.txt");
        QVERIFY(ktr::test::writeFile(leftover, "x"));
        const qint64 t = QDateTime::currentSecsSinceEpoch() - 2 * 86400;
        timespec times[2] = {{t, 0}, {t, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(leftover).constData(), times, 0), 0);
        joinTempCleanupThread(); // never started: returns at once
        ktr::test::LogCapture log;
        startTempCleanupThread();
        QTRY_VERIFY(!QFileInfo::exists(leftover)); // joining at once would stop it before its first entry
        joinTempCleanupThread();
        QVERIFY(log.contains(QStringLiteral("temp backup leftovers cleaned: 1")));
        QVERIFY(!log.contains(QStringLiteral("still running")));
        joinTempCleanupThread();
    }
};

KTR_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
