#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPixmap>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class QPainter;
class QWidget;
struct Theme;

// What the settings dialog's painters share (and the backup, lock and start-up cards with them): the
// dialog colours by role, the card fill, the fonts, the section glyphs, the switch, the thin scroll
// bar, cached thumbnails, the icon upload tile and the backup card. Everything here is drawn on the GUI
// thread and keeps no state beyond the fonts and the thumbnails in QPixmapCache.

// The dialog palette (theme.h's dialogPalette) named by what the settings painters use each colour for.
// The colours live in one place, the dialog Theme; this only names its slots.
struct DialogPalette
{
    QColor background;    // window fill
    QColor frameBorder;   // 1 px outer frame
    QColor mutedIcon;     // idle close cross
    QColor navBackground; // navigation column
    QColor hoverFill;     // hovered nav item and button
    QColor pressedFill;   // pressed button, pressed remove badge
    QColor text;          // labels, button texts
    QColor titleText;     // dialog and page titles
    QColor secondaryText; // idle nav glyphs, captions, scroll track
    QColor accent;        // selection, section glyphs, primary button, switch on
    QColor accentHover;   // hovered primary button, badge or tile
    QColor buttonFill;    // idle buttons, selected segment
    QColor cardBorder;    // outlines of cards, buttons, chips, thumbnails
    QColor accentTint;    // a faint accent wash
    QColor trackFill;     // slider track
    bool dark = false;

    static DialogPalette fromTheme(const Theme& dialogTheme);
};

// The roles of the dialog palette of the current theme (dark or light).
DialogPalette dialogRoles();

// The fill of the settings cards: #2B2B2B dark, #FFFFFF light.
QColor cardColour(bool dark);
QColor cardColour(); // for the current theme

// A font of a family at a pixel size and weight (the cards pass uiFontFamily()).
QFont pixelFont(const QString& family, int pixelSize, int weight);

// "Microsoft YaHei UI" at 13 px bold, 13 px and 11 px; built once.
QFont settingsFont13Bold();
QFont settingsFont13();
QFont settingsFont11();
// Metrics of settingsFont13, kept for eliding value texts.
const QFontMetrics& settingsFont13Metrics();

// Every text of the settings dialog and its cards is drawn through here. `fit` says what the text may do
// when its rectangle is too narrow: nothing (Whole: the rectangle has to be made to fit), be elided, or
// wrap inside the rectangle. The painter's font measures it.
enum class TextFit {
    Whole,
    ElideRight,
    ElideMiddle,
    Wrap,
};
void drawKitText(QPainter& painter, const QRect& rect, int flags, const QString& text, TextFit fit = TextFit::Whole);
void drawKitText(QPainter& painter, const QRectF& rect, int flags, const QString& text, TextFit fit = TextFit::Whole);
// A text that does not fit: drawn whole but wider than its rectangle, or wrapped but taller.
struct TextOverflow
{
    QString text;
    QRect rect;
    QSize needed;
};
// Told of every text that does not fit (a check renders the dialogs with one installed); returns the
// previous observer. Nothing is measured while none is installed.
using TextOverflowObserver = std::function<void(const TextOverflow&)>;
TextOverflowObserver setTextOverflowObserver(TextOverflowObserver observer);
// Reports a text a widget shows (a label) the same way, for cards built of widgets.
void reportTextOverflow(const TextOverflow& overflow);
// Reports every visible label below `root` whose text needs more room than the label has (wrapped labels:
// more height; others: more width). Does nothing while no observer is installed.
void reportCutLabels(QWidget* root);

// Section glyphs 0..10 (any other id draws 0, the window), about 10 to 13 px across, 1.3 px strokes.
void paintGlyph(QPainter& painter, const QPointF& centre, const QColor& colour, int glyph);
// The navigation glyph of a settings page (0, 1, 3, 5, 6; any other page the info glyph).
void paintNavGlyph(QPainter& painter, int page, const QPointF& centre, const QColor& colour);
// The backup glyph: variant 0 a tray with an arrow into it, 1 a database drum.
void paintBackupGlyph(QPainter& painter, const QPointF& centre, const QColor& colour, int variant);

// The capsule switch in `rect` (the knob is rect.height() - 8 across).
void paintToggle(QPainter& painter, const QRect& rect, bool on, const DialogPalette& palette);
void paintToggle(QPainter& painter, const QRect& rect, bool on);
// Left edge of the switch knob (also its diameter) in `rect`: what paintToggle draws.
int toggleKnobLeft(const QRect& rect, bool on);
int toggleKnobDiameter(const QRect& rect);

// The thin scroll bar of the scrolling settings pages (2, 3, 5 and 6), in window coordinates; both
// rectangles are empty when there is nothing to scroll, the dialog is lower than 121 px or the page
// does not scroll.
struct ScrollBarGeometry
{
    QRect track;
    QRect thumb;
    bool isEmpty() const { return track.isEmpty() || thumb.isEmpty(); }
};
bool pageScrolls(int page);
int maxScrollOf(int contentHeight, int dialogHeight);
ScrollBarGeometry scrollBarGeometry(int page, int dialogWidth, int dialogHeight, int contentHeight, int scroll);
// Paints in window coordinates whatever transformation the painter has (the content is translated).
void paintScrollBar(QPainter& painter, const ScrollBarGeometry& bar, bool dragging, const DialogPalette& palette);

// A thumbnail of an image file for `logicalSize` at the primary screen's pixel ratio, cached in
// QPixmapCache under "prefix|path|WxH|dprR.RR". Null when the path is empty or the image can't be read.
QPixmap cachedThumbnail(const QString& path, const QSize& logicalSize, const QString& prefix, bool expanding);
QString thumbnailCacheKey(const QString& path, const QSize& logicalSize, const QString& prefix, qreal ratio);

// The 28 px icon upload tile with its remove badge and label; ids are the dialog's action ids
// (hoveredId/pressedId -1 when none).
struct IconTileState
{
    int tileId = -1;
    int badgeId = -1;
    int hoveredId = -1;
    int pressedId = -1;
};
void paintIconTile(QPainter& painter, const DialogPalette& palette, const QColor& fill, const QFont& font,
                   const QString& label, const QString& imagePath, const QPoint& topLeft, const IconTileState& state);
// Whether the tile shows an image (and so its remove badge) rather than the plus sign.
bool iconTileHasImage(const QString& imagePath);

// One card of the backup page. The geometry comes from that page's layout.
struct BackupCardGeometry
{
    QRect card;
    QPointF glyphCentre;
    QRect titleBox;
    QRect subtitleBox;
    int separatorY = 0;
};
struct BackupCardContext
{
    QPainter* painter = nullptr;
    QColor fill;
    DialogPalette palette;
    QFont titleFont;
    QFont subtitleFont;
    QColor separator;
};
// title and subtitle are untranslated; they pass Lang::tr here.
void paintBackupCard(const BackupCardContext& context, const BackupCardGeometry& geometry, const QString& title,
                     int glyph, const QString& subtitle);

// Widths of the protection page's "选择" and "清除" buttons: text advance + 14, at least 40.
void chooseClearButtonWidths(int* chooseWidth, int* clearWidth);
