#pragma once

#include "recorder/segmentsink.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace ktr::platform {
class Clock;
class InputActivity;
class ScreenCapture;
} // namespace ktr::platform

// What the screen recorder does between two pacing waits, without the thread: whether the user is
// active, opening, rotating and closing segments, the low-disk pause and one frame. The thread and the
// signal live in ScreenMonitor; tests drive this with their own clock, input, disk and files.
class RecorderCore
{
public:
    struct Seams
    {
        ktr::platform::Clock* clock = nullptr;
        ktr::platform::InputActivity* activity = nullptr;
        // Bytes free for us on the volume of a folder, or -1 when unknown (counts as plenty).
        std::function<qint64(const QString&)> freeBytes;
        // A capture of the primary display, made on the recorder thread at its first use.
        std::function<std::unique_ptr<ktr::platform::ScreenCapture>()> capture;
        SegmentSinkFactory sinks;
    };
    // The program's own: the system clock and input, QStorageInfo, X11 capture, AVI and MP4 files.
    static Seams systemSeams();

    static constexpr qint64 kMiB = 1048576;
    static constexpr qint64 kMinFreeBytes = 500 * kMiB;
    static constexpr qint64 kPauseMs = 10000;
    // An MP4 segment whose writes fail this many times in a row is closed and recording pauses.
    static constexpr int kMaxRefusals = 3;

    explicit RecorderCore(Seams seams);
    ~RecorderCore();

    // Stores the settings, each clamped (see ScreenMonitor::configure). Only while no thread runs.
    void configure(const QString& dir, int maxMB, int idleSec, int fps, int format, int trigger);

    QString outputDir() const { return m_outputDir; }
    int segmentMiB() const { return m_segmentMiB; }
    int idleMs() const { return m_idleMs; }
    int frameIntervalMs() const { return m_frameIntervalMs; }
    int fps() const { return m_fps; }
    bool useMp4() const { return m_useMp4; }
    int idleMode() const { return m_idleMode; }

    // One pass of the capture loop.
    void step();
    // The end of a run: closes the open segment and lets the capture go (on the thread that used it).
    void finish();

    bool isUserActive(qint64 nowMs) const;
    // "Screen_yyyyMMdd_HHmmss" + extension in the output folder, with "_2", "_3", ... while taken.
    QString segmentFileName(const QString& extension) const;
    bool openSegment(qint64 nowMs);
    void closeSegment();
    void captureFrame(qint64 nowMs);

    bool hasSegment() const { return m_sink != nullptr; }
    QString segmentPath() const;
    qint64 framesInSegment() const { return m_framesInSegment; }
    qint64 segmentBytes() const { return m_segmentBytes; }
    bool isPaused() const { return m_lowDiskPaused; }
    qint64 pausedUntilMs() const { return m_pausedUntilMs; }

    // Called (on the recorder thread) each time a pause begins that the user has not been told of yet.
    std::function<void()> onDiskFull;

private:
    void pause(qint64 nowMs);
    bool ensureCapture();
    void setSegmentPath(const QString& path);

    Seams m_seams;

    QString m_outputDir;
    std::atomic<int> m_segmentMiB{100};
    std::atomic<int> m_idleMs{60000};
    std::atomic<int> m_frameIntervalMs{125};
    std::atomic<int> m_fps{59};
    std::atomic<bool> m_useMp4{false};
    std::atomic<int> m_idleMode{0};

    std::atomic<bool> m_lowDiskPaused{false};
    std::atomic<qint64> m_pausedUntilMs{0};
    // Whether the user has been told of the pause in force; cleared when recording may go on again.
    bool m_pauseSignalled = false;
    // After a failure that is not the disk's (no screen, a file that can't be made) the next open waits.
    qint64 m_retryAtMs = 0;

    std::unique_ptr<SegmentSink> m_sink;
    bool m_segmentIsMp4 = false;
    qint64 m_segmentStartMs = 0;
    int m_refusals = 0;
    mutable std::mutex m_pathMutex;
    QString m_segmentPath;
    qint64 m_framesInSegment = 0;
    qint64 m_segmentBytes = 0;
    QSize m_captureSize{-1, -1};
    std::unique_ptr<ktr::platform::ScreenCapture> m_capture;
};
