#pragma once

#include <QJsonObject>
#include <QString>

namespace ktr::platform {
class Clock;
}

// The package cache: verified packages of recently installed or uninstalled app versions, kept for a day
// so installing the same version again needs no download. <apps>/_cache holds one folder per app id with
// "<version>.zip" files and "index.json" ({id: {version: {"file", "savedAt"}}}, savedAt in seconds since
// 1970 UTC). Nothing here reaches the user; failures only reach the log. Runs on the GUI thread.

// One cached package while the sweep runs.
struct PackageCacheEntry
{
    QString id;
    QString version;
    QString path;
    QString file;
    qint64 savedAt = 0;
    qint64 size = 0;
};

constexpr qint64 kPackageCacheMaxAgeSec = 86400;
constexpr int kPackageCachePerApp = 2;
constexpr qint64 kPackageCacheMaxBytes = 1073741824;

// <apps>/_cache (not created here).
QString packageCacheDir();
// The index of a cache folder; empty when "index.json" is missing, unreadable or no JSON object.
QJsonObject readCacheIndex(const QString& cacheDir);
// Writes "index.json" whole (the previous index stays when that fails); creates the folder.
void writeCacheIndex(const QString& cacheDir, const QJsonObject& index);
// The absolute path of a cached package, or empty when id, version or file name is unsafe (see the
// rules in the source), the app's folder is a symbolic link, or the path leaves the cache folder.
QString cacheFilePath(const QString& cacheDir, const QString& id, const QString& version, const QString& file);
// The path of a usable cached package stored at most a day ago (and not in the future), or empty.
QString lookupCachedPackage(const QString& id, const QString& version);
// Moves a verified package into the cache as <id>/<version>.zip and records it with the current time.
void cachePackage(const QString& id, const QString& version, const QString& sourcePath);
// Removes stale, unsafe, surplus (over two per app) and oversize (over 1 GiB in all, oldest first)
// entries and folders no index entry names.
void sweepPackageCache();

// The clock the cache dates entries by (nullptr: the system clock); tests drive it by hand.
void setPackageCacheClock(ktr::platform::Clock* clock);
