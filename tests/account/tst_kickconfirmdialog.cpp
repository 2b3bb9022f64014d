// The device confirmation dialog: its rows, quota badge and layout measured with the fonts, its buttons
// driven with synthetic clicks, and renders in both palettes and languages.

#include "account/accountpaint.h"
#include "account/kickconfirmdialog.h"
#include "accountshots.h"
#include "ui/dialogseams.h"

#include <QApplication>

using namespace ktr::test;
using Device = AuthManager::KickDevice;

namespace {

QList<Device> devicesOf(int n)
{
    QList<Device> out;
    for (int i = 0; i < n; ++i)
        out.append(Device{QStringLiteral("PC-%1").arg(i + 1), QStringLiteral("10.0.0.%1").arg(i + 1),
                          QStringLiteral("2026-10-31 15:42:0%1").arg(i)});
    return out;
}

int advance(int px, const QString& s)
{
    return QFontMetrics(uiFont(px)).horizontalAdvance(s);
}

} // namespace

class TestKickConfirmDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rowsAndLayout_data()
    {
        QTest::addColumn<int>("given");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("none") << 0 << QStringList{QStringLiteral("另一台电脑")};
        QTest::newRow("one") << 1 << QStringList{"PC-1"};
        QTest::newRow("three") << 3 << QStringList{"PC-1", "PC-2", "PC-3"};
        QTest::newRow("five") << 5 << QStringList{"PC-1", "PC-2", "PC-3", QStringLiteral("…另有 2 台")};
    }
    void rowsAndLayout()
    {
        QFETCH(int, given);
        QFETCH(QStringList, names);
        KickConfirmDialog d(devicesOf(given), 1);
        QStringList shown;
        for (const Device& dev : d.devices())
            shown << dev.name;
        QCOMPARE(shown, names);
        const int rows = int(names.size());
        if (given == 0 || given == 5) // the stand-in and the summary rows carry no ip or time
            QVERIFY(d.devices().last().ip.isEmpty() && d.devices().last().lastSeen.isEmpty());

        QCOMPARE(d.rowRects().size(), rows);
        for (int i = 0; i < rows; ++i)
            QCOMPARE(d.rowRects()[i], QRect(44, 76 + 46 * i, 472, 46));
        QCOMPARE(d.listRect(), QRect(28, 68, 504, 46 * rows + 20));
        const QString warning =
            Lang::tr("继续登录后，以上电脑会退出该账户，正在运行的应用市场程序也会被关闭，需要重新登录。");
        const int h =
            QFontMetrics(uiFont(13)).boundingRect(QRect(0, 0, 504, 100000), Qt::TextWordWrap, warning).height();
        QCOMPARE(d.warningRect(), QRect(28, 46 * rows + 105, 504, std::max(h + 4, 20)));
        const int l = d.warningRect().top() + d.warningRect().height();
        QCOMPARE(d.size(), QSize(560, l + 83));
        QCOMPARE(d.devicesRect(), QRect(28, l + 21, std::max(advance(13, Lang::tr("增加授权设备数")) + 60, 150), 40));
        const int cw = std::max(advance(13, Lang::tr("继续登录")) + 56, 112);
        QCOMPARE(d.confirmRect(), QRect(532 - cw, l + 21, cw, 40));
        QCOMPARE(d.confirmRect().right(), 531);
    }

    void quotaBadge_data()
    {
        QTest::addColumn<int>("maxDevices");
        QTest::addColumn<QString>("text");
        QTest::newRow("one") << 1 << QStringLiteral("授权 1 台设备");
        QTest::newRow("five") << 5 << QStringLiteral("授权 5 台设备");
        QTest::newRow("zero") << 0 << QStringLiteral("不限设备数");
        QTest::newRow("negative") << -3 << QStringLiteral("不限设备数");
    }
    void quotaBadge()
    {
        QFETCH(int, maxDevices);
        QFETCH(QString, text);
        KickConfirmDialog d(devicesOf(1), maxDevices);
        QCOMPARE(d.quotaText(), text);
        const int w = advance(11, text);
        QCOMPARE(d.quotaRect(), QRect(472 - w, 24, w + 26, 22));
        QCOMPARE(d.quotaRect().right(), 497);
        QCOMPARE(d.titleRect(), QRect(69, 20, std::max(512 - w - 121, 140), 32));
    }

    // A long name gives way to the ip, which keeps its place at the row's end; the name box never
    // shrinks below 40 px.
    void longNamesAndIps()
    {
        const QString longName(200, QLatin1Char('N'));
        KickConfirmDialog d({Device{longName, "203.0.113.7", "t"}, Device{"short", QString(500, QLatin1Char('9')), ""},
                             Device{"no ip", "", ""}},
                            1);
        const QRect row = d.rowRects()[0];
        QCOMPARE(d.ipBox(0).right(), row.right());
        QCOMPARE(d.ipBox(0).width(), advance(12, "203.0.113.7") + 8);
        QCOMPARE(d.nameBox(0).left(), row.left() + 24);
        QCOMPARE(d.nameBox(0).right() + 1, d.ipBox(0).left());
        QCOMPARE(d.nameBox(1).width(), 40);
        QCOMPARE(d.nameBox(2).right(), d.rowRects()[2].right());
        QVERIFY(d.ipBox(2).isEmpty());
    }

    void buttons_data()
    {
        QTest::addColumn<int>("button"); // 1 confirm, 2 devices, 3 close
        QTest::addColumn<bool>("releaseOutside");
        QTest::addColumn<int>("result"); // -1 still open
        QTest::addColumn<QString>("url");
        QTest::newRow("confirm") << 1 << false << int(QDialog::Accepted) << QString();
        QTest::newRow("confirm, released outside") << 1 << true << -1 << QString();
        QTest::newRow("devices page") << 2 << false << -1 << QStringLiteral("/#devices");
        QTest::newRow("close") << 3 << false << int(QDialog::Rejected) << QString();
    }
    void buttons()
    {
        QFETCH(int, button);
        QFETCH(bool, releaseOutside);
        QFETCH(int, result);
        QFETCH(QString, url);
        qputenv("KTR_SERVICE_HOST", "http://127.0.0.1:9");
        UrlCatcher caught;
        QList<QUrl>& opened = caught.urls;
        KickConfirmDialog d(devicesOf(2), 1);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QSignalSpy finished(&d, &QDialog::finished);
        const QRect target = button == 1 ? d.confirmRect() : button == 2 ? d.devicesRect() : d.closeRect();
        QTest::mouseMove(&d, QPoint(2, 2)); // a move to where the pointer already is would not arrive
        QTest::mouseMove(&d, target.center());
        QCOMPARE(d.hoverId(), button);
        QTest::mousePress(&d, Qt::LeftButton, {}, target.center());
        QCOMPARE(d.pressedId(), button);
        const QPoint release = releaseOutside ? d.listRect().center() : target.center();
        QTest::mouseMove(&d, release);
        QTest::mouseRelease(&d, Qt::LeftButton, {}, release);
        QCOMPARE(d.pressedId(), 0);
        if (result < 0) {
            QCOMPARE(finished.count(), 0);
            QVERIFY(d.isVisible());
        } else {
            QCOMPARE(finished.count(), 1);
            QCOMPARE(d.result(), result);
        }
        if (url.isEmpty()) {
            QVERIFY(opened.isEmpty());
        } else {
            QCOMPARE(opened.size(), 1);
            QCOMPARE(opened[0].toString(), QStringLiteral("http://127.0.0.1:9") + url);
        }
    }

    void escapeRejects()
    {
        KickConfirmDialog d(devicesOf(1), 1);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTest::keyClick(&d, Qt::Key_Escape);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(!d.isVisible());
    }

    void renders_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("english");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("maxDevices");
        for (bool dark : {false, true})
            for (bool english : {false, true}) {
                QTest::addRow("%s one", qPrintable(lookName(dark, english))) << dark << english << 1 << 1;
                QTest::addRow("%s five unlimited", qPrintable(lookName(dark, english))) << dark << english << 5 << 0;
            }
    }
    void renders()
    {
        QFETCH(bool, dark);
        QFETCH(bool, english);
        QFETCH(int, count);
        QFETCH(int, maxDevices);
        LookScope look(dark, english);
        KickConfirmDialog d(devicesOf(count), maxDevices);
        const QImage img = renderWidget(d);
        const QColor card = dark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white);
        QVERIFY(near(pixelAt(img, 20, d.height() / 2), card, 2));
        QCOMPARE(pixelAt(img, 0, 0).alpha(), 0); // the rounded corner lets the desktop through
        const QColor badge = dark ? QColor(0x3B, 0x2C, 0x31) : QColor(0xFD, 0xED, 0xED);
        QVERIFY(near(pixelAt(img, d.quotaRect().left() + 8, d.quotaRect().top() + 3), badge, 2));
        QVERIFY(countNear(img, d.quotaRect(), QColor(0xE5, 0x48, 0x4D), 40) > 5); // the quota text
        const QColor list = dark ? QColor(0x33, 0x38, 0x44) : QColor(0xF6, 0xF8, 0xFB);
        QVERIFY(near(pixelAt(img, d.listRect().left() + 6, d.listRect().center().y()), list, 2));
        QVERIFY(
            near(pixelAt(img, d.confirmRect().left() + 5, d.confirmRect().center().y()), QColor(0xE5, 0x48, 0x4D), 2));
        // Every row has its name in the body text colour.
        for (const QRect& r : d.rowRects())
            QVERIFY(countNear(img, QRect(r.x() + 24, r.y() + 5, 200, 20), currentTheme().labelText, 40) > 5);
        saveShot(img,
                 QStringLiteral("kickconfirm-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
    }

    void followsLanguage()
    {
        KickConfirmDialog one(devicesOf(1), 1);
        KickConfirmDialog d(devicesOf(5), 2);
        const QRect zh = d.quotaRect();
        Lang::setLanguage(1);
        Lang::notifyChanged();
        QCOMPARE(d.quotaText(), QStringLiteral("2 devices authorized"));
        QCOMPARE(one.quotaText(), QStringLiteral("1 device authorized"));
        QCOMPARE(d.devices().last().name, QStringLiteral("…and 2 more"));
        QCOMPARE(d.quotaRect().width(), advance(11, d.quotaText()) + 26);
        QVERIFY(d.quotaRect() != zh);
        Lang::setLanguage(0);
        Lang::notifyChanged();
    }

    // The title is read whole in both languages, whatever room the quota badge leaves it: it keeps to its
    // box, which stays clear of the badge, the close button and the list.
    void titleShownWhole_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("maxDevices");
        QTest::newRow("Chinese") << 0 << 2;
        QTest::newRow("English, one device") << 1 << 1;
        QTest::newRow("English, two devices") << 1 << 2;
        QTest::newRow("English, no limit") << 1 << 0;
    }
    void titleShownWhole()
    {
        QFETCH(int, language);
        QFETCH(int, maxDevices);
        Lang::setLanguage(language);
        Lang::notifyChanged();
        KickConfirmDialog d(devicesOf(3), maxDevices);
        const QString title = Lang::tr("该账户已在其他电脑登录");
        const KickConfirmDialog::TitleLayout layout = d.titleLayout();
        const QRect needed = QFontMetrics(layout.font).boundingRect(layout.box, layout.flags, title);
        Lang::setLanguage(0);
        Lang::notifyChanged();
        QVERIFY2(layout.box.contains(needed), qPrintable(title));
        QVERIFY(layout.font.pixelSize() >= 13);
        QVERIFY(!layout.box.intersects(d.quotaRect()));
        QVERIFY(!layout.box.intersects(d.closeRect()));
        QVERIFY(layout.box.bottom() < d.listRect().top());
    }
};

KTR_TEST_MAIN(TestKickConfirmDialog)
#include "tst_kickconfirmdialog.moc"
