#include "platform/sessionbus.h"

#include <QDBusConnection>
#include <QThreadPool>

namespace ktr::platform {

void connectSessionBusAhead()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    // The connection Qt keeps as its default session bus: every later sessionBus() call gets this one (one that
    // comes while it is still being made waits for it rather than making another).
    QThreadPool::globalInstance()->start([] { (void)QDBusConnection::sessionBus().isConnected(); });
}

} // namespace ktr::platform
