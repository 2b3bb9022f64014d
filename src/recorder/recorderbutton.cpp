#include "recorder/recorderbutton.h"

#include "recorder/screenmonitor.h"
#include "ui/appsettings.h"

RecorderButton::RecorderButton(QObject* parent) : QObject(parent)
{
    // The panel's one window makes the recorder's one connection; the signal comes from its thread.
    connect(ScreenMonitor::instance(), &ScreenMonitor::diskFull, this, &RecorderButton::diskFull, Qt::QueuedConnection);
}

RecorderButton::Outcome RecorderButton::toggle(const AppSettings& s)
{
    ScreenMonitor* monitor = ScreenMonitor::instance();
    if (monitor->isRunning()) {
        monitor->stop();
        emit activeChanged(false);
        return Outcome::Stopped;
    }
    if (s.monitorDir.isEmpty())
        return Outcome::NeedsSetup;
    monitor->configure(s.monitorDir, s.monitorMaxMB, s.monitorIdleSec, s.monitorFps, s.monitorFormat, s.monitorTrigger);
    if (!monitor->start())
        return Outcome::Failed;
    emit activeChanged(true);
    return Outcome::Started;
}
