#pragma once

#include <QDateTime>
#include <QtGlobal>

namespace ktr::platform {

// The one seam for time: code that schedules, throttles or times out reads the clock through this
// interface, so tests can drive time by hand instead of sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds (arbitrary origin), never going back.
    virtual qint64 monotonicMs() const = 0;
    // Local wall-clock time.
    virtual QDateTime now() const = 0;

    // The real clock, shared by the whole process.
    static Clock* system();
};

} // namespace ktr::platform
