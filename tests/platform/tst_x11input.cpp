// Global hotkey and pointer state against a real X server: keys and buttons are faked with xdotool
// (XTest), so the server delivers them exactly as it would from a keyboard.
#include "platform/globalhotkey.h"
#include "platform/pointerstate.h"
#include "testenv.h"
#include "x11tools.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>

using ktr::platform::GlobalHotkey;
using ktr::platform::parseHotkeyText;
using ktr::test::xdotool;

class TestX11Input : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = ktr::test::missingX11Input())
            QSKIP(why);
    }

    // The grab holds with CapsLock and NumLock on too, and a held key fires once.
    void hotkeyFiresWithLockVariants_data()
    {
        QTest::addColumn<QStringList>("locks");
        QTest::newRow("plain") << QStringList{};
        QTest::newRow("caps lock") << QStringList{"Caps_Lock"};
        QTest::newRow("num lock") << QStringList{"Num_Lock"};
        QTest::newRow("both") << QStringList{"Caps_Lock", "Num_Lock"};
    }
    void hotkeyFiresWithLockVariants()
    {
        QFETCH(QStringList, locks);
        GlobalHotkey hk;
        QCOMPARE(hk.registerHotkey(*parseHotkeyText("Ctrl+Alt+G")), GlobalHotkey::Result::Registered);
        QSignalSpy spy(&hk, &GlobalHotkey::activated);
        for (const QString& l : locks)
            QVERIFY(xdotool({"key", l}));
        const bool pressed = xdotool({"key", "ctrl+alt+g"});
        for (const QString& l : locks)
            QVERIFY(xdotool({"key", l})); // toggle back before any check can end the test
        QVERIFY(pressed);
        QTRY_COMPARE(spy.count(), 1);

        // Other modifiers on the same key are not ours.
        QVERIFY(xdotool({"key", "ctrl+g"}));
        QVERIFY(xdotool({"key", "ctrl+alt+shift+g"}));
        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QTRY_COMPARE(spy.count(), 2);
    }

    void heldKeyFiresOnce()
    {
        GlobalHotkey hk;
        QCOMPARE(hk.registerHotkey(*parseHotkeyText("Ctrl+Alt+G")), GlobalHotkey::Result::Registered);
        QSignalSpy spy(&hk, &GlobalHotkey::activated);
        // Presses without a release in between, as auto-repeat delivers them.
        QVERIFY(xdotool({"keydown", "ctrl+alt+g"}));
        QVERIFY(xdotool({"keydown", "g"}));
        QVERIFY(xdotool({"keyup", "alt"}));
        QVERIFY(xdotool({"keyup", "ctrl"}));
        QVERIFY(xdotool({"keyup", "g"}));
        QTRY_COMPARE(spy.count(), 1);
        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QTRY_COMPARE(spy.count(), 2);
    }

    void unregisteredHotkeyIsSilent()
    {
        GlobalHotkey hk;
        QCOMPARE(hk.registerHotkey(*parseHotkeyText("Ctrl+Alt+G")), GlobalHotkey::Result::Registered);
        QSignalSpy spy(&hk, &GlobalHotkey::activated);
        hk.unregisterHotkey();
        QVERIFY(!hk.isRegistered());
        // Registering another combination replaces the first.
        QCOMPARE(hk.registerHotkey(*parseHotkeyText("Ctrl+Shift+F7")), GlobalHotkey::Result::Registered);
        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QVERIFY(xdotool({"key", "ctrl+shift+F7"}));
        QTRY_COMPARE(spy.count(), 1);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 1);
    }

    // A combination held by another program is reported as taken, leaves nothing registered, and is
    // free again once that program ends.
    void takenByAnotherClient()
    {
        QProcess holder;
        holder.start(QStringLiteral(KTR_HOTKEY_HOLDER), {QStringLiteral("Ctrl+Alt+G")});
        QVERIFY(holder.waitForStarted(5000));
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("registered"));

        GlobalHotkey hk;
        QCOMPARE(hk.registerHotkey(*parseHotkeyText("Ctrl+Alt+G")), GlobalHotkey::Result::Taken);
        QVERIFY(!hk.isRegistered());
        // Our failed attempt must not have released the other program's grab.
        QProcess second;
        second.start(QStringLiteral(KTR_HOTKEY_HOLDER), {QStringLiteral("Ctrl+Alt+G")});
        QVERIFY(second.waitForReadyRead(10000));
        QCOMPARE(second.readLine().trimmed(), QByteArray("taken"));
        second.kill();
        second.waitForFinished(5000);

        holder.kill();
        QVERIFY(holder.waitForFinished(5000));
        QTRY_COMPARE(hk.registerHotkey(*parseHotkeyText("Ctrl+Alt+G")), GlobalHotkey::Result::Registered);
    }

    void pointerStateSeesButtonsEverywhere()
    {
        auto* ps = ktr::platform::PointerState::system();
        QVERIFY(xdotool({"mousemove", "123", "234"}));
        QTRY_COMPARE(ps->query().pos, QPoint(123, 234));
        QCOMPARE(ps->query().buttons, Qt::MouseButtons());
        // No window of ours is under the pointer: only the server's state knows about these buttons.
        QVERIFY(xdotool({"mousedown", "2"}));
        QCOMPARE(ps->query().buttons, Qt::MouseButtons(Qt::MiddleButton));
        QVERIFY(xdotool({"mousedown", "3"}));
        QCOMPARE(ps->query().buttons, Qt::MiddleButton | Qt::RightButton);
        QVERIFY(xdotool({"mouseup", "2"}));
        QVERIFY(xdotool({"mouseup", "3"}));
        QCOMPARE(ps->query().buttons, Qt::MouseButtons());
    }
};

KTR_TEST_MAIN(TestX11Input)
#include "tst_x11input.moc"
