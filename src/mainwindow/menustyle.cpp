#include "mainwindow/menustyle.h"

#include "ui/theme.h"
#include "ui/uibtn.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QString menuStyleSheet()
{
    return themedMenuStyleSheet();
}

void applyMenuStyle(QMenu* menu)
{
    applyThemedMenuStyle(menu);
}

namespace {

QPolygonF points(std::initializer_list<QPointF> list)
{
    return QPolygonF(QList<QPointF>(list));
}

void eye(QPainter* p)
{
    QPainterPath path;
    path.moveTo(2.4, 8);
    path.quadTo(8, 3.2, 13.6, 8);
    path.quadTo(8, 12.8, 2.4, 8);
    p->drawPath(path);
    p->drawEllipse(QRectF(6.2, 6.2, 3.6, 3.6));
}

} // namespace

void menuGlyph(QPainter* p, int kind, const QColor& colour)
{
    p->save();
    QPen pen(colour, 1.15, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p->setPen(pen);
    p->setBrush(Qt::NoBrush);
    switch (kind) {
    case 1: {
        QPainterPath path;
        path.moveTo(8, 2.6);
        path.lineTo(12.8, 4.3);
        path.lineTo(12.8, 8.1);
        path.quadTo(12.8, 11.5, 8, 13.4);
        path.quadTo(3.2, 11.5, 3.2, 8.1);
        path.lineTo(3.2, 4.3);
        path.closeSubpath();
        p->drawPath(path);
        break;
    }
    case 2:
        p->drawPolygon(points({{2.6, 12.4}, {2.6, 5}, {6.9, 5}, {8.1, 6.5}, {13.4, 6.5}, {13.4, 12.4}}));
        break;
    case 3:
        for (const QPointF& at : {QPointF(2.7, 2.7), QPointF(8.8, 2.7), QPointF(2.7, 8.8), QPointF(8.8, 8.8)})
            p->drawRoundedRect(QRectF(at, QSizeF(4.5, 4.5)), 1.1, 1.1);
        break;
    case 4:
        drawUiBtnGlyph(p, UiBtn::Pin, QPointF(8, 8), colour, false, false);
        break;
    case 5:
        p->drawRoundedRect(QRectF(2.6, 5.2, 8.2, 7.2), 1.6, 1.6);
        p->drawRoundedRect(QRectF(5.8, 3.4, 7.6, 6.4), 1.6, 1.6);
        break;
    case 6:
        p->drawPolyline(points({{4.2, 10.3}, {8, 5.9}, {11.8, 10.3}}));
        break;
    case 7:
        p->drawPolyline(points({{4.2, 5.7}, {8, 10.1}, {11.8, 5.7}}));
        break;
    case 8:
        eye(p);
        break;
    case 9:
        eye(p);
        p->drawLine(QPointF(3, 12.8), QPointF(13, 3.2));
        break;
    case 10:
        p->drawRoundedRect(QRectF(2.6, 3.4, 10.8, 9.2), 1.8, 1.8);
        p->drawEllipse(QRectF(4.85, 5.35, 2.1, 2.1));
        p->drawPolyline(points({{3.8, 11.4}, {7.2, 7.9}, {9.8, 10.4}, {11.4, 8.9}, {12.6, 11.4}}));
        break;
    case 11:
        p->drawPolygon(points({{3.4, 12.6}, {4.3, 9.4}, {10.6, 3}, {13, 5.4}, {6.6, 11.7}}));
        p->drawLine(QPointF(9.5, 4.1), QPointF(11.9, 6.5));
        break;
    case 12:
        p->drawRoundedRect(QRectF(2.9, 2.8, 7, 7), 1.4, 1.4);
        p->drawRoundedRect(QRectF(6.1, 6.1, 7, 7), 1.4, 1.4);
        break;
    case 13:
        p->drawRoundedRect(QRectF(2.8, 8.4, 4.8, 4.8), 1.2, 1.2);
        p->drawLine(QPointF(7.9, 8.1), QPointF(12.9, 3.1));
        p->drawLine(QPointF(9.7, 3.1), QPointF(12.9, 3.1));
        p->drawLine(QPointF(12.9, 3.1), QPointF(12.9, 6.3));
        break;
    case 14:
        p->drawLine(QPointF(2.9, 4.9), QPointF(13.1, 4.9));
        p->drawLine(QPointF(6.4, 2.9), QPointF(9.6, 2.9));
        p->drawLine(QPointF(4.6, 4.9), QPointF(5.3, 13.1));
        p->drawLine(QPointF(5.3, 13.1), QPointF(10.7, 13.1));
        p->drawLine(QPointF(10.7, 13.1), QPointF(11.4, 4.9));
        p->drawLine(QPointF(6.9, 7.2), QPointF(7.1, 10.9));
        p->drawLine(QPointF(9.1, 7.2), QPointF(8.9, 10.9));
        break;
    default: // 0 and anything unknown: run
        p->drawPolygon(points({{5.6, 3.8}, {11.4, 8}, {5.6, 12.2}}));
        break;
    }
    p->restore();
}

QIcon menuGlyphIcon(int kind, const QColor& colour)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.scale(2, 2);
        menuGlyph(&p, kind, colour);
    }
    pm.setDevicePixelRatio(2);
    return QIcon(pm);
}
