#pragma once

#include <QByteArray>
#include <QString>

namespace ktr::platform {

// Per-user protection of small secrets (the session token, a remembered password), standing in for
// the Windows data-protection API: AES-256-GCM with a random 256-bit key kept in a 0600 file under
// $XDG_CONFIG_HOME/Kestrune/, never in the data folder, so copies, backups and exports of the data
// folder can't be read by another user or on another machine. Authenticated: tampered or foreign
// data gives an empty result, never garbage.
class SecretProtector
{
public:
    // keyFile empty = the per-user default location.
    explicit SecretProtector(const QString& keyFile = QString());

    // The protected form of the bytes; the key file is created on first use. Empty on failure.
    QByteArray protect(const QByteArray& plain) const;
    // The original bytes; empty when the data is damaged, was made with another key or no key exists
    // (never creates a key).
    QByteArray unprotect(const QByteArray& blob) const;

    QString keyFile() const { return m_keyFile; }
    // $XDG_CONFIG_HOME/Kestrune/secret.key
    static QString defaultKeyFile();

private:
    QString m_keyFile;
};

// The same with the per-user default key.
QByteArray protectData(const QByteArray& plain);
QByteArray unprotectData(const QByteArray& blob);

} // namespace ktr::platform
