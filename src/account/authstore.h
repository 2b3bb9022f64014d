#pragma once

#include <QString>

// The stored login session, "auth.json" in the data folder. The token and a remembered password never
// lie in the file as plain text: both are protected for the current user (platform/secret.h), each with
// a prefix naming its form, so a copy of the file read by another user or on another machine gives no
// session.

// The protected form of the session token: "dpapi1:" followed by the Base64 of the token's UTF-8 bytes
// protected for the current user. Empty when the token is empty or can't be protected.
QString protectSecret(const QString& text);

// The plain token of a stored value: empty for an empty value; a "dpapi1:" value is unprotected (empty
// when it decodes to nothing or can't be unprotected, e.g. copied from another user or machine); any
// other value is the plain token as it is.
QString unprotectSecret(const QString& stored);

// The protected form of a password: "DPAPI:" followed by the Base64 of the protected UTF-8 bytes. Empty
// when the password is empty or can't be protected: a password is never stored in a reversible plain
// form (the reason is logged).
QString protectString(const QString& text);

// The plain password of a stored value: a "DPAPI:" value is unprotected (empty when that fails); the
// older hex form (four hex digits per UTF-16 unit, XOR 0x3C96) is still read, so such a file keeps
// working until it is saved again; anything else gives an empty string.
QString unprotectString(const QString& stored);

// The session fields kept in "auth.json".
struct StoredSession
{
    QString token;
    QString username;
    QString password; // only kept when remember is set
    bool remember = false;
    bool autologin = false;
};

// The JSON text of "auth.json" (indented): {token, username, remember, autologin, pass}.
QByteArray authFileBytes(const StoredSession& session);

// Writes the session whole to the path. False with the user's message (Chinese, to pass through
// Lang::tr) and the reason for the log when the file can't be written; the old file then stays.
bool saveAuthFile(const QString& path, const StoredSession& session, QString* message, QString* error = nullptr);

// Reads the session from the path: an empty session when the file is missing or unreadable, or holds
// no JSON object (warning "loadAuth: bad JSON, ignored"; the file is left as it is).
StoredSession loadAuthFile(const QString& path);
