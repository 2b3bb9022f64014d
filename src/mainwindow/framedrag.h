#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <functional>

class QTimer;
class QWindow;

namespace ktr::platform {
class PointerState;
}

// What a point of the frameless panel window does when pressed: resize by a border or corner, move by
// the free part of the title strip, or belong to the content.
enum class FrameHit {
    Client,
    Caption,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
};

// local: the point in window coordinates; size: the window's size. In landscape every border resizes;
// in portrait only the top and bottom ones. childUnderPoint: a widget (a button, the grid) lies under it.
FrameHit frameHitTest(const QPoint& local, const QSize& size, bool landscape, bool childUnderPoint);

// Hands a press on the frame to the window manager (move or resize) and reports when that drag is over,
// which is where edge docking is decided. The end is seen as the left button coming up: the window
// manager holds the pointer during the drag, so the window itself gets no release event.
class FrameDrag : public QObject
{
    Q_OBJECT
public:
    explicit FrameDrag(ktr::platform::PointerState* pointer, QObject* parent = nullptr);

    // Call from the mouse press. False for Client hits, for a press whose button is already up again (a
    // tap: the window manager would take the move over with no button held and glue the window to the
    // pointer until the next click) and when the platform can't move the window itself (no window manager
    // support, offscreen).
    bool start(QWindow* window, FrameHit hit);

    // What hands the drag to the window manager and what takes it back; the system's by default.
    using Starter = std::function<bool(QWindow*, FrameHit)>;
    using Canceller = std::function<void(QWindow*)>;
    void setSystemCalls(Starter starter, Canceller canceller);
    // Watches the pointer until the left button is up, then emits sizeMoveFinished.
    void watchRelease();
    bool isWatching() const;

Q_SIGNALS:
    void sizeMoveFinished();

private:
    static bool startSystem(QWindow* window, FrameHit hit);
    void checkRelease();

    ktr::platform::PointerState* m_pointer;
    QTimer* m_timer;
    Starter m_starter;
    Canceller m_canceller;
    QPointer<QWindow> m_window;
    QRect m_startGeometry;
};
