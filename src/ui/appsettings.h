#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include <array>

// The reveal gesture a new user starts with (revealMethod): on X11 a middle click pastes, so there it is the
// middle button held (3), elsewhere a middle press (1). platform is a Qt platform name ("xcb", "offscreen").
int defaultRevealMethod(const QString& platform);
// The same for the platform this process runs on.
int defaultRevealMethod();

// Every user preference of the panel, as one plain value. The default constructor holds every
// default; the record itself clamps nothing (reading "settings.json" does). Colour-kind fields take
// 0..6 (0 = the palette's colour, 1..5 fixed colours, 6 = the paired ...CustomRgb); ...CustomRgb
// fields hold 0xRRGGBB; opacities are percentages.
struct AppSettings
{
    static constexpr int kButtonCount = 11;

    bool startPinned = false;
    bool rememberGeometry = true;
    bool closeToTray = true;
    bool minimizeToTray = true;
    bool autoStart = true;
    int iconSize = 50;
    int iconSizePortrait = 40;
    bool showItemNames = true;
    int cornerRadius = 8;
    int opacity = 100;
    bool darkTheme = false;
    int language = 0;
    bool horizontalGroups = false;
    bool singleClickOpen = true;
    bool edgeSnap = true;
    int snapRevealPx = 1;
    int revealMethod = defaultRevealMethod();
    QString summonHotkey = QStringLiteral("Ctrl+Alt+G");
    bool autoClassify = false;
    int updateChannel = 0;
    QString skippedVersion;
    int titleBarColor = 0;
    int titleBarCustomRgb = 0x2F6FBF;
    int titleBarOpacity = 100;
    int bottomBarColor = 0;
    int bottomBarCustomRgb = 0x2F6FBF;
    int bottomBarOpacity = 100;
    int midColor = 0;
    int midCustomRgb = 0x2F6FBF;
    int midOpacity = 100;
    bool clickThroughAtZero = false;
    QString customTitle;
    QString customLogoPath;
    QString appIconPath;
    QString bgImagePath;
    int bgImageOpacity = 100;
    QString bgImagePortrait;
    int bgImageOpacityPortrait = 100;
    int borderColor = 0;
    int borderCustomRgb = 0xC6C9D2;
    int borderOpacity = 100;
    bool showTitle = true;
    bool showLogo = true;
    int textColor = 0;
    int textCustomRgb = 0x39404C;
    int textOpacity = 100;
    QString fontFamily;
    int dividerColor = 0;
    int dividerCustomRgb = 0xC6C9D2;
    int dividerWidth = 1;
    int dividerOpacity = 50;
    int hoverMode = 1;
    int hoverColor = 0;
    int hoverCustomRgb = 0x2F6FBF;
    int hoverOpacity = 100;
    std::array<bool, kButtonCount> btnVisible = {true, true, true, true, true, true, true, true, true, true, true};
    std::array<QString, kButtonCount> btnIcons;
    std::array<QString, kButtonCount> btnIconsHover;
    std::array<QString, kButtonCount> btnIconsActive;
    std::array<QString, kButtonCount> btnIconsNight;
    bool showNewGroupBtn = true;
    QList<int> btnLayoutTitle = {0, 1, 2, 3, 4};
    QList<int> btnLayoutBottom = {10, 9, 8, 7, 6, 5};
    bool uiLocked = false;
    QString lockBgPath;
    QString monitorDir;
    int monitorMaxMB = 100;
    int monitorIdleSec = 30;
    int monitorTrigger = 0;
    int monitorFormat = 1;
    int monitorFps = 59;
    int progUnlockEpoch = 0;
    QString protectPasswordHash;
    QMap<QString, QString> obfuscateMap;
    bool obfuscateEnabled = false;
    bool backupAuto = true;
    int backupIntervalDays = 1;
    int backupRetain = 10;
    QString backupDir;
    QString backupLastAt;

    bool operator==(const AppSettings&) const = default;
};
