#include "platform/compositing.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <memory>

namespace ktr::platform {

namespace {

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace

CompositingWatch& CompositingWatch::instance()
{
    // Lives as long as the process: the filter stays installed while Qt delivers events.
    static auto* watch = new CompositingWatch;
    return *watch;
}

CompositingWatch::CompositingWatch()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || !x11->display())
        return;
    const int screenNumber = DefaultScreen(x11->display());
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);

    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return;
    const xcb_window_t root = it.data->root;

    const xcb_intern_atom_cookie_t atomCookie = xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData());
    const xcb_xfixes_query_version_cookie_t versionCookie = xcb_xfixes_query_version(c, 1, 0);
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(c, atomCookie, nullptr));
    Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(c, versionCookie, nullptr));
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return;

    const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(c, atom->atom);
    if (xfixes && xfixes->present && version) {
        xcb_xfixes_select_selection_input(c, root, atom->atom,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        m_xfixesFirstEvent = xfixes->first_event;
        QCoreApplication::instance()->installNativeEventFilter(this);
    } else {
        qWarning("[compositing] XFixes missing: a compositor started or ended later is not noticed");
    }
    Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(c, ownerCookie, nullptr));
    xcb_flush(c);
    m_selection = atom->atom;
    m_root = root;
    m_active = owner && owner->owner != XCB_WINDOW_NONE;
    qInfo("[compositing] %s: %s", name.constData(), m_active ? "compositor running" : "no compositor");
}

CompositingWatch::~CompositingWatch()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool CompositingWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_xfixesFirstEvent < 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != m_xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection == m_selection && notify->window == m_root)
        setActive(notify->owner != XCB_WINDOW_NONE &&
                  notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER);
    // Qt's clipboard listens to selection events too: the event goes on to it.
    return false;
}

void CompositingWatch::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    qInfo("[compositing] %s", active ? "compositor started" : "compositor ended");
    emit activeChanged(active);
}

} // namespace ktr::platform
