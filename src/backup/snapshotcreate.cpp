// Snapshot creation: the data folder is copied into a fresh work folder, the copy is packed into a zip
// under a partial name, and the zip is published under its final name by a rename that never replaces.

#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "platform/clock.h"
#include "platform/fileops.h"
#include "platform/fsentry.h"
#include "platform/processes.h"
#include "platform/ziparchive.h"

#include <QDebug>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

using namespace backupdetail;

namespace {

const QString kStatus = QStringLiteral("正在创建备份快照…");

struct WorkFile
{
    QString rel;
    QString abs;
    qint64 size = 0;
};

void removeWorkFolder(const QString& work)
{
    if (!removeTree(work))
        qWarning().noquote() << "createSnapshot: temp dir cleanup failed:" << work;
}

// Files and folders of the data folder that the snapshot keeps, with the bytes they hold.
bool scanData(const Scope& scope, QList<WorkFile>& files, QStringList& dirs, qint64& total,
              const std::atomic<bool>* cancel)
{
    total = 0;
    int seen = 0;
    return walk(scope, QString(), [&](const QString& rel, const QString& abs, bool isDir) {
        if (++seen % 256 == 0 && cancel && cancel->load())
            return false;
        if (isDir) {
            dirs.append(rel);
            return true;
        }
        const qint64 size = QFileInfo(abs).size();
        files.append({rel, abs, size});
        total += size;
        return true;
    });
}

// Writes the work folder's files into a new zip at partial; reporter (when given) gets the cadence.
bool packWorkFolder(const QString& partial, const QString& work, const QList<WorkFile>& packed,
                    const QSet<QString>& stored, Job& job, PercentReporter* reporter)
{
    const qsizetype n = packed.size();
    qint64 tb = 0;
    for (const WorkFile& f : packed)
        tb += f.size;
    const bool useBytes = tb > 0;
    const qint64 tw = useBytes ? tb : std::max<qint64>(1, n);
    ktr::platform::ZipWriter zip;
    QString zipError;
    if (!zip.open(partial, &zipError))
        return job.fail(zipError);
    qint64 dw = 0;
    const QString rootTmp = QDir::cleanPath(work) + QLatin1Char('/');
    for (qsizetype i = 0; i < n; ++i) {
        const WorkFile& f = packed.at(i);
        if (!QDir::cleanPath(f.abs).startsWith(rootTmp))
            return job.fail(QStringLiteral("unsafe snapshot source"));
        const bool added =
            zip.addFile(f.rel, f.abs, [&job](qint64) { return job.check(); }, &zipError, stored.contains(f.rel));
        if (!added) {
            if (!zipError.isEmpty())
                job.fail(zipError);
            job.check();
            return false;
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

QString BackupEngine::createSnapshot(const QString& backupDir, const QString& dataDir, QString& error, bool preRestore,
                                     Progress progress, const std::atomic<bool>* cancel, bool* cancelled)
{
    if (cancelled)
        *cancelled = false;
    if (cancel && cancel->load()) {
        markCancelled(error, cancelled);
        return {};
    }
    const EngineLock lock({dataDir, backupDir}, cancel);
    if (!lock.acquired()) {
        markCancelled(error, cancelled);
        return {};
    }
    QDir().mkpath(backupDir);
    removeStaleParts(backupDir, 21600);

    const QString prefix = preRestore ? QStringLiteral("Kestrune-PreRestore-") : QStringLiteral("Kestrune-Auto-");
    QDateTime stampTime = backupdetail::clock()->now();
    const QDir snapshotDir(QFileInfo(backupDir).absoluteFilePath());
    const auto nameAt = [&](const QDateTime& t) {
        return snapshotDir.filePath(prefix + t.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QStringLiteral(".zip"));
    };
    QString finalPath = nameAt(stampTime);
    const QString partial = finalPath + QStringLiteral(".%1.part").arg(ktr::platform::currentProcessId());
    const QString work =
        QDir(QDir::tempPath()).absoluteFilePath(QStringLiteral("ktrbak_") + QUuid::createUuid().toString(QUuid::WithoutBraces));
    QFile::remove(partial);

    PercentReporter reporter(progress, kStatus);
    reporter.report(1);

    const Scope scope(dataDir, backupDir);
    QList<WorkFile> files;
    QStringList dirs;
    qint64 total = 0;
    const bool dataExists = QFileInfo(scope.root).isDir();
    if (dataExists)
        scanData(scope, files, dirs, total, cancel);
    if (cancel && cancel->load()) {
        removeWorkFolder(work);
        markCancelled(error, cancelled);
        return {};
    }

    Job job(error, cancel, cancelled);
    job.start(backupTimeoutMs(total));
    bool ok = true;
    bool published = false;

    // Copy into the work folder, empty folders included (3..48 by bytes copied).
    const auto copyPercent = [total](qint64 copied) {
        if (total < 1 || copied > total)
            return 48;
        return std::min(48, 3 + int(double(copied) / double(total) * 45.0));
    };
    if (!dataExists) {
        // The copy tool's code for a source that can't be read: the run fails like the copy would.
        ok = job.fail(QStringLiteral("robocopy failed: 16"));
    } else if (!QDir().mkpath(work)) {
        ok = job.fail(QStringLiteral("robocopy failed: 16"));
    }
    qint64 copied = 0;
    if (ok) {
        reporter.report(copyPercent(0));
        for (const QString& rel : dirs) {
            if (!QDir().mkpath(work + QLatin1Char('/') + rel)) {
                ok = job.fail(QStringLiteral("robocopy failed: 8"));
                break;
            }
        }
    }
    QList<WorkFile> packed;
    for (qsizetype i = 0; ok && i < files.size(); ++i) {
        if (!job.check()) {
            ok = false;
            break;
        }
        const WorkFile& f = files.at(i);
        const QString target = work + QLatin1Char('/') + f.rel;
        QString copyError;
        if (!ktr::platform::copyFileKeepTime(f.abs, target, &copyError)) {
            // A file that went away since the scan is simply not in the snapshot; any other failure fails
            // the run, as a copy with failed files does.
            if (!ktr::platform::entryStat(f.abs).exists)
                continue;
            qWarning().noquote() << "createSnapshot: copy failed:" << copyError;
            ok = job.fail(QStringLiteral("robocopy failed: 8"));
            break;
        }
        packed.append({f.rel, target, QFileInfo(target).size()});
        copied += f.size;
        reporter.report(copyPercent(copied));
    }
    if (ok && !job.check())
        ok = false;
    if (ok)
        reporter.report(copyPercent(total));

    // Pack the work folder into the partial file (50..98 by bytes, or by files when all are empty). A file
    // that deflates past the ratio a restore accepts (long runs of zero bytes) is packed again stored, so
    // every snapshot made here can be restored.
    if (ok) {
        ok = packWorkFolder(partial, work, packed, {}, job, &reporter);
        const QSet<QString> stored = ok ? entriesPastRatio(partial) : QSet<QString>();
        if (ok && !stored.isEmpty()) {
            qInfo().noquote() << "createSnapshot: packed again with" << stored.size() << "file(s) stored";
            QFile::remove(partial);
            ok = packWorkFolder(partial, work, packed, stored, job, nullptr);
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

    removeWorkFolder(work);
    if (!ok || !published) {
        QFile::remove(partial);
        return {};
    }
    if (!QFile::exists(finalPath)) {
        error = QStringLiteral("快照创建失败：未生成 zip 文件");
        return {};
    }
    reporter.report(100);
    return finalPath;
}
