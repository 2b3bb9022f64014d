#pragma once

#include <QPoint>
#include <QRect>

// Where the cells of the icon grid lie, as a value: the widget's size and the layout settings in, cell
// rectangles, hit tests and scroll limits out. Content coordinates are before scrolling; `scroll` is the
// offset of the view into them. Two layouts: automatic (cells spread over the width, margins of 8) and
// fixed columns (square cells, no margins).
struct GridGeometry
{
    int width = 0;
    int height = 0;
    int columns = 0; // 0: automatic
    int iconSize = 48;
    bool showNames = true;

    int cellWidth() const;
    int perRow() const;
    int cellHeight() const;
    int rowStride() const;
    int topMargin() const;
    int scrollStep() const;
    QRect cellRect(int position) const;

    // The largest scroll offset for `count` cells.
    int maxScroll(int count) const;
    // The visible position under a widget point, or -1 (gaps between automatic cells hit nothing).
    int hitTest(const QPoint& pos, int scroll, int count) const;
    // Where a dragged item would be inserted at a widget point: 0..count.
    int dropIndexAt(const QPoint& pos, int scroll, int count) const;
    // The positions [first, last) drawn at a scroll offset (one row of slack below).
    int firstDrawn(int scroll) const;
    int lastDrawn(int scroll, int count) const;
    // A widget point snapped to the nearest cell corner of the fixed layout (unchanged in the automatic one).
    QPoint snapToCell(const QPoint& pos) const;

    bool operator==(const GridGeometry&) const = default;
};

// The largest icon the layout allows for a requested size; fixed cells leave room for one label line of
// `labelHeight` pixels.
int gridClampIconSize(int requested, int columns, int width, int labelHeight);
