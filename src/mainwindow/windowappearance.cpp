#include "mainwindow/windowappearance.h"

#include "ui/appsettings.h"
#include "ui/theme.h"

#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace WindowAppearance {

Opacity opacityFor(int percent, bool clickThroughAtZero)
{
    Opacity o;
    if (percent > 100)
        return o;
    if (percent >= 1) {
        o.alpha = int(std::lround(percent * 255.0 / 100.0));
        o.windowOpacity = o.alpha / 255.0;
        return o;
    }
    if (clickThroughAtZero) {
        o.alpha = 0;
        o.windowOpacity = 0.0;
        o.clickThrough = true;
        return o;
    }
    o.alpha = 1;
    o.windowOpacity = 1.0 / 255.0;
    o.nearlyInvisible = true;
    return o;
}

int areaAlpha(int percent, const Opacity& opacity)
{
    const int a = int(std::lround(std::clamp(percent, 0, 100) * 255.0 / 100.0));
    if (opacity.clickThrough)
        return a;
    if (opacity.nearlyInvisible)
        return 255;
    const int floor = std::min(255, int(std::ceil(127.5 / std::max(1, opacity.alpha))));
    return std::max(a, floor);
}

QColor kindColor(int kind, int customRgb)
{
    if (kind >= 1 && kind <= 5)
        return themeKindColor(kind);
    if (kind == 6)
        return QColor::fromRgb(QRgb(customRgb) & 0xFFFFFFu);
    return QColor();
}

int percentAlpha(int percent)
{
    return int(std::lround(std::clamp(percent, 0, 100) * 2.55));
}

namespace {

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(std::clamp(alpha, 0, 255));
    return c;
}

void applyBar(bool title, int kind, int customRgb, int percent, bool backgroundInForce, const Opacity& opacity)
{
    const Theme& t = currentTheme();
    const QColor chosen = kindColor(kind, customRgb);
    const QColor background = chosen.isValid() ? chosen : t.surface;
    QColor foreground;
    if (chosen.isValid())
        foreground = background.lightness() < 128 ? QColor(0xE8, 0xEA, 0xF0) : QColor(0x39, 0x40, 0x4C);
    else
        foreground = title ? t.text : t.textSecondary;
    // Over a background picture a bar in the theme's own colour is left clear, so the picture shows.
    const int alpha = chosen.isValid() || !backgroundInForce ? areaAlpha(percent, opacity) : 0;
    if (title)
        setThemeTitleBarColors(withAlpha(background, alpha), foreground);
    else
        setThemeBottomBarColors(withAlpha(background, alpha), foreground);
}

} // namespace

Extras applyThemeColors(const AppSettings& s, bool backgroundInForce, const Opacity& opacity)
{
    setDarkTheme(s.darkTheme);

    // Middle area: a chosen colour also decides between the dark and the light palette. The theme default
    // is the palette's own colours as first filled, so a colour chosen earlier does not linger.
    QColor middle;
    QColor sidebar;
    QColor grid;
    const QColor midChosen = kindColor(s.midColor, s.midCustomRgb);
    if (midChosen.isValid()) {
        setDarkTheme(midChosen.lightness() < 128);
        middle = sidebar = grid = midChosen;
    } else {
        const Theme& pristine = defaultTheme(currentTheme().isDark);
        middle = pristine.windowBackground;
        sidebar = pristine.sidebarBackground;
        grid = pristine.gridBackground;
    }
    const int midAlpha = backgroundInForce ? 0 : areaAlpha(s.midOpacity, opacity);
    setThemeMidColors(withAlpha(middle, midAlpha), withAlpha(sidebar, midAlpha), withAlpha(grid, midAlpha));

    // Text: the theme's own text colour when no colour is chosen (again, not one chosen earlier).
    const QColor textChosen = kindColor(s.textColor, s.textCustomRgb);
    setThemeTextColor(textChosen.isValid() ? textChosen : defaultTheme(currentTheme().isDark).labelText);
    setThemeTextOpacity(s.textOpacity);
    setUiFontFamily(s.fontFamily.trimmed());

    setThemeDivider(kindColor(s.dividerColor, s.dividerCustomRgb), std::clamp(s.dividerWidth, 0, 4),
                    percentAlpha(s.dividerOpacity));

    applyBar(true, s.titleBarColor, s.titleBarCustomRgb, s.titleBarOpacity, backgroundInForce, opacity);
    applyBar(false, s.bottomBarColor, s.bottomBarCustomRgb, s.bottomBarOpacity, backgroundInForce, opacity);

    Extras extras;
    extras.hover = kindColor(s.hoverColor, s.hoverCustomRgb);
    const QColor borderChosen = kindColor(s.borderColor, s.borderCustomRgb);
    extras.border =
        withAlpha(borderChosen.isValid() ? borderChosen : currentTheme().border, percentAlpha(s.borderOpacity));
    return extras;
}

Background chooseBackground(const AppSettings& s, bool portrait, bool nearlyInvisible)
{
    Background b;
    const bool usePortrait = portrait && !s.bgImagePortrait.isEmpty();
    b.path = usePortrait ? s.bgImagePortrait : s.bgImagePath;
    const int p = usePortrait ? s.bgImageOpacityPortrait : s.bgImageOpacity;
    b.opacity = nearlyInvisible ? 100 : std::clamp(p, 0, 100);
    return b;
}

QImage fitWithin(const QImage& image, QSize limit)
{
    if (image.isNull() || limit.width() < 1 || limit.height() < 1)
        return image;
    if (image.width() <= limit.width() && image.height() <= limit.height())
        return image;
    return image.scaled(limit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

bool isAnimatedImageUsable(const QString& path)
{
    QImageReader reader(path, "gif");
    const QSize size = reader.size();
    const int frames = reader.imageCount();
    if (!size.isValid() || size.isEmpty() || frames < 1)
        return false;
    return qint64(size.width()) * size.height() * frames <= 12'000'000;
}

QSize coverSize(QSize source, QSize target)
{
    if (source.isEmpty() || target.isEmpty())
        return target;
    return source.scaled(target, Qt::KeepAspectRatioByExpanding);
}

QRectF coverSourceRect(QSize cacheDevice, qreal dpr, QSize window)
{
    const qreal ratio = dpr > 0 ? dpr : 1.0;
    const qreal ox = std::max(0.0, (cacheDevice.width() / ratio - window.width()) * 0.5 * ratio);
    const qreal oy = std::max(0.0, (cacheDevice.height() / ratio - window.height()) * 0.5 * ratio);
    return QRectF(ox, oy, window.width() * ratio, window.height() * ratio);
}

PortraitGeometry portraitGeometry(const QRect& current, const QRect& avail)
{
    PortraitGeometry g;
    int left = 810;
    int t = 1040;
    int availTop = 0;
    int availHeight = 1080;
    g.minimumHeight = 420;
    if (avail.isValid()) {
        availTop = avail.top();
        availHeight = avail.height();
        t = availHeight - 40;
        left = avail.left() + (avail.width() - 300) / 2;
        if (t <= 240)
            t = 240;
        g.minimumHeight = std::clamp(t, 240, 420);
    }
    const int raised = std::max(current.height(), 640);
    const int height = t > 460 && raised < t ? raised : t;
    const int spare = availHeight - height;
    const int top = spare > 1 ? availTop + spare / 2 : availTop;
    g.rect = QRect(left, top, 300, height);
    return g;
}

bool keepsPosition(const QRect& window, const QRect& avail)
{
    const int right = window.x() + window.width();
    const int availRight = avail.x() + avail.width();
    return window.intersects(avail) && right - avail.x() > 79 && availRight - window.x() > 79 &&
           window.y() >= avail.y() - 40;
}

int listIndexForShown(const QList<int>& list, const std::array<bool, 11>& visible, int shownIndex)
{
    int shown = 0;
    for (int i = 0; i < list.size(); ++i) {
        const int id = list[i];
        const bool isShown = id >= 0 && id < int(visible.size()) && visible[id];
        if (!isShown)
            continue;
        if (shown == shownIndex)
            return i;
        ++shown;
    }
    return int(list.size());
}

} // namespace WindowAppearance
