// Snapshot creation: every file the snapshot keeps is read once, straight from the data folder, into a zip
// under a partial name in the snapshot folder, and the zip is published under its final name by a rename
// that never replaces. The panel saves its files by atomic renames, so an open file is one whole version.

#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "platform/clock.h"
#include "platform/fileops.h"
#include "platform/fsentry.h"
#include "platform/processes.h"
#include "platform/ziparchive.h"
#include "ui/lang.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace backupdetail;

namespace {

const QString kStatus = QStringLiteral("正在创建备份快照…");

struct DataFile
{
    QString rel;
    QString abs;
    qint64 size = 0;
};

// Files of the data folder that the snapshot keeps, with the bytes they hold.
bool scanData(const Scope& scope, QList<DataFile>& files, qint64& total, const std::atomic<bool>* cancel)
{
    total = 0;
    int seen = 0;
    return walk(scope, QString(), [&](const QString& rel, const QString& abs, bool isDir) {
        if (++seen % 256 == 0 && cancel && cancel->load())
            return false;
        if (isDir)
            return true;
        const qint64 size = QFileInfo(abs).size();
        files.append({rel, abs, size});
        total += size;
        return true;
    });
}

// Reads the data files into a new zip at partial (50..98 by bytes, or by files when all are empty). A file
// that can't be opened is left out and named in warnings; one that went away since the scan is simply not
// in the snapshot.
bool packData(const QString& partial, const QList<DataFile>& files, const QSet<QString>& stored, Job& job,
              PercentReporter* reporter, QStringList* warnings)
{
    const qsizetype n = files.size();
    qint64 tb = 0;
    for (const DataFile& f : files)
        tb += f.size;
    const bool useBytes = tb > 0;
    const qint64 tw = useBytes ? tb : std::max<qint64>(1, n);
    ktr::platform::ZipWriter zip;
    QString zipError;
    if (!zip.open(partial, &zipError))
        return job.fail(zipError);
    qint64 dw = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const DataFile& f = files.at(i);
        const int fd = openDataFile(f.abs);
        if (fd < 0) {
            const int err = errno;
            if (err != ENOENT) {
                qWarning().noquote() << "createSnapshot: unreadable file skipped:" << f.abs
                                     << QString::fromLocal8Bit(std::strerror(err));
                if (warnings)
                    warnings->append(Lang::tr("无法读取，未放入快照：%1").arg(f.rel));
            }
        } else {
            bool changed = false;
            const bool added = zip.addOpenFile(
                f.rel, fd, f.abs, [&job](qint64) { return job.check(); }, &zipError, stored.contains(f.rel), &changed);
            ::close(fd);
            if (!added) {
                if (!zipError.isEmpty())
                    job.fail(zipError);
                job.check();
                return false;
            }
            if (changed) {
                qWarning().noquote() << "createSnapshot: file changed while read:" << f.abs;
                if (warnings)
                    warnings->append(Lang::tr("读取时仍在改动，快照中为读到的内容：%1").arg(f.rel));
            }
        }
        dw += useBytes ? f.size : 1;
        const qsizetype done = i + 1;
        if (reporter && (done % 8 == 0 || done == n || n <= 32))
            reporter->report(std::min(98, 50 + int(double(dw) * 48.0 / double(tw))));
        if (!job.check())
            return false;
    }
    if (!zip.finish(&zipError))
        return job.fail(zipError);
    return true;
}

// Names of the entries a restore would refuse for their inflation ratio.
QSet<QString> entriesPastRatio(const QString& zipPath)
{
    QSet<QString> out;
    ktr::platform::ZipReader reader;
    if (!reader.open(zipPath, nullptr))
        return out;
    for (const ktr::platform::ZipEntryInfo& e : reader.entries()) {
        if (e.compressedSize > 0 && e.size / e.compressedSize > kMaxInflateRatio)
            out.insert(e.name);
    }
    return out;
}

} // namespace

QString BackupEngine::createSnapshot(const QString& backupDir, const QString& dataDir, QString* errorOut,
                                     bool preRestore, Progress progress, const std::atomic<bool>* cancel,
                                     bool* cancelled, QStringList* warnings)
{
    QString unwanted;
    QString& error = errorOut ? *errorOut : unwanted;
    if (cancelled)
        *cancelled = false;
    if (warnings)
        warnings->clear();
    if (cancel && cancel->load()) {
        markCancelled(error, cancelled);
        return {};
    }
    const EngineLock lock({dataDir, backupDir}, cancel);
    if (!lock.acquired()) {
        if (lock.error().isEmpty())
            markCancelled(error, cancelled);
        else
            error = lock.error();
        return {};
    }
    makePrivatePath(backupDir);
    removeStaleParts(backupDir, 21600);

    const QString prefix = preRestore ? QStringLiteral("Kestrune-PreRestore-") : QStringLiteral("Kestrune-Auto-");
    QDateTime stampTime = backupdetail::clock()->now();
    const QDir snapshotDir(QFileInfo(backupDir).absoluteFilePath());
    const auto nameAt = [&](const QDateTime& t) {
        return snapshotDir.filePath(prefix + t.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                                    QStringLiteral(".zip"));
    };
    QString finalPath = nameAt(stampTime);
    const QString partial = finalPath + QLatin1Char('.') + runTag() + QStringLiteral(".part");
    QFile::remove(partial);

    PercentReporter reporter(progress, kStatus);
    reporter.report(1);

    const Scope scope(dataDir, backupDir);
    QList<DataFile> files;
    qint64 total = 0;
    const bool dataExists = QFileInfo(scope.root).isDir();
    if (dataExists)
        scanData(scope, files, total, cancel);
    if (cancel && cancel->load()) {
        markCancelled(error, cancelled);
        return {};
    }

    Job job(error, cancel, cancelled);
    job.start(backupTimeoutMs(total));
    // The copy tool's code for a source that can't be read: the run fails like the copy would.
    bool ok = dataExists || job.fail(QStringLiteral("robocopy failed: 16"));
    if (ok && total > 0)
        reporter.report(3);
    if (ok && job.check())
        reporter.report(48);
    else
        ok = false;
    bool published = false;

    // A file that deflates past the ratio a restore accepts (long runs of zero bytes) is packed again
    // stored, so every snapshot made here can be restored.
    QStringList packWarnings;
    if (ok) {
        ok = packData(partial, files, {}, job, &reporter, &packWarnings);
        const QSet<QString> stored = ok ? entriesPastRatio(partial) : QSet<QString>();
        if (ok && !stored.isEmpty()) {
            qInfo().noquote() << "createSnapshot: packed again with" << stored.size() << "file(s) stored";
            QFile::remove(partial);
            packWarnings.clear();
            ok = packData(partial, files, stored, job, nullptr, &packWarnings);
        }
    }

    // Publish: one rename that refuses an existing snapshot, then the folder entry made durable.
    if (ok && job.check()) {
        // Two snapshots within one millisecond (a create right after a pre-restore one) would share a name:
        // the later one takes the next free millisecond instead of failing or replacing the other.
        bool exists = false;
        QString renameError;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            exists = false;
            if (ktr::platform::renameNoReplace(partial, finalPath, &renameError, &exists)) {
                published = true;
                ktr::platform::syncPath(QFileInfo(finalPath).absolutePath());
                break;
            }
            if (!exists)
                break;
            stampTime = stampTime.addMSecs(1);
            finalPath = nameAt(stampTime);
        }
        if (!published)
            ok = job.fail(exists ? QStringLiteral("snapshot target already exists") : renameError);
    } else {
        ok = false;
    }

    if (!ok || !published) {
        QFile::remove(partial);
        return {};
    }
    if (!QFile::exists(finalPath)) {
        error = QStringLiteral("快照创建失败：未生成 zip 文件");
        return {};
    }
    if (warnings)
        *warnings = packWarnings;
    reporter.report(100);
    return finalPath;
}
