#pragma once

#include <QList>
#include <QObject>
#include <QRect>

#include <functional>
#include <optional>

class QTimer;

namespace ktr::platform {
class Clock;
class InputActivity;
class PointerState;
struct PointerSnapshot;
struct RawInputEvent;
} // namespace ktr::platform

// Edge docking and auto-hide of the panel window. The window is reached only through the callbacks of
// Host, the pointer through PointerState and time through Clock, so the whole behaviour runs and is
// tested without a real window, mouse or waiting. Screens are plain lists of available rectangles.
//
// Docking: a move that ends within 20 px of the left, top or right edge slides the window into that
// edge, leaving snapRevealPx pixels visible, without a taskbar button. Once it is in, a host that can
// (Host::setCollapsed) shrinks the window to exactly that strip, which lies wholly on screen, so no window
// manager moves it back into view; it gets its size back the moment it comes out again. The window peeks out while the
// cursor touches the edge strip and hides again when the cursor leaves it; a configured mouse gesture summons it to the
// cursor instead, and then it stays out. Without docking the same gestures pull the visible window to the cursor.
//
// Where raw input of the whole desktop can be watched (useRawInput), the pointer's own motion and button
// events drive all of this, so a resting pointer costs nothing: button events are looked at at once, motion
// at most once per poll interval (80 ms while docked, 320 ms otherwise), and a hold gesture has a timer of
// its own. Elsewhere a cursor poll with the same intervals does the same work.
class EdgeDock : public QObject
{
    Q_OBJECT
public:
    enum Edge {
        NotDocked = 0,
        Left = 1,
        Top = 2,
        Right = 3,
    };

    struct Host
    {
        std::function<QRect()> geometry;               // the window's current frame rectangle
        std::function<void(const QRect&)> setGeometry; // move/resize now (also every animation frame)
        std::function<void(bool)> setTaskbarButtonVisible;
        std::function<void(bool)> setTopmost; // raise above others without activating, or drop that
        std::function<bool()> isPinned;       // the user's own "stay on top"
        std::function<bool()> modalOpen;
        std::function<bool()> isVisible;
        std::function<bool()> isMinimized;
        std::function<void()> unminimize;
        std::function<void()> activate; // show, raise and activate
        // Optional. Readies the window to be as small as the visible strip (on) or gives it back its own
        // limits (off); the dock sets the geometry itself afterwards. Without it a hidden window keeps its
        // size and lies mostly beyond the edge, which window managers that keep a client-moved window on
        // screen undo.
        std::function<void(bool)> setCollapsed;
    };

    static constexpr int kSnapDistance = 20;
    static constexpr int kDockedPollMs = 80;
    static constexpr int kIdlePollMs = 320;
    static constexpr int kAnimationMs = 420;
    static constexpr int kDoublePressMs = 350;
    static constexpr int kHoldMs = 400;

    EdgeDock(Host host, ktr::platform::PointerState* pointer, ktr::platform::Clock* clock, QObject* parent = nullptr);
    ~EdgeDock() override;

    // edgeSnap, snapRevealPx (0..24) and revealMethod (0 none, 1 middle press, 2 middle double press,
    // 3 middle held, 4 right held). Call updateDockPollTimer afterwards.
    void setSettings(bool edgeSnap, int snapRevealPx, int revealMethod);
    // Available geometries of the screens; primary indexes the list.
    void setScreens(const QList<QRect>& available, int primary = 0);

    int dockEdge() const { return m_dockEdge; }
    QRect dockRect() const { return m_dockRect; }
    bool isRevealed() const { return m_revealed; }
    bool isSummoned() const { return m_summoned; }
    bool taskbarButtonVisible() const { return m_taskbarVisible; }
    // Shrunk to the strip it shows at its edge (see Host::setCollapsed).
    bool isCollapsed() const { return m_collapsed; }
    // The window's own size: while it is shrunk to its strip, the size it has when it comes out.
    QSize windowSize() const;

    // The docking decision, when the user lets go of a window he moved.
    void moveFinished();
    void pollDockCursor();
    void snapToDockEdge();
    // The hotkey's summon of a docked window: pushed out flush with its edge, kept out, activated.
    // False (and nothing done) when the window is not docked.
    bool summonDocked();
    // Leaves the docked state (docking switched off, orientation switch, restore). With animateBack the
    // window returns to where it was docked from.
    void undock(bool animateBack = false);
    void updateDockPollTimer();
    // Drives the dock from the source's raw pointer events instead of the poll. False, and the poll stays,
    // when the source can't watch raw input here.
    bool useRawInput(ktr::platform::InputActivity* source);
    bool isEventDriven() const { return m_raw != nullptr; }
    // One raw event, on the GUI thread (the source's observer queues them here).
    void onRawEvent(const ktr::platform::RawInputEvent& event);
    // Whether raw motion is looked at now (docked, peeked or a button held); button events always are.
    bool wantsMotion() const;
    // The timer that evaluates a hold gesture when its time is up (event-driven only).
    QTimer* holdTimer() const { return m_holdTimer; }
    bool isPollActive() const;
    int pollInterval() const;
    // The poll timer itself, so the owner can stop it with its other timers.
    QTimer* pollTimer() const { return m_pollTimer; }
    // Stops the cursor poll and a running animation (the window is being taken down).
    void stop();

    bool revealGestureFired(bool middleDown, bool rightDown);

    void animateGeometry(const QRect& target);
    bool isAnimating() const { return m_anim.has_value(); }
    // One animation frame at the clock's current time; the frame timer calls it.
    void advanceAnimation();

    void setTaskbarButtonVisible(bool visible);

    // After screens changed: keeps the window's size within its screen and brings it back when it is not
    // inside it, so the panel never ends up off every screen.
    void fitToScreen();

    // The available geometry the docking works in: the screen of the docked rectangle while docked,
    // else the window's screen, else the primary, else 1920x1080 at the origin.
    QRect availableGeometry() const;

private:
    struct Animation
    {
        QRect from;
        QRect to;
        qint64 startMs = 0;
    };
    struct HoldClock
    {
        std::optional<qint64> startMs;
    };

    int screenIndexFor(const QRect& r) const;
    QRect availFor(const QRect& r) const;
    int revealPx() const;
    QRect clampedAtCursor(const QRect& r, const QPoint& cursor, const QRect& avail) const;
    QRect flushWithEdge(QRect r, const QRect& avail) const;
    QRect revealZone(const QRect& avail) const;
    void storeButtons(bool middle, bool right);
    bool elapsedMoreThan(const HoldClock& c, qint64 ms) const;
    void restorePinnedTopmost();
    // Slides into the edge at hidden (a rectangle mostly beyond it) and shrinks to the strip on arrival.
    void hideTo(const QRect& hidden);
    QRect stripOf(const QRect& hidden) const;
    void collapse();
    void expand();
    void evaluate(const ktr::platform::PointerSnapshot& ptr);
    void afterEvaluate();
    void evaluateRaw();
    class RawRelay;

    Host m_host;
    ktr::platform::PointerState* m_pointer;
    ktr::platform::Clock* m_clock;

    bool m_edgeSnap = true;
    int m_snapRevealPx = 4;
    int m_revealMethod = 0;
    QList<QRect> m_screens;
    int m_primary = 0;

    int m_dockEdge = NotDocked;
    QRect m_dockRect;
    bool m_revealed = false;
    bool m_summoned = false;
    bool m_inZone = false;
    bool m_prevMiddle = false;
    bool m_prevRight = false;
    bool m_doublePending = false;
    HoldClock m_doubleClock;
    HoldClock m_middleHold;
    HoldClock m_rightHold;
    bool m_taskbarVisible = true;
    bool m_raised = false; // above others for a peek or summon, not for pin

    QTimer* m_pollTimer;
    QTimer* m_frameTimer;
    // Event-driven mode.
    ktr::platform::InputActivity* m_rawSource = nullptr;
    RawRelay* m_raw = nullptr;
    Qt::MouseButtons m_rawButtons;
    QTimer* m_motionThrottle = nullptr;
    bool m_motionTrailing = false;
    QTimer* m_holdTimer = nullptr;
    std::optional<Animation> m_anim;
    bool m_collapseOnArrival = false;
    bool m_collapsed = false;
    QRect m_hiddenRect; // where the window lies while hidden, at its own size
};
