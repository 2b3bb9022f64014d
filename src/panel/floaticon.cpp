#include "panel/floaticon.h"

#include "ui/lang.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include <cmath>

FloatIcon::FloatIcon(const QPixmap& pixmap, const QString& name, const QPoint& position, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_source(pixmap)
{
    setAttribute(Qt::WA_TranslucentBackground);
    followCompositing(this, [] { return QColor(Qt::white); });
    setFixedSize(kSide, kSide);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    // The item's name as stored; it is shown in the language of the moment, as the grid shows it.
    auto retitle = [this, name] {
        setWindowTitle(Lang::tr(name));
        setToolTip(Lang::tr(name));
    };
    retitle();
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, retitle);

    qreal ratio = 0;
    if (!position.isNull()) {
        move(position);
        if (QScreen* s = QGuiApplication::screenAt(position))
            ratio = s->devicePixelRatio();
    } else if (QScreen* s = screen()) {
        ratio = s->devicePixelRatio();
    }
    if (ratio <= 0)
        ratio = qApp->devicePixelRatio();
    updateScaledPixmap(ratio);
}

void FloatIcon::updateScaledPixmap(qreal ratio)
{
    m_ratio = ratio > 0 ? ratio : 1.0;
    m_scaled = QPixmap();
    if (m_source.isNull()) {
        update();
        return;
    }
    const int side = std::max(1, int(std::lround(kIconSide * m_ratio)));
    if (m_source.width() == side && m_source.height() == side) {
        m_scaled = m_source;
    } else {
        const bool shrinking = m_source.width() >= side && m_source.height() >= side;
        m_scaled = m_source.scaled(side, side, Qt::KeepAspectRatio,
                                   shrinking ? Qt::SmoothTransformation : Qt::FastTransformation);
    }
    m_scaled.setDevicePixelRatio(m_ratio);
    update();
}

void FloatIcon::followScreenRatio()
{
    const QScreen* s = screen();
    const qreal ratio = s ? s->devicePixelRatio() : 1.0;
    if (ratio > 0 && !qFuzzyCompare(ratio, m_ratio))
        updateScaledPixmap(ratio);
}

bool FloatIcon::event(QEvent* event)
{
    // Qt 6.4 sends no event of its own when only the pixel ratio changes; a change of screen arrives as this
    // internal event (and moves as moveEvent).
    if (event->type() == QEvent::ScreenChangeInternal)
        followScreenRatio();
    return QWidget::event(event);
}

void FloatIcon::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    followScreenRatio();
}

void FloatIcon::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(1.5, 1.5, width() - 3, height() - 3);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(tile);
    p.setPen(QPen(currentTheme().accent, m_hovered ? 2.0 : 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(tile);
    if (m_scaled.isNull())
        return;
    const int w = int(std::lround(m_scaled.width() / m_scaled.devicePixelRatio()));
    const int h = int(std::lround(m_scaled.height() / m_scaled.devicePixelRatio()));
    p.drawPixmap(QRect((width() - w) / 2, (height() - h) / 2, w, h), m_scaled);
}

void FloatIcon::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_pressOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void FloatIcon::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed)
        return;
    const QPoint topLeft = event->globalPosition().toPoint() - m_pressOffset;
    if (!m_dragged) {
        if ((topLeft - frameGeometry().topLeft()).manhattanLength() <= kDragThreshold)
            return;
        m_dragged = true;
    }
    move(topLeft);
}

void FloatIcon::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool wasClick = m_pressed && !m_dragged && !m_secondPress;
    m_pressed = false;
    m_dragged = false;
    m_secondPress = false;
    if (wasClick && m_singleClickOpen)
        Q_EMIT openRequested();
}

void FloatIcon::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The second press may still start a drag; it never opens a second time. In single-click mode the
    // first click already opened.
    mousePressEvent(event);
    m_secondPress = true;
    if (!m_singleClickOpen)
        Q_EMIT openRequested();
}

void FloatIcon::enterEvent(QEnterEvent*)
{
    m_hovered = true;
    update();
}

void FloatIcon::leaveEvent(QEvent*)
{
    m_hovered = false;
    update();
}

QMenu* FloatIcon::buildMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    applyThemedMenuStyle(menu);
    connect(menu->addAction(Lang::tr("打开")), &QAction::triggered, this, &FloatIcon::openRequested);
    menu->addSeparator();
    connect(menu->addAction(Lang::tr("取消悬浮")), &QAction::triggered, this, &FloatIcon::removeRequested);
    connect(menu->addAction(Lang::tr("取消所有悬浮")), &QAction::triggered, this, &FloatIcon::removeAllRequested);
    return menu;
}

void FloatIcon::contextMenuEvent(QContextMenuEvent* event)
{
    // The owner may delete this icon from a slot of the chosen entry, and with it the menu.
    QPointer<QMenu> menu = buildMenu(this);
    menu->exec(event->globalPos());
    delete menu.data();
}
