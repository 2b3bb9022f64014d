#pragma once

#include "platform/clock.h"

namespace ktr::test {

// A clock that moves only when the test says so.
class ManualClock final : public ktr::platform::Clock
{
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 1, 15), QTime(10, 0, 0))) : m_start(start) {}
    qint64 monotonicMs() const override { return m_ms; }
    QDateTime now() const override { return m_start.addMSecs(m_ms); }
    void advance(qint64 ms) { m_ms += ms; }

private:
    QDateTime m_start;
    qint64 m_ms = 1000;
};

} // namespace ktr::test
