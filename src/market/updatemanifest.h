#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The signed manifest of a panel build ("update/apps/panel.json", "panel-beta.json") and the release-note
// history ("update/apps/history.json"). The signature is ES256 over
// version|sha256|size|url|time (UTF-8, size in decimal); the README says how a release is signed.

// The point of the key that signs the panel's releases; tests verify with keys of their own.
struct UpdatePublicKey
{
    QByteArray x; // 32 bytes
    QByteArray y; // 32 bytes

    static UpdatePublicKey builtIn();
};

// The "size" of a manifest: a number or a numeric string, else 0.
qint64 manifestSize(const QJsonObject& manifest);

// The bytes the signature covers. A missing or non-string field counts as empty.
QByteArray updateSignedMessage(const QJsonObject& manifest);

// True when "sig" (standard Base64 of the raw 64-byte r || s) is a valid signature of the manifest by key
// and "sig_alg" is "ES256" in any case. A field that holds "|" is refused: the message joins the fields
// with it unescaped, so such a field could shift text from one field into the next under one signature.
bool verifyUpdateManifest(const QJsonObject& manifest, const UpdatePublicKey& key);

// The notes of the first entry of the history whose "version" is exactly version, when they are not
// blank; else fallback. fromHistory (when given) tells which one it is. A body that is not a JSON array
// is logged and gives the fallback.
QString historyNotes(const QByteArray& body, const QString& version, const QString& fallback,
                     bool* fromHistory = nullptr);

// True for an installer address that may be downloaded: a valid URL with the scheme https (any case).
bool isDownloadableInstallerUrl(const QString& url);
