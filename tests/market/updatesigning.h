#pragma once

// Manifests of panel builds signed in the test with a key pair of its own.
#include "market/updatemanifest.h"
#include "platform/es256.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace ktr::test {

struct UpdateSigner
{
    QByteArray pem;
    UpdatePublicKey key;

    UpdateSigner() { ktr::platform::es256GenerateKey(&pem, &key.x, &key.y); }

    // The manifest with "sig" and "sig_alg" set over its fields.
    QJsonObject sign(QJsonObject manifest, const QString& alg = QStringLiteral("ES256")) const
    {
        manifest.insert(QStringLiteral("sig"),
                        QString::fromLatin1(ktr::platform::es256Sign(pem, updateSignedMessage(manifest)).toBase64()));
        if (!alg.isNull())
            manifest.insert(QStringLiteral("sig_alg"), alg);
        return manifest;
    }
};

inline QJsonObject panelManifest(const QString& version, const QString& url, const QByteArray& sha256Hex,
                                 const QJsonValue& size = 123)
{
    return QJsonObject{{"version", version},
                       {"url", url},
                       {"size", size},
                       {"sha256", QString::fromLatin1(sha256Hex)},
                       {"time", "2026-12-01 10:00:00"},
                       {"notes", "manifest notes"}};
}

} // namespace ktr::test
