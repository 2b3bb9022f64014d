#include "account/appstat.h"

#include "account/deviceid.h"
#include "ui/datadir.h"
#include "ui/servicehost.h"

#include <QDebug>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

QString appIdForPath(const QString& path, const QString& dataDir)
{
    const QString folder = QDir::fromNativeSeparators(dataDir.isEmpty() ? appDataDir() : dataDir);
    const QString prefix = folder + QStringLiteral("/apps/");
    const QString p = QString(path).replace(u'\\', u'/');
    if (!p.startsWith(prefix, Qt::CaseInsensitive))
        return QString();
    const QString rest = p.mid(prefix.size());
    const qsizetype slash = rest.indexOf(u'/');
    if (slash <= 0)
        return QString();
    return rest.left(slash);
}

QString marketAppIdForPath(const QString& path)
{
    return appIdForPath(path, appDataDir());
}

void sendAppStat(QNetworkAccessManager* manager, const QString& appId, const QString& event, const QString& token)
{
    if (!manager || appId.isEmpty() || event.isEmpty() || !ktr::serviceConfigured())
        return;
    QJsonObject body{
        {QStringLiteral("app_id"), appId}, {QStringLiteral("event"), event}, {QStringLiteral("device"), deviceId()}};
    if (!token.isEmpty())
        body.insert(QStringLiteral("token"), token);
    QNetworkRequest request(ktr::serviceUrl(QStringLiteral("/api/appstat.php")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json; charset=utf-8"));
    request.setTransferTimeout(10000);
    QNetworkReply* reply = manager->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool transportError = reply->error() != QNetworkReply::NoError;
        if (transportError || status < 200 || status > 299) {
            qWarning().noquote() << "appstat report failed: http =" << status
                                 << "transportError =" << (transportError ? "true" : "false")
                                 << "err =" << reply->errorString();
        }
        reply->deleteLater();
    });
}

void reportAppStat(const QString& appId, const QString& event, const QString& token)
{
    if (appId.isEmpty() || event.isEmpty())
        return;
    // One manager for every report of the process, never replaced; reports run on the GUI thread.
    static QNetworkAccessManager* const manager = new QNetworkAccessManager;
    sendAppStat(manager, appId, event, token);
}
