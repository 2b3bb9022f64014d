// The H.264 MP4 segment writer, checked with ffprobe and ffmpeg (readers that are not ours) and with the
// project's decoder.
#include "ffprobe.h"
#include "platform/encoderprocess.h"
#include "platform/mp4writer.h"
#include "platform/videodecoder.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <csignal>

using ktr::platform::Mp4Writer;

namespace {

QImage flat(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Writes frames of one colour at the given times (ms); the file's path.
QString writeFile(const QString& name, QSize size, int fps, const QList<qint64>& times, QColor colour = Qt::gray)
{
    const QString path = ktr::test::freshDir(QStringLiteral("mp4")) + QLatin1Char('/') + name;
    Mp4Writer writer;
    if (!writer.open(path, size.width(), size.height(), fps))
        return {};
    for (qint64 t : times) {
        if (!writer.writeFrame(flat(size, colour), t))
            return {};
    }
    return writer.close() ? path : QString();
}

QList<qint64> evenTimes(int frames, int fps)
{
    QList<qint64> t;
    for (int i = 0; i < frames; ++i)
        t << qint64(i) * 1000 / fps;
    return t;
}

// Whether FFmpeg or the encoder is mapped into this process now (Debian's libavcodec pulls in libraries
// that can never be unloaded again).
bool encoderLibrariesHere()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = maps.readAll();
    return text.contains("libavcodec") || text.contains("libx264") || text.contains("ktr-videomodule.so");
}

// Whether a process is still there (a zombie not yet waited for counts).
bool processExists(pid_t pid)
{
    return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

// The first frame's bytes as ffmpeg decodes them to NV12, without any colour conversion.
QByteArray decodeNv12(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {"-v", "error", "-i", path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "nv12", "-"});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

} // namespace

class TestMp4Writer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!ktr::test::haveFfprobe())
            QSKIP("needs ffprobe and ffmpeg");
    }

    // Declared first: before anything in this test decodes a video (which maps FFmpeg here for good).
    // FFmpeg and the encoder run in an encoder process, never in this one; it lives while a writer (or a hold)
    // does and ends with the last, taking all it loaded with it; the next writer starts one again.
    void encoderRunsOutsideAndEndsWithTheLastWriter()
    {
        QVERIFY(ktr::platform::encoderProcessIds().empty());
        const QString dir = ktr::test::freshDir(QStringLiteral("mp4"));
        QString said;
        std::vector<pid_t> running;
        {
            Mp4Writer failed;
            QVERIFY(!failed.open(dir + QStringLiteral("/none.mp4"), 0, 48, 10));
            said = failed.errorString();
            Mp4Writer writer;
            QVERIFY2(writer.open(dir + QStringLiteral("/one.mp4"), 64, 48, 10), qPrintable(writer.errorString()));
            for (qint64 t : evenTimes(3, 10))
                QVERIFY(writer.writeFrame(flat(QSize(64, 48), Qt::gray), t));
            running = ktr::platform::encoderProcessIds();
            QCOMPARE(running.size(), std::size_t(1));
            QVERIFY(!encoderLibrariesHere());
            QVERIFY(writer.close());
            QCOMPARE(writer.framesWritten(), 3);
            // The next segment of this writer goes to the same process.
            QVERIFY(writer.open(dir + QStringLiteral("/two.mp4"), 64, 48, 10));
            QVERIFY(writer.writeFrame(flat(QSize(64, 48), Qt::gray), 0));
            QVERIFY(writer.close());
            QCOMPARE(ktr::platform::encoderProcessIds(), running);
        }
        QVERIFY(ktr::platform::encoderProcessIds().empty());
        QVERIFY(!processExists(running.front())); // ended and waited for
        QCOMPARE(said, QStringLiteral("no frame size or rate"));
        const QString again = writeFile(QStringLiteral("again.mp4"), QSize(64, 48), 10, evenTimes(3, 10));
        QVERIFY(!again.isEmpty());
        QVERIFY(ktr::platform::encoderProcessIds().empty());
        QVERIFY(!encoderLibrariesHere());
        QCOMPARE(ktr::test::probeVideo(dir + QStringLiteral("/one.mp4")).values.value("nb_read_frames"),
                 QStringLiteral("3"));
        QCOMPARE(ktr::test::probeVideo(again).values.value("nb_read_frames"), QStringLiteral("3"));
    }

    // A hold keeps the process of a finished segment for the next writer (a recording's rotation), and the
    // process ends with the hold.
    void holdKeepsTheProcessForTheNextSegment()
    {
        std::vector<pid_t> first;
        {
            const ktr::platform::EncoderProcessHold hold;
            QVERIFY(!writeFile(QStringLiteral("a.mp4"), QSize(64, 48), 10, evenTimes(2, 10)).isEmpty());
            first = ktr::platform::encoderProcessIds();
            QCOMPARE(first.size(), std::size_t(1));
            QVERIFY(!writeFile(QStringLiteral("b.mp4"), QSize(64, 48), 10, evenTimes(2, 10)).isEmpty());
            QCOMPARE(ktr::platform::encoderProcessIds(), first);
        }
        QVERIFY(ktr::platform::encoderProcessIds().empty());
        QVERIFY(!processExists(first.front()));
    }

    // An encoder process that dies is a failed write, never success: later frames are refused, the end
    // fails, the fragments already on disk stay and a file without a frame goes. The next writer gets a new
    // process.
    void lostEncoderFailsTheSegment_data()
    {
        QTest::addColumn<int>("framesFirst");
        QTest::newRow("before any frame") << 0;
        QTest::newRow("after a fragment") << 21;
    }
    void lostEncoderFailsTheSegment()
    {
        QFETCH(int, framesFirst);
        const int fps = 10; // a key frame (and a fragment) every 20 frames
        const QString path = ktr::test::freshDir(QStringLiteral("mp4")) + QStringLiteral("/lost.mp4");
        Mp4Writer writer;
        QVERIFY(writer.open(path, 64, 48, fps));
        // Frames until the encoder says the first fragment is written (it answers as it goes).
        qint64 t = 0;
        for (int i = 0; framesFirst > 0 && writer.framesWritten() < framesFirst && i < 2000; ++i, t += 100)
            QVERIFY(writer.writeFrame(flat(QSize(64, 48), QColor::fromHsv(i % 360, 200, 200)), t));
        QVERIFY(writer.framesWritten() >= framesFirst);
        const std::vector<pid_t> ids = ktr::platform::encoderProcessIds();
        QCOMPARE(ids.size(), std::size_t(1));
        QCOMPARE(::kill(ids.front(), SIGKILL), 0);
        siginfo_t info{};
        QCOMPARE(::waitid(P_PID, id_t(ids.front()), &info, WEXITED | WNOWAIT), 0); // dead, left for the writer

        QVERIFY(!writer.writeFrame(flat(QSize(64, 48), Qt::red), t));
        QCOMPARE(writer.errorString(), QStringLiteral("encoder process ended unexpectedly"));
        QVERIFY(!writer.writeFrame(flat(QSize(64, 48), Qt::red), t + 100));
        QVERIFY(!writer.close());
        QVERIFY(!processExists(ids.front()));
        if (framesFirst == 0) {
            QVERIFY(!QFileInfo::exists(path));
        } else {
            const int played = ktr::test::probeVideo(path).values.value("nb_read_frames").toInt();
            QVERIFY2(played >= 20, qPrintable(QString::number(played)));
        }
        QVERIFY(writer.open(path + QStringLiteral(".next.mp4"), 64, 48, fps));
        QVERIFY(writer.writeFrame(flat(QSize(64, 48), Qt::gray), 0));
        QVERIFY(writer.close());
        QVERIFY(ktr::platform::encoderProcessIds() != ids);
    }

    // A segment shows what was on the screen: owner-only, also in a folder others may read.
    void segmentIsOwnerOnly()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("mp4"));
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        const QString path = dir + QStringLiteral("/seg.mp4");
        Mp4Writer writer;
        QVERIFY2(writer.open(path, 64, 48, 10), qPrintable(writer.errorString()));
        QVERIFY(writer.writeFrame(flat(QSize(64, 48), Qt::gray), 0));
        QVERIFY(writer.close());
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(uint(st.st_mode & 07777), 0600u);
        QCOMPARE(ktr::test::probeVideo(path).values.value("nb_read_frames"), QStringLiteral("1"));
    }

    // An encoder process that is stopped (SIGSTOP) does not hold the writer, and so the recorder's stop and the
    // quit: past the bound it is killed and the segment fails as a write does, keeping the fragments it wrote.
    // An idle one stopped in the pool is ended when the last hold goes.
    void stoppedEncoderIsEndedWithinTheBound_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("while frames are written") << "frames";
        QTest::newRow("at the end of the segment") << "close";
        QTest::newRow("idle in the pool") << "idle";
    }
    void stoppedEncoderIsEndedWithinTheBound()
    {
        QFETCH(QString, when);
        struct Bounds
        {
            ~Bounds() { ktr::platform::setEncoderWaitBounds(5000, 2000); }
        } restoreBounds;
        const int fps = 10; // a key frame (and a fragment) every 20 frames
        const QString path = ktr::test::freshDir(QStringLiteral("mp4")) + QStringLiteral("/stopped.mp4");
        std::vector<pid_t> ids;
        QElapsedTimer timer;
        {
            const ktr::platform::EncoderProcessHold hold;
            Mp4Writer writer;
            QVERIFY(writer.open(path, 64, 48, fps));
            qint64 t = 0;
            for (int i = 0; writer.framesWritten() < 21 && i < 2000; ++i, t += 100)
                QVERIFY(writer.writeFrame(flat(QSize(64, 48), QColor::fromHsv(i % 360, 200, 200)), t));
            ids = ktr::platform::encoderProcessIds();
            QCOMPARE(ids.size(), std::size_t(1));
            if (when == QLatin1String("idle"))
                QVERIFY(writer.close());
            // Short bounds from here on (the encoder's start above takes longer).
            ktr::platform::setEncoderWaitBounds(300, 300);
            QCOMPARE(::kill(ids.front(), SIGSTOP), 0);
            timer.start();
            if (when == QLatin1String("frames")) {
                bool refused = false;
                for (int i = 0; i < 20 && !refused; ++i, t += 100)
                    refused = !writer.writeFrame(flat(QSize(64, 48), Qt::red), t);
                QVERIFY(refused);
                QVERIFY2(writer.errorString().startsWith(QStringLiteral("encoder process did not answer")),
                         qPrintable(writer.errorString()));
            }
            if (when != QLatin1String("idle"))
                QVERIFY(!writer.close());
        }
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(ktr::platform::encoderProcessIds().empty());
        QVERIFY(!processExists(ids.front()));
        const int played = ktr::test::probeVideo(path).values.value("nb_read_frames").toInt();
        QVERIFY2(played >= 20, qPrintable(QString::number(played)));
    }

    void settingsFollowTheScreen_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<int>("fps");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<qint64>("bitrate");
        QTest::newRow("1080p30") << QSize(1920, 1080) << 30 << QSize(1920, 1080) << 9331200LL;
        QTest::newRow("1080p10 at the floor") << QSize(1920, 1080) << 10 << QSize(1920, 1080) << 4000000LL;
        QTest::newRow("4k60 at the ceiling") << QSize(3840, 2160) << 60 << QSize(3840, 2160) << 40000000LL;
        QTest::newRow("1366x768 stays") << QSize(1366, 768) << 59 << QSize(1366, 768) << 9284428LL;
        QTest::newRow("odd rounds down") << QSize(1365, 767) << 60 << QSize(1364, 766) << 9403416LL;
    }
    void settingsFollowTheScreen()
    {
        QFETCH(QSize, screen);
        QFETCH(int, fps);
        QFETCH(QSize, frame);
        QFETCH(qint64, bitrate);
        const Mp4Writer::EncoderSettings s = Mp4Writer::settingsFor(screen.width(), screen.height(), fps);
        QCOMPARE(QSize(s.width, s.height), frame);
        QCOMPARE(s.bitrate, bitrate);
    }

    // An odd 65 x 49 screen: H.264 of 64 x 48, every frame there, lasting N / fps.
    void oddSizeRoundsDownAndAllFramesPlay()
    {
        const int frames = 15;
        const int fps = 10;
        const QString path = ktr::test::freshDir(QStringLiteral("mp4")) + QStringLiteral("/odd.mp4");
        Mp4Writer writer;
        QVERIFY2(writer.open(path, 65, 49, fps), qPrintable(writer.errorString()));
        QCOMPARE(writer.width(), 64);
        QCOMPARE(writer.height(), 48);
        QVERIFY(!writer.writeFrame(flat(QSize(80, 60), Qt::red), 0)); // not this segment's size
        for (qint64 t : evenTimes(frames, fps))
            QVERIFY(writer.writeFrame(flat(QSize(65, 49), Qt::darkCyan), t));
        QVERIFY(writer.close());
        QCOMPARE(writer.framesWritten(), frames);

        const ktr::test::ProbeResult probe = ktr::test::probeVideo(path);
        QVERIFY(probe.ran);
        QCOMPARE(probe.errors, QString());
        QCOMPARE(probe.values.value("codec_name"), QStringLiteral("h264"));
        QCOMPARE(probe.values.value("width"), QStringLiteral("64"));
        QCOMPARE(probe.values.value("height"), QStringLiteral("48"));
        QCOMPARE(probe.values.value("nb_read_frames"), QString::number(frames));
        QCOMPARE(probe.values.value("color_range"), QStringLiteral("tv"));
        QCOMPARE(probe.values.value("color_space"), QStringLiteral("smpte170m"));
        QVERIFY2(std::abs(probe.values.value("duration").toDouble() - 1.5) < 0.002,
                 qPrintable(probe.values.value("duration")));
    }

    // A flat colour decodes to the limited-range BT.601 values the stream says it holds, and back to the
    // colour it was: a stream that did not say its range would decode too bright or too dark.
    void flatColourDecodesToItsYuv_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::newRow("black") << QColor(0, 0, 0);
        QTest::newRow("white") << QColor(255, 255, 255);
        QTest::newRow("pink") << QColor(200, 50, 100);
        QTest::newRow("teal") << QColor(20, 160, 150);
    }
    void flatColourDecodesToItsYuv()
    {
        QFETCH(QColor, colour);
        const QString path = writeFile(QStringLiteral("flat.mp4"), QSize(64, 48), 10, evenTimes(3, 10), colour);
        QVERIFY(!path.isEmpty());
        const double r = colour.red();
        const double g = colour.green();
        const double b = colour.blue();
        const int y = int(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255));
        const int u = int(std::lround(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255));
        const int v = int(std::lround(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255));
        const QByteArray nv12 = decodeNv12(path);
        QCOMPARE(nv12.size(), 64 * 48 * 3 / 2);
        const int gotY = uchar(nv12[20 * 64 + 30]);
        const int gotU = uchar(nv12[64 * 48 + 10 * 64 + 30]);
        const int gotV = uchar(nv12[64 * 48 + 10 * 64 + 31]);
        QVERIFY2(qAbs(gotY - y) <= 2 && qAbs(gotU - u) <= 2 && qAbs(gotV - v) <= 2,
                 qPrintable(
                     QStringLiteral("YUV %1 %2 %3, want %4 %5 %6").arg(gotY).arg(gotU).arg(gotV).arg(y).arg(u).arg(v)));

        ktr::platform::VideoDecoder decoder;
        QVERIFY(decoder.open(path));
        QImage frame;
        QCOMPARE(decoder.readFrame(&frame), ktr::platform::VideoDecoder::ReadResult::Frame);
        const QColor got = frame.pixelColor(30, 20);
        QVERIFY2(qAbs(got.red() - colour.red()) <= 6 && qAbs(got.green() - colour.green()) <= 6 &&
                     qAbs(got.blue() - colour.blue()) <= 6,
                 qPrintable(got.name() + QStringLiteral(" for ") + colour.name()));
    }

    // Frames stamped when they were taken play when they were taken, and the last one lasts a frame.
    void timeStampsFollowTheCaptureTimes()
    {
        const QString path = writeFile(QStringLiteral("times.mp4"), QSize(64, 48), 10, {0, 100, 150, 400, 400});
        QVERIFY(!path.isEmpty());
        const ktr::test::ProbeResult probe =
            ktr::test::ffprobe(path, {"-select_streams", "v:0", "-show_entries", "packet=pts_time:format=duration"});
        QVERIFY(probe.ran);
        QStringList pts;
        for (const QString& line : probe.lines) {
            if (line.startsWith(QLatin1String("pts_time=")))
                pts << QString::number(line.mid(9).toDouble(), 'f', 3);
        }
        // A stamp that does not move on is put just behind the one before.
        QCOMPARE(pts, QStringList({"0.000", "0.100", "0.150", "0.400", "0.401"}));
        QCOMPARE(QString::number(probe.values.value("duration").toDouble(), 'f', 3), QStringLiteral("0.501"));
    }

    // A file cut short (a full disk, a killed process) still plays its complete fragments.
    void cutShortFileStillPlays()
    {
        const int fps = 10;
        const QString path = writeFile(QStringLiteral("cut.mp4"), QSize(160, 120), fps, evenTimes(60, fps));
        QVERIFY(!path.isEmpty());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() * 3 / 4));
        f.close();
        const ktr::test::ProbeResult probe = ktr::test::probeVideo(path);
        const int frames = probe.values.value("nb_read_frames").toInt();
        QVERIFY2(frames >= 20 && frames < 60, qPrintable(probe.values.value("nb_read_frames")));
    }

    void openFailureLeavesNothing()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("mp4"));
        QVERIFY(ktr::test::writeFile(dir + "/file", "x"));
        Mp4Writer writer;
        QVERIFY(!writer.open(dir + "/file/seg.mp4", 64, 48, 10));
        QVERIFY(!writer.errorString().isEmpty());
        QVERIFY(!writer.isOpen());
        QVERIFY(!writer.writeFrame(flat(QSize(64, 48), Qt::red), 0));
        QVERIFY(!writer.open(dir + "/none.mp4", 0, 48, 10));
        QVERIFY(!QFileInfo::exists(dir + "/none.mp4"));
    }

    // The disk full from the first byte: the writer refuses frames (it does not pretend), and the failed end
    // removes nothing that is not a file it made.
    void fullDiskRefusesFrames()
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("needs /dev/full");
        Mp4Writer writer;
        if (writer.open(QStringLiteral("/dev/full"), 320, 240, 10)) {
            bool refused = false;
            for (int i = 0; i < 60 && !refused; ++i) {
                QImage noise(320, 240, QImage::Format_RGB32);
                for (int y = 0; y < 240; ++y)
                    for (int x = 0; x < 320; ++x)
                        noise.setPixel(x, y, uint((x * 7919 + y * 104729 + i * 31) * 2654435761u));
                refused = !writer.writeFrame(noise, i * 100);
            }
            QVERIFY(refused);
            // Once the file takes no more, every later frame is refused too (the recorder counts refusals
            // in a row to close the segment).
            for (int i = 0; i < 3; ++i)
                QVERIFY(!writer.writeFrame(QImage(320, 240, QImage::Format_RGB32), 6000 + i * 100));
            QVERIFY(!writer.close());
        }
        QVERIFY(QFileInfo::exists(QStringLiteral("/dev/full")));
    }
};

KTR_TEST_MAIN(TestMp4Writer)
#include "tst_mp4writer.moc"
