// The drawing pieces the interface-buttons, icon management and protection pages share.
#include "settings/settingspages.h"

#include "icons/iconcache.h"
#include "ui/lang.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace settingspages {

QColor sectionCardColour(const DialogPalette& pal)
{
    return pal.dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xFC, 0xFC, 0xFE);
}

QColor rowColour(const DialogPalette& pal)
{
    return pal.dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xF4, 0xF5, 0xF8);
}

QColor fieldColour(const DialogPalette& pal)
{
    return pal.dark ? pal.buttonFill : QColor(Qt::white);
}

const QFont& font12()
{
    static const QFont font = pixelFont(QStringLiteral("Microsoft YaHei UI"), 12, QFont::Normal);
    return font;
}

int controlTop(const QRect& row)
{
    return row.top() + (row.bottom() - row.top() - 27) / 2;
}

qreal screenRatio()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

QRect visibleContent(const QWidget& dialog, int scroll)
{
    return QRect(QPoint(160, 58 + scroll), QPoint(dialog.width() - 9, dialog.height() - 63 + scroll));
}

void paintSectionCard(QPainter& p, const DialogPalette& pal, const QRect& card, int glyph, const QString& title,
                      const QString& subtitle)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(pal.cardBorder, 1));
    p.setBrush(sectionCardColour(pal));
    p.drawRoundedRect(QRectF(card).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    paintGlyph(p, QPointF(card.left() + 20, card.top() + 23), pal.accent, glyph);
    const QFontMetrics bold(settingsFont13Bold());
    const QRect titleBox(QPoint(card.left() + 34, card.top() + 13), QPoint(card.right() - 12, card.top() + 32));
    const QString shown = bold.elidedText(title, Qt::ElideRight, titleBox.width() / 2);
    p.setFont(settingsFont13Bold());
    p.setPen(pal.text);
    drawKitText(p, titleBox, Qt::AlignLeft | Qt::AlignVCenter, shown);
    const QRect subtitleBox(QPoint(card.left() + 46 + bold.horizontalAdvance(shown), card.top() + 14),
                            QPoint(card.right() - 12, card.top() + 31));
    p.setFont(settingsFont11());
    p.setPen(pal.secondaryText);
    drawKitText(p, subtitleBox, Qt::AlignLeft | Qt::AlignVCenter, subtitle, TextFit::ElideRight);
    p.restore();
}

void paintRowBackground(QPainter& p, const DialogPalette& pal, const QRect& row, bool hovered)
{
    p.setPen(Qt::NoPen);
    p.setBrush(hovered ? pal.hoverFill : rowColour(pal));
    p.drawRoundedRect(QRectF(row), 6, 6);
}

void paintToggleChip(QPainter& p, const DialogPalette& pal, const QRect& rect, const ChipState& state)
{
    p.save();
    QColor fill = state.hovered ? pal.hoverFill : state.hidden ? pal.accentTint : fieldColour(pal);
    if (state.pressed)
        fill = pal.pressedFill;
    p.setPen(QPen(state.hovered ? pal.accent : pal.cardBorder, 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.setFont(font12());
    p.setPen(state.hidden ? pal.accent : state.hovered ? pal.accentHover : pal.text);
    drawKitText(p, rect, Qt::AlignCenter, state.hidden ? Lang::tr("显示") : Lang::tr("隐藏"));
    p.restore();
}

void paintRowPlaceholder(QPainter& p, const DialogPalette& pal, const QPoint& topLeft, int size, int radius)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(pal.secondaryText, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(topLeft.x() + 0.5, topLeft.y() + 0.5, size, size), radius, radius);
    p.restore();
}

QPixmap shellIconScaled(const QString& path, int logical, const QString& tag)
{
    const qreal d = screenRatio();
    const QString key = QStringLiteral("%1|%2|%3x%3|dpr%4").arg(tag, path).arg(logical).arg(d, 0, 'f', 2);
    const IconCacheMap* cache = iconCache();
    const auto it = cache ? cache->constFind(path) : IconCacheMap::const_iterator();
    QPixmap scaled;
    if (!cache || it == cache->constEnd() || it->isNull()) {
        // The memory cache keeps a few hundred icons; one it has let go for room still shows as last scaled.
        if (QPixmapCache::find(key, &scaled))
            return scaled;
        return {};
    }
    if (QPixmapCache::find(key, &scaled))
        return scaled;
    const int side = int(std::lround(logical * d));
    scaled = it->scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(d);
    QPixmapCache::insert(key, scaled);
    return scaled;
}

} // namespace settingspages
