#pragma once

#include <QColor>
#include <QString>

// The palette every painted widget of the panel reads at paint time. Two process-wide instances
// exist (dark and light); the settings adjust the current one in place. A second, fixed pair of
// neutral grey palettes serves dialogs and menus that ignore the user's colour choices.
struct Theme
{
    QColor windowBackground;     // 0
    QColor surface;              // 1  popup background
    QColor surfaceAlt;           // 2
    QColor border;               // 3
    QColor text;                 // 4
    QColor textSecondary;        // 5
    QColor titleBarBackground;   // 6
    QColor titleBarForeground;   // 7
    QColor bottomBarBackground;  // 8
    QColor bottomBarForeground;  // 9  glyph colour of the bar buttons
    QColor midBackground;        // 10
    QColor sidebarBackground;    // 11
    QColor separatorLine;        // 12
    QColor barButtonHover;       // 13 hover fill
    QColor activeBackground;     // 14
    QColor dropTargetBackground; // 15
    QColor labelText;            // 16
    QColor strongText;           // 17
    QColor hintText;             // 18
    QColor scrollHandle;         // 19
    QColor addRowBackground;     // 20
    QColor addRowHover;          // 21
    QColor addRowBorder;         // 22
    QColor gridBackground;       // 23
    QColor mutedText;            // 24
    QColor itemHover;            // 25
    QColor tone26;               // 26
    QColor itemText;             // 27
    QColor accent;               // 28 highlight colour
    QColor accentHover;          // 29
    QColor accentSoft;           // 30
    QColor cardBackground;       // 31
    QColor controlBorder;        // 32 frame line of popups
    QColor sliderTrack;          // 33
    QColor dividerColor;         // 34

    bool dividerOverride = false;
    int dividerWidth = 1;
    int dividerAlpha = 255;
    bool isDark = false;
};

// The palette in use (light until setDarkTheme selects another). Read-only for callers.
const Theme& currentTheme();
void setDarkTheme(bool dark);
const Theme& dialogPalette();
// The dark or light palette as first filled, before any setter changed it: what a colour choice of
// "theme default" goes back to.
const Theme& defaultTheme(bool dark);

void setThemeTitleBarColors(const QColor& background, const QColor& foreground);
void setThemeBottomBarColors(const QColor& background, const QColor& foreground);
void setThemeMidColors(const QColor& middle, const QColor& sidebar, const QColor& grid);
void setThemeTextColor(const QColor& color);
void setThemeTextOpacity(int percent);
void setThemeDivider(const QColor& color, int width, int alpha);
QColor themeDividerColor(const QColor& fallback);
QColor themeKindColor(int kind);

// Corner radius of the window and of the custom-drawn dialog cards, 0..24.
void setThemeCornerRadius(int radius);
int themeCornerRadius();

void setUiFontFamily(const QString& family);
// The user's font family, or "Microsoft YaHei UI" when none is set.
QString uiFontFamily();

// The look every popup menu of the program shares: frameless, rounded, in the colours of the current light
// or dark palette, in the UI font. Applied when a menu is built, so it follows the theme in use then.
QString themedMenuStyleSheet();
void applyThemedMenuStyle(class QMenu* menu);

// "Microsoft YaHei UI" is not installed on Linux: maps it (and its plain sibling) to installed CJK
// fonts, so Chinese text shows real glyphs. Runs once; uiFontFamily calls it too.
void installUiFontSubstitutions();
// Loads the font database and matches the interface font for Latin and Chinese text on a worker, so the
// window's first text does not wait for fontconfig. Call once, after the application object exists.
void warmUpUiFonts();
