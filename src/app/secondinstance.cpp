#include "app/secondinstance.h"

#include "app/agentserver.h"
#include "platform/wakechannel.h"

#include <QDebug>
#include <QLocalSocket>
#include <QThread>

bool agentRequestShow()
{
    QLocalSocket socket;
    socket.connectToServer(agentPipeName(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(1500)) {
        qWarning().noquote() << "agentRequestShow: connect failed:" << socket.errorString();
        return false;
    }
    socket.write(QByteArrayLiteral("{\"cmd\":\"show\"}\n"));
    socket.flush();
    const bool sent = socket.bytesToWrite() == 0 || socket.waitForBytesWritten(1500);
    socket.disconnectFromServer();
    return sent;
}

HandOver defaultHandOver()
{
    HandOver h;
    h.wakePanel = [] { return ktr::platform::sendWake(); };
    h.askAgent = [] { return agentRequestShow(); };
    h.wait = [](int ms) { QThread::msleep(ulong(ms)); };
    return h;
}

int runSecondInstance(bool agentMode, const HandOver& handOver)
{
    if (agentMode) {
        qInfo().noquote() << "agent mode: panel already running, exit without waking window";
        return 0;
    }
    for (int attempt = 0; attempt < qMax(1, handOver.attempts); ++attempt) {
        if (attempt > 0)
            handOver.wait(handOver.intervalMs);
        if (handOver.wakePanel()) {
            qInfo().noquote() << "second instance detected, wake existing window and exit";
            return 0;
        }
        // No panel answered: the lock belongs to an agent, which starts a panel when asked.
        if (attempt == 0)
            qInfo().noquote() << "agent running without main window, request show";
        if (handOver.askAgent()) {
            if (attempt > 0)
                qInfo().noquote() << "hand-over succeeded after" << attempt + 1 << "attempts";
            return 0;
        }
    }
    qWarning().noquote() << "hand-over failed: neither a panel nor an agent answered after" << handOver.attempts
                         << "attempts";
    return 0;
}
