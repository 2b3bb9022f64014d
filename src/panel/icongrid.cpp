#include "panel/icongrid.h"

#include "panel/itempayload.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEasingCurve>
#include <QImageReader>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QThreadPool>
#include <QTimer>
#include <QVariantAnimation>
#include <QWheelEvent>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr quint64 kFnvPrime = 1099511628211ULL;
constexpr quint64 kFnvOffset = 14695981039346656037ULL;
constexpr quint64 kGolden = 0x9E3779B97F4A7C15ULL;
constexpr int kHoldMs = 450;
constexpr int kDragDistance = 8;
constexpr int kMinDisplayCache = 64;
constexpr int kMaxCustomIcons = 256;
constexpr int kMaxCustomSide = 192;
constexpr int kMaxLoadsPerRefresh = 64;
constexpr int kMaxLabelCache = 512;
constexpr int kHoverMs = 150;

// The label font: 12 px of the application's default family, made once for the whole program.
const QFont& labelFont()
{
    static const QFont font = [] {
        QFont f(QApplication::font().family());
        f.setPixelSize(12);
        return f;
    }();
    return font;
}

// The widget's outline with a rounded bottom-right corner. It runs along the outer edges of the last pixel column
// and row: Qt's pixel centres lie at +0.5, so an outline at w - 1 would leave a 1 px seam of whatever is behind.
QPainterPath bottomRoundedPath(int w, int h, int cornerRadius)
{
    const double right = w;
    const double bottom = h;
    const double r = std::max(0, cornerRadius - 1);
    QPainterPath path;
    path.moveTo(0, 0);
    path.lineTo(right, 0);
    if (r > 0.5) {
        path.lineTo(right, bottom - r);
        path.arcTo(QRectF(right - 2 * r, bottom - 2 * r, 2 * r, 2 * r), 0, -90);
    } else {
        path.lineTo(right, bottom);
    }
    path.lineTo(0, bottom);
    path.closeSubpath();
    return path;
}

QString labelKey(const QString& text, int avail)
{
    return text + QChar(0x0001) + QString::number(avail);
}

// Floor division, so points left of or above the first cell never land in it.
int floorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

} // namespace

quint64 itemListSignature(const QList<Item>& items, int groupIndex)
{
    quint64 h = ((quint64(qint64(groupIndex)) + 1) * kFnvPrime) ^ quint64(items.size()) ^ kGolden;
    for (const Item& item : items) {
        quint64 c = (quint64(qHash(QStringView(item.path), 0)) ^ quint64(qHash(QStringView(item.name), 0))) * kFnvPrime;
        if (!item.hidden)
            c = ~c;
        h = std::rotl(h ^ c, 7);
    }
    return h;
}

QString gridCutLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    if (fm.horizontalAdvance(text) <= avail)
        return text;
    for (int k = 1; k <= text.size(); ++k) {
        if (fm.horizontalAdvance(text.left(k)) > avail)
            return text.left(k - 1);
    }
    return text;
}

GridLabel gridAutoLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    GridLabel label;
    const QString e = fm.elidedText(text, Qt::ElideRight, avail);
    if (e == text || fm.horizontalAdvance(e) < avail - fm.horizontalAdvance(QStringLiteral("…"))) {
        label.line1 = e;
    } else {
        int cut = 0;
        for (int k = int(text.size()); k >= 1; --k) {
            if (fm.horizontalAdvance(text.left(k)) <= avail) {
                cut = k;
                break;
            }
        }
        // Latin names break at the last space that fits, not inside a word; text without spaces (Chinese) breaks
        // at the last character that fits.
        int restStart = cut;
        if (cut > 0 && cut < text.size() && !text.at(cut).isSpace()) {
            const int space = int(text.lastIndexOf(QLatin1Char(' '), cut - 1));
            if (space > 0) {
                cut = space;
                restStart = space + 1;
            }
        } else if (cut < text.size() && text.at(cut).isSpace()) {
            restStart = cut + 1;
        }
        label.twoLines = true;
        label.line1 = text.left(cut);
        label.line2 = fm.elidedText(text.mid(restStart), Qt::ElideRight, avail);
    }
    return label;
}

IconGrid::IconGrid(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setAttribute(Qt::WA_MouseTracking);
    setMouseTracking(true);
    setFocusPolicy(Qt::WheelFocus);
    m_holdTimer = new QTimer(this);
    m_holdTimer->setSingleShot(true);
    m_holdTimer->setInterval(kHoldMs);
    connect(m_holdTimer, &QTimer::timeout, this, &IconGrid::onHoldTimeout);
}

IconGrid::~IconGrid() = default;

// ---- model access and the visible list ----

bool IconGrid::hasUsableGroup() const
{
    return m_groups && m_currentIndex && *m_currentIndex >= 0 && *m_currentIndex < m_groups->size();
}

const Group* IconGrid::currentGroup() const
{
    return hasUsableGroup() ? &m_groups->at(*m_currentIndex) : nullptr;
}

// The item shown at a visible position, or null. The model may have changed without a re-layout (a removal whose
// save failed), so the index is checked against the group every time.
const Item* IconGrid::itemAtPosition(int position) const
{
    const Group* group = currentGroup();
    if (!group || position < 0 || position >= m_visible.size())
        return nullptr;
    const int i = m_visible.at(position);
    return i >= 0 && i < group->items.size() ? &group->items.at(i) : nullptr;
}

void IconGrid::discardVisibleList()
{
    m_visible.clear();
    m_signature = 0;
    m_builtGroup = -1;
    m_builtCount = 0;
    m_visibleValid = false;
}

void IconGrid::rebuildVisibleList()
{
    const int g = *m_currentIndex;
    const QList<Item>& items = m_groups->at(g).items;
    m_signature = itemListSignature(items, g);
    m_visible.clear();
    for (int i = 0; i < items.size(); ++i) {
        if (!items.at(i).hidden)
            m_visible.append(i);
    }
    m_builtCount = int(items.size());
    m_visibleValid = true;
    m_builtGroup = g;
}

void IconGrid::ensureVisibleList()
{
    if (!m_groups || m_groups->isEmpty() || !m_currentIndex || *m_currentIndex < 0) {
        // Without groups there is nothing a kept list could point into, even when built for the same index.
        m_visibleDirty = false;
        if (m_visibleValid)
            discardVisibleList();
        return;
    }
    const int current = *m_currentIndex;
    const int count = int(m_groups->size());
    if (m_visibleDirty) {
        m_visibleDirty = false;
        if (current >= count)
            discardVisibleList();
        else
            rebuildVisibleList();
        return;
    }
    if (m_visibleValid && m_builtGroup == current) {
        // The owner re-lays out after it saved; when the save failed the model may already hold fewer or more
        // items than the list was built from. Rebuild then rather than point past the group's end.
        if (current >= count)
            discardVisibleList();
        else if (m_groups->at(current).items.size() != m_builtCount)
            rebuildVisibleList();
        return;
    }
    if (m_visibleValid) {
        if (current >= count) {
            discardVisibleList();
            return;
        }
        if (itemListSignature(m_groups->at(current).items, current) == m_signature &&
            m_groups->at(current).items.size() == m_builtCount)
            m_builtGroup = current;
        else
            rebuildVisibleList();
        return;
    }
    if (current < count)
        rebuildVisibleList();
}

QList<int> IconGrid::visiblePositions()
{
    ensureVisibleList();
    return m_visible;
}

// ---- setters ----

void IconGrid::attachOwner(const QList<Group>* groups, const int* currentIndex)
{
    m_groups = groups;
    m_currentIndex = currentIndex;
    m_visibleDirty = true;
    clampScroll();
}

void IconGrid::setIconCache(IconCacheMap* holder)
{
    m_iconCacheHolder = holder;
}

void IconGrid::setInvalidPaths(const QSet<QString>& paths)
{
    if (paths == m_invalidPaths)
        return;
    m_invalidPaths = paths;
    update();
}

int IconGrid::labelFontHeight() const
{
    return QFontMetrics(labelFont()).height();
}

void IconGrid::setIconSize(int px)
{
    int maximum = 96;
    if (m_columns > 0) {
        QFont f = font();
        f.setPixelSize(12);
        const int m = cellWidth() - QFontMetrics(f).height() - 14;
        maximum = m >= 61 ? 60 : std::max(32, m);
    }
    m_iconSize = std::max(32, std::min(px, maximum));
    update();
}

void IconGrid::setShowNames(bool show)
{
    m_showNames = show;
    update();
}

void IconGrid::setSingleClickOpen(bool on)
{
    m_singleClickOpen = on;
}

void IconGrid::setCornerRadius(int radius)
{
    m_cornerRadius = std::clamp(radius, 0, 24);
    update();
}

void IconGrid::setHoverStyle(int mode, const QColor& color, int opacityPercent)
{
    m_hoverMode = mode > 0 ? 1 : 0;
    m_hoverColor = color;
    m_hoverOpacity = std::clamp(opacityPercent, 0, 100);
    if (m_hoverMode == 0) {
        stopFadeIn();
        stopFadeOut();
    }
    update();
}

void IconGrid::setColumns(int columns)
{
    columns = std::clamp(columns, 0, 8);
    if (columns == m_columns)
        return;
    m_columns = columns;
    clampScroll();
    update();
}

void IconGrid::relayout()
{
    m_visibleDirty = true;
    clampScroll();
}

void IconGrid::resetScroll()
{
    if (m_scroll != 0) {
        m_scroll = 0;
        update();
    }
    refreshIcons();
}

void IconGrid::setScrollOffset(int scroll)
{
    m_scroll = scroll;
    clampScroll();
    update();
}

QRect IconGrid::itemGlobalRect(int itemIndex)
{
    ensureVisibleList();
    if (!hasUsableGroup())
        return {};
    const int p = int(m_visible.indexOf(itemIndex));
    if (p < 0)
        return {};
    const QRect r = cellRect(p).translated(0, -m_scroll);
    return QRect(mapToGlobal(r.topLeft()), mapToGlobal(r.bottomRight()));
}

QPoint IconGrid::snapToCellGlobal(const QPoint& global) const
{
    if (m_columns <= 0)
        return global;
    const int c = cellWidth();
    const QPoint p = mapFromGlobal(global);
    const int column = std::clamp(int(std::lround(double(p.x()) / c)), 0, m_columns);
    const int x = std::clamp(column * c, 0, width());
    const int row = std::max(0, int(std::lround(double(p.y()) / c)));
    const int y = std::clamp(row * c, 0, height());
    return mapToGlobal(QPoint(x, y));
}

// ---- geometry ----

int IconGrid::cellWidth() const
{
    const int w = width();
    if (m_columns > 0)
        return std::max(60, w / m_columns);
    const int minW = std::max(96, m_iconSize + 16);
    const int n = std::max(1, (w - 16) / minW);
    return std::max(minW, (w - 16) / n);
}

int IconGrid::perRow() const
{
    if (m_columns > 0)
        return m_columns;
    const int minW = std::max(96, m_iconSize + 16);
    return std::max(1, (width() - 16) / minW);
}

int IconGrid::cellHeight() const
{
    if (m_columns > 0)
        return cellWidth();
    return m_iconSize + (m_showNames ? 56 : 16);
}

int IconGrid::rowStride() const
{
    return m_columns > 0 ? cellWidth() : cellHeight() + 8;
}

int IconGrid::topMargin() const
{
    return m_columns > 0 ? 0 : 8;
}

int IconGrid::scrollStep() const
{
    return m_columns > 0 ? cellWidth() : rowStride();
}

QRect IconGrid::cellRect(int position) const
{
    const int n = perRow();
    const int col = position % n;
    const int row = position / n;
    const int cw = cellWidth();
    if (m_columns > 0)
        return QRect(col * cw, row * cw, cw, cw);
    const int ch = cellHeight();
    return QRect(8 + col * cw, 8 + row * (ch + 8), cw - 8, ch);
}

int IconGrid::maxScroll()
{
    if (!hasUsableGroup())
        return 0;
    ensureVisibleList();
    const int count = int(m_visible.size());
    const int n = perRow();
    const int rows = (count - 1 + n) / n;
    if (m_columns > 0)
        return std::max(0, rows * cellWidth() - height());
    return std::max(0, rows * rowStride() + 16 - height());
}

void IconGrid::clampScroll()
{
    m_scroll = std::clamp(m_scroll, 0, maxScroll());
}

int IconGrid::hitTest(const QPoint& pos)
{
    if (!m_groups)
        return -1;
    ensureVisibleList();
    const int count = int(m_visible.size());
    if (count == 0)
        return -1;
    // Cells never overlap: only the cell whose slot holds the point can contain it.
    const int x = pos.x() - topMargin();
    const int y = pos.y() + m_scroll - topMargin();
    const int col = floorDiv(x, cellWidth());
    const int row = floorDiv(y, rowStride());
    if (col < 0 || col >= perRow() || row < 0)
        return -1;
    const int p = row * perRow() + col;
    if (p >= count || !cellRect(p).contains(pos.x(), pos.y() + m_scroll))
        return -1;
    return p;
}

int IconGrid::dropIndexAt(const QPoint& pos)
{
    if (!m_groups)
        return -1;
    ensureVisibleList();
    const int count = int(m_visible.size());
    if (count == 0)
        return 0;
    const int n = perRow();
    const int lastRow = (count - 1) / n;
    const int row = std::clamp((pos.y() + m_scroll - topMargin()) / scrollStep(), 0, lastRow);
    const int first = row * n;
    for (int k = first; k < count && k < first + n; ++k) {
        const QRect r = cellRect(k);
        if (pos.x() < (r.left() + r.right()) / 2)
            return k;
    }
    return std::min(count, first + n);
}

// ---- painting ----

const QPixmap* IconGrid::displayCopy(const QString& key, const QPixmap& source, double dpr)
{
    auto it = m_displayCache.find(key);
    if (it == m_displayCache.end()) {
        const int s = std::max(1, int(std::lround(m_iconSize * dpr)));
        QPixmap copy = source.scaled(s, s, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        copy.setDevicePixelRatio(dpr);
        ++m_displayScales;
        it = m_displayCache.insert(key, DisplayEntry{copy, 0});
    }
    it->lastUse = m_paintStamp;
    return &it->pixmap;
}

// The cache holds at least every icon of the last paint, so a large window never rescales on a repaint; beyond
// that the least recently drawn copies go first.
void IconGrid::trimDisplayCache(int drawnCells)
{
    const qsizetype capacity = std::max(kMinDisplayCache, drawnCells);
    if (m_displayCache.size() <= capacity)
        return;
    QList<QPair<quint64, QString>> byAge;
    byAge.reserve(m_displayCache.size());
    for (auto it = m_displayCache.cbegin(); it != m_displayCache.cend(); ++it)
        byAge.append({it->lastUse, it.key()});
    std::sort(byAge.begin(), byAge.end());
    for (qsizetype k = 0; k < byAge.size() - capacity; ++k)
        m_displayCache.remove(byAge.at(k).second);
}

void IconGrid::dropDisplayKey(const QString& key)
{
    m_displayCache.remove(key);
}

QString IconGrid::fixedLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    const QString key = labelKey(text, avail);
    const auto it = m_labelCache.constFind(key);
    if (it != m_labelCache.cend())
        return *it;
    const QString cut = gridCutLabel(fm, text, avail);
    if (m_labelCache.size() > kMaxLabelCache)
        m_labelCache.clear();
    m_labelCache.insert(key, cut);
    return cut;
}

// Labels are worked out once per text and width (the same bounds for both layouts).
const GridLabel& IconGrid::autoLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    const QString key = labelKey(text, avail);
    auto it = m_autoLabelCache.constFind(key);
    if (it != m_autoLabelCache.cend())
        return *it;
    if (m_autoLabelCache.size() > kMaxLabelCache)
        m_autoLabelCache.clear();
    return *m_autoLabelCache.insert(key, gridAutoLabel(fm, text, avail));
}

void IconGrid::paintEvent(QPaintEvent*)
{
    const Theme& theme = currentTheme();
    const int w = width();
    const int h = height();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPainterPath background = bottomRoundedPath(w, h, m_cornerRadius);
    p.fillPath(background, theme.gridBackground);

    if (!hasUsableGroup())
        return;
    ensureVisibleList();
    const Group& group = m_groups->at(*m_currentIndex);
    if (group.items.isEmpty()) {
        QFont hint = font();
        hint.setPixelSize(14);
        p.setFont(hint);
        p.setPen(theme.mutedText);
        p.drawText(rect(), Qt::AlignCenter, Lang::tr("将桌面图标拖拽到此处进行整理"));
        return;
    }

    const bool fixed = m_columns > 0;
    const int count = int(m_visible.size());
    const int cw = cellWidth();
    const int n = perRow();

    if (fixed && count > 0) {
        const int d = std::min(4, theme.dividerWidth);
        const QColor color = themeDividerColor(theme.controlBorder);
        if (d > 0 && color.alpha() > 0) {
            p.save();
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setClipPath(background);
            p.setPen(QPen(color, d, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            p.translate(0, -m_scroll);
            const int full = count / m_columns;
            const int rem = count % m_columns;
            const int rows = full + (rem > 0 ? 1 : 0);
            const auto cells = [&](int k) { return k >= 0 && k < full ? m_columns : (k == full ? rem : 0); };
            const int firstRow = std::min(rows, std::max(0, m_scroll / cw));
            const int lastRow = std::min(rows, (m_scroll + h) / cw + 1);
            for (int k = firstRow; k <= lastRow; ++k) {
                const int len = std::max(cells(k), cells(k - 1));
                if (len >= 1)
                    p.drawLine(0, k * cw, len * cw, k * cw);
            }
            for (int k = firstRow; k < lastRow; ++k) {
                for (int j = 0; j <= cells(k); ++j)
                    p.drawLine(j * cw, k * cw, j * cw, (k + 1) * cw);
            }
            p.restore();
        }
    }

    const QFont& lf = labelFont();
    const QFontMetrics fm(lf);
    const int f = fm.height();
    p.setFont(lf);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.setClipPath(background);
    p.translate(0, -m_scroll);

    const double dpr = devicePixelRatioF();
    if (m_iconSize != m_cachedIconSize || !qFuzzyCompare(dpr, m_cachedDpr)) {
        m_displayCache.clear();
        m_cachedIconSize = m_iconSize;
        m_cachedDpr = dpr;
    }
    ++m_paintStamp;

    const int stride = rowStride();
    const int m = topMargin();
    const int first = std::max(0, (m_scroll - m) / stride) * n;
    const int last = std::min(count, n * ((m_scroll + h) / stride + 2));
    const double radius = fixed ? 0 : 10;
    const QColor badgeRed(0xD9, 0x53, 0x4F);

    for (int pos = first; pos < last; ++pos) {
        const Item* item = itemAtPosition(pos);
        if (!item)
            break; // the model shrank under a list that could not be rebuilt: draw nothing past its end
        const QRect r = cellRect(pos);

        QColor fill(Qt::transparent);
        if (pos == m_hoverIndex && m_hoverMode == 0) {
            if (m_hoverColor.isValid()) {
                fill = m_hoverColor;
                fill.setAlpha(int(std::lround(m_hoverOpacity * 2.55)));
            } else {
                fill = theme.itemHover;
            }
        }
        if (pos == m_keyCursor)
            fill = theme.itemHover;
        if (fill.alpha() > 0) {
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawRoundedRect(r, radius, radius);
        }
        if (pos == m_keyCursor) {
            p.setPen(QPen(theme.accent, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius, radius);
        }

        const bool invalid = m_invalidPaths.contains(item->path);

        const QPixmap* source = nullptr;
        QString key;
        if (!item->customIcon.isEmpty()) {
            const auto it = m_customIcons.constFind(item->customIcon);
            if (it != m_customIcons.cend() && !it->isNull()) {
                source = &*it;
                key = QStringLiteral("c:") + item->customIcon;
            } else {
                const QString path = item->customIcon;
                QMetaObject::invokeMethod(
                    this, [this, path] { preloadCustomIcon(path); }, Qt::QueuedConnection);
            }
        }
        if (!source && m_iconCacheHolder) {
            const auto it = m_iconCacheHolder->constFind(item->path);
            if (it != m_iconCacheHolder->cend() && !it->isNull()) {
                source = &*it;
                key = item->path;
            }
        }
        const QPixmap* icon = source ? displayCopy(key, *source, dpr) : nullptr;

        int iconTop = r.top() + 8;
        if (fixed) {
            const int block = m_iconSize + (m_showNames ? f + 6 : 0);
            const int free = r.height() - block;
            iconTop = r.top() + (free >= 10 ? free / 2 : 4);
        }
        const int labelTop = iconTop + m_iconSize + 6;

        if (icon) {
            double q = icon->devicePixelRatio();
            if (q <= 0)
                q = 1;
            const int lw = int(std::lround(icon->width() / q));
            const int lh = int(std::lround(icon->height() / q));
            const int x = r.left() + (r.width() - lw) / 2;
            const int y = m_iconSize - lh >= 2 ? iconTop + (m_iconSize - lh) / 2 : iconTop;
            if (invalid)
                p.setOpacity(0.42);
            double level = 0;
            if (m_hoverMode == 1) {
                if (pos == m_fadeInIndex)
                    level = m_fadeInValue;
                else if (pos == m_fadeOutIndex)
                    level = m_fadeOutValue;
            }
            if (level > 0.001) {
                const double z = 1 + 0.18 * level;
                const QPointF centre(x + lw / 2.0, y + lh / 2.0);
                const QSizeF size(lw * z, lh * z);
                p.drawPixmap(QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size), *icon,
                             QRectF(icon->rect()));
            } else {
                p.drawPixmap(x, y, *icon);
            }
            if (invalid)
                p.setOpacity(1.0);
        }

        if (invalid) {
            double R = 10;
            double o = 3;
            if (m_iconSize < 66) {
                R = std::max(6, m_iconSize / 6);
                o = 0.3 * R;
            }
            const double cx = r.left() + (r.width() - m_iconSize) / 2 + m_iconSize - 1 - o;
            const double cy = iconTop + m_iconSize - 1 - o;
            p.setPen(Qt::NoPen);
            p.setBrush(badgeRed);
            p.drawEllipse(QPointF(cx, cy), R, R);
            p.setBrush(Qt::white);
            p.drawRoundedRect(QRectF(cx - 0.13 * R, cy - 0.55 * R, 0.26 * R, 0.62 * R), 0.13 * R, 0.13 * R);
            p.drawEllipse(QPointF(cx, cy + 0.42 * R), 0.15 * R, 0.15 * R);
        }

        if (m_showNames) {
            QColor textColor = theme.itemText;
            if (invalid)
                textColor.setAlpha(150);
            p.setPen(textColor);
            p.setBrush(Qt::NoBrush);
            const QString text = Lang::tr(item->name);
            const int avail = r.width() - 8;
            if (fixed) {
                p.drawText(QRect(r.left() + 4, labelTop, r.width() - 8, f), Qt::AlignCenter,
                           fixedLabel(fm, text, avail));
            } else {
                const GridLabel& label = autoLabel(fm, text, avail);
                if (!label.twoLines) {
                    p.drawText(QRect(r.left() + 4, labelTop, r.width() - 8, 2 * f + 2),
                               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, label.line1);
                } else {
                    p.drawText(QRect(r.left() + 4, labelTop, r.width() - 8, f), Qt::AlignHCenter | Qt::AlignTop,
                               label.line1);
                    p.drawText(QRect(r.left() + 4, labelTop + f, r.width() - 8, f), Qt::AlignHCenter | Qt::AlignTop,
                               label.line2);
                }
            }
        }
    }
    trimDisplayCache(std::max(0, last - first));

    if (m_dropIndex >= 0 && count > 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(theme.accent);
        if (m_dropIndex < count) {
            const QRect r = cellRect(m_dropIndex);
            p.drawRect(QRect(QPoint(r.left() - 2, r.top() + 4), QPoint(r.left(), r.bottom() - 4)));
        } else {
            const QRect r = cellRect(count - 1);
            p.drawRect(QRect(QPoint(r.right() - 1, r.top() + 4), QPoint(r.right() + 1, r.bottom() - 4)));
        }
    }
}

// ---- hover animations ----

void IconGrid::ensureHoverAnimations()
{
    if (m_fadeIn)
        return;
    m_fadeIn = new QVariantAnimation(this);
    m_fadeIn->setDuration(kHoverMs);
    m_fadeIn->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_fadeIn, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_fadeInValue = v.toDouble();
        update();
    });
    m_fadeOut = new QVariantAnimation(this);
    m_fadeOut->setDuration(kHoverMs);
    m_fadeOut->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_fadeOut, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_fadeOutValue = v.toDouble();
        update();
    });
}

void IconGrid::stopFadeIn()
{
    if (m_fadeIn)
        m_fadeIn->stop();
    m_fadeInIndex = -1;
    m_fadeInValue = 0;
}

void IconGrid::stopFadeOut()
{
    if (m_fadeOut)
        m_fadeOut->stop();
    m_fadeOutIndex = -1;
    m_fadeOutValue = 0;
}

void IconGrid::startHoverIn(int position)
{
    ensureHoverAnimations();
    double start = 0;
    if (position == m_fadeOutIndex) {
        start = m_fadeOutValue;
        stopFadeOut();
    }
    m_fadeIn->stop();
    m_fadeInIndex = position;
    m_fadeInValue = start;
    m_fadeIn->setStartValue(start);
    m_fadeIn->setEndValue(1.0);
    m_fadeIn->start();
}

void IconGrid::startHoverOut(int position, double level)
{
    ensureHoverAnimations();
    m_fadeOut->stop();
    m_fadeOutIndex = position;
    m_fadeOutValue = level;
    m_fadeOut->setStartValue(level);
    m_fadeOut->setEndValue(0.0);
    m_fadeOut->start();
}

void IconGrid::updateHover(const QPoint& pos)
{
    const int hit = hitTest(pos);
    if (hit == m_hoverIndex)
        return;
    const int old = m_hoverIndex;
    m_hoverIndex = hit;
    if (m_hoverMode == 1) {
        if (old >= 0 && old == m_fadeInIndex)
            startHoverOut(old, m_fadeInValue);
        if (hit >= 0)
            startHoverIn(hit);
        else
            stopFadeIn();
        update();
        return;
    }
    for (const int cell : {old, hit}) {
        if (cell >= 0)
            update(cellRect(cell).translated(0, -m_scroll).adjusted(-2, -2, 2, 2));
    }
}

// ---- pointer, wheel and keys ----

void IconGrid::mousePressEvent(QMouseEvent* event)
{
    m_keyCursor = -1;
    if (event->button() != Qt::LeftButton) {
        update();
        return;
    }
    m_pressed = true;
    m_pressPos = event->position().toPoint();
    m_pressIndex = hitTest(m_pressPos);
    m_dragStarted = false;
    if (m_pressIndex >= 0)
        m_holdTimer->start();
    update();
}

void IconGrid::onHoldTimeout()
{
    if (!m_pressed || m_pressIndex < 0 || m_dragActive)
        return;
    m_dragStarted = true;
    const int p = m_pressIndex;
    QPointer<IconGrid> self(this);
    startDrag(p);
    if (!self)
        return;
    m_pressed = false;
    m_pressIndex = -1;
}

void IconGrid::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    updateHover(pos);
    if (m_pressed && m_pressIndex >= 0 && !m_dragActive && (pos - m_pressPos).manhattanLength() > kDragDistance) {
        m_holdTimer->stop();
        m_dragStarted = true;
        QPointer<IconGrid> self(this);
        startDrag(m_pressIndex);
        if (!self)
            return;
        // The drag swallowed the release: without this the next plain move would start a second drag.
        m_pressed = false;
        m_pressIndex = -1;
    }
}

void IconGrid::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (m_singleClickOpen && m_pressed && m_pressIndex >= 0 && !m_dragStarted && event->button() == Qt::LeftButton &&
        (pos - m_pressPos).manhattanLength() <= kDragDistance) {
        const int old = m_pressIndex;
        m_pressed = false;
        m_pressIndex = -1;
        ensureVisibleList();
        const Item* item = itemAtPosition(old);
        emit itemActivated(item ? m_visible.at(old) : -1);
        return;
    }
    m_holdTimer->stop();
    m_pressed = false;
    m_pressIndex = -1;
}

void IconGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int p = hitTest(event->position().toPoint());
    if (p < 0) {
        emit blankDoubleClicked();
        return;
    }
    if (itemAtPosition(p))
        emit itemActivated(m_visible.at(p));
}

void IconGrid::contextMenuEvent(QContextMenuEvent* event)
{
    const int p = hitTest(event->pos());
    if (p < 0 || !itemAtPosition(p))
        return;
    emit itemMenuRequested(m_visible.at(p), event->globalPos());
}

void IconGrid::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_hoverIndex = -1;
    if (m_hoverMode == 1 && m_fadeInIndex >= 0) {
        startHoverOut(m_fadeInIndex, m_fadeInValue);
        stopFadeIn();
    }
    update();
}

void IconGrid::wheelEvent(QWheelEvent* event)
{
    if (!m_groups) {
        event->ignore();
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) {
        event->ignore();
        return;
    }
    m_scroll = std::clamp(m_scroll - steps * scrollStep(), 0, maxScroll());
    update();
    event->accept();
}

void IconGrid::keyPressEvent(QKeyEvent* event)
{
    ensureVisibleList();
    const int count = int(m_visible.size());
    if (count <= 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int n = perRow();
    const int key = event->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (m_keyCursor >= 0 && m_keyCursor < count && itemAtPosition(m_keyCursor))
            emit itemActivated(m_visible.at(m_keyCursor));
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape) {
        m_keyCursor = -1;
        update();
        event->accept();
        return;
    }
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
    int target;
    if (key == Qt::Key_Home)
        target = 0;
    else if (key == Qt::Key_End)
        target = count - 1;
    else if (arrow && m_keyCursor < 0)
        target = 0;
    else if (key == Qt::Key_Left)
        target = std::max(0, m_keyCursor - 1);
    else if (key == Qt::Key_Right)
        target = std::min(count - 1, m_keyCursor + 1);
    else if (key == Qt::Key_Up)
        target = std::max(0, m_keyCursor - n);
    else if (key == Qt::Key_Down)
        target = std::min(count - 1, m_keyCursor + n);
    else {
        QWidget::keyPressEvent(event);
        return;
    }
    target = std::min(target, count - 1); // a cursor left behind by a shrunken group
    event->accept();
    if (target == m_keyCursor)
        return;
    m_keyCursor = target;
    const QRect r = cellRect(target);
    const int step = scrollStep();
    const int m = topMargin();
    if (r.top() - m_scroll < m) {
        const int k = std::max(1, (m + m_scroll - r.top() + step - 1) / step);
        m_scroll = std::max(0, m_scroll - k * step);
    } else if (r.bottom() - m_scroll > height()) {
        const int k = std::max(1, (r.bottom() - m_scroll - height() + step - 1) / step);
        m_scroll = std::min(maxScroll(), m_scroll + k * step);
    }
    update();
}

void IconGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    clampScroll();
    update();
}

void IconGrid::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
    refreshIcons();
}

// ---- drag and drop ----

QDrag* IconGrid::createDrag(int position)
{
    if (!m_groups)
        return nullptr;
    ensureVisibleList();
    const Item* item = itemAtPosition(position);
    if (!item)
        return nullptr;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kItemMime),
                  encodeItemPayload(*m_currentIndex, m_visible.at(position), item->path));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    if (m_iconCacheHolder) {
        QPixmap pix;
        if (!item->customIcon.isEmpty())
            pix = m_customIcons.value(item->customIcon);
        if (pix.isNull())
            pix = m_iconCacheHolder->value(item->path);
        if (!pix.isNull())
            drag->setPixmap(pix.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    return drag;
}

void IconGrid::setDragRunnerForTesting(DragRunner runner)
{
    m_dragRunner = std::move(runner);
}

void IconGrid::startDrag(int position)
{
    QDrag* drag = createDrag(position);
    if (!drag)
        return;
    QPointer<IconGrid> self(this);
    QPointer<QDrag> guard(drag);
    m_dragActive = true;
    if (m_dragRunner)
        m_dragRunner(drag);
    else
        drag->exec(Qt::MoveAction);
    if (!self)
        return;
    m_dragActive = false;
    if (guard)
        guard->deleteLater();
}

void IconGrid::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(QString::fromLatin1(kItemMime))) {
        event->acceptProposedAction();
        m_dragActive = true;
        m_dropIndex = dropIndexAt(event->position().toPoint());
    } else if (mime->hasUrls() || mime->hasFormat(QString::fromLatin1(kShellIdListMime))) {
        event->acceptProposedAction();
        m_dragActive = true;
        m_dropIndex = -1;
    } else {
        event->ignore();
        return;
    }
    update();
}

void IconGrid::dragMoveEvent(QDragMoveEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(QString::fromLatin1(kItemMime))) {
        const int d = dropIndexAt(event->position().toPoint());
        if (d != m_dropIndex) {
            m_dropIndex = d;
            update();
        }
        event->acceptProposedAction();
    } else if (mime->hasUrls() || mime->hasFormat(QString::fromLatin1(kShellIdListMime))) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void IconGrid::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dragActive = false;
    m_dropIndex = -1;
    update();
}

void IconGrid::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(QString::fromLatin1(kItemMime))) {
        ItemPayload payload;
        // The payload may come from another process: only indexes of existing items are passed on.
        if (decodeItemPayload(mime->data(QString::fromLatin1(kItemMime)), &payload) && m_groups &&
            itemPayloadInModel(payload, *m_groups) && hasUsableGroup()) {
            const int c = *m_currentIndex;
            if (payload.group == c) {
                const int target = dropIndexAt(event->position().toPoint());
                if (target >= 0) {
                    const int to = target < m_visible.size() ? m_visible.at(target) : int(m_groups->at(c).items.size());
                    emit itemReordered(payload.item, to);
                }
            } else {
                emit itemMoved(payload.group, payload.item, c);
            }
        }
        event->acceptProposedAction();
    } else if (mime->hasUrls()) {
        // File managers drag places (trash, computer, network) as URIs: they become the same shell items a
        // Windows drop would give.
        QList<QUrl> rest;
        const QList<ShellItemPair> places = shellItemsFromUrls(mime->urls(), &rest);
        if (!places.isEmpty())
            emit shellItemsDropped(places);
        if (!rest.isEmpty())
            emit urlsDropped(rest);
        event->acceptProposedAction();
    } else if (mime->hasFormat(QString::fromLatin1(kShellIdListMime))) {
        const QList<ShellItemPair> items = parseShellIdList(mime->data(QString::fromLatin1(kShellIdListMime)));
        if (!items.isEmpty()) {
            emit shellItemsDropped(items);
            event->acceptProposedAction();
        }
    }
    m_dragActive = false;
    m_dropIndex = -1;
    update();
}

// ---- custom icons and cache invalidation ----

void IconGrid::refreshIcons()
{
    if (!hasUsableGroup())
        return;
    const int g = *m_currentIndex;
    const QList<Item>& items = m_groups->at(g).items;
    const int n = int(items.size());
    quint64 h = kFnvOffset;
    for (const Item& item : items) {
        if (!item.customIcon.isEmpty())
            h = (h ^ quint64(qHash(QStringView(item.customIcon), 0))) * kFnvPrime;
    }
    if (g == m_refreshGroup && n == m_refreshCount && h == m_refreshHash && m_pending.isEmpty())
        return;
    m_refreshGroup = g;
    m_refreshCount = n;
    m_refreshHash = h;
    int started = 0;
    for (const Item& item : items) {
        const QString& path = item.customIcon;
        if (path.isEmpty() || m_customIcons.contains(path) || m_failed.contains(path) || m_pending.contains(path))
            continue;
        if (started >= kMaxLoadsPerRefresh)
            break;
        preloadCustomIcon(path);
        ++started;
    }
}

void IconGrid::preloadCustomIcon(const QString& path)
{
    if (path.isEmpty() || m_customIcons.contains(path) || m_pending.contains(path) || m_failed.contains(path))
        return;
    const qint64 gen = m_generation;
    const qint64 tok = m_tokens.value(path, 0);
    m_pending.insert(path, tok);
    QPointer<IconGrid> guard(this);
    (void)QtConcurrent::run(QThreadPool::globalInstance(),
                            [guard, path, gen, tok] { loadCustomIconTask(guard, path, gen, tok); });
}

void IconGrid::loadCustomIconTask(QPointer<IconGrid> grid, QString path, qint64 gen, qint64 tok)
{
    QImageReader reader(path);
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > kMaxCustomSide || image.height() > kMaxCustomSide))
        image = image.scaled(kMaxCustomSide, kMaxCustomSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QMetaObject::invokeMethod(
        qApp, [grid, path, image, gen, tok] { onCustomIconLoaded(grid, path, image, gen, tok); }, Qt::QueuedConnection);
}

void IconGrid::onCustomIconLoaded(QPointer<IconGrid> grid, const QString& path, const QImage& image, qint64 gen,
                                  qint64 tok)
{
    if (!grid)
        return;
    const auto it = grid->m_pending.constFind(path);
    if (it != grid->m_pending.cend() && *it == tok)
        grid->m_pending.erase(it);
    if (grid->m_generation != gen || grid->m_tokens.value(path, 0) != tok)
        return;
    if (image.isNull()) {
        grid->m_failed.insert(path);
        return;
    }
    grid->storeCustomPixmap(path, QPixmap::fromImage(image));
    grid->update();
}

void IconGrid::storeCustomPixmap(const QString& path, const QPixmap& pixmap)
{
    if (path.isEmpty() || pixmap.isNull())
        return;
    dropDisplayKey(QStringLiteral("c:") + path);
    if (!m_customIcons.contains(path)) {
        m_customOrder.append(path);
        while (m_customOrder.size() > kMaxCustomIcons)
            m_customIcons.remove(m_customOrder.takeFirst());
    }
    QPixmap copy = pixmap;
    copy.setDevicePixelRatio(1.0);
    m_customIcons.insert(path, copy);
}

void IconGrid::invalidateIcon(const QString& path)
{
    if (path.isEmpty())
        return;
    m_tokens[path] = m_tokens.value(path, 0) + 1;
    m_customIcons.remove(path);
    m_customOrder.removeAll(path);
    m_failed.remove(path);
    m_pending.remove(path);
    dropDisplayKey(QStringLiteral("c:") + path);
}

void IconGrid::forgetCustomIcon(const QString& path)
{
    dropDisplayKey(path);
}

void IconGrid::clearCaches()
{
    m_displayCache.clear();
    m_customIcons.clear();
    m_customOrder.clear();
    m_failed.clear();
    m_pending.clear();
    m_tokens.clear();
    ++m_generation;
    m_refreshGroup = -1;
    m_refreshCount = -1;
    m_refreshHash = 0;
    m_cachedIconSize = -1;
    m_cachedDpr = 1.0;
    m_labelCache.clear();
    m_autoLabelCache.clear();
}
