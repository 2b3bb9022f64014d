#include "platform/fsentry.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktr::platform {

EntryStat entryStat(const QString& path)
{
    EntryStat result;
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return result;
    result.exists = true;
    result.isLink = S_ISLNK(st.st_mode);
    result.isDir = S_ISDIR(st.st_mode);
    result.isRegular = S_ISREG(st.st_mode);
    result.owner = static_cast<uint>(st.st_uid);
    result.mode = static_cast<uint>(st.st_mode & 07777);
    result.modifiedSecs = static_cast<qint64>(st.st_mtim.tv_sec);
    return result;
}

bool isRegularFile(const QString& path)
{
    struct stat st
    {
    };
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool syncFileToDisk(int fd, QString* error)
{
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    // A file system that can't sync (EINVAL, ENOTSUP) has nothing buffered to lose.
    if (rc == 0 || errno == EINVAL || errno == ENOTSUP) {
        if (error)
            error->clear();
        return true;
    }
    if (error)
        *error = QStringLiteral("fsync failed: ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool ensurePrivateDir(const QString& path, QString* error)
{
    auto fail = [error, &path](const QString& why) {
        if (error)
            *error = path + QStringLiteral(": ") + why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("empty path"));
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        // The parents may be missing: make them (they need not be private), then the folder itself.
        QDir().mkpath(QDir(path).absoluteFilePath(QStringLiteral("..")));
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return fail(QStringLiteral("mkdir failed: ") + QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat st
    {
    };
    if (::lstat(native.constData(), &st) != 0)
        return fail(QStringLiteral("lstat failed: ") + QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return fail(QStringLiteral("not a folder (a link or a file lies there)"));
    if (st.st_uid != ::getuid())
        return fail(QStringLiteral("owned by user %1, not by us").arg(st.st_uid));
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return fail(QStringLiteral("chmod 0700 failed"));
    if (error)
        error->clear();
    return true;
}

void restrictToOwner(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::lstat(native.constData(), &st) != 0 || st.st_uid != ::getuid())
        return;
    if (S_ISDIR(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(native.constData(), 0700);
    else if (S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(native.constData(), st.st_mode & 0700);
}

QString privateRuntimeDir()
{
    // Qt checks the session's folder (or the one it makes in the temporary folder) is ours and private,
    // and answers empty when it isn't.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    // A shared folder such as /tmp could hold a name another user planted; the cache folder is in the
    // user's home, where no one else creates anything.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return {};
    const QString ours = cache + QStringLiteral("/KestrunePanel-runtime");
    return ensurePrivateDir(ours) ? ours : QString();
}

QString makeFreshPrivateDir(const QString& parent, const QString& prefix, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return QString();
    };
    if (parent.isEmpty())
        return fail(QStringLiteral("no folder to make it in"));
    QByteArray pattern = QFile::encodeName(parent + QLatin1Char('/') + prefix) + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return fail(
            QStringLiteral("mkdtemp below %1 failed: %2").arg(parent, QString::fromLocal8Bit(std::strerror(errno))));
    const QString made = QFile::decodeName(pattern);
    struct stat st
    {
    };
    if (::lstat(pattern.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 07777) != 0700)
        return fail(made + QStringLiteral(": not a private folder of ours after creation"));
    if (error)
        error->clear();
    return made;
}

NewFileResult writeNewFile(const QString& path, const QByteArray& bytes, uint mode, QString* error)
{
    auto why = [error, &path](const char* what) {
        if (error)
            *error = path + QStringLiteral(": ") + QLatin1String(what) + QStringLiteral(": ") +
                     QString::fromLocal8Bit(std::strerror(errno));
    };
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode & 0777));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        why("create");
        return NewFileResult::NotCreated;
    }
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why("write");
            ok = false;
            break;
        }
        data += n;
        left -= n;
    }
    if (ok) {
        QString syncError;
        ok = syncFileToDisk(fd, &syncError);
        if (!ok && error)
            *error = path + QStringLiteral(": ") + syncError;
    }
    if (::close(fd) != 0 && ok) {
        why("close");
        ok = false;
    }
    if (!ok) {
        ::unlink(native.constData());
        return NewFileResult::Incomplete;
    }
    if (error)
        error->clear();
    return NewFileResult::Ok;
}

} // namespace ktr::platform
