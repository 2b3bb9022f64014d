#pragma once

#include <QObject>

class QTimer;

// The main window's side of automatic backups: an hourly look whether a backup is due (and one shortly
// after start). It owns its timer; the backups themselves come with the backup engine's scheduler.
class BackupScheduler : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 3600000;
    static constexpr int kFirstRunDelayMs = 2500;

    explicit BackupScheduler(QObject* parent = nullptr);

    // Starts the hourly look (once).
    void start();
    void stop();
    void runIfDue();
    // Waits up to budgetMs for running backup workers (quitting).
    void waitWorkers(int budgetMs);

private:
    QTimer* m_timer = nullptr;
};
