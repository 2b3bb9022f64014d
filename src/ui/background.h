#pragma once
// Work off the GUI thread that reports back to it: the one way this program runs a job on the thread pool.
//
//     runInBackground(this, [path] { return readFile(path); },
//                     [this](const Result& r) { show(r); });
//
// work runs on the global pool; done runs on context's thread with work's result once it is done, and never
// after context is gone (the watcher that carries the result belongs to context). The returned future says
// whether the job still runs and lets a caller wait for it; a job cancels itself through a flag of its own.

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>
#include <utility>

template <typename Work, typename Done> auto runInBackground(QObject* context, Work work, Done done)
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
    QFuture<Result> future = QtConcurrent::run(QThreadPool::globalInstance(), std::move(work));
    watcher->setFuture(future);
    return future;
}
