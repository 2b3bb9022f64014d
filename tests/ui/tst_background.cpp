// Jobs on the pool that report back: the result arrives on the GUI thread, and nothing arrives for an owner
// that went away while its job still ran (the sanitized run catches a call into a freed owner). Heavy jobs run
// below the GUI thread's priority, and no other job or thread inherits that.
#include "testenv.h"
#include "ui/background.h"

#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// The calling thread's nice value.
int threadNice()
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, gettid());
    return errno == 0 ? nice : -100;
}

enum class Pool { Ordinary, Heavy };

// Runs a job that reads its thread's nice value on the given kind of pool, and waits for it.
int niceOfJobOn(Pool pool)
{
    QObject owner;
    bool done = false;
    int nice = -100;
    const auto work = [] { return threadNice(); };
    const auto report = [&](int n) {
        nice = n;
        done = true;
    };
    if (pool == Pool::Heavy)
        runHeavyInBackground(&owner, work, report);
    else
        runInBackground(&owner, work, report);
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        return -101;
    return nice;
}

} // namespace

class TestBackground : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resultArrivesOnTheOwnersThread_data()
    {
        QTest::addColumn<bool>("voidJob");
        QTest::newRow("a job with a result") << false;
        QTest::newRow("a job without one") << true;
    }
    void resultArrivesOnTheOwnersThread()
    {
        QFETCH(bool, voidJob);
        QObject owner;
        QThread* workThread = nullptr;
        QThread* doneThread = nullptr;
        int got = 0;
        bool called = false;
        if (voidJob) {
            runInBackground(
                &owner, [&] { workThread = QThread::currentThread(); },
                [&] {
                    doneThread = QThread::currentThread();
                    called = true;
                });
        } else {
            runInBackground(
                &owner,
                [&] {
                    workThread = QThread::currentThread();
                    return 42;
                },
                [&](int r) {
                    doneThread = QThread::currentThread();
                    got = r;
                    called = true;
                });
        }
        QVERIFY(!called); // never on the caller's stack
        QTRY_VERIFY(called);
        QVERIFY(workThread && workThread != QThread::currentThread());
        QCOMPARE(doneThread, QThread::currentThread());
        QCOMPARE(got, voidJob ? 0 : 42);
        // The watcher that carried it is gone once it reported.
        QTRY_COMPARE(owner.findChildren<QFutureWatcherBase*>().size(), 0);
    }

    // Each pool kept to one thread, so a job that follows another runs on the thread the first one had (and
    // would inherit a priority the first one left there).
    void heavyJobsRunBelowTheGuiThread_data()
    {
        QTest::addColumn<QList<int>>("jobs"); // Pool values, run one after the other; the last one is checked
        QTest::addColumn<bool>("lowered");
        const int o = int(Pool::Ordinary);
        const int h = int(Pool::Heavy);
        QTest::newRow("a heavy job") << QList<int>{h} << true;
        QTest::newRow("a heavy job on a thread a heavy job had") << QList<int>{h, h} << true;
        QTest::newRow("an ordinary job") << QList<int>{o} << false;
        QTest::newRow("an ordinary job after heavy ones") << QList<int>{h, h, o} << false;
    }
    void heavyJobsRunBelowTheGuiThread()
    {
        QFETCH(QList<int>, jobs);
        QFETCH(bool, lowered);
        const int gui = threadNice();
        QVERIFY(gui > -100);
        QThreadPool* global = QThreadPool::globalInstance();
        QThreadPool* heavy = ktr::heavyWorkPool();
        const int globalMax = global->maxThreadCount();
        const int heavyMax = heavy->maxThreadCount();
        global->setMaxThreadCount(1);
        heavy->setMaxThreadCount(1);
        int last = -100;
        for (const int job : std::as_const(jobs))
            last = niceOfJobOn(Pool(job));
        global->setMaxThreadCount(globalMax);
        heavy->setMaxThreadCount(heavyMax);
        QCOMPARE(last, lowered ? std::min(19, gui + 10) : gui);
        QCOMPARE(threadNice(), gui);
    }

    void ownerGoneBeforeTheJobEnds()
    {
        QSemaphore release;
        auto owner = std::make_unique<QObject>();
        bool called = false;
        QFuture<int> future = runInBackground(
            owner.get(),
            [&release] {
                release.acquire();
                return 1;
            },
            [&called](int) { called = true; });
        QVERIFY(future.isRunning() || !future.isFinished());
        owner.reset();
        release.release();
        future.waitForFinished();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QVERIFY(!called);
        QCOMPARE(future.result(), 1);
    }
};

KTR_TEST_MAIN(TestBackground)
#include "tst_background.moc"
