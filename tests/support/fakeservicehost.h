#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <optional>

class QTcpServer;
class QTcpSocket;

namespace ktr::test {

// A hand-written HTTP/1.1 service host on QTcpServer (http) or QSslServer (https) for the online tests
// and for trying the program by hand (tools/servicehost). Routes are scripted per method, path and
// "action" query value; every request is logged; replies can carry any status and body and the faults a
// real network has: delays, slow and stalled streams, dropped connections, half-sent bodies, a lying
// Content-Length, and Range answers right and wrong. A reply written after the client gave up is dropped
// quietly. One request per connection ("Connection: close").
class FakeServiceHost : public QObject
{
    Q_OBJECT
public:
    enum class Scheme { Http, Https };

    struct Request
    {
        QByteArray method;
        QString peer; // the client's address
        QString path;
        QUrlQuery query;
        QString action;                               // the "action" query value, empty when absent
        QList<QPair<QByteArray, QByteArray>> headers; // names in lower case, in the order received
        QByteArray body;
        QJsonObject json;                                // the body when it is a JSON object
        bool jsonObject = false;                         // the body parsed as a JSON object
        QByteArray header(const QByteArray& name) const; // first value, name in any case
        QStringList jsonKeys() const;                    // sorted
    };

    struct Reply
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json; charset=utf-8";
        QList<QPair<QByteArray, QByteArray>> headers; // extra headers
        int delayMs = 0;                              // wait before sending anything
        bool drop = false;                            // close the connection without a byte
        qint64 claimedLength = -1;                    // the Content-Length sent; -1 = the body's real length
        bool omitLength = false; // send no Content-Length: the body ends when the connection closes
        qint64 sendBytes = -1;   // body bytes sent before stopping; -1 = all
        bool holdOpen = false;   // after the last byte sent, keep the connection open (a stalled stream)
        int chunkSize = 0;       // > 0: send the body in chunks of this size ...
        int chunkIntervalMs = 0; // ... this far apart (a slow stream)

        void addHeader(const QByteArray& name, const QByteArray& value) { headers.append(qMakePair(name, value)); }

        static Reply json(const QJsonObject& object, int status = 200);
        static Reply raw(int status, const QByteArray& body, const QByteArray& contentType = "text/plain");
        static Reply dropped();
        // Headers claiming `length` bytes, then `sent` bytes of `body`, then silence with the line open.
        static Reply stalled(const QByteArray& body, qint64 sent);
        // The whole header and half of the body, then the connection is closed.
        static Reply halfBody(const QByteArray& body, int status = 200);
        // A Content-Length larger than the body; the body is sent whole, then the connection is closed.
        static Reply lyingLength(const QByteArray& body, qint64 claimed, int status = 200);
    };
    using Handler = std::function<Reply(const Request&)>;

    // Answers to a "Range: bytes=N-" request for `content`: a correct 206, a 206 whose Content-Range
    // starts elsewhere, a 200 with the whole content, or 416.
    enum class RangeMode { Honour, WrongContentRange, IgnoreRange, Unsatisfiable };
    static Reply rangeReply(const Request& request, const QByteArray& content, RangeMode mode = RangeMode::Honour,
                            const QByteArray& contentType = "application/octet-stream");

    explicit FakeServiceHost(Scheme scheme = Scheme::Https, QObject* parent = nullptr);
    ~FakeServiceHost() override;

    // Listens on the address (loopback by default) and port (0 = any free one). The https host uses the
    // test certificate for 127.0.0.1 unless another is given.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    void setCertificate(const QSslCertificate& certificate, const QSslKey& key);
    quint16 port() const;
    QUrl baseUrl() const; // "https://127.0.0.1:<port>"
    Scheme scheme() const { return m_scheme; }

    // Scripted answers: method ("GET", "POST"), path ("/api/auth.php") and action ("" = no action query,
    // "*" = any). The most specific route wins; unrouted requests go to the fallback (404 by default).
    void route(const QByteArray& method, const QString& path, const QString& action, Handler handler);
    void route(const QByteArray& method, const QString& path, const QString& action, const Reply& reply);
    void setFallback(Handler handler);
    // Asked before any route: a reply it gives answers the request instead (an outage of the whole service).
    using Gate = std::function<std::optional<Reply>(const Request&)>;
    void setGate(Gate gate) { m_gate = std::move(gate); }

    QList<Request> requests() const { return m_log; }
    void clearRequests() { m_log.clear(); }
    int openConnections() const;

    // The test CA and certificate committed beside this file.
    static QString certificateFolder();
    static QList<QSslCertificate> testCaCertificates();
    // Adds the test CA to (true) or removes it from (false) the process's default TLS configuration,
    // which every QNetworkAccessManager made afterwards uses.
    static void setTestCaTrusted(bool trusted);

Q_SIGNALS:
    void requestLogged(const ktr::test::FakeServiceHost::Request& request);
    // A reply (or the rest of a slow one) found its client gone and was not written.
    void replyAbandoned();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);
    void send(QPointer<QTcpSocket> socket, Reply reply);
    void sendBody(QPointer<QTcpSocket> socket, QByteArray body, int chunk, int intervalMs, bool close);
    Handler handlerFor(const Request& request) const;

    Scheme m_scheme;
    QTcpServer* m_server = nullptr;
    QHash<QString, Handler> m_routes;
    Handler m_fallback;
    Gate m_gate;
    QList<Request> m_log;
    QList<QPointer<QTcpSocket>> m_sockets;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

} // namespace ktr::test
