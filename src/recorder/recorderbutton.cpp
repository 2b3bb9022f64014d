#include "recorder/recorderbutton.h"

#include "recorder/screenmonitor.h"
#include "ui/appsettings.h"

RecorderButton::RecorderButton(QObject* parent) : QObject(parent)
{
    // The panel's one window makes the recorder's one connection; the signal comes from its thread.
    connect(ScreenMonitor::instance(), &ScreenMonitor::diskFull, this, &RecorderButton::diskFull, Qt::QueuedConnection);
}

RecorderButton::Outcome RecorderButton::toggle(const AppSettings& s, QString* why)
{
    ScreenMonitor* monitor = ScreenMonitor::instance();
    if (monitor->isRunning()) {
        // The segment is finished on the recorder's own thread, so the window does not wait for it.
        monitor->requestStop();
        emit activeChanged(false);
        return Outcome::Stopped;
    }
    if (s.monitorDir.isEmpty())
        return Outcome::NeedsSetup;
    monitor->configure(s.monitorDir, s.monitorMaxMB, s.monitorIdleSec, s.monitorFps, s.monitorFormat, s.monitorTrigger);
    if (!monitor->start(why))
        return Outcome::Failed;
    emit activeChanged(true);
    return Outcome::Started;
}
