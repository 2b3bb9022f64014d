#pragma once

#include <QElapsedTimer>
#include <QFuture>
#include <QThread>

namespace ktr {

// Waits on the calling (GUI) thread until the future is finished or budgetMs have passed, in 40 ms
// sleeps; no events are handled meanwhile (the quit sequence). Returns whether it finished. Polls the
// future, not a watcher: a watcher only learns of the end through the event loop.
template <typename T> bool waitFinished(const QFuture<T>& future, int budgetMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!future.isFinished() && timer.elapsed() < budgetMs)
        QThread::msleep(40);
    return future.isFinished();
}

} // namespace ktr
