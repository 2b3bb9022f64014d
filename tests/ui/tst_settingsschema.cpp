// The settings schema: the rules a stored value goes through, and a table whose defaults obey them.
#include "testenv.h"
#include "ui/settingsschema.h"

#include <QApplication>
#include <QSet>

using namespace settingsschema;

class TestSettingsSchema : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storedValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("clamp below") << "iconSize" << QJsonValue(5) << 32;
        QTest::newRow("clamp above") << "iconSize" << QJsonValue(500) << 96;
        QTest::newRow("clamp inside") << "monitorIdleSec" << QJsonValue(45) << 45;
        QTest::newRow("interval 0 is every day") << "backupIntervalDays" << QJsonValue(0) << 1;
        QTest::newRow("interval negative") << "backupIntervalDays" << QJsonValue(-4) << 1;
        QTest::newRow("enum above") << "revealMethod" << QJsonValue(7) << 4;
        QTest::newRow("colour kind 9") << "titleBarColor" << QJsonValue(9) << 6;
        QTest::newRow("colour kind -1") << "hoverColor" << QJsonValue(-1) << 0;
        QTest::newRow("flag 5") << "language" << QJsonValue(5) << 1;
        QTest::newRow("flag -2") << "hoverMode" << QJsonValue(-2) << 0;
        QTest::newRow("colour masked") << "textCustomRgb" << QJsonValue(qint64(0x7F123456)) << 0x123456;
        QTest::newRow("unbounded negative") << "progUnlockEpoch" << QJsonValue(-3) << -3;
        QTest::newRow("unbounded beyond int") << "progUnlockEpoch" << QJsonValue(qint64(1) << 40) << 0;
        QTest::newRow("fraction") << "opacity" << QJsonValue(50.5) << 100;
        QTest::newRow("text") << "opacity" << QJsonValue(QStringLiteral("50")) << 100;
        QTest::newRow("missing") << "monitorFps" << QJsonValue(QJsonValue::Undefined) << 59;
    }
    void storedValues()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, stored);
        QFETCH(int, expected);
        const IntKey* k = intKey(key);
        QVERIFY(k);
        QCOMPARE(k->fromStored(stored, k->defaultValue()), expected);
    }

    // Every default is a value its own rule keeps, every key is spelled once, and a field is found by its
    // member and by its key alike.
    void tableIsConsistent()
    {
        QSet<QString> keys;
        for (const IntKey& k : intKeys()) {
            QVERIFY2(!keys.contains(QLatin1String(k.key)), k.key);
            keys.insert(QLatin1String(k.key));
            QCOMPARE(k.bound(k.defaultValue()), k.defaultValue());
            QVERIFY2(k.min <= k.max, k.key);
            QCOMPARE(intKey(k.member), &k);
            QCOMPARE(intKey(QLatin1String(k.key)), &k);
        }
        for (const BoolKey& k : boolKeys()) {
            QVERIFY2(!keys.contains(QLatin1String(k.key)), k.key);
            keys.insert(QLatin1String(k.key));
        }
        for (const StringKey& k : stringKeys()) {
            QVERIFY2(!keys.contains(QLatin1String(k.key)), k.key);
            keys.insert(QLatin1String(k.key));
            QCOMPARE(k.bound(k.defaultValue()), k.defaultValue());
        }
        for (const IconListKey& k : iconListKeys()) {
            QVERIFY2(!keys.contains(QLatin1String(k.key)), k.key);
            keys.insert(QLatin1String(k.key));
        }
        QCOMPARE(intKey(QStringLiteral("nosuchkey")), nullptr);
        QCOMPARE(intKey(&AppSettings::iconSize)->max, 96);
    }

    void titleIsCut()
    {
        const StringKey* title = nullptr;
        for (const StringKey& k : stringKeys())
            if (k.member == &AppSettings::customTitle)
                title = &k;
        QVERIFY(title);
        QCOMPARE(title->bound(QString(30, QLatin1Char('x'))).size(), 24);
    }
};

KTR_TEST_MAIN(TestSettingsSchema)
#include "tst_settingsschema.moc"
