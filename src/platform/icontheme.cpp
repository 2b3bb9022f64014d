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

#include <memory>

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
    int dir = 0; // index into Theme::dirs
    QString path;
};

struct Theme
{
    QString name;
    QStringList inherits;
    QList<ThemeDir> dirs;
    QHash<QString, QList<IconFile>> files; // icon name -> every file of that name in the theme
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
        for (const QString& base : std::as_const(bases)) {
            const QDir dir(base + QLatin1Char('/') + dn);
            // Files only, without asking whether each is readable: that was an access() call for every one of
            // a theme's thousands of files, the largest part of the first lookup. An unreadable file fails where
            // it is loaded, like a broken one.
            const QStringList entries = dir.entryList(QDir::Files);
            for (const QString& fileName : entries) {
                const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
                if (dot <= 0 || !iconSuffixes().contains(fileName.mid(dot + 1)))
                    continue;
                theme->files[fileName.left(dot)].append({dirIndex, dir.filePath(fileName)});
            }
        }
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
    const auto it = theme.files.constFind(name);
    if (it == theme.files.constEnd())
        return {};
    const IconFile* best = nullptr;
    int bestDistance = 0;
    int bestSize = 0;
    for (const IconFile& f : it.value()) {
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
    QList<std::shared_ptr<const Theme>> chain;
    QStringList fallbackPaths;
    {
        // Indexing a theme happens under the lock, once; later lookups only read the shared index.
        QMutexLocker lock(&setMutex());
        if (!currentSet()) {
            currentSet() = std::make_shared<ThemeSet>();
            currentSet()->config = defaultConfig();
        }
        chain = chainLocked(*currentSet());
        fallbackPaths = currentSet()->config.fallbackPaths;
    }
    for (const QString& name : names) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')))
            continue;
        for (const auto& theme : std::as_const(chain)) {
            const QString f = bestFile(*theme, name, size);
            if (!f.isEmpty())
                return f;
        }
        const QString f = unthemedFile(fallbackPaths, name);
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

QString desktopEntryIcon(const QString& desktopFile)
{
    const IniGroups ini = parseIni(readCapped(desktopFile, kMaxDesktopFileBytes));
    return ini.value(QStringLiteral("Desktop Entry")).value(QStringLiteral("Icon"));
}

} // namespace ktr::platform
