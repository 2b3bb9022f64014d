#pragma once

#include <QObject>
#include <QTimer>

namespace ktr {

// A timer owned by `parent`, named so tests and diagnostics can find it, not started. Coarse unless told.
inline QTimer* makeNamedTimer(QObject* parent, const char* name, int intervalMs, bool singleShot = false,
                              Qt::TimerType type = Qt::CoarseTimer)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(intervalMs);
    timer->setSingleShot(singleShot);
    timer->setTimerType(type);
    return timer;
}

} // namespace ktr
