#include "fifoguard.h"
#include "iconfixture.h"
#include "icons/iconcache.h"
#include "icons/iconextract.h"
#include "platform/icontheme.h"
#include "testenv.h"

#include <QApplication>
#include <QScopeGuard>
#include <QStandardPaths>

using ktr::test::IconFixture;

namespace {
const QString kTrash = QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}");
const QString kComputer = QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");

QImage filled(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(c);
    return img;
}
} // namespace

class TestIconExtract : public QObject
{
    Q_OBJECT
private:
    IconFixture fx;
    QString files;

private Q_SLOTS:
    void initTestCase()
    {
        // 256 px icons with an 8 px transparent border: trimmed to 240, fitted to 192.
        fx.addPng("ktrtest", "256x256/places", "folder", 256, Qt::green, 8);
        fx.addPng("ktrtest", "256x256/places", "folder-music", 256, Qt::darkYellow, 8);
        fx.addPng("ktrtest", "256x256/places", "user-trash", 256, Qt::gray, 8);
        fx.addPng("ktrtest", "48x48/mimetypes", "text-plain", 48, Qt::blue, 4);
        fx.addPng("ktrtest", "48x48/mimetypes", "image-png", 48, Qt::darkCyan, 4);
        fx.addPng("ktrtest", "48x48/mimetypes", "application-x-desktop", 48, Qt::darkMagenta, 4);
        IconFixture::writeSvg(fx.root() + "/ktrtest/scalable/apps/editor.svg", Qt::yellow, 64, 64);
        // The icon of C sources (text/x-csrc), used by no other case.
        IconFixture::writeSvg(fx.root() + "/ktrtest/scalable/apps/text-x-csrc.svg", Qt::darkRed, 64, 32);
        ktr::platform::IconThemes::configure(fx.themes());

        files = ktr::test::freshDir("files");
        ktr::test::writeFile(files + "/notes.txt", "hello\n");
        ktr::test::writeFile(files + "/broken.png", "not a png at all");
        filled(300, 200, Qt::transparent).save(files + "/big.png");
        ktr::test::writeFile(files + "/editor.desktop", "[Desktop Entry]\nType=Application\nName=E\nIcon=editor\n");
        IconFixture::writeSvg(files + "/own.svg", Qt::darkGreen, 100, 50);
        ktr::test::writeFile(files + "/abs.desktop", QString("[Desktop Entry]\nIcon=%1/own.svg\n").arg(files).toUtf8());
        ktr::test::writeFile(files + "/noicon.desktop", "[Desktop Entry]\nName=N\n");
        QDir().mkpath(files + "/plain-folder");
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    }
    void init() { QDir(iconSnapDir()).removeRecursively(); }

    void trim_data()
    {
        QTest::addColumn<QImage>("input");
        QTest::addColumn<QRect>("box");      // expected crop of the input; null: returned unchanged
        QTest::addColumn<int>("matteAlpha"); // alpha expected at the result's (0,0); -1: don't check

        QTest::newRow("null") << QImage() << QRect() << -1;
        QImage fullyClear = filled(10, 10, Qt::transparent);
        QTest::newRow("fully transparent stays whole") << fullyClear << QRect() << -1;
        QTest::newRow("no border") << filled(10, 10, Qt::red) << QRect(0, 0, 10, 10) << -1;
        QTest::newRow("transparent border") << IconFixture::square(20, Qt::red, 3) << QRect(3, 3, 14, 14) << 255;

        QImage faint = IconFixture::square(20, Qt::red, 3);
        faint.setPixelColor(0, 0, QColor(0, 0, 0, 8));   // alpha 8 is not visible
        faint.setPixelColor(19, 19, QColor(0, 0, 0, 9)); // alpha 9 is
        QTest::newRow("alpha above 8 counts") << faint << QRect(3, 3, 17, 17) << 255;

        // A white matte (with slight noise) around a black glyph: the matte goes, the glyph stays.
        QImage matte = filled(20, 20, Qt::white);
        matte.setPixelColor(5, 5, QColor(250, 244, 255));
        for (int y = 8; y < 12; ++y)
            for (int x = 6; x < 14; ++x)
                matte.setPixelColor(x, y, Qt::black);
        QTest::newRow("opaque matte removed") << matte << QRect(6, 8, 8, 4) << 255;

        // Over 99 % of the pixels match the corners: a picture, kept whole and opaque.
        QImage photo = filled(20, 20, Qt::white);
        photo.setPixelColor(10, 10, Qt::black);
        QTest::newRow("near-uniform picture kept") << photo << QRect(0, 0, 20, 20) << 255;

        QImage oddCorner = filled(20, 20, Qt::white);
        oddCorner.setPixelColor(19, 19, QColor(255, 255, 254));
        QTest::newRow("corners not equal: no matte") << oddCorner << QRect(0, 0, 20, 20) << 255;
    }
    void trim()
    {
        QFETCH(QImage, input);
        QFETCH(QRect, box);
        QFETCH(int, matteAlpha);
        const QImage out = trimTransparentBorder(input);
        if (box.isNull()) {
            QCOMPARE(out, input);
            return;
        }
        QCOMPARE(out.format(), QImage::Format_ARGB32);
        QCOMPARE(out.size(), box.size());
        if (matteAlpha >= 0)
            QCOMPARE(qAlpha(out.pixel(0, 0)), matteAlpha);
    }

    void fallbackPlaceholder()
    {
        const QImage img = fallbackIconImage();
        QCOMPARE(img.size(), QSize(128, 128));
        QCOMPARE(img.format(), QImage::Format_ARGB32);
        QCOMPARE(qAlpha(img.pixel(2, 2)), 0);                                // outside the card
        QCOMPARE(img.pixelColor(20, 100), QColor(233, 238, 245));            // the card
        QCOMPARE(img.pixelColor(60, 86), QColor(Qt::white));                 // the sheet
        QCOMPARE(img.pixelColor(64, 62).rgb(), QColor(180, 190, 204).rgb()); // a text line
        QImage copy = fallbackIconImage();
        copy.fill(Qt::red);
        QCOMPARE(fallbackIconImage().pixelColor(20, 100), QColor(233, 238, 245)); // callers get copies
    }

    void chain_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QColor>("centre");
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QTest::newRow("folder") << files + "/plain-folder" << QSize(192, 192) << QColor(Qt::green);
        QTest::newRow("user folder") << music << QSize(192, 192) << QColor(Qt::darkYellow);
        QTest::newRow("text file by mime type") << files + "/notes.txt" << QSize(40, 40) << QColor(Qt::blue);
        QTest::newRow("big image fitted, not trimmed") << files + "/big.png" << QSize(192, 128) << QColor();
        QTest::newRow("corrupt image falls through") << files + "/broken.png" << QSize(40, 40) << QColor(Qt::darkCyan);
        QTest::newRow("launcher names a theme icon")
            << files + "/editor.desktop" << QSize(192, 192) << QColor(Qt::yellow);
        QTest::newRow("launcher names a file") << files + "/abs.desktop" << QSize(192, 96) << QColor(Qt::darkGreen);
        QTest::newRow("launcher without icon") << files + "/noicon.desktop" << QSize(40, 40) << QColor(Qt::darkMagenta);
        QTest::newRow("recycle bin") << kTrash << QSize(192, 192) << QColor(Qt::gray);
        QTest::newRow("recycle bin, any case") << kTrash.toLower() << QSize(192, 192) << QColor(Qt::gray);
        QTest::newRow("svg picture shows itself") << files + "/own.svg" << QSize(192, 96) << QColor(Qt::darkGreen);
        QTest::newRow("shell folder without theme icon or picture")
            << "::{5399E694-6CE5-4D6C-8FCE-1D8870FDCBA0}" << QSize() << QColor();
        QTest::newRow("unknown clsid") << "::{00000000-0000-0000-0000-000000000000}" << QSize() << QColor();
        QTest::newRow("missing file") << files + "/gone.txt" << QSize() << QColor();
        QTest::newRow("empty") << QString() << QSize() << QColor();
    }
    void chain()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(QColor, centre);
        const QImage img = loadIconImage(path);
        waitForIconSnapshots(); // written after the icon is handed out
        if (!size.isValid()) {
            QVERIFY(img.isNull());
            QVERIFY(!QFile::exists(iconSnapPath(path)) || path.isEmpty());
            return;
        }
        QCOMPARE(img.size(), size);
        QCOMPARE(img.format(), QImage::Format_ARGB32);
        if (centre.isValid())
            QCOMPARE(img.pixelColor(img.width() / 2, img.height() / 2), centre);
        QVERIFY(QFile::exists(iconSnapPath(path)));
    }

    void ownExecutableShowsLogo()
    {
        const QImage logo(QStringLiteral(":/res/resources/logo.png"));
        QVERIFY(!logo.isNull());
        const QString exe = QCoreApplication::applicationFilePath();
        const QString spelled = QFileInfo(exe).absolutePath() + "/./" + QFileInfo(exe).fileName();
        const QImage img = loadIconImage(spelled);
        QVERIFY(img.width() <= 192 && img.height() <= 192);
        QImage expected = logo.convertToFormat(QImage::Format_ARGB32);
        if (expected.width() > 192 || expected.height() > 192)
            expected = expected.scaled(192, 192, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QCOMPARE(img, expected);
        // Another file whose name differs only by case is not the program on Linux.
        const QString other = QFileInfo(exe).absolutePath() + '/' + QFileInfo(exe).fileName().toUpper();
        QVERIFY(loadIconImage(other).isNull());
    }

    void unreachablePathFallsBackToItsSnapshot()
    {
        const QString path = files + "/soon-gone.txt";
        ktr::test::writeFile(path, "x");
        const QImage live = loadIconImage(path);
        QVERIFY(!live.isNull());
        waitForIconSnapshots();
        QFile::remove(path);
        QCOMPARE(loadIconImage(path), live);
        QVERIFY(loadIconImage(files + "/never-seen.txt").isNull());
        // The snapshot of one spelling is not the snapshot of a name that differs by case.
        QVERIFY(loadIconImage(files + "/SOON-GONE.txt").isNull());
    }

    // Files of one type show one theme file: it is rendered once and every path gets the same pixels, unchanged
    // by later work on any one of them; a theme file changed on disk is rendered again.
    void pathsOfOneTypeShareOneRender()
    {
        const QString dir = ktr::test::freshDir("sources");
        QStringList paths;
        for (int i = 0; i < 40; ++i) {
            paths << QString("%1/unit%2.c").arg(dir).arg(i);
            ktr::test::writeFile(paths.last(), "int x;\n");
        }
        const quint64 before = themeIconRenderCount();
        const QImage first = loadIconImage(paths.first());
        QCOMPARE(first.size(), QSize(192, 96));
        QCOMPARE(first.format(), QImage::Format_ARGB32);
        QCOMPARE(first.pixelColor(96, 48), QColor(Qt::darkRed));
        QList<QImage> all;
        for (const QString& p : std::as_const(paths))
            all << loadIconImage(p);
        QCOMPARE(themeIconRenderCount() - before, 1u);
        waitForIconSnapshots();
        for (const QImage& img : std::as_const(all)) {
            QCOMPARE(img.cacheKey(), first.cacheKey());
            QCOMPARE(img.constBits(), first.constBits());
            QVERIFY(QFile::exists(iconSnapPath(paths.last()))); // each path still has its snapshot
        }
        QCOMPARE(readIconSnapshot(paths.last()), first);

        // A caller painting on its copy gets its own pixels; the others keep theirs.
        QImage mine = all.takeLast();
        mine.fill(Qt::blue);
        QCOMPARE(loadIconImage(paths.first()).pixelColor(96, 48), QColor(Qt::darkRed));

        // Rewritten at another size: the file is rendered again.
        IconFixture::writeSvg(fx.root() + "/ktrtest/scalable/apps/text-x-csrc.svg", Qt::darkRed, 100, 100);
        QCOMPARE(loadIconImage(paths.first()).size(), QSize(192, 192));
        QCOMPARE(themeIconRenderCount() - before, 2u);
    }

    void folderWithOnlySmallIconStillGetsOne()
    {
        IconFixture small;
        small.addPng("ktrtest", "48x48/places", "folder", 48, Qt::red, 0);
        ktr::platform::IconThemes::configure({{small.root()}, QStringLiteral("ktrtest"), {}});
        const QImage img = loadIconImage(files + "/plain-folder");
        ktr::platform::IconThemes::configure(fx.themes());
        QCOMPARE(img.size(), QSize(48, 48));
        QCOMPARE(img.pixelColor(24, 24), QColor(Qt::red));
    }

    // With nothing but hicolor (as a bare install has it) the shell places still show an icon: the theme's
    // under the place's name or a generic name it falls back to, else the panel's own picture.
    void shellFoldersWithOnlyHicolor_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QColor>("centre");
        QTest::newRow("此电脑 / Computer: own picture") << kComputer << QColor(0x63, 0xb3, 0xed);
        QTest::newRow("回收站 / Trash: own picture") << kTrash << QColor(0x71, 0x80, 0x96);
        QTest::newRow("网络 / Network: own picture")
            << "::{208D2C60-3AEA-1069-A2D7-08002B30309D}" << QColor(0x38, 0xa1, 0x69);
        QTest::newRow("网络 / Network, later CLSID: own picture")
            << "::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}" << QColor(0x38, 0xa1, 0x69);
        QTest::newRow("打印机 / Printers: own picture")
            << "::{2227A280-3AEA-1069-A2DE-08002B30309D}" << QColor(0x4a, 0x55, 0x68);
        QTest::newRow("网络连接: the theme's generic preferences-system")
            << "::{7007ACC7-3202-11D1-AAD2-00805FC1270E}" << QColor(Qt::magenta);
        QTest::newRow("文档: the theme's generic folder")
            << "::{A8CDFF1C-4878-43BE-B5FD-F8091C1C60D0}" << QColor(Qt::cyan);
    }
    void shellFoldersWithOnlyHicolor()
    {
        QFETCH(QString, path);
        QFETCH(QColor, centre);
        const QString root = ktr::test::freshDir("hicolor-only");
        QVERIFY(ktr::test::writeFile(root + "/hicolor/index.theme",
                                     "[Icon Theme]\nName=Hicolor\nDirectories=256x256/categories,256x256/places\n\n"
                                     "[256x256/categories]\nSize=256\nType=Fixed\n\n"
                                     "[256x256/places]\nSize=256\nType=Fixed\n"));
        QDir().mkpath(root + "/hicolor/256x256/categories");
        QDir().mkpath(root + "/hicolor/256x256/places");
        QVERIFY(
            IconFixture::square(256, Qt::magenta, 8).save(root + "/hicolor/256x256/categories/preferences-system.png"));
        QVERIFY(IconFixture::square(256, Qt::cyan, 8).save(root + "/hicolor/256x256/places/folder.png"));
        ktr::platform::IconThemes::configure({{root}, QString(), {}});
        const auto back = qScopeGuard([this] { ktr::platform::IconThemes::configure(fx.themes()); });

        const QImage shown = loadIconImage(path);
        QVERIFY(!shown.isNull());
        QVERIFY(shown.width() <= 192 && shown.height() <= 192);
        QVERIFY(shown.width() >= 160 || shown.height() >= 160); // drawn for the panel's size, not a small one
        QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), centre);
    }

    // A named pipe with an image suffix is not read (opening it would wait for a writer forever, holding a
    // worker or the GUI thread): it gets the icon of its type by name.
    void pipeWithImageSuffixIsNotOpened()
    {
        const QString path = files + "/pipe.png";
        ktr::test::FifoGuard pipe(path);
        QVERIFY(pipe.made());
        const QImage img = loadIconImage(path);
        QVERIFY2(pipe.done(), "loadIconImage waited on a named pipe");
        QCOMPARE(img.size(), QSize(40, 40));
        QCOMPARE(img.pixelColor(20, 20), QColor(Qt::darkCyan));
    }
};

KTR_TEST_MAIN(TestIconExtract)
#include "tst_iconextract.moc"
