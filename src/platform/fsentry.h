#pragma once

#include <QString>
#include <QtGlobal>

namespace ktr::platform {

// What the file system says about one entry itself: a symbolic link is described as the link, never as
// its target.
struct EntryStat
{
    bool exists = false;
    bool isLink = false;
    bool isDir = false;
    uint owner = 0;
    qint64 modifiedSecs = 0; // seconds since the epoch (UTC)
};

EntryStat entryStat(const QString& path);

} // namespace ktr::platform
