#include "settings/sliderwidget.h"

#include "ui/settingskit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

SliderWidget::SliderWidget(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QSize SliderWidget::sizeHint() const
{
    return {220, 28};
}

void SliderWidget::setRange(int minimum, int maximum)
{
    m_min = minimum;
    m_max = maximum;
    m_value = std::max(m_min, std::min(m_max, m_value));
}

void SliderWidget::setValue(int value, bool notify)
{
    const int v = std::max(m_min, std::min(m_max, value));
    if (v == m_value && !notify)
        return;
    m_value = v;
    update();
    if (notify)
        emit valueChanged(v);
}

void SliderWidget::setKind(int kind)
{
    m_kind = kind;
    update();
}

QString SliderWidget::valueText() const
{
    const QString n = QString::number(m_value);
    switch (m_kind) {
    case NoText:
        return {};
    case Pixels:
        return n + QStringLiteral("px");
    case Degrees:
        return n + QStringLiteral("°");
    case Megabytes:
        return n + QStringLiteral(" MB");
    case Seconds:
        return n + QStringLiteral(" s");
    case Fps:
        return n + QStringLiteral(" fps");
    default:
        return n + QStringLiteral("%");
    }
}

int SliderWidget::span() const
{
    return width() - 24 - (m_kind == Megabytes ? 64 : 52);
}

QRect SliderWidget::trackRect() const
{
    return QRect(12, height() / 2 - 2, span(), 4);
}

int SliderWidget::valueToX() const
{
    const double f = m_max > m_min ? double(m_value - m_min) / (m_max - m_min) : 0.0;
    return 12 + int(std::round(span() * f));
}

int SliderWidget::xToValue(int x) const
{
    // The whole track, 12 .. 12 + span, maps onto the range, so both ends can be reached.
    const int s = span();
    const int t = std::clamp(x, 12, std::max(12, s + 12)) - 12;
    const long v = std::lround(double(t) * (m_max - m_min) / (s > 0 ? s : 1));
    return int(std::clamp<long>(m_min + v, m_min, std::max(m_min, m_max)));
}

void SliderWidget::pressAt(int x)
{
    m_value = std::max(m_min, std::min(m_max, xToValue(x)));
    update();
    emit valueChanged(m_value);
}

void SliderWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_dragging = true;
    pressAt(int(std::round(event->position().x())));
}

void SliderWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        pressAt(int(std::round(event->position().x())));
}

void SliderWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

void SliderWidget::keyPressEvent(QKeyEvent* event)
{
    const int page = std::max(1, (m_max - m_min) / 10);
    int target = m_value;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        target = m_value - 1;
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        target = m_value + 1;
        break;
    case Qt::Key_PageDown:
        target = m_value - page;
        break;
    case Qt::Key_PageUp:
        target = m_value + page;
        break;
    case Qt::Key_Home:
        target = m_min;
        break;
    case Qt::Key_End:
        target = m_max;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (std::max(m_min, std::min(m_max, target)) != m_value)
        setValue(target, true);
}

void SliderWidget::enterEvent(QEnterEvent*)
{
    m_hovered = true;
    update();
}

void SliderWidget::leaveEvent(QEvent*)
{
    m_hovered = false;
    update();
}

void SliderWidget::paintEvent(QPaintEvent*)
{
    const DialogPalette pal = dialogRoles();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const int s = span();
    const int x0 = valueToX();
    const qreal cy = height() * 0.5;
    const int top = height() / 2 - 2;
    p.setPen(Qt::NoPen);
    p.setBrush(pal.trackFill);
    p.drawRoundedRect(QRectF(12, top, s, 4), 2, 2);
    if (x0 > 14) {
        p.setBrush(pal.accent);
        p.drawRoundedRect(QRectF(12, top, x0 - 12, 4), 2, 2);
    }
    const bool active = m_dragging || m_hovered;
    if (active) {
        QColor halo = pal.accent;
        halo.setAlpha(60);
        p.setBrush(halo);
        p.drawEllipse(QPointF(x0, cy), 12, 12);
    }
    p.setBrush(pal.accent);
    const qreal r = active ? 7 : 6;
    p.drawEllipse(QPointF(x0, cy), r, r);
    if (m_kind != NoText) {
        QFont f = font();
        f.setPixelSize(12);
        p.setFont(f);
        p.setPen(pal.secondaryText);
        p.drawText(QRect(QPoint(s + 19, 0), QPoint(std::max(width() - 1, s + 18), height() - 1)),
                   Qt::AlignLeft | Qt::AlignVCenter, valueText());
    }
}

AngleDial::AngleDial(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

QSize AngleDial::sizeHint() const
{
    return {46, 46};
}

void AngleDial::angleAt(const QPointF& point)
{
    const double dx = point.x() - width() * 0.5;
    const double dy = point.y() - height() * 0.5;
    if (std::abs(dx) <= 1e-12 && std::abs(dy) <= 1e-12)
        return;
    const long a = std::lround(std::atan2(dy, dx) * 57.29577951308232);
    const int angle = int(((a % 360) + 360) % 360);
    if (angle == m_angle)
        return;
    m_angle = angle;
    emit angleChanged(angle);
    update();
}

void AngleDial::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_dragging = true;
    angleAt(QPointF(event->position().toPoint()));
}

void AngleDial::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        angleAt(QPointF(event->position().toPoint()));
}

void AngleDial::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

void AngleDial::paintEvent(QPaintEvent*)
{
    const DialogPalette pal = dialogRoles();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(width() * 0.5, height() * 0.5);
    const qreal r = std::min(width(), height()) * 0.5 - 2;
    const qreal ring = r - 1.5;
    const QRectF circle(c.x() - ring, c.y() - ring, ring * 2, ring * 2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal.trackFill, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawEllipse(circle);
    if (m_angle >= 1) {
        p.setPen(QPen(pal.accent, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(circle, 0, -m_angle * 16);
    }
    const double theta = m_angle * M_PI / 180.0;
    p.setPen(QPen(pal.accent, 2, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(c, c + QPointF((r - 4) * std::cos(theta), (r - 4) * std::sin(theta)));
    p.setPen(Qt::NoPen);
    p.setBrush(pal.accent);
    p.drawEllipse(c, 2.4, 2.4);
    p.setFont(pixelFont(QStringLiteral("Microsoft YaHei UI"), 10, 400));
    p.setPen(pal.text);
    p.drawText(QRectF(c.x() - 22, c.y() - 8, 44, 16), Qt::AlignCenter, QStringLiteral("%1°").arg(m_angle));
}
