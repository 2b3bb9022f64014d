#include "app/agentserver.h"

#include "account/authstore.h"
#include "app/qmain.h"
#include "platform/fsentry.h"
#include "platform/process.h"
#include "ui/datadir.h"
#include "ui/jsonutil.h"
#include "ui/savefile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

// One connection: its unconsumed bytes and whether it has had its one reply.
struct AgentServer::Connection
{
    QByteArray buffer;
    bool answered = false;
};

namespace {

// "auth.json" is a few hundred bytes; a bigger file is not ours to parse.
constexpr qint64 kMaxAuthFileBytes = 1024 * 1024;
// How much of client-sent text a log line carries.
constexpr int kMaxLoggedChars = 120;

bool needsEscape(uint cp)
{
    switch (QChar::category(char32_t(cp))) {
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return cp != ' ' && !QChar::isPrint(char32_t(cp));
    }
}

// Client text as it may appear in a log line: cut to a readable length and with every control,
// format or line-separating character written as an escape, so no client can start a line of its own
// or hide text in the log.
QString logSafe(const QString& text)
{
    QString out;
    const QList<uint> points = text.toUcs4();
    const int shown = int(qMin<qsizetype>(points.size(), kMaxLoggedChars));
    for (int i = 0; i < shown; ++i) {
        const uint cp = points.at(i);
        if (cp == '\\')
            out += QStringLiteral("\\\\");
        else if (cp == '\n')
            out += QStringLiteral("\\n");
        else if (cp == '\r')
            out += QStringLiteral("\\r");
        else if (cp == '\t')
            out += QStringLiteral("\\t");
        else if (needsEscape(cp))
            out += cp > 0xffff ? QStringLiteral("\\U%1").arg(cp, 8, 16, QLatin1Char('0'))
                               : QStringLiteral("\\u%1").arg(cp, 4, 16, QLatin1Char('0'));
        else
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1);
    }
    if (points.size() > shown)
        out += QStringLiteral("...(%1 more)").arg(points.size() - shown);
    return out;
}

void agentSendReply(QLocalSocket* socket, const QJsonObject& reply)
{
    if (socket->state() != QLocalSocket::ConnectedState)
        return;
    QByteArray bytes = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    bytes.append('\n');
    socket->write(bytes);
    socket->flush();
    socket->disconnectFromServer();
}

QJsonObject errorReply(const QString& code, const QString& msg)
{
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("code"), code}, {QStringLiteral("msg"), msg}};
}

// A NUL inside a string of the request: nothing we serve takes one, and text cut at it would mean
// something else further down.
bool containsNul(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().contains(QChar(0));
    if (value.isArray()) {
        for (const QJsonValue& v : value.toArray())
            if (containsNul(v))
                return true;
    }
    if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            if (it.key().contains(QChar(0)) || containsNul(it.value()))
                return true;
    }
    return false;
}

void agentRejectOversize(QLocalSocket* socket, QByteArray& buffer)
{
    buffer.clear();
    qWarning().noquote() << "agent: 报文超过长度上限，拒绝并关闭连接";
    agentSendReply(socket, errorReply(QStringLiteral("BAD_PARAM"), QStringLiteral("报文超过长度上限")));
}

} // namespace

QString agentPipeName()
{
    // Never a name in a shared folder such as /tmp: another user could plant a socket there.
    const QString dir = ktr::platform::privateRuntimeDir();
    if (dir.isEmpty())
        return {};
    return dir + QStringLiteral("/KestrunePanel_") + QString::number(ktr::platform::currentUserId());
}

QString readAuthField(const QString& name)
{
    QByteArray bytes;
    QString error;
    const ktr::ReadStatus status =
        ktr::readFileCapped(appDataDir() + QStringLiteral("/auth.json"), kMaxAuthFileBytes, &bytes, &error);
    if (status == ktr::ReadStatus::TooLarge)
        qWarning().noquote() << "agent: auth.json ignored:" << error;
    if (status != ktr::ReadStatus::Ok)
        return {};
    QJsonObject object;
    if (!parseJsonObject(bytes, object))
        return {};
    const QString value = object.value(name).toString();
    return name == QLatin1String("token") ? unprotectSecret(value) : value;
}

QString readAuthUser()
{
    return readAuthField(QStringLiteral("username"));
}

QString readAuthToken()
{
    return readAuthField(QStringLiteral("token"));
}

AgentServer::AgentServer(QObject* parent) : QObject(parent), m_relistenTimer(new QTimer(this))
{
    m_relistenTimer->setObjectName(QStringLiteral("agentRelistenTimer"));
    m_relistenTimer->setInterval(kRelistenIntervalMs);
    connect(m_relistenTimer, &QTimer::timeout, this, &AgentServer::checkListening);
}

void AgentServer::setLimits(int idleTimeoutMs, int maxClients, int relistenIntervalMs)
{
    m_idleTimeoutMs = qMax(1, idleTimeoutMs);
    m_maxClients = qMax(1, maxClients);
    m_relistenTimer->setInterval(qMax(1, relistenIntervalMs));
}

void AgentServer::checkListening()
{
    // QLocalServer closes itself (and removes the socket file) when an accept fails, e.g. with no
    // descriptor left; the process still holds the lock, so without this no later start could reach it.
    if (!m_watching || !m_server || m_server->isListening()) {
        m_relistenFailing = false;
        return;
    }
    if (!m_relistenFailing)
        qWarning().noquote() << "agent server lost its listening socket (" + m_server->errorString() +
                                    "); listening again";
    m_relistenFailing = !listenOnce(nullptr, false);
    // Still no descriptor to listen with: tried again at intervals until it works.
    if (m_relistenFailing && m_watching)
        m_relistenTimer->start();
}

void AgentServer::watchListening()
{
    m_watching = true;
    // The server deletes the notifier on its listening socket when it gives that socket up, so the loss
    // is noticed the moment it happens and an idle panel never wakes to look. Without such a notifier
    // (another Qt) the socket is looked at every interval instead.
    const QList<QSocketNotifier*> notifiers = m_server->findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
    if (notifiers.isEmpty()) {
        m_relistenTimer->start();
        return;
    }
    m_relistenTimer->stop();
    for (QSocketNotifier* notifier : notifiers)
        connect(notifier, &QObject::destroyed, this,
                [this] { QTimer::singleShot(0, this, &AgentServer::checkListening); });
}

AgentServer::~AgentServer() = default;

bool AgentServer::isListening() const
{
    return m_server && m_server->isListening();
}

bool AgentServer::listenOnce(QString* error, bool logFailure)
{
    m_name = agentPipeName();
    if (isListening())
        return true;

    // Listening with access options replaces whatever socket file lies at the name, even one a live
    // process still serves. So look first: a name that answers belongs to someone else; one that
    // refuses is the leftover of a dead process and may go.
    QString failure;
    {
        QLocalSocket probe;
        probe.connectToServer(m_name);
        const bool connected = probe.waitForConnected(200);
        const QLocalSocket::LocalSocketError probeError = probe.error();
        probe.abort();
        // Only a name that is missing or refuses outright is free; one that answers, or doesn't
        // answer in time (a busy owner), is taken.
        if (connected ||
            (probeError != QLocalSocket::ServerNotFoundError && probeError != QLocalSocket::ConnectionRefusedError)) {
            failure = QStringLiteral("another process is serving %1").arg(m_name);
            m_relistenTimer->stop(); // the name is someone else's now: stop watching it
            m_watching = false;
        }
    }
    if (failure.isEmpty()) {
        QLocalServer::removeServer(m_name);
        if (m_server)
            m_server->deleteLater();
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        if (m_server->listen(m_name)) {
            connect(m_server, &QLocalServer::newConnection, this, &AgentServer::onNewConnection);
            watchListening();
            qInfo().noquote() << "agent server listening:" << m_name;
            return true;
        }
        failure = m_server->errorString();
        // Kept while a watch is on (a lost socket is retried at the next check); else nothing listens.
        if (!m_watching) {
            m_server->deleteLater();
            m_server = nullptr;
        }
    }
    if (error)
        *error = failure;
    if (logFailure)
        qWarning().noquote() << "agent server listen failed:" << m_name << failure;
    return false;
}

bool AgentServer::start(QString* error)
{
    return listenOnce(error, true);
}

void AgentServer::startRetrying(int attempts, int intervalMs, std::function<void(bool, const QString&)> done)
{
    QString error;
    const bool last = attempts <= 1;
    if (listenOnce(&error, last)) {
        if (done)
            done(true, QString());
        return;
    }
    if (last) {
        if (done)
            done(false, error);
        return;
    }
    QTimer::singleShot(intervalMs, this, [this, attempts, intervalMs, done = std::move(done)]() mutable {
        startRetrying(attempts - 1, intervalMs, std::move(done));
    });
}

void AgentServer::stop()
{
    m_relistenTimer->stop();
    m_watching = false;
    if (!m_server)
        return;
    // close() removes the socket file; a server closed later, after a successor took the name over,
    // would remove the successor's socket instead.
    m_server->close();
    m_server->deleteLater();
    m_server = nullptr;
    qInfo().noquote() << "agent server stopped:" << m_name;
}

void AgentServer::onNewConnection()
{
    if (!m_server)
        return;
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        // Room for the newcomer: the client waiting longest goes first, so idle clients can't lock out
        // the rest or use up the process's descriptors.
        m_clients.removeAll(nullptr);
        while (m_clients.size() >= m_maxClients) {
            QPointer<QLocalSocket> oldest = m_clients.takeFirst();
            if (oldest) {
                qWarning().noquote() << "agent: too many clients at once, dropping the one waiting longest";
                oldest->abort();
                oldest->deleteLater();
            }
        }
        m_clients.append(socket);
        auto conn = std::make_shared<Connection>();
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket, conn] {
            if (conn->answered)
                return;
            qWarning().noquote() << "agent: client sent no complete request in time, dropped";
            socket->abort();
            socket->deleteLater();
        });
        idle->start(m_idleTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, conn] { onReadyRead(socket, *conn); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        Q_EMIT activity();
        // Bytes may have come with the connection itself.
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket, *conn);
    }
}

void AgentServer::onReadyRead(QLocalSocket* socket, Connection& conn)
{
    // A connection carries one reply; whatever the client sends after the line that got it is
    // dropped unread, so one connection can't flood the log or slip a second command in.
    if (conn.answered) {
        socket->skip(socket->bytesAvailable());
        return;
    }
    // Every read consumes all complete lines, so the buffer holds only an unfinished line here: any
    // read that would bring the unconsumed data over the limit is refused.
    if (conn.buffer.size() + socket->bytesAvailable() > kMaxRequestBytes && !conn.buffer.contains('\n')) {
        conn.answered = true;
        agentRejectOversize(socket, conn.buffer);
        return;
    }
    conn.buffer.append(socket->readAll());

    while (!conn.buffer.isEmpty()) {
        const qsizetype lf = conn.buffer.indexOf('\n');
        if (lf < 0)
            break;
        if (lf > kMaxRequestBytes) {
            conn.answered = true;
            agentRejectOversize(socket, conn.buffer);
            return;
        }
        const QByteArray line = conn.buffer.left(lf).trimmed();
        conn.buffer.remove(0, lf + 1);
        if (line.isEmpty())
            continue;

        conn.answered = true;
        conn.buffer.clear();
        m_clients.removeAll(socket);
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (doc.isObject() && containsNul(doc.object())) {
            qWarning().noquote() << "agent: 请求含有空字符，拒绝";
            agentSendReply(socket, errorReply(QStringLiteral("BAD_PARAM"), QStringLiteral("报文含有空字符")));
        } else if (doc.isObject()) {
            handleRequest(socket, doc.object());
        } else {
            qWarning().noquote() << "agent: 收到非法报文:" << logSafe(QString::fromUtf8(line.left(120)));
            agentSendReply(socket, errorReply(QStringLiteral("BAD_PARAM"), QStringLiteral("报文不是 JSON 对象")));
        }
        return;
    }
    if (conn.buffer.size() > kMaxRequestBytes) {
        conn.answered = true;
        agentRejectOversize(socket, conn.buffer);
    }
}

void AgentServer::handleRequest(QLocalSocket* socket, const QJsonObject& request)
{
    const QString cmd = request.value(QStringLiteral("cmd")).toString();
    const QString app = request.value(QStringLiteral("app")).toString();
    qInfo().noquote() << "agent request: cmd =" << logSafe(cmd) << "app =" << logSafe(app);
    Q_EMIT activity();

    if (cmd == QLatin1String("ping")) {
        const QString token = readAuthToken();
        const QString user = readAuthUser();
        agentSendReply(socket, QJsonObject{{QStringLiteral("v"), 1},
                                           {QStringLiteral("ok"), true},
                                           {QStringLiteral("cmd"), cmd},
                                           {QStringLiteral("logged_in"), !token.isEmpty()},
                                           {QStringLiteral("user"), user},
                                           {QStringLiteral("panel"), panelVersionString()}});
    } else if (cmd == QLatin1String("show")) {
        agentSendReply(
            socket, QJsonObject{{QStringLiteral("v"), 1}, {QStringLiteral("ok"), true}, {QStringLiteral("cmd"), cmd}});
        Q_EMIT showMainRequested();
    } else {
        agentSendReply(socket, errorReply(QStringLiteral("BAD_CMD"), QStringLiteral("未知指令：") + cmd));
    }
}
