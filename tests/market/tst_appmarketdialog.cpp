// The market window: its size, the cards in every state in both palettes and languages, hit codes,
// mouse and wheel, the captions and status lines, the card menu and its icons.
#include "looktable.h"
#include "market/appmarketdialog.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/theme.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QToolTip>
#include <QtTest/QtTest>

namespace {

using Row = MarketAppRow;

Row app(const QString& id, const QString& name)
{
    Row r;
    r.id = id;
    r.name = name;
    r.desc = QStringLiteral("一个用于演示的应用 / a demo app");
    r.version = QStringLiteral("2.0");
    r.size = 3 << 20;
    r.searchKey = (name + " " + r.desc).toLower();
    return r;
}

// Every state a card shows, cycled over the 40 apps.
QList<Row> fortyApps()
{
    QList<Row> rows;
    for (int i = 0; i < 40; ++i) {
        Row r = app(QStringLiteral("app%1").arg(i), QStringLiteral("应用 %1 App").arg(i));
        switch (i % 8) {
        case 0:
            break; // not installed
        case 1:
            r.downloading = true;
            r.total = 10 << 20;
            r.received = 3 << 20;
            break;
        case 2:
            r.paused = true;
            r.total = 10 << 20;
            r.received = 7 << 20;
            break;
        case 3:
            r.installing = r.extracting = true;
            break;
        case 4:
            r.installedVersion = "2.0";
            r.installedSize = 123456;
            break;
        case 5:
            r.installedVersion = "1.0";
            break;
        case 6:
            r.errorText = Lang::later("解压失败");
            break;
        case 7:
            r.sdkVersion = "1.0.0";
            break;
        }
        rows.append(r);
    }
    return rows;
}

QImage render(AppMarketDialog& d)
{
    QImage img(d.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    d.render(&img);
    return img;
}

int codeAt(const AppMarketDialog& d, int code, QRect* rect = nullptr)
{
    for (const auto& h : d.hitAreas()) {
        if (h.code == code) {
            if (rect)
                *rect = h.rect;
            return code;
        }
    }
    return -1;
}

} // namespace

class TestAppMarketDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppMarketDialog> makeDialog(const QList<Row>& rows)
    {
        auto d = std::make_unique<AppMarketDialog>();
        d->catalogue().rows = rows;
        d->catalogue().indexLoaded = true;
        return d;
    }

private Q_SLOTS:
    void cleanup()
    {
        Lang::setLanguage(0);
        setDarkTheme(false);
    }

    void sizeFollowsScreen()
    {
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        AppMarketDialog d;
        const int w = std::clamp(avail.width() - 40, 640, 780);
        const int h = std::clamp(avail.height() - 80, 420, 540);
        QCOMPARE(d.size(), QSize(w, h));
        QCOMPARE(d.cardWidth(), (w - 44) / 2);
        QVERIFY(d.windowFlags() & Qt::FramelessWindowHint);
    }

    // The window's fixed texts fit whole in both languages: the hint beside the title (11 px), each tab at its
    // normal 13 px, and the footer hint (11 px). The painter would shorten or shrink them unseen.
    void fixedTextsFit_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("chinese") << 0;
        QTest::newRow("english") << 1;
    }
    void fixedTextsFit()
    {
        QFETCH(int, language);
        Lang::setLanguage(language);
        const int W = AppMarketDialog().width();
        const auto font = [](int px) {
            QFont f(uiFontFamily());
            f.setPixelSize(px);
            return QFontMetrics(f);
        };
        QStringList cut;
        const auto check = [&](const char* text, int px, int room) {
            const int w = font(px).horizontalAdvance(Lang::tr(text));
            if (w > room)
                cut << QStringLiteral("\"%1\" needs %2 of %3").arg(Lang::tr(text)).arg(w).arg(room);
        };
        check("没装的显示「安装」，有新版本显示「升级」，已装的可以打开 / 重装 / 卸载", 11, W - 51 - 130);
        for (const char* tab : {"程序应用", "网页应用", "界面美化"})
            check(tab, 13, 88 - 4);
        check("点右侧按钮即可安装或升级；安装完成后会自动创建「应用市场」分组并把程序图标加入面板，也可通过「⋮」菜单重"
              "装 / 卸载。",
              11, W - 17 - 16);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << QString();
        QTest::newRow("one byte") << qint64(1) << "0.0 KB";
        QTest::newRow("kb") << qint64(1536) << "1.5 KB";
        QTest::newRow("just below a MiB") << qint64(1048575) << "1024.0 KB";
        QTest::newRow("mb") << qint64(3 << 20) << "3.0 MB";
    }
    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(AppMarketDialog::formatSize(bytes), text);
    }

    void texts_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("status");
        const QList<Row> rows = fortyApps();
        QTest::newRow("not installed") << 0 << "安装"
                                       << "未安装";
        QTest::newRow("downloading") << 1 << "暂停"
                                     << "下载中 30%";
        QTest::newRow("paused") << 2 << "继续"
                                << "已暂停 70%";
        QTest::newRow("installing") << 3 << "安装中"
                                    << "安装中…";
        QTest::newRow("installed") << 4 << "已安装"
                                   << "已安装 2.0";
        QTest::newRow("update") << 5 << "升级"
                                << "1.0 → 2.0";
        QTest::newRow("failed") << 6 << "重试"
                                << "解压失败";
        QTest::newRow("deploying") << 8 << "暂停"
                                   << "环境部署中 30%";
        QTest::newRow("web") << 9 << "打开"
                             << "未安装";
    }
    void texts()
    {
        QFETCH(int, state);
        QFETCH(QString, caption);
        QFETCH(QString, status);
        QList<Row> rows = fortyApps();
        Row r = state < 8 ? rows.at(state) : rows.at(1);
        if (state == 8)
            r.exeSize = 2 << 20;
        if (state == 9) {
            r = rows.at(0);
            r.isWeb = true;
        }
        AppMarketDialog d;
        QCOMPARE(d.mainButtonCaption(r), caption);
        QCOMPARE(d.statusLine(r), status);
    }

    void cardsInEveryState_data() { ktr::test::addThemeAndLanguageRows(); }
    void cardsInEveryState()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setDarkTheme(dark);
        Lang::setLanguage(language);
        auto d = makeDialog(fortyApps());
        const QImage top = render(*d);
        QCOMPARE(d->shownCards(), 40);
        const int C = d->cardWidth();
        // Card 0 (not installed): its fill, and its main and menu buttons where the layout puts them.
        QCOMPARE(top.pixelColor(16 + 6, 88 + 40), QColor(dark ? "#3A4152" : "#FFFFFF"));
        QRect main;
        QCOMPARE(codeAt(*d, 0 * 256 + 1, &main), 1);
        QCOMPARE(main, QRect(16 + C - 93, 88 + 23, 72, 30));
        QCOMPARE(top.pixelColor(main.left() + 4, main.center().y()).name(), QString(dark ? "#5e8bf3" : "#4c7df0"));
        QCOMPARE(codeAt(*d, 0 * 256 + 2), 2);
        // Card 1 (downloading, 30%): pause and cancel, the accent bar, no main or menu button.
        const int x1 = 16 + C + 12;
        QCOMPARE(codeAt(*d, 1 * 256 + 4), 256 + 4);
        QCOMPARE(codeAt(*d, 1 * 256 + 5), 256 + 5);
        QCOMPARE(codeAt(*d, 1 * 256 + 1), -1);
        QCOMPARE(codeAt(*d, 1 * 256 + 2), -1);
        QCOMPARE(top.pixelColor(x1 + 71 + 20, 88 + 64).name(), QString(dark ? "#5e8bf3" : "#4c7df0"));
        QCOMPARE(top.pixelColor(x1 + 71 + 100, 88 + 64), QColor(dark ? "#333845" : "#EDF0F6"));
        // Card 4 (installed, current): secondary button.
        QRect installed;
        QCOMPARE(codeAt(*d, 4 * 256 + 1, &installed), 4 * 256 + 1);
        QCOMPARE(top.pixelColor(installed.left() + 3, installed.center().y()), QColor(dark ? "#313745" : "#F5F6FA"));
        // The footer hint in its colour somewhere along its line.
        ktr::test::saveShot(top, QStringLiteral("market-top-%1").arg(QTest::currentDataTag()));
        QWheelEvent wheel(QPointF(100, 200), QPointF(100, 200), QPoint(), QPoint(0, -12000), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(d.get(), &wheel);
        QCOMPARE(d->scrollY(), 20 * 86 - d->height() + 124);
        const QImage bottom = render(*d);
        ktr::test::saveShot(bottom, QStringLiteral("market-bottom-%1").arg(QTest::currentDataTag()));
        // The notice pill over the footer.
        d->showRegistryWriteNotice();
        const QImage notice = render(*d);
        QCOMPARE(notice.pixelColor(20 + 4, d->height() - 12), QColor("#FDECEC"));
        ktr::test::saveShot(notice, QStringLiteral("market-notice-%1").arg(QTest::currentDataTag()));
    }

    void emptyAndLoadingMessages()
    {
        AppMarketDialog d;
        render(d);
        QCOMPARE(d.shownCards(), 0);
        d.catalogue().indexFailed = true;
        const QImage failed = render(d);
        ktr::test::saveShot(failed, QStringLiteral("market-failed"));
        // Only tabs and the close button are hit areas.
        QCOMPARE(d.hitAreas().size(), 4);
    }

    void mouse()
    {
        QList<Row> rows = fortyApps();
        rows[1].isWeb = true;
        rows[1].downloading = false;
        auto d = makeDialog(rows);
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        render(*d);
        QSignalSpy login(d.get(), &AppMarketDialog::loginRequested);
        QRect main0, main2;
        codeAt(*d, 0 * 256 + 1, &main0);
        codeAt(*d, 4 * 256 + 1, &main2);
        // Pressed on one button, released on another: nothing.
        QTest::mousePress(d.get(), Qt::LeftButton, {}, main0.center());
        QTest::mouseRelease(d.get(), Qt::LeftButton, {}, main2.center());
        QCOMPARE(login.count(), 0);
        // Without a token, the main button asks for a login.
        QTest::mouseClick(d.get(), Qt::LeftButton, {}, main0.center());
        QCOMPARE(login.count(), 1);
        // A card that is being installed ignores its button.
        QRect busy;
        QCOMPARE(codeAt(*d, 3 * 256 + 1, &busy), 3 * 256 + 1);
        QTest::mouseClick(d.get(), Qt::LeftButton, {}, busy.center());
        QCOMPARE(login.count(), 1);
        // Tabs: web apps only in tab 1.
        QTest::mouseClick(d.get(), Qt::LeftButton, {}, QPoint(16 + 96 + 44, 60));
        QCOMPARE(d->selectedTab(), 1);
        render(*d);
        QCOMPARE(d->shownCards(), 1);
        QCOMPARE(codeAt(*d, 1 * 256 + 2), -1); // no card menu for a web app
        QRect webMain;
        QCOMPARE(codeAt(*d, 1 * 256 + 1, &webMain), 256 + 1);
        QCOMPARE(webMain.left(), 16 + d->cardWidth() - 85);
        // With few cards the list does not scroll.
        QWheelEvent wheel(QPointF(100, 200), QPointF(100, 200), QPoint(), QPoint(0, -1200), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(d.get(), &wheel);
        QCOMPARE(d->scrollY(), 0);
        QTest::mouseClick(d.get(), Qt::LeftButton, {}, QPoint(d->width() - 21, 21));
        QVERIFY(!d->isVisible());
    }

    // A card line too long for the card (an English error text often is) is shortened on the card and shown
    // whole as the tooltip; a line that fits has none.
    void shortenedLinesShowWholeAsTooltip_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("tip");
        QTest::newRow("short error fits") << 0 << QStringLiteral("解压失败") << false;
        QTest::newRow("en network error") << 1 << QStringLiteral("下载失败（网络中断，请重试）") << true;
    }
    void shortenedLinesShowWholeAsTooltip()
    {
        QFETCH(int, language);
        QFETCH(QString, error);
        QFETCH(bool, tip);
        Lang::setLanguage(language);
        Row r = app(QStringLiteral("cut"), QStringLiteral("Cut"));
        r.desc = QStringLiteral("demo");
        r.errorText = Lang::later(error);
        auto d = makeDialog({r});
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        render(*d);
        const QString status = d->statusLine(d->catalogue().rows.first());
        QVERIFY(status.contains(r.errorText.shown()));
        QRect where;
        for (const auto& t : d->tipAreas()) {
            if (t.text.endsWith(status))
                where = t.rect;
        }
        QCOMPARE(!where.isNull(), tip);
        if (!tip)
            return;
        QHelpEvent help(QEvent::ToolTip, where.center(), d->mapToGlobal(where.center()));
        QApplication::sendEvent(d.get(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY2(QToolTip::text().endsWith(status), qPrintable(QToolTip::text()));
        // Away from the line, no tooltip.
        QHelpEvent away(QEvent::ToolTip, QPoint(d->width() / 2, d->height() - 60),
                        d->mapToGlobal(QPoint(d->width() / 2, d->height() - 60)));
        QApplication::sendEvent(d.get(), &away);
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void search()
    {
        auto d = makeDialog(fortyApps());
        render(*d);
        QWheelEvent wheel(QPointF(100, 200), QPointF(100, 200), QPoint(), QPoint(0, -1200), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(d.get(), &wheel);
        QVERIFY(d->scrollY() > 0);
        auto* field = d->findChild<QLineEdit*>();
        QVERIFY(field);
        field->setText(QStringLiteral("  应用 3 APP "));
        QCOMPARE(d->scrollY(), 0);
        render(*d);
        QCOMPARE(d->shownCards(), 1); // trimmed and lower-cased: only "应用 3 App"
        field->setText(QStringLiteral("nothing like it"));
        const QImage none = render(*d);
        QCOMPARE(d->shownCards(), 0);
        ktr::test::saveShot(none, QStringLiteral("market-no-match"));
    }

    void cardMenu()
    {
        QList<Row> rows = fortyApps();
        AppMarketDialog d;
        auto entries = d.itemMenuEntries(rows.at(0));
        QStringList texts;
        QList<bool> enabled;
        for (const auto& e : entries) {
            texts << e.text;
            enabled << e.enabled;
        }
        QCOMPARE(texts, QStringList({"打开", "安装", "打开所在位置", "卸载", "添加到面板", "演示官网"}));
        QCOMPARE(enabled, QList<bool>({false, true, false, false, false, false}));
        entries = d.itemMenuEntries(rows.at(4));
        QCOMPARE(entries.at(1).text, QStringLiteral("重装"));
        QVERIFY(entries.at(0).enabled && entries.at(3).enabled && entries.at(4).enabled);
        Row web = rows.at(0);
        web.isWeb = true;
        entries = d.itemMenuEntries(web);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.at(1).iconKind, 5);
    }

    // The card menu is a popup of its own: it and its icons follow the theme (it stayed white in the dark one).
    void cardMenuFollowsTheTheme_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void cardMenuFollowsTheTheme()
    {
        QFETCH(bool, dark);
        setDarkTheme(dark);
        QList<Row> rows = fortyApps();
        AppMarketDialog d;
        QImage shot;
        // The lightness of the ink of each entry's icon as the menu draws it: enabled or disabled.
        QList<int> enabledInk, disabledInk;
        const auto ink = [](const QImage& img) {
            int sum = 0, n = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (img.pixelColor(x, y).alpha() > 200) {
                        sum += img.pixelColor(x, y).lightness();
                        ++n;
                    }
            return n ? sum / n : -1;
        };
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activePopupWidget());
            QWidget* popup = QApplication::activePopupWidget();
            shot = popup->grab().toImage();
            for (QAction* a : popup->actions()) {
                if (a->icon().isNull())
                    continue;
                const QIcon::Mode mode = a->isEnabled() ? QIcon::Normal : QIcon::Disabled;
                (a->isEnabled() ? enabledInk : disabledInk) << ink(a->icon().pixmap(QSize(16, 16), mode).toImage());
            }
            popup->close();
        });
        d.showItemMenu(rows[4]);
        QVERIFY(!shot.isNull());
        // Beside the entries' texts, right of the longest one: the menu's own ground.
        const QColor ground = shot.pixelColor(shot.width() - 12, shot.height() / 2);
        QVERIFY2(dark ? ground.lightness() < 80 : ground.lightness() > 200, qPrintable(ground.name()));
        // The icons stand out from that ground.
        const QImage icon = AppMarketDialog::menuIcon(1).toImage();
        int darkest = 255, lightest = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (icon.pixelColor(x, y).alpha() > 200) {
                    darkest = std::min(darkest, icon.pixelColor(x, y).lightness());
                    lightest = std::max(lightest, icon.pixelColor(x, y).lightness());
                }
        QVERIFY2(dark ? darkest - ground.lightness() > 80 : ground.lightness() - lightest > 80,
                 qPrintable(QStringLiteral("%1 %2").arg(darkest).arg(lightest)));
        // A disabled entry's icon lies between the ground and the enabled icons, as its text does.
        QVERIFY(!enabledInk.isEmpty() && !disabledInk.isEmpty());
        for (int off : disabledInk)
            for (int on : enabledInk)
                QVERIFY2(
                    dark ? off < on && off > ground.lightness() : off > on && off < ground.lightness(),
                    qPrintable(
                        QStringLiteral("disabled %1 enabled %2 ground %3").arg(off).arg(on).arg(ground.lightness())));
    }

    void menuIcons()
    {
        for (int kind = 0; kind <= 5; ++kind) {
            const QImage img = AppMarketDialog::menuIcon(kind).toImage();
            QCOMPARE(img.size(), QSize(16, 16));
            QCOMPARE(img.pixelColor(0, 0).alpha(), 0);
            int inked = 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    inked += img.pixelColor(x, y).alpha() > 200 ? 1 : 0;
            QVERIFY2(inked > 4, qPrintable(QString::number(kind)));
        }
        QCOMPARE(AppMarketDialog::menuIcon(2).cacheKey(), AppMarketDialog::menuIcon(2).cacheKey());
    }
};

KTR_TEST_MAIN(TestAppMarketDialog)
#include "tst_appmarketdialog.moc"
