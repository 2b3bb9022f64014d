// The notice window: its size from the wrapped text, the wrapping rules, the title colour against the card,
// its buttons and keys, and what it looks like in both palettes.

#include "support/noticedialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QScreen>

namespace {

QFontMetrics bodyMetrics(const QWidget& w)
{
    QFont f = w.font();
    f.setPixelSize(13);
    return QFontMetrics(f);
}

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void click(QWidget* w, const QPoint& p)
{
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, p);
}

} // namespace

class TestNoticeDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setDarkTheme(false); }

    void windowAndHeight()
    {
        NoticeDialog one(1, QStringLiteral("标题"), QStringLiteral("一行"), QString(), QString());
        QCOMPARE(one.width(), 470);
        QCOMPARE(one.height(), 264);
        QVERIFY(one.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(one.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(one.testAttribute(Qt::WA_DeleteOnClose));
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten << QStringLiteral("第%1行").arg(i);
        NoticeDialog tall(1, QStringLiteral("标题"), ten.join(QLatin1Char('\n')), QString(), QString());
        QCOMPARE(tall.lines().size(), 10);
        const int row = std::lround(bodyMetrics(tall).lineSpacing() * 1.12);
        QCOMPARE(tall.rowHeight(), row);
        QCOMPARE(tall.height(), 146 + std::max(118, 10 * row));
    }

    void wrapping_data()
    {
        QTest::addColumn<QString>("body");
        QTest::newRow("no spaces") << QString(200, QLatin1Char('x'));
        QTest::newRow("last space 12 or more back") << QStringLiteral("ab ") + QString(300, QLatin1Char('y'));
        QTest::newRow("last space close to the end")
            << QString(60, QLatin1Char('w')) + QStringLiteral(" ") + QString(40, QLatin1Char('z'));
        QTest::newRow("surrogate pairs") << QString::fromUtf8("😀").repeated(150);
        QTest::newRow("chinese") << QStringLiteral("服务器将于今晚进行例行维护，").repeated(12);
        QTest::newRow("empty parts kept") << QStringLiteral("a\n\nb");
    }
    void wrapping()
    {
        QFETCH(QString, body);
        QWidget host;
        const QFontMetrics fm = bodyMetrics(host);
        const QStringList lines = NoticeDialog::wrapBody(body, fm);
        QString joined;
        for (int i = 0; i < lines.size(); ++i) {
            const QString& l = lines.at(i);
            QVERIFY2(fm.horizontalAdvance(l) <= 420 || l.size() <= 2, qPrintable(l));
            QVERIFY(l.isEmpty() || !l.back().isHighSurrogate());
            QVERIFY(l.isEmpty() || !l.front().isLowSurrogate());
            joined += l;
        }
        // Nothing is lost but the spaces a break swallows.
        QString squeezed = body;
        squeezed.remove(QLatin1Char(' ')).remove(QLatin1Char('\n'));
        QCOMPARE(joined.remove(QLatin1Char(' ')), squeezed);
    }

    void breakPoints()
    {
        QWidget host;
        const QFontMetrics fm = bodyMetrics(host);
        // Without spaces a line holds as much as fits and one more character would not.
        const QString run(200, QLatin1Char('x'));
        const QStringList a = NoticeDialog::wrapBody(run, fm);
        QVERIFY(a.size() >= 2);
        QVERIFY(fm.horizontalAdvance(a.first()) <= 420);
        QVERIFY(fm.horizontalAdvance(a.first() + QLatin1Char('x')) > 420);
        const int n = int(a.first().size());
        // The longest prefix of a text that fits, as the wrapping measures it.
        const auto fit = [&](const QString& text) {
            int k = 1;
            while (k < text.size() && fm.horizontalAdvance(text.left(k + 1)) <= 420)
                ++k;
            return k;
        };
        // A space 12 or more characters before the break point is ignored ...
        const QString far = QString(n - 20, QLatin1Char('x')) + QLatin1Char(' ') + QString(100, QLatin1Char('x'));
        QVERIFY(fit(far) - (n - 20) >= 12);
        QCOMPARE(NoticeDialog::wrapBody(far, fm).first().size(), fit(far));
        // ... a closer one takes the break, and the space goes.
        const QString near = QString(n - 5, QLatin1Char('x')) + QLatin1Char(' ') + QString(100, QLatin1Char('x'));
        QVERIFY(fit(near) - (n - 5) < 12);
        const QStringList nearLines = NoticeDialog::wrapBody(near, fm);
        QCOMPARE(nearLines.first(), QString(n - 5, QLatin1Char('x')));
        QVERIFY(nearLines.at(1).startsWith(QLatin1Char('x')));
        // A full stop that would start a line takes the character before it along.
        const QString stop = QString(n, QLatin1Char('x')) + QStringLiteral("。");
        const QStringList stopLines = NoticeDialog::wrapBody(stop, fm);
        QCOMPARE(stopLines.size(), 2);
        QCOMPARE(stopLines.at(1), QStringLiteral("x。"));
        QCOMPARE(NoticeDialog::wrapBody(QString(), fm), QStringList{QString()});
        QCOMPARE(NoticeDialog::wrapBody(QStringLiteral("a\n\nb"), fm),
                 (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    }

    void lineCap()
    {
        QStringList many;
        for (int i = 0; i < 100; ++i)
            many << QStringLiteral("line %1").arg(i);
        const QStringList capped = NoticeDialog::capLines(many, 600, 20);
        QCOMPARE(capped.size(), (600 - 186) / 20);
        QCOMPARE(capped.last(), QStringLiteral("line 19") + QChar(0x2026));
        QCOMPARE(NoticeDialog::capLines(many.mid(0, 3), 600, 20), many.mid(0, 3));
        QCOMPARE(NoticeDialog::capLines(many, 100, 20).size(), 1); // at least one line

        // Through the window: the screen's height decides.
        NoticeDialog dialog(1, QStringLiteral("t"), many.join(QLatin1Char('\n')).repeated(1), QString(), QString());
        const int available = dialog.screen()->availableGeometry().height();
        QCOMPARE(dialog.lines().size(), std::max(1, (available - 186) / dialog.rowHeight()));
        QVERIFY(dialog.lines().last().endsWith(QChar(0x2026)));
    }

    // A notice far longer than the card: only what fits is laid out, so the card opens at once (the same text
    // laid out whole took minutes) and ends in an ellipsis; so does a title of a megabyte.
    void hugeNoticeOpensAtOnce_data()
    {
        QTest::addColumn<QString>("body");
        QTest::newRow("1 MB on one line") << QString(1 << 20, QLatin1Char('x'));
        QTest::newRow("1 MB of words") << QStringLiteral("word ").repeated(200000);
        QTest::newRow("a million newlines") << QString(1000000, QLatin1Char('\n'));
        QTest::newRow("1 MB of Chinese") << QStringLiteral("服务器维护").repeated(200000);
    }
    void hugeNoticeOpensAtOnce()
    {
        QFETCH(QString, body);
        QElapsedTimer timer;
        timer.start();
        NoticeDialog dialog(1, QString(1 << 20, QLatin1Char('t')), body, QString(), QString());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.grab();
        // Generous for a loaded machine; the whole text took 14 s for a tenth of this.
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        const int available = dialog.screen()->availableGeometry().height();
        QCOMPARE(dialog.lines().size(), NoticeDialog::maxLinesFor(available, dialog.rowHeight()));
        QVERIFY(dialog.lines().last().endsWith(QChar(0x2026)));
    }

    void titleColour_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QColor>("card");
        QTest::addColumn<QColor>("expected");
        const QColor white(Qt::white);
        const QColor darkCard = QColor(0x2B2F3A).lighter(112);
        const QColor fallback(0x39404C);
        QTest::newRow("none") << QString() << white << fallback;
        QTest::newRow("unparsable") << QStringLiteral("notacolour") << white << fallback;
        QTest::newRow("far from the card") << QStringLiteral("#C0392B") << white << QColor(0xC0392B);
        QTest::newRow("pale on white is darkened")
            << QStringLiteral("#FFF5CC") << white << QColor(0xFFF5CC).darker(170);
        QTest::newRow("dark on dark is lightened")
            << QStringLiteral("#202840") << darkCard << QColor(0x202840).lighter(170);
        QTest::newRow("colour name") << QStringLiteral("red") << white << QColor(Qt::red);
    }
    void titleColour()
    {
        QFETCH(QString, requested);
        QFETCH(QColor, card);
        QFETCH(QColor, expected);
        QCOMPARE(NoticeDialog::titleColorOn(requested, card, QColor(0x39404C)), expected);
    }

    void buttons()
    {
        NoticeDialog plain(5, QStringLiteral("t"), QStringLiteral("b"), QString(), QString());
        const int h = plain.height();
        QCOMPARE(plain.primaryButtonRect(), QRect(QPoint(356, h - 54), QPoint(447, h - 21)));
        QCOMPARE(plain.primaryButtonRect().width(), 92);
        QVERIFY(plain.secondaryButtonRect().isEmpty());
        NoticeDialog linked(5, QStringLiteral("t"), QStringLiteral("b"), QStringLiteral(" https://e.com "), QString());
        QCOMPARE(linked.primaryButtonRect(), QRect(QPoint(348, h - 54), QPoint(447, h - 21)));
        QCOMPARE(linked.secondaryButtonRect(), QRect(QPoint(266, h - 54), QPoint(337, h - 21)));
    }

    void clicksAndKeys_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("where"); // close, left, right, escape, body
        QTest::addColumn<bool>("dismissed");
        QTest::addColumn<bool>("opened");
        QTest::newRow("one button: 我知道了 closes") << QString() << "right" << true << false;
        QTest::newRow("one button: left area is no button") << QString() << "left" << false << false;
        QTest::newRow("one button: close") << QString() << "close" << true << false;
        QTest::newRow("two buttons: 关闭") << "https://e.com/x"
                                           << "left" << true << false;
        QTest::newRow("two buttons: 查看详情 opens and closes") << "https://e.com/x"
                                                                << "right" << true << true;
        QTest::newRow("escape") << "https://e.com/x"
                                << "escape" << true << false;
        QTest::newRow("body") << "https://e.com/x"
                              << "body" << false << false;
    }
    void clicksAndKeys()
    {
        QFETCH(QString, url);
        QFETCH(QString, where);
        QFETCH(bool, dismissed);
        QFETCH(bool, opened);
        int openCount = 0;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl&) {
            ++openCount;
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        auto* dialog = new NoticeDialog(0, QStringLiteral("t"), QStringLiteral("b"), url, QString());
        QPointer<NoticeDialog> guard(dialog);
        QSignalSpy spy(dialog, &NoticeDialog::dismissed);
        dialog->show();
        const int h = dialog->height();
        if (where == QLatin1String("close"))
            click(dialog, QPoint(440, 20));
        else if (where == QLatin1String("left"))
            click(dialog, QPoint(300, h - 40));
        else if (where == QLatin1String("right"))
            click(dialog, QPoint(400, h - 40));
        else if (where == QLatin1String("body"))
            click(dialog, QPoint(200, 100));
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
        QCOMPARE(spy.count(), dismissed ? 1 : 0);
        QCOMPARE(openCount, opened ? 1 : 0);
        flushDeletes();
        QCOMPARE(guard.isNull(), dismissed);
        delete guard.data();
    }

    void openableLinks_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("openable");
        QTest::newRow("https") << "https://example.com/notice/1" << true;
        QTest::newRow("http upper case") << "HTTP://Example.com" << true;
        QTest::newRow("no host") << "https:///path" << false;
        QTest::newRow("ftp") << "ftp://example.com/a" << false;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("no scheme") << "example.com" << false;
    }
    void openableLinks()
    {
        QFETCH(QString, url);
        QFETCH(bool, openable);
        QCOMPARE(NoticeDialog::isOpenableLink(url), openable);
        QList<QUrl> opened;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& u) {
            opened.append(u);
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        NoticeDialog dialog(0, QStringLiteral("t"), QStringLiteral("b"), url, QString());
        dialog.openLink();
        QCOMPARE(opened.size(), openable ? 1 : 0);
    }

    // Under the title sits the notice's date in a gap of the separator; without a date the line runs unbroken
    // and nothing else (such as the service's address) takes the date's place.
    void dateUnderTheTitle_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<bool>("dark");
        QTest::newRow("dated") << "2026-01-15 09:00" << false;
        QTest::newRow("dated, dark") << "2026-01-15 09:00" << true;
        QTest::newRow("no date") << QString() << false;
        QTest::newRow("no date, dark") << QString() << true;
    }
    void dateUnderTheTitle()
    {
        QFETCH(QString, date);
        QFETCH(bool, dark);
        setDarkTheme(dark);
        NoticeDialog dialog(3, QStringLiteral("标题"), QStringLiteral("正文"), QString(), QString());
        dialog.setDate(date);
        const QImage img = render(dialog);
        // Text stands out from the card far more than the faint picture behind it; the separator's own rows
        // (52 and 53, antialiased) are left out.
        const double card = NoticeDialog::cardColor().lightnessF();
        int textPixels = 0;
        for (int y = 42; y < 62; ++y)
            for (int x = 74; x <= 396; ++x)
                textPixels += y != 52 && y != 53 && std::abs(img.pixelColor(x, y).lightnessF() - card) > 0.2;
        if (date.isEmpty()) {
            QCOMPARE(textPixels, 0);
            // The line runs unbroken through the middle.
            for (int x = 200; x <= 270; x += 10)
                QVERIFY2(img.pixelColor(x, 52).rgb() != NoticeDialog::cardColor().rgb(),
                         qPrintable(QString::number(x)));
        } else {
            QVERIFY2(textPixels > 40, qPrintable(QString::number(textPixels)));
        }
    }

    void rendered_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("url");
        QTest::newRow("light-zh-link") << false << 0 << "https://e.com";
        QTest::newRow("dark-en-link") << true << 1 << "https://e.com";
        QTest::newRow("light-en-plain") << false << 1 << QString();
        QTest::newRow("dark-zh-plain") << true << 0 << QString();
    }
    void rendered()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        QFETCH(QString, url);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        NoticeDialog dialog(
            3, QStringLiteral("系统维护通知"),
            QStringLiteral("为提升服务质量，服务器将于今晚 22:00 至 23:00 进行例行维护，期间登录、应用市场与客服"
                           "可能暂时不可用。\n\nWe are sorry for the inconvenience. A long English sentence "
                           "wraps at the last space before the right edge of the body."),
            url, QStringLiteral("#E67E22"));
        dialog.setDate(QStringLiteral("2026-01-15 09:00"));
        const QImage img = render(dialog);
        Lang::setLanguage(0);
        ktr::test::saveShot(img, QStringLiteral("notice-") + QString::fromLatin1(QTest::currentDataTag()));
        // The card is filled inside, the corner outside the rounded card stays clear.
        QCOMPARE(img.pixelColor(20, 64).rgb(), NoticeDialog::cardColor().rgb());
        QCOMPARE(img.pixelColor(0, 0).alpha(), 0);
        // The primary button is filled with the accent colour in its middle row away from the label.
        const QRect b = dialog.primaryButtonRect();
        QCOMPARE(img.pixelColor(b.left() + 4, b.center().y()).rgb(), currentTheme().accent.rgb());
    }
};

KTR_TEST_MAIN(TestNoticeDialog)
#include "tst_noticedialog.moc"
