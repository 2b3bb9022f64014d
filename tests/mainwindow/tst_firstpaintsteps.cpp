// The start steps that wait for the window's first frame: they run after the paint (not inside it), after
// the display was flushed, in the order asked for, once; a window that never paints gets them a second on.
#include "mainwindow/firstpaintsteps.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QtTest/QtTest>

class TestFirstPaintSteps : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stepsWaitForTheFirstPaint_data()
    {
        QTest::addColumn<bool>("paints");
        QTest::newRow("painted") << true;
        QTest::newRow("never painted") << false;
    }
    void stepsWaitForTheFirstPaint()
    {
        QFETCH(bool, paints);
        FirstPaintSteps steps;
        QStringList seen;
        steps.setFlush([&seen] { seen.append(QStringLiteral("flush")); });
        QElapsedTimer clock;
        clock.start();
        steps.add([&seen] { seen.append(QStringLiteral("a")); });
        steps.add([&seen] { seen.append(QStringLiteral("b")); });
        QVERIFY(seen.isEmpty());
        if (paints) {
            steps.painted();
            QVERIFY(seen.isEmpty()); // the frame goes out first
        }
        QTRY_COMPARE_WITH_TIMEOUT(seen, (QStringList{"flush", "a", "b"}), 3000);
        QCOMPARE(clock.elapsed() >= 900, !paints);
        QCOMPARE(steps.done(), paints);

        // After a paint a step runs at once; after the fallback it still waits for one.
        steps.add([&seen] { seen.append(QStringLiteral("c")); });
        if (paints) {
            QCOMPARE(seen, (QStringList{"flush", "a", "b", "c"}));
        } else {
            QCOMPARE(seen.size(), 3);
            steps.painted();
            QTRY_COMPARE(seen, (QStringList{"flush", "a", "b", "flush", "c"}));
        }
        // Later paints run nothing again.
        const QStringList before = seen;
        steps.painted();
        QTest::qWait(20);
        QCOMPARE(seen, before);
    }
};

KTR_TEST_MAIN(TestFirstPaintSteps)
#include "tst_firstpaintsteps.moc"
