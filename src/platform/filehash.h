#pragma once

#include <QByteArray>
#include <QString>

namespace ktr::platform {

// The 32-byte SHA-256 of a whole file, read in 1 MiB steps; empty when the file can't be opened or read.
// Goes through OpenSSL, which uses the CPU's SHA instructions: for packages of hundreds of megabytes that
// is about ten times the rate of QCryptographicHash here. Safe to call from any thread.
QByteArray sha256OfFile(const QString& path);

} // namespace ktr::platform
