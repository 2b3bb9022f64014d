// The real executable under X: idle wake-ups and CPU over 30 s, exec to window mapped and painted, RSS and
// PSS 10 s after the start, on layouts of 2,000 and 20,000 items, undocked and docked, beside an empty
// frameless Qt window (bench_idle_floor, built with this program) measured in the same run. Every program
// runs with its own HOME below a temporary folder; figures come from /proc.
//
//   bench_idle [--runs N] [--idle-seconds S] [--items 2000,20000] [--no-dock] [--compare] [--panel EXE]
//              [--warm] [--distinct-images] [--idle-after S] [--visit-groups]
//
// --visit-groups: once the idle window has been measured, an undocked panel is shown every group of its
// layout in turn (a click on each in the sidebar, scrolling it with the wheel) and its memory read again.
//
// Each run starts cold (a fresh HOME: no icon snapshots, no caches of the program); --warm starts the panel
// once on its HOME before the measured start, so that one finds its snapshots and the page cache warm.
//
// Needs DISPLAY (an Xvfb with or without a window manager; docking needs one that moves windows, such as
// openbox). --compare also measures plank and lxqt-panel when they are installed. --panel, given more than
// once, measures each build in every run, side by side (a before/after comparison that shares the machine's
// moods). With several runs the medians are printed.
#include "benchlayout.h"
#include "model/configstore.h"
#include "model/panelmodel.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QPoint>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    double mappedPaintedMs = -1;
    double settledMs = -1; // the last change of the window's pixels in its first seconds: its icons shown
    double wakeupsPerSecond = -1;
    double cpuMsPerMinute = -1;
    double rssMb = -1;
    double pssMb = -1;
    double visitedRssMb = -1; // after every group was shown once
    double visitedPssMb = -1;
};

// ---- /proc ----------------------------------------------------------------------------------------------

// Context switches (each one a wake-up of a sleeping thread or a preemption) and CPU time, per thread of a
// process: a thread that ends between two samples must not take its counts away from the others.
struct ThreadUsage
{
    qint64 switches = 0;
    qint64 cpuNs = 0;
};
using Usage = QMap<QString, ThreadUsage>;

Usage usageOf(qint64 pid)
{
    Usage u;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadUsage t;
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                    t.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
            }
        }
        // schedstat: nanoseconds on the CPU, nanoseconds waiting, time slices.
        QFile sched(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (sched.open(QIODevice::ReadOnly))
            t.cpuNs = sched.readAll().split(' ').value(0).toLongLong();
        u.insert(tid, t);
    }
    return u;
}

// What happened between two samples: threads in both count their difference, threads born meanwhile all of
// theirs (what threads that ended meanwhile did after the first sample is lost).
ThreadUsage delta(const Usage& before, const Usage& after)
{
    ThreadUsage d;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const ThreadUsage b = before.value(it.key());
        d.switches += std::max<qint64>(0, it->switches - b.switches);
        d.cpuNs += std::max<qint64>(0, it->cpuNs - b.cpuNs);
    }
    return d;
}

void memoryOf(qint64 pid, Figures* f)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        const double kb = line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble();
        if (line.startsWith("Rss:"))
            f->rssMb = kb / 1024.0;
        else if (line.startsWith("Pss:"))
            f->pssMb = kb / 1024.0;
    }
}

// ---- X --------------------------------------------------------------------------------------------------

// The root window's pixels before a program maps its window: "painted" is the moment the screen shows
// something else where the window lies.
class Screen
{
public:
    Screen() : m_dpy(XOpenDisplay(nullptr)) {}
    ~Screen()
    {
        if (m_before)
            XDestroyImage(m_before);
        if (m_dpy)
            XCloseDisplay(m_dpy);
    }
    bool ok() const { return m_dpy != nullptr; }

    void watchMaps()
    {
        XSelectInput(m_dpy, DefaultRootWindow(m_dpy), SubstructureNotifyMask);
        XSync(m_dpy, True); // drop what came before
    }

    // The whole screen as it is now, to compare with later.
    void remember()
    {
        if (m_before)
            XDestroyImage(m_before);
        const int sw = DisplayWidth(m_dpy, DefaultScreen(m_dpy));
        const int sh = DisplayHeight(m_dpy, DefaultScreen(m_dpy));
        m_before = XGetImage(m_dpy, DefaultRootWindow(m_dpy), 0, 0, sw, sh, AllPlanes, ZPixmap);
    }
    // The pixels of a rectangle of the screen as they are now.
    QByteArray grab(int x, int y, int w, int h)
    {
        const int sw = DisplayWidth(m_dpy, DefaultScreen(m_dpy));
        const int sh = DisplayHeight(m_dpy, DefaultScreen(m_dpy));
        x = std::max(0, x);
        y = std::max(0, y);
        w = std::min(w, sw - x);
        h = std::min(h, sh - y);
        if (w <= 0 || h <= 0)
            return {};
        XImage* img = XGetImage(m_dpy, DefaultRootWindow(m_dpy), x, y, w, h, AllPlanes, ZPixmap);
        if (!img)
            return {};
        QByteArray bytes(img->data, img->bytes_per_line * img->height);
        XDestroyImage(img);
        return bytes;
    }

    // Where the pointer rests while a program starts: near the bottom right corner, off the centred window
    // and off the edges and bottom panels.
    QPoint restPoint() const
    {
        return {DisplayWidth(m_dpy, DefaultScreen(m_dpy)) - 40, DisplayHeight(m_dpy, DefaultScreen(m_dpy)) - 80};
    }

    bool changed(int x, int y) { return !m_before || pixel(x, y) != XGetPixel(m_before, x, y); }

    unsigned long pixel(int x, int y)
    {
        XImage* img = XGetImage(m_dpy, DefaultRootWindow(m_dpy), x, y, 1, 1, AllPlanes, ZPixmap);
        if (!img)
            return 0;
        const unsigned long p = XGetPixel(img, 0, 0);
        XDestroyImage(img);
        return p;
    }

    // The rectangle of the next top-level window mapped that is at least min wide and high, in root
    // coordinates; an invalid rectangle after timeoutMs.
    bool nextMapped(int minSide, int timeoutMs, int* x, int* y, int* w, int* h)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            while (XPending(m_dpy) > 0) {
                XEvent ev;
                XNextEvent(m_dpy, &ev);
                if (ev.type != MapNotify)
                    continue;
                XWindowAttributes a{};
                if (!XGetWindowAttributes(m_dpy, ev.xmap.window, &a) || a.width < minSide || a.height < minSide)
                    continue;
                Window child = 0;
                XTranslateCoordinates(m_dpy, ev.xmap.window, DefaultRootWindow(m_dpy), 0, 0, x, y, &child);
                *w = a.width;
                *h = a.height;
                return true;
            }
            QThread::usleep(200);
        }
        return false;
    }

    void sampleGrid(int x, int y, int w, int h, std::vector<QPoint>* points)
    {
        points->clear();
        const int sw = DisplayWidth(m_dpy, DefaultScreen(m_dpy));
        const int sh = DisplayHeight(m_dpy, DefaultScreen(m_dpy));
        for (int i = 1; i <= 5; ++i) {
            for (int j = 1; j <= 5; ++j) {
                const int px = x + w * i / 6;
                const int py = y + h * j / 6;
                if (px >= 0 && py >= 0 && px < sw && py < sh)
                    points->push_back(QPoint(px, py));
            }
        }
    }

    // The top-left corner of the first top-level window whose _NET_WM_PID is pid (y of its frame), or false.
    bool windowTopOf(qint64 pid, int* top)
    {
        const Atom pidAtom = XInternAtom(m_dpy, "_NET_WM_PID", True);
        if (pidAtom == None)
            return false;
        return findPid(DefaultRootWindow(m_dpy), pidAtom, pid, top, 0);
    }

private:
    bool findPid(Window w, Atom pidAtom, qint64 pid, int* top, int depth)
    {
        Atom type = None;
        int format = 0;
        unsigned long n = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_dpy, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after, &data) ==
                Success &&
            data) {
            const bool match = n == 1 && qint64(*reinterpret_cast<unsigned long*>(data)) == pid;
            XFree(data);
            XWindowAttributes a{};
            if (match && XGetWindowAttributes(m_dpy, w, &a) && a.map_state == IsViewable && a.width > 100) {
                int x = 0;
                Window child = 0;
                XTranslateCoordinates(m_dpy, w, DefaultRootWindow(m_dpy), 0, 0, &x, top, &child);
                return true;
            }
        }
        if (depth > 2)
            return false;
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_dpy, w, &root, &parent, &children, &count))
            return false;
        bool found = false;
        for (unsigned int i = 0; i < count && !found; ++i)
            found = findPid(children[i], pidAtom, pid, top, depth + 1);
        if (children)
            XFree(children);
        return found;
    }

    Display* m_dpy;
    XImage* m_before = nullptr;
};

bool xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(5000) && p.exitCode() == 0;
}

// ---- one program ----------------------------------------------------------------------------------------

struct Program
{
    QString label;
    QString executable;
    QStringList arguments;
    QString home; // a fresh HOME (with its XDG folders) for the program
    bool dock = false;
    int items = 0; // a panel's layout; 0 for the other programs
    bool visitGroups = false;
};

void waitMs(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QThread::msleep(std::min<qint64>(50, ms - t.elapsed() + 1));
}

// Drags a window by its title strip to the top edge of the screen, where the panel docks; true when the
// window ended up above the screen's top (hidden in its edge).
bool dockToTop(Screen& screen, qint64 pid, int x, int y, int w)
{
    const QString cx = QString::number(x + w / 2);
    const QString cy = QString::number(y + 12);
    if (!xdotool({QStringLiteral("mousemove"), cx, cy}) || !xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}))
        return false;
    for (int step = 0; step < 10; ++step) {
        xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("0"),
                 QString::number(-(y + 20) / 10 - 1)});
        waitMs(30);
    }
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    // Away from the strip, so the dock hides the window and the pointer then rests.
    waitMs(300);
    xdotool({QStringLiteral("mousemove"), cx, QStringLiteral("700")});
    xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("1"), QStringLiteral("0")});
    waitMs(1500);
    int top = 0;
    return screen.windowTopOf(pid, &top) && top < 0;
}

// Shows every group of a panel whose window lies at (x, y) with height h, as a user would: a click on its
// row in the sidebar, the sidebar scrolled down one row per group with the wheel. The sidebar's rows are
// 34 px apart from 10 px below its top (28 px below the window's), above the "new group" button's 50 px.
void visitGroups(int x, int y, int h, int groups)
{
    constexpr int kPitch = 34;
    const int listHeight = (h - 56) - 10 - 50;
    const int maxScroll = std::max(0, kPitch * groups - listHeight);
    const QString cx = QString::number(x + 86);
    int scroll = 0;
    for (int i = 0; i < groups; ++i) {
        const int want = std::min(kPitch * i, maxScroll);
        xdotool({QStringLiteral("mousemove"), cx, QString::number(y + 28 + 60)});
        while (scroll < want) {
            xdotool({QStringLiteral("click"), QStringLiteral("5")});
            scroll = std::min(scroll + kPitch, maxScroll);
        }
        const int rowY = y + 28 + 10 + kPitch * i + 15 - scroll;
        xdotool({QStringLiteral("mousemove"), cx, QString::number(rowY)});
        xdotool({QStringLiteral("click"), QStringLiteral("1")});
        waitMs(300); // its icons come from the memory cache or their snapshots
    }
    // Off the window, so nothing is hovered while the memory is read.
    xdotool({QStringLiteral("mousemove"), QString::number(x + 400), QString::number(y + h + 200)});
    waitMs(2000);
}

Figures measure(const Program& prog, int idleSeconds, int idleAfterSeconds, bool* docked)
{
    Figures f;
    Screen screen;
    if (!screen.ok())
        return f;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), prog.home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), prog.home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), prog.home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), prog.home + QStringLiteral("/cache"));
    // A runtime folder of its own: a panel already running elsewhere would otherwise take this start as a
    // second instance.
    // It lies in memory, as a session's /run/user folder does: the single-instance lock's flush is free there
    // and would otherwise wait for the disk behind the layouts this benchmark has just written.
    const QString shm = QStringLiteral("/dev/shm");
    const QString runtime = (QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : prog.home) +
                            QStringLiteral("/ktr-bench-runtime-") + QFileInfo(prog.home).fileName();
    QDir(runtime).removeRecursively();
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // Nothing may reach the real service: a loopback port where nobody listens.
    env.insert(QStringLiteral("KTR_SERVICE_HOST"), QStringLiteral("http://127.0.0.1:9"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.info=false"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    // The pointer rests away from every window and edge while the program starts (over a cell of the grid
    // it would start the cell's hover animation, which the settled time would count).
    const QPoint rest = screen.restPoint();
    xdotool({QStringLiteral("mousemove"), QString::number(rest.x()), QString::number(rest.y())});
    waitMs(200);
    screen.remember();
    screen.watchMaps();
    QProcess proc;
    proc.setProcessEnvironment(env);
    proc.setProgram(prog.executable);
    proc.setArguments(prog.arguments);
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer sinceExec;
    sinceExec.start();
    proc.start();
    if (!proc.waitForStarted(5000))
        return f;
    const qint64 pid = proc.processId();

    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    if (screen.nextMapped(60, 20000, &x, &y, &w, &h)) {
        std::vector<QPoint> points;
        screen.sampleGrid(x, y, w, h, &points);
        // Until the window draws, the screen still shows what was there before it.
        while (sinceExec.elapsed() < 20000) {
            bool drawn = false;
            for (const QPoint& p : points) {
                if (screen.changed(p.x(), p.y())) {
                    drawn = true;
                    break;
                }
            }
            if (drawn) {
                f.mappedPaintedMs = double(sinceExec.nsecsElapsed()) / 1e6;
                break;
            }
            QThread::usleep(500);
        }
        // Then the window fills in (the icons of its first group): the time of the last change of its pixels
        // until they have stood still for 1.5 s, within 5 s of the start.
        if (f.mappedPaintedMs >= 0) {
            QByteArray last = screen.grab(x, y, w, h);
            f.settledMs = double(sinceExec.nsecsElapsed()) / 1e6;
            while (sinceExec.elapsed() < 5000 && double(sinceExec.elapsed()) - f.settledMs < 1500) {
                const QByteArray now = screen.grab(x, y, w, h);
                if (now != last) {
                    f.settledMs = double(sinceExec.nsecsElapsed()) / 1e6;
                    last = now;
                }
                QThread::usleep(1000);
            }
        }
    }

    if (prog.dock) {
        waitMs(3000);
        *docked = dockToTop(screen, pid, x, y, w);
    }
    // Settled: icons loaded, start-up steps done. Memory 10 s after the start; the idle window opens then or
    // later (--idle-after), past the start's one-time steps.
    waitMs(int(std::max<qint64>(0, 10000 - sinceExec.elapsed())));
    memoryOf(pid, &f);
    waitMs(int(std::max<qint64>(0, idleAfterSeconds * 1000 - sinceExec.elapsed())));
    const Usage before = usageOf(pid);
    QElapsedTimer idle;
    idle.start();
    waitMs(idleSeconds * 1000);
    const Usage after = usageOf(pid);
    const double seconds = double(idle.nsecsElapsed()) / 1e9;
    const ThreadUsage d = delta(before, after);
    f.wakeupsPerSecond = double(d.switches) / seconds;
    f.cpuMsPerMinute = double(d.cpuNs) / 1e6 / seconds * 60.0;
    if (prog.visitGroups && !prog.dock && prog.items > 0 && w > 0) {
        visitGroups(x, y, h, (prog.items + 99) / 100);
        Figures visited;
        memoryOf(pid, &visited);
        f.visitedRssMb = visited.rssMb;
        f.visitedPssMb = visited.pssMb;
    }

    proc.terminate();
    if (!proc.waitForFinished(5000)) {
        proc.kill();
        proc.waitForFinished(2000);
    }
    QDir(runtime).removeRecursively();
    return f;
}

// ---- layouts --------------------------------------------------------------------------------------------

// The benchmark layout of count items, written as the panel's layout below home. With distinctImages its
// ".png" items are real 256 px pictures, each of its own colour, so every one shows an icon of its own (as a
// folder of photos does) instead of the shared theme icon of a file type.
bool writeLayout(const QString& home, int count, bool distinctImages)
{
    const QString files = home + QStringLiteral("/files");
    QDir().mkpath(files);
    const QList<Group> groups = makeBenchLayout(files, count);
    if (distinctImages) {
        int n = 0;
        for (const Group& g : groups) {
            for (const Item& item : g.items) {
                if (!item.path.endsWith(QLatin1String(".png")))
                    continue;
                QImage image(256, 256, QImage::Format_RGB32);
                image.fill(QColor::fromHsv((n * 37) % 360, 80 + (n * 13) % 176, 120 + (n * 7) % 136));
                ++n;
                if (!image.save(item.path, "PNG"))
                    return false;
            }
        }
    }
    // The folder the panel's appDataDir() gives under the HOME and XDG_DATA_HOME it is started with (this
    // process's own appDataDir() is fixed at its first use, so it can't be asked for each program).
    const QString dataDir = home + QStringLiteral("/data/") + QCoreApplication::organizationName() + QLatin1Char('/') +
                            QCoreApplication::applicationName();
    if (!QDir().mkpath(dataDir))
        return false;
    bool ok = false;
    {
        ConfigStore store(dataDir);
        ok = store.saveLayout(groups);
    }
    return ok;
}

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return x < 0; }), v.end());
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

QString siblingExecutable(const QString& name)
{
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {here + QLatin1Char('/') + name, here + QStringLiteral("/../src/app/") + name}) {
        if (QFile::exists(candidate))
            return QDir::cleanPath(candidate);
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KestrunePanel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
    int runs = 1;
    int idleSeconds = 30;
    int idleAfterSeconds = 10;
    QList<int> itemCounts{2000, 20000};
    bool withDock = true;
    bool compare = false;
    bool warm = false;
    bool distinctImages = false;
    bool visit = false;
    QStringList panelOverrides; // other builds' executables, measured side by side for a before/after comparison
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--idle-after") && i + 1 < args.size())
            idleAfterSeconds = std::max(10, args[++i].toInt());
        else if (args[i] == QLatin1String("--idle-seconds") && i + 1 < args.size())
            idleSeconds = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--items") && i + 1 < args.size()) {
            itemCounts.clear();
            for (const QString& n : args[++i].split(QLatin1Char(',')))
                itemCounts << n.toInt();
        } else if (args[i] == QLatin1String("--no-dock"))
            withDock = false;
        else if (args[i] == QLatin1String("--compare"))
            compare = true;
        else if (args[i] == QLatin1String("--distinct-images"))
            distinctImages = true;
        else if (args[i] == QLatin1String("--warm"))
            warm = true;
        else if (args[i] == QLatin1String("--visit-groups"))
            visit = true;
        else if (args[i] == QLatin1String("--panel") && i + 1 < args.size())
            panelOverrides << args[++i];
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_idle needs DISPLAY (an Xvfb)\n");
        return 1;
    }
    const QStringList panels =
        panelOverrides.isEmpty() ? QStringList{siblingExecutable(QStringLiteral("kestrune-panel"))} : panelOverrides;
    const QString floor = siblingExecutable(QStringLiteral("bench_idle_floor"));
    if (panels.contains(QString()) || floor.isEmpty()) {
        std::fprintf(stderr, "kestrune-panel or bench_idle_floor not found beside %s\n",
                     qPrintable(QCoreApplication::applicationDirPath()));
        return 1;
    }
    QTemporaryDir root;
    if (!root.isValid())
        return 1;

    QList<Program> programs;
    programs.append({QStringLiteral("empty frameless Qt window"), floor, {}, {}, false});
    for (int count : std::as_const(itemCounts)) {
        for (bool dock : {false, true}) {
            if (dock && !withDock)
                continue;
            for (const QString& panel : panels) {
                // Several builds are told apart by their folders
                // (by the whole path: two builds' executables lie in folders of the same name)
                const QString name = panels.size() > 1 ? QStringLiteral("panel (%1)").arg(QDir::cleanPath(panel))
                                                       : QStringLiteral("panel");
                programs.append(
                    {QStringLiteral("%1, %2 items, %3").arg(name).arg(count).arg(dock ? "docked" : "undocked"),
                     panel,
                     {},
                     {},
                     dock,
                     count,
                     visit});
            }
        }
    }
    if (compare) {
        for (const char* name : {"plank", "lxqt-panel"}) {
            const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(name));
            if (!exe.isEmpty())
                programs.append({QString::fromLatin1(name), exe, {}, {}, false});
        }
    }

    QMap<QString, QList<Figures>> results;
    QMap<QString, bool> dockedAll;
    int homes = 0;
    for (int run = 0; run < runs; ++run) {
        for (Program p : std::as_const(programs)) {
            // A fresh HOME each run: a cold start (no snapshots, no caches of the program).
            p.home = root.path() + QStringLiteral("/home%1").arg(++homes);
            QDir().mkpath(p.home);
            if (p.items > 0) {
                if (!writeLayout(p.home, p.items, distinctImages)) {
                    std::fprintf(stderr, "layout not written for %s\n", qPrintable(p.label));
                    continue;
                }
            }
            bool docked = false;
            if (warm && p.items > 0) {
                Program first = p;
                first.dock = false;
                measure(first, 1, 10, &docked);
            }
            const Figures f = measure(p, idleSeconds, idleAfterSeconds, &docked);
            results[p.label].append(f);
            if (p.dock)
                dockedAll[p.label] = dockedAll.value(p.label, true) && docked;
            std::fprintf(stderr, "run %d: %s done\n", run + 1, qPrintable(p.label));
        }
    }

    const auto med = [&](const QString& label, double Figures::*field) {
        std::vector<double> v;
        for (const Figures& f : results.value(label))
            v.push_back(f.*field);
        return median(v);
    };
    const QString floorLabel = programs.first().label;
    const double floorMs = med(floorLabel, &Figures::mappedPaintedMs);
    const double floorWake = med(floorLabel, &Figures::wakeupsPerSecond);
    const double floorCpu = med(floorLabel, &Figures::cpuMsPerMinute);
    const double floorRss = med(floorLabel, &Figures::rssMb);
    const double floorPss = med(floorLabel, &Figures::pssMb);
    const auto ratio = [](double v, double base) { return base > 0 && v >= 0 ? v / base : -1.0; };
    std::printf("runs: %d\n", runs);
    std::printf("idle window: %d s, from %d s after the start\n", idleSeconds, idleAfterSeconds);
    std::printf("start: %s\n", warm ? "warm (second start on the same HOME)" : "cold (a fresh HOME)");
    std::printf("items: %s\n", distinctImages ? "an eighth are distinct 256 px pictures" : "files of eight types");
    for (const Program& p : std::as_const(programs)) {
        const QByteArray l = p.label.toUtf8();
        const double ms = med(p.label, &Figures::mappedPaintedMs);
        const double settled = med(p.label, &Figures::settledMs);
        const double wake = med(p.label, &Figures::wakeupsPerSecond);
        const double cpu = med(p.label, &Figures::cpuMsPerMinute);
        const double rss = med(p.label, &Figures::rssMb);
        const double pss = med(p.label, &Figures::pssMb);
        if (p.dock)
            std::printf("%s, docking worked: %s\n", l.constData(), dockedAll.value(p.label) ? "yes" : "no");
        std::printf("%s, exec to mapped and painted: %.1f ms\n", l.constData(), ms);
        std::printf("%s, exec to mapped and painted, ratio to the empty window: %.2f x\n", l.constData(),
                    ratio(ms, floorMs));
        std::printf("%s, exec to the window's pixels settled (its first icons shown): %.1f ms\n", l.constData(),
                    settled);
        std::printf("%s, idle wake-ups: %.3f per s\n", l.constData(), wake);
        std::printf("%s, idle wake-ups, ratio to the empty window: %.2f x\n", l.constData(), ratio(wake, floorWake));
        std::printf("%s, idle CPU: %.2f ms per min\n", l.constData(), cpu);
        std::printf("%s, idle CPU, ratio to the empty window: %.2f x\n", l.constData(), ratio(cpu, floorCpu));
        std::printf("%s, RSS 10 s after start: %.1f MB\n", l.constData(), rss);
        std::printf("%s, RSS, ratio to the empty window: %.2f x\n", l.constData(), ratio(rss, floorRss));
        std::printf("%s, PSS 10 s after start: %.1f MB\n", l.constData(), pss);
        std::printf("%s, PSS, ratio to the empty window: %.2f x\n", l.constData(), ratio(pss, floorPss));
        if (p.visitGroups && !p.dock && p.items > 0) {
            std::printf("%s, RSS after visiting every group: %.1f MB\n", l.constData(),
                        med(p.label, &Figures::visitedRssMb));
            std::printf("%s, PSS after visiting every group: %.1f MB\n", l.constData(),
                        med(p.label, &Figures::visitedPssMb));
        }
    }
    return 0;
}
