#pragma once

#include <QObject>
#include <QPoint>
#include <QSize>

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

    // Call from the mouse press. False for Client hits and when the platform can't move the window
    // itself (no window manager support, offscreen).
    bool start(QWindow* window, FrameHit hit);
    // Watches the pointer until the left button is up, then emits sizeMoveFinished.
    void watchRelease();
    bool isWatching() const;

Q_SIGNALS:
    void sizeMoveFinished();

private:
    void checkRelease();

    ktr::platform::PointerState* m_pointer;
    QTimer* m_timer;
};
