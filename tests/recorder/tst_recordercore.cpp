// The recorder's decisions behind its seams: a hand-driven clock, fake input, screen, disk and files, one
// pass of the capture loop at a time.
#include "fakerecorder.h"
#include "manualclock.h"
#include "recorder/aviwriter.h"
#include "recorder/recordercore.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>

using ktr::test::FakeActivity;
using ktr::test::FakeFiles;
using ktr::test::FakeScreen;
using ktr::test::ManualClock;

namespace {

constexpr qint64 kMiB = 1048576;

// One recorder core with everything it reaches faked.
struct Rig
{
    ManualClock clock;
    FakeActivity activity;
    FakeScreen screen;
    FakeFiles files;
    std::atomic<qint64> freeBytes{100000 * kMiB};
    int diskFull = 0;
    QList<QPair<RecorderCore::PauseCause, QString>> pauses; // every pause the user was told of
    int resumes = 0;
    QString dir = ktr::test::freshDir(QStringLiteral("rec"));
    std::unique_ptr<RecorderCore> core;

    explicit Rig(int format = 0, int maxMB = 100, int idleSec = 10, int trigger = 0)
    {
        core = std::make_unique<RecorderCore>(ktr::test::fakeCoreSeams(&clock, &activity, &screen, &files, &freeBytes));
        core->configure(dir, maxMB, idleSec, 10, format, trigger);
        listen();
        activity.installTick = clock.monotonicMs();
        activity.install();
    }
    void listen()
    {
        core->onPause = [this](RecorderCore::PauseCause cause, const QString& detail) {
            pauses.append({cause, detail});
            if (cause == RecorderCore::PauseCause::LowDisk)
                ++diskFull;
        };
        core->onResume = [this] { ++resumes; };
    }
    void touchMouse() { activity.mouse = clock.monotonicMs(); }
    // Steps for ms milliseconds at the given pace with the user active throughout.
    void run(qint64 ms, qint64 pace = 500)
    {
        for (qint64 t = 0; t < ms; t += pace) {
            clock.advance(pace);
            touchMouse();
            core->step();
        }
    }
    QString name(const QString& suffix) const { return dir + QStringLiteral("/Screen_20260115_") + suffix; }
};

} // namespace

class TestRecorderCore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaultsBeforeConfigure()
    {
        Rig rig;
        RecorderCore fresh(
            ktr::test::fakeCoreSeams(&rig.clock, &rig.activity, &rig.screen, &rig.files, &rig.freeBytes));
        QCOMPARE(fresh.segmentMiB(), 100);
        QCOMPARE(fresh.idleMs(), 60000);
        QCOMPARE(fresh.frameIntervalMs(), 125);
        QCOMPARE(fresh.fps(), 59);
        QCOMPARE(fresh.useMp4(), false);
        QCOMPARE(fresh.idleMode(), 0);
    }

    void configureClamps_data()
    {
        QTest::addColumn<QList<int>>("args"); // maxMB, idleSec, fps, format, trigger
        QTest::addColumn<QList<int>>("want"); // segmentMiB, idleMs, fps, interval, mp4, mode
        QTest::newRow("all below") << QList<int>{5, 5, 1, 0, 7} << QList<int>{10, 10000, 2, 500, 0, 2};
        QTest::newRow("all above") << QList<int>{1000, 1000, 100, 1, 1} << QList<int>{512, 600000, 60, 17, 1, 1};
        QTest::newRow("negative mode") << QList<int>{100, 30, 59, 5, -1} << QList<int>{100, 30000, 59, 17, 1, 0};
        QTest::newRow("negative format") << QList<int>{512, 600, 30, -1, 0} << QList<int>{512, 600000, 30, 33, 0, 0};
        QTest::newRow("fps 7 rounds") << QList<int>{10, 10, 7, 0, 0} << QList<int>{10, 10000, 7, 143, 0, 0};
    }
    void configureClamps()
    {
        QFETCH(QList<int>, args);
        QFETCH(QList<int>, want);
        Rig rig;
        rig.core->configure(rig.dir, args[0], args[1], args[2], args[3], args[4]);
        const QList<int> got{rig.core->segmentMiB(),      rig.core->idleMs(),         rig.core->fps(),
                             rig.core->frameIntervalMs(), rig.core->useMp4() ? 1 : 0, rig.core->idleMode()};
        QCOMPARE(got, want);
    }

    // The trigger decides which input counts; without raw input only the server's idle time counts.
    void activity_data()
    {
        QTest::addColumn<bool>("raw");
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("keyboardAge");
        QTest::addColumn<qint64>("mouseAge");
        QTest::addColumn<qint64>("systemIdle");
        QTest::addColumn<bool>("active");
        QTest::newRow("either: key fresh") << true << 0 << 100LL << 20000LL << -1LL << true;
        QTest::newRow("either: mouse fresh") << true << 0 << 20000LL << 9999LL << -1LL << true;
        QTest::newRow("either: both old") << true << 0 << 10000LL << 20000LL << -1LL << false;
        QTest::newRow("keyboard: key fresh") << true << 1 << 100LL << 20000LL << -1LL << true;
        QTest::newRow("keyboard: only mouse") << true << 1 << 20000LL << 100LL << -1LL << false;
        QTest::newRow("mouse: only key") << true << 2 << 100LL << 20000LL << -1LL << false;
        QTest::newRow("mouse: mouse fresh") << true << 2 << 20000LL << 100LL << -1LL << true;
        QTest::newRow("idle time: recent") << false << 1 << 20000LL << 20000LL << 5000LL << true;
        QTest::newRow("idle time: long") << false << 2 << 0LL << 0LL << 10000LL << false;
        QTest::newRow("idle time: unknown") << false << 0 << 0LL << 0LL << -1LL << false;
    }
    void activity()
    {
        QFETCH(bool, raw);
        QFETCH(int, mode);
        QFETCH(qint64, keyboardAge);
        QFETCH(qint64, mouseAge);
        QFETCH(qint64, systemIdle);
        QFETCH(bool, active);
        Rig rig(0, 100, 10, mode);
        rig.activity.remove();
        rig.activity.rawInput = raw;
        rig.activity.install();
        rig.clock.advance(100000);
        const qint64 now = rig.clock.monotonicMs();
        rig.activity.keyboard = now - keyboardAge;
        rig.activity.mouse = now - mouseAge;
        rig.activity.idle = systemIdle;
        QCOMPARE(rig.core->isUserActive(now), active);
    }

    void namesWithinOneSecondGetNumbers()
    {
        Rig rig;
        QStringList names;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(rig.core->openSegment(rig.clock.monotonicMs()));
            names << rig.core->segmentPath();
            rig.core->closeSegment();
        }
        QCOMPARE(names, QStringList({rig.name("100001.avi"), rig.name("100001_2.avi"), rig.name("100001_3.avi")}));
        QVERIFY(rig.core->segmentPath().isEmpty());
    }

    void idleClosesAndInputOpensANewFile()
    {
        Rig rig;
        rig.core->step();
        QCOMPARE(rig.files.opened.size(), 1);
        QCOMPARE(rig.core->framesInSegment(), 1);
        rig.clock.advance(9000);
        rig.core->step();
        QCOMPARE(rig.core->framesInSegment(), 2);
        rig.clock.advance(1000); // ten seconds without input
        rig.core->step();
        QVERIFY(!rig.core->hasSegment());
        QCOMPARE(rig.files.closed, QStringList{rig.name("100001.avi")});
        rig.clock.advance(5000);
        rig.core->step();
        QCOMPARE(rig.files.opened.size(), 1);

        rig.touchMouse();
        rig.core->step();
        QCOMPARE(rig.files.opened, QStringList({rig.name("100001.avi"), rig.name("100016.avi")}));
        QCOMPARE(rig.core->framesInSegment(), 1);
    }

    void displaySizeChangeStartsANewSegment()
    {
        Rig rig;
        rig.core->step();
        rig.screen.setSize(QSize(80, 60));
        rig.core->step();
        QCOMPARE(rig.files.closed, QStringList{rig.name("100001.avi")});
        QCOMPARE(rig.files.opened, QStringList({rig.name("100001.avi"), rig.name("100001_2.avi")}));
        QCOMPARE(rig.files.sizes, QList<QSize>({QSize(64, 48), QSize(80, 60)}));
        QCOMPARE(rig.core->framesInSegment(), 1); // the frame of the new size went into the new file
    }

    void sizeLimitRotates()
    {
        Rig rig(1, 10);
        rig.files.bytesPerFrame = 4 * kMiB;
        rig.core->step();
        rig.core->step();
        QCOMPARE(rig.files.opened.size(), 1);
        rig.core->step(); // 224 + 12 MiB reaches 10 MiB
        QCOMPARE(rig.files.closed, QStringList{rig.name("100001.mp4")});
        QCOMPARE(rig.files.opened, QStringList({rig.name("100001.mp4"), rig.name("100001_2.mp4")}));
        QCOMPARE(rig.core->framesInSegment(), 0);
    }

    // What MP4 segments are made with (the video module) is loaded once for a run, not at every segment:
    // each load costs the capture thread frames. It goes at the end of the run; AVI never loads it.
    void encoderKeptForTheWholeRun_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("holds");
        QTest::newRow("mp4") << 1 << 1;
        QTest::newRow("avi") << 0 << 0;
    }
    void encoderKeptForTheWholeRun()
    {
        QFETCH(int, format);
        QFETCH(int, holds);
        Rig rig(format, 10);
        int taken = 0;
        auto held = std::make_shared<int>(0);
        RecorderCore::Seams seams =
            ktr::test::fakeCoreSeams(&rig.clock, &rig.activity, &rig.screen, &rig.files, &rig.freeBytes);
        seams.keepMp4Encoder = [&taken, held] {
            ++taken;
            ++*held;
            return std::shared_ptr<void>(new int(0), [held](void* p) {
                delete static_cast<int*>(p);
                --*held;
            });
        };
        rig.core = std::make_unique<RecorderCore>(seams);
        rig.core->configure(rig.dir, 10, 10, 10, format, 0);
        rig.files.bytesPerFrame = 4 * kMiB;
        rig.run(5000); // segments of 10 MiB: several rotations
        QVERIFY(rig.files.opened.size() >= 3);
        rig.clock.advance(11000); // idle: the segment closes, the run goes on
        rig.core->step();
        QVERIFY(!rig.core->hasSegment());
        rig.run(1000);
        QCOMPARE(taken, holds);
        QCOMPARE(*held, holds);
        rig.core->finish();
        QCOMPARE(*held, 0);
    }

    // Loading the encoder can take a while on a busy machine: the segment's time starts with its first
    // frame, so that wait is not shown as a first frame lasting that long.
    void slowOpenIsNotRecorded()
    {
        Rig rig(1);
        RecorderCore::Seams seams =
            ktr::test::fakeCoreSeams(&rig.clock, &rig.activity, &rig.screen, &rig.files, &rig.freeBytes);
        ManualClock* clock = &rig.clock;
        seams.keepMp4Encoder = [clock] {
            clock->advance(700);
            return std::make_shared<int>(0);
        };
        rig.core = std::make_unique<RecorderCore>(seams);
        rig.core->configure(rig.dir, 100, 10, 10, 1, 0);
        rig.touchMouse();
        rig.core->step();
        rig.run(200, 100);
        QCOMPARE(rig.files.times, (QList<qint64>{0, 100, 200}));
    }

    // A broken MP4 writer: AVI for the rest of the run, under a free name, in a file made anew.
    void mp4OpenFailureFallsBackToAvi()
    {
        Rig rig(1);
        FakeFiles* files = &rig.files;
        RecorderCore::Seams seams =
            ktr::test::fakeCoreSeams(&rig.clock, &rig.activity, &rig.screen, &rig.files, &rig.freeBytes);
        seams.sinks = [files](SegmentSink::Format f) -> std::unique_ptr<SegmentSink> {
            if (f == SegmentSink::Format::Mp4)
                return std::make_unique<ktr::test::FakeSink>(files, f);
            return makeSegmentSink(f);
        };
        rig.core = std::make_unique<RecorderCore>(seams);
        rig.core->configure(rig.dir, 100, 10, 10, 1, 0);
        rig.files.failMp4Open = true;
        const QByteArray old = "an earlier recording";
        QVERIFY(ktr::test::writeFile(rig.name("100001.avi"), old));

        rig.core->step();
        QCOMPARE(rig.core->segmentPath(), rig.name("100001_2.avi"));
        QVERIFY(!rig.core->useMp4());
        rig.core->step();
        rig.core->closeSegment();
        QCOMPARE(ktr::test::readFile(rig.name("100001.avi")), old);
        const QByteArray fresh = ktr::test::readFile(rig.name("100001_2.avi"));
        QCOMPARE(fresh.left(4), QByteArray("RIFF"));
        QCOMPARE(qFromLittleEndian<quint32>(fresh.constData() + 48), 2u);
        QVERIFY(!QFileInfo::exists(rig.name("100001.mp4")));

        rig.core->step();
        QCOMPARE(rig.core->segmentPath(), rig.name("100001_3.avi"));
        QCOMPARE(rig.files.mp4Attempts, 1);
    }

    void lowDiskThreshold_data()
    {
        QTest::addColumn<qint64>("freeMiB");
        QTest::addColumn<int>("segmentMiB");
        QTest::addColumn<bool>("opens");
        QTest::newRow("600 free, 100 segments") << 600LL << 100 << true;
        QTest::newRow("400 free, 100 segments") << 400LL << 100 << false;
        QTest::newRow("500 free, 100 segments") << 500LL << 100 << true;
        QTest::newRow("599 free, 300 segments") << 599LL << 300 << false;
        QTest::newRow("600 free, 300 segments") << 600LL << 300 << true;
    }
    void lowDiskThreshold()
    {
        QFETCH(qint64, freeMiB);
        QFETCH(int, segmentMiB);
        QFETCH(bool, opens);
        Rig rig(0, segmentMiB);
        rig.freeBytes = freeMiB * kMiB;
        rig.core->step();
        QCOMPARE(rig.core->hasSegment(), opens);
        QCOMPARE(rig.core->isPaused(), !opens);
        QCOMPARE(rig.diskFull, opens ? 0 : 1);
    }

    void lowDiskPauseTellsOncePerSpell()
    {
        Rig rig;
        rig.freeBytes = 100 * kMiB;
        rig.core->step();
        QCOMPARE(rig.diskFull, 1);
        QCOMPARE(rig.core->pausedUntilMs(), rig.clock.monotonicMs() + 10000);
        rig.freeBytes = 100000 * kMiB; // space comes back, but the pause holds for 10 s
        rig.clock.advance(9999);
        rig.touchMouse();
        rig.core->step();
        QVERIFY(!rig.core->hasSegment());

        rig.freeBytes = 100 * kMiB;
        rig.clock.advance(1);
        rig.core->step(); // retried after 10 s, still low: longer pause, no second notice
        QCOMPARE(rig.diskFull, 1);
        QCOMPARE(rig.core->pausedUntilMs(), rig.clock.monotonicMs() + 10000);

        rig.freeBytes = 100000 * kMiB;
        rig.clock.advance(10000);
        rig.touchMouse();
        rig.core->step();
        QVERIFY(rig.core->hasSegment());
        QVERIFY(!rig.core->isPaused());

        rig.core->closeSegment(); // a new spell is told again
        rig.freeBytes = 100 * kMiB;
        rig.core->step();
        QCOMPARE(rig.diskFull, 2);
    }

    // A failed AVI write with room on the disk is told once as what it is (not as a full disk); the
    // frameless stub it leaves is removed, and a failure that lasts is tried ever less often.
    void writeFailureIsToldOnceAndRetriedSlowly()
    {
        Rig rig;
        rig.core->step();
        rig.files.nextWrite = SegmentSink::Write::Failed;
        rig.core->step();
        QVERIFY(!rig.core->hasSegment());
        QCOMPARE(rig.files.closed.size(), 1);
        QVERIFY(rig.core->isPaused());
        QCOMPARE(rig.diskFull, 0);
        using C = RecorderCore::PauseCause;
        QCOMPARE(rig.pauses, (QList<QPair<C, QString>>{{C::WriteFailed, QStringLiteral("fake failure")}}));

        // Each retry opens a file whose first frame fails: tried after 10, 20, 40, 80 and again 80 s.
        QList<qint64> tries;
        const qint64 t0 = rig.clock.monotonicMs();
        for (int i = 0; i < 240 * 2; ++i) {
            const int before = rig.files.opened.size();
            rig.run(500);
            if (rig.files.opened.size() > before)
                tries << (rig.clock.monotonicMs() - t0) / 1000;
        }
        QCOMPARE(tries, (QList<qint64>{10, 30, 70, 150, 230}));
        QCOMPARE(rig.pauses.size(), 1);
        for (const QString& stub : std::as_const(rig.files.opened).mid(1))
            QVERIFY2(!QFileInfo::exists(stub), qPrintable(stub));

        rig.files.nextWrite = SegmentSink::Write::Written;
        rig.run(80000);
        QVERIFY(rig.core->hasSegment());
        QVERIFY(!rig.core->isPaused());
        QCOMPARE(rig.resumes, 1);
    }

    // The folder vanishes under a running recording, or a file takes its name: the user hears it once,
    // with the cause, no file is tried meanwhile, and once the folder is back recording goes on in MP4.
    void folderGoneMidRun_data()
    {
        QTest::addColumn<bool>("fileInItsPlace");
        QTest::newRow("folder removed") << false;
        QTest::newRow("folder replaced by a file") << true;
    }
    void folderGoneMidRun()
    {
        QFETCH(bool, fileInItsPlace);
        Rig rig(1);
        rig.core->step();
        QCOMPARE(rig.core->segmentPath(), rig.name("100001.mp4"));
        QVERIFY(QDir(rig.dir).removeRecursively());
        if (fileInItsPlace)
            QVERIFY(ktr::test::writeFile(rig.dir, "not a folder"));

        rig.run(30000);
        QVERIFY(!rig.core->hasSegment());
        QVERIFY(rig.core->isPaused());
        using C = RecorderCore::PauseCause;
        const C cause = fileInItsPlace ? C::NotAFolder : C::FolderMissing;
        QCOMPARE(rig.pauses, (QList<QPair<C, QString>>{{cause, rig.dir}}));
        QCOMPARE(rig.diskFull, 0);
        QCOMPARE(rig.files.opened.size(), 1);
        QCOMPARE(rig.files.mp4Attempts, 1);

        if (fileInItsPlace)
            QVERIFY(QFile::remove(rig.dir));
        QVERIFY(QDir().mkpath(rig.dir));
        rig.run(2000);
        QVERIFY(rig.core->hasSegment());
        QVERIFY(rig.core->segmentPath().endsWith(QLatin1String(".mp4")));
        QVERIFY(!rig.core->isPaused());
        QCOMPARE(rig.resumes, 1);
        QCOMPARE(rig.pauses.size(), 1);
    }

    // The MP4 writer failed while the folder was failing too: the AVI fallback ends with the pause.
    void mp4ComesBackAfterAPause()
    {
        Rig rig(1);
        rig.files.failMp4Open = true;
        rig.files.failAviOpen = true;
        rig.core->step();
        QVERIFY(rig.core->isPaused());
        QVERIFY(rig.core->useMp4());
        rig.files.failMp4Open = false;
        rig.files.failAviOpen = false;
        rig.run(10000);
        QVERIFY(rig.core->segmentPath().endsWith(QLatin1String(".mp4")));
    }

    // A full disk under an MP4 segment: a lone refusal loses a frame; three in a row close the segment (its
    // file kept) and pause with the disk-full notice.
    void mp4RefusalsInARowCloseAndPause()
    {
        Rig rig(1);
        using W = SegmentSink::Write;
        for (W w : {W::Failed, W::Failed, W::Written, W::Failed, W::Failed}) {
            rig.files.nextWrite = w;
            rig.core->step();
        }
        QVERIFY(rig.core->hasSegment());
        QCOMPARE(rig.diskFull, 0);
        rig.freeBytes = 10 * kMiB; // the disk filled up under the segment
        rig.core->step();
        QVERIFY(!rig.core->hasSegment());
        QCOMPARE(rig.files.closed, QStringList{rig.name("100001.mp4")});
        QVERIFY(QFileInfo::exists(rig.name("100001.mp4")));
        QVERIFY(rig.core->isPaused());
        QCOMPARE(rig.diskFull, 1);
    }

    void noScreenWaitsBeforeTheNextTry()
    {
        Rig rig;
        rig.screen.setSize(QSize());
        rig.core->step();
        QVERIFY(!rig.core->hasSegment());
        rig.screen.setSize(QSize(64, 48));
        rig.clock.advance(500);
        rig.core->step();
        QVERIFY(!rig.core->hasSegment());
        rig.clock.advance(500);
        rig.core->step();
        QVERIFY(rig.core->hasSegment());
        QCOMPARE(rig.diskFull, 0);
    }
};

KTR_TEST_MAIN(TestRecorderCore)
#include "tst_recordercore.moc"
