// The docked strip under real window managers. Several of them keep a window that moves itself mostly off
// screen partly in view (openbox leaves a tenth of it, icewm does not let it go at all, xfwm4 keeps some 15
// to 30 px of every window it constrains on screen, however thin the window is): the panel docked with
// "1 px showing" must still leave exactly its strip on screen, as the server places it, at every edge, and
// come out whole when the pointer touches the strip. The test starts each window manager on its display in
// turn and stops it afterwards.
#include "mainwindow/edgedock.h"
#include "mainwindow/framedrag.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/windowstatecontroller.h"
#include "platform/windowhints.h"
#include "testenv.h"
#include "windowfixture.h"
#include "windowmanager.h"
#include "x11tools.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QtTest/QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

using namespace ktr::test;

namespace {

xcb_connection_t* connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow()
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection())).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

// Where the server has the window now, in root coordinates: what the screen really shows of it, whatever
// the toolkit believes.
QRect serverGeometry(WId id)
{
    xcb_connection_t* c = connection();
    const auto win = xcb_window_t(id);
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, win), nullptr);
    xcb_translate_coordinates_reply_t* t =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, win, rootWindow(), 0, 0), nullptr);
    QRect r;
    if (g && t)
        r = QRect(t->dst_x, t->dst_y, g->width, g->height);
    std::free(g);
    std::free(t);
    return r;
}

// Moves the pointer to p as a mouse does: xdotool's absolute move warps the pointer, which the raw input
// the dock watches does not see; a relative move is motion.
bool pointerTo(const QPoint& p)
{
    const QPoint d = p - QCursor::pos();
    return xdotool({"mousemove_relative", "--", QString::number(d.x()), QString::number(d.y())}) &&
           QTest::qWaitFor([&] { return QCursor::pos() == p; }, 3000);
}

QRect screenRect()
{
    return QGuiApplication::primaryScreen()->geometry();
}

} // namespace

class TestEdgeDockWmX11 : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowManager> m_wm;

private Q_SLOTS:
    void cleanupTestCase()
    {
        m_wm.reset();
        // Later tests on this display start without one.
        QVERIFY(!windowManagerRuns());
    }

    void initTestCase()
    {
        if (const char* why = missingX11Input())
            QSKIP(why);
        if (windowManagerRuns())
            QSKIP("another window manager already runs on this display");
    }

    void stripStaysExact_data()
    {
        QTest::addColumn<QString>("wm");
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("revealPx");
        for (const char* wm : {"openbox", "icewm", "xfwm4", "fluxbox"}) {
            QTest::addRow("%s, left, 1 px", wm) << QString::fromLatin1(wm) << int(EdgeDock::Left) << 1;
            QTest::addRow("%s, top, 1 px", wm) << QString::fromLatin1(wm) << int(EdgeDock::Top) << 1;
            QTest::addRow("%s, right, 1 px", wm) << QString::fromLatin1(wm) << int(EdgeDock::Right) << 1;
            QTest::addRow("%s, left, 4 px", wm) << QString::fromLatin1(wm) << int(EdgeDock::Left) << 4;
            QTest::addRow("%s, top, 4 px", wm) << QString::fromLatin1(wm) << int(EdgeDock::Top) << 4;
            QTest::addRow("%s, right, 4 px", wm) << QString::fromLatin1(wm) << int(EdgeDock::Right) << 4;
        }
    }
    void stripStaysExact()
    {
        QFETCH(QString, wm);
        QFETCH(int, edge);
        QFETCH(int, revealPx);
        if (QStandardPaths::findExecutable(wm).isEmpty())
            QSKIP("the window manager is not installed (scripts/deps.sh installs it)");
        if (!m_wm || m_wm->name() != wm) {
            m_wm.reset();
            QVERIFY(!windowManagerRuns());
            m_wm = std::make_unique<WindowManager>(wm);
            QVERIFY2(m_wm->ready(), qPrintable(wm + " could not be started"));
        }

        auto w = shownWindow();
        QVERIFY(w);
        w->settings().edgeSnap = true;
        w->settings().snapRevealPx = revealPx;
        w->settings().revealMethod = 0;
        w->applySettings();
        EdgeDock* dock = w->windowStateController()->edgeDock();
        QTRY_VERIFY(serverGeometry(w->winId()).isValid());
        const QSize own = w->size();
        const QStringList types = ktr::platform::windowTypes(w->windowHandle());
        const QRect screen = screenRect();
        const QRect area = dock->availableGeometry();
        QVERIFY(pointerTo(area.center()));

        // Let go of the window near the edge, as after a drag.
        QPoint near = area.center() - QPoint(own.width() / 2, own.height() / 2);
        if (edge == EdgeDock::Left)
            near.setX(area.left() + 10);
        else if (edge == EdgeDock::Top)
            near.setY(area.top() + 10);
        else
            near.setX(area.right() - own.width() - 5);
        w->move(near);
        // Fluxbox may still place a window it has just mapped after the first move (18 px lower): asked again,
        // it is where it was let go.
        if (!QTest::qWaitFor([&] { return serverGeometry(w->winId()).topLeft() == near; }, 2000))
            w->move(near);
        QTRY_COMPARE(serverGeometry(w->winId()).topLeft(), near);
        Q_EMIT w->windowStateController()->frameDrag()->sizeMoveFinished();
        QCOMPARE(dock->dockEdge(), edge);
        QTRY_VERIFY(!dock->isAnimating());

        // What the screen shows of the window: exactly the strip, at the edge.
        const int columns = edge == EdgeDock::Right ? revealPx + 1 : revealPx;
        QRect strip;
        if (edge == EdgeDock::Left)
            strip = QRect(area.left(), near.y(), columns, own.height());
        else if (edge == EdgeDock::Top)
            strip = QRect(near.x(), area.top(), own.width(), columns);
        else
            strip = QRect(area.right() - columns + 1, near.y(), columns, own.height());
        QTRY_COMPARE_WITH_TIMEOUT(serverGeometry(w->winId()).intersected(screen), strip, 3000);
        QCOMPARE(dock->windowSize(), own);

        // The pointer on the strip: out whole, flush with the edge.
        QVERIFY(pointerTo(strip.center()));
        QTRY_VERIFY(dock->isRevealed());
        QTRY_VERIFY(!dock->isAnimating());
        QRect out(near, own);
        if (edge == EdgeDock::Left)
            out.moveLeft(area.left());
        else if (edge == EdgeDock::Top)
            out.moveTop(area.top());
        else
            out.moveRight(area.right());
        QTRY_COMPARE_WITH_TIMEOUT(serverGeometry(w->winId()), out, 3000);

        // Away from it, to the far side of the screen: back to the strip.
        QPoint away = area.center();
        if (edge == EdgeDock::Left)
            away.setX(area.right() - 10);
        else if (edge == EdgeDock::Top)
            away.setY(area.bottom() - 10);
        else
            away.setX(area.left() + 10);
        QVERIFY(pointerTo(away));
        QTRY_VERIFY(!dock->isRevealed());
        QTRY_VERIFY(!dock->isAnimating());
        QTRY_COMPARE_WITH_TIMEOUT(serverGeometry(w->winId()).intersected(screen), strip, 3000);
        QCOMPARE(w->size(), strip.size());

        // Restored: its own size again, in the middle of the screen.
        w->restoreWindow();
        QTRY_COMPARE(serverGeometry(w->winId()).size(), own);
        QTRY_COMPARE(w->size(), own); // Qt learns it from the window manager's notice, which may come later
        // A normal window again, with nothing of what the window manager gave the dock.
        QCOMPARE(ktr::platform::windowTypes(w->windowHandle()), types);
        QTRY_VERIFY(!ktr::platform::windowStateHints(w->windowHandle()).contains(u"_NET_WM_STATE_STICKY"_qs));
        QVERIFY(!ktr::platform::windowStateHints(w->windowHandle()).contains(u"_NET_WM_STATE_SKIP_PAGER"_qs));
    }
};

KTR_TEST_MAIN(TestEdgeDockWmX11)
#include "tst_edgedockwmx11.moc"
