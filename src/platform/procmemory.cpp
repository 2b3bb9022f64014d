#include "platform/procmemory.h"

#include <QFile>
#include <QList>

namespace ktr::platform {

namespace {

// "VmRSS:	   12345 kB" -> bytes; -1 when the line is not of that shape.
qint64 kilobyteField(const QByteArray& line, const QByteArray& key)
{
    if (!line.startsWith(key))
        return -1;
    const QList<QByteArray> parts = line.mid(key.size()).simplified().split(' ');
    if (parts.size() != 2 || parts.at(1) != "kB")
        return -1;
    bool ok = false;
    const qint64 kb = parts.at(0).toLongLong(&ok);
    return ok && kb >= 0 ? kb * 1024 : -1;
}

} // namespace

bool parseProcessMemory(const QByteArray& status, qint64* residentBytes, qint64* peakBytes)
{
    qint64 rss = -1;
    qint64 peak = -1;
    for (const QByteArray& line : status.split('\n')) {
        if (const qint64 v = kilobyteField(line, "VmRSS:"); v >= 0)
            rss = v;
        else if (const qint64 w = kilobyteField(line, "VmHWM:"); w >= 0)
            peak = w;
    }
    if (rss < 0 || peak < 0)
        return false;
    if (residentBytes)
        *residentBytes = rss;
    if (peakBytes)
        *peakBytes = peak;
    return true;
}

bool processMemory(qint64* residentBytes, qint64* peakBytes)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The status file reports a size of 0, so read it to the end rather than by its size.
    return parseProcessMemory(file.readAll(), residentBytes, peakBytes);
}

} // namespace ktr::platform
