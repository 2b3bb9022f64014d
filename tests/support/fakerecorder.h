#pragma once

// Stand-ins for what the screen recorder reaches outside itself: input activity, the screen, free disk
// space and segment files. Header-only; a test that includes it links ktr_recorder.

#include "platform/inputactivity.h"
#include "platform/screencapture.h"
#include "recorder/screenmonitor.h"

#include <QFile>
#include <QImage>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace ktr::test {

class FakeActivity final : public ktr::platform::InputActivity
{
public:
    bool install() override
    {
        ++installs;
        installed = rawInput.load();
        keyboard = mouse = installTick.load();
        return rawInput;
    }
    void remove() override
    {
        ++removes;
        installed = false;
    }
    bool isInstalled() const override { return installed; }
    qint64 lastKeyboardMs() const override { return keyboard; }
    qint64 lastMouseMs() const override { return mouse; }
    qint64 systemIdleMs() const override { return idle; }
    void addObserver(ktr::platform::RawInputObserver*) override {}
    void removeObserver(ktr::platform::RawInputObserver*) override {}

    std::atomic<bool> rawInput{true};   // whether raw input can be watched
    std::atomic<qint64> installTick{0}; // what install() sets both ticks to
    std::atomic<bool> installed{false};
    std::atomic<qint64> keyboard{0};
    std::atomic<qint64> mouse{0};
    std::atomic<qint64> idle{-1};
    std::atomic<int> installs{0};
    std::atomic<int> removes{0};
};

// The screen the fake captures show; the test changes it while they run.
struct FakeScreen
{
    std::mutex mutex;
    QSize size{64, 48};
    bool failGrab = false;
    int captures = 0;
    int grabs = 0;
    std::set<std::thread::id> grabThreads;

    void setSize(QSize s)
    {
        std::lock_guard lock(mutex);
        size = s;
    }
};

class FakeCapture final : public ktr::platform::ScreenCapture
{
public:
    explicit FakeCapture(FakeScreen* screen) : m_screen(screen) {}
    QSize screenSize() override
    {
        std::lock_guard lock(m_screen->mutex);
        return m_screen->size;
    }
    QImage grab() override
    {
        std::lock_guard lock(m_screen->mutex);
        ++m_screen->grabs;
        m_screen->grabThreads.insert(std::this_thread::get_id());
        if (m_screen->failGrab)
            return {};
        QImage image(m_screen->size, QImage::Format_RGB32);
        image.fill(0xff336699u + uint(m_screen->grabs));
        return image;
    }

private:
    FakeScreen* m_screen;
};

// What fake segment files saw. Each open creates the file (refusing an existing one, like the real
// writers), so name collisions behave as on disk.
struct FakeFiles
{
    std::mutex mutex;
    QStringList opened;
    QStringList closed;
    QList<QSize> sizes;
    bool failMp4Open = false;
    bool failAviOpen = false;
    SegmentSink::Write nextWrite = SegmentSink::Write::Written;
    qint64 bytesPerFrame = 1000;
    int writes = 0;
    QList<qint64> times; // every frame's time in its segment, as written
    int mp4Attempts = 0;
};

class FakeSink final : public SegmentSink
{
public:
    FakeSink(FakeFiles* files, Format format) : m_files(files), m_format(format) {}
    bool open(const QString& path, QSize screen, int) override
    {
        std::lock_guard lock(m_files->mutex);
        if (m_format == Format::Mp4)
            ++m_files->mp4Attempts;
        if (m_format == Format::Mp4 ? m_files->failMp4Open : m_files->failAviOpen)
            return false;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return false;
        m_path = path;
        m_files->opened << path;
        m_files->sizes << screen;
        m_bytes = 224;
        return true;
    }
    Write write(const QImage&, qint64 timeMs) override
    {
        std::lock_guard lock(m_files->mutex);
        ++m_files->writes;
        m_files->times << timeMs;
        if (m_files->nextWrite == Write::Written)
            m_bytes += m_files->bytesPerFrame;
        return m_files->nextWrite;
    }
    qint64 bytes() const override { return m_bytes; }
    bool close() override
    {
        std::lock_guard lock(m_files->mutex);
        m_files->closed << m_path;
        return true;
    }
    QString errorString() const override { return QStringLiteral("fake failure"); }

private:
    FakeFiles* m_files;
    Format m_format;
    QString m_path;
    qint64 m_bytes = 0;
};

// Seams that reach nothing real: free space from *freeBytes.
inline RecorderCore::Seams fakeCoreSeams(ktr::platform::Clock* clock, FakeActivity* activity, FakeScreen* screen,
                                         FakeFiles* files, std::atomic<qint64>* freeBytes)
{
    RecorderCore::Seams s;
    s.clock = clock;
    s.activity = activity;
    s.freeBytes = [freeBytes](const QString&) { return freeBytes->load(); };
    s.capture = [screen]() -> std::unique_ptr<ktr::platform::ScreenCapture> {
        std::lock_guard lock(screen->mutex);
        ++screen->captures;
        return std::make_unique<FakeCapture>(screen);
    };
    s.sinks = [files](SegmentSink::Format f) { return std::make_unique<FakeSink>(files, f); };
    return s;
}

inline ScreenMonitor::Seams fakeMonitorSeams(ktr::platform::Clock* clock, FakeActivity* activity, FakeScreen* screen,
                                             FakeFiles* files, std::atomic<qint64>* freeBytes)
{
    ScreenMonitor::Seams s;
    s.core = fakeCoreSeams(clock, activity, screen, files, freeBytes);
    s.available = [](QString*) { return true; };
    return s;
}

} // namespace ktr::test
