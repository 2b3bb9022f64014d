#include "market/updatemanifest.h"

#include "platform/es256.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QUrl>

namespace {

// The release key; its private half is kept outside the repository.
constexpr char kKeyX[] = "9bcc23e0191bebed399ebb85fd53aff5ac71cadd8b2eb1a72a694fca9037f260";
constexpr char kKeyY[] = "866c892a3de15685254a1ff3f8b0ed5e4998759a9b9479ed59fd8b4226f20ae7";

QString field(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

} // namespace

UpdatePublicKey UpdatePublicKey::builtIn()
{
    return {QByteArray::fromHex(kKeyX), QByteArray::fromHex(kKeyY)};
}

qint64 manifestSize(const QJsonObject& manifest)
{
    const QJsonValue v = manifest.value(QLatin1String("size"));
    if (v.isDouble())
        return v.toInteger();
    if (v.isString()) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        return ok ? n : 0;
    }
    return 0;
}

QByteArray updateSignedMessage(const QJsonObject& m)
{
    const QString text = field(m, "version") + QLatin1Char('|') + field(m, "sha256") + QLatin1Char('|') +
                         QString::number(manifestSize(m)) + QLatin1Char('|') + field(m, "url") + QLatin1Char('|') +
                         field(m, "time");
    return text.toUtf8();
}

bool verifyUpdateManifest(const QJsonObject& m, const UpdatePublicKey& key)
{
    for (const char* name : {"version", "sha256", "url", "time", "size"}) {
        const QJsonValue v = m.value(QLatin1String(name));
        if (v.isString() && v.toString().contains(QLatin1Char('|'))) {
            qWarning().noquote() << "[update] manifest field holds '|', refused:" << name;
            return false;
        }
    }
    const QByteArray sig = QByteArray::fromBase64(field(m, "sig").toLatin1());
    if (sig.size() != 64)
        return false;
    if (field(m, "sig_alg").compare(QLatin1String("ES256"), Qt::CaseInsensitive) != 0)
        return false;
    if (key.x.size() != 32 || key.y.size() != 32)
        return false;
    return ktr::platform::es256Verify(key.x, key.y, updateSignedMessage(m), sig);
}

QString historyNotes(const QByteArray& body, const QString& version, const QString& fallback, bool* fromHistory)
{
    if (fromHistory)
        *fromHistory = false;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        qWarning().noquote() << "[jsonutil] array parse failed:"
                             << (error.error != QJsonParseError::NoError ? error.errorString()
                                                                         : QStringLiteral("not an array"));
        return fallback;
    }
    const QJsonArray entries = doc.array();
    for (const QJsonValue& entry : entries) {
        const QJsonObject o = entry.toObject();
        if (o.value(QLatin1String("version")).toString() != version)
            continue;
        const QString notes = o.value(QLatin1String("notes")).toString().trimmed();
        if (notes.isEmpty())
            return fallback;
        if (fromHistory)
            *fromHistory = true;
        return notes;
    }
    return fallback;
}

bool isDownloadableInstallerUrl(const QString& url)
{
    const QUrl u(url, QUrl::StrictMode);
    return u.isValid() && !u.host().isEmpty() && u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}
