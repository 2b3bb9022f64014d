#include "platform/windowhints.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace ktr::platform {

namespace {

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    Reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t rootOf(xcb_connection_t* c, xcb_window_t window)
{
    Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (r)
        return r->root;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

// A compliant window manager announces itself with _NET_SUPPORTING_WM_CHECK on the root window.
bool windowManagerRuns(xcb_connection_t* c, xcb_window_t root)
{
    const xcb_atom_t check = internAtom(c, "_NET_SUPPORTING_WM_CHECK");
    if (check == XCB_ATOM_NONE)
        return false;
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, check, XCB_ATOM_WINDOW, 0, 1), nullptr));
    return r && r->format == 32 && xcb_get_property_value_length(r.get()) >= 4;
}

bool isMapped(xcb_connection_t* c, xcb_window_t window)
{
    Reply<xcb_get_window_attributes_reply_t> r(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return r && r->map_state != XCB_MAP_STATE_UNMAPPED;
}

QList<xcb_atom_t> stateAtoms(xcb_connection_t* c, xcb_window_t window, xcb_atom_t netWmState)
{
    QList<xcb_atom_t> atoms;
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, netWmState, XCB_ATOM_ATOM, 0, 64), nullptr));
    if (r && r->format == 32 && r->type == XCB_ATOM_ATOM) {
        const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get()));
        const int n = xcb_get_property_value_length(r.get()) / int(sizeof(xcb_atom_t));
        for (int i = 0; i < n; ++i)
            atoms.append(data[i]);
    }
    return atoms;
}

bool changeState(QWindow* window, const char* name, bool on)
{
    xcb_connection_t* c = x11Connection();
    if (!c || !window)
        return false;
    const auto win = xcb_window_t(window->winId());
    const xcb_atom_t netWmState = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t hint = internAtom(c, name);
    const xcb_window_t root = rootOf(c, win);
    if (netWmState == XCB_ATOM_NONE || hint == XCB_ATOM_NONE || root == XCB_WINDOW_NONE)
        return false;

    const bool wm = windowManagerRuns(c, root);
    const bool mapped = isMapped(c, win);
    if (!wm || !mapped) {
        QList<xcb_atom_t> atoms = stateAtoms(c, win, netWmState);
        const bool present = atoms.contains(hint);
        if (on && !present)
            atoms.append(hint);
        else if (!on && present)
            atoms.removeAll(hint);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, netWmState, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                            atoms.constData());
    }
    if (wm) {
        // A window just shown may still wait for the window manager to map it: tell it in both ways.
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = win;
        ev.type = netWmState;
        ev.data.data32[0] = on ? 1 : 0; // _NET_WM_STATE_ADD / _NET_WM_STATE_REMOVE
        ev.data.data32[1] = hint;
        ev.data.data32[2] = 0;
        ev.data.data32[3] = 1; // a normal application asks
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
    }
    xcb_flush(c);
    return true;
}

} // namespace

bool setKeepAbove(QWindow* window, bool on)
{
    return changeState(window, "_NET_WM_STATE_ABOVE", on);
}

bool setSkipTaskbar(QWindow* window, bool skip)
{
    return changeState(window, "_NET_WM_STATE_SKIP_TASKBAR", skip);
}

QStringList windowStateHints(QWindow* window)
{
    QStringList names;
    xcb_connection_t* c = x11Connection();
    if (!c || !window)
        return names;
    const xcb_atom_t netWmState = internAtom(c, "_NET_WM_STATE");
    const QList<xcb_atom_t> atoms = stateAtoms(c, xcb_window_t(window->winId()), netWmState);
    for (xcb_atom_t a : atoms) {
        Reply<xcb_get_atom_name_reply_t> r(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, a), nullptr));
        if (r)
            names.append(QString::fromLatin1(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get())));
    }
    return names;
}

void flushDisplay()
{
    if (xcb_connection_t* c = x11Connection())
        xcb_flush(c);
}

} // namespace ktr::platform
