// Jobs on the pool that report back: the result arrives on the GUI thread, and nothing arrives for an owner
// that went away while its job still ran (the sanitized run catches a call into a freed owner).
#include "testenv.h"
#include "ui/background.h"

#include <QSemaphore>
#include <QThread>

#include <memory>

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
