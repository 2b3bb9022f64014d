#include "icons/iconextract.h"

#include "icons/iconcache.h"
#include "platform/icontheme.h"
#include "platform/shellfolders.h"

#include <QCache>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringList>
#include <QWaitCondition>

#include <atomic>
#include <mutex>

namespace {

constexpr int kCeiling = 192;
constexpr int kAskSize = 256;        // what the themes are asked for; the result is fitted into the ceiling
constexpr int kMinFolderWidth = 128; // a folder's own icon smaller than this is not good enough
constexpr int kMaxImageSide = 32768;
// The finished theme icons kept for sharing: a few dozen 192 px icons, far more types than a panel shows.
constexpr int kFinishedCacheKiB = 8 * 1024;

const QStringList& imageSuffixes()
{
    static const QStringList list{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                  QStringLiteral("bmp"), QStringLiteral("gif"), QStringLiteral("webp"),
                                  QStringLiteral("ico"), QStringLiteral("tif"), QStringLiteral("tiff")};
    return list;
}

// Drawn pictures are drawn at the ceiling instead of decoded at a size of their own.
bool isVectorPicture(const QString& suffix)
{
    return suffix == QLatin1String("svg") || suffix == QLatin1String("svgz");
}

const QString& ownExecutable()
{
    static const QString path = QDir::cleanPath(QCoreApplication::applicationFilePath());
    return path;
}

QImage fitCeiling(const QImage& img)
{
    if (img.width() > kCeiling || img.height() > kCeiling)
        return img.scaled(kCeiling, kCeiling, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return img;
}

// An image file read at no more than the ceiling; null when it can't be decoded.
QImage loadImageFile(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
    if (declared.width() > kMaxImageSide || declared.height() > kMaxImageSide)
        return {};
    if (declared.width() > kCeiling || declared.height() > kCeiling)
        reader.setScaledSize(declared.scaled(kCeiling, kCeiling, Qt::KeepAspectRatio));
    const QImage img = reader.read();
    if (img.isNull())
        return {};
    return fitCeiling(img.convertToFormat(QImage::Format_ARGB32));
}

bool isDesktopEntry(const QString& path)
{
    return path.endsWith(QLatin1String(".desktop")) && QFileInfo(path).isFile();
}

// A theme icon file rendered for kAskSize and finished as loadIconImage returns it (trimmed, fitted into the
// ceiling), with the width it had before trimming (the folder step judges that one).
struct FinishedIcon
{
    QImage image;
    int renderedWidth = 0;
    bool isNull() const { return image.isNull(); }
};

// Every path of one type shows the same theme file, so the finished image of each (file, size) is kept and
// handed out as an implicitly shared QImage: one render and one copy of the pixels for all of them. A file
// changed on disk (same path, other time or size) is rendered again. Two threads asking for one file at once
// render it once: the second waits for the first.
class FinishedIconCache
{
public:
    FinishedIcon get(const QString& file, int size)
    {
        const QFileInfo fi(file);
        const Stamp stamp{fi.lastModified().toMSecsSinceEpoch(), fi.size()};
        const Key key(file, size);
        QMutexLocker lock(&m_mutex);
        for (;;) {
            if (const Entry* e = m_cache.object(key); e && e->stamp == stamp)
                return e->icon;
            if (!m_inFlight.contains(key))
                break;
            m_done.wait(&m_mutex);
        }
        m_inFlight.insert(key);
        lock.unlock();

        FinishedIcon icon;
        const QImage raw = ktr::platform::renderIconFile(file, size);
        m_renders.fetch_add(1, std::memory_order_relaxed);
        if (!raw.isNull()) {
            icon.renderedWidth = raw.width();
            icon.image = fitCeiling(trimTransparentBorder(raw));
        }

        lock.relock();
        m_inFlight.remove(key);
        if (!icon.isNull()) // a file that can't be read is not remembered: it may be readable next time
            m_cache.insert(key, new Entry{icon, stamp}, costOf(icon.image));
        else
            m_cache.remove(key);
        m_done.wakeAll();
        return icon;
    }

    quint64 renders() const { return m_renders.load(std::memory_order_relaxed); }

private:
    using Key = QPair<QString, int>;
    struct Stamp
    {
        qint64 modified = 0;
        qint64 bytes = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Entry
    {
        FinishedIcon icon;
        Stamp stamp;
    };
    static int costOf(const QImage& img) { return int(qMax<qint64>(1, img.sizeInBytes() / 1024)); }

    QMutex m_mutex;
    QWaitCondition m_done;
    QCache<Key, Entry> m_cache{kFinishedCacheKiB}; // cost in KiB
    QSet<Key> m_inFlight;
    std::atomic<quint64> m_renders{0};
};

FinishedIconCache& finishedIcons()
{
    // Never destroyed: worker threads still extracting at exit are abandoned, not joined, and may reach it.
    static auto* cache = new FinishedIconCache;
    return *cache;
}

QImage renderRaw(const QString& file)
{
    return file.isEmpty() ? QImage() : ktr::platform::renderIconFile(file, kAskSize);
}

FinishedIcon renderFinished(const QString& file)
{
    return file.isEmpty() ? FinishedIcon() : finishedIcons().get(file, kAskSize);
}

// The lookups below are written once for both results: `render` turns a found icon file into either the raw
// image (the public functions) or the shared finished one (loadIconImage).
template <typename Render> auto themeIcon(const QStringList& names, Render render)
{
    return render(ktr::platform::IconThemes::findIconFile(names, kAskSize));
}

// Each name followed by the generic names it falls back to, in order, each once.
QStringList withFallbacks(const QStringList& names)
{
    QStringList out;
    for (const QString& name : names)
        for (const QString& n : ktr::platform::iconNameFallbacks(name))
            if (!out.contains(n))
                out << n;
    return out;
}

// The panel's own picture for the first of the names it has one for (empty when none): the shell folders
// still show something where no installed theme has their icons (a bare hicolor).
QString shippedIconFile(const QStringList& names)
{
    for (const QString& name : names) {
        const QString file = QStringLiteral(":/res/resources/icons/") + name + QStringLiteral(".svg");
        if (QFileInfo(file).isFile())
            return file;
    }
    return {};
}

// Icon= holds an absolute file or a theme name (some launchers write the name with an image suffix).
template <typename Render> auto launcherIcon(const QString& path, Render render)
{
    QString icon = ktr::platform::desktopEntryIcon(path);
    if (icon.isEmpty())
        return render(QString());
    if (QDir::isAbsolutePath(icon))
        return render(icon);
    for (const char* suffix : {".png", ".svg", ".svgz", ".xpm"}) {
        if (icon.endsWith(QLatin1String(suffix))) {
            icon.chop(qsizetype(qstrlen(suffix)));
            break;
        }
    }
    return themeIcon({icon}, render);
}

QString folderIconName(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    for (const auto& f : ktr::platform::shellFolders()) {
        if (f.kind != ktr::platform::ShellFolder::Kind::UserFolder)
            continue;
        const QString loc = QStandardPaths::writableLocation(f.location);
        if (!loc.isEmpty() && QDir::cleanPath(loc) == clean)
            return QString::fromLatin1(f.iconName);
    }
    // The root of a mounted device shows as a drive, as the Windows shell shows drive roots.
    const QStorageInfo storage(clean);
    if (storage.isValid() && QDir::cleanPath(storage.rootPath()) == clean && storage.device().startsWith("/dev/")) {
        return clean.startsWith(QLatin1String("/media/")) || clean.startsWith(QLatin1String("/run/media/"))
                   ? QStringLiteral("drive-removable-media")
                   : QStringLiteral("drive-harddisk");
    }
    return QStringLiteral("folder");
}

void drawFallbackIcon(QImage* img)
{
    img->fill(Qt::transparent);
    QPainter p(img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(154, 166, 182), 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.setBrush(QColor(233, 238, 245));
    p.drawRoundedRect(QRectF(10, 8, 108, 112), 16, 16);

    const QPen sheetPen(QColor(138, 151, 170), 4, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    QPainterPath sheet;
    sheet.moveTo(40, 32);
    sheet.lineTo(74, 32);
    sheet.lineTo(88, 46);
    sheet.lineTo(88, 94);
    sheet.lineTo(40, 94);
    sheet.closeSubpath();
    p.setPen(sheetPen);
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.drawLine(QPointF(74, 32), QPointF(74, 46));
    p.drawLine(QPointF(74, 46), QPointF(88, 46));

    p.setPen(QPen(QColor(180, 190, 204), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(50, 62), QPointF(78, 62));
    p.drawLine(QPointF(50, 76), QPointF(70, 76));
}

} // namespace

QImage trimTransparentBorder(const QImage& image)
{
    if (image.isNull())
        return image;
    QImage img = image.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    if (w > 3 && h > 3) {
        const QRgb c = img.pixel(0, 0);
        if (qAlpha(c) == 255 && img.pixel(w - 1, 0) == c && img.pixel(0, h - 1) == c && img.pixel(w - 1, h - 1) == c) {
            qint64 cleared = 0;
            for (int y = 0; y < h; ++y) {
                auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int x = 0; x < w; ++x) {
                    const QRgb px = line[x];
                    if (qAlpha(px) == 255 && qAbs(qRed(px) - qRed(c)) <= 12 && qAbs(qGreen(px) - qGreen(c)) <= 12 &&
                        qAbs(qBlue(px) - qBlue(c)) <= 12) {
                        line[x] = qRgba(qRed(px), qGreen(px), qBlue(px), 0);
                        ++cleared;
                    }
                }
            }
            if (cleared * 100 > qint64(w) * h * 99) {
                // Nearly everything matched: a picture, not a matte. Make every pixel opaque again.
                for (int y = 0; y < h; ++y) {
                    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                    for (int x = 0; x < w; ++x)
                        line[x] |= 0xff000000u;
                }
            }
        }
    }
    int left = w, top = h, right = -1, bottom = -1;
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) > 8) {
                left = qMin(left, x);
                right = qMax(right, x);
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
    }
    if (right < 0)
        return image;
    const QRect box(QPoint(left, top), QPoint(right, bottom));
    if (box == img.rect())
        return img;
    return img.copy(box);
}

QImage fallbackIconImage()
{
    static const QImage icon = [] {
        QImage img(128, 128, QImage::Format_ARGB32);
        drawFallbackIcon(&img);
        return img;
    }();
    return icon; // shared: a caller that paints on it gets its own copy then
}

namespace {

template <typename Render> auto shellFolderIcon(const QString& parsingName, Render render)
{
    const ktr::platform::ShellFolder* folder = ktr::platform::findShellFolder(parsingName);
    if (!folder)
        return render(QString());
    QStringList names = withFallbacks({QString::fromLatin1(folder->iconName)});
    // A theme that draws only the full trash still has a trash.
    if (parsingName.compare(QLatin1String("::{645FF040-5081-101B-9F08-00AA002F954E}"), Qt::CaseInsensitive) == 0)
        names << QStringLiteral("user-trash-full");
    auto icon = themeIcon(names, render);
    if (icon.isNull())
        icon = render(shippedIconFile(names));
    return icon;
}

template <typename Render> auto iconLocation(const QString& path, Render render)
{
    if (path.isEmpty())
        return render(QString());
    const QFileInfo fi(path);
    if (fi.isDir())
        return themeIcon(withFallbacks({folderIconName(path)}), render);
    if (isDesktopEntry(path))
        return launcherIcon(path, render);
    return render(QString());
}

} // namespace

QImage iconLocationImage(const QString& path)
{
    return iconLocation(path, renderRaw);
}

quint64 themeIconRenderCount()
{
    return finishedIcons().renders();
}

QImage loadIconImage(const QString& path)
{
    if (path.isEmpty())
        return {};
    QImage img;

    // The program's own executable shows the logo, not whatever the theme has for an executable. Linux paths
    // differ by case, so the comparison keeps it.
    if (QDir::cleanPath(path) == ownExecutable()) {
        img = QImage(QStringLiteral(":/res/resources/logo.png"));
        if (!img.isNull()) {
            img = fitCeiling(img.convertToFormat(QImage::Format_ARGB32));
            queueIconSnapshot(path, img);
            return img;
        }
    }

    // Only a regular file is read: opening a named pipe would wait for a writer, a device could stream forever.
    const QFileInfo fi(path);
    const QString suffix = fi.suffix().toLower();
    if (fi.isFile() && (imageSuffixes().contains(suffix) || isVectorPicture(suffix))) {
        img = isVectorPicture(suffix) ? ktr::platform::renderIconFile(path, kCeiling) : loadImageFile(path);
        if (!img.isNull()) {
            queueIconSnapshot(path, img);
            return img;
        }
    }

    // Everything below comes from an icon file of the themes (or one a launcher names), already trimmed and
    // fitted, and shared with every other path that shows the same file.
    FinishedIcon icon;
    const bool isDir = fi.isDir();
    if (isDir) {
        icon = iconLocation(path, renderFinished);
        if (!icon.isNull() && icon.renderedWidth < kMinFolderWidth)
            icon = FinishedIcon();
    }

    if (icon.isNull() && path.startsWith(QLatin1String("::{")))
        icon = shellFolderIcon(path, renderFinished);

    // Launchers name their own icon, as program resources do on Windows.
    if (icon.isNull() && isDesktopEntry(path))
        icon = launcherIcon(path, renderFinished);

    // The common chain: the icon of the MIME type of anything that exists; a folder's own name last.
    if (icon.isNull() && fi.exists() && !path.startsWith(QLatin1String("::")))
        icon = themeIcon(ktr::platform::mimeIconNames(path), renderFinished);
    if (icon.isNull() && isDir)
        icon = themeIcon({QStringLiteral("folder")}, renderFinished);

    if (icon.isNull())
        return readIconSnapshot(path);
    queueIconSnapshot(path, icon.image);
    return icon.image;
}
