#include "app/secondinstance.h"

#include <QDebug>

int runSecondInstance(bool agentMode)
{
    if (agentMode) {
        qInfo().noquote() << "agent mode: panel already running, exit without waking window";
        return 0;
    }
    // Waking the running panel comes with its wake-up endpoint.
    qInfo().noquote() << "second instance detected, exit";
    return 0;
}
