#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace ktr::platform {

// Whether a compositing manager runs on the display, so the alpha of a translucent window is blended with
// what lies behind it. Without one an X server shows a window's transparent pixels as black.
//
// On X11 a compositing manager owns the selection "_NET_WM_CM_S<screen>" (EWMH); the watch asks for its
// owner once and then hears of every change through XFixes selection events on Qt's own connection, so a
// compositor started or ended while the program runs is noticed at once and nothing polls. Without X11
// (offscreen, plain Wayland, where the compositor is the display server) windows are always composed.
class CompositingWatch : public QObject, private QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // The one watch of the process, created on first use (after the application object).
    static CompositingWatch& instance();

    bool isActive() const { return m_active; }
    // True when the answer comes from the display server (X11), false when it is the default of a
    // platform without one.
    bool isWatching() const { return m_selection != 0; }

Q_SIGNALS:
    void activeChanged(bool active);

private:
    CompositingWatch();
    ~CompositingWatch() override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void setActive(bool active);

    bool m_active = true;
    quint32 m_selection = 0; // the atom _NET_WM_CM_S<screen>, 0 when not watching
    quint32 m_root = 0;      // the root window the selection belongs to
    int m_xfixesFirstEvent = -1;
};

} // namespace ktr::platform
