#include "platform/fileops.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktr::platform {
namespace {

QString errnoText(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

bool renameNoReplace(const QString& from, const QString& to, QString* error, bool* targetExists)
{
    if (targetExists)
        *targetExists = false;
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST && targetExists)
        *targetExists = true;
    if (error)
        *error = errnoText(QStringLiteral("rename %1 -> %2").arg(from, to));
    return false;
}

bool syncPath(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool copyFileKeepTime(const QString& src, const QString& dst, QString* error)
{
    const int in = ::open(QFile::encodeName(src).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        if (error)
            *error = errnoText(QStringLiteral("cannot read %1").arg(src));
        return false;
    }
    struct stat st
    {
    };
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        if (error)
            *error = QStringLiteral("not a regular file: %1").arg(src);
        return false;
    }
    // Replace, never write through: a link or a folder at dst is not followed or filled.
    const QByteArray target = QFile::encodeName(dst);
    struct stat dstSt
    {
    };
    if (::lstat(target.constData(), &dstSt) == 0 && !S_ISDIR(dstSt.st_mode))
        ::unlink(target.constData());
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        if (error)
            *error = errnoText(QStringLiteral("cannot write %1").arg(dst));
        return false;
    }
    bool ok = true;
    off_t left = st.st_size;
    while (left > 0) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // Fall back to a plain copy where the kernel can't copy between these files.
            char buf[65536];
            ssize_t r = 0;
            while (left > 0 && (r = ::read(in, buf, sizeof buf)) > 0) {
                if (::write(out, buf, size_t(r)) != r) {
                    ok = false;
                    break;
                }
                left -= r;
            }
            if (r < 0 || left > 0)
                ok = false;
            break;
        }
        left -= n;
    }
    if (ok) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    if (::close(out) != 0)
        ok = false;
    ::close(in);
    if (!ok) {
        if (error)
            *error = errnoText(QStringLiteral("cannot write %1").arg(dst));
        ::unlink(target.constData());
    }
    return ok;
}

FileLock::~FileLock()
{
    unlock();
}

bool FileLock::tryLock(const QString& path)
{
    unlock();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

FileLock::Result FileLock::tryLockOwn(const QString& path)
{
    unlock();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Result::Refused;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        ::close(fd);
        return Result::Refused;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Result::Busy;
    }
    m_fd = fd;
    return Result::Locked;
}

void FileLock::unlock()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace ktr::platform
