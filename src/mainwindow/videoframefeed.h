#pragma once

#include "platform/clock.h"

#include <QImage>
#include <QtGlobal>

class VideoBackground;

// The window's side of a video background: its 33 ms timer asks poll() for a frame newer than the last one
// shown, and poll() declares the video failed when no frame at all came within 2500 ms of the start.
class VideoFrameFeed
{
public:
    enum class Poll {
        Nothing,  // no newer frame
        NewFrame, // *frame holds a frame not shown yet
        Failed,   // no frame within the time limit (reported once per start)
    };
    static constexpr int kPollIntervalMs = 33;
    static constexpr qint64 kNoFrameTimeoutMs = 2500;

    explicit VideoFrameFeed(const ktr::platform::Clock* clock = ktr::platform::Clock::system());

    // Called when the video starts: the time limit runs from now and no frame has been seen.
    void restart();
    Poll poll(const VideoBackground& video, QImage* frame);
    // The number of the frame last handed out (0 = none yet).
    quint64 lastFrameNumber() const { return m_lastFrame; }

private:
    const ktr::platform::Clock* m_clock;
    qint64 m_startMs = 0;
    quint64 m_lastFrame = 0;
    bool m_failed = false;
};
