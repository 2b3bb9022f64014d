#pragma once

#include <QStringList>

class QWindow;

namespace ktr::platform {

// Window-manager hints of a top-level window through the EWMH _NET_WM_STATE list: a window manager that
// runs is asked through a client message (the way EWMH wants a mapped window changed); a window that is
// not mapped yet, or a display without a window manager, gets the property itself, which a window
// manager reads when it takes the window on. Without X11 (offscreen, plain Wayland) nothing exists to
// ask: the calls return false and change nothing.

// Keeps the window above ordinary windows (_NET_WM_STATE_ABOVE), or stops doing so.
bool setKeepAbove(QWindow* window, bool on);
// Hides the window's taskbar button (_NET_WM_STATE_SKIP_TASKBAR), or shows it again.
bool setSkipTaskbar(QWindow* window, bool skip);
// Marks the window as a dock (_NET_WM_WINDOW_TYPE_DOCK), which window managers place where it asks instead
// of keeping a part of it on screen (xfwm4 pulls any normal window at least ~30 px in), or gives it back the
// types it had. Turning a dock back into a normal window leaves some window managers (xfwm4) with what they
// gave the dock: on every workspace, off the pager, not movable. The window is given back its own
// _NET_WM_STATE sticky and skip-pager entries, and its Motif hints name every function, so moving works again.
bool setDockType(QWindow* window, bool dock);
// The names of the atoms in the window's _NET_WM_WINDOW_TYPE property as the server holds it now.
QStringList windowTypes(QWindow* window);
// The names of the atoms in the window's _NET_WM_STATE property as the server holds it now.
QStringList windowStateHints(QWindow* window);

// Ends a move or resize the window manager runs for the window (_NET_WM_MOVERESIZE_CANCEL), as if the user
// had pressed Escape. False without X11.
bool cancelMoveResize(QWindow* window);

// Sends what the program has queued for the display server now, instead of when the event loop next
// waits: a frame just painted reaches the screen before work that follows it in the same turn of the loop.
// Nothing to do without X11.
void flushDisplay();

} // namespace ktr::platform
