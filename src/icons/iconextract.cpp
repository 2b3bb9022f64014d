#include "icons/iconextract.h"

#include "icons/iconcache.h"
#include "platform/icontheme.h"
#include "platform/shellfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringList>

#include <mutex>

namespace {

constexpr int kCeiling = 192;
constexpr int kAskSize = 256;        // what the themes are asked for; the result is fitted into the ceiling
constexpr int kMinFolderWidth = 128; // a folder's own icon smaller than this is not good enough
constexpr int kMaxImageSide = 32768;

const QStringList& imageSuffixes()
{
    static const QStringList list{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                  QStringLiteral("bmp"), QStringLiteral("gif"), QStringLiteral("webp"),
                                  QStringLiteral("ico"), QStringLiteral("tif"), QStringLiteral("tiff")};
    return list;
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

// Icon= holds an absolute file or a theme name (some launchers write the name with an image suffix).
QImage desktopEntryImage(const QString& path)
{
    QString icon = ktr::platform::desktopEntryIcon(path);
    if (icon.isEmpty())
        return {};
    if (QDir::isAbsolutePath(icon))
        return ktr::platform::renderIconFile(icon, kAskSize);
    for (const char* suffix : {".png", ".svg", ".svgz", ".xpm"}) {
        if (icon.endsWith(QLatin1String(suffix))) {
            icon.chop(qsizetype(qstrlen(suffix)));
            break;
        }
    }
    return ktr::platform::IconThemes::loadIcon({icon}, kAskSize);
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
    return icon.copy();
}

QImage shellFolderImage(const QString& parsingName)
{
    const ktr::platform::ShellFolder* folder = ktr::platform::findShellFolder(parsingName);
    QImage img;
    if (folder)
        img = ktr::platform::IconThemes::loadIcon({QString::fromLatin1(folder->iconName)}, kAskSize);
    // The trash has a stock icon under several names across themes.
    if (img.isNull() &&
        parsingName.compare(QLatin1String("::{645FF040-5081-101B-9F08-00AA002F954E}"), Qt::CaseInsensitive) == 0) {
        img = ktr::platform::IconThemes::loadIcon(
            {QStringLiteral("user-trash"), QStringLiteral("user-trash-full"), QStringLiteral("trash-empty")}, kAskSize);
    }
    return img;
}

QImage iconLocationImage(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo fi(path);
    if (fi.isDir())
        return ktr::platform::IconThemes::loadIcon({folderIconName(path)}, kAskSize);
    if (isDesktopEntry(path))
        return desktopEntryImage(path);
    return {};
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
            saveIconSnapshot(path, img);
            return img;
        }
    }

    const QFileInfo fi(path);
    if (imageSuffixes().contains(fi.suffix().toLower())) {
        img = loadImageFile(path);
        if (!img.isNull()) {
            saveIconSnapshot(path, img);
            return img;
        }
    }

    const bool isDir = fi.isDir();
    if (isDir) {
        img = iconLocationImage(path);
        if (!img.isNull() && img.width() < kMinFolderWidth)
            img = QImage();
    }

    if (img.isNull() && path.startsWith(QLatin1String("::{")))
        img = shellFolderImage(path);

    // Launchers name their own icon, as program resources do on Windows.
    if (img.isNull() && isDesktopEntry(path))
        img = desktopEntryImage(path);

    // The common chain: the icon of the MIME type of anything that exists; a folder's own name last.
    if (img.isNull() && fi.exists() && !path.startsWith(QLatin1String("::")))
        img = ktr::platform::IconThemes::loadIcon(ktr::platform::mimeIconNames(path), kAskSize);
    if (img.isNull() && isDir)
        img = ktr::platform::IconThemes::loadIcon({QStringLiteral("folder")}, kAskSize);

    if (img.isNull())
        return readIconSnapshot(path);
    img = fitCeiling(trimTransparentBorder(img));
    saveIconSnapshot(path, img);
    return img;
}
