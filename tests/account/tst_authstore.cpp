#include "account/authstore.h"
#include "platform/secret.h"
#include "testenv.h"

#include "logcapture.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject readObject(const QString& path)
{
    return QJsonDocument::fromJson(ktr::test::readFile(path)).object();
}

// The four hex digits per UTF-16 unit of the older password form.
QString xorForm(const QString& text)
{
    QString out;
    for (const QChar c : text)
        out += QStringLiteral("%1").arg(uint(c.unicode() ^ 0x3C96), 4, 16, QLatin1Char('0')).toUpper();
    return out;
}

// Makes protection fail for this user: a folder where the key file belongs.
struct BrokenKey
{
    QString key = ktr::platform::SecretProtector::defaultKeyFile();
    QString aside = key + QStringLiteral(".moved");
    BrokenKey()
    {
        QFile::rename(key, aside);
        QDir().mkpath(key);
    }
    ~BrokenKey()
    {
        QDir(key).removeRecursively();
        QFile::rename(aside, key);
    }
};

} // namespace

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

    void passwordForms_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("prefix alone") << QStringLiteral("DPAPI:") << QString();
        QTest::newRow("prefix is case-sensitive")
            << QStringLiteral("dpapi:") + xorForm(QStringLiteral("ab")) << QString();
        QTest::newRow("foreign blob") << QStringLiteral("DPAPI:") + QString::fromLatin1(QByteArray(60, 'q').toBase64())
                                      << QString();
        QTest::newRow("older hex form") << xorForm(QStringLiteral("pa55密")) << QStringLiteral("pa55密");
        QTest::newRow("older form lower case") << xorForm(QStringLiteral("ab")).toLower() << QStringLiteral("ab");
        QTest::newRow("9 characters: two groups") << xorForm(QStringLiteral("xyz")).left(9) << QStringLiteral("xy");
        QTest::newRow("3 characters") << QStringLiteral("3C9") << QString();
        QTest::newRow("group not hex") << xorForm(QStringLiteral("a")) + QStringLiteral("3CZ6") << QString();
        QTest::newRow("0x in a group") << QStringLiteral("0x3C") << QString();
        QTest::newRow("space in a group") << QStringLiteral(" 3C9") << QString();
    }
    void passwordForms()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QCOMPARE(unprotectString(stored), expected);
    }

    void passwordRoundTrip()
    {
        const QString stored = protectString(QStringLiteral("秘密-pass"));
        QVERIFY(stored.startsWith(QLatin1String("DPAPI:")));
        QCOMPARE(unprotectString(stored), QStringLiteral("秘密-pass"));
        QCOMPARE(protectString(QString()), QString());
    }

    // The file as written: which keys, which forms, and what a later start reads back.
    void authFileRoundTrip_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("autologin");
        QTest::newRow("logged in, remembered") << QStringLiteral("tok-1") << QStringLiteral("pw123456") << true << true;
        QTest::newRow("logged out, remembered") << QString() << QStringLiteral("pw123456") << true << false;
        QTest::newRow("not remembered: no password")
            << QStringLiteral("tok-2") << QStringLiteral("pw-not-kept-9") << false << false;
        QTest::newRow("remembered without password") << QStringLiteral("tok-3") << QString() << true << false;
    }
    void authFileRoundTrip()
    {
        QFETCH(QString, token);
        QFETCH(QString, password);
        QFETCH(bool, remember);
        QFETCH(bool, autologin);
        const QString path = ktr::test::freshDir(QStringLiteral("auth")) + QStringLiteral("/auth.json");
        StoredSession s{token, QStringLiteral("用户A"), password, remember, autologin};
        QString message;
        QVERIFY(saveAuthFile(path, s, &message));

        const QByteArray raw = ktr::test::readFile(path);
        QVERIFY(raw.contains("\n    \"")); // indented
        if (!token.isEmpty())
            QVERIFY(!raw.contains(token.toUtf8()));
        if (!password.isEmpty())
            QVERIFY(!raw.contains(password.toUtf8()));
        const QJsonObject o = readObject(path);
        QStringList keys = o.keys();
        keys.sort();
        QCOMPARE(keys, (QStringList{"autologin", "pass", "remember", "token", "username"}));
        QCOMPARE(o.value("token").toString().startsWith(QLatin1String("dpapi1:")), !token.isEmpty());
        if (token.isEmpty())
            QCOMPARE(o.value("token").toString(), QString());
        QCOMPARE(o.value("username").toString(), QStringLiteral("用户A"));
        QCOMPARE(o.value("remember"), QJsonValue(remember));
        QCOMPARE(o.value("autologin"), QJsonValue(autologin));
        const bool passStored = remember && !password.isEmpty();
        QCOMPARE(o.value("pass").toString().startsWith(QLatin1String("DPAPI:")), passStored);
        if (!passStored)
            QCOMPARE(o.value("pass").toString(), QString());

        const StoredSession back = loadAuthFile(path);
        QCOMPARE(back.token, token);
        QCOMPARE(back.username, s.username);
        QCOMPARE(back.password, passStored ? password : QString());
        QCOMPARE(back.remember, remember);
        QCOMPARE(back.autologin, autologin);
    }

    void readForms_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("remember");
        QTest::newRow("plain token") << QByteArray(R"({"token":"raw","username":"u"})") << "raw" << QString() << false;
        QTest::newRow("password ignored without remember")
            << QByteArray("{\"pass\":\"") + xorForm("pw").toLatin1() + "\",\"remember\":false}" << QString()
            << QString() << false;
        QTest::newRow("older password form read")
            << QByteArray("{\"pass\":\"") + xorForm("pw").toLatin1() + "\",\"remember\":true}" << QString() << "pw"
            << true;
        QTest::newRow("remember as a string is false")
            << QByteArray(R"({"remember":"true","pass":"3C96"})") << QString() << QString() << false;
    }
    void readForms()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, token);
        QFETCH(QString, password);
        QFETCH(bool, remember);
        const QString path = ktr::test::freshDir(QStringLiteral("forms")) + QStringLiteral("/auth.json");
        QVERIFY(ktr::test::writeFile(path, content));
        const StoredSession s = loadAuthFile(path);
        QCOMPARE(s.token, token);
        QCOMPARE(s.password, password);
        QCOMPARE(s.remember, remember);
    }

    void badFilesGiveNoSession_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("warned");
        QTest::newRow("missing") << QByteArray("<none>") << false;
        QTest::newRow("array") << QByteArray(R"([{"token":"x"}])") << true;
        QTest::newRow("not JSON") << QByteArray("token=x") << true;
    }
    void badFilesGiveNoSession()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, warned);
        const QString path = ktr::test::freshDir(QStringLiteral("bad")) + QStringLiteral("/auth.json");
        if (content != "<none>")
            QVERIFY(ktr::test::writeFile(path, content));
        ktr::test::LogCapture log;
        const StoredSession s = loadAuthFile(path);
        QVERIFY(s.token.isEmpty() && s.username.isEmpty() && !s.remember && !s.autologin);
        QCOMPARE(log.contains(QStringLiteral("loadAuth: bad JSON, ignored")), warned);
        if (content != "<none>")
            QCOMPARE(ktr::test::readFile(path), content); // left as it was
    }

    // The data folder copied to another user or machine: the other key can't open it.
    void copyElsewhereIsNoSession()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("copy")) + QStringLiteral("/auth.json");
        QVERIFY(saveAuthFile(path, StoredSession{"tok", "me", "pw123456", true, true}, nullptr));
        const QString key = ktr::platform::SecretProtector::defaultKeyFile();
        const QByteArray ours = ktr::test::readFile(key);
        QVERIFY(QFile::remove(key));
        QVERIFY(!protectSecret(QStringLiteral("new key")).isEmpty()); // the other user's own key
        const StoredSession s = loadAuthFile(path);
        QCOMPARE(s.token, QString());
        QCOMPARE(s.password, QString());
        QCOMPARE(s.username, QStringLiteral("me")); // the plain fields stay
        QVERIFY(QFile::remove(key));
        QVERIFY(ktr::test::writeFile(key, ours));
        QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(loadAuthFile(path).token, QStringLiteral("tok"));
    }

    // Protection failing must never leave the password readable in the file.
    void unprotectablePasswordIsNotStored()
    {
        const QString path = ktr::test::freshDir(QStringLiteral("nokey")) + QStringLiteral("/auth.json");
        ktr::test::LogCapture log;
        {
            BrokenKey broken;
            QVERIFY(saveAuthFile(path, StoredSession{"tok", "me", "pw123456", true, true}, nullptr));
        }
        const QJsonObject o = readObject(path);
        QCOMPARE(o.value("pass").toString(), QString());
        QCOMPARE(o.value("token").toString(), QString());
        QVERIFY(!ktr::test::readFile(path).contains("pw123456"));
        QVERIFY(!ktr::test::readFile(path).contains(xorForm("pw123456").toLatin1()));
        QVERIFY(log.contains(QStringLiteral("[auth] remembered password not stored")));
        QCOMPARE(o.value("remember").toBool(), true);
    }

    void writeFailureKeepsOldFile()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("wf"));
        // A folder where the file belongs.
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/auth.json")));
        QString message;
        QString error;
        QVERIFY(!saveAuthFile(dir + QStringLiteral("/auth.json"), StoredSession{"t", "u", {}, false, false}, &message,
                              &error));
        QCOMPARE(message, QStringLiteral("登录状态写入失败，下次启动可能需要重新登录"));
        QVERIFY(!error.isEmpty());
    }
};

KTR_TEST_MAIN(TestAuthStore)
#include "tst_authstore.moc"
