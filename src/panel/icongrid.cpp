#include "panel/icongrid.h"

#include "icons/iconloader.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QApplication>
#include <QEasingCurve>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr quint64 kFnvPrime = 1099511628211ULL;
constexpr quint64 kFnvOffset = 14695981039346656037ULL;
constexpr quint64 kGolden = 0x9E3779B97F4A7C15ULL;
constexpr int kHoldMs = 450;
constexpr int kMinDisplayCache = 64;
constexpr int kMaxLoadsPerRefresh = 64;
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
    connect(&m_custom, &CustomIconLoader::loaded, this, [this](const QString& path) {
        dropDisplayKey(QStringLiteral("c:") + path);
        update();
    });
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
    scheduleIconCheck();
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

void IconGrid::setIconSize(int px)
{
    QFont f = font();
    f.setPixelSize(12);
    m_iconSize = gridClampIconSize(px, m_columns, width(), QFontMetrics(f).height());
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
    // A removal or a group switch puts other items under a pointer that has not moved.
    syncHoverToPointer();
    scheduleIconCheck();
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
    scheduleIconCheck();
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
    return mapToGlobal(cellGeometry().snapToCell(mapFromGlobal(global)));
}

// ---- geometry ----

GridGeometry IconGrid::cellGeometry() const
{
    GridGeometry g;
    g.width = width();
    g.height = height();
    g.columns = m_columns;
    g.iconSize = m_iconSize;
    g.showNames = m_showNames;
    return g;
}

int IconGrid::maxScroll()
{
    if (!hasUsableGroup())
        return 0;
    ensureVisibleList();
    return cellGeometry().maxScroll(int(m_visible.size()));
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
    return cellGeometry().hitTest(pos, m_scroll, int(m_visible.size()));
}

int IconGrid::dropIndexAt(const QPoint& pos)
{
    if (!m_groups)
        return -1;
    ensureVisibleList();
    return cellGeometry().dropIndexAt(pos, m_scroll, int(m_visible.size()));
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
    const GridGeometry geo = cellGeometry();
    const int cw = geo.cellWidth();

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

    const int first = geo.firstDrawn(m_scroll);
    const int last = geo.lastDrawn(m_scroll, count);
    bool lacking = false; // a cell drawn without the icon it should have
    const double radius = fixed ? 0 : 10;
    const QColor badgeRed(0xD9, 0x53, 0x4F);

    for (int pos = first; pos < last; ++pos) {
        const Item* item = itemAtPosition(pos);
        if (!item)
            break; // the model shrank under a list that could not be rebuilt: draw nothing past its end
        const QRect r = geo.cellRect(pos);

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
            source = m_custom.find(item->customIcon);
            if (source)
                key = QStringLiteral("c:") + item->customIcon;
            else
                lacking = lacking || m_custom.wants(item->customIcon);
        }
        if (!source && m_iconCacheHolder) {
            const auto it = m_iconCacheHolder->constFind(item->path);
            if (it != m_iconCacheHolder->cend() && !it->isNull()) {
                source = &*it;
                key = item->path;
            } else if (it == m_iconCacheHolder->cend()) {
                lacking = lacking || !m_noIcon.contains(item->path);
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
                           m_labels.fixedLabel(fm, text, avail));
            } else {
                const GridLabel& label = m_labels.autoLabel(fm, text, avail);
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
    if (lacking)
        scheduleIconCheck();

    if (m_dropIndex >= 0 && count > 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(theme.accent);
        if (m_dropIndex < count) {
            const QRect r = geo.cellRect(m_dropIndex);
            p.drawRect(QRect(QPoint(r.left() - 2, r.top() + 4), QPoint(r.left(), r.bottom() - 4)));
        } else {
            const QRect r = geo.cellRect(count - 1);
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

// ---- custom icons, missing icons and cache invalidation ----

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
    if (g == m_refreshGroup && n == m_refreshCount && h == m_refreshHash && m_custom.pendingCount() == 0)
        return;
    m_refreshGroup = g;
    m_refreshCount = n;
    m_refreshHash = h;
    int started = 0;
    for (const Item& item : items) {
        if (!m_custom.wants(item.customIcon))
            continue;
        if (started >= kMaxLoadsPerRefresh)
            break;
        m_custom.preload(item.customIcon);
        ++started;
    }
}

void IconGrid::scheduleIconCheck()
{
    if (m_iconCheckQueued)
        return;
    m_iconCheckQueued = true;
    QMetaObject::invokeMethod(this, &IconGrid::ensureVisibleIcons, Qt::QueuedConnection);
}

void IconGrid::ensureVisibleIcons()
{
    m_iconCheckQueued = false;
    if (!hasUsableGroup())
        return;
    ensureVisibleList();
    const QList<Item>& items = m_groups->at(*m_currentIndex).items;
    IconCacheMap* shared = iconCache();
    if (m_iconCacheHolder == shared) {
        // Every icon of the group on show stays in the memory cache, however many items the layout holds.
        QSet<QString> paths;
        paths.reserve(items.size());
        for (const Item& item : items)
            paths.insert(item.path);
        pinIconPaths(paths);
    }
    if (!m_iconCacheHolder)
        return;
    const GridGeometry geo = cellGeometry();
    const int count = int(m_visible.size());
    const int last = geo.lastDrawn(m_scroll, count);
    for (int pos = geo.firstDrawn(m_scroll); pos < last; ++pos) {
        const Item* item = itemAtPosition(pos);
        if (!item)
            break;
        m_custom.preload(item->customIcon);
        if (m_iconCacheHolder->contains(item->path) || m_noIcon.contains(item->path))
            continue;
        QPointer<IconGrid> self(this);
        requestMissingIcon(item->path, this, [self](const QString& path, bool found) {
            if (!self)
                return;
            if (!found)
                self->m_noIcon.insert(path);
            self->dropDisplayKey(path);
            self->update();
        });
    }
}

void IconGrid::invalidateIcon(const QString& path)
{
    if (path.isEmpty())
        return;
    m_custom.invalidate(path);
    m_noIcon.remove(path);
    dropDisplayKey(QStringLiteral("c:") + path);
}

void IconGrid::forgetCustomIcon(const QString& path)
{
    dropDisplayKey(path);
}

void IconGrid::clearCaches()
{
    m_displayCache.clear();
    m_custom.clear();
    m_noIcon.clear();
    m_refreshGroup = -1;
    m_refreshCount = -1;
    m_refreshHash = 0;
    m_cachedIconSize = -1;
    m_cachedDpr = 1.0;
    m_labels.clear();
}
