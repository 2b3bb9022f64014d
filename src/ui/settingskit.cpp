#include "ui/settingskit.h"

#include "platform/fsentry.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cmath>

DialogPalette DialogPalette::fromTheme(const Theme& t)
{
    DialogPalette p;
    p.background = t.windowBackground;
    p.frameBorder = t.border;
    p.mutedIcon = t.textSecondary;
    p.navBackground = t.surface;
    p.hoverFill = t.barButtonHover;
    p.pressedFill = t.activeBackground;
    p.text = t.text;
    p.titleText = t.strongText;
    p.secondaryText = t.hintText;
    p.accent = t.accent;
    p.accentHover = t.accentHover;
    p.buttonFill = t.cardBackground;
    p.cardBorder = t.controlBorder;
    p.accentTint = t.accentSoft;
    p.trackFill = t.sliderTrack;
    p.dark = t.isDark;
    return p;
}

DialogPalette dialogRoles()
{
    return DialogPalette::fromTheme(dialogPalette());
}

QColor cardColour(bool dark)
{
    return dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(Qt::white);
}

QColor cardColour()
{
    return cardColour(dialogPalette().isDark);
}

namespace {

TextOverflowObserver& overflowObserver()
{
    static TextOverflowObserver observer;
    return observer;
}

} // namespace

TextOverflowObserver setTextOverflowObserver(TextOverflowObserver observer)
{
    TextOverflowObserver previous = std::move(overflowObserver());
    overflowObserver() = std::move(observer);
    return previous;
}

void reportTextOverflow(const TextOverflow& overflow)
{
    if (overflowObserver())
        overflowObserver()(overflow);
}

void reportCutLabels(QWidget* root)
{
    if (!overflowObserver() || !root)
        return;
    root->ensurePolished();
    if (QLayout* layout = root->layout())
        layout->activate();
    for (QWidget* child : root->findChildren<QWidget*>())
        if (QLayout* layout = child->layout())
            layout->activate();
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isHidden() || label->text().isEmpty() || !label->pixmap().isNull())
            continue;
        const QRect box = label->contentsRect();
        const QString text = label->textFormat() == Qt::RichText ? QString() : label->text();
        if (text.isEmpty())
            continue;
        const QFontMetrics fm(label->font());
        if (label->wordWrap()) {
            const int needed = label->heightForWidth(label->width());
            if (needed > label->height())
                reportTextOverflow({text, box, QSize(box.width(), needed)});
        } else {
            const QRect needed = fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop, text);
            if (needed.width() > box.width() || needed.height() > box.height() + 2)
                reportTextOverflow({text, box, needed.size()});
        }
    }
    // An empty field shows its placeholder on one line, cut where the room inside its frame ends.
    for (QLineEdit* edit : root->findChildren<QLineEdit*>()) {
        if (!edit->isVisibleTo(root) || !edit->text().isEmpty() || edit->placeholderText().isEmpty())
            continue;
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth =
            edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
        const QRect inner = edit->style()
                                ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                                .marginsRemoved(edit->textMargins());
        // The field's own horizontal margin (2 px each side) is part of what Qt leaves out.
        const int room = inner.width() - 4;
        const int needed = QFontMetrics(edit->font()).horizontalAdvance(edit->placeholderText());
        if (needed > room)
            reportTextOverflow({edit->placeholderText(), inner, QSize(needed, inner.height())});
    }
    // A combo that keeps its current entry's whole text beside the shortened one it shows ("fullText") is cut
    // when the two differ; any combo is when its text is wider than the room its style gives the text.
    for (QComboBox* combo : root->findChildren<QComboBox*>()) {
        if (!combo->isVisibleTo(root))
            continue;
        combo->ensurePolished();
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        option.currentText = combo->currentText();
        const QRect field =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
        const QString full = combo->property("fullText").toString();
        const QString whole = full.isEmpty() ? combo->currentText() : full;
        const int shown = QFontMetrics(combo->font()).horizontalAdvance(combo->currentText());
        if ((!full.isEmpty() && combo->currentText() != full) || shown > field.width())
            reportTextOverflow(
                {whole, field, QSize(QFontMetrics(combo->font()).horizontalAdvance(whole), field.height())});
    }
}

void drawKitText(QPainter& painter, const QRectF& rect, int flags, const QString& text, TextFit fit)
{
    const QFontMetricsF fm(painter.font());
    if (fit == TextFit::ElideRight || fit == TextFit::ElideMiddle) {
        const Qt::TextElideMode mode = fit == TextFit::ElideRight ? Qt::ElideRight : Qt::ElideMiddle;
        painter.drawText(rect, flags, fm.elidedText(text, mode, std::max<qreal>(0, rect.width())));
        return;
    }
    if (fit == TextFit::Wrap)
        flags |= Qt::TextWordWrap;
    painter.drawText(rect, flags, text);
    if (!overflowObserver() || text.isEmpty())
        return;
    // Half a pixel of slack: fractional advances are rounded when the glyphs are placed.
    const QRectF needed = fm.boundingRect(QRectF(rect.topLeft(), QSizeF(rect.width(), 100000)),
                                          (flags & ~Qt::AlignVertical_Mask) | Qt::AlignTop, text);
    const bool tooWide = needed.width() > rect.width() + 0.5;
    const bool tooTall =
        (fit == TextFit::Wrap || text.contains(QLatin1Char('\n'))) && needed.height() > rect.height() + 0.5;
    if (tooWide || tooTall)
        reportTextOverflow({text, rect.toAlignedRect(), needed.size().toSize()});
}

void drawKitText(QPainter& painter, const QRect& rect, int flags, const QString& text, TextFit fit)
{
    drawKitText(painter, QRectF(rect), flags, text, fit);
}

QFont pixelFont(const QString& family, int pixelSize, int weight)
{
    installUiFontSubstitutions();
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setWeight(QFont::Weight(weight));
    return f;
}

namespace {

QFont kitFont(int pixelSize, int weight)
{
    return pixelFont(QStringLiteral("Microsoft YaHei UI"), pixelSize, weight);
}

} // namespace

QFont settingsFont13Bold()
{
    static const QFont f = kitFont(13, 700);
    return f;
}

QFont settingsFont13()
{
    static const QFont f = kitFont(13, 400);
    return f;
}

QFont settingsFont11()
{
    static const QFont f = kitFont(11, 400);
    return f;
}

const QFontMetrics& settingsFont13Metrics()
{
    static const QFontMetrics fm(settingsFont13());
    return fm;
}

int toggleKnobDiameter(const QRect& rect)
{
    return rect.height() - 8;
}

int toggleKnobLeft(const QRect& rect, bool on)
{
    return on ? rect.right() - toggleKnobDiameter(rect) - 4 : rect.left() + 4;
}

void paintToggle(QPainter& painter, const QRect& rect, bool on, const DialogPalette& palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF capsule = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = capsule.height() / 2.0;
    const bool dark = palette.dark;
    QColor knob;
    if (on) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette.accent);
        knob = Qt::white;
    } else {
        painter.setPen(QPen(dark ? QColor(0x9A, 0x9A, 0x9A) : QColor(0x8A, 0x8A, 0x8A), 1.0));
        painter.setBrush(dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(Qt::white));
        knob = dark ? QColor(0xCF, 0xCF, 0xCF) : QColor(0x5D, 0x5D, 0x5D);
    }
    painter.drawRoundedRect(capsule, radius, radius);
    const int d = toggleKnobDiameter(rect);
    const qreal top = (rect.top() + rect.bottom()) / 2 - d / 2 + 0.5;
    painter.setPen(Qt::NoPen);
    painter.setBrush(knob);
    painter.drawEllipse(QRectF(toggleKnobLeft(rect, on), top, d, d));
    painter.restore();
    painter.setPen(palette.text);
}

void paintToggle(QPainter& painter, const QRect& rect, bool on)
{
    paintToggle(painter, rect, on, dialogRoles());
}

bool pageScrolls(int page)
{
    return page == 2 || page == 3 || page == 5 || page == 6;
}

int maxScrollOf(int contentHeight, int dialogHeight)
{
    return std::max(1, contentHeight) - dialogHeight + 62;
}

ScrollBarGeometry scrollBarGeometry(int page, int w, int h, int contentHeight, int scroll)
{
    ScrollBarGeometry bar;
    if (!pageScrolls(page))
        return bar;
    const int c = std::max(1, contentHeight);
    const int m = c - h + 62;
    const int v = h - 120;
    if (m <= 0 || h < 121)
        return bar;
    bar.track = QRect(QPoint(w - 20, 58), QPoint(w - 4, h - 63));
    const int t = std::max(28, int(std::lround(double(v) * v / c)));
    const int top = 58 + int(std::lround(double(v - t) * std::clamp(scroll, 0, m) / m));
    bar.thumb = QRect(QPoint(w - 17, top), QPoint(w - 7, top + t - 1));
    return bar;
}

void paintScrollBar(QPainter& painter, const ScrollBarGeometry& bar, bool dragging, const DialogPalette& palette)
{
    if (bar.isEmpty())
        return;
    painter.save();
    painter.resetTransform();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    QColor track = palette.secondaryText;
    track.setAlpha(28);
    painter.setBrush(track);
    painter.drawRoundedRect(QRectF(bar.track.left() + 6, bar.track.top(), 5, bar.track.height()), 2, 2);
    QColor thumb = palette.secondaryText;
    thumb.setAlpha(90);
    painter.setBrush(dragging ? palette.accent : thumb);
    painter.drawRoundedRect(QRectF(bar.thumb.left() + 3, bar.thumb.top(), 5, bar.thumb.height()), 2, 2);
    painter.restore();
}

QString thumbnailCacheKey(const QString& path, const QSize& size, const QString& prefix, qreal ratio)
{
    return QStringLiteral("%1|%2|%3x%4|dpr%5")
        .arg(prefix, path)
        .arg(size.width())
        .arg(size.height())
        .arg(QString::number(ratio, 'f', 2));
}

QPixmap cachedThumbnail(const QString& path, const QSize& size, const QString& prefix, bool expanding)
{
    // Painted with the dialog: a named pipe chosen as the picture must not be opened (it waits for a writer).
    if (path.isEmpty() || !ktr::platform::isRegularFile(path))
        return {};
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    const QString key = thumbnailCacheKey(path, size, prefix, ratio);
    QPixmap pm;
    if (QPixmapCache::find(key, &pm))
        return pm;
    const QImage image(path);
    if (image.isNull())
        return {};
    const QSize target(int(std::lround(size.width() * ratio)), int(std::lround(size.height() * ratio)));
    pm = QPixmap::fromImage(image.scaled(target, expanding ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio,
                                         Qt::SmoothTransformation));
    pm.setDevicePixelRatio(ratio);
    QPixmapCache::insert(key, pm);
    return pm;
}

bool iconTileHasImage(const QString& imagePath)
{
    return !cachedThumbnail(imagePath, QSize(28, 28), QStringLiteral("iconrowup"), true).isNull();
}

void paintIconTile(QPainter& painter, const DialogPalette& palette, const QColor& fill, const QFont& font,
                   const QString& label, const QString& imagePath, const QPoint& topLeft, const IconTileState& state)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool hovered = state.tileId >= 0 && state.hoveredId == state.tileId;
    const QPointF tl(topLeft);
    painter.setPen(QPen(hovered ? palette.accentHover : palette.cardBorder, 1.0));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(tl + QPointF(0.5, 0.5), QSizeF(27, 27)), 6, 6);

    const QPixmap thumb = cachedThumbnail(imagePath, QSize(28, 28), QStringLiteral("iconrowup"), true);
    if (!thumb.isNull()) {
        painter.save();
        QPainterPath clip;
        clip.addRoundedRect(QRectF(tl + QPointF(1, 1), QSizeF(26, 26)), 5, 5);
        painter.setClipPath(clip, Qt::IntersectClip);
        painter.drawPixmap(QRect(topLeft, QSize(28, 28)), thumb);
        painter.restore();

        QColor badge(0xE8, 0x11, 0x23);
        if (state.badgeId >= 0 && state.pressedId == state.badgeId)
            badge = QColor(0xA5, 0x0C, 0x18);
        else if (state.badgeId >= 0 && state.hoveredId == state.badgeId)
            badge = QColor(0xF2, 0x33, 0x44);
        const QRectF circle(tl.x() + 16, tl.y() - 5, 16, 16);
        painter.setPen(QPen(palette.dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(Qt::white), 1.5));
        painter.setBrush(badge);
        painter.drawEllipse(circle);
        painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
        const QRectF cross = circle.adjusted(5, 5, -5, -5);
        painter.drawLine(cross.topLeft(), cross.bottomRight());
        painter.drawLine(cross.topRight(), cross.bottomLeft());
    } else {
        const QPointF c = tl + QPointF(14, 14);
        painter.setPen(QPen(hovered ? palette.accentHover : palette.secondaryText, 1.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(c - QPointF(4.5, 0), c + QPointF(4.5, 0));
        painter.drawLine(c - QPointF(0, 4.5), c + QPointF(0, 4.5));
    }
    if (!label.isEmpty()) {
        painter.setFont(font);
        painter.setPen(hovered ? palette.accentHover : palette.secondaryText);
        drawKitText(painter, QRect(QPoint(topLeft.x() + 32, topLeft.y()), QPoint(topLeft.x() + 89, topLeft.y() + 27)),
                    Qt::AlignLeft | Qt::AlignVCenter, label);
    }
    painter.restore();
}

void paintBackupCard(const BackupCardContext& ctx, const BackupCardGeometry& g, const QString& title, int glyph,
                     const QString& subtitle)
{
    if (!ctx.painter)
        return;
    QPainter& p = *ctx.painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(ctx.palette.cardBorder, 1.0));
    p.setBrush(ctx.fill);
    p.drawRoundedRect(QRectF(g.card).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    paintGlyph(p, g.glyphCentre, ctx.palette.accent, glyph);
    p.setFont(ctx.titleFont);
    p.setPen(ctx.palette.text);
    drawKitText(p, g.titleBox, Qt::AlignLeft | Qt::AlignVCenter, Lang::tr(title));
    if (!subtitle.isEmpty()) {
        p.setFont(ctx.subtitleFont);
        p.setPen(ctx.palette.secondaryText);
        drawKitText(p, g.subtitleBox, Qt::AlignRight | Qt::AlignVCenter, Lang::tr(subtitle));
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(ctx.separator, 1.0));
    p.drawLine(g.card.left() + 20, g.separatorY, g.card.right() - 20, g.separatorY);
    p.restore();
}

void chooseClearButtonWidths(int* chooseWidth, int* clearWidth)
{
    const QFontMetrics& fm = settingsFont13Metrics();
    if (chooseWidth)
        *chooseWidth = std::max(40, fm.horizontalAdvance(Lang::tr("选择")) + 14);
    if (clearWidth)
        *clearWidth = std::max(40, fm.horizontalAdvance(Lang::tr("清除")) + 14);
}
