// The screen recorder beside ffmpeg's x11grab: the same screen, rate, encoder settings and time, one after
// the other in the same run, the recorder at the panel's default settings (59 fps, MP4); prints the frame
// rate each reached, the CPU time of each and their ratio, the memory the recorder added while recording
// and kept after the stop beside ffmpeg's whole process, and how long the GUI thread was held up. The
// recorder's encoder process is part of the recorder: its memory while recording and its CPU time count.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/bench_recorder
//
// KTR_BENCH_SECONDS shortens the 30 s of each recording.
#include "platform/encoderprocess.h"
#include "platform/mp4writer.h"
#include "recorder/screenmonitor.h"
#include "ui/appsettings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

#include <cstdio>

namespace {

const AppSettings kDefaults;
const int kFps = kDefaults.monitorFps;

struct Memory
{
    qint64 rss = 0;   // VmRSS
    qint64 anon = 0;  // RssAnon: the heap and other private memory (the rest is mapped files)
    qint64 peak = 0;  // VmHWM
    qint64 shmem = 0; // RssShmem: shared memory (the frames the recorder shares with its encoder process)
};

// Memory of a process from its status file, in bytes.
Memory memoryOf(const QString& statusPath)
{
    QFile f(statusPath);
    Memory m;
    if (!f.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        const qint64 bytes = parts[1].toLongLong() * 1024;
        if (parts[0] == "VmRSS:")
            m.rss = bytes;
        else if (parts[0] == "RssAnon:")
            m.anon = bytes;
        else if (parts[0] == "VmHWM:")
            m.peak = bytes;
        else if (parts[0] == "RssShmem:")
            m.shmem = bytes;
    }
    return m;
}

double mb(qint64 bytes)
{
    return double(bytes) / 1048576.0;
}

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Something for the encoders to work at: coloured boxes and text moving across the whole screen.
class Animation : public QWidget
{
public:
    Animation()
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
        connect(&m_timer, &QTimer::timeout, this, [this] {
            ++m_tick;
            update();
        });
        m_timer.start(1000 / (2 * kFps));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(30, 30, 40));
        for (int i = 0; i < 24; ++i) {
            const int x = (i * 173 + m_tick * (4 + i)) % qMax(1, width());
            const int y = (i * 97 + m_tick * (i % 5)) % qMax(1, height());
            p.fillRect(x, y, 160, 120, QColor::fromHsv((i * 15 + m_tick) % 360, 180, 220));
        }
        p.setPen(Qt::white);
        QFont f = font();
        f.setPointSize(14);
        p.setFont(f);
        for (int line = 0; line < 40; ++line)
            p.drawText(20, 30 + line * 26,
                       QStringLiteral("line %1 — frame %2 of the recorder benchmark").arg(line).arg(m_tick + line));
    }

private:
    QTimer m_timer;
    int m_tick = 0;
};

int frameCount(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                        "stream=nb_read_frames", "-of", "default=nw=1:nk=1", path});
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toInt();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--animate") {
        QApplication app(argc, argv);
        Animation a;
        a.show();
        return app.exec();
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    if (!QGuiApplication::primaryScreen() || qgetenv("DISPLAY").isEmpty()) {
        std::fprintf(stderr, "bench_recorder needs an X display (run it under xvfb-run)\n");
        return 1;
    }
    const int seconds =
        qEnvironmentVariableIsSet("KTR_BENCH_SECONDS") ? qEnvironmentVariableIntValue("KTR_BENCH_SECONDS") : 30;
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    if (screen != QSize(1920, 1080))
        std::fprintf(stderr, "note: the screen is %dx%d, not 1920x1080\n", screen.width(), screen.height());

    QProcess animator;
    animator.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--animate")});
    animator.waitForStarted();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    QTemporaryDir dir;
    // --- the recorder, with the GUI thread's longest pause measured by a fast timer beside it
    ScreenMonitor monitor(ScreenMonitor::systemSeams());
    monitor.configure(dir.path(), kDefaults.monitorMaxMB, kDefaults.monitorIdleSec, kFps, kDefaults.monitorFormat,
                      kDefaults.monitorTrigger);
    qint64 longestGapMs = 0;
    QElapsedTimer gap;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { longestGapMs = std::max(longestGapMs, gap.restart()); });
    // The same measure with nothing recording, to tell the machine's own load from the recorder's share.
    probe.setTimerType(Qt::PreciseTimer);
    gap.start();
    probe.start(4);
    {
        QEventLoop idle;
        QTimer::singleShot(3000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    probe.stop();
    const qint64 idleGapMs = longestGapMs;
    longestGapMs = 0;

    const Memory memBefore = memoryOf(QStringLiteral("/proc/self/status"));
    Memory memPeak = memBefore;
    qint64 encoderPeak = 0;
    const double selfBefore = cpuSeconds(RUSAGE_SELF);
    const double guiBefore = cpuSeconds(RUSAGE_THREAD);
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer call;
    call.start();
    // The rate is counted over the time the recorder really ran: a coarse timer of 15 s may end the
    // recording up to 5 % early.
    QElapsedTimer recording;
    recording.start();
    QString why;
    if (!monitor.start(&why)) {
        std::fprintf(stderr, "recorder not started: %s\n", qPrintable(why));
        return 1;
    }
    const qint64 startMs = call.elapsed();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        // This process and its encoder processes at the same moment. The frames they share are counted once
        // (in this process).
        Memory m = memoryOf(QStringLiteral("/proc/self/status"));
        for (pid_t pid : ktr::platform::encoderProcessIds()) {
            const Memory e = memoryOf(QStringLiteral("/proc/%1/status").arg(pid));
            m.rss += e.rss - e.shmem;
            m.anon += e.anon;
            encoderPeak = std::max(encoderPeak, e.rss);
        }
        memPeak.rss = std::max(memPeak.rss, m.rss);
        memPeak.anon = std::max(memPeak.anon, m.anon);
    });
    sampler.start(100);
    gap.start();
    probe.start(4);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    sampler.stop();
    call.restart();
    monitor.requestStop();
    const double recordedSeconds = double(recording.elapsed()) / 1000.0;
    const qint64 requestStopMs = call.elapsed();
    monitor.stop(); // waits for the segment to be finished
    const qint64 stopMs = call.elapsed();
    // The GUI thread's own share (the timer, the event loop) is not the recorder's; its encoder process,
    // ended and waited for at the stop, is.
    const std::size_t encodersLeft = ktr::platform::encoderProcessIds().size();
    const double recorderCpu = (cpuSeconds(RUSAGE_SELF) - selfBefore) - (cpuSeconds(RUSAGE_THREAD) - guiBefore) +
                               (cpuSeconds(RUSAGE_CHILDREN) - childrenBefore);
    // What the stop gave back, after a moment for anything the recorder hands back late.
    {
        QEventLoop settleLoop;
        QTimer::singleShot(1000, &settleLoop, &QEventLoop::quit);
        settleLoop.exec();
    }
    const Memory memAfter = memoryOf(QStringLiteral("/proc/self/status"));

    // --- ffmpeg's x11grab with the same settings
    const ktr::platform::Mp4Writer::EncoderSettings s =
        ktr::platform::Mp4Writer::settingsFor(screen.width(), screen.height(), kFps);
    const QString ffmpegOut = dir.filePath(QStringLiteral("x11grab.mp4"));
    QStringList args{"-v",
                     "error",
                     "-y",
                     "-f",
                     "x11grab",
                     "-draw_mouse",
                     "1",
                     "-framerate",
                     QString::number(kFps),
                     "-video_size",
                     QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height()),
                     "-i",
                     QString::fromLocal8Bit(qgetenv("DISPLAY")),
                     "-t",
                     QString::number(seconds)};
    // Only the frames it grabbed: by default ffmpeg repeats frames into an MP4 to keep the rate constant,
    // which would count a missed capture as a frame.
    args << ktr::platform::Mp4Writer::ffmpegArguments(s) << QStringLiteral("-fps_mode") << QStringLiteral("passthrough")
         << ffmpegOut;
    const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    // Its peak, read while it runs (the last reading before it ends holds the whole run's).
    qint64 ffmpegPeak = 0;
    const QString ffmpegStatus = QStringLiteral("/proc/%1/status").arg(ffmpeg.processId());
    while (!ffmpeg.waitForFinished(100))
        ffmpegPeak = std::max(ffmpegPeak, memoryOf(ffmpegStatus).peak);
    if (ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    const double ffmpegCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;

    animator.kill();
    animator.waitForFinished();

    int recorderFrames = 0;
    int segments = 0;
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("Screen_*")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        recorderFrames += frameCount(dir.filePath(name));
        ++segments;
    }
    const int ffmpegFrames = frameCount(ffmpegOut);
    std::printf("screen: %dx%d at %d fps for %d s\n", screen.width(), screen.height(), kFps, seconds);
    std::printf("recorder frame rate: %.1f fps (%.1f %% of %d; %d frames in %d segments in %.2f s)\n",
                double(recorderFrames) / recordedSeconds, 100.0 * recorderFrames / (double(kFps) * recordedSeconds),
                kFps, recorderFrames, segments, recordedSeconds);
    std::printf("ffmpeg frame rate: %.1f fps (%.1f %% of %d)\n", double(ffmpegFrames) / seconds,
                100.0 * ffmpegFrames / (double(kFps) * seconds), kFps);
    std::printf("recorder memory added while recording: %.1f MB (private %.1f MB)\n", mb(memPeak.rss - memBefore.rss),
                mb(memPeak.anon - memBefore.anon));
    std::printf("recorder memory kept after the stop: %.1f MB (private %.1f MB)\n", mb(memAfter.rss - memBefore.rss),
                mb(memAfter.anon - memBefore.anon));
    std::printf("recorder's encoder process peak (part of the above while recording): %.1f MB; left after "
                "the stop: %zu\n",
                mb(encoderPeak), encodersLeft);
    std::printf("ffmpeg whole process peak: %.1f MB\n", mb(ffmpegPeak));
    std::printf("encoder: libx264 %s/%s %lld bit/s, gop %d, %d threads\n", qPrintable(s.preset), qPrintable(s.tune),
                s.bitrate, s.gop, s.threads);
    std::printf("recorder cpu: %.2f s\n", recorderCpu);
    std::printf("ffmpeg x11grab cpu: %.2f s\n", ffmpegCpu);
    std::printf("cpu ratio recorder/ffmpeg: %.2f\n", ffmpegCpu > 0 ? recorderCpu / ffmpegCpu : 0.0);
    std::printf("recorder frames: %d\n", recorderFrames);
    std::printf("ffmpeg frames: %d\n", ffmpegFrames);
    if (recorderFrames > 0 && ffmpegFrames > 0)
        std::printf("cpu per frame ratio recorder/ffmpeg: %.2f\n",
                    (recorderCpu / recorderFrames) / (ffmpegCpu / ffmpegFrames));
    std::printf("gui thread longest gap while recording: %lld ms\n", longestGapMs);
    std::printf("gui thread longest gap before recording: %lld ms\n", idleGapMs);
    std::printf("start call: %lld ms\n", startMs);
    std::printf("requestStop call: %lld ms\n", requestStopMs);
    std::printf("segment finished after: %lld ms\n", stopMs);
    return 0;
}
