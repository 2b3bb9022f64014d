// Off X11 there is no global hotkey: the user hears of it only when he set the hotkey himself.
#include "logcapture.h"
#include "mainwindow/summonhotkey.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>

class TestSummonHotkey : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reporting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("announce");
        QTest::addColumn<bool>("reported");
        QTest::newRow("silent") << "Ctrl+Alt+G" << false << false;
        QTest::newRow("announced") << "Ctrl+Alt+G" << true << true;
        QTest::newRow("empty") << "" << true << false;
        QTest::newRow("blank") << "  " << true << false;
        QTest::newRow("key without modifier") << "G" << true << false;
    }
    void reporting()
    {
        QFETCH(QString, text);
        QFETCH(bool, announce);
        QFETCH(bool, reported);
        QList<QPair<QString, int>> toasts;
        SummonHotkey hk([&](const QString& t, int kind) { toasts.append({t, kind}); });
        ktr::test::LogCapture log;
        hk.registerSummonHotkey(text, announce);
        QVERIFY(!hk.isRegistered());
        QCOMPARE(log.contains("summon hotkey register FAILED: Ctrl+Alt+G"), reported);
        QCOMPARE(toasts.size(), reported ? 1 : 0);
        if (reported) {
            QCOMPARE(toasts[0].first, QStringLiteral("快捷键 Ctrl+Alt+G 注册失败，可能已被其他程序占用"));
            QCOMPARE(toasts[0].second, 1);
        }
    }

    // Off X11 nothing can be grabbed, the previous hotkey neither: a usable new one is kept for a session
    // that can; a bare key never is.
    void replacingWithoutADisplay()
    {
        QList<QPair<QString, int>> toasts;
        SummonHotkey hk([&](const QString& t, int kind) { toasts.append({t, kind}); });
        QCOMPARE(hk.replaceSummonHotkey("A", "Ctrl+Alt+G"), QStringLiteral("Ctrl+Alt+G"));
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts[0].second, 1);
        QCOMPARE(hk.replaceSummonHotkey("Ctrl+Alt+K", "Ctrl+Alt+G"), QStringLiteral("Ctrl+Alt+K"));
        QCOMPARE(hk.replaceSummonHotkey("", "Ctrl+Alt+G"), QString());
    }

    void failureTextFollowsTheLanguage()
    {
        Lang::setLanguage(1);
        QString shown;
        SummonHotkey hk([&](const QString& t, int) { shown = t; });
        hk.registerSummonHotkey("Ctrl+Alt+G", true);
        Lang::setLanguage(0);
        QCOMPARE(shown,
                 QStringLiteral("Failed to register hotkey Ctrl+Alt+G; it may already be used by another program"));
    }
};

KTR_TEST_MAIN(TestSummonHotkey)
#include "tst_summonhotkey.moc"
