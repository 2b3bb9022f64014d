#pragma once

#include <QString>
#include <QtGlobal>

namespace ktr::platform {

// Renames a file or folder, refusing to replace anything at the target (renameat2 with RENAME_NOREPLACE).
// targetExists (when given) is set when the refusal was because the target exists.
bool renameNoReplace(const QString& from, const QString& to, QString* error, bool* targetExists = nullptr);

// Flushes a file (or a folder's entries) to the disk.
bool syncPath(const QString& path);

// Copies the regular file src to dst (dst is replaced when it exists), keeping the modification time.
// Links and anything but a regular file at src are refused.
bool copyFileKeepTime(const QString& src, const QString& dst, QString* error);

// An advisory lock on a file (flock): exclusive between processes and between two FileLock objects of one
// process. Released by unlock(), the destructor, or the end of the process.
class FileLock
{
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates the file when missing; false when another holder has it (or it can't be opened).
    bool tryLock(const QString& path);
    // The same, but a lock file that is a link, or not a regular file of the current user, is refused
    // (never followed, never created where a link points): Refused; Busy when another holder has it.
    enum class Result { Locked, Busy, Refused };
    Result tryLockOwn(const QString& path);
    void unlock();
    bool isLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace ktr::platform
