#include "platform/es256.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include "platform/lazycrypto.h"

#include <memory>

namespace ktr::platform {

namespace {

// Owners of the library's objects. The deleters call the free functions instead of taking their addresses:
// only a call goes through lazycrypto.h, an address would name the symbol of a library that is not linked.
using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype([](EVP_PKEY* p) { EVP_PKEY_free(p); })>;
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype([](EVP_PKEY_CTX* p) { EVP_PKEY_CTX_free(p); })>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, decltype([](EVP_MD_CTX* p) { EVP_MD_CTX_free(p); })>;
using SigPtr = std::unique_ptr<ECDSA_SIG, decltype([](ECDSA_SIG* p) { ECDSA_SIG_free(p); })>;
using BnPtr = std::unique_ptr<BIGNUM, decltype([](BIGNUM* p) { BN_free(p); })>;
using BioPtr = std::unique_ptr<BIO, decltype([](BIO* p) { BIO_free_all(p); })>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, decltype([](OSSL_PARAM_BLD* p) { OSSL_PARAM_BLD_free(p); })>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, decltype([](OSSL_PARAM* p) { OSSL_PARAM_free(p); })>;

constexpr int kCoordBytes = 32;

// The public key from its point; null when the point is not on P-256 (fromdata checks that).
PkeyPtr publicKeyFromPoint(const QByteArray& x, const QByteArray& y)
{
    if (x.size() != kCoordBytes || y.size() != kCoordBytes)
        return {};
    QByteArray point;
    point.reserve(1 + 2 * kCoordBytes);
    point.append(char(0x04)); // uncompressed
    point.append(x);
    point.append(y);

    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    if (!bld)
        return {};
    char group[] = "prime256v1";
    if (!OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, 0) ||
        !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.constData(), size_t(point.size())))
        return {};
    ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    CtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1)
        return {};
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return {};
    PkeyPtr key(raw);
    // fromdata accepts any octets; the point check is separate.
    CtxPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1)
        return {};
    return key;
}

PkeyPtr privateKeyFromPem(const QByteArray& pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio)
        return {};
    PkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC)
        return {};
    char group[64] = {};
    size_t len = 0;
    if (EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &len) != 1 ||
        QByteArray(group, int(len)) != "prime256v1")
        return {};
    return key;
}

bool pointOf(EVP_PKEY* key, QByteArray* x, QByteArray* y)
{
    unsigned char buf[1 + 2 * kCoordBytes];
    size_t len = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, buf, sizeof buf, &len) != 1 ||
        len != sizeof buf || buf[0] != 0x04)
        return false;
    *x = QByteArray(reinterpret_cast<const char*>(buf + 1), kCoordBytes);
    *y = QByteArray(reinterpret_cast<const char*>(buf + 1 + kCoordBytes), kCoordBytes);
    return true;
}

} // namespace

bool es256Verify(const QByteArray& x, const QByteArray& y, const QByteArray& message, const QByteArray& signature)
{
    if (!cryptoLibrary().available() || signature.size() != 2 * kCoordBytes)
        return false;
    PkeyPtr key = publicKeyFromPoint(x, y);
    if (!key)
        return false;

    // The library verifies DER: r and s as integers (a leading zero byte of r or s is not part of them).
    const auto* raw = reinterpret_cast<const unsigned char*>(signature.constData());
    BnPtr r(BN_bin2bn(raw, kCoordBytes, nullptr));
    BnPtr s(BN_bin2bn(raw + kCoordBytes, kCoordBytes, nullptr));
    SigPtr sig(ECDSA_SIG_new());
    if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1)
        return false;
    r.release(); // owned by sig now
    s.release();
    unsigned char* der = nullptr;
    const int derLen = i2d_ECDSA_SIG(sig.get(), &der);
    if (derLen <= 0)
        return false;
    const QByteArray derSig(reinterpret_cast<const char*>(der), derLen);
    OPENSSL_free(der);

    MdCtxPtr md(EVP_MD_CTX_new());
    if (!md || EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
        return false;
    // Exactly 1 is a valid signature; 0 is a wrong one, a negative value an error.
    return EVP_DigestVerify(md.get(), reinterpret_cast<const unsigned char*>(derSig.constData()), size_t(derSig.size()),
                            reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size())) == 1;
}

bool es256IsValidPublicKey(const QByteArray& x, const QByteArray& y)
{
    return cryptoLibrary().available() && publicKeyFromPoint(x, y);
}

QByteArray es256Sign(const QByteArray& privateKeyPem, const QByteArray& message)
{
    if (!cryptoLibrary().available())
        return {};
    PkeyPtr key = privateKeyFromPem(privateKeyPem);
    MdCtxPtr md(EVP_MD_CTX_new());
    if (!key || !md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
        return {};
    size_t len = 0;
    const auto* msg = reinterpret_cast<const unsigned char*>(message.constData());
    if (EVP_DigestSign(md.get(), nullptr, &len, msg, size_t(message.size())) != 1)
        return {};
    QByteArray der(int(len), Qt::Uninitialized);
    if (EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(der.data()), &len, msg, size_t(message.size())) != 1)
        return {};
    const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    SigPtr sig(d2i_ECDSA_SIG(nullptr, &p, long(len)));
    if (!sig)
        return {};
    QByteArray out(2 * kCoordBytes, Qt::Uninitialized);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), o, kCoordBytes) != kCoordBytes ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), o + kCoordBytes, kCoordBytes) != kCoordBytes)
        return {};
    return out;
}

bool es256GenerateKey(QByteArray* privateKeyPem, QByteArray* x, QByteArray* y)
{
    if (!cryptoLibrary().available())
        return false;
    PkeyPtr key(EVP_EC_gen("prime256v1"));
    if (!key)
        return false;
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return false;
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    *privateKeyPem = QByteArray(data, int(len));
    return pointOf(key.get(), x, y);
}

bool es256PublicKeyOf(const QByteArray& privateKeyPem, QByteArray* x, QByteArray* y)
{
    if (!cryptoLibrary().available())
        return false;
    PkeyPtr key = privateKeyFromPem(privateKeyPem);
    return key && pointOf(key.get(), x, y);
}

} // namespace ktr::platform
