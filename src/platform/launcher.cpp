#include "platform/launcher.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace ktr::platform {

bool Launcher::startDetached(const QString& program, const QStringList& arguments, const QString& workDir)
{
    return QProcess::startDetached(program, arguments, workDir);
}

bool Launcher::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

namespace {
Launcher* g_replacement = nullptr;
}

Launcher& launcher()
{
    static Launcher system;
    return g_replacement ? *g_replacement : system;
}

void setLauncher(Launcher* replacement)
{
    g_replacement = replacement;
}

bool isNativeExecutable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isExecutable())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head.startsWith("\x7f"
                           "ELF") ||
           head.startsWith("#!");
}

} // namespace ktr::platform
