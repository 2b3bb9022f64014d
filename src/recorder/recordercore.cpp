#include "recorder/recordercore.h"

#include "platform/clock.h"
#include "platform/encoderprocess.h"
#include "platform/inputactivity.h"
#include "platform/screencapture.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace {

// How long a missing screen holds off the next attempt, so a lasting fault is not retried at the frame
// rate.
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
    s.keepMp4Encoder = [] { return std::shared_ptr<void>(std::make_shared<ktr::platform::EncoderProcessHold>()); };
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
    m_wantMp4 = format > 0;
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
    qint64 now = m_seams.clock->monotonicMs();
    bool open = hasSegment();
    if (open && now >= m_nextFileCheckMs) {
        // Writes into an open file go on after its folder was removed: they would fill a file nobody can
        // reach. The file's name is looked for now and then instead.
        m_nextFileCheckMs = now + kFileCheckMs;
        const QString path = segmentPath();
        if (!path.isEmpty() && !QFileInfo::exists(path)) {
            QString detail;
            const PauseCause cause = diagnose(QStringLiteral("the segment file vanished"), &detail);
            abandonSegment();
            pause(now, cause, detail);
            open = false;
        }
    }
    if (isUserActive(now)) {
        if (!open && (!m_lowDiskPaused || now >= m_pausedUntilMs) && now >= m_retryAtMs) {
            open = openSegment(now);
            // Opening may take a while (the encoder, its libraries): the first frame is taken now.
            if (open)
                now = m_seams.clock->monotonicMs();
        }
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
    // The encoder's libraries go once the run is over, not at every segment.
    m_mp4Encoder.reset();
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

void RecorderCore::pause(qint64 nowMs, PauseCause cause, const QString& detail)
{
    qint64 wait = kPauseMs;
    if (cause == PauseCause::FolderMissing || cause == PauseCause::NotAFolder) {
        wait = kFolderRetryMs;
    } else if (cause == PauseCause::WriteFailed) {
        // Each try makes a file; a fault that lasts is tried ever less often.
        wait = std::min(kMaxRetryMs, kPauseMs << std::min(m_failedPauses, 4));
        ++m_failedPauses;
    }
    m_lowDiskPaused = true;
    m_pausedUntilMs = nowMs + wait;
    // A pause is told once, whatever began it; a pause that only goes on is not told again, one whose
    // cause changed is.
    if (m_pauseSignalled && cause == m_pauseCause)
        return;
    m_pauseSignalled = true;
    m_pauseCause = cause;
    static const char* const names[] = {"low disk space", "folder missing", "not a folder", "write failed"};
    if (cause != PauseCause::LowDisk) // the low-space line has its own form, written by openSegment
        qWarning().noquote() << "screen monitor paused:" << names[int(cause)] << detail;
    if (onPause)
        onPause(cause, detail);
}

bool RecorderCore::folderFault(PauseCause* cause) const
{
    const QFileInfo info(m_outputDir);
    if (!info.exists()) {
        *cause = PauseCause::FolderMissing;
        return true;
    }
    if (!info.isDir()) {
        *cause = PauseCause::NotAFolder;
        return true;
    }
    return false;
}

RecorderCore::PauseCause RecorderCore::diagnose(const QString& error, QString* detail) const
{
    PauseCause cause;
    if (folderFault(&cause)) {
        *detail = m_outputDir;
        return cause;
    }
    if (m_seams.freeBytes) {
        const qint64 free = m_seams.freeBytes(m_outputDir);
        const qint64 threshold = std::max(kMinFreeBytes, 2 * qint64(m_segmentMiB) * kMiB);
        if (free >= 0 && free < threshold) {
            *detail = m_outputDir;
            return PauseCause::LowDisk;
        }
    }
    *detail = error;
    return PauseCause::WriteFailed;
}

void RecorderCore::abandonSegment()
{
    const QString path = segmentPath();
    const bool empty = m_framesInSegment == 0;
    closeSegment();
    // A file without a frame would only be a stub left by each retry.
    if (empty && !path.isEmpty() && QFileInfo(path).isFile())
        QFile::remove(path);
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
    if (!m_outputDir.isEmpty()) {
        PauseCause fault;
        if (folderFault(&fault)) {
            pause(nowMs, fault, m_outputDir);
            return false;
        }
    }
    if (!m_outputDir.isEmpty() && m_seams.freeBytes) {
        const qint64 free = m_seams.freeBytes(m_outputDir);
        const qint64 threshold = std::max(kMinFreeBytes, 2 * qint64(m_segmentMiB) * kMiB);
        if (free >= 0 && free < threshold) {
            if (!m_lowDiskPaused || m_pauseCause != PauseCause::LowDisk)
                qWarning().noquote() << "screen monitor paused: low disk space" << free << "<" << threshold;
            pause(nowMs, PauseCause::LowDisk, m_outputDir);
            return false;
        }
    }
    const bool wasPaused = m_lowDiskPaused;
    if (wasPaused)
        m_useMp4 = m_wantMp4; // a fallback made while the folder was failing is tried again

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
    m_nextFileCheckMs = nowMs + kFileCheckMs;

    // The pause ends here; the spell the user was told of ends with the first frame written.
    auto opened = [&] {
        m_segmentBytes = m_sink->bytes();
        m_lowDiskPaused = false;
        // The segment's time starts when it can take its first frame: the time spent opening is no part of
        // the recording, and would otherwise stretch the first frame over it.
        m_segmentStartMs = m_seams.clock->monotonicMs();
        return true;
    };

    QString mp4Error;
    if (m_useMp4) {
        if (!m_mp4Encoder && m_seams.keepMp4Encoder)
            m_mp4Encoder = m_seams.keepMp4Encoder();
        const QString path = segmentFileName(QStringLiteral(".mp4"));
        setSegmentPath(path);
        std::unique_ptr<SegmentSink> sink = m_seams.sinks(SegmentSink::Format::Mp4);
        if (sink && sink->open(path, screen, m_fps)) {
            m_sink = std::move(sink);
            m_segmentIsMp4 = true;
            return opened();
        }
        // The writer removed what it made. Further segments are AVI, under a name of their own (a file of
        // that name may exist beside the failed one), until writing works again after a pause.
        mp4Error = sink ? sink->errorString() : QString();
        m_useMp4 = false;
    }

    const QString path = segmentFileName(QStringLiteral(".avi"));
    setSegmentPath(path);
    std::unique_ptr<SegmentSink> sink = m_seams.sinks(SegmentSink::Format::Avi);
    if (!sink || !sink->open(path, screen, m_fps)) {
        setSegmentPath(QString());
        // Neither file could be made: the folder is at fault, not the MP4 writer.
        m_useMp4 = m_wantMp4;
        QString detail;
        const PauseCause cause = diagnose(sink ? sink->errorString() : QString(), &detail);
        pause(nowMs, cause, detail);
        return false;
    }
    if (!mp4Error.isNull())
        qWarning().noquote() << "screen monitor MP4 writer failed, recording AVI for now:" << mp4Error;
    m_sink = std::move(sink);
    m_segmentIsMp4 = false;
    return opened();
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
        nowMs = m_seams.clock->monotonicMs();
    }
    if (!m_sink)
        return;
    switch (m_sink->write(frame, nowMs - m_segmentStartMs)) {
    case SegmentSink::Write::Written:
        m_refusals = 0;
        m_failedPauses = 0;
        if (m_pauseSignalled) {
            m_pauseSignalled = false;
            qInfo().noquote() << "screen monitor resumed:" << segmentPath();
            if (onResume)
                onResume();
        }
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
        // A lone refusal only loses that frame; refusals in a row mean writing fails. What was written is
        // kept and recording pauses.
        if (++m_refusals < kMaxRefusals)
            return;
        qWarning().noquote() << "screen monitor MP4 writes refused, closing segment:" << m_sink->errorString();
    } else {
        qWarning().noquote() << "screen monitor AVI write failed, closing segment:" << m_sink->errorString();
    }
    QString detail;
    const PauseCause cause = diagnose(m_sink->errorString(), &detail);
    abandonSegment();
    pause(nowMs, cause, detail);
}
