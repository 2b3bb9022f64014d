#include "mainwindow/windowappearance.h"

#include "testenv.h"
#include "ui/appsettings.h"
#include "ui/theme.h"

#include <QtTest/QtTest>

using namespace WindowAppearance;

class TestWindowAppearance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowOpacity_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("clickThrough");
        QTest::addColumn<int>("alpha");
        QTest::addColumn<double>("opacity");
        QTest::addColumn<bool>("passesClicks");
        QTest::addColumn<bool>("nearlyInvisible");
        QTest::newRow("above 100") << 150 << false << 255 << 1.0 << false << false;
        QTest::newRow("100") << 100 << true << 255 << 1.0 << false << false;
        QTest::newRow("50 rounds the half up") << 50 << false << 128 << 128 / 255.0 << false << false;
        QTest::newRow("20") << 20 << false << 51 << 0.2 << false << false;
        QTest::newRow("1") << 1 << true << 3 << 3 / 255.0 << false << false;
        QTest::newRow("0 with click-through") << 0 << true << 0 << 0.0 << true << false;
        QTest::newRow("0 without") << 0 << false << 1 << 1 / 255.0 << false << true;
        QTest::newRow("negative without") << -5 << false << 1 << 1 / 255.0 << false << true;
    }
    void windowOpacity()
    {
        QFETCH(int, percent);
        QFETCH(bool, clickThrough);
        const Opacity o = opacityFor(percent, clickThrough);
        QTEST(o.alpha, "alpha");
        QFETCH(double, opacity);
        QVERIFY(qAbs(o.windowOpacity - opacity) < 1e-9);
        QTEST(o.clickThrough, "passesClicks");
        QTEST(o.nearlyInvisible, "nearlyInvisible");
    }

    void areaAlphaKeepsAreasClickable_data()
    {
        QTest::addColumn<int>("windowPercent");
        QTest::addColumn<bool>("clickThrough");
        QTest::addColumn<int>("areaPercent");
        QTest::addColumn<int>("alpha");
        QTest::newRow("opaque window, clear area") << 100 << false << 0 << 1;
        QTest::newRow("opaque window, half area") << 100 << false << 50 << 128;
        QTest::newRow("window 20, clear area: ceil(127.5/51)") << 20 << false << 0 << 3;
        QTest::newRow("window 1, clear area: capped at 255") << 1 << false << 0 << 43;
        QTest::newRow("click-through keeps the area's own alpha") << 0 << true << 0 << 0;
        QTest::newRow("nearly invisible paints opaque") << 0 << false << 10 << 255;
        QTest::newRow("percent above 100 is clamped") << 100 << false << 180 << 255;
    }
    void areaAlphaKeepsAreasClickable()
    {
        QFETCH(int, windowPercent);
        QFETCH(bool, clickThrough);
        QFETCH(int, areaPercent);
        QTEST(areaAlpha(areaPercent, opacityFor(windowPercent, clickThrough)), "alpha");
    }

    // A bar in the theme colour over a background picture is left clear; a chosen colour stays.
    void barColours_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("background");
        QTest::addColumn<QColor>("expected");
        QTest::addColumn<QColor>("foreground");
        const QColor surface = defaultTheme(false).surface;
        const QColor text = defaultTheme(false).text;
        QTest::newRow("theme, no picture") << 0 << false << surface << text;
        QColor clear = surface;
        clear.setAlpha(0);
        QTest::newRow("theme over a picture") << 0 << true << clear << text;
        QColor blue(0x2F, 0x6F, 0xBF);
        blue.setAlpha(204);
        QTest::newRow("blue over a picture at 80 %") << 2 << true << blue << QColor(0xE8, 0xEA, 0xF0);
        QColor light(0xF5, 0xF6, 0xF8);
        light.setAlpha(204);
        QTest::newRow("light colour gets dark text") << 5 << false << light << QColor(0x39, 0x40, 0x4C);
        QColor custom(0x12, 0x34, 0x56);
        custom.setAlpha(204);
        QTest::newRow("custom") << 6 << false << custom << QColor(0xE8, 0xEA, 0xF0);
    }
    void barColours()
    {
        QFETCH(int, kind);
        QFETCH(bool, background);
        AppSettings s;
        s.titleBarColor = kind;
        s.titleBarCustomRgb = 0x123456;
        s.titleBarOpacity = kind == 0 ? 100 : 80;
        applyThemeColors(s, background, opacityFor(100, false));
        QTEST(currentTheme().titleBarBackground, "expected");
        QTEST(currentTheme().titleBarForeground, "foreground");
    }

    void middleColourDecidesPaletteAndComesBack()
    {
        AppSettings s;
        s.midColor = 2; // #2F6FBF, lightness 119: a dark palette
        s.textColor = 4;
        applyThemeColors(s, false, opacityFor(100, false));
        QVERIFY(currentTheme().isDark);
        QCOMPARE(currentTheme().sidebarBackground, QColor(0x2F, 0x6F, 0xBF));
        QCOMPARE(currentTheme().itemText, QColor(0x9E, 0x3B, 0x3B));

        // Back to the theme's own colours: nothing of the earlier choice lingers in the palette.
        s.midColor = 0;
        s.textColor = 0;
        s.darkTheme = true;
        applyThemeColors(s, false, opacityFor(100, false));
        QCOMPARE(currentTheme().sidebarBackground, defaultTheme(true).sidebarBackground);
        QCOMPARE(currentTheme().gridBackground, defaultTheme(true).gridBackground);
        QCOMPARE(currentTheme().itemText, defaultTheme(true).labelText);

        // A picture clears the middle, whatever its opacity.
        applyThemeColors(s, true, opacityFor(100, false));
        QCOMPARE(currentTheme().midBackground.alpha(), 0);
        QCOMPARE(currentTheme().gridBackground.alpha(), 0);
    }

    void borderDividerAndHover()
    {
        AppSettings s;
        s.borderColor = 0;
        s.borderOpacity = 50;
        s.dividerColor = 3;
        s.dividerWidth = 9;
        s.dividerOpacity = 40;
        s.hoverColor = 0;
        Extras e = applyThemeColors(s, false, opacityFor(100, false));
        QColor border = defaultTheme(false).border;
        border.setAlpha(127); // round(50 x 2.55)
        QCOMPARE(e.border, border);
        QVERIFY(!e.hover.isValid());
        QVERIFY(currentTheme().dividerOverride);
        QCOMPARE(currentTheme().dividerWidth, 4);
        QCOMPARE(currentTheme().dividerAlpha, 102);

        s.hoverColor = 6;
        s.hoverCustomRgb = 0x00FF00;
        s.dividerColor = 0;
        e = applyThemeColors(s, false, opacityFor(100, false));
        QCOMPARE(e.hover, QColor(0, 255, 0));
        QVERIFY(!currentTheme().dividerOverride);
    }

    void backgroundChoice_data()
    {
        QTest::addColumn<bool>("portrait");
        QTest::addColumn<QString>("portraitPath");
        QTest::addColumn<bool>("nearlyInvisible");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("opacity");
        QTest::newRow("landscape") << false << "p.png" << false << "l.png" << 70;
        QTest::newRow("portrait") << true << "p.png" << false << "p.png" << 100;
        QTest::newRow("portrait without its own") << true << "" << false << "l.png" << 70;
        QTest::newRow("nearly invisible: full") << false << "" << true << "l.png" << 100;
    }
    void backgroundChoice()
    {
        QFETCH(bool, portrait);
        QFETCH(QString, portraitPath);
        QFETCH(bool, nearlyInvisible);
        AppSettings s;
        s.bgImagePath = QStringLiteral("l.png");
        s.bgImageOpacity = 70;
        s.bgImagePortrait = portraitPath;
        s.bgImageOpacityPortrait = 130; // clamped
        const Background b = chooseBackground(s, portrait, nearlyInvisible);
        QTEST(b.path, "path");
        QTEST(b.opacity, "opacity");
    }

    void imagesAndCovers()
    {
        QImage big(5000, 3000, QImage::Format_RGB32);
        big.fill(Qt::red);
        QCOMPARE(fitWithin(big, QSize(1920, 1080)).size(), QSize(1800, 1080));
        QImage small(100, 50, QImage::Format_RGB32);
        QCOMPARE(fitWithin(small, QSize(1920, 1080)).size(), QSize(100, 50));

        QCOMPARE(coverSize(QSize(40, 20), QSize(600, 600)), QSize(1200, 600));
        // A 1200 x 600 cache behind a 600 x 600 window: its middle.
        QCOMPARE(coverSourceRect(QSize(1200, 600), 1.0, QSize(600, 600)), QRectF(300, 0, 600, 600));
        QCOMPARE(coverSourceRect(QSize(2400, 1200), 2.0, QSize(600, 600)), QRectF(600, 0, 1200, 1200));
    }

    void gifUsability()
    {
        QVERIFY(isAnimatedImageUsable(QFINDTESTDATA("../data/gif/redblue-40x20.gif")));
        const QString notGif = ktr::test::freshDir(QStringLiteral("gif")) + "/fake.gif";
        QVERIFY(ktr::test::writeFile(notGif, "not a picture"));
        QVERIFY(!isAnimatedImageUsable(notGif));
    }

    void portrait_data()
    {
        QTest::addColumn<QRect>("avail");
        QTest::addColumn<int>("currentHeight");
        QTest::addColumn<QRect>("expected");
        QTest::addColumn<int>("minimumHeight");
        const QRect hd(0, 0, 1920, 1040);
        QTest::newRow("short window grows to 640") << hd << 500 << QRect(810, 200, 300, 640) << 420;
        QTest::newRow("tall window keeps its height") << hd << 900 << QRect(810, 70, 300, 900) << 420;
        QTest::newRow("taller than the area") << hd << 1200 << QRect(810, 20, 300, 1000) << 420;
        QTest::newRow("small screen") << QRect(100, 50, 800, 400) << 500 << QRect(350, 70, 300, 360) << 360;
        QTest::newRow("tiny screen") << QRect(0, 0, 800, 200) << 500 << QRect(250, 0, 300, 240) << 240;
        QTest::newRow("no screen") << QRect() << 496 << QRect(810, 220, 300, 640) << 420;
    }
    void portrait()
    {
        QFETCH(QRect, avail);
        QFETCH(int, currentHeight);
        const PortraitGeometry g = portraitGeometry(QRect(10, 10, 680, currentHeight), avail);
        QTEST(g.rect, "expected");
        QTEST(g.minimumHeight, "minimumHeight");
    }

    void keepsPosition_data()
    {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<bool>("keeps");
        QTest::newRow("inside") << QRect(100, 100, 680, 496) << true;
        QTest::newRow("80 px grip at the left") << QRect(-600, 100, 680, 496) << true;
        QTest::newRow("79 px grip at the left") << QRect(-601, 100, 680, 496) << false;
        QTest::newRow("79 px grip at the right") << QRect(1841, 100, 680, 496) << false;
        QTest::newRow("40 px above") << QRect(100, -40, 680, 496) << true;
        QTest::newRow("41 px above") << QRect(100, -41, 680, 496) << false;
        QTest::newRow("elsewhere") << QRect(5000, 100, 680, 496) << false;
    }
    void keepsPosition()
    {
        QFETCH(QRect, window);
        QTEST(WindowAppearance::keepsPosition(window, QRect(0, 0, 1920, 1040)), "keeps");
    }

    void shownIndexToListIndex_data()
    {
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("index");
        // List 0 1 2 3 4 with 1 and 3 hidden: shown are 0, 2, 4.
        QTest::newRow("before the first") << 0 << 0;
        QTest::newRow("before the second shown") << 1 << 2;
        QTest::newRow("before the third shown") << 2 << 4;
        QTest::newRow("past the end") << 3 << 5;
    }
    void shownIndexToListIndex()
    {
        QFETCH(int, shown);
        std::array<bool, 11> visible;
        visible.fill(true);
        visible[1] = visible[3] = false;
        QTEST(listIndexForShown({0, 1, 2, 3, 4}, visible, shown), "index");
    }
};

KTR_TEST_MAIN(TestWindowAppearance)
#include "tst_windowappearance.moc"
