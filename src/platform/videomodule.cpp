#include "platform/videobackend.h"

#include "platform/lazylibrary.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QStringList>

#include <dlfcn.h>

#include <mutex>

namespace ktr::platform {

const VideoModuleApi* videoModule()
{
    static std::once_flag once;
    static const VideoModuleApi* api = nullptr;
    std::call_once(once, [] {
        QStringList candidates;
        if (QCoreApplication::instance())
            candidates << QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                              QLatin1String(kVideoModuleFileName);
#ifdef KTR_VIDEOMODULE_BUILD_PATH
        candidates << QStringLiteral(KTR_VIDEOMODULE_BUILD_PATH);
#endif
        for (const QString& path : std::as_const(candidates)) {
            if (!QFile::exists(path))
                continue;
            QString error;
            void* handle = openSharedLibrary(QFile::encodeName(path), &error);
            if (!handle) {
                qWarning().noquote() << "[video] module not loaded:" << error;
                continue;
            }
            using Entry = const VideoModuleApi* (*)();
            auto entry = reinterpret_cast<Entry>(dlsym(handle, KTR_VIDEO_MODULE_ENTRY));
            const VideoModuleApi* found = entry ? entry() : nullptr;
            if (!found || found->version != VideoModuleApi::kVersion || !found->createDecoder ||
                !found->createWriter) {
                qWarning().noquote() << "[video] module of another build ignored:" << path;
                dlclose(handle);
                continue;
            }
            api = found; // kept loaded for the rest of the process
            qInfo().noquote() << "[video] module loaded:" << path;
            return;
        }
        qWarning().noquote() << "[video] no video module found; looked at:" << candidates.join(QStringLiteral(", "));
    });
    return api;
}

} // namespace ktr::platform
