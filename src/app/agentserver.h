#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;
class QTimer;

// The program's local endpoint for other programs of the same user: a user-only local socket on which
// a client sends one JSON request per line and gets one JSON reply, after which the connection is
// closed. Runs in the agent, where "show" hands over to the panel, and in the panel, where it only
// answers.
class AgentServer : public QObject
{
    Q_OBJECT
public:
    explicit AgentServer(QObject* parent = nullptr);
    ~AgentServer() override;

    // Listens on agentPipeName(). Call only while this process holds the single-instance lock: a socket
    // left behind by a dead process is replaced, but a name another process still serves is never
    // taken over (that fails with the error text).
    bool start(QString* error = nullptr);
    // start() without blocking, tried up to `attempts` times `intervalMs` apart, for a process that
    // starts while the previous owner of the name may still be going away; `done` gets the outcome once.
    void startRetrying(int attempts, int intervalMs, std::function<void(bool ok, const QString& error)> done);
    // Stops listening and removes the socket, so the next process can listen on the name at once.
    void stop();
    bool isListening() const;
    QString name() const { return m_name; }

    void handleRequest(QLocalSocket* socket, const QJsonObject& request);

    // Limit of the unconsumed data of one connection and of one request line.
    static constexpr qsizetype kMaxRequestBytes = 1024 * 1024;
    // A client that has not sent a whole line by then is dropped; at most this many are served at once
    // (a new one pushes out the oldest still waiting); a listening socket lost (to a failed accept when the
    // process ran out of descriptors) is set up again at once, and while that fails, at this interval.
    static constexpr int kIdleTimeoutMs = 5000;
    static constexpr int kMaxClients = 32;
    static constexpr int kRelistenIntervalMs = 30000;
    // Shorter limits for tests; applies to connections accepted from now on.
    void setLimits(int idleTimeoutMs, int maxClients, int relistenIntervalMs);

Q_SIGNALS:
    // Every accepted connection and every dispatched request.
    void activity();
    // After the reply to a "show" request.
    void showMainRequested();

private Q_SLOTS:
    void onNewConnection();

private:
    struct Connection;
    void onReadyRead(QLocalSocket* socket, Connection& conn);
    bool listenOnce(QString* error, bool logFailure);

    void checkListening();
    void watchListening();

    QPointer<QLocalServer> m_server;
    QString m_name;
    QList<QPointer<QLocalSocket>> m_clients; // unanswered connections, oldest first
    QTimer* m_relistenTimer = nullptr;
    int m_idleTimeoutMs = kIdleTimeoutMs;
    int m_maxClients = kMaxClients;
    bool m_relistenFailing = false; // warned once until listening again
    bool m_watching = false;        // a socket of ours listened, so a lost one is set up again
};

// Full path of the socket: $XDG_RUNTIME_DIR/KestrunePanel_<numeric user id>. Server and clients compute
// it the same way, so each user has a socket of their own.
QString agentPipeName();

// Reads one member of "auth.json" in the data folder; "token" comes back unprotected. Empty when the
// file or the member is missing or unreadable.
QString readAuthField(const QString& name);
QString readAuthUser();
QString readAuthToken();
