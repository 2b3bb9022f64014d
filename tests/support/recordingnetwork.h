#pragma once

#include <QIODevice>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace ktr::test {

// A network manager that records every request it is asked to send (with its body) and then sends it,
// so tests can check time-outs, headers and attributes of each request without waiting for them.
class RecordingNetworkManager : public QNetworkAccessManager
{
public:
    struct Sent
    {
        Operation operation;
        QNetworkRequest request;
        QByteArray body;
    };
    QList<Sent> sent;
    // When above 0, requests go out with this transfer time-out instead of their own (recorded as asked),
    // so a test sees a time-out happen without waiting for it.
    int shortenTimeoutsTo = 0;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* data) override
    {
        sent.append(Sent{op, request, data ? data->peek(data->bytesAvailable()) : QByteArray()});
        if (shortenTimeoutsTo <= 0)
            return QNetworkAccessManager::createRequest(op, request, data);
        QNetworkRequest shortened = request;
        shortened.setTransferTimeout(shortenTimeoutsTo);
        return QNetworkAccessManager::createRequest(op, shortened, data);
    }
};

} // namespace ktr::test
