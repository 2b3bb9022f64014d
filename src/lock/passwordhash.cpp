#include "lock/passwordhash.h"

#include "ui/settingsschema.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace {

constexpr int kIterations = settingsschema::kMaxPasswordHashIterations;

// Compares without an early exit, so the time taken tells nothing about where the two sides differ.
bool constantTimeEqual(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char acc = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        acc |= static_cast<unsigned char>(a[i] ^ b[i]);
    return acc == 0;
}

QByteArray derive(const QString& password, const QByteArray& salt, int iterations, int length)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt, iterations,
                                              quint64(length));
}

} // namespace

QString makePasswordHash(const QString& password)
{
    return makePasswordHash(password, kIterations);
}

QString makePasswordHash(const QString& password, int iterations)
{
    QByteArray salt(16, Qt::Uninitialized);
    for (int i = 0; i < salt.size(); ++i)
        salt[i] = char(QRandomGenerator::system()->generate() >> 24);
    const QByteArray key = derive(password, salt, iterations, 32);
    return QStringLiteral("pbkdf2$%1$%2$%3")
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toHex()), QString::fromLatin1(key.toHex()));
}

bool verifyPasswordHash(const QString& storedHash, const QString& password)
{
    // Beyond what the panel writes, a check would only cost time (millions of rounds, a key of kilobytes).
    if (storedHash.isEmpty() || !settingsschema::passwordHashWithinBounds(storedHash))
        return false;
    const QStringList parts = storedHash.split(QLatin1Char('$'), Qt::KeepEmptyParts);
    if (parts.size() == 2) {
        const QByteArray digest =
            QCryptographicHash::hash((parts[0] + password).toUtf8(), QCryptographicHash::Sha256).toHex();
        return constantTimeEqual(digest, parts[1].toLatin1());
    }
    if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2"))
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok, 10);
    if (!ok)
        return false;
    const QByteArray salt = QByteArray::fromHex(parts[2].toLatin1());
    const QByteArray expected = QByteArray::fromHex(parts[3].toLatin1());
    if (salt.isEmpty() || expected.isEmpty())
        return false;
    return constantTimeEqual(derive(password, salt, iterations, int(expected.size())), expected);
}

bool isLegacyPasswordHash(const QString& storedHash)
{
    return !storedHash.startsWith(QLatin1String("pbkdf2$"));
}
