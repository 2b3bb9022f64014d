#include "icons/iconloader.h"
#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "logcapture.h"
#include "mainwindow/borderframe.h"
#include "mainwindow/edgedock.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowappearance.h"
#include "mainwindow/windowbackground.h"
#include "mainwindow/windowstatecontroller.h"
#include "manualclock.h"
#include "model/configstore.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "panel/uibtndrag.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/theme.h"
#include "ui/toast.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QIcon>
#include <QJsonArray>
#include <QMimeData>
#include <QMovie>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <QtTest/QtTest>

#include <memory>

using namespace ktr::test;

namespace {

QColor opaque(QColor c)
{
    c.setAlpha(255);
    return c;
}

bool near(const QColor& a, const QColor& b, int tolerance = 2)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance && qAbs(a.alpha() - b.alpha()) <= tolerance;
}

// The window's own painting, without its children.
QImage paintWindowOnly(MainWindow& w)
{
    QImage image(w.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return image;
}

// Everything the user sees, children included.
QImage paintAll(MainWindow& w)
{
    QImage image(w.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return image;
}

QString writeImage(const QString& path, QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image.save(path) ? path : QString();
}

QColor iconCentre(const QIcon& icon)
{
    const QImage image = icon.pixmap(QSize(32, 32)).toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

// What abortNetwork is checked after: each starts one timer of the window's parts.
enum class Setup { RatioChange, StalePicture, Video, GifResize, DockAnimation };

void sendDrop(QWidget* target, const QPoint& pos, int ub, int fromZone)
{
    std::unique_ptr<QMimeData> mime(makeUiBtnMimeData(ub, fromZone));
    // As the drag loop delivers them: the enter picks the target of the drop.
    QDragEnterEvent enter(pos, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(pos), Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestMainWindowAppearance : public QObject
{
    Q_OBJECT

    QString m_files;
    ManualClock m_clock;

    std::unique_ptr<MainWindow> makeWindow()
    {
        auto w = std::make_unique<MainWindow>();
        // Plain colours and no text in the title strip, so pixels can be checked anywhere in it.
        w->settings().showTitle = false;
        w->settings().showLogo = false;
        w->applyAppearance(w->settings());
        return w;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_files = ktr::test::freshDir(QStringLiteral("files"));
        useRedIconExtractor();
    }

    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void init()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
    }

    void childrenLayout_data()
    {
        QTest::addColumn<bool>("horizontalGroups");
        QTest::addColumn<QRect>("sidebar");
        QTest::addColumn<QRect>("grid");
        QTest::newRow("groups in a column") << false << QRect(0, 28, 172, 440) << QRect(172, 28, 508, 440);
        QTest::newRow("groups in a row") << true << QRect(0, 28, 680, 40) << QRect(0, 68, 680, 400);
    }
    void childrenLayout()
    {
        QFETCH(bool, horizontalGroups);
        auto w = makeWindow();
        w->settings().horizontalGroups = horizontalGroups;
        w->applyAppearance(w->settings());
        QCOMPARE(w->size(), QSize(680, 496));
        QTEST(w->sidebar()->geometry(), "sidebar");
        QTEST(w->iconGrid()->geometry(), "grid");
        QCOMPARE(w->sidebar()->isHorizontal(), horizontalGroups);
        QCOMPARE(w->bottomBar()->geometry(), QRect(0, 468, 680, 28));
        const int tw = w->titleBar()->width();
        QCOMPARE(w->titleBar()->geometry(), QRect(680 - tw, 0, tw, 28));
        QCOMPARE(w->borderFrame()->geometry(), QRect(0, 0, 680, 496));
    }

    void settingsReachWidgetsAndLog()
    {
        auto w = makeWindow();
        AppSettings& s = w->settings();
        s.cornerRadius = 30;
        s.iconSize = 64;
        s.showItemNames = false;
        s.singleClickOpen = false;
        s.showNewGroupBtn = false;
        s.customTitle = QStringLiteral("   ");
        s.obfuscateEnabled = true;
        s.btnVisible[UiBtn::Pin] = false;
        ktr::test::LogCapture log;
        w->applySettings();
        QCOMPARE(w->look().radius, 24);
        QCOMPARE(w->borderFrame()->cornerRadius(), 24);
        QCOMPARE(w->bottomBar()->cornerRadius(), 24);
        QCOMPARE(w->sidebar()->cornerRadius(), 24);
        QCOMPARE(w->iconGrid()->cornerRadius(), 24);
        QCOMPARE(themeCornerRadius(), 24);
        QCOMPARE(w->iconGrid()->iconSize(), 64);
        QVERIFY(!w->sidebar()->showNewGroupButton());
        QVERIFY(w->titleBar()->buttonState(UiBtn::Obfuscate));
        QVERIFY(w->bottomBar()->buttonState(UiBtn::Obfuscate));
        QVERIFY(w->titleBar()->buttonRect(UiBtn::Pin).isNull());
        QCOMPARE(w->windowTitle(), QStringLiteral("   "));
        QVERIFY(log.contains(QStringLiteral("settings applied: iconSize 64 radius 30 opacity 100 theme light layout "
                                            "vertical edgeSnap true autoStart true")));
    }

    // The colour layers at computed points: title strip, middle, bottom strip and the border.
    void areaColours_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("titleKind");
        QTest::addColumn<int>("midKind");
        QTest::addColumn<int>("bottomOpacity");
        QTest::newRow("light") << false << 0 << 0 << 100;
        QTest::newRow("dark") << true << 0 << 0 << 100;
        QTest::newRow("blue title, green middle") << false << 2 << 3 << 100;
        QTest::newRow("translucent bottom strip") << true << 0 << 0 << 40;
    }
    void areaColours()
    {
        QFETCH(bool, dark);
        QFETCH(int, titleKind);
        QFETCH(int, midKind);
        QFETCH(int, bottomOpacity);
        auto w = makeWindow();
        AppSettings& s = w->settings();
        s.darkTheme = dark;
        s.titleBarColor = titleKind;
        s.midColor = midKind;
        s.bottomBarOpacity = bottomOpacity;
        w->applyAppearance(s);
        const Theme& t = currentTheme();
        const QImage image = paintWindowOnly(*w);
        const int cx = w->width() / 2;
        const QColor title = titleKind ? themeKindColor(titleKind) : defaultTheme(t.isDark).surface;
        const QColor middle = midKind ? themeKindColor(midKind) : defaultTheme(t.isDark).windowBackground;
        QVERIFY(near(image.pixelColor(cx, 14), title));
        QVERIFY(near(image.pixelColor(cx, w->height() / 2), middle));
        // Under an opaque bottom bar the window shows the middle colour; under a translucent one nothing, so
        // the bar's own colour (painted by the bar) is not laid over the middle colour.
        const QColor seen = image.pixelColor(cx, w->height() - 14);
        if (bottomOpacity == 100)
            QVERIFY(near(seen, middle));
        else
            QCOMPARE(seen.alpha(), 0);
        QVERIFY(near(image.pixelColor(cx, 0), opaque(w->look().border)));
        // Outside the rounded corner nothing is painted.
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(w->borderFrame()->dividerY(), 28);
    }

    void pictureBackground_data()
    {
        QTest::addColumn<int>("titleKind");
        QTest::addColumn<int>("opacity");
        QTest::addColumn<QColor>("titleSeen");
        QTest::addColumn<QColor>("middleSeen");
        QTest::newRow("theme title shows the picture") << 0 << 100 << QColor(Qt::red) << QColor(Qt::red);
        QTest::newRow("blue title stays blue") << 2 << 100 << QColor(0x2F, 0x6F, 0xBF) << QColor(Qt::red);
        // 0 % is painted at 1 %: alpha round(255 / 100).
        QTest::newRow("opacity 0 is 1 %") << 0 << 0 << QColor(255, 0, 0, 3) << QColor(255, 0, 0, 3);
    }
    void pictureBackground()
    {
        QFETCH(int, titleKind);
        QFETCH(int, opacity);
        const QString picture = writeImage(m_files + "/red.png", QSize(200, 100), Qt::red);
        QVERIFY(!picture.isEmpty());
        auto w = makeWindow();
        AppSettings& s = w->settings();
        s.bgImagePath = picture;
        s.bgImageOpacity = opacity;
        s.titleBarColor = titleKind;
        w->applyAppearance(s);
        QCOMPARE(w->background()->still().size(), QSize(200, 100));
        const QImage image = paintWindowOnly(*w);
        QFETCH(QColor, titleSeen);
        QFETCH(QColor, middleSeen);
        const QColor title = image.pixelColor(w->width() / 2, 14);
        const QColor middle = image.pixelColor(w->width() / 2, w->height() / 2);
        if (opacity == 0) {
            QVERIFY2(title.alpha() <= 4 && middle.alpha() <= 4, qPrintable(middle.name(QColor::HexArgb)));
            QVERIFY(middle.alpha() > 0);
        } else {
            QVERIFY2(near(title, titleSeen), qPrintable(title.name(QColor::HexArgb)));
            QVERIFY2(near(middle, middleSeen), qPrintable(middle.name(QColor::HexArgb)));
        }
    }

    void largePictureIsReducedToTheScreen()
    {
        QImage big(5000, 3000, QImage::Format_RGB32);
        big.fill(Qt::green);
        const QString path = m_files + "/big.png";
        QVERIFY(big.save(path));
        auto w = makeWindow();
        w->settings().bgImagePath = path;
        w->applyAppearance(w->settings());
        const QSize screen = w->screen()->size() * w->screen()->devicePixelRatio();
        const QSize expected = QSize(5000, 3000).scaled(screen, Qt::KeepAspectRatio);
        QCOMPARE(w->background()->still().size(), expected);
    }

    // A named pipe as background, logo or window icon: opening it would wait for a writer before the window
    // appears. A watcher opens the writing end only when someone reads (and then frees the reader).
    void pipeAsPictureIsNeverOpened_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("background") << "bgImagePath";
        QTest::newRow("gif background") << "bgImagePath.gif";
        QTest::newRow("logo") << "customLogoPath";
        QTest::newRow("window icon") << "appIconPath";
    }
    void pipeAsPictureIsNeverOpened()
    {
        QFETCH(QString, field);
        const QString fifo = m_files + "/pipe-" + QString::number(QTest::currentDataTag()[0]) +
                             (field.endsWith(".gif") ? ".gif" : ".png");
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        std::atomic<bool> stop{false};
        std::atomic<bool> someoneRead{false};
        std::thread watcher([&] {
            // O_NONBLOCK write-open succeeds only while a reader has the pipe open.
            while (!stop.load()) {
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    someoneRead.store(true);
                    ::close(fd);
                }
                std::this_thread::yield();
            }
        });
        auto w = makeWindow();
        AppSettings s = w->settings();
        if (field.startsWith("bgImagePath"))
            s.bgImagePath = fifo;
        else if (field == "customLogoPath")
            s.customLogoPath = fifo;
        else
            s.appIconPath = fifo;
        w->applyAppearance(s);
        stop.store(true);
        watcher.join();
        QFile::remove(fifo);
        QVERIFY(!someoneRead.load());
        QVERIFY(w->background()->still().isNull());
    }

    void opacityAndClickThrough()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        AppSettings& s = w->settings();
        s.opacity = 0;
        s.clickThroughAtZero = true;
        w->applyAppearance(s);
        QCOMPARE(w->windowOpacity(), 0.0);
        QVERIFY(w->look().clickThrough);
        QVERIFY(w->windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
        QVERIFY(w->isVisible());

        s.clickThroughAtZero = false;
        s.midOpacity = 0;
        w->applyAppearance(s);
        QVERIFY(!w->look().clickThrough);
        QVERIFY(!w->windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
        QVERIFY(w->look().nearlyInvisible);
        QCOMPARE(w->look().alpha, 1);
        QVERIFY(qAbs(w->windowOpacity() - 1 / 255.0) < 1e-3);
        QCOMPARE(currentTheme().midBackground.alpha(), 255); // every area opaque, so it stays clickable

        s.opacity = 20;
        w->applyAppearance(s);
        QCOMPARE(w->look().alpha, 51);
        QCOMPARE(currentTheme().midBackground.alpha(), 3);
    }

    void orientation()
    {
        auto w = makeWindow();
        const QRect avail = w->screen()->availableGeometry();
        w->move(avail.topLeft() + QPoint(10, 10));
        const QRect landscape = w->geometry();
        w->onUiButton(UiBtn::Orientation);
        QVERIFY(w->portraitMode());
        const WindowAppearance::PortraitGeometry g = WindowAppearance::portraitGeometry(landscape, avail);
        QCOMPARE(w->geometry(), g.rect);
        QCOMPARE(w->minimumSize(), QSize(300, g.minimumHeight));
        QVERIFY(w->sidebar()->isHorizontal());
        QCOMPARE(w->sidebar()->geometry(), QRect(0, 28, 300, 40));
        QCOMPARE(w->iconGrid()->columns(), 4);
        QCOMPARE(w->iconGrid()->iconSize(), w->settings().iconSizePortrait);
        QVERIFY(w->titleBar()->buttonState(UiBtn::Orientation));
        QVERIFY(w->bottomBar()->buttonState(UiBtn::Orientation));

        // Moved while in portrait, it still returns to where it was.
        w->move(w->pos() + QPoint(5, 5));
        w->onUiButton(UiBtn::Orientation);
        QVERIFY(!w->portraitMode());
        QCOMPARE(w->geometry(), landscape);
        QCOMPARE(w->iconGrid()->columns(), 0);
        QCOMPARE(w->iconGrid()->iconSize(), w->settings().iconSize);
        QVERIFY(!w->sidebar()->isHorizontal());
        QVERIFY(!w->titleBar()->buttonState(UiBtn::Orientation));
    }

    void portraitUsesItsOwnBackground()
    {
        const QString land = writeImage(m_files + "/land.png", QSize(60, 30), Qt::red);
        const QString port = writeImage(m_files + "/port.png", QSize(30, 60), Qt::blue);
        auto w = makeWindow();
        w->settings().bgImagePath = land;
        w->settings().bgImagePortrait = port;
        w->settings().bgImageOpacityPortrait = 60;
        w->applyAppearance(w->settings());
        QCOMPARE(w->background()->still().size(), QSize(60, 30));
        w->onUiButton(UiBtn::Orientation);
        QCOMPARE(w->background()->still().size(), QSize(30, 60));
        QCOMPARE(w->background()->opacity(), 60);
        const QImage image = paintWindowOnly(*w);
        QVERIFY(near(image.pixelColor(150, w->height() / 2), QColor(0, 0, 255, 153)));
    }

    void buttonDroppedOnTheWindow()
    {
        auto w = makeWindow();
        w->settings().btnLayoutTitle = {0, 1, 2, 3, 4};
        w->settings().btnLayoutBottom = {10, 9, 8, 7, 6, 5};
        w->applyAppearance(w->settings());
        // Left of the title bar's buttons, in the title strip: lands before the first shown button.
        sendDrop(w.get(), QPoint(40, 10), UiBtn::ThemeSwitch, UiBtn::kZoneBottom);
        QCOMPARE(w->settings().btnLayoutTitle, (QList<int>{6, 0, 1, 2, 3, 4}));
        QVERIFY(!w->settings().btnLayoutBottom.contains(6));
        QCOMPARE(w->titleBar()->buttonLayout(), w->settings().btnLayoutTitle);
        // Saved.
        ConfigStore store(appDataDir());
        AppSettings saved;
        QSize size;
        store.loadSettings(saved, size);
        QCOMPARE(saved.btnLayoutTitle, w->settings().btnLayoutTitle);

        // The middle of the window, and the bars' own rectangles, are not the window's to handle.
        const QList<int> before = w->settings().btnLayoutTitle;
        sendDrop(w.get(), QPoint(300, 200), UiBtn::Close, UiBtn::kZoneTitle);
        sendDrop(w.get(), QPoint(w->titleBar()->geometry().center()), 5, UiBtn::kZoneBottom);
        QCOMPARE(w->settings().btnLayoutTitle, before);

        std::unique_ptr<QMimeData> mime(makeUiBtnMimeData(3, 0));
        QDragEnterEvent inStrip(QPoint(40, 10), Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &inStrip);
        QVERIFY(inStrip.isAccepted());
        QDragEnterEvent inMiddle(QPoint(40, 200), Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &inMiddle);
        QVERIFY(!inMiddle.isAccepted());
    }

    void moveUiButton_data()
    {
        QTest::addColumn<int>("ub");
        QTest::addColumn<int>("zone");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("hidden");
        QTest::addColumn<QList<int>>("title");
        QTest::addColumn<QList<int>>("bottom");
        QTest::newRow("later in the same bar")
            << 0 << 0 << 3 << -1 << QList<int>{1, 2, 0, 3, 4} << QList<int>{10, 9, 8, 7, 6, 5};
        QTest::newRow("past the end of the same bar")
            << 0 << 0 << 5 << -1 << QList<int>{1, 2, 3, 4, 0} << QList<int>{10, 9, 8, 7, 6, 5};
        QTest::newRow("earlier in the same bar")
            << 4 << 0 << 1 << -1 << QList<int>{0, 4, 1, 2, 3} << QList<int>{10, 9, 8, 7, 6, 5};
        QTest::newRow("to the other bar's end")
            << 2 << 1 << 99 << -1 << QList<int>{0, 1, 3, 4} << QList<int>{10, 9, 8, 7, 6, 5, 2};
        // With 1 hidden, the second shown button is 2: the drop lands before it, after the hidden one.
        QTest::newRow("hidden buttons keep their place")
            << 4 << 0 << 1 << 1 << QList<int>{0, 1, 4, 2, 3} << QList<int>{10, 9, 8, 7, 6, 5};
        QTest::newRow("id out of range") << 11 << 0 << 0 << -1 << QList<int>{0, 1, 2, 3, 4}
                                         << QList<int>{10, 9, 8, 7, 6, 5};
    }
    void moveUiButton()
    {
        QFETCH(int, ub);
        QFETCH(int, zone);
        QFETCH(int, index);
        QFETCH(int, hidden);
        auto w = makeWindow();
        w->settings().btnLayoutTitle = {0, 1, 2, 3, 4};
        w->settings().btnLayoutBottom = {10, 9, 8, 7, 6, 5};
        if (hidden >= 0)
            w->settings().btnVisible[hidden] = false;
        w->moveUiButton(ub, zone, index);
        QTEST(w->settings().btnLayoutTitle, "title");
        QTEST(w->settings().btnLayoutBottom, "bottom");
    }

    void unplayableVideoFailsOnce()
    {
        ktr::test::ManualClock clock;
        const QString notVideo = m_files + "/notes.mp4";
        QVERIFY(ktr::test::writeFile(notVideo, "not a film\n"));
        auto w = makeWindow();
        w->background()->setVideoClock(&clock);
        w->settings().bgImagePath = notVideo;
        w->applyAppearance(w->settings());
        QVERIFY(w->background()->videoPlaying());
        QCOMPARE(currentTheme().midBackground.alpha(), 0);
        clock.advance(2501);
        QTRY_COMPARE(w->background()->failedVideoPath(), notVideo);
        QVERIFY(!w->background()->videoPlaying());
        QCOMPARE(w->toast()->text(), Lang::tr("该视频无法播放，请更换格式（MP4 / WMV / AVI）"));
        QCOMPARE(currentTheme().midBackground.alpha(), 255); // colours without a background again

        // Applying the same path again does not try it again.
        w->applyAppearance(w->settings());
        QVERIFY(!w->background()->videoPlaying());

        // Under another name it is.
        const QString renamed = m_files + "/notes2.mp4";
        QVERIFY(QFile::rename(notVideo, renamed));
        w->settings().bgImagePath = renamed;
        w->applyAppearance(w->settings());
        QVERIFY(w->background()->videoPlaying());
        QVERIFY(w->background()->failedVideoPath().isEmpty());
    }

    void videoFramesArePainted()
    {
        auto w = makeWindow();
        w->settings().bgImagePath = QFINDTESTDATA("../data/video/bars-320x240.mp4");
        w->applyAppearance(w->settings());
        QVERIFY(w->background()->videoPlaying());
        // With no frame yet the middle is clear; a frame fills it.
        QTRY_VERIFY_WITH_TIMEOUT(paintWindowOnly(*w).pixelColor(w->width() / 2, w->height() / 2).alpha() == 255, 5000);
        w->settings().bgImagePath.clear();
        w->applyAppearance(w->settings());
        QVERIFY(!w->background()->videoPlaying());
    }

    void gifBackground()
    {
        const QString gif = QFINDTESTDATA("../data/gif/redblue-40x20.gif");
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->settings().bgImagePath = gif;
        w->applyAppearance(w->settings());
        QMovie* movie = w->background()->movie();
        QVERIFY(movie);
        QCOMPARE(movie->cacheMode(), QMovie::CacheAll);
        // Decoded to cover the window in its own proportions (2:1), not stretched to the window.
        QCOMPARE(movie->scaledSize(), QSize(992, 496));
        QVERIFY(!w->background()->still().isNull());
        const QColor first = paintWindowOnly(*w).pixelColor(w->width() / 2, w->height() / 2);
        QVERIFY2(near(first, QColor(Qt::red), 8) || near(first, QColor(Qt::blue), 8),
                 qPrintable(first.name(QColor::HexArgb)));
        // It plays: the other colour shows within a few frames.
        const QColor other = near(first, QColor(Qt::red), 8) ? QColor(Qt::blue) : QColor(Qt::red);
        QTRY_VERIFY_WITH_TIMEOUT(near(paintWindowOnly(*w).pixelColor(w->width() / 2, w->height() / 2), other, 8), 3000);

        // After a resize the movie is decoded at the new size once the debounce has run.
        w->resize(800, 496);
        QTRY_COMPARE(movie->scaledSize(), QSize(992, 496));
        w->resize(1200, 500);
        QTRY_COMPARE(movie->scaledSize(), QSize(1200, 600));
    }

    void ratioChangeAsksForIconsAgain()
    {
        const QString a = m_files + "/a.txt";
        QVERIFY(ktr::test::writeFile(a, "x"));
        Item item;
        item.path = a;
        item.name = QStringLiteral("a");
        ConfigStore store(appDataDir());
        QVERIFY(store.saveLayout({Group{QStringLiteral("G"), {item}}}));
        const QString picture = writeImage(m_files + "/ratio.png", QSize(40, 40), Qt::red);
        auto w = makeWindow();
        w->settings().bgImagePath = picture;
        w->applyAppearance(w->settings());
        QTRY_VERIFY(w->icons()->paths().isEmpty());

        w->noteDevicePixelRatio(2.0);
        QVERIFY(w->icons()->paths().contains(a));
        QTRY_VERIFY(w->findChild<QTimer*>(QStringLiteral("ratioDebounce")));
        QTimer* debounce = w->findChild<QTimer*>(QStringLiteral("ratioDebounce"));
        QVERIFY(debounce->isActive());
        QCOMPARE(debounce->interval(), 200);
        QTRY_VERIFY(!debounce->isActive());
        // The background was loaded again and paints.
        QVERIFY(!w->background()->still().isNull());
        QVERIFY(near(paintWindowOnly(*w).pixelColor(w->width() / 2, w->height() / 2), QColor(Qt::red)));

        // The same ratio again changes nothing.
        QTRY_VERIFY(w->icons()->paths().isEmpty());
        w->noteDevicePixelRatio(2.0);
        QVERIFY(w->icons()->paths().isEmpty());
    }

    // The whole window in both themes and both orientations: the bars and the border over the window's
    // colours, with the divider under the title strip. Saved as PNGs when KTR_APPEARANCE_PNG_DIR is set.
    void wholeWindow_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("portrait");
        QTest::addColumn<bool>("picture");
        QTest::newRow("light landscape") << false << false << false;
        QTest::newRow("dark landscape") << true << false << false;
        QTest::newRow("light portrait") << false << true << false;
        QTest::newRow("dark portrait") << true << true << false;
        QTest::newRow("light picture") << false << false << true;
        QTest::newRow("dark picture portrait") << true << true << true;
    }
    void wholeWindow()
    {
        QFETCH(bool, dark);
        QFETCH(bool, portrait);
        QFETCH(bool, picture);
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            QVERIFY(ktr::test::writeFile(m_files + "/" + name, "x"));
        auto w = std::make_unique<MainWindow>();
        w->settings().darkTheme = dark;
        if (picture) {
            QImage gradient(320, 200, QImage::Format_RGB32);
            QPainter p(&gradient);
            QLinearGradient g(0, 0, 320, 200);
            g.setColorAt(0, QColor(0xE0, 0x70, 0x30));
            g.setColorAt(1, QColor(0x30, 0x60, 0xC0));
            p.fillRect(gradient.rect(), g);
            p.end();
            const QString path = m_files + "/gradient.png";
            QVERIFY(gradient.save(path));
            w->settings().bgImagePath = path;
            w->settings().bottomBarColor = 1;
            w->settings().bottomBarOpacity = 60;
        }
        w->applySettings();
        if (portrait)
            w->onUiButton(UiBtn::Orientation);
        const QImage image = paintAll(*w);
        const QString dir = qEnvironmentVariable("KTR_APPEARANCE_PNG_DIR");
        if (!dir.isEmpty())
            image.save(
                QStringLiteral("%1/window-%2-%3%4.png")
                    .arg(dir, dark ? "dark" : "light", portrait ? "portrait" : "landscape", picture ? "-picture" : ""));
        const Theme& t = currentTheme();
        QCOMPARE(t.isDark, dark);
        // The divider marks the row under the title strip, inside the border.
        const int x = w->width() - 3;
        QVERIFY(image.pixelColor(x, 28) != image.pixelColor(x, 29));
        if (!picture)
            QCOMPARE(image.pixelColor(x, 27), image.pixelColor(x, 20));
        QVERIFY(near(image.pixelColor(w->width() / 2, 0), opaque(w->look().border)));
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }

    // Stopping the window's work also stops the timers its parts make on demand (backgrounds, the ratio
    // refresh, the dock's animation).
    void abortNetworkStopsTheTimersOfEveryPart_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("timer");
        QTest::newRow("ratio debounce") << Setup::RatioChange << "ratioDebounce";
        QTest::newRow("scaled picture refresh") << Setup::StalePicture << "scaledRefreshTimer";
        QTest::newRow("video frames") << Setup::Video << "videoFrameTimer";
        QTest::newRow("gif resize debounce") << Setup::GifResize << "resizeDebounce";
        QTest::newRow("dock animation") << Setup::DockAnimation << "dockFrameTimer";
    }

    void abortNetworkStopsTheTimersOfEveryPart()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, timer);
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());

        auto w = shownWindow();
        QVERIFY(w);
        w->background()->setVideoClock(&m_clock); // no time limit runs out while the test looks
        const QString picture = m_files + "/still.png";
        QImage image(40, 40, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture));

        switch (setup) {
        case Setup::RatioChange:
            w->noteDevicePixelRatio(w->devicePixelRatioF() + 1.0);
            break;
        case Setup::StalePicture: {
            w->settings().bgImagePath = picture;
            w->applyAppearance(w->settings());
            // A new ratio drops the scaled picture; the next paint asks for it again.
            w->noteDevicePixelRatio(w->devicePixelRatioF() + 1.0);
            QImage target(w->size(), QImage::Format_ARGB32);
            w->render(&target);
            break;
        }
        case Setup::Video:
            w->settings().bgImagePath = QFINDTESTDATA("../data/video/bars-320x240.mp4");
            w->applyAppearance(w->settings());
            QVERIFY(w->background()->videoPlaying());
            break;
        case Setup::GifResize:
            w->settings().bgImagePath = QFINDTESTDATA("../data/gif/redblue-40x20.gif");
            w->applyAppearance(w->settings());
            QVERIFY(w->background()->movie());
            w->resize(w->width() + 40, w->height());
            break;
        case Setup::DockAnimation:
            w->windowStateController()->edgeDock()->animateGeometry(w->geometry().translated(40, 0));
            break;
        }

        auto* t = w->findChild<QTimer*>(timer);
        QVERIFY2(t, qPrintable(timer));
        QVERIFY2(t->isActive(), qPrintable(timer));

        w->abortNetwork();
        const QList<QTimer*> all = w->findChildren<QTimer*>();
        for (const QTimer* each : all)
            QVERIFY2(!each->isActive(), qPrintable(each->objectName()));
    }

    // The window icon follows the pictures the appearance applies, so a live preview of the settings shows
    // the chosen icon, and accepting the preview keeps it.
    void previewedIconStaysAfterApply_data()
    {
        QTest::addColumn<bool>("programIcon"); // the program icon picture, else the custom logo
        QTest::newRow("program icon") << true;
        QTest::newRow("custom logo") << false;
    }

    void previewedIconStaysAfterApply()
    {
        QFETCH(bool, programIcon);
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        const QString path = writeImage(m_files + "/chosen.png", QSize(48, 48), QColor(0, 0, 255));
        QVERIFY(!path.isEmpty());

        MainWindow w;
        const QColor builtIn = iconCentre(w.windowIcon());

        // The settings dialog previews an edited copy of the record.
        AppSettings edited = w.settings();
        (programIcon ? edited.appIconPath : edited.customLogoPath) = path;
        w.applyAppearance(edited);
        QCOMPARE(iconCentre(w.windowIcon()), QColor(0, 0, 255));

        // Cancelled: the record's own picture comes back.
        w.applyAppearance(w.settings());
        QCOMPARE(iconCentre(w.windowIcon()), builtIn);

        // Previewed again and accepted: the record takes the copy and everything is applied.
        w.applyAppearance(edited);
        w.settings() = edited;
        w.applySettings();
        QCOMPARE(iconCentre(w.windowIcon()), QColor(0, 0, 255));
        w.tray()->create();
        QCOMPARE(iconCentre(w.tray()->icon()->icon()), QColor(0, 0, 255));
    }

    void unloadableProgramIconFallsBackToTheLogo()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        const QString logo = writeImage(m_files + "/logo.png", QSize(48, 48), QColor(0, 255, 0));
        const QString broken = m_files + "/broken.png";
        QVERIFY(writeFile(broken, "not a picture"));

        MainWindow w;
        w.settings().customLogoPath = logo;
        w.settings().appIconPath = broken;
        w.applyAppearance(w.settings());
        QCOMPARE(iconCentre(w.windowIcon()), QColor(0, 255, 0));
    }

    // The line under the title strip: hidden while the lock screen covers the window, back once it is gone.
    void dividerFollowsTheLockScreen()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(w->borderFrame()->dividerY(), 28);

        w->settings().protectPasswordHash = QStringLiteral("hash");
        w->onUiButton(UiBtn::Lock);
        QVERIFY(w->lockController()->overlay() && w->lockController()->overlay()->isVisible());
        w->resize(w->width() + 20, w->height() + 10);
        QCOMPARE(w->borderFrame()->dividerY(), -100);
        // Applying the appearance while locked does not draw the line over the lock screen.
        w->applyAppearance(w->settings());
        QCOMPARE(w->borderFrame()->dividerY(), -100);

        // Unlocked: the lock screen is hidden; the next layout puts the line back under the title strip.
        w->lockController()->overlay()->hide();
        w->settings().uiLocked = false;
        w->resize(w->width() - 20, w->height() - 10);
        QCOMPARE(w->borderFrame()->dividerY(), 28);
    }

    // The size remembered for the next start is the landscape one, also when the panel quits in portrait
    // (portrait is not remembered: the next start is landscape again).
    void quittingInPortraitKeepsTheLandscapeSize()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        auto w = shownWindow();
        QVERIFY(w);
        w->resize(760, 520);
        const QSize landscape = w->size();

        w->onUiButton(UiBtn::Orientation);
        QVERIFY(w->size() != landscape);
        QVERIFY(w->saveSettings());
        QCOMPARE(readObject(settingsFile()).value(QStringLiteral("geometry")).toArray(),
                 (QJsonArray{landscape.width(), landscape.height()}));

        w->onUiButton(UiBtn::Orientation);
        QCOMPARE(w->size(), landscape);
        QVERIFY(w->saveSettings());
        QCOMPARE(readObject(settingsFile()).value(QStringLiteral("geometry")).toArray(),
                 (QJsonArray{landscape.width(), landscape.height()}));
    }
};

KTR_TEST_MAIN(TestMainWindowAppearance)
#include "tst_mainwindow_appearance.moc"
