#include "mainwindow/framedrag.h"

#include "platform/pointerstate.h"

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
}

bool FrameDrag::start(QWindow* window, FrameHit hit)
{
    if (!window || hit == FrameHit::Client)
        return false;
    bool ok = false;
    switch (hit) {
    case FrameHit::Caption:
        ok = window->startSystemMove();
        break;
    case FrameHit::Left:
        ok = window->startSystemResize(Qt::LeftEdge);
        break;
    case FrameHit::Right:
        ok = window->startSystemResize(Qt::RightEdge);
        break;
    case FrameHit::Top:
        ok = window->startSystemResize(Qt::TopEdge);
        break;
    case FrameHit::Bottom:
        ok = window->startSystemResize(Qt::BottomEdge);
        break;
    case FrameHit::TopLeft:
        ok = window->startSystemResize(Qt::TopEdge | Qt::LeftEdge);
        break;
    case FrameHit::TopRight:
        ok = window->startSystemResize(Qt::TopEdge | Qt::RightEdge);
        break;
    case FrameHit::BottomLeft:
        ok = window->startSystemResize(Qt::BottomEdge | Qt::LeftEdge);
        break;
    case FrameHit::BottomRight:
        ok = window->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
        break;
    case FrameHit::Client:
        break;
    }
    if (ok)
        watchRelease();
    return ok;
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
    Q_EMIT sizeMoveFinished();
}
