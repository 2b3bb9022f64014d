// The recorder's thread and its start and stop, with the screen, input, disk and files faked.
#include "fakerecorder.h"
#include "manualclock.h"
#include "recorder/screenmonitor.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThread>

#include <sys/stat.h>

using ktr::test::FakeActivity;
using ktr::test::FakeFiles;
using ktr::test::FakeScreen;

namespace {

struct MonitorRig
{
    ktr::test::ManualClock clock;
    FakeActivity activity;
    FakeScreen screen;
    FakeFiles files;
    std::atomic<qint64> freeBytes{100000LL * 1048576};
    QString dir = ktr::test::freshDir(QStringLiteral("rec"));
    ScreenMonitor monitor{ktr::test::fakeMonitorSeams(&clock, &activity, &screen, &files, &freeBytes)};

    MonitorRig()
    {
        activity.installTick = clock.monotonicMs();
        monitor.configure(dir, 100, 10, 60, 0, 0);
    }
    int grabs()
    {
        std::lock_guard lock(screen.mutex);
        return screen.grabs;
    }
};

} // namespace

class TestScreenMonitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startTwiceRunsOneThread()
    {
        MonitorRig rig;
        QVERIFY(rig.monitor.start());
        QVERIFY(rig.monitor.start());
        QVERIFY(rig.monitor.isRunning());
        QTRY_VERIFY(rig.grabs() >= 3);
        QTRY_VERIFY(!rig.monitor.segmentPath().isEmpty());
        rig.monitor.stop();
        QVERIFY(!rig.monitor.isRunning());
        QCOMPARE(rig.activity.installs.load(), 1);
        QCOMPARE(rig.activity.removes.load(), 1);
        QCOMPARE(rig.screen.grabThreads.size(), size_t(1));
        QVERIFY(*rig.screen.grabThreads.begin() != std::this_thread::get_id());
        QCOMPARE(rig.screen.captures, 1);
        // The open segment is closed by the stop.
        QCOMPARE(rig.files.closed, rig.files.opened);
        QVERIFY(rig.monitor.segmentPath().isEmpty());
    }

    void stopIsSafeWhenStopped()
    {
        MonitorRig rig;
        rig.monitor.stop();
        QCOMPARE(rig.activity.removes.load(), 0);
        QVERIFY(rig.monitor.start());
        rig.monitor.stop();
        const int grabs = rig.grabs();
        rig.monitor.stop();
        QCOMPARE(rig.activity.removes.load(), 1);
        QCOMPARE(rig.grabs(), grabs);
        QVERIFY(rig.monitor.start()); // and it starts again
        QTRY_VERIFY(rig.grabs() > grabs);
        rig.monitor.stop();
    }

    // The button's stop returns at once; the thread closes the segment by itself, and the next start waits
    // for that end before it begins anew.
    void requestStopFinishesOnItsOwn()
    {
        MonitorRig rig;
        QVERIFY(rig.monitor.start());
        QTRY_COMPARE(rig.files.opened.size(), 1);
        rig.monitor.requestStop();
        QVERIFY(!rig.monitor.isRunning());
        QCOMPARE(rig.activity.removes.load(), 1);
        QTRY_COMPARE(rig.files.closed, rig.files.opened);
        QVERIFY(rig.monitor.start());
        QTRY_COMPARE(rig.files.opened.size(), 2);
        rig.monitor.stop();
        QCOMPARE(rig.files.closed, rig.files.opened);
        QCOMPARE(rig.screen.captures, 2); // each run makes its capture on its own thread
    }

    // Start refuses, with the reason, whatever would leave the button saying it records while nothing is
    // written.
    void startRefusesWithTheReason_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("captureAvailable");
        QTest::addColumn<QString>("message");
        const QString file = ktr::test::freshDir(QStringLiteral("f")) + QStringLiteral("/plain");
        ktr::test::writeFile(file, "x");
        QTest::newRow("no folder") << QString() << true << QStringLiteral("请先设置录屏保存文件夹");
        QTest::newRow("folder below a file") << file + QStringLiteral("/rec") << true
                                             << QStringLiteral("无法创建录屏文件夹：") + file + QStringLiteral("/rec");
        QTest::newRow("folder is a file") << file << true << QStringLiteral("无法创建录屏文件夹：") + file;
        // proc refuses new files even to root.
        QTest::newRow("folder not writable")
            << QStringLiteral("/proc/self") << true << QStringLiteral("录屏文件夹无法写入：/proc/self");
        QTest::newRow("no display") << QString(QStringLiteral("ok")) << false << QStringLiteral("no screen here");
    }
    void startRefusesWithTheReason()
    {
        QFETCH(QString, folder);
        QFETCH(bool, captureAvailable);
        QFETCH(QString, message);
        MonitorRig rig;
        ScreenMonitor::Seams seams =
            ktr::test::fakeMonitorSeams(&rig.clock, &rig.activity, &rig.screen, &rig.files, &rig.freeBytes);
        seams.available = [captureAvailable](QString* why) {
            *why = QStringLiteral("no screen here");
            return captureAvailable;
        };
        rig.monitor.setSeams(seams);
        rig.monitor.configure(folder == QLatin1String("ok") ? rig.dir : folder, 100, 10, 10, 0, 0);
        QString why;
        QVERIFY(!rig.monitor.start(&why));
        QCOMPARE(why, message);
        QVERIFY(!rig.monitor.isRunning());
        QCOMPARE(rig.activity.installs.load(), 0);
        rig.monitor.stop();
    }

    // A recording folder the recorder makes is owner-only, its missing parents too are made; one the user
    // already has keeps its mode.
    void madeFolderIsPrivate_data()
    {
        QTest::addColumn<QString>("below"); // the recording folder, relative to a fresh folder
        QTest::addColumn<bool>("exists");
        QTest::addColumn<uint>("mode");
        QTest::newRow("made here") << QStringLiteral("rec") << false << 0700u;
        QTest::newRow("made with a parent") << QStringLiteral("new/rec") << false << 0700u;
        QTest::newRow("the user's 0755 folder") << QStringLiteral("rec") << true << 0755u;
    }
    void madeFolderIsPrivate()
    {
        QFETCH(QString, below);
        QFETCH(bool, exists);
        QFETCH(uint, mode);
        const QString dir = ktr::test::freshDir(QStringLiteral("privrec")) + QLatin1Char('/') + below;
        if (exists) {
            QVERIFY(QDir().mkpath(dir));
            QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        }
        MonitorRig rig;
        rig.monitor.configure(dir, 100, 10, 10, 0, 0);
        QVERIFY(rig.monitor.start());
        rig.monitor.stop();
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(uint(st.st_mode & 07777), mode);
    }

    // The notice is emitted on the recorder thread and reaches a GUI-thread receiver queued, once a pause.
    void diskFullReachesTheGuiThreadOnce()
    {
        MonitorRig rig;
        rig.freeBytes = 100LL * 1048576;
        QObject receiver;
        int received = 0;
        bool onGuiThread = false;
        connect(&rig.monitor, &ScreenMonitor::diskFull, &receiver, [&] {
            ++received;
            onGuiThread = QThread::currentThread() == qApp->thread();
        });
        QVERIFY(rig.monitor.start());
        QTRY_COMPARE(received, 1);
        QVERIFY(onGuiThread);
        QVERIFY(rig.monitor.isPaused());
        QTRY_VERIFY(rig.grabs() == 0 && rig.monitor.isRunning());
        rig.monitor.stop();
        QCoreApplication::processEvents();
        QCOMPARE(received, 1);
        QVERIFY(rig.files.opened.isEmpty());
    }
};

KTR_TEST_MAIN(TestScreenMonitor)
#include "tst_screenmonitor.moc"
