#include "platform/fsentry.h"

#include <QFile>

#include <sys/stat.h>

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
    result.owner = static_cast<uint>(st.st_uid);
    result.modifiedSecs = static_cast<qint64>(st.st_mtim.tv_sec);
    return result;
}

} // namespace ktr::platform
