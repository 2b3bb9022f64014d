#include "platform/windowhints.h"

#include <QGuiApplication>
#include <QVariant>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

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

// An atom asked for now and taken later, so several questions share one round trip.
xcb_intern_atom_cookie_t askAtom(xcb_connection_t* c, const char* name)
{
    return xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name);
}

xcb_atom_t atomFrom(xcb_connection_t* c, xcb_intern_atom_cookie_t request)
{
    Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, request, nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The atoms of a window's _NET_WM_STATE, from the answer to a request for it.
QList<xcb_atom_t> stateAtoms(xcb_connection_t* c, xcb_get_property_cookie_t request)
{
    QList<xcb_atom_t> atoms;
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, request, nullptr));
    if (r && r->format == 32 && r->type == XCB_ATOM_ATOM) {
        const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get()));
        const int n = xcb_get_property_value_length(r.get()) / int(sizeof(xcb_atom_t));
        for (int i = 0; i < n; ++i)
            atoms.append(data[i]);
    }
    return atoms;
}

xcb_get_property_cookie_t askStateAtoms(xcb_connection_t* c, xcb_window_t window, xcb_atom_t netWmState)
{
    return xcb_get_property(c, 0, window, netWmState, XCB_ATOM_ATOM, 0, 64);
}

bool changeState(QWindow* window, const char* name, bool on)
{
    xcb_connection_t* c = x11Connection();
    if (!c || !window)
        return false;
    const auto win = xcb_window_t(window->winId());
    // Every question goes out before the first answer is awaited: the server is asked in two turns instead
    // of one turn per question (these calls sit on the start's path).
    const xcb_intern_atom_cookie_t stateCookie = askAtom(c, "_NET_WM_STATE");
    const xcb_intern_atom_cookie_t hintCookie = askAtom(c, name);
    const xcb_intern_atom_cookie_t checkCookie = askAtom(c, "_NET_SUPPORTING_WM_CHECK");
    const xcb_query_tree_cookie_t treeCookie = xcb_query_tree(c, win);
    const xcb_get_window_attributes_cookie_t attributesCookie = xcb_get_window_attributes(c, win);
    const xcb_atom_t netWmState = atomFrom(c, stateCookie);
    const xcb_atom_t hint = atomFrom(c, hintCookie);
    const xcb_atom_t check = atomFrom(c, checkCookie);
    xcb_window_t root = XCB_WINDOW_NONE;
    {
        Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, treeCookie, nullptr));
        if (r) {
            root = r->root;
        } else {
            const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
            root = screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
        }
    }
    bool mapped = false;
    {
        Reply<xcb_get_window_attributes_reply_t> r(xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
        mapped = r && r->map_state != XCB_MAP_STATE_UNMAPPED;
    }
    if (netWmState == XCB_ATOM_NONE || hint == XCB_ATOM_NONE || root == XCB_WINDOW_NONE)
        return false;

    // A compliant window manager announces itself with _NET_SUPPORTING_WM_CHECK on the root window.
    std::optional<xcb_get_property_cookie_t> wmCookie;
    if (check != XCB_ATOM_NONE)
        wmCookie = xcb_get_property(c, 0, root, check, XCB_ATOM_WINDOW, 0, 1);
    const xcb_get_property_cookie_t atomsCookie = askStateAtoms(c, win, netWmState);
    bool wm = false;
    if (wmCookie) {
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, *wmCookie, nullptr));
        wm = r && r->format == 32 && xcb_get_property_value_length(r.get()) >= 4;
    }
    QList<xcb_atom_t> atoms = stateAtoms(c, atomsCookie);

    if (!wm || !mapped) {
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

QList<xcb_atom_t> atomList(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property)
{
    return stateAtoms(c, xcb_get_property(c, 0, window, property, XCB_ATOM_ATOM, 0, 64));
}

QStringList atomNames(xcb_connection_t* c, const QList<xcb_atom_t>& atoms)
{
    QStringList names;
    for (xcb_atom_t a : atoms) {
        Reply<xcb_get_atom_name_reply_t> r(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, a), nullptr));
        if (r)
            names.append(QString::fromLatin1(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get())));
    }
    return names;
}

// Motif hints as the window manager reads them: flags, functions, decorations, input mode, status.
constexpr uint32_t kMwmHintsFunctions = 1;
constexpr uint32_t kMwmFuncAll = 1;

// A window that leaves its functions to the window manager (no functions flag, as Qt writes a frameless
// window's hints) says so outright: every function, decorations as they were.
void nameAllFunctions(xcb_connection_t* c, xcb_window_t window)
{
    const xcb_atom_t motif = atomFrom(c, askAtom(c, "_MOTIF_WM_HINTS"));
    if (motif == XCB_ATOM_NONE)
        return;
    uint32_t hints[5] = {0, 0, 0, 0, 0};
    {
        Reply<xcb_get_property_reply_t> r(
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, motif, motif, 0, 5), nullptr));
        if (r && r->format == 32) {
            const int n = std::min(5, xcb_get_property_value_length(r.get()) / 4);
            const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
            for (int i = 0; i < n; ++i)
                hints[i] = data[i];
        }
    }
    if (hints[0] & kMwmHintsFunctions)
        return;
    hints[0] |= kMwmHintsFunctions;
    hints[1] = kMwmFuncAll;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, motif, motif, 32, 5, hints);
}

const char* const kTypesBeforeDock = "ktrTypesBeforeDock";
const char* const kStatesBeforeDock = "ktrStatesBeforeDock";

} // namespace

bool setDockType(QWindow* window, bool dock)
{
    xcb_connection_t* c = x11Connection();
    if (!c || !window)
        return false;
    const auto win = xcb_window_t(window->winId());
    const xcb_atom_t typeProperty = atomFrom(c, askAtom(c, "_NET_WM_WINDOW_TYPE"));
    const xcb_atom_t stateProperty = atomFrom(c, askAtom(c, "_NET_WM_STATE"));
    if (typeProperty == XCB_ATOM_NONE || stateProperty == XCB_ATOM_NONE)
        return false;
    QList<xcb_atom_t> types;
    if (dock) {
        if (!window->property(kTypesBeforeDock).isValid()) {
            const QList<xcb_atom_t> before = atomList(c, win, typeProperty);
            QVariantList saved;
            for (xcb_atom_t a : before)
                saved.append(uint(a));
            window->setProperty(kTypesBeforeDock, saved);
            window->setProperty(kStatesBeforeDock, atomNames(c, atomList(c, win, stateProperty)));
        }
        nameAllFunctions(c, win);
        types.append(atomFrom(c, askAtom(c, "_NET_WM_WINDOW_TYPE_DOCK")));
    } else {
        const QVariant saved = window->property(kTypesBeforeDock);
        if (!saved.isValid())
            return true; // never made a dock
        for (const QVariant& v : saved.toList())
            types.append(xcb_atom_t(v.toUInt()));
        if (types.isEmpty())
            types.append(atomFrom(c, askAtom(c, "_NET_WM_WINDOW_TYPE_NORMAL")));
        window->setProperty(kTypesBeforeDock, QVariant());
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, typeProperty, XCB_ATOM_ATOM, 32, uint32_t(types.size()),
                        types.constData());
    xcb_flush(c);
    if (!dock) {
        // What the window manager gave the dock and the window did not have before goes again.
        const QStringList before = window->property(kStatesBeforeDock).toStringList();
        window->setProperty(kStatesBeforeDock, QVariant());
        for (const char* name : {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_PAGER"}) {
            if (!before.contains(QLatin1String(name)))
                changeState(window, name, false);
        }
    }
    return true;
}

QStringList windowTypes(QWindow* window)
{
    xcb_connection_t* c = x11Connection();
    if (!c || !window)
        return {};
    const xcb_atom_t typeProperty = atomFrom(c, askAtom(c, "_NET_WM_WINDOW_TYPE"));
    return atomNames(c, atomList(c, xcb_window_t(window->winId()), typeProperty));
}

bool cancelMoveResize(QWindow* window)
{
    xcb_connection_t* c = x11Connection();
    if (!c || !window)
        return false;
    const xcb_atom_t moveResize = atomFrom(c, askAtom(c, "_NET_WM_MOVERESIZE"));
    const xcb_setup_t* setup = xcb_get_setup(c);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (moveResize == XCB_ATOM_NONE || !screens.rem)
        return false;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = xcb_window_t(window->winId());
    ev.type = moveResize;
    ev.data.data32[2] = 11; // _NET_WM_MOVERESIZE_CANCEL
    ev.data.data32[4] = 1;  // a normal application asks
    xcb_send_event(c, 0, screens.data->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
    return true;
}

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
    const xcb_atom_t netWmState = atomFrom(c, askAtom(c, "_NET_WM_STATE"));
    const QList<xcb_atom_t> atoms = stateAtoms(c, askStateAtoms(c, xcb_window_t(window->winId()), netWmState));
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
