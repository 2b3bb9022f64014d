#include "platform/instancelock.h"

#include "platform/fsentry.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktr::platform {

SingleInstanceLock::SingleInstanceLock(const QString& name) : m_path(lockPath(name))
{
}

SingleInstanceLock::~SingleInstanceLock()
{
    // The process ending drops the lock as well; a lock object that goes away leaves nothing behind.
    release();
}

QString SingleInstanceLock::lockPath(const QString& name)
{
    // Never a name in a shared folder: another user could plant it and keep every start out.
    const QString dir = privateRuntimeDir();
    if (dir.isEmpty())
        return {};
    return dir + QLatin1Char('/') + name + QStringLiteral(".lock");
}

namespace {

bool processAlive(qint64 pid)
{
    return pid > 0 && pid <= INT_MAX && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// A lock file names its holder as "pid\napp\nhost\n". A free lock whose file names another host was written
// where this machine can't see the holder's lock (a runtime folder shared over the network): only a pid that
// lives here shows it may still be held. Naming this host, or nothing readable, a free lock is stale.
bool foreignHolderMayLive(int fd)
{
    char buf[512];
    const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    const QList<QByteArray> lines = QByteArray(buf, n > 0 ? int(n) : 0).split('\n');
    const QByteArray host = lines.value(2).trimmed();
    if (host.isEmpty() || host == QSysInfo::machineHostName().toUtf8())
        return false;
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    return ok && processAlive(pid);
}

bool sameFile(int fd, const QByteArray& path)
{
    struct stat locked = {};
    struct stat atPath = {};
    return ::fstat(fd, &locked) == 0 && ::stat(path.constData(), &atPath) == 0 && locked.st_dev == atPath.st_dev &&
           locked.st_ino == atPath.st_ino;
}

} // namespace

SingleInstanceLock::Result SingleInstanceLock::tryAcquire()
{
    if (isHeld())
        return Result::Acquired;
    if (m_path.isEmpty())
        return Result::Failed;
    const QByteArray native = QFile::encodeName(m_path);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return Result::Failed;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            ::close(fd);
            return held ? Result::HeldElsewhere : Result::Failed;
        }
        // A holder quitting removes the file: a lock taken on the file it removed guards nothing, so the
        // file now at the path is tried again.
        if (!sameFile(fd, native)) {
            ::close(fd);
            continue;
        }
        if (foreignHolderMayLive(fd)) {
            ::close(fd);
            return Result::HeldElsewhere;
        }
        const QByteArray content = QByteArray::number(qint64(::getpid())) + '\n' +
                                   QCoreApplication::applicationName().toUtf8() + '\n' +
                                   QSysInfo::machineHostName().toUtf8() + '\n';
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, content.constData(), size_t(content.size()), 0) != content.size())
            qWarning().noquote() << "[lock] could not write the holder into" << m_path;
        m_fd = fd;
        return Result::Acquired;
    }
    return Result::HeldElsewhere;
}

void SingleInstanceLock::release()
{
    if (m_fd < 0)
        return;
    // Removed while still held, so a start that opened the old file sees it gone and takes the new one.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

bool SingleInstanceLock::isHeld() const
{
    return m_fd >= 0;
}

} // namespace ktr::platform
