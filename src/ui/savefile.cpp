#include "ui/savefile.h"

#include "platform/fsentry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace ktr {
namespace {

SaveFileSeams& seams()
{
    static SaveFileSeams current;
    return current;
}

} // namespace

void setSaveFileSeams(SaveFileSeams replacement)
{
    seams() = std::move(replacement);
}

bool saveFileAtomic(const QString& path, const QByteArray& data, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("empty path"));
    // A failure here shows up as a failed open below.
    QDir().mkpath(QFileInfo(path).absolutePath());

    QSaveFile file(path);
    // Unbuffered: a buffered write only fails at commit, where QSaveFile would rename the cut-off temporary
    // file over the old one anyway (a full disk turned "settings.json" into an empty file).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(QStringLiteral("open failed: ") + file.errorString());
    // Our data files hold passwords' hashes and the user's layout: only the user may read a new one.
    if (!QFileInfo::exists(path))
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0) {
            const QString why = file.errorString();
            file.cancelWriting();
            return fail(QStringLiteral("short write (%1 of %2 bytes): %3").arg(done).arg(data.size()).arg(why));
        }
        done += n;
    }
    QString syncError;
    const SaveFileSeams& seam = seams();
    const auto sync = [&seam](int fd, QString* why) {
        return seam.sync ? seam.sync(fd, why) : ktr::platform::syncFileToDisk(fd, why);
    };
    if (!file.flush() || file.error() != QFileDevice::NoError || !sync(int(file.handle()), &syncError)) {
        const QString why = syncError.isEmpty() ? file.errorString() : syncError;
        file.cancelWriting();
        return fail(QStringLiteral("flush failed: ") + why);
    }
    if (!(seam.commit ? seam.commit(file) : file.commit()))
        return fail(QStringLiteral("commit failed: ") + file.errorString());
    if (error)
        error->clear();
    return true;
}

ReadStatus readFileCapped(const QString& path, qint64 maxSize, QByteArray* data, QString* error)
{
    if (data)
        data->clear();
    auto result = [error](ReadStatus status, const QString& why) {
        if (error)
            *error = why;
        return status;
    };
    const QFileInfo info(path);
    if (!info.exists()) {
        // A dangling link counts as missing too: there is nothing to read and nothing to lose.
        return result(ReadStatus::Missing, QStringLiteral("no such file"));
    }
    if (!info.isFile())
        return result(ReadStatus::NotAFile, QStringLiteral("not a regular file"));
    if (info.size() > maxSize)
        return result(ReadStatus::TooLarge,
                      QStringLiteral("file of %1 bytes exceeds the cap of %2").arg(info.size()).arg(maxSize));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result(ReadStatus::Failed, QStringLiteral("open failed: ") + file.errorString());
    // Read in chunks and stop past the cap, so a file that grew since the size check is still refused.
    QByteArray bytes;
    bytes.reserve(qsizetype(info.size()));
    char chunk[65536];
    for (;;) {
        const qint64 n = file.read(chunk, sizeof chunk);
        if (n < 0)
            return result(ReadStatus::Failed, QStringLiteral("read failed: ") + file.errorString());
        if (n == 0)
            break;
        bytes.append(chunk, qsizetype(n));
        if (bytes.size() > maxSize)
            return result(ReadStatus::TooLarge, QStringLiteral("file grew beyond the cap of %1").arg(maxSize));
    }
    if (data)
        *data = std::move(bytes);
    if (error)
        error->clear();
    return ReadStatus::Ok;
}

} // namespace ktr
