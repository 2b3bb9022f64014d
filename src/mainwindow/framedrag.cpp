#include "mainwindow/framedrag.h"

#include "platform/pointerstate.h"
#include "platform/windowhints.h"

#include <QTimer>
#include <QWindow>

namespace {

constexpr int kBorder = 6;       // x <= 6 or x >= w - 6 is a side border
constexpr int kTopBorder = 7;    // y < 7 is the top border
constexpr int kTitleHeight = 29; // below the title strip everything is content
constexpr int kReleasePollMs = 30;

} // namespace

FrameHit frameHitTest(const QPoint& p, const QSize& size, bool landscape, bool childUnderPoint)
{
    const int x = p.x();
    const int y = p.y();
    const int w = size.width();
    const int h = size.height();
    if (landscape) {
        const bool left = x <= kBorder;
        const bool right = x >= w - kBorder;
        const bool top = y < kTopBorder;
        const bool bottom = y >= h - kBorder;
        if (left && top)
            return FrameHit::TopLeft;
        if (right && top)
            return FrameHit::TopRight;
        if (left && bottom)
            return FrameHit::BottomLeft;
        if (right && bottom)
            return FrameHit::BottomRight;
        if (left)
            return FrameHit::Left;
        if (right)
            return FrameHit::Right;
    }
    if (y < kTopBorder)
        return FrameHit::Top;
    if (y >= h - kBorder)
        return FrameHit::Bottom;
    if (y >= kTitleHeight || childUnderPoint)
        return FrameHit::Client;
    return FrameHit::Caption;
}

FrameDrag::FrameDrag(ktr::platform::PointerState* pointer, QObject* parent)
    : QObject(parent), m_pointer(pointer), m_timer(new QTimer(this))
{
    m_timer->setInterval(kReleasePollMs);
    connect(m_timer, &QTimer::timeout, this, &FrameDrag::checkRelease);
    setSystemCalls({}, {});
}

void FrameDrag::setSystemCalls(Starter starter, Canceller canceller)
{
    m_starter = starter ? std::move(starter) : Starter(&FrameDrag::startSystem);
    m_canceller = canceller ? std::move(canceller) : Canceller([](QWindow* w) { ktr::platform::cancelMoveResize(w); });
}

bool FrameDrag::startSystem(QWindow* window, FrameHit hit)
{
    switch (hit) {
    case FrameHit::Caption:
        return window->startSystemMove();
    case FrameHit::Left:
        return window->startSystemResize(Qt::LeftEdge);
    case FrameHit::Right:
        return window->startSystemResize(Qt::RightEdge);
    case FrameHit::Top:
        return window->startSystemResize(Qt::TopEdge);
    case FrameHit::Bottom:
        return window->startSystemResize(Qt::BottomEdge);
    case FrameHit::TopLeft:
        return window->startSystemResize(Qt::TopEdge | Qt::LeftEdge);
    case FrameHit::TopRight:
        return window->startSystemResize(Qt::TopEdge | Qt::RightEdge);
    case FrameHit::BottomLeft:
        return window->startSystemResize(Qt::BottomEdge | Qt::LeftEdge);
    case FrameHit::BottomRight:
        return window->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
    case FrameHit::Client:
        break;
    }
    return false;
}

bool FrameDrag::start(QWindow* window, FrameHit hit)
{
    if (!window || hit == FrameHit::Client)
        return false;
    // The press event comes after the fact: a tap (a touchpad, a synthetic click) is released by now.
    if (!m_pointer->query().buttons.testFlag(Qt::LeftButton))
        return false;
    if (!m_starter(window, hit))
        return false;
    m_window = window;
    m_startGeometry = window->frameGeometry();
    watchRelease();
    return true;
}
void FrameDrag::watchRelease()
{
    m_timer->start();
}

bool FrameDrag::isWatching() const
{
    return m_timer->isActive();
}

void FrameDrag::checkRelease()
{
    if (m_pointer->query().buttons.testFlag(Qt::LeftButton))
        return;
    m_timer->stop();
    // Released before the window moved or changed size at all: the window manager may have taken the move over after
    // the release and would now carry the window until the next click. Ending it costs nothing when it already ended; a
    // window that moved was followed with the button held and ends on its own.
    if (m_window && m_window->frameGeometry() == m_startGeometry && m_canceller)
        m_canceller(m_window);
    m_window = nullptr;
    Q_EMIT sizeMoveFinished();
}
