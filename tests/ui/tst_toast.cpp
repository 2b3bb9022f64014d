#include "testenv.h"
#include "ui/theme.h"
#include "ui/toast.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTimer>
#include <QVariantAnimation>

namespace {

QTimer* hideTimer(Toast& t)
{
    return t.findChild<QTimer*>(QStringLiteral("toastHideTimer"));
}
QTimer* followTimer(Toast& t)
{
    return t.findChild<QTimer*>(QStringLiteral("toastFollowTimer"));
}
QVariantAnimation* fade(Toast& t)
{
    return t.findChild<QVariantAnimation*>(QStringLiteral("toastFade"));
}

// Runs the hide timer's expiry and the fade up to the given time without waiting for either.
void expireAndFadeTo(Toast& t, int ms)
{
    QMetaObject::invokeMethod(hideTimer(t), "timeout");
    fade(t)->setCurrentTime(ms);
}

int advance(const QString& text)
{
    QFont f(uiFontFamily());
    f.setPixelSize(13);
    return QFontMetrics(f).horizontalAdvance(text);
}

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

} // namespace

class TestToast : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void width_data()
    {
        QTest::addColumn<int>("parentWidth"); // 0 = no parent
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1 = advance + 52
        QTest::newRow("one character") << 600 << QStringLiteral("a") << 120;
        QTest::newRow("ordinary") << 600 << QString::fromUtf8("已复制到剪贴板，可以粘贴到任意位置") << -1;
        QTest::newRow("long in a 400 px window") << 400 << QString(200, QLatin1Char('W')) << 360;
        QTest::newRow("long without parent") << 0 << QString(200, QLatin1Char('W')) << 620;
        QTest::newRow("narrow window keeps the minimum") << 100 << QStringLiteral("abc") << 120;
    }
    void width()
    {
        QFETCH(int, parentWidth);
        QFETCH(QString, text);
        QFETCH(int, expected);
        QWidget parent;
        parent.resize(std::max(parentWidth, 1), 300);
        Toast toast(parentWidth ? &parent : nullptr);
        toast.showMessage(text, 0);
        QCOMPARE(toast.width(), expected < 0 ? advance(text) + 52 : expected);
        QCOMPARE(toast.height(), 38);
        QVERIFY(toast.isVisible());
        QCOMPARE(toast.windowOpacity(), 1.0);
    }

    void showFadeAndHide()
    {
        QWidget parent;
        parent.setGeometry(100, 80, 500, 300);
        Toast toast(&parent);
        QVERIFY(!toast.isVisible());
        toast.showMessage(QStringLiteral("saved"), 0);
        QCOMPARE(hideTimer(toast)->interval(), 2200);
        QVERIFY(hideTimer(toast)->isActive() && hideTimer(toast)->isSingleShot());
        QVERIFY(followTimer(toast)->isActive());
        QCOMPARE(fade(toast)->duration(), 280);
        QCOMPARE(fade(toast)->easingCurve().type(), QEasingCurve::InQuad);

        expireAndFadeTo(toast, 140);
        QVERIFY(!followTimer(toast)->isActive());
        QVERIFY(toast.isVisible());
        // In-quad: at half the time a quarter of the way down.
        QVERIFY(qAbs(toast.windowOpacity() - 0.75) < 0.01);
        fade(toast)->setCurrentTime(280);
        QVERIFY(!toast.isVisible());
    }

    void secondMessageDuringFade()
    {
        QWidget parent;
        parent.resize(500, 300);
        Toast toast(&parent);
        toast.showMessage(QStringLiteral("first"), 0);
        expireAndFadeTo(toast, 200);
        QVERIFY(toast.windowOpacity() < 0.6);

        toast.showMessage(QStringLiteral("second"), 1);
        QCOMPARE(fade(toast)->state(), QAbstractAnimation::Stopped);
        QCOMPARE(toast.windowOpacity(), 1.0);
        QVERIFY(toast.isVisible());
        QCOMPARE(toast.text(), QStringLiteral("second"));
        QVERIFY(toast.isError());
        QVERIFY(hideTimer(toast)->isActive());
        QVERIFY(hideTimer(toast)->remainingTime() > 2000);
        QVERIFY(followTimer(toast)->isActive());
    }

    void followsItsParent()
    {
        QWidget parent;
        parent.setGeometry(100, 80, 500, 300);
        parent.show();
        Toast toast(&parent);
        toast.showMessage(QStringLiteral("hello"), 0);
        const QPoint origin = parent.mapToGlobal(QPoint(0, 0));
        QCOMPARE(toast.pos(), QPoint(origin.x() + (500 - toast.width()) / 2, origin.y() + 38));

        parent.move(parent.pos() + QPoint(40, 25));
        QTRY_COMPARE_WITH_TIMEOUT(toast.pos(), QPoint(origin.x() + 40 + (500 - toast.width()) / 2, origin.y() + 63),
                                  400);
    }

    // The window system gives the bubble no input region, so clicks land on the window beneath it.
    void letsTheMouseThrough()
    {
        QWidget parent;
        parent.setGeometry(100, 80, 500, 300);
        parent.show();
        Toast toast(&parent);
        toast.showMessage(QStringLiteral("hello"), 0);
        QVERIFY(toast.windowFlags() & Qt::WindowTransparentForInput);
        QVERIFY(toast.testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(toast.testAttribute(Qt::WA_ShowWithoutActivating));
    }

    void paintsDotAndText_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("dot"); // invalid = the palette's accent
        QTest::newRow("light info") << false << 0 << QColor(0x33, 0x39, 0x47) << QColor();
        QTest::newRow("dark error") << true << 1 << QColor(0x2C, 0x31, 0x3E) << QColor(0xE8, 0x11, 0x23);
    }
    void paintsDotAndText()
    {
        QFETCH(bool, dark);
        QFETCH(int, kind);
        QFETCH(QColor, fill);
        QFETCH(QColor, dot);
        setDarkTheme(dark);
        QWidget parent;
        parent.resize(500, 300);
        Toast toast(&parent);
        const QString text = QString::fromUtf8("配置保存失败");
        toast.showMessage(text, kind);
        const QImage img = render(toast);
        if (qEnvironmentVariableIsSet("KTR_SHOT_DIR"))
            img.save(
                QStringLiteral("%1/toast-%2.png").arg(qEnvironmentVariable("KTR_SHOT_DIR"), QTest::currentDataTag()));

        const int left = (toast.width() - advance(text) - 16) / 2;
        QCOMPARE(img.pixelColor(left + 3, 19), dot.isValid() ? dot : currentTheme().accent);
        QCOMPARE(img.pixelColor(left + 12, 19), fill); // the gap between dot and text
        QCOMPARE(img.pixelColor(toast.width() / 2, 2), fill);
        // Corners outside the pill stay transparent.
        QCOMPARE(qAlpha(img.pixel(1, 1)), 0);
        // Some white text between the dot and the right end.
        bool white = false;
        for (int x = left + 16; x < left + 16 + advance(text) && !white; ++x)
            for (int y = 10; y < 28 && !white; ++y)
                white = img.pixelColor(x, y) == QColor(Qt::white);
        QVERIFY(white);
    }

    // A sentence wider than the window wraps onto more lines, all of them inside the bubble (the English
    // notice of a damaged layout in a window of the default width).
    void longSentenceWraps_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void longSentenceWraps()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        QWidget parent;
        parent.resize(680, 496);
        Toast toast(&parent);
        const QString text = QStringLiteral("The layout file was corrupted. A copy was preserved and default groups "
                                            "were rebuilt; you can restore the latest snapshot from Backup & Restore.");
        toast.showMessage(text, 1);
        QCOMPARE(toast.width(), 640);
        QFont f(uiFontFamily());
        f.setPixelSize(13);
        const QFontMetrics fm(f);
        const QRect lines = fm.boundingRect(QRect(0, 0, 640 - 52, 100000), Qt::TextWordWrap, text);
        QVERIFY(lines.height() >= 2 * fm.height());
        QCOMPARE(toast.height(), lines.height() + 20);
        const QImage img = render(toast);
        if (qEnvironmentVariableIsSet("KTR_SHOT_DIR"))
            img.save(QStringLiteral("%1/toast-wrapped-%2.png")
                         .arg(qEnvironmentVariable("KTR_SHOT_DIR"), QTest::currentDataTag()));
        QCOMPARE(img.pixelColor(21, 10 + fm.height() / 2), QColor(0xE8, 0x11, 0x23));
        // White text on the last line too, and nothing drawn past the bubble's right padding.
        const auto whiteIn = [&](int y0, int y1, int x0, int x1) {
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    if (img.pixelColor(x, y) == QColor(Qt::white))
                        return true;
            return false;
        };
        QVERIFY(whiteIn(toast.height() - 10 - fm.height(), toast.height() - 10, 34, 300));
        QVERIFY(!whiteIn(0, toast.height(), toast.width() - 17, toast.width()));
    }

    // A text wider than the bubble keeps its beginning readable: the dot stays inside the bubble.
    void longTextStartsAtThePadding()
    {
        QWidget parent;
        parent.resize(400, 300);
        Toast toast(&parent);
        toast.showMessage(QString(200, QLatin1Char('W')), 1);
        const QImage img = render(toast);
        if (qEnvironmentVariableIsSet("KTR_SHOT_DIR"))
            img.save(qEnvironmentVariable("KTR_SHOT_DIR") + QStringLiteral("/toast-long.png"));
        QCOMPARE(img.pixelColor(21, 19), QColor(0xE8, 0x11, 0x23));
    }
};

KTR_TEST_MAIN(TestToast)
#include "tst_toast.moc"
