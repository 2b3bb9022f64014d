#include "barsupport.h"
#include "panel/titlebaractions.h"
#include "panel/uibtndrag.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QDrag>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTimer>

using Ids = QList<int>;
using Rects = QList<QRect>;

namespace {

using bars::allVisible;
using bars::centreOf;

QTimer* timer(QObject* o, const char* name)
{
    return o->findChild<QTimer*>(QLatin1String(name));
}

void fire(QTimer* t)
{
    QVERIFY(t);
    QMetaObject::invokeMethod(t, "timeout");
}

} // namespace

class TestTitleBarActions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
        QCursor::setPos(QPoint(5000, 5000));
    }

    void layout_data()
    {
        QTest::addColumn<Ids>("ids");
        QTest::addColumn<Ids>("hidden");
        QTest::addColumn<Rects>("rects"); // in the order of ids; a null rect for a hidden one
        QTest::addColumn<int>("width");
        QTest::newRow("default")
            << Ids{0, 1, 2, 3, 4} << Ids{}
            << Rects{{12, 6, 16, 16}, {34, 6, 16, 16}, {56, 6, 16, 16}, {78, 6, 13, 16}, {97, 6, 12, 16}} << 117;
        QTest::newRow("hidden takes no space")
            << Ids{0, 1, 2} << Ids{1} << Rects{{12, 6, 16, 16}, {}, {34, 6, 16, 16}} << 58;
        QTest::newRow("close first, bottom ids")
            << Ids{4, 5, 3} << Ids{} << Rects{{12, 6, 12, 16}, {30, 6, 16, 16}, {52, 6, 13, 16}} << 73;
        QTest::newRow("unknown ids skipped") << Ids{11, -1, 2} << Ids{} << Rects{{}, {}, {12, 6, 16, 16}} << 36;
        QTest::newRow("empty") << Ids{} << Ids{} << Rects{} << 14;
    }
    void layout()
    {
        QFETCH(Ids, ids);
        QFETCH(Ids, hidden);
        QFETCH(Rects, rects);
        QFETCH(int, width);
        TitleBarActions bar;
        QCOMPARE(bar.size(), QSize(117, 28));
        QCOMPARE(bar.sizeHint(), QSize(117, 36));
        UiBtnBar::Flags visible = allVisible();
        for (int id : hidden)
            visible[id] = false;
        bar.setButtonLayout(ids, visible, {});
        for (int i = 0; i < ids.size(); ++i)
            QCOMPARE(bar.buttonRect(ids[i]), rects[i]);
        QCOMPARE(bar.size(), QSize(width, 28));
        for (int id : hidden)
            QCOMPARE(bar.buttonAt(QRectF(rects[ids.indexOf(id)]).center()), -1);
    }

    // Centres of the default buttons: 19, 41, 63, 84, 102 (integer middle of left and right).
    void hitTestAndDropIndex_data()
    {
        QTest::addColumn<QPointF>("pos");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("dropIndex");
        QTest::newRow("5 px left of 0") << QPointF(7, 14) << 0 << 0;
        QTest::newRow("6 px left of 0") << QPointF(6, 14) << -1 << 0;
        QTest::newRow("rounds to 7") << QPointF(6.6, 14) << 0 << 0;
        QTest::newRow("left of centre 0") << QPointF(18.4, 14) << 0 << 0;
        QTest::newRow("on centre 0 is past it") << QPointF(19, 14) << 0 << 1;
        QTest::newRow("12 px above") << QPointF(20, -6) << 0 << 1;
        QTest::newRow("12 px below") << QPointF(20, 33) << 0 << 1;
        QTest::newRow("13 px below") << QPointF(20, 34) << -1 << 1;
        QTest::newRow("in the gap, margins overlap: lower id wins") << QPointF(31, 14) << 0 << 1;
        QTest::newRow("left half of 1") << QPointF(40, 14) << 1 << 1;
        QTest::newRow("left half of close") << QPointF(101, 14) << 4 << 4;
        QTest::newRow("past the last") << QPointF(115, 14) << -1 << 5;
    }
    void hitTestAndDropIndex()
    {
        QFETCH(QPointF, pos);
        QFETCH(int, id);
        QFETCH(int, dropIndex);
        TitleBarActions bar;
        QCOMPARE(bar.buttonAt(pos), id);
        QCOMPARE(bar.dropIndexAt(pos.toPoint()), dropIndex);
    }

    void hiddenButtonSkippedByDropIndex()
    {
        TitleBarActions bar;
        UiBtnBar::Flags visible = allVisible();
        visible[1] = false;
        bar.setButtonLayout({0, 1, 2, 3, 4}, visible, {});
        // Shown: 0 (centre 19), 2 (41), 3 (62), 4 (80).
        QCOMPARE(bar.dropIndexAt(QPoint(45, 14)), 2);
        QCOMPARE(bar.dropIndexAt(QPoint(200, 14)), 4);
    }

    void clickAndPressOnAnother()
    {
        TitleBarActions bar;
        QSignalSpy clicked(&bar, &TitleBarActions::actionTriggered);
        bars::press(&bar, centreOf(bar, 2));
        QCOMPARE(bar.pressedId(), 2);
        QVERIFY(timer(&bar, "holdTimer")->isActive());
        QCOMPARE(timer(&bar, "holdTimer")->interval(), 450);
        bars::release(&bar, centreOf(bar, 2));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 2);
        QVERIFY(!timer(&bar, "holdTimer")->isActive());

        bars::press(&bar, centreOf(bar, 3));
        bars::release(&bar, centreOf(bar, 4));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(bar.pressedId(), -1);
    }

    void holdStartsADragInsteadOfAClick()
    {
        TitleBarActions bar;
        bar.setButtonActive(2, true);
        QSignalSpy clicked(&bar, &TitleBarActions::actionTriggered);
        QByteArray payload;
        QImage image;
        QPoint hotSpot;
        bar.setDragRunner([&](QDrag* drag) {
            payload = drag->mimeData()->data(QString::fromLatin1(kUiBtnMimeType));
            image = drag->pixmap().toImage();
            hotSpot = drag->hotSpot();
        });
        bars::move(&bar, centreOf(bar, 2));
        bars::press(&bar, centreOf(bar, 2));
        fire(timer(&bar, "holdTimer"));
        QCOMPARE(bar.pressedId(), -1);
        QCOMPARE(bar.hoveredId(), -1);
        bars::release(&bar, centreOf(bar, 2));
        QCOMPARE(clicked.count(), 0);

        QCOMPARE(payload, QByteArray(R"({"from":0,"ub":2})"));
        QCOMPARE(image.size(), QSize(22, 22));
        QCOMPARE(hotSpot, QPoint(11, 11));
        // The pinned pin is drawn tilted: its needle points to the lower left.
        QVERIFY(qAlpha(image.pixel(7, 14)) > 100);
        QCOMPARE(qAlpha(image.pixel(11, 11 + 5)), 0);
    }

    void hoverOpensGearMenuAndLeavingClosesIt()
    {
        QWidget window;
        window.setGeometry(200, 100, 400, 300);
        TitleBarActions bar(&window);
        bar.move(250, 0);
        window.show();
        QSignalSpy aboutToShow(&bar, &TitleBarActions::gearMenuAboutToShow);
        bars::move(&bar, centreOf(bar, 1));
        GearMenuPopup* menu = bar.gearMenu();
        QVERIFY(menu && menu->isVisible());
        QCOMPARE(aboutToShow.count(), 1);
        QCOMPARE(menu->pos(), bar.mapToGlobal(QPoint(34, 28 + 6)));
        QVERIFY(timer(&bar, "hoverTimer")->isActive()); // the gear turns while hovered

        // Off the button: the close timer starts; the menu closes only if the pointer is elsewhere.
        bars::move(&bar, centreOf(bar, 3));
        QTimer* close = timer(&bar, "gearCloseTimer");
        QVERIFY(close->isActive());
        QCOMPARE(close->interval(), 320);
        QVERIFY(!timer(&bar, "hoverTimer")->isActive());

        QCursor::setPos(menu->mapToGlobal(QPoint(20, 20)));
        bar.maybeCloseGearMenu();
        QVERIFY(menu->isVisible());
        QCursor::setPos(bar.mapToGlobal(QPoint(34 - 3, 6 + 8))); // 3 px left of the gear: inside the 4 px ring
        bar.maybeCloseGearMenu();
        QVERIFY(menu->isVisible());
        QCursor::setPos(bar.mapToGlobal(QPoint(34 - 5, 6 + 8)));
        fire(close);
        QVERIFY(!menu->isVisible());

        // Back on the gear it opens again; leaving the menu itself closes it at once.
        bars::move(&bar, centreOf(bar, 2));
        bars::move(&bar, centreOf(bar, 1));
        QVERIFY(menu->isVisible());
        QCOMPARE(aboutToShow.count(), 2);
        bars::leave(menu);
        QVERIFY(!menu->isVisible());
    }

    void clickOnGearShowsMenu()
    {
        TitleBarActions bar;
        QSignalSpy clicked(&bar, &TitleBarActions::actionTriggered);
        bars::press(&bar, centreOf(bar, 1));
        bars::release(&bar, centreOf(bar, 1));
        QVERIFY(bar.gearMenu() && bar.gearMenu()->isVisible());
        QCOMPARE(clicked.count(), 0);
    }

    // Signed in, the menu holds five entries; signed out, "退出账户" is not offered and the menu is one entry
    // shorter.
    void gearEntries_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<bool>("signedIn");
        for (int i = 0; i < 5; ++i)
            QTest::addRow("entry %d, signed in", i) << i << true;
        for (int i = 0; i < 4; ++i)
            QTest::addRow("entry %d, signed out", i) << i << false;
    }
    void gearEntries()
    {
        QFETCH(int, entry);
        QFETCH(bool, signedIn);
        TitleBarActions bar;
        QSignalSpy chosen(&bar, &TitleBarActions::gearMenuAction);
        connect(&bar, &TitleBarActions::gearMenuAboutToShow, &bar,
                [&] { bar.gearMenu()->setAccountText(signedIn ? QStringLiteral("alice") : QString()); });
        bar.showGearMenu();
        GearMenuPopup* menu = bar.gearMenu();
        QCOMPARE(menu->height(), signedIn ? 176 : 144);
        QCOMPARE(menu->entryRect(GearMenuPopup::SignOut).isNull(), !signedIn);
        const QRect r = menu->entryRect(entry);
        QCOMPARE(r, QRect(8, 8 + 32 * entry, menu->width() - 16, 32));
        bars::move(menu, r.center());
        QCOMPARE(menu->hoveredEntry(), entry);
        bars::mouse(menu, QEvent::MouseButtonPress, r.center(), Qt::RightButton);
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toInt(), entry);
        QVERIFY(!menu->isVisible());
        QCOMPARE(menu->hoveredEntry(), -1);
    }

    void escapeClosesTheGearMenu()
    {
        TitleBarActions bar;
        bar.showGearMenu();
        QTest::keyClick(bar.gearMenu(), Qt::Key_Escape);
        QVERIFY(!bar.gearMenu()->isVisible());
    }

    void gearMenuPressOutsideEntriesHides()
    {
        TitleBarActions bar;
        QSignalSpy chosen(&bar, &TitleBarActions::gearMenuAction);
        bar.showGearMenu();
        bars::press(bar.gearMenu(), QPoint(3, 3));
        QVERIFY(!bar.gearMenu()->isVisible());
        QCOMPARE(chosen.count(), 0);
    }

    void gearMenuWidth_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("Chinese") << 0;
        QTest::newRow("English") << 1;
    }
    void gearMenuWidth()
    {
        QFETCH(int, language);
        Lang::setLanguage(language);
        TitleBarActions bar;
        bar.showGearMenu();
        GearMenuPopup* menu = bar.gearMenu();
        QFont f(uiFontFamily());
        f.setPixelSize(12);
        const QFontMetrics fm(f);
        int widest = 0;
        for (const char* s : {"登录", "设置", "访问官网", "检查更新", "退出账户"})
            widest = std::max(widest, fm.horizontalAdvance(Lang::tr(s)));
        QCOMPARE(menu->width(), std::max(widest + 48, 94));
        QCOMPARE(menu->entryLabel(0), Lang::tr("登录"));
        QCOMPARE(menu->entryLabel(4), Lang::tr("退出账户"));
        bars::keep(bars::render(menu, Qt::transparent), QStringLiteral("gearmenu-%1").arg(language));
    }

    void longAccountNameIsElided()
    {
        TitleBarActions bar;
        connect(&bar, &TitleBarActions::gearMenuAboutToShow, &bar,
                [&] { bar.gearMenu()->setAccountText(QString(60, QLatin1Char('M'))); });
        bar.showGearMenu();
        GearMenuPopup* menu = bar.gearMenu();
        QCOMPARE(menu->entryLabel(0), QString(60, QLatin1Char('M')));
        const QImage img = bars::render(menu, Qt::transparent);
        bars::keep(img, QStringLiteral("gearmenu-account"));
        // Text stops before the entry's right edge less 2 px; the surface there is plain.
        const QRect r = menu->entryRect(0);
        const QColor surface = currentTheme().surface;
        for (int y = r.top() + 4; y < r.bottom() - 4; ++y)
            QCOMPARE(img.pixelColor(r.right() - 1, y), surface);
        // Some text was drawn at all.
        bool ink = false;
        for (int x = r.left() + 26; x < r.left() + 60 && !ink; ++x)
            ink = img.pixelColor(x, r.center().y()) != surface;
        QVERIFY(ink);
    }

    void drops_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("ub");
        QTest::addColumn<int>("index");
        QTest::newRow("far left") << QByteArray(R"({"ub":7,"from":1})") << 0 << 7 << 0;
        QTest::newRow("between 1 and 2") << QByteArray(R"({"ub":5,"from":1})") << 50 << 5 << 2;
        QTest::newRow("past the last") << QByteArray(R"({"ub":10,"from":1})") << 114 << 10 << 5;
        QTest::newRow("id 11") << QByteArray(R"({"ub":11,"from":1})") << 50 << -1 << -1;
        QTest::newRow("missing ub") << QByteArray(R"({"from":1})") << 50 << -1 << -1;
        QTest::newRow("ub not a number") << QByteArray(R"({"ub":"3","from":1})") << 50 << -1 << -1;
        QTest::newRow("not JSON") << QByteArray("garbage") << 50 << -1 << -1;
    }
    void drops()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, x);
        QFETCH(int, ub);
        QFETCH(int, index);
        TitleBarActions bar;
        QSignalSpy dropped(&bar, &TitleBarActions::uibtnDropped);
        QMimeData mime;
        mime.setData(QString::fromLatin1(kUiBtnMimeType), payload);
        QVERIFY(bars::dropAt(&bar, &mime, QPoint(x, 14)));
        QCOMPARE(dropped.count(), ub < 0 ? 0 : 1);
        if (ub >= 0)
            QCOMPARE(dropped.at(0), (QList<QVariant>{ub, 0, index}));
        QVERIFY(!bar.isDragOver());
        QCOMPARE(bar.currentDropIndex(), -1);
    }

    void otherPayloadsAreRefused()
    {
        TitleBarActions bar;
        QMimeData mime;
        mime.setText(QStringLiteral("hello"));
        QVERIFY(!bars::dropAt(&bar, &mime, QPoint(20, 14), false));
        QVERIFY(!bar.isDragOver());
    }

    void dropMarker_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("markerX"); // a pixel column inside the 3 px marker
        QTest::newRow("far left: 3 px left of the first button") << 0 << 8;
        QTest::newRow("between 0 and 1: middle of their centres") << 25 << 30;
        QTest::newRow("past the last: 3 px right of it") << 114 << 112;
    }
    void dropMarker()
    {
        QFETCH(int, x);
        QFETCH(int, markerX);
        TitleBarActions bar;
        QMimeData mime;
        mime.setData(QString::fromLatin1(kUiBtnMimeType), R"({"ub":6,"from":1})");
        bars::dropAt(&bar, &mime, QPoint(x, 14), false);
        QVERIFY(bar.isDragOver());
        const QColor ground = currentTheme().titleBarBackground;
        const QImage img = bars::render(&bar, ground);
        QCOMPARE(img.pixelColor(markerX, 14), currentTheme().accent);
        QCOMPARE(img.pixelColor(markerX, 3), ground);
        QVERIFY(img.pixelColor(markerX, 24) != currentTheme().accent);
        QDragLeaveEvent leaveEv;
        QApplication::sendEvent(&bar, &leaveEv);
        QCOMPARE(bars::render(&bar, ground).pixelColor(markerX, 14), ground);
    }

    void glyphColours_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("hover");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QPointF>("offset");  // an inked point relative to the button centre
        QTest::addColumn<QColor>("expected"); // invalid = the accent
        QTest::newRow("close hovered is red") << 4 << true << false << QPointF(0, 0) << QColor(0xE8, 0x11, 0x13);
        QTest::newRow("minimise hovered is accent") << 3 << true << false << QPointF(0, 0) << QColor();
        QTest::newRow("pinned is accent") << 2 << false << true << QPointF(-3, 3) << QColor();
        QTest::newRow("pin idle") << 2 << false << false << QPointF(0, 5.5) << QColor(1, 2, 3);
        QTest::newRow("pin hovered keeps its colour") << 2 << true << false << QPointF(0, 5.5) << QColor(1, 2, 3);
    }
    void glyphColours()
    {
        QFETCH(int, id);
        QFETCH(bool, hover);
        QFETCH(bool, active);
        QFETCH(QPointF, offset);
        QFETCH(QColor, expected);
        setThemeBottomBarColors(currentTheme().bottomBarBackground, QColor(1, 2, 3));
        TitleBarActions bar;
        bar.setButtonActive(id, active);
        if (hover)
            bars::move(&bar, centreOf(bar, id));
        const QImage img = bars::render(&bar, Qt::white, 4);
        const QPointF c = centreOf(bar, id);
        // The glyph is scaled by 1.25 about the centre; the render has 4 pixels per point.
        const QPoint at = ((c + offset * 1.25) * 4).toPoint();
        QCOMPARE(img.pixelColor(at), expected.isValid() ? expected : currentTheme().accent);
        setThemeBottomBarColors(currentTheme().bottomBarBackground, QColor());
    }

    void customImageReplacesGlyph()
    {
        const QString normal = ktr::test::testRoot() + QStringLiteral("/n.png");
        const QString hover = ktr::test::testRoot() + QStringLiteral("/h.png");
        QImage red(32, 32, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(normal));
        QImage green(32, 32, QImage::Format_ARGB32);
        green.fill(Qt::green);
        QVERIFY(green.save(hover));
        TitleBarActions bar;
        UiBtnBar::Paths icons;
        icons[3] = normal;
        UiBtnBar::Paths hoverIcons;
        hoverIcons[3] = hover;
        bar.setButtonLayout({0, 1, 2, 3, 4}, allVisible(), icons);
        bar.setButtonIcons(hoverIcons, {}, {});
        const QRect r = bar.buttonRect(3);
        // Drawn at 16 x 16 logical pixels, centred: it overhangs the 13 px rectangle by 1.5 px.
        QImage img = bars::render(&bar, Qt::white);
        QCOMPARE(img.pixelColor(r.left() + 1, r.top() + 1), QColor(Qt::red));
        QCOMPARE(img.pixelColor(r.left() - 3, r.top() + 1), QColor(Qt::white));
        bars::move(&bar, QRectF(r).center());
        img = bars::render(&bar, Qt::white);
        QCOMPARE(img.pixelColor(r.left() + 1, r.top() + 1), QColor(Qt::green));
    }

    void timersFollowStates()
    {
        TitleBarActions bar;
        bar.setButtonLayout({0, 1, 2, 9, 10}, allVisible(), {});
        QVERIFY(!timer(&bar, "blinkTimer")->isActive());
        bar.setButtonActive(9, true);
        QVERIFY(timer(&bar, "blinkTimer")->isActive());
        QVERIFY(!timer(&bar, "shieldTimer")->isActive());
        bars::move(&bar, centreOf(bar, 10));
        QVERIFY(timer(&bar, "shieldTimer")->isActive());
        bars::move(&bar, QPointF(2, 27));
        QVERIFY(!timer(&bar, "shieldTimer")->isActive());
        bar.setButtonActive(10, true);
        QVERIFY(timer(&bar, "shieldTimer")->isActive());
        // Hiding the buttons stops their timers.
        UiBtnBar::Flags visible = allVisible();
        visible[9] = visible[10] = false;
        bar.setButtonLayout({0, 1, 2, 9, 10}, visible, {});
        QVERIFY(!timer(&bar, "blinkTimer")->isActive());
        QVERIFY(!timer(&bar, "shieldTimer")->isActive());
        bar.setButtonActive(11, true); // ignored
    }
};

KTR_TEST_MAIN(TestTitleBarActions)
#include "tst_titlebaractions.moc"
