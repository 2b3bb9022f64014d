#pragma once

#include <QString>

#include <functional>

// The account web-service client the main window holds. Until the account service is built it reaches no
// host: every request ends as a transport failure ("NETWORK"), which the panel treats as "try again later".
class AuthManager
{
public:
    struct Result
    {
        bool ok = false;
        QString code; // "NOT_LOGIN", "NETWORK", "SERVER" or the service's own code
    };
    using Callback = std::function<void(const Result&)>;

    // Checks that the token is still valid.
    void fetchMe(const QString& token, const Callback& callback);
    // Tells the service which computer uses the token.
    void reportHost(const QString& token);
};

// The market app id of a path: the folder name right below <dataDir>/apps/ (compared without case), empty for
// any other path or when no "/" follows the name. An empty dataDir means the program's data folder.
QString appIdForPath(const QString& path, const QString& dataDir = QString());

// Reports one event of a market app (fire and forget). Nothing is sent until the account service exists.
void reportAppStat(const QString& appId, const QString& event, const QString& token);
