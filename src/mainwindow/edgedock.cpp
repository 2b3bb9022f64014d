#include "mainwindow/edgedock.h"

#include "platform/clock.h"
#include "platform/inputactivity.h"
#include "platform/pointerstate.h"

#include <QEasingCurve>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace {

constexpr int kFrameMs = 16;
// A peeked window stays out while the cursor is this close to it.
constexpr int kKeepOutMargin = 2;
// The reveal strip reaches this far beyond its own edges.
constexpr int kZoneMargin = 6;

QRect interpolate(const QRect& a, const QRect& b, qreal p)
{
    auto mix = [p](int x, int y) { return x + qRound((y - x) * p); };
    QRect r;
    r.setCoords(mix(a.left(), b.left()), mix(a.top(), b.top()), mix(a.right(), b.right()), mix(a.bottom(), b.bottom()));
    return r;
}

} // namespace

// Runs on the input thread: it drops what the dock has no use for there (keys, the wheel, motion while
// nothing follows the pointer) and hands the rest to the GUI thread, motion folded while one is queued.
class EdgeDock::RawRelay final : public ktr::platform::RawInputObserver
{
public:
    explicit RawRelay(EdgeDock* dock) : m_dock(dock) {}

    void rawInput(const ktr::platform::RawInputEvent& e) override
    {
        using Kind = ktr::platform::RawInputEvent::Kind;
        if (e.kind == Kind::KeyDown || e.kind == Kind::KeyUp)
            return;
        if (e.kind == Kind::Motion) {
            if (!wantMotion.load(std::memory_order_relaxed) || motionPending.exchange(true))
                return;
        } else if (e.detail < 1 || e.detail > 3) {
            return; // wheel steps and extra buttons are no gesture
        }
        EdgeDock* dock = m_dock;
        QMetaObject::invokeMethod(
            dock, [dock, e] { dock->onRawEvent(e); }, Qt::QueuedConnection);
    }

    std::atomic<bool> wantMotion{false};
    std::atomic<bool> motionPending{false};

private:
    EdgeDock* m_dock;
};

EdgeDock::EdgeDock(Host host, ktr::platform::PointerState* pointer, ktr::platform::Clock* clock, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_pointer(pointer), m_clock(clock), m_pollTimer(new QTimer(this)),
      m_frameTimer(new QTimer(this))
{
    m_pollTimer->setInterval(kIdlePollMs);
    connect(m_pollTimer, &QTimer::timeout, this, &EdgeDock::pollDockCursor);
    m_frameTimer->setObjectName(QStringLiteral("dockFrameTimer"));
    m_frameTimer->setInterval(kFrameMs);
    connect(m_frameTimer, &QTimer::timeout, this, &EdgeDock::advanceAnimation);
}

EdgeDock::~EdgeDock()
{
    stop();
}

bool EdgeDock::useRawInput(ktr::platform::InputActivity* source)
{
    if (m_raw || !source)
        return m_raw != nullptr;
    // install() tells whether raw input runs here; the observer alone keeps it running afterwards.
    const bool running = source->install();
    if (!running) {
        source->remove();
        return false;
    }
    auto* relay = new RawRelay(this);
    source->addObserver(relay);
    source->remove();
    m_raw = relay;
    m_rawSource = source;
    m_rawButtons = Qt::NoButton;
    m_motionThrottle = new QTimer(this);
    m_motionThrottle->setObjectName(QStringLiteral("dockMotionThrottle"));
    m_motionThrottle->setSingleShot(true);
    connect(m_motionThrottle, &QTimer::timeout, this, [this] {
        if (!m_motionTrailing)
            return;
        m_motionTrailing = false;
        evaluateRaw();
        m_motionThrottle->start(m_dockEdge != NotDocked ? kDockedPollMs : kIdlePollMs);
    });
    m_holdTimer = new QTimer(this);
    m_holdTimer->setObjectName(QStringLiteral("dockHoldTimer"));
    m_holdTimer->setSingleShot(true);
    m_holdTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire early, before the hold counts
    connect(m_holdTimer, &QTimer::timeout, this, [this] { evaluateRaw(); });
    m_pollTimer->stop();
    updateDockPollTimer();
    return true;
}

void EdgeDock::onRawEvent(const ktr::platform::RawInputEvent& e)
{
    if (!m_raw)
        return;
    if (e.kind == ktr::platform::RawInputEvent::Kind::Motion) {
        m_raw->motionPending.store(false);
        if (!wantsMotion())
            return;
        if (m_motionThrottle->isActive()) {
            m_motionTrailing = true;
            return;
        }
        evaluateRaw();
        m_motionThrottle->start(m_dockEdge != NotDocked ? kDockedPollMs : kIdlePollMs);
        return;
    }
    const Qt::MouseButton button = e.detail == 1 ? Qt::LeftButton : e.detail == 2 ? Qt::MiddleButton : Qt::RightButton;
    m_rawButtons.setFlag(button, e.kind == ktr::platform::RawInputEvent::Kind::ButtonDown);
    evaluateRaw();
}

// The buttons come from the events themselves: a quick click may be over before the server could be asked,
// and a press that is missed would miss a gesture.
void EdgeDock::evaluateRaw()
{
    ktr::platform::PointerSnapshot ptr = m_pointer->query();
    ptr.buttons = m_rawButtons;
    evaluate(ptr);
    afterEvaluate();
}

bool EdgeDock::wantsMotion() const
{
    if (!m_edgeSnap && m_revealMethod <= 0)
        return false;
    return m_dockEdge != NotDocked || m_revealed || m_rawButtons != Qt::NoButton;
}

void EdgeDock::afterEvaluate()
{
    if (!m_raw)
        return;
    m_raw->wantMotion.store(wantsMotion());
    // A hold gesture fires once its button has been down long enough, whether the pointer moves or not.
    std::optional<qint64> start;
    if (m_revealMethod == 3 && m_rawButtons.testFlag(Qt::MiddleButton))
        start = m_middleHold.startMs;
    else if (m_revealMethod == 4 && m_rawButtons.testFlag(Qt::RightButton))
        start = m_rightHold.startMs;
    if (start) {
        const qint64 remaining = kHoldMs - (m_clock->monotonicMs() - *start);
        if (remaining > 0) {
            m_holdTimer->start(int(remaining));
            return;
        }
    }
    m_holdTimer->stop();
}

void EdgeDock::setSettings(bool edgeSnap, int snapRevealPx, int revealMethod)
{
    m_edgeSnap = edgeSnap;
    m_snapRevealPx = snapRevealPx;
    m_revealMethod = revealMethod;
}

void EdgeDock::setScreens(const QList<QRect>& available, int primary)
{
    m_screens = available;
    m_primary = primary;
}

int EdgeDock::screenIndexFor(const QRect& r) const
{
    const QPoint c = r.center();
    for (int i = 0; i < m_screens.size(); ++i) {
        if (m_screens[i].contains(c))
            return i;
    }
    int best = -1;
    qint64 bestArea = 0;
    for (int i = 0; i < m_screens.size(); ++i) {
        const QRect x = m_screens[i].intersected(r);
        const qint64 area = qint64(x.width()) * x.height();
        if (!x.isEmpty() && area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    if (best >= 0)
        return best;
    if (m_primary >= 0 && m_primary < m_screens.size())
        return m_primary;
    return m_screens.isEmpty() ? -1 : 0;
}

QRect EdgeDock::availFor(const QRect& r) const
{
    const int i = screenIndexFor(r);
    return i >= 0 ? m_screens[i] : QRect(0, 0, 1920, 1080);
}

QRect EdgeDock::availableGeometry() const
{
    // A docked window lies mostly beyond its edge, where it may overlap the neighbouring screen; the
    // screen it was docked on is the one it belongs to.
    if (m_dockEdge != NotDocked && m_dockRect.isValid())
        return availFor(m_dockRect);
    return availFor(m_host.geometry());
}

int EdgeDock::revealPx() const
{
    return std::clamp(m_snapRevealPx, 0, 24);
}

QRect EdgeDock::clampedAtCursor(const QRect& r, const QPoint& cursor, const QRect& avail) const
{
    QRect t = r;
    t.moveTopLeft(cursor);
    const int x = std::max(avail.left(), std::min(t.left(), avail.right() - (t.width() - 1)));
    const int y = std::max(avail.top(), std::min(t.top(), avail.bottom() - (t.height() - 1)));
    t.moveTopLeft(QPoint(x, y));
    return t;
}

QRect EdgeDock::flushWithEdge(QRect r, const QRect& avail) const
{
    switch (m_dockEdge) {
    case Left:
        r.moveLeft(avail.left());
        break;
    case Top:
        r.moveTop(avail.top());
        break;
    case Right:
        r.moveRight(avail.right());
        break;
    default:
        break;
    }
    return r;
}

QRect EdgeDock::revealZone(const QRect& avail) const
{
    const int z = m_snapRevealPx > 24 ? 26 : std::max(8, m_snapRevealPx + 2);
    QRect zone;
    switch (m_dockEdge) {
    case Left:
        zone.setCoords(avail.left(), m_dockRect.top(), avail.left() + z - 1, m_dockRect.bottom());
        break;
    case Top:
        zone.setCoords(m_dockRect.left(), avail.top(), m_dockRect.right(), avail.top() + z - 1);
        break;
    case Right:
        zone.setCoords(avail.right() - z + 1, m_dockRect.top(), avail.right(), m_dockRect.bottom());
        break;
    default:
        return QRect();
    }
    return zone.adjusted(-kZoneMargin, -kZoneMargin, kZoneMargin, kZoneMargin);
}

void EdgeDock::storeButtons(bool middle, bool right)
{
    m_prevMiddle = middle;
    m_prevRight = right;
}

bool EdgeDock::elapsedMoreThan(const HoldClock& c, qint64 ms) const
{
    return c.startMs && m_clock->monotonicMs() - *c.startMs > ms;
}

bool EdgeDock::revealGestureFired(bool middle, bool right)
{
    const qint64 now = m_clock->monotonicMs();
    switch (m_revealMethod) {
    case 1:
        return middle && !m_prevMiddle;
    case 2: {
        if (!middle || m_prevMiddle)
            return false;
        bool fired = false;
        if (m_doubleClock.startMs && now - *m_doubleClock.startMs < kDoublePressMs && m_doublePending) {
            fired = true;
            m_doublePending = false;
        } else {
            m_doublePending = true;
        }
        m_doubleClock.startMs = now;
        return fired;
    }
    case 3:
        if (!middle)
            return false;
        if (!m_prevMiddle)
            m_middleHold.startMs = now;
        return elapsedMoreThan(m_middleHold, kHoldMs - 1);
    case 4:
        if (!right)
            return false;
        if (!m_prevRight)
            m_rightHold.startMs = now;
        return elapsedMoreThan(m_rightHold, kHoldMs - 1);
    default:
        return false;
    }
}

void EdgeDock::moveFinished()
{
    if (!m_edgeSnap)
        return;
    expand();
    const QRect win = m_host.geometry();
    const QRect avail = availFor(win);
    const int k = revealPx();
    QRect target = win;
    int edge = NotDocked;
    if (win.top() <= avail.top() + kSnapDistance) {
        edge = Top;
        target.moveBottom(avail.top() + k - 1);
    } else if (win.left() <= avail.left() + kSnapDistance) {
        edge = Left;
        target.moveRight(avail.left() + k - 1);
    } else if (win.right() >= avail.right() - kSnapDistance) {
        edge = Right;
        target.moveLeft(avail.right() - k);
    }
    if (edge == NotDocked) {
        m_revealed = false;
        m_summoned = false;
        m_dockEdge = NotDocked;
        updateDockPollTimer();
        setTaskbarButtonVisible(true);
        restorePinnedTopmost();
        return;
    }
    m_dockRect = win;
    m_dockEdge = edge;
    m_revealed = false;
    m_summoned = false;
    m_inZone = false;
    setTaskbarButtonVisible(false);
    hideTo(target);
    if (m_raw)
        updateDockPollTimer();
    else
        m_pollTimer->start(kDockedPollMs);
}

void EdgeDock::pollDockCursor()
{
    m_pollTimer->setInterval(m_dockEdge != NotDocked ? kDockedPollMs : kIdlePollMs);
    if (!m_edgeSnap && m_revealMethod <= 0)
        return;
    evaluate(m_pointer->query());
}

void EdgeDock::evaluate(const ktr::platform::PointerSnapshot& ptr)
{
    if (!m_edgeSnap && m_revealMethod <= 0)
        return;
    const bool middle = ptr.buttons.testFlag(Qt::MiddleButton);
    const bool right = ptr.buttons.testFlag(Qt::RightButton);
    const QRect win = m_host.geometry();
    const QRect avail = availableGeometry();

    if (m_revealed && !m_summoned) {
        storeButtons(middle, right);
        if (ptr.buttons != Qt::NoButton)
            return;
        const QRect keepOut = win.adjusted(-kKeepOutMargin, -kKeepOutMargin, kKeepOutMargin, kKeepOutMargin);
        if (m_host.modalOpen() || keepOut.contains(ptr.pos))
            return;
        m_inZone = false;
        if (m_dockEdge != NotDocked)
            snapToDockEdge();
        else
            updateDockPollTimer();
        return;
    }
    if (m_revealed && m_summoned) {
        storeButtons(middle, right);
        return;
    }

    if (m_dockEdge == NotDocked) {
        const bool fired = revealGestureFired(middle, right);
        storeButtons(middle, right);
        if (fired && !ptr.buttons.testFlag(Qt::LeftButton) && !m_host.modalOpen() && m_host.isVisible()) {
            if (m_host.isMinimized())
                m_host.unminimize();
            animateGeometry(clampedAtCursor(win, ptr.pos, avail));
            m_host.activate();
        }
        return;
    }

    // Away from its edge is where the window was put, not where our own animation has it at the moment: on
    // its way back from a summon it is still far from the edge for most of the move.
    const QRect placed = m_anim ? m_anim->to : win;
    bool away = false;
    switch (m_dockEdge) {
    case Left:
        away = placed.left() > avail.left() + kSnapDistance;
        break;
    case Top:
        away = placed.top() > avail.top() + kSnapDistance;
        break;
    case Right:
        away = placed.right() < avail.right() - kSnapDistance;
        break;
    default:
        away = true;
        break;
    }
    if (away) {
        m_inZone = false;
        m_dockEdge = NotDocked;
        setTaskbarButtonVisible(true);
        restorePinnedTopmost();
        updateDockPollTimer();
        return;
    }

    const bool wasInZone = m_inZone;
    m_inZone = revealZone(avail).contains(ptr.pos);
    const bool fired = revealGestureFired(middle, right);
    storeButtons(middle, right);
    QRect target;
    if (fired) {
        m_dockRect = clampedAtCursor(m_dockRect, ptr.pos, avail);
        target = m_dockRect;
        m_revealed = true;
        m_summoned = true;
    } else if (m_inZone && !wasInZone) {
        target = flushWithEdge(m_dockRect, avail);
        m_revealed = true;
        m_summoned = false;
    } else {
        return;
    }
    animateGeometry(target);
    m_doublePending = false;
    m_middleHold.startMs.reset();
    m_rightHold.startMs.reset();
    setTaskbarButtonVisible(true);
    m_host.setTopmost(true);
    m_raised = true;
}

void EdgeDock::snapToDockEdge()
{
    if (m_dockEdge == NotDocked || m_screens.isEmpty())
        return;
    const QRect avail = availableGeometry();
    QRect r = m_dockRect.isValid() ? m_dockRect : m_host.geometry();
    const int k = revealPx();
    switch (m_dockEdge) {
    case Left:
        r.moveLeft(avail.left() - r.width() + k);
        break;
    case Top:
        r.moveTop(avail.top() - r.height() + k);
        break;
    case Right:
        r.moveLeft(avail.right() - k);
        break;
    default:
        break;
    }
    m_revealed = false;
    m_summoned = false;
    m_inZone = false;
    m_doublePending = false;
    m_middleHold.startMs.reset();
    m_rightHold.startMs.reset();
    if (!m_host.isPinned())
        m_host.setTopmost(false);
    m_raised = false;
    setTaskbarButtonVisible(false);
    hideTo(r);
}

void EdgeDock::hideTo(const QRect& hidden)
{
    if (m_collapsed && hidden == m_hiddenRect) {
        collapse(); // the edge may have moved under it
        return;
    }
    animateGeometry(hidden); // out of its strip first, when it is in one
    m_hiddenRect = hidden;
    m_collapseOnArrival = true;
    if (!m_anim)
        collapse();
}

// What stays on screen of the hidden rectangle: the k columns (rows) inside a left (top) edge, the k + 1
// columns inside a right one. With nothing to show, one line just beyond the edge.
QRect EdgeDock::stripOf(const QRect& hidden) const
{
    const QRect avail = availFor(hidden);
    const int k = revealPx();
    switch (m_dockEdge) {
    case Left:
        return k > 0 ? QRect(avail.left(), hidden.top(), k, hidden.height())
                     : QRect(avail.left() - 1, hidden.top(), 1, hidden.height());
    case Top:
        return k > 0 ? QRect(hidden.left(), avail.top(), hidden.width(), k)
                     : QRect(hidden.left(), avail.top() - 1, hidden.width(), 1);
    case Right:
        return QRect(avail.right() - k, hidden.top(), k + 1, hidden.height());
    default:
        return hidden;
    }
}

void EdgeDock::collapse()
{
    m_collapseOnArrival = false;
    if (!m_host.setCollapsed || m_dockEdge == NotDocked || m_revealed)
        return;
    m_collapsed = true;
    m_host.setCollapsed(true);
    m_host.setGeometry(stripOf(m_hiddenRect));
}

// Back to its own size, still where it lies hidden: whatever moves it next starts from there.
void EdgeDock::expand()
{
    m_collapseOnArrival = false;
    if (!m_collapsed)
        return;
    m_collapsed = false;
    // Its size before its limits: a window smaller than its minimum would be grown where it stands.
    m_host.setGeometry(m_hiddenRect);
    m_host.setCollapsed(false);
}

QSize EdgeDock::windowSize() const
{
    return m_collapsed ? m_hiddenRect.size() : m_host.geometry().size();
}

bool EdgeDock::summonDocked()
{
    if (m_dockEdge == NotDocked)
        return false;
    const QRect avail = availableGeometry();
    QRect r = flushWithEdge(m_dockRect.isValid() ? m_dockRect : m_host.geometry(), avail);
    if (!r.isValid()) {
        r = QRect(QPoint(0, 0), avail.size() / 2);
        r.moveCenter(avail.center());
    }
    animateGeometry(r);
    m_revealed = true;
    m_summoned = true;
    setTaskbarButtonVisible(true);
    m_host.setTopmost(true);
    m_raised = true;
    m_host.activate();
    return true;
}

// A peek or summon raised the window above others for as long as it is out of its edge; once it is no
// longer docked it stays where pin says.
void EdgeDock::restorePinnedTopmost()
{
    if (!m_raised)
        return;
    m_raised = false;
    m_host.setTopmost(m_host.isPinned());
}

void EdgeDock::undock(bool animateBack)
{
    expand();
    const bool wasDocked = m_dockEdge != NotDocked;
    m_revealed = false;
    m_summoned = false;
    m_inZone = false;
    m_dockEdge = NotDocked;
    setTaskbarButtonVisible(true);
    restorePinnedTopmost();
    if (wasDocked && animateBack && m_dockRect.isValid())
        animateGeometry(m_dockRect);
    updateDockPollTimer();
}

void EdgeDock::updateDockPollTimer()
{
    if (m_raw) {
        m_pollTimer->stop();
        afterEvaluate();
        return;
    }
    if (m_edgeSnap || m_revealMethod > 0) {
        const int interval = m_dockEdge != NotDocked ? kDockedPollMs : kIdlePollMs;
        if (!m_pollTimer->isActive() || m_pollTimer->interval() != interval)
            m_pollTimer->start(interval);
    } else {
        m_pollTimer->stop();
    }
}

bool EdgeDock::isPollActive() const
{
    return m_pollTimer->isActive();
}

int EdgeDock::pollInterval() const
{
    return m_pollTimer->interval();
}

void EdgeDock::animateGeometry(const QRect& target)
{
    m_anim.reset();
    m_frameTimer->stop();
    expand();
    const QRect current = m_host.geometry();
    if (target == current) {
        m_host.setGeometry(target);
        return;
    }
    m_anim = Animation{current, target, m_clock->monotonicMs()};
    m_frameTimer->start();
}

void EdgeDock::advanceAnimation()
{
    if (!m_anim)
        return;
    const qint64 elapsed = m_clock->monotonicMs() - m_anim->startMs;
    if (elapsed >= kAnimationMs) {
        const QRect to = m_anim->to;
        m_anim.reset();
        m_frameTimer->stop();
        m_host.setGeometry(to);
        if (m_collapseOnArrival)
            collapse();
        return;
    }
    static const QEasingCurve curve(QEasingCurve::OutQuart);
    const qreal p = curve.valueForProgress(qreal(std::max<qint64>(elapsed, 0)) / kAnimationMs);
    m_host.setGeometry(interpolate(m_anim->from, m_anim->to, p));
}

void EdgeDock::setTaskbarButtonVisible(bool visible)
{
    if (visible == m_taskbarVisible)
        return;
    m_taskbarVisible = visible;
    m_host.setTaskbarButtonVisible(visible);
}

void EdgeDock::fitToScreen()
{
    if (m_screens.isEmpty())
        return;
    if (m_dockEdge != NotDocked && m_dockRect.isValid()) {
        // A docked window is meant to lie beyond its edge. While the screen it was docked on still holds
        // the docked rectangle it stays docked (hidden again at the edge, which may have moved); otherwise
        // it is undocked and fitted like any other window.
        const QPoint c = m_dockRect.center();
        const bool screenStays = std::any_of(m_screens.cbegin(), m_screens.cend(), [&](const QRect& s) {
            return s.contains(c) && s.width() >= m_dockRect.width() && s.height() >= m_dockRect.height();
        });
        if (screenStays) {
            if (!m_revealed)
                snapToDockEdge();
            return;
        }
        undock();
    }
    const QRect win = m_anim ? m_anim->to : m_host.geometry();
    const QRect avail = availFor(win);
    QRect r(win.topLeft(), QSize(std::min(win.width(), avail.width()), std::min(win.height(), avail.height())));
    if (!avail.contains(r))
        r.moveCenter(avail.center());
    m_anim.reset();
    m_frameTimer->stop();
    m_host.setGeometry(r);
}

void EdgeDock::stop()
{
    m_pollTimer->stop();
    m_frameTimer->stop();
    if (m_raw) {
        // Once removed no callback of the relay runs; events it queued die with this object.
        m_rawSource->removeObserver(m_raw);
        delete m_raw;
        m_raw = nullptr;
        m_rawSource = nullptr;
        m_motionThrottle->stop();
        m_holdTimer->stop();
    }
}
