#pragma once

#include <QList>
#include <QObject>

#include <functional>

// Start steps the first frame does not need (the tray icon, the raw-input connection, listening for other
// starts): they run once the window has painted, or a second after the first was asked for, for a window
// that never paints; a step asked for after the first paint runs at once.
class FirstPaintSteps : public QObject
{
    Q_OBJECT
public:
    explicit FirstPaintSteps(QObject* parent = nullptr);

    void add(std::function<void()> step);
    // The window's paint event. The first one runs the queued steps on the next turn of the loop, so the
    // frame is out first.
    void painted();
    bool done() const { return m_done; }
    // Runs the queued steps now; the first paint and the one-second fallback end here.
    void run();
    // Hands the queued frame to the display server before the steps run (the system's by default).
    void setFlush(std::function<void()> flush) { m_flush = std::move(flush); }

private:
    std::function<void()> m_flush;
    QList<std::function<void()>> m_steps;
    bool m_done = false;
    bool m_frameLogged = false;
};
