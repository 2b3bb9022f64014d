// Snapshot and restore of a 200 MB data folder of 5,000 files, side by side with zip -qr and unzip -q on the
// same folder in the same run. The engine runs on a pool thread, as in the program; the main thread keeps
// an event loop turning and reports its longest stall.

#include "backup/backupengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent>

#include <climits>
#include <cstdio>

namespace {

constexpr int kFiles = 5000;
constexpr qint64 kTotal = 200LL * 1000 * 1000;

// Text-like content (words from a small vocabulary with numbers), so it packs about as well as settings,
// layouts and app data do.
void makeData(const QString& root)
{
    static const char* words[] = {"panel", "group", "item", "icon", "path", "name", "true", "false", "settings",
                                  "\"x\":", "{", "}", "[", "]", "launch", "desktop", "theme", "colour"};
    QRandomGenerator rng(20260115);
    qint64 written = 0;
    for (int i = 0; i < kFiles; ++i) {
        const qint64 left = kTotal - written;
        const qint64 size = i == kFiles - 1 ? left : std::max<qint64>(1, (left / (kFiles - i)) * (50 + rng.bounded(100)) / 100);
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

// Runs work on the pool while this thread turns its event loop; returns the elapsed time and the longest
// gap between two ticks of a 5 ms timer.
template <typename F> qint64 onWorker(F work, qint64* maxStall)
{
    QElapsedTimer t;
    t.start();
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    QElapsedTimer tick;
    tick.start();
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        *maxStall = std::max(*maxStall, tick.restart());
    });
    timer.start();
    watcher.setFuture(QtConcurrent::run(work));
    loop.exec();
    return t.elapsed();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString data = tmp.path() + QStringLiteral("/data");
    makeData(data);
    const QString backups = tmp.path() + QStringLiteral("/snapshots");
    qint64 stall = 0;

    qint64 zipMs = LLONG_MAX, engineMs = LLONG_MAX, unzipMs = LLONG_MAX, restoreMs = LLONG_MAX;
    QString snapshot;
    for (int round = 0; round < 2; ++round) {
        QFile::remove(tmp.path() + QStringLiteral("/ref.zip"));
        zipMs = std::min(zipMs, runTool(QStringLiteral("zip"), {QStringLiteral("-qr"), tmp.path() + QStringLiteral("/ref.zip"), QStringLiteral(".")}, data));
        if (!snapshot.isEmpty())
            QFile::remove(snapshot);
        QString error;
        engineMs = std::min(engineMs, onWorker([&] {
            snapshot = BackupEngine::createSnapshot(backups, data, error, false, {}, nullptr, nullptr);
        }, &stall));
        if (snapshot.isEmpty()) {
            std::fprintf(stderr, "snapshot failed: %s\n", qPrintable(error));
            return 1;
        }
    }
    for (int round = 0; round < 2; ++round) {
        unzipMs = std::min(unzipMs, runTool(QStringLiteral("unzip"), {QStringLiteral("-qo"), tmp.path() + QStringLiteral("/ref.zip"), QStringLiteral("-d"), data}, data));
        QString error;
        bool ok = false;
        restoreMs = std::min(restoreMs, onWorker([&] {
            ok = BackupEngine::restoreSnapshot(snapshot, data, error, {}, nullptr, nullptr);
        }, &stall));
        if (!ok) {
            std::fprintf(stderr, "restore failed: %s\n", qPrintable(error));
            return 1;
        }
    }
    std::printf("data folder: %d files, %lld bytes\n", kFiles, kTotal);
    std::printf("snapshot size engine: %lld bytes\n", QFileInfo(snapshot).size());
    std::printf("snapshot size zip -qr: %lld bytes\n", QFileInfo(tmp.path() + QStringLiteral("/ref.zip")).size());
    std::printf("snapshot engine: %lld ms\n", engineMs);
    std::printf("snapshot zip -qr: %lld ms\n", zipMs);
    std::printf("snapshot ratio engine/zip: %.2f x\n", double(engineMs) / double(zipMs));
    std::printf("restore engine (over the data folder, with rollback): %lld ms\n", restoreMs);
    std::printf("restore unzip -q: %lld ms\n", unzipMs);
    std::printf("restore ratio engine/unzip: %.2f x\n", double(restoreMs) / double(unzipMs));
    std::printf("gui thread longest stall: %lld ms\n", stall);
    return 0;
}
