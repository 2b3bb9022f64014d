#pragma once

#include <QString>

// The one stored form of the protection password (also the interface-lock password): a salted
// PBKDF2-HMAC-SHA-256 key, "pbkdf2$<iterations>$<salt hex>$<key hex>". Older files hold "<salt>$<sha256 hex of
// salt + password>", which still verifies; whoever has just verified a password against that form stores a
// fresh hash in its place. Pure functions, safe on any thread.

// A new hash with a fresh random salt and 100,000 iterations.
QString makePasswordHash(const QString& password);
// The same with a chosen iteration count (tests, so they need not spend 100,000 rounds on every case).
QString makePasswordHash(const QString& password, int iterations);
// True when the password matches the stored hash in either form; false for an empty or malformed hash.
bool verifyPasswordHash(const QString& storedHash, const QString& password);
// True when the stored string is not of the current form (ask only after a successful verify).
bool isLegacyPasswordHash(const QString& storedHash);
