#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace ktr::platform {

// The resident memory of this process and its peak, in bytes, from /proc/self/status (VmRSS, VmHWM).
// False when the file can't be read or lacks either line.
bool processMemory(qint64* residentBytes, qint64* peakBytes);
// The same from the text of a status file (tests).
bool parseProcessMemory(const QByteArray& status, qint64* residentBytes, qint64* peakBytes);

} // namespace ktr::platform
