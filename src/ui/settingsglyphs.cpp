// The vector glyphs of the settings dialog: section glyphs, navigation glyphs and the backup glyph.
#include "ui/settingskit.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

QPen strokePen(const QColor& colour, qreal width, Qt::PenCapStyle cap, Qt::PenJoinStyle join)
{
    return QPen(colour, width, Qt::SolidLine, cap, join);
}

// Section glyphs in coordinates about the centre (y grows downwards).
void sectionGlyph(QPainter& p, const QColor& colour, int glyph)
{
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case 1: { // posts under an arch
        QPainterPath path(QPointF(-4, 4));
        path.lineTo(-4, -1);
        path.arcTo(QRectF(-4, -4, 8, 6), 180, 180);
        path.lineTo(4, 4);
        p.drawPath(path);
        p.drawLine(QPointF(-2.2, 4), QPointF(-2.2, 1.8));
        p.drawLine(QPointF(2.2, 4), QPointF(2.2, 1.8));
        break;
    }
    case 2: { // power ring
        QPainterPath ring;
        ring.arcMoveTo(QRectF(-4, -4, 8, 8), 300);
        ring.arcTo(QRectF(-4, -4, 8, 8), 300, 300);
        p.drawPath(ring);
        p.drawLine(QPointF(0, -5.2), QPointF(0, -0.6));
        break;
    }
    case 3: { // mouse pointer
        const QPointF pts[] = {{-3.5, -5.5}, {-3.5, 4.5}, {-1.0, 2.2}, {0.8, 6.0}, {2.4, 5.2}, {0.7, 1.5}, {4.0, 1.5}};
        p.drawPolygon(pts, 7);
        break;
    }
    case 4: { // theme: a circle with its right half filled
        p.drawEllipse(QPointF(0, 0), 4.2, 4.2);
        QPainterPath half;
        half.moveTo(0, -4.2);
        half.arcTo(QRectF(-4.2, -4.2, 8.4, 8.4), 90, -180);
        half.closeSubpath();
        p.setBrush(colour);
        p.drawPath(half);
        break;
    }
    case 5: // grid of four
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                p.drawRoundedRect(QRectF(c == 0 ? -4.6 : 0.7, r == 0 ? -4.6 : 0.7, 3.9, 3.9), 1.1, 1.1);
        break;
    case 6: // adjust: two lines with knobs
        p.drawLine(QPointF(-4.6, -2.2), QPointF(4.6, -2.2));
        p.drawLine(QPointF(-4.6, 2.2), QPointF(4.6, 2.2));
        p.setBrush(colour);
        p.drawEllipse(QPointF(1.8, -2.2), 1.7, 1.7);
        p.drawEllipse(QPointF(-1.8, 2.2), 1.7, 1.7);
        break;
    case 7: { // database drum
        const QRectF top(-4.2, -5, 8.4, 3.2);
        p.drawEllipse(top);
        p.drawLine(QPointF(-4.2, -3.4), QPointF(-4.2, 3.4));
        p.drawLine(QPointF(4.2, -3.4), QPointF(4.2, 3.4));
        for (qreal y : {-0.8, 1.8}) {
            QPainterPath lower;
            const QRectF r(-4.2, y - 1.6, 8.4, 3.2);
            lower.arcMoveTo(r, 180);
            lower.arcTo(r, 180, 180);
            p.drawPath(lower);
        }
        break;
    }
    case 8: // info
        p.drawEllipse(QPointF(0, 0), 4.6, 4.6);
        p.drawLine(QPointF(0, -0.6), QPointF(0, 2.6));
        p.setBrush(colour);
        p.drawEllipse(QPointF(0, -2.4), 0.8, 0.8);
        break;
    case 9: // timer
        p.drawEllipse(QPointF(0, 0.6), 4.8, 4.8);
        p.drawLine(QPointF(0, 0.6), QPointF(0, -2.2));
        p.drawLine(QPointF(0, 0.6), QPointF(2.2, 1.8));
        p.drawLine(QPointF(-1.4, -5.6), QPointF(1.4, -5.6));
        p.drawLine(QPointF(3.8, -3.6), QPointF(4.8, -4.6));
        break;
    case 10: { // copy
        p.drawRoundedRect(QRectF(-1.8, -5, 6.6, 8.6), 1, 1);
        const QPointF doc[] = {{-4.8, -3.4}, {1, -3.4}, {2.8, -1.6}, {2.8, 4.8}, {-4.8, 4.8}};
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(doc, 5);
        p.drawLine(QPointF(1, -3.4), QPointF(1, -1.6));
        p.drawLine(QPointF(1, -1.6), QPointF(2.8, -1.6));
        break;
    }
    default: // window
        p.drawRoundedRect(QRectF(-4.8, -3.8, 9.6, 7.6), 1.6, 1.6);
        p.drawLine(QPointF(-4.8, -1.5), QPointF(4.8, -1.5));
        break;
    }
}

} // namespace

void paintGlyph(QPainter& painter, const QPointF& centre, const QColor& colour, int glyph)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(centre);
    painter.setPen(strokePen(colour, 1.3, Qt::RoundCap, Qt::RoundJoin));
    sectionGlyph(painter, colour, glyph);
    painter.restore();
}

void paintBackupGlyph(QPainter& painter, const QPointF& centre, const QColor& colour, int variant)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(centre);
    painter.setPen(strokePen(colour, 1.3, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    if (variant == 1) {
        sectionGlyph(painter, colour, 7);
    } else {
        // A tray with an arrow coming down into it.
        QPainterPath tray(QPointF(-5.5, 1.5));
        tray.lineTo(-5.5, 5);
        tray.lineTo(5.5, 5);
        tray.lineTo(5.5, 1.5);
        painter.drawPath(tray);
        painter.drawLine(QPointF(0, -5.5), QPointF(0, 2));
        QPainterPath head(QPointF(-2.6, -0.6));
        head.lineTo(0, 2);
        head.lineTo(2.6, -0.6);
        painter.drawPath(head);
    }
    painter.restore();
}

void paintNavGlyph(QPainter& painter, int page, const QPointF& centre, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(centre);
    painter.setPen(strokePen(colour, 1.3, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(Qt::NoBrush);
    switch (page) {
    case 0: { // gear
        QPainterPath gear;
        gear.setFillRule(Qt::OddEvenFill);
        gear.addEllipse(QPointF(0, 0), 4.6, 4.6);
        gear.addEllipse(QPointF(0, 0), 2, 2);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawPath(gear);
        for (int i = 0; i < 8; ++i) {
            painter.save();
            painter.rotate(45.0 * i);
            painter.drawRect(QRectF(-1.0, -6.4, 2.0, 2.4)); // outer edge at 6.4
            painter.restore();
        }
        break;
    }
    case 1: // palette
        painter.drawEllipse(QRectF(-5.9, -5.4, 11.8, 10.8));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        for (const QPointF& dot : {QPointF(-2.4, -1.4), QPointF(1.2, -2.4), QPointF(2.6, 1.0)})
            painter.drawEllipse(dot, 1.15, 1.15);
        break;
    case 3: // icons
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                painter.drawRoundedRect(QRectF(c == 0 ? -5.2 : 0.8, r == 0 ? -5.2 : 0.8, 4.4, 4.4), 1, 1);
        break;
    case 5: { // shield
        QPainterPath shield(QPointF(0, -6));
        shield.lineTo(5.2, -3.8);
        shield.lineTo(5.2, 0.5);
        shield.quadTo(QPointF(5.2, 4.2), QPointF(0, 6));
        shield.quadTo(QPointF(-5.2, 4.2), QPointF(-5.2, 0.5));
        shield.lineTo(-5.2, -3.8);
        shield.closeSubpath();
        painter.drawPath(shield);
        break;
    }
    case 6:
        painter.restore();
        paintBackupGlyph(painter, centre, colour, 0);
        return;
    default: // info
        painter.setPen(strokePen(colour, 1.4, Qt::RoundCap, Qt::BevelJoin));
        painter.drawEllipse(QPointF(0, 0), 6, 6);
        painter.drawLine(QPointF(0, -1.2), QPointF(0, 2.6));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(0, -3.4), 0.9, 0.9);
        break;
    }
    painter.restore();
}
