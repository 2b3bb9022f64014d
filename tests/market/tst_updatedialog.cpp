#include "looktable.h"
#include "market/updatedialog.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QSignalSpy>
#include <QtTest/QtTest>

using namespace ktr::test;

namespace {

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

bool near(const QColor& a, const QColor& b, int tolerance = 12)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

const QString kSample = QStringLiteral("新增应用市场分类①修复托盘图标在高分屏下模糊的问题；②优化启动速度；");

} // namespace

class TestUpdateDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        setDarkTheme(false);
        Lang::setLanguage(0);
    }

    void notesSplit_data()
    {
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("run-on items") << kSample
                                      << QStringList{"新增应用市场分类", "①修复托盘图标在高分屏下模糊的问题",
                                                     "②优化启动速度"};
        QTest::newRow("starts with ①, second ① stays") << "①甲，②乙①丙" << QStringList{"①甲", "②乙①丙"};
        QTest::newRow("mixed trailing marks") << "one;，,；\n\n  two  " << QStringList{"one", "two"};
        QTest::newRow("only marks") << "a\n；;" << QStringList{"a", ""};
        QTest::newRow("⑳ breaks too") << "x⑳y" << QStringList{"x", "⑳y"};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void notesSplit()
    {
        QFETCH(QString, notes);
        QFETCH(QStringList, lines);
        QCOMPARE(UpdateDialog::splitNotes(notes), lines);
    }

    void sizeFollowsScreenAndNotes()
    {
        UpdateDialog card;
        card.setUpdateInfo("1.0.137", QString(), QString());
        card.relayoutFor(QRect(0, 0, 1280, 680));
        QCOMPARE(card.width(), 440);
        QCOMPARE(card.height(), 300); // one default line
        card.setUpdateInfo("1.0.137", QString("很长的更新说明。").repeated(400), QString());
        card.relayoutFor(QRect(0, 0, 1280, 680));
        QCOMPARE(card.size(), QSize(440, 620));
        card.relayoutFor(QRect(0, 0, 300, 320)); // too small: the floor wins
        QCOMPARE(card.size(), QSize(320, 300));
        card.relayoutFor(QRect());
        QCOMPARE(card.width(), 440);
        QVERIFY(card.height() <= 840);
    }

    void progressBar_data()
    {
        QTest::addColumn<int>("percent");
        QTest::newRow("37") << 37;
        QTest::newRow("0") << 0;
    }
    void progressBar()
    {
        QFETCH(int, percent);
        UpdateDialog card;
        card.setUpdateInfo("1.0.137", kSample, QString());
        card.setProgress(percent);
        QCOMPARE(card.statusText(), QStringLiteral("正在下载更新… %1%").arg(percent));
        const QImage img = render(card);
        const int w = card.width();
        const int bar = std::max(3, (w - 48) * percent / 100);
        const int y = card.notesHeight() + 145;
        const Theme& t = currentTheme();
        QVERIFY2(near(img.pixelColor(24 + bar - 2, y), t.accent), qPrintable(img.pixelColor(24 + bar - 2, y).name()));
        QVERIFY2(near(img.pixelColor(24 + bar + 3, y), t.sliderTrack),
                 qPrintable(img.pixelColor(24 + bar + 3, y).name()));
        saveShot(img, QStringLiteral("updatedialog-progress-%1").arg(percent));
    }

    void clicks()
    {
        QStringList opened;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened << url.toString();
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        UpdateDialog card;
        card.setUpdateInfo("1.0.137", kSample, QString());
        render(card);
        QSignalSpy update(&card, &UpdateDialog::updateClicked);
        QSignalSpy dismissed(&card, &UpdateDialog::dismissed);
        QSignalSpy minimized(&card, &UpdateDialog::minimized);
        const int w = card.width();
        const int h = card.height();
        const QPoint updateAt(w - 68, h - 33), laterAt(w - 156, h - 33), closeAt(w - 25, 25), minimizeAt(w - 53, 25),
            siteAt(60, h - 33);
        QCOMPARE(card.partAt(updateAt), 1);
        QCOMPARE(card.partAt(laterAt), 2);
        QCOMPARE(card.partAt(closeAt), 3);
        QCOMPARE(card.partAt(siteAt), 4);
        QCOMPARE(card.partAt(minimizeAt), 5);
        QCOMPARE(card.partAt(QPoint(w / 2, 20)), 0);

        // Pressed on one button, released on another: nothing.
        QTest::mousePress(&card, Qt::LeftButton, {}, updateAt);
        QTest::mouseRelease(&card, Qt::LeftButton, {}, laterAt);
        QTest::qWait(0);
        QCOMPARE(update.count() + dismissed.count(), 0);

        QTest::mouseClick(&card, Qt::LeftButton, {}, updateAt);
        QVERIFY(update.wait(1000));
        QTest::mouseClick(&card, Qt::LeftButton, {}, laterAt);
        QTest::mouseClick(&card, Qt::LeftButton, {}, closeAt);
        QCOMPARE(dismissed.count(), 2);
        QTest::mouseClick(&card, Qt::LeftButton, {}, siteAt);
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened.first().endsWith('/'));

        // Busy: the update button ignores clicks, later and minimise stay live.
        card.setStatusText(QStringLiteral("正在连接服务器…"));
        QTest::mouseClick(&card, Qt::LeftButton, {}, updateAt);
        QTest::qWait(0);
        QCOMPARE(update.count(), 1);
        QTest::mouseClick(&card, Qt::LeftButton, {}, minimizeAt);
        QCOMPARE(minimized.count(), 1);

        // A new offer clears the status line and brings the card back.
        card.setUpdateInfo("1.0.138", kSample, QString());
        QVERIFY(card.statusText().isEmpty());
        QCOMPARE(card.progress(), -1);
        QVERIFY(!card.isMinimized());
        QCOMPARE(card.windowModality(), Qt::ApplicationModal);
        card.hide();
        QCOMPARE(card.windowModality(), Qt::NonModal);
    }

    void looks_data() { addThemeAndLanguageRows(); }
    void looks()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        UpdateDialog card;
        card.setUpdateInfo("1.0.137", kSample, QString());
        const Theme& t = currentTheme();
        QImage img = render(card);
        const int w = card.width();
        const int h = card.height();
        // The card fill inside, the accent update button, the later button's fill.
        QVERIFY(near(img.pixelColor(w / 2, h / 2 + 40), t.windowBackground));
        QVERIFY(near(img.pixelColor(w - 110, h - 46), t.accent));
        QVERIFY(near(img.pixelColor(w - 190, h - 46), t.cardBackground));
        QCOMPARE(img.pixelColor(1, 1).alpha(), 0); // rounded, translucent corner
        saveShot(img, QStringLiteral("updatedialog-%1-%2").arg(dark ? "dark" : "light", language ? "en" : "zh"));
        card.setProgress(62);
        saveShot(render(card),
                 QStringLiteral("updatedialog-busy-%1-%2").arg(dark ? "dark" : "light", language ? "en" : "zh"));
        card.setUpdateInfo("1.0.138", kSample, QStringLiteral("发现测试版 v1.0.138"));
        saveShot(render(card),
                 QStringLiteral("updatedialog-beta-%1-%2").arg(dark ? "dark" : "light", language ? "en" : "zh"));
    }
};

KTR_TEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
