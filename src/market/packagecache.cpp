#include "market/packagecache.h"

#include "market/marketfiles.h"
#include "platform/clock.h"
#include "ui/jsonutil.h"
#include "ui/savefile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace {

ktr::platform::Clock* g_clock = nullptr;

constexpr qint64 kMaxIndexBytes = 8 * 1024 * 1024;

qint64 nowSecs()
{
    const ktr::platform::Clock* clock = g_clock ? g_clock : ktr::platform::Clock::system();
    return clock->now().toSecsSinceEpoch();
}

// "savedAt" as a 64-bit integer; false when it is not a number.
bool readSavedAt(const QJsonValue& value, qint64* out)
{
    if (!value.isDouble())
        return false;
    *out = value.toInteger(qint64(value.toDouble()));
    return true;
}

// Stale: not stored at a real time, older than a day, or (a clock set back, a copied index) in the future.
bool isStale(qint64 savedAt, qint64 now)
{
    return savedAt < 1 || now - savedAt > kPackageCacheMaxAgeSec || savedAt > now;
}

} // namespace

void setPackageCacheClock(ktr::platform::Clock* clock)
{
    g_clock = clock;
}

QString packageCacheDir()
{
    return appsRootDir() + QStringLiteral("/_cache");
}

QJsonObject readCacheIndex(const QString& cacheDir)
{
    QByteArray bytes;
    if (ktr::readFileCapped(cacheDir + QStringLiteral("/index.json"), kMaxIndexBytes, &bytes) != ktr::ReadStatus::Ok)
        return {};
    QJsonObject index;
    parseJsonObject(bytes, index); // logs "[jsonutil] object parse failed:" itself
    return index;
}

void writeCacheIndex(const QString& cacheDir, const QJsonObject& index)
{
    QDir().mkpath(cacheDir);
    QString error;
    if (!ktr::saveFileAtomic(cacheDir + QStringLiteral("/index.json"),
                             QJsonDocument(index).toJson(QJsonDocument::Compact), &error))
        qWarning().noquote() << "writeCacheIndex: save failed:" << error;
}

QString cacheFilePath(const QString& cacheDir, const QString& id, const QString& version, const QString& file)
{
    if (!isValidAppId(id) || !isValidVersionString(version))
        return {};
    if (file != version + QStringLiteral(".zip") || file.size() > 128 ||
        !file.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive) || !isValidVersionString(file))
        return {};
    const QString root = QDir::cleanPath(QDir(cacheDir).absolutePath());
    const QString appDir = root + u'/' + id;
    if (QFileInfo(appDir).isSymLink())
        return {};
    const QString path = QDir::cleanPath(appDir + u'/' + file);
    if (!path.startsWith(root + u'/', Qt::CaseSensitive))
        return {};
    return path;
}

QString lookupCachedPackage(const QString& id, const QString& version)
{
    if (id.isEmpty() || version.isEmpty())
        return {};
    const QString dir = packageCacheDir();
    const QJsonObject entry = readCacheIndex(dir).value(id).toObject().value(version).toObject();
    if (entry.isEmpty())
        return {};
    qint64 savedAt = 0;
    if (!readSavedAt(entry.value(QStringLiteral("savedAt")), &savedAt) || isStale(savedAt, nowSecs()))
        return {};
    const QString path = cacheFilePath(dir, id, version, entry.value(QStringLiteral("file")).toString());
    return !path.isEmpty() && QFileInfo(path).isFile() ? path : QString();
}

void cachePackage(const QString& id, const QString& version, const QString& sourcePath)
{
    if (id.isEmpty() || version.isEmpty() || !QFileInfo::exists(sourcePath) || !isValidVersionString(version))
        return;
    const QString dir = packageCacheDir();
    const QString appDir = dir + u'/' + id;
    if (!QDir().mkpath(appDir))
        return;
    const QString dest = appDir + u'/' + version + QStringLiteral(".zip");
    if (!removePackageFile(dest, QStringLiteral("cache-overwrite"))) {
        removePackageFile(sourcePath, QStringLiteral("archive-aborted"));
        return;
    }
    if (!QFile::rename(sourcePath, dest)) {
        if (!QFile::copy(sourcePath, dest))
            return; // the source stays where it is, the index untouched
        removePackageFile(sourcePath, QStringLiteral("download-temp"));
    }
    QJsonObject index = readCacheIndex(dir);
    QJsonObject app = index.value(id).toObject();
    app.insert(version, QJsonObject{{QStringLiteral("file"), version + QStringLiteral(".zip")},
                                    {QStringLiteral("savedAt"), nowSecs()}});
    index.insert(id, app);
    writeCacheIndex(dir, index);
}

void sweepPackageCache()
{
    const QString dir = packageCacheDir();
    if (!QFileInfo(dir).isDir())
        return;
    const QJsonObject index = readCacheIndex(dir);
    const qint64 now = nowSecs();
    QList<PackageCacheEntry> kept;
    for (auto app = index.constBegin(); app != index.constEnd(); ++app) {
        const QJsonObject versions = app.value().toObject();
        for (auto v = versions.constBegin(); v != versions.constEnd(); ++v) {
            const QJsonObject entry = v.value().toObject();
            PackageCacheEntry e;
            e.id = app.key();
            e.version = v.key();
            e.file = entry.value(QStringLiteral("file")).toString();
            if (!readSavedAt(entry.value(QStringLiteral("savedAt")), &e.savedAt)) {
                qWarning().noquote() << "cache index: bad savedAt, treating as fresh" << e.id << e.version;
                e.savedAt = now;
            }
            e.path = cacheFilePath(dir, e.id, e.version, e.file);
            if (e.path.isEmpty()) {
                qWarning().noquote() << "cache index: skip unsafe entry" << e.id << e.version << e.file;
                continue;
            }
            const QFileInfo info(e.path);
            e.size = info.size();
            if (isStale(e.savedAt, now) || !info.exists()) {
                removePackageFile(e.path, QStringLiteral("stale-cache"));
                continue;
            }
            kept.append(e);
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const PackageCacheEntry& a, const PackageCacheEntry& b) { return a.savedAt > b.savedAt; });
    QHash<QString, int> perApp;
    for (qsizetype i = 0; i < kept.size();) {
        if (++perApp[kept[i].id] > kPackageCachePerApp) {
            removePackageFile(kept[i].path, QStringLiteral("per-app-limit"));
            kept.removeAt(i);
        } else {
            ++i;
        }
    }
    qint64 total = 0;
    for (const PackageCacheEntry& e : std::as_const(kept))
        total += e.size;
    while (total > kPackageCacheMaxBytes && !kept.isEmpty()) {
        const PackageCacheEntry oldest = kept.takeLast();
        removePackageFile(oldest.path, QStringLiteral("total-limit"));
        total -= oldest.size;
    }
    QJsonObject fresh;
    for (const PackageCacheEntry& e : std::as_const(kept)) {
        QJsonObject app = fresh.value(e.id).toObject();
        app.insert(e.version, QJsonObject{{QStringLiteral("file"), e.file}, {QStringLiteral("savedAt"), e.savedAt}});
        fresh.insert(e.id, app);
    }
    writeCacheIndex(dir, fresh);
    const QFileInfoList subdirs =
        QDir(dir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& sub : subdirs) {
        if (fresh.contains(sub.fileName()))
            continue;
        if (sub.isSymLink()) {
            qWarning().noquote() << "cache sweep: skip symlink dir" << sub.filePath();
            continue;
        }
        if (!QDir(sub.filePath()).removeRecursively())
            qWarning().noquote() << "cache sweep: failed to remove stale dir" << sub.filePath();
    }
}
