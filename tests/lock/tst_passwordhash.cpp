#include "lock/passwordhash.h"
#include "testenv.h"

#include <QPasswordDigestor>
#include <QRegularExpression>

class TestPasswordHash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Published PBKDF2-HMAC-SHA-256 vectors (P = "password", S = "salt") and the SHA-256 vector of "abc" in the
    // older two-part form.
    void verify_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("expected");
        const QString one =
            QStringLiteral("pbkdf2$1$73616c74$120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
        const QString two =
            QStringLiteral("pbkdf2$2$73616c74$ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");
        const QString legacy = QStringLiteral("a$ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        QTest::newRow("1 iteration") << one << QStringLiteral("password") << true;
        QTest::newRow("1 iteration, other case") << one << QStringLiteral("Password") << false;
        QTest::newRow("2 iterations") << two << QStringLiteral("password") << true;
        QTest::newRow("2 iterations, empty password") << two << QString() << false;
        // The stored key one byte off at either end: the whole key is compared, not a prefix or a suffix.
        QString lastByteOff = one;
        lastByteOff.replace(lastByteOff.size() - 2, 2, QStringLiteral("7a"));
        QTest::newRow("key off in its last byte") << lastByteOff << QStringLiteral("password") << false;
        QString firstByteOff = one;
        firstByteOff.replace(firstByteOff.indexOf(QStringLiteral("$120f")) + 1, 2, QStringLiteral("13"));
        QTest::newRow("key off in its first byte") << firstByteOff << QStringLiteral("password") << false;
        // A shorter stored key is compared at its own length.
        QTest::newRow("16-byte key") << one.left(one.size() - 32) << QStringLiteral("password") << true;
        QTest::newRow("legacy") << legacy << QStringLiteral("bc") << true;
        QTest::newRow("legacy, wrong") << legacy << QStringLiteral("bd") << false;
        QTest::newRow("legacy, upper-case digest")
            << legacy.toUpper().replace(0, 1, QStringLiteral("a")) << QStringLiteral("bc") << false;
    }
    void verify()
    {
        QFETCH(QString, stored);
        QFETCH(QString, password);
        QFETCH(bool, expected);
        QCOMPARE(verifyPasswordHash(stored, password), expected);
    }

    // None of these verify anything, however the password is chosen; each row also offers the password that would
    // match if the field at fault were read leniently.
    void malformed_data()
    {
        QTest::addColumn<QString>("stored");
        const QString salt = QStringLiteral("73616c74");
        const QString key = QStringLiteral("120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
        auto current = [&](const QString& first, const QString& count, const QString& s, const QString& k) {
            return QStringList{first, count, s, k}.join(QLatin1Char('$'));
        };
        QTest::newRow("empty") << QString();
        QTest::newRow("no separator") << QStringLiteral("password");
        QTest::newRow("three parts") << QStringLiteral("pbkdf2$1$") + salt;
        QTest::newRow("five parts") << current(QStringLiteral("pbkdf2"), QStringLiteral("1"), salt, key) + "$";
        QTest::newRow("upper-case tag") << current(QStringLiteral("PBKDF2"), QStringLiteral("1"), salt, key);
        QTest::newRow("count 0") << current(QStringLiteral("pbkdf2"), QStringLiteral("0"), salt, key);
        QTest::newRow("count 5000001") << current(QStringLiteral("pbkdf2"), QStringLiteral("5000001"), salt, key);
        QTest::newRow("count abc") << current(QStringLiteral("pbkdf2"), QStringLiteral("abc"), salt, key);
        QTest::newRow("count 2^31") << current(QStringLiteral("pbkdf2"), QStringLiteral("2147483648"), salt, key);
        QTest::newRow("count 2^32+1") << current(QStringLiteral("pbkdf2"), QStringLiteral("4294967297"), salt, key);
        QTest::newRow("empty salt") << current(QStringLiteral("pbkdf2"), QStringLiteral("1"), QString(), key);
        QTest::newRow("empty key") << current(QStringLiteral("pbkdf2"), QStringLiteral("1"), salt, QString());
        QTest::newRow("legacy salt holding $")
            << QStringLiteral("a$b$ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    }
    void malformed()
    {
        QFETCH(QString, stored);
        for (const QString& password : {QStringLiteral("password"), QStringLiteral("bc"), QString()})
            QVERIFY2(!verifyPasswordHash(stored, password), qPrintable(password));
    }

    void countLimits()
    {
        // 1 and 100,000 (what the panel writes) are inside the accepted range; only the cheap end is derived here.
        const QString made = makePasswordHash(QStringLiteral("abcd"), 1);
        QVERIFY(verifyPasswordHash(made, QStringLiteral("abcd")));
        QStringList parts = made.split(QLatin1Char('$'));
        parts[1] = QStringLiteral("5000001");
        QVERIFY(!verifyPasswordHash(parts.join(QLatin1Char('$')), QStringLiteral("abcd")));
    }

    // Hashes the panel never writes are refused before any round is spent, even when the password matches: a
    // file holding one would otherwise stall every unlock attempt for seconds.
    void beyondWrittenBounds_data()
    {
        QTest::addColumn<int>("iterations");
        QTest::addColumn<int>("keyBytes");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("what the panel writes") << 1 << 32 << true;
        QTest::newRow("100,001 rounds") << 100001 << 32 << false;
        QTest::newRow("33-byte key") << 1 << 33 << false;
        QTest::newRow("20 KB key") << 1 << 20 * 1024 << false;
    }
    void beyondWrittenBounds()
    {
        QFETCH(int, iterations);
        QFETCH(int, keyBytes);
        QFETCH(bool, accepted);
        const QByteArray salt = QByteArrayLiteral("0123456789abcdef");
        const QByteArray key =
            QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, "abcd", salt, iterations, quint64(keyBytes));
        const QString stored = QStringLiteral("pbkdf2$%1$%2$%3")
                                   .arg(iterations)
                                   .arg(QString::fromLatin1(salt.toHex()), QString::fromLatin1(key.toHex()));
        QCOMPARE(verifyPasswordHash(stored, QStringLiteral("abcd")), accepted);
    }

    // The one case that pays for the stored 100,000 rounds: the format of what is written and what it verifies.
    void madeHash()
    {
        const QString a = makePasswordHash(QStringLiteral("Abcd"));
        const QString b = makePasswordHash(QStringLiteral("Abcd"));
        QCOMPARE(a.size(), 111);
        QVERIFY(
            QRegularExpression(QStringLiteral("^pbkdf2\\$100000\\$[0-9a-f]{32}\\$[0-9a-f]{64}$")).match(a).hasMatch());
        QVERIFY(a != b);
        QVERIFY(verifyPasswordHash(a, QStringLiteral("Abcd")));
        QVERIFY(verifyPasswordHash(b, QStringLiteral("Abcd")));
        QVERIFY(!verifyPasswordHash(a, QStringLiteral("abcd")));
        QVERIFY(!isLegacyPasswordHash(a));
    }

    void legacyTest_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("legacy");
        QTest::newRow("current") << QStringLiteral("pbkdf2$1$00$00") << false;
        QTest::newRow("two-part") << QStringLiteral("a$00") << true;
        QTest::newRow("upper-case tag") << QStringLiteral("PBKDF2$1$00$00") << true;
        QTest::newRow("empty") << QString() << true;
    }
    void legacyTest()
    {
        QFETCH(QString, stored);
        QFETCH(bool, legacy);
        QCOMPARE(isLegacyPasswordHash(stored), legacy);
    }
};

KTR_TEST_MAIN(TestPasswordHash)
#include "tst_passwordhash.moc"
