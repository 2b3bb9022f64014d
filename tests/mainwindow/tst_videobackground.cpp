#include "mainwindow/videobackground.h"
#include "mainwindow/videoframefeed.h"

#include "colourbars.h"
#include "logcapture.h"
#include "manualclock.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <memory>

using Poll = VideoFrameFeed::Poll;

namespace {

quint64 frameCount(const VideoBackground& video)
{
    quint64 count = 0;
    video.currentFrame(&count);
    return count;
}

// Waits (in real time) until the worker has published at least n frames since its start.
bool waitForFrames(const VideoBackground& video, quint64 n, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (frameCount(video) < n) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Polls as the window's timer would until the feed hands out a frame (poll() has effects, so no QTRY).
bool pollForFrame(VideoFrameFeed& feed, const VideoBackground& video, QImage* frame, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (feed.poll(video, frame) != Poll::NewFrame) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(VideoFrameFeed::kPollIntervalMs);
    }
    return true;
}

} // namespace

class TestVideoBackground : public QObject
{
    Q_OBJECT
private:
    // 64 x 48, 10 frames at 10 fps, with a sound stream before the picture.
    QString smallClip() const { return QFINDTESTDATA("../data/video/bars-64x48-audio.mp4"); }
    // 320 x 240, 5 frames at 10 fps.
    QString largeClip() const { return QFINDTESTDATA("../data/video/bars-320x240.mp4"); }
    QString m_notVideo;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!smallClip().isEmpty());
        QVERIFY(!largeClip().isEmpty());
        m_notVideo = ktr::test::freshDir(QStringLiteral("media")) + "/holiday.mp4";
        QVERIFY(ktr::test::writeFile(m_notVideo, "Just some notes about the holiday, not a film.\n"));
    }

    void recognisesVideoFilesBySuffix_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("video");
        for (const char* s : {".mp4", ".m4v", ".mov", ".wmv", ".avi", ".mkv", ".webm"})
            QTest::newRow(s) << QStringLiteral("/home/u/bg") + QLatin1String(s) << true;
        QTest::newRow("upper-case MP4") << QStringLiteral("/home/u/BG.MP4") << true;
        QTest::newRow("Chinese name") << QStringLiteral("/home/u/背景.Mkv") << true;
        QTest::newRow("gif") << QStringLiteral("/home/u/bg.gif") << false;
        QTest::newRow("mpg") << QStringLiteral("/home/u/bg.mpg") << false;
        QTest::newRow("no dot") << QStringLiteral("/home/u/mp4") << false;
        QTest::newRow("folder named like a video") << QStringLiteral("/home/u/clips.mp4/bg.png") << false;
        QTest::newRow("empty") << QString() << false;
    }
    void recognisesVideoFilesBySuffix()
    {
        QFETCH(QString, path);
        QFETCH(bool, video);
        QCOMPARE(VideoBackground::isVideoFile(path), video);
    }

    void targetSizeIsAtLeastOnePixel_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("stored");
        QTest::newRow("0 x 0") << QSize(0, 0) << QSize(1, 1);
        QTest::newRow("negative") << QSize(-5, 300) << QSize(1, 300);
        QTest::newRow("invalid QSize") << QSize() << QSize(1, 1);
        QTest::newRow("normal") << QSize(800, 600) << QSize(800, 600);
    }
    void targetSizeIsAtLeastOnePixel()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, stored);
        VideoBackground video;
        video.setTargetSize(size);
        QCOMPARE(video.targetSize(), stored);
    }

    void asksTheDecoderForAboutOneAndAHalfTimesTheTarget_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("target");
        QTest::addColumn<QSize>("request");
        QTest::newRow("4K behind a portrait window") << QSize(3840, 2160) << QSize(400, 600) << QSize(1600, 900);
        QTest::newRow("4K behind a landscape window") << QSize(3840, 2160) << QSize(800, 300) << QSize(1200, 674);
        QTest::newRow("rounded down to even") << QSize(1001, 1001) << QSize(333, 333) << QSize(498, 498);
        QTest::newRow("raised to 64") << QSize(3840, 2160) << QSize(10, 10) << QSize(64, 64);
        QTest::newRow("exactly 1.5 times: kept") << QSize(1200, 900) << QSize(800, 600) << QSize();
        QTest::newRow("smaller than the target: kept") << QSize(320, 240) << QSize(800, 600) << QSize();
        QTest::newRow("no target yet") << QSize(3840, 2160) << QSize(0, 0) << QSize();
        QTest::newRow("no source size") << QSize(0, 0) << QSize(400, 300) << QSize();
    }
    void asksTheDecoderForAboutOneAndAHalfTimesTheTarget()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, target);
        QFETCH(QSize, request);
        QCOMPARE(VideoBackground::decodeSize(source, target), request);
    }

    // The frame covers the target and its centre is kept: 1600 x 900 into 400 x 600 scales to 1066 x 600 and
    // is cut from x 333. The source has red up to x 480 and blue from 1120: both fall outside the cut, so the
    // whole result is the green middle; without the centring red would show on the left.
    void fitsFramesByCoveringAndCentring_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("target");
        QTest::addColumn<QSize>("result");
        QTest::addColumn<QColor>("left");
        QTest::addColumn<QColor>("right");
        QTest::newRow("wide into portrait")
            << QSize(1600, 900) << QSize(400, 600) << QSize(400, 600) << QColor(Qt::green) << QColor(Qt::green);
        QTest::newRow("same aspect") << QSize(1600, 900) << QSize(160, 90) << QSize(160, 90) << QColor(Qt::red)
                                     << QColor(Qt::blue);
        // One spare column is not worth centring: it is cut on the right.
        QTest::newRow("one column over") << QSize(1601, 900) << QSize(1600, 900) << QSize(1600, 900) << QColor(Qt::red)
                                         << QColor(Qt::blue);
        QTest::newRow("no target keeps the frame")
            << QSize(1600, 900) << QSize(0, 0) << QSize(1600, 900) << QColor(Qt::red) << QColor(Qt::blue);
    }
    void fitsFramesByCoveringAndCentring()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, target);
        QFETCH(QSize, result);
        QFETCH(QColor, left);
        QFETCH(QColor, right);
        QImage frame(source, QImage::Format_RGB32);
        frame.fill(Qt::green);
        QPainter p(&frame);
        p.fillRect(0, 0, source.width() * 3 / 10, source.height(), Qt::red);
        p.fillRect(source.width() * 7 / 10, 0, source.width(), source.height(), Qt::blue);
        p.end();
        const QImage fitted = VideoBackground::fitToTarget(frame, target);
        QCOMPARE(fitted.size(), result);
        const int y = result.height() / 2;
        QCOMPARE(fitted.pixelColor(1, y), left);
        QCOMPARE(fitted.pixelColor(result.width() - 2, y), right);
    }

    // Frames arrive in the target size with the clip's picture.
    void deliversFramesInTheTargetSize_data()
    {
        QTest::addColumn<QSize>("target");
        QTest::addColumn<QRect>("picture"); // where the whole picture lies relative to the frame
        QTest::newRow("downscaled") << QSize(80, 60) << QRect(0, 0, 80, 60);
        QTest::newRow("portrait cut from the middle") << QSize(40, 60) << QRect(-20, 0, 80, 60);
        QTest::newRow("upscaled") << QSize(640, 480) << QRect(0, 0, 640, 480);
    }
    void deliversFramesInTheTargetSize()
    {
        QFETCH(QSize, target);
        QFETCH(QRect, picture);
        VideoBackground video;
        video.setTargetSize(target);
        video.start(largeClip());
        QVERIFY(video.isRunning());
        QCOMPARE(video.path(), largeClip());
        QVERIFY(waitForFrames(video, 1));
        quint64 count = 0;
        const QImage frame = video.currentFrame(&count);
        QVERIFY(count >= 1);
        QCOMPARE(frame.size(), target);
        const QString bars = ktr::test::checkTestsrcBars(frame, picture);
        QVERIFY2(bars.isEmpty(), qPrintable(bars));
    }

    // Frames are published at the clip's own pace, also when one frame stays longer than the worker ever
    // sleeps at a time, and the clip starts over when it ends, holding its last frame like every other.
    void playsAtTheClipsPaceAndLoops_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("minMs");
        // 5 frames of 100 ms: the sixth frame is the first again, 500 ms after the first.
        QTest::newRow("10 fps, looping") << largeClip() << 5 << 430;
        // 2 frames of 500 ms: the second comes half a second after the first.
        QTest::newRow("2 fps") << QFINDTESTDATA("../data/video/bars-64x48-2fps.mp4") << 1 << 430;
    }
    void playsAtTheClipsPaceAndLoops()
    {
        QFETCH(QString, clip);
        QFETCH(int, frames);
        QFETCH(int, minMs);
        QVERIFY(!clip.isEmpty());
        VideoBackground video;
        video.setTargetSize(QSize(80, 60));
        video.start(clip);
        QVERIFY(waitForFrames(video, 1));
        QElapsedTimer t;
        t.start();
        QVERIFY(waitForFrames(video, 1 + frames));
        const qint64 ms = t.elapsed();
        QVERIFY2(ms >= minMs && ms < minMs + 1500, qPrintable(QString::number(ms)));
        QCOMPARE(video.currentFrame().size(), QSize(80, 60));
    }

    void takesANewTargetSizeFromTheNextFrame()
    {
        VideoBackground video;
        video.setTargetSize(QSize(64, 48));
        video.start(smallClip());
        QVERIFY(waitForFrames(video, 1));
        QCOMPARE(video.currentFrame().size(), QSize(64, 48));
        video.setTargetSize(QSize(32, 32));
        const quint64 seen = frameCount(video);
        QVERIFY(waitForFrames(video, seen + 1));
        QCOMPARE(video.currentFrame().size(), QSize(32, 32));
    }

    // The window's timer: a frame newer than the last one shown is handed out once; a clip that plays
    // never counts as failed, however long it runs.
    void feedHandsOutEachNewFrameOnce()
    {
        ktr::test::ManualClock clock;
        VideoFrameFeed feed(&clock);
        VideoBackground video;
        video.setTargetSize(QSize(64, 48));
        video.start(smallClip());
        feed.restart();
        QImage frame;
        QVERIFY(pollForFrame(feed, video, &frame));
        QCOMPARE(frame.size(), QSize(64, 48));
        const quint64 first = feed.lastFrameNumber();
        QVERIFY(first >= 1);
        // Poll again before the next frame time: nothing new (unless the worker happened to publish).
        if (frameCount(video) == first)
            QCOMPARE(feed.poll(video, &frame), Poll::Nothing);
        clock.advance(60'000);
        QVERIFY(pollForFrame(feed, video, &frame));
        QVERIFY(feed.lastFrameNumber() > first);
        video.stop();
        clock.advance(60'000);
        QCOMPARE(feed.poll(video, &frame), Poll::Nothing);
    }

    // A file that gives no frame: the window gives up after 2500 ms, once.
    void feedDeclaresFailureAfter2500ms_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("launched");
        QTest::newRow("text file named .mp4") << m_notVideo << true;
        QTest::newRow("missing file") << m_notVideo + ".gone.mp4" << false;
    }
    void feedDeclaresFailureAfter2500ms()
    {
        QFETCH(QString, path);
        QFETCH(bool, launched);
        ktr::test::LogCapture log;
        ktr::test::ManualClock clock;
        VideoFrameFeed feed(&clock);
        VideoBackground video;
        video.setTargetSize(QSize(64, 48));
        video.start(path);
        QCOMPARE(video.isRunning(), launched);
        feed.restart();
        QImage frame;
        QCOMPARE(feed.poll(video, &frame), Poll::Nothing);
        clock.advance(2500);
        QCOMPARE(feed.poll(video, &frame), Poll::Nothing);
        clock.advance(1);
        QCOMPARE(feed.poll(video, &frame), Poll::Failed);
        QVERIFY(frame.isNull());
        QCOMPARE(feed.poll(video, &frame), Poll::Nothing);
        video.stop();
        QCOMPARE(frameCount(video), 0u);
        QCOMPARE(log.contains(QStringLiteral("[VideoBackground] cannot play")), launched);
        // The next start gets a new time limit.
        feed.restart();
        clock.advance(2000);
        QCOMPARE(feed.poll(video, &frame), Poll::Nothing);
    }

    // Switching from a playing clip to a file that gives nothing must not leave the old clip's picture
    // behind as the new file's first frame, or the window would show it and never notice the failure.
    void startForgetsThePreviousFrame_data()
    {
        QTest::addColumn<QString>("next");
        QTest::newRow("missing file") << m_notVideo + ".gone.mp4";
        QTest::newRow("empty path") << QString();
        QTest::newRow("text file named .mp4") << m_notVideo;
    }
    void startForgetsThePreviousFrame()
    {
        QFETCH(QString, next);
        ktr::test::ManualClock clock;
        VideoFrameFeed feed(&clock);
        VideoBackground video;
        video.start(smallClip());
        QVERIFY(waitForFrames(video, 1));
        video.start(next);
        feed.restart();
        quint64 count = 99;
        QVERIFY(video.currentFrame(&count).isNull());
        QCOMPARE(count, 0u);
        clock.advance(2501);
        QCOMPARE(feed.poll(video, nullptr), Poll::Failed);
    }

    void restartPlaysFromTheBeginning()
    {
        VideoBackground video;
        video.start(smallClip());
        QVERIFY(waitForFrames(video, 3));
        video.start(smallClip());
        QVERIFY(frameCount(video) < 3);
        QVERIFY(waitForFrames(video, 1));
        QVERIFY(video.isRunning());
    }

    // Stopping joins the worker promptly, even while it waits for a frame's time, and nothing is published
    // afterwards; destroying a playing background is as safe.
    void stopsCleanlyWhilePlaying()
    {
        // At 2 fps the worker waits 500 ms between frames: a stop that waited it out would take about that
        // long just after a frame, which leaves a busy machine room for the bound.
        VideoBackground video;
        video.start(QFINDTESTDATA("../data/video/bars-64x48-2fps.mp4"));
        QVERIFY(waitForFrames(video, 2));
        QElapsedTimer t;
        t.start();
        video.stop();
        QVERIFY2(t.elapsed() < 300, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!video.isRunning());
        const quint64 after = frameCount(video);
        QTest::qWait(1100); // longer than two frame times: a live worker would have published
        QCOMPARE(frameCount(video), after);
        QVERIFY(!video.currentFrame().isNull()); // the last frame stays until the next start
        video.stop();                            // a second stop is harmless
    }

    void destroysWhilePlaying_data()
    {
        QTest::addColumn<int>("frames");
        QTest::newRow("at once") << 0;
        QTest::newRow("after the first frame") << 1;
    }
    void destroysWhilePlaying()
    {
        QFETCH(int, frames);
        auto video = std::make_unique<VideoBackground>();
        video->setTargetSize(QSize(48, 48));
        video->start(largeClip());
        if (frames > 0)
            QVERIFY(waitForFrames(*video, quint64(frames)));
        video.reset();
    }
};

KTR_TEST_MAIN(TestVideoBackground)
#include "tst_videobackground.moc"
