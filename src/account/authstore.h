#pragma once

#include <QString>

// The protected form of the session token kept in "auth.json": "dpapi1:" followed by the Base64 of the
// token's UTF-8 bytes protected for the current user. Empty when the token is empty or can't be
// protected.
QString protectSecret(const QString& text);

// The plain token of a stored value: empty for an empty value; a "dpapi1:" value is unprotected (empty
// when it decodes to nothing or can't be unprotected, e.g. copied from another user or machine); any
// other value is the plain token as it is.
QString unprotectSecret(const QString& stored);
