#include "ui/settingsschema.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace settingsschema {

namespace {

using S = AppSettings;

const IntKey kIntKeys[] = {
    {"iconSize", &S::iconSize, Rule::Clamp, 32, 96},
    {"iconSizePortrait", &S::iconSizePortrait, Rule::Clamp, 32, 60},
    {"cornerRadius", &S::cornerRadius, Rule::Clamp, 0, 24},
    {"opacity", &S::opacity, Rule::Clamp, 0, 100},
    {"language", &S::language, Rule::Flag, 0, 1},
    {"snapRevealPx", &S::snapRevealPx, Rule::Clamp, 0, 24},
    {"revealMethod", &S::revealMethod, Rule::Enum, 0, 4},
    {"updateChannel", &S::updateChannel, Rule::Flag, 0, 1},
    {"titleBarColor", &S::titleBarColor, Rule::Enum, 0, 6},
    {"titleBarCustomRgb", &S::titleBarCustomRgb, Rule::Colour, 0, 0xFFFFFF},
    {"titleBarOpacity", &S::titleBarOpacity, Rule::Clamp, 0, 100},
    {"bottomBarColor", &S::bottomBarColor, Rule::Enum, 0, 6},
    {"bottomBarCustomRgb", &S::bottomBarCustomRgb, Rule::Colour, 0, 0xFFFFFF},
    {"bottomBarOpacity", &S::bottomBarOpacity, Rule::Clamp, 0, 100},
    {"midColor", &S::midColor, Rule::Enum, 0, 6},
    {"midCustomRgb", &S::midCustomRgb, Rule::Colour, 0, 0xFFFFFF},
    {"midOpacity", &S::midOpacity, Rule::Clamp, 0, 100},
    {"bgImageOpacity", &S::bgImageOpacity, Rule::Clamp, 0, 100},
    {"bgImageOpacityPortrait", &S::bgImageOpacityPortrait, Rule::Clamp, 0, 100},
    {"borderColor", &S::borderColor, Rule::Enum, 0, 6},
    {"borderCustomRgb", &S::borderCustomRgb, Rule::Colour, 0, 0xFFFFFF},
    {"borderOpacity", &S::borderOpacity, Rule::Clamp, 0, 100},
    {"textColor", &S::textColor, Rule::Enum, 0, 6},
    {"textCustomRgb", &S::textCustomRgb, Rule::Colour, 0, 0xFFFFFF},
    {"textOpacity", &S::textOpacity, Rule::Clamp, 0, 100},
    {"dividerColor", &S::dividerColor, Rule::Enum, 0, 6},
    {"dividerCustomRgb", &S::dividerCustomRgb, Rule::Colour, 0, 0xFFFFFF},
    {"dividerWidth", &S::dividerWidth, Rule::Clamp, 0, 4},
    {"dividerOpacity", &S::dividerOpacity, Rule::Clamp, 0, 100},
    {"hoverMode", &S::hoverMode, Rule::Flag, 0, 1},
    {"hoverColor", &S::hoverColor, Rule::Enum, 0, 6},
    {"hoverCustomRgb", &S::hoverCustomRgb, Rule::Colour, 0, 0xFFFFFF},
    {"hoverOpacity", &S::hoverOpacity, Rule::Clamp, 0, 100},
    {"monitorMaxMB", &S::monitorMaxMB, Rule::Clamp, 10, 512},
    {"monitorIdleSec", &S::monitorIdleSec, Rule::Clamp, 10, 600},
    {"monitorTrigger", &S::monitorTrigger, Rule::Enum, 0, 2},
    {"monitorFormat", &S::monitorFormat, Rule::Flag, 0, 1},
    {"monitorFps", &S::monitorFps, Rule::Clamp, 2, 60},
    {"progUnlockEpoch", &S::progUnlockEpoch, Rule::Unbounded, std::numeric_limits<int>::min(),
     std::numeric_limits<int>::max()},
    // A stored 0 or less means "every day".
    {"backupIntervalDays", &S::backupIntervalDays, Rule::Clamp, 1, 30},
    {"backupRetain", &S::backupRetain, Rule::Clamp, 10, 100},
};

const BoolKey kBoolKeys[] = {
    {"startPinned", &S::startPinned},
    {"rememberGeometry", &S::rememberGeometry},
    {"closeToTray", &S::closeToTray},
    {"minimizeToTray", &S::minimizeToTray},
    {"autoStart", &S::autoStart},
    {"showItemNames", &S::showItemNames},
    {"darkTheme", &S::darkTheme},
    {"horizontalGroups", &S::horizontalGroups},
    {"singleClickOpen", &S::singleClickOpen},
    {"edgeSnap", &S::edgeSnap},
    {"autoClassify", &S::autoClassify},
    {"clickThroughAtZero", &S::clickThroughAtZero},
    {"showTitle", &S::showTitle},
    {"showLogo", &S::showLogo},
    {"showNewGroupBtn", &S::showNewGroupBtn},
    {"uiLocked", &S::uiLocked},
    {"obfuscateEnabled", &S::obfuscateEnabled},
    {"backupAuto", &S::backupAuto},
};

const StringKey kStringKeys[] = {
    {"summonHotkey", &S::summonHotkey},
    {"skippedVersion", &S::skippedVersion},
    {"customTitle", &S::customTitle, Rule::Truncate, 24},
    {"customLogoPath", &S::customLogoPath},
    {"appIconPath", &S::appIconPath},
    {"bgImagePath", &S::bgImagePath},
    {"bgImagePortrait", &S::bgImagePortrait},
    {"fontFamily", &S::fontFamily},
    {"lockBgPath", &S::lockBgPath},
    {"monitorDir", &S::monitorDir},
    {"protectPasswordHash", &S::protectPasswordHash},
    {"backupDir", &S::backupDir},
    {"backupLastAt", &S::backupLastAt},
};

const IconListKey kIconListKeys[] = {
    {"btnIcons", &S::btnIcons},
    {"btnIconsHover", &S::btnIconsHover},
    {"btnIconsActive", &S::btnIconsActive},
    {"btnIconsNight", &S::btnIconsNight},
};

} // namespace

int IntKey::bound(qint64 v) const
{
    switch (rule) {
    case Rule::Colour:
        return int(v & 0xFFFFFF);
    case Rule::Flag:
        return v > 0 ? 1 : 0;
    case Rule::Unbounded:
        return int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    default:
        return int(std::clamp<qint64>(v, min, max));
    }
}

int IntKey::fromStored(const QJsonValue& value, int fallback) const
{
    // toInteger gives the fallback for anything but a whole number within 64 bits.
    constexpr qint64 kNone = std::numeric_limits<qint64>::min();
    const qint64 v = value.toInteger(kNone);
    if (v == kNone)
        return fallback;
    // A stored epoch beyond int is damage, not a far future: keep the default.
    if (rule == Rule::Unbounded && (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()))
        return fallback;
    return bound(v);
}

QString StringKey::bound(QString text) const
{
    if (rule == Rule::Truncate && maxLength >= 0 && text.size() > maxLength)
        text.truncate(maxLength);
    return text;
}

bool passwordHashWithinBounds(const QString& hash)
{
    // Text that is no hash at all matches no password and costs nothing to refuse; only what would make a check
    // dearer than one the panel writes is out of bounds.
    if (hash.size() > 512)
        return false;
    const QStringList parts = hash.split(QLatin1Char('$'), Qt::KeepEmptyParts);
    if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2"))
        return true;
    bool ok = false;
    const qint64 iterations = parts[1].toLongLong(&ok, 10);
    if (ok && iterations > kMaxPasswordHashIterations)
        return false;
    return parts[2].size() <= 2 * kMaxPasswordHashSaltBytes && parts[3].size() <= 2 * kPasswordHashKeyBytes;
}

std::span<const IntKey> intKeys()
{
    return kIntKeys;
}

std::span<const BoolKey> boolKeys()
{
    return kBoolKeys;
}

std::span<const StringKey> stringKeys()
{
    return kStringKeys;
}

std::span<const IconListKey> iconListKeys()
{
    return kIconListKeys;
}

const IntKey* intKey(int AppSettings::*member)
{
    for (const IntKey& k : kIntKeys)
        if (k.member == member)
            return &k;
    return nullptr;
}

const IntKey* intKey(const QString& key)
{
    for (const IntKey& k : kIntKeys)
        if (key == QLatin1String(k.key))
            return &k;
    return nullptr;
}

} // namespace settingsschema
