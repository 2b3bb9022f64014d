#include "model/settingsfile.h"

#include "model/buttonlayout.h"
#include "ui/settingsschema.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

// Keys, defaults and rules of the record's fields.
using namespace settingsschema;

namespace {

const char kGeometry[] = "geometry";

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
    for (const IntKey& f : intKeys())
        o.insert(QLatin1String(f.key), s.*f.member);
    for (const BoolKey& f : boolKeys())
        o.insert(QLatin1String(f.key), s.*f.member);
    for (const StringKey& f : stringKeys())
        o.insert(QLatin1String(f.key), s.*f.member);
    for (const IconListKey& f : iconListKeys()) {
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
    for (const IntKey& f : intKeys())
        s.*f.member = f.fromStored(o.value(QLatin1String(f.key)), defaults.*f.member);
    for (const BoolKey& f : boolKeys())
        s.*f.member = o.value(QLatin1String(f.key)).toBool(defaults.*f.member);
    for (const StringKey& f : stringKeys()) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        s.*f.member = f.bound(v.isString() ? v.toString() : defaults.*f.member);
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
    s.btnVisible[kAlwaysVisibleButton] = true;

    for (const IconListKey& f : iconListKeys()) {
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
