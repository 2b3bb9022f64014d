// Start-up of the panel window on a layout of 2,000 items in 20 groups: the time from process start to the
// first paint of the main window, and the resident memory once every icon has been loaded. Runs on its own
// data folder below a temporary HOME; offscreen unless a display is set.
#include "benchlayout.h"
#include "icons/iconloader.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/mainwindow.h"
#include "model/configstore.h"
#include "platform/icontheme.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

// Milliseconds since this process was created (kernel start time, in clock ticks since boot).
double msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Field 22; fields after the command name (which may hold blanks) start after the last ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double startTicks = fields.at(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

double g_firstPaintMs = -1;

class TimedWindow : public MainWindow
{
protected:
    void paintEvent(QPaintEvent* event) override
    {
        MainWindow::paintEvent(event);
        if (g_firstPaintMs < 0)
            g_firstPaintMs = msSinceProcessStart();
    }
};

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    qputenv("HOME", root.path().toUtf8());
    qputenv("XDG_DATA_HOME", (root.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (root.path() + "/config").toUtf8());
    qputenv("XDG_CACHE_HOME", (root.path() + "/cache").toUtf8());
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.info=false");

    // The layout and its files exist before a real start: the time spent writing them here is taken out of
    // the start-up figure.
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KestrunePanel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
    // Offscreen has no icon theme of its own: give it the machine's, as a desktop session would, so the figures
    // measure real theme icons rather than the placeholder.
    if (QGuiApplication::platformName() == QLatin1String("offscreen") && QIcon::themeName().isEmpty()) {
        QIcon::setThemeSearchPaths(ktr::platform::IconThemes::defaultConfig().searchPaths);
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
    const QString files = root.path() + QStringLiteral("/files");
    QDir().mkpath(files);
    const double setupStart = msSinceProcessStart();
    {
        ConfigStore store(appDataDir());
        store.saveLayout(makeBenchLayout(files, 2000));
    }
    const double setupMs = msSinceProcessStart() - setupStart;

    const double baseMb = residentMb();
    TimedWindow window;
    window.show();
    QElapsedTimer wait;
    wait.start();
    while (g_firstPaintMs < 0 && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    // Icons: the queue drains on the next ticks; the pool then works through every request.
    while (wait.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (window.icons()->paths().isEmpty() && iconLoadPool()->activeThreadCount() == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (iconLoadPool()->activeThreadCount() == 0)
                break;
        }
    }
    const double iconsMs = wait.elapsed();

    std::printf("start to first paint: %.1f ms\n", g_firstPaintMs - setupMs);
    std::printf("show to icons loaded: %.1f ms\n", iconsMs);
    std::printf("resident memory with icons loaded: %.1f MB\n", residentMb());
    std::printf("resident memory before the window: %.1f MB\n", baseMb);

    return 0;
}
