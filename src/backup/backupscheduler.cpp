#include "backup/backupscheduler.h"

#include "ui/namedtimer.h"

#include <QDebug>
#include <QTimer>

BackupScheduler::BackupScheduler(QObject* parent) : QObject(parent)
{
}

void BackupScheduler::start()
{
    if (m_timer)
        return;
    m_timer = ktr::makeNamedTimer(this, "autoBackupTimer", kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &BackupScheduler::runIfDue);
    m_timer->start();
    QTimer::singleShot(kFirstRunDelayMs, this, [this] { runIfDue(); });
    qInfo().noquote() << "auto backup scheduler started";
}

void BackupScheduler::stop()
{
    if (m_timer)
        m_timer->stop();
}

void BackupScheduler::runIfDue()
{
}

void BackupScheduler::waitWorkers(int budgetMs)
{
    // No backup worker runs until the backup engine's scheduler exists.
    Q_UNUSED(budgetMs);
}
