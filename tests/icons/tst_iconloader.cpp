#include "iconfixture.h"
#include "icons/iconcache.h"
#include "icons/iconextract.h"
#include "icons/iconloader.h"
#include "icons/iconprobe.h"
#include "logcapture.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>

#include <atomic>
#include <memory>

using ktr::test::IconFixture;

namespace {
const QString kTrash = QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}");

struct Result
{
    int calls = 0;
    QString path;
    QImage image;
};
} // namespace

class TestIconLoader : public QObject
{
    Q_OBJECT
private:
    IconFixture fx;

private Q_SLOTS:
    void initTestCase()
    {
        fx.addPng("ktrtest", "48x48/mimetypes", "text-plain", 48, Qt::blue, 0);
        fx.addPng("ktrtest", "256x256/places", "user-trash", 256, Qt::gray, 0);
        fx.addPng("ktrtest", "256x256/places", "folder", 256, Qt::green, 0);
        IconFixture::writeSvg(fx.root() + "/ktrtest/scalable/apps/text-x-csrc.svg", Qt::darkRed, 64, 64);
        // The loader takes the theme Qt is told to use, as the panel sets it on the GUI thread.
        QIcon::setThemeSearchPaths({fx.root()});
        QIcon::setThemeName(QStringLiteral("ktrtest"));
        QIcon::setFallbackSearchPaths({fx.pixmapsDir()});
    }
    void init()
    {
        clearIconCache();
        setIconExtractorForTesting({});
    }

    // Asking again for an icon the cache lost: once per path until answered; from the snapshot when it was only
    // evicted for room, extracted when it was never loaded or was taken out because it changed.
    void missingIconsAreAskedOnceFromTheSnapshot()
    {
        std::atomic<int> extracted{0};
        setIconExtractorForTesting([&](const QString&) {
            ++extracted;
            QImage img(8, 8, QImage::Format_ARGB32);
            img.fill(Qt::yellow);
            return img;
        });
        const QString snapped = QStringLiteral("/missing/snapped");
        QImage red(16, 16, QImage::Format_ARGB32);
        red.fill(Qt::red);
        saveIconSnapshot(snapped, red);
        cacheIconImage(snapped, red);
        for (int i = 0; i < 256; ++i)
            cacheIconPixmap(QStringLiteral("/filler/%1").arg(i), QPixmap());
        QVERIFY(!iconCache()->contains(snapped));
        const QString fresh = QStringLiteral("/missing/fresh");
        saveIconSnapshot(fresh, red); // never loaded in this run: extracted all the same
        QObject context;
        QStringList arrived;
        const auto done = [&](const QString& path, bool found) {
            QVERIFY(found);
            arrived.append(path);
        };
        QVERIFY(requestMissingIcon(snapped, &context, done));
        QVERIFY(!requestMissingIcon(snapped, &context, done)); // already asked
        QVERIFY(requestMissingIcon(fresh, &context, done));
        QVERIFY(!requestMissingIcon(QString(), &context, done));
        QVERIFY(!requestMissingIcon(fresh + "x", nullptr, done));
        QCOMPARE(missingIconRequestsInFlight(), 2);
        QTRY_COMPARE(arrived.size(), 2);
        QCOMPARE(missingIconRequestsInFlight(), 0);
        QCOMPARE(extracted.load(), 1);
        QCOMPARE(iconCache()->value(snapped).toImage().pixelColor(8, 8), QColor(Qt::red));
        QCOMPARE(iconCache()->value(fresh).toImage().pixelColor(4, 4), QColor(Qt::yellow));
        // Taken out because it changed (an edited item): extracted again, whatever the snapshot says. A gone
        // context still fills the cache.
        iconCacheRemove(*iconCache(), snapped);
        auto gone = std::make_unique<QObject>();
        QVERIFY(requestMissingIcon(snapped, gone.get(), done));
        gone.reset();
        QTRY_VERIFY(iconCache()->contains(snapped));
        QCOMPARE(iconCache()->value(snapped).toImage().pixelColor(4, 4), QColor(Qt::yellow));
        QCOMPARE(arrived.size(), 2);
    }

    // A load and a request for the same missing icon never extract it twice, whichever comes first.
    void loadsAndRequestsShareOneExtraction()
    {
        std::atomic<int> extracted{0};
        setIconExtractorForTesting([&](const QString&) {
            ++extracted;
            QImage img(8, 8, QImage::Format_ARGB32);
            img.fill(Qt::cyan);
            return img;
        });
        QObject context;
        int loaded = 0;
        int requested = 0;
        const auto onLoad = [&](const QString&, const QImage& image) {
            QVERIFY(!image.isNull());
            ++loaded;
        };
        const auto onRequest = [&](const QString&, bool) { ++requested; };
        // The request first: the load waits for its answer.
        QVERIFY(requestMissingIcon(QStringLiteral("/share/a"), &context, onRequest));
        loadIconAsync(QStringLiteral("/share/a"), &context, onLoad);
        // The load first: the request is refused.
        loadIconAsync(QStringLiteral("/share/b"), &context, onLoad);
        QVERIFY(!requestMissingIcon(QStringLiteral("/share/b"), &context, onRequest));
        QTRY_COMPARE(loaded, 2);
        QCOMPARE(requested, 1);
        QCOMPARE(extracted.load(), 2);
        // Both answered: the next request may go out again.
        iconCacheRemove(*iconCache(), QStringLiteral("/share/b"));
        QVERIFY(requestMissingIcon(QStringLiteral("/share/b"), &context, onRequest));
        QTRY_COMPARE(requested, 2);
    }

    void deliversOnTheGuiThreadAfterReturning_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size"); // invalid: null image
        QTest::addColumn<bool>("cachedFirst");
        const QString txt = ktr::test::freshDir("async") + "/a.txt";
        ktr::test::writeFile(txt, "a");
        QTest::newRow("miss") << txt << QSize(48, 48) << false;
        QTest::newRow("hit") << txt << QSize(7, 7) << true;
        QTest::newRow("shell item from the theme") << kTrash << QSize(192, 192) << false;
        QTest::newRow("shell item without icon") << "::{00000000-0000-0000-0000-000000000001}" << QSize() << false;
        QTest::newRow("nothing found: placeholder") << "/no/such/file" << QSize(128, 128) << false;
    }
    void deliversOnTheGuiThreadAfterReturning()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(bool, cachedFirst);
        if (cachedFirst) {
            QImage seven(7, 7, QImage::Format_ARGB32);
            seven.fill(Qt::red);
            cacheIconImage(path, seven);
        }
        QObject context;
        auto result = std::make_shared<Result>();
        bool onGuiThread = false;
        loadIconAsync(path, &context, [result, &onGuiThread](const QString& p, const QImage& img) {
            ++result->calls;
            result->path = p;
            result->image = img;
            onGuiThread = QThread::currentThread() == qApp->thread();
        });
        QCOMPARE(result->calls, 0);
        QTRY_COMPARE(result->calls, 1);
        QVERIFY(onGuiThread);
        QCOMPARE(result->path, path);
        QCOMPARE(result->image.isNull(), !size.isValid());
        if (size.isValid())
            QCOMPARE(result->image.size(), size);
        QVERIFY(!iconCache()->contains(path) || cachedFirst); // the loader leaves caching to its caller
    }

    void droppedWhenTheContextIsGone()
    {
        QSemaphore release;
        setIconExtractorForTesting([&release](const QString&) {
            release.acquire();
            return QImage(4, 4, QImage::Format_ARGB32);
        });
        auto context = std::make_unique<QObject>();
        auto captured = std::make_shared<int>(0);
        std::weak_ptr<int> watch = captured;
        bool called = false;
        loadIconAsync("/x", context.get(), [captured, &called](const QString&, const QImage&) { called = true; });
        captured.reset();
        context.reset();
        release.release();
        QVERIFY(iconLoadPool()->waitForDone(5000));
        QTRY_VERIFY(watch.expired()); // the callback and what it holds are freed after the drop
        QVERIFY(!called);

        // Same for a cache hit whose context goes before the queued call runs.
        cacheIconImage("/hit", QImage(2, 2, QImage::Format_ARGB32));
        context = std::make_unique<QObject>();
        loadIconAsync("/hit", context.get(), [&called](const QString&, const QImage&) { called = true; });
        context.reset();
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    void ignoresNullContextAndEmptyCallback()
    {
        std::atomic<int> runs{0};
        setIconExtractorForTesting([&runs](const QString&) {
            ++runs;
            return QImage();
        });
        QObject context;
        loadIconAsync("/a", nullptr, [](const QString&, const QImage&) {});
        loadIconAsync("/a", &context, IconCallback());
        QVERIFY(iconLoadPool()->waitForDone(5000));
        QCOMPARE(runs.load(), 0);
    }

    void atMostTwoExtractionsAtOnce()
    {
        std::atomic<int> running{0};
        std::atomic<int> peak{0};
        QSemaphore gate;
        setIconExtractorForTesting([&](const QString&) {
            const int now = ++running;
            int p = peak.load();
            while (now > p && !peak.compare_exchange_weak(p, now)) {
            }
            gate.acquire();
            --running;
            return QImage(1, 1, QImage::Format_ARGB32);
        });
        QObject context;
        int delivered = 0;
        for (int i = 0; i < 10; ++i)
            loadIconAsync(QString("/f%1").arg(i), &context,
                          [&delivered](const QString&, const QImage&) { ++delivered; });
        QTRY_COMPARE(running.load(), 2);
        gate.release(10);
        QTRY_COMPARE(delivered, 10);
        QCOMPARE(peak.load(), 2);
        QCOMPARE(iconLoadPool()->maxThreadCount(), 2);
    }

    // Many files of one type requested at once, on both worker threads: the theme file is rendered once, and
    // every path's image and cached pixmap share one copy of the pixels.
    void manyPathsOfOneTypeShareOneIcon()
    {
        const QString dir = ktr::test::freshDir("many");
        QStringList paths;
        for (int i = 0; i < 200; ++i) {
            paths << QString("%1/unit%2.c").arg(dir).arg(i);
            ktr::test::writeFile(paths.last(), "x");
        }
        const quint64 before = themeIconRenderCount();
        QObject context;
        QList<QImage> images;
        for (const QString& p : std::as_const(paths)) {
            loadIconAsync(p, &context, [&images](const QString& path, const QImage& img) {
                cacheIconImage(path, img);
                images << img;
            });
        }
        QTRY_COMPARE(images.size(), paths.size());
        QCOMPARE(themeIconRenderCount() - before, 1u);
        for (const QImage& img : std::as_const(images)) {
            QCOMPARE(img.size(), QSize(192, 192));
            QCOMPARE(img.constBits(), images.first().constBits());
        }
        const qint64 pixmapKey = iconCache()->value(paths.first()).cacheKey();
        for (const QString& p : std::as_const(paths)) // all 200 fit in the 256-key cache
            QCOMPARE(iconCache()->value(p).cacheKey(), pixmapKey);
        // A cache hit hands out the shared pixels too.
        QImage hit;
        loadIconAsync(paths.last(), &context, [&hit](const QString&, const QImage& img) { hit = img; });
        QTRY_VERIFY(!hit.isNull());
        QCOMPARE(hit.constBits(), iconCache()->value(paths.first()).toImage().constBits());
    }

    void pixmapRemembersItsResult()
    {
        std::atomic<int> runs{0};
        setIconExtractorForTesting([&runs](const QString&) {
            ++runs;
            return QImage();
        });
        cacheIconPixmap("/failed", QPixmap());
        QVERIFY(loadIconPixmap("/failed").isNull());
        QCOMPARE(runs.load(), 0);

        // Nothing found for an ordinary path: a placeholder (or the provider's icon), remembered.
        const QPixmap p = loadIconPixmap("/nothing/here");
        QCOMPARE(runs.load(), 1);
        QVERIFY(!p.isNull());
        QVERIFY(iconCache()->contains("/nothing/here"));
        loadIconPixmap("/nothing/here");
        QCOMPARE(runs.load(), 1);
        QVERIFY(loadIconPixmap(QString()).isNull());
    }

    void probeWritesItsFilesAndLines()
    {
        const QString out = ktr::test::freshDir("probe") + "/out";
        ktr::test::LogCapture log;
        probeIcons(out);
        QVERIFY(log.contains("icon probe: \"recyclebin\" 192 x 192"));
        // Computer has no icon in the test's themes: it falls back to the panel's own picture. The control
        // panel has neither.
        QVERIFY(log.contains("icon probe: \"computer\" 192 x "));
        QVERIFY(log.contains("icon probe: \"controlpanel\" EMPTY"));
        QVERIFY(QImage(out + "/recyclebin.png").size() == QSize(192, 192));
        QCOMPARE(QImage(out + "/computer.png").width(), 192);
        QVERIFY(!QFile::exists(out + "/controlpanel.png"));
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(log.contains(QString("icon probe: kf-path \"kf-music\" = \"%1\" isDir=").arg(music)));
        QCOMPARE(log.count("icon probe: kf-path"), 6);
        QCOMPARE(log.count("icon probe: hd-resource"), 6);
        QCOMPARE(log.count("icon probe: known-folder"), 6);
    }

    // Offscreen Qt names only its resource folder: the probe looks in the machine's theme folders
    // ($XDG_DATA_DIRS/icons), as the panel does on the desktop, and writes what it finds there.
    void probeWithoutAThemeFromQtUsesTheMachines()
    {
        const QString dataDir = ktr::test::freshDir("machine");
        ktr::test::writeFile(dataDir + "/icons/hicolor/index.theme",
                             "[Icon Theme]\nName=hicolor\nDirectories=48x48/places\n\n[48x48/places]\nSize=48\n");
        QDir().mkpath(dataDir + "/icons/hicolor/48x48/places");
        QVERIFY(IconFixture::square(48, Qt::magenta, 0).save(dataDir + "/icons/hicolor/48x48/places/user-trash.png"));
        const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_DIRS", dataDir.toLocal8Bit());
        QIcon::setThemeSearchPaths({QStringLiteral(":/icons")});
        QIcon::setThemeName(QString());
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_DATA_DIRS", dataDirs);
            QIcon::setThemeSearchPaths({fx.root()});
            QIcon::setThemeName(QStringLiteral("ktrtest"));
            syncIconThemeFromQt();
        });
        const QString out = ktr::test::freshDir("probe3") + "/out";
        ktr::test::LogCapture log;
        probeIcons(out);
        QVERIFY(log.contains("icon probe: Qt names no icon theme folder"));
        QVERIFY(!log.contains("icon probe: \"recyclebin\" EMPTY"));
        const QImage written(out + "/recyclebin.png");
        QCOMPARE(written.pixelColor(written.width() / 2, written.height() / 2), QColor(Qt::magenta));
    }

    void probeLogsEvenWhenItCantWrite()
    {
        const QString blocker = ktr::test::freshDir("probe2") + "/file";
        ktr::test::writeFile(blocker, "x");
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
        ktr::test::LogCapture log;
        probeIcons(blocker + "/out");
        QVERIFY(log.contains("icon probe: \"recyclebin\" 192 x 192"));
        QVERIFY(log.contains("icon probe: known-folder \"kf-music\" 192 x 192"));
        QVERIFY(!QFileInfo(blocker).isDir());
    }
};

KTR_TEST_MAIN(TestIconLoader)
#include "tst_iconloader.moc"
