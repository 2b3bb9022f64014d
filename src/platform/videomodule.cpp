#include "platform/videobackend.h"

#include "platform/heaptrim.h"
#include "platform/helperfiles.h"
#include "platform/lazylibrary.h"

#include <QDebug>
#include <QFile>
#include <QStringList>

#include <dlfcn.h>

#include <mutex>

namespace ktr::platform {

namespace {

std::mutex g_mutex;
int g_holds = 0;
void* g_handle = nullptr;
const VideoModuleApi* g_api = nullptr;
bool g_failureLogged = false;

// Opens the module; g_mutex is held.
void load()
{
    const QStringList candidates = helperFileCandidates(HelperFile::VideoModule);
    QStringList errors;
    for (const QString& path : std::as_const(candidates)) {
        if (!QFile::exists(path))
            continue;
        QString error;
        void* handle = openSharedLibrary(QFile::encodeName(path), &error);
        if (!handle) {
            errors << error;
            continue;
        }
        using Entry = const VideoModuleApi* (*)();
        auto entry = reinterpret_cast<Entry>(dlsym(handle, KTR_VIDEO_MODULE_ENTRY));
        const VideoModuleApi* found = entry ? entry() : nullptr;
        if (!found || found->version != VideoModuleApi::kVersion || !found->createDecoder) {
            errors << QStringLiteral("module of another build ignored: ") + path;
            dlclose(handle);
            continue;
        }
        g_handle = handle;
        g_api = found;
        qInfo().noquote() << "[video] module loaded:" << path;
        return;
    }
    // A module that is missing stays missing: said once, not at every video or segment.
    if (g_failureLogged)
        return;
    g_failureLogged = true;
    for (const QString& e : std::as_const(errors))
        qWarning().noquote() << "[video] module not loaded:" << e;
    if (errors.isEmpty())
        qWarning().noquote() << "[video] no video module found; looked at:" << candidates.join(QStringLiteral(", "));
}

} // namespace

VideoModuleHold::VideoModuleHold()
{
    std::lock_guard lock(g_mutex);
    if (!g_api)
        load();
    if (g_api) {
        ++g_holds;
        m_api = g_api;
    }
}

VideoModuleHold::~VideoModuleHold()
{
    if (!m_api)
        return;
    std::lock_guard lock(g_mutex);
    if (--g_holds > 0)
        return;
    g_api = nullptr;
    dlclose(g_handle);
    g_handle = nullptr;
    qInfo().noquote() << "[video] module unloaded";
    // The decoder's threads freed into heaps of their own: give those back too.
    releaseFreeHeap();
}

} // namespace ktr::platform
