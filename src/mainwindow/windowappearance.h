#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>

struct AppSettings;

// What the main window paints besides its background picture, as last applied from the settings (live
// previews of the settings dialog included).
struct WindowLook
{
    int radius = 12;
    QString titleText;
    bool showTitle = true;
    int alpha = 255;
    bool nearlyInvisible = false;
    bool clickThrough = false;
    QColor border;
    QPixmap appIcon; // the program icon picture (live previews included)
    QString appIconPath;
};

// The rules that turn the appearance settings into window opacity, area alphas, palette colours and the
// background choice. The main window carries them out; they are kept apart so they can be checked
// without a window.
namespace WindowAppearance {

// Window opacity from the opacity percentage and the click-through choice.
struct Opacity
{
    double windowOpacity = 1.0;
    int alpha = 255;              // 0..255
    bool clickThrough = false;    // mouse input passes to what lies beneath
    bool nearlyInvisible = false; // opacity 0 without click-through: 1/255, areas painted opaque
};
Opacity opacityFor(int percent, bool clickThroughAtZero);

// The alpha of a painted area from its percentage. Unless the window lets clicks through, an area never
// ends up below half opacity on screen (area alpha x window alpha / 255), so it keeps receiving the mouse.
int areaAlpha(int percent, const Opacity& opacity);

// 1..5 the fixed kind colours, 6 the custom 0xRRGGBB; 0 (and anything else) is invalid.
QColor kindColor(int kind, int customRgb);
// round(clamp(percent, 0, 100) x 2.55)
int percentAlpha(int percent);

// What the settings put into the current palette (title bar, bottom bar, middle area, text, font,
// divider); backgroundInForce is true while a video plays or a background picture is loaded. Selects
// the dark or light palette first. Returns what the palette does not hold: the hover colour for the icon
// grid (invalid = its default) and the border colour.
struct Extras
{
    QColor hover;
    QColor border;
};
Extras applyThemeColors(const AppSettings& s, bool backgroundInForce, const Opacity& opacity);

// The background file and its opacity for the orientation in force.
struct Background
{
    QString path;
    int opacity = 100;
};
Background chooseBackground(const AppSettings& s, bool portrait, bool nearlyInvisible);

// A still image larger than limit in either dimension, scaled down once to fit inside it.
QImage fitWithin(const QImage& image, QSize limit);
// A GIF that can be kept decoded in memory: a valid size, at least one frame, and width x height x frames
// at most 12,000,000.
bool isAnimatedImageUsable(const QString& path);
// The size an animation is decoded at so that it covers target without being stretched.
QSize coverSize(QSize source, QSize target);
// The part of a cover-scaled cache (device pixels, ratio dpr) that fills a window of the given logical
// size: centred, in device pixels.
QRectF coverSourceRect(QSize cacheDevice, qreal dpr, QSize window);

// The window rectangle to use in portrait: 300 px wide, as tall as the work area allows, centred. Also
// gives the minimum height. An invalid avail means no screen.
struct PortraitGeometry
{
    QRect rect;
    int minimumHeight = 420;
};
PortraitGeometry portraitGeometry(const QRect& current, const QRect& avail);
// Whether the window may stay where it is when the orientation changes: on the work area, with a grip
// of at least 80 px on either side and its top no more than 40 px above the area.
bool keepsPosition(const QRect& window, const QRect& avail);
// The visible drop index of a bar (counting shown buttons) as an index into its full list.
int listIndexForShown(const QList<int>& list, const std::array<bool, 11>& visible, int shownIndex);

} // namespace WindowAppearance
