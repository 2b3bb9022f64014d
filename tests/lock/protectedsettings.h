#pragma once

#include "lock/passwordhash.h"
#include "ui/appsettings.h"

namespace ktr::test {

// A fully protected record: password "abcd" (one iteration), lock, obfuscation with one rule.
inline AppSettings protectedSettings(int epoch = 3)
{
    AppSettings s;
    s.protectPasswordHash = makePasswordHash(QStringLiteral("abcd"), 1);
    s.uiLocked = true;
    s.obfuscateEnabled = true;
    s.obfuscateMap.insert(QStringLiteral("/opt/a"), QStringLiteral("/opt/b"));
    s.progUnlockEpoch = epoch;
    return s;
}

} // namespace ktr::test
