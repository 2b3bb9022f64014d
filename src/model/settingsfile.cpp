#include "model/settingsfile.h"

#include "model/buttonlayout.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

// How an integer member is made valid on reading.
enum class IntRule {
    Clamp,    // clamped to min..max
    Mask,     // a colour: only the low 24 bits are kept
    Flag,     // 1 when greater than 0, else 0
    Unbounded // stored as read (within the range of int)
};

struct IntField
{
    const char* key;
    int AppSettings::*member;
    IntRule rule;
    int min = 0;
    int max = 0;
};

struct BoolField
{
    const char* key;
    bool AppSettings::*member;
};

struct StringField
{
    const char* key;
    QString AppSettings::*member;
    int maxLength = -1; // -1 = no limit
};

using Icons = std::array<QString, AppSettings::kButtonCount>;

struct IconField
{
    const char* key;
    Icons AppSettings::*member;
};

const IntField kIntFields[] = {
    {"iconSize", &AppSettings::iconSize, IntRule::Clamp, 32, 96},
    {"iconSizePortrait", &AppSettings::iconSizePortrait, IntRule::Clamp, 32, 60},
    {"cornerRadius", &AppSettings::cornerRadius, IntRule::Clamp, 0, 24},
    {"opacity", &AppSettings::opacity, IntRule::Clamp, 0, 100},
    {"language", &AppSettings::language, IntRule::Flag},
    {"snapRevealPx", &AppSettings::snapRevealPx, IntRule::Clamp, 0, 24},
    {"revealMethod", &AppSettings::revealMethod, IntRule::Clamp, 0, 4},
    {"updateChannel", &AppSettings::updateChannel, IntRule::Flag},
    {"titleBarColor", &AppSettings::titleBarColor, IntRule::Clamp, 0, 6},
    {"titleBarCustomRgb", &AppSettings::titleBarCustomRgb, IntRule::Mask},
    {"titleBarOpacity", &AppSettings::titleBarOpacity, IntRule::Clamp, 0, 100},
    {"bottomBarColor", &AppSettings::bottomBarColor, IntRule::Clamp, 0, 6},
    {"bottomBarCustomRgb", &AppSettings::bottomBarCustomRgb, IntRule::Mask},
    {"bottomBarOpacity", &AppSettings::bottomBarOpacity, IntRule::Clamp, 0, 100},
    {"midColor", &AppSettings::midColor, IntRule::Clamp, 0, 6},
    {"midCustomRgb", &AppSettings::midCustomRgb, IntRule::Mask},
    {"midOpacity", &AppSettings::midOpacity, IntRule::Clamp, 0, 100},
    {"bgImageOpacity", &AppSettings::bgImageOpacity, IntRule::Clamp, 0, 100},
    {"bgImageOpacityPortrait", &AppSettings::bgImageOpacityPortrait, IntRule::Clamp, 0, 100},
    {"borderColor", &AppSettings::borderColor, IntRule::Clamp, 0, 6},
    {"borderCustomRgb", &AppSettings::borderCustomRgb, IntRule::Mask},
    {"borderOpacity", &AppSettings::borderOpacity, IntRule::Clamp, 0, 100},
    {"textColor", &AppSettings::textColor, IntRule::Clamp, 0, 6},
    {"textCustomRgb", &AppSettings::textCustomRgb, IntRule::Mask},
    {"textOpacity", &AppSettings::textOpacity, IntRule::Clamp, 0, 100},
    {"dividerColor", &AppSettings::dividerColor, IntRule::Clamp, 0, 6},
    {"dividerCustomRgb", &AppSettings::dividerCustomRgb, IntRule::Mask},
    {"dividerWidth", &AppSettings::dividerWidth, IntRule::Clamp, 0, 4},
    {"dividerOpacity", &AppSettings::dividerOpacity, IntRule::Clamp, 0, 100},
    {"hoverMode", &AppSettings::hoverMode, IntRule::Flag},
    {"hoverColor", &AppSettings::hoverColor, IntRule::Clamp, 0, 6},
    {"hoverCustomRgb", &AppSettings::hoverCustomRgb, IntRule::Mask},
    {"hoverOpacity", &AppSettings::hoverOpacity, IntRule::Clamp, 0, 100},
    {"monitorMaxMB", &AppSettings::monitorMaxMB, IntRule::Clamp, 10, 512},
    {"monitorIdleSec", &AppSettings::monitorIdleSec, IntRule::Clamp, 10, 600},
    {"monitorTrigger", &AppSettings::monitorTrigger, IntRule::Clamp, 0, 2},
    {"monitorFormat", &AppSettings::monitorFormat, IntRule::Flag},
    {"monitorFps", &AppSettings::monitorFps, IntRule::Clamp, 2, 60},
    {"progUnlockEpoch", &AppSettings::progUnlockEpoch, IntRule::Unbounded},
    {"backupIntervalDays", &AppSettings::backupIntervalDays, IntRule::Clamp, 1, 30},
    {"backupRetain", &AppSettings::backupRetain, IntRule::Clamp, 10, 100},
};

const BoolField kBoolFields[] = {
    {"startPinned", &AppSettings::startPinned},
    {"rememberGeometry", &AppSettings::rememberGeometry},
    {"closeToTray", &AppSettings::closeToTray},
    {"minimizeToTray", &AppSettings::minimizeToTray},
    {"autoStart", &AppSettings::autoStart},
    {"showItemNames", &AppSettings::showItemNames},
    {"darkTheme", &AppSettings::darkTheme},
    {"horizontalGroups", &AppSettings::horizontalGroups},
    {"singleClickOpen", &AppSettings::singleClickOpen},
    {"edgeSnap", &AppSettings::edgeSnap},
    {"autoClassify", &AppSettings::autoClassify},
    {"clickThroughAtZero", &AppSettings::clickThroughAtZero},
    {"showTitle", &AppSettings::showTitle},
    {"showLogo", &AppSettings::showLogo},
    {"showNewGroupBtn", &AppSettings::showNewGroupBtn},
    {"uiLocked", &AppSettings::uiLocked},
    {"obfuscateEnabled", &AppSettings::obfuscateEnabled},
    {"backupAuto", &AppSettings::backupAuto},
};

const StringField kStringFields[] = {
    {"summonHotkey", &AppSettings::summonHotkey},
    {"skippedVersion", &AppSettings::skippedVersion},
    {"customTitle", &AppSettings::customTitle, 24},
    {"customLogoPath", &AppSettings::customLogoPath},
    {"appIconPath", &AppSettings::appIconPath},
    {"bgImagePath", &AppSettings::bgImagePath},
    {"bgImagePortrait", &AppSettings::bgImagePortrait},
    {"fontFamily", &AppSettings::fontFamily},
    {"lockBgPath", &AppSettings::lockBgPath},
    {"monitorDir", &AppSettings::monitorDir},
    {"protectPasswordHash", &AppSettings::protectPasswordHash},
    {"backupDir", &AppSettings::backupDir},
    {"backupLastAt", &AppSettings::backupLastAt},
};

const IconField kIconFields[] = {
    {"btnIcons", &AppSettings::btnIcons},
    {"btnIconsHover", &AppSettings::btnIconsHover},
    {"btnIconsActive", &AppSettings::btnIconsActive},
    {"btnIconsNight", &AppSettings::btnIconsNight},
};

const char kBtnVisible[] = "btnVisible";
const char kBtnLayoutTitle[] = "btnLayoutTitle";
const char kBtnLayoutBottom[] = "btnLayoutBottom";
const char kObfuscateMap[] = "obfuscateMap";
const char kGeometry[] = "geometry";
const char kLegacyPasswordHash[] = "uiPasswordHash";
constexpr int kSettingsButtonId = 1; // the settings button can never be hidden

int readInt(const QJsonValue& value, const IntField& field, int fallback)
{
    // toInteger gives the fallback for anything but a whole number within 64 bits.
    constexpr qint64 kNone = std::numeric_limits<qint64>::min();
    const qint64 v = value.toInteger(kNone);
    if (v == kNone)
        return fallback;
    switch (field.rule) {
    case IntRule::Clamp:
        return int(std::clamp<qint64>(v, field.min, field.max));
    case IntRule::Mask:
        return int(v & 0xFFFFFF);
    case IntRule::Flag:
        return v > 0 ? 1 : 0;
    case IntRule::Unbounded:
        return (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) ? fallback : int(v);
    }
    return fallback;
}

QJsonArray intArray(const QList<int>& list)
{
    QJsonArray a;
    for (int v : list)
        a.append(v);
    return a;
}

} // namespace

QJsonObject settingsToJson(const AppSettings& s, const QSize& windowSize)
{
    QJsonObject o;
    for (const IntField& f : kIntFields)
        o.insert(QLatin1String(f.key), s.*f.member);
    for (const BoolField& f : kBoolFields)
        o.insert(QLatin1String(f.key), s.*f.member);
    for (const StringField& f : kStringFields)
        o.insert(QLatin1String(f.key), s.*f.member);
    for (const IconField& f : kIconFields) {
        QJsonArray a;
        for (const QString& icon : s.*f.member)
            a.append(icon);
        o.insert(QLatin1String(f.key), a);
    }
    QJsonArray visible;
    for (bool v : s.btnVisible)
        visible.append(v);
    o.insert(QLatin1String(kBtnVisible), visible);
    o.insert(QLatin1String(kBtnLayoutTitle), intArray(s.btnLayoutTitle));
    o.insert(QLatin1String(kBtnLayoutBottom), intArray(s.btnLayoutBottom));
    QJsonObject map;
    for (auto it = s.obfuscateMap.cbegin(); it != s.obfuscateMap.cend(); ++it)
        map.insert(it.key(), it.value());
    o.insert(QLatin1String(kObfuscateMap), map);
    o.insert(QLatin1String(kGeometry), QJsonArray{windowSize.width(), windowSize.height()});
    return o;
}

QByteArray serializeSettings(const AppSettings& settings, const QSize& windowSize)
{
    return QJsonDocument(settingsToJson(settings, windowSize)).toJson(QJsonDocument::Indented);
}

void settingsFromJson(const QJsonObject& o, AppSettings& s, QSize& savedSize)
{
    const AppSettings defaults;
    for (const IntField& f : kIntFields)
        s.*f.member = readInt(o.value(QLatin1String(f.key)), f, defaults.*f.member);
    for (const BoolField& f : kBoolFields)
        s.*f.member = o.value(QLatin1String(f.key)).toBool(defaults.*f.member);
    for (const StringField& f : kStringFields) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        QString text = v.isString() ? v.toString() : defaults.*f.member;
        if (f.maxLength >= 0 && text.size() > f.maxLength)
            text.truncate(f.maxLength);
        s.*f.member = text;
    }
    // Older files kept the protection password under another name.
    const QString legacyHash = o.value(QLatin1String(kLegacyPasswordHash)).toString();
    if (s.protectPasswordHash.isEmpty() && !legacyHash.isEmpty())
        s.protectPasswordHash = legacyHash;

    const QJsonArray geometry = o.value(QLatin1String(kGeometry)).toArray();
    if (geometry.size() == 2)
        savedSize = QSize(geometry.at(0).toInt(0), geometry.at(1).toInt(0));

    const QJsonArray visible = o.value(QLatin1String(kBtnVisible)).toArray();
    for (int i = 0; i < std::min<int>(int(visible.size()), AppSettings::kButtonCount); ++i)
        s.btnVisible[size_t(i)] = visible.at(i).toBool(true);
    s.btnVisible[kSettingsButtonId] = true;

    for (const IconField& f : kIconFields) {
        const QJsonArray a = o.value(QLatin1String(f.key)).toArray();
        for (int i = 0; i < std::min<int>(int(a.size()), AppSettings::kButtonCount); ++i)
            (s.*f.member)[size_t(i)] = a.at(i).toString();
    }

    s.obfuscateMap.clear();
    const QJsonObject map = o.value(QLatin1String(kObfuscateMap)).toObject();
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        s.obfuscateMap.insert(it.key(), it.value().toString());

    readButtonLayout(o, QLatin1String(kBtnLayoutTitle), s.btnLayoutTitle);
    readButtonLayout(o, QLatin1String(kBtnLayoutBottom), s.btnLayoutBottom);
    normalizeButtonLayouts(s.btnLayoutTitle, s.btnLayoutBottom);
}
