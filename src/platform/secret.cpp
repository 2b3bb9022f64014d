#include "platform/secret.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "platform/lazycrypto.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktr::platform {
namespace {

constexpr int kKeyLen = 32;
constexpr int kNonceLen = 12;
constexpr int kTagLen = 16;
// Identifies the layout and is authenticated with the data, so a blob of another format or version
// never decrypts.
constexpr char kMagic[] = "KTS1";
constexpr int kMagicLen = 4;
// Secrets are short; anything bigger is not ours.
constexpr qsizetype kMaxBlob = 1024 * 1024;

// Wipes the key bytes when it goes out of scope.
struct KeyBytes
{
    unsigned char bytes[kKeyLen] = {};
    ~KeyBytes() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

enum class KeyRead {
    Ok,
    Missing,
    Damaged,  // a regular file of the wrong size
    Unusable, // not a regular file, or not readable
};

bool writeAll(int fd, const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

KeyRead readKey(const QString& path, KeyBytes* key)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT ? KeyRead::Missing : KeyRead::Unusable;
    struct stat st = {};
    KeyRead result = KeyRead::Unusable;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        result = KeyRead::Damaged;
    if (result == KeyRead::Damaged && st.st_size == kKeyLen) {
        // A key others could read protects nothing: take the access back.
        if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid())
            ::fchmod(fd, 0600);
        size_t got = 0;
        while (got < size_t(kKeyLen)) {
            const ssize_t n = ::read(fd, key->bytes + got, kKeyLen - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        if (got == size_t(kKeyLen))
            result = KeyRead::Ok;
    }
    ::close(fd);
    return result;
}

// Creates the key file 0600 from the first byte on. Two processes racing here agree on one key: the
// file appears whole through link(), and the loser reads the winner's key.
bool createKey(const QString& path, KeyBytes* key)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(dir)) {
        const QString parent = QFileInfo(dir).absolutePath();
        QDir().mkpath(parent);
        if (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && errno != EEXIST) {
            qWarning() << "[secret] key folder not created:" << dir << ::strerror(errno);
            return false;
        }
    }
    if (RAND_bytes(key->bytes, kKeyLen) != 1) {
        qWarning() << "[secret] no random bytes for a new key";
        return false;
    }
    unsigned char suffix[6];
    RAND_bytes(suffix, sizeof suffix);
    const QString tmp =
        path + QStringLiteral(".tmp-%1-%2")
                   .arg(::getpid())
                   .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(suffix), sizeof suffix).toHex()));
    const QByteArray tmpNative = QFile::encodeName(tmp);
    const int fd = ::open(tmpNative.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        qWarning() << "[secret] key file not created:" << path << ::strerror(errno);
        return false;
    }
    const bool written = writeAll(fd, key->bytes, kKeyLen) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
        ::unlink(tmpNative.constData());
        qWarning() << "[secret] key file not written:" << path;
        return false;
    }
    const int linked = ::link(tmpNative.constData(), QFile::encodeName(path).constData());
    const int linkErr = errno;
    ::unlink(tmpNative.constData());
    if (linked == 0)
        return true;
    if (linkErr == EEXIST)
        return readKey(path, key) == KeyRead::Ok;
    qWarning() << "[secret] key file not created:" << path << ::strerror(linkErr);
    return false;
}

// The key for protecting: the existing one, or a new one. A damaged key file is moved aside (what it
// protected is lost either way) rather than overwritten, so it can still be looked at.
bool keyForProtect(const QString& path, KeyBytes* key)
{
    switch (readKey(path, key)) {
    case KeyRead::Ok:
        return true;
    case KeyRead::Missing:
        return createKey(path, key);
    case KeyRead::Damaged:
        break;
    case KeyRead::Unusable:
        qWarning() << "[secret] key file unusable:" << path;
        return false;
    }
    const QString aside = path + QStringLiteral(".corrupt-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    if (!QFile::rename(path, aside)) {
        qWarning() << "[secret] damaged key file can't be moved aside:" << path;
        return false;
    }
    qWarning() << "[secret] damaged key file moved aside:" << aside;
    return createKey(path, key);
}

struct CipherCtx
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~CipherCtx() { EVP_CIPHER_CTX_free(ctx); }
};

} // namespace

SecretProtector::SecretProtector(const QString& keyFile) : m_keyFile(keyFile.isEmpty() ? defaultKeyFile() : keyFile)
{
}

QString SecretProtector::defaultKeyFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kestrune/secret.key");
}

QByteArray SecretProtector::protect(const QByteArray& plain) const
{
    if (!cryptoLibrary().available() || plain.size() > kMaxBlob)
        return {};
    KeyBytes key;
    if (!keyForProtect(m_keyFile, &key))
        return {};
    unsigned char nonce[kNonceLen];
    if (RAND_bytes(nonce, kNonceLen) != 1)
        return {};

    CipherCtx c;
    if (!c.ctx)
        return {};
    QByteArray out(kMagicLen + kNonceLen + plain.size() + kTagLen, Qt::Uninitialized);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    std::memcpy(o, kMagic, kMagicLen);
    std::memcpy(o + kMagicLen, nonce, kNonceLen);
    unsigned char* cipher = o + kMagicLen + kNonceLen;
    int len = 0;
    int total = 0;
    if (EVP_EncryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceLen, nullptr) != 1 ||
        EVP_EncryptInit_ex(c.ctx, nullptr, nullptr, key.bytes, nonce) != 1 ||
        EVP_EncryptUpdate(c.ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(kMagic), kMagicLen) != 1)
        return {};
    if (!plain.isEmpty()) {
        if (EVP_EncryptUpdate(c.ctx, cipher, &len, reinterpret_cast<const unsigned char*>(plain.constData()),
                              int(plain.size())) != 1)
            return {};
        total = len;
    }
    if (EVP_EncryptFinal_ex(c.ctx, cipher + total, &len) != 1)
        return {};
    total += len;
    if (total != plain.size())
        return {};
    if (EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_GET_TAG, kTagLen, cipher + total) != 1)
        return {};
    return out;
}

QByteArray SecretProtector::unprotect(const QByteArray& blob) const
{
    if (!cryptoLibrary().available() || blob.size() < kMagicLen + kNonceLen + kTagLen || blob.size() > kMaxBlob ||
        std::memcmp(blob.constData(), kMagic, kMagicLen) != 0)
        return {};
    KeyBytes key;
    if (readKey(m_keyFile, &key) != KeyRead::Ok)
        return {};

    const auto* b = reinterpret_cast<const unsigned char*>(blob.constData());
    const unsigned char* nonce = b + kMagicLen;
    const unsigned char* cipher = nonce + kNonceLen;
    const int cipherLen = int(blob.size()) - kMagicLen - kNonceLen - kTagLen;
    QByteArray tag(reinterpret_cast<const char*>(cipher + cipherLen), kTagLen);

    CipherCtx c;
    if (!c.ctx)
        return {};
    QByteArray plain(cipherLen, Qt::Uninitialized);
    auto* p = reinterpret_cast<unsigned char*>(plain.data());
    int len = 0;
    int total = 0;
    if (EVP_DecryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceLen, nullptr) != 1 ||
        EVP_DecryptInit_ex(c.ctx, nullptr, nullptr, key.bytes, nonce) != 1 ||
        EVP_DecryptUpdate(c.ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(kMagic), kMagicLen) != 1)
        return {};
    if (cipherLen > 0) {
        if (EVP_DecryptUpdate(c.ctx, p, &len, cipher, cipherLen) != 1)
            return {};
        total = len;
    }
    if (EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_TAG, kTagLen, tag.data()) != 1)
        return {};
    // Only a matching tag proves the bytes came from our key unchanged; anything else is dropped whole.
    if (EVP_DecryptFinal_ex(c.ctx, p + total, &len) <= 0) {
        OPENSSL_cleanse(p, size_t(plain.size()));
        return {};
    }
    total += len;
    plain.truncate(total);
    return plain;
}

QByteArray protectData(const QByteArray& plain)
{
    return SecretProtector().protect(plain);
}

QByteArray unprotectData(const QByteArray& blob)
{
    return SecretProtector().unprotect(blob);
}

} // namespace ktr::platform
