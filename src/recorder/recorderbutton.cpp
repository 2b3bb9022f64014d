#include "recorder/recorderbutton.h"

#include "recorder/screenmonitor.h"
#include "ui/appsettings.h"
#include "ui/lang.h"

#include <QDir>

RecorderButton::RecorderButton(QObject* parent) : QObject(parent)
{
    // The panel's one window makes the recorder's connections; pauses come from its thread.
    ScreenMonitor* monitor = ScreenMonitor::instance();
    connect(monitor, &ScreenMonitor::runningChanged, this, &RecorderButton::activeChanged);
    connect(monitor, &ScreenMonitor::diskFull, this, &RecorderButton::diskFull, Qt::QueuedConnection);
    connect(
        monitor, &ScreenMonitor::paused, this,
        [this](int cause, const QString& detail) {
            if (cause != int(RecorderCore::PauseCause::LowDisk))
                emit paused(pauseText(cause, detail));
        },
        Qt::QueuedConnection);
    connect(monitor, &ScreenMonitor::resumed, this, &RecorderButton::resumed, Qt::QueuedConnection);
}

QString RecorderButton::pauseText(int cause, const QString& detail)
{
    switch (RecorderCore::PauseCause(cause)) {
    case RecorderCore::PauseCause::LowDisk:
        return Lang::tr("磁盘剩余空间不足，录屏已暂停（腾出空间后会自动继续）");
    case RecorderCore::PauseCause::FolderMissing:
        return Lang::tr("录屏文件夹不见了，录屏已暂停（文件夹恢复后会自动继续）：%1")
            .arg(QDir::toNativeSeparators(detail));
    case RecorderCore::PauseCause::NotAFolder:
        return Lang::tr("录屏保存位置不是文件夹，录屏已暂停（恢复后会自动继续）：%1")
            .arg(QDir::toNativeSeparators(detail));
    case RecorderCore::PauseCause::WriteFailed:
        break;
    }
    return Lang::tr("录屏文件写入失败，录屏已暂停，稍后会自动重试：%1").arg(detail);
}

RecorderButton::Outcome RecorderButton::toggle(const AppSettings& s, QString* why)
{
    ScreenMonitor* monitor = ScreenMonitor::instance();
    if (monitor->isRunning()) {
        // The segment is finished on the recorder's own thread, so the window does not wait for it.
        monitor->requestStop();
        return Outcome::Stopped;
    }
    if (s.monitorDir.isEmpty())
        return Outcome::NeedsSetup;
    monitor->configure(s.monitorDir, s.monitorMaxMB, s.monitorIdleSec, s.monitorFps, s.monitorFormat, s.monitorTrigger);
    if (!monitor->start(why))
        return Outcome::Failed;
    return Outcome::Started;
}
