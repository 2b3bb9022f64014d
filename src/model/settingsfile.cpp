#include "model/settingsfile.h"

#include "model/buttonlayout.h"
#include "ui/settingsschema.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <limits>

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

namespace {

// A protection hash as stored: present but not a text, or beyond what the panel writes, can't be read; it keeps
// the protection on instead of silently ending it.
bool unreadableHash(const QJsonValue& v)
{
    if (v.isUndefined())
        return false;
    if (!v.isString())
        return true;
    const QString text = v.toString();
    return text != QLatin1String(kUnreadablePasswordHash) && !passwordHashWithinBounds(text);
}

QString shown(const QJsonValue& v)
{
    QString text;
    switch (v.type()) {
    case QJsonValue::Array:
        text = QStringLiteral("(array)");
        break;
    case QJsonValue::Object:
        text = QStringLiteral("(object)");
        break;
    case QJsonValue::Null:
        text = QStringLiteral("null");
        break;
    case QJsonValue::Bool:
        text = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        break;
    case QJsonValue::String:
        text = QLatin1Char('"') + v.toString().left(40) + QLatin1Char('"');
        break;
    default:
        text = QString::number(v.toDouble(), 'g', 17);
    }
    return text;
}

// Of an array meant to hold `count` entries of one kind: true when some entry is not of that kind.
template <typename Pred> bool arrayHasForeign(const QJsonValue& v, Pred ok)
{
    if (!v.isArray())
        return true;
    for (const QJsonValue& e : v.toArray())
        if (!ok(e))
            return true;
    return false;
}

} // namespace

QStringList settingsValuesChangedOnLoad(const QJsonObject& o)
{
    QStringList out;
    auto note = [&](const char* key, const QJsonValue& v, const char* why) {
        out.append(QStringLiteral("%1 = %2 (%3)").arg(QLatin1String(key), shown(v), QLatin1String(why)));
    };
    const AppSettings defaults;
    for (const IntKey& f : intKeys()) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (v.isUndefined())
            continue;
        constexpr qint64 kNone = std::numeric_limits<qint64>::min();
        const qint64 n = v.toInteger(kNone);
        if (n == kNone)
            note(f.key, v, "not a whole number");
        else if (f.fromStored(v, defaults.*f.member) != n)
            note(f.key, v, "out of range");
    }
    for (const BoolKey& f : boolKeys()) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (!v.isUndefined() && !v.isBool())
            note(f.key, v, "not true or false");
    }
    for (const StringKey& f : stringKeys()) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (v.isUndefined())
            continue;
        if (f.member == &AppSettings::protectPasswordHash) {
            if (unreadableHash(v))
                note(f.key, v, "unreadable password hash, protection kept");
        } else if (!v.isString()) {
            note(f.key, v, "not a text");
        } else if (f.bound(v.toString()) != v.toString()) {
            note(f.key, v, "too long");
        }
    }
    const QJsonValue legacy = o.value(QLatin1String(kLegacyPasswordHash));
    if (unreadableHash(legacy))
        note(kLegacyPasswordHash, legacy, "unreadable password hash, protection kept");
    for (const IconListKey& f : iconListKeys()) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (!v.isUndefined() && arrayHasForeign(v, [](const QJsonValue& e) { return e.isString(); }))
            note(f.key, v, "not a list of texts");
    }
    const QJsonValue visible = o.value(QLatin1String(kBtnVisible));
    if (!visible.isUndefined() && arrayHasForeign(visible, [](const QJsonValue& e) { return e.isBool(); }))
        note(kBtnVisible, visible, "not a list of true or false");
    for (const char* key : {kBtnLayoutTitle, kBtnLayoutBottom}) {
        const QJsonValue v = o.value(QLatin1String(key));
        QList<int> seen;
        const bool foreign = !v.isUndefined() && arrayHasForeign(v, [&seen](const QJsonValue& e) {
            const int id = e.toInt(-1);
            if (id < 0 || id >= AppSettings::kButtonCount || seen.contains(id))
                return false;
            seen.append(id);
            return true;
        });
        if (foreign)
            note(key, v, "not a list of button numbers");
    }
    const QJsonValue map = o.value(QLatin1String(kObfuscateMap));
    if (!map.isUndefined()) {
        bool foreign = !map.isObject();
        const QJsonObject m = map.toObject();
        for (auto it = m.constBegin(); !foreign && it != m.constEnd(); ++it)
            foreign = !it.value().isString();
        if (foreign)
            note(kObfuscateMap, map, "not a map of texts");
    }
    return out;
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
    const QJsonValue stored = o.value(QLatin1String("protectPasswordHash"));
    const QJsonValue legacy = o.value(QLatin1String(kLegacyPasswordHash));
    if (unreadableHash(stored))
        s.protectPasswordHash = QLatin1String(kUnreadablePasswordHash);
    else if (s.protectPasswordHash.isEmpty() && unreadableHash(legacy))
        s.protectPasswordHash = QLatin1String(kUnreadablePasswordHash);
    else if (s.protectPasswordHash.isEmpty() && !legacy.toString().isEmpty())
        s.protectPasswordHash = legacy.toString();

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
