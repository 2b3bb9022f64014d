#include "mainwindow/borderframe.h"

#include "ui/theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

BorderFrame::BorderFrame(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
}

void BorderFrame::setBorderColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void BorderFrame::setCornerRadius(int radius)
{
    radius = std::clamp(radius, 0, 24);
    if (radius == m_radius)
        return;
    m_radius = radius;
    update();
}

void BorderFrame::setDividerY(int y)
{
    if (y == m_dividerY)
        return;
    m_dividerY = y;
    update();
}

void BorderFrame::paintEvent(QPaintEvent*)
{
    const Theme& theme = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(m_color.isValid() ? m_color : theme.border, 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), m_radius, m_radius);

    // The line under the title strip, inside the border on both sides.
    const int lineWidth = std::min(theme.dividerWidth, 4);
    if (lineWidth <= 0)
        return;
    QColor fallback = theme.titleBarForeground;
    if (!theme.dividerOverride)
        fallback.setAlpha(45);
    const QColor line = themeDividerColor(fallback);
    if (line.alpha() <= 0)
        return;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(1, m_dividerY, width() - 2, lineWidth), line);
}
