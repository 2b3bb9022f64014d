// Snapshot and restore of two data folders, side by side with zip -qr (told to leave out what the engine leaves
// out) and unzip -q on the same folder in the same run: 5,000 generated text files (200 MB), and a folder of the real
// shape (settings, layout, log days, the icon cache, icons and a few market apps with their download cache: thousands
// of small files beside a few large ones, a third of them left out of a snapshot). The engine runs on a pool thread, as
// in the program (the pool of heavy jobs, below the GUI thread's priority), its progress queued to the main thread as
// to the program's progress card; the main thread keeps an event loop turning and reports its longest block. --busy
// keeps every other core busy meanwhile.
//
// --baseline BINARY runs BINARY (this same program built against another engine, see
// bench_backup_baseline.sh) with --raw first and prints its figures beside this build's.

#include "backup/backupengine.h"
#include "benchprobe.h"
#include "ui/background.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>

// The engine of a tree from before the pool of heavy jobs (see --baseline) ran on the global pool. Where the
// program's runHeavyInBackground exists it is the better match for a call and is taken instead.
template <typename Work, typename Done, typename... Older>
auto runHeavyInBackground(QObject* context, Work work, Done done, Older...)
{
    return runInBackground(context, std::move(work), std::move(done));
}

namespace {

constexpr int kFiles = 5000;
constexpr qint64 kTotal = 200LL * 1000 * 1000;

void put(const QString& path, const QByteArray& data);

// Text-like content (words from a small vocabulary with numbers), so it packs about as well as settings,
// layouts and app data do.
void makeData(const QString& root)
{
    static const char* words[] = {"panel",  "group", "item", "icon", "path", "name",   "true",    "false", "settings",
                                  "\"x\":", "{",     "}",    "[",    "]",    "launch", "desktop", "theme", "colour"};
    QRandomGenerator rng(20260115);
    qint64 written = 0;
    for (int i = 0; i < kFiles; ++i) {
        const qint64 left = kTotal - written;
        const qint64 size =
            i == kFiles - 1 ? left : std::max<qint64>(1, (left / (kFiles - i)) * (50 + rng.bounded(100)) / 100);
        QByteArray data;
        data.reserve(int(size) + 32);
        while (data.size() < size) {
            data += words[rng.bounded(int(sizeof words / sizeof *words))];
            data += ' ';
            data += QByteArray::number(rng.bounded(100000));
            data += rng.bounded(8) == 0 ? '\n' : ' ';
        }
        data.truncate(int(size));
        const QString dir = root + QStringLiteral("/d%1/s%2").arg(i % 20).arg(i % 7);
        QDir().mkpath(dir);
        QFile f(dir + QStringLiteral("/f%1.dat").arg(i));
        f.open(QIODevice::WriteOnly);
        f.write(data);
        written += size;
    }
    put(root + QStringLiteral("/settings.json"), "{}");
}

// Incompressible bytes (images, packed app data).
QByteArray noise(QRandomGenerator& rng, qint64 size)
{
    QByteArray out(int(size), Qt::Uninitialized);
    for (qint64 i = 0; i + 4 <= size; i += 4) {
        const quint32 v = rng.generate();
        std::memcpy(out.data() + i, &v, 4);
    }
    return out;
}

QByteArray textOf(QRandomGenerator& rng, qint64 size)
{
    static const char* words[] = {"panel",  "group", "item", "icon", "path", "name",   "true",    "false", "settings",
                                  "\"x\":", "{",     "}",    "[",    "]",    "launch", "desktop", "theme", "colour"};
    QByteArray data;
    data.reserve(int(size) + 32);
    while (data.size() < size) {
        data += words[rng.bounded(int(sizeof words / sizeof *words))];
        data += ' ';
        data += QByteArray::number(rng.bounded(100000));
        data += rng.bounded(8) == 0 ? '\n' : ' ';
    }
    data.truncate(int(size));
    return data;
}

// A JSON document of about size bytes, shaped like the layout: groups of items.
QByteArray jsonOf(QRandomGenerator& rng, qint64 size)
{
    QByteArray out = "{\"groups\":[";
    while (out.size() < size) {
        out += "{\"name\":\"item" + QByteArray::number(rng.bounded(100000)) +
               "\",\"path\":\"/usr/share/applications/app" + QByteArray::number(rng.bounded(1000)) +
               ".desktop\",\"icon\":\"icons/" + QByteArray::number(rng.bounded(1900)) +
               ".png\",\"pinned\":" + (rng.bounded(2) ? "true" : "false") + "},";
    }
    out.chop(1);
    out += "]}";
    return out;
}

void put(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(data);
}

// A data folder of the real shape. Returns the number of files.
int makeRealData(const QString& root)
{
    QRandomGenerator rng(20261210);
    int files = 0;
    const auto w = [&](const QString& rel, const QByteArray& data) {
        put(root + QLatin1Char('/') + rel, data);
        ++files;
    };
    w(QStringLiteral("settings.json"), jsonOf(rng, 9000));
    w(QStringLiteral("layout.json"), jsonOf(rng, 420000));
    w(QStringLiteral("auth.json"), textOf(rng, 700));
    w(QStringLiteral("device.id"), noise(rng, 64));
    // Thirty log days (left out).
    for (int d = 0; d < 30; ++d) {
        const QString day = QStringLiteral("logs/2026-11-%1").arg(d + 1, 2, 10, QLatin1Char('0'));
        for (int k = 0; k < 4; ++k)
            w(day + QStringLiteral("/app.%1.log").arg(k), textOf(rng, 20000 + rng.bounded(60000)));
    }
    // The icon cache (left out) and the panel's own icons (kept): small images.
    for (int i = 0; i < 880; ++i)
        w(QStringLiteral("cache/icons/%1.png").arg(i), noise(rng, 1500 + rng.bounded(6000)));
    for (int i = 0; i < 1900; ++i)
        w(QStringLiteral("icons/%1/%2.png").arg(i % 16).arg(i), noise(rng, 1000 + rng.bounded(9000)));
    // Market apps: scripts and pages, one large packed file each; their download cache (left out).
    for (int a = 0; a < 4; ++a) {
        const QString app = QStringLiteral("apps/app%1").arg(a);
        w(app + QStringLiteral("/manifest.json"), textOf(rng, 2000));
        for (int i = 0; i < 148; ++i)
            w(app + QStringLiteral("/res/%1/file%2.js").arg(i % 6).arg(i), textOf(rng, 500 + rng.bounded(12000)));
        QByteArray big = noise(rng, 2500000 + rng.bounded(2000000));
        big += textOf(rng, 2000000);
        w(app + QStringLiteral("/bin/app.pak"), big);
    }
    w(QStringLiteral("apps/_cache/app1.package.zip"), noise(rng, 6000000));
    w(QStringLiteral("apps/_cache/index.json"), textOf(rng, 800));
    return files;
}

// zip packs what the engine packs: the engine leaves out folders named logs, cache, Backups and
// .__restore_bak at any depth, the market's download cache, log files and hidden entries (the folder holds no
// snapshot files, which it would leave out too). The folders here are named in lower case only.
QStringList zipArguments(const QString& archive)
{
    QStringList args = {QStringLiteral("-qr"), archive, QStringLiteral("."), QStringLiteral("-x")};
    for (const char* dir : {"logs", "cache", "Backups", ".__restore_bak"}) {
        args << QStringLiteral("%1/*").arg(QLatin1String(dir)) << QStringLiteral("*/%1/*").arg(QLatin1String(dir));
    }
    args << QStringLiteral("apps/_cache/*") << QStringLiteral("*.log") << QStringLiteral(".*")
         << QStringLiteral("*/.*");
    return args;
}

qint64 runTool(const QString& program, const QStringList& args, const QString& workDir)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(program, args);
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return t.elapsed();
}

// The most CPU the GUI thread itself used in one block, over every run of onWorker; and of the longest block,
// its CPU time and its time waiting for a core.
double g_stallOnCpu = 0;
double g_longestCpu = 0;
double g_longestWait = 0;

// Runs work on the pool while this thread turns its event loop; returns the elapsed time and raises
// *maxStall to the longest GUI-thread block seen meanwhile.
template <typename F> qint64 onWorker(F work, double* maxStall)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    GuiBlockProbe probe;
    probe.start();
    // As the program runs its snapshots and restores: on the pool whose threads run below the GUI thread.
    runHeavyInBackground(&loop, work, [&loop] { loop.quit(); });
    loop.exec();
    probe.stop();
    if (probe.longest() > *maxStall) {
        *maxStall = probe.longest();
        g_longestCpu = probe.cpuOfLongest();
        g_longestWait = probe.waitOfLongest();
    }
    g_stallOnCpu = std::max(g_stallOnCpu, probe.longestOnCpu());
    return t.elapsed();
}

// The engine's progress reaches the GUI thread as the program's progress card gets it: queued, per change.
BackupEngine::Progress toGuiThread(const std::function<void(int)>& record)
{
    return [record](int percent, const QString&) {
        QMetaObject::invokeMethod(
            qApp, [record, percent] { record(percent); }, Qt::QueuedConnection);
    };
}

struct Figures
{
    qint64 zipMs = LLONG_MAX, engineMs = LLONG_MAX, unzipMs = LLONG_MAX, restoreMs = LLONG_MAX;
    qint64 engineSize = 0, zipSize = 0;
    // Where the engine's time goes (the last round): from the start to the given progress percent.
    qint64 snapScanMs = 0, snapPackMs = 0, restUnpackMs = 0, restMoveMs = 0;
    int files = 0;
    qint64 bytes = 0;
};

// Two rounds each, the better one counted.
bool measure(const QString& base, const std::function<int(const QString&)>& make, Figures* f, double* stall)
{
    const QString data = base + QStringLiteral("/data");
    f->files = make(data);
    QDirIterator it(data, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        f->bytes += it.fileInfo().size();
    }
    const QString backups = base + QStringLiteral("/snapshots");
    const QString ref = base + QStringLiteral("/ref.zip");
    QString snapshot;
    for (int round = 0; round < 2; ++round) {
        QFile::remove(ref);
        f->zipMs = std::min(f->zipMs, runTool(QStringLiteral("zip"), zipArguments(ref), data));
        if (!snapshot.isEmpty())
            QFile::remove(snapshot);
        QString error;
        QElapsedTimer phase;
        const BackupEngine::Progress toGui = toGuiThread([](int) {});
        const auto snapProgress = [&](int p, const QString& text) {
            toGui(p, text);
            if (p <= 48)
                f->snapScanMs = phase.elapsed();
            if (p <= 98)
                f->snapPackMs = phase.elapsed();
        };
        f->engineMs = std::min(f->engineMs, onWorker(
                                                [&] {
                                                    phase.start();
                                                    snapshot = BackupEngine::createSnapshot(
                                                        backups, data, &error, false, snapProgress, nullptr, nullptr);
                                                },
                                                stall));
        if (snapshot.isEmpty()) {
            std::fprintf(stderr, "snapshot failed: %s\n", qPrintable(error));
            return false;
        }
    }
    for (int round = 0; round < 2; ++round) {
        f->unzipMs = std::min(f->unzipMs, runTool(QStringLiteral("unzip"),
                                                  {QStringLiteral("-qo"), ref, QStringLiteral("-d"), data}, data));
        QString error;
        bool ok = false;
        QElapsedTimer phase;
        const BackupEngine::Progress toGui = toGuiThread([](int) {});
        const auto restProgress = [&](int p, const QString& text) {
            toGui(p, text);
            if (p <= 60)
                f->restUnpackMs = phase.elapsed();
            if (p <= 98)
                f->restMoveMs = phase.elapsed();
        };
        f->restoreMs = std::min(f->restoreMs, onWorker(
                                                  [&] {
                                                      phase.start();
                                                      ok = BackupEngine::restoreSnapshot(
                                                          snapshot, data, &error, restProgress, nullptr, nullptr);
                                                  },
                                                  stall));
        if (!ok) {
            std::fprintf(stderr, "restore failed: %s\n", qPrintable(error));
            return false;
        }
    }
    f->engineSize = QFileInfo(snapshot).size();
    f->zipSize = QFileInfo(ref).size();
    return true;
}

QStringList rows(const Figures& f)
{
    const auto n = [](qint64 v) { return QString::number(v); };
    return {n(f.files),
            n(f.bytes),
            n(f.engineSize),
            n(f.zipSize),
            n(f.engineMs),
            n(f.zipMs),
            QString::number(double(f.engineMs) / double(f.zipMs), 'f', 2),
            n(f.restoreMs),
            n(f.unzipMs),
            QString::number(double(f.restoreMs) / double(f.unzipMs), 'f', 2),
            n(f.snapScanMs),
            n(f.snapPackMs - f.snapScanMs),
            n(f.restUnpackMs),
            n(f.restMoveMs - f.restUnpackMs)};
}

const QStringList kLabels = {QStringLiteral("files in the data folder"),
                             QStringLiteral("bytes in the data folder"),
                             QStringLiteral("snapshot size engine (bytes)"),
                             QStringLiteral("snapshot size zip -qr (bytes)"),
                             QStringLiteral("snapshot engine (ms)"),
                             QStringLiteral("snapshot zip -qr (ms)"),
                             QStringLiteral("snapshot ratio engine/zip"),
                             QStringLiteral("restore engine, with rollback (ms)"),
                             QStringLiteral("restore unzip -qo (ms)"),
                             QStringLiteral("restore ratio engine/unzip"),
                             QStringLiteral("  snapshot: to the end of the scan (ms)"),
                             QStringLiteral("  snapshot: reading and packing (ms)"),
                             QStringLiteral("  restore: to the end of unpacking (ms)"),
                             QStringLiteral("  restore: moving into place (ms)")};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool raw = args.contains(QStringLiteral("--raw"));
    const qsizetype b = args.indexOf(QStringLiteral("--baseline"));
    QStringList baseline;
    if (b > 0 && b + 1 < args.size()) {
        QProcess p;
        p.start(args.at(b + 1), {QStringLiteral("--raw")});
        p.waitForFinished(-1);
        baseline = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (p.exitCode() != 0 || baseline.size() != 2 * kLabels.size() + 1)
            std::fprintf(stderr, "baseline failed: %s\n", p.readAllStandardError().constData());
    }

    BusyCores busy(args);
    double stall = 0;
    QTemporaryDir textTmp;
    QTemporaryDir realTmp;
    Figures text;
    Figures real;
    if (!measure(
            textTmp.path(),
            [](const QString& d) {
                makeData(d);
                return kFiles;
            },
            &text, &stall) ||
        !measure(realTmp.path(), makeRealData, &real, &stall))
        return 1;
    const QStringList mine = rows(text) + rows(real);
    if (raw) {
        for (const QString& v : mine)
            std::printf("%s\n", qPrintable(v));
        std::printf("%.1f\n", stall);
        return 0;
    }
    const bool withBaseline = baseline.size() == mine.size() + 1;
    for (int part = 0; part < 2; ++part) {
        std::printf("%s\n", part == 0 ? "-- 5,000 generated text files" : "-- a data folder of the real shape");
        std::printf("%-40s %14s%s\n", "", "this build", withBaseline ? "       baseline" : "");
        for (qsizetype i = 0; i < kLabels.size(); ++i) {
            const qsizetype k = part * kLabels.size() + i;
            std::printf("%-40s %14s", qPrintable(kLabels.at(i)), qPrintable(mine.at(k)));
            if (withBaseline)
                std::printf(" %14s", qPrintable(baseline.at(k)));
            std::printf("\n");
        }
    }
    std::printf("%-40s %14.1f", "longest GUI-thread block (ms)", stall);
    if (withBaseline)
        std::printf(" %14s", qPrintable(baseline.last()));
    std::printf("\n");
    std::printf("%-40s %14.1f\n", "  most GUI-thread CPU in one block (ms)", g_stallOnCpu);
    std::printf("%-40s %14.1f\n", "  the longest block: on the CPU (ms)", g_longestCpu);
    std::printf("%-40s %14.1f\n", "  the longest block: waiting for a core (ms)", g_longestWait);
    std::printf("%-40s %14d\n", "busy-loop children on the other cores", busy.count());
    return 0;
}
