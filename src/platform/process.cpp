#include "platform/process.h"

#include <cstdio>
#include <unistd.h>

namespace ktr::platform {

void hardExit(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

uint currentUserId()
{
    return static_cast<uint>(::getuid());
}

} // namespace ktr::platform

#include <QFile>

#include <cerrno>
#include <signal.h>

namespace ktr::platform {

qint64 currentProcessId()
{
    return qint64(::getpid());
}

bool isProcessAlive(qint64 pid)
{
    if (pid <= 0 || pid > 0x7FFFFFFF)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString processExecutable(qint64 pid)
{
    if (pid <= 0)
        return {};
    QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    const QString deleted = QStringLiteral(" (deleted)");
    if (exe.endsWith(deleted))
        exe.chop(deleted.size());
    return exe;
}

} // namespace ktr::platform
