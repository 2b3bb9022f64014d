// The slider, the angle dial and the elided combo box: geometry, input, signals and painting.
#include "looktable.h"
#include "settings/elidecombo.h"
#include "settings/sliderwidget.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QApplication>
#include <QPainter>
#include <QSignalSpy>

namespace {

bool near(const QColor& a, const QColor& b, int tolerance = 40)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

QImage render(QWidget& w, const QColor& background)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(background);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
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

void press(QWidget& w, int x, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(&w, button, {}, QPoint(x, w.height() / 2));
}

void drag(QWidget& w, QPoint to)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(to), w.mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &e);
}

} // namespace

class TestSliderWidget : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void construction()
    {
        SliderWidget s;
        QCOMPARE(s.sizeHint(), QSize(220, 28));
        QCOMPARE(s.minimum(), 0);
        QCOMPARE(s.maximum(), 100);
        QCOMPARE(s.value(), 0);
        QVERIFY(s.hasMouseTracking());
        QCOMPARE(s.cursor().shape(), Qt::PointingHandCursor);
        AngleDial d;
        QCOMPARE(d.sizeHint(), QSize(46, 46));
        QCOMPARE(d.angle(), 45);
    }

    // x 12 .. 12 + S maps onto the whole range, so both ends can be reached by mouse.
    void xToValue_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("value");
        QTest::newRow("S 300, left end") << 376 << 2 << 0 << 100 << 12 << 0;
        QTest::newRow("S 300, left of track") << 376 << 2 << 0 << 100 << -30 << 0;
        QTest::newRow("S 300, middle") << 376 << 2 << 0 << 100 << 162 << 50;
        QTest::newRow("S 300, past the end") << 376 << 2 << 0 << 100 << 400 << 100;
        QTest::newRow("10..600 right end") << 376 << 5 << 10 << 600 << 312 << 600;
        QTest::newRow("10..600 one short") << 376 << 5 << 10 << 600 << 311 << 598;
        // The dialog's sliders are 156 px wide: S 80 (68 for megabytes).
        QTest::newRow("opacity reaches 100") << 156 << 2 << 0 << 100 << 92 << 100;
        QTest::newRow("opacity one pixel short") << 156 << 2 << 0 << 100 << 91 << 99;
        QTest::newRow("iconSize reaches 96") << 156 << 1 << 32 << 96 << 92 << 96;
        QTest::newRow("fps reaches 60") << 156 << 6 << 2 << 60 << 200 << 60;
        QTest::newRow("fps left end") << 156 << 6 << 2 << 60 << 12 << 2;
        QTest::newRow("MB reaches 512") << 156 << 4 << 10 << 512 << 80 << 512;
        QTest::newRow("empty range") << 156 << 1 << 0 << 0 << 90 << 0;
        QTest::newRow("no span") << 70 << 1 << 0 << 10 << 40 << 0;
    }
    void xToValue()
    {
        QFETCH(int, width);
        QFETCH(int, kind);
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, x);
        QFETCH(int, value);
        SliderWidget s;
        s.setKind(kind);
        s.setRange(min, max);
        s.resize(width, 28);
        QCOMPARE(s.xToValue(x), value);
        QCOMPARE(s.trackRect(), QRect(12, 12, width - 24 - (kind == 4 ? 64 : 52), 4));
        // The same through a press, and back to x.
        QSignalSpy spy(&s, &SliderWidget::valueChanged);
        press(s, x);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), value);
        QCOMPARE(s.value(), value);
        if (s.span() > 0 && max > min)
            QCOMPARE(s.xToValue(s.valueToX()), value);
    }

    void valueToX_data()
    {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("x");
        QTest::newRow("min") << 0 << 100 << 0 << 12;
        QTest::newRow("half") << 0 << 100 << 50 << 162;
        QTest::newRow("max") << 0 << 100 << 100 << 312;
        QTest::newRow("rounded") << 0 << 7 << 1 << 55; // 300 / 7 = 42.86
        QTest::newRow("empty range") << 0 << 0 << 0 << 12;
    }
    void valueToX()
    {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, value);
        QFETCH(int, x);
        SliderWidget s;
        s.setKind(2);
        s.resize(376, 28);
        s.setRange(min, max);
        s.setValue(value, false);
        QCOMPARE(s.valueToX(), x);
    }

    void setValueAndRange()
    {
        SliderWidget s;
        s.resize(200, 28);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        PaintCounter paints;
        s.installEventFilter(&paints);
        QSignalSpy spy(&s, &SliderWidget::valueChanged);

        s.setValue(40, false);
        QApplication::processEvents();
        QCOMPARE(s.value(), 40);
        QCOMPARE(spy.size(), 0);
        QVERIFY(paints.count > 0);

        paints.count = 0;
        s.setValue(40, false); // unchanged, quiet: nothing at all
        QApplication::processEvents();
        QCOMPARE(paints.count, 0);
        QCOMPARE(spy.size(), 0);

        s.setValue(40, true); // unchanged, notifying: repaints and signals all the same
        QApplication::processEvents();
        QVERIFY(paints.count > 0);
        QCOMPARE(spy.size(), 1);

        s.setValue(500, true);
        QCOMPARE(s.value(), 100);
        QCOMPARE(spy.last().at(0).toInt(), 100);

        s.setValue(5, false);
        spy.clear();
        s.setRange(10, 20);
        QCOMPARE(s.value(), 10);
        QCOMPARE(spy.size(), 0);
    }

    void mouse()
    {
        SliderWidget s;
        s.setKind(2);
        s.resize(376, 28);
        QSignalSpy spy(&s, &SliderWidget::valueChanged);
        drag(s, QPoint(200, 14)); // no button down: nothing
        QCOMPARE(spy.size(), 0);
        press(s, 162, Qt::RightButton);
        QCOMPARE(spy.size(), 0);
        press(s, 162);
        press(s, 162); // every press reports, changed or not
        QCOMPARE(spy.size(), 2);
        drag(s, QPoint(237, 3));
        drag(s, QPoint(237, 3));
        QCOMPARE(spy.size(), 4);
        QCOMPARE(s.value(), 75);
        QTest::mouseRelease(&s, Qt::LeftButton, {}, QPoint(237, 14));
        drag(s, QPoint(12, 14));
        QCOMPARE(spy.size(), 4);
        QCOMPARE(s.value(), 75);
    }

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("signal");
        // Range 10..600: a page is 59.
        QTest::newRow("right") << int(Qt::Key_Right) << 300 << 301 << true;
        QTest::newRow("up") << int(Qt::Key_Up) << 300 << 301 << true;
        QTest::newRow("left") << int(Qt::Key_Left) << 300 << 299 << true;
        QTest::newRow("down") << int(Qt::Key_Down) << 300 << 299 << true;
        QTest::newRow("page up") << int(Qt::Key_PageUp) << 300 << 359 << true;
        QTest::newRow("page down") << int(Qt::Key_PageDown) << 300 << 241 << true;
        QTest::newRow("page up near the end") << int(Qt::Key_PageUp) << 580 << 600 << true;
        QTest::newRow("home") << int(Qt::Key_Home) << 300 << 10 << true;
        QTest::newRow("end") << int(Qt::Key_End) << 300 << 600 << true;
        QTest::newRow("right at the end") << int(Qt::Key_Right) << 600 << 600 << false;
        QTest::newRow("home at the start") << int(Qt::Key_Home) << 10 << 10 << false;
    }
    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, start);
        QFETCH(int, value);
        QFETCH(bool, signal);
        SliderWidget s;
        QCOMPARE(s.focusPolicy(), Qt::StrongFocus);
        s.setRange(10, 600);
        s.setValue(start, false);
        QSignalSpy spy(&s, &SliderWidget::valueChanged);
        QTest::keyClick(&s, Qt::Key(key));
        QCOMPARE(s.value(), value);
        QCOMPARE(spy.size(), signal ? 1 : 0);
        if (signal)
            QCOMPARE(spy.at(0).at(0).toInt(), value);
    }

    // Keys the slider has no use for go on to its owner (Escape closes the settings dialog).
    void otherKeysPass()
    {
        QWidget owner;
        auto* s = new SliderWidget(&owner);
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, {});
        esc.setAccepted(true);
        QApplication::sendEvent(s, &esc);
        QVERIFY(!esc.isAccepted());
    }

    void units_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("0 none") << 0 << QString();
        QTest::newRow("1 px") << 1 << QStringLiteral("42px");
        QTest::newRow("2 percent") << 2 << QStringLiteral("42%");
        QTest::newRow("3 degrees") << 3 << QStringLiteral("42°");
        QTest::newRow("4 MB") << 4 << QStringLiteral("42 MB");
        QTest::newRow("5 s") << 5 << QStringLiteral("42 s");
        QTest::newRow("6 fps") << 6 << QStringLiteral("42 fps");
        QTest::newRow("9 percent") << 9 << QStringLiteral("42%");
    }
    void units()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        SliderWidget s;
        s.setKind(kind);
        s.setValue(42, false);
        QCOMPARE(s.valueText(), text);
    }

    void sliderPainting_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void sliderPainting()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const DialogPalette pal = dialogRoles();
        QWidget sheet;
        sheet.resize(380, 6 * 32);
        const int kinds[] = {1, 2, 4, 5, 6, 0};
        const int values[] = {50, 75, 512, 10, 59, 0};
        QList<SliderWidget*> sliders;
        for (int i = 0; i < 6; ++i) {
            auto* s = new SliderWidget(&sheet);
            s->setKind(kinds[i]);
            s->setRange(kinds[i] == 4 ? 10 : 0, kinds[i] == 4 ? 512 : 100);
            s->setValue(values[i], false);
            s->setGeometry(0, i * 32, 376, 28);
            sliders << s;
        }
        QImage img = render(sheet, pal.background);
        ktr::test::saveShot(img, QStringLiteral("slider-%1").arg(QTest::currentDataTag()));

        // Percent slider at 75: thumb at x 237, filled track left of it, plain track right of it.
        const int y = 32 + 14;
        QCOMPARE(img.pixelColor(237, y), pal.accent);
        QCOMPARE(img.pixelColor(100, y), pal.accent);
        QCOMPARE(img.pixelColor(290, y), pal.trackFill);
        QCOMPARE(img.pixelColor(237, y + 9), pal.background); // below a 12 px thumb
        // The value text lies right of the track (from x = S + 19).
        auto inkRightOf = [&](int row, int x0) {
            for (int x = x0; x < 376; ++x)
                for (int yy = row * 32; yy < row * 32 + 28; ++yy)
                    if (img.pixelColor(x, yy) != pal.background)
                        return true;
            return false;
        };
        QVERIFY(inkRightOf(1, 319));
        QVERIFY(!inkRightOf(5, 319)); // kind 0 writes no text
        // At value 0 the thumb sits on the left end and no filled part shows.
        QCOMPARE(img.pixelColor(12, 5 * 32 + 14), pal.accent);
        QCOMPARE(img.pixelColor(30, 5 * 32 + 14), pal.trackFill);

        // Hovered: a halo around a larger thumb.
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(sliders[1], &enter);
        img = render(sheet, pal.background);
        const QColor halo = img.pixelColor(237 + 10, y);
        QVERIFY(halo != pal.trackFill && halo != pal.accent);
        QVERIFY(near(img.pixelColor(237 + 6, y), pal.accent, 30)); // radius 7 now
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(sliders[1], &leave);
        img = render(sheet, pal.background);
        QCOMPARE(img.pixelColor(237 + 10, y), pal.trackFill);
    }

    void dialAngle_data()
    {
        QTest::addColumn<QPointF>("point");
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("signal");
        QTest::newRow("below") << QPointF(23, 40) << 90 << true;
        QTest::newRow("left") << QPointF(2, 23) << 180 << true;
        QTest::newRow("above") << QPointF(23, 1) << 270 << true;
        QTest::newRow("right") << QPointF(45, 23) << 0 << true;
        QTest::newRow("below right") << QPointF(40, 40) << 45 << false;
        QTest::newRow("above right") << QPointF(33, 13) << 315 << true;
        QTest::newRow("centre") << QPointF(23, 23) << 45 << false;
    }
    void dialAngle()
    {
        QFETCH(QPointF, point);
        QFETCH(int, angle);
        QFETCH(bool, signal);
        AngleDial d;
        d.resize(46, 46);
        QSignalSpy spy(&d, &AngleDial::angleChanged);
        d.angleAt(point);
        QCOMPARE(d.angle(), angle);
        QCOMPARE(spy.size(), signal ? 1 : 0);
    }

    void dialMouse()
    {
        AngleDial d;
        d.resize(46, 46);
        QSignalSpy spy(&d, &AngleDial::angleChanged);
        drag(d, QPoint(23, 40));
        QCOMPARE(spy.size(), 0);
        QTest::mousePress(&d, Qt::RightButton, {}, QPoint(23, 40));
        QCOMPARE(d.angle(), 45);
        QTest::mousePress(&d, Qt::LeftButton, {}, QPoint(23, 40));
        QCOMPARE(d.angle(), 90);
        drag(d, QPoint(2, 23));
        QCOMPARE(d.angle(), 180);
        QTest::mouseRelease(&d, Qt::LeftButton, {}, QPoint(2, 23));
        drag(d, QPoint(23, 1));
        QCOMPARE(d.angle(), 180);
        QCOMPARE(spy.size(), 2);
    }

    void dialPainting_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void dialPainting()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        const DialogPalette pal = dialogRoles();
        AngleDial d;
        d.resize(46, 46);
        d.angleAt(QPointF(23, 40)); // 90: the arc runs clockwise from three o'clock to six
        const QImage ninety = render(d, pal.background);
        d.angleAt(QPointF(45, 23)); // 0: no arc
        const QImage zero = render(d, pal.background);
        QImage both(96, 46, QImage::Format_ARGB32_Premultiplied);
        both.fill(pal.background);
        {
            QPainter p(&both);
            p.drawImage(0, 0, ninety);
            p.drawImage(50, 0, zero);
        }
        ktr::test::saveShot(both.scaled(both.size() * 4), QStringLiteral("dial-%1").arg(QTest::currentDataTag()));
        // The ring point at 45° below right (radius 19.5): arc colour at 90, ring colour at 0.
        QVERIFY(near(ninety.pixelColor(36, 36), pal.accent));
        QVERIFY(near(zero.pixelColor(36, 36), pal.trackFill));
        // The needle points at the angle; the other way is ring-free.
        QVERIFY(near(ninety.pixelColor(23, 36), pal.accent, 60));
        QVERIFY(near(zero.pixelColor(36, 23), pal.accent, 60));
        QCOMPARE(ninety.pixelColor(23, 9), pal.background);
    }

    void comboElides()
    {
        ElideCombo combo;
        const QString full = QStringLiteral("Noto Sans CJK Simplified Chinese Extra Long Family");
        combo.addItems({full, QStringLiteral("B")});
        combo.resize(60, 28);
        QSignalSpy index(&combo, &QComboBox::currentIndexChanged);
        QSignalSpy text(&combo, &QComboBox::currentTextChanged);
        combo.setProperty("fullText", full);
        combo.refreshElide();
        const QString elided = combo.itemText(0);
        QVERIFY(elided.endsWith(QChar(0x2026)));
        QVERIFY(combo.fontMetrics().horizontalAdvance(elided) <= 40);

        combo.show();
        combo.showPopup();
        QCOMPARE(combo.itemText(0), full);
        combo.hidePopup();
        QCOMPARE(combo.itemText(0), elided);
        combo.resize(300, 28); // wider: less is cut
        QVERIFY(combo.itemText(0).size() > elided.size());
        QCOMPARE(index.size(), 0);
        QCOMPARE(text.size(), 0);
        QCOMPARE(combo.currentIndex(), 0);

        // Without "fullText" the item texts are left alone.
        ElideCombo plain;
        plain.addItem(full);
        plain.resize(60, 28);
        plain.refreshElide();
        plain.showPopup();
        plain.hidePopup();
        QCOMPARE(plain.itemText(0), full);
    }

    void comboIgnoresWheel()
    {
        ElideCombo combo;
        combo.addItems({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
        combo.setCurrentIndex(1);
        combo.resize(120, 28);
        QWheelEvent wheel(QPointF(10, 10), combo.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120), Qt::NoButton,
                          {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&combo, &wheel);
        QVERIFY(!wheel.isAccepted());
        QCOMPARE(combo.currentIndex(), 1);
    }

    void comboPainting_data() { ktr::test::addThemeAndLanguageRows(); }
    void comboPainting()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        ElideCombo combo;
        const QString first = Lang::tr("默认（%1）").arg(QStringLiteral("WenQuanYi Micro Hei"));
        combo.addItem(first);
        combo.setProperty("fullText", first);
        combo.resize(120, 28);
        combo.refreshElide();
        const QImage img = render(combo, dialogRoles().background);
        ktr::test::saveShot(img, QStringLiteral("combo-%1").arg(QTest::currentDataTag()));
        // The triangle below the middle, at x = W - 15.
        QCOMPARE(img.pixelColor(120 - 15, 14), currentTheme().hintText);
        QVERIFY(img.pixelColor(120 - 15, 20) != currentTheme().hintText);
    }
};

KTR_TEST_MAIN(TestSliderWidget)
#include "tst_sliderwidget.moc"
