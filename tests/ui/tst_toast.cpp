#include "testenv.h"
#include "ui/theme.h"
#include "ui/toast.h"

#include <QElapsedTimer>
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

    // Showing the bubble leaves the parent's other children as they were: a child made native gets a window of
    // its own, and a transparent overlay that is one takes every click from the widgets beneath it.
    void leavesTheParentsChildrenPlain()
    {
        QWidget parent;
        parent.setGeometry(100, 80, 500, 300);
        auto* button = new QWidget(&parent);
        button->setGeometry(20, 40, 100, 30);
        auto* overlay = new QWidget(&parent);
        overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
        overlay->setGeometry(parent.rect());
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        Toast toast(&parent);
        toast.showMessage(QStringLiteral("saved"), 0);
        QVERIFY(toast.windowHandle());
        for (QWidget* child : {button, overlay}) {
            QVERIFY(!child->testAttribute(Qt::WA_NativeWindow));
            QVERIFY(!child->internalWinId());
        }
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

    // How long a message stays: 2.2 s for a short one, longer for one that takes longer to read, never
    // without end.
    void showTimes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("atLeast");
        QTest::addColumn<int>("atMost");
        QTest::newRow("short") << QStringLiteral("saved") << 2200 << 2200;
        QTest::newRow("short chinese") << QString::fromUtf8("配置保存失败") << 2200 << 2200;
        QTest::newRow("recorder folder gone, english")
            << QStringLiteral("The recordings folder is gone; recording paused (it resumes automatically when the "
                              "folder is back): /tmp/kt-rec/recordings")
            << 4500 << 8000;
        QTest::newRow("recorder folder gone, chinese")
            << QString::fromUtf8("录屏文件夹不见了，录屏已暂停（文件夹恢复后会自动继续）：/tmp/kt-rec/recordings")
            << 3500 << 8000;
        QTest::newRow("endless") << QString(2000, QLatin1Char('x')) << 8000 << 8000;
    }
    void showTimes()
    {
        QFETCH(QString, text);
        QFETCH(int, atLeast);
        QFETCH(int, atMost);
        QWidget parent;
        parent.resize(680, 496);
        Toast toast(&parent);
        toast.showMessage(text, 1);
        QVERIFY(hideTimer(toast)->interval() >= atLeast);
        QVERIFY(hideTimer(toast)->interval() <= atMost);
    }

    // A message sent while another is still within its time waits for it: an error is not replaced by the
    // next notice after a second. The same message sent again is not queued twice.
    void nextMessageWaitsItsTurn()
    {
        QWidget parent;
        parent.resize(680, 496);
        Toast toast(&parent);
        toast.showMessage(QStringLiteral("export failed"), 1);
        toast.showMessage(QStringLiteral("settings saved"), 0);
        toast.showMessage(QStringLiteral("settings saved"), 0);
        toast.showMessage(QStringLiteral("export failed"), 1);
        QCOMPARE(toast.text(), QStringLiteral("export failed"));
        QVERIFY(toast.isError());
        QCOMPARE(toast.pendingCount(), 1);

        QMetaObject::invokeMethod(hideTimer(toast), "timeout");
        QCOMPARE(toast.text(), QStringLiteral("settings saved"));
        QVERIFY(!toast.isError());
        QCOMPARE(fade(toast)->state(), QAbstractAnimation::Stopped);
        QVERIFY(hideTimer(toast)->isActive());
        QCOMPARE(toast.pendingCount(), 0);

        QMetaObject::invokeMethod(hideTimer(toast), "timeout");
        QCOMPARE(fade(toast)->state(), QAbstractAnimation::Running);
    }

    // Measured: the first message stays its whole 2.2 s although the next one comes after 0.3 s.
    void firstMessageKeepsItsTime()
    {
        QWidget parent;
        parent.resize(680, 496);
        Toast toast(&parent);
        QElapsedTimer shown;
        shown.start();
        toast.showMessage(QStringLiteral("backup failed"), 1);
        QTimer::singleShot(300, &toast, [&toast] { toast.showMessage(QStringLiteral("snapshot deleted"), 0); });
        QTRY_COMPARE_WITH_TIMEOUT(toast.text(), QStringLiteral("snapshot deleted"), 5000);
        QVERIFY2(shown.elapsed() >= 2200, qPrintable(QString::number(shown.elapsed())));
    }

    // Wrapped lines break at spaces and after a path's "/": a path that fits on a line stays whole (it
    // starts the next line instead of leaving its "/" behind), a longer one breaks only after one of its
    // separators, never inside a name ("kt-rec" stays together).
    void wrapsAtSeparators_data()
    {
        QTest::addColumn<int>("parentWidth");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path");
        const QString english = QStringLiteral("The recordings folder is gone; recording paused (it resumes "
                                               "automatically when the folder is back): %1");
        const QString chinese = QString::fromUtf8("录屏文件夹不见了，录屏已暂停（文件夹恢复后会自动继续）：%1");
        const QString shortPath = QStringLiteral("/tmp/kt-rec/screen-recordings");
        const QString longPath = QStringLiteral("/srv/shared-storage/kestrune-panel/recordings-of-the-office-pc/"
                                                "2026-12-11-morning-session/segment-files-kept-for-review");
        const QString chinesePath = QString::fromUtf8("/home/kt-user/视频/屏幕录像-办公室/第一部分");
        QTest::newRow("english, short path") << 680 << english.arg(shortPath) << shortPath;
        QTest::newRow("english, path longer than a line") << 680 << english.arg(longPath) << longPath;
        QTest::newRow("chinese, short path") << 400 << chinese.arg(shortPath) << shortPath;
        QTest::newRow("chinese, path with chinese names") << 400 << chinese.arg(chinesePath) << chinesePath;
        QTest::newRow("chinese, path longer than a line") << 680 << chinese.arg(longPath) << longPath;
    }
    void wrapsAtSeparators()
    {
        QFETCH(int, parentWidth);
        QFETCH(QString, text);
        QFETCH(QString, path);
        QWidget parent;
        parent.resize(parentWidth, 496);
        Toast toast(&parent);
        toast.showMessage(text, 1);
        const QStringList lines = toast.lines();
        QVERIFY2(lines.size() >= 2, qPrintable(lines.join(QLatin1Char('|'))));
        QFont f(uiFontFamily());
        f.setPixelSize(13);
        const QFontMetrics fm(f);
        QCOMPARE(toast.height(),
                 fm.boundingRect(QRect(0, 0, 100000, 100000), 0, lines.join(QLatin1Char('\n'))).height() + 20);
        const int lineWidth = toast.width() - 52;

        // Nothing lost: the lines are the text, broken where a space was or right after a path's separator.
        QString joined;
        const qsizetype pathStart = text.indexOf(path);
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0 && text.at(joined.size()) == QLatin1Char(' '))
                joined += QLatin1Char(' ');
            const qsizetype at = joined.size();
            if (i > 0 && at > pathStart && at < pathStart + path.size()) {
                // Inside the path: after a separator, and not after its leading one.
                QVERIFY2(text.at(at - 1) == QLatin1Char('/') && at - 1 > pathStart,
                         qPrintable(lines.join(QLatin1Char('|'))));
            }
            joined += lines.at(i);
            // Every line fits, unless it is one name too wide for any line.
            if (lines.at(i).contains(QLatin1Char(' ')) || lines.at(i).contains(QLatin1Char('/')))
                QVERIFY2(fm.horizontalAdvance(lines.at(i)) <= lineWidth, qPrintable(lines.at(i)));
        }
        QCOMPARE(joined, text);
        if (fm.horizontalAdvance(path) <= lineWidth) {
            bool whole = false;
            for (const QString& line : lines)
                whole = whole || line.contains(path);
            QVERIFY2(whole, qPrintable(lines.join(QLatin1Char('|'))));
        }
        const QImage img = render(toast);
        ktr::test::saveShot(img, QStringLiteral("toast-path-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
        // Text is drawn on the last line.
        bool white = false;
        for (int y = toast.height() - 10 - fm.height(); y < toast.height() - 10 && !white; ++y)
            for (int x = 34; x < 300 && !white; ++x)
                white = img.pixelColor(x, y) == QColor(Qt::white);
        QVERIFY(white);
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
