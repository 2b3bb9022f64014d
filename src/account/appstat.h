#pragma once

#include <QString>

class QNetworkAccessManager;

// Usage reports of market apps: one fire-and-forget POST to "/api/appstat.php" per install, uninstall
// or launch; the answer is never read, a failure only logged.

// Sends one report through the process's shared network manager (made on first use). Nothing is sent
// when the app id or the event is empty; "token" is left out when the token is empty.
void reportAppStat(const QString& appId, const QString& event, const QString& token);

// The same through the given manager (tests).
void sendAppStat(QNetworkAccessManager* manager, const QString& appId, const QString& event, const QString& token);

// The market app a path belongs to: the folder name right below <appDataDir>/apps/ (prefix compared
// without regard to case, "\" taken as "/"); empty for any other path, the apps folder or an app's folder
// itself.
QString marketAppIdForPath(const QString& path);

// The same below a given data folder (empty = the program's data folder).
QString appIdForPath(const QString& path, const QString& dataDir = QString());
