#include "windowmanager.h"

#include "testenv.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>

#include <sys/prctl.h>

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

// The window a window's _NET_SUPPORTING_WM_CHECK names, or none (no such property, or no such window).
xcb_window_t checkWindowOf(xcb_connection_t* c, xcb_window_t window, xcb_atom_t check)
{
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
    xcb_window_t named = XCB_WINDOW_NONE;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        named = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return named;
}

// A test killed at its time limit takes what it started with it: a window manager left running would manage
// the windows of the next test on the shared display.
void endWithTheTest(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

bool windowManagerRuns()
{
    xcb_connection_t* c = connection();
    if (!c)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom(c, "WM_S0")), nullptr);
    const bool selection = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    if (selection)
        return true;
    // A window manager that left keeps its check property on the root, but its check window is gone.
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    if (!screen || check == XCB_ATOM_NONE)
        return false;
    const xcb_window_t named = checkWindowOf(c, screen->root, check);
    return named != XCB_WINDOW_NONE && checkWindowOf(c, named, check) == named;
}

WindowManager::WindowManager(const QString& program) : m_name(program)
{
    QStringList args;
    if (program == QLatin1String("openbox"))
        args << QStringLiteral("--sm-disable");
    if (program == QLatin1String("fluxbox")) {
        // Fluxbox sets its style's wallpaper through fbsetbg, which on a bare display fails with a message
        // window of its own that stays on the display and outlives the test: a stand-in that does nothing
        // comes first on its PATH.
        const QString dir = freshDir(QStringLiteral("fluxbox-bin"));
        const QString fake = dir + QStringLiteral("/fbsetbg");
        writeFile(fake, "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), dir + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        m_process.setProcessEnvironment(env);
    }
    if (program == QLatin1String("xfwm4")) {
        // No compositor (Xvfb has no GL to spare), no session manager to register with.
        args << QStringLiteral("--compositor=off") << QStringLiteral("--sm-client-disable");
        if (!startSettingsService())
            return;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        m_process.setProcessEnvironment(env);
    }
    if (program == QLatin1String("fluxbox")) {
        // It talks a lot, and anything it starts that outlives it must not hold the test's output open, or
        // ctest waits for it after the test has ended.
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
    } else {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    endWithTheTest(m_process);
    m_process.start(program, args);
}

bool WindowManager::startSettingsService()
{
    const QString xfconfd = QStandardPaths::findExecutable(QStringLiteral("xfconfd"),
                                                           {QStringLiteral("/usr/lib/x86_64-linux-gnu/xfce4/xfconf"),
                                                            QStringLiteral("/usr/lib/aarch64-linux-gnu/xfce4/xfconf"),
                                                            QStringLiteral("/usr/libexec/xfce4/xfconf"),
                                                            QStringLiteral("/usr/lib/xfce4/xfconf")});
    if (xfconfd.isEmpty())
        return false;
    endWithTheTest(m_bus);
    m_busAddress = startPrivateBus(m_bus);
    if (m_busAddress.isEmpty())
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    m_settings.setProcessEnvironment(env);
    m_settings.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithTheTest(m_settings);
    m_settings.start(xfconfd, {});
    if (!m_settings.waitForStarted(5000))
        return false;
    // xfwm4 asks for its settings at once and gives up when nobody answers: it starts once xfconfd owns its name.
    QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("ktr-wm-settings"));
    const bool owned = QTest::qWaitFor(
        [&bus] { return bus.interface() && bus.interface()->isServiceRegistered(QStringLiteral("org.xfce.Xfconf")); },
        10000);
    QDBusConnection::disconnectFromBus(QStringLiteral("ktr-wm-settings"));
    return owned;
}

WindowManager::~WindowManager()
{
    if (m_process.state() != QProcess::NotRunning) {
        stop(m_process);
        // The next window manager, or a test that wants none, starts only once this one let go of the screen.
        (void)QTest::qWaitFor([] { return !windowManagerRuns(); }, 5000);
    }
    stop(m_settings);
    stop(m_bus);
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
