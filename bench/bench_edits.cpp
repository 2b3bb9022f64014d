// Edits of a large layout (100,000 items in 1,000 groups by default) in the panel window: for each kind of
// edit (rename a group, add one, drop a file, reorder an item, move one to another group) the longest time
// the GUI thread went without turning its event loop, from the edit until its save is on disk; then the
// time the quit holds the window for the layout, right after an edit and once everything is saved. Runs
// on its own data folder below a temporary HOME; offscreen unless a display is set.
//
// --busy keeps every other core busy meanwhile.
//
//   bench_edits [--items N] [--repeat R] [--explain] [--busy]
#include "benchlayout.h"
#include "benchprobe.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/windowfiles.h"
#include "model/configstore.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// With --explain, every event the GUI thread took longer than 4 ms to deliver is named (receiver and type),
// so a block can be traced to the handler that made it.
bool g_explain = false;

// The most CPU the GUI thread itself used in one block of an edit: the block less the time a busy machine
// kept the thread off its core.
double g_onCpu = 0;
// Of the longest block of an edit: its CPU time and its time waiting for a core.
double g_worst = 0;
double g_worstCpu = 0;
double g_worstWait = 0;

void noteBlock(double block, double cpu, double wait)
{
    g_onCpu = std::max(g_onCpu, cpu);
    if (block > g_worst) {
        g_worst = block;
        g_worstCpu = cpu;
        g_worstWait = wait;
    }
}

class ExplainingApp : public QApplication
{
public:
    using QApplication::QApplication;
    bool explain = false;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!explain)
            return QApplication::notify(receiver, event);
        QElapsedTimer t;
        t.start();
        const int type = int(event->type());
        const bool done = QApplication::notify(receiver, event);
        const double ms = t.nsecsElapsed() / 1e6;
        if (ms > 4)
            std::fprintf(stderr, "  slow event: %.1f ms, type %d to %s \"%s\"\n", ms, type,
                         receiver->metaObject()->className(), qPrintable(receiver->objectName()));
        return done;
    }
};

// The quit's wait for the layout, where the build has one (a build that saves at once has nothing to wait for).
template <typename W> void finishQuitSave(W& window)
{
    if constexpr (requires { window.files()->finishLayoutSaves(1); })
        window.files()->finishLayoutSaves(WindowFiles::kQuitLayoutSaveMs);
}

template <typename W> bool savesPending(W& window)
{
    if constexpr (requires { window.files()->finishLayoutSaves(1); })
        return !window.files()->finishLayoutSaves(0);
    else
        return false;
}

// Runs `edit` and the event loop until the file changed and the loop stood idle for settleMs; the longest
// stretch the GUI thread spent away from its loop (the edit's own call included).
double blockOf(MainWindow& window, const QString& layout, const std::function<void()>& edit, int settleMs = 400)
{
    const QDateTime before = QFileInfo(layout).lastModified();
    double longest = 0;
    QElapsedTimer sinceTick;
    double cpuSince = threadCpuMs();
    double waitSince = threadWaitMs();
    QTimer tick; // a zero timer runs once per turn of the loop: the gap between runs is how long it was held
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double block = sinceTick.nsecsElapsed() / 1e6;
        longest = std::max(longest, block);
        const double cpu = threadCpuMs();
        const double wait = threadWaitMs();
        noteBlock(block, cpu - cpuSince, wait - waitSince);
        cpuSince = cpu;
        waitSince = wait;
        sinceTick.restart();
    });
    sinceTick.start();
    tick.start(0);
    QElapsedTimer call;
    call.start();
    const double cpuBefore = threadCpuMs();
    const double waitBefore = threadWaitMs();
    edit();
    longest = std::max(longest, call.nsecsElapsed() / 1e6);
    noteBlock(call.nsecsElapsed() / 1e6, threadCpuMs() - cpuBefore, threadWaitMs() - waitBefore);
    if (g_explain)
        std::fprintf(stderr, "  the edit's own call: %.1f ms\n", call.nsecsElapsed() / 1e6);
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 20000 && (QFileInfo(layout).lastModified() == before || savesPending(window)))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    wait.restart();
    while (wait.elapsed() < settleMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    tick.stop();
    return longest;
}

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
    qputenv("XDG_RUNTIME_DIR", root.path().toUtf8());
    qputenv("KTR_SERVICE_HOST", "http://127.0.0.1:9");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.info=false");

    ExplainingApp app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KestrunePanel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
    int items = 100000;
    int repeat = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--items"))
            items = std::max(100, args[++i].toInt());
        else if (args[i] == QLatin1String("--repeat"))
            repeat = std::max(1, args[++i].toInt());
    }
    const bool explain = args.contains(QLatin1String("--explain"));

    const QString files = root.path() + QStringLiteral("/files");
    QDir().mkpath(files);
    {
        ConfigStore store(appDataDir());
        if (!store.saveLayout(makeBenchLayout(files, items)))
            return 2;
    }
    const QString layout = appDataDir() + QStringLiteral("/layout.json");

    MainWindow window;
    window.show();
    window.files()->finishLayoutNow();
    QElapsedTimer warm;
    warm.start();
    while (warm.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (window.model().groups().size() < 2)
        return 3;
    const int groups = int(window.model().groups().size());

    struct Kind
    {
        const char* label;
        std::function<void(int)> edit;
    };
    int added = 0;
    const QList<Kind> kinds{
        {"rename a group", [&](int n) { window.onRenameGroup(n % groups, QStringLiteral("renamed %1").arg(n)); }},
        {"add a group", [&](int n) { window.onCreateGroup(QStringLiteral("new %1").arg(n)); }},
        {"drop a file on a group",
         [&](int n) {
             const QString path = files + QStringLiteral("/dropped%1.txt").arg(++added);
             QFile f(path);
             if (f.open(QIODevice::WriteOnly))
                 f.write("x");
             f.close();
             window.onUrlsDroppedToGroup(n % groups, {QUrl::fromLocalFile(path)});
         }},
        {"drag an item within its group",
         [&](int n) {
             window.model().setCurrentGroup(1 + n % (groups - 1));
             window.onItemReordered(0, 50);
         }},
        {"drag an item to another group",
         [&](int n) {
             window.model().setCurrentGroup(1 + n % (groups - 1));
             window.onItemMoved(window.model().currentIndex(), 0, 0);
         }},
    };
    std::printf("items: %d in %d groups\n", items, groups);
    app.explain = g_explain = explain;
    BusyCores busy(args);
    double longest = 0;
    for (const Kind& k : kinds) {
        if (explain)
            std::fprintf(stderr, "%s:\n", k.label);
        double worst = 0;
        g_onCpu = g_worst = g_worstCpu = g_worstWait = 0;
        for (int r = 0; r < repeat; ++r)
            worst = std::max(worst, blockOf(window, layout, [&] { k.edit(r); }));
        std::printf("GUI-thread block, %s: %.1f ms (at most %.1f ms of it on the CPU)\n", k.label, worst, g_onCpu);
        std::printf("  the longest: %.1f ms on the CPU, %.1f ms waiting for a core\n", g_worstCpu, g_worstWait);
        longest = std::max(longest, worst);
    }
    std::printf("longest GUI-thread block, any edit: %.1f ms\n", longest);
    std::printf("busy-loop children on the other cores: %d\n", busy.count());

    // The quit right after an edit (its save still to write), then once all is saved.
    window.onRenameGroup(0, QStringLiteral("last edit"));
    QElapsedTimer quit;
    quit.start();
    window.saveLayout();
    finishQuitSave(window);
    std::printf("GUI-thread block at quit, right after an edit: %.1f ms\n", quit.nsecsElapsed() / 1e6);
    quit.restart();
    window.saveLayout();
    finishQuitSave(window);
    std::printf("GUI-thread block at quit, all saved: %.1f ms\n", quit.nsecsElapsed() / 1e6);

    ConfigStore check(appDataDir());
    QList<Group> saved;
    const bool ok = check.loadLayout(saved) && saved == window.model().groups();
    std::printf("layout on disk equals the model: %s\n", ok ? "yes" : "no");
    return ok ? 0 : 4;
}
