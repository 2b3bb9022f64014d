// The tray icon of the panel: made when the settings send the window to the tray (the start's icon after
// the first paint), its program icon from the applied picture, its menu's entries, and the close that the
// quit entry makes a real one. No tray host runs offscreen, so the window never goes to the tray here.
#include "mainwindow/firstpaintsteps.h"
#include "mainwindow/traycontroller.h"
#include "testenv.h"
#include "ui/appsettings.h"

#include <QCloseEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QtTest/QtTest>

namespace {

// Counts the close events that reach it and accepts them unless the controller keeps the window.
class Window : public QWidget
{
public:
    TrayController* tray = nullptr;
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closes;
        if (tray->closeToTray())
            event->ignore();
    }
};

struct Rig
{
    Window window;
    AppSettings settings;
    FirstPaintSteps firstPaint;
    QPixmap picture;
    QString title = QStringLiteral("Title");
    TrayController tray{{&window, &settings, &firstPaint, [this] { return picture; }, [this] { return title; }}};
    Rig() { window.tray = &tray; }
};

QColor centre(const QIcon& icon, int side)
{
    const QImage image = icon.pixmap(side, side).toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

class TestTrayController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable()); }

    // The icon exists while either tray setting is on and is hidden, not removed, when both go off.
    void iconFollowsTheSettings_data()
    {
        QTest::addColumn<bool>("closeToTray");
        QTest::addColumn<bool>("minimizeToTray");
        QTest::addColumn<bool>("shown");
        QTest::newRow("close") << true << false << true;
        QTest::newRow("minimise") << false << true << true;
        QTest::newRow("both") << true << true << true;
        QTest::newRow("neither") << false << false << false;
    }
    void iconFollowsTheSettings()
    {
        QFETCH(bool, closeToTray);
        QFETCH(bool, minimizeToTray);
        QFETCH(bool, shown);
        Rig rig;
        rig.settings.closeToTray = closeToTray;
        rig.settings.minimizeToTray = minimizeToTray;
        rig.firstPaint.painted();
        rig.tray.applySettings(); // after the first paint: at once
        QCOMPARE(rig.tray.icon() != nullptr, shown);
        if (!shown)
            return;
        QVERIFY(rig.tray.icon()->isVisible());
        QVERIFY(!rig.tray.usable()); // no tray host shows it
        rig.settings.closeToTray = rig.settings.minimizeToTray = false;
        rig.tray.applySettings();
        QVERIFY(rig.tray.icon());
        QVERIFY(!rig.tray.icon()->isVisible());
    }

    // The start's icon waits for the first paint and then carries the window's title; asking twice makes
    // one icon.
    void theStartsIconWaitsForTheFirstPaint()
    {
        Rig rig;
        rig.settings.closeToTray = true;
        rig.tray.applySettings();
        rig.tray.applySettings();
        rig.tray.setToolTip(QStringLiteral("ignored")); // no icon yet
        QVERIFY(!rig.tray.icon());
        rig.title = QStringLiteral("Panel title");
        rig.firstPaint.painted();
        QVERIFY(!rig.tray.icon());
        QTRY_VERIFY(rig.tray.icon());
        QSystemTrayIcon* icon = rig.tray.icon();
        QCOMPARE(icon->toolTip(), QStringLiteral("Panel title"));
        QCOMPARE(rig.tray.findChildren<QSystemTrayIcon*>().size(), 1);
        rig.tray.create();
        QCOMPARE(rig.tray.icon(), icon);
    }

    // The applied picture in every size, the style's desktop icon without one; updateIcon takes a new one.
    void programIconComesFromTheAppliedPicture()
    {
        Rig rig;
        QVERIFY(!rig.tray.appIcon().isNull()); // the style's fallback
        QPixmap blue(64, 64);
        blue.fill(Qt::blue);
        rig.picture = blue;
        const QIcon icon = rig.tray.appIcon();
        QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
        QVERIFY(icon.availableSizes().contains(QSize(256, 256)));
        QCOMPARE(centre(icon, 16), QColor(Qt::blue));
        rig.tray.create();
        QCOMPARE(centre(rig.tray.icon()->icon(), 32), QColor(Qt::blue));
        QPixmap red(64, 64);
        red.fill(Qt::red);
        rig.picture = red;
        rig.tray.updateIcon();
        QCOMPARE(centre(rig.tray.icon()->icon(), 32), QColor(Qt::red));
    }

    // The menu's first two entries ask the owner to restore and to open the settings; clicking the icon
    // restores too. The last entry closes the window for good.
    void menuEntries()
    {
        Rig rig;
        rig.tray.create();
        QMenu* menu = rig.tray.menu();
        QCOMPARE(rig.tray.icon()->contextMenu(), menu);
        QCOMPARE(menu->parentWidget(), &rig.window);
        QSignalSpy restore(&rig.tray, &TrayController::restoreRequested);
        QSignalSpy settings(&rig.tray, &TrayController::settingsRequested);
        menu->actions().at(0)->trigger();
        QCOMPARE(restore.size(), 1);
        menu->actions().at(1)->trigger();
        QCOMPARE(settings.size(), 1);
        Q_EMIT rig.tray.icon()->activated(QSystemTrayIcon::Trigger);
        Q_EMIT rig.tray.icon()->activated(QSystemTrayIcon::DoubleClick);
        Q_EMIT rig.tray.icon()->activated(QSystemTrayIcon::Context);
        QCOMPARE(restore.size(), 3);

        rig.window.show();
        rig.tray.icon()->show();
        menu->actions().at(3)->trigger();
        QCOMPARE(rig.window.closes, 1);
        QVERIFY(!rig.window.isVisible());
        QVERIFY(!rig.tray.icon()->isVisible());
    }

    // Without a tray host a blank double click minimises instead of hiding: nothing would bring a hidden
    // window back.
    void withoutATrayHostTheWindowIsMinimised()
    {
        Rig rig;
        rig.settings.closeToTray = rig.settings.minimizeToTray = true;
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        rig.tray.showTrayAndHide();
        QVERIFY(rig.tray.icon()->isVisible());
        QVERIFY(rig.window.isVisible());
        QVERIFY(rig.window.isMinimized());
        rig.tray.windowMinimized();
        QTest::qWait(20);
        QVERIFY(rig.window.isVisible());
        QVERIFY(rig.window.close());
    }
};

KTR_TEST_MAIN(TestTrayController)
#include "tst_traycontroller.moc"
