// The icon grid's input: pointer, wheel and keys, hover from the real pointer, drags out and drops in.
#include "panel/icongrid.h"

#include "panel/itempayload.h"
#include "ui/lang.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

namespace {

constexpr int kDragDistance = 8;

} // namespace

void IconGrid::setPointerSourceForTesting(PointerSource source)
{
    m_pointerSource = std::move(source);
}

void IconGrid::syncHoverToPointer()
{
    // Asking where the pointer is costs a display round trip; a grid not on screen has nothing under it.
    if (!m_pointerSource && !isVisible())
        return;
    const QPoint global = m_pointerSource ? m_pointerSource() : QCursor::pos();
    const QPoint local = mapFromGlobal(global);
    if (rect().contains(local))
        updateHover(local);
    else
        updateHover(QPoint(-1, -1));
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
    m_releaseActivated = -1;
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
        m_releaseActivated = old;
        QPointer<IconGrid> self(this);
        emit itemActivated(item ? m_visible.at(old) : -1);
        if (self)
            syncHoverToPointer();
        return;
    }
    m_holdTimer->stop();
    m_pressed = false;
    m_pressIndex = -1;
}

void IconGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int p = hitTest(event->position().toPoint());
    // The double click's first release already launched this item in single-click mode.
    const bool launched = m_singleClickOpen && p >= 0 && p == m_releaseActivated;
    m_releaseActivated = -1;
    if (launched)
        return;
    QPointer<IconGrid> self(this);
    if (p < 0)
        emit blankDoubleClicked();
    else if (itemAtPosition(p))
        emit itemActivated(m_visible.at(p));
    if (self)
        syncHoverToPointer();
}

void IconGrid::contextMenuEvent(QContextMenuEvent* event)
{
    const int p = hitTest(event->pos());
    if (p < 0 || !itemAtPosition(p))
        return;
    QPointer<IconGrid> self(this);
    emit itemMenuRequested(m_visible.at(p), event->globalPos());
    // The menu ran modally inside that signal; the pointer may now be anywhere.
    if (self)
        syncHoverToPointer();
}

void IconGrid::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    syncHoverToPointer();
}

bool IconGrid::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    // Without labels under the icons the name is only shown as a tooltip.
    auto* help = static_cast<QHelpEvent*>(event);
    const int p = m_showNames ? -1 : hitTest(help->pos());
    const Item* item = p >= 0 ? itemAtPosition(p) : nullptr;
    if (!item) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), Lang::tr(item->name), this, cellRect(p).translated(0, -m_scroll));
    return true;
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
    m_scroll = std::clamp(m_scroll - steps * cellGeometry().scrollStep(), 0, maxScroll());
    update();
    event->accept();
    syncHoverToPointer();
    scheduleIconCheck();
}

void IconGrid::keyPressEvent(QKeyEvent* event)
{
    ensureVisibleList();
    const int count = int(m_visible.size());
    if (count <= 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const GridGeometry geo = cellGeometry();
    const int n = geo.perRow();
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
    const QRect r = geo.cellRect(target);
    const int step = geo.scrollStep();
    const int m = geo.topMargin();
    if (r.top() - m_scroll < m) {
        const int k = std::max(1, (m + m_scroll - r.top() + step - 1) / step);
        m_scroll = std::max(0, m_scroll - k * step);
    } else if (r.bottom() - m_scroll > height()) {
        const int k = std::max(1, (r.bottom() - m_scroll - height() + step - 1) / step);
        m_scroll = std::min(maxScroll(), m_scroll + k * step);
    }
    update();
    scheduleIconCheck();
}

void IconGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    clampScroll();
    update();
    scheduleIconCheck();
}

void IconGrid::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
    refreshIcons();
    scheduleIconCheck();
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
            pix = m_custom.icon(item->customIcon);
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
        if (!acceptFileDrop(event))
            return;
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
        acceptFileDrop(event);
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
        if (acceptFileDrop(event)) {
            if (!places.isEmpty())
                emit shellItemsDropped(places);
            if (!rest.isEmpty())
                emit urlsDropped(rest);
        }
    } else if (mime->hasFormat(QString::fromLatin1(kShellIdListMime))) {
        const QList<ShellItemPair> items = parseShellIdList(mime->data(QString::fromLatin1(kShellIdListMime)));
        if (!items.isEmpty() && acceptFileDrop(event))
            emit shellItemsDropped(items);
    }
    m_dragActive = false;
    m_dropIndex = -1;
    update();
}
