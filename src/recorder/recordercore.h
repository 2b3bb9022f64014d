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
        // Keeps what MP4 segments are made with (the encoder process) from the first MP4 segment to the end of
        // the run, so a new segment does not start it again; what it returns is let go at finish(). May be
        // empty.
        std::function<std::shared_ptr<void>()> keepMp4Encoder;
    };
    // The program's own: the system clock and input, QStorageInfo, X11 capture, AVI and MP4 files.
    static Seams systemSeams();

    static constexpr qint64 kMiB = 1048576;
    static constexpr qint64 kMinFreeBytes = 500 * kMiB;
    static constexpr qint64 kPauseMs = 10000;
    // A missing folder is looked for this often (a look costs one stat and makes no file).
    static constexpr qint64 kFolderRetryMs = 2000;
    // A write failure of another kind is retried after kPauseMs, then twice as long each time, up to this.
    static constexpr qint64 kMaxRetryMs = 80000;
    // How often the open segment's file is looked for (a removed folder takes the file with it while
    // writes into the open file still succeed).
    static constexpr qint64 kFileCheckMs = 1000;

    // Why recording waits.
    enum class PauseCause {
        LowDisk,       // too little free space on the folder's volume
        FolderMissing, // the folder is gone (removed, or its drive unmounted)
        NotAFolder,    // something other than a folder has its name
        WriteFailed,   // a segment could not be made or written, for another reason (detail says which)
    };
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

    // Called (on the recorder thread) when a pause begins that the user has not been told of yet: once
    // per spell, again only when the cause changes. detail: the folder or the system's error text.
    std::function<void(PauseCause cause, const QString& detail)> onPause;
    // Called (on the recorder thread) when a segment opens again after a pause the user was told of.
    std::function<void()> onResume;
    PauseCause pauseCause() const { return m_pauseCause; }

private:
    // Pauses recording for the cause; the user hears of it once per spell.
    void pause(qint64 nowMs, PauseCause cause, const QString& detail);
    // What is wrong with the folder itself, if anything (no file is made to find out).
    bool folderFault(PauseCause* cause) const;
    // Why writing failed: the folder, the free space, or else the writer's own error.
    PauseCause diagnose(const QString& error, QString* detail) const;
    // Closes the open segment after a failure; a segment that holds no frame is removed.
    void abandonSegment();
    bool ensureCapture();
    void setSegmentPath(const QString& path);

    Seams m_seams;

    QString m_outputDir;
    std::atomic<int> m_segmentMiB{100};
    std::atomic<int> m_idleMs{60000};
    std::atomic<int> m_frameIntervalMs{125};
    std::atomic<int> m_fps{59};
    std::atomic<bool> m_useMp4{false};
    // What configure asked for: a fallback to AVI lasts until writing works again after a pause.
    bool m_wantMp4 = false;
    std::atomic<int> m_idleMode{0};

    std::atomic<bool> m_lowDiskPaused{false};
    std::atomic<qint64> m_pausedUntilMs{0};
    // Whether the user has been told of the pause in force; cleared when recording may go on again.
    bool m_pauseSignalled = false;
    PauseCause m_pauseCause = PauseCause::LowDisk;
    // Consecutive write-failure pauses, for the growing wait.
    int m_failedPauses = 0;
    qint64 m_nextFileCheckMs = 0;
    // After a failure that is not the disk's (no screen, a file that can't be made) the next open waits.
    qint64 m_retryAtMs = 0;

    std::shared_ptr<void> m_mp4Encoder; // see Seams::keepMp4Encoder
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
