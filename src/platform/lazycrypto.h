#pragma once

// libcrypto (OpenSSL) opened on first use. Included by its users after the OpenSSL headers: each function they
// call becomes a call through the pointer resolved at load, so the program does not link libcrypto and does
// not load it at start. Every public entry point of those users checks cryptoLibrary().available() first.
// A function added here must be added to both lists; one missing from the first does not compile, one
// missing from the second does not link.

#include "platform/lazylibrary.h"

// Every libcrypto function called, including those OpenSSL's own macros expand to.
#define KTR_CRYPTO_SYMBOLS(X)                                                                                          \
    X(BIO_ctrl)                                                                                                        \
    X(BIO_free_all)                                                                                                    \
    X(BIO_new)                                                                                                         \
    X(BIO_new_mem_buf)                                                                                                 \
    X(BIO_s_mem)                                                                                                       \
    X(BN_bin2bn)                                                                                                       \
    X(BN_bn2binpad)                                                                                                    \
    X(BN_free)                                                                                                         \
    X(CRYPTO_free)                                                                                                     \
    X(ECDSA_SIG_free)                                                                                                  \
    X(ECDSA_SIG_get0_r)                                                                                                \
    X(ECDSA_SIG_get0_s)                                                                                                \
    X(ECDSA_SIG_new)                                                                                                   \
    X(ECDSA_SIG_set0)                                                                                                  \
    X(EVP_CIPHER_CTX_ctrl)                                                                                             \
    X(EVP_CIPHER_CTX_free)                                                                                             \
    X(EVP_CIPHER_CTX_new)                                                                                              \
    X(EVP_DecryptFinal_ex)                                                                                             \
    X(EVP_DecryptInit_ex)                                                                                              \
    X(EVP_DecryptUpdate)                                                                                               \
    X(EVP_DigestFinal_ex)                                                                                              \
    X(EVP_DigestInit_ex)                                                                                               \
    X(EVP_DigestSign)                                                                                                  \
    X(EVP_DigestSignInit)                                                                                              \
    X(EVP_DigestUpdate)                                                                                                \
    X(EVP_DigestVerify)                                                                                                \
    X(EVP_DigestVerifyInit)                                                                                            \
    X(EVP_EncryptFinal_ex)                                                                                             \
    X(EVP_EncryptInit_ex)                                                                                              \
    X(EVP_EncryptUpdate)                                                                                               \
    X(EVP_MD_CTX_free)                                                                                                 \
    X(EVP_MD_CTX_new)                                                                                                  \
    X(EVP_PKEY_CTX_free)                                                                                               \
    X(EVP_PKEY_CTX_new_from_name)                                                                                      \
    X(EVP_PKEY_CTX_new_from_pkey)                                                                                      \
    X(EVP_PKEY_Q_keygen)                                                                                               \
    X(EVP_PKEY_free)                                                                                                   \
    X(EVP_PKEY_fromdata)                                                                                               \
    X(EVP_PKEY_fromdata_init)                                                                                          \
    X(EVP_PKEY_get_base_id)                                                                                            \
    X(EVP_PKEY_get_octet_string_param)                                                                                 \
    X(EVP_PKEY_get_utf8_string_param)                                                                                  \
    X(EVP_PKEY_public_check)                                                                                           \
    X(EVP_aes_256_gcm)                                                                                                 \
    X(EVP_sha256)                                                                                                      \
    X(OPENSSL_cleanse)                                                                                                 \
    X(OSSL_PARAM_BLD_free)                                                                                             \
    X(OSSL_PARAM_BLD_new)                                                                                              \
    X(OSSL_PARAM_BLD_push_octet_string)                                                                                \
    X(OSSL_PARAM_BLD_push_utf8_string)                                                                                 \
    X(OSSL_PARAM_BLD_to_param)                                                                                         \
    X(OSSL_PARAM_free)                                                                                                 \
    X(PEM_read_bio_PrivateKey)                                                                                         \
    X(PEM_write_bio_PrivateKey)                                                                                        \
    X(RAND_bytes)                                                                                                      \
    X(d2i_ECDSA_SIG)                                                                                                   \
    X(i2d_ECDSA_SIG)

namespace ktr::platform {

enum class CryptoSymbol : std::size_t { KTR_CRYPTO_SYMBOLS(KTR_LAZY_ENUMERATOR) };

const LazyLibrary& cryptoLibrary();

} // namespace ktr::platform

#define KTR_CRYPTO_FN(name) KTR_LAZY_FN(::ktr::platform::cryptoLibrary(), ::ktr::platform::CryptoSymbol::name, name)

// A function-like macro is not replaced again inside its own expansion, so each of these names the real
// function in the pointer's type; OpenSSL's macros (OPENSSL_free, BIO_get_mem_data, EVP_EC_gen) expand to
// calls that these then pick up.
#define BIO_ctrl(...) KTR_CRYPTO_FN(BIO_ctrl)(__VA_ARGS__)
#define BIO_free_all(...) KTR_CRYPTO_FN(BIO_free_all)(__VA_ARGS__)
#define BIO_new(...) KTR_CRYPTO_FN(BIO_new)(__VA_ARGS__)
#define BIO_new_mem_buf(...) KTR_CRYPTO_FN(BIO_new_mem_buf)(__VA_ARGS__)
#define BIO_s_mem(...) KTR_CRYPTO_FN(BIO_s_mem)(__VA_ARGS__)
#define BN_bin2bn(...) KTR_CRYPTO_FN(BN_bin2bn)(__VA_ARGS__)
#define BN_bn2binpad(...) KTR_CRYPTO_FN(BN_bn2binpad)(__VA_ARGS__)
#define BN_free(...) KTR_CRYPTO_FN(BN_free)(__VA_ARGS__)
#define CRYPTO_free(...) KTR_CRYPTO_FN(CRYPTO_free)(__VA_ARGS__)
#define ECDSA_SIG_free(...) KTR_CRYPTO_FN(ECDSA_SIG_free)(__VA_ARGS__)
#define ECDSA_SIG_get0_r(...) KTR_CRYPTO_FN(ECDSA_SIG_get0_r)(__VA_ARGS__)
#define ECDSA_SIG_get0_s(...) KTR_CRYPTO_FN(ECDSA_SIG_get0_s)(__VA_ARGS__)
#define ECDSA_SIG_new(...) KTR_CRYPTO_FN(ECDSA_SIG_new)(__VA_ARGS__)
#define ECDSA_SIG_set0(...) KTR_CRYPTO_FN(ECDSA_SIG_set0)(__VA_ARGS__)
#define EVP_CIPHER_CTX_ctrl(...) KTR_CRYPTO_FN(EVP_CIPHER_CTX_ctrl)(__VA_ARGS__)
#define EVP_CIPHER_CTX_free(...) KTR_CRYPTO_FN(EVP_CIPHER_CTX_free)(__VA_ARGS__)
#define EVP_CIPHER_CTX_new(...) KTR_CRYPTO_FN(EVP_CIPHER_CTX_new)(__VA_ARGS__)
#define EVP_DecryptFinal_ex(...) KTR_CRYPTO_FN(EVP_DecryptFinal_ex)(__VA_ARGS__)
#define EVP_DecryptInit_ex(...) KTR_CRYPTO_FN(EVP_DecryptInit_ex)(__VA_ARGS__)
#define EVP_DecryptUpdate(...) KTR_CRYPTO_FN(EVP_DecryptUpdate)(__VA_ARGS__)
#define EVP_DigestFinal_ex(...) KTR_CRYPTO_FN(EVP_DigestFinal_ex)(__VA_ARGS__)
#define EVP_DigestInit_ex(...) KTR_CRYPTO_FN(EVP_DigestInit_ex)(__VA_ARGS__)
#define EVP_DigestSign(...) KTR_CRYPTO_FN(EVP_DigestSign)(__VA_ARGS__)
#define EVP_DigestSignInit(...) KTR_CRYPTO_FN(EVP_DigestSignInit)(__VA_ARGS__)
#define EVP_DigestUpdate(...) KTR_CRYPTO_FN(EVP_DigestUpdate)(__VA_ARGS__)
#define EVP_DigestVerify(...) KTR_CRYPTO_FN(EVP_DigestVerify)(__VA_ARGS__)
#define EVP_DigestVerifyInit(...) KTR_CRYPTO_FN(EVP_DigestVerifyInit)(__VA_ARGS__)
#define EVP_EncryptFinal_ex(...) KTR_CRYPTO_FN(EVP_EncryptFinal_ex)(__VA_ARGS__)
#define EVP_EncryptInit_ex(...) KTR_CRYPTO_FN(EVP_EncryptInit_ex)(__VA_ARGS__)
#define EVP_EncryptUpdate(...) KTR_CRYPTO_FN(EVP_EncryptUpdate)(__VA_ARGS__)
#define EVP_MD_CTX_free(...) KTR_CRYPTO_FN(EVP_MD_CTX_free)(__VA_ARGS__)
#define EVP_MD_CTX_new(...) KTR_CRYPTO_FN(EVP_MD_CTX_new)(__VA_ARGS__)
#define EVP_PKEY_CTX_free(...) KTR_CRYPTO_FN(EVP_PKEY_CTX_free)(__VA_ARGS__)
#define EVP_PKEY_CTX_new_from_name(...) KTR_CRYPTO_FN(EVP_PKEY_CTX_new_from_name)(__VA_ARGS__)
#define EVP_PKEY_CTX_new_from_pkey(...) KTR_CRYPTO_FN(EVP_PKEY_CTX_new_from_pkey)(__VA_ARGS__)
#define EVP_PKEY_Q_keygen(...) KTR_CRYPTO_FN(EVP_PKEY_Q_keygen)(__VA_ARGS__)
#define EVP_PKEY_free(...) KTR_CRYPTO_FN(EVP_PKEY_free)(__VA_ARGS__)
#define EVP_PKEY_fromdata(...) KTR_CRYPTO_FN(EVP_PKEY_fromdata)(__VA_ARGS__)
#define EVP_PKEY_fromdata_init(...) KTR_CRYPTO_FN(EVP_PKEY_fromdata_init)(__VA_ARGS__)
#define EVP_PKEY_get_base_id(...) KTR_CRYPTO_FN(EVP_PKEY_get_base_id)(__VA_ARGS__)
#define EVP_PKEY_get_octet_string_param(...) KTR_CRYPTO_FN(EVP_PKEY_get_octet_string_param)(__VA_ARGS__)
#define EVP_PKEY_get_utf8_string_param(...) KTR_CRYPTO_FN(EVP_PKEY_get_utf8_string_param)(__VA_ARGS__)
#define EVP_PKEY_public_check(...) KTR_CRYPTO_FN(EVP_PKEY_public_check)(__VA_ARGS__)
#define EVP_aes_256_gcm(...) KTR_CRYPTO_FN(EVP_aes_256_gcm)(__VA_ARGS__)
#define EVP_sha256(...) KTR_CRYPTO_FN(EVP_sha256)(__VA_ARGS__)
#define OPENSSL_cleanse(...) KTR_CRYPTO_FN(OPENSSL_cleanse)(__VA_ARGS__)
#define OSSL_PARAM_BLD_free(...) KTR_CRYPTO_FN(OSSL_PARAM_BLD_free)(__VA_ARGS__)
#define OSSL_PARAM_BLD_new(...) KTR_CRYPTO_FN(OSSL_PARAM_BLD_new)(__VA_ARGS__)
#define OSSL_PARAM_BLD_push_octet_string(...) KTR_CRYPTO_FN(OSSL_PARAM_BLD_push_octet_string)(__VA_ARGS__)
#define OSSL_PARAM_BLD_push_utf8_string(...) KTR_CRYPTO_FN(OSSL_PARAM_BLD_push_utf8_string)(__VA_ARGS__)
#define OSSL_PARAM_BLD_to_param(...) KTR_CRYPTO_FN(OSSL_PARAM_BLD_to_param)(__VA_ARGS__)
#define OSSL_PARAM_free(...) KTR_CRYPTO_FN(OSSL_PARAM_free)(__VA_ARGS__)
#define PEM_read_bio_PrivateKey(...) KTR_CRYPTO_FN(PEM_read_bio_PrivateKey)(__VA_ARGS__)
#define PEM_write_bio_PrivateKey(...) KTR_CRYPTO_FN(PEM_write_bio_PrivateKey)(__VA_ARGS__)
#define RAND_bytes(...) KTR_CRYPTO_FN(RAND_bytes)(__VA_ARGS__)
#define d2i_ECDSA_SIG(...) KTR_CRYPTO_FN(d2i_ECDSA_SIG)(__VA_ARGS__)
#define i2d_ECDSA_SIG(...) KTR_CRYPTO_FN(i2d_ECDSA_SIG)(__VA_ARGS__)
