#include "platform/inputactivity.h"

#include "platform/clock.h"

#include <QDebug>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/scrnsaver.h>

#include <cerrno>
#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace ktr::platform {
namespace {

qint64 nowMs()
{
    return Clock::system()->monotonicMs();
}

// The screen-saver and XInput2 client libraries are opened on first use, which comes after the panel's first
// frame: the program's start does not load them. A library that is missing leaves its calls null.
template <typename Function> Function openedSymbol(const char* library, const char* name)
{
    void* handle = ::dlopen(library, RTLD_NOW | RTLD_LOCAL); // stays open: the calls are kept
    return handle ? reinterpret_cast<Function>(::dlsym(handle, name)) : nullptr;
}

struct ScreenSaverCalls
{
    decltype(&XScreenSaverQueryExtension) queryExtension;
    decltype(&XScreenSaverQueryInfo) queryInfo;
};

const ScreenSaverCalls& screenSaver()
{
    static const ScreenSaverCalls calls{
        openedSymbol<decltype(&XScreenSaverQueryExtension)>("libXss.so.1", "XScreenSaverQueryExtension"),
        openedSymbol<decltype(&XScreenSaverQueryInfo)>("libXss.so.1", "XScreenSaverQueryInfo")};
    return calls;
}

struct XInput2Calls
{
    decltype(&XIQueryVersion) queryVersion;
    decltype(&XISelectEvents) selectEvents;
};

const XInput2Calls& xinput2()
{
    static const XInput2Calls calls{openedSymbol<decltype(&XIQueryVersion)>("libXi.so.6", "XIQueryVersion"),
                                    openedSymbol<decltype(&XISelectEvents)>("libXi.so.6", "XISelectEvents")};
    return calls;
}

// The raw-input thread's display: a broken connection there ends that thread, not the process.
std::atomic<Display*> s_inputDisplay{nullptr};
XIOErrorHandler s_previousIoHandler = nullptr;

int ioErrorHandler(Display* dpy)
{
    if (dpy == s_inputDisplay.load())
        return 0; // its exit handler only marks the connection lost
    // Every other display keeps what it had (Xlib's default ends the process).
    return s_previousIoHandler ? s_previousIoHandler(dpy) : 0;
}

class X11InputActivity final : public InputActivity
{
public:
    ~X11InputActivity() override
    {
        std::lock_guard lock(m_mutex);
        stopThread();
        std::lock_guard idleLock(m_idleMutex);
        if (m_idleDisplay)
            XCloseDisplay(m_idleDisplay);
        m_idleDisplay = nullptr;
    }

    bool install() override
    {
        std::lock_guard lock(m_mutex);
        ++m_users;
        const qint64 now = nowMs();
        m_keyboard.store(now);
        m_mouse.store(now);
        if (m_lost)
            stopThread(); // a connection that died is made anew
        if (!m_running)
            startThread();
        return m_running;
    }

    void remove() override
    {
        std::lock_guard lock(m_mutex);
        if (m_users == 0)
            return;
        if (--m_users == 0 && m_observerCount == 0)
            stopThread();
    }

    bool isInstalled() const override
    {
        std::lock_guard lock(m_mutex);
        // Once the connection died the ticks stand still: the idle time answers instead.
        return m_running && m_users > 0 && !m_lost;
    }

    qint64 lastKeyboardMs() const override { return m_keyboard.load(); }
    qint64 lastMouseMs() const override { return m_mouse.load(); }

    qint64 systemIdleMs() const override
    {
        std::lock_guard lock(m_idleMutex);
        if (!m_idleTried) {
            m_idleTried = true;
            const bool calls = screenSaver().queryExtension && screenSaver().queryInfo;
            m_idleDisplay = calls ? XOpenDisplay(nullptr) : nullptr;
            int event = 0;
            int error = 0;
            if (m_idleDisplay && !screenSaver().queryExtension(m_idleDisplay, &event, &error)) {
                XCloseDisplay(m_idleDisplay);
                m_idleDisplay = nullptr;
            }
        }
        if (!m_idleDisplay)
            return -1;
        XScreenSaverInfo info{};
        if (!screenSaver().queryInfo(m_idleDisplay, DefaultRootWindow(m_idleDisplay), &info))
            return -1;
        return qint64(info.idle);
    }

    void addObserver(RawInputObserver* observer) override
    {
        std::lock_guard lock(m_mutex);
        {
            std::lock_guard obs(m_observerMutex);
            if (std::find(m_observers.begin(), m_observers.end(), observer) != m_observers.end())
                return;
            m_observers.push_back(observer);
            m_observerCount = int(m_observers.size());
        }
        if (m_lost)
            stopThread();
        if (!m_running)
            startThread();
    }

    void removeObserver(RawInputObserver* observer) override
    {
        std::lock_guard lock(m_mutex);
        {
            // Once this lock is held no callback of the observer is running, and none starts after.
            std::lock_guard obs(m_observerMutex);
            m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
            m_observerCount = int(m_observers.size());
        }
        if (m_users == 0 && m_observerCount == 0)
            stopThread();
    }

private:
    // Under m_mutex.
    void startThread()
    {
        Display* dpy = XOpenDisplay(nullptr);
        if (!dpy)
            return;
        int opcode = 0;
        int event = 0;
        int error = 0;
        int major = 2;
        int minor = 2; // 2.1 and later deliver raw events while another client holds a grab
        if (!xinput2().queryVersion || !xinput2().selectEvents ||
            !XQueryExtension(dpy, "XInputExtension", &opcode, &event, &error) ||
            xinput2().queryVersion(dpy, &major, &minor) != Success || major < 2) {
            qWarning() << "[input] XInput2 is missing: activity falls back to the idle time";
            XCloseDisplay(dpy);
            return;
        }
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
        XISetMask(bits, XI_RawMotion);
        XIEventMask mask{XIAllDevices, int(sizeof bits), bits};
        // A broken connection must not end the process (Xlib's default): the thread ends and the idle time
        // takes over.
        m_ioError = false;
        static std::once_flag handlerOnce;
        std::call_once(handlerOnce, [] { s_previousIoHandler = XSetIOErrorHandler(ioErrorHandler); });
        s_inputDisplay = dpy;
        XSetIOErrorExitHandler(
            dpy, [](Display*, void* self) { static_cast<X11InputActivity*>(self)->m_ioError = true; }, this);
        xinput2().selectEvents(dpy, DefaultRootWindow(dpy), &mask, 1);
        XFlush(dpy);
        const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake < 0) {
            XCloseDisplay(dpy);
            return;
        }
        m_wake = wake;
        m_running = true;
        m_thread = std::thread([this, dpy, opcode, wake] {
            loop(dpy, opcode, wake);
            XCloseDisplay(dpy);
            s_inputDisplay = nullptr;
        });
    }

    // Under m_mutex.
    void stopThread()
    {
        if (!m_running)
            return;
        const uint64_t one = 1;
        if (::write(m_wake, &one, sizeof one) < 0)
            qWarning() << "[input] wake-up of the input thread failed";
        m_thread.join();
        ::close(m_wake);
        m_wake = -1;
        m_running = false;
        m_lost = false;
    }

    void loop(Display* dpy, int opcode, int wake)
    {
        if (!watch(dpy, opcode, wake)) {
            qWarning() << "[input] the XInput2 connection was lost: activity falls back to the idle time";
            m_lost = true;
        }
    }

    // False when the connection broke, true when told to stop.
    bool watch(Display* dpy, int opcode, int wake)
    {
        const int xfd = ConnectionNumber(dpy);
        for (;;) {
            while (!m_ioError && XPending(dpy) > 0) {
                XEvent ev;
                XNextEvent(dpy, &ev);
                XGenericEventCookie* cookie = &ev.xcookie;
                if (cookie->type != GenericEvent || cookie->extension != opcode || !XGetEventData(dpy, cookie))
                    continue;
                handle(cookie->evtype, static_cast<const XIRawEvent*>(cookie->data));
                XFreeEventData(dpy, cookie);
            }
            if (m_ioError)
                return false;
            pollfd fds[2] = {{xfd, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return false;
            if (fds[1].revents)
                return true;
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
                return false;
        }
    }

    void handle(int type, const XIRawEvent* raw)
    {
        RawInputEvent e;
        e.timeMs = nowMs();
        e.detail = raw ? raw->detail : 0;
        switch (type) {
        case XI_RawKeyPress:
            e.kind = RawInputEvent::Kind::KeyDown;
            break;
        case XI_RawKeyRelease:
            e.kind = RawInputEvent::Kind::KeyUp;
            break;
        case XI_RawButtonPress:
            e.kind = RawInputEvent::Kind::ButtonDown;
            break;
        case XI_RawButtonRelease:
            e.kind = RawInputEvent::Kind::ButtonUp;
            break;
        case XI_RawMotion:
            e.kind = RawInputEvent::Kind::Motion;
            e.detail = 0;
            break;
        default:
            return;
        }
        const bool key = e.kind == RawInputEvent::Kind::KeyDown || e.kind == RawInputEvent::Kind::KeyUp;
        (key ? m_keyboard : m_mouse).store(e.timeMs);
        std::lock_guard obs(m_observerMutex);
        for (RawInputObserver* o : m_observers)
            o->rawInput(e);
    }

    mutable std::mutex m_mutex; // users, observers' count, the thread
    int m_users = 0;
    int m_observerCount = 0;
    bool m_running = false;
    // The thread ended because its connection broke (it is joined by the next stop or install).
    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_ioError{false};
    std::thread m_thread;
    int m_wake = -1;
    std::atomic<qint64> m_keyboard{0};
    std::atomic<qint64> m_mouse{0};
    std::mutex m_observerMutex;
    std::vector<RawInputObserver*> m_observers;
    mutable std::mutex m_idleMutex;
    mutable bool m_idleTried = false;
    mutable Display* m_idleDisplay = nullptr;
};

} // namespace

InputActivity* InputActivity::system()
{
    static X11InputActivity activity;
    return &activity;
}

} // namespace ktr::platform
