#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace ktr::platform {

// One process per user holds a named lock: a lock file in the user's runtime folder ($XDG_RUNTIME_DIR).
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

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace ktr::platform
