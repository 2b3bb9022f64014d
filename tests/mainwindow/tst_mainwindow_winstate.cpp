// The window's state offscreen: closing and minimising without a tray host, the tray menu, restoring,
// pinning, the autostart entry, docking when a move ends, fitting to the screen, the summon, the frame
// hit test on the real children, the disk-full notice, and the small helpers of the menus and items.
#include "mainwindow/edgedock.h"
#include "mainwindow/framedrag.h"
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/menustyle.h"
#include "mainwindow/targetwatch.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowstatecontroller.h"
#include "mainwindow/windowutil.h"
#include "panel/bottombar.h"
#include "panel/titlebaractions.h"
#include "platform/autostart.h"
#include "platform/version.h"
#include "recorder/screenmonitor.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/theme.h"
#include "ui/toast.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QtTest/QtTest>

#include <memory>

using namespace ktr::test;

namespace {

QStringList actionTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* a : menu->actions())
        texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(FrameHit)

class TestMainWindowWinState : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        QFile::remove(settingsFile());
        QFile::remove(ktr::platform::autostartFilePath());
    }

    // ---- close, minimise, tray ----

    void withoutTrayHostCloseQuits()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        auto w = shownWindow();
        QVERIFY(w);
        QVERIFY(w->settings().closeToTray);
        QTRY_VERIFY(w->tray()->icon()); // asked for by the settings, but no tray shows it
        QVERIFY(w->close());
        QVERIFY(!w->isVisible());
        QVERIFY(QFile::exists(settingsFile())); // the close path saved the settings
        QVERIFY(!w->invalidPathCheck()->targetWatch()->settleTimer()->isActive());
    }

    // The start's tray icon is made after the window's first paint, or a second after the start when the
    // window never paints.
    void trayIconAfterTheFirstPaint_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown") << true;
        QTest::newRow("never shown") << false;
    }
    void trayIconAfterTheFirstPaint()
    {
        QFETCH(bool, shown);
        auto w = std::make_unique<MainWindow>();
        QVERIFY(w->settings().closeToTray);
        QVERIFY(!w->tray()->icon());
        QElapsedTimer clock;
        clock.start();
        if (shown) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            QTRY_VERIFY_WITH_TIMEOUT(w->tray()->icon(), 900);
            QVERIFY(clock.elapsed() < 900);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(w->tray()->icon(), 3000);
            QVERIFY(clock.elapsed() >= 900);
        }
        QCOMPARE(w->tray()->icon()->toolTip(), w->windowTitle());
    }

    void withoutTrayHostMinimiseStaysMinimised()
    {
        auto w = shownWindow();
        QVERIFY(w);
        w->showMinimized();
        QTest::qWait(20);
        QVERIFY(w->isVisible());
        QVERIFY(w->isMinimized());
    }

    void trayMenu()
    {
        auto w = shownWindow();
        QVERIFY(w);
        w->tray()->create();
        QMenu* menu = w->tray()->menu();
        QVERIFY(menu);
        QCOMPARE(w->tray()->icon()->contextMenu(), menu);
        QCOMPARE(actionTexts(menu), (QStringList{"显示面板", "设置...", "-", "退出"}));
        QCOMPARE(menu->styleSheet(), menuStyleSheet());
        QCOMPARE(w->tray()->icon()->toolTip(), QStringLiteral("青岚舟面板"));
        QVERIFY(!w->tray()->icon()->icon().isNull());

        // "显示面板" brings a hidden window back.
        w->hide();
        menu->actions().at(0)->trigger();
        QVERIFY(w->isVisible());

        // "退出" closes for good, even with closing to the tray switched on.
        QFile::remove(settingsFile());
        menu->actions().at(3)->trigger();
        QVERIFY(!w->isVisible());
        QVERIFY(!w->tray()->icon()->isVisible());
        QVERIFY(QFile::exists(settingsFile()));
    }

    // ---- restore, summon ----

    void restoreShowsUnminimisesAndCentres()
    {
        auto w = shownWindow();
        QVERIFY(w);
        w->move(avail().topLeft() + QPoint(3, 40));
        w->showMinimized();
        w->hide();
        w->restoreWindow();
        QVERIFY(w->isVisible());
        QVERIFY(!w->isMinimized());
        QCOMPARE(w->geometry().center(), avail().center());
        QCOMPARE(w->size(), QSize(680, 496));
    }

    void summonBringsTheWindowBack_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("hidden") << "hidden";
        QTest::newRow("minimised") << "minimised";
    }
    void summonBringsTheWindowBack()
    {
        QFETCH(QString, state);
        auto w = shownWindow();
        QVERIFY(w);
        if (state == QLatin1String("hidden"))
            w->hide();
        else
            w->showMinimized();
        w->windowStateController()->summonWindow();
        QVERIFY(w->isVisible());
        QVERIFY(!w->isMinimized());
    }

    // ---- docking ----

    void dockingIsDecidedWhenTheMoveEnds()
    {
        auto w = shownWindow();
        QVERIFY(w);
        EdgeDock* dock = w->windowStateController()->edgeDock();
        QCOMPARE(dock->pollInterval(), EdgeDock::kIdlePollMs);
        QVERIFY(dock->isPollActive());
        const QRect a = avail();
        const int x = a.left() + 60;
        w->move(x, a.top() + 20);
        Q_EMIT w->windowStateController()->frameDrag()->sizeMoveFinished();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::Top));
        QVERIFY(!dock->taskbarButtonVisible());
        QCOMPARE(dock->pollInterval(), EdgeDock::kDockedPollMs);
        const int k = w->settings().snapRevealPx;
        QTRY_COMPARE(w->geometry().bottom(), a.top() + k - 1);
        QCOMPARE(w->geometry().left(), x);

        // Closing a summoned docked window hides it back into its edge instead.
        w->windowStateController()->summonWindow();
        QVERIFY(dock->isSummoned());
        QTRY_COMPARE(w->geometry().top(), a.top());
        w->titleBar()->actionTriggered(UiBtn::Close);
        QVERIFY(w->isVisible());
        QVERIFY(!dock->isRevealed());
        QTRY_COMPARE(w->geometry().bottom(), a.top() + k - 1);

        // Restoring undocks and centres.
        w->restoreWindow();
        QCOMPARE(dock->dockEdge(), int(EdgeDock::NotDocked));
        QVERIFY(dock->taskbarButtonVisible());
        QCOMPARE(dock->pollInterval(), EdgeDock::kIdlePollMs);
        QCOMPARE(w->geometry().center(), a.center());
        QTest::qWait(EdgeDock::kAnimationMs / 4); // no animation left to carry it off
        QCOMPARE(w->geometry().center(), a.center());
    }

    void aMoveEndingAwayFromTheEdgesDoesNotDock()
    {
        auto w = shownWindow();
        QVERIFY(w);
        const QRect a = avail();
        w->move(a.left() + 21, a.top() + 21);
        Q_EMIT w->windowStateController()->frameDrag()->sizeMoveFinished();
        QCOMPARE(w->windowStateController()->edgeDock()->dockEdge(), int(EdgeDock::NotDocked));
        QVERIFY(w->windowStateController()->edgeDock()->taskbarButtonVisible());
    }

    void screenChangesBringTheWindowBack()
    {
        auto w = shownWindow();
        QVERIFY(w);
        w->move(avail().right() + 500, avail().bottom() + 500);
        QScreen* screen = QGuiApplication::primaryScreen();
        Q_EMIT screen->availableGeometryChanged(screen->availableGeometry());
        QVERIFY(avail().contains(w->geometry()));
        QCOMPARE(w->geometry().center(), avail().center());
    }

    // ---- frameless hit test on the real children ----

    void frameHit_data()
    {
        QTest::addColumn<QPoint>("fromTopLeft"); // negative coordinates count from the right / bottom
        QTest::addColumn<int>("hit");
        QTest::newRow("top left corner") << QPoint(3, 3) << int(FrameHit::TopLeft);
        QTest::newRow("top right corner over the buttons") << QPoint(-3, 3) << int(FrameHit::TopRight);
        QTest::newRow("top border over the buttons") << QPoint(-40, 3) << int(FrameHit::Top);
        QTest::newRow("free title strip") << QPoint(300, 12) << int(FrameHit::Caption);
        QTest::newRow("title strip button") << QPoint(-40, 12) << int(FrameHit::Client);
        QTest::newRow("content") << QPoint(300, 40) << int(FrameHit::Client);
        QTest::newRow("left border over the sidebar") << QPoint(2, 200) << int(FrameHit::Left);
        QTest::newRow("bottom border over the bar") << QPoint(300, -2) << int(FrameHit::Bottom);
        QTest::newRow("bottom right corner") << QPoint(-2, -2) << int(FrameHit::BottomRight);
    }
    void frameHit()
    {
        QFETCH(QPoint, fromTopLeft);
        QFETCH(int, hit);
        auto w = shownWindow();
        QVERIFY(w);
        const QPoint p(fromTopLeft.x() < 0 ? w->width() + fromTopLeft.x() : fromTopLeft.x(),
                       fromTopLeft.y() < 0 ? w->height() + fromTopLeft.y() : fromTopLeft.y());
        QCOMPARE(int(w->windowStateController()->frameHitAt(p)), hit);
    }

    // ---- pin, autostart, notices ----

    void pinButtonTogglesPinning()
    {
        auto w = shownWindow();
        QVERIFY(w);
        QVERIFY(!w->windowStateController()->isPinned());
        w->onUiButton(UiBtn::Pin);
        QVERIFY(w->windowStateController()->isPinned());
        w->onUiButton(UiBtn::Pin);
        QVERIFY(!w->windowStateController()->isPinned());
    }

    // An installed program (the install marker beside it) writes the entry the setting asks for when it
    // starts; a run from the build tree leaves autostart alone.
    void autostartFollowsTheSetting_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("installed") << true;
        QTest::newRow("build tree") << false;
    }
    void autostartFollowsTheSetting()
    {
        QFETCH(bool, installed);
        const QString marker = QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                               QLatin1String(ktr::platform::kInstallMarkerName);
        if (installed)
            QVERIFY(ktr::test::writeFile(marker, "test\n"));
        const auto removeMarker = qScopeGuard([&] { QFile::remove(marker); });
        auto w = std::make_unique<MainWindow>(); // autoStart is on by default
        QCOMPARE(QFile::exists(ktr::platform::autostartFilePath()), installed);
        if (!installed)
            return;
        const QByteArray entry = ktr::test::readFile(ktr::platform::autostartFilePath());
        QVERIFY(entry.contains("Exec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
        QCOMPARE(w->windowStateController()->setAutoStart(false), 0);
        QVERIFY(!QFile::exists(ktr::platform::autostartFilePath()));
        QCOMPARE(w->windowStateController()->setAutoStart(true), 0);
        QVERIFY(QFile::exists(ktr::platform::autostartFilePath()));
    }

    void diskFullNotice()
    {
        auto w = shownWindow();
        QVERIFY(w);
        w->bottomBar()->setButtonActive(UiBtn::Monitor, true);
        Q_EMIT ScreenMonitor::instance()->diskFull();
        QTRY_VERIFY(w->toast());
        QCOMPARE(w->toast()->text(), QStringLiteral("磁盘剩余空间不足，录屏已暂停（腾出空间后会自动继续）"));
        QVERIFY(w->toast()->isError());
    }

    // ---- helpers of menus and items ----

    void menuStyleFollowsThePalette_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QStringList>("colours");
        QTest::newRow("dark") << true
                              << QStringList{"background:#2a2f3a",     "border:1px solid #3a404d",
                                             "color:#e6e9f0",          "selected{background:#333d52;color:#9fbeff",
                                             "disabled{color:#6b7280", "height:1px;background:#3a404d"};
        QTest::newRow("light") << false
                               << QStringList{"background:#ffffff",     "border:1px solid #dce1eb",
                                              "color:#2e3440",          "selected{background:#edf2fe;color:#2b5fd9",
                                              "disabled{color:#a8afbc", "height:1px;background:#e8ecf3"};
    }
    void menuStyleFollowsThePalette()
    {
        QFETCH(bool, dark);
        QFETCH(QStringList, colours);
        setDarkTheme(dark);
        QMenu menu;
        applyMenuStyle(&menu);
        const QString sheet = menu.styleSheet();
        for (const QString& c : colours)
            QVERIFY2(sheet.contains(c), qPrintable(c + QLatin1String(" in ") + sheet));
        QVERIFY(sheet.contains(QStringLiteral("font-family:'%1'").arg(uiFontFamily())));
        QVERIFY(menu.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(menu.windowFlags().testFlag(Qt::NoDropShadowWindowHint));
        QVERIFY(menu.testAttribute(Qt::WA_TranslucentBackground));
        setDarkTheme(false);
    }

    // Glyphs are strokes, not fills: the outline of the "grid" squares is coloured, their middles are not.
    void menuGlyphIsAStroked16PixelIcon()
    {
        const QIcon icon = menuGlyphIcon(3, Qt::red);
        const QPixmap pm = icon.pixmap(QSize(16, 16), 2.0);
        QCOMPARE(pm.deviceIndependentSize().toSize(), QSize(16, 16));
        const QImage img = pm.toImage();
        QCOMPARE(img.size(), QSize(32, 32));
        // The first square spans 2.7..7.2 in the 16 box: its left edge at x 2.7, its middle at 4.95.
        QVERIFY(qAlpha(img.pixel(qRound(2.7 * 2), qRound(4.95 * 2))) > 100);
        QCOMPARE(qAlpha(img.pixel(qRound(4.95 * 2), qRound(4.95 * 2))), 0);
        QCOMPARE(qAlpha(img.pixel(31, 31)), 0);
        // Every kind draws something; unknown kinds draw the run triangle.
        for (int kind = 0; kind <= 15; ++kind) {
            const QImage k = menuGlyphIcon(kind, Qt::black).pixmap(QSize(16, 16), 2.0).toImage();
            bool drawn = false;
            for (int y = 0; y < k.height() && !drawn; ++y)
                for (int x = 0; x < k.width() && !drawn; ++x)
                    drawn = qAlpha(k.pixel(x, y)) > 0;
            QVERIFY2(drawn, qPrintable(QString::number(kind)));
        }
        QCOMPARE(menuGlyphIcon(15, Qt::black).pixmap(QSize(16, 16), 2.0).toImage(),
                 menuGlyphIcon(0, Qt::black).pixmap(QSize(16, 16), 2.0).toImage());
    }

    void itemTargetMissing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("customIcon");
        QTest::addColumn<bool>("missing");
        const QString dir = ktr::test::freshDir(QStringLiteral("targets"));
        ktr::test::writeFile(dir + QStringLiteral("/there.txt"), "x");
        ktr::test::writeFile(dir + QStringLiteral("/icon.png"), "x");
        QTest::newRow("existing file") << dir + "/there.txt" << QString() << false;
        QTest::newRow("existing folder") << dir << QString() << false;
        QTest::newRow("gone") << dir + "/gone.txt" << QString() << true;
        QTest::newRow("gone, custom icon there") << dir + "/gone.txt" << dir + "/icon.png" << false;
        QTest::newRow("gone, custom icon gone") << dir + "/gone.txt" << dir + "/noicon.png" << true;
        QTest::newRow("shell place") << "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}" << QString() << false;
        QTest::newRow("empty") << QString() << QString() << false;
    }
    void itemTargetMissing()
    {
        QFETCH(QString, path);
        QFETCH(QString, customIcon);
        QFETCH(bool, missing);
        Item item;
        item.path = path;
        item.customIcon = customIcon;
        QCOMPARE(isItemTargetMissing(item), missing);
    }

    void hexDecoding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("mixed case") << "0aFf" << QByteArray("\x0a\xff", 2);
        QTest::newRow("not hex") << "0g" << QByteArray();
        QTest::newRow("odd length") << "abc" << QByteArray("\xab", 1);
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("sign is not a digit") << "+f00" << QByteArray();
        QTest::newRow("blank is not a digit") << " f00" << QByteArray();
        QTest::newRow("full width digits") << "０１" << QByteArray();
    }
    void hexDecoding()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(hexToBytes(text), bytes);
    }

    void fileVersionHasThreeNumbers()
    {
        const QStringList compiled = ktr::platform::compiledVersion().split(QLatin1Char('.'));
        QCOMPARE(appFileVersion(), QStringList(compiled.mid(0, 3)).join(QLatin1Char('.')));
    }

    // Where a press on the frameless window's border lands follows the orientation in force: the portrait
    // window has a fixed width, so its side borders must not resize it.
    void borderHitFollowsTheOrientation_data()
    {
        QTest::addColumn<bool>("portrait");
        QTest::addColumn<int>("where"); // 0 top left corner, 1 middle of the right edge, 2 bottom left corner
        QTest::addColumn<FrameHit>("expected");
        QTest::newRow("landscape top left") << false << 0 << FrameHit::TopLeft;
        QTest::newRow("landscape right edge") << false << 1 << FrameHit::Right;
        QTest::newRow("landscape bottom left") << false << 2 << FrameHit::BottomLeft;
        QTest::newRow("portrait top left") << true << 0 << FrameHit::Top;
        QTest::newRow("portrait right edge") << true << 1 << FrameHit::Client;
        QTest::newRow("portrait bottom left") << true << 2 << FrameHit::Bottom;
    }

    void borderHitFollowsTheOrientation()
    {
        QFETCH(bool, portrait);
        QFETCH(int, where);
        QFETCH(FrameHit, expected);
        auto w = std::make_unique<MainWindow>();
        if (portrait)
            w->onUiButton(UiBtn::Orientation);
        QCOMPARE(w->portraitMode(), portrait);
        const int width = w->width();
        const int height = w->height();
        const QPoint points[] = {QPoint(3, 3), QPoint(width - 2, height / 2), QPoint(2, height - 2)};
        QCOMPARE(w->windowStateController()->frameHitAt(points[where]), expected);
    }
};

KTR_TEST_MAIN(TestMainWindowWinState)
#include "tst_mainwindow_winstate.moc"
