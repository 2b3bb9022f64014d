#pragma once

#include <QtGlobal>

namespace ktr::platform {

// One raw input event from any device, whatever window has the focus or lies under the pointer. Raw
// events carry no position: an observer that needs the pointer's place asks PointerState.
struct RawInputEvent
{
    enum class Kind { KeyDown, KeyUp, ButtonDown, ButtonUp, Motion };
    Kind kind = Kind::Motion;
    int detail = 0;    // key code or button number; 0 for motion
    qint64 timeMs = 0; // Clock::system()->monotonicMs() when the event arrived
};

// Receives every raw input event while registered. Called on the input thread: keep it short and
// queue anything that touches widgets to the GUI thread.
class RawInputObserver
{
public:
    virtual ~RawInputObserver() = default;
    virtual void rawInput(const RawInputEvent& event) = 0;
};

// Watches keyboard and mouse activity of the whole desktop. It only observes: nothing is grabbed and no
// event is held back. The ticks are Clock::system()->monotonicMs() values.
class InputActivity
{
public:
    virtual ~InputActivity() = default;

    // Starts watching (uses are counted; each install needs one remove). Both ticks are set to now, so the
    // user counts as active right after. False when raw input can't be watched here; then only
    // systemIdleMs() tells of activity.
    virtual bool install() = 0;
    virtual void remove() = 0;
    virtual bool isInstalled() const = 0;

    virtual qint64 lastKeyboardMs() const = 0;
    virtual qint64 lastMouseMs() const = 0;

    // Milliseconds since the last input of any kind as the display server counts it, or -1 when unknown.
    virtual qint64 systemIdleMs() const = 0;

    // Observers are called on the input thread; adding one also keeps the watching running.
    virtual void addObserver(RawInputObserver* observer) = 0;
    virtual void removeObserver(RawInputObserver* observer) = 0;

    // The process-wide source: XInput2 raw events on a connection and thread of its own, the idle time
    // from the XScreenSaver extension.
    static InputActivity* system();
};

} // namespace ktr::platform
