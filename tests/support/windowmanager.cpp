#include "windowmanager.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>

namespace ktr::test {

namespace {

xcb_connection_t* connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

// Whether the window manager lists window among the clients it manages (EWMH _NET_CLIENT_LIST).
bool managed(xcb_window_t window)
{
    xcb_connection_t* c = connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return false;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen->root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 4096), nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        const int n = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i < n && !found; ++i)
            found = ids[i] == window;
    }
    std::free(reply);
    return found;
}

} // namespace

namespace {

// The window a property of type WINDOW on `window` names; none when it is not set or `window` is gone.
xcb_window_t windowProperty(xcb_connection_t* c, xcb_window_t window, const char* name)
{
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom(c, name), XCB_ATOM_WINDOW, 0, 1), nullptr);
    xcb_window_t value = XCB_WINDOW_NONE;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        value = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return value;
}

} // namespace

bool windowManagerRuns()
{
    xcb_connection_t* c = connection();
    if (!c)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom(c, "WM_S0")), nullptr);
    const bool runs = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    if (runs)
        return true;
    // Some (fluxbox) never take the selection: theirs is the EWMH check window, which names itself and
    // goes with its window manager (the root's property may outlive it).
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return false;
    const xcb_window_t check = windowProperty(c, screen->root, "_NET_SUPPORTING_WM_CHECK");
    return check != XCB_WINDOW_NONE && windowProperty(c, check, "_NET_SUPPORTING_WM_CHECK") == check;
}

WindowManager::WindowManager(const QString& program) : m_name(program)
{
    QStringList args;
    if (program == QLatin1String("openbox"))
        args << QStringLiteral("--sm-disable");
    if (program == QLatin1String("fluxbox") && m_config.isValid()) {
        // Its own settings: no toolbar taking part of the screen, and no wallpaper, whose setter opens a
        // message window of its own on a bare display.
        const QString overlay = m_config.filePath(QStringLiteral("overlay"));
        const QString init = m_config.filePath(QStringLiteral("init"));
        QFile o(overlay);
        QFile i(init);
        if (o.open(QIODevice::WriteOnly) && i.open(QIODevice::WriteOnly)) {
            o.write("background: none\n");
            i.write("session.screen0.toolbar.visible: false\n"
                    "session.screen0.slit.autoHide: true\n"
                    "session.styleOverlay: " +
                    overlay.toUtf8() + "\n");
            args << QStringLiteral("-rc") << init;
        }
    }
    if (program == QLatin1String("fluxbox")) {
        // It talks a lot, and the helpers it starts (a wallpaper setter and its message window) outlive it:
        // they must not hold the test's output open, or ctest waits for them after the test has ended.
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
    } else {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    m_process.start(program, args);
}

WindowManager::~WindowManager()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The next window manager, or a test that wants none, starts only once this one let go of the screen.
    (void)QTest::qWaitFor([] { return !windowManagerRuns(); }, 5000);
}

bool WindowManager::ready()
{
    if (!m_process.waitForStarted(5000) || !QTest::qWaitFor(windowManagerRuns, 10000))
        return false;
    // A map request that arrives while it still starts up can be dropped (openbox does): the probe asks
    // again until one is honoured.
    QWidget probe;
    probe.setGeometry(0, 0, 8, 8);
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        probe.show();
        const xcb_window_t id = xcb_window_t(probe.winId());
        if (QTest::qWaitFor([id] { return managed(id); }, 1000))
            return true;
        probe.hide();
    }
    return false;
}

} // namespace ktr::test
