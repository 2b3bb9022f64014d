#include "recorder/recordercore.h"

#include "platform/clock.h"
#include "platform/inputactivity.h"
#include "platform/screencapture.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace {

// How long a failure that is not about disk space (no screen, a segment file that can't be made) holds
// off the next attempt, so a lasting fault is not retried at the frame rate.
constexpr qint64 kRetryMs = 1000;

qint64 storageFreeBytes(const QString& dir)
{
    const QStorageInfo info(dir);
    if (!info.isValid() || !info.isReady())
        return -1;
    return info.bytesAvailable();
}

} // namespace

RecorderCore::Seams RecorderCore::systemSeams()
{
    Seams s;
    s.clock = ktr::platform::Clock::system();
    s.activity = ktr::platform::InputActivity::system();
    s.freeBytes = storageFreeBytes;
    s.capture = [] { return ktr::platform::ScreenCapture::createX11(); };
    s.sinks = makeSegmentSink;
    return s;
}

RecorderCore::RecorderCore(Seams seams) : m_seams(std::move(seams))
{
}

RecorderCore::~RecorderCore()
{
    finish();
}

void RecorderCore::configure(const QString& dir, int maxMB, int idleSec, int fps, int format, int trigger)
{
    m_outputDir = dir;
    m_segmentMiB = std::clamp(maxMB, 10, 512);
    m_idleMs = std::clamp(idleSec, 10, 600) * 1000;
    m_useMp4 = format > 0;
    m_idleMode = std::clamp(trigger, 0, 2);
    const int f = std::clamp(fps, 2, 60);
    m_fps = f;
    m_frameIntervalMs = (1000 + f / 2) / f;
}

bool RecorderCore::isUserActive(qint64 nowMs) const
{
    ktr::platform::InputActivity* activity = m_seams.activity;
    if (!activity)
        return false;
    const qint64 idle = m_idleMs;
    if (activity->isInstalled()) {
        const qint64 keyboard = nowMs - activity->lastKeyboardMs();
        const qint64 mouse = nowMs - activity->lastMouseMs();
        switch (m_idleMode.load()) {
        case 1:
            return keyboard < idle;
        case 2:
            return mouse < idle;
        default:
            return std::min(keyboard, mouse) < idle;
        }
    }
    // Without raw input only the server's idle time is known, and it does not tell keys from the mouse.
    const qint64 systemIdle = activity->systemIdleMs();
    return systemIdle >= 0 && systemIdle < idle;
}

void RecorderCore::step()
{
    const qint64 now = m_seams.clock->monotonicMs();
    bool open = hasSegment();
    if (isUserActive(now)) {
        if (!open && (!m_lowDiskPaused || now >= m_pausedUntilMs) && now >= m_retryAtMs)
            open = openSegment(now);
        if (open)
            captureFrame(now);
    } else if (open) {
        // An idle user ends the segment; the next activity starts a new file.
        closeSegment();
    }
}

void RecorderCore::finish()
{
    closeSegment();
    m_capture.reset();
}

QString RecorderCore::segmentFileName(const QString& extension) const
{
    const QString base =
        m_outputDir + QStringLiteral("/Screen_") + m_seams.clock->now().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    QString path = base + extension;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = base + QStringLiteral("_%1").arg(n) + extension;
    return path;
}

void RecorderCore::pause(qint64 nowMs)
{
    m_lowDiskPaused = true;
    m_pausedUntilMs = nowMs + kPauseMs;
    // Every pause is told once, whatever began it; a pause that only goes on is not told again.
    if (!m_pauseSignalled) {
        m_pauseSignalled = true;
        if (onDiskFull)
            onDiskFull();
    }
}

bool RecorderCore::ensureCapture()
{
    if (!m_capture && m_seams.capture)
        m_capture = m_seams.capture();
    return m_capture != nullptr;
}

void RecorderCore::setSegmentPath(const QString& path)
{
    std::lock_guard lock(m_pathMutex);
    m_segmentPath = path;
}

QString RecorderCore::segmentPath() const
{
    std::lock_guard lock(m_pathMutex);
    return m_segmentPath;
}

bool RecorderCore::openSegment(qint64 nowMs)
{
    if (!m_outputDir.isEmpty() && m_seams.freeBytes) {
        const qint64 free = m_seams.freeBytes(m_outputDir);
        const qint64 threshold = std::max(kMinFreeBytes, 2 * qint64(m_segmentMiB) * kMiB);
        if (free >= 0 && free < threshold) {
            if (!m_lowDiskPaused)
                qWarning().noquote() << "screen monitor paused: low disk space" << free << "<" << threshold;
            pause(nowMs);
            return false;
        }
    }
    m_lowDiskPaused = false;
    m_pauseSignalled = false;

    const QSize screen = ensureCapture() ? m_capture->screenSize() : QSize();
    if (screen.width() < 1 || screen.height() < 1) {
        m_retryAtMs = nowMs + kRetryMs;
        return false;
    }
    m_captureSize = screen;
    m_framesInSegment = 0;
    m_segmentBytes = 0;
    m_refusals = 0;
    m_segmentStartMs = nowMs;

    if (m_useMp4) {
        const QString path = segmentFileName(QStringLiteral(".mp4"));
        setSegmentPath(path);
        std::unique_ptr<SegmentSink> sink = m_seams.sinks(SegmentSink::Format::Mp4);
        if (sink && sink->open(path, screen, m_fps)) {
            m_sink = std::move(sink);
            m_segmentIsMp4 = true;
            m_segmentBytes = m_sink->bytes();
            return true;
        }
        // The writer removed what it made. Every further segment of this run is AVI, under a name of its own
        // (a file of that name may exist beside the failed one).
        qWarning().noquote() << "screen monitor MP4 writer failed, recording AVI from now on:"
                             << (sink ? sink->errorString() : QString()) << path;
        m_useMp4 = false;
    }

    const QString path = segmentFileName(QStringLiteral(".avi"));
    setSegmentPath(path);
    std::unique_ptr<SegmentSink> sink = m_seams.sinks(SegmentSink::Format::Avi);
    if (!sink || !sink->open(path, screen, m_fps)) {
        qWarning().noquote() << "screen monitor segment not created:" << (sink ? sink->errorString() : QString())
                             << path;
        setSegmentPath(QString());
        m_retryAtMs = nowMs + kRetryMs;
        return false;
    }
    m_sink = std::move(sink);
    m_segmentIsMp4 = false;
    m_segmentBytes = m_sink->bytes();
    return true;
}

void RecorderCore::closeSegment()
{
    if (!m_sink)
        return;
    m_sink->close();
    m_sink.reset();
    setSegmentPath(QString());
}

void RecorderCore::captureFrame(qint64 nowMs)
{
    if (!ensureCapture())
        return;
    const QImage frame = m_capture->grab();
    if (frame.isNull())
        return;
    if (frame.size() != m_captureSize) {
        // The display mode changed: the rest goes into a segment of the new size.
        closeSegment();
        if (!openSegment(nowMs) || frame.size() != m_captureSize)
            return;
    }
    if (!m_sink)
        return;
    switch (m_sink->write(frame, nowMs - m_segmentStartMs)) {
    case SegmentSink::Write::Written:
        m_refusals = 0;
        ++m_framesInSegment;
        m_segmentBytes = m_sink->bytes();
        if (m_segmentBytes >= qint64(m_segmentMiB) * kMiB) {
            closeSegment();
            openSegment(nowMs);
        }
        return;
    case SegmentSink::Write::Dropped:
        return;
    case SegmentSink::Write::Failed:
        break;
    }
    if (m_segmentIsMp4) {
        // A lone refusal only loses that frame; refusals in a row mean the disk is full. What was written
        // is kept and recording pauses like for low space.
        if (++m_refusals < kMaxRefusals)
            return;
        qWarning().noquote() << "screen monitor MP4 writes refused, closing segment:" << m_sink->errorString();
    } else {
        qWarning().noquote() << "screen monitor AVI write failed, closing segment:" << m_sink->errorString();
    }
    closeSegment();
    pause(nowMs);
}
