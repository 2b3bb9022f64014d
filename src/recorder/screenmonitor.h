#pragma once

#include "recorder/recordercore.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The process-wide screen recorder: records the primary display into segment files while the user is
// active at the keyboard or mouse. Capturing, encoding and writing run on one thread of its own; input is
// watched by the platform's activity source. configure, start and stop are called on the GUI thread.
class ScreenMonitor : public QObject
{
    Q_OBJECT
public:
    struct Seams
    {
        RecorderCore::Seams core;
        // Whether the screen can be recorded in this session; false with a Chinese message.
        std::function<bool(QString*)> available;
    };
    static Seams systemSeams();

    // The one recorder of the program, made on first use and destroyed at exit (which stops it).
    static ScreenMonitor* instance();

    // A recorder of its own (tests): the program uses instance().
    explicit ScreenMonitor(Seams seams, QObject* parent = nullptr);
    ~ScreenMonitor() override;

    // Replaces the seams of a stopped recorder (tests give the program's instance fakes).
    void setSeams(Seams seams);

    // Stores the output folder and the limits, each clamped: segment size maxMB to 10..512 MiB, idle time
    // idleSec to 10..600 s, fps to 2..60 (frame interval (1000 + fps / 2) / fps ms), MP4 when format > 0
    // else AVI, trigger to 0..2 (0 keyboard or mouse, 1 keyboard only, 2 mouse only). Call while stopped.
    void configure(const QString& dir, int maxMB, int idleSec, int fps, int format, int trigger);

    bool isRunning() const { return m_running; }
    // Recording waits for free disk space (or after a failed write).
    bool isPaused() const { return m_core->isPaused(); }
    // The segment being written, empty when none is open.
    QString segmentPath() const { return m_core->segmentPath(); }

public Q_SLOTS:
    // Starts recording; true when it runs (also when it already ran). False with a Chinese message when no
    // folder is set, the folder can't be made or written, or the screen can't be captured in this session.
    bool start(QString* message = nullptr);
    // Stops the thread, closes the open segment and stops watching input; returns when the file is finished
    // (so it may take one frame's encoding). Safe when stopped. The quit, update and reset paths use it.
    void stop();
    // Like stop, but returns at once: the thread finishes the segment on its own. For the recorder button,
    // so the GUI thread does not wait for a frame being encoded. A later start, configure or stop waits
    // for that end.
    void requestStop();

Q_SIGNALS:
    // Recording paused for want of disk space; emitted on the recorder thread once per pause. It goes on by
    // itself when space is free again.
    void diskFull();
    // Recording paused, for any cause (a RecorderCore::PauseCause as int; detail: the folder or the system's
    // error text); emitted on the recorder thread once per pause and cause. The recorder keeps running and
    // goes on by itself when writing works again.
    void paused(int cause, const QString& detail);
    // Recording goes on after a pause that was told (recorder thread).
    void resumed();
    // The recorder started or stopped (emitted on the thread that called start or stop).
    void runningChanged(bool running);

private:
    void run();
    // Joins a thread told to stop (after requestStop), so the core is ours again.
    void joinStopped();

    Seams m_seams;
    std::unique_ptr<RecorderCore> m_core;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    bool m_activityInstalled = false;
    std::mutex m_waitMutex;
    std::condition_variable m_wake;
};
