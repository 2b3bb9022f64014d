#include "mainwindow/videoframefeed.h"

#include "mainwindow/videobackground.h"

VideoFrameFeed::VideoFrameFeed(const ktr::platform::Clock* clock) : m_clock(clock)
{
    restart();
}

void VideoFrameFeed::restart()
{
    m_startMs = m_clock->monotonicMs();
    m_lastFrame = 0;
    m_failed = false;
}

VideoFrameFeed::Poll VideoFrameFeed::poll(const VideoBackground& video, QImage* frame)
{
    if (m_failed)
        return Poll::Nothing;
    quint64 count = 0;
    QImage image = video.currentFrame(&count);
    if (count != 0 && count != m_lastFrame && !image.isNull()) {
        m_lastFrame = count;
        if (frame)
            *frame = std::move(image);
        return Poll::NewFrame;
    }
    if (m_lastFrame == 0 && m_clock->monotonicMs() - m_startMs > kNoFrameTimeoutMs) {
        m_failed = true;
        return Poll::Failed;
    }
    return Poll::Nothing;
}
