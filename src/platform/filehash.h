#pragma once

#include <QByteArray>
#include <QString>

namespace ktr::platform {

// The 32-byte SHA-256 of a whole file, read in 1 MiB steps; empty when the file can't be opened or read.
// Goes through OpenSSL, which uses the CPU's SHA instructions: for packages of hundreds of megabytes that
// is about ten times the rate of QCryptographicHash here. Safe to call from any thread.
QByteArray sha256OfFile(const QString& path);

} // namespace ktr::platform

namespace ktr::platform {

// An incremental SHA-256 (same engine as sha256OfFile), for data hashed as it arrives. One thread at a time.
class Sha256Stream
{
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    void addData(const char* data, qint64 size);
    // Hashes the first `bytes` bytes of a file; false when it can't be opened or is shorter.
    bool addFilePrefix(const QString& path, qint64 bytes);
    // The 32-byte digest; empty when anything failed. Ends the stream.
    QByteArray result();

private:
    void* m_ctx = nullptr;
    bool m_failed = false;
};

} // namespace ktr::platform
