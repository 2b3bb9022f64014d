#include "panel/uibtnbar.h"

#include "panel/uibtndrag.h"
#include "ui/namedtimer.h"
#include "ui/theme.h"

#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {

QPoint rounded(const QPointF& p)
{
    return QPoint(qRound(p.x()), qRound(p.y()));
}

} // namespace

UiBtnBar::UiBtnBar(int zone, QList<int> defaultLayout, int hitMarginX, int hitMarginY, QWidget* parent)
    : QWidget(parent), m_zone(zone), m_hitMarginX(hitMarginX), m_hitMarginY(hitMarginY),
      m_layout(std::move(defaultLayout))
{
    m_visible.fill(true);
    m_holdTimer = ktr::makeNamedTimer(this, "holdTimer", kHoldMs, true);
    m_blinkTimer = ktr::makeNamedTimer(this, "blinkTimer", 500, false);
    m_shieldTimer = ktr::makeNamedTimer(this, "shieldTimer", 50, false);
    m_hoverTimer = ktr::makeNamedTimer(this, "hoverTimer", 40, false);
    connect(m_holdTimer, &QTimer::timeout, this, &UiBtnBar::onHoldTimeout);
    connect(m_blinkTimer, &QTimer::timeout, this, [this] {
        if (!m_state[UiBtn::Monitor] || m_rects[UiBtn::Monitor].isNull())
            m_blinkTimer->stop();
        else
            update(m_rects[UiBtn::Monitor].adjusted(-4, -4, 4, 4));
    });
    connect(m_shieldTimer, &QTimer::timeout, this, [this] {
        if (!shieldAnimating())
            m_shieldTimer->stop();
        else
            update(m_rects[UiBtn::Obfuscate].adjusted(-4, -4, 4, 4));
    });
    connect(m_hoverTimer, &QTimer::timeout, this, [this] {
        if ((m_hovered != UiBtn::Settings && m_hovered != UiBtn::ThemeSwitch) || m_rects[m_hovered].isNull())
            m_hoverTimer->stop();
        else
            update(m_rects[m_hovered].adjusted(-4, -4, 4, 4));
    });

    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAcceptDrops(true);
    m_dragRunner = [](QDrag* drag) { drag->exec(Qt::MoveAction); };
}

QRect UiBtnBar::buttonRect(int id) const
{
    return UiBtn::isValid(id) ? m_rects[id] : QRect();
}

int UiBtnBar::buttonAt(const QPointF& pos) const
{
    const QPoint p = rounded(pos);
    for (int id = 0; id < UiBtn::kCount; ++id) {
        const QRect& r = m_rects[id];
        if (!r.isNull() && r.adjusted(-m_hitMarginX, -m_hitMarginY, m_hitMarginX, m_hitMarginY).contains(p))
            return id;
    }
    return -1;
}

int UiBtnBar::dropIndexAt(const QPoint& pos) const
{
    int count = 0;
    for (int id : m_layout) {
        if (!UiBtn::isValid(id) || !m_visible[id] || m_rects[id].isNull())
            continue;
        const QRect& r = m_rects[id];
        if ((r.left() + r.right()) / 2 > pos.x())
            break;
        ++count;
    }
    return count;
}

bool UiBtnBar::storeLayout(const QList<int>& ids, const Flags& visible, const Paths& icons)
{
    if (ids == m_layout && visible == m_visible && icons == m_icons)
        return false;
    m_layout = ids;
    m_visible = visible;
    m_icons = icons;
    m_hovered = -1;
    m_pressed = -1;
    m_holdTimer->stop();
    relayout();
    updateTimers();
    update();
    return true;
}

bool UiBtnBar::storeIcons(const Paths& hover, const Paths& active, const Paths& night)
{
    if (hover == m_iconsHover && active == m_iconsActive && night == m_iconsNight)
        return false;
    m_iconsHover = hover;
    m_iconsActive = active;
    m_iconsNight = night;
    update();
    return true;
}

bool UiBtnBar::storeState(int id, bool on)
{
    if (!UiBtn::isValid(id) || m_state[id] == on)
        return false;
    m_state[id] = on;
    updateTimers();
    if (!m_rects[id].isNull())
        update(m_rects[id].adjusted(-2, -2, 2, 2));
    return true;
}

bool UiBtnBar::hoverAnimating(int id) const
{
    return id == m_hovered && m_hoverTimer->isActive();
}

bool UiBtnBar::shieldAnimating() const
{
    const int id = UiBtn::Obfuscate;
    return !m_rects[id].isNull() && (m_state[id] || m_hovered == id);
}

void UiBtnBar::updateTimers()
{
    auto run = [](QTimer* t, bool on) {
        if (!on)
            t->stop();
        else if (!t->isActive())
            t->start();
    };
    run(m_hoverTimer,
        (m_hovered == UiBtn::Settings || m_hovered == UiBtn::ThemeSwitch) && !m_rects[m_hovered].isNull());
    run(m_blinkTimer, m_state[UiBtn::Monitor] && !m_rects[UiBtn::Monitor].isNull());
    run(m_shieldTimer, shieldAnimating());
}

QString UiBtnBar::imagePathFor(int id, bool activeOnPress) const
{
    const bool active = m_state[id] || (activeOnPress && m_pressed == id);
    if (active && !m_iconsActive[id].isEmpty())
        return m_iconsActive[id];
    if (m_hovered == id && !m_iconsHover[id].isEmpty())
        return m_iconsHover[id];
    if (currentTheme().isDark && !m_iconsNight[id].isEmpty())
        return m_iconsNight[id];
    return m_icons[id];
}

void UiBtnBar::paintDropMarker(QPainter& p) const
{
    if (!m_dragOver || m_dropIndex < 0)
        return;
    QList<QRect> shown;
    for (int id : m_layout)
        if (UiBtn::isValid(id) && m_visible[id] && !m_rects[id].isNull())
            shown.append(m_rects[id]);
    auto centre = [](const QRect& r) { return r.left() + r.width() / 2.0; };
    double x;
    if (shown.isEmpty())
        x = emptyMarkerX();
    else if (m_dropIndex == 0)
        x = centre(shown.first()) - shown.first().width() / 2.0 - 3;
    else if (m_dropIndex < shown.size())
        x = (centre(shown[m_dropIndex - 1]) + centre(shown[m_dropIndex])) / 2.0;
    else
        x = centre(shown.last()) + shown.last().width() / 2.0 + 3;
    p.fillRect(QRectF(x - 1.5, 4, 3, height() - 8), currentTheme().accent);
}

void UiBtnBar::setHovered(int id)
{
    const int previous = m_hovered;
    m_hovered = id;
    if (previous != id) {
        updateTimers();
        hoverChanged(previous, id);
    }
}

void UiBtnBar::mouseMoveEvent(QMouseEvent* event)
{
    const int hit = buttonAt(event->position());
    const QString tip = uiBtnName(hit);
    if (toolTip() != tip)
        setToolTip(tip);
    setHovered(hit);
}

void UiBtnBar::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    setToolTip(QString());
    m_hovered = -1;
    updateTimers();
    update();
}

void UiBtnBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = buttonAt(event->position());
    if (m_pressed >= 0) {
        m_holdTimer->start();
        update(m_rects[m_pressed].adjusted(-4, -4, 4, 4));
    }
}

void UiBtnBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_holdTimer->stop();
    const int pressed = m_pressed;
    m_pressed = -1;
    if (pressed >= 0) {
        update(m_rects[pressed].adjusted(-4, -4, 4, 4));
        if (buttonAt(event->position()) == pressed)
            buttonClicked(pressed);
    }
}

void UiBtnBar::onHoldTimeout()
{
    const int id = m_pressed;
    if (id < 0)
        return;
    m_pressed = -1;
    m_hovered = -1;
    updateTimers();
    update();
    startButtonDrag(id);
}

void UiBtnBar::startButtonDrag(int id)
{
    if (!UiBtn::isValid(id))
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(makeUiBtnMimeData(id, m_zone));
    const QPixmap pm = uiBtnDragPixmap(id, m_state[UiBtn::Pin], barGlyphColor(), devicePixelRatioF());
    drag->setPixmap(pm);
    drag->setHotSpot(QPoint(11, 11));
    m_dragRunner(drag);
    drag->deleteLater();
}

void UiBtnBar::dragEnterEvent(QDragEnterEvent* event)
{
    if (!hasUiBtnPayload(event->mimeData()))
        return;
    event->acceptProposedAction();
    m_dragOver = true;
    m_dropIndex = dropIndexAt(event->position().toPoint());
    update();
}

void UiBtnBar::dragMoveEvent(QDragMoveEvent* event)
{
    if (!hasUiBtnPayload(event->mimeData()))
        return;
    event->acceptProposedAction();
    const int index = dropIndexAt(event->position().toPoint());
    if (index != m_dropIndex || !m_dragOver) {
        m_dragOver = true;
        m_dropIndex = index;
        update();
    }
}

void UiBtnBar::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dragOver = false;
    m_dropIndex = -1;
    update();
}

void UiBtnBar::dropEvent(QDropEvent* event)
{
    if (hasUiBtnPayload(event->mimeData())) {
        const int ub = readUiBtnPayload(event->mimeData());
        // The index where the button lands is where it is let go.
        const int index = dropIndexAt(event->position().toPoint());
        if (ub >= 0)
            Q_EMIT uibtnDropped(ub, m_zone, index);
        event->acceptProposedAction();
    }
    m_dragOver = false;
    m_dropIndex = -1;
    update();
}
