#pragma once

#include <QObject>

class QTimer;

// The main window's side of update checks: one quiet check a while after start, and the checks the user
// asks for. It owns its timer; the check itself comes with the updater.
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    static constexpr int kStartupDelayMs = 15000;

    explicit UpdateChecker(QObject* parent = nullptr);

    // The quiet check after start, on the channel saved at start.
    void scheduleStartupCheck(bool beta);
    void check(bool beta, bool manual);
    void stop();

private:
    QTimer* m_startupTimer = nullptr;
    bool m_startupBeta = false;
};
