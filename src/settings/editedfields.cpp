#include "settings/editedfields.h"

#include "ui/settingsschema.h"

namespace {

template <typename T>
void take(const AppSettings& base, const AppSettings& edited, AppSettings& live, T AppSettings::*member)
{
    if (!(edited.*member == base.*member))
        live.*member = edited.*member;
}

bool ownedElsewhere(const void* member, const AppSettings& s)
{
    return member == &s.uiLocked || member == &s.protectPasswordHash || member == &s.obfuscateEnabled ||
           member == &s.obfuscateMap || member == &s.lockBgPath || member == &s.progUnlockEpoch ||
           member == &s.backupLastAt;
}

template <typename T>
void follow(const AppSettings& base, AppSettings& edited, const AppSettings& live, T AppSettings::*member)
{
    if (!(live.*member == base.*member))
        edited.*member = live.*member;
}

} // namespace

void followLiveFields(AppSettings& base, AppSettings& edited, const AppSettings& live)
{
    using namespace settingsschema;
    for (const IntKey& k : intKeys())
        follow(base, edited, live, k.member);
    for (const BoolKey& k : boolKeys())
        follow(base, edited, live, k.member);
    for (const StringKey& k : stringKeys())
        follow(base, edited, live, k.member);
    for (const IconListKey& k : iconListKeys())
        follow(base, edited, live, k.member);
    follow(base, edited, live, &AppSettings::btnVisible);
    follow(base, edited, live, &AppSettings::btnLayoutTitle);
    follow(base, edited, live, &AppSettings::btnLayoutBottom);
    follow(base, edited, live, &AppSettings::obfuscateMap);
    base = live;
}

void writeEditedFields(const AppSettings& base, const AppSettings& edited, AppSettings& live)
{
    using namespace settingsschema;
    const AppSettings probe;
    for (const IntKey& k : intKeys())
        if (!ownedElsewhere(&(probe.*k.member), probe))
            take(base, edited, live, k.member);
    for (const BoolKey& k : boolKeys())
        if (!ownedElsewhere(&(probe.*k.member), probe))
            take(base, edited, live, k.member);
    for (const StringKey& k : stringKeys())
        if (!ownedElsewhere(&(probe.*k.member), probe))
            take(base, edited, live, k.member);
    for (const IconListKey& k : iconListKeys())
        take(base, edited, live, k.member);
    take(base, edited, live, &AppSettings::btnVisible);
    take(base, edited, live, &AppSettings::btnLayoutTitle);
    take(base, edited, live, &AppSettings::btnLayoutBottom);
}
