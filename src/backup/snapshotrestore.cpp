// Snapshot restore: every entry of the zip is checked and unpacked into a work folder beside the data
// folder before the first file reaches the data folder; then each file is moved in by a rename, the file
// it replaces moved into a rollback folder beside the data folder, whose journal (written before the first
// move) names every file the restore replaces or adds. A failure, or the user after a kill, puts back what
// the journal names.

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
#include <QJsonDocument>
#include <QJsonParseError>
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

// The entry's path as folder parts, or an empty list with the refusal text set. The name rules are the zip
// layer's; a restore also refuses a name of nothing, since every entry it keeps is a file.
QStringList entryParts(const ZipEntryInfo& e, QString* refusal)
{
    QString rel;
    if (!ktr::platform::zipEntryRelativePath(e, &rel) || rel.isEmpty()) {
        *refusal = unsafeEntry(e.nameIsUtf8 ? e.name : QString::fromLatin1(e.rawName));
        return {};
    }
    return rel.split(QLatin1Char('/'));
}

struct Planned
{
    QString rel;
    qint64 size = 0;
};

// True for a path a snapshot never holds: below an excluded folder name, an excluded file, or inside the
// snapshot folder in use (skippedPrefix, relative to the data folder, "/"-terminated; empty for none).
bool neverInSnapshot(const QStringList& parts, const QString& rel, const QString& skippedPrefix)
{
    for (int i = 0; i + 1 < parts.size(); ++i) {
        if (isExcludedDirName(parts.at(i)))
            return true;
    }
    return isBackupExcluded(rel) || (!skippedPrefix.isEmpty() && (rel + QLatin1Char('/')).startsWith(skippedPrefix));
}

// Checks every entry before anything is written: names, types, sizes, duplicates and file/folder clashes.
// Entries of what a snapshot never holds (logs, caches, snapshots) are left out with a log line: they would
// land outside what the rollback keeps.
bool planExtraction(const QList<ZipEntryInfo>& entries, const QString& skippedPrefix, QList<Planned>& plan,
                    QString* refusal, QString* tooLarge = nullptr)
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
        if (e.type == ZipEntryInfo::Type::File && neverInSnapshot(parts, rel, skippedPrefix)) {
            qInfo().noquote() << "restoreSnapshot: entry a snapshot never holds skipped:" << rel;
            continue;
        }
        const bool regular = e.type == ZipEntryInfo::Type::File;
        const bool ratioOk = e.compressedSize > 0 ? e.size / e.compressedSize <= kMaxInflateRatio : e.size == 0;
        if (!regular || e.encrypted || !ratioOk || files.contains(rel) || folders.contains(rel)) {
            *refusal = unsafeEntry(e.name);
            if (tooLarge && regular && !e.encrypted && !ratioOk)
                *tooLarge = rel;
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

void finishTemp(const QString& work)
{
    if (!removeTree(work))
        qWarning().noquote() << "restoreSnapshot: failed to clean temp dir:" << work;
}

// A snapshot holds the data folder's settings or layout at its root, and no more entries than a data folder
// has files. Anything else (photos, an empty zip, a zip of another program) is not one.
QString notASnapshot(const QList<ZipEntryInfo>& entries, const QList<Planned>& plan)
{
    if (entries.size() > kMaxSnapshotEntries)
        return Lang::tr("所选文件有 %1 个条目，不是本程序的备份快照，未做任何改动").arg(entries.size());
    for (const Planned& p : plan) {
        if (p.rel == QLatin1String("settings.json") || p.rel == QLatin1String("layout.json"))
            return {};
    }
    return Lang::tr("所选文件不是本程序的备份快照（其中没有 settings.json 或 layout.json），未做任何改动");
}

// The settings and layout a snapshot holds are JSON documents; a zip whose ones are not is no snapshot.
QString damagedDocument(const QString& work, const QList<Planned>& plan)
{
    for (const Planned& p : plan) {
        // An empty file stands for the defaults, as the program reads it.
        if ((p.rel != QLatin1String("settings.json") && p.rel != QLatin1String("layout.json")) || p.size == 0)
            continue;
        QByteArray text;
        QJsonParseError parsed{};
        const bool read =
            ktr::readFileCapped(work + QLatin1Char('/') + p.rel, 256 * 1024 * 1024, &text) == ktr::ReadStatus::Ok;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &parsed);
        if (!read || parsed.error != QJsonParseError::NoError || doc.isNull())
            return Lang::tr("所选快照中的 %1 已损坏，不是有效的备份快照，未做任何改动").arg(p.rel);
    }
    return {};
}

} // namespace

bool BackupEngine::keepSettingsMembers(const QString& dataDir, const QJsonObject& members)
{
    const QString path = QDir(dataDir).filePath(QStringLiteral("settings.json"));
    if (!ktr::platform::entryStat(path).exists)
        return true;
    QByteArray text;
    if (ktr::readFileCapped(path, 64 * 1024 * 1024, &text) != ktr::ReadStatus::Ok)
        return false;
    QJsonParseError parsed{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parsed);
    if (parsed.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    QJsonObject object = doc.object();
    bool changed = false;
    for (auto it = members.begin(); it != members.end(); ++it) {
        // A member the file lacks reads as its default (an empty text): nothing to write for one.
        if (object.value(it.key()) == it.value() || (!object.contains(it.key()) && it.value() == QJsonValue(QString())))
            continue;
        object.insert(it.key(), it.value());
        changed = true;
    }
    return !changed || ktr::saveFileAtomic(path, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

bool BackupEngine::checkRestorable(const QString& zipPath, const QString& dataDirIn, QString* errorOut,
                                   const std::atomic<bool>* cancel, bool* cancelled)
{
    QString unwanted;
    QString& error = errorOut ? *errorOut : unwanted;
    if (cancelled)
        *cancelled = false;
    if (!QFile::exists(zipPath)) {
        error = Lang::tr("快照文件不存在");
        return false;
    }
    const QString damaged = Lang::tr("所选文件已损坏（不是完整的 zip 压缩包），未做任何改动");
    const auto refuse = [&error, &zipPath](const QString& text, const QString& detail) {
        qWarning().noquote() << "[backup] restore refused:" << zipPath << detail;
        error = text;
        return false;
    };
    ktr::platform::ZipReader zip;
    QString zipError;
    if (!zip.open(zipPath, &zipError))
        return refuse(damaged, zipError);
    const QList<ZipEntryInfo>& entries = zip.entries();
    QList<Planned> plan;
    if (entries.size() > kMaxSnapshotEntries)
        return refuse(notASnapshot(entries, plan), QStringLiteral("%1 entries").arg(entries.size()));
    // The snapshot folder is left out as the restore leaves it out.
    const QString dataDir = QDir::cleanPath(QFileInfo(dataDirIn).absoluteFilePath());
    const QString snapshotRel = QDir(dataDir).relativeFilePath(QFileInfo(zipPath).absolutePath());
    QString skippedPrefix;
    if (snapshotRel != QLatin1String(".") && !snapshotRel.startsWith(QLatin1String("..")) &&
        !QDir::isAbsolutePath(snapshotRel))
        skippedPrefix = snapshotRel + QLatin1Char('/');
    QString refusal;
    QString tooLarge;
    if (!planExtraction(entries, skippedPrefix, plan, &refusal, &tooLarge)) {
        if (!tooLarge.isEmpty())
            return refuse(Lang::tr("所选文件中的 %1 解压后过大（超过压缩大小的 %2 倍），已拒绝解压，未做任何改动")
                              .arg(tooLarge)
                              .arg(kMaxInflateRatio),
                          refusal);
        return refuse(Lang::tr("所选文件不是本程序的备份快照（含有不安全或不支持的条目），未做任何改动"), refusal);
    }
    if (snapshotRel == QLatin1String(".")) {
        plan.removeIf([](const Planned& p) {
            return !p.rel.contains(QLatin1Char('/')) && (BackupEngine::isSnapshotName(p.rel) || isPartialName(p.rel));
        });
    }
    const QString shape = notASnapshot(entries, plan);
    if (!shape.isEmpty())
        return refuse(shape, QStringLiteral("no settings.json or layout.json"));

    // Every planned entry is read through (its data checked by the zip layer) and the settings and layout
    // parsed, so a damaged snapshot is refused before anything is written.
    QSet<QString> planned;
    for (const Planned& p : plan)
        planned.insert(p.rel);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    ZipEntryInfo entry;
    qsizetype seen = 0;
    for (;;) {
        if (cancel && cancel->load()) {
            markCancelled(error, cancelled);
            return false;
        }
        if (!zip.next(&entry, &zipError)) {
            if (!zipError.isEmpty())
                return refuse(damaged, zipError);
            break;
        }
        if (entry.type == ZipEntryInfo::Type::Directory)
            continue;
        QString skip;
        const QString rel = entryParts(entry, &skip).join(QLatin1Char('/'));
        if (!planned.contains(rel))
            continue;
        ++seen;
        const bool document = rel == QLatin1String("settings.json") || rel == QLatin1String("layout.json");
        QByteArray text;
        qint64 read = 0;
        for (;;) {
            const qint64 n = zip.read(buffer.data(), buffer.size(), &zipError);
            if (n < 0)
                return refuse(damaged, rel + QStringLiteral(": ") + zipError);
            if (n == 0)
                break;
            read += n;
            if (document && text.size() < 256 * 1024 * 1024)
                text.append(buffer.constData(), n);
        }
        if (read != entry.size)
            return refuse(damaged, rel + QStringLiteral(": short entry"));
        if (document && entry.size > 0) {
            QJsonParseError parsed{};
            if (QJsonDocument::fromJson(text, &parsed).isNull() || parsed.error != QJsonParseError::NoError)
                return refuse(Lang::tr("所选快照中的 %1 已损坏，不是有效的备份快照，未做任何改动").arg(rel),
                              rel + QStringLiteral(": ") + parsed.errorString());
        }
    }
    if (seen != plan.size())
        return refuse(damaged, QStringLiteral("entries missing"));
    return true;
}

namespace {

// Every entry is checked, and the zip's shape, before anything is written. The snapshot's own folder is left
// out when it lies inside the data folder.
bool planRestore(ktr::platform::ZipReader& zip, const QString& zipPath, const QString& dataDir,
                 const QString& snapshotFolder, QList<Planned>& plan, Job& job)
{
    QString zipError;
    if (!zip.open(zipPath, &zipError))
        return job.fail(QStringLiteral("unsafe zip file: ") + zipError);
    QString skippedPrefix;
    const QString snapshotRel = QDir(dataDir).relativeFilePath(QDir::cleanPath(snapshotFolder));
    if (snapshotRel == QLatin1String("."))
        skippedPrefix = QString(); // snapshots at the data folder's root are excluded by name below
    else if (!snapshotRel.startsWith(QLatin1String("..")) && !QDir::isAbsolutePath(snapshotRel))
        skippedPrefix = snapshotRel + QLatin1Char('/');
    QString refusal;
    if (zip.entries().size() > kMaxSnapshotEntries)
        return job.fail(notASnapshot(zip.entries(), plan));
    if (!planExtraction(zip.entries(), skippedPrefix, plan, &refusal))
        return job.fail(refusal);
    if (snapshotRel == QLatin1String(".")) {
        plan.removeIf([](const Planned& p) {
            return !p.rel.contains(QLatin1Char('/')) && (BackupEngine::isSnapshotName(p.rel) || isPartialName(p.rel));
        });
    }
    const QString shape = notASnapshot(zip.entries(), plan);
    if (!shape.isEmpty())
        return job.fail(shape);
    return true;
}

// Unpacks every planned entry into the work folder beside the data folder: the same file system, so each file
// reaches the data folder by one rename (3..60). Then the unpacked settings and layout must parse.
bool unpackIntoWork(ktr::platform::ZipReader& zip, const QList<Planned>& plan, qint64 totalBytes,
                    const QString& dataDir, const QString& work, Job& job, PercentReporter& reporter)
{
    reporter.report(3);
    if (!QDir().mkpath(QFileInfo(dataDir).absolutePath()) || !makePrivatePath(work))
        return job.fail(QStringLiteral("cannot create the restore work folder: ") + work);
    const qsizetype n = plan.size();
    const bool useBytes = totalBytes > 0;
    const qint64 tw = useBytes ? totalBytes : std::max<qint64>(1, n);
    qint64 dw = 0;
    qsizetype i = 0;
    ZipEntryInfo entry;
    QString zipError;
    qsizetype planIndex = 0;
    for (;;) {
        if (!zip.next(&entry, &zipError)) {
            if (!zipError.isEmpty())
                return job.fail(QStringLiteral("unsafe zip file: ") + zipError);
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
        if (!writeEntry(zip, work + QLatin1Char('/') + rel, entry, job, [](qint64) {}))
            return false;
        ++i;
        dw += useBytes ? entry.size : 1;
        if (i % 8 == 0 || i == n || n <= 32)
            reporter.report(std::min(60, 3 + int(double(dw) / double(tw) * 57.0)));
    }
    if (planIndex != n)
        return job.fail(QStringLiteral("unsafe zip file: entries missing"));
    const QString damaged = damagedDocument(work, plan);
    if (!damaged.isEmpty())
        return job.fail(damaged);
    return true;
}

// The rollback folder and its journal, before the first file of the data folder moves. A missing or empty
// data folder (a first install) has nothing to keep: true with hasRollback false.
bool openRollback(const QString& dataDir, const QString& rollback, const QString& snapshotFolder,
                  const QList<Planned>& plan, Job& job, bool* hasRollback)
{
    *hasRollback = false;
    const bool hasData =
        QFileInfo(dataDir).isDir() && !QDir(dataDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty();
    if (!hasData)
        return true;
    QList<JournalEntry> journal;
    journal.reserve(plan.size());
    for (const Planned& p : plan)
        journal.append({p.rel, ktr::platform::entryStat(dataDir + QLatin1Char('/') + p.rel).exists});
    const bool made = ::mkdir(QFile::encodeName(rollback).constData(), 0700) == 0;
    if (!made || !writeJournal(rollback, dataDir, snapshotFolder, journal)) {
        qWarning().noquote() << "restoreSnapshot: pre-snapshot incomplete, rollback will be skipped:" << dataDir;
        job.fail(QStringLiteral("还原前无法为现有数据建立完整的安全快照，已中止还原以保护数据（请检查磁盘空间"
                                "，或关闭正在占用数据目录的程序后重试）"));
        if (made && !removeTree(rollback))
            qWarning().noquote() << "restoreSnapshot: failed to clean incomplete pre-snapshot:" << rollback;
        return false;
    }
    *hasRollback = true;
    return true;
}

enum class MoveOutcome {
    Moved,
    Failed,
    Stopped, // the test seam ended the run as a kill would: nothing is put back or cleaned
};

// Moves the unpacked files in, each replaced file into the rollback folder first (60..98). touched says
// whether the data folder was reached at all.
MoveOutcome moveIntoData(const QList<Planned>& plan, qint64 totalBytes, const QString& dataDir, const QString& work,
                         const QString& rollback, bool hasRollback, Job& job, PercentReporter& reporter, bool* touched)
{
    const qsizetype n = plan.size();
    const qint64 wt = std::max<qint64>(1, totalBytes);
    qint64 wd = 0;
    for (qsizetype k = 0; k < n; ++k) {
        if (!job.check())
            return MoveOutcome::Failed;
        const QString& rel = plan.at(k).rel;
        if (!targetStaysInside(dataDir, rel)) {
            job.fail(QStringLiteral("unsafe restore target: ") + rel);
            return MoveOutcome::Failed;
        }
        const QString target = dataDir + QLatin1Char('/') + rel;
        const ktr::platform::EntryStat st = ktr::platform::entryStat(target);
        if (st.exists && st.isDir && !st.isLink) {
            job.fail(QStringLiteral("cannot write restore target: ") + rel);
            return MoveOutcome::Failed;
        }
        *touched = true;
        if (st.exists && hasRollback) {
            const QString kept = rollback + QLatin1Char('/') + rel;
            if (!QDir().mkpath(QFileInfo(kept).absolutePath()) || !moveFile(target, kept)) {
                job.fail(QStringLiteral("cannot write restore target: ") + rel);
                return MoveOutcome::Failed;
            }
        }
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !moveFile(work + QLatin1Char('/') + rel, target)) {
            job.fail(QStringLiteral("cannot write restore target: ") + rel);
            return MoveOutcome::Failed;
        }
        if (moveSeamStops(int(k + 1)))
            return MoveOutcome::Stopped;
        wd += plan.at(k).size;
        const qsizetype done = k + 1;
        if (done % 8 == 0 || done == n || n <= 32)
            reporter.report(std::min(98, 60 + int(double(wd) / double(wt) * 38.0)));
    }
    return MoveOutcome::Moved;
}

// After a failure that reached the data folder: the journal puts back what it names, or a first install's
// partial data goes. True when that ends the restore (the work folder already removed, error completed);
// false when the caller goes on to discard the rollback folder.
bool undoPartialRestore(const QString& dataDir, const QString& rollback, bool hasRollback, const QString& work,
                        QString& error)
{
    if (hasRollback) {
        if (putBackJournal(rollback, dataDir))
            return false;
        qWarning().noquote() << "restoreSnapshot: rollback from snapshot failed:" << rollback;
        error += Lang::tr("（还原前的数据保留在：%1）").arg(rollback);
        finishTemp(work);
        return true;
    }
    if (!QFileInfo(dataDir).isDir())
        return false;
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
    return true;
}

} // namespace

bool BackupEngine::restoreSnapshot(const QString& zipPath, const QString& dataDirIn, QString* errorOut,
                                   Progress progress, const std::atomic<bool>* cancel, bool* cancelled)
{
    QString unwanted;
    QString& error = errorOut ? *errorOut : unwanted;
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
    // The snapshot's own folder is the snapshot folder in use: never written, emptied or put back.
    const QString snapshotFolder = QFileInfo(zipPath).absolutePath();
    const EngineLock lock({dataDir, snapshotFolder}, cancel);
    if (!lock.acquired()) {
        if (lock.error().isEmpty())
            markCancelled(error, cancelled);
        else
            error = lock.error();
        return false;
    }
    const QString rollback = rollbackDir(dataDir);
    if (ktr::platform::entryStat(rollback).exists) {
        // A rollback folder of an earlier restore is the only copy of that data: never replace it here.
        error = Lang::tr("上次未完成的还原留下了回滚目录，为保护其中的数据已中止本次还原：%1").arg(rollback);
        return false;
    }

    PercentReporter reporter(progress, kStatus);
    reporter.report(1);
    if (cancel && cancel->load()) {
        markCancelled(error, cancelled);
        return false;
    }

    Job job(error, cancel, cancelled);
    ktr::platform::ZipReader zip;
    QList<Planned> plan;
    bool ok = planRestore(zip, zipPath, dataDir, snapshotFolder, plan, job);
    qint64 tb = 0;
    for (const Planned& p : plan)
        tb += p.size;
    // The deadline follows what will be written, not what the zip weighs.
    job.start(backupTimeoutMs(3 * tb));
    if (ok)
        ok = job.check();

    const QString work = restoreWorkPath(dataDir);
    if (ok)
        ok = unpackIntoWork(zip, plan, tb, dataDir, work, job, reporter);
    bool hasRollback = false;
    if (ok)
        ok = openRollback(dataDir, rollback, snapshotFolder, plan, job, &hasRollback);
    bool touched = false;
    if (ok) {
        const MoveOutcome moved = moveIntoData(plan, tb, dataDir, work, rollback, hasRollback, job, reporter, &touched);
        if (moved == MoveOutcome::Stopped)
            return false; // as if the process had been killed here
        ok = moved == MoveOutcome::Moved;
    }

    if (!ok && touched && undoPartialRestore(dataDir, rollback, hasRollback, work, error))
        return false;
    if (hasRollback && !discardRollback(rollback, dataDir))
        qWarning().noquote() << "restoreSnapshot: failed to clean rollback snapshot:" << rollback;
    finishTemp(work);
    if (!ok)
        return false;
    reporter.report(100);
    return true;
}
