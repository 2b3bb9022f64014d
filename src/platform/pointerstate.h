#pragma once

#include <QPoint>
#include <Qt>

namespace ktr::platform {

// Where the pointer is and which buttons are down, anywhere on the desktop, not only over our own
// windows. Edge docking polls this so its gestures work while the cursor is over other programs.
struct PointerSnapshot
{
    QPoint pos; // global logical coordinates
    Qt::MouseButtons buttons;
};

class PointerState
{
public:
    virtual ~PointerState() = default;
    virtual PointerSnapshot query() const = 0;

    // The real pointer: the X server's state when the application runs on X11, otherwise Qt's own
    // cursor position and button state (which only sees buttons pressed over our windows).
    static PointerState* system();
};

} // namespace ktr::platform
