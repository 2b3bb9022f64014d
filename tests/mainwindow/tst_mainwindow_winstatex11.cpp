// The panel window on a real X server: the summon hotkey pressed with xdotool brings it back from the
// tray and out of its dock edge; pinning and docking show up in the window-manager hints.
#include "mainwindow/edgedock.h"
#include "mainwindow/framedrag.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowstatecontroller.h"
#include "platform/windowhints.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/qtlanguage.h"
#include "ui/uibtn.h"
#include "windowfixture.h"
#include "x11tools.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>

#include <memory>

using namespace ktr::test;

class TestMainWindowWinStateX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = ktr::test::missingX11Input())
            QSKIP(why);
    }

    void hotkeyBringsTheHiddenPanelBack()
    {
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(w->settings().summonHotkey, QStringLiteral("Ctrl+Alt+G"));
        w->hide();
        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QTRY_VERIFY(w->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->geometry().center(), avail().center());
    }

    void hotkeySummonsTheDockedPanel()
    {
        auto w = shownWindow();
        QVERIFY(w);
        EdgeDock* dock = w->windowStateController()->edgeDock();
        w->move(avail().left() + 100, avail().top() + 5);
        Q_EMIT w->windowStateController()->frameDrag()->sizeMoveFinished();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::Top));
        QTRY_VERIFY(!dock->isAnimating());
        QTRY_VERIFY(w->geometry().bottom() < avail().top() + 24);
        // Docked: no taskbar button.
        QVERIFY(
            ktr::platform::windowStateHints(w->windowHandle()).contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")));

        QVERIFY(xdotool({"key", "ctrl+alt+g"}));
        QTRY_VERIFY(dock->isSummoned());
        QVERIFY(dock->isRevealed());
        QTRY_COMPARE(w->geometry().top(), avail().top());
        const QStringList hints = ktr::platform::windowStateHints(w->windowHandle());
        QVERIFY(!hints.contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")));
        QVERIFY(hints.contains(QStringLiteral("_NET_WM_STATE_ABOVE")));

        // Restored: undocked, no longer above others unless pinned.
        w->restoreWindow();
        QVERIFY(!ktr::platform::windowStateHints(w->windowHandle()).contains(QStringLiteral("_NET_WM_STATE_ABOVE")));
    }

    // On X11 a new user reveals the panel by holding the middle button (a middle click pastes); a gesture
    // the user chose is kept.
    void revealGestureDefaultOnX11_data()
    {
        QTest::addColumn<QByteArray>("stored"); // null: no settings file
        QTest::addColumn<int>("expected");
        QTest::newRow("new user") << QByteArray() << 3;
        QTest::newRow("middle press chosen") << QByteArray("{\"revealMethod\": 1}") << 1;
    }
    void revealGestureDefaultOnX11()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        QFile::remove(settingsFile());
        if (!stored.isNull())
            QVERIFY(ktr::test::writeFile(settingsFile(), stored));
        auto w = std::make_unique<MainWindow>();
        QCOMPARE(w->settings().revealMethod, expected);
        QFile::remove(settingsFile());
    }

    // A panel summoned out of its edge and dragged away is no longer above other windows unless pinned.
    void summonedAndDraggedAwayFollowsPin()
    {
        auto w = shownWindow();
        QVERIFY(w);
        const QString above = QStringLiteral("_NET_WM_STATE_ABOVE");
        EdgeDock* dock = w->windowStateController()->edgeDock();
        w->move(avail().left() + 100, avail().top() + 5);
        Q_EMIT w->windowStateController()->frameDrag()->sizeMoveFinished();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::Top));
        QTRY_VERIFY(!dock->isAnimating());
        QVERIFY(dock->summonDocked());
        QTRY_VERIFY(!dock->isAnimating());
        QTRY_VERIFY(ktr::platform::windowStateHints(w->windowHandle()).contains(above));
        w->move(avail().center() - QPoint(w->width() / 2, w->height() / 2));
        Q_EMIT w->windowStateController()->frameDrag()->sizeMoveFinished();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::NotDocked));
        QTRY_VERIFY(!ktr::platform::windowStateHints(w->windowHandle()).contains(above));
    }

    // The window manager's title: Qt appends the display name, which follows the language, also for a
    // window already on screen.
    void titlesFollowTheLanguage()
    {
        const auto shownTitle = [](const QWidget& w) {
            QProcess p;
            p.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), QString::number(w.winId())});
            p.waitForFinished(5000);
            return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        };
        Lang::setLanguage(0);
        ktr::followUiLanguage();
        const auto chinese = qScopeGuard([] {
            Lang::setLanguage(0);
            Lang::notifyChanged();
        });
        QWidget window;
        window.setWindowTitle(QStringLiteral("Settings"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(shownTitle(window), QStringLiteral("Settings \u2014 \u9752\u5c9a\u821f\u9762\u677f"));
        Lang::setLanguage(1);
        Lang::notifyChanged();
        QTRY_COMPARE(shownTitle(window), QStringLiteral("Settings \u2014 Kestrune Panel"));
    }

    void pinKeepsThePanelAboveAcrossARestore()
    {
        auto w = shownWindow();
        QVERIFY(w);
        const QString above = QStringLiteral("_NET_WM_STATE_ABOVE");
        w->onUiButton(UiBtn::Pin);
        QVERIFY(ktr::platform::windowStateHints(w->windowHandle()).contains(above));
        w->hide();
        w->restoreWindow();
        QVERIFY(ktr::platform::windowStateHints(w->windowHandle()).contains(above));
        w->onUiButton(UiBtn::Pin);
        QVERIFY(!ktr::platform::windowStateHints(w->windowHandle()).contains(above));
    }

    // With a tray host in the display, closing and minimising go to the tray; the tray brings the panel
    // back, and only its quit entry really closes.
    void closeAndMinimiseGoToTheTray()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
            QSKIP("needs trayer (a system tray host)");
        QProcess trayer;
        trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("bottom")});
        QVERIFY(trayer.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);

        auto w = shownWindow();
        QVERIFY(w);
        QTRY_VERIFY(w->tray()->icon() && w->tray()->icon()->isVisible());
        QVERIFY(!w->close());
        QVERIFY(!w->isVisible());
        Q_EMIT w->tray()->icon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(w->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));

        w->showMinimized();
        QTRY_VERIFY(!w->isVisible());
        Q_EMIT w->tray()->icon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w->isVisible());
        QVERIFY(!w->isMinimized());

        // The quit entry closes for good and saves the settings on its way out.
        QFile::remove(settingsFile());
        w->tray()->quitFromTray();
        QVERIFY(!w->isVisible());
        QVERIFY(QFile::exists(settingsFile()));

        trayer.terminate();
        if (!trayer.waitForFinished(3000))
            trayer.kill();
        trayer.waitForFinished(3000);
    }
};

KTR_TEST_MAIN(TestMainWindowWinStateX11)
#include "tst_mainwindow_winstatex11.moc"
