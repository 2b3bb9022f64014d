#include "mainwindow/iconqueue.h"

#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "platform/heaptrim.h"
#include "ui/namedtimer.h"

#include <QSet>
#include <QTimer>

#include <algorithm>

IconQueue::IconQueue(QObject* parent)
    : QObject(parent), m_timer(ktr::makeNamedTimer(this, "iconQueueTimer", kIntervalMs)),
      m_repaintTimer(ktr::makeNamedTimer(this, "repaintTimer", kRepaintDelayMs, true))
{
    connect(m_timer, &QTimer::timeout, this, &IconQueue::drain);
    connect(m_repaintTimer, &QTimer::timeout, this, &IconQueue::repaintIntervalEnded);
}

QStringList IconQueue::loadOrder(const QList<Group>& groups, int current)
{
    QStringList order;
    QSet<QString> seen;
    QStringList hidden;
    // Sized once: growing a set of 20,000 paths step by step was most of this at start.
    qsizetype total = 0;
    for (const Group& g : groups)
        total += g.items.size();
    order.reserve(total);
    seen.reserve(total);
    const auto take = [&](const Group& g) {
        for (const Item& item : g.items) {
            if (item.path.isEmpty() || seen.contains(item.path))
                continue;
            if (item.hidden) {
                hidden.append(item.path);
                continue;
            }
            seen.insert(item.path);
            order.append(item.path);
        }
    };
    if (current >= 0 && current < groups.size())
        take(groups[current]);
    for (int g = 0; g < groups.size(); ++g) {
        if (g != current)
            take(groups[g]);
    }
    for (const QString& path : std::as_const(hidden)) {
        if (!seen.contains(path)) {
            seen.insert(path);
            order.append(path);
        }
    }
    return order;
}

void IconQueue::queue(const QString& path)
{
    if (path.isEmpty())
        return;
    m_paths.append(path);
    m_stopped = false;
    if (!m_timer->isActive())
        m_timer->start();
}

void IconQueue::queueAll(const QList<Group>& groups, int current)
{
    m_paths = loadOrder(groups, current);
    m_firstResults = int(std::min<qsizetype>(m_paths.size(), kMaxInFlight));
    m_stopped = false;
    if (!m_paths.isEmpty() && !m_timer->isActive())
        m_timer->start();
}

void IconQueue::prioritize(const QStringList& paths)
{
    if (m_paths.isEmpty() || paths.isEmpty())
        return;
    const QSet<QString> wanted(paths.cbegin(), paths.cend());
    QStringList front;
    QStringList rest;
    QSet<QString> queued;
    for (const QString& p : std::as_const(m_paths)) {
        if (wanted.contains(p))
            queued.insert(p);
        else
            rest.append(p);
    }
    if (queued.isEmpty())
        return;
    for (const QString& p : paths) {
        if (queued.remove(p))
            front.append(p);
    }
    m_paths = front + rest;
    m_firstResults = int(std::min<qsizetype>(front.size(), kMaxInFlight));
}

void IconQueue::drain()
{
    while (!m_paths.isEmpty() && m_inFlight < kMaxInFlight) {
        const QString path = m_paths.takeFirst();
        ++m_inFlight;
        loadIconAsync(path, this, [this](const QString& p, const QImage& image) { onLoaded(p, image); });
    }
    // The rest goes out as results come back; the timer only moved the first batch out of the caller's stack.
    if (m_timer->isActive())
        m_timer->stop();
}

void IconQueue::onLoaded(const QString& path, const QImage& image)
{
    cacheIconImage(path, image);
    emit iconLoaded(path);
    if (!m_stopped) {
        if (m_repaintTimer->isActive()) {
            m_repaintPending = true;
        } else {
            m_repaintPending = false;
            m_repaintTimer->start(repaintInterval());
            emit repaintDue();
        }
    }
    if (m_firstResults > 0)
        --m_firstResults;
    if (m_inFlight > 0)
        --m_inFlight;
    ++m_loadedSinceTrim;
    if (!m_paths.isEmpty()) {
        if (!m_stopped)
            drain();
        return;
    }
    // The last result of a batch: the loader's workers freed their decoding buffers, give them back.
    if (m_inFlight == 0 && m_loadedSinceTrim >= kTrimAfterLoads) {
        m_loadedSinceTrim = 0;
        ktr::platform::releaseFreeHeap();
    }
}

void IconQueue::repaintIntervalEnded()
{
    if (!m_repaintPending || m_stopped)
        return;
    m_repaintPending = false;
    m_repaintTimer->start(repaintInterval());
    emit repaintDue();
}

int IconQueue::repaintInterval() const
{
    return m_firstResults > 0 ? kFirstResultsRepaintMs : kRepaintDelayMs;
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
    m_stopped = true;
    m_timer->stop();
    m_repaintTimer->stop();
    m_repaintPending = false;
}
