#pragma once

#include "panel/uibtnbar.h"

#include <QApplication>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

// Synthetic pointer and drop events sent straight to a widget, offscreen renders, and bar buttons.
namespace bars {

inline void mouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button = Qt::NoButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}
inline void move(QWidget* w, QPointF pos)
{
    mouse(w, QEvent::MouseMove, pos);
}
inline void press(QWidget* w, QPointF pos)
{
    mouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton);
}
inline void release(QWidget* w, QPointF pos)
{
    mouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
}
inline void leave(QWidget* w)
{
    QEvent ev(QEvent::Leave);
    QApplication::sendEvent(w, &ev);
}

// Enter, move to pos, then drop there; returns whether the drop was accepted.
inline bool dropAt(QWidget* w, const QMimeData* mime, QPoint pos, bool drop = true)
{
    QDragEnterEvent enter(pos, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    QDragMoveEvent moveEv(pos, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &moveEv);
    if (!drop)
        return moveEv.isAccepted();
    QDropEvent dropEv(pos, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &dropEv);
    return dropEv.isAccepted();
}

// At a pixel ratio above 1 a point (x, y) of the widget is the pixel (x * ratio, y * ratio).
inline QImage render(QWidget* w, const QColor& ground, int ratio = 1)
{
    QImage img(w->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(ratio);
    img.fill(ground);
    w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

// Saves a render for a person to look at when KTR_SHOT_DIR is set.
inline void keep(const QImage& img, const QString& name)
{
    if (qEnvironmentVariableIsSet("KTR_SHOT_DIR"))
        img.save(qEnvironmentVariable("KTR_SHOT_DIR") + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Every button of a bar shown.
inline UiBtnBar::Flags allVisible()
{
    UiBtnBar::Flags f;
    f.fill(true);
    return f;
}

inline QPointF centreOf(const UiBtnBar& bar, int id)
{
    return QRectF(bar.buttonRect(id)).center();
}

} // namespace bars
