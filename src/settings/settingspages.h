#pragma once

#include "ui/settingskit.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

class QPainter;
class QWidget;

// What the interface-buttons, icon management and protection pages paint alike.
namespace settingspages {

// The section card (#FCFCFE / #2B2B2B), a row's resting fill (#F4F5F8 / #2B2B2B), the fill of controls.
QColor sectionCardColour(const DialogPalette& pal);
QColor rowColour(const DialogPalette& pal);
QColor fieldColour(const DialogPalette& pal);
// "Microsoft YaHei UI" 12 px, the text of the show/hide controls.
const QFont& font12();
// Top of a 28 px control centred in a row (bottom inclusive).
int controlTop(const QRect& row);
// The primary screen's pixel ratio, 1 without a screen.
qreal screenRatio();
// The page area on show, in content coordinates: rows outside it are not painted.
QRect visibleContent(const QWidget& dialog, int scroll);

// A section card: rounded outline and fill, a section glyph, the bold title (elided to half the card) and the
// small subtitle after it. Both texts are already translated.
void paintSectionCard(QPainter& p, const DialogPalette& pal, const QRect& card, int glyph, const QString& title,
                      const QString& subtitle);
// A row's rounded background: the hover fill while one of its elements is hovered, else the row colour.
void paintRowBackground(QPainter& p, const DialogPalette& pal, const QRect& row, bool hovered);

// The show/hide control of a row: "显示" on a tinted fill while hidden, "隐藏" while shown.
struct ChipState
{
    bool hidden = false;
    bool hovered = false;
    bool pressed = false;
};
void paintToggleChip(QPainter& p, const DialogPalette& pal, const QRect& rect, const ChipState& state);
// The outline drawn where a row has no icon: size x size at topLeft, offset by half a pixel.
void paintRowPlaceholder(QPainter& p, const DialogPalette& pal, const QPoint& topLeft, int size, int radius);
// A path's icon from the icon loader's memory cache scaled to logical x logical at the screen's ratio, kept in
// QPixmapCache under "<tag>|<path>|<n>x<n>|dpr<d>". Null when the cache has no icon for the path and no scaled
// copy was kept. Nothing is loaded.
QPixmap shellIconScaled(const QString& path, int logical, const QString& tag);

} // namespace settingspages
