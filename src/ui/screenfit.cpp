#include "ui/screenfit.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

QRect availableGeometryAt(const QPoint& globalPoint)
{
    QScreen* screen = QGuiApplication::screenAt(globalPoint);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QRect keptWithin(const QRect& wanted, const QRect& available)
{
    if (available.isEmpty())
        return wanted;
    const int x = std::max(available.left(), std::min(wanted.left(), available.right() - wanted.width() + 1));
    const int y = std::max(available.top(), std::min(wanted.top(), available.bottom() - wanted.height() + 1));
    return QRect(QPoint(x, y), wanted.size());
}
