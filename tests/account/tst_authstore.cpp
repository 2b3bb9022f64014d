#include "account/authstore.h"
#include "platform/secret.h"
#include "testenv.h"

#include <QApplication>

class TestAuthStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tokenRoundTrip_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("ascii") << QStringLiteral("abc.DEF-123_xyz");
        QTest::newRow("chinese") << QStringLiteral("令牌-青岚舟");
    }
    void tokenRoundTrip()
    {
        QFETCH(QString, token);
        const QString stored = protectSecret(token);
        QVERIFY(stored.startsWith(QLatin1String("dpapi1:")));
        QVERIFY(!stored.contains(token));
        // Standard Base64 with padding after the prefix.
        const QByteArray b64 = stored.mid(7).toLatin1();
        QCOMPARE(QByteArray::fromBase64(b64).toBase64(), b64);
        QCOMPARE(unprotectSecret(stored), token);
    }

    void storedForms_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("plain token stays") << QStringLiteral("plain-token") << QStringLiteral("plain-token");
        QTest::newRow("prefix is case-sensitive") << QStringLiteral("DPAPI1:abc") << QStringLiteral("DPAPI1:abc");
        QTest::newRow("prefix alone") << QStringLiteral("dpapi1:") << QString();
        QTest::newRow("not Base64 of ours") << QStringLiteral("dpapi1:!!!!") << QString();
        QTest::newRow("foreign blob") << QStringLiteral("dpapi1:") + QString::fromLatin1(QByteArray(80, 'z').toBase64())
                                      << QString();
    }
    void storedForms()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QCOMPARE(unprotectSecret(stored), expected);
    }

    void emptyTokenIsNotProtected() { QCOMPARE(protectSecret(QString()), QString()); }

    void tokenFromAnotherKeyReadsEmpty()
    {
        const ktr::platform::SecretProtector other(ktr::test::freshDir(QStringLiteral("other")) +
                                                   QStringLiteral("/secret.key"));
        const QString stored = QStringLiteral("dpapi1:") + QString::fromLatin1(other.protect("tok").toBase64());
        QCOMPARE(unprotectSecret(stored), QString());
    }
};

KTR_TEST_MAIN(TestAuthStore)
#include "tst_authstore.moc"
