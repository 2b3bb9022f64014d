#pragma once

#include <QColor>
#include <QIcon>

class QMenu;
class QPainter;

// The look of the panel's popup menus (tray, item and group menus): frameless, rounded, in the colours of
// the current light or dark palette.
void applyMenuStyle(QMenu* menu);
// The style sheet applyMenuStyle gives a menu.
QString menuStyleSheet();

// The line glyphs shown beside menu entries, stroked in a 16 x 16 box. Kinds 0..14 (run, shield, folder,
// grid, pin, copy, up, down, eye, crossed eye, picture, pencil, duplicate, open outside, bin); kinds
// outside that range draw the run triangle.
void menuGlyph(QPainter* painter, int kind, const QColor& colour);
// A 16 x 16 icon (drawn at twice the resolution) holding one glyph.
QIcon menuGlyphIcon(int kind, const QColor& colour);
