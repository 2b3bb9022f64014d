#include "platform/pointerstate.h"

#include <QCursor>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>

namespace ktr::platform {

namespace {

class QtPointerState final : public PointerState
{
public:
    PointerSnapshot query() const override { return {QCursor::pos(), QGuiApplication::mouseButtons()}; }
};

// Buttons come from xcb_query_pointer, which reports them whatever window is under the cursor. Without a
// scale factor its root position is Qt's logical position too, so one round trip answers both; with one,
// the position comes from QCursor::pos(), which converts device pixels into logical coordinates.
class X11PointerState final : public PointerState
{
public:
    PointerSnapshot query() const override
    {
        const bool scaled = qGuiApp && qGuiApp->devicePixelRatio() != 1.0;
        PointerSnapshot s{scaled ? QCursor::pos() : QPoint(), QGuiApplication::mouseButtons()};
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c) {
            s.pos = QCursor::pos();
            return s;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        if (!screen) {
            s.pos = QCursor::pos();
            return s;
        }
        xcb_query_pointer_reply_t* r = xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr);
        if (!r) {
            s.pos = QCursor::pos();
            return s;
        }
        if (!scaled)
            s.pos = QPoint(r->root_x, r->root_y);
        Qt::MouseButtons b;
        if (r->mask & XCB_KEY_BUT_MASK_BUTTON_1)
            b |= Qt::LeftButton;
        if (r->mask & XCB_KEY_BUT_MASK_BUTTON_2)
            b |= Qt::MiddleButton;
        if (r->mask & XCB_KEY_BUT_MASK_BUTTON_3)
            b |= Qt::RightButton;
        s.buttons = b;
        std::free(r);
        return s;
    }
};

} // namespace

PointerState* PointerState::system()
{
    static QtPointerState qtState;
    static X11PointerState x11State;
    if (qGuiApp && qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        return &x11State;
    return &qtState;
}

} // namespace ktr::platform
