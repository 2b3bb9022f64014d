#include "panel/titlebaractions.h"

#include "panel/uibtndrag.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QCursor>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>

namespace {

QString gearLabel(int entry)
{
    switch (entry) {
    case 0:
        return Lang::tr("登录");
    case 1:
        return Lang::tr("设置");
    case 2:
        return Lang::tr("访问官网");
    case 3:
        return Lang::tr("检查更新");
    default:
        return Lang::tr("退出账户");
    }
}

// The entry icons, in units of pixels about the icon centre.
void drawEntryIcon(QPainter& p, int entry, const QPointF& c, const QColor& color)
{
    p.save();
    p.translate(c);
    p.setPen(QPen(color, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (entry) {
    case 0: { // person
        p.drawEllipse(QPointF(0, -2.4), 2.6, 2.6);
        QPainterPath shoulders;
        shoulders.arcMoveTo(QRectF(-4.4, -0.4, 8.8, 6.6), 0);
        shoulders.arcTo(QRectF(-4.4, -0.4, 8.8, 6.6), 0, 180);
        p.drawPath(shoulders);
        break;
    }
    case 1: { // gear
        p.drawEllipse(QPointF(0, 0), 3.2, 3.2);
        for (int k = 0; k < 7; ++k) {
            const double a = qDegreesToRadians(k * 360.0 / 7 - 90);
            const QPointF u(std::cos(a), std::sin(a));
            p.drawLine(3.2 * u, 4.9 * u);
        }
        p.drawEllipse(QPointF(0, 0), 1.1, 1.1);
        break;
    }
    case 2: { // house
        const QPointF roof[] = {{-4.4, -0.6}, {0, -4.4}, {4.4, -0.6}};
        p.drawPolyline(roof, 3);
        p.drawRect(QRectF(-3, -0.4, 6, 4.6));
        break;
    }
    case 3: // up arrow
        p.drawLine(QPointF(0, 4.2), QPointF(0, -4));
        p.drawLine(QPointF(-3, -1.2), QPointF(0, -4.2));
        p.drawLine(QPointF(0, -4.2), QPointF(3, -1.2));
        break;
    default: // exit
        p.drawLine(QPointF(-4.2, -4.2), QPointF(-1.4, -4.2));
        p.drawLine(QPointF(-4.2, -4.2), QPointF(-4.2, 4.2));
        p.drawLine(QPointF(-4.2, 4.2), QPointF(-1.4, 4.2));
        p.drawLine(QPointF(-0.8, 0), QPointF(4.4, 0));
        p.drawLine(QPointF(2.2, -2.2), QPointF(4.4, 0));
        p.drawLine(QPointF(4.4, 0), QPointF(2.2, 2.2));
        break;
    }
    p.restore();
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// GearMenuPopup

GearMenuPopup::GearMenuPopup(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    followCompositing(this, [] { return currentTheme().surface; });
    setAttribute(Qt::WA_ShowWithoutActivating);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    relayout();
}

QFont GearMenuPopup::menuFont() const
{
    QFont f(uiFontFamily());
    f.setPixelSize(12);
    return f;
}

void GearMenuPopup::relayout()
{
    const QFontMetrics fm(menuFont());
    int widest = 0;
    for (int i = 0; i < kEntryCount; ++i)
        widest = std::max(widest, fm.horizontalAdvance(gearLabel(i)));
    const int w = std::max(widest + 48, 94);
    // Signing out is offered only to a signed-in user.
    int shown = 0;
    for (int i = 0; i < kEntryCount; ++i) {
        if (i == SignOut && m_account.isEmpty()) {
            m_entries[i] = QRect();
            continue;
        }
        m_entries[i] = QRect(QPoint(8, 8 + 32 * shown), QPoint(w - 9, 8 + 32 * shown + 31));
        ++shown;
    }
    setFixedSize(w, 16 + 32 * shown);
}

void GearMenuPopup::setAccountText(const QString& text)
{
    if (m_account == text)
        return;
    m_account = text;
    relayout();
    update();
}

QString GearMenuPopup::entryLabel(int entry) const
{
    if (entry == 0 && !m_account.isEmpty())
        return m_account;
    return gearLabel(entry);
}

void GearMenuPopup::popupAt(const QPoint& globalPos)
{
    relayout(); // the labels follow the language
    // Under the button, moved in where that would run off the work area (a panel at the right edge).
    move(keptWithin(QRect(globalPos, size()), availableGeometryAt(globalPos)).topLeft());
    show();
    raise();
}

int GearMenuPopup::entryAt(const QPoint& pos) const
{
    for (int i = 0; i < kEntryCount; ++i)
        if (m_entries[i].contains(pos))
            return i;
    return -1;
}

QRect GearMenuPopup::entryRect(int entry) const
{
    return entry >= 0 && entry < kEntryCount ? m_entries[entry] : QRect();
}

void GearMenuPopup::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(t.controlBorder, 1));
    p.setBrush(t.surface);
    const qreal radius = windowCornerRadius(8.0);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

    const QFont font = menuFont();
    p.setFont(font);
    const QFontMetrics fm(font);
    for (int i = 0; i < kEntryCount; ++i) {
        const QRect r = m_entries[i];
        if (r.isNull())
            continue;
        QColor iconColor = t.hintText;
        QColor textColor = t.labelText;
        if (i == m_hovered) {
            p.setPen(Qt::NoPen);
            p.setBrush(t.barButtonHover);
            p.drawRoundedRect(QRectF(r), 6, 6);
            iconColor = textColor = t.accent;
        }
        drawEntryIcon(p, i, QPointF(r.left() + 11, r.top() + 16), iconColor);

        QString label = entryLabel(i);
        const int room = r.right() - r.left() - 26;
        if (i == 0 && !m_account.isEmpty() && fm.horizontalAdvance(label) >= room)
            label = fm.elidedText(label, Qt::ElideRight, room - 1);
        p.setPen(textColor);
        p.drawText(QRect(QPoint(r.left() + 26, r.top()), QPoint(r.right() - 2, r.bottom())),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, label);

        if (i <= 1) {
            p.setPen(QPen(t.controlBorder, 1));
            p.drawLine(QPointF(r.left() + 4, r.bottom() + 0.5), QPointF(r.right() - 4, r.bottom() + 0.5));
        }
    }
}

void GearMenuPopup::mouseMoveEvent(QMouseEvent* event)
{
    const int entry = entryAt(event->position().toPoint());
    if (entry != m_hovered) {
        m_hovered = entry;
        update();
    }
}

void GearMenuPopup::mousePressEvent(QMouseEvent* event)
{
    const int entry = entryAt(event->position().toPoint());
    if (entry < 0) {
        hide();
        return;
    }
    m_hovered = -1;
    update();
    Q_EMIT actionRequested(entry);
}

void GearMenuPopup::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void GearMenuPopup::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_hovered = -1;
    update();
    hide();
}

// ---------------------------------------------------------------------------------------------------
// TitleBarActions

TitleBarActions::TitleBarActions(QWidget* parent)
    : UiBtnBar(UiBtn::kZoneTitle, UiBtn::defaultTitleLayout(), 5, 12, parent)
{
    m_gearCloseTimer = new QTimer(this);
    m_gearCloseTimer->setObjectName(QStringLiteral("gearCloseTimer"));
    m_gearCloseTimer->setSingleShot(true);
    m_gearCloseTimer->setInterval(kGearCloseMs);
    connect(m_gearCloseTimer, &QTimer::timeout, this, &TitleBarActions::maybeCloseGearMenu);
    setFixedSize(117, 28);
    relayout();
}

void TitleBarActions::setButtonLayout(const QList<int>& ids, const Flags& visible, const Paths& icons)
{
    storeLayout(ids, visible, icons);
}

void TitleBarActions::setButtonIcons(const Paths& hover, const Paths& active, const Paths& night)
{
    storeIcons(hover, active, night);
}

void TitleBarActions::setButtonActive(int id, bool on)
{
    storeState(id, on);
}

void TitleBarActions::relayout()
{
    if (m_inRelayout)
        return;
    m_inRelayout = true;
    m_rects.fill(QRect());
    int x = 12;
    for (int id : m_layout) {
        if (!UiBtn::isValid(id) || !m_visible[id] || !m_rects[id].isNull())
            continue;
        m_rects[id] = QRect(x, 6, buttonWidth(id), 16);
        x += buttonWidth(id) + 6;
    }
    setFixedSize(x + 2, 28);
    m_inRelayout = false;
}

void TitleBarActions::resizeEvent(QResizeEvent* event)
{
    UiBtnBar::resizeEvent(event);
    relayout();
}

void TitleBarActions::buttonClicked(int id)
{
    if (id == UiBtn::Settings) {
        if (!m_popup || !m_popup->isVisible())
            showGearMenu();
        return;
    }
    Q_EMIT actionTriggered(id);
}

void TitleBarActions::hoverChanged(int previous, int current)
{
    for (int id : {previous, current})
        if (UiBtn::isValid(id) && !m_rects[id].isNull())
            update(m_rects[id].adjusted(-2, -2, 2, 2));
}

void TitleBarActions::showGearMenu()
{
    const QRect gear = m_rects[UiBtn::Settings];
    if (gear.isNull())
        return;
    if (!m_popup) {
        m_popup = new GearMenuPopup(this);
        connect(m_popup, &GearMenuPopup::actionRequested, this, [this](int action) {
            m_popup->hide();
            Q_EMIT gearMenuAction(action);
        });
    }
    Q_EMIT gearMenuAboutToShow();
    m_popup->popupAt(mapToGlobal(QPoint(gear.left(), height() + 6)));
}

void TitleBarActions::startCloseTimerIfIdle()
{
    if (m_popup && m_popup->isVisible() && !m_gearCloseTimer->isActive())
        m_gearCloseTimer->start();
}

void TitleBarActions::maybeCloseGearMenu()
{
    if (!m_popup || !m_popup->isVisible())
        return;
    const QPoint cursor = QCursor::pos();
    const QRect popupRect(m_popup->mapToGlobal(QPoint(0, 0)), m_popup->size());
    const QRect gear = m_rects[UiBtn::Settings].adjusted(-4, -4, 4, 4);
    const QRect gearGlobal(mapToGlobal(gear.topLeft()), gear.size());
    if (!popupRect.contains(cursor) && !(!m_rects[UiBtn::Settings].isNull() && gearGlobal.contains(cursor)))
        m_popup->hide();
}

void TitleBarActions::mouseMoveEvent(QMouseEvent* event)
{
    UiBtnBar::mouseMoveEvent(event);
    if (m_hovered == UiBtn::Settings) {
        m_gearCloseTimer->stop();
        if (!m_popup || !m_popup->isVisible())
            showGearMenu();
    } else {
        startCloseTimerIfIdle();
    }
}

void TitleBarActions::leaveEvent(QEvent* event)
{
    UiBtnBar::leaveEvent(event);
    startCloseTimerIfIdle();
}

void TitleBarActions::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    const QColor glyph = barGlyphColor();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (int id : m_layout) {
        if (!UiBtn::isValid(id) || m_rects[id].isNull())
            continue;
        const QRect r = m_rects[id];
        const QString path = imagePathFor(id, true);
        if (!path.isEmpty()) {
            const QPixmap pm = loadUiBtnCustomIcon(path, 16, devicePixelRatioF());
            if (!pm.isNull()) {
                const QSizeF logical = pm.deviceIndependentSize();
                const QPointF c = QRectF(r).center();
                p.drawPixmap(QPointF(c.x() - logical.width() / 2, c.y() - logical.height() / 2), pm);
                continue;
            }
        }
        QColor color = glyph;
        const bool hovered = m_hovered == id;
        if (id == UiBtn::Close && hovered)
            color = QColor(0xE8, 0x11, 0x13);
        else if ((id == UiBtn::Minimize && hovered) ||
                 (m_state[id] && (id == UiBtn::Orientation || id == UiBtn::Pin || id == UiBtn::Obfuscate)))
            color = t.accent;
        bool state = false;
        if (id == UiBtn::Orientation || id == UiBtn::Pin || id == UiBtn::Monitor || id == UiBtn::Obfuscate)
            state = m_state[id];
        else if (id == UiBtn::ThemeSwitch)
            state = t.isDark;
        bool animate = false;
        if (id == UiBtn::Obfuscate)
            animate = m_shieldTimer->isActive();
        else if (id == UiBtn::Settings || id == UiBtn::ThemeSwitch)
            animate = hoverAnimating(id);
        const QPointF c = QRectF(r).center();
        p.save();
        p.translate(c);
        p.scale(1.25, 1.25);
        p.translate(-c);
        drawUiBtnGlyph(&p, id, c, color, state, animate);
        p.restore();
    }
    paintDropMarker(p);
}
