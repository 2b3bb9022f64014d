#include "platform/globalhotkey.h"
#include "testenv.h"

#include <QApplication>

using ktr::platform::GlobalHotkey;
using ktr::platform::parseHotkeyText;

class TestGlobalHotkey : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("mods"); // c a s m, in that order
        QTest::addColumn<int>("vk");

        QTest::newRow("default") << "Ctrl+Alt+G" << true << "ca" << 0x47;
        QTest::newRow("lower-case letter") << "ctrl+alt+g" << true << "ca" << 0x47;
        QTest::newRow("digit") << "Ctrl+Alt+1" << true << "ca" << 0x31;
        QTest::newRow("shift F12") << "Shift+F12" << true << "s" << 0x7B;
        QTest::newRow("ctrl F24") << "Ctrl+F24" << true << "c" << 0x87;
        QTest::newRow("meta letter") << "Meta+E" << true << "m" << 0x45;
        QTest::newRow("equals") << "Ctrl+=" << true << "c" << 187;
        QTest::newRow("plus") << "Ctrl++" << true << "c" << 187;
        QTest::newRow("two combinations keep the first") << "Ctrl+Alt+G, Ctrl+H" << true << "ca" << 0x47;
        QTest::newRow("space") << "Alt+Space" << true << "a" << 0x20;
        QTest::newRow("apostrophe") << "Ctrl+'" << true << "c" << 222;
        QTest::newRow("comma") << "Ctrl+," << true << "c" << 188;
        QTest::newRow("minus") << "Ctrl+-" << true << "c" << 189;
        QTest::newRow("period") << "Ctrl+." << true << "c" << 190;
        QTest::newRow("slash") << "Ctrl+/" << true << "c" << 191;
        QTest::newRow("semicolon") << "Ctrl+;" << true << "c" << 186;
        QTest::newRow("brackets") << "Ctrl+[" << true << "c" << 219;
        QTest::newRow("backslash") << "Ctrl+\\" << true << "c" << 220;
        QTest::newRow("close bracket") << "Ctrl+]" << true << "c" << 221;
        QTest::newRow("grave") << "Ctrl+`" << true << "c" << 192;
        QTest::newRow("escape with meta") << "Meta+Esc" << true << "m" << 27;
        QTest::newRow("tab") << "Alt+Tab" << true << "a" << 9;
        QTest::newRow("backspace") << "Ctrl+Backspace" << true << "c" << 8;
        QTest::newRow("return") << "Ctrl+Return" << true << "c" << 13;
        QTest::newRow("enter") << "Ctrl+Enter" << true << "c" << 13;
        QTest::newRow("insert") << "Ctrl+Ins" << true << "c" << 45;
        QTest::newRow("delete") << "Ctrl+Alt+Del" << true << "ca" << 46;
        QTest::newRow("home") << "Shift+Home" << true << "s" << 36;
        QTest::newRow("end") << "Shift+End" << true << "s" << 35;
        QTest::newRow("arrows") << "Ctrl+Alt+Left" << true << "ca" << 37;
        QTest::newRow("up") << "Ctrl+Up" << true << "c" << 38;
        QTest::newRow("right") << "Ctrl+Right" << true << "c" << 39;
        QTest::newRow("down") << "Ctrl+Down" << true << "c" << 40;
        QTest::newRow("page up") << "Ctrl+PgUp" << true << "c" << 33;
        QTest::newRow("page down") << "Ctrl+PgDown" << true << "c" << 34;
        QTest::newRow("all four") << "Ctrl+Alt+Shift+Meta+K" << true << "casm" << 0x4B;

        QTest::newRow("empty") << "" << false << "" << 0;
        QTest::newRow("blank") << "   " << false << "" << 0;
        QTest::newRow("letter alone") << "G" << false << "" << 0;
        QTest::newRow("function key alone") << "F5" << false << "" << 0;
        QTest::newRow("space alone") << "Space" << false << "" << 0;
        QTest::newRow("key outside the table") << "Ctrl+Print" << false << "" << 0;
        QTest::newRow("unknown name") << "Ctrl+Foo" << false << "" << 0;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, mods);
        QFETCH(int, vk);
        const auto spec = parseHotkeyText(text);
        QCOMPARE(spec.has_value(), valid);
        if (!valid)
            return;
        QString got;
        got += spec->ctrl ? "c" : "";
        got += spec->alt ? "a" : "";
        got += spec->shift ? "s" : "";
        got += spec->meta ? "m" : "";
        QCOMPARE(got, mods);
        QCOMPARE(spec->vk, vk);
        QVERIFY(!spec->text.isEmpty());
    }

    void defaultTextRoundTrips() { QCOMPARE(parseHotkeyText("Ctrl+Alt+G")->text, QStringLiteral("Ctrl+Alt+G")); }

    // Off X11 there is no global hotkey: registering says so and leaves nothing registered.
    void noDisplayWithoutX11()
    {
        GlobalHotkey hk;
        QCOMPARE(hk.registerHotkey(*parseHotkeyText("Ctrl+Alt+G")), GlobalHotkey::Result::NoDisplay);
        QVERIFY(!hk.isRegistered());
    }
};

KTR_TEST_MAIN(TestGlobalHotkey)
#include "tst_globalhotkey.moc"
