#pragma once

#include <QColor>
#include <QList>
#include <QPainterPath>
#include <QPixmap>
#include <QPointF>
#include <QString>

class QPainter;

namespace ktr::platform {
class Clock;
}

// The eleven panel buttons, known by their id 0..10. Any of them can sit on the title bar (zone 0)
// or on the bottom bar (zone 1).
namespace UiBtn {
enum Id {
    Orientation = 0, // 横竖切换
    Settings = 1,    // 设置: always visible; on the title bar it opens the gear menu
    Pin = 2,         // 置顶
    Minimize = 3,    // 最小化
    Close = 4,       // 关闭
    Market = 5,      // 应用市场
    ThemeSwitch = 6, // 主题切换
    Feedback = 7,    // 反馈中心
    Lock = 8,        // 界面锁定
    Monitor = 9,     // 屏幕监控
    Obfuscate = 10,  // 混淆保护
};
constexpr int kCount = 11;
constexpr int kZoneTitle = 0;
constexpr int kZoneBottom = 1;

inline bool isValid(int id)
{
    return id >= 0 && id < kCount;
}
QList<int> defaultTitleLayout();  // [0, 1, 2, 3, 4]
QList<int> defaultBottomLayout(); // [10, 9, 8, 7, 6, 5]
} // namespace UiBtn

// The translated name of a button (tool tips, settings); empty for an id outside 0..10.
QString uiBtnName(int id);

// True on the application's thread. Anywhere else (or without an application object) it logs
// "[UiBtn] <tag> called off GUI thread, ignored" and returns false.
bool uiBtnGuiThreadCheck(const char* tag);

// A user's button image, scaled into a square of logicalSize at the given pixel ratio and cached
// process-wide under a key that includes the file's time and size. A file that failed to load is not
// read again while it is among the 255 most recent failures. Null on failure or off the GUI thread.
QPixmap loadUiBtnCustomIcon(const QString& path, int logicalSize, qreal devicePixelRatio);

// Draws the glyph of button id centred at centre, in glyph units (about 12 across; callers scale the
// painter). state: id 0 portrait, 2 pinned, 6 dark theme (moon), 9 recording, 10 protection on.
// animate: the pointer hovers (ids 1 and 6) or the protection animation runs (id 10).
void drawUiBtnGlyph(QPainter* painter, int id, const QPointF& centre, const QColor& color, bool state, bool animate);

// Freeze the animations at a phase in 0..1; a negative phase follows the clock again.
void setGlyphSpinPhase(double phase);   // gear, sun, moon
void setGlyphShieldPhase(double phase); // shield arrows
// The clock the animations and the recording blink follow; nullptr restores the system clock.
void setGlyphClock(ktr::platform::Clock* clock);

// The moon's outline: the circle of radius R about centre minus the bite circle of radius r whose
// centre lies at centre + biteOffset.
QPainterPath crescentPath(const QPointF& centre, double R, double r, const QPointF& biteOffset);

// Distance between two angles in degrees, 0..180.
double angleDistance(double a, double b);

// How many times the gear has been stroked into its cached image (it is redrawn only when the
// colour changes).
int uiBtnGearRenderCount();
