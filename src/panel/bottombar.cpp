#include "panel/bottombar.h"

#include "panel/uibtndrag.h"
#include "ui/theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>

BottomBar::BottomBar(QWidget* parent) : UiBtnBar(UiBtn::kZoneBottom, UiBtn::defaultBottomLayout(), 5, 4, parent)
{
    setFixedHeight(28);
    relayout();
}

void BottomBar::setButtonLayout(const QList<int>& ids, const Flags& visible, const Paths& icons)
{
    storeLayout(ids, visible, icons);
}

void BottomBar::setButtonIcons(const Paths& hover, const Paths& active, const Paths& night)
{
    storeIcons(hover, active, night);
}

void BottomBar::setButtonActive(int id, bool on)
{
    storeState(id, on);
}

void BottomBar::setBadgeCount(int n)
{
    n = std::max(n, 0);
    if (n == m_badge)
        return;
    m_badge = n;
    const QRect r = m_rects[UiBtn::Feedback];
    if (!r.isNull())
        update(r.adjusted(-8, -8, 8, 8));
}

void BottomBar::setCornerRadius(int r)
{
    m_cornerRadius = std::clamp(r, 0, 24);
    update();
}

QString BottomBar::badgeText() const
{
    if (m_badge <= 0 || m_rects[UiBtn::Feedback].isNull())
        return QString();
    return m_badge > 99 ? QStringLiteral("99+") : QString::number(m_badge);
}

void BottomBar::relayout()
{
    m_rects.fill(QRect());
    QList<int> shown;
    for (int id : m_layout)
        if (UiBtn::isValid(id) && m_visible[id] && !shown.contains(id))
            shown.append(id);
    const int n = int(shown.size());
    const int top = (height() - 18) / 2;
    for (int k = 0; k < n; ++k)
        m_rects[shown[k]] = QRect(width() - 30 - 26 * (n - 1 - k), top, 18, 18);
}

void BottomBar::resizeEvent(QResizeEvent* event)
{
    UiBtnBar::resizeEvent(event);
    relayout();
}

void BottomBar::leaveEvent(QEvent* event)
{
    m_pressed = -1;
    UiBtnBar::leaveEvent(event);
}

QFont BottomBar::badgeFont()
{
    QFont f(uiFontFamily());
    f.setPixelSize(8);
    f.setWeight(QFont::Bold);
    return f;
}

QRectF BottomBar::badgeRect() const
{
    const QString text = badgeText();
    if (text.isEmpty())
        return QRectF();
    // A 13 px circle about the button's top right corner; "99+" is wider than the circle, so the
    // badge stretches into a pill around it instead of letting the text run over the outline.
    const QRect r = m_rects[UiBtn::Feedback];
    const double w = std::max(13.0, QFontMetricsF(badgeFont()).horizontalAdvance(text) + 3.0);
    return QRectF(r.right() - 1 - w / 2, r.top() + 2 - 6.5, w, 13);
}

QPainterPath BottomBar::backgroundPath() const
{
    const double w = width(), h = height();
    const double r = std::max(m_cornerRadius - 1, 0);
    QPainterPath path;
    if (m_cornerRadius < 2) {
        path.addRect(0, 0, w, h);
        return path;
    }
    path.moveTo(0, 0);
    path.lineTo(w, 0);
    path.lineTo(w, h - r);
    path.arcTo(QRectF(w - 2 * r, h - 2 * r, 2 * r, 2 * r), 0, -90);
    path.lineTo(r, h);
    path.arcTo(QRectF(0, h - 2 * r, 2 * r, 2 * r), 270, -90);
    path.closeSubpath();
    return path;
}

void BottomBar::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    const QColor glyph = barGlyphColor();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(backgroundPath(), t.bottomBarBackground);

    const int thickness = std::min(t.dividerWidth, 4);
    if (thickness >= 1) {
        QColor fallback = glyph;
        fallback.setAlpha(45);
        const QColor divider = themeDividerColor(fallback);
        if (divider.alpha() > 0)
            p.fillRect(QRect(1, 0, width() - 2, thickness), divider);
    }

    for (int id : m_layout) {
        if (!UiBtn::isValid(id) || m_rects[id].isNull())
            continue;
        const QRect r = m_rects[id];
        const bool hovered = m_hovered == id;
        if (hovered) {
            p.setPen(Qt::NoPen);
            p.setBrush(t.barButtonHover);
            p.drawRoundedRect(QRectF(r.left() - 5, r.top() - 4, 28, 26), 6, 6);
        }
        const QPointF c = QRectF(r).center();
        const QString path = imagePathFor(id, false);
        if (!path.isEmpty()) {
            const QPixmap pm = loadUiBtnCustomIcon(path, 18, devicePixelRatioF());
            if (!pm.isNull()) {
                const QSizeF logical = pm.deviceIndependentSize();
                p.drawPixmap(QPointF(c.x() - logical.width() / 2, c.y() - logical.height() / 2), pm);
                continue;
            }
        }
        QColor color = hovered ? t.accent : glyph;
        if (m_state[id] && (id == UiBtn::Orientation || id == UiBtn::Pin || id == UiBtn::Obfuscate))
            color = t.accent;
        bool state = false;
        bool animate = false;
        switch (id) {
        case UiBtn::ThemeSwitch:
            state = t.isDark;
            animate = hoverAnimating(id);
            break;
        case UiBtn::Settings:
            animate = hoverAnimating(id);
            break;
        case UiBtn::Orientation:
        case UiBtn::Pin:
        case UiBtn::Monitor:
            state = m_state[id];
            break;
        case UiBtn::Obfuscate:
            state = m_state[id];
            animate = m_shieldTimer->isActive();
            break;
        default:
            break;
        }
        p.save();
        p.translate(c);
        p.scale(1.25, 1.25);
        p.translate(-c);
        drawUiBtnGlyph(&p, id, c, color, state, animate);
        p.restore();
    }

    paintDropMarker(p);

    const QString badge = badgeText();
    if (!badge.isEmpty()) {
        const QRectF box = badgeRect();
        p.setPen(QPen(Qt::white, 1.2));
        p.setBrush(QColor(0xE8, 0x11, 0x23));
        p.drawRoundedRect(box, 6.5, 6.5);
        p.setFont(badgeFont());
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, badge);
    }
}
