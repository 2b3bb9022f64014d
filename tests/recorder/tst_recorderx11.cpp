// The recorder against a real X server (Xvfb): the capture with its cursor, raw input faked through XTest
// (xdotool), and a short real recording read back by ffprobe.
#include "ffprobe.h"
#include "manualclock.h"
#include "platform/clock.h"
#include "platform/inputactivity.h"
#include "platform/screencapture.h"
#include "platform/videodecoder.h"
#include "recorder/recordercore.h"
#include "recorder/screenmonitor.h"
#include "testenv.h"
#include "x11tools.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <QDir>
#include <QProcess>
#include <QSet>

#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <mutex>

using ktr::platform::InputActivity;
using ktr::platform::RawInputEvent;
using ktr::platform::ScreenCapture;
using ktr::test::xdotool;

namespace {

const QColor kBackground(32, 80, 160);

// A window over the whole primary screen in one colour, with a solid red 16 x 16 cursor whose hot spot
// is its middle; animated, a white square moves across it.
class Backdrop : public QWidget
{
public:
    explicit Backdrop(bool animate, int cursorAlpha = 255)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
        QPixmap cursor(16, 16);
        cursor.fill(QColor(255, 0, 0, cursorAlpha));
        setCursor(QCursor(cursor, 8, 8));
        if (animate) {
            connect(&m_timer, &QTimer::timeout, this, [this] {
                m_x = (m_x + 12) % qMax(1, width() - 100);
                update();
            });
            m_timer.start(30);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), kBackground);
        if (m_timer.isActive())
            p.fillRect(m_x, 100, 100, 100, Qt::white);
    }

private:
    QTimer m_timer;
    int m_x = 0;
};

bool near(QColor a, QColor b, int tolerance = 8)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// Where the white square starts in a frame, or -1.
int squareX(const QImage& frame)
{
    for (int x = 0; x < frame.width(); ++x) {
        const QColor c = frame.pixelColor(x, 150);
        if (c.red() > 200 && c.green() > 200 && c.blue() > 200)
            return x;
    }
    return -1;
}

// The sockets this process holds open.
QSet<int> socketFds()
{
    QSet<int> fds;
    const QStringList entries = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::Files);
    for (const QString& name : entries) {
        char target[64] = {};
        const QByteArray link = "/proc/self/fd/" + name.toLatin1();
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 && qstrncmp(target, "socket:", 7) == 0)
            fds.insert(name.toInt());
    }
    return fds;
}

struct EventLog : ktr::platform::RawInputObserver
{
    std::mutex mutex;
    QList<RawInputEvent> events;
    void rawInput(const RawInputEvent& e) override
    {
        std::lock_guard lock(mutex);
        events << e;
    }
    bool has(RawInputEvent::Kind kind, int detail)
    {
        std::lock_guard lock(mutex);
        for (const RawInputEvent& e : events) {
            if (e.kind == kind && e.detail == detail)
                return true;
        }
        return false;
    }
};

} // namespace

class TestRecorderX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = ktr::test::missingX11Input())
            QSKIP(why);
        QVERIFY(ScreenCapture::available());
    }

    // The picture is the primary screen's size and holds the cursor, drawn by us at its hot spot (the server
    // leaves it out), through shared memory and through the plain request alike.
    void captureHasTheScreenAndTheCursor_data()
    {
        QTest::addColumn<bool>("sharedMemory");
        QTest::addColumn<int>("alpha");
        QTest::newRow("MIT-SHM") << true << 255;
        QTest::newRow("GetImage") << false << 255;
        QTest::newRow("half-transparent cursor") << true << 128;
    }
    void captureHasTheScreenAndTheCursor()
    {
        QFETCH(bool, sharedMemory);
        QFETCH(int, alpha);
        // A translucent cursor lies over the picture by its alpha.
        const double a = alpha / 255.0;
        const QColor cursorColour(int(std::lround(255 * a + kBackground.red() * (1 - a))),
                                  int(std::lround(kBackground.green() * (1 - a))),
                                  int(std::lround(kBackground.blue() * (1 - a))));
        Backdrop backdrop(false, alpha);
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));
        QVERIFY(xdotool({"mousemove", "300", "200"}));

        std::unique_ptr<ScreenCapture> capture = ScreenCapture::createX11({sharedMemory, true});
        QVERIFY(capture);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(capture->screenSize(), screen);
        QTRY_VERIFY(near(capture->grab().pixelColor(300, 200), cursorColour));
        const QImage shot = capture->grab();
        QCOMPARE(shot.size(), screen);
        QCOMPARE(shot.format(), QImage::Format_RGB32);
        ktr::test::saveShot(shot, QStringLiteral("recorder-capture"));
        QVERIFY(near(shot.pixelColor(292, 192), cursorColour)); // the cursor's top-left corner
        QVERIFY(near(shot.pixelColor(307, 207), cursorColour)); // its bottom-right corner
        QVERIFY(near(shot.pixelColor(290, 200), kBackground));
        QVERIFY(near(shot.pixelColor(309, 200), kBackground));
        QVERIFY(near(shot.pixelColor(300, 209), kBackground));

        std::unique_ptr<ScreenCapture> bare = ScreenCapture::createX11({sharedMemory, false});
        QVERIFY(bare);
        QVERIFY(near(bare->grab().pixelColor(300, 200), kBackground));
    }

    // XTest input moves the raw-input ticks (keys the keyboard's, pointer and buttons the mouse's), reaches
    // observers, and resets the server's idle time. Motion is relative, as a mouse sends it: a pointer
    // warped to a place (xdotool's absolute move) makes no raw event.
    void xtestInputMovesTheTicks()
    {
        InputActivity* activity = InputActivity::system();
        QVERIFY(activity->install());
        QVERIFY(activity->isInstalled());
        EventLog log;
        activity->addObserver(&log);
        const qint64 keyboard0 = activity->lastKeyboardMs();
        const qint64 mouse0 = activity->lastMouseMs();

        QVERIFY(xdotool({"mousemove_relative", "--", "11", "7"}));
        QTRY_VERIFY(activity->lastMouseMs() > mouse0);
        QCOMPARE(activity->lastKeyboardMs(), keyboard0);
        QVERIFY(activity->systemIdleMs() >= 0);
        QVERIFY(activity->systemIdleMs() < 2000);

        const qint64 mouse1 = activity->lastMouseMs();
        QVERIFY(xdotool({"key", "shift"}));
        QTRY_VERIFY(activity->lastKeyboardMs() > keyboard0);
        QCOMPARE(activity->lastMouseMs(), mouse1);

        QVERIFY(xdotool({"click", "3"}));
        QTRY_VERIFY(log.has(RawInputEvent::Kind::ButtonUp, 3));
        QVERIFY(log.has(RawInputEvent::Kind::ButtonDown, 3));
        QVERIFY(log.has(RawInputEvent::Kind::Motion, 0));
        QVERIFY(activity->lastMouseMs() > mouse1);

        // The server's idle time grows while nothing happens.
        QTRY_VERIFY(activity->systemIdleMs() >= 300);
        activity->removeObserver(&log);
        activity->remove();
        QVERIFY(!activity->isInstalled());
    }

    // Keyboard-only and mouse-only triggers with real input: only the chosen kind keeps the user active.
    void triggersWithRealInput_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("keyLast"); // the last input was a key (else the pointer moved)
        QTest::addColumn<bool>("active");
        QTest::newRow("either, key") << 0 << true << true;
        QTest::newRow("either, mouse") << 0 << false << true;
        QTest::newRow("keyboard only, key") << 1 << true << true;
        QTest::newRow("keyboard only, mouse") << 1 << false << false;
        QTest::newRow("mouse only, key") << 2 << true << false;
        QTest::newRow("mouse only, mouse") << 2 << false << true;
    }
    void triggersWithRealInput()
    {
        QFETCH(int, mode);
        QFETCH(bool, keyLast);
        QFETCH(bool, active);
        InputActivity* activity = InputActivity::system();
        QVERIFY(activity->install());
        static int step = 0;
        const QString dx = QString::number((++step % 2) ? 9 : -9);
        auto move = [&] {
            const qint64 before = activity->lastMouseMs();
            return xdotool({"mousemove_relative", "--", dx, "0"}) &&
                   QTest::qWaitFor([&] { return activity->lastMouseMs() > before; });
        };
        auto key = [&] {
            const qint64 before = activity->lastKeyboardMs();
            return xdotool({"key", "shift"}) && QTest::qWaitFor([&] { return activity->lastKeyboardMs() > before; });
        };
        QVERIFY(keyLast ? move() && key() : key() && move());
        const qint64 fresh = std::max(activity->lastKeyboardMs(), activity->lastMouseMs());
        QVERIFY(std::abs(activity->lastKeyboardMs() - activity->lastMouseMs()) >= 1);

        // Judged one millisecond before the fresher input turns ten seconds old.
        ktr::test::ManualClock clock;
        clock.advance(fresh + 10000 - 1 - clock.monotonicMs());
        RecorderCore::Seams seams;
        seams.clock = &clock;
        seams.activity = activity;
        RecorderCore core(seams);
        core.configure(QString(), 100, 10, 10, 0, mode);
        QCOMPARE(core.isUserActive(clock.monotonicMs()), active);
        activity->remove();
    }

    // The raw-input connection dies (its socket shut under it): the user's activity comes from the server's
    // idle time, not from ticks that stand still (which would count the user idle for ever), and the next
    // install connects anew.
    void lostInputConnectionFallsBackToIdleTime()
    {
        InputActivity* activity = InputActivity::system();
        QVERIFY(activity->systemIdleMs() >= 0); // the idle time's own connection is made first
        const QSet<int> before = socketFds();
        QVERIFY(activity->install());
        const QSet<int> added = socketFds() - before;
        QCOMPARE(added.size(), 1);
        QCOMPARE(::shutdown(*added.begin(), SHUT_RDWR), 0);
        QTRY_VERIFY(!activity->isInstalled());

        RecorderCore::Seams seams;
        seams.clock = ktr::platform::Clock::system();
        seams.activity = activity;
        RecorderCore core(seams);
        core.configure(QString(), 100, 10, 10, 0, 0);
        QVERIFY(xdotool({"mousemove_relative", "--", "7", "0"}));
        QTRY_VERIFY(activity->systemIdleMs() < 1000);
        // Twenty seconds after the connection died its ticks would say idle; the user has just moved.
        QVERIFY(core.isUserActive(seams.clock->monotonicMs() + 20000));

        activity->remove();
        QVERIFY(activity->install());
        QVERIFY(activity->isInstalled());
        const qint64 mouse = activity->lastMouseMs();
        QVERIFY(xdotool({"mousemove_relative", "--", "-7", "0"}));
        QTRY_VERIFY(activity->lastMouseMs() > mouse);
        activity->remove();
    }

    // A server whose screen is not 24-bit true colour: the start is refused with the reason instead of a
    // recorder that runs and records nothing.
    void startRefusedOnAScreenItCannotRead_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("usable");
        QTest::newRow("16 bits") << 16 << false;
        QTest::newRow("8 bits, palette") << 8 << false;
        QTest::newRow("24 bits") << 24 << true;
    }
    void startRefusedOnAScreenItCannotRead()
    {
        QFETCH(int, depth);
        QFETCH(bool, usable);
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0",
                                            QStringLiteral("320x240x%1").arg(depth)});
        QVERIFY(xvfb.waitForStarted());
        QVERIFY(xvfb.waitForReadyRead(20000));
        const QByteArray display = ":" + xvfb.readLine().trimmed();
        const QByteArray oldDisplay = qgetenv("DISPLAY");
        qputenv("DISPLAY", display);
        QString why;
        const bool available = ScreenCapture::available(&why);
        const bool captured = ScreenCapture::createX11() != nullptr;
        ScreenMonitor monitor(ScreenMonitor::systemSeams());
        monitor.configure(ktr::test::freshDir(QStringLiteral("rec")), 100, 10, 10, 0, 0);
        QString refusal;
        const bool started = monitor.start(&refusal);
        monitor.stop();
        qputenv("DISPLAY", oldDisplay);
        xvfb.terminate();
        xvfb.waitForFinished();

        QCOMPARE(available, usable);
        QCOMPARE(captured, usable);
        QCOMPARE(started, usable);
        if (!usable) {
            const QString text = QStringLiteral("当前 X 显示的颜色格式无法录制，屏幕录制需要 24 位或 32 位真彩色显示");
            QCOMPARE(why, text);
            QCOMPARE(refusal, text);
        }
    }

    // A short real recording of an animated window, read back by ffprobe and decoded.
    void shortRecordingPlays_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("mp4") << 1;
        QTest::newRow("avi") << 0;
    }
    void shortRecordingPlays()
    {
        QFETCH(int, format);
        if (!ktr::test::haveFfprobe())
            QSKIP("needs ffprobe");
        Backdrop backdrop(true);
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));

        const QString dir = ktr::test::freshDir(QStringLiteral("recordings"));
        ScreenMonitor monitor(ScreenMonitor::systemSeams());
        monitor.configure(dir, 100, 10, 10, format, 0);
        QString why;
        QVERIFY2(monitor.start(&why), qPrintable(why));
        QTRY_VERIFY(!monitor.segmentPath().isEmpty());
        const QString path = monitor.segmentPath();
        QVERIFY(path.endsWith(format ? QLatin1String(".mp4") : QLatin1String(".avi")));
        QTest::qWait(2500); // the recording itself, with the window animating
        monitor.stop();
        QVERIFY(monitor.segmentPath().isEmpty());

        const ktr::test::ProbeResult probe = ktr::test::probeVideo(path);
        QVERIFY(probe.ran);
        QCOMPARE(probe.errors, QString());
        QCOMPARE(probe.values.value("codec_name"), format ? QStringLiteral("h264") : QStringLiteral("mjpeg"));
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(probe.values.value("width").toInt(), screen.width() & ~1);
        const int frames = probe.values.value("nb_read_frames").toInt();
        // The recorder runs at a lowered priority and gives up the slots a busy machine takes from it (its rate on
        // quiet cores is bench_recorder's figure): a few frames at least, never more than the slots.
        QVERIFY2(frames >= 5 && frames <= 30, qPrintable(QString::number(frames)));
        const double duration = probe.values.value("duration").toDouble();
        QVERIFY2(duration > 1.8 && duration < 3.2, qPrintable(QString::number(duration)));

        // The square moved between the first and the last frame.
        ktr::platform::VideoDecoder decoder;
        QVERIFY(decoder.open(path));
        QImage first;
        QImage frame;
        QImage last;
        while (decoder.readFrame(&frame) == ktr::platform::VideoDecoder::ReadResult::Frame) {
            if (first.isNull())
                first = frame.copy();
            last = frame;
        }
        QVERIFY(!first.isNull());
        ktr::test::saveShot(last, QStringLiteral("recorder-last-frame-") + QString::number(format));
        const int from = squareX(first);
        const int to = squareX(last);
        QVERIFY(from >= 0 && to >= 0);
        QVERIFY2(from != to, qPrintable(QString::number(from)));
    }
};

KTR_TEST_MAIN(TestRecorderX11)
#include "tst_recorderx11.moc"
