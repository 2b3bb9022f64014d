#include "mainwindow/framedrag.h"
#include "mainwindow/mainwindow.h"
#include "testenv.h"
#include "ui/uibtn.h"

#include <QtTest/QtTest>

#include <memory>

Q_DECLARE_METATYPE(FrameHit)

// Where a press on the frameless window's border lands follows the orientation in force: the portrait window
// has a fixed width, so its side borders must not resize it.
class TestReviewOrientation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void borderHitFollowsTheOrientation_data()
    {
        QTest::addColumn<bool>("portrait");
        QTest::addColumn<int>("where"); // 0 top left corner, 1 middle of the right edge, 2 bottom left corner
        QTest::addColumn<FrameHit>("expected");
        QTest::newRow("landscape top left") << false << 0 << FrameHit::TopLeft;
        QTest::newRow("landscape right edge") << false << 1 << FrameHit::Right;
        QTest::newRow("landscape bottom left") << false << 2 << FrameHit::BottomLeft;
        QTest::newRow("portrait top left") << true << 0 << FrameHit::Top;
        QTest::newRow("portrait right edge") << true << 1 << FrameHit::Client;
        QTest::newRow("portrait bottom left") << true << 2 << FrameHit::Bottom;
    }

    void borderHitFollowsTheOrientation()
    {
        QFETCH(bool, portrait);
        QFETCH(int, where);
        QFETCH(FrameHit, expected);
        auto w = std::make_unique<MainWindow>();
        if (portrait)
            w->onUiButton(UiBtn::Orientation);
        QCOMPARE(w->portraitMode(), portrait);
        const int width = w->width();
        const int height = w->height();
        const QPoint points[] = {QPoint(3, 3), QPoint(width - 2, height / 2), QPoint(2, height - 2)};
        QCOMPARE(w->frameHitAt(points[where]), expected);
    }
};

KTR_TEST_MAIN(TestReviewOrientation)
#include "tst_review_orientation.moc"
