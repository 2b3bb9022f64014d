// The summon hotkey on a real X server: registered with its log line and notice, pressed with xdotool
// (XTest), and reported as taken when another program holds the keys.
#include "logcapture.h"
#include "mainwindow/summonhotkey.h"
#include "testenv.h"
#include "x11tools.h"

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QSignalSpy>

using ktr::test::xdotool;

class TestSummonHotkeyX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = ktr::test::missingX11Input())
            QSKIP(why);
    }

    void registersAndSummons()
    {
        QList<QPair<QString, int>> toasts;
        SummonHotkey hk([&](const QString& t, int kind) { toasts.append({t, kind}); });
        QSignalSpy spy(&hk, &SummonHotkey::summonRequested);
        ktr::test::LogCapture log;
        hk.registerSummonHotkey("Ctrl+Alt+G", false);
        QVERIFY(hk.isRegistered());
        QVERIFY(log.contains("summon hotkey registered: Ctrl+Alt+G vk=0x0047"));
        QVERIFY(toasts.isEmpty());

        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QTRY_COMPARE(spy.count(), 1);

        // Announced after the settings dialog: the user is told it works.
        hk.registerSummonHotkey("Ctrl+Alt+G", true);
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts[0].first, QStringLiteral("呼出快捷键已启用：Ctrl+Alt+G"));
        QCOMPARE(toasts[0].second, 0);

        // While a modal dialog is open the press is swallowed and nothing is summoned.
        QDialog dlg;
        dlg.setModal(true);
        dlg.show();
        QTRY_VERIFY(QApplication::activeModalWidget());
        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QTest::qWait(200);
        QCOMPARE(spy.count(), 1);
        dlg.close();
    }

    void takenIsReportedOnlyWhenAnnounced()
    {
        QProcess holder;
        holder.start(QStringLiteral(KTR_HOTKEY_HOLDER), {QStringLiteral("Ctrl+Alt+G")});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("registered"));

        QList<QPair<QString, int>> toasts;
        SummonHotkey hk([&](const QString& t, int kind) { toasts.append({t, kind}); });
        ktr::test::LogCapture log;
        hk.registerSummonHotkey("Ctrl+Alt+G", false);
        QVERIFY(!hk.isRegistered());
        QVERIFY(toasts.isEmpty());
        QVERIFY(!log.contains("FAILED"));

        hk.registerSummonHotkey("Ctrl+Alt+G", true);
        QVERIFY(!hk.isRegistered());
        QVERIFY(log.contains("summon hotkey register FAILED: Ctrl+Alt+G"));
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts[0].first, QStringLiteral("快捷键 Ctrl+Alt+G 注册失败，可能已被其他程序占用"));
        QCOMPARE(toasts[0].second, 1);

        holder.kill();
        holder.waitForFinished(5000);
    }

    // A hotkey newly chosen in the settings that can't be grabbed is not kept: the previous one goes on
    // working, and the user is told which one that is.
    void aRefusedNewHotkeyKeepsThePreviousOne()
    {
        QProcess holder;
        holder.start(QStringLiteral(KTR_HOTKEY_HOLDER), {QStringLiteral("Ctrl+Alt+H")});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("registered"));

        QList<QPair<QString, int>> toasts;
        SummonHotkey hk([&](const QString& t, int kind) { toasts.append({t, kind}); });
        QSignalSpy spy(&hk, &SummonHotkey::summonRequested);
        hk.registerSummonHotkey("Ctrl+Alt+G", false);
        QCOMPARE(hk.replaceSummonHotkey("Ctrl+Alt+H", "Ctrl+Alt+G"), QStringLiteral("Ctrl+Alt+G"));
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts[0].first,
                 QStringLiteral("快捷键 Ctrl+Alt+H 注册失败，可能已被其他程序占用；仍使用 Ctrl+Alt+G"));
        QVERIFY(hk.isRegistered());
        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QTRY_COMPARE(spy.count(), 1);
        // A bare key can't be grabbed at all: the same.
        QCOMPARE(hk.replaceSummonHotkey("A", "Ctrl+Alt+G"), QStringLiteral("Ctrl+Alt+G"));
        QVERIFY(hk.isRegistered());
        // One that works replaces it.
        QCOMPARE(hk.replaceSummonHotkey("Ctrl+Alt+J", "Ctrl+Alt+G"), QStringLiteral("Ctrl+Alt+J"));
        QCOMPARE(toasts.last().first, QStringLiteral("呼出快捷键已启用：Ctrl+Alt+J"));

        holder.kill();
        holder.waitForFinished(5000);
    }
};

KTR_TEST_MAIN(TestSummonHotkeyX11)
#include "tst_summonhotkeyx11.moc"
