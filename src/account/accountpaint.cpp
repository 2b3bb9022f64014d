#include "account/accountpaint.h"

#include "ui/settingskit.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <algorithm>

AccountRoles AccountRoles::of(const Theme& t)
{
    AccountRoles r;
    r.background = t.windowBackground;
    r.border = t.border;
    r.text = t.labelText;
    r.titleText = t.strongText;
    r.mutedText = t.hintText;
    r.hoverFill = t.barButtonHover;
    r.buttonBorder = t.controlBorder;
    r.accent = t.accent;
    r.dark = t.isDark;
    return r;
}

QFont uiFont(int pixelSize, bool bold)
{
    return pixelFont(uiFontFamily(), pixelSize, bold ? QFont::Bold : QFont::Normal);
}

QFont fittedUiFont(const QString& text, int width, int pixelSize, int minPixelSize, bool bold)
{
    int size = pixelSize;
    while (size > minPixelSize && QFontMetrics(uiFont(size, bold)).horizontalAdvance(text) > width)
        --size;
    return uiFont(size, bold);
}

QColor accountCardFill(bool dark)
{
    return dark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white);
}

void drawCheckBox(QPainter& p, const QRect& rect, bool checked, const QString& label, bool hovered, const Theme& theme)
{
    const AccountRoles r = AccountRoles::of(theme);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF box(rect.x(), rect.y(), 16, 16);
    QPen outline(hovered ? r.accent : QColor(0xC2, 0xC7, 0xD3), 1.2);
    p.setPen(outline);
    p.setBrush(checked ? r.accent : accountCardFill(r.dark));
    p.drawRoundedRect(box, 4, 4);
    if (checked) {
        QPen mark(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(mark);
        p.setBrush(Qt::NoBrush);
        const qreal x = box.x();
        const qreal y = box.y();
        const QPointF points[] = {{x + 3, y + 8}, {x + 6.5, y + 11}, {x + 12, y + 4}};
        p.drawPolyline(points, 3);
    }
    if (!label.isEmpty()) {
        p.setFont(uiFont(12));
        p.setPen(hovered ? r.accent : r.mutedText);
        const QRect area(QPoint(rect.x() + 22, rect.top() - 2), QPoint(rect.x() + 241, rect.bottom() + 2));
        p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, label);
    }
    p.restore();
}

void drawDialogButton(QPainter& p, const Theme& theme, const QRect& rect, const QString& label, bool primary,
                      bool hovered, bool pressed, bool plusIcon)
{
    const AccountRoles r = AccountRoles::of(theme);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect), 10, 10);
    QColor labelColour;
    QColor iconColour;
    if (primary) {
        const QColor fill = pressed ? r.accent.darker(112) : hovered ? r.accent.lighter(110) : r.accent;
        p.fillPath(shape, fill);
        labelColour = Qt::white;
        iconColour = Qt::white;
    } else {
        QColor fill = r.dark ? QColor(0x35, 0x3A, 0x46) : QColor(0xF5, 0xF7, 0xFA);
        if (pressed)
            fill = r.dark ? QColor(0x3E, 0x44, 0x52) : QColor(0xE8, 0xEC, 0xF3);
        else if (hovered)
            fill = r.dark ? QColor(0x3A, 0x40, 0x4C) : QColor(0xEF, 0xF3, 0xF9);
        p.fillPath(shape, fill);
        p.setPen(QPen(hovered ? r.accent : r.buttonBorder, 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(shape);
        labelColour = hovered ? r.accent : r.text;
        iconColour = hovered ? r.accent : r.buttonBorder;
    }
    const QFont font = uiFont(13);
    p.setFont(font);
    if (!plusIcon) {
        p.setPen(labelColour);
        p.drawText(rect, Qt::AlignCenter, label);
    } else {
        const int g = QFontMetrics(font).horizontalAdvance(label);
        const int iconLeft = rect.left() + (rect.width() - 1 - g - 19) / 2;
        const qreal top = rect.center().y() - 6;
        const QRectF icon(iconLeft, top, 12, 12);
        p.setPen(QPen(iconColour, 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(icon, 3, 3);
        const QPointF c = icon.center();
        p.drawLine(QPointF(c.x() - 3, c.y()), QPointF(c.x() + 3, c.y()));
        p.drawLine(QPointF(c.x(), c.y() - 3), QPointF(c.x(), c.y() + 3));
        p.setPen(labelColour);
        const QRect text(iconLeft + 20, rect.top(), std::max(0, rect.right() - iconLeft - 20 + 1), rect.height());
        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, label);
    }
    p.restore();
}

void drawCloseButton(QPainter& p, const Theme& theme, const QRect& rect, bool hovered)
{
    const AccountRoles r = AccountRoles::of(theme);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    QColor cross = r.mutedText;
    if (hovered) {
        p.setPen(Qt::NoPen);
        p.setBrush(r.dark ? QColor(0x4A, 0x2C, 0x32) : QColor(0xFD, 0xED, 0xED));
        p.drawRoundedRect(QRectF(rect.adjusted(-4, -4, 4, 4)), 7, 7);
        cross = QColor(0xE8, 0x11, 0x23);
    }
    p.setPen(QPen(cross, 1.6, Qt::SolidLine, Qt::RoundCap));
    const QRectF in = QRectF(rect).adjusted(8, 8, -8, -8);
    p.drawLine(in.topLeft(), in.bottomRight());
    p.drawLine(in.topRight(), in.bottomLeft());
    p.restore();
}

void drawAccountCard(QPainter& p, const QRect& widgetRect, const Theme& theme)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal radius = windowCornerRadius(std::max(themeCornerRadius() + 2, 10));
    p.setPen(QPen(theme.border, 1));
    p.setBrush(accountCardFill(theme.isDark));
    p.drawRoundedRect(QRectF(widgetRect).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.restore();
}

QPixmap accountLogo(const QSize& size)
{
    // Scaled once per size and kept in the pixmap cache (no static QPixmap: it would outlive the
    // application object).
    const QString key = QStringLiteral("ktr-account-logo-%1x%2").arg(size.width()).arg(size.height());
    QPixmap scaled;
    if (QPixmapCache::find(key, &scaled))
        return scaled;
    const QPixmap logo(QStringLiteral(":/res/resources/logo.png"));
    if (logo.isNull() || size.isEmpty())
        return QPixmap();
    scaled = logo.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPixmapCache::insert(key, scaled);
    return scaled;
}

void drawAccountLogo(QPainter& p, const QRect& rect)
{
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    QPixmap logo = accountLogo((QSizeF(rect.size()) * dpr).toSize());
    if (logo.isNull())
        return;
    logo.setDevicePixelRatio(dpr);
    const QSizeF shown = QSizeF(logo.size()) / dpr;
    const QPointF at(rect.x() + (rect.width() - shown.width()) / 2.0,
                     rect.y() + (rect.height() - shown.height()) / 2.0);
    p.drawPixmap(at, logo);
}
