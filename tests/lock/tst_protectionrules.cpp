#include "lock/passwordhash.h"
#include "lock/protectionrules.h"
#include "protectedsettings.h"
#include "testenv.h"
#include "ui/appsettings.h"

using namespace protectionrules;

using ktr::test::protectedSettings;

class TestProtectionRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void gate()
    {
        for (int id = 0; id <= 10; ++id) {
            QVERIFY(!barButtonBlocked(false, id));
            QCOMPARE(barButtonBlocked(true, id), id != 3 && id != 4);
        }
    }

    void launchTarget_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("rule") << true << QStringLiteral("/opt/a") << QStringLiteral("/opt/b");
        QTest::newRow("switched off") << false << QStringLiteral("/opt/a") << QStringLiteral("/opt/a");
        QTest::newRow("other case") << true << QStringLiteral("/OPT/A") << QStringLiteral("/OPT/A");
        QTest::newRow("empty target") << true << QStringLiteral("/opt/empty") << QStringLiteral("/opt/empty");
        QTest::newRow("no rule") << true << QStringLiteral("/opt/c") << QStringLiteral("/opt/c");
        QTest::newRow("shell folder") << true << QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")
                                      << QStringLiteral("/srv");
    }
    void launchTarget()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        AppSettings s;
        s.obfuscateEnabled = enabled;
        s.obfuscateMap.insert(QStringLiteral("/opt/a"), QStringLiteral("/opt/b"));
        s.obfuscateMap.insert(QStringLiteral("/opt/empty"), QString());
        s.obfuscateMap.insert(QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"), QStringLiteral("/srv"));
        QCOMPARE(protectionrules::launchTarget(s, path), expected);
    }

    void lockSync_data()
    {
        QTest::addColumn<bool>("protect");
        QTest::addColumn<bool>("replyOk");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<bool>("toast");
        QTest::newRow("epoch 5 over 3") << true << true << QByteArray(R"({"ok":1,"epoch":5})") << true << true;
        QTest::newRow("nothing protected") << false << true << QByteArray(R"({"ok":1,"epoch":5})") << true << false;
        QTest::newRow("same epoch") << true << true << QByteArray(R"({"ok":1,"epoch":3})") << false << false;
        QTest::newRow("older epoch") << true << true << QByteArray(R"({"ok":1,"epoch":2})") << false << false;
        QTest::newRow("no epoch") << true << true << QByteArray(R"({"ok":1})") << false << false;
        QTest::newRow("ok 0") << true << true << QByteArray(R"({"ok":0,"epoch":9})") << false << false;
        QTest::newRow("ok as text") << true << true << QByteArray(R"({"ok":"1","epoch":9})") << false << false;
        QTest::newRow("no ok") << true << true << QByteArray(R"({"epoch":9})") << false << false;
        QTest::newRow("bad JSON") << true << true << QByteArray(R"({"ok":1,"epoch":9)") << false << false;
        QTest::newRow("JSON array") << true << true << QByteArray(R"([{"ok":1,"epoch":9}])") << false << false;
        QTest::newRow("HTTP error") << true << false << QByteArray(R"({"ok":1,"epoch":9})") << false << false;
    }
    void lockSync()
    {
        QFETCH(bool, protect);
        QFETCH(bool, replyOk);
        QFETCH(QByteArray, body);
        QFETCH(bool, applied);
        QFETCH(bool, toast);
        AppSettings s = protectedSettings(3);
        if (!protect) {
            clearProtection(s);
            s.obfuscateMap.clear();
        }
        const AppSettings before = s;
        const LockSyncResult r = applyLockSyncReply(s, replyOk, body);
        QCOMPARE(r.applied, applied);
        QCOMPARE(r.showToast, toast);
        if (!applied) {
            QCOMPARE(s.protectPasswordHash, before.protectPasswordHash);
            QCOMPARE(s.uiLocked, before.uiLocked);
            QCOMPARE(s.obfuscateEnabled, before.obfuscateEnabled);
            QCOMPARE(s.progUnlockEpoch, 3);
            return;
        }
        QVERIFY(s.protectPasswordHash.isEmpty());
        QVERIFY(!s.uiLocked);
        QVERIFY(!s.obfuscateEnabled);
        QCOMPARE(s.progUnlockEpoch, 5);
        // The same reply again acts no more.
        const LockSyncResult again = applyLockSyncReply(s, replyOk, body);
        QVERIFY(!again.applied && !again.showToast);
    }

    // Clearing the hash on the protection page also switches obfuscation off and ends the lock, so it never
    // stays on with no password to switch it off.
    void commitWithEmptyHashClearsEverything()
    {
        AppSettings s = protectedSettings();
        QMap<QString, QString> rules{{QStringLiteral("/x"), QStringLiteral("/y")}};
        commitProtection(s, QString(), rules);
        QVERIFY(s.protectPasswordHash.isEmpty());
        QVERIFY(!s.uiLocked);
        QVERIFY(!s.obfuscateEnabled);
        QCOMPARE(s.obfuscateMap, rules);

        s = protectedSettings();
        const QString other = makePasswordHash(QStringLiteral("wxyz"), 1);
        commitProtection(s, other, {});
        QCOMPARE(s.protectPasswordHash, other);
        QVERIFY(s.uiLocked && s.obfuscateEnabled);
        QVERIFY(s.obfuscateMap.isEmpty());
    }

    void upgrade()
    {
        AppSettings s;
        // "a" + "bc" has the published SHA-256 digest of "abc".
        s.protectPasswordHash = QStringLiteral("a$ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        QVERIFY(!upgradeLegacyHash(s, QStringLiteral("bd")));
        QVERIFY(isLegacyPasswordHash(s.protectPasswordHash));
        QVERIFY(upgradeLegacyHash(s, QStringLiteral("bc")));
        QCOMPARE(s.protectPasswordHash.size(), 111);
        QVERIFY(verifyPasswordHash(s.protectPasswordHash, QStringLiteral("bc")));
        const QString current = s.protectPasswordHash;
        QVERIFY(!upgradeLegacyHash(s, QStringLiteral("bc"))); // a current hash is never rewritten
        QCOMPARE(s.protectPasswordHash, current);
    }

    void toast()
    {
        AppSettings s;
        QCOMPARE(obfuscationOnToast(s), QString::fromUtf8("混淆保护已启用，请先在 设置→保护 配置规则"));
        s.obfuscateMap.insert(QStringLiteral("/a"), QStringLiteral("/b"));
        QCOMPARE(obfuscationOnToast(s), QString::fromUtf8("混淆保护已启用"));
    }

    void import_data()
    {
        QTest::addColumn<bool>("localProtected");
        QTest::addColumn<QString>("given");
        QTest::addColumn<bool>("importTakes");
        QTest::newRow("no password given") << true << QString() << false;
        QTest::newRow("wrong password") << true << QStringLiteral("abce") << false;
        QTest::newRow("current password") << true << QStringLiteral("abcd") << true;
        QTest::newRow("nothing protected here") << false << QStringLiteral("abcd") << false;
    }
    void import()
    {
        QFETCH(bool, localProtected);
        QFETCH(QString, given);
        QFETCH(bool, importTakes);
        AppSettings local = localProtected ? protectedSettings(7) : AppSettings();
        AppSettings imported;
        imported.protectPasswordHash = makePasswordHash(QStringLiteral("foreign"), 1);
        imported.uiLocked = true;
        imported.obfuscateEnabled = !local.obfuscateEnabled;
        imported.obfuscateMap.insert(QStringLiteral("/opt/a"), QStringLiteral("/tmp/evil"));
        imported.progUnlockEpoch = 2;
        imported.iconSize = 64;
        const AppSettings incoming = imported;
        keepLocalProtection(local, imported, given);
        const AppSettings& expected = importTakes ? incoming : local;
        QCOMPARE(imported.protectPasswordHash, expected.protectPasswordHash);
        QCOMPARE(imported.uiLocked, expected.uiLocked);
        QCOMPARE(imported.obfuscateEnabled, expected.obfuscateEnabled);
        QCOMPARE(imported.obfuscateMap, expected.obfuscateMap);
        QCOMPARE(imported.progUnlockEpoch, std::max(local.progUnlockEpoch, 2));
        QCOMPARE(imported.iconSize, 64); // everything else comes from the file
    }
};

KTR_TEST_MAIN(TestProtectionRules)
#include "tst_protectionrules.moc"
