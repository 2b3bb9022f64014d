#pragma once

// What the account dialog tests share: rendering a widget, reading colours back, and the palette and
// language of one render.

#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QImage>
#include <QList>
#include <QUrl>
#include <QWidget>

#include <cstdlib>

namespace ktr::test {

inline QImage renderWidget(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

// The colour of a pixel without the premultiplication.
inline QColor pixelAt(const QImage& img, int x, int y)
{
    return QColor::fromRgba(qUnpremultiply(img.pixel(x, y)));
}

inline int distance(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

inline bool near(const QColor& a, const QColor& b, int tolerance = 6)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// Pixels of the rectangle within the tolerance of the colour (opaque enough to count).
inline int countNear(const QImage& img, const QRect& r, const QColor& c, int tolerance = 40)
{
    int n = 0;
    const QRect in = r.intersected(img.rect());
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x) {
            const QColor p = pixelAt(img, x, y);
            if (p.alpha() > 100 && near(p, c, tolerance))
                ++n;
        }
    return n;
}

// Sets palette and language for one case and puts them back when it ends.
class LookScope
{
public:
    LookScope(bool dark, bool english)
    {
        setDarkTheme(dark);
        Lang::setLanguage(english ? 1 : 0);
    }
    ~LookScope()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }
    LookScope(const LookScope&) = delete;
    LookScope& operator=(const LookScope&) = delete;
};

// Catches the links a dialog opens through the dialog seams while it lives.
class UrlCatcher
{
public:
    UrlCatcher() : m_scoped(seams()) {}
    QList<QUrl> urls;

private:
    ktr::dialogs::Seams seams()
    {
        ktr::dialogs::Seams s;
        s.openUrl = [this](const QUrl& url) {
            urls << url;
            return true;
        };
        return s;
    }
    ktr::dialogs::ScopedSeams m_scoped;
};

inline QString lookName(bool dark, bool english)
{
    return QStringLiteral("%1-%2").arg(dark ? "dark" : "light", english ? "en" : "zh");
}

} // namespace ktr::test
