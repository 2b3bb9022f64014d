#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

class QPainter;
struct Theme;

// The painted controls the account dialogs (login, device confirmation, signed out) share, so the three
// look alike. Each paints antialiased into the given painter with the colours of the given theme; hit
// testing stays with the dialogs.

// The theme colours the account dialogs paint with, named by what they are used for here. The colours
// live in Theme; this only picks its slots.
struct AccountRoles
{
    QColor background;   // the login window's fill
    QColor border;       // window outline
    QColor text;         // body text, device names, secondary button labels
    QColor titleText;    // titles
    QColor mutedText;    // secondary text, idle glyphs and links
    QColor hoverFill;    // hovered captcha box
    QColor buttonBorder; // secondary button outline and idle icon
    QColor accent;       // links, primary buttons, checked boxes
    bool dark = false;

    static AccountRoles of(const Theme& theme);
};

// A font of uiFontFamily() at the pixel size, weight 700 when bold, else 400.
QFont uiFont(int pixelSize, bool bold = false);
// uiFont at the pixel size, or smaller down to minPixelSize until the text fits the width in one line
// (the English texts of a few single-line places are longer than the Chinese they were laid out for).
QFont fittedUiFont(const QString& text, int width, int pixelSize, int minPixelSize, bool bold = false);

// A 16 x 16 box at the rect's top-left corner, with an optional label right of it.
void drawCheckBox(QPainter& painter, const QRect& rect, bool checked, const QString& label, bool hovered,
                  const Theme& theme);
// A rounded button, primary (accent fill, white label) or secondary; with plusIcon a small boxed plus
// before the label, the pair centred.
void drawDialogButton(QPainter& painter, const Theme& theme, const QRect& rect, const QString& label, bool primary,
                      bool hovered, bool pressed, bool plusIcon);
// The close cross, on a soft red plate while hovered.
void drawCloseButton(QPainter& painter, const Theme& theme, const QRect& rect, bool hovered);

// The card of the confirmation and signed-out dialogs: a rounded window (radius at least 10) filled
// #2A2E38 dark or white light, outlined with the theme border.
void drawAccountCard(QPainter& painter, const QRect& widgetRect, const Theme& theme);
// The card fill: #2A2E38 dark, white light (the unchecked box uses it too).
QColor accountCardFill(bool dark);
// The program logo smooth-scaled to a size (cached per size).
QPixmap accountLogo(const QSize& size);
// The logo smooth-scaled into the rectangle.
void drawAccountLogo(QPainter& painter, const QRect& rect);
