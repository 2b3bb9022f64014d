#include "fakeservicehost.h"

#include <QFile>
#include <QJsonDocument>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#ifndef KTR_TEST_CERT_DIR
#error "KTR_TEST_CERT_DIR must name the folder of the test certificates"
#endif

namespace ktr::test {
namespace {

constexpr qsizetype kMaxHead = 64 * 1024;
constexpr qsizetype kMaxBody = 64 * 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 413:
        return "Payload Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QString routeKey(const QByteArray& method, const QString& path, const QString& action)
{
    return QString::fromLatin1(method.toUpper()) + u' ' + path + u'?' + action;
}

QSslConfiguration& originalDefault()
{
    static QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    return config;
}

} // namespace

QByteArray FakeServiceHost::Request::header(const QByteArray& name) const
{
    const QByteArray lower = name.toLower();
    for (const auto& h : headers) {
        if (h.first == lower)
            return h.second;
    }
    return {};
}

QStringList FakeServiceHost::Request::jsonKeys() const
{
    QStringList keys = json.keys();
    keys.sort();
    return keys;
}

FakeServiceHost::Reply FakeServiceHost::Reply::json(const QJsonObject& object, int status)
{
    Reply r;
    r.status = status;
    r.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return r;
}

FakeServiceHost::Reply FakeServiceHost::Reply::raw(int status, const QByteArray& body, const QByteArray& contentType)
{
    Reply r;
    r.status = status;
    r.body = body;
    r.contentType = contentType;
    return r;
}

FakeServiceHost::Reply FakeServiceHost::Reply::dropped()
{
    Reply r;
    r.drop = true;
    return r;
}

FakeServiceHost::Reply FakeServiceHost::Reply::stalled(const QByteArray& body, qint64 sent)
{
    Reply r;
    r.body = body;
    r.sendBytes = sent;
    r.holdOpen = true;
    return r;
}

FakeServiceHost::Reply FakeServiceHost::Reply::halfBody(const QByteArray& body, int status)
{
    Reply r;
    r.status = status;
    r.body = body;
    r.sendBytes = body.size() / 2;
    return r;
}

FakeServiceHost::Reply FakeServiceHost::Reply::lyingLength(const QByteArray& body, qint64 claimed, int status)
{
    Reply r;
    r.status = status;
    r.body = body;
    r.claimedLength = claimed;
    return r;
}

FakeServiceHost::Reply FakeServiceHost::rangeReply(const Request& request, const QByteArray& content, RangeMode mode,
                                                   const QByteArray& contentType)
{
    const QByteArray range = request.header("range");
    qint64 from = -1;
    if (range.startsWith("bytes=") && range.endsWith('-')) {
        bool ok = false;
        from = range.mid(6, range.size() - 7).toLongLong(&ok);
        if (!ok)
            from = -1;
    }
    Reply r = Reply::raw(200, content, contentType);
    r.addHeader("Accept-Ranges", "bytes");
    if (from < 0 || mode == RangeMode::IgnoreRange)
        return r;
    const qint64 total = content.size();
    if (mode == RangeMode::Unsatisfiable || from >= total) {
        r.status = 416;
        r.body.clear();
        r.addHeader("Content-Range", "bytes */" + QByteArray::number(total));
        return r;
    }
    const qint64 start = mode == RangeMode::WrongContentRange ? (from > 0 ? from - 1 : from + 1) : from;
    r.status = 206;
    r.body = content.mid(start);
    r.addHeader("Content-Range", "bytes " + QByteArray::number(start) + '-' + QByteArray::number(total - 1) + '/' +
                                     QByteArray::number(total));
    return r;
}

FakeServiceHost::FakeServiceHost(Scheme scheme, QObject* parent) : QObject(parent), m_scheme(scheme)
{
    m_fallback = [](const Request&) {
        return Reply::json(QJsonObject{{QStringLiteral("ok"), 0}, {QStringLiteral("msg"), QStringLiteral("no route")}},
                           404);
    };
    if (scheme == Scheme::Https) {
        auto* ssl = new QSslServer(this);
        QFile cert(certificateFolder() + QStringLiteral("/server.pem"));
        QFile key(certificateFolder() + QStringLiteral("/server.key"));
        cert.open(QIODevice::ReadOnly);
        key.open(QIODevice::ReadOnly);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(cert.readAll(), QSsl::Pem));
        config.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->setSslConfiguration(config);
        m_server = ssl;
    } else {
        m_server = new QTcpServer(this);
    }
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &FakeServiceHost::onNewConnection);
}

FakeServiceHost::~FakeServiceHost()
{
    for (const auto& s : std::as_const(m_sockets)) {
        if (s)
            s->abort();
    }
}

void FakeServiceHost::setCertificate(const QSslCertificate& certificate, const QSslKey& key)
{
    if (auto* ssl = qobject_cast<QSslServer*>(m_server)) {
        QSslConfiguration config = ssl->sslConfiguration();
        config.setLocalCertificate(certificate);
        config.setPrivateKey(key);
        ssl->setSslConfiguration(config);
    }
}

bool FakeServiceHost::listen(const QHostAddress& address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 FakeServiceHost::port() const
{
    return m_server->serverPort();
}

QUrl FakeServiceHost::baseUrl() const
{
    QUrl url;
    url.setScheme(m_scheme == Scheme::Https ? QStringLiteral("https") : QStringLiteral("http"));
    const QHostAddress address = m_server->serverAddress();
    url.setHost(address.isNull() || address == QHostAddress::Any ? QStringLiteral("127.0.0.1") : address.toString());
    url.setPort(port());
    return url;
}

void FakeServiceHost::route(const QByteArray& method, const QString& path, const QString& action, Handler handler)
{
    m_routes.insert(routeKey(method, path, action), std::move(handler));
}

void FakeServiceHost::route(const QByteArray& method, const QString& path, const QString& action, const Reply& reply)
{
    route(method, path, action, [reply](const Request&) { return reply; });
}

void FakeServiceHost::setFallback(Handler handler)
{
    m_fallback = std::move(handler);
}

int FakeServiceHost::openConnections() const
{
    return int(std::count_if(m_sockets.begin(), m_sockets.end(), [](const QPointer<QTcpSocket>& s) {
        return s && s->state() == QAbstractSocket::ConnectedState;
    }));
}

QString FakeServiceHost::certificateFolder()
{
    return QStringLiteral(KTR_TEST_CERT_DIR);
}

QList<QSslCertificate> FakeServiceHost::testCaCertificates()
{
    return QSslCertificate::fromPath(certificateFolder() + QStringLiteral("/ca.pem"), QSsl::Pem);
}

void FakeServiceHost::setTestCaTrusted(bool trusted)
{
    QSslConfiguration config = originalDefault();
    if (trusted)
        config.addCaCertificates(testCaCertificates());
    QSslConfiguration::setDefaultConfiguration(config);
}

void FakeServiceHost::onNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket* socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        m_sockets.removeIf([](const QPointer<QTcpSocket>& s) { return s.isNull(); });
        m_sockets.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_buffers.remove(socket); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void FakeServiceHost::onReadyRead(QTcpSocket* socket)
{
    if (!m_buffers.contains(socket) && socket->property("ktrAnswered").toBool()) {
        socket->readAll(); // one request per connection
        return;
    }
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (buffer.size() > kMaxHead)
            socket->abort();
        return;
    }
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    if (first.size() < 3) {
        socket->abort();
        return;
    }
    Request request;
    request.method = first[0];
    request.peer = socket->peerAddress().toString();
    const QUrl target(QString::fromLatin1(first[1]));
    request.path = target.path();
    request.query = QUrlQuery(target.query());
    request.action = request.query.queryItemValue(QStringLiteral("action"), QUrl::FullyDecoded);
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name == "content-length")
            length = value.toLongLong();
    }
    if (length < 0 || length > kMaxBody) {
        socket->abort();
        return;
    }
    if (buffer.size() - (headEnd + 4) < length)
        return; // the rest of the body is still on its way
    request.body = buffer.mid(headEnd + 4, length);
    m_buffers.remove(socket);
    socket->setProperty("ktrAnswered", true);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    request.jsonObject = error.error == QJsonParseError::NoError && doc.isObject();
    if (request.jsonObject)
        request.json = doc.object();
    m_log.append(request);
    Q_EMIT requestLogged(request);
    answer(socket, request);
}

FakeServiceHost::Handler FakeServiceHost::handlerFor(const Request& request) const
{
    for (const QString& action : {request.action, QStringLiteral("*")}) {
        const auto it = m_routes.constFind(routeKey(request.method, request.path, action));
        if (it != m_routes.constEnd())
            return it.value();
    }
    return m_fallback;
}

void FakeServiceHost::answer(QTcpSocket* socket, const Request& request)
{
    const Handler handler = handlerFor(request);
    std::optional<Reply> gated = m_gate ? m_gate(request) : std::nullopt;
    const Reply reply = gated ? *gated : handler ? handler(request) : Reply::raw(404, {});
    QPointer<QTcpSocket> guarded(socket);
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, this, [this, guarded, reply] { send(guarded, reply); });
    else
        send(guarded, reply);
}

void FakeServiceHost::send(QPointer<QTcpSocket> socket, Reply reply)
{
    // The client may have given up meanwhile: then there is nobody to answer.
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        Q_EMIT replyAbandoned();
        return;
    }
    if (reply.drop) {
        socket->abort();
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    const qint64 length = reply.claimedLength >= 0 ? reply.claimedLength : reply.body.size();
    if (!reply.omitLength)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (!reply.contentType.isEmpty())
        head += "Content-Type: " + reply.contentType + "\r\n";
    for (const auto& h : std::as_const(reply.headers))
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    QByteArray body = reply.sendBytes >= 0 ? reply.body.left(reply.sendBytes) : reply.body;
    sendBody(socket, body, reply.chunkSize, reply.chunkIntervalMs, !reply.holdOpen);
}

void FakeServiceHost::sendBody(QPointer<QTcpSocket> socket, QByteArray body, int chunk, int intervalMs, bool close)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        Q_EMIT replyAbandoned();
        return;
    }
    if (chunk <= 0 || body.size() <= chunk) {
        socket->write(body);
        if (close)
            socket->disconnectFromHost(); // after the written bytes are flushed
        return;
    }
    socket->write(body.left(chunk));
    socket->flush();
    QTimer::singleShot(intervalMs, this, [this, socket, rest = body.mid(chunk), chunk, intervalMs, close] {
        sendBody(socket, rest, chunk, intervalMs, close);
    });
}

} // namespace ktr::test
