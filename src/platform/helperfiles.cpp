#include "platform/helperfiles.h"

#include "platform/videobackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <mutex>

namespace ktr::platform {

namespace {

std::mutex g_dirMutex;
QString g_testDir;

} // namespace

QStringList helperFileCandidates(HelperFile which, const QString& programDir)
{
    const bool module = which == HelperFile::VideoModule;
    const QString name = QLatin1String(module ? kVideoModuleFileName : kVideoEncoderFileName);
    // Relative to the install's bin folder, as the install step lays the files out.
    const QString installed = QLatin1String(module ? KTR_MODULE_DIR_FROM_BIN : KTR_ENCODER_DIR_FROM_BIN);
    const QString dir = QDir::cleanPath(programDir);
    return {dir + QLatin1Char('/') + name,
            QDir::cleanPath(dir + QLatin1Char('/') + installed + QLatin1Char('/') + name)};
}

QStringList helperFileCandidates(HelperFile which)
{
    return helperFileCandidates(which, runningProgramDir());
}

QString runningProgramDir()
{
    {
        std::lock_guard lock(g_dirMutex);
        if (!g_testDir.isEmpty())
            return g_testDir;
    }
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
}

void setProgramDirForTests(const QString& dir)
{
    std::lock_guard lock(g_dirMutex);
    g_testDir = dir;
}

} // namespace ktr::platform
