#pragma once

#include <QByteArray>

namespace ktr::platform {

// ECDSA on P-256 with SHA-256 ("ES256"), the signature of the panel's update manifest. Signatures are the
// raw 64 bytes r || s (32 bytes each, big-endian); keys are the affine point X, Y (32 bytes each).

// True only when signature is a valid signature of SHA-256(message) by the key. A key that is not a point
// of the curve, a signature of any other length and every library failure count as invalid.
bool es256Verify(const QByteArray& x, const QByteArray& y, const QByteArray& message, const QByteArray& signature);

// True when X, Y is a point of P-256 (what a key must be before anything verifies against it).
bool es256IsValidPublicKey(const QByteArray& x, const QByteArray& y);

// Signs message with a private key in PEM (any form OpenSSL reads, e.g. `openssl ecparam -genkey`):
// the raw 64-byte signature, empty on failure. For tests and the local service host; releases are signed
// with the openssl tool (see the README).
QByteArray es256Sign(const QByteArray& privateKeyPem, const QByteArray& message);

// A fresh key pair: the private key as PEM and the public point. False on failure.
bool es256GenerateKey(QByteArray* privateKeyPem, QByteArray* x, QByteArray* y);

// The public point of a private key in PEM. False when it does not read as a P-256 key.
bool es256PublicKeyOf(const QByteArray& privateKeyPem, QByteArray* x, QByteArray* y);

} // namespace ktr::platform
