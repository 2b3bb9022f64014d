#include "app/qmain.h"
#include "platform/registry.h"

#include "logcapture.h"
#include "testenv.h"

#include <QApplication>
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

    void installPath_data()
    {
        QTest::addColumn<bool>("machineWritable");
        QTest::addColumn<bool>("userWritable");
        QTest::addColumn<QString>("expected");
        QTest::newRow("machine-wide") << true << true << "install path written to HKLM:";
        QTest::newRow("per user") << false << true << "install path written to HKCU:";
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
        const QByteArray savedMachine = qgetenv("XDG_CONFIG_DIRS");
        const QByteArray savedUser = qgetenv("XDG_CONFIG_HOME");
        if (!machineWritable)
            qputenv("XDG_CONFIG_DIRS", blocker.toUtf8());
        if (!userWritable)
            qputenv("XDG_CONFIG_HOME", blocker.toUtf8());
        ktr::test::LogCapture log;
        writeInstallPath();
        const QString machine =
            ktr::platform::readRegistryString(ktr::platform::RegistryHive::LocalMachine,
                                              QStringLiteral("SOFTWARE\\KestrunePanel"), QStringLiteral("InstallPath"));
        qputenv("XDG_CONFIG_DIRS", savedMachine);
        qputenv("XDG_CONFIG_HOME", savedUser);
        QVERIFY2(log.contains(expected + QLatin1Char(' ') + QCoreApplication::applicationDirPath()),
                 qPrintable(log.messages().join(QLatin1Char('\n'))));
        if (machineWritable)
            QCOMPARE(machine, QCoreApplication::applicationDirPath());
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
