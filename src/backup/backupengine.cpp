#include "backup/backupengine.h"

#include "backup/backupinternal.h"
#include "platform/clock.h"
#include "platform/fsentry.h"
#include "platform/process.h"
#include "platform/processes.h"
#include "ui/savefile.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kLeftoverAgeSecs = 86400;

bool stopRequested(const std::atomic<bool>* stop)
{
    return stop && stop->load();
}

} // namespace

int BackupEngine::cleanupTempLeftovers(const QString& tempDir, const std::atomic<bool>* stop)
{
    const QString folder = tempDir.isEmpty() ? QDir::tempPath() : tempDir;
    QDir dir(folder);
    if (!dir.exists())
        return 0;
    const qint64 cutoff = ktr::platform::Clock::system()->now().toSecsSinceEpoch() - kLeftoverAgeSecs;
    const uint me = ktr::platform::currentUserId();
    int removed = 0;

    // Each entry is judged by itself (lstat), not by what a link points at: a link matching a pattern is
    // removed as a link, dangling or not, and never followed.
    const auto listed = [&dir](const QStringList& patterns) {
        return dir.entryList(patterns, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                             QDir::NoSort);
    };
    const auto isOldAndMine = [cutoff, me](const ktr::platform::EntryStat& st) {
        return st.exists && st.owner == me && st.modifiedSecs < cutoff;
    };

    const QStringList dirNames = listed({QStringLiteral("ktrbak_*"), QStringLiteral("ktrrest_*")});
    for (const QString& name : dirNames) {
        if (stopRequested(stop))
            return removed;
        const QString path = dir.filePath(name);
        const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
        if (!isOldAndMine(st) || !(st.isDir || st.isLink))
            continue;
        const bool ok = st.isLink ? QFile::remove(path) : QDir(path).removeRecursively();
        if (ok)
            ++removed;
        else
            qWarning().noquote() << "cleanupTempLeftovers: failed to remove dir:" << path;
    }

    const QStringList fileNames = listed(
        {QStringLiteral("ktrbk_*.ps1"), QStringLiteral("ktrbak_prog_*.txt"), QStringLiteral("ktrrest_prog_*.txt")});
    for (const QString& name : fileNames) {
        if (stopRequested(stop))
            return removed;
        const QString path = dir.filePath(name);
        const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
        if (!isOldAndMine(st) || (st.isDir && !st.isLink))
            continue;
        if (QFile::remove(path))
            ++removed;
    }

    if (removed > 0)
        qInfo().noquote() << "temp backup leftovers cleaned:" << removed;
    return removed;
}

// ---- shared pieces

namespace backupdetail {

namespace {
std::atomic<ktr::platform::Clock*> g_clock{nullptr};

QString cleanAbsolute(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}
} // namespace

ktr::platform::Clock* clock()
{
    ktr::platform::Clock* c = g_clock.load();
    return c ? c : ktr::platform::Clock::system();
}

void setClock(ktr::platform::Clock* c)
{
    g_clock.store(c);
}

Scope::Scope(const QString& rootPath, const QString& excluded)
    : root(cleanAbsolute(rootPath)), excludedDir(cleanAbsolute(excluded))
{
    if (!excludedDir.isEmpty()) {
        excludedCanonical = QFileInfo(excludedDir).canonicalFilePath();
        const QString rootCanonical = QFileInfo(root).canonicalFilePath();
        excludedIsRoot = excludedDir == root || (!rootCanonical.isEmpty() && excludedCanonical == rootCanonical);
    }
}

bool Scope::skipsDir(const QString& absPath) const
{
    if (excludedDir.isEmpty() || excludedIsRoot)
        return false;
    const QString clean = QDir::cleanPath(absPath);
    if (clean == excludedDir)
        return true;
    return !excludedCanonical.isEmpty() && QFileInfo(clean).canonicalFilePath() == excludedCanonical;
}

bool Scope::skipsRootFile(const QString& name) const
{
    return excludedIsRoot && (BackupEngine::isSnapshotName(name) || isPartialName(name));
}

bool walk(const Scope& scope, const QString& relativeFolder,
          const std::function<bool(const QString& rel, const QString& abs, bool isDir)>& visit)
{
    const QString folder = relativeFolder.isEmpty() ? scope.root : scope.root + QLatin1Char('/') + relativeFolder;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& fi : entries) {
        if (fi.isSymLink())
            continue;
        const QString name = fi.fileName();
        const QString rel = relativeFolder.isEmpty() ? name : relativeFolder + QLatin1Char('/') + name;
        const QString abs = fi.absoluteFilePath();
        if (fi.isDir()) {
            if (isExcludedDirName(name) || scope.skipsDir(abs) ||
                rel.compare(QLatin1String("apps/_cache"), Qt::CaseInsensitive) == 0)
                continue;
            if (!visit(rel, abs, true) || !walk(scope, rel, visit))
                return false;
        } else {
            if (isBackupExcluded(rel) || (relativeFolder.isEmpty() && scope.skipsRootFile(name)))
                continue;
            if (!visit(rel, abs, false))
                return false;
        }
    }
    return true;
}

bool isPartialName(const QString& fileName)
{
    static const QRegularExpression re(
        QStringLiteral("^Kestrune-(Auto|PreRestore)-\\d{8}-\\d{6}-\\d{3}\\.zip\\.[^/]*\\.part$"));
    return re.match(fileName).hasMatch();
}

Job::Job(QString& error, const std::atomic<bool>* cancel, bool* cancelled)
    : m_error(error), m_cancel(cancel), m_cancelled(cancelled)
{
}

void Job::start(int timeoutMs)
{
    m_deadline = clock()->monotonicMs() + timeoutMs;
}

bool Job::check()
{
    if (m_failed)
        return false;
    if (isCancelRequested()) {
        m_failed = true;
        markCancelled(m_error, m_cancelled);
        return false;
    }
    if (m_deadline >= 0 && clock()->monotonicMs() > m_deadline) {
        m_failed = true;
        m_error = QStringLiteral("备份操作超时");
        return false;
    }
    return true;
}

bool Job::fail(const QString& text)
{
    if (!m_failed) {
        m_failed = true;
        m_error = text;
    }
    return false;
}

namespace {
std::atomic<int> g_lockWaitMs{10000};
} // namespace

void EngineLock::setWaitMs(int ms)
{
    g_lockWaitMs.store(ms);
}

QString EngineLock::lockPathFor(const QString& folder)
{
    QString clean = cleanAbsolute(folder);
    const QString canonical = QFileInfo(clean).canonicalFilePath();
    if (!canonical.isEmpty())
        clean = canonical;
    // Never a name in a shared folder (the temporary folder when the session has no runtime folder): another
    // user could plant a link there, or hold the lock. The folder the update and uninstall scripts use is
    // ours and private, checked so.
    const QString base = ktr::platform::privateRuntimeDir();
    if (base.isEmpty())
        return {};
    const QByteArray hash = QCryptographicHash::hash(clean.toUtf8(), QCryptographicHash::Sha1).toHex().left(20);
    return base + QStringLiteral("/ktr-backup-") + QString::fromLatin1(hash) + QStringLiteral(".lock");
}

EngineLock::EngineLock(const QStringList& folders, const std::atomic<bool>* cancel)
{
    QStringList paths;
    for (const QString& f : folders) {
        if (f.isEmpty())
            continue;
        const QString p = lockPathFor(f);
        if (p.isEmpty()) {
            qWarning().noquote() << "[backup] no private folder for the engine lock of" << f;
            m_error = QStringLiteral(
                "找不到只属于当前用户的运行目录来存放备份锁，已中止（请检查 XDG_RUNTIME_DIR 或主目录下的缓存目录）");
            return;
        }
        paths << p;
    }
    paths.sort();
    paths.removeDuplicates();
    // Real time, not the engine's clock (which tests hold still).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lockWaitMs.load());
    for (const QString& p : paths) {
        auto lock = std::make_unique<ktr::platform::FileLock>();
        bool logged = false;
        for (;;) {
            const ktr::platform::FileLock::Result r = lock->tryLockOwn(p);
            if (r == ktr::platform::FileLock::Result::Locked)
                break;
            if (r == ktr::platform::FileLock::Result::Refused) {
                qWarning().noquote() << "[backup] engine lock refused (a link, not ours, or can't be opened):" << p;
                m_error = QStringLiteral("备份锁文件不属于当前用户或无法打开，已中止（详情见运行日志）");
                return;
            }
            if (cancel && cancel->load())
                return;
            if (!logged) {
                qInfo().noquote() << "[backup] engine busy, waiting:" << p;
                logged = true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                qWarning().noquote() << "[backup] engine still busy after" << g_lockWaitMs.load()
                                     << "ms, giving up:" << p;
                m_error = QStringLiteral("另一个备份或还原正在进行，等了一会儿仍未结束，请稍后重试");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_locks.push_back(std::move(lock));
    }
    m_acquired = true;
}

EngineLock::~EngineLock() = default;

bool removeTree(const QString& path)
{
    const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
    if (!st.exists)
        return true;
    if (st.isLink || !st.isDir)
        return QFile::remove(path);
    return QDir(path).removeRecursively();
}

QString rollbackMarkerPath(const QString& rollback)
{
    return rollback + QStringLiteral("/.ktr-restore-pending");
}

QString rollbackJournalPath(const QString& rollback)
{
    return rollback + QStringLiteral("/.ktr-restore-journal");
}

namespace {
const QByteArray kJournalHead = QByteArrayLiteral("kestrune restore journal 1");
std::mutex g_seamMutex;
FileOpener g_opener;
MoveSeam g_moveSeam;
} // namespace

bool makePrivatePath(const QString& path)
{
    const QString clean = cleanAbsolute(path);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).absolutePath();
    if (parent != clean && !makePrivatePath(parent))
        return false;
    if (::mkdir(QFile::encodeName(clean).constData(), 0700) == 0 || errno == EEXIST)
        return QFileInfo(clean).isDir();
    return false;
}

int openDataFile(const QString& path)
{
    FileOpener opener;
    {
        const std::lock_guard<std::mutex> guard(g_seamMutex);
        opener = g_opener;
    }
    if (opener)
        return opener(path);
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
}

void setFileOpener(FileOpener opener)
{
    const std::lock_guard<std::mutex> guard(g_seamMutex);
    g_opener = std::move(opener);
}

void setMoveSeam(MoveSeam seam)
{
    const std::lock_guard<std::mutex> guard(g_seamMutex);
    g_moveSeam = std::move(seam);
}

bool moveSeamStops(int moved)
{
    MoveSeam seam;
    {
        const std::lock_guard<std::mutex> guard(g_seamMutex);
        seam = g_moveSeam;
    }
    return seam && seam(moved);
}

QString runTag()
{
    static const QString tag = [] {
        const qint64 pid = ktr::platform::currentProcessId();
        ktr::platform::ProcessEntry entry;
        const quint64 ticks = ktr::platform::readProcessEntry(pid, &entry) ? entry.startTicks : 0;
        return QStringLiteral("%1-%2").arg(pid).arg(ticks);
    }();
    return tag;
}

bool isDeadRunTag(const QString& tag)
{
    const QStringList parts = tag.split(QLatin1Char('-'));
    if (parts.size() != 2)
        return false;
    bool pidOk = false;
    bool ticksOk = false;
    const qint64 pid = parts.at(0).toLongLong(&pidOk);
    const quint64 ticks = parts.at(1).toULongLong(&ticksOk);
    if (!pidOk || !ticksOk || pid <= 0 || ticks == 0)
        return false;
    if (tag == runTag())
        return false;
    ktr::platform::ProcessEntry entry;
    if (!ktr::platform::readProcessEntry(pid, &entry))
        return !ktr::platform::isProcessAlive(pid);
    return entry.startTicks != ticks;
}

QString restoreWorkPath(const QString& dataDir)
{
    return cleanAbsolute(dataDir) + QStringLiteral(".ktrrest_") + runTag() + QLatin1Char('-') +
           QUuid::createUuid().toString(QUuid::Id128).left(12);
}

bool writeJournal(const QString& rollback, const QString& dataDir, const QString& snapshotFolder,
                  const QList<JournalEntry>& entries)
{
    QByteArray text =
        kJournalHead + '\n' + QUrl::toPercentEncoding(dataDir) + '\n' + QUrl::toPercentEncoding(snapshotFolder) + '\n';
    for (const JournalEntry& e : entries)
        text += (e.existed ? '=' : '+') + QUrl::toPercentEncoding(e.rel) + '\n';
    return ktr::saveFileAtomic(rollbackJournalPath(rollback), text);
}

bool readJournal(const QString& rollback, QList<JournalEntry>* entries)
{
    QByteArray text;
    if (ktr::readFileCapped(rollbackJournalPath(rollback), 256 * 1024 * 1024, &text) != ktr::ReadStatus::Ok)
        return false;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 3 || lines.first() != kJournalHead)
        return false;
    for (qsizetype i = 3; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.isEmpty())
            continue;
        if (line.at(0) != '=' && line.at(0) != '+')
            return false;
        const QString rel = QUrl::fromPercentEncoding(line.mid(1));
        // A record that would reach outside the data folder is no record of ours.
        if (rel.isEmpty() || rel.startsWith(QLatin1Char('/')) ||
            rel.split(QLatin1Char('/')).contains(QLatin1String("..")))
            return false;
        entries->append({rel, line.at(0) == '='});
    }
    return true;
}

bool moveFile(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    // Another file system (a data folder that is a mount point of its own): copied, then the source goes.
    if (!ktr::platform::copyFileKeepTime(from, to, nullptr))
        return false;
    QFile::remove(from);
    return true;
}

QString journalLinkedFolder(const QList<JournalEntry>& entries, const QString& dataDir)
{
    for (const JournalEntry& e : entries) {
        const QStringList parts = e.rel.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString below = dataDir;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            below += QLatin1Char('/') + parts.at(i);
            if (ktr::platform::entryStat(below).isLink)
                return below;
        }
    }
    return {};
}

bool putBackJournal(const QString& rollback, const QString& dataDir)
{
    QList<JournalEntry> entries;
    if (!readJournal(rollback, &entries))
        return false;
    bool ok = true;
    for (const JournalEntry& e : entries) {
        // A folder of the data that is a link would carry a put-back or a removal outside the data folder.
        if (!journalLinkedFolder({e}, dataDir).isEmpty()) {
            qWarning().noquote() << "restoreSnapshot: journal line leads through a link, left alone:" << e.rel;
            continue;
        }
        const QString target = dataDir + QLatin1Char('/') + e.rel;
        const QString kept = rollback + QLatin1Char('/') + e.rel;
        if (e.existed) {
            // Not in the rollback folder: the restore never got to this file, the data folder holds it.
            if (!ktr::platform::entryStat(kept).exists)
                continue;
            if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !moveFile(kept, target)) {
                qWarning().noquote() << "restoreSnapshot: failed to put back:" << target;
                ok = false;
            }
        } else {
            const ktr::platform::EntryStat st = ktr::platform::entryStat(target);
            if (st.exists && !(st.isDir && !st.isLink) && !QFile::remove(target)) {
                qWarning().noquote() << "restoreSnapshot: failed to remove unrolled file:" << target;
                ok = false;
            }
        }
    }
    return ok;
}

bool discardRollback(const QString& rollback, const QString& dataDir)
{
    const QString trash = restoreWorkPath(dataDir);
    const QString doomed =
        ::rename(QFile::encodeName(rollback).constData(), QFile::encodeName(trash).constData()) == 0 ? trash : rollback;
    if (doomed == rollback) {
        // Can't be renamed: the record goes first, so a folder left half removed is never offered back.
        QFile::remove(rollbackJournalPath(rollback));
        QFile::remove(rollbackMarkerPath(rollback));
    }
    return removeTree(doomed);
}

bool rollBack(const QString& rollback, const QString& dataDir, const QString& excludedDir)
{
    QStringList current;
    collectSnapshotFiles(dataDir, QString(), current, excludedDir);
    const QDir data(dataDir);
    const QDir back(rollback);
    for (const QString& file : current) {
        const QString rel = data.relativeFilePath(file);
        if (!QFileInfo::exists(back.filePath(rel)) && !QFile::remove(file))
            qWarning().noquote() << "restoreSnapshot: failed to remove unrolled file:" << file;
    }
    return copyTreeWithExclusions(rollback, dataDir, nullptr, excludedDir);
}

} // namespace backupdetail

using namespace backupdetail;

// ---- free functions

int backupTimeoutMs(qint64 bytes)
{
    if (bytes < 0)
        bytes = 0;
    const double seconds = 120.0 + double(bytes) / 8388608.0;
    if (seconds > 14400.0)
        return 14400000;
    if (seconds > 120.0)
        return int(seconds * 1000.0);
    return 120000;
}

bool isExcludedDirName(const QString& name)
{
    static const QStringList names = {QStringLiteral("logs"), QStringLiteral("cache"), QStringLiteral("Backups"),
                                      QStringLiteral(".__restore_bak")};
    for (const QString& n : names) {
        if (name.compare(n, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isBackupExcluded(const QString& relativePath)
{
    QString p = relativePath;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (p.startsWith(QLatin1Char('/')))
        p.remove(0, 1);
    const QStringList parts = p.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return false;
    // The market's download cache: packages it can fetch again, up to gigabytes each.
    if (parts.size() > 2 && parts.at(0).compare(QLatin1String("apps"), Qt::CaseInsensitive) == 0 &&
        parts.at(1).compare(QLatin1String("_cache"), Qt::CaseInsensitive) == 0)
        return true;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part.compare(QLatin1String("logs"), Qt::CaseInsensitive) == 0 ||
            part.compare(QLatin1String("cache"), Qt::CaseInsensitive) == 0 ||
            part.compare(QLatin1String("Backups"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return parts.last().endsWith(QLatin1String(".log"), Qt::CaseInsensitive);
}

qint64 dirSizeBytes(const QString& root, const std::atomic<bool>* cancel)
{
    qint64 sum = 0;
    qint64 count = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        ++count;
        if (count % 256 == 0 && cancel && cancel->load())
            break;
        it.next();
        const QString rel = it.filePath().mid(root.size());
        if (isBackupExcluded(rel))
            continue;
        sum += it.fileInfo().size();
    }
    return sum;
}

void markCancelled(QString& error, bool* cancelled)
{
    if (cancelled)
        *cancelled = true;
    error = QStringLiteral("已取消");
}

bool copyTreeWithExclusions(const QString& src, const QString& dst, const std::atomic<bool>* cancel,
                            const QString& excludedDir)
{
    if (!QFileInfo(src).isDir())
        return false;
    const Scope scope(src, excludedDir);
    const QString dstRoot = QDir::cleanPath(QFileInfo(dst).absoluteFilePath());
    if (!QDir().mkpath(dstRoot))
        return false;
    return walk(scope, QString(), [&](const QString& rel, const QString& abs, bool isDir) {
        if (cancel && cancel->load())
            return false;
        const QString target = dstRoot + QLatin1Char('/') + rel;
        if (isDir)
            return QDir().mkpath(target);
        if (!QDir().mkpath(QFileInfo(target).absolutePath()))
            return false;
        return ktr::platform::copyFileKeepTime(abs, target, nullptr);
    });
}

void collectSnapshotFiles(const QString& root, const QString& relativeFolder, QStringList& out,
                          const QString& excludedDir)
{
    const Scope scope(root, excludedDir);
    walk(scope, relativeFolder, [&out](const QString&, const QString& abs, bool isDir) {
        if (!isDir)
            out.append(abs);
        return true;
    });
}

// ---- the store

void BackupEngine::setClock(ktr::platform::Clock* c)
{
    backupdetail::setClock(c);
}

QString BackupEngine::backupDir(const QString& dataDir)
{
    return QDir(dataDir).filePath(QStringLiteral("Backups"));
}

bool BackupEngine::isSnapshotName(const QString& fileName)
{
    static const QRegularExpression re(QStringLiteral("^Kestrune-(Auto|PreRestore)-\\d{8}-\\d{6}-\\d{3}\\.zip$"));
    return re.match(fileName).hasMatch();
}

QList<BackupEngine::SnapshotInfo> BackupEngine::listSnapshots(const QString& dir)
{
    QList<SnapshotInfo> out;
    QDir d(dir);
    if (!d.exists())
        return out;
    const QFileInfoList files = d.entryInfoList({QStringLiteral("*.zip")}, QDir::Files, QDir::NoSort);
    for (const QFileInfo& fi : files) {
        if (!isSnapshotName(fi.fileName()) || fi.isSymLink())
            continue;
        SnapshotInfo s;
        s.path = d.absoluteFilePath(fi.fileName());
        s.name = fi.fileName();
        s.size = fi.size();
        s.time = fi.birthTime().isValid() ? fi.birthTime() : fi.lastModified();
        s.isPreRestore = s.name.startsWith(QLatin1String("Kestrune-PreRestore"));
        out.append(s);
    }
    std::sort(out.begin(), out.end(), [](const SnapshotInfo& a, const SnapshotInfo& b) {
        if (a.time != b.time)
            return a.time > b.time;
        return a.name > b.name;
    });
    return out;
}

void BackupEngine::purgeOld(const QString& dir, int keep, const QString& spare)
{
    if (keep <= 0)
        return;
    const EngineLock lock({dir}, nullptr);
    if (!lock.acquired()) {
        qWarning().noquote() << "purgeOld: skipped:" << lock.error();
        return;
    }
    const QList<SnapshotInfo> all = listSnapshots(dir);
    const QString spared = spare.isEmpty() ? QString() : QFileInfo(spare).absoluteFilePath();
    int failures = 0;
    // The safety snapshots of restores are counted among themselves: however many restores (or refused
    // tries) there were, they never push out a snapshot the user or the schedule made.
    qsizetype seenAuto = 0;
    qsizetype seenPreRestore = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        qsizetype& seen = all.at(i).isPreRestore ? seenPreRestore : seenAuto;
        if (++seen <= keep)
            continue;
        if (!spared.isEmpty() && QFileInfo(all.at(i).path).absoluteFilePath() == spared)
            continue;
        if (!QFile::remove(all.at(i).path)) {
            qWarning().noquote() << "purgeOld: remove failed:" << all.at(i).path;
            ++failures;
        }
    }
    if (failures > 0)
        qWarning().noquote() << "purgeOld:" << failures << "old snapshot(s) could not be removed";
}

bool BackupEngine::exportSnapshot(const QString& src, const QString& dst, QString* errorOut)
{
    QString unwanted;
    QString& error = errorOut ? *errorOut : unwanted;
    if (!QFile::exists(src)) {
        error = QStringLiteral("快照文件不存在");
        return false;
    }
    if (!QDir().mkpath(QFileInfo(dst).absolutePath())) {
        error = QStringLiteral("导出失败，目标目录不可写");
        return false;
    }
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("导出失败，无法读取快照文件");
        return false;
    }
    // The copy is as private as the snapshot (it holds the account token and the device id), whatever
    // folder it lands in: written under a partial name created 0600, then renamed over the target.
    const QString target = QFileInfo(dst).absoluteFilePath();
    const QString partial = target + QLatin1Char('.') + runTag() + QStringLiteral(".part");
    if (QFileInfo(target).isDir()) {
        error = QStringLiteral("导出失败，请检查目标路径是否可写");
        return false;
    }
    QFile::remove(partial);
    const int fd = ::open(QFile::encodeName(partial).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = QStringLiteral("导出失败，请检查目标路径是否可写");
        return false;
    }
    const auto abandon = [&](const QString& text) {
        ::close(fd);
        QFile::remove(partial);
        error = text;
        return false;
    };
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(chunk.data(), chunk.size());
        if (n < 0)
            return abandon(QStringLiteral("导出失败，读取快照出错"));
        if (n == 0)
            break;
        qint64 done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, chunk.constData() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return abandon(QStringLiteral("导出失败，请检查磁盘空间"));
            done += w;
        }
    }
    if (::fsync(fd) != 0)
        return abandon(QStringLiteral("导出失败，请检查磁盘空间"));
    if (::close(fd) != 0 ||
        ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(partial);
        error = QStringLiteral("导出失败，写入被拦截");
        return false;
    }
    return true;
}

int BackupEngine::removeStaleParts(const QString& dir, int maxAgeSecs)
{
    QDir d(dir);
    if (!d.exists())
        return 0;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 self = ktr::platform::currentProcessId();
    const auto imageOf = [](qint64 pid) {
        ktr::platform::ProcessEntry entry;
        return ktr::platform::readProcessEntry(pid, &entry) ? entry.imagePath : QString();
    };
    const QString selfExe = imageOf(self);
    int removed = 0;
    const QStringList names = d.entryList({QStringLiteral("*.part")}, QDir::Files, QDir::NoSort);
    for (const QString& name : names) {
        if (!isPartialName(name))
            continue;
        const QStringList parts = name.split(QLatin1Char('.'));
        const QString owner = parts.size() > 2 ? parts.at(parts.size() - 2) : QString();
        const QString path = d.filePath(name);
        const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
        if (!st.exists)
            continue;
        // A run tag (process id and start time) proves a writer gone, and its file goes at once; the
        // age rule is kept for names that carry only an id.
        bool dead = owner.contains(QLatin1Char('-')) && isDeadRunTag(owner);
        if (!dead) {
            if (owner.contains(QLatin1Char('-')))
                continue; // a live run's file, or a tag that can't be read
            bool ok = false;
            const qint64 pid = owner.toLongLong(&ok);
            if (ok && pid == self)
                continue;
            // A live process counts only when it runs this program: a reused id belongs to someone else.
            if (ok && pid > 0 && ktr::platform::isProcessAlive(pid) && !selfExe.isEmpty() && imageOf(pid) == selfExe)
                continue;
            if (now - st.modifiedSecs < maxAgeSecs)
                continue;
        }
        if (QFile::remove(path)) {
            qInfo().noquote() << "stale backup part removed:" << path;
            ++removed;
        }
    }
    return removed;
}

int BackupEngine::removeDeadRunLeftovers(const QString& dataDir, const QString& backupDir)
{
    int removed = backupDir.isEmpty() ? 0 : removeStaleParts(backupDir, int(kLeftoverAgeSecs));
    if (dataDir.isEmpty())
        return removed;
    const QFileInfo data(QDir::cleanPath(QFileInfo(dataDir).absoluteFilePath()));
    const QString stem = data.fileName() + QStringLiteral(".ktrrest_");
    const QDir parent(data.absolutePath());
    const QStringList names = parent.entryList(
        {stem + QLatin1Char('*')}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::NoSort);
    const uint me = ktr::platform::currentUserId();
    for (const QString& name : names) {
        // "<data>.ktrrest_<pid>-<ticks>-<unique>": the run tag is the part before the last hyphen.
        const QString rest = name.mid(stem.size());
        const qsizetype cut = rest.lastIndexOf(QLatin1Char('-'));
        if (cut <= 0 || !isDeadRunTag(rest.left(cut)))
            continue;
        const QString path = parent.filePath(name);
        const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
        if (!st.exists || st.owner != me)
            continue;
        if (removeTree(path)) {
            qInfo().noquote() << "restore leftover of a dead run removed:" << path;
            ++removed;
        } else {
            qWarning().noquote() << "removeDeadRunLeftovers: failed to remove:" << path;
        }
    }
    return removed;
}
