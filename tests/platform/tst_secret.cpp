#include "platform/secret.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

using ktr::platform::SecretProtector;

class TestSecret : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::newRow("token") << QByteArray("eyJhbGciOiJIUzI1NiJ9.abc.def");
        QTest::newRow("utf8") << QStringLiteral("密码-пароль-🔑").toUtf8();
        QTest::newRow("binary with zeros") << QByteArray("\0\1\2\0\xff", 5);
        QTest::newRow("one byte") << QByteArray("x");
        QTest::newRow("64 KiB") << QByteArray(64 * 1024, 'k');
    }
    void roundTrip()
    {
        QFETCH(QByteArray, plain);
        const QByteArray blob = ktr::platform::protectData(plain);
        QVERIFY(!blob.isEmpty());
        if (plain.size() >= 8)
            QVERIFY(!blob.contains(plain));
        QCOMPARE(ktr::platform::unprotectData(blob), plain);
        // A fresh protector (as in the next process) reads it with the stored key.
        QCOMPARE(SecretProtector().unprotect(blob), plain);
        // Every protection takes a fresh nonce.
        QVERIFY(ktr::platform::protectData(plain) != blob);
    }

    void keyFileIsPrivateAndOutsideTheDataFolder()
    {
        QVERIFY(!ktr::platform::protectData("x").isEmpty());
        const QString key = SecretProtector::defaultKeyFile();
        QCOMPARE(QFileInfo(key).absolutePath(), qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Kestrune"));
        QVERIFY(QFileInfo(key).isFile());
        QCOMPARE(QFileInfo(key).size(), 32);
        QCOMPARE(int(QFile::permissions(key) & 0xf0ff), int(QFile::ReadOwner | QFile::WriteOwner));
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(!key.startsWith(data + QLatin1Char('/')));
        // No temporary files are left beside it.
        QCOMPARE(QDir(QFileInfo(key).absolutePath()).entryList(QDir::Files), QStringList{QStringLiteral("secret.key")});
    }

    void foreignOrDamagedDataGivesNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("flipped byte in the header") << 0;
        QTest::newRow("flipped byte in the nonce") << 1;
        QTest::newRow("flipped byte in the data") << 2;
        QTest::newRow("flipped byte in the tag") << 3;
        QTest::newRow("last byte cut") << 4;
        QTest::newRow("one byte appended") << 5;
        QTest::newRow("another user's key") << 6;
        QTest::newRow("another machine (same user, its own key)") << 7;
        QTest::newRow("a Windows protection blob") << 8;
        QTest::newRow("empty") << 9;
    }
    void foreignOrDamagedDataGivesNothing()
    {
        QFETCH(int, kind);
        const QByteArray plain("session-token-0123456789");
        const SecretProtector mine(ktr::test::freshDir(QStringLiteral("mine")) + QStringLiteral("/secret.key"));
        QByteArray blob = mine.protect(plain);
        QCOMPARE(mine.unprotect(blob), plain);
        switch (kind) {
        case 0:
            blob[1] = char(blob[1] ^ 0x01);
            break;
        case 1:
            blob[6] = char(blob[6] ^ 0x80);
            break;
        case 2:
            blob[20] = char(blob[20] ^ 0x01);
            break;
        case 3:
            blob[blob.size() - 1] = char(blob[blob.size() - 1] ^ 0x01);
            break;
        case 4:
            blob.chop(1);
            break;
        case 5:
            blob.append('\0');
            break;
        case 6:
        case 7: {
            // The data was protected elsewhere, with a key this user here doesn't hold.
            const SecretProtector other(ktr::test::freshDir(QStringLiteral("other")) + QStringLiteral("/secret.key"));
            blob = other.protect(plain);
            QCOMPARE(other.unprotect(blob), plain);
            break;
        }
        case 8:
            blob = QByteArray::fromHex("01000000d08c9ddf0115d1118c7a00c04fc297eb0100000012345678");
            break;
        case 9:
            blob.clear();
            break;
        }
        QCOMPARE(mine.unprotect(blob), QByteArray());
    }

    void missingKeyIsNotCreatedByReading()
    {
        const QString key = ktr::test::freshDir(QStringLiteral("fresh")) + QStringLiteral("/Kestrune/secret.key");
        const SecretProtector elsewhere(ktr::test::freshDir(QStringLiteral("elsewhere")) + QStringLiteral("/k"));
        QCOMPARE(SecretProtector(key).unprotect(elsewhere.protect("abc")), QByteArray());
        QVERIFY(!QFileInfo::exists(key));
    }

    void damagedKeyFile()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("damaged"));
        const QString key = dir + QStringLiteral("/secret.key");
        const SecretProtector p(key);
        const QByteArray old = p.protect("before");
        QVERIFY(ktr::test::writeFile(key, QByteArray(31, 'x')));
        // Unreadable with a cut key, and reading leaves the file as it is.
        QCOMPARE(p.unprotect(old), QByteArray());
        QCOMPARE(QFileInfo(key).size(), 31);
        // Protecting again moves the damaged key aside and works with a new one.
        const QByteArray blob = p.protect("after");
        QCOMPARE(p.unprotect(blob), QByteArray("after"));
        QCOMPARE(QFileInfo(key).size(), 32);
        QCOMPARE(QDir(dir).entryList({QStringLiteral("secret.key.corrupt-*")}).size(), 1);
        // A folder where the key should be: nothing is protected, nothing crashes.
        const QString blocked = ktr::test::freshDir(QStringLiteral("blocked")) + QStringLiteral("/secret.key");
        QVERIFY(QDir().mkpath(blocked));
        QCOMPARE(SecretProtector(blocked).protect("x"), QByteArray());
    }

    void openKeyFileIsMadePrivateAgain()
    {
        const QString key = ktr::test::freshDir(QStringLiteral("open")) + QStringLiteral("/secret.key");
        const SecretProtector p(key);
        const QByteArray blob = p.protect("abc");
        QVERIFY(QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QCOMPARE(p.unprotect(blob), QByteArray("abc"));
        QCOMPARE(int(QFile::permissions(key) & 0xf0ff), int(QFile::ReadOwner | QFile::WriteOwner));
    }
};

KTR_TEST_MAIN(TestSecret)
#include "tst_secret.moc"
