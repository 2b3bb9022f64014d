#include "app/agentmode.h"

#include <QApplication>

int runAgentMode(QApplication& app)
{
    Q_UNUSED(app);
    return 2;
}
