#include "platform/wakechannel.h"

#include "platform/fsentry.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

namespace ktr::platform {

namespace {

// The wake request on the wire: the message number, big-endian. The answer is one byte.
constexpr char kRequest[2] = {char(kWakeMessage >> 8), char(kWakeMessage & 0xff)};
constexpr char kAck = '\x01';
// A connection that has not sent its request by then is dropped, so a stuck client can't pile up sockets.
constexpr int kServerReadTimeoutMs = 2000;

} // namespace

QString wakeSocketPath()
{
    // Never a name in a shared folder such as /tmp: another user could plant a socket there.
    const QString dir = privateRuntimeDir();
    if (dir.isEmpty())
        return {};
    return dir + QStringLiteral("/KestrunePanel_Wake_") + QString::number(::getuid());
}

WakeServer::WakeServer(QObject* parent) : QObject(parent)
{
}

WakeServer::~WakeServer()
{
    close();
}

bool WakeServer::listen(QString* error, const QString& path)
{
    close();
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no private runtime folder");
        return false;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    bool ok = m_server->listen(path);
    if (!ok && m_server->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(path);
        ok = m_server->listen(path);
    }
    if (!ok) {
        if (error)
            *error = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &WakeServer::onNewConnection);
    return true;
}

void WakeServer::close()
{
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

bool WakeServer::isListening() const
{
    return m_server && m_server->isListening();
}

void WakeServer::onNewConnection()
{
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
        connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QLocalSocket::readyRead, this, [this, s] { onReadyRead(s); });
        QTimer::singleShot(kServerReadTimeoutMs, s, [s] {
            s->abort();
            s->deleteLater();
        });
        if (s->bytesAvailable() > 0)
            onReadyRead(s);
    }
}

void WakeServer::onReadyRead(QLocalSocket* s)
{
    if (s->bytesAvailable() < qint64(sizeof kRequest))
        return;
    // Exactly one request per connection; anything else is not ours and is dropped unanswered.
    const QByteArray data = s->read(sizeof kRequest);
    if (data == QByteArray(kRequest, sizeof kRequest) && s->bytesAvailable() == 0) {
        s->write(&kAck, 1);
        s->flush();
        s->disconnectFromServer();
        Q_EMIT wakeRequested();
        return;
    }
    s->abort();
    s->deleteLater();
}

bool sendWake(int timeoutMs, const QString& path)
{
    if (path.isEmpty())
        return false;
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket s;
    s.connectToServer(path, QIODevice::ReadWrite);
    if (!s.waitForConnected(int(deadline.remainingTime())))
        return false;
    s.write(kRequest, sizeof kRequest);
    if (!s.waitForBytesWritten(int(deadline.remainingTime())) && s.bytesToWrite() > 0)
        return false;
    while (s.bytesAvailable() < 1) {
        if (deadline.hasExpired() || !s.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    char ack = 0;
    return s.read(&ack, 1) == 1 && ack == kAck;
}

} // namespace ktr::platform
