#include "app/secondinstance.h"

#include "platform/wakechannel.h"

#include <QDebug>

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
    // No panel answered: the lock belongs to an agent (asking it to show the panel comes with the agent).
    qInfo().noquote() << "agent running without main window, request show";
    return 0;
}
