#include "platform/filehash.h"

#include <QFile>

#include <openssl/evp.h>

#include "platform/lazycrypto.h"

namespace ktr::platform {

QByteArray sha256OfFile(const QString& path)
{
    if (!cryptoLibrary().available())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Sha256Stream hash;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (n == 0)
            break;
        hash.addData(buffer.constData(), n);
    }
    return hash.result();
}

} // namespace ktr::platform

namespace ktr::platform {

Sha256Stream::Sha256Stream()
{
    if (!cryptoLibrary().available()) {
        m_failed = true;
        return;
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1)
        m_failed = true;
    m_ctx = ctx;
}

Sha256Stream::~Sha256Stream()
{
    if (m_ctx)
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_ctx));
}

void Sha256Stream::addData(const char* data, qint64 size)
{
    if (!m_failed && size > 0 && EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_ctx), data, size_t(size)) != 1)
        m_failed = true;
}

bool Sha256Stream::addFilePrefix(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_failed = true;
        return false;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    while (bytes > 0) {
        const qint64 n = file.read(buffer.data(), qMin<qint64>(bytes, buffer.size()));
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        addData(buffer.constData(), n);
        bytes -= n;
    }
    return !m_failed;
}

QByteArray Sha256Stream::result()
{
    if (m_failed)
        return {};
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    m_failed = true; // ended
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_ctx), reinterpret_cast<unsigned char*>(digest.data()), &length) !=
        1)
        return {};
    digest.resize(int(length));
    return digest;
}

} // namespace ktr::platform
