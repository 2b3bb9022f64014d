#include "recorder/screenmonitor.h"

#include <QDir>

#include <algorithm>

ScreenMonitor* ScreenMonitor::instance()
{
    static ScreenMonitor* monitor = new ScreenMonitor;
    return monitor;
}

void ScreenMonitor::configure(const QString& dir, int maxMB, int idleSec, int fps, int format, int trigger)
{
    m_dir = dir;
    m_maxMB = std::clamp(maxMB, 10, 512);
    m_idleSec = std::clamp(idleSec, 10, 600);
    m_fps = std::clamp(fps, 2, 60);
    m_format = format > 0 ? 1 : 0;
    m_trigger = std::clamp(trigger, 0, 2);
}

bool ScreenMonitor::start()
{
    if (m_dir.isEmpty())
        return false;
    QDir().mkpath(m_dir);
    // Capturing arrives with the recorder itself; until then the recorder only keeps its state.
    m_running = true;
    return true;
}

void ScreenMonitor::stop()
{
    m_running = false;
}
