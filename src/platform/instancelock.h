#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace ktr::platform {

// One process per user holds a named lock: a lock file in the user's private runtime folder
// (privateRuntimeDir: $XDG_RUNTIME_DIR or a private folder of ours).
// The kernel-visible owner is checked, so the lock of a process that died is taken over at once.
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

    // Whether a process that may hold the lock file is still there: one holds its lock now, or the pid it
    // names lives on this machine. False for an empty, garbled or foreign lock no one holds.
    static bool holderProvablyAlive(const QString& path);

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace ktr::platform
