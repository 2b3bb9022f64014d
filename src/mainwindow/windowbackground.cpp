#include "mainwindow/windowbackground.h"

#include "mainwindow/videobackground.h"
#include "mainwindow/windowappearance.h"
#include "platform/fsentry.h"
#include "ui/namedtimer.h"

#include <QDebug>
#include <QImageReader>
#include <QMovie>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

bool sameRatio(qreal a, qreal b)
{
    return std::abs(a - b) <= 1e-12 * std::max({1.0, std::abs(a), std::abs(b)});
}

} // namespace

WindowBackground::WindowBackground(QWidget* host) : QObject(host), m_host(host), m_lastRatio(host->devicePixelRatioF())
{
}

WindowBackground::~WindowBackground() = default;

QSize WindowBackground::deviceSize() const
{
    const qreal ratio = m_host->devicePixelRatioF();
    return QSize(int(std::lround(m_host->width() * ratio)), int(std::lround(m_host->height() * ratio)));
}

bool WindowBackground::setCustomLogo(const QString& path)
{
    if (path == m_customLogoPath)
        return false;
    m_customLogoPath = path;
    m_customLogo = QPixmap();
    // Only a regular file: opening a FIFO or a device on the GUI thread could wait for ever.
    if (!path.isEmpty() && ktr::platform::isRegularFile(path)) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        m_customLogo = QPixmap::fromImage(reader.read());
    }
    m_scaledLogo = QPixmap();
    return true;
}

void WindowBackground::forgetPath()
{
    m_path.clear();
    m_path.append(QChar(0)); // no path equals this, so the background is loaded again
}

void WindowBackground::apply(const QString& path)
{
    if (path == m_path)
        return;
    m_path = path;

    m_still = QPixmap();
    m_scaled = QPixmap();
    if (m_movie) {
        m_movie->disconnect(this);
        m_movie->stop();
        m_movie->deleteLater();
        m_movie = nullptr;
    }
    m_movieCache = QPixmap();
    m_videoFrame = QPixmap();
    m_videoPlaying = false;
    m_videoFeed.restart();
    if (m_videoTimer)
        m_videoTimer->stop();
    if (m_video)
        m_video->stop();

    if (path != m_failedVideoPath)
        m_failedVideoPath.clear();
    if (path.isEmpty())
        return;
    // Opening a FIFO or a device here would stall the window (and start-up) until someone writes to it.
    if (!ktr::platform::isRegularFile(path)) {
        qWarning().noquote() << "[appearance] background is not a regular file, ignored:" << path;
        return;
    }

    if (VideoBackground::isVideoFile(path) && path != m_failedVideoPath) {
        if (!m_video) {
            m_video = new VideoBackground(this);
            m_videoTimer =
                ktr::makeNamedTimer(this, "videoFrameTimer", VideoFrameFeed::kPollIntervalMs, false, Qt::PreciseTimer);
            connect(m_videoTimer, &QTimer::timeout, this, [this] { pullVideoFrame(); });
        }
        m_video->setTargetSize(deviceSize());
        m_videoFeed.restart();
        m_video->start(path);
        m_videoPlaying = true;
        m_videoTimer->start();
        return;
    }
    if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        startGif(path);
        return;
    }

    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull())
        return;
    QScreen* s = m_host->screen();
    const QSize limit = s ? QSize(int(std::lround(s->size().width() * s->devicePixelRatio())),
                                  int(std::lround(s->size().height() * s->devicePixelRatio())))
                          : deviceSize();
    m_still = QPixmap::fromImage(WindowAppearance::fitWithin(image, limit));
}

void WindowBackground::startGif(const QString& path)
{
    m_movie = new QMovie(path, "gif", this);
    m_movie->setCacheMode(WindowAppearance::isAnimatedImageUsable(path) ? QMovie::CacheAll : QMovie::CacheNone);
    // Decoded at the size that covers the window, keeping the picture's proportions.
    QImageReader reader(path, "gif");
    m_movie->setScaledSize(WindowAppearance::coverSize(reader.size(), deviceSize()));
    connect(m_movie, &QMovie::frameChanged, this, [this] {
        if (!m_movie)
            return;
        if (m_still.isNull())
            m_still = m_movie->currentPixmap();
        refreshScaled();
        emit repaintNeeded();
    });
    m_movie->start();
}

void WindowBackground::hostResized()
{
    if (m_videoPlaying && m_video)
        m_video->setTargetSize(deviceSize());
    if (m_movie) {
        if (!m_resizeDebounce) {
            m_resizeDebounce = ktr::makeNamedTimer(this, "resizeDebounce", kDebounceMs, true);
            connect(m_resizeDebounce, &QTimer::timeout, this, [this] { restartGifAtHostSize(); });
        }
        m_resizeDebounce->start();
    }
}

void WindowBackground::restartGifAtHostSize()
{
    if (!m_movie)
        return;
    QImageReader reader(m_movie->fileName(), "gif");
    const QSize wanted = WindowAppearance::coverSize(reader.size(), deviceSize());
    if (m_movie->scaledSize() == wanted)
        return;
    m_movie->stop();
    m_movie->setScaledSize(wanted);
    m_movie->start();
}

void WindowBackground::pullVideoFrame()
{
    if (!m_videoPlaying || !m_video)
        return;
    QImage frame;
    switch (m_videoFeed.poll(*m_video, &frame)) {
    case VideoFrameFeed::Poll::NewFrame:
        m_videoFrame = QPixmap::fromImage(frame);
        m_videoFrame.setDevicePixelRatio(m_host->devicePixelRatioF());
        emit repaintNeeded();
        break;
    case VideoFrameFeed::Poll::Failed:
        failVideo();
        break;
    case VideoFrameFeed::Poll::Nothing:
        break;
    }
}

void WindowBackground::failVideo()
{
    m_failedVideoPath = m_path;
    m_videoPlaying = false;
    m_videoFrame = QPixmap();
    if (m_video)
        m_video->stop();
    if (m_videoTimer)
        m_videoTimer->stop();
    qWarning().noquote() << "[background] video gave no frame:" << m_failedVideoPath;
    emit videoFailed();
}

bool WindowBackground::noteRatio(qreal ratio)
{
    if (sameRatio(ratio, m_lastRatio))
        return false;
    m_lastRatio = ratio;
    m_scaled = QPixmap();
    m_movieCache = QPixmap();
    m_scaledLogo = QPixmap();
    m_videoFrame = QPixmap();
    return true;
}

void WindowBackground::scheduleRatioRefresh()
{
    if (m_ratioRefreshBusy)
        return;
    if (!m_ratioDebounce) {
        m_ratioDebounce = ktr::makeNamedTimer(this, "ratioDebounce", kDebounceMs, true);
        connect(m_ratioDebounce, &QTimer::timeout, this, [this] {
            m_ratioRefreshBusy = true;
            forgetPath();
            emit ratioRefreshDue();
            m_ratioRefreshBusy = false;
        });
    }
    m_ratioDebounce->start();
}

void WindowBackground::stop()
{
    for (QTimer* t : {m_videoTimer, m_resizeDebounce, m_ratioDebounce, m_scaledRefreshTimer}) {
        if (t)
            t->stop();
    }
}

bool WindowBackground::refreshScaled()
{
    const qreal ratio = m_host->devicePixelRatioF();
    const QSize target = deviceSize();
    bool rebuilt = false;
    if (m_movie) {
        const int frame = m_movie->currentFrameNumber();
        if (frame != m_movieCacheFrame || target != m_movieCacheSize || !sameRatio(ratio, m_movieCacheRatio) ||
            m_movieCache.isNull()) {
            const QPixmap current = m_movie->currentPixmap();
            if (!current.isNull() && !target.isEmpty()) {
                m_movieCache = current.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
                m_movieCache.setDevicePixelRatio(ratio);
                m_movieCacheFrame = frame;
                m_movieCacheSize = target;
                m_movieCacheRatio = ratio;
                rebuilt = true;
            }
        }
    } else if (!m_still.isNull()) {
        if (target != m_scaledSize || !sameRatio(ratio, m_scaledRatio) || m_scaled.isNull()) {
            if (!target.isEmpty()) {
                m_scaled = m_still.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
                m_scaled.setDevicePixelRatio(ratio);
                m_scaledSize = target;
                m_scaledRatio = ratio;
                rebuilt = true;
            }
        }
    }
    if (m_showLogo && (m_scaledLogo.isNull() || !sameRatio(ratio, m_scaledLogoRatio))) {
        const QPixmap& source = logo();
        if (!source.isNull()) {
            const int side = std::max(1, int(std::lround(24 * ratio)));
            m_scaledLogo = source.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            m_scaledLogo.setDevicePixelRatio(ratio);
            m_scaledLogoRatio = ratio;
            rebuilt = true;
        }
    }
    return rebuilt;
}

void WindowBackground::scheduleScaledRefresh()
{
    if (!m_scaledRefreshTimer) {
        m_scaledRefreshTimer = ktr::makeNamedTimer(this, "scaledRefreshTimer", 16, true, Qt::PreciseTimer);
        connect(m_scaledRefreshTimer, &QTimer::timeout, this, [this] {
            if (refreshScaled()) {
                m_scaledRefreshRetries = 0;
                m_scaledRefreshTimer->setInterval(16);
                emit repaintNeeded();
                return;
            }
            if (++m_scaledRefreshRetries <= 2)
                m_scaledRefreshTimer->start(kDebounceMs);
        });
    }
    if (m_scaledRefreshTimer->isActive())
        return;
    if (m_scaledRefreshRetries == 0)
        m_scaledRefreshTimer->setInterval(16);
    m_scaledRefreshTimer->start();
}

void WindowBackground::paintPicture(QPainter& p)
{
    const qreal ratio = m_host->devicePixelRatioF();
    p.setOpacity(std::max(m_opacity, 1) / 100.0);
    if (m_videoPlaying && !m_videoFrame.isNull()) {
        p.drawPixmap(QPointF(0, 0), m_videoFrame);
    } else if (!m_still.isNull()) {
        const QPixmap* cache = nullptr;
        if (m_movie) {
            if (m_movie->currentFrameNumber() != m_movieCacheFrame || m_movieCacheSize != deviceSize() ||
                !sameRatio(ratio, m_movieCacheRatio) || m_movieCache.isNull())
                scheduleScaledRefresh();
            cache = &m_movieCache;
        } else {
            if (m_scaledSize != deviceSize() || !sameRatio(ratio, m_scaledRatio) || m_scaled.isNull())
                scheduleScaledRefresh();
            cache = &m_scaled;
        }
        if (!cache->isNull()) {
            const QRectF source =
                WindowAppearance::coverSourceRect(cache->size(), cache->devicePixelRatio(), m_host->size());
            p.drawPixmap(QRectF(0, 0, m_host->width(), m_host->height()), *cache, source);
        }
    }
    p.setOpacity(1.0);
}

void WindowBackground::paintLogo(QPainter& p)
{
    if (!m_showLogo)
        return;
    if (m_scaledLogo.isNull() || !sameRatio(m_host->devicePixelRatioF(), m_scaledLogoRatio))
        scheduleScaledRefresh();
    if (m_scaledLogo.isNull())
        return;
    const QSizeF logical = m_scaledLogo.deviceIndependentSize();
    const QRectF box(8, 2, 24, 24);
    p.drawPixmap(QRectF(box.center().x() - logical.width() / 2, box.center().y() - logical.height() / 2,
                        logical.width(), logical.height()),
                 m_scaledLogo, QRectF(m_scaledLogo.rect()));
}
