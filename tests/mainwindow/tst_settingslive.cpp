// The settings dialog on the real main window: each change is previewed on the panel at once, Cancel puts the
// panel back on its own record, and OK keeps what the panel itself changed while the dialog was open.
#include "mainwindow/mainwindow.h"
#include "settings/settingsdialog.h"
#include "settings/sliderwidget.h"
#include "testenv.h"
#include "ui/theme.h"

#include <QtTest/QtTest>

#include <memory>

class TestSettingsLive : public QObject
{
    Q_OBJECT

    static void click(SettingsDialog* dialog, int id)
    {
        const QPoint p = dialog->hitRectInWindow(id).center();
        QTest::mousePress(dialog, Qt::LeftButton, {}, p);
        QTest::mouseRelease(dialog, Qt::LeftButton, {}, p);
    }

private Q_SLOTS:
    void previewThenCancel()
    {
        auto w = std::make_unique<MainWindow>();
        w->settings().darkTheme = false;
        w->settings().opacity = 100;
        w->applySettings();
        w->openSettings();
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        QVERIFY(dialog);
        click(dialog, 101); // "深色"
        QVERIFY(currentTheme().isDark);
        QVERIFY(!w->settings().darkTheme); // previewed, not kept
        dialog->sliderForKey(3)->setValue(60, true);
        QCOMPARE(qRound(w->windowOpacity() * 100), 60);
        click(dialog, 3); // Cancel
        QTRY_VERIFY(!w->settingsBridge()->dialog());
        QVERIFY(!currentTheme().isDark);
        QCOMPARE(qRound(w->windowOpacity() * 100), 100);
    }

    // The panel changes the theme (its button), the protection and the last backup time while the dialog is
    // open; OK writes back the dialog's own edits and keeps those.
    void okKeepsThePanelsChanges()
    {
        auto w = std::make_unique<MainWindow>();
        w->settings().darkTheme = false;
        w->applySettings();
        w->openSettings();
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        QVERIFY(dialog);
        dialog->sliderForKey(0)->setValue(70, true); // icon size
        w->onUiButton(6);                            // the panel's theme button
        QVERIFY(w->settings().darkTheme);
        w->settings().obfuscateEnabled = true;
        w->settings().protectPasswordHash = QStringLiteral("pbkdf2$1$00$00");
        w->settings().backupLastAt = QStringLiteral("2026-12-10T03:00:00");
        click(dialog, 4); // OK
        QTRY_VERIFY(!w->settingsBridge()->dialog());
        QCOMPARE(w->settings().iconSize, 70);
        QVERIFY(w->settings().darkTheme);
        QVERIFY(w->settings().obfuscateEnabled);
        QCOMPARE(w->settings().protectPasswordHash, QStringLiteral("pbkdf2$1$00$00"));
        QCOMPARE(w->settings().backupLastAt, QStringLiteral("2026-12-10T03:00:00"));
    }

    // The panel's theme button and a dragged bar button while the dialog is open: the next slider move keeps
    // them, and the dialog's own edit still shows over them.
    void panelChangesSurviveTheNextPreview()
    {
        auto w = std::make_unique<MainWindow>();
        w->settings().darkTheme = false;
        w->applySettings();
        w->openSettings();
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        QVERIFY(dialog);
        dialog->sliderForKey(3)->setValue(60, true); // opacity, previewed
        w->onUiButton(6);                            // the panel's theme button
        QVERIFY(currentTheme().isDark);
        QCOMPARE(qRound(w->windowOpacity() * 100), 60); // the preview is applied again over the new theme
        QVERIFY(dialog->editedSettings().darkTheme);
        w->moveUiButton(9, 0, 0); // the recorder button dragged to the title bar
        QCOMPARE(w->settings().btnLayoutTitle.first(), 9);
        dialog->sliderForKey(3)->setValue(70, true);
        QVERIFY(currentTheme().isDark);
        QCOMPARE(qRound(w->windowOpacity() * 100), 70);
        QCOMPARE(dialog->editedSettings().btnLayoutTitle.first(), 9);
        click(dialog, 4); // OK
        QTRY_VERIFY(!w->settingsBridge()->dialog());
        QVERIFY(w->settings().darkTheme);
        QCOMPARE(w->settings().opacity, 70);
        QCOMPARE(w->settings().btnLayoutTitle.first(), 9);
    }
};

KTR_TEST_MAIN(TestSettingsLive)
#include "tst_settingslive.moc"
