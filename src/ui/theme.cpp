#include "ui/theme.h"

#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

namespace {

constexpr int kSlotCount = 35;
using SlotList = std::array<const char*, kSlotCount>; // nullptr = no colour

// Member order of Theme, so the palettes below can be written as one column each.
constexpr std::array<QColor Theme::*, kSlotCount> kSlots = {
    &Theme::windowBackground,
    &Theme::surface,
    &Theme::surfaceAlt,
    &Theme::border,
    &Theme::text,
    &Theme::textSecondary,
    &Theme::titleBarBackground,
    &Theme::titleBarForeground,
    &Theme::bottomBarBackground,
    &Theme::bottomBarForeground,
    &Theme::midBackground,
    &Theme::sidebarBackground,
    &Theme::separatorLine,
    &Theme::barButtonHover,
    &Theme::activeBackground,
    &Theme::dropTargetBackground,
    &Theme::labelText,
    &Theme::strongText,
    &Theme::hintText,
    &Theme::scrollHandle,
    &Theme::addRowBackground,
    &Theme::addRowHover,
    &Theme::addRowBorder,
    &Theme::gridBackground,
    &Theme::mutedText,
    &Theme::itemHover,
    &Theme::tone26,
    &Theme::itemText,
    &Theme::accent,
    &Theme::accentHover,
    &Theme::accentSoft,
    &Theme::cardBackground,
    &Theme::controlBorder,
    &Theme::sliderTrack,
    &Theme::dividerColor,
};

constexpr SlotList kDark = {
    "#23262E", "#2B2F3A", "#3A3F4C", "#3A3F4C", "#E8EAF0", "#B8BDC9", "#2B2F3A", "#E8EAF0", "#2B2F3A",
    nullptr,   "#23262E", "#262A34", "#333845", "#2E333F", "#353B4C", "#2C3D63", "#D5D8E2", "#FFFFFF",
    "#7A8090", "#4A5060", "#2C303C", "#353B48", "#444A58", "#23262E", "#6B7180", "#2E333F", "#2C3D63",
    "#D5D8E2", "#5E8BF3", "#7199F5", "#2F3D5C", "#313745", "#444A58", "#333845", nullptr,
};
constexpr SlotList kLight = {
    "#F7F8FB", "#E4E7EC", "#D5D8E0", "#C6C9D2", "#39404C", "#6C7482", "#E4E7EC", "#39404C", "#E4E7EC",
    nullptr,   "#F7F8FB", "#F1F2F7", "#E0E2EA", "#E9EBF2", "#E1E5EF", "#D6E2FC", "#39404C", "#1F2937",
    "#9A9FAC", "#C2C7D3", "#FAFBFD", "#E7EAF2", "#C9CDD8", "#F7F8FB", "#A6ABB8", "#ECEEF4", "#E0E8FA",
    "#39404C", "#4C7DF0", "#5F8BF2", "#E3ECFD", "#F5F6FA", "#D9DDE6", "#EDF0F6", nullptr,
};
constexpr SlotList kDialogDark = {
    "#202020", "#272727", "#3A3A3A", "#3A3A3A", "#F2F2F2", "#C8C8C8", "#272727", "#F2F2F2", "#272727",
    "#A9A9A9", "#202020", "#272727", "#3A3A3A", "#303030", "#3A3A3A", "#143352", "#F2F2F2", "#FFFFFF",
    "#A9A9A9", "#4D4D4D", "#2D2D2D", "#383838", "#454545", "#202020", "#8A8A8A", "#2E2E2E", "#143352",
    "#F2F2F2", "#0067C0", "#2E8BE0", "#143352", "#2D2D2D", "#3F3F3F", "#5A5A5A", nullptr,
};
constexpr SlotList kDialogLight = {
    "#FAFAFA", "#F3F3F3", "#E5E5E5", "#E0E0E0", "#1A1A1A", "#5C5C5C", "#F3F3F3", "#1A1A1A", "#F3F3F3",
    "#5C5C5C", "#FAFAFA", "#F3F3F3", "#E5E5E5", "#EEEEEE", "#E8E8E8", "#E8F2FC", "#1A1A1A", "#1A1A1A",
    "#5D5D5D", "#C4C4C4", "#FDFDFD", "#F2F2F2", "#D6D6D6", "#FAFAFA", "#8A8A8A", "#F0F0F0", "#E8F2FC",
    "#1A1A1A", "#0067C0", "#1A7AD9", "#E8F2FC", "#FDFDFD", "#E1E1E1", "#C4C4C4", nullptr,
};

void fill(Theme& t, const SlotList& colors, bool dark)
{
    t = Theme();
    for (int i = 0; i < kSlotCount; ++i)
        t.*kSlots[i] = colors[i] ? QColor(QLatin1String(colors[i])) : QColor();
    t.isDark = dark;
}

Theme g_dark;
Theme g_light;
Theme* g_current = &g_light;
bool g_filled = false;

Theme g_dialogDark;
Theme g_dialogLight;
bool g_dialogFilled = false;

QColor g_baseText;
bool g_baseTextSet = false;

QString g_fontFamily;
int g_cornerRadius = 12;

void ensureFilled()
{
    if (g_filled)
        return;
    fill(g_light, kLight, false);
    fill(g_dark, kDark, true);
    g_filled = true;
}

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(std::clamp(alpha, 0, 255));
    return c;
}

// Secondary text: 62 % of the text alpha, never fainter than 40.
int dimmedAlpha(int alpha)
{
    return std::clamp(static_cast<int>(alpha * 0.62), 40, 255);
}

void applyText(const QColor& base, int alpha)
{
    Theme& t = *g_current;
    const QColor full = withAlpha(base, alpha);
    t.labelText = full;
    t.strongText = full;
    t.itemText = full;
    t.textSecondary = full;
    const QColor dim = withAlpha(base, dimmedAlpha(alpha));
    t.hintText = dim;
    t.mutedText = dim;
}

} // namespace

const Theme& currentTheme()
{
    ensureFilled();
    return *g_current;
}

void setDarkTheme(bool dark)
{
    ensureFilled();
    g_baseTextSet = false;
    Theme* next = dark ? &g_dark : &g_light;
    const bool changed = next != g_current;
    g_current = next;
    if (changed)
        UiSignals::instance().emitThemeChanged(dark);
}

const Theme& defaultTheme(bool dark)
{
    static const Theme pristineDark = [] {
        Theme t;
        fill(t, kDark, true);
        return t;
    }();
    static const Theme pristineLight = [] {
        Theme t;
        fill(t, kLight, false);
        return t;
    }();
    return dark ? pristineDark : pristineLight;
}

const Theme& dialogPalette()
{
    if (!g_dialogFilled) {
        fill(g_dialogDark, kDialogDark, true);
        fill(g_dialogLight, kDialogLight, false);
        g_dialogFilled = true;
    }
    return currentTheme().isDark ? g_dialogDark : g_dialogLight;
}

// The palettes are filled first, so a colour set before the first use is not overwritten by the fill.
void setThemeTitleBarColors(const QColor& background, const QColor& foreground)
{
    ensureFilled();
    g_current->titleBarBackground = background;
    g_current->titleBarForeground = foreground;
}

void setThemeBottomBarColors(const QColor& background, const QColor& foreground)
{
    ensureFilled();
    g_current->bottomBarBackground = background;
    g_current->bottomBarForeground = foreground;
}

void setThemeMidColors(const QColor& middle, const QColor& sidebar, const QColor& grid)
{
    ensureFilled();
    g_current->midBackground = middle;
    g_current->sidebarBackground = sidebar;
    g_current->gridBackground = grid;
}

void setThemeTextColor(const QColor& color)
{
    ensureFilled();
    g_baseText = color;
    g_baseTextSet = true;
    applyText(color, color.alpha());
}

void setThemeTextOpacity(int percent)
{
    ensureFilled();
    if (!g_baseTextSet) {
        g_baseText = g_current->labelText;
        g_baseTextSet = true;
    }
    const int alpha = static_cast<int>(std::lround(std::clamp(percent, 0, 100) * 255.0 / 100.0));
    applyText(g_baseText, alpha);
}

void setThemeDivider(const QColor& color, int width, int alpha)
{
    ensureFilled();
    g_current->dividerOverride = color.isValid();
    if (color.isValid())
        g_current->dividerColor = color;
    g_current->dividerWidth = std::clamp(width, 0, 4);
    g_current->dividerAlpha = std::clamp(alpha, 0, 255);
}

QColor themeDividerColor(const QColor& fallback)
{
    const Theme& t = currentTheme();
    QColor c = t.dividerOverride ? t.dividerColor : fallback;
    c.setAlpha(static_cast<int>(std::lround(c.alpha() * t.dividerAlpha / 255.0)));
    return c;
}

QColor themeKindColor(int kind)
{
    switch (kind) {
    case 1:
        return QColor(0x33, 0x37, 0x3F);
    case 2:
        return QColor(0x2F, 0x6F, 0xBF);
    case 3:
        return QColor(0x2E, 0x6B, 0x52);
    case 4:
        return QColor(0x9E, 0x3B, 0x3B);
    case 5:
        return QColor(0xF5, 0xF6, 0xF8);
    default:
        return currentTheme().surface;
    }
}

void setThemeCornerRadius(int radius)
{
    g_cornerRadius = std::clamp(radius, 0, 24);
}

int themeCornerRadius()
{
    return g_cornerRadius;
}

void setUiFontFamily(const QString& family)
{
    g_fontFamily = family.trimmed();
}

QString uiFontFamily()
{
    installUiFontSubstitutions();
    return g_fontFamily.isEmpty() ? QStringLiteral("Microsoft YaHei UI") : g_fontFamily;
}

void installUiFontSubstitutions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Tried in order; fonts that are not installed are skipped by the font matcher.
        const QStringList cjk = {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                                 QStringLiteral("Source Han Sans SC"), QStringLiteral("Droid Sans Fallback")};
        QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei UI"), cjk);
        QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei"), cjk);
    });
}

void warmUpUiFonts()
{
    static QPointer<QThread> running;
    if (running)
        return;
    QThread* thread = QThread::create([] {
        const QFontMetrics metrics{QFont(uiFontFamily())};
        metrics.horizontalAdvance(QStringLiteral("青岚舟面板 Group 0"));
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    running = thread;
    // A run that ends at once (a second start handing over) must not take the font database away under it.
    qAddPostRoutine([] {
        if (running)
            running->wait();
    });
    thread->start(QThread::LowPriority);
}

QString themedMenuStyleSheet()
{
    const bool dark = currentTheme().isDark;
    auto c = [dark](const char* darkName, const char* lightName) {
        return QColor(QLatin1String(dark ? darkName : lightName)).name();
    };
    // Square corners where nothing composes the menu's transparent ones (they would show black).
    return QStringLiteral("QMenu{background:%1;border:1px solid %2;border-radius:%9px;padding:5px;"
                          "font-family:'%8';font-size:13px;color:%3;}"
                          "QMenu::item{padding:3px 14px 3px 6px;border-radius:7px;background:transparent;}"
                          "QMenu::item:selected{background:%4;color:%5;}"
                          "QMenu::item:disabled{color:%6;}"
                          "QMenu::separator{height:1px;background:%7;margin:3px 9px;}"
                          "QMenu::icon{padding-left:9px;}"
                          "QMenu::right-arrow{width:10px;height:10px;}")
        .arg(c("#2A2F3A", "#FFFFFF"), c("#3A404D", "#DCE1EB"), c("#E6E9F0", "#2E3440"), c("#333D52", "#EDF2FE"),
             c("#9FBEFF", "#2B5FD9"), c("#6B7280", "#A8AFBC"), c("#3A404D", "#E8ECF3"), uiFontFamily(),
             QString::number(windowCornerRadius(10)));
}

void applyThemedMenuStyle(QMenu* menu)
{
    if (!menu)
        return;
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    menu->setStyleSheet(themedMenuStyleSheet());
    followCompositing(menu, [] { return QColor(currentTheme().isDark ? 0x2A2F3A : 0xFFFFFF); });
}
