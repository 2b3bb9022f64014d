#include "testenv.h"
#include "ui/theme.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QScreen>

namespace {

struct SlotRow
{
    int slot;
    QColor Theme::*member;
    const char* name;
    const char* values[4]; // dark, light, dialog dark, dialog light; nullptr = no colour
};

const SlotRow kSlotRows[] = {
    {0, &Theme::windowBackground, "windowBackground", {"#23262E", "#F7F8FB", "#202020", "#FAFAFA"}},
    {1, &Theme::surface, "surface", {"#2B2F3A", "#E4E7EC", "#272727", "#F3F3F3"}},
    {2, &Theme::surfaceAlt, "surfaceAlt", {"#3A3F4C", "#D5D8E0", "#3A3A3A", "#E5E5E5"}},
    {3, &Theme::border, "border", {"#3A3F4C", "#C6C9D2", "#3A3A3A", "#E0E0E0"}},
    {4, &Theme::text, "text", {"#E8EAF0", "#39404C", "#F2F2F2", "#1A1A1A"}},
    {5, &Theme::textSecondary, "textSecondary", {"#B8BDC9", "#6C7482", "#C8C8C8", "#5C5C5C"}},
    {6, &Theme::titleBarBackground, "titleBarBackground", {"#2B2F3A", "#E4E7EC", "#272727", "#F3F3F3"}},
    {7, &Theme::titleBarForeground, "titleBarForeground", {"#E8EAF0", "#39404C", "#F2F2F2", "#1A1A1A"}},
    {8, &Theme::bottomBarBackground, "bottomBarBackground", {"#2B2F3A", "#E4E7EC", "#272727", "#F3F3F3"}},
    {9, &Theme::bottomBarForeground, "bottomBarForeground", {nullptr, nullptr, "#A9A9A9", "#5C5C5C"}},
    {10, &Theme::midBackground, "midBackground", {"#23262E", "#F7F8FB", "#202020", "#FAFAFA"}},
    {11, &Theme::sidebarBackground, "sidebarBackground", {"#262A34", "#F1F2F7", "#272727", "#F3F3F3"}},
    {12, &Theme::separatorLine, "separatorLine", {"#333845", "#E0E2EA", "#3A3A3A", "#E5E5E5"}},
    {13, &Theme::barButtonHover, "barButtonHover", {"#2E333F", "#E9EBF2", "#303030", "#EEEEEE"}},
    {14, &Theme::activeBackground, "activeBackground", {"#353B4C", "#E1E5EF", "#3A3A3A", "#E8E8E8"}},
    {15, &Theme::dropTargetBackground, "dropTargetBackground", {"#2C3D63", "#D6E2FC", "#143352", "#E8F2FC"}},
    {16, &Theme::labelText, "labelText", {"#D5D8E2", "#39404C", "#F2F2F2", "#1A1A1A"}},
    {17, &Theme::strongText, "strongText", {"#FFFFFF", "#1F2937", "#FFFFFF", "#1A1A1A"}},
    {18, &Theme::hintText, "hintText", {"#7A8090", "#9A9FAC", "#A9A9A9", "#5D5D5D"}},
    {19, &Theme::scrollHandle, "scrollHandle", {"#4A5060", "#C2C7D3", "#4D4D4D", "#C4C4C4"}},
    {20, &Theme::addRowBackground, "addRowBackground", {"#2C303C", "#FAFBFD", "#2D2D2D", "#FDFDFD"}},
    {21, &Theme::addRowHover, "addRowHover", {"#353B48", "#E7EAF2", "#383838", "#F2F2F2"}},
    {22, &Theme::addRowBorder, "addRowBorder", {"#444A58", "#C9CDD8", "#454545", "#D6D6D6"}},
    {23, &Theme::gridBackground, "gridBackground", {"#23262E", "#F7F8FB", "#202020", "#FAFAFA"}},
    {24, &Theme::mutedText, "mutedText", {"#6B7180", "#A6ABB8", "#8A8A8A", "#8A8A8A"}},
    {25, &Theme::itemHover, "itemHover", {"#2E333F", "#ECEEF4", "#2E2E2E", "#F0F0F0"}},
    {26, &Theme::tone26, "tone26", {"#2C3D63", "#E0E8FA", "#143352", "#E8F2FC"}},
    {27, &Theme::itemText, "itemText", {"#D5D8E2", "#39404C", "#F2F2F2", "#1A1A1A"}},
    {28, &Theme::accent, "accent", {"#5E8BF3", "#4C7DF0", "#0067C0", "#0067C0"}},
    {29, &Theme::accentHover, "accentHover", {"#7199F5", "#5F8BF2", "#2E8BE0", "#1A7AD9"}},
    {30, &Theme::accentSoft, "accentSoft", {"#2F3D5C", "#E3ECFD", "#143352", "#E8F2FC"}},
    {31, &Theme::cardBackground, "cardBackground", {"#313745", "#F5F6FA", "#2D2D2D", "#FDFDFD"}},
    {32, &Theme::controlBorder, "controlBorder", {"#444A58", "#D9DDE6", "#3F3F3F", "#E1E1E1"}},
    {33, &Theme::sliderTrack, "sliderTrack", {"#333845", "#EDF0F6", "#5A5A5A", "#C4C4C4"}},
    {34, &Theme::dividerColor, "dividerColor", {nullptr, nullptr, nullptr, nullptr}},
};

// Which palette a row checks: dark, light, dialog dark, dialog light.
const Theme& palette(int which)
{
    setDarkTheme(which == 0 || which == 2);
    return which < 2 ? currentTheme() : dialogPalette();
}

QColor rgba(int r, int g, int b, int a)
{
    return QColor(r, g, b, a);
}

} // namespace

class TestTheme : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Must run first: the process-wide palettes are still untouched.
    void startsWithLightPalette()
    {
        QCOMPARE(currentTheme().isDark, false);
        QCOMPARE(currentTheme().windowBackground, QColor("#F7F8FB"));
        QCOMPARE(themeCornerRadius(), 12);
        QCOMPARE(uiFontFamily(), QStringLiteral("Microsoft YaHei UI"));
    }

    void paletteSlots_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<int>("row");
        const char* names[] = {"dark", "light", "dialog dark", "dialog light"};
        for (int which = 0; which < 4; ++which)
            for (int r = 0; r < int(std::size(kSlotRows)); ++r)
                QTest::addRow("%s %d %s", names[which], kSlotRows[r].slot, kSlotRows[r].name) << which << r;
    }
    void paletteSlots()
    {
        QFETCH(int, which);
        QFETCH(int, row);
        const SlotRow& r = kSlotRows[row];
        const QColor actual = palette(which).*r.member;
        if (!r.values[which]) {
            QVERIFY(!actual.isValid());
        } else {
            QCOMPARE(actual, QColor(QLatin1String(r.values[which])));
            QCOMPARE(actual.alpha(), 255);
        }
    }

    void scalarFields_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<bool>("dark");
        QTest::newRow("dark") << 0 << true;
        QTest::newRow("light") << 1 << false;
        QTest::newRow("dialog dark") << 2 << true;
        QTest::newRow("dialog light") << 3 << false;
    }
    void scalarFields()
    {
        QFETCH(int, which);
        QFETCH(bool, dark);
        const Theme& t = palette(which);
        QCOMPARE(t.isDark, dark);
        QCOMPARE(t.dividerOverride, false);
        QCOMPARE(t.dividerWidth, 1);
        QCOMPARE(t.dividerAlpha, 255);
    }

    void textOpacity_data()
    {
        QTest::addColumn<QList<int>>("percents");
        QTest::addColumn<int>("alpha");
        QTest::addColumn<int>("dimAlpha");
        QTest::newRow("0 keeps the dimmed floor") << QList<int>{0} << 0 << 40;
        QTest::newRow("50 rounds half up") << QList<int>{50} << 128 << 79;
        QTest::newRow("100") << QList<int>{100} << 255 << 158;
        QTest::newRow("above 100 clamps") << QList<int>{180} << 255 << 158;
        QTest::newRow("negative clamps") << QList<int>{-5} << 0 << 40;
        QTest::newRow("twice fades from the remembered base") << QList<int>{60, 100} << 255 << 158;
    }
    void textOpacity()
    {
        QFETCH(QList<int>, percents);
        QFETCH(int, alpha);
        QFETCH(int, dimAlpha);
        setDarkTheme(false); // forgets any remembered base
        const QColor base = currentTheme().labelText;
        for (int p : percents)
            setThemeTextOpacity(p);
        const Theme& t = currentTheme();
        for (const QColor& c : {t.labelText, t.strongText, t.itemText, t.textSecondary}) {
            QCOMPARE(c.rgb(), base.rgb());
            QCOMPARE(c.alpha(), alpha);
        }
        for (const QColor& c : {t.hintText, t.mutedText}) {
            QCOMPARE(c.rgb(), base.rgb());
            QCOMPARE(c.alpha(), dimAlpha);
        }
        setThemeTextOpacity(100);
    }

    void textColorSurvivesPaletteSwitch()
    {
        setDarkTheme(true);
        setThemeTextColor(QColor(255, 0, 0));
        setDarkTheme(false);
        QVERIFY(currentTheme().labelText != QColor(255, 0, 0));
        setDarkTheme(true);
        const Theme& t = currentTheme();
        QCOMPARE(t.labelText, QColor(255, 0, 0));
        QCOMPARE(t.strongText, QColor(255, 0, 0));
        QCOMPARE(t.itemText, QColor(255, 0, 0));
        QCOMPARE(t.textSecondary, QColor(255, 0, 0));
        QCOMPARE(t.hintText, rgba(255, 0, 0, 158));
        QCOMPARE(t.mutedText, rgba(255, 0, 0, 158));

        // A translucent text colour: the dimmed slots take 62 % of its alpha, at least 40.
        setThemeTextColor(rgba(0, 0, 255, 100));
        QCOMPARE(currentTheme().hintText, rgba(0, 0, 255, 62));
        setThemeTextColor(rgba(0, 0, 255, 20));
        QCOMPARE(currentTheme().hintText, rgba(0, 0, 255, 40));
        // The opacity then fades the remembered colour, not the palette's own text.
        setThemeTextOpacity(50);
        QCOMPARE(currentTheme().labelText, rgba(0, 0, 255, 128));
    }

    void barAndMiddleSetters()
    {
        setDarkTheme(false);
        setThemeTitleBarColors(QColor(1, 2, 3), QColor(4, 5, 6));
        setThemeBottomBarColors(QColor(7, 8, 9), QColor(10, 11, 12));
        setThemeMidColors(QColor(13, 14, 15), QColor(16, 17, 18), QColor(19, 20, 21));
        setDarkTheme(true);
        QCOMPARE(currentTheme().titleBarBackground, QColor("#2B2F3A"));
        setDarkTheme(false);
        const Theme& t = currentTheme();
        QCOMPARE(t.titleBarBackground, QColor(1, 2, 3));
        QCOMPARE(t.titleBarForeground, QColor(4, 5, 6));
        QCOMPARE(t.bottomBarBackground, QColor(7, 8, 9));
        QCOMPARE(t.bottomBarForeground, QColor(10, 11, 12));
        QCOMPARE(t.midBackground, QColor(13, 14, 15));
        QCOMPARE(t.sidebarBackground, QColor(16, 17, 18));
        QCOMPARE(t.gridBackground, QColor(19, 20, 21));
    }

    void kindColors_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QColor>("expected"); // invalid = the palette's surface
        QTest::newRow("0 light") << 0 << false << QColor();
        QTest::newRow("0 dark") << 0 << true << QColor();
        QTest::newRow("1") << 1 << false << QColor("#33373F");
        QTest::newRow("2") << 2 << true << QColor("#2F6FBF");
        QTest::newRow("3") << 3 << false << QColor("#2E6B52");
        QTest::newRow("4") << 4 << false << QColor("#9E3B3B");
        QTest::newRow("5") << 5 << true << QColor("#F5F6F8");
        QTest::newRow("6") << 6 << true << QColor();
        QTest::newRow("-1") << -1 << false << QColor();
    }
    void kindColors()
    {
        QFETCH(int, kind);
        QFETCH(bool, dark);
        QFETCH(QColor, expected);
        setDarkTheme(dark);
        QCOMPARE(themeKindColor(kind), expected.isValid() ? expected : currentTheme().surface);
    }

    void divider_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("alpha");
        QTest::addColumn<bool>("override");
        QTest::addColumn<int>("expectedWidth");
        QTest::addColumn<int>("expectedAlpha");
        QTest::addColumn<QColor>("painted"); // themeDividerColor of a fallback rgba(10, 20, 30, 45)
        QTest::newRow("invalid colour, limits clamp")
            << QColor() << 9 << 300 << false << 4 << 255 << rgba(10, 20, 30, 45);
        QTest::newRow("negative limits") << QColor() << -1 << -7 << false << 0 << 0 << rgba(10, 20, 30, 0);
        QTest::newRow("custom colour at half")
            << QColor(200, 0, 0) << 2 << 128 << true << 2 << 128 << rgba(200, 0, 0, 128);
        QTest::newRow("fallback alpha scaled, half away from zero")
            << QColor() << 1 << 17 << false << 1 << 17 << rgba(10, 20, 30, 3);
    }
    void divider()
    {
        QFETCH(QColor, color);
        QFETCH(int, width);
        QFETCH(int, alpha);
        QFETCH(bool, override);
        QFETCH(int, expectedWidth);
        QFETCH(int, expectedAlpha);
        QFETCH(QColor, painted);
        setDarkTheme(true);
        setThemeDivider(color, width, alpha);
        const Theme& t = currentTheme();
        QCOMPARE(t.dividerOverride, override);
        QCOMPARE(t.dividerWidth, expectedWidth);
        QCOMPARE(t.dividerAlpha, expectedAlpha);
        QCOMPARE(themeDividerColor(rgba(10, 20, 30, 45)), painted);
        setThemeDivider(QColor(), 1, 255);
    }

    void dividerKeepsStoredColourWhenCleared()
    {
        setDarkTheme(false);
        setThemeDivider(QColor(1, 2, 3), 1, 255);
        setThemeDivider(QColor(), 1, 255);
        QCOMPARE(currentTheme().dividerColor, QColor(1, 2, 3));
        QCOMPARE(themeDividerColor(QColor(9, 9, 9)), QColor(9, 9, 9));
    }

    void cornerRadius_data()
    {
        QTest::addColumn<int>("radius");
        QTest::addColumn<int>("stored");
        QTest::newRow("negative") << -3 << 0;
        QTest::newRow("inside") << 7 << 7;
        QTest::newRow("above") << 40 << 24;
    }
    void cornerRadius()
    {
        QFETCH(int, radius);
        QFETCH(int, stored);
        setThemeCornerRadius(radius);
        QCOMPARE(themeCornerRadius(), stored);
    }

    void fontFamily()
    {
        setUiFontFamily(QStringLiteral("  Noto Serif  "));
        QCOMPARE(uiFontFamily(), QStringLiteral("Noto Serif"));
        setUiFontFamily(QStringLiteral("   "));
        QCOMPARE(uiFontFamily(), QStringLiteral("Microsoft YaHei UI"));
    }

    // The default family is not installed here: its substitute must carry real CJK glyphs.
    // A themed menu opened near an edge of the screen flips or shifts into the available area.
    void themedMenuStaysOnScreen_data()
    {
        QTest::addColumn<int>("corner"); // 0 bottom right, 1 right edge, 2 bottom edge, 3 top left
        QTest::addColumn<bool>("dark");
        QTest::newRow("bottom right") << 0 << false;
        QTest::newRow("right edge, dark") << 1 << true;
        QTest::newRow("bottom edge") << 2 << false;
        QTest::newRow("top left") << 3 << false;
    }
    void themedMenuStaysOnScreen()
    {
        QFETCH(int, corner);
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        QMenu menu;
        applyThemedMenuStyle(&menu);
        menu.addAction(QStringLiteral("选择文件夹..."));
        menu.addAction(QStringLiteral("选择文件或程序..."));
        menu.addAction(QStringLiteral("Choose File or Program..."));
        const QPoint at[] = {avail.bottomRight() - QPoint(2, 2), QPoint(avail.right() - 2, avail.center().y()),
                             QPoint(avail.center().x(), avail.bottom() - 2), avail.topLeft()};
        menu.popup(at[corner]);
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        const QRect g = menu.geometry();
        setDarkTheme(false);
        QVERIFY2(avail.contains(g), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5,%6 %7x%8")
                                                   .arg(g.x())
                                                   .arg(g.y())
                                                   .arg(g.width())
                                                   .arg(g.height())
                                                   .arg(avail.x())
                                                   .arg(avail.y())
                                                   .arg(avail.width())
                                                   .arg(avail.height())));
        menu.hide();
    }

    void chineseRendersWithRealGlyphs()
    {
        QFont f(uiFontFamily());
        f.setPixelSize(24);
        const QFontMetrics fm(f);
        const QString text = QString::fromUtf8("青岚舟面板");
        for (QChar c : text)
            QVERIFY2(fm.inFontUcs4(c.unicode()), qPrintable(QFontInfo(f).family()));

        // Two different characters drawn as missing-glyph boxes would look the same.
        auto render = [&](const QString& s) {
            QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::white);
            QPainter p(&img);
            p.setFont(f);
            p.setPen(Qt::black);
            p.drawText(img.rect(), Qt::AlignCenter, s);
            return img;
        };
        QVERIFY(render(QString::fromUtf8("青")) != render(QString::fromUtf8("舟")));

        QImage sheet(260, 40, QImage::Format_ARGB32_Premultiplied);
        sheet.fill(Qt::white);
        QPainter p(&sheet);
        p.setFont(f);
        p.setPen(Qt::black);
        p.drawText(sheet.rect(), Qt::AlignCenter, text + QStringLiteral(" Aa"));
        p.end();
        const QString out = qEnvironmentVariable("KTR_THEME_PNG");
        if (!out.isEmpty())
            sheet.save(out);
    }
};

KTR_TEST_MAIN(TestTheme)
#include "tst_theme.moc"
