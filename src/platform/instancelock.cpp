#include "platform/instancelock.h"

#include "platform/fsentry.h"

#include <QDebug>
#include <QFile>
#include <QLockFile>
#include <QSysInfo>

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ktr::platform {

SingleInstanceLock::SingleInstanceLock(const QString& name) : m_path(lockPath(name))
{
}

SingleInstanceLock::~SingleInstanceLock() = default;

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

} // namespace

bool SingleInstanceLock::holderProvablyAlive(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno != ENOENT; // there but unreadable to us: not ours to remove
    // A live holder keeps a lock on the file; a free lock proves only that no holder on this machine
    // holds it now.
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (locked)
        return true;
    // The holder writes "pid\napp\nhost\n..." right after creating the file; any process still named
    // there on this machine may be it.
    const QList<QByteArray> lines = QByteArray(buf, n > 0 ? int(n) : 0).split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    return ok && processAlive(pid);
}

SingleInstanceLock::Result SingleInstanceLock::tryAcquire()
{
    if (isHeld())
        return Result::Acquired;
    if (m_path.isEmpty())
        return Result::Failed;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto lock = std::make_unique<QLockFile>(m_path);
        // Only a dead owner makes a lock stale, never its age: a panel runs for weeks.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_lock = std::move(lock);
            return Result::Acquired;
        }
        if (lock->error() != QLockFile::LockFailedError)
            return Result::Failed;
        // QLockFile keeps a lock it can't read (empty, garbage, written on another host) for ever; such a
        // lock whose holder can't be shown alive is stale, or every later start would give up.
        if (attempt > 0 || holderProvablyAlive(m_path))
            return Result::HeldElsewhere;
        qWarning().noquote() << "[lock] removing a stale lock no live process holds:" << m_path;
        if (!QFile::remove(m_path))
            return Result::HeldElsewhere;
    }
    return Result::HeldElsewhere;
}

void SingleInstanceLock::release()
{
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

bool SingleInstanceLock::isHeld() const
{
    return m_lock && m_lock->isLocked();
}

} // namespace ktr::platform
