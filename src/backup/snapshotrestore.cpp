// Snapshot restore: every entry of the zip is checked and unpacked into a work folder before the first
// file reaches the data folder; the data folder's previous content waits in a rollback folder beside it
// until the restore has ended, and is put back when the restore fails.

#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "platform/fileops.h"
#include "platform/fsentry.h"
#include "platform/ziparchive.h"
#include "ui/lang.h"
#include "ui/savefile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace backupdetail;
using ktr::platform::ZipEntryInfo;

namespace {

const QString kStatus = QStringLiteral("正在还原快照…");

QString unsafeEntry(const QString& name)
{
    QString raw = name;
    raw.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QStringLiteral("unsafe zip entry: ") + raw;
}

// The entry's path as folder parts, or an empty list with the refusal text set.
QStringList entryParts(const ZipEntryInfo& e, QString* refusal)
{
    QString name = e.nameIsUtf8 ? e.name : QString::fromLatin1(e.rawName);
    if (!e.nameIsUtf8) {
        *refusal = unsafeEntry(name);
        return {};
    }
    QString raw = name;
    raw.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (raw.startsWith(QLatin1Char('/')) || raw.contains(QLatin1Char(':'))) {
        *refusal = unsafeEntry(name);
        return {};
    }
    QStringList parts;
    for (const QString& seg : raw.split(QLatin1Char('/'))) {
        if (seg == QLatin1String("..") || seg.contains(QChar(0))) {
            *refusal = unsafeEntry(name);
            return {};
        }
        if (!seg.isEmpty() && seg != QLatin1String("."))
            parts << seg;
    }
    if (parts.isEmpty())
        *refusal = unsafeEntry(name);
    return parts;
}

struct Planned
{
    QString rel;
    qint64 size = 0;
};

// Checks every entry before anything is written: names, types, sizes, duplicates and file/folder clashes.
bool planExtraction(const QList<ZipEntryInfo>& entries, QList<Planned>& plan, QString* refusal)
{
    QSet<QString> files;
    QSet<QString> folders;
    for (const ZipEntryInfo& e : entries) {
        if (e.type == ZipEntryInfo::Type::Directory && e.nameIsUtf8)
            continue; // folder entries carry nothing; folders are made for the files that need them
        const QStringList parts = entryParts(e, refusal);
        if (parts.isEmpty())
            return false;
        const QString rel = parts.join(QLatin1Char('/'));
        const bool regular = e.type == ZipEntryInfo::Type::File;
        const bool ratioOk = e.compressedSize > 0 ? e.size / e.compressedSize <= kMaxInflateRatio : e.size == 0;
        if (!regular || e.encrypted || !ratioOk || files.contains(rel) || folders.contains(rel)) {
            *refusal = unsafeEntry(e.name);
            return false;
        }
        QString prefix;
        for (int i = 0; i + 1 < parts.size(); ++i) {
            prefix = i == 0 ? parts.at(0) : prefix + QLatin1Char('/') + parts.at(i);
            if (files.contains(prefix)) {
                *refusal = unsafeEntry(e.name);
                return false;
            }
            folders.insert(prefix);
        }
        files.insert(rel);
        plan.append({rel, e.size});
    }
    return true;
}

bool writeEntry(ktr::platform::ZipReader& zip, const QString& target, const ZipEntryInfo& e, Job& job,
                const std::function<void(qint64)>& onBytes)
{
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return job.fail(QStringLiteral("cannot create folder for: ") + e.name);
    // The file's own permissions come back (a private file stays private), never more than rwxr-xr-x.
    const mode_t mode = e.permissions >= 0 ? mode_t((e.permissions & 0755) | 0600) : mode_t(0644);
    const int fd = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return job.fail(QStringLiteral("cannot write: ") + e.name);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    qint64 written = 0;
    QString readError;
    bool ok = true;
    for (;;) {
        if (!job.check()) {
            ok = false;
            break;
        }
        const qint64 n = zip.read(buffer.data(), buffer.size(), &readError);
        if (n < 0) {
            qWarning().noquote() << "restoreSnapshot: zip entry unreadable:" << e.name << readError;
            ok = job.fail(unsafeEntry(e.name));
            break;
        }
        if (n == 0)
            break;
        if (::write(fd, buffer.constData(), size_t(n)) != n) {
            ok = job.fail(QStringLiteral("cannot write: ") + e.name);
            break;
        }
        written += n;
        onBytes(n);
    }
    if (ok && written != e.size)
        ok = job.fail(unsafeEntry(e.name));
    if (ok && e.modified.isValid()) {
        const qint64 ms = e.modified.toMSecsSinceEpoch();
        const struct timespec times[2] = {{time_t(ms / 1000), long(ms % 1000) * 1000000L},
                                          {time_t(ms / 1000), long(ms % 1000) * 1000000L}};
        ::futimens(fd, times);
    }
    if (::close(fd) != 0 && ok)
        ok = job.fail(QStringLiteral("cannot write: ") + e.name);
    return ok;
}

// No part of the way from the data folder to a target may be a link: a link inside the data folder must
// not carry a restored file out of it.
bool targetStaysInside(const QString& dataRoot, const QString& rel)
{
    QString path = dataRoot;
    for (const QString& seg : rel.split(QLatin1Char('/'))) {
        path += QLatin1Char('/') + seg;
        const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
        if (!st.exists)
            return true;
        if (st.isLink)
            return false;
    }
    return true;
}

bool placeFile(const QString& from, const QString& to)
{
    if (!QDir().mkpath(QFileInfo(to).absolutePath()))
        return false;
    const ktr::platform::EntryStat st = ktr::platform::entryStat(to);
    if (st.exists && st.isDir && !st.isLink)
        return false;
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    return ktr::platform::copyFileKeepTime(from, to, nullptr);
}

void finishTemp(const QString& work)
{
    if (!removeTree(work))
        qWarning().noquote() << "restoreSnapshot: failed to clean temp dir:" << work;
}

} // namespace

bool BackupEngine::restoreSnapshot(const QString& zipPath, const QString& dataDirIn, QString& error,
                                   Progress progress, const std::atomic<bool>* cancel, bool* cancelled)
{
    if (cancelled)
        *cancelled = false;
    if (!QFile::exists(zipPath)) {
        error = QStringLiteral("快照文件不存在");
        return false;
    }
    if (cancel && cancel->load()) {
        markCancelled(error, cancelled);
        return false;
    }
    const QString dataDir = QDir::cleanPath(QFileInfo(dataDirIn).absoluteFilePath());
    // The snapshot's own folder is the snapshot folder in use: never copied, emptied or put back.
    const QString snapshotFolder = QFileInfo(zipPath).absolutePath();
    const EngineLock lock({dataDir, snapshotFolder}, cancel);
    if (!lock.acquired()) {
        markCancelled(error, cancelled);
        return false;
    }
    const QString rollback = rollbackDir(dataDir);
    if (ktr::platform::entryStat(rollback).exists) {
        // A rollback folder of an earlier restore is the only copy of that data: never replace it here.
        error = Lang::tr("上次未完成的还原留下了回滚目录，为保护其中的数据已中止本次还原：%1").arg(rollback);
        return false;
    }
    const QString work =
        QDir(QDir::tempPath()).absoluteFilePath(QStringLiteral("ktrrest_") + QUuid::createUuid().toString(QUuid::WithoutBraces));

    PercentReporter reporter(progress, kStatus);
    reporter.report(1);
    if (cancel && cancel->load()) {
        finishTemp(work);
        markCancelled(error, cancelled);
        return false;
    }

    // The rollback copy of what is there now.
    bool hasRollback = false;
    const bool hasData =
        QFileInfo(dataDir).isDir() && !QDir(dataDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty();
    if (hasData) {
        const bool copiedAll = copyTreeWithExclusions(dataDir, rollback, cancel, snapshotFolder)
                               && ktr::saveFileAtomic(rollbackMarkerPath(rollback), (dataDir + QLatin1Char('\n') + snapshotFolder).toUtf8());
        if (!copiedAll) {
            qWarning().noquote() << "restoreSnapshot: pre-snapshot incomplete, rollback will be skipped:" << dataDir;
            if (cancel && cancel->load())
                markCancelled(error, cancelled);
            else
                error = QStringLiteral("还原前无法为现有数据建立完整的安全快照，已中止还原以保护数据（请检查磁盘空间，或关闭正在占用数据目录的程序后重试）");
            // Only this run's own unfinished copy is removed: the data folder has not been touched.
            if (ktr::platform::entryStat(rollback).exists && !removeTree(rollback))
                qWarning().noquote() << "restoreSnapshot: failed to clean incomplete pre-snapshot:" << rollback;
            finishTemp(work);
            return false;
        }
        hasRollback = true;
    }

    Job job(error, cancel, cancelled);
    bool ok = job.check();

    // Unpack every entry into the work folder (3..60).
    ktr::platform::ZipReader zip;
    QString zipError;
    QList<Planned> plan;
    if (ok && !zip.open(zipPath, &zipError))
        ok = job.fail(QStringLiteral("unsafe zip file: ") + zipError);
    QString refusal;
    if (ok && !planExtraction(zip.entries(), plan, &refusal))
        ok = job.fail(refusal);
    qint64 tb = 0;
    for (const Planned& p : plan)
        tb += p.size;
    // The deadline follows what will be written, not what the zip weighs.
    job.start(backupTimeoutMs(3 * tb));
    if (ok) {
        reporter.report(3);
        QDir().mkpath(work);
    }
    const qsizetype n = plan.size();
    const bool useBytes = tb > 0;
    const qint64 tw = useBytes ? tb : std::max<qint64>(1, n);
    qint64 dw = 0;
    qsizetype i = 0;
    ZipEntryInfo entry;
    qsizetype planIndex = 0;
    while (ok) {
        if (!zip.next(&entry, &zipError)) {
            if (!zipError.isEmpty())
                ok = job.fail(QStringLiteral("unsafe zip file: ") + zipError);
            break;
        }
        if (entry.type == ZipEntryInfo::Type::Directory)
            continue;
        QString skip;
        const QStringList parts = entryParts(entry, &skip);
        const QString rel = parts.join(QLatin1Char('/'));
        if (planIndex >= n || plan.at(planIndex).rel != rel)
            continue; // a folder entry, or nothing to write
        ++planIndex;
        qint64 entryDone = 0;
        if (!writeEntry(zip, work + QLatin1Char('/') + rel, entry, job, [&](qint64 bytes) { entryDone += bytes; })) {
            ok = false;
            break;
        }
        ++i;
        dw += useBytes ? entry.size : 1;
        if (i % 8 == 0 || i == n || n <= 32)
            reporter.report(std::min(60, 3 + int(double(dw) / double(tw) * 57.0)));
    }
    if (ok && planIndex != n)
        ok = job.fail(QStringLiteral("unsafe zip file: entries missing"));

    // Lay the unpacked files over the data folder (60..98).
    bool touched = false;
    if (ok) {
        qint64 wt = std::max<qint64>(1, tb);
        qint64 wd = 0;
        for (qsizetype k = 0; ok && k < n; ++k) {
            if (!job.check()) {
                ok = false;
                break;
            }
            const QString& rel = plan.at(k).rel;
            if (!targetStaysInside(dataDir, rel)) {
                ok = job.fail(QStringLiteral("unsafe restore target: ") + rel);
                break;
            }
            touched = true;
            if (!placeFile(work + QLatin1Char('/') + rel, dataDir + QLatin1Char('/') + rel)) {
                ok = job.fail(QStringLiteral("cannot write restore target: ") + rel);
                break;
            }
            wd += plan.at(k).size;
            const qsizetype done = k + 1;
            if (done % 8 == 0 || done == n || n <= 32)
                reporter.report(std::min(98, 60 + int(double(wd) / double(wt) * 38.0)));
        }
    }

    if (!ok && touched) {
        if (hasRollback) {
            if (!rollBack(rollback, dataDir, snapshotFolder)) {
                qWarning().noquote() << "restoreSnapshot: rollback from snapshot failed:" << rollback;
                error += Lang::tr("（还原前的数据保留在：%1）").arg(rollback);
                finishTemp(work);
                return false;
            }
        } else if (QFileInfo(dataDir).isDir()) {
            bool cleaned = true;
            const QFileInfoList left =
                QDir(dataDir).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::System);
            for (const QFileInfo& fi : left) {
                if (!removeTree(fi.absoluteFilePath()))
                    cleaned = false;
            }
            if (!cleaned) {
                qWarning().noquote() << "restoreSnapshot: failed to clean partial first-install data:" << dataDir;
                error += QStringLiteral("（部分临时数据可能未清除，请检查数据目录后重试）");
            }
            finishTemp(work);
            return false;
        }
    }
    if (hasRollback) {
        // The marker goes first: a folder without it is never offered for putting back.
        QFile::remove(rollbackMarkerPath(rollback));
        if (!removeTree(rollback))
            qWarning().noquote() << "restoreSnapshot: failed to clean rollback snapshot:" << rollback;
    }
    finishTemp(work);
    if (!ok)
        return false;
    reporter.report(100);
    return true;
}
