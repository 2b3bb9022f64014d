#include "mainwindow/edgedock.h"
#include "manualclock.h"
#include "platform/pointerstate.h"
#include "testenv.h"

#include <QApplication>
#include <QEasingCurve>

#include <memory>

namespace {

const QRect kAvail(0, 0, 1920, 1040); // a 1080-line screen with a 40 px taskbar at the bottom
const QPoint kFar(1000, 500);         // a cursor position away from every edge strip

class FakePointer final : public ktr::platform::PointerState
{
public:
    ktr::platform::PointerSnapshot state;
    ktr::platform::PointerSnapshot query() const override { return state; }
};

// A window that only records what the dock asks of it.
struct Rig
{
    ktr::test::ManualClock clock;
    FakePointer pointer;
    QRect geo{800, 300, 400, 600};
    bool pinned = false;
    bool modal = false;
    bool visible = true;
    bool minimized = false;
    bool topmost = false;
    QList<bool> taskbarCalls;
    int activations = 0;
    int unminimized = 0;
    std::unique_ptr<EdgeDock> dock;

    QList<bool> collapseCalls; // a host that can shrink to its strip (only when constructed so)

    Rig(bool edgeSnap = true, int revealPx = 4, int method = 0, QList<QRect> screens = {kAvail},
        bool collapsible = false)
    {
        EdgeDock::Host h;
        h.geometry = [this] { return geo; };
        h.setGeometry = [this](const QRect& r) { geo = r; };
        h.setTaskbarButtonVisible = [this](bool v) { taskbarCalls << v; };
        h.setTopmost = [this](bool on) { topmost = on; };
        h.isPinned = [this] { return pinned; };
        h.modalOpen = [this] { return modal; };
        h.isVisible = [this] { return visible; };
        h.isMinimized = [this] { return minimized; };
        h.unminimize = [this] {
            minimized = false;
            ++unminimized;
        };
        h.activate = [this] { ++activations; };
        if (collapsible)
            h.setCollapsed = [this](bool on) { collapseCalls << on; };
        dock = std::make_unique<EdgeDock>(h, &pointer, &clock);
        dock->setSettings(edgeSnap, revealPx, method);
        dock->setScreens(screens);
        dock->updateDockPollTimer();
    }
    void finish()
    {
        clock.advance(EdgeDock::kAnimationMs);
        dock->advanceAnimation();
    }
    void poll(QPoint pos, Qt::MouseButtons buttons = {})
    {
        pointer.state = {pos, buttons};
        dock->pollDockCursor();
    }
    void dockAt(const QRect& r)
    {
        geo = r;
        dock->moveFinished();
        finish();
    }
};

const QRect kLeftDock(10, 300, 400, 600);
const QRect kTopDock(500, 10, 400, 600);
const QRect kRightDock(1510, 300, 400, 600);

QRect dockRectFor(int edge)
{
    return edge == EdgeDock::Left ? kLeftDock : edge == EdgeDock::Top ? kTopDock : kRightDock;
}

} // namespace

class TestEdgeDock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dockDecision_data()
    {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<int>("revealPx");
        QTest::addColumn<int>("edge");
        QTest::addColumn<QRect>("hidden");

        // Hidden: k pixels stay visible on the left and top, k + 1 columns on the right.
        QTest::newRow("top at 20") << QRect(500, 20, 400, 600) << 4 << 2 << QRect(500, 4 - 600, 400, 600);
        QTest::newRow("top at 21") << QRect(500, 21, 400, 600) << 4 << 0 << QRect(500, 21, 400, 600);
        QTest::newRow("above the top") << QRect(500, -50, 400, 600) << 4 << 2 << QRect(500, 4 - 600, 400, 600);
        QTest::newRow("left at 20") << QRect(20, 300, 400, 600) << 4 << 1 << QRect(4 - 400, 300, 400, 600);
        QTest::newRow("left at 21") << QRect(21, 300, 400, 600) << 4 << 0 << QRect(21, 300, 400, 600);
        QTest::newRow("right at 20") << QRect(1500, 300, 400, 600) << 4 << 3 << QRect(1915, 300, 400, 600);
        QTest::newRow("right at 21") << QRect(1499, 300, 400, 600) << 4 << 0 << QRect(1499, 300, 400, 600);
        QTest::newRow("top wins over left") << QRect(0, 20, 400, 600) << 4 << 2 << QRect(0, 4 - 600, 400, 600);
        QTest::newRow("left with 0 px vanishes") << QRect(10, 300, 400, 600) << 0 << 1 << QRect(-400, 300, 400, 600);
        QTest::newRow("top with 0 px vanishes") << QRect(500, 0, 400, 600) << 0 << 2 << QRect(500, -600, 400, 600);
        QTest::newRow("right with 0 px keeps a column")
            << QRect(1510, 300, 400, 600) << 0 << 3 << QRect(1919, 300, 400, 600);
        QTest::newRow("strip capped at 24 px") << QRect(10, 300, 400, 600) << 30 << 1 << QRect(24 - 400, 300, 400, 600);
    }
    void dockDecision()
    {
        QFETCH(QRect, window);
        QFETCH(int, revealPx);
        QFETCH(int, edge);
        QFETCH(QRect, hidden);
        Rig rig(true, revealPx);
        rig.dockAt(window);
        QCOMPARE(rig.dock->dockEdge(), edge);
        QCOMPARE(rig.geo, hidden);
        QCOMPARE(rig.dock->taskbarButtonVisible(), edge == 0);
        QVERIFY(rig.dock->isPollActive());
        QCOMPARE(rig.dock->pollInterval(), edge ? EdgeDock::kDockedPollMs : EdgeDock::kIdlePollMs);
        if (edge)
            QCOMPARE(rig.dock->dockRect(), window);
    }

    // A window manager may keep a window that moves itself mostly off screen partly in view: once in its
    // edge the window is shrunk to exactly the strip the setting leaves, which lies wholly on screen, and it
    // gets its size back before it comes out.
    void collapsesToItsStrip_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("revealPx");
        QTest::addColumn<QRect>("strip");
        QTest::newRow("left, 1 px") << 1 << 1 << QRect(0, 300, 1, 600);
        QTest::newRow("left, 4 px") << 1 << 4 << QRect(0, 300, 4, 600);
        QTest::newRow("left, 24 px") << 1 << 24 << QRect(0, 300, 24, 600);
        QTest::newRow("left, 0 px: a line beyond the edge") << 1 << 0 << QRect(-1, 300, 1, 600);
        QTest::newRow("top, 1 px") << 2 << 1 << QRect(500, 0, 400, 1);
        QTest::newRow("top, 0 px: a line beyond the edge") << 2 << 0 << QRect(500, -1, 400, 1);
        QTest::newRow("right, 1 px: two columns") << 3 << 1 << QRect(1918, 300, 2, 600);
        QTest::newRow("right, 0 px: one column") << 3 << 0 << QRect(1919, 300, 1, 600);
    }
    void collapsesToItsStrip()
    {
        QFETCH(int, edge);
        QFETCH(int, revealPx);
        QFETCH(QRect, strip);
        Rig rig(true, revealPx, 0, {kAvail}, true);
        rig.dockAt(dockRectFor(edge));
        QCOMPARE(rig.geo, strip);
        QVERIFY(rig.dock->isCollapsed());
        QCOMPARE(rig.collapseCalls, QList<bool>{true});
        QCOMPARE(rig.dock->windowSize(), QSize(400, 600));
        QCOMPARE(rig.dock->dockEdge(), edge); // the strip itself is not a move away from the edge
        rig.poll(kFar);
        QCOMPARE(rig.dock->dockEdge(), edge);

        // Into the strip: its own size first, then out flush with the edge.
        rig.poll(strip.center());
        QCOMPARE(rig.collapseCalls, (QList<bool>{true, false}));
        QCOMPARE(rig.geo.size(), QSize(400, 600));
        rig.finish();
        QCOMPARE(rig.geo.size(), QSize(400, 600));
        QVERIFY(!rig.dock->isCollapsed());
        QVERIFY(rig.dock->isRevealed());
        const QPoint flushCorner = edge == EdgeDock::Right ? rig.geo.topRight() : rig.geo.topLeft();
        QCOMPARE(edge == EdgeDock::Top ? flushCorner.y() : flushCorner.x(), edge == EdgeDock::Top    ? kAvail.top()
                                                                            : edge == EdgeDock::Left ? kAvail.left()
                                                                                                     : kAvail.right());

        // Away from it: back into the edge and down to the strip once there, not before.
        rig.poll(kFar);
        QVERIFY(!rig.dock->isCollapsed());
        rig.finish();
        QCOMPARE(rig.geo, strip);
        QCOMPARE(rig.collapseCalls, (QList<bool>{true, false, true}));

        // Undocked from the strip (docking switched off): its own size at its own place.
        rig.dock->undock(true);
        QVERIFY(!rig.dock->isCollapsed());
        rig.finish();
        QCOMPARE(rig.geo, dockRectFor(edge));
    }

    void noDockingWhenSwitchedOff()
    {
        Rig rig(false, 4, 0);
        QVERIFY(!rig.dock->isPollActive());
        rig.dockAt(QRect(0, 0, 400, 600));
        QCOMPARE(rig.dock->dockEdge(), 0);
        QCOMPARE(rig.geo, QRect(0, 0, 400, 600));
    }

    void pollTimer_data()
    {
        QTest::addColumn<bool>("edgeSnap");
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("active");
        QTest::newRow("off") << false << 0 << false;
        QTest::newRow("gesture only") << false << 1 << true;
        QTest::newRow("docking only") << true << 0 << true;
    }
    void pollTimer()
    {
        QFETCH(bool, edgeSnap);
        QFETCH(int, method);
        QFETCH(bool, active);
        Rig rig(edgeSnap, 4, method);
        QCOMPARE(rig.dock->isPollActive(), active);
        if (active)
            QCOMPARE(rig.dock->pollInterval(), EdgeDock::kIdlePollMs);
    }

    // A docked window dragged out of its edge undocks at the next poll: 20 px off stays docked.
    void undockDistance_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("distance");
        QTest::addColumn<bool>("staysDocked");
        for (int edge : {1, 2, 3}) {
            QTest::addRow("edge %d at 20", edge) << edge << 20 << true;
            QTest::addRow("edge %d at 21", edge) << edge << 21 << false;
        }
    }
    void undockDistance()
    {
        QFETCH(int, edge);
        QFETCH(int, distance);
        QFETCH(bool, staysDocked);
        Rig rig;
        rig.dockAt(dockRectFor(edge));
        QCOMPARE(rig.dock->dockEdge(), edge);
        QRect moved = rig.dock->dockRect();
        if (edge == EdgeDock::Left)
            moved.moveLeft(kAvail.left() + distance);
        else if (edge == EdgeDock::Top)
            moved.moveTop(kAvail.top() + distance);
        else
            moved.moveRight(kAvail.right() - distance);
        rig.geo = moved;
        rig.poll(QPoint(1000, 1000));
        QCOMPARE(rig.dock->dockEdge() != 0, staysDocked);
        QCOMPARE(rig.dock->taskbarButtonVisible(), !staysDocked);
        QCOMPARE(rig.dock->pollInterval(), staysDocked ? EdgeDock::kDockedPollMs : EdgeDock::kIdlePollMs);
    }

    void peekZone_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("revealPx");
        QTest::addColumn<QPoint>("cursor");
        QTest::addColumn<bool>("peeks");
        // Left: strip 8 px deep (x 0..7) plus 6 px, over the docked rectangle's rows 300..899 plus 6.
        QTest::newRow("left inner") << 1 << 4 << QPoint(13, 500) << true;
        QTest::newRow("left beyond") << 1 << 4 << QPoint(14, 500) << false;
        QTest::newRow("left lowest row") << 1 << 4 << QPoint(0, 905) << true;
        QTest::newRow("left below") << 1 << 4 << QPoint(0, 906) << false;
        QTest::newRow("left highest row") << 1 << 4 << QPoint(0, 294) << true;
        QTest::newRow("left above") << 1 << 4 << QPoint(0, 293) << false;
        QTest::newRow("0 px still 8 deep") << 1 << 0 << QPoint(13, 500) << true;
        QTest::newRow("20 px: 22 deep") << 1 << 20 << QPoint(27, 500) << true;
        QTest::newRow("20 px: beyond") << 1 << 20 << QPoint(28, 500) << false;
        QTest::newRow("over 24 px: 26 deep") << 1 << 30 << QPoint(31, 500) << true;
        QTest::newRow("over 24 px: beyond") << 1 << 30 << QPoint(32, 500) << false;
        QTest::newRow("top inner") << 2 << 4 << QPoint(700, 13) << true;
        QTest::newRow("top beyond") << 2 << 4 << QPoint(700, 14) << false;
        QTest::newRow("top leftmost") << 2 << 4 << QPoint(494, 0) << true;
        QTest::newRow("top left of it") << 2 << 4 << QPoint(493, 0) << false;
        QTest::newRow("right inner") << 3 << 4 << QPoint(1906, 500) << true;
        QTest::newRow("right beyond") << 3 << 4 << QPoint(1905, 500) << false;
    }
    void peekZone()
    {
        QFETCH(int, edge);
        QFETCH(int, revealPx);
        QFETCH(QPoint, cursor);
        QFETCH(bool, peeks);
        Rig rig(true, revealPx);
        rig.dockAt(dockRectFor(edge));
        const QRect hidden = rig.geo;
        rig.poll(cursor);
        rig.finish();
        QCOMPARE(rig.dock->isRevealed(), peeks);
        QVERIFY(!rig.dock->isSummoned());
        QCOMPARE(rig.dock->taskbarButtonVisible(), peeks);
        QCOMPARE(rig.topmost, peeks);
        QRect flush = dockRectFor(edge);
        if (edge == EdgeDock::Left)
            flush.moveLeft(kAvail.left());
        else if (edge == EdgeDock::Top)
            flush.moveTop(kAvail.top());
        else
            flush.moveRight(kAvail.right());
        QCOMPARE(rig.geo, peeks ? flush : hidden);
    }

    // A peeked window stays out while the cursor is on it or within 2 px, while a button is held or a
    // modal dialog is open; otherwise it goes back into its edge and loses its taskbar button again.
    void peekedWindowHides_data()
    {
        QTest::addColumn<QPoint>("cursor");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<bool>("modal");
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<bool>("staysOut");
        QTest::newRow("inside") << QPoint(200, 500) << 0 << false << false << true;
        QTest::newRow("2 px right of it") << QPoint(401, 500) << 0 << false << false << true;
        QTest::newRow("3 px right of it") << QPoint(402, 500) << 0 << false << false << false;
        QTest::newRow("2 px below it") << QPoint(200, 901) << 0 << false << false << true;
        QTest::newRow("far") << kFar << 0 << false << false << false;
        QTest::newRow("far, left button held") << kFar << int(Qt::LeftButton) << false << false << true;
        QTest::newRow("far, right button held") << kFar << int(Qt::RightButton) << false << false << true;
        QTest::newRow("far, modal dialog") << kFar << 0 << true << false << true;
        QTest::newRow("far, pinned") << kFar << 0 << false << true << false;
    }
    void peekedWindowHides()
    {
        QFETCH(QPoint, cursor);
        QFETCH(int, buttons);
        QFETCH(bool, modal);
        QFETCH(bool, pinned);
        QFETCH(bool, staysOut);
        Rig rig;
        rig.dockAt(kLeftDock);
        const QRect hidden = rig.geo;
        rig.poll(QPoint(3, 500));
        rig.finish();
        QCOMPARE(rig.geo, QRect(0, 300, 400, 600));
        rig.modal = modal;
        rig.pinned = pinned;
        rig.poll(cursor, Qt::MouseButtons(buttons));
        rig.finish();
        QCOMPARE(rig.dock->isRevealed(), staysOut);
        QCOMPARE(rig.geo, staysOut ? QRect(0, 300, 400, 600) : hidden);
        QCOMPARE(rig.dock->taskbarButtonVisible(), staysOut);
        QCOMPARE(rig.topmost, staysOut || pinned);
        QCOMPARE(rig.taskbarCalls, staysOut ? (QList<bool>{false, true}) : (QList<bool>{false, true, false}));
        if (!staysOut) {
            // Back at the edge strip it peeks again.
            rig.modal = false;
            rig.poll(QPoint(3, 500));
            QVERIFY(rig.dock->isRevealed());
        }
    }

    // The poll sees a sequence of button states (t in ms since the first poll; "-" none, M middle, R right)
    // with the cursor away from the strip; the summon must happen at the given poll (-1: never).
    void gestures_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("summonAt");
        QTest::newRow("none configured") << 0 << "0:M 80:- 160:M 600:M" << -1;
        QTest::newRow("press") << 1 << "0:- 80:M" << 1;
        QTest::newRow("press, right ignored") << 1 << "0:R 80:R" << -1;
        QTest::newRow("double 349 apart") << 2 << "0:M 80:- 349:M" << 2;
        QTest::newRow("double 350 apart") << 2 << "0:M 80:- 350:M" << -1;
        QTest::newRow("350 apart starts a new pair") << 2 << "0:M 80:- 350:M 400:- 600:M" << 4;
        QTest::newRow("single press") << 2 << "0:M 80:- 160:-" << -1;
        QTest::newRow("held without release is one press") << 2 << "0:M 80:M 160:M" << -1;
        QTest::newRow("middle held 399") << 3 << "0:M 399:M" << -1;
        QTest::newRow("middle held 400") << 3 << "0:M 400:M" << 1;
        QTest::newRow("release restarts the hold") << 3 << "0:M 200:- 280:M 600:M 680:M" << 4;
        QTest::newRow("middle hold ignores right") << 3 << "0:R 500:R" << -1;
        QTest::newRow("right held 400") << 4 << "0:R 400:R" << 1;
        QTest::newRow("right held 399") << 4 << "0:R 399:R" << -1;
        QTest::newRow("right hold ignores middle") << 4 << "0:M 500:M" << -1;
    }
    void gestures()
    {
        QFETCH(int, method);
        QFETCH(QString, steps);
        QFETCH(int, summonAt);
        Rig rig(true, 4, method);
        rig.dockAt(kLeftDock);
        int summoned = -1;
        qint64 last = 0;
        const QStringList list = steps.split(' ');
        for (int i = 0; i < list.size(); ++i) {
            const QStringList parts = list[i].split(':');
            const qint64 t = parts[0].toLongLong();
            rig.clock.advance(t - last);
            last = t;
            Qt::MouseButtons b;
            if (parts[1].contains('M'))
                b |= Qt::MiddleButton;
            if (parts[1].contains('R'))
                b |= Qt::RightButton;
            rig.poll(kFar, b);
            if (summoned < 0 && rig.dock->isSummoned())
                summoned = i;
        }
        QCOMPARE(summoned, summonAt);
        if (summonAt < 0)
            return;
        // Summoned to the cursor, clamped so the whole window stays on the screen (600 high: y 440).
        rig.finish();
        QCOMPARE(rig.geo, QRect(1000, 440, 400, 600));
        QVERIFY(rig.dock->isRevealed());
        QVERIFY(rig.dock->taskbarButtonVisible());
        QVERIFY(rig.topmost);
    }

    // A summoned window stays out wherever the cursor goes, until it is hidden back into its edge.
    void summonedStaysOut()
    {
        Rig rig(true, 4, 1);
        rig.dockAt(kLeftDock);
        rig.poll(QPoint(1900, 1030), Qt::MiddleButton);
        rig.finish();
        QCOMPARE(rig.geo, QRect(1520, 440, 400, 600));
        rig.poll(QPoint(600, 100));
        rig.poll(QPoint(5, 100));
        QVERIFY(rig.dock->isRevealed());
        QVERIFY(rig.dock->isSummoned());

        rig.dock->snapToDockEdge();
        rig.finish();
        QVERIFY(!rig.dock->isRevealed());
        QVERIFY(!rig.dock->isSummoned());
        QVERIFY(!rig.dock->taskbarButtonVisible());
        QVERIFY(!rig.topmost);
        // Hidden at its edge, at the height it was summoned to.
        QCOMPARE(rig.geo, QRect(4 - 400, 440, 400, 600));
    }

    // A summoned window sent back into its edge is still docked while it moves there: the polls during its own
    // animation see it far from the edge, which is no drag of the user's. Wherever it was summoned to, it
    // arrives hidden, shrunk to its strip, without a taskbar button.
    void hiddenBackWhilePolled_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<QPoint>("summonAt");
        QTest::newRow("left, summoned far from the edge") << int(EdgeDock::Left) << QPoint(1900, 1030);
        QTest::newRow("left, summoned near the edge") << int(EdgeDock::Left) << QPoint(300, 500);
        QTest::newRow("top, summoned low") << int(EdgeDock::Top) << QPoint(900, 1000);
        QTest::newRow("right, summoned far from the edge") << int(EdgeDock::Right) << QPoint(100, 500);
    }
    void hiddenBackWhilePolled()
    {
        QFETCH(int, edge);
        QFETCH(QPoint, summonAt);
        Rig rig(true, 1, 1, {kAvail}, true);
        rig.dockAt(dockRectFor(edge));
        QCOMPARE(rig.dock->dockEdge(), edge);
        rig.poll(summonAt, Qt::MiddleButton);
        rig.finish();
        QVERIFY(rig.dock->isSummoned());
        rig.poll(summonAt); // the button let go

        rig.dock->snapToDockEdge();
        for (int t = 0; t < EdgeDock::kAnimationMs; t += EdgeDock::kDockedPollMs / 2) {
            rig.clock.advance(EdgeDock::kDockedPollMs / 2);
            rig.dock->advanceAnimation();
            rig.poll(kFar);
        }
        rig.finish();
        QCOMPARE(rig.dock->dockEdge(), edge);
        QVERIFY(!rig.dock->isRevealed());
        QVERIFY(rig.dock->isCollapsed());
        QVERIFY(!rig.dock->taskbarButtonVisible());
        QCOMPARE(rig.collapseCalls.value(rig.collapseCalls.size() - 1), true);
    }

    // Without docking the gesture pulls the visible window to the cursor, on every poll while a hold lasts.
    void undockedGesture_data()
    {
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("modal");
        QTest::addColumn<bool>("leftHeld");
        QTest::addColumn<bool>("moves");
        QTest::newRow("visible") << true << false << false << false << true;
        QTest::newRow("minimised") << true << true << false << false << true;
        QTest::newRow("hidden in the tray") << false << false << false << false << false;
        QTest::newRow("modal dialog") << true << false << true << false << false;
        QTest::newRow("left button held") << true << false << false << true << false;
    }
    void undockedGesture()
    {
        QFETCH(bool, visible);
        QFETCH(bool, minimized);
        QFETCH(bool, modal);
        QFETCH(bool, leftHeld);
        QFETCH(bool, moves);
        Rig rig(false, 4, 3);
        rig.visible = visible;
        rig.minimized = minimized;
        rig.modal = modal;
        const QRect start = rig.geo;
        const Qt::MouseButtons b = Qt::MiddleButton | (leftHeld ? Qt::LeftButton : Qt::NoButton);
        rig.poll(QPoint(100, 100), b);
        rig.clock.advance(400);
        rig.poll(QPoint(100, 100), b);
        rig.finish();
        QCOMPARE(rig.geo, moves ? QRect(100, 100, 400, 600) : start);
        QCOMPARE(rig.unminimized, moves && minimized ? 1 : 0);
        QCOMPARE(rig.activations, moves ? 1 : 0);
        if (!moves)
            return;
        rig.clock.advance(80);
        rig.poll(QPoint(300, 200), b);
        rig.finish();
        QCOMPARE(rig.geo, QRect(300, 200, 400, 600));
    }

    void animation()
    {
        Rig rig(false, 4, 0);
        const QRect from = rig.geo;
        const QRect to(0, 300, 400, 600);
        rig.dock->animateGeometry(to);
        QVERIFY(rig.dock->isAnimating());
        rig.dock->advanceAnimation();
        QCOMPARE(rig.geo, from);
        rig.clock.advance(210);
        rig.dock->advanceAnimation();
        const qreal p = QEasingCurve(QEasingCurve::OutQuart).valueForProgress(0.5);
        QCOMPARE(rig.geo.left(), 800 + qRound(-800 * p));
        rig.clock.advance(209);
        rig.dock->advanceAnimation();
        QVERIFY(rig.dock->isAnimating());
        rig.clock.advance(1);
        rig.dock->advanceAnimation();
        QCOMPARE(rig.geo, to);
        QVERIFY(!rig.dock->isAnimating());

        // A new target replaces the running animation and starts from where the window is now.
        rig.dock->animateGeometry(from);
        rig.clock.advance(210);
        rig.dock->advanceAnimation();
        const QRect midway = rig.geo;
        rig.dock->animateGeometry(to);
        rig.dock->advanceAnimation();
        QCOMPARE(rig.geo, midway);
        rig.finish();
        QCOMPARE(rig.geo, to);

        // The current geometry as target: set at once, nothing runs.
        rig.dock->animateGeometry(to);
        QVERIFY(!rig.dock->isAnimating());
        QCOMPARE(rig.geo, to);
    }

    void hotkeySummonsDockedWindow()
    {
        Rig rig;
        QVERIFY(!rig.dock->summonDocked());
        rig.dockAt(kRightDock);
        QVERIFY(rig.dock->summonDocked());
        rig.finish();
        QCOMPARE(rig.geo, QRect(1520, 300, 400, 600));
        QVERIFY(rig.dock->isRevealed());
        QVERIFY(rig.dock->isSummoned());
        QVERIFY(rig.dock->taskbarButtonVisible());
        QVERIFY(rig.topmost);
        QCOMPARE(rig.activations, 1);
        rig.poll(kFar);
        QVERIFY(rig.dock->isRevealed());
    }

    // A peeked or summoned window that leaves its edge (dragged off and let go, or undocked) is above others
    // again only when pinned.
    void leavingTheEdgeRestoresPin_data()
    {
        QTest::addColumn<bool>("summon"); // else a peek
        QTest::addColumn<bool>("letGo");  // let go away from the edge, else undocked
        QTest::addColumn<bool>("pinned");
        for (bool summon : {false, true})
            for (bool letGo : {false, true})
                for (bool pinned : {false, true})
                    QTest::addRow("%s, %s%s", summon ? "summon" : "peek", letGo ? "let go" : "undocked",
                                  pinned ? ", pinned" : "")
                        << summon << letGo << pinned;
    }
    void leavingTheEdgeRestoresPin()
    {
        QFETCH(bool, summon);
        QFETCH(bool, letGo);
        QFETCH(bool, pinned);
        Rig rig;
        rig.pinned = pinned;
        rig.dockAt(kLeftDock);
        if (summon)
            QVERIFY(rig.dock->summonDocked());
        else
            rig.poll(QPoint(0, 500));
        rig.finish();
        QVERIFY(rig.dock->isRevealed());
        QVERIFY(rig.topmost);
        rig.geo.moveTopLeft(QPoint(700, 300));
        if (letGo)
            rig.dock->moveFinished();
        else
            rig.dock->undock();
        QCOMPARE(rig.dock->dockEdge(), 0);
        QCOMPARE(rig.topmost, pinned);
    }

    void undockReturnsToDockRect()
    {
        Rig rig;
        rig.dockAt(kLeftDock);
        rig.dock->undock(true);
        rig.finish();
        QCOMPARE(rig.dock->dockEdge(), 0);
        QCOMPARE(rig.geo, kLeftDock);
        QVERIFY(rig.dock->taskbarButtonVisible());
        QCOMPARE(rig.dock->pollInterval(), EdgeDock::kIdlePollMs);
    }

    void fitToScreen_data()
    {
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QRect>("expected");
        const QRect second(1920, 0, 1280, 1024);
        QTest::newRow("inside stays") << QList<QRect>{kAvail} << QRect(100, 100, 400, 600) << QRect(100, 100, 400, 600);
        QTest::newRow("too tall shrinks and centres")
            << QList<QRect>{kAvail} << QRect(100, 100, 400, 1200) << QRect(760, 0, 400, 1040);
        QTest::newRow("left on a screen that went away")
            << QList<QRect>{kAvail} << QRect(2500, 100, 400, 600) << QRect(760, 220, 400, 600);
        QRect centred(0, 0, 400, 600);
        centred.moveCenter(second.center());
        QTest::newRow("straddling: the screen of its centre")
            << QList<QRect>{kAvail, second} << QRect(1800, 100, 400, 600) << centred;
        QTest::newRow("no screens: untouched")
            << QList<QRect>{} << QRect(5000, 5000, 400, 600) << QRect(5000, 5000, 400, 600);
    }
    void fitToScreen()
    {
        QFETCH(QList<QRect>, screens);
        QFETCH(QRect, window);
        QFETCH(QRect, expected);
        Rig rig(true, 4, 0, screens);
        rig.geo = window;
        rig.dock->fitToScreen();
        QCOMPARE(rig.geo, expected);
    }

    // A docked window is meant to lie mostly off screen: it stays docked while its screen is there and is
    // brought back onto a remaining screen when that screen goes.
    void fitToScreenWhileDocked()
    {
        const QRect second(1920, 0, 1280, 1024);
        Rig rig(true, 4, 0, {kAvail, second});
        rig.dockAt(QRect(2790, 300, 400, 600)); // right edge of the second screen
        QCOMPARE(rig.dock->dockEdge(), int(EdgeDock::Right));
        const QRect hidden = rig.geo;
        rig.dock->fitToScreen();
        rig.finish();
        QCOMPARE(rig.dock->dockEdge(), int(EdgeDock::Right));
        QCOMPARE(rig.geo, hidden);

        rig.dock->setScreens({kAvail});
        rig.dock->fitToScreen();
        QCOMPARE(rig.dock->dockEdge(), 0);
        QVERIFY(kAvail.contains(rig.geo));
        QVERIFY(rig.dock->taskbarButtonVisible());
    }
};

KTR_TEST_MAIN(TestEdgeDock)
#include "tst_edgedock.moc"
