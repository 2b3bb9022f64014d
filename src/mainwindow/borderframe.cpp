#include "mainwindow/borderframe.h"

#include "ui/theme.h"

#include <QPainter>
#include <QPainterPath>

BorderFrame::BorderFrame(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
}

void BorderFrame::setBorderColor(const QColor& color)
{
    m_color = color;
    update();
}

void BorderFrame::setCornerRadius(int radius)
{
    m_radius = qBound(0, radius, 24);
    update();
}

void BorderFrame::setDividerY(int y)
{
    m_dividerY = y;
    update();
}

void BorderFrame::paintEvent(QPaintEvent*)
{
    const Theme& theme = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    if (m_dividerY >= 0 && theme.dividerWidth > 0) {
        QColor line = themeDividerColor(theme.separatorLine);
        p.setPen(QPen(line, theme.dividerWidth));
        const double y = m_dividerY + 0.5;
        p.drawLine(QPointF(0, y), QPointF(width(), y));
    }
    p.setPen(QPen(m_color.isValid() ? m_color : theme.border, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
}
