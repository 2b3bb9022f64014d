#include "x11tools.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

namespace ktr::test {

const char* missingX11()
{
    if (!qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        return "needs an X server (run under xvfb-run)";
    return nullptr;
}

const char* missingX11Input()
{
    if (const char* why = missingX11())
        return why;
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        return "needs xdotool";
    return nullptr;
}

bool xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace ktr::test
