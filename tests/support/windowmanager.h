#pragma once

#include <QProcess>
#include <QString>

namespace ktr::test {

// True while a window manager manages screen 0 of the test's display: it holds the ICCCM WM_S0 selection, or
// (fluxbox takes no selection) the root names a live EWMH check window that names itself.
bool windowManagerRuns();

// A window manager started on the test's display for the life of the object, stopped (and waited for) when
// it goes. xfwm4 reads its settings from xfconfd over D-Bus and gives up without it: it gets a bus of the
// test's own with an xfconfd on it, both stopped with it, so it reads its defaults and nothing of the desktop.
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
    bool startSettingsService();

    QString m_name;
    QProcess m_bus;
    QProcess m_settings;
    QString m_busAddress;
    QProcess m_process;
};

} // namespace ktr::test
