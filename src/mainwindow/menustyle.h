#pragma once

#include <QColor>
#include <QIcon>

class QMenu;
class QPainter;

// The look of the panel's popup menus: frameless, translucent, rounded, coloured from the current theme.
void applyMenuStyle(QMenu* menu);

// One line glyph of the menus (kinds 0 to 14, any other kind draws the triangle of kind 0), stroked in a
// 16 x 16 box with the painter's current transform.
void menuGlyph(QPainter* painter, int kind, const QColor& colour);

// The glyph as a 16 x 16 icon drawn at twice the resolution.
QIcon menuGlyphIcon(int kind, const QColor& colour);
