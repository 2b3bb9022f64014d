#include "app/secondinstance.h"

#include "app/agentserver.h"
#include "platform/wakechannel.h"

#include <QDebug>
#include <QLocalSocket>

void agentRequestShow()
{
    QLocalSocket socket;
    socket.connectToServer(agentPipeName(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(1500)) {
        qWarning().noquote() << "agentRequestShow: connect failed:" << socket.errorString();
        return;
    }
    socket.write(QByteArrayLiteral("{\"cmd\":\"show\"}\n"));
    socket.flush();
    socket.waitForBytesWritten(1500);
    socket.disconnectFromServer();
}

int runSecondInstance(bool agentMode)
{
    if (agentMode) {
        qInfo().noquote() << "agent mode: panel already running, exit without waking window";
        return 0;
    }
    if (ktr::platform::sendWake()) {
        qInfo().noquote() << "second instance detected, wake existing window and exit";
        return 0;
    }
    // No panel answered: the lock belongs to an agent, which starts a panel when asked.
    qInfo().noquote() << "agent running without main window, request show";
    agentRequestShow();
    return 0;
}
