#pragma once

#include <QObject>
#include <QString>

// The process-wide screen recorder. Only what the panel calls of it so far: recording itself comes with
// the recorder subsystem.
class ScreenMonitor : public QObject
{
    Q_OBJECT
public:
    static ScreenMonitor* instance();

    void configure(const QString& dir, int maxMB, int idleSec, int fps, int format, int trigger);
    bool isRunning() const { return m_running; }

public Q_SLOTS:
    bool start();
    void stop();

Q_SIGNALS:
    void diskFull();

private:
    ScreenMonitor() = default;
    QString m_dir;
    int m_maxMB = 100;
    int m_idleSec = 60;
    int m_fps = 10;
    int m_format = 0;
    int m_trigger = 0;
    bool m_running = false;
};
