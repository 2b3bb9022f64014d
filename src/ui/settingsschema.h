#pragma once

#include "ui/appsettings.h"

#include <QJsonValue>
#include <QString>

#include <span>

// The one description of every AppSettings field: its key in "settings.json" (the field's name), its
// default (the default-constructed record's value) and the rule that makes a stored value valid. The
// settings file reader and the settings dialog's controls read their ranges here, so the two can't drift.
namespace settingsschema {

enum class Rule {
    Plain,        // taken as stored (booleans, free text)
    Clamp,        // an integer bounded to min..max
    Enum,         // an index into a list of named choices 0..max, bounded like Clamp
    Flag,         // an integer stored as 1 when above 0, else 0
    Colour,       // 0xRRGGBB: only the low 24 bits are kept
    Unbounded,    // any int, as stored
    Truncate,     // text cut to maxLength characters
    ButtonArray,  // one entry per button id 0..10; the first min(n, 11) stored entries are read
    ButtonLayout, // a list of button ids, normalised across both bars
    StringMap,    // an object of text to text, copied whole
};

struct IntKey
{
    const char* key;
    int AppSettings::*member;
    Rule rule;
    int min = 0;
    int max = 0;

    int defaultValue() const { return AppSettings().*member; }
    // The stored number made valid; `fallback` for anything that is not a whole number.
    int fromStored(const QJsonValue& value, int fallback) const;
    // A value from the program (a slider, a menu) made valid the same way.
    int bound(qint64 value) const;
};

struct BoolKey
{
    const char* key;
    bool AppSettings::*member;
    Rule rule = Rule::Plain;

    bool defaultValue() const { return AppSettings().*member; }
};

struct StringKey
{
    const char* key;
    QString AppSettings::*member;
    Rule rule = Rule::Plain;
    int maxLength = -1; // Truncate only

    QString defaultValue() const { return AppSettings().*member; }
    QString bound(QString text) const;
};

using ButtonIcons = std::array<QString, AppSettings::kButtonCount>;

struct IconListKey
{
    const char* key;
    ButtonIcons AppSettings::*member;
    Rule rule = Rule::ButtonArray;
};

std::span<const IntKey> intKeys();
std::span<const BoolKey> boolKeys();
std::span<const StringKey> stringKeys();
std::span<const IconListKey> iconListKeys();

// The remaining fields, each with a rule of its own in the reader.
inline constexpr const char kBtnVisible[] = "btnVisible";           // ButtonArray; the settings button stays visible
inline constexpr const char kBtnLayoutTitle[] = "btnLayoutTitle";   // ButtonLayout
inline constexpr const char kBtnLayoutBottom[] = "btnLayoutBottom"; // ButtonLayout
inline constexpr const char kObfuscateMap[] = "obfuscateMap";       // StringMap
// Read into protectPasswordHash when that is empty; never written.
inline constexpr const char kLegacyPasswordHash[] = "uiPasswordHash";
inline constexpr int kAlwaysVisibleButton = 1; // the settings button

// What a protection hash that is present but can't be read becomes: non-empty, so the protection stays on,
// and matched by no password, so only the account unlock or the forgotten-password path end it.
inline constexpr const char kUnreadablePasswordHash[] = "unreadable";
// The bounds of the hashes the panel writes: more rounds or a longer key only make each check slower.
inline constexpr int kMaxPasswordHashIterations = 100000;
inline constexpr int kPasswordHashKeyBytes = 32; // at most
inline constexpr int kMaxPasswordHashSaltBytes = 64;
// False when checking a password against the hash would cost more than against one the panel writes (more
// rounds, a longer key or salt, an overlong text); true otherwise, for malformed text too (it matches nothing).
bool passwordHashWithinBounds(const QString& hash);

// The entry of a field; nullptr for a field of another type.
const IntKey* intKey(int AppSettings::*member);
const IntKey* intKey(const QString& key);

} // namespace settingsschema
