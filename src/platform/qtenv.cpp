#include "platform/qtenv.h"

#include <QByteArray>
#include <QtGlobal>

namespace ktr::platform {
namespace {

bool isKeptPlatform(const QByteArray& value)
{
    static const char* const kKept[] = {"xcb", "offscreen", "minimal"};
    for (const char* name : kKept) {
        const QByteArray n(name);
        if (value == n || value.startsWith(n + ':'))
            return true;
    }
    return false;
}

} // namespace

void cleanQtEnvironment()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM").trimmed().toLower();
    if (!platform.isEmpty() && !isKeptPlatform(platform))
        qunsetenv("QT_QPA_PLATFORM");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qgetenv("XDG_SESSION_TYPE").trimmed().toLower() == "wayland" &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM_PLUGIN_PATH"))
        qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!qEnvironmentVariableIsEmpty("QT_PLUGIN_PATH"))
        qunsetenv("QT_PLUGIN_PATH");
}

} // namespace ktr::platform
