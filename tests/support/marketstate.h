#pragma once

// The state folder of the fake service host with one market app: a user "u" signed in with the token
// "live", catalogue page 1, the SDK minimum, the app's manifest and its package.
#include "testenv.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ktr::test {

inline bool writeMarketState(const QString& state, const QString& id, const QString& name, const QByteArray& package,
                             const QString& launch, const QString& sdkMin = QStringLiteral("1.1.0"))
{
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
    const QString file = id + QStringLiteral("-1.0.zip");
    auto json = [](const QJsonObject& o) { return QJsonDocument(o).toJson(); };
    const QJsonObject session{{"token", "live"}, {"device", "d"}};
    const QJsonObject user{{"username", "u"}, {"password", "p"}, {"sessions", QJsonArray{session}}};
    const QJsonObject app{{"id", id}, {"name", name}, {"version", "1.0"}, {"size", package.size()}};
    return writeFile(state + "/accounts.json", json({{"users", QJsonArray{user}}})) &&
           writeFile(state + "/files/update/index/page-1.json", json({{"apps", QJsonArray{app}}})) &&
           writeFile(state + "/files/update/sdk_min.json", json({{"minSdkVersion", sdkMin}})) &&
           writeFile(state + "/files/update/apps/" + id + ".json", json({{"url", "https://cdn.example/pkgs/" + file},
                                                                         {"sha256", sha},
                                                                         {"launch", launch},
                                                                         {"version", "1.0"}})) &&
           writeFile(state + "/files/packages/" + id + u'/' + file, package);
}

} // namespace ktr::test
