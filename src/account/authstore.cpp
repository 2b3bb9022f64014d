#include "account/authstore.h"

#include "platform/secret.h"
#include "ui/jsonutil.h"
#include "ui/savefile.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>

namespace {

const QString kTokenPrefix = QStringLiteral("dpapi1:");
const QString kPassPrefix = QStringLiteral("DPAPI:");
constexpr qint64 kMaxAuthFile = 1024 * 1024;

bool isHexDigit(QChar c)
{
    return c.unicode() < 128 && std::isxdigit(c.unicode());
}

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

QString protectString(const QString& text)
{
    const QByteArray plain = text.toUtf8();
    if (plain.isEmpty())
        return {};
    const QByteArray blob = ktr::platform::protectData(plain);
    if (blob.isEmpty()) {
        // Storing it in a reversible form would put the password in the file for anyone to read.
        qWarning().noquote() << "[auth] remembered password not stored: it can't be protected for this user";
        return {};
    }
    return kPassPrefix + QString::fromLatin1(blob.toBase64());
}

QString unprotectString(const QString& stored)
{
    if (stored.startsWith(kPassPrefix)) {
        const QByteArray blob = QByteArray::fromBase64(stored.mid(kPassPrefix.size()).toLatin1());
        if (blob.isEmpty())
            return {};
        return QString::fromUtf8(ktr::platform::unprotectData(blob));
    }
    if (stored.size() < 4)
        return {};
    QString out;
    for (qsizetype i = 0; i + 4 <= stored.size(); i += 4) {
        const QStringView group = QStringView(stored).mid(i, 4);
        if (!std::all_of(group.begin(), group.end(), isHexDigit))
            return {};
        const uint unit = group.toUInt(nullptr, 16);
        out.append(QChar(char16_t(unit ^ 0x3C96u)));
    }
    return out;
}

QByteArray authFileBytes(const StoredSession& session)
{
    QJsonObject object;
    object.insert(QStringLiteral("token"), session.token.isEmpty() ? QString() : protectSecret(session.token));
    object.insert(QStringLiteral("username"), session.username);
    object.insert(QStringLiteral("remember"), session.remember);
    object.insert(QStringLiteral("autologin"), session.autologin);
    object.insert(QStringLiteral("pass"),
                  session.remember && !session.password.isEmpty() ? protectString(session.password) : QString());
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool saveAuthFile(const QString& path, const StoredSession& session, QString* message, QString* error)
{
    QString why;
    if (ktr::saveFileAtomic(path, authFileBytes(session), &why))
        return true;
    if (message)
        *message = QStringLiteral("登录状态写入失败，下次启动可能需要重新登录");
    if (error)
        *error = why;
    return false;
}

StoredSession loadAuthFile(const QString& path)
{
    StoredSession session;
    QByteArray data;
    if (ktr::readFileCapped(path, kMaxAuthFile, &data) != ktr::ReadStatus::Ok)
        return session;
    QJsonObject object;
    if (!parseJsonObject(data, object)) {
        qWarning().noquote() << "loadAuth: bad JSON, ignored";
        return session;
    }
    session.token = unprotectSecret(object.value(QStringLiteral("token")).toString());
    session.username = object.value(QStringLiteral("username")).toString();
    session.remember = object.value(QStringLiteral("remember")).toBool(false);
    session.autologin = object.value(QStringLiteral("autologin")).toBool(false);
    if (session.remember)
        session.password = unprotectString(object.value(QStringLiteral("pass")).toString());
    return session;
}
