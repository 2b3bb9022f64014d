#include "barsupport.h"
#include "looktable.h"
#include "panel/bottombar.h"
#include "panel/titlebaractions.h"
#include "panel/uibtndrag.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QDrag>
#include <QSignalSpy>
#include <QTimer>

using Ids = QList<int>;

namespace {

using bars::allVisible;
using bars::centreOf;

// Sizes the bar and shows it: a hidden widget gets its resize event only when shown.
void place(BottomBar& bar, int width)
{
    bar.resize(width, 28);
    bar.show();
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TestBottomBar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void rightAligned_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<Ids>("ids");
        QTest::addColumn<Ids>("hidden");
        QTest::addColumn<Ids>("lefts"); // of the shown ids in order
        QTest::newRow("default at 300") << 300 << Ids{10, 9, 8, 7, 6, 5} << Ids{} << Ids{140, 166, 192, 218, 244, 270};
        QTest::newRow("one button") << 200 << Ids{5} << Ids{} << Ids{170};
        QTest::newRow("hidden ones close up") << 300 << Ids{10, 9, 8} << Ids{9} << Ids{244, 270};
        QTest::newRow("title ids on the bottom bar") << 120 << Ids{4, 1} << Ids{} << Ids{64, 90};
    }
    void rightAligned()
    {
        QFETCH(int, width);
        QFETCH(Ids, ids);
        QFETCH(Ids, hidden);
        QFETCH(Ids, lefts);
        BottomBar bar;
        place(bar, width);
        bar.resize(width, 40); // the height stays fixed
        UiBtnBar::Flags visible = allVisible();
        for (int id : hidden)
            visible[id] = false;
        bar.setButtonLayout(ids, visible, {});
        QCOMPARE(bar.height(), 28);
        int k = 0;
        for (int id : ids) {
            if (!visible[id]) {
                QVERIFY(bar.buttonRect(id).isNull());
                continue;
            }
            QCOMPARE(bar.buttonRect(id), QRect(lefts[k++], 5, 18, 18));
        }
        // The last one ends 12 px before the right edge.
        QCOMPARE(bar.buttonRect(ids.last()).right() + 1, width - 12);
    }

    void hitTest_data()
    {
        QTest::addColumn<QPointF>("pos");
        QTest::addColumn<int>("id");
        // Button 5 at (270, 5, 18, 18) in a 300 px bar.
        QTest::newRow("centre") << QPointF(279, 14) << 5;
        QTest::newRow("5 px left") << QPointF(265, 14) << 5;
        QTest::newRow("5 px above") << QPointF(279, 0) << -1;
        QTest::newRow("6 px left is inside 6") << QPointF(264, 14) << 6;
        QTest::newRow("4 px above") << QPointF(279, 1) << 5;
        QTest::newRow("4 px below") << QPointF(279, 26) << 5;
        QTest::newRow("5 px below") << QPointF(279, 27) << -1;
        QTest::newRow("5 px right") << QPointF(292, 14) << 5;
        QTest::newRow("far left") << QPointF(10, 14) << -1;
    }
    void hitTest()
    {
        QFETCH(QPointF, pos);
        QFETCH(int, id);
        BottomBar bar;
        place(bar, 300);
        QCOMPARE(bar.buttonAt(pos), id);
    }

    void clickHoverAndTooltip()
    {
        BottomBar bar;
        place(bar, 300);
        QSignalSpy activated(&bar, &BottomBar::buttonActivated);
        bars::move(&bar, centreOf(bar, 7));
        QCOMPARE(bar.hoveredId(), 7);
        QCOMPARE(bar.toolTip(), QString::fromUtf8("反馈中心"));
        bars::press(&bar, centreOf(bar, 7));
        bars::release(&bar, centreOf(bar, 7));
        QCOMPARE(activated.count(), 1);
        QCOMPARE(activated.at(0).at(0).toInt(), 7);
        bars::press(&bar, centreOf(bar, 7));
        bars::release(&bar, centreOf(bar, 6));
        QCOMPARE(activated.count(), 1);
        bars::leave(&bar);
        QCOMPARE(bar.hoveredId(), -1);
        QVERIFY(bar.toolTip().isEmpty());
    }

    void holdStartsDrag()
    {
        BottomBar bar;
        place(bar, 300);
        QSignalSpy activated(&bar, &BottomBar::buttonActivated);
        QByteArray payload;
        bar.setDragRunner([&](QDrag* drag) { payload = drag->mimeData()->data(QString::fromLatin1(kUiBtnMimeType)); });
        bars::press(&bar, centreOf(bar, 8));
        QTimer* hold = bar.findChild<QTimer*>(QStringLiteral("holdTimer"));
        QCOMPARE(hold->interval(), 450);
        QSignalSpy fired(hold, &QTimer::timeout);
        QVERIFY(fired.wait(2000)); // the one real wait: the press-and-hold itself
        bars::release(&bar, centreOf(bar, 8));
        QCOMPARE(payload, QByteArray(R"({"from":1,"ub":8})"));
        QCOMPARE(activated.count(), 0);
    }

    void hoverPlate()
    {
        BottomBar bar;
        place(bar, 300);
        bars::move(&bar, centreOf(bar, 5));
        const QImage img = bars::render(&bar, Qt::transparent);
        const Theme& t = currentTheme();
        // Plate: (265, 1, 28, 26), radius 6; beside it the bar's own background.
        QCOMPARE(img.pixelColor(266, 14), t.barButtonHover);
        QCOMPARE(img.pixelColor(279, 25), t.barButtonHover);
        QCOMPARE(img.pixelColor(263, 14), t.bottomBarBackground);
        QCOMPARE(img.pixelColor(265, 1), t.bottomBarBackground); // rounded corner
        // The hovered glyph takes the accent: the cube's top edge line.
        const QImage big = bars::render(&bar, Qt::transparent, 4);
        const QPointF c = centreOf(bar, 5);
        QCOMPARE(big.pixelColor(((c + QPointF(0, -2.5) * 1.25) * 4).toPoint()), t.accent);
    }

    void badge_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("hide7");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << false << QString();
        QTest::newRow("negative") << -4 << false << QString();
        QTest::newRow("1") << 1 << false << QStringLiteral("1");
        QTest::newRow("99") << 99 << false << QStringLiteral("99");
        QTest::newRow("100") << 100 << false << QStringLiteral("99+");
        QTest::newRow("hidden feedback button") << 5 << true << QString();
    }
    void badge()
    {
        QFETCH(int, count);
        QFETCH(bool, hide7);
        QFETCH(QString, text);
        BottomBar bar;
        place(bar, 300);
        UiBtnBar::Flags visible = allVisible();
        visible[7] = !hide7;
        bar.setButtonLayout(UiBtn::defaultBottomLayout(), visible, {});
        bar.setBadgeCount(count);
        QCOMPARE(bar.badgeCount(), std::max(count, 0));
        QCOMPARE(bar.badgeText(), text);
        const QImage img = bars::render(&bar, Qt::transparent, 4);
        bars::keep(img, QStringLiteral("bottombar-badge-%1").arg(QTest::currentDataTag()));
        if (hide7)
            return;
        // Circle of diameter 13 about (right - 1, top + 2) of button 7 = (234, 7); its lower rim is red.
        const QColor red(0xE8, 0x11, 0x23);
        const QColor at = img.pixelColor(QPoint(234 * 4, (7 + 5) * 4));
        QCOMPARE(at == red, !text.isEmpty());
        if (text.isEmpty()) {
            QVERIFY(bar.badgeRect().isNull());
            return;
        }
        // A white outline just inside the edge; the text fits inside the badge.
        QCOMPARE(img.pixelColor(QPoint(234 * 4 + 1, int((7 + 6.3) * 4))), QColor(Qt::white));
        const QRectF box = bar.badgeRect();
        QCOMPARE(box.center(), QPointF(234, 7));
        QCOMPARE(box.height(), 13.0);
        QFont f(uiFontFamily());
        f.setPixelSize(8);
        f.setWeight(QFont::Bold);
        QVERIFY(box.width() >= std::max(13.0, QFontMetricsF(f).horizontalAdvance(text) + 2));
        QCOMPARE(box.width() > 13.0, text.size() == 3);
    }

    void sameBadgeRepaintsOnce()
    {
        BottomBar bar;
        place(bar, 300);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QCoreApplication::processEvents();
        PaintCounter counter;
        bar.installEventFilter(&counter);
        bar.setBadgeCount(3);
        QCoreApplication::processEvents();
        QCOMPARE(counter.count, 1);
        bar.setBadgeCount(3);
        QCoreApplication::processEvents();
        QCOMPARE(counter.count, 1);
    }

    void roundedBottom_data()
    {
        QTest::addColumn<int>("radius");
        QTest::addColumn<bool>("cornerFilled"); // the pixel at the bottom-left corner
        QTest::addColumn<QPointF>("inside");
        QTest::addColumn<QPointF>("outside");
        QTest::newRow("1 is square") << 1 << true << QPointF(0.5, 27.5) << QPointF(-0.5, 14);
        QTest::newRow("0 is square") << 0 << true << QPointF(299.5, 27.5) << QPointF(300.5, 14);
        QTest::newRow("12 rounds by 11") << 12 << false << QPointF(11, 27.5) << QPointF(2, 26);
        QTest::newRow("24 rounds by 23") << 24 << false << QPointF(23, 27.5) << QPointF(5, 26);
        QTest::newRow("40 clamps to 24") << 40 << false << QPointF(23, 27.5) << QPointF(5, 26);
    }
    void roundedBottom()
    {
        QFETCH(int, radius);
        QFETCH(bool, cornerFilled);
        QFETCH(QPointF, inside);
        QFETCH(QPointF, outside);
        BottomBar bar;
        place(bar, 300);
        bar.setCornerRadius(radius);
        QCOMPARE(bar.cornerRadius(), std::clamp(radius, 0, 24));
        const QPainterPath path = bar.backgroundPath();
        QVERIFY(path.contains(inside));
        QVERIFY(!path.contains(outside));
        // Top corners stay square.
        QVERIFY(path.contains(QPointF(0.5, 0.5)) && path.contains(QPointF(299.5, 0.5)));
        const QImage img = bars::render(&bar, Qt::transparent);
        QCOMPARE(qAlpha(img.pixel(0, 27)) == 255, cornerFilled);
        QCOMPARE(qAlpha(img.pixel(299, 27)) == 255, cornerFilled);
    }

    void divider_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("alpha");
        QTest::addColumn<int>("rows"); // painted rows at the top
        QTest::newRow("default: glyph colour at 45") << QColor() << 1 << 255 << 1;
        QTest::newRow("custom, 3 px") << QColor(255, 0, 0) << 3 << 255 << 3;
        QTest::newRow("width 0: none") << QColor(255, 0, 0) << 0 << 255 << 0;
        QTest::newRow("alpha 0: none") << QColor(255, 0, 0) << 2 << 0 << 0;
    }
    void divider()
    {
        QFETCH(QColor, color);
        QFETCH(int, width);
        QFETCH(int, alpha);
        QFETCH(int, rows);
        setThemeDivider(color, width, alpha);
        BottomBar bar;
        place(bar, 300);
        bar.setButtonLayout({}, allVisible(), {});
        const QImage img = bars::render(&bar, Qt::transparent);
        const QColor ground = currentTheme().bottomBarBackground;
        for (int y = 0; y < 5; ++y) {
            QCOMPARE(img.pixelColor(150, y) != ground, y < rows);
            QCOMPARE(img.pixelColor(0, y), ground); // the divider starts at x 1
        }
        if (color.isValid() && rows > 0)
            QCOMPARE(img.pixelColor(150, 0), color);
        setThemeDivider(QColor(), 1, 255);
    }

    void emptyBarMarker()
    {
        BottomBar bar;
        place(bar, 300);
        UiBtnBar::Flags none;
        none.fill(false);
        bar.setButtonLayout(UiBtn::defaultBottomLayout(), none, {});
        QMimeData mime;
        mime.setData(QString::fromLatin1(kUiBtnMimeType), R"({"ub":3,"from":0})");
        bars::dropAt(&bar, &mime, QPoint(100, 14), false);
        QCOMPARE(bar.currentDropIndex(), 0);
        const QImage img = bars::render(&bar, Qt::transparent);
        QCOMPARE(img.pixelColor(288, 14), currentTheme().accent);
        QVERIFY(img.pixelColor(285, 14) != currentTheme().accent);
    }

    void statesAndTimers()
    {
        BottomBar bar;
        place(bar, 300);
        QTimer* blink = bar.findChild<QTimer*>(QStringLiteral("blinkTimer"));
        QTimer* shield = bar.findChild<QTimer*>(QStringLiteral("shieldTimer"));
        QTimer* hover = bar.findChild<QTimer*>(QStringLiteral("hoverTimer"));
        bar.setButtonActive(9, true);
        QVERIFY(blink->isActive());
        QVERIFY(bar.buttonState(9));
        bar.setButtonActive(10, true);
        QVERIFY(shield->isActive());
        bar.setButtonActive(10, false);
        QVERIFY(!shield->isActive());
        bars::move(&bar, centreOf(bar, 6));
        QVERIFY(hover->isActive());
        bars::move(&bar, centreOf(bar, 5));
        QVERIFY(!hover->isActive());
        bar.setButtonActive(11, true);
        QVERIFY(!bar.buttonState(11));
    }

    // A button dragged out of one bar arrives in the other at the index where it is dropped.
    void dragBetweenBars_data()
    {
        QTest::addColumn<bool>("fromTitle");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("index");
        QTest::newRow("pin to the bottom, before the first") << true << 2 << 100 << 0;
        QTest::newRow("close to the bottom, between 9 and 8") << true << 4 << 180 << 2;
        QTest::newRow("minimise to the bottom, at the end") << true << 3 << 299 << 6;
        QTest::newRow("market to the title bar, first") << false << 5 << 0 << 0;
        QTest::newRow("lock to the title bar, after the gear") << false << 8 << 50 << 2;
    }
    void dragBetweenBars()
    {
        QFETCH(bool, fromTitle);
        QFETCH(int, id);
        QFETCH(int, x);
        QFETCH(int, index);
        TitleBarActions title;
        BottomBar bottom;
        place(bottom, 300);
        UiBtnBar* from = fromTitle ? static_cast<UiBtnBar*>(&title) : &bottom;
        UiBtnBar* to = fromTitle ? static_cast<UiBtnBar*>(&bottom) : &title;
        QSignalSpy dropped(to, &UiBtnBar::uibtnDropped);
        from->setDragRunner([&](QDrag* drag) { QVERIFY(bars::dropAt(to, drag->mimeData(), QPoint(x, 14))); });
        bars::press(from, centreOf(*from, id));
        QMetaObject::invokeMethod(from->findChild<QTimer*>(QStringLiteral("holdTimer")), "timeout");
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.at(0), (QList<QVariant>{id, fromTitle ? 1 : 0, index}));
    }

    // Not a check of pixels: renders both bars in both themes and languages for a person to look at
    // (KTR_SHOT_DIR); skipped otherwise.
    void renderBothBars_data() { ktr::test::addThemeAndLanguageRows(); }
    void renderBothBars()
    {
        if (!qEnvironmentVariableIsSet("KTR_SHOT_DIR"))
            QSKIP("KTR_SHOT_DIR not set");
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        QWidget window;
        window.resize(420, 200);
        window.setAttribute(Qt::WA_StyledBackground);
        window.setStyleSheet(QStringLiteral("background:%1").arg(currentTheme().midBackground.name()));
        QWidget titleStrip(&window);
        titleStrip.setGeometry(0, 0, 420, 36);
        titleStrip.setAttribute(Qt::WA_StyledBackground);
        titleStrip.setStyleSheet(QStringLiteral("background:%1").arg(currentTheme().titleBarBackground.name()));
        TitleBarActions title(&window);
        title.move(420 - title.width() - 4, 4);
        title.setButtonActive(2, true);
        BottomBar bottom(&window);
        bottom.setGeometry(0, 172, 420, 28);
        bottom.setBadgeCount(120);
        bottom.setButtonActive(9, true);
        bars::move(&bottom, centreOf(bottom, 6));
        bars::move(&title, centreOf(title, 4));
        window.show();
        title.showGearMenu();
        QImage img = bars::render(&window, Qt::transparent, 2);
        bars::keep(img, QStringLiteral("bars-%1").arg(QTest::currentDataTag()));
        bars::keep(bars::render(title.gearMenu(), Qt::transparent, 2),
                   QStringLiteral("gear-%1").arg(QTest::currentDataTag()));
    }
};

KTR_TEST_MAIN(TestBottomBar)
#include "tst_bottombar.moc"
