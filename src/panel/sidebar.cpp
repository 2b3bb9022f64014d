#include "panel/sidebar.h"

#include "model/panelmodel.h"
#include "panel/itempayload.h"
#include "panel/namedialog.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDrag>
#include <QFontMetrics>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QWheelEvent>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A JSON value that is a whole number in 0..INT_MAX, else -1.
int wholeIndex(const QJsonValue& v)
{
    if (!v.isDouble())
        return -1;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || d < 0 || d > double(std::numeric_limits<int>::max()))
        return -1;
    return int(d);
}

// The 13 px font of the application's default family that chip widths and the drag label are measured in.
const QFont& stripFont()
{
    static const QFont font = [] {
        QFont f(QApplication::font().family());
        f.setPixelSize(13);
        return f;
    }();
    return font;
}

QPoint rounded(const QPointF& p)
{
    return p.toPoint();
}

} // namespace

QByteArray encodeGroupPayload(int index)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("g"), index}}).toJson(QJsonDocument::Compact);
}

bool decodeGroupPayload(const QByteArray& data, int groupCount, int* index)
{
    // {"g": 2147483647} is 16 bytes; anything much larger is not a group payload.
    if (data.size() > 256)
        return false;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const int g = wholeIndex(doc.object().value(QLatin1StringView("g")));
    if (g < 0 || g >= groupCount)
        return false;
    if (index)
        *index = g;
    return true;
}

Sidebar::Sidebar(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    setAttribute(Qt::WA_MouseTracking);
    m_namePrompter = [this](bool rename, const QString& preset) {
        NameDialog dialog(rename, this);
        if (rename)
            dialog.setText(preset);
        return dialog.exec() == QDialog::Accepted ? dialog.name() : QString();
    };
    m_dragRunner = [](QDrag* drag) { return drag->exec(Qt::MoveAction); };
}

QSize Sidebar::sizeHint() const
{
    return QSize(172, 400);
}

void Sidebar::setGroups(const QList<Group>* groups, const int* currentIndex)
{
    m_groups = groups;
    m_currentIndex = currentIndex;
    clampScroll();
    update();
}

void Sidebar::setHorizontal(bool horizontal)
{
    if (horizontal == m_horizontal)
        return;
    m_horizontal = horizontal;
    m_scroll = 0;
    m_hoverRow = -1;
    layoutButtons();
    update();
}

void Sidebar::setCornerRadius(int radius)
{
    m_cornerRadius = std::clamp(radius, 0, 24);
    update();
}

void Sidebar::setShowNewGroupButton(bool show)
{
    if (show == m_showNewGroupButton)
        return;
    m_showNewGroupButton = show;
    layoutButtons();
    clampScroll();
    update();
}

void Sidebar::setNamePrompter(NamePrompter prompter)
{
    m_namePrompter = std::move(prompter);
}

void Sidebar::setDragRunner(DragRunner runner)
{
    m_dragRunner = std::move(runner);
}

int Sidebar::groupCount() const
{
    return m_groups ? int(m_groups->size()) : 0;
}

int Sidebar::selectedIndex() const
{
    return m_currentIndex ? *m_currentIndex : -1;
}

QString Sidebar::displayName(int index) const
{
    return Lang::tr(m_groups->at(index).name);
}

int Sidebar::shownItemCount(int index) const
{
    if (!m_groups || index < 0 || index >= m_groups->size())
        return 0;
    const QList<Item>& items = m_groups->at(index).items;
    return int(std::count_if(items.cbegin(), items.cend(), [](const Item& item) { return !item.hidden; }));
}

int Sidebar::reserve() const
{
    return m_showNewGroupButton ? 50 : 12;
}

int Sidebar::listHeight() const
{
    return std::max(0, height() - kTop - reserve());
}

int Sidebar::maxScroll() const
{
    const int n = groupCount();
    if (n == 0 || m_horizontal)
        return 0;
    return std::max(0, kRowPitch * n - listHeight());
}

void Sidebar::clampScroll()
{
    m_scroll = m_horizontal ? 0 : std::clamp(m_scroll, 0, maxScroll());
}

int Sidebar::chipTextWidth(int index) const
{
    const QFontMetrics fm(stripFont());
    const int widest = 6 * fm.horizontalAdvance(QString::fromUtf8("中"));
    // Rounded up: the name is elided against its exact width, so a chip made a fraction of a pixel
    // narrower than its text shows "Ma…" for "Many".
    const int text = int(std::ceil(QFontMetricsF(stripFont()).horizontalAdvance(displayName(index))));
    return std::clamp(text, 8, std::max(8, widest));
}

QRect Sidebar::chipRect(int index) const
{
    int x = 8;
    for (int j = 0; j < index; ++j)
        x += chipTextWidth(j) + 10;
    return QRect(x, 5, chipTextWidth(index), 30);
}

Sidebar::StripLayout Sidebar::stripLayout() const
{
    const int n = groupCount();
    const int w = width();
    int end = 8;
    if (n > 0)
        end = chipRect(n - 1).x() + chipTextWidth(n - 1);
    if (end < w - 25)
        return {w - 26, false};
    return {w - 44, true};
}

int Sidebar::firstOverflowIndex() const
{
    const int n = groupCount();
    const int limit = stripLayout().limit;
    int x = 8;
    for (int i = 0; i < n; ++i) {
        const int cw = chipTextWidth(i);
        if (x + cw > limit)
            return i;
        x += cw + 10;
    }
    return n;
}

int Sidebar::rowAt(const QPoint& pos) const
{
    const int n = groupCount();
    if (n == 0)
        return -1;
    const int w = width();
    if (!m_horizontal) {
        if (pos.x() < 8 || pos.x() > w - 8 || pos.y() < kTop || pos.y() > height() - reserve())
            return -1;
        const int c = pos.y() + m_scroll;
        const int i = (c - kTop) / kRowPitch;
        if (i < n && c >= kRowPitch * i + kTop && c <= kRowPitch * i + 40)
            return i;
        return -1;
    }
    const StripLayout layout = stripLayout();
    if (pos.x() >= (layout.overflow ? w - 38 : w - 20))
        return -1;
    const int drawn = firstOverflowIndex();
    int x = 8;
    for (int j = 0; j < drawn; ++j) {
        const int cw = chipTextWidth(j);
        if (pos.x() >= x - 3 && pos.x() <= x + cw + 2 && pos.y() >= 5 && pos.y() <= 34)
            return j;
        x += cw + 10;
    }
    return -1;
}

bool Sidebar::addButtonHit(const QPoint& pos) const
{
    return !m_addRect.isNull() && m_addRect.adjusted(-5, -5, 5, 5).contains(pos);
}

void Sidebar::layoutButtons()
{
    const int w = width();
    const int h = height();
    if (m_horizontal) {
        m_addRect = QRect(w - 20, 14, 12, 12);
        m_overflowRect = stripLayout().overflow ? QRect(w - 38, 14, 12, 12) : QRect();
        return;
    }
    m_overflowRect = QRect();
    m_addRect = (h >= 120 && m_showNewGroupButton) ? QRect(10, h - 42, w - 20, 32) : QRect();
}

void Sidebar::updateHover(const QPoint& pos)
{
    const int i = rowAt(pos);
    if (i == m_hoverRow)
        return;
    const auto repaintRow = [this](int row) {
        if (row < 0)
            return;
        if (m_horizontal) {
            update();
            return;
        }
        const int top = std::max(kTop, kRowPitch * row - m_scroll + 8);
        const int bottom = kRowPitch * row - m_scroll + 45;
        if (bottom > top)
            update(QRect(0, top, width(), bottom - top));
    };
    repaintRow(m_hoverRow);
    repaintRow(i);
    m_hoverRow = i;
}

void Sidebar::setPointerSourceForTesting(PointerSource source)
{
    m_pointerSource = std::move(source);
}

void Sidebar::syncHoverToPointer()
{
    const QPoint local = mapFromGlobal(m_pointerSource ? m_pointerSource() : QCursor::pos());
    updateHover(rect().contains(local) ? local : QPoint(-1, -1));
}

void Sidebar::askNewGroup()
{
    const QString name = m_namePrompter ? m_namePrompter(false, QString()).trimmed() : QString();
    if (!name.isEmpty())
        Q_EMIT groupCreated(name);
}

void Sidebar::askRename(int index)
{
    if (index < 0 || index >= groupCount() || !m_namePrompter)
        return;
    const QString name = m_namePrompter(true, m_groups->at(index).name).trimmed();
    // The dialog ran modally: the model may have changed under it.
    if (!name.isEmpty() && index < groupCount())
        Q_EMIT groupRenamed(index, name);
}

// ---- pointer -------------------------------------------------------------------------------------------------

void Sidebar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = rounded(event->position());
    if (addButtonHit(pos)) {
        askNewGroup();
        return;
    }
    if (m_horizontal && !m_overflowRect.isNull() && m_overflowRect.adjusted(-5, -8, 5, 8).contains(pos)) {
        QMenu* menu = buildOverflowMenu(this);
        if (!menu->isEmpty())
            menu->exec(mapToGlobal(m_overflowRect.center()));
        delete menu;
        return;
    }
    const int i = rowAt(pos);
    if (i < 0)
        return;
    m_pressed = true;
    m_pressRow = i;
    m_groupDrag = false;
    m_pressPos = pos;
}

void Sidebar::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = rounded(event->position());
    if (m_pressed && !m_groupDrag && (pos - m_pressPos).manhattanLength() > kDragDistance) {
        startGroupDrag(m_pressRow);
        return;
    }
    updateHover(pos);
    // The add and overflow buttons light up under the pointer: repaint when that changes.
    const bool hot = buttonHot(m_addRect, pos) || buttonHot(m_overflowRect, pos);
    if (hot != m_buttonHot) {
        m_buttonHot = hot;
        update();
    }
}

bool Sidebar::buttonHot(const QRect& button, const QPoint& pos) const
{
    if (button.isNull())
        return false;
    return m_horizontal ? button.adjusted(-5, -8, 5, 8).contains(pos) : button.contains(pos);
}

void Sidebar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool select = m_pressed && !m_groupDrag;
    const int row = m_pressRow;
    m_pressRow = -1;
    m_pressed = false;
    m_groupDrag = false;
    if (select)
        Q_EMIT groupSelected(row);
}

void Sidebar::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int i = rowAt(rounded(event->position()));
    if (i < 0)
        return;
    QPointer<Sidebar> self(this);
    askRename(i);
    if (self)
        syncHoverToPointer();
}

void Sidebar::leaveEvent(QEvent*)
{
    m_hoverRow = -1;
    m_buttonHot = false;
    update();
}

void Sidebar::wheelEvent(QWheelEvent* event)
{
    if (m_horizontal)
        return;
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return;
    const int sign = delta > 0 ? 1 : -1;
    const int magnitude = std::abs(delta);
    const int steps = magnitude < 240 ? sign : sign * (magnitude / 120);
    m_scroll = std::clamp(m_scroll - kRowPitch * steps, 0, maxScroll());
    update();
    event->accept();
    syncHoverToPointer();
}

void Sidebar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    clampScroll();
    layoutButtons();
}

// ---- menus ---------------------------------------------------------------------------------------------------

QMenu* Sidebar::buildContextMenu(int row, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    applyThemedMenuStyle(menu);
    if (row >= 0 && row < groupCount()) {
        QAction* rename = menu->addAction(Lang::tr("重命名分组"));
        connect(rename, &QAction::triggered, this, [this, row] { askRename(row); });
        QAction* remove = menu->addAction(Lang::tr("删除分组"));
        remove->setEnabled(row != 0);
        connect(remove, &QAction::triggered, this, [this, row] { Q_EMIT groupDeleted(row); });
        QAction* clear = menu->addAction(Lang::tr("清空本分组图标"));
        clear->setEnabled(!m_groups->at(row).items.isEmpty());
        connect(clear, &QAction::triggered, this, [this, row] { Q_EMIT groupCleared(row); });
        menu->addSeparator();
    }
    connect(menu->addAction(Lang::tr("新建分组")), &QAction::triggered, this, [this] { askNewGroup(); });
    menu->addSeparator();
    connect(menu->addAction(Lang::tr("收纳桌面新图标")), &QAction::triggered, this, &Sidebar::desktopSyncRequested);
    return menu;
}

QMenu* Sidebar::buildOverflowMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    applyThemedMenuStyle(menu);
    for (int i = firstOverflowIndex(); i < groupCount(); ++i) {
        QAction* action = menu->addAction(displayName(i));
        action->setData(i);
        connect(action, &QAction::triggered, this, [this, i] { Q_EMIT groupSelected(i); });
    }
    return menu;
}

void Sidebar::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = buildContextMenu(rowAt(event->pos()), this);
    QPointer<Sidebar> self(this);
    menu->exec(event->globalPos());
    delete menu;
    // The menu (and any dialog or removal it led to) ran modally; the pointer may be elsewhere now.
    if (self)
        syncHoverToPointer();
}

// ---- group drag ----------------------------------------------------------------------------------------------

QMimeData* Sidebar::groupDragMimeData(int index) const
{
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kGroupMime), encodeGroupPayload(index));
    return mime;
}

QPixmap Sidebar::groupDragPixmap(int index) const
{
    const QString text = displayName(index);
    const QFontMetrics fm(stripFont());
    const QSize size(std::max(40, fm.horizontalAdvance(text) + 24), 24);
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(stripFont());
    p.setPen(currentTheme().labelText);
    p.drawText(QRect(12, 0, size.width() - 12, size.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    return pixmap;
}

void Sidebar::startGroupDrag(int index)
{
    if (index < 0 || index >= groupCount())
        return;
    m_displacedRow = index;
    m_pressed = false;
    m_groupDrag = true;
    m_moved = false;

    auto* drag = new QDrag(this);
    drag->setMimeData(groupDragMimeData(index));
    drag->setPixmap(groupDragPixmap(index));
    drag->setHotSpot(QPoint(8, 12));
    if (m_dragRunner)
        m_dragRunner(drag);
    drag->deleteLater();

    m_groupDrag = false;
    m_displacedRow = -1;
    m_dropRow = -1;
    update();
    if (m_moved) {
        m_moved = false;
        Q_EMIT groupDragFinished();
    }
}

// ---- drop target ---------------------------------------------------------------------------------------------

namespace {

// Files or places from another program, as against our own item and group drags.
bool isFileDrop(const QMimeData* mime)
{
    return mime && !mime->hasFormat(QString::fromLatin1(kItemMime)) &&
           !mime->hasFormat(QString::fromLatin1(kGroupMime)) &&
           (mime->hasUrls() || mime->hasFormat(QString::fromLatin1(kShellIdListMime)));
}

} // namespace

void Sidebar::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (!mime ||
        !(mime->hasUrls() || mime->hasFormat(QString::fromLatin1(kShellIdListMime)) ||
          mime->hasFormat(QString::fromLatin1(kItemMime)) || mime->hasFormat(QString::fromLatin1(kGroupMime)))) {
        event->ignore();
        return;
    }
    if (isFileDrop(mime)) {
        if (!acceptFileDrop(event))
            return;
    } else {
        event->acceptProposedAction();
    }
    m_dropRow = rowAt(rounded(event->position()));
    update();
}

void Sidebar::dragMoveEvent(QDragMoveEvent* event)
{
    const int i = rowAt(rounded(event->position()));
    if (i >= 0 && m_groupDrag && m_displacedRow >= 0 && i != m_displacedRow) {
        const int from = m_displacedRow;
        m_displacedRow = i;
        m_dropRow = i;
        m_moved = true;
        Q_EMIT groupDragDisplace(from, i);
        update();
    } else if (i != m_dropRow) {
        m_dropRow = i;
        update();
    }
    if (isFileDrop(event->mimeData()))
        acceptFileDrop(event);
    else
        event->acceptProposedAction();
}

void Sidebar::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dropRow = -1;
    // A group drag that left no longer reorders when it comes back.
    m_groupDrag = false;
    update();
}

bool Sidebar::dropItemPayload(const QByteArray& data, int target)
{
    QJsonObject obj;
    if (!parseJsonObject(data, obj)) {
        qWarning() << "sidebar drop: unparsable item mime, ignored";
        return false;
    }
    ItemPayload payload;
    if (decodeItemPayload(data, &payload) && itemPayloadInModel(payload, *m_groups)) {
        if (payload.group != target)
            Q_EMIT itemMoved(payload.group, payload.item, target);
        return true;
    }
    // The indexes as far as they are usable, for the log.
    int g = wholeIndex(obj.value(QLatin1StringView("g")));
    if (g >= groupCount())
        g = -1;
    const int i = g < 0 ? -1 : wholeIndex(obj.value(QLatin1StringView("i")));
    qWarning() << "sidebar drop: invalid item mime, ignored"
               << "g =" << g << "i =" << i;
    return false;
}

void Sidebar::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    const int t = rowAt(rounded(event->position()));
    bool accepted = false;
    if (t >= 0 && mime && m_groups) {
        if (mime->hasFormat(QString::fromLatin1(kGroupMime))) {
            // The reorder happened live during our own drag; a payload from elsewhere must still be sound.
            const bool ours = event->source() == this;
            accepted = ours || decodeGroupPayload(mime->data(QString::fromLatin1(kGroupMime)), groupCount(), nullptr);
            if (!accepted)
                qWarning() << "sidebar drop: invalid group mime, ignored";
        } else if (mime->hasFormat(QString::fromLatin1(kItemMime))) {
            accepted = dropItemPayload(mime->data(QString::fromLatin1(kItemMime)), t);
        } else {
            if (mime->hasUrls()) {
                // File managers drag places such as the trash as URIs: those become the same shell items a
                // shell item list would give.
                QList<QUrl> rest;
                const QList<ShellItemPair> places = shellItemsFromUrls(mime->urls(), &rest);
                if (!rest.isEmpty())
                    Q_EMIT urlsDropped(t, rest);
                if (!places.isEmpty())
                    Q_EMIT shellItemsDropped(t, places);
                accepted = !rest.isEmpty() || !places.isEmpty();
            }
            if (!accepted && mime->hasFormat(QString::fromLatin1(kShellIdListMime))) {
                const QList<ShellItemPair> items = parseShellIdList(mime->data(QString::fromLatin1(kShellIdListMime)));
                if (!items.isEmpty()) {
                    Q_EMIT shellItemsDropped(t, items);
                    accepted = true;
                }
            }
        }
    }
    if (!accepted)
        event->ignore();
    else if (isFileDrop(mime))
        acceptFileDrop(event);
    else
        event->acceptProposedAction();
    m_dropRow = -1;
    m_groupDrag = false;
    update();
}

// ---- painting ------------------------------------------------------------------------------------------------

void Sidebar::paintEvent(QPaintEvent*)
{
    if (!m_groups)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f = font();
    f.setPixelSize(13);
    p.setFont(f);
    if (m_horizontal)
        paintStrip(p);
    else
        paintList(p);
}

void Sidebar::paintList(QPainter& p)
{
    const Theme& theme = currentTheme();
    const int w = width();
    const int h = height();
    const int n = groupCount();

    const int r = std::max(0, m_cornerRadius - 1);
    QPainterPath bg;
    bg.moveTo(1, 0);
    bg.lineTo(w, 0);
    bg.lineTo(w, h - 1);
    bg.lineTo(r + 1, h - 1);
    if (m_cornerRadius >= 2)
        bg.arcTo(QRectF(1, h - 1 - 2 * r, 2 * r, 2 * r), 270, -90);
    else
        bg.lineTo(1, h - 1);
    bg.closeSubpath();
    p.fillPath(bg, theme.sidebarBackground);

    const int d = std::min(theme.dividerWidth, 4);
    const QColor divider = themeDividerColor(theme.separatorLine);
    if (d > 0 && divider.alpha() > 0)
        p.fillRect(QRect(w - d, 0, d, h), divider);

    clampScroll();
    const int L = listHeight();
    const int selected = selectedIndex();
    p.save();
    p.setClipRect(QRect(0, kTop, w, L));
    p.translate(0, -m_scroll);
    const int first = std::max(0, m_scroll / kRowPitch - 1);
    const int last = std::min(n - 1, (m_scroll + L) / kRowPitch + 1);
    const QFontMetrics fm(p.font());
    for (int i = first; i <= last; ++i) {
        const int t = kRowPitch * i + kTop;
        const QRectF row(8, t, w - 16, 30);
        if (i == m_dropRow) {
            if (theme.dropTargetBackground.alpha() > 0) {
                p.setPen(Qt::NoPen);
                p.setBrush(theme.dropTargetBackground);
                p.drawRoundedRect(row, 8, 8);
            }
            p.setPen(QPen(theme.accent, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(row, 8, 8);
        } else {
            QColor fill;
            if (i == selected)
                fill = theme.activeBackground;
            else if (i == m_hoverRow)
                fill = theme.barButtonHover;
            if (fill.isValid() && fill.alpha() > 0) {
                p.setPen(Qt::NoPen);
                p.setBrush(fill);
                p.drawRoundedRect(row, 8, 8);
            }
        }
        p.setPen(i == selected ? theme.strongText : theme.labelText);
        p.drawText(QRect(20, t, w - 62, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(displayName(i), Qt::ElideRight, w - 62));
        p.setPen(theme.hintText);
        p.drawText(QRect(8, t, w - 28, 30), Qt::AlignRight | Qt::AlignVCenter, QString::number(shownItemCount(i)));
    }
    p.restore();

    const int maxS = maxScroll();
    if (maxS > 0 && h - kTop - reserve() > 8) {
        const double track = L - 4;
        double len = double(L) * track / double(L + maxS);
        double range;
        if (len <= 24) {
            len = 24;
            range = track - 24;
        } else {
            range = track - len;
        }
        const double y = double(m_scroll) * range / double(maxS) + 12;
        p.setPen(Qt::NoPen);
        p.setBrush(theme.scrollHandle);
        p.drawRoundedRect(QRectF(w - 6, y, 3, len), 1.5, 1.5);
    }

    layoutButtons();
    if (!m_addRect.isNull()) {
        const bool hot = buttonHot(m_addRect, mapFromGlobal(QCursor::pos()));
        p.setPen(QPen(theme.addRowBorder, 1));
        p.setBrush(hot ? theme.addRowHover : theme.addRowBackground);
        p.drawRoundedRect(QRectF(m_addRect), 8, 8);
        p.setPen(theme.labelText);
        p.drawText(m_addRect, Qt::AlignCenter, Lang::tr("＋  新建分组"));
    }
}

void Sidebar::paintStrip(QPainter& p)
{
    const Theme& theme = currentTheme();
    const int w = width();
    const int h = height();
    p.fillRect(QRect(1, 0, w - 2, h), theme.sidebarBackground);
    const int d = std::min(theme.dividerWidth, 4);
    const QColor divider = themeDividerColor(theme.separatorLine);
    if (d > 0 && divider.alpha() > 0)
        p.fillRect(QRect(1, h - d, w - 2, d), divider);

    layoutButtons();
    p.setClipRect(rect());
    const int drawn = firstOverflowIndex();
    const int selected = selectedIndex();
    const QFontMetrics fm(p.font());
    int x = 8;
    for (int i = 0; i < drawn; ++i) {
        const QRect chip(x, 5, chipTextWidth(i), 30);
        x += chip.width() + 10;
        QColor textColor = theme.labelText;
        if (i == m_dropRow) {
            p.setPen(QPen(theme.accent, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            p.setBrush(theme.dropTargetBackground.alpha() > 0 ? QBrush(theme.dropTargetBackground) : QBrush());
            p.drawRoundedRect(QRectF(chip), 8, 8);
        }
        if (i == selected) {
            p.fillRect(QRect(chip.x(), 32, chip.width(), 2), theme.accent);
            textColor = theme.accent;
        }
        p.setPen(textColor);
        p.drawText(chip, Qt::AlignCenter, fm.elidedText(displayName(i), Qt::ElideRight, chip.width()));
    }

    const QPoint cursor = mapFromGlobal(QCursor::pos());
    const auto glyphColor = [&](const QRect& square) {
        return buttonHot(square, cursor) ? theme.accent : theme.labelText;
    };
    if (!m_overflowRect.isNull()) {
        const QPointF c = QRectF(m_overflowRect).center();
        p.setPen(QPen(glyphColor(m_overflowRect), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        const QPointF chevron[3] = {c + QPointF(-3.5, -1.5), c + QPointF(0, 2.5), c + QPointF(3.5, -1.5)};
        p.drawPolyline(chevron, 3);
    }
    const QPointF c = QRectF(m_addRect).center();
    p.setPen(QPen(glyphColor(m_addRect), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    p.drawLine(c + QPointF(-4, 0), c + QPointF(4, 0));
    p.drawLine(c + QPointF(0, -4), c + QPointF(0, 4));
}
