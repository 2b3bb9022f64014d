#include "mainwindow/framedrag.h"
#include "platform/pointerstate.h"
#include "testenv.h"

#include <QApplication>
#include <QSignalSpy>
#include <QWidget>

namespace {

class FakePointer final : public ktr::platform::PointerState
{
public:
    ktr::platform::PointerSnapshot state;
    ktr::platform::PointerSnapshot query() const override { return state; }
};

} // namespace

Q_DECLARE_METATYPE(FrameHit)

class TestFrameDrag : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A 600 x 400 window; the title strip is the top 29 rows.
    void hitTest_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<bool>("child");
        QTest::addColumn<FrameHit>("expected");
        const QList<std::tuple<const char*, QPoint, bool, FrameHit, FrameHit>> rows = {
            // name, point, child, landscape result, portrait result
            {"top left corner", {3, 3}, false, FrameHit::TopLeft, FrameHit::Top},
            {"corner limit", {6, 6}, false, FrameHit::TopLeft, FrameHit::Top},
            {"top right corner", {594, 6}, false, FrameHit::TopRight, FrameHit::Top},
            {"bottom left corner", {6, 394}, false, FrameHit::BottomLeft, FrameHit::Bottom},
            {"bottom right corner", {599, 399}, false, FrameHit::BottomRight, FrameHit::Bottom},
            {"left border", {6, 200}, false, FrameHit::Left, FrameHit::Client},
            {"left border over a child", {0, 15}, true, FrameHit::Left, FrameHit::Client},
            {"past the left border", {7, 200}, false, FrameHit::Client, FrameHit::Client},
            {"right border", {594, 200}, false, FrameHit::Right, FrameHit::Client},
            {"before the right border", {593, 200}, false, FrameHit::Client, FrameHit::Client},
            {"top border", {300, 6}, false, FrameHit::Top, FrameHit::Top},
            {"top border over a child", {300, 0}, true, FrameHit::Top, FrameHit::Top},
            {"below the top border", {300, 7}, false, FrameHit::Caption, FrameHit::Caption},
            {"bottom border", {300, 394}, false, FrameHit::Bottom, FrameHit::Bottom},
            {"above the bottom border", {300, 393}, false, FrameHit::Client, FrameHit::Client},
            {"title strip, last row", {300, 28}, false, FrameHit::Caption, FrameHit::Caption},
            {"below the title strip", {300, 29}, false, FrameHit::Client, FrameHit::Client},
            {"title strip under a button", {300, 15}, true, FrameHit::Client, FrameHit::Client},
            {"portrait side of the strip", {3, 15}, false, FrameHit::Left, FrameHit::Caption},
        };
        for (const auto& [name, p, child, land, port] : rows) {
            QTest::addRow("%s, landscape", name) << p << true << child << land;
            QTest::addRow("%s, portrait", name) << p << false << child << port;
        }
    }
    void hitTest()
    {
        QFETCH(QPoint, point);
        QFETCH(bool, landscape);
        QFETCH(bool, child);
        QFETCH(FrameHit, expected);
        QCOMPARE(frameHitTest(point, QSize(600, 400), landscape, child), expected);
    }

    // The drag ends when the left button comes up, wherever the pointer is.
    void reportsTheEndOfTheDrag()
    {
        FakePointer pointer;
        pointer.state = {QPoint(10, 10), Qt::LeftButton};
        FrameDrag drag(&pointer);
        QSignalSpy spy(&drag, &FrameDrag::sizeMoveFinished);
        drag.watchRelease();
        QVERIFY(drag.isWatching());
        QTest::qWait(100);
        QCOMPARE(spy.count(), 0);
        pointer.state = {QPoint(900, 10), Qt::NoButton};
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.count(), 1);
        QVERIFY(!drag.isWatching());
    }

    // A tap on the title strip: the press arrives when its button is already up again. Handing that to the
    // window manager glues the window to the pointer until the next click, so nothing starts; a drag that
    // did start and ends before the window moved is taken back from the window manager.
    void tapsNeverGlueTheWindow()
    {
        FakePointer pointer;
        FrameDrag drag(&pointer);
        int started = 0;
        int cancelled = 0;
        drag.setSystemCalls(
            [&](QWindow*, FrameHit) {
                ++started;
                return true;
            },
            [&](QWindow*) { ++cancelled; });
        QWidget w;
        w.resize(200, 100);
        w.show();
        QSignalSpy finished(&drag, &FrameDrag::sizeMoveFinished);

        pointer.state = {QPoint(50, 10), Qt::NoButton};
        QVERIFY(!drag.start(w.windowHandle(), FrameHit::Caption));
        QCOMPARE(started, 0);
        QVERIFY(!drag.isWatching());

        pointer.state = {QPoint(50, 10), Qt::LeftButton};
        QVERIFY(drag.start(w.windowHandle(), FrameHit::Caption));
        QCOMPARE(started, 1);
        pointer.state = {QPoint(50, 10), Qt::NoButton}; // released before the window manager moved anything
        QVERIFY(finished.wait(2000));
        QCOMPARE(cancelled, 1);

        // A real drag moved the window: the window manager ends it with the release, nothing is taken back.
        pointer.state = {QPoint(50, 10), Qt::LeftButton};
        QVERIFY(drag.start(w.windowHandle(), FrameHit::Caption));
        w.move(w.pos() + QPoint(40, 30));
        pointer.state = {QPoint(90, 40), Qt::NoButton};
        QVERIFY(finished.wait(2000));
        QCOMPARE(finished.count(), 2);
        QCOMPARE(cancelled, 1);
    }

    // Content clicks stay with the window; without a window manager to hand the drag to, nothing starts.
    void startNeedsAFrameHitAndAPlatform()
    {
        FakePointer pointer;
        pointer.state = {QPoint(10, 10), Qt::LeftButton};
        FrameDrag drag(&pointer);
        QWidget w;
        w.resize(200, 100);
        w.show();
        QVERIFY(!drag.start(w.windowHandle(), FrameHit::Client));
        QVERIFY(!drag.start(nullptr, FrameHit::Caption));
        QVERIFY(!drag.start(w.windowHandle(), FrameHit::Caption)); // offscreen has no system move
        QVERIFY(!drag.isWatching());
    }
};

KTR_TEST_MAIN(TestFrameDrag)
#include "tst_framedrag.moc"
