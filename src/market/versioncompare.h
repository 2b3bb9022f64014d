#pragma once

#include <QString>

// Order of dotted version texts such as 1.0.250, 2.1.0-beta or 3.0-rc2. A part is compared by its
// leading number first (saturating at 2147483647), then by what follows it: a part with a suffix is
// lower than the same number without one, numeric suffixes compare as numbers and sort before text
// suffixes, text suffixes compare by code unit. Missing parts count as "0".

// True when `a` is lower than `b`; any text is accepted.
bool compareVersions(const QString& a, const QString& b);

// True when both texts are well-formed versions (1 to 8 dot-separated parts, each starting with a digit
// and either all digits or continuing with "-") and `a` is newer than `b`.
bool compareValidVersions(const QString& a, const QString& b);

// The well-formedness test of compareValidVersions.
bool isWellFormedVersion(const QString& text);
