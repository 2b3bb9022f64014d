// The window's state on a plain frameless window: nothing before setup, pinning, the frame hit test that
// follows the orientation, restoring and summoning, docking as the settings say, refitting when a screen
// changes.
#include "mainwindow/edgedock.h"
#include "mainwindow/framedrag.h"
#include "mainwindow/windowstatecontroller.h"
#include "testenv.h"
#include "ui/appsettings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest/QtTest>

namespace {

QRect avail()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

struct Rig
{
    QWidget window;
    QWidget* child; // a button-sized widget in the content
    AppSettings settings;
    bool landscape = true;
    QStringList toasts;
    WindowStateController state{
        {&window, &settings, [this] { return landscape; }, [this](const QString& text, int) { toasts.append(text); }}};

    Rig() : child(new QWidget(&window))
    {
        window.setWindowFlags(Qt::FramelessWindowHint);
        window.resize(680, 496);
        child->setGeometry(100, 100, 50, 50);
    }
    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
};

} // namespace

Q_DECLARE_METATYPE(FrameHit)

class TestWindowStateController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The window connects screen changes before the dock exists: until setup they change nothing.
    void beforeSetupNothingIsDocked()
    {
        Rig rig;
        QVERIFY(rig.show());
        QVERIFY(!rig.state.edgeDock());
        QVERIFY(!rig.state.frameDrag());
        QVERIFY(!rig.state.summonHotkey());
        QSignalSpy fitted(&rig.state, &WindowStateController::screenFitted);
        rig.window.move(avail().right() + 500, avail().top());
        rig.state.fitToScreen();
        rig.state.applyDockSettings();
        rig.state.snapToDockEdge();
        QCOMPARE(fitted.size(), 0);
        QCOMPARE(rig.window.x(), avail().right() + 500);
        QVERIFY(!rig.state.dockRevealedAndSummoned());
        QVERIFY(!rig.state.startFrameDrag(rig.window.mapToGlobal(QPoint(2, 2)), false));
    }

    void pinning()
    {
        Rig rig;
        QVERIFY(rig.show());
        QSignalSpy changed(&rig.state, &WindowStateController::pinnedChanged);
        QVERIFY(!rig.state.isPinned());
        rig.state.setPinned(true);
        QVERIFY(rig.state.isPinned());
        rig.state.restoreWindow(); // a restore keeps the pin
        QVERIFY(rig.state.isPinned());
        rig.state.setPinned(false);
        QVERIFY(!rig.state.isPinned());
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed.at(0).at(0).toBool(), true);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
    }

    // Points from the top left; negative ones count from the right or bottom.
    void frameHit_data()
    {
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<FrameHit>("hit");
        QTest::newRow("landscape right edge") << true << QPoint(-2, 200) << FrameHit::Right;
        QTest::newRow("portrait right edge") << false << QPoint(-2, 200) << FrameHit::Client;
        QTest::newRow("landscape top left") << true << QPoint(3, 3) << FrameHit::TopLeft;
        QTest::newRow("portrait top left") << false << QPoint(3, 3) << FrameHit::Top;
        QTest::newRow("free title strip") << true << QPoint(300, 12) << FrameHit::Caption;
        QTest::newRow("child in the content") << true << QPoint(120, 120) << FrameHit::Client;
        QTest::newRow("beside the child") << true << QPoint(160, 120) << FrameHit::Client;
    }
    void frameHit()
    {
        QFETCH(bool, landscape);
        QFETCH(QPoint, at);
        QFETCH(FrameHit, hit);
        Rig rig;
        rig.landscape = landscape;
        const QPoint p(at.x() < 0 ? rig.window.width() + at.x() : at.x(),
                       at.y() < 0 ? rig.window.height() + at.y() : at.y());
        QCOMPARE(rig.state.frameHitAt(p), hit);
    }

    // Both bring the window back; a restore also centres it, a summon of a minimised window only lifts it.
    void restoreAndSummon_data()
    {
        QTest::addColumn<bool>("summon");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("centred");
        QTest::newRow("restore hidden") << false << true << true;
        QTest::newRow("restore minimised") << false << false << true;
        QTest::newRow("summon hidden") << true << true << true;
        QTest::newRow("summon minimised") << true << false << false;
    }
    void restoreAndSummon()
    {
        QFETCH(bool, summon);
        QFETCH(bool, hidden);
        QFETCH(bool, centred);
        Rig rig;
        rig.state.setup();
        QVERIFY(rig.show());
        const QPoint away = avail().topLeft() + QPoint(60, 60);
        rig.window.move(away);
        rig.window.showMinimized();
        if (hidden)
            rig.window.hide();
        if (summon)
            rig.state.summonWindow();
        else
            rig.state.restoreWindow();
        QVERIFY(rig.window.isVisible());
        QVERIFY(!rig.window.isMinimized());
        if (centred)
            QCOMPARE(rig.window.geometry().center(), avail().center());
        else
            QCOMPARE(rig.window.pos(), away);
        QCOMPARE(rig.window.size(), QSize(680, 496));
    }

    // A move that ends at the top edge docks the window; a summon brings it out, the close button's path
    // sends it back; docking switched off undocks it.
    void dockingFollowsTheSettings()
    {
        Rig rig;
        rig.settings.edgeSnap = true;
        rig.state.setup();
        rig.state.applyDockSettings();
        QVERIFY(rig.show());
        EdgeDock* dock = rig.state.edgeDock();
        rig.window.move(avail().left() + 60, avail().top() + 5);
        Q_EMIT rig.state.frameDrag()->sizeMoveFinished();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::Top));
        QVERIFY(!rig.state.dockRevealedAndSummoned());
        rig.state.summonWindow();
        QVERIFY(rig.state.dockRevealedAndSummoned());
        rig.state.snapToDockEdge();
        QVERIFY(!rig.state.dockRevealedAndSummoned());
        QCOMPARE(dock->dockEdge(), int(EdgeDock::Top));

        rig.settings.edgeSnap = false;
        rig.state.applyDockSettings();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::NotDocked));
        rig.window.move(avail().left() + 60, avail().top() + 5);
        Q_EMIT rig.state.frameDrag()->sizeMoveFinished();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::NotDocked));
    }

    // A screen's work area changing brings a window lying outside it back, and tells the owner once.
    void aScreenChangeRefitsTheWindow()
    {
        Rig rig;
        rig.state.setup();
        QVERIFY(rig.show());
        QSignalSpy fitted(&rig.state, &WindowStateController::screenFitted);
        rig.window.move(avail().right() + 500, avail().bottom() + 500);
        QScreen* screen = QGuiApplication::primaryScreen();
        Q_EMIT screen->availableGeometryChanged(screen->availableGeometry());
        QVERIFY(avail().contains(rig.window.geometry()));
        QCOMPARE(fitted.size(), 1);
    }
};

KTR_TEST_MAIN(TestWindowStateController)
#include "tst_windowstatecontroller.moc"
