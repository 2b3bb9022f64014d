#include "account/authstore.h"

#include "platform/secret.h"

namespace {

const QString kTokenPrefix = QStringLiteral("dpapi1:");

} // namespace

QString protectSecret(const QString& text)
{
    if (text.isEmpty())
        return {};
    const QByteArray blob = ktr::platform::protectData(text.toUtf8());
    if (blob.isEmpty())
        return {};
    return kTokenPrefix + QString::fromLatin1(blob.toBase64());
}

QString unprotectSecret(const QString& stored)
{
    if (stored.isEmpty())
        return {};
    if (!stored.startsWith(kTokenPrefix))
        return stored;
    const QByteArray blob = QByteArray::fromBase64(stored.mid(kTokenPrefix.size()).toLatin1());
    if (blob.isEmpty())
        return {};
    return QString::fromUtf8(ktr::platform::unprotectData(blob));
}
