#pragma once
// Work off the GUI thread that reports back to it: the one way this program runs a job on the thread pool.
//
//     runInBackground(this, [path] { return readFile(path); },
//                     [this](const Result& r) { show(r); });
//
// work runs on the global pool; done runs on context's thread with work's result once it is done, and never
// after context is gone (the watcher that carries the result belongs to context). The returned future says
// whether the job still runs and lets a caller wait for it; a job cancels itself through a flag of its own.
//
// runHeavyInBackground does the same for the long jobs that read, pack or write much (snapshots, restores,
// exports) on a pool of their own, whose threads run below the GUI thread's priority: on a busy machine the
// GUI thread, when it wakes, gets the core such a job holds at once.

#include "platform/process.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>
#include <utility>

namespace ktr {

// The pool of runHeavyInBackground. A thread lowered once keeps its lower priority (an unprivileged process
// cannot raise it again), so these jobs never run on the global pool, whose threads serve every other job.
QThreadPool* heavyWorkPool();

namespace background {

template <typename Work, typename Done> auto runOnPool(QThreadPool* pool, QObject* context, Work work, Done done)
{
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done = std::move(done)]() mutable {
        watcher->deleteLater();
        if constexpr (std::is_void_v<Result>) {
            done();
        } else {
            done(watcher->future().result());
        }
    });
    QFuture<Result> future = QtConcurrent::run(pool, std::move(work));
    watcher->setFuture(future);
    return future;
}

} // namespace background
} // namespace ktr

template <typename Work, typename Done> auto runInBackground(QObject* context, Work work, Done done)
{
    return ktr::background::runOnPool(QThreadPool::globalInstance(), context, std::move(work), std::move(done));
}

template <typename Work, typename Done> auto runHeavyInBackground(QObject* context, Work work, Done done)
{
    return ktr::background::runOnPool(
        ktr::heavyWorkPool(), context,
        [work = std::move(work)]() mutable {
            ktr::platform::lowerCurrentThreadPriority();
            return work();
        },
        std::move(done));
}
