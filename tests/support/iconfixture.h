#pragma once

#include "platform/icontheme.h"
#include "testenv.h"

#include <QColor>
#include <QDirIterator>
#include <QImage>
#include <QMap>
#include <QString>
#include <QtEndian>

namespace ktr::test {

// A small icon theme built in a temporary folder, so icon tests never depend on the machine's themes.
// Every icon is a solid square in its own colour on a transparent border of `border` pixels, so a test
// can tell which file was chosen by one pixel and check the trimming by the size.
class IconFixture
{
public:
    // Themes: "ktrtest" (inherits "ktrbase"), "ktrbase", "hicolor"; unthemed icons in pixmapsDir().
    IconFixture()
    {
        m_root = freshDir(QStringLiteral("icons"));
        writeFile(m_root + QStringLiteral("/ktrtest/index.theme"),
                  "[Icon Theme]\nName=ktrtest\nInherits=ktrbase\n"
                  "Directories=48x48/mimetypes,256x256/places,scalable/apps,48x48/places\n\n"
                  "[48x48/mimetypes]\nSize=48\nType=Fixed\n\n"
                  "[48x48/places]\nSize=48\nType=Fixed\n\n"
                  "[256x256/places]\nSize=256\nType=Fixed\n\n"
                  "[scalable/apps]\nSize=64\nMinSize=16\nMaxSize=512\nType=Scalable\n");
        writeFile(m_root + QStringLiteral("/ktrbase/index.theme"),
                  "[Icon Theme]\nName=ktrbase\nDirectories=32x32/mimetypes\n\n[32x32/mimetypes]\nSize=32\n");
        writeFile(m_root + QStringLiteral("/hicolor/index.theme"),
                  "[Icon Theme]\nName=hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
        QDir().mkpath(pixmapsDir());
    }

    QString root() const { return m_root; }
    QString pixmapsDir() const { return m_root + QStringLiteral("-pixmaps"); }
    // The theme set to configure: these themes, "ktrtest" chosen, the unthemed icons as fallback.
    ktr::platform::IconThemes::Config themes() const { return {{m_root}, QStringLiteral("ktrtest"), {pixmapsDir()}}; }

    // Writes <theme>/<dir>/<name>.png: a size x size image, a solid square of `color` inside a transparent border.
    QString addPng(const QString& theme, const QString& dir, const QString& name, int size, const QColor& color,
                   int border = 4)
    {
        const QString path = m_root + QLatin1Char('/') + theme + QLatin1Char('/') + dir + QLatin1Char('/') + name +
                             QStringLiteral(".png");
        QDir().mkpath(QFileInfo(path).absolutePath());
        square(size, color, border).save(path);
        return path;
    }

    // Writes an SVG of a solid rectangle (w x h user units) at path.
    static QString writeSvg(const QString& path, const QColor& color, int w = 64, int h = 64)
    {
        const QByteArray svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                                              "viewBox=\"0 0 %1 %2\"><rect x=\"0\" y=\"0\" width=\"%1\" "
                                              "height=\"%2\" fill=\"%3\"/></svg>")
                                   .arg(w)
                                   .arg(h)
                                   .arg(color.name())
                                   .toUtf8();
        writeFile(path, svg);
        return path;
    }

    // Writes <themeDir>/icon-theme.cache in the desktop's cache format for the icons below it, plus `ghosts`
    // ("dir/name.png" entries with no file behind them, so a test can tell the cache was read). True when written.
    static bool writeIconCache(const QString& themeDir, const QStringList& ghosts = {})
    {
        QMap<QString, QMap<QString, int>> icons; // name -> directory -> suffix flags
        const auto add = [&icons](const QString& rel) {
            const QString dir = rel.section(QLatin1Char('/'), 0, -2);
            const QString file = rel.section(QLatin1Char('/'), -1);
            const QString suffix = file.section(QLatin1Char('.'), -1);
            const int flag = suffix == QLatin1String("png")   ? 4
                             : suffix == QLatin1String("svg") ? 2
                             : suffix == QLatin1String("xpm") ? 1
                                                              : 0;
            if (flag && !dir.isEmpty())
                icons[file.section(QLatin1Char('.'), 0, -2)][dir] |= flag;
        };
        QDirIterator it(themeDir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            add(QDir(themeDir).relativeFilePath(it.next()));
        for (const QString& g : ghosts)
            add(g);
        QStringList dirs;
        for (const auto& perDir : std::as_const(icons))
            for (auto d = perDir.cbegin(); d != perDir.cend(); ++d)
                if (!dirs.contains(d.key()))
                    dirs << d.key();

        QByteArray out(12, '\0');
        const auto put32 = [&out](quint32 v) {
            const quint32 be = qToBigEndian(v);
            out.append(reinterpret_cast<const char*>(&be), 4);
        };
        const auto put16 = [&out](quint16 v) {
            const quint16 be = qToBigEndian(v);
            out.append(reinterpret_cast<const char*>(&be), 2);
        };
        const auto set32 = [&out](qsizetype at, quint32 v) { qToBigEndian(v, out.data() + at); };
        const auto putString = [&out](const QString& text) {
            const quint32 at = quint32(out.size());
            out.append(text.toUtf8()).append('\0');
            return at;
        };
        qToBigEndian(quint16(1), out.data());
        qToBigEndian(quint16(0), out.data() + 2);
        // Directory list.
        set32(8, quint32(out.size()));
        put32(quint32(dirs.size()));
        const qsizetype dirSlots = out.size();
        for (qsizetype i = 0; i < dirs.size(); ++i)
            put32(0);
        for (qsizetype i = 0; i < dirs.size(); ++i)
            set32(dirSlots + 4 * i, putString(dirs.at(i)));
        // Hash table: a few buckets, so chains are walked too.
        const quint32 buckets = 3;
        set32(4, quint32(out.size()));
        put32(buckets);
        const qsizetype bucketSlots = out.size();
        for (quint32 i = 0; i < buckets; ++i)
            put32(0xffffffffu);
        for (auto icon = icons.cbegin(); icon != icons.cend(); ++icon) {
            const QByteArray name = icon.key().toUtf8();
            quint32 h = quint32(qint32(static_cast<signed char>(name.at(0))));
            for (qsizetype i = 1; i < name.size(); ++i)
                h = (h << 5) - h + quint32(qint32(static_cast<signed char>(name.at(i))));
            const qsizetype slot = bucketSlots + 4 * (h % buckets);
            const quint32 at = quint32(out.size());
            put32(qFromBigEndian<quint32>(out.constData() + slot)); // chained in front of the bucket's first
            const qsizetype nameSlot = out.size();
            put32(0);
            const qsizetype listSlot = out.size();
            put32(0);
            set32(slot, at);
            set32(nameSlot, putString(icon.key()));
            set32(listSlot, quint32(out.size()));
            put32(quint32(icon.value().size()));
            for (auto d = icon.value().cbegin(); d != icon.value().cend(); ++d) {
                put16(quint16(dirs.indexOf(d.key())));
                put16(quint16(d.value()));
                put32(0);
            }
        }
        return writeFile(themeDir + QStringLiteral("/icon-theme.cache"), out);
    }

    static QImage square(int size, const QColor& color, int border)
    {
        QImage img(size, size, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        for (int y = border; y < size - border; ++y)
            for (int x = border; x < size - border; ++x)
                img.setPixelColor(x, y, color);
        return img;
    }

private:
    QString m_root;
};

} // namespace ktr::test
