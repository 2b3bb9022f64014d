#include "mainwindow/iconqueue.h"

#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "platform/heaptrim.h"
#include "ui/namedtimer.h"

#include <QTimer>

IconQueue::IconQueue(QObject* parent)
    : QObject(parent), m_timer(ktr::makeNamedTimer(this, "iconQueueTimer", kIntervalMs)),
      m_repaintTimer(ktr::makeNamedTimer(this, "repaintTimer", kRepaintDelayMs, true))
{
    connect(m_timer, &QTimer::timeout, this, &IconQueue::drain);
    connect(m_repaintTimer, &QTimer::timeout, this, &IconQueue::repaintDue);
}

void IconQueue::queue(const QString& path)
{
    if (path.isEmpty() || m_paths.size() >= kLimit)
        return;
    m_paths.append(path);
    if (!m_timer->isActive())
        m_timer->start();
}

void IconQueue::drain()
{
    while (!m_paths.isEmpty()) {
        const QString path = m_paths.takeFirst();
        ++m_inFlight;
        loadIconAsync(path, this, [this](const QString& p, const QImage& image) { onLoaded(p, image); });
    }
    if (m_timer->isActive())
        m_timer->stop();
}

void IconQueue::onLoaded(const QString& path, const QImage& image)
{
    cacheIconImage(path, image);
    emit iconLoaded(path);
    if (!m_repaintTimer->isActive())
        m_repaintTimer->start();
    // The last result of a batch: the loader's workers freed their decoding buffers, give them back.
    if (m_inFlight > 0 && --m_inFlight == 0 && m_paths.isEmpty())
        ktr::platform::releaseFreeHeap();
}

void IconQueue::ensure(const QString& path)
{
    loadIconAsync(path, this, [this](const QString& p, const QImage& image) {
        cacheIconImage(p, image);
        emit repaintDue();
    });
}

void IconQueue::stop()
{
    m_timer->stop();
    m_repaintTimer->stop();
}
