#include "mainwindow/firstpaintsteps.h"

#include "platform/windowhints.h"

#include <QDebug>
#include <QTimer>

#include <utility>

FirstPaintSteps::FirstPaintSteps(QObject* parent) : QObject(parent), m_flush(&ktr::platform::flushDisplay)
{
}

void FirstPaintSteps::add(std::function<void()> step)
{
    if (m_done) {
        step();
        return;
    }
    if (m_steps.isEmpty())
        QTimer::singleShot(1000, this, [this] { run(); }); // a window that never paints
    m_steps.append(std::move(step));
}

void FirstPaintSteps::painted()
{
    if (m_done)
        return;
    m_done = true;
    if (!m_steps.isEmpty())
        QTimer::singleShot(0, this, [this] { run(); });
}

void FirstPaintSteps::run()
{
    // The frame is queued for the display server only; without this it would wait for these steps.
    if (m_done && !std::exchange(m_frameLogged, true))
        qInfo().noquote() << "first frame shown";
    if (m_flush)
        m_flush();
    const QList<std::function<void()>> steps = std::exchange(m_steps, {});
    for (const std::function<void()>& step : steps)
        step();
}
