#pragma once

#include <QByteArray>
#include <QString>

namespace ktr::platform {

// One line naming the operating system for diagnostics: the distribution from os-release and the kernel,
// e.g. "Debian GNU/Linux 12 (bookworm) · Linux 6.1.0-18-amd64 (x86_64)".
QString systemDescription();

// The same from given parts (tests): the text of an os-release file (PRETTY_NAME, else NAME and
// VERSION_ID; nothing usable leaves the distribution out) and the kernel's release and machine.
// Empty parts are left out; with nothing at all the result is `fallback`.
QString describeSystem(const QByteArray& osRelease, const QString& kernelRelease, const QString& machine,
                       const QString& fallback);

} // namespace ktr::platform
