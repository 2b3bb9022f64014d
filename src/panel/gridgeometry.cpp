#include "panel/gridgeometry.h"

#include <algorithm>
#include <cmath>

namespace {

// Floor division, so points left of or above the first cell never land in it.
int floorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

} // namespace

int GridGeometry::cellWidth() const
{
    if (columns > 0)
        return std::max(60, width / columns);
    const int minW = std::max(96, iconSize + 16);
    const int n = std::max(1, (width - 16) / minW);
    return std::max(minW, (width - 16) / n);
}

int GridGeometry::perRow() const
{
    if (columns > 0)
        return columns;
    const int minW = std::max(96, iconSize + 16);
    return std::max(1, (width - 16) / minW);
}

int GridGeometry::cellHeight() const
{
    if (columns > 0)
        return cellWidth();
    return iconSize + (showNames ? 56 : 16);
}

int GridGeometry::rowStride() const
{
    return columns > 0 ? cellWidth() : cellHeight() + 8;
}

int GridGeometry::topMargin() const
{
    return columns > 0 ? 0 : 8;
}

int GridGeometry::scrollStep() const
{
    return columns > 0 ? cellWidth() : rowStride();
}

QRect GridGeometry::cellRect(int position) const
{
    const int n = perRow();
    const int col = position % n;
    const int row = position / n;
    const int cw = cellWidth();
    if (columns > 0)
        return QRect(col * cw, row * cw, cw, cw);
    const int ch = cellHeight();
    return QRect(8 + col * cw, 8 + row * (ch + 8), cw - 8, ch);
}

int GridGeometry::maxScroll(int count) const
{
    const int n = perRow();
    const int rows = (count - 1 + n) / n;
    if (columns > 0)
        return std::max(0, rows * cellWidth() - height);
    return std::max(0, rows * rowStride() + 16 - height);
}

int GridGeometry::hitTest(const QPoint& pos, int scroll, int count) const
{
    if (count <= 0)
        return -1;
    // Cells never overlap: only the cell whose slot holds the point can contain it.
    const int x = pos.x() - topMargin();
    const int y = pos.y() + scroll - topMargin();
    const int col = floorDiv(x, cellWidth());
    const int row = floorDiv(y, rowStride());
    if (col < 0 || col >= perRow() || row < 0)
        return -1;
    const int p = row * perRow() + col;
    if (p >= count || !cellRect(p).contains(pos.x(), pos.y() + scroll))
        return -1;
    return p;
}

int GridGeometry::dropIndexAt(const QPoint& pos, int scroll, int count) const
{
    if (count <= 0)
        return 0;
    const int n = perRow();
    const int lastRow = (count - 1) / n;
    const int row = std::clamp((pos.y() + scroll - topMargin()) / scrollStep(), 0, lastRow);
    const int first = row * n;
    for (int k = first; k < count && k < first + n; ++k) {
        const QRect r = cellRect(k);
        if (pos.x() < (r.left() + r.right()) / 2)
            return k;
    }
    return std::min(count, first + n);
}

int GridGeometry::firstDrawn(int scroll) const
{
    return std::max(0, (scroll - topMargin()) / rowStride()) * perRow();
}

int GridGeometry::lastDrawn(int scroll, int count) const
{
    return std::min(count, perRow() * ((scroll + height) / rowStride() + 2));
}

QPoint GridGeometry::snapToCell(const QPoint& pos) const
{
    if (columns <= 0)
        return pos;
    const int c = cellWidth();
    const int column = std::clamp(int(std::lround(double(pos.x()) / c)), 0, columns);
    const int x = std::clamp(column * c, 0, width);
    const int row = std::max(0, int(std::lround(double(pos.y()) / c)));
    const int y = std::clamp(row * c, 0, height);
    return QPoint(x, y);
}

int gridClampIconSize(int requested, int columns, int width, int labelHeight)
{
    int maximum = 96;
    if (columns > 0) {
        GridGeometry g;
        g.width = width;
        g.columns = columns;
        const int m = g.cellWidth() - labelHeight - 14;
        maximum = m >= 61 ? 60 : std::max(32, m);
    }
    return std::max(32, std::min(requested, maximum));
}
