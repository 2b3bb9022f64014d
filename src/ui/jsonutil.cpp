#include "ui/jsonutil.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkReply>

bool parseJsonObject(const QByteArray& bytes, QJsonObject& out)
{
    out = QJsonObject();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
        out = doc.object();
        return true;
    }
    qWarning().noquote() << "[jsonutil] object parse failed:" << error.errorString();
    return false;
}

bool parseReplyObject(QNetworkReply* reply, QJsonObject& out)
{
    out = QJsonObject();
    if (!reply)
        return false;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool transportError = reply->error() != QNetworkReply::NoError;
    if (!transportError && status >= 200 && status <= 299) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll(), &error);
        if (error.error == QJsonParseError::NoError && doc.isObject()) {
            out = doc.object();
            return true;
        }
        qWarning().noquote() << "[jsonutil] reply object parse failed:" << error.errorString();
        return false;
    }
    qWarning().noquote() << "[jsonutil] reply rejected before parse: http =" << status
                         << "transportError =" << (transportError ? "true" : "false")
                         << "detail =" << reply->errorString();
    return false;
}
