// Start-up of the panel on a layout of 2,000 items in groups of 100 (--items N for another size), against the
// floor of an empty frameless Qt window: both programs are started in turn (--runs R pairs, the order
// alternating, after one warm-up pair) on the display given, under a window manager (openbox is started unless
// --no-wm), on one private HOME. For each it takes the time from the start of the process to the loop turn
// right after its first paint (the panel's "first frame shown" log line, the window's own report), and prints
// the per-run ratio and its median; then where the panel's time went, from its log's own time stamps. Last,
// the panel window in this process (--in-process) gives the time from show to the icons of the first group
// loaded and the resident memory. --cold drops the page cache before every start (root only), so both programs
// read their libraries from the disk as at the first start after boot.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" bench_startup [--runs R] [--items N] [--no-wm] [--cold] [--home DIR]
//   [--panel PROGRAM]
#include "benchlayout.h"
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/mainwindow.h"
#include "model/configstore.h"
#include "platform/icontheme.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

#include <csignal>

#include <unistd.h>

namespace {

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

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

double nowMs()
{
    return double(QDateTime::currentMSecsSinceEpoch());
}

// ---- the panel window in this process: first icons and memory ------------------------------------------

double g_firstPaintMs = -1;
QElapsedTimer g_sinceShow;

class TimedWindow : public MainWindow
{
protected:
    void paintEvent(QPaintEvent* event) override
    {
        MainWindow::paintEvent(event);
        if (g_firstPaintMs < 0)
            g_firstPaintMs = g_sinceShow.nsecsElapsed() / 1e6;
    }
};

int runInProcess(QApplication& app)
{
    Q_UNUSED(app);
    const double baseMb = residentMb();
    g_sinceShow.start();
    TimedWindow window;
    window.show();
    QElapsedTimer wait;
    wait.start();
    while (g_firstPaintMs < 0 && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // The group on show has its icons once every item of it is in the memory cache.
    double firstGroupMs = -1;
    const auto firstGroupSettled = [&window] {
        const PanelModel& model = window.model();
        if (!model.hasGroup(model.currentIndex()))
            return false; // a large layout is still being read
        const IconCacheMap* cache = iconCache();
        for (const Item& item : model.groups().at(model.currentIndex()).items) {
            if (!item.hidden && !cache->contains(item.path))
                return false;
        }
        return true;
    };
    // Icons: the queue drains on the next ticks; the pool then works through every request.
    while (wait.elapsed() < 60000) {
        if (firstGroupMs < 0 && firstGroupSettled())
            firstGroupMs = g_sinceShow.nsecsElapsed() / 1e6;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (firstGroupMs >= 0 && window.icons()->paths().isEmpty() && iconLoadPool()->activeThreadCount() == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (iconLoadPool()->activeThreadCount() == 0)
                break;
        }
    }
    std::printf("in process, construction to first paint: %.1f ms\n", g_firstPaintMs);
    std::printf("in process, construction to the icons of the group on show: %.1f ms\n", firstGroupMs);
    std::printf("in process, construction to every icon loaded: %.1f ms\n", g_sinceShow.nsecsElapsed() / 1e6);
    std::printf("resident memory with icons loaded: %.1f MB\n", residentMb());
    std::printf("resident memory before the window: %.1f MB\n", baseMb);
    return 0;
}

// ---- the two programs, started in turn ------------------------------------------------------------------

bool g_cold = false;

// With --cold, the page cache is emptied before a start: written-back first, then dropped.
void dropCaches()
{
    if (!g_cold)
        return;
    ::sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (!drop.open(QIODevice::WriteOnly) || drop.write("3\n") != 2)
        std::fprintf(stderr, "--cold: the page cache can't be dropped here (needs root)\n");
}

struct PanelRun
{
    double painted = -1;   // ms from the start of the process
    double firstLine = -1; // the log's first line of this start
    double shown = -1;     // "main window shown"
};

// The time stamp of a log line, in ms since the epoch; the log dates its lines in local time.
std::optional<double> stampOf(const QByteArray& line)
{
    if (line.size() < 23)
        return std::nullopt;
    const QDateTime t =
        QDateTime::fromString(QString::fromLatin1(line.left(23)), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    if (!t.isValid())
        return std::nullopt;
    return double(t.toMSecsSinceEpoch());
}

QString logFile(const QString& dataDir)
{
    QDirIterator it(dataDir + QStringLiteral("/logs"), {QStringLiteral("app.log")}, QDir::Files,
                    QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

PanelRun runPanel(const QString& program, const QString& dataDir, const QProcessEnvironment& env)
{
    PanelRun run;
    QString log = logFile(dataDir);
    const qint64 offset = log.isEmpty() ? 0 : QFileInfo(log).size();
    QProcess panel;
    panel.setProcessEnvironment(env);
    panel.setStandardOutputFile(QProcess::nullDevice());
    panel.setStandardErrorFile(QProcess::nullDevice());
    dropCaches();
    const double start = nowMs();
    panel.start(program, {});
    QElapsedTimer wait;
    wait.start();
    QByteArray seen;
    while (wait.elapsed() < 15000 && run.painted < 0) {
        QThread::usleep(2000);
        if (log.isEmpty())
            log = logFile(dataDir);
        QFile f(log);
        if (log.isEmpty() || !f.open(QIODevice::ReadOnly))
            continue;
        f.seek(offset);
        seen = f.readAll();
        for (const QByteArray& line : seen.split('\n')) {
            const std::optional<double> at = stampOf(line);
            if (!at)
                continue;
            if (run.firstLine < 0)
                run.firstLine = *at - start;
            if (line.contains("main window shown"))
                run.shown = *at - start;
            if (line.contains("first frame shown"))
                run.painted = *at - start;
        }
    }
    panel.terminate(); // the quit signal: it saves and ends as a session end would make it
    if (!panel.waitForFinished(5000)) {
        panel.kill();
        panel.waitForFinished(2000);
    }
    return run;
}

double runEmpty(const QString& program, const QProcessEnvironment& env)
{
    QProcess window;
    window.setProcessEnvironment(env);
    dropCaches();
    const double start = nowMs();
    window.start(program, {});
    if (!window.waitForFinished(15000)) {
        window.kill();
        window.waitForFinished(2000);
        return -1;
    }
    const QByteArray out = window.readAllStandardOutput();
    const qsizetype at = out.indexOf("painted ");
    return at < 0 ? -1 : out.mid(at + 8).trimmed().toDouble() - start;
}

// openbox on the display, once it manages windows (it sets the root's check window then).
QProcess* startWindowManager()
{
    auto* wm = new QProcess;
    wm->setStandardOutputFile(QProcess::nullDevice());
    wm->setStandardErrorFile(QProcess::nullDevice());
    wm->start(QStringLiteral("openbox"), {});
    if (!wm->waitForStarted(3000))
        return wm;
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 5000) {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        xprop.waitForFinished(2000);
        if (xprop.readAllStandardOutput().contains("window id"))
            break;
        QThread::msleep(50);
    }
    QThread::msleep(200); // openbox drops a window mapped while it still settles
    return wm;
}

QString g_home;
int argValue(const QStringList& args, const QString& name, int fallback)
{
    const qsizetype i = args.indexOf(name);
    return i > 0 && i + 1 < args.size() ? std::max(1, args.at(i + 1).toInt()) : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const bool inProcess = argc > 1 && qstrcmp(argv[argc - 1], "--in-process") == 0;
    std::optional<QTemporaryDir> root;
    if (!inProcess) {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            std::fprintf(stderr, "bench_startup needs a display: xvfb-run -a -s \"-screen 0 1280x1024x24\" %s\n",
                         argv[0]);
            return 1;
        }
        // --home DIR keeps the data folder there, for a profiler's run of the panel on it afterwards.
        QString home;
        for (int i = 1; i + 1 < argc; ++i) {
            if (qstrcmp(argv[i], "--home") == 0)
                home = QString::fromLocal8Bit(argv[i + 1]);
        }
        if (home.isEmpty()) {
            root.emplace();
            if (!root->isValid())
                return 1;
            home = root->path();
        }
        g_home = home;
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_DATA_HOME", (home + "/data").toUtf8());
        qputenv("XDG_CONFIG_HOME", (home + "/config").toUtf8());
        qputenv("XDG_CACHE_HOME", (home + "/cache").toUtf8());
        QDir().mkpath(home + "/run");
        QFile::setPermissions(home + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", (home + "/run").toUtf8());
        qputenv("KTR_SERVICE_HOST", "http://127.0.0.1:9");
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KestrunePanel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
    if (inProcess) {
        return runInProcess(app);
    }

    const QStringList args = app.arguments();
    const int runs = argValue(args, QStringLiteral("--runs"), 9);
    const int items = argValue(args, QStringLiteral("--items"), 2000);
    g_cold = args.contains(QStringLiteral("--cold"));
    const QString files = g_home + QStringLiteral("/files");
    QDir().mkpath(files);
    {
        ConfigStore store(appDataDir());
        if (!store.saveLayout(makeBenchLayout(files, items)))
            return 2;
    }
    const QString dir = QCoreApplication::applicationDirPath();
    const qsizetype other = args.indexOf(QStringLiteral("--panel"));
    const QString panel = other > 0 && other + 1 < args.size()
                              ? args.at(other + 1)
                              : QDir::cleanPath(dir + QStringLiteral("/../src/app/kestrune-panel"));
    const QString empty = dir + QStringLiteral("/startup_emptywindow");
    QProcess* wm = args.contains(QStringLiteral("--no-wm")) ? nullptr : startWindowManager();
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    // One pair to warm the caches, not counted.
    runPanel(panel, appDataDir(), env);
    runEmpty(empty, env);
    QList<double> ratios, panels, empties, toLog, logToShown, shownToPainted;
    std::printf("items: %d%s\n", items, g_cold ? ", cold (page cache dropped before each start)" : "");
    for (int r = 0; r < runs; ++r) {
        PanelRun p;
        double e = -1;
        if (r % 2 == 0) {
            p = runPanel(panel, appDataDir(), env);
            e = runEmpty(empty, env);
        } else {
            e = runEmpty(empty, env);
            p = runPanel(panel, appDataDir(), env);
        }
        if (p.painted <= 0 || e <= 0) {
            std::printf("run %d: failed (panel %.0f ms, empty window %.0f ms)\n", r + 1, p.painted, e);
            continue;
        }
        ratios << p.painted / e;
        panels << p.painted;
        empties << e;
        toLog << p.firstLine;
        logToShown << p.shown - p.firstLine;
        shownToPainted << p.painted - p.shown;
        std::printf("run %d: panel %.0f ms, empty window %.0f ms, ratio %.2f\n", r + 1, p.painted, e, p.painted / e);
    }
    std::printf("start to first paint, panel (median): %.0f ms\n", median(panels));
    std::printf("start to first paint, empty frameless window (median): %.0f ms\n", median(empties));
    std::printf("panel / empty window, median of the per-run ratios: %.2f ratio\n", median(ratios));
    std::printf("  panel: start to its first log line (median): %.0f ms\n", median(toLog));
    std::printf("  panel: first log line to \"main window shown\" (median): %.0f ms\n", median(logToShown));
    std::printf("  panel: \"main window shown\" to the first frame (median): %.0f ms\n", median(shownToPainted));

    // The window in a process of its own, on the same data: first icons and memory.
    std::fflush(stdout);
    QProcess self;
    QProcessEnvironment quiet = env;
    quiet.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.info=false"));
    self.setProcessEnvironment(quiet);
    self.setProcessChannelMode(QProcess::ForwardedChannels);
    self.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--in-process")});
    self.waitForFinished(120000);

    if (wm) {
        wm->terminate();
        wm->waitForFinished(3000);
        delete wm;
    }
    return 0;
}
