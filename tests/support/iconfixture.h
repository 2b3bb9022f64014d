#pragma once

#include "platform/icontheme.h"
#include "testenv.h"

#include <QColor>
#include <QImage>
#include <QString>

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
