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

// Buttons come from xcb_query_pointer, which reports them whatever window is under the cursor. The
// position still comes from QCursor::pos(), which asks the same server and already converts device
// pixels into Qt's logical coordinates when a scale factor is in effect.
class X11PointerState final : public PointerState
{
public:
    PointerSnapshot query() const override
    {
        PointerSnapshot s{QCursor::pos(), QGuiApplication::mouseButtons()};
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c)
            return s;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        if (!screen)
            return s;
        xcb_query_pointer_reply_t* r = xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr);
        if (!r)
            return s;
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
