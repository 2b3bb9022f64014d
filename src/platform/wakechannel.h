#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace ktr::platform {

// The number of the wake request a second start sends to the running panel.
constexpr quint16 kWakeMessage = 0xDA5A;

// The full path of the running panel's private wake socket: a user-only socket in $XDG_RUNTIME_DIR.
QString wakeSocketPath();

// The running panel's end: listens on the wake socket and emits wakeRequested for every well-formed
// wake request. Each request is acknowledged with one byte so the sender knows it arrived.
class WakeServer : public QObject
{
    Q_OBJECT
public:
    explicit WakeServer(QObject* parent = nullptr);
    ~WakeServer() override;

    // Call only while holding the single-instance lock: a socket file left behind by a killed panel is
    // removed and taken over. On failure returns false with an English reason for the log.
    bool listen(QString* error = nullptr, const QString& path = wakeSocketPath());
    void close();
    bool isListening() const;

Q_SIGNALS:
    void wakeRequested();

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);

    QLocalServer* m_server = nullptr;
};

// The second start's end: connects to the running panel's wake socket, sends the wake request and waits
// for the acknowledgement. True only when the panel answered within timeoutMs; false at once when no
// panel listens.
bool sendWake(int timeoutMs = 1500, const QString& path = wakeSocketPath());

} // namespace ktr::platform
