#include "backup/backupscheduler.h"

#include "backup/backupengine.h"
#include "backup/futurewait.h"
#include "platform/clock.h"
#include "ui/appsettings.h"
#include "ui/background.h"
#include "ui/lang.h"
#include "ui/namedtimer.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

BackupScheduler::BackupScheduler(Host host, QObject* parent) : QObject(parent), m_host(std::move(host))
{
}

BackupScheduler::~BackupScheduler() = default;

bool BackupScheduler::isDue(const QString& lastAt, int intervalDays, const QDateTime& now)
{
    const QDateTime last = QDateTime::fromString(lastAt, Qt::ISODate);
    if (!last.isValid() || last > now)
        return true;
    return last.addDays(intervalDays) <= now;
}

QString BackupScheduler::runSnapshot(const QString& backupDir, const QString& dataDir, int keep,
                                     const std::atomic<bool>* cancel)
{
    QString error;
    bool cancelled = false;
    QStringList warnings;
    const QString path =
        BackupEngine::createSnapshot(backupDir, dataDir, &error, false, {}, cancel, &cancelled, &warnings);
    for (const QString& w : warnings)
        qWarning().noquote() << "auto backup: left out or changed while read:" << w;
    if (!path.isEmpty()) {
        // A snapshot that finished while quitting stays, but pruning waits for a run nobody stopped.
        if (!(cancel && cancel->load()))
            BackupEngine::purgeOld(backupDir, keep);
        return {};
    }
    if (cancelled)
        return {};
    return error.isEmpty() ? QStringLiteral("创建快照失败") : error;
}

bool BackupScheduler::isBlockedByFile(const QString& backupDir)
{
    if (backupDir.isEmpty())
        return false;
    // The nearest existing part of the path decides: a file there means the folder can never be made.
    QFileInfo probe(backupDir);
    while (!probe.exists() && !probe.isRoot() && probe.absoluteFilePath() != probe.absolutePath())
        probe = QFileInfo(probe.absolutePath());
    return probe.exists() && !probe.isDir();
}

QString BackupScheduler::failureText(const QString& reason, const QString& backupDir)
{
    if (isBlockedByFile(backupDir))
        return Lang::tr("自动备份失败：备份目录「%1」不是文件夹，请在「设置 → 备份与恢复」中更改目录")
            .arg(QDir::toNativeSeparators(backupDir));
    return Lang::tr("自动备份失败：%1").arg(Lang::tr(reason));
}

void BackupScheduler::setClock(ktr::platform::Clock* clock)
{
    m_clock = clock;
}

void BackupScheduler::setSnapshotTask(SnapshotTask task)
{
    m_task = std::move(task);
}

void BackupScheduler::start()
{
    if (m_timer)
        return;
    m_timer = ktr::makeNamedTimer(this, "autoBackupTimer", kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &BackupScheduler::runIfDue);
    m_timer->start();
    m_firstRun = ktr::makeNamedTimer(this, "autoBackupFirstRun", kFirstRunDelayMs, true);
    connect(m_firstRun, &QTimer::timeout, this, &BackupScheduler::runIfDue);
    m_firstRun->start();
    qInfo().noquote() << "auto backup scheduler started";
}

void BackupScheduler::stop()
{
    if (m_timer)
        m_timer->stop();
    if (m_firstRun)
        m_firstRun->stop();
}

QString BackupScheduler::backupFolder() const
{
    const QString dataDir = m_host.dataDir ? m_host.dataDir() : QString();
    const QString custom = m_host.settings ? m_host.settings->backupDir : QString();
    return custom.isEmpty() ? BackupEngine::backupDir(dataDir) : custom;
}

bool BackupScheduler::isRunning() const
{
    return m_future.isRunning();
}

void BackupScheduler::runIfDue()
{
    if (!m_host.settings)
        return;
    if (!m_staleCleaned) {
        m_staleCleaned = true;
        const QString folder = backupFolder();
        const QString dataDir = m_host.dataDir ? m_host.dataDir() : QString();
        // What killed runs left goes at once when its run is proven dead, the rest by age: partial
        // snapshots here, a restore's work folders (possibly large) off the GUI thread.
        if (QDir(folder).exists())
            BackupEngine::removeStaleParts(folder, kStalePartSecs);
        if (!dataDir.isEmpty())
            runHeavyInBackground(
                this, [dataDir] { return BackupEngine::removeDeadRunLeftovers(dataDir, QString()); }, [](int) {});
    }
    const AppSettings& s = *m_host.settings;
    if (!s.backupAuto || isRunning())
        return;
    ktr::platform::Clock* clock = m_clock ? m_clock : ktr::platform::Clock::system();
    if (!isDue(s.backupLastAt, s.backupIntervalDays, clock->now()))
        return;

    const QString dataDir = m_host.dataDir ? m_host.dataDir() : QString();
    const QString folder = backupFolder();
    const int keep = s.backupRetain;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    qInfo().noquote() << "auto backup due; creating snapshot ->" << folder;
    m_runFolder = folder;
    const SnapshotTask task = m_task ? m_task : SnapshotTask(&BackupScheduler::runSnapshot);
    std::shared_ptr<std::atomic<bool>> cancel = m_cancel;
    // Only the latest run's outcome counts; one that ended before a newer run started reports nothing.
    const int run = ++m_runs;
    m_future = runHeavyInBackground(
        this, [task, folder, dataDir, keep, cancel] { return task(folder, dataDir, keep, cancel.get()); },
        [this, run](const QString& result) {
            if (run == m_runs)
                onFinished(result);
        });
}

void BackupScheduler::onFinished(const QString& result)
{
    if (m_cancel && m_cancel->load()) {
        qInfo().noquote() << "auto backup cancelled, last-backup time unchanged";
    } else if (!result.isEmpty()) {
        qWarning().noquote() << "auto backup failed:" << result << "| backup folder:" << m_runFolder
                             << "| last success:"
                             << (m_host.settings && !m_host.settings->backupLastAt.isEmpty()
                                     ? m_host.settings->backupLastAt
                                     : QStringLiteral("never"))
                             << (m_failing ? "| user already told" : "| telling the user");
        if (!m_failing) {
            m_failing = true;
            Q_EMIT failed(result, m_runFolder);
        }
    } else if (m_host.settings) {
        m_failing = false;
        ktr::platform::Clock* clock = m_clock ? m_clock : ktr::platform::Clock::system();
        m_host.settings->backupLastAt = clock->now().toString(Qt::ISODate);
        if (m_host.saveSettings)
            m_host.saveSettings();
        qInfo().noquote() << "auto backup done, next due in" << m_host.settings->backupIntervalDays << "days";
    }
    Q_EMIT runFinished();
}

void BackupScheduler::stopWorker(int budgetMs)
{
    if (m_cancel)
        m_cancel->store(true);
    if (!isRunning())
        return;
    if (!ktr::waitFinished(m_future, budgetMs))
        qWarning().noquote() << "auto backup worker still running on exit; cancel requested,"
                             << "orphan powershell may remain (hard exit)";
}

void BackupScheduler::waitWorkers(int budgetMs)
{
    QElapsedTimer timer;
    timer.start();
    stopWorker(budgetMs);
    const qint64 rest = budgetMs - timer.elapsed();
    if (rest > 0 && m_host.cancelDialogWorker)
        m_host.cancelDialogWorker(int(rest));
}
