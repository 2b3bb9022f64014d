#include "platform/icontheme.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QMimeDatabase>
#include <QMutex>
#include <QPainter>
#include <QSet>
#include <QSvgRenderer>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

namespace ktr::platform {
namespace {

constexpr qint64 kMaxIconFileBytes = 8 * 1024 * 1024;
constexpr qint64 kMaxIndexFileBytes = 1024 * 1024;
constexpr qint64 kMaxDesktopFileBytes = 1024 * 1024;
constexpr int kMaxIconSide = 4096;

const QStringList& iconSuffixes()
{
    static const QStringList list{QStringLiteral("png"), QStringLiteral("svg"), QStringLiteral("svgz"),
                                  QStringLiteral("xpm")};
    return list;
}

QByteArray readCapped(const QString& path, qint64 cap)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > cap)
        return {};
    return f.read(cap);
}

// A minimal reader of the INI dialect of index.theme and .desktop files: groups and key=value lines.
using IniGroups = QHash<QString, QHash<QString, QString>>;

IniGroups parseIni(const QByteArray& bytes)
{
    IniGroups groups;
    QString group;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || group.isEmpty())
            continue;
        QHash<QString, QString>& g = groups[group];
        const QString key = line.left(eq).trimmed();
        if (!g.contains(key)) // the first value of a key counts
            g.insert(key, line.mid(eq + 1).trimmed());
    }
    return groups;
}

QStringList splitList(const QString& value)
{
    QStringList out;
    for (const QString& part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString t = part.trimmed();
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

struct ThemeDir
{
    enum Type { Fixed, Scalable, Threshold };
    int size = 0;
    int minSize = 0;
    int maxSize = 0;
    int threshold = 2;
    int scale = 1;
    Type type = Threshold;

    bool matches(int want) const
    {
        switch (type) {
        case Fixed:
            return size == want;
        case Scalable:
            return minSize <= want && want <= maxSize;
        case Threshold:
            return size - threshold <= want && want <= size + threshold;
        }
        return false;
    }
    int distance(int want) const
    {
        switch (type) {
        case Fixed:
            return qAbs(size - want);
        case Scalable:
            return want < minSize ? minSize - want : (want > maxSize ? want - maxSize : 0);
        case Threshold:
            return want < size - threshold ? size - threshold - want
                                           : (want > size + threshold ? want - size - threshold : 0);
        }
        return 0;
    }
};

struct IconFile
{
    int dir = 0;    // index into Theme::dirs
    int base = 0;   // which of the theme's base folders holds it
    int suffix = 0; // index into iconSuffixes()
    QString path;
};

// A theme folder's "icon-theme.cache", the index the desktop's own update tool keeps beside the icons (big
// endian: a header, the directory names, a hash table of icon names, per icon its directories and the
// suffixes found there). Reading it replaces listing the folder's thousands of files. The whole table is
// checked when it is opened: a stale, truncated or damaged cache is not used at all.
class ThemeCache
{
public:
    // The cache of `base`, when it is readable, of the version known here and not older than the folder
    // (an icon installed since then would be missing from it).
    static std::unique_ptr<ThemeCache> open(const QString& base)
    {
        const QString path = base + QStringLiteral("/icon-theme.cache");
        const QFileInfo cacheInfo(path);
        const QFileInfo baseInfo(base);
        // In whole seconds, as the tool that writes the cache sets the folder's time to the cache's.
        if (!cacheInfo.isFile() ||
            cacheInfo.lastModified().toSecsSinceEpoch() < baseInfo.lastModified().toSecsSinceEpoch())
            return nullptr;
        auto cache = std::make_unique<ThemeCache>();
        cache->m_data = readCapped(path, kMaxCacheFileBytes);
        quint32 dirList = 0;
        if (cache->u16(0) != 1 || cache->u16(2) != 0 || !cache->u32(4, &cache->m_hash) || !cache->u32(8, &dirList))
            return nullptr;
        quint32 dirCount = 0;
        if (!cache->u32(dirList, &dirCount) || dirCount > 65536 || !cache->u32(cache->m_hash, &cache->m_buckets) ||
            cache->m_buckets == 0)
            return nullptr;
        for (quint32 i = 0; i < dirCount; ++i) {
            quint32 nameOffset = 0;
            QByteArray name;
            if (!cache->u32(dirList + 4 + 4 * i, &nameOffset) || !cache->cString(nameOffset, &name))
                return nullptr;
            cache->m_dirNames << QString::fromUtf8(name);
        }
        if (!cache->wholeTableReadable())
            return nullptr;
        return cache;
    }

    const QStringList& dirNames() const { return m_dirNames; }

    // The directories (indexes into dirNames()) holding `name`, each with its suffix flags.
    QList<QPair<int, int>> images(const QByteArray& name) const
    {
        QList<QPair<int, int>> out;
        quint32 offset = 0;
        if (!u32(m_hash + 4 + 4 * (hash(name) % m_buckets), &offset))
            return out;
        for (int guard = 0; offset != kNone && guard < 65536; ++guard) {
            Icon icon;
            if (!iconAt(offset, &icon))
                return out;
            if (icon.name == name) {
                for (quint32 i = 0; i < icon.count; ++i) {
                    const qint64 at = qint64(icon.list) + 4 + 8 * qint64(i);
                    const int dir = u16(at);
                    const int flags = u16(at + 2);
                    if (dir < 0 || flags < 0)
                        return out;
                    out.append({dir, flags});
                }
                return out;
            }
            offset = icon.chain;
        }
        return out;
    }

    // Every bucket's chain, name and image list lies within the file: a truncated or damaged cache is not
    // used at all (the folder is listed instead), rather than answering some names and not others.
    bool wholeTableReadable() const
    {
        if (m_buckets > quint32(m_data.size()))
            return false;
        qint64 icons = 0;
        for (quint32 b = 0; b < m_buckets; ++b) {
            quint32 offset = 0;
            if (!u32(m_hash + 4 + 4 * qint64(b), &offset))
                return false;
            while (offset != kNone) {
                Icon icon;
                if (++icons > m_data.size() / 12 || !iconAt(offset, &icon))
                    return false; // out of the file, or more icons than it can hold: a loop
                offset = icon.chain;
            }
        }
        return true;
    }

    static constexpr int kXpm = 1;
    static constexpr int kSvg = 2;
    static constexpr int kPng = 4;

private:
    static constexpr quint32 kNone = 0xffffffffu;
    static constexpr qint64 kMaxCacheFileBytes = 64 * 1024 * 1024;

    // One entry of the hash table: the next in its bucket, its name, its list of `count` images.
    struct Icon
    {
        quint32 chain = 0;
        QByteArray name;
        quint32 list = 0;
        quint32 count = 0;
    };
    bool iconAt(quint32 offset, Icon* icon) const
    {
        quint32 nameOffset = 0;
        return u32(offset, &icon->chain) && u32(offset + 4, &nameOffset) && u32(offset + 8, &icon->list) &&
               cString(nameOffset, &icon->name) && u32(icon->list, &icon->count) &&
               qint64(icon->list) + 4 + 8 * qint64(icon->count) <= m_data.size();
    }

    // The tool's hash of an icon name (over signed chars).
    static quint32 hash(const QByteArray& name)
    {
        const signed char* p = reinterpret_cast<const signed char*>(name.constData());
        quint32 h = quint32(qint32(*p));
        if (h != 0) {
            for (++p; *p != '\0'; ++p)
                h = (h << 5) - h + quint32(qint32(*p));
        }
        return h;
    }

    int u16(qint64 at) const
    {
        if (at < 0 || at + 2 > m_data.size())
            return -1;
        const auto* d = reinterpret_cast<const uchar*>(m_data.constData()) + at;
        return (d[0] << 8) | d[1];
    }
    bool u32(qint64 at, quint32* value) const
    {
        if (at < 0 || at + 4 > m_data.size())
            return false;
        const auto* d = reinterpret_cast<const uchar*>(m_data.constData()) + at;
        *value = (quint32(d[0]) << 24) | (quint32(d[1]) << 16) | (quint32(d[2]) << 8) | quint32(d[3]);
        return true;
    }
    bool cString(qint64 at, QByteArray* out) const
    {
        if (at < 0 || at >= m_data.size())
            return false;
        const char* begin = m_data.constData() + at;
        const void* nul = memchr(begin, 0, size_t(m_data.size() - at));
        if (!nul)
            return false;
        *out = QByteArray(begin, static_cast<const char*>(nul) - begin);
        return true;
    }

    QByteArray m_data;
    quint32 m_hash = 0;
    quint32 m_buckets = 0;
    QStringList m_dirNames;
};

struct CachedBase
{
    int base = 0;
    QString path;
    std::unique_ptr<ThemeCache> cache;
    QList<int> dirOf; // the cache's directory index -> index into Theme::dirs, -1 for one the theme doesn't list
};

struct Theme
{
    QString name;
    QStringList inherits;
    QList<ThemeDir> dirs;
    QStringList dirNames;                  // as index.theme names them, beside dirs
    QHash<QString, QList<IconFile>> files; // icon name -> every file of that name in the listed base folders
    std::vector<CachedBase> cached;        // base folders read through their cache instead

    // Every file of `name` in the order a listing of each directory (by index.theme), base by base, finds them.
    QList<IconFile> filesOf(const QString& name) const
    {
        QList<IconFile> out = files.value(name);
        if (cached.empty())
            return out;
        const QByteArray key = name.toUtf8();
        for (const CachedBase& c : cached) {
            for (const auto& [cacheDir, flags] : c.cache->images(key)) {
                const int dir = cacheDir < c.dirOf.size() ? c.dirOf.at(cacheDir) : -1;
                if (dir < 0)
                    continue;
                const QString stem = c.path + QLatin1Char('/') + dirNames.at(dir) + QLatin1Char('/') + name;
                if (flags & ThemeCache::kPng)
                    out.append({dir, c.base, 0, stem + QStringLiteral(".png")});
                if (flags & ThemeCache::kSvg)
                    out.append({dir, c.base, 1, stem + QStringLiteral(".svg")});
                if (flags & ThemeCache::kXpm)
                    out.append({dir, c.base, 3, stem + QStringLiteral(".xpm")});
            }
        }
        std::stable_sort(out.begin(), out.end(), [](const IconFile& a, const IconFile& b) {
            return std::tie(a.dir, a.base, a.suffix) < std::tie(b.dir, b.base, b.suffix);
        });
        return out;
    }
};

// Loads one theme: the first index.theme found names its directories; every base folder of that name
// contributes files (the spec lets a theme be spread over several search paths).
std::unique_ptr<Theme> loadTheme(const QString& name, const QStringList& searchPaths)
{
    QStringList bases;
    QByteArray index;
    for (const QString& sp : searchPaths) {
        const QString base = sp + QLatin1Char('/') + name;
        if (!QFileInfo(base).isDir())
            continue;
        bases << base;
        if (index.isEmpty())
            index = readCapped(base + QStringLiteral("/index.theme"), kMaxIndexFileBytes);
    }
    if (index.isEmpty())
        return nullptr;
    const IniGroups ini = parseIni(index);
    const auto head = ini.value(QStringLiteral("Icon Theme"));
    auto theme = std::make_unique<Theme>();
    theme->name = name;
    theme->inherits = splitList(head.value(QStringLiteral("Inherits")));
    QStringList dirNames = splitList(head.value(QStringLiteral("Directories")));
    dirNames += splitList(head.value(QStringLiteral("ScaledDirectories")));
    // A base folder with a usable cache is not listed.
    QList<bool> cachedBase;
    for (int b = 0; b < bases.size(); ++b) {
        std::unique_ptr<ThemeCache> cache = ThemeCache::open(bases.at(b));
        cachedBase << bool(cache);
        if (cache)
            theme->cached.push_back(CachedBase{b, bases.at(b), std::move(cache), {}});
    }
    for (const QString& dn : std::as_const(dirNames)) {
        const auto g = ini.value(dn);
        ThemeDir d;
        d.size = g.value(QStringLiteral("Size")).toInt();
        if (d.size <= 0)
            continue;
        d.scale = qMax(1, g.value(QStringLiteral("Scale"), QStringLiteral("1")).toInt());
        if (d.scale != 1)
            continue; // no scaled lookups: the caller asks for device pixels
        d.minSize = g.value(QStringLiteral("MinSize"), QString::number(d.size)).toInt();
        d.maxSize = g.value(QStringLiteral("MaxSize"), QString::number(d.size)).toInt();
        d.threshold = g.value(QStringLiteral("Threshold"), QStringLiteral("2")).toInt();
        const QString type = g.value(QStringLiteral("Type"), QStringLiteral("Threshold"));
        d.type = type == QLatin1String("Fixed")      ? ThemeDir::Fixed
                 : type == QLatin1String("Scalable") ? ThemeDir::Scalable
                                                     : ThemeDir::Threshold;
        const int dirIndex = int(theme->dirs.size());
        theme->dirs << d;
        theme->dirNames << dn;
        for (int b = 0; b < bases.size(); ++b) {
            if (cachedBase[b])
                continue;
            const QDir dir(bases.at(b) + QLatin1Char('/') + dn);
            // Files only, without asking whether each is readable: that was an access() call for every one of
            // a theme's thousands of files, the largest part of the first lookup. An unreadable file fails where
            // it is loaded, like a broken one.
            const QStringList entries = dir.entryList(QDir::Files);
            for (const QString& fileName : entries) {
                const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
                const qsizetype suffix = dot <= 0 ? -1 : iconSuffixes().indexOf(fileName.mid(dot + 1));
                if (suffix < 0)
                    continue;
                theme->files[fileName.left(dot)].append({dirIndex, b, int(suffix), dir.filePath(fileName)});
            }
        }
    }
    for (CachedBase& c : theme->cached) {
        for (const QString& dn : c.cache->dirNames())
            c.dirOf << int(theme->dirNames.indexOf(dn));
    }
    return theme;
}

// The configured set of themes, indexed lazily; shared by every thread under one mutex.
struct ThemeSet
{
    IconThemes::Config config;
    QHash<QString, std::shared_ptr<const Theme>> loaded; // a null entry: looked for, not installed
    QStringList chain;                                   // the themes to search, in order
    bool chainBuilt = false;
    // Each name's answer at each size (empty: none), found once: every file of one type asks for the same.
    QHash<QPair<QString, int>, QString> found;
};

QMutex& setMutex()
{
    static QMutex m;
    return m;
}

std::shared_ptr<ThemeSet>& currentSet()
{
    static std::shared_ptr<ThemeSet> set;
    return set;
}

std::shared_ptr<const Theme> themeLocked(ThemeSet& set, const QString& name)
{
    auto it = set.loaded.constFind(name);
    if (it != set.loaded.constEnd())
        return it.value();
    std::shared_ptr<const Theme> theme(loadTheme(name, set.config.searchPaths).release());
    set.loaded.insert(name, theme);
    return theme;
}

// The themes to search in order: the chosen theme and what it inherits (depth first, each once), then
// Adwaita (so a desktop without a configured theme, or a theme without MIME icons, still finds icons),
// then hicolor, which every theme falls back to.
QList<std::shared_ptr<const Theme>> chainLocked(ThemeSet& set)
{
    if (!set.chainBuilt) {
        QStringList order;
        QStringList stack;
        if (!set.config.themeName.isEmpty())
            stack << set.config.themeName;
        while (!stack.isEmpty()) {
            const QString name = stack.takeFirst();
            if (order.contains(name) || name == QLatin1String("hicolor"))
                continue;
            order << name;
            if (auto t = themeLocked(set, name))
                stack = t->inherits + stack;
        }
        if (!order.contains(QStringLiteral("Adwaita")))
            order << QStringLiteral("Adwaita");
        order << QStringLiteral("hicolor");
        set.chain = order;
        set.chainBuilt = true;
    }
    QList<std::shared_ptr<const Theme>> out;
    for (const QString& name : std::as_const(set.chain)) {
        if (auto t = themeLocked(set, name))
            out << t;
    }
    return out;
}

QString bestFile(const Theme& theme, const QString& name, int size)
{
    const QList<IconFile> candidates = theme.filesOf(name);
    const IconFile* best = nullptr;
    int bestDistance = 0;
    int bestSize = 0;
    for (const IconFile& f : candidates) {
        const ThemeDir& d = theme.dirs.at(f.dir);
        // An image drawn for exactly this size first, then any directory that covers it, then the nearest.
        const int dist = d.type != ThemeDir::Scalable && d.size == size ? -2 : d.matches(size) ? -1 : d.distance(size);
        const int dirSize = d.type == ThemeDir::Scalable ? d.maxSize : d.size;
        // On a tie the larger one, which scales down cleanly.
        if (!best || dist < bestDistance || (dist == bestDistance && dirSize > bestSize)) {
            best = &f;
            bestDistance = dist;
            bestSize = dirSize;
        }
    }
    return best ? best->path : QString();
}

QString unthemedFile(const QStringList& fallbackPaths, const QString& name)
{
    for (const QString& dir : fallbackPaths) {
        for (const QString& suffix : iconSuffixes()) {
            const QString p = dir + QLatin1Char('/') + name + QLatin1Char('.') + suffix;
            if (QFileInfo(p).isFile())
                return p;
        }
    }
    return {};
}

} // namespace

IconThemes::Config IconThemes::defaultConfig()
{
    Config c;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QStringList dataDirs = qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (dataDirs.isEmpty())
        dataDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    c.searchPaths << dataHome + QStringLiteral("/icons") << QDir::homePath() + QStringLiteral("/.icons");
    for (const QString& d : std::as_const(dataDirs)) {
        c.searchPaths << d + QStringLiteral("/icons");
        c.fallbackPaths << d + QStringLiteral("/pixmaps");
    }
    return c;
}

void IconThemes::configure(const Config& config)
{
    auto set = std::make_shared<ThemeSet>();
    set->config = config;
    QMutexLocker lock(&setMutex());
    currentSet() = std::move(set);
}

IconThemes::Config IconThemes::config()
{
    QMutexLocker lock(&setMutex());
    if (!currentSet())
        return defaultConfig();
    return currentSet()->config;
}

QString IconThemes::findIconFile(const QStringList& names, int size)
{
    std::shared_ptr<ThemeSet> set;
    QList<std::shared_ptr<const Theme>> chain;
    QStringList fallbackPaths;
    {
        // Indexing a theme happens under the lock, once; later lookups only read the shared index.
        QMutexLocker lock(&setMutex());
        if (!currentSet()) {
            currentSet() = std::make_shared<ThemeSet>();
            currentSet()->config = defaultConfig();
        }
        set = currentSet();
        chain = chainLocked(*set);
        fallbackPaths = set->config.fallbackPaths;
    }
    for (const QString& name : names) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')))
            continue;
        const QPair<QString, int> key(name, size);
        QString f;
        bool known = false;
        {
            QMutexLocker lock(&setMutex());
            const auto it = set->found.constFind(key);
            if (it != set->found.constEnd()) {
                f = it.value();
                known = true;
            }
        }
        if (!known) {
            for (const auto& theme : std::as_const(chain)) {
                f = bestFile(*theme, name, size);
                if (!f.isEmpty())
                    break;
            }
            if (f.isEmpty())
                f = unthemedFile(fallbackPaths, name);
            QMutexLocker lock(&setMutex());
            set->found.insert(key, f);
        }
        if (!f.isEmpty())
            return f;
    }
    return {};
}

QImage IconThemes::loadIcon(const QStringList& names, int size)
{
    const QString file = findIconFile(names, size);
    return file.isEmpty() ? QImage() : renderIconFile(file, size);
}

QImage renderIconFile(const QString& file, int size)
{
    const QFileInfo fi(file);
    if (!fi.isFile() || fi.size() < 1 || fi.size() > kMaxIconFileBytes || size < 1)
        return {};
    const QString suffix = fi.suffix().toLower();
    if (suffix == QLatin1String("svg") || suffix == QLatin1String("svgz")) {
        // QSvgRenderer reads .svgz itself (gzip is recognised from the content).
        QSvgRenderer renderer(file);
        if (!renderer.isValid())
            return {};
        QSize natural = renderer.defaultSize();
        if (natural.isEmpty())
            natural = QSize(size, size);
        const QSize target = natural.scaled(size, size, Qt::KeepAspectRatio);
        if (target.isEmpty())
            return {};
        QImage img(target, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(target)));
        p.end();
        return img.convertToFormat(QImage::Format_ARGB32);
    }
    const QByteArray bytes = readCapped(file, kMaxIconFileBytes);
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
    if (declared.isValid() && (declared.width() > kMaxIconSide || declared.height() > kMaxIconSide))
        return {};
    const QImage img = reader.read();
    if (img.isNull() || img.width() > kMaxIconSide || img.height() > kMaxIconSide)
        return {};
    return img.convertToFormat(QImage::Format_ARGB32);
}

QStringList mimeIconNames(const QString& path)
{
    static const QMimeDatabase db; // QMimeDatabase is thread-safe
    const QFileInfo fi(path);
    QMimeType type;
    if (fi.isDir())
        type = db.mimeTypeForName(QStringLiteral("inode/directory"));
    else if (fi.isFile())
        type = db.mimeTypeForFile(fi);
    else
        type = db.mimeTypeForFile(path, QMimeDatabase::MatchExtension); // never open a FIFO or device
    QStringList names;
    const auto add = [&names](const QString& n) {
        if (!n.isEmpty() && !names.contains(n))
            names << n;
    };
    QList<QMimeType> todo{type};
    while (!todo.isEmpty()) {
        const QMimeType t = todo.takeFirst();
        if (!t.isValid())
            continue;
        add(t.iconName());
        add(t.genericIconName());
        for (const QString& parent : t.parentMimeTypes())
            todo << db.mimeTypeForName(parent);
    }
    return names;
}

bool isStandardIconName(const QString& name)
{
    static const QSet<QString> names = [] {
        const char* const list[] = {
            // Applications
            "accessories-calculator",
            "accessories-character-map",
            "accessories-dictionary",
            "accessories-text-editor",
            "help-browser",
            "multimedia-volume-control",
            "preferences-desktop-accessibility",
            "preferences-desktop-font",
            "preferences-desktop-keyboard",
            "preferences-desktop-locale",
            "preferences-desktop-multimedia",
            "preferences-desktop-screensaver",
            "preferences-desktop-theme",
            "preferences-desktop-wallpaper",
            "system-file-manager",
            "system-software-install",
            "system-software-update",
            "utilities-system-monitor",
            "utilities-terminal",
            // Categories
            "applications-accessories",
            "applications-development",
            "applications-engineering",
            "applications-games",
            "applications-graphics",
            "applications-internet",
            "applications-multimedia",
            "applications-office",
            "applications-other",
            "applications-science",
            "applications-system",
            "applications-utilities",
            "preferences-desktop",
            "preferences-desktop-peripherals",
            "preferences-desktop-personal",
            "preferences-other",
            "preferences-system",
            "preferences-system-network",
            "system-help",
            // Devices
            "audio-card",
            "audio-input-microphone",
            "battery",
            "camera-photo",
            "camera-video",
            "camera-web",
            "computer",
            "drive-harddisk",
            "drive-optical",
            "drive-removable-media",
            "input-gaming",
            "input-keyboard",
            "input-mouse",
            "input-tablet",
            "media-flash",
            "media-floppy",
            "media-optical",
            "media-tape",
            "modem",
            "multimedia-player",
            "network-wired",
            "network-wireless",
            "pda",
            "phone",
            "printer",
            "scanner",
            "video-display",
            // MIME types
            "application-x-executable",
            "audio-x-generic",
            "font-x-generic",
            "image-x-generic",
            "package-x-generic",
            "text-html",
            "text-x-generic",
            "text-x-generic-template",
            "text-x-script",
            "video-x-generic",
            "x-office-address-book",
            "x-office-calendar",
            "x-office-document",
            "x-office-drawing",
            "x-office-presentation",
            "x-office-spreadsheet",
            // Places
            "folder",
            "folder-remote",
            "network-server",
            "network-workgroup",
            "start-here",
            "user-bookmarks",
            "user-desktop",
            "user-home",
            "user-trash",
            // Status of places
            "folder-drag-accept",
            "folder-open",
            "folder-visiting",
            "user-trash-full",
        };
        QSet<QString> set;
        for (const char* n : list)
            set.insert(QString::fromLatin1(n));
        return set;
    }();
    return names.contains(name);
}

QStringList iconNameFallbacks(const QString& name)
{
    QStringList out;
    if (name.isEmpty())
        return out;
    out << name;
    QString shorter = name;
    for (qsizetype dash = shorter.lastIndexOf(QLatin1Char('-')); dash > 0;
         dash = shorter.lastIndexOf(QLatin1Char('-'))) {
        shorter.truncate(dash);
        if (isStandardIconName(shorter))
            out << shorter;
    }
    return out;
}

QString standardIconName(const QString& path)
{
    if (QFileInfo(path).isDir())
        return QStringLiteral("folder");
    for (const QString& name : mimeIconNames(path))
        if (isStandardIconName(name))
            return name;
    return QStringLiteral("text-x-generic");
}

QString desktopEntryIcon(const QString& desktopFile)
{
    const IniGroups ini = parseIni(readCapped(desktopFile, kMaxDesktopFileBytes));
    return ini.value(QStringLiteral("Desktop Entry")).value(QStringLiteral("Icon"));
}

} // namespace ktr::platform
