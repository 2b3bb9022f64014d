#include "recorder/screenmonitor.h"

#include "platform/heaptrim.h"
#include "platform/inputactivity.h"
#include "platform/process.h"
#include "platform/screencapture.h"
#include "ui/lang.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <chrono>

#include <cerrno>
#include <sys/stat.h>

namespace {

// The recording folder, made owner-only when it is made here (its parents as the system makes them): the
// segments show everything that was on the screen. A folder the user already has keeps its mode.
bool makeRecordingFolder(const QString& dir)
{
    if (QFileInfo(dir).isDir())
        return true;
    const QString clean = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    QDir().mkpath(QFileInfo(clean).absolutePath());
    if (::mkdir(QFile::encodeName(clean).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return QFileInfo(clean).isDir();
}

} // namespace

ScreenMonitor::Seams ScreenMonitor::systemSeams()
{
    Seams s;
    s.core = RecorderCore::systemSeams();
    s.available = [](QString* message) { return ktr::platform::ScreenCapture::available(message); };
    return s;
}

ScreenMonitor* ScreenMonitor::instance()
{
    static ScreenMonitor monitor(systemSeams());
    return &monitor;
}

ScreenMonitor::ScreenMonitor(Seams seams, QObject* parent) : QObject(parent)
{
    setSeams(std::move(seams));
}

ScreenMonitor::~ScreenMonitor()
{
    stop();
}

void ScreenMonitor::setSeams(Seams seams)
{
    joinStopped();
    if (m_running) {
        qWarning() << "[recorder] seams not replaced while recording";
        return;
    }
    auto core = std::make_unique<RecorderCore>(seams.core);
    if (m_core) {
        core->configure(m_core->outputDir(), m_core->segmentMiB(), m_core->idleMs() / 1000, m_core->fps(),
                        m_core->useMp4() ? 1 : 0, m_core->idleMode());
    }
    // The signal is emitted on the recorder thread; receivers in the GUI thread get it queued.
    core->onPause = [this](RecorderCore::PauseCause cause, const QString& detail) {
        if (cause == RecorderCore::PauseCause::LowDisk)
            Q_EMIT diskFull();
        Q_EMIT paused(int(cause), detail);
    };
    core->onResume = [this] { Q_EMIT resumed(); };
    m_core = std::move(core);
    m_seams = std::move(seams);
}

void ScreenMonitor::configure(const QString& dir, int maxMB, int idleSec, int fps, int format, int trigger)
{
    joinStopped();
    if (m_running)
        qWarning() << "[recorder] configure while recording: the new settings apply from the next start";
    else
        m_core->configure(dir, maxMB, idleSec, fps, format, trigger);
}

bool ScreenMonitor::start(QString* message)
{
    auto fail = [message](const QString& text) {
        qWarning().noquote() << "[recorder] not started:" << text;
        if (message)
            *message = text;
        return false;
    };
    const QString dir = m_core->outputDir();
    if (dir.isEmpty())
        return fail(Lang::tr("请先设置录屏保存文件夹"));
    if (!makeRecordingFolder(dir))
        return fail(Lang::tr("无法创建录屏文件夹：%1").arg(QDir::toNativeSeparators(dir)));
    if (m_running)
        return true;
    joinStopped();
    // A folder we may not write into would record nothing while the button says it records.
    {
        QTemporaryFile probe(dir + QStringLiteral("/.recorder-probe-XXXXXX"));
        if (!probe.open())
            return fail(Lang::tr("录屏文件夹无法写入：%1").arg(QDir::toNativeSeparators(dir)));
    }
    QString why;
    if (m_seams.available && !m_seams.available(&why))
        return fail(Lang::tr(why));

    // Input is watched first, so the first pass of the loop already sees the user as active.
    ktr::platform::InputActivity* activity = m_seams.core.activity;
    m_activityInstalled = activity != nullptr;
    if (activity && !activity->install())
        qWarning() << "[recorder] no raw input: activity comes from the idle time";
    m_running = true;
    m_thread = std::thread([this] { run(); });
    Q_EMIT runningChanged(true);
    return true;
}

void ScreenMonitor::requestStop()
{
    if (m_activityInstalled && m_seams.core.activity)
        m_seams.core.activity->remove();
    m_activityInstalled = false;
    bool wasRunning;
    {
        std::lock_guard lock(m_waitMutex);
        wasRunning = m_running.exchange(false);
    }
    m_wake.notify_all();
    if (wasRunning)
        Q_EMIT runningChanged(false);
}

void ScreenMonitor::joinStopped()
{
    if (!m_running && m_thread.joinable())
        m_thread.join();
}

void ScreenMonitor::stop()
{
    requestStop();
    joinStopped();
    // Whatever the thread left (nothing, normally) is ours after the join.
    m_core->finish();
}

void ScreenMonitor::run()
{
    using Clock = std::chrono::steady_clock;
    // Encoding is heavy: the panel's own thread (and the user's programs) come first.
    ktr::platform::lowerCurrentThreadPriority();
    auto next = Clock::now();
    qint64 slotsGivenUp = 0;
    while (m_running) {
        m_core->step();
        // Frames are due at the configured rate, on a fixed schedule: a frame that took a little longer
        // than its slot is followed at once by the next, so jitter costs no frames. Only the whole slots
        // that have passed are given up (a slow machine records fewer frames instead of piling them up); the
        // schedule keeps its phase, so a frame late by a slot and a half costs one slot, not two.
        // The slot is the exact frame time (17 ms would be 58.8 frames a second at 59).
        const std::chrono::microseconds interval(std::max(4000, 1000000 / std::max(1, m_core->fps())));
        const auto now = Clock::now();
        next += interval;
        if (now - next >= interval) {
            const auto missed = (now - next) / interval;
            slotsGivenUp += missed;
            next += missed * interval;
        }
        std::unique_lock lock(m_waitMutex);
        m_wake.wait_until(lock, next, [this] { return !m_running; });
    }
    m_core->finish();
    // Where frames went missing: the capture or the encoder did not keep up (a busy machine).
    if (slotsGivenUp > 0)
        qInfo().noquote() << "screen monitor: gave up" << slotsGivenUp << "frame slots the machine was too busy for";
    // The encoder's threads freed their buffers into heaps of their own: hand those back to the system.
    ktr::platform::releaseFreeHeap();
}
