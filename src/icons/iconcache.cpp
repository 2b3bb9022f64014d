#include "icons/iconcache.h"

#include "ui/datadir.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QList>
#include <QMutex>
#include <QTemporaryFile>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr qsizetype kMaxCacheKeys = 256;
constexpr qint64 kMaxSnapshotBytes = 2 * 1024 * 1024;
constexpr int kMaxSnapshotSide = 4096;

QList<QString>& insertionOrder()
{
    static QList<QString> order;
    return order;
}

QSet<QString>& pinned()
{
    static QSet<QString> set;
    return set;
}

// How many entries of insertionOrder() are pinned: kept up as keys come and go, so an insert past the limit
// does not count them over the whole order again (a start loading 20,000 icons did that 20,000 times).
qsizetype& pinnedInOrder()
{
    static qsizetype count = 0;
    return count;
}

// How many entries at the front of insertionOrder() are known to be pinned (eviction starts behind them);
// valid until the pins change or the order is cleared.
qsizetype& pinnedPrefix()
{
    static qsizetype count = 0;
    return count;
}

// Keys evicted for room since they were last cached: their snapshot still shows what they showed.
QSet<QString>& evicted()
{
    static QSet<QString> set;
    return set;
}

// Evicts the oldest unpinned keys until at most kMaxCacheKeys of them are left.
void evictUnpinned(IconCacheMap* map)
{
    QList<QString>& order = insertionOrder();
    if (order.size() <= kMaxCacheKeys)
        return;
    const QSet<QString>& keep = pinned();
    const qsizetype kept = pinnedInOrder();
    qsizetype k = std::min(pinnedPrefix(), order.size());
    while (order.size() - kept > kMaxCacheKeys && k < order.size()) {
        if (keep.contains(order.at(k))) {
            ++k;
            continue;
        }
        const QString key = order.takeAt(k);
        if (map->remove(key) > 0)
            evicted().insert(key);
    }
    pinnedPrefix() = k;
}

// Pixmaps already made from an image, by the image's cache key (which names the pixels, and changes when they
// change). Many paths show one shared theme image; converting it for each path on its own would keep one copy
// of the pixels per path. An entry that nothing else holds any more is dropped at the next conversion.
constexpr qsizetype kMaxSharedPixmaps = 4 * kMaxCacheKeys;

QHash<qint64, QPixmap>& pixmapsByImage()
{
    static QHash<qint64, QPixmap> table;
    return table;
}

// The same for images read from snapshots, by the picture they hold: every read makes a new image, but the
// snapshots of a thousand paths showing one theme icon are links to one file, or files of the same bytes.
QHash<QString, QPixmap>& pixmapsByPicture()
{
    static QHash<QString, QPixmap> table;
    return table;
}

// The text key readIconSnapshot gives an image: a digest of its pixels.
const QString& pictureKeyName()
{
    static const QString name = QStringLiteral("ktr-picture");
    return name;
}

// A table entry of a shared pixmap, made once: entries nothing else holds any more go first.
template <typename Key> QPixmap sharedPixmap(QHash<Key, QPixmap>& table, const Key& key, const QImage& image)
{
    const auto hit = table.constFind(key);
    if (hit != table.constEnd())
        return hit.value();
    table.removeIf([](typename QHash<Key, QPixmap>::iterator it) { return it.value().isDetached(); });
    if (table.size() >= kMaxSharedPixmaps)
        table.clear(); // pixmaps held elsewhere stay valid; only their sharing with later ones is lost
    // Held at the size it is painted at, not at the master's: a group of a thousand photos or application
    // icons keeps a quarter of the pixels.
    const int side = heldIconSide();
    const QPixmap pixmap =
        image.width() > side || image.height() > side
            ? QPixmap::fromImage(image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation))
            : QPixmap::fromImage(image);
    table.insert(key, pixmap);
    return pixmap;
}

QMutex& snapshotMutex()
{
    static QMutex m;
    return m;
}

// The PNG bytes of the last images written, by the image's cache key (which changes with its pixels). Many paths
// share one theme image; encoding it again for each of their snapshots would only give the same bytes again.
// Touched only under the snapshot mutex.
constexpr qsizetype kMaxEncodedSnapshots = 32;

QHash<qint64, QByteArray>& encodedSnapshots()
{
    static auto* table = new QHash<qint64, QByteArray>; // never deleted: a writer may outlive the statics
    return *table;
}

// The first snapshot file written for an image, by the image's cache key: the snapshots of the other paths
// showing it are hard links to that one file, so a theme icon shown for a thousand paths is written once.
// A hard link is a regular file, not a symbolic link, so the reader's rules are the same for it. Touched
// only under the snapshot mutex.
QHash<qint64, QString>& firstSnapshotFiles()
{
    static auto* table = new QHash<qint64, QString>; // never deleted: a writer may outlive the statics
    return *table;
}

// PNG at zlib level 1 (Qt's quality 80): a cache is read back rarely, and the default level costs several
// times the time for a few percent of size.
constexpr int kSnapshotPngQuality = 80;

// The writer of queued snapshots: one thread at the lowest nice level, so the icons being extracted and shown
// never wait for the disk. (Not SCHED_IDLE, Qt's idle priority: on a busy machine that never runs at all.)
QThreadPool* snapshotPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // never deleted: a write still running at exit is abandoned
        p->setMaxThreadCount(1);
        // A run that ends by returning (a diagnostic run, a test) drops what is queued and waits a while for
        // the write in progress, which encodes with Qt's image support and must not outlive it. The panel
        // itself drops the queue before it ends.
        if (QCoreApplication::instance())
            qAddPostRoutine([] {
                snapshotPool()->clear();
                snapshotPool()->waitForDone(2000);
            });
        return p;
    }();
    return pool;
}

void lowerThisThread()
{
    thread_local const bool lowered = [] {
        return ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 19) == 0;
    }();
    Q_UNUSED(lowered);
}

bool isShellItem(const QString& path)
{
    return path.startsWith(QLatin1String("::{"));
}

// The folder must be a real folder: snapshots are never read or written through a link.
bool snapDirIsSafe(const QString& dir)
{
    const QFileInfo fi(dir);
    return !fi.isSymLink();
}

// Reads a regular file that is not a link, up to `cap` bytes; empty when it breaks a rule.
QByteArray readRegularFileNoFollow(const QString& path, qint64 cap)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray data;
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 1 && st.st_size <= cap) {
        data.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        data.truncate(got);
    }
    ::close(fd);
    return data;
}

} // namespace

IconCacheMap* iconCache()
{
    static IconCacheMap map;
    return &map;
}

void cacheIconPixmap(const QString& path, const QPixmap& pixmap)
{
    IconCacheMap* map = iconCache();
    if (map->contains(path)) {
        map->insert(path, pixmap);
        return;
    }
    map->insert(path, pixmap);
    evicted().remove(path);
    insertionOrder().append(path);
    if (pinned().contains(path))
        ++pinnedInOrder();
    evictUnpinned(map);
}

void pinIconPaths(const QSet<QString>& paths)
{
    if (paths == pinned())
        return;
    pinned() = paths;
    qsizetype count = 0;
    if (!paths.isEmpty()) {
        for (const QString& key : std::as_const(insertionOrder()))
            count += paths.contains(key);
    }
    pinnedInOrder() = count;
    pinnedPrefix() = 0;
    // Keys that lost their pin count again.
    evictUnpinned(iconCache());
}

bool wasIconEvicted(const QString& path)
{
    return evicted().contains(path);
}

int heldIconSide()
{
    constexpr int kLargestPainted = 96; // the grid's largest icon; float icons and lists paint smaller
    constexpr int kCeiling = 192;
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    return std::clamp(int(std::ceil(kLargestPainted * std::max<qreal>(1.0, dpr))), kLargestPainted, kCeiling);
}

QPixmap iconPixmapFromImage(const QImage& image)
{
    if (image.isNull())
        return {};
    const QString picture = image.text(pictureKeyName());
    if (!picture.isEmpty())
        return sharedPixmap(pixmapsByPicture(), picture, image);
    return sharedPixmap(pixmapsByImage(), image.cacheKey(), image);
}

void cacheIconImage(const QString& path, const QImage& image)
{
    if (image.isNull() && isShellItem(path))
        return;
    cacheIconPixmap(path, iconPixmapFromImage(image));
}

void clearIconCache()
{
    // QMap::clear empties an unshared map in place and only drops this reference to a shared one.
    iconCache()->clear();
    insertionOrder().clear();
    pinnedInOrder() = 0;
    pinnedPrefix() = 0;
    evicted().clear();
    pixmapsByImage().clear();
    pixmapsByPicture().clear();
}

void iconCacheRemove(IconCacheMap& map, const QString& path)
{
    map.remove(path); // detaches a shared map by copying it without the key
    if (&map == iconCache())
        evicted().remove(path); // taken out because it changed: its snapshot is no longer what it shows
}

QString iconSnapDir()
{
    return appDataDir() + QStringLiteral("/cache/iconsnap");
}

QString iconSnapPath(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QByteArray clean = QDir::toNativeSeparators(QDir::cleanPath(path)).toUtf8();
    const QByteArray hex = QCryptographicHash::hash(clean, QCryptographicHash::Sha256).toHex().left(32);
    return iconSnapDir() + QLatin1Char('/') + QString::fromLatin1(hex) + QStringLiteral(".png");
}

void saveIconSnapshot(const QString& path, const QImage& image)
{
    if (path.isEmpty() || image.isNull())
        return;
    const QString file = iconSnapPath(path);
    if (file.isEmpty())
        return;
    QMutexLocker lock(&snapshotMutex());
    const QFileInfo existing(file);
    if (existing.exists() && !existing.isSymLink() && existing.size() >= 1)
        return;
    const QString dir = iconSnapDir();
    if (!QDir().mkpath(dir) || !snapDirIsSafe(dir))
        return;
    // A link (or anything else that isn't a regular file) in the snapshot's place goes first: nothing is ever
    // written through a link.
    if (existing.isSymLink() || (existing.exists() && !existing.isFile()))
        QFile::remove(file);
    const qint64 key = image.cacheKey();
    const QString first = firstSnapshotFiles().value(key);
    if (!first.isEmpty() && first != file) {
        const QFileInfo firstInfo(first);
        if (firstInfo.isFile() && !firstInfo.isSymLink() &&
            ::link(QFile::encodeName(first).constData(), QFile::encodeName(file).constData()) == 0)
            return;
    }
    QByteArray png = encodedSnapshots().value(key);
    if (png.isEmpty()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG", kSnapshotPngQuality) || png.isEmpty())
            return;
        if (encodedSnapshots().size() >= kMaxEncodedSnapshots)
            encodedSnapshots().clear();
        encodedSnapshots().insert(key, png);
    }
    // Written beside the snapshot and renamed over it, so a reader (or a writer in another process) sees either
    // no file or a whole one. A cache needs no flush to the disk: a snapshot lost in a crash is made again.
    QTemporaryFile out(file + QStringLiteral(".XXXXXX"));
    out.setAutoRemove(true);
    if (!out.open() || out.write(png) != png.size() || !out.flush())
        return;
    if (::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(file).constData()) != 0)
        return;
    out.setAutoRemove(false);
    if (firstSnapshotFiles().size() >= kMaxEncodedSnapshots)
        firstSnapshotFiles().clear();
    firstSnapshotFiles().insert(key, file);
}

void queueIconSnapshot(const QString& path, const QImage& image)
{
    if (path.isEmpty() || image.isNull())
        return;
    snapshotPool()->start([path, image] {
        lowerThisThread();
        saveIconSnapshot(path, image);
    });
}

void waitForIconSnapshots()
{
    snapshotPool()->waitForDone();
}

void dropQueuedIconSnapshots()
{
    snapshotPool()->clear();
    snapshotPool()->waitForDone();
}

QImage readIconSnapshot(const QString& path)
{
    const QString file = iconSnapPath(path);
    if (file.isEmpty() || !snapDirIsSafe(iconSnapDir()))
        return {};
    const QByteArray bytes = readRegularFileNoFollow(file, kMaxSnapshotBytes);
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "PNG");
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
    if (declared.width() < 1 || declared.height() < 1 || declared.width() > kMaxSnapshotSide ||
        declared.height() > kMaxSnapshotSide)
        return {};
    const QImage img = reader.read();
    if (img.isNull() || img.width() > kMaxSnapshotSide || img.height() > kMaxSnapshotSide)
        return {};
    QImage argb = img.convertToFormat(QImage::Format_ARGB32);
    // Equal pixels are the same picture, whichever path's snapshot (a link to one file, or a file of its own)
    // they came from: the memory cache then holds one pixmap for all of them. Two independent 64-bit
    // digests of the pixels name it.
    const size_t bytesOfPixels = size_t(argb.sizeInBytes());
    const size_t a = qHashBits(argb.constBits(), bytesOfPixels, 0x6b7472);
    const size_t b = qHashBits(argb.constBits(), bytesOfPixels, 0x70696374);
    argb.setText(pictureKeyName(), QStringLiteral("%1x%2:%3:%4")
                                       .arg(argb.width())
                                       .arg(argb.height())
                                       .arg(quint64(a), 16, 16, QLatin1Char('0'))
                                       .arg(quint64(b), 16, 16, QLatin1Char('0')));
    return argb;
}
