#include "market/updatechecker.h"

#include "ui/namedtimer.h"

#include <QTimer>

UpdateChecker::UpdateChecker(QObject* parent) : QObject(parent)
{
}

void UpdateChecker::scheduleStartupCheck(bool beta)
{
    m_startupBeta = beta;
    if (!m_startupTimer) {
        m_startupTimer = ktr::makeNamedTimer(this, "updateCheckTimer", kStartupDelayMs, true);
        connect(m_startupTimer, &QTimer::timeout, this, [this] { check(m_startupBeta, false); });
    }
    m_startupTimer->start();
}

void UpdateChecker::check(bool beta, bool manual)
{
    Q_UNUSED(beta);
    Q_UNUSED(manual);
}

void UpdateChecker::stop()
{
    if (m_startupTimer)
        m_startupTimer->stop();
}
