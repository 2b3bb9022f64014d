#pragma once

#include <QString>

namespace ktr::platform {

// One process per user holds a named lock: a lock file in the user's private runtime folder
// (privateRuntimeDir: $XDG_RUNTIME_DIR or a private folder of ours), locked with flock(2). The kernel drops
// the lock with the process, so the lock of a process that died is taken over at once. Nothing is synced to
// disk: a lock means nothing after a reboot, and the start must not wait for the disk.
class SingleInstanceLock
{
public:
    enum class Result { Acquired, HeldElsewhere, Failed };

    explicit SingleInstanceLock(const QString& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    Result tryAcquire();
    void release();
    bool isHeld() const;
    QString path() const { return m_path; }

    // The lock file for a name: the runtime folder + "/" + name + ".lock".
    static QString lockPath(const QString& name);

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace ktr::platform
