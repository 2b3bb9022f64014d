// The docked strip and the reveal gestures on a real X server, driven by the pointer's raw events: no
// cursor poll runs, and a resting pointer leaves the dock without a running timer.
#include "mainwindow/edgedock.h"
#include "platform/clock.h"
#include "platform/inputactivity.h"
#include "platform/pointerstate.h"
#include "testenv.h"
#include "x11tools.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QtTest/QtTest>

#include <memory>

namespace {

// A window that only records what the dock asks of it; the pointer, time and raw input are the real ones.
struct X11Rig
{
    QRect geo;
    std::unique_ptr<EdgeDock> dock;
    int activations = 0;

    explicit X11Rig(int method)
    {
        EdgeDock::Host h;
        h.geometry = [this] { return geo; };
        h.setGeometry = [this](const QRect& r) { geo = r; };
        h.setTaskbarButtonVisible = [](bool) {};
        h.setTopmost = [](bool) {};
        h.isPinned = [] { return false; };
        h.modalOpen = [] { return false; };
        h.isVisible = [] { return true; };
        h.isMinimized = [] { return false; };
        h.unminimize = [] {};
        h.activate = [this] { ++activations; };
        dock = std::make_unique<EdgeDock>(h, ktr::platform::PointerState::system(), ktr::platform::Clock::system());
        dock->setSettings(true, 4, method);
        dock->setScreens({QGuiApplication::primaryScreen()->availableGeometry()});
    }

    QRect avail() const { return dock->availableGeometry(); }

    // Docked at the left edge and hidden there, with the pointer resting far from the strip.
    bool dockLeft()
    {
        if (!ktr::test::xdotool({QStringLiteral("mousemove"), QStringLiteral("700"), QStringLiteral("500")}))
            return false;
        geo = QRect(avail().left() + 10, avail().top() + 100, 400, 500);
        dock->moveFinished();
        return QTest::qWaitFor([this] { return !dock->isAnimating(); }, 3000) && dock->dockEdge() == EdgeDock::Left;
    }

    // Nothing left that could wake the dock: every timer it owns is stopped.
    bool restsWithoutTimers() const
    {
        const QList<QTimer*> timers = dock->findChildren<QTimer*>();
        return std::none_of(timers.cbegin(), timers.cend(), [](const QTimer* t) { return t->isActive(); });
    }
};

bool moveBy(int dx, int dy)
{
    return ktr::test::xdotool(
        {QStringLiteral("mousemove_relative"), QStringLiteral("--"), QString::number(dx), QString::number(dy)});
}

bool button(const char* action, int number)
{
    return ktr::test::xdotool({QString::fromLatin1(action), QString::number(number)});
}

} // namespace

class TestEdgeDockX11 : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (const char* why = ktr::test::missingX11Input())
            QSKIP(why);
    }

    void strip_peeksAndHidesOnPointerMotion()
    {
        X11Rig rig(0);
        QVERIFY(rig.dock->useRawInput(ktr::platform::InputActivity::system()));
        QVERIFY(rig.dockLeft());
        QVERIFY(!rig.dock->isPollActive());
        QTRY_VERIFY(rig.restsWithoutTimers());

        // Into the strip: the window comes out flush with the edge.
        QVERIFY(moveBy(-695, 0));
        QTRY_VERIFY(rig.dock->isRevealed());
        QTRY_VERIFY(!rig.dock->isAnimating());
        QCOMPARE(rig.geo.left(), rig.avail().left());
        QVERIFY(!rig.dock->isSummoned());

        // Out of the window (and 2 px beyond it): back into the edge, then nothing runs.
        QVERIFY(moveBy(rig.geo.width() + 300, 0));
        QTRY_VERIFY(!rig.dock->isRevealed());
        QTRY_VERIFY(!rig.dock->isAnimating());
        QCOMPARE(rig.geo.right(), rig.avail().left() + 4 - 1);
        QTRY_VERIFY(rig.restsWithoutTimers());
        QVERIFY(!rig.dock->isPollActive());
    }

    void gestures_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("docked");
        QTest::newRow("middle held, docked") << 3 << true;
        QTest::newRow("right held, docked") << 4 << true;
        QTest::newRow("middle double press, docked") << 2 << true;
        QTest::newRow("middle press, undocked") << 1 << false;
        QTest::newRow("middle held, undocked") << 3 << false;
    }

    // A gesture away from the strip summons the window to the pointer; a hold counts from the press and fires
    // after 400 ms although the pointer does not move meanwhile.
    void gestures()
    {
        QFETCH(int, method);
        QFETCH(bool, docked);
        X11Rig rig(method);
        QVERIFY(rig.dock->useRawInput(ktr::platform::InputActivity::system()));
        if (docked) {
            QVERIFY(rig.dockLeft());
        } else {
            rig.dock->updateDockPollTimer();
            rig.geo = QRect(rig.avail().left() + 100, rig.avail().top() + 100, 400, 300);
            QVERIFY(ktr::test::xdotool({QStringLiteral("mousemove"), QStringLiteral("700"), QStringLiteral("500")}));
        }
        QTRY_VERIFY(rig.restsWithoutTimers());
        const int held = method == 4 ? 3 : 2;
        const auto summoned = [&] { return docked ? rig.dock->isSummoned() : rig.activations > 0; };
        QElapsedTimer since;
        since.start();
        if (method == 2) {
            QVERIFY(ktr::test::xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                                        QStringLiteral("--delay"), QStringLiteral("120"), QStringLiteral("2")}));
        } else {
            QVERIFY(button("mousedown", held));
        }
        QTRY_VERIFY_WITH_TIMEOUT(summoned(), 3000);
        if (method >= 3)
            QVERIFY2(since.elapsed() >= EdgeDock::kHoldMs, qPrintable(QString::number(since.elapsed())));
        if (method != 2)
            QVERIFY(button("mouseup", held));
        QTRY_VERIFY(!rig.dock->isAnimating());
        const QPoint cursor = ktr::platform::PointerState::system()->query().pos;
        QCOMPARE(rig.geo.topLeft(), cursor);
        QTRY_VERIFY(rig.restsWithoutTimers());
    }

    // Without raw input the dock polls as before, so nothing changes where XInput2 is missing.
    void noRawInput_keepsThePoll()
    {
        X11Rig rig(1);
        QVERIFY(!rig.dock->useRawInput(nullptr));
        rig.dock->updateDockPollTimer();
        QVERIFY(rig.dock->isPollActive());
        QCOMPARE(rig.dock->pollInterval(), EdgeDock::kIdlePollMs);
    }
};

KTR_TEST_MAIN(TestEdgeDockX11)
#include "tst_edgedockx11.moc"
