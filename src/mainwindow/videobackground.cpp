#include "mainwindow/videobackground.h"

#include "platform/videodecoder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutexLocker>
#include <QtDebug>

#include <algorithm>
#include <chrono>

namespace {

// Reads in a row that gave no frame before the worker rests, so a file without pictures doesn't spin.
constexpr int kMissesBeforeRest = 3;
constexpr qint64 kRestMs = 200;
// A frame more than this late moves the schedule instead of rushing the following frames out.
constexpr qint64 kMaxLateMs = 1000;
// Longer waits come from broken time stamps: the schedule starts again from that frame.
constexpr qint64 kMaxWaitMs = 10000;

} // namespace

VideoBackground::VideoBackground(QObject* parent) : QObject(parent)
{
}

VideoBackground::~VideoBackground()
{
    stop();
}

bool VideoBackground::isVideoFile(const QString& path)
{
    static const char* const suffixes[] = {".mp4", ".m4v", ".mov", ".wmv", ".avi", ".mkv", ".webm"};
    const QString lower = path.toLower();
    return std::any_of(std::begin(suffixes), std::end(suffixes),
                       [&](const char* s) { return lower.endsWith(QLatin1String(s)); });
}

void VideoBackground::setTargetSize(QSize size)
{
    m_targetWidth = std::max(1, size.width());
    m_targetHeight = std::max(1, size.height());
}

QSize VideoBackground::targetSize() const
{
    return QSize(m_targetWidth, m_targetHeight);
}

void VideoBackground::start(const QString& path)
{
    stop();
    {
        // Forget the previous video's frame even when nothing new starts, so the window never takes the old
        // picture for the new file's and does notice that the new one gives nothing.
        QMutexLocker lock(&m_frameMutex);
        m_frame = QImage();
        m_frameCount = 0;
    }
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    m_path = path;
    m_stop = false;
    m_running = true;
    m_worker = std::thread([this, path] { run(path); });
}

void VideoBackground::stop()
{
    {
        std::lock_guard lock(m_wakeMutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    m_running = false;
}

QImage VideoBackground::currentFrame(quint64* count) const
{
    QMutexLocker lock(&m_frameMutex);
    if (count)
        *count = m_frameCount;
    return m_frame;
}

void VideoBackground::setFrame(QImage frame)
{
    QMutexLocker lock(&m_frameMutex);
    m_frame.swap(frame);
    ++m_frameCount;
    // The previous frame is released after the lock, in `frame`'s destructor.
    lock.unlock();
}

QSize VideoBackground::decodeSize(QSize source, QSize target)
{
    const qint64 w = source.width();
    const qint64 h = source.height();
    const qint64 tw = target.width();
    const qint64 th = target.height();
    if (w <= 0 || h <= 0 || tw <= 0 || th <= 0)
        return {};
    // s = min(w / 1.5tw, h / 1.5th); the side that gives the smaller ratio lands on exactly 1.5 times its
    // target. Whole numbers keep 1600 from becoming 1599.999 on the way.
    qint64 rw = 0;
    qint64 rh = 0;
    if (w * th <= h * tw) {
        if (2 * w <= 3 * tw)
            return {};
        rw = 3 * tw / 2;
        rh = 3 * tw * h / (2 * w);
    } else {
        if (2 * h <= 3 * th)
            return {};
        rw = 3 * th * w / (2 * h);
        rh = 3 * th / 2;
    }
    rw = std::max<qint64>(64, rw & ~qint64(1));
    rh = std::max<qint64>(64, rh & ~qint64(1));
    return QSize(int(rw), int(rh));
}

QImage VideoBackground::fitToTarget(const QImage& frame, QSize target)
{
    if (frame.isNull() || target.width() < 1 || target.height() < 1 || frame.size() == target)
        return frame;
    const QImage scaled = frame.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    if (scaled.width() <= target.width() && scaled.height() <= target.height())
        return scaled;
    const int dx = scaled.width() - target.width();
    const int dy = scaled.height() - target.height();
    return scaled.copy(dx > 1 ? dx / 2 : 0, dy > 1 ? dy / 2 : 0, target.width(), target.height());
}

bool VideoBackground::waitFor(qint64 ms)
{
    std::unique_lock lock(m_wakeMutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
}

void VideoBackground::run(QString path)
{
    ktr::platform::VideoDecoder decoder;
    QString message;
    if (!decoder.open(path, &message)) {
        qWarning().noquote() << "[VideoBackground] cannot play" << path;
        return;
    }
    const QSize request = decodeSize(decoder.sourceSize(), targetSize());
    if (request.isValid())
        decoder.setOutputSize(request);

    // The schedule: a frame stamped pts is due at origin + (pts - basePts) on the clock.
    QElapsedTimer clock;
    clock.start();
    bool haveBase = false;
    qint64 origin = 0;
    qint64 basePts = 0;
    // When the previous pass's last frame ends; the next pass's first frame waits for it.
    qint64 passEnd = -1;
    int misses = 0;

    while (!m_stop) {
        QImage frame;
        qint64 pts = 0;
        qint64 duration = 0;
        const auto result = decoder.readFrame(&frame, &pts, &duration);
        if (result == ktr::platform::VideoDecoder::ReadResult::Error)
            break;
        if (result != ktr::platform::VideoDecoder::ReadResult::Frame) {
            if (++misses >= kMissesBeforeRest) {
                misses = 0;
                if (!waitFor(kRestMs))
                    break;
            }
            if (result == ktr::platform::VideoDecoder::ReadResult::EndOfStream) {
                if (!decoder.rewind())
                    break;
                haveBase = false;
            }
            continue;
        }
        misses = 0;

        const qint64 now = clock.elapsed();
        if (!haveBase) {
            origin = std::max(now, passEnd);
            basePts = pts;
            haveBase = true;
        }
        qint64 due = origin + (pts - basePts);
        if (due - now > kMaxWaitMs || now - due > kMaxLateMs) {
            origin = now;
            basePts = pts;
            due = now;
        }
        if (due > now && !waitFor(due - now))
            break;
        passEnd = due + duration;

        setFrame(fitToTarget(frame, targetSize()));
    }
}
