#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace ktr::test {

// True while a window manager manages screen 0 of the test's display: it holds the ICCCM WM_S0 selection, or
// its EWMH check window is there.
bool windowManagerRuns();

// A window manager started on the test's display for the life of the object, stopped (and waited for) when
// it goes.
class WindowManager
{
public:
    explicit WindowManager(const QString& program);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    QString name() const { return m_name; }

    // True once it really manages windows: a window manager takes the selection early in its start-up and
    // goes on setting up for a while after it (seconds on a busy machine), and a window mapped meanwhile may
    // never be shown. A probe window it has listed among its clients shows it is past that.
    bool ready();

private:
    QString m_name;
    QTemporaryDir m_config; // a window manager's own settings, where it needs some
    QProcess m_process;
};

} // namespace ktr::test
