// What the window does when the lock moves: the record saved, both lock buttons set, the market locked, the
// settings dialog and the search closed, the frame's line moved, in the order the window relies on.
#include "lock/lockcontroller.h"
#include "mainwindow/windowlock.h"
#include "testenv.h"
#include "ui/appsettings.h"
#include "ui/uibtn.h"

#include <QWidget>
#include <QtTest/QtTest>

#include <memory>

namespace {

struct Fixture
{
    QWidget window;
    AppSettings settings;
    QStringList log;
    std::unique_ptr<WindowLock> lock;

    explicit Fixture(bool uiLocked, bool obfuscated)
    {
        settings.protectPasswordHash = QStringLiteral("not-a-real-hash");
        settings.uiLocked = uiLocked;
        settings.obfuscateEnabled = obfuscated;
        WindowLock::Host host;
        host.window = &window;
        host.settings = &settings;
        host.saveSettings = [this] { log << QStringLiteral("save"); };
        host.setButtonActive = [this](int button, bool active) {
            log << QStringLiteral("button %1 %2").arg(button).arg(active ? "on" : "off");
        };
        host.setMarketLocked = [this](bool locked) {
            log << QStringLiteral("market %1").arg(locked ? "locked" : "live");
        };
        host.followSettingsDialog = [this] { log << QStringLiteral("follow settings"); };
        host.closeSettingsDialog = [this] { log << QStringLiteral("close settings"); };
        host.hideSearch = [this] { log << QStringLiteral("hide search"); };
        host.setDividerY = [this](int y) { log << QStringLiteral("divider %1").arg(y); };
        host.toast = [this](const QString& text, Toast::Kind) { log << QStringLiteral("toast ") + text; };
        lock = std::make_unique<WindowLock>(std::move(host));
    }
};

} // namespace

class TestWindowLock : public QObject
{
    Q_OBJECT

private slots:
    void buttonsFollowTheRecord_data()
    {
        QTest::addColumn<bool>("uiLocked");
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("neither") << false << false;
        QTest::newRow("locked only") << true << false;
        QTest::newRow("obfuscated only") << false << true;
        QTest::newRow("both") << true << true;
    }
    void buttonsFollowTheRecord()
    {
        QFETCH(bool, uiLocked);
        QFETCH(bool, obfuscated);
        Fixture f(uiLocked, obfuscated);
        f.lock->controller()->refreshButtons();
        const auto state = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
        QCOMPARE(f.log, (QStringList{QStringLiteral("button %1 %2").arg(UiBtn::Lock).arg(state(uiLocked)),
                                     QStringLiteral("button %1 %2").arg(UiBtn::Obfuscate).arg(state(obfuscated))}));
    }

    void reactionsInOrder_data()
    {
        QTest::addColumn<bool>("engage");
        QTest::addColumn<QStringList>("expected");
        const QString lockOn = QStringLiteral("button %1 on").arg(UiBtn::Lock);
        const QString lockOff = QStringLiteral("button %1 off").arg(UiBtn::Lock);
        const QString obfuscateOn = QStringLiteral("button %1 on").arg(UiBtn::Obfuscate);
        // Saved and shown before anything closes; nothing stays open above the lock screen once it covers.
        QTest::newRow("engage")
            << true << QStringList{"save",           lockOn,        obfuscateOn,     "market locked", "follow settings",
                                   "close settings", "hide search", "market locked", "divider -100"};
        // Without a lock screen up there is nothing to take down: the record and the buttons only.
        QTest::newRow("unlock without a lock screen")
            << false << QStringList{"save", lockOff, obfuscateOn, "market live", "follow settings"};
    }
    void reactionsInOrder()
    {
        QFETCH(bool, engage);
        QFETCH(QStringList, expected);
        Fixture f(!engage, true);
        if (engage)
            f.lock->controller()->engageUiLock();
        else
            f.lock->controller()->unlockUi();
        QCOMPARE(f.log, expected);
        QCOMPARE(f.settings.uiLocked, engage);
    }

    void reloadedLockClosesWhatItCovers()
    {
        // A lock that came in with a read record (import, restore) closes what is open, as a new one does.
        Fixture f(true, false);
        f.lock->controller()->settingsReloaded();
        QCOMPARE(f.log, (QStringList{"divider -100", "close settings", "hide search", "market locked"}));
        f.log.clear();
        // Already covered: reading the record again closes nothing twice.
        f.lock->controller()->settingsReloaded();
        QVERIFY(!f.log.contains(QStringLiteral("close settings")));
    }
};

KTR_TEST_MAIN(TestWindowLock)
#include "tst_windowlock.moc"
