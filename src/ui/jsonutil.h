#pragma once

#include <QByteArray>
#include <QJsonObject>

class QNetworkReply;

// Both helpers reset `out` first and accept only a well-formed document whose top level is an object;
// every rejection is logged with the "[jsonutil]" prefix. Nothing is thrown or shown to the user.

// Parses UTF-8 JSON text. True when `out` holds the document's top-level object.
bool parseJsonObject(const QByteArray& bytes, QJsonObject& out);

// Parses the body of a finished reply (may be null). A reply with a transport error or an HTTP status
// outside 200..299 (also a missing status) is rejected before its body is read.
bool parseReplyObject(QNetworkReply* reply, QJsonObject& out);
