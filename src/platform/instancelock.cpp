#include "platform/instancelock.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace ktr::platform {

SingleInstanceLock::SingleInstanceLock(const QString& name) : m_path(lockPath(name))
{
}

SingleInstanceLock::~SingleInstanceLock() = default;

QString SingleInstanceLock::lockPath(const QString& name)
{
    // RuntimeLocation is $XDG_RUNTIME_DIR, or a private folder Qt creates when the session has none.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QLatin1Char('/') + name + QStringLiteral(".lock");
}

SingleInstanceLock::Result SingleInstanceLock::tryAcquire()
{
    if (isHeld())
        return Result::Acquired;
    auto lock = std::make_unique<QLockFile>(m_path);
    // Only a dead owner makes a lock stale, never its age: a panel runs for weeks.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return Result::Acquired;
    }
    return lock->error() == QLockFile::LockFailedError ? Result::HeldElsewhere : Result::Failed;
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
