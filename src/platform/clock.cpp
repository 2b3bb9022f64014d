#include "platform/clock.h"

#include <QElapsedTimer>

namespace ktr::platform {
namespace {

class SystemClock final : public Clock
{
public:
    SystemClock() { m_timer.start(); }
    qint64 monotonicMs() const override { return m_timer.elapsed(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }

private:
    QElapsedTimer m_timer;
};

} // namespace

Clock* Clock::system()
{
    static SystemClock clock;
    return &clock;
}

} // namespace ktr::platform
