#include "model/settingsnotifier.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QtTest/QtTest>

#include <functional>

using Edit = std::function<void(AppSettings&)>;
Q_DECLARE_METATYPE(Edit)

class TestSettingsNotifier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void changedKeys_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("nothing") << Edit([](AppSettings&) {}) << QStringList();
        QTest::newRow("one number") << Edit([](AppSettings& s) { s.iconSize += 8; }) << QStringList{"iconSize"};
        QTest::newRow("two, sorted") << Edit([](AppSettings& s) {
            s.darkTheme = !s.darkTheme;
            s.customTitle = QStringLiteral("x");
        }) << QStringList{"customTitle", "darkTheme"};
        QTest::newRow("one button of an array")
            << Edit([](AppSettings& s) { s.btnVisible[5] = !s.btnVisible[5]; }) << QStringList{"btnVisible"};
        QTest::newRow("a map entry") << Edit([](AppSettings& s) { s.obfuscateMap.insert("a", "b"); })
                                     << QStringList{"obfuscateMap"};
    }
    void changedKeys()
    {
        QFETCH(Edit, edit);
        QFETCH(QStringList, keys);
        const AppSettings before;
        AppSettings after;
        edit(after);
        QCOMPARE(changedSettingsKeys(before, after), keys);
        QCOMPARE(changedSettingsKeys(after, before), keys);
    }

    void notifiesOnlyChanges()
    {
        SettingsNotifier notifier;
        QSignalSpy spy(&notifier, &SettingsNotifier::settingsChanged);
        AppSettings s;
        notifier.notify(s); // the defaults, as the notifier starts from
        QCOMPARE(spy.count(), 0);
        s.opacity = 40;
        notifier.notify(s);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toStringList(), QStringList{"opacity"});
        notifier.notify(s); // the same record again
        QCOMPARE(spy.count(), 1);
        s.opacity = 100;
        notifier.notify(s);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toStringList(), QStringList{"opacity"});
    }
};

KTR_TEST_MAIN(TestSettingsNotifier)
#include "tst_settingsnotifier.moc"
