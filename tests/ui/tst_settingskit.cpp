// The settings drawing kit: its geometry as pure functions, its painting checked on QImage renders.
#include "testenv.h"
#include "ui/lang.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QApplication>
#include <QPainter>
#include <QPixmapCache>

using RoleGetter = QColor (*)(const DialogPalette&);
Q_DECLARE_METATYPE(RoleGetter)

namespace {

QImage canvas(int w, int h, const QColor& fill = Qt::transparent)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

bool near(const QColor& a, const QColor& b, int tolerance = 24)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// The box of all pixels a drawing touched.
QRect inkBox(const QImage& img)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) > 0)
                box |= QRect(x, y, 1, 1);
    return box;
}

QImage glyphImage(int glyph)
{
    QImage img = canvas(40, 40);
    QPainter p(&img);
    paintGlyph(p, QPointF(20, 20), Qt::black, glyph);
    return img;
}

QImage navImage(int page)
{
    QImage img = canvas(40, 40);
    QPainter p(&img);
    paintNavGlyph(p, page, QPointF(20, 20), Qt::black);
    return img;
}

QString writeImage(const QString& name, const QColor& colour, QSize size = QSize(64, 32))
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    const QString path = ktr::test::testRoot() + QLatin1Char('/') + name;
    img.save(path);
    return path;
}

} // namespace

class TestSettingsKit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void paletteRoles_data()
    {
        QTest::addColumn<RoleGetter>("role");
        QTest::addColumn<QString>("dark");
        QTest::addColumn<QString>("light");
#define ROLE(name, d, l)                                                                                               \
    QTest::newRow(#name) << RoleGetter([](const DialogPalette& p) { return p.name; }) << QStringLiteral(d)             \
                         << QStringLiteral(l)
        ROLE(background, "#202020", "#fafafa");
        ROLE(frameBorder, "#3a3a3a", "#e0e0e0");
        ROLE(mutedIcon, "#c8c8c8", "#5c5c5c");
        ROLE(navBackground, "#272727", "#f3f3f3");
        ROLE(hoverFill, "#303030", "#eeeeee");
        ROLE(pressedFill, "#3a3a3a", "#e8e8e8");
        ROLE(text, "#f2f2f2", "#1a1a1a");
        ROLE(titleText, "#ffffff", "#1a1a1a");
        ROLE(secondaryText, "#a9a9a9", "#5d5d5d");
        ROLE(accent, "#0067c0", "#0067c0");
        ROLE(accentHover, "#2e8be0", "#1a7ad9");
        ROLE(buttonFill, "#2d2d2d", "#fdfdfd");
        ROLE(cardBorder, "#3f3f3f", "#e1e1e1");
        ROLE(accentTint, "#143352", "#e8f2fc");
        ROLE(trackFill, "#5a5a5a", "#c4c4c4");
#undef ROLE
    }
    void paletteRoles()
    {
        QFETCH(RoleGetter, role);
        QFETCH(QString, dark);
        QFETCH(QString, light);
        setDarkTheme(true);
        QVERIFY(dialogRoles().dark);
        QCOMPARE(role(dialogRoles()).name(), dark);
        QCOMPARE(cardColour(), QColor(0x2B, 0x2B, 0x2B));
        setDarkTheme(false);
        QVERIFY(!dialogRoles().dark);
        QCOMPARE(role(dialogRoles()).name(), light);
        QCOMPARE(cardColour(), QColor(Qt::white));
    }

    void fonts()
    {
        for (const auto& [font, size, weight] :
             {std::tuple{settingsFont13Bold(), 13, 700}, {settingsFont13(), 13, 400}, {settingsFont11(), 11, 400}}) {
            QCOMPARE(font.family(), QStringLiteral("Microsoft YaHei UI"));
            QCOMPARE(font.pixelSize(), size);
            QCOMPARE(int(font.weight()), weight);
        }
        QCOMPARE(settingsFont13Metrics().height(), QFontMetrics(settingsFont13()).height());
    }

    void toggleGeometry_data()
    {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("knobLeft");
        QTest::addColumn<int>("diameter");
        QTest::newRow("40x20 off") << QRect(100, 0, 40, 20) << false << 104 << 12;
        QTest::newRow("40x20 on") << QRect(100, 0, 40, 20) << true << 123 << 12;
        QTest::newRow("60x28 on") << QRect(0, 10, 60, 28) << true << 35 << 20;
    }
    void toggleGeometry()
    {
        QFETCH(QRect, rect);
        QFETCH(bool, on);
        QFETCH(int, knobLeft);
        QFETCH(int, diameter);
        QCOMPARE(toggleKnobLeft(rect, on), knobLeft);
        QCOMPARE(toggleKnobDiameter(rect), diameter);
    }

    void togglePainting_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void togglePainting()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const DialogPalette pal = dialogRoles();
        QImage img = canvas(60, 60, pal.background);
        {
            QPainter p(&img);
            paintToggle(p, QRect(10, 5, 40, 20), true);
            paintToggle(p, QRect(10, 35, 40, 20), false);
        }
        ktr::test::saveShot(img, QStringLiteral("kit-toggle-%1").arg(QTest::currentDataTag()));
        // On: accent capsule, white knob at x + 23 .. x + 34.
        QCOMPARE(img.pixelColor(16, 14), pal.accent);
        QCOMPARE(img.pixelColor(39, 14), QColor(Qt::white));
        // Off: the knob at x + 4 .. x + 15, the capsule's own fill right of it.
        QCOMPARE(img.pixelColor(20, 44), dark ? QColor(0xCF, 0xCF, 0xCF) : QColor(0x5D, 0x5D, 0x5D));
        QCOMPARE(img.pixelColor(36, 44), dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(Qt::white));
        // The outline of the off switch, on its top edge.
        QVERIFY(near(img.pixelColor(30, 35), dark ? QColor(0x9A, 0x9A, 0x9A) : QColor(0x8A, 0x8A, 0x8A), 60));
    }

    void scrollBarGeometry_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("content");
        QTest::addColumn<int>("scroll");
        QTest::addColumn<QRect>("thumb");
        const QRect none;
        // W 780: track x 760..776, thumb x 763..773; V = h - 120, T = round(V² / C), M = C - h + 62.
        QTest::newRow("top") << 2 << 800 << 2000 << 0 << QRect(QPoint(763, 58), QPoint(773, 288));
        QTest::newRow("middle") << 6 << 800 << 2000 << 631 << QRect(QPoint(763, 283), QPoint(773, 513));
        QTest::newRow("bottom") << 3 << 800 << 2000 << 1262 << QRect(QPoint(763, 507), QPoint(773, 737));
        QTest::newRow("beyond bottom") << 5 << 800 << 2000 << 5000 << QRect(QPoint(763, 507), QPoint(773, 737));
        QTest::newRow("negative scroll") << 5 << 800 << 2000 << -40 << QRect(QPoint(763, 58), QPoint(773, 288));
        QTest::newRow("thumb at least 28") << 2 << 800 << 1000000 << 0 << QRect(QPoint(763, 58), QPoint(773, 85));
        QTest::newRow("content fits") << 2 << 800 << 738 << 0 << none;
        QTest::newRow("dialog too low") << 2 << 120 << 2000 << 0 << none;
        QTest::newRow("page 0") << 0 << 800 << 2000 << 0 << none;
        QTest::newRow("page 1") << 1 << 800 << 2000 << 0 << none;
        QTest::newRow("page 4") << 4 << 800 << 2000 << 0 << none;
    }
    void scrollBarGeometry()
    {
        QFETCH(int, page);
        QFETCH(int, h);
        QFETCH(int, content);
        QFETCH(int, scroll);
        QFETCH(QRect, thumb);
        const ScrollBarGeometry bar = ::scrollBarGeometry(page, 780, h, content, scroll);
        if (thumb.isNull()) {
            QVERIFY(bar.isEmpty());
            QVERIFY(bar.track.isNull() && bar.thumb.isNull());
            return;
        }
        QCOMPARE(bar.track, QRect(QPoint(760, 58), QPoint(776, h - 63)));
        QCOMPARE(bar.thumb, thumb);
    }

    // The bar lies in window coordinates however the content is translated.
    void scrollBarPainting()
    {
        const DialogPalette pal = dialogRoles();
        const ScrollBarGeometry bar = ::scrollBarGeometry(2, 780, 800, 2000, 631);
        for (bool dragging : {true, false}) {
            QImage img = canvas(780, 800, pal.background);
            {
                QPainter p(&img);
                p.translate(0, -631);
                paintScrollBar(p, bar, dragging, pal);
            }
            const QColor thumb = img.pixelColor(bar.thumb.left() + 5, bar.thumb.center().y());
            const QColor track = img.pixelColor(bar.track.left() + 8, 70);
            QCOMPARE(thumb == pal.accent, dragging);
            QVERIFY(thumb != pal.background);
            QVERIFY(track != pal.background && track != thumb);
            QCOMPARE(img.pixelColor(bar.track.left() + 2, 70), pal.background);
            if (dragging)
                ktr::test::saveShot(img.copy(700, 0, 80, 800), QStringLiteral("kit-scrollbar"));
        }
        QImage img = canvas(100, 100, pal.background);
        QPainter p(&img);
        paintScrollBar(p, ScrollBarGeometry(), true, pal); // nothing to paint, nothing painted
        p.end();
        QCOMPARE(inkBox(img), QRect(0, 0, 100, 100));
        QCOMPARE(img.pixelColor(50, 50), pal.background);
    }

    void thumbnails()
    {
        QPixmapCache::clear();
        const QString path = writeImage(QStringLiteral("thumb.png"), Qt::red);
        const QPixmap expanded = cachedThumbnail(path, QSize(28, 28), QStringLiteral("iconrowup"), true);
        QCOMPARE(expanded.size(), QSize(56, 28));
        QCOMPARE(cachedThumbnail(path, QSize(28, 28), QStringLiteral("logothumb"), false).size(), QSize(28, 14));
        QPixmap found;
        QVERIFY(QPixmapCache::find(QStringLiteral("iconrowup|%1|28x28|dpr1.00").arg(path), &found));
        QCOMPARE(thumbnailCacheKey(path, QSize(64, 36), QStringLiteral("bgthumbP"), 1.25),
                 QStringLiteral("bgthumbP|%1|64x36|dpr1.25").arg(path));

        // Found again by prefix, path, size and ratio only: a file replaced under the same path keeps
        // its cached picture; another size reads the file anew.
        writeImage(QStringLiteral("thumb.png"), Qt::blue);
        QCOMPARE(cachedThumbnail(path, QSize(28, 28), QStringLiteral("iconrowup"), true).toImage().pixelColor(5, 5),
                 QColor(Qt::red));
        QCOMPARE(cachedThumbnail(path, QSize(30, 30), QStringLiteral("iconrowup"), true).toImage().pixelColor(5, 5),
                 QColor(Qt::blue));

        const QString missing = ktr::test::testRoot() + QStringLiteral("/none.png");
        QVERIFY(cachedThumbnail(missing, QSize(28, 28), QStringLiteral("bgthumb"), true).isNull());
        QVERIFY(!QPixmapCache::find(thumbnailCacheKey(missing, QSize(28, 28), QStringLiteral("bgthumb"), 1.0), &found));
        QVERIFY(cachedThumbnail(QString(), QSize(28, 28), QStringLiteral("bgthumb"), true).isNull());
    }

    void iconTile_data()
    {
        QTest::addColumn<bool>("withImage");
        QTest::addColumn<int>("hovered");
        QTest::addColumn<int>("pressed");
        QTest::addColumn<QColor>("badge"); // invalid: no badge
        QTest::addColumn<bool>("dark");
        QTest::newRow("no image") << false << -1 << -1 << QColor() << false;
        QTest::newRow("no image, hovered") << false << 7 << -1 << QColor() << false;
        QTest::newRow("no image, dark") << false << -1 << -1 << QColor() << true;
        QTest::newRow("image") << true << -1 << -1 << QColor(0xE8, 0x11, 0x23) << false;
        QTest::newRow("image, dark") << true << -1 << -1 << QColor(0xE8, 0x11, 0x23) << true;
        QTest::newRow("badge hovered") << true << 8 << -1 << QColor(0xF2, 0x33, 0x44) << false;
        QTest::newRow("badge pressed") << true << 8 << 8 << QColor(0xA5, 0x0C, 0x18) << false;
    }
    void iconTile()
    {
        QFETCH(bool, withImage);
        QFETCH(int, hovered);
        QFETCH(int, pressed);
        QFETCH(QColor, badge);
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const DialogPalette pal = dialogRoles();
        const QString image = withImage ? writeImage(QStringLiteral("tile.png"), Qt::green, QSize(32, 32))
                                        : ktr::test::testRoot() + QStringLiteral("/broken.png");
        QCOMPARE(iconTileHasImage(image), withImage);
        const QColor page = dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(Qt::white);
        QImage img = canvas(140, 60, page);
        {
            QPainter p(&img);
            paintIconTile(p, pal, QColor(0xEE, 0xEE, 0xEE), settingsFont11(), QStringLiteral("浅色"), image,
                          QPoint(20, 20), {7, 8, hovered, pressed});
        }
        const QString tag =
            QString::fromLatin1(QTest::currentDataTag()).replace(QStringLiteral(", "), QStringLiteral("-"));
        ktr::test::saveShot(img,
                            QStringLiteral("kit-icontile-%1").arg(tag).replace(QLatin1Char(' '), QLatin1Char('-')));
        const QColor inBadge = img.pixelColor(39, 23); // inside the badge circle, off its cross
        if (withImage) {
            QCOMPARE(img.pixelColor(28, 36), QColor(Qt::green));
            QCOMPARE(inBadge, badge);
        } else {
            // The plus sign at the tile's centre, no badge.
            const QColor plus = img.pixelColor(34, 34);
            QVERIFY2(near(plus, hovered == 7 ? pal.accentHover : pal.secondaryText, 40), qPrintable(plus.name()));
            QCOMPARE(inBadge, QColor(0xEE, 0xEE, 0xEE));
            QCOMPARE(img.pixelColor(44, 16), page); // above the tile, where a badge would reach
        }
        // The outline follows the hover of the tile.
        QVERIFY(near(img.pixelColor(34, 20), hovered == 7 ? pal.accentHover : pal.cardBorder, 40));
        // The label lies right of the tile, left of x + 89.
        bool ink = false;
        for (int x = 52; x < 110 && !ink; ++x)
            for (int y = 22; y < 46 && !ink; ++y)
                ink = img.pixelColor(x, y) != page;
        QVERIFY(ink);
        for (int y = 0; y < 60; ++y)
            QCOMPARE(img.pixelColor(112, y), page);
    }

    void backupCard_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("language");
        QTest::newRow("light zh") << false << 0;
        QTest::newRow("dark en") << true << 1;
    }
    void backupCard()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        const DialogPalette pal = dialogRoles();
        QImage img = canvas(340, 90, pal.background);
        BackupCardGeometry g{QRect(10, 10, 320, 70), QPointF(32, 32), QRect(48, 20, 150, 24), QRect(200, 20, 110, 24),
                             60};
        {
            QPainter p(&img);
            paintBackupCard({&p, cardColour(), pal, settingsFont13Bold(), settingsFont11(), QColor(Qt::red)}, g,
                            QStringLiteral("备份与恢复"), 7, QStringLiteral("已创建备份快照。"));
        }
        ktr::test::saveShot(img, QStringLiteral("kit-backupcard-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
        QCOMPARE(img.pixelColor(100, 70), cardColour());
        QCOMPARE(img.pixelColor(100, 60), QColor(Qt::red));
        QCOMPARE(img.pixelColor(25, 60), cardColour()); // the separator starts 20 px in
        QVERIFY(near(img.pixelColor(170, 10), pal.cardBorder, 30));
        QCOMPARE(img.pixelColor(5, 40), pal.background);
        // The subtitle is right-aligned: ink near the right edge of its box, none at its left when short.
        const QString sub = Lang::tr(QStringLiteral("已创建备份快照。"));
        const int w = QFontMetrics(settingsFont11()).horizontalAdvance(sub);
        if (w < 100) {
            for (int y = 20; y < 44; ++y)
                QCOMPARE(img.pixelColor(201, y), cardColour());
        }
        bool glyph = false;
        for (int x = 26; x < 39 && !glyph; ++x)
            for (int y = 26; y < 39 && !glyph; ++y)
                glyph = near(img.pixelColor(x, y), pal.accent, 30);
        QVERIFY(glyph);
    }

    void buttonWidths()
    {
        for (int language : {0, 1}) {
            Lang::setLanguage(language);
            int choose = 0;
            int clear = 0;
            chooseClearButtonWidths(&choose, &clear);
            const QFontMetrics fm(settingsFont13());
            QCOMPARE(choose, std::max(40, fm.horizontalAdvance(Lang::tr("选择")) + 14));
            QCOMPARE(clear, std::max(40, fm.horizontalAdvance(Lang::tr("清除")) + 14));
        }
    }

    // Each glyph is drawn about its centre within 13 px or so; unknown ids draw the fallback.
    void glyphs()
    {
        const QImage fallback = glyphImage(0);
        for (int id = 0; id <= 10; ++id) {
            const QImage img = glyphImage(id);
            const QRect box = inkBox(img);
            QVERIFY2(!box.isEmpty(), qPrintable(QString::number(id)));
            QVERIFY2(QRect(12, 12, 17, 17).contains(box), qPrintable(QStringLiteral("%1: %2,%3 %4x%5")
                                                                         .arg(id)
                                                                         .arg(box.x())
                                                                         .arg(box.y())
                                                                         .arg(box.width())
                                                                         .arg(box.height())));
            QVERIFY(box.width() >= 8 && box.height() >= 6);
            if (id != 0)
                QVERIFY2(img != fallback, qPrintable(QString::number(id)));
        }
        QCOMPARE(glyphImage(11), fallback);
        QCOMPARE(glyphImage(-1), fallback);

        for (int page : {0, 1, 2, 3, 5, 6}) {
            const QRect box = inkBox(navImage(page));
            QVERIFY2(QRect(12, 12, 17, 17).contains(box) && box.width() >= 9, qPrintable(QString::number(page)));
        }
        QCOMPARE(navImage(4), navImage(2));
        QCOMPARE(navImage(9), navImage(2));
        QImage backup = canvas(40, 40);
        {
            QPainter p(&backup);
            paintBackupGlyph(p, QPointF(20, 20), Qt::black, 0);
        }
        QCOMPARE(navImage(6), backup);
        QImage drum = canvas(40, 40);
        {
            QPainter p(&drum);
            paintBackupGlyph(p, QPointF(20, 20), Qt::black, 1);
        }
        QVERIFY(drum != backup && !inkBox(drum).isEmpty());
    }

    // Every glyph on one sheet in both palettes (to look at); each is drawn in the colour it is given.
    void glyphSheet_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void glyphSheet()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const DialogPalette pal = dialogRoles();
        const int cell = 36;
        QImage img = canvas(cell * 11, cell * 2, pal.background);
        QPainter p(&img);
        for (int id = 0; id <= 10; ++id)
            paintGlyph(p, QPointF(cell * id + cell / 2, cell / 2), pal.accent, id);
        const int pages[] = {0, 1, 2, 3, 5, 6};
        for (int i = 0; i < 6; ++i)
            paintNavGlyph(p, pages[i], QPointF(cell * i + cell / 2, cell + cell / 2), pal.secondaryText);
        paintBackupGlyph(p, QPointF(cell * 7 + cell / 2, cell + cell / 2), pal.text, 1);
        p.end();
        ktr::test::saveShot(img.scaled(img.size() * 3), QStringLiteral("kit-glyphs-%1").arg(QTest::currentDataTag()));
        for (int id = 0; id <= 10; ++id) {
            bool found = false;
            for (int y = 0; y < cell && !found; ++y)
                for (int x = cell * id; x < cell * (id + 1) && !found; ++x)
                    found = near(img.pixelColor(x, y), pal.accent, 70);
            QVERIFY2(found, qPrintable(QString::number(id)));
        }
    }
};

KTR_TEST_MAIN(TestSettingsKit)
#include "tst_settingskit.moc"
