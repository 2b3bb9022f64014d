#include "fifoguard.h"
#include "logcapture.h"
#include "manualclock.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/uibtn.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QThread>

namespace {

// Glyphs are rendered large (8 px per glyph unit) so points in glyph units map to whole pixels.
constexpr int kScale = 8;
constexpr int kSide = 16 * kScale;
const QColor kInk(20, 40, 200);

QImage renderGlyph(int id, bool state, bool animate, const QColor& color = kInk, double preRotate = 0)
{
    QImage img(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(kSide / 2, kSide / 2);
    p.scale(kScale, kScale);
    p.rotate(preRotate);
    drawUiBtnGlyph(&p, id, QPointF(0, 0), color, state, animate);
    return img;
}

// Alpha of the pixel under a point given in glyph units.
int alphaAt(const QImage& img, double x, double y)
{
    return qAlpha(img.pixel(int(kSide / 2 + x * kScale), int(kSide / 2 + y * kScale)));
}

QColor colorAt(const QImage& img, double x, double y)
{
    return img.pixelColor(int(kSide / 2 + x * kScale), int(kSide / 2 + y * kScale));
}

// Largest difference of any channel of any pixel.
int maxDiff(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q)),
                              qAbs(qAlpha(p) - qAlpha(q))});
        }
    return worst;
}

QByteArray pngBytes(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(c);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes;
}

// Writes the bytes and pins the file's modification time, so two contents of one size share a key.
void writeWithTime(const QString& path, const QByteArray& bytes, const QDateTime& time)
{
    QVERIFY(ktr::test::writeFile(path, bytes));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(time, QFileDevice::FileModificationTime));
}

} // namespace

class TestUiBtn : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        setGlyphSpinPhase(-1);
        setGlyphShieldPhase(-1);
        setGlyphClock(nullptr);
        Lang::setLanguage(0);
    }

    void names_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << 0 << QString::fromUtf8("横竖切换");
        QTest::newRow("1") << 1 << QString::fromUtf8("设置");
        QTest::newRow("4") << 4 << QString::fromUtf8("关闭");
        QTest::newRow("5") << 5 << QString::fromUtf8("应用市场");
        QTest::newRow("10") << 10 << QString::fromUtf8("混淆保护");
        QTest::newRow("11") << 11 << QString();
        QTest::newRow("-1") << -1 << QString();
    }
    void names()
    {
        QFETCH(int, id);
        QFETCH(QString, name);
        QCOMPARE(uiBtnName(id), name);
        Lang::setLanguage(1);
        QCOMPARE(uiBtnName(id), Lang::tr(name));
    }

    void defaultLayouts()
    {
        QCOMPARE(UiBtn::defaultTitleLayout(), (QList<int>{0, 1, 2, 3, 4}));
        QCOMPARE(UiBtn::defaultBottomLayout(), (QList<int>{10, 9, 8, 7, 6, 5}));
    }

    void guardRefusesWorkerThreads()
    {
        ktr::test::LogCapture log;
        QVERIFY(uiBtnGuiThreadCheck("test"));
        QVERIFY(log.messages().isEmpty());

        const QString path = ktr::test::testRoot() + QStringLiteral("/ok.png");
        QVERIFY(ktr::test::writeFile(path, pngBytes(8, 8, Qt::red)));
        bool guard = true;
        bool loaded = true;
        QThread* t = QThread::create([&] {
            guard = uiBtnGuiThreadCheck("test");
            loaded = !loadUiBtnCustomIcon(path, 16, 1.0).isNull();
        });
        t->start();
        QVERIFY(t->wait(5000));
        delete t;
        QVERIFY(!guard);
        QVERIFY(!loaded);
        QVERIFY(log.contains(QStringLiteral("[UiBtn] test called off GUI thread, ignored")));
        QVERIFY(log.contains(QStringLiteral("[UiBtn] customIcon called off GUI thread, ignored")));
    }

    void customIconScalesAndCaches_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("dpr");
        QTest::addColumn<QSize>("pixels");
        QTest::newRow("square at 1") << 64 << 64 << 16 << 1.0 << QSize(16, 16);
        QTest::newRow("wide keeps aspect") << 64 << 32 << 16 << 1.0 << QSize(16, 8);
        QTest::newRow("ratio 1.5") << 64 << 64 << 18 << 1.5 << QSize(27, 27);
        QTest::newRow("ratio 1.25 rounds") << 64 << 64 << 18 << 1.25 << QSize(23, 23);
        QTest::newRow("tiny stays one pixel") << 64 << 64 << 1 << 0.25 << QSize(1, 1);
    }
    void customIconScalesAndCaches()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, size);
        QFETCH(double, dpr);
        QFETCH(QSize, pixels);
        const QString path = ktr::test::freshDir(QStringLiteral("icons")) + QStringLiteral("/b.png");
        QVERIFY(ktr::test::writeFile(path, pngBytes(w, h, Qt::green)));
        const QPixmap pm = loadUiBtnCustomIcon(path, size, dpr);
        QCOMPARE(pm.size(), pixels);
        QCOMPARE(pm.devicePixelRatio(), dpr);
        // The second call comes from the cache: the same pixmap data.
        QCOMPARE(loadUiBtnCustomIcon(path, size, dpr).cacheKey(), pm.cacheKey());
    }

    void customIconRefusals()
    {
        const QString path = ktr::test::testRoot() + QStringLiteral("/r.png");
        QVERIFY(ktr::test::writeFile(path, pngBytes(8, 8, Qt::red)));
        QVERIFY(loadUiBtnCustomIcon(QString(), 16, 1.0).isNull());
        QVERIFY(loadUiBtnCustomIcon(path, 0, 1.0).isNull());
        QVERIFY(loadUiBtnCustomIcon(path, -3, 1.0).isNull());
        QVERIFY(loadUiBtnCustomIcon(path + QStringLiteral(".missing"), 16, 1.0).isNull());
        // A percent sign in the path is part of the name, not a placeholder of the key.
        const QString odd = ktr::test::testRoot() + QStringLiteral("/%1%2.png");
        QVERIFY(ktr::test::writeFile(odd, pngBytes(8, 8, Qt::red)));
        QCOMPARE(loadUiBtnCustomIcon(odd, 8, 1.0).size(), QSize(8, 8));
        // A named pipe chosen as the image is never opened: the bars load their icons while painting, and opening
        // a pipe waits for a writer.
        const QString pipePath = ktr::test::testRoot() + QStringLiteral("/pipe.png");
        ktr::test::FifoGuard pipe(pipePath);
        QVERIFY(pipe.made());
        const bool loaded = !loadUiBtnCustomIcon(pipePath, 16, 1.0).isNull();
        QVERIFY2(pipe.done(), "the custom icon waited on a named pipe");
        QVERIFY(!loaded);
    }

    // A file that failed is not read again for the same key, however its content changes, until
    // its time or size changes; only the 255 newest failures are remembered.
    void failedLoadsAreRemembered()
    {
        QPixmapCache::clear();
        const QString path = ktr::test::freshDir(QStringLiteral("fail")) + QStringLiteral("/x.png");
        const QByteArray good = pngBytes(20, 20, Qt::blue);
        const QByteArray bad(good.size(), 'x');
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-3600);

        writeWithTime(path, bad, t0);
        QVERIFY(loadUiBtnCustomIcon(path, 16, 1.0).isNull());
        writeWithTime(path, good, t0);
        QVERIFY(loadUiBtnCustomIcon(path, 16, 1.0).isNull()); // same key: not read again
        writeWithTime(path, good, t0.addSecs(1));
        QVERIFY(!loadUiBtnCustomIcon(path, 16, 1.0).isNull()); // touched: new key, new attempt

        // With the one failure above, 255 more under new keys push the first one out.
        const QString other = ktr::test::freshDir(QStringLiteral("fail2")) + QStringLiteral("/y.png");
        writeWithTime(other, bad, t0);
        for (int size = 1; size <= 255; ++size)
            QVERIFY(loadUiBtnCustomIcon(other, size, 1.0).isNull());
        writeWithTime(path, good, t0);
        writeWithTime(other, good, t0);
        QVERIFY(!loadUiBtnCustomIcon(path, 16, 1.0).isNull()); // forgotten, so read again
        QVERIFY(loadUiBtnCustomIcon(other, 1, 1.0).isNull());  // still remembered
        QVERIFY(loadUiBtnCustomIcon(other, 255, 1.0).isNull());
    }

    void angleDistance_data()
    {
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        QTest::addColumn<double>("distance");
        QTest::newRow("across zero") << 10.0 << 350.0 << 20.0;
        QTest::newRow("negative equals positive") << -90.0 << 270.0 << 0.0;
        QTest::newRow("whole turns") << 720.0 << 0.0 << 0.0;
        QTest::newRow("opposite") << 0.0 << 180.0 << 180.0;
        QTest::newRow("plain") << 45.0 << 100.0 << 55.0;
        QTest::newRow("both negative") << -10.0 << -350.0 << 20.0;
    }
    void angleDistance()
    {
        QFETCH(double, a);
        QFETCH(double, b);
        QFETCH(double, distance);
        QVERIFY(qAbs(::angleDistance(a, b) - distance) < 1e-9);
    }

    void crescent_data()
    {
        QTest::addColumn<double>("R");
        QTest::addColumn<double>("r");
        QTest::addColumn<QPointF>("offset");
        QTest::addColumn<QPointF>("inside");
        QTest::addColumn<QPointF>("outside");
        // The moon: the far side of the big circle stays, the bitten side goes.
        QTest::newRow("moon") << 5.0 << 3.9 << QPointF(1.85, -1.85) << QPointF(-4.5, 0) << QPointF(1, -1);
        QTest::newRow("moon centre is bitten")
            << 5.0 << 3.9 << QPointF(1.85, -1.85) << QPointF(-2, 3.5) << QPointF(0, 0);
        QTest::newRow("bite to the left") << 5.0 << 3.9 << QPointF(-2, 0) << QPointF(4.5, 0) << QPointF(-4.5, 0);
        // Degenerate bites give the whole circle.
        QTest::newRow("no offset") << 5.0 << 3.9 << QPointF(0, 0) << QPointF(0, 0) << QPointF(5.5, 0);
        QTest::newRow("bite too far") << 5.0 << 3.9 << QPointF(10, 0) << QPointF(4.5, 0) << QPointF(5.5, 0);
        QTest::newRow("bite swallows") << 5.0 << 10.0 << QPointF(1, 0) << QPointF(0, 0) << QPointF(5.5, 0);
    }
    void crescent()
    {
        QFETCH(double, R);
        QFETCH(double, r);
        QFETCH(QPointF, offset);
        QFETCH(QPointF, inside);
        QFETCH(QPointF, outside);
        const QPointF c(10, 20);
        const QPainterPath path = crescentPath(c, R, r, offset);
        QVERIFY(path.contains(c + inside));
        QVERIFY(!path.contains(c + outside));
        QVERIFY(QRectF(c.x() - R - 0.01, c.y() - R - 0.01, 2 * R + 0.02, 2 * R + 0.02).contains(path.boundingRect()));
    }

    // Points in glyph units that each glyph must cover, and points it must leave empty.
    void glyphPoints_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("state");
        QTest::addColumn<QPointF>("inked");
        QTest::addColumn<QPointF>("empty");
        QTest::newRow("0 landscape front fill") << 0 << false << QPointF(-1, -1.9) << QPointF(2.4, 3);
        QTest::newRow("0 portrait front fill") << 0 << true << QPointF(2.4, 3) << QPointF(-4, -1.9);
        QTest::newRow("1 top tooth") << 1 << false << QPointF(0, -5.67) << QPointF(0, -4.8);
        QTest::newRow("1 hub") << 1 << false << QPointF(1.8, 0) << QPointF(0, 0);
        QTest::newRow("2 needle") << 2 << false << QPointF(0, 5.3) << QPointF(-3.7, 3.7);
        QTest::newRow("2 pinned needle") << 2 << true << QPointF(-3.7, 3.7) << QPointF(0, 5.3);
        QTest::newRow("3 bar") << 3 << false << QPointF(4.5, 0) << QPointF(0, 1.5);
        QTest::newRow("4 cross") << 4 << false << QPointF(2, 2) << QPointF(0, 2);
        QTest::newRow("5 cube edge") << 5 << false << QPointF(0, -2.5) << QPointF(2.3, 0);
        QTest::newRow("6 sun ray") << 6 << false << QPointF(5, 0) << QPointF(-4.62, 1.91);
        QTest::newRow("6 moon rim") << 6 << true << QPointF(-4.62, 1.91) << QPointF(2.5, -2.5);
        QTest::newRow("7 tail") << 7 << false << QPointF(-2.65, 5.2) << QPointF(2, 5.2);
        QTest::newRow("7 middle dot") << 7 << false << QPointF(0, -1.1) << QPointF(0, 1);
        QTest::newRow("8 keyhole") << 8 << false << QPointF(0, 2.2) << QPointF(0, -3);
        QTest::newRow("8 shackle top") << 8 << false << QPointF(0, -6) << QPointF(0, -4);
        QTest::newRow("9 lens") << 9 << false << QPointF(6.8, 0) << QPointF(-1.3, 0);
        QTest::newRow("10 shield tip") << 10 << false << QPointF(0, 6) << QPointF(0, 0.1);
        QTest::newRow("10 upper arrow") << 10 << false << QPointF(0, -1.3) << QPointF(0, -3);
    }
    void glyphPoints()
    {
        QFETCH(int, id);
        QFETCH(bool, state);
        QFETCH(QPointF, inked);
        QFETCH(QPointF, empty);
        const QImage img = renderGlyph(id, state, false);
        QVERIFY2(alphaAt(img, inked.x(), inked.y()) > 180, "inked point is blank");
        QCOMPARE(alphaAt(img, empty.x(), empty.y()), 0);
    }

    void screensBackIsFaint()
    {
        // The back screen is drawn at alpha 70: its right edge in landscape mode, its left in portrait.
        const QImage off = renderGlyph(0, false, false);
        QVERIFY(qAbs(alphaAt(off, 5.3, 3.5) - 70) <= 2);
        const QImage on = renderGlyph(0, true, false);
        QVERIFY(qAbs(alphaAt(on, -5.3, -2.5) - 70) <= 2);
        // The gap around the front screen cuts the back one: nothing just outside the front outline.
        QCOMPARE(alphaAt(off, 4.5, 1.95), 0);
    }

    // A turned glyph drawn on a painter turned back equals the still glyph.
    void turnedGlyphs_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("state");
        QTest::addColumn<double>("phase");
        QTest::addColumn<double>("angle");
        QTest::newRow("pinned is turned 45") << 2 << true << -1.0 << 45.0;
        QTest::newRow("gear at a quarter") << 1 << false << 0.25 << 90.0;
        QTest::newRow("gear at zero") << 1 << false << 0.0 << 0.0;
        QTest::newRow("sun at a sixteenth") << 6 << false << 0.0625 << 22.5;
        QTest::newRow("moon rocks 12") << 6 << true << 0.25 << 12.0;
        QTest::newRow("moon back at half") << 6 << true << 0.5 << 0.0;
    }
    void turnedGlyphs()
    {
        QFETCH(int, id);
        QFETCH(bool, state);
        QFETCH(double, phase);
        QFETCH(double, angle);
        const bool animate = phase >= 0;
        setGlyphSpinPhase(phase);
        const bool still = id == 2 ? false : state;
        const QImage reference = renderGlyph(id, still, false);
        const QImage turned = renderGlyph(id, state, animate);
        QVERIFY(maxDiff(renderGlyph(id, state, animate, kInk, -angle), reference) <= 24);
        if (angle != 0.0)
            QVERIFY(maxDiff(turned, reference) > 128);
    }

    void spinFollowsTheClock()
    {
        ktr::test::ManualClock clock(QDateTime::fromMSecsSinceEpoch(2200 * 1000 + 550));
        clock.advance(-1000); // start at exactly 550 ms into a gear turn
        setGlyphClock(&clock);
        setGlyphSpinPhase(0.25);
        const QImage quarter = renderGlyph(1, false, true);
        setGlyphSpinPhase(-1);
        QCOMPARE(maxDiff(renderGlyph(1, false, true), quarter), 0);
        clock.advance(550);
        QVERIFY(maxDiff(renderGlyph(1, false, true), quarter) > 128);
    }

    void gearImageRenderedOncePerColour()
    {
        renderGlyph(1, false, false, QColor(1, 2, 3));
        const int before = uiBtnGearRenderCount();
        renderGlyph(1, false, false, QColor(1, 2, 3));
        renderGlyph(1, false, true, QColor(1, 2, 3));
        QCOMPARE(uiBtnGearRenderCount(), before);
        const QImage red = renderGlyph(1, false, false, QColor(200, 0, 0));
        QCOMPARE(uiBtnGearRenderCount(), before + 1);
        renderGlyph(1, false, false, QColor(200, 0, 0));
        QCOMPARE(uiBtnGearRenderCount(), before + 1);
        QCOMPARE(colorAt(red, 0, -5.67).red(), 200);
    }

    void recordingDotBlinks()
    {
        ktr::test::ManualClock clock(QDateTime::fromMSecsSinceEpoch(1000000));
        clock.advance(-1000); // ms since the epoch: 1000000, an even half second
        setGlyphClock(&clock);
        QCOMPARE(colorAt(renderGlyph(9, true, false), -1.3, 0), QColor(0xE8, 0x11, 0x13));
        clock.advance(500);
        const QImage dim = renderGlyph(9, true, false);
        QVERIFY(qAbs(alphaAt(dim, -1.3, 0) - 60) <= 1);
        QCOMPARE(alphaAt(renderGlyph(9, false, false), -1.3, 0), 0);
    }

    void shieldArrows_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<double>("phase");
        QTest::addColumn<QColor>("upper");      // colour at (0, -1.3); alpha = the arrow's strength
        QTest::addColumn<QColor>("lower");      // colour at (0, 1.5)
        QTest::addColumn<QPointF>("lowerDash"); // a point of the lower arrow's travelling dash
        QTest::addColumn<int>("dashAlpha");
        // Phase 0.25: the arrows are shifted by 1.15, the upper one full, the lower one at 0.6.
        QTest::newRow("on, quarter") << true << 0.25 << QColor(0x4C, 0x7D, 0xF0) << QColor(0x1F, 0xB5, 0x8A, 153)
                                     << QPointF(-1.9, 1.5) << 225;
        QTest::newRow("off, quarter") << false << 0.25 << kInk << QColor(kInk.red(), kInk.green(), kInk.blue(), 153)
                                      << QPointF(-1.9, 1.5) << 225;
        // Phase 0: both arrows at 0.8; the upper dash is invisible (travel 0), the lower one lies over
        // the middle at full alpha (travel 0.5).
        QTest::newRow("on, zero") << true << 0.0 << QColor(0x4C, 0x7D, 0xF0, 204) << QColor(0x1F, 0xB5, 0x8A)
                                  << QPointF(0.4, 1.5) << 255;
    }
    void shieldArrows()
    {
        QFETCH(bool, on);
        QFETCH(double, phase);
        QFETCH(QColor, upper);
        QFETCH(QColor, lower);
        QFETCH(QPointF, lowerDash);
        QFETCH(int, dashAlpha);
        setGlyphShieldPhase(phase);
        const QImage img = renderGlyph(10, on, true);
        auto near = [](const QColor& a, const QColor& b) {
            return qAbs(a.red() - b.red()) <= 3 && qAbs(a.green() - b.green()) <= 3 && qAbs(a.blue() - b.blue()) <= 3 &&
                   qAbs(a.alpha() - b.alpha()) <= 3;
        };
        QVERIFY2(near(colorAt(img, 0, -1.3), upper), qPrintable(colorAt(img, 0, -1.3).name(QColor::HexArgb)));
        QVERIFY2(near(colorAt(img, 0, 1.5), lower), qPrintable(colorAt(img, 0, 1.5).name(QColor::HexArgb)));
        QVERIFY(qAbs(alphaAt(img, lowerDash.x(), lowerDash.y()) - dashAlpha) <= 3);
    }

    void idElevenDrawsNothing()
    {
        QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.translate(5, 7);
        p.setPen(QPen(Qt::red, 3));
        p.setBrush(Qt::green);
        const QTransform t = p.transform();
        drawUiBtnGlyph(&p, 11, QPointF(16, 16), Qt::black, true, true);
        drawUiBtnGlyph(&p, -1, QPointF(16, 16), Qt::black, true, true);
        QCOMPARE(p.transform(), t);
        QCOMPARE(p.pen(), QPen(Qt::red, 3));
        QCOMPARE(p.brush(), QBrush(Qt::green));
        p.end();
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                QCOMPARE(qAlpha(img.pixel(x, y)), 0);
    }

    void glyphRestoresThePainter()
    {
        QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&img);
        p.setPen(QPen(Qt::red, 3));
        for (int id = 0; id < UiBtn::kCount; ++id) {
            drawUiBtnGlyph(&p, id, QPointF(16, 16), Qt::black, true, true);
            QCOMPARE(p.transform(), QTransform());
            QCOMPARE(p.pen(), QPen(Qt::red, 3));
            QCOMPARE(p.brush(), QBrush());
        }
    }
};

KTR_TEST_MAIN(TestUiBtn)
#include "tst_uibtn.moc"
