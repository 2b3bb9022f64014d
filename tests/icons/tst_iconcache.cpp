#include "icons/iconcache.h"
#include "testenv.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QThread>

#include <sys/stat.h>

class TestIconCache : public QObject
{
    Q_OBJECT
private:
    static QImage solid(int w, int h, QColor c)
    {
        QImage img(w, h, QImage::Format_ARGB32);
        img.fill(c);
        return img;
    }
    static QByteArray png(const QImage& img)
    {
        QByteArray b;
        QBuffer buf(&b);
        buf.open(QIODevice::WriteOnly);
        img.save(&buf, "PNG");
        return b;
    }

private Q_SLOTS:
    void init()
    {
        clearIconCache();
        QDir(iconSnapDir()).removeRecursively();
        QFile::remove(iconSnapDir());
    }

    void evictsOldestKeyPast256()
    {
        for (int i = 0; i < 256; ++i)
            cacheIconPixmap(QString::number(i), QPixmap());
        cacheIconPixmap(QStringLiteral("0"), QPixmap::fromImage(solid(2, 2, Qt::red))); // replacing evicts nothing
        QCOMPARE(iconCache()->size(), 256);
        QVERIFY(!iconCache()->value(QStringLiteral("0")).isNull());
        cacheIconPixmap(QStringLiteral("256"), QPixmap());
        QCOMPARE(iconCache()->size(), 256);
        QVERIFY(!iconCache()->contains(QStringLiteral("0")));
        QVERIFY(iconCache()->contains(QStringLiteral("1")));
        QVERIFY(iconCache()->contains(QStringLiteral("256")));
    }

    // Pinned keys (the group on show) are never evicted and do not take room from the 256 others.
    void pinnedKeysStay()
    {
        QSet<QString> pins;
        for (int i = 0; i < 300; ++i)
            pins.insert(QStringLiteral("pin%1").arg(i));
        pinIconPaths(pins);
        for (int i = 0; i < 300; ++i)
            cacheIconPixmap(QStringLiteral("pin%1").arg(i), QPixmap());
        for (int i = 0; i < 400; ++i)
            cacheIconPixmap(QString::number(i), QPixmap());
        QCOMPARE(iconCache()->size(), 300 + 256);
        for (const QString& pin : std::as_const(pins))
            QVERIFY(iconCache()->contains(pin));
        QVERIFY(!iconCache()->contains(QStringLiteral("143")));
        QVERIFY(iconCache()->contains(QStringLiteral("144")));
        // Unpinned again, they are the oldest and go first.
        pinIconPaths({QStringLiteral("pin7")});
        QCOMPARE(iconCache()->size(), 257);
        QVERIFY(iconCache()->contains(QStringLiteral("pin7")));
        QVERIFY(!iconCache()->contains(QStringLiteral("pin8")));
        QVERIFY(iconCache()->contains(QStringLiteral("144")));
        // New pins among the cached keys (one was free room), then new keys: the oldest unpinned go, one per key.
        pinIconPaths({QStringLiteral("pin7"), QStringLiteral("200")});
        for (int i = 0; i < 10; ++i)
            cacheIconPixmap(QStringLiteral("n%1").arg(i), QPixmap());
        QCOMPARE(iconCache()->size(), 258);
        QVERIFY(!iconCache()->contains(QStringLiteral("152")));
        QVERIFY(iconCache()->contains(QStringLiteral("153")));
        QVERIFY(iconCache()->contains(QStringLiteral("200")));
        QVERIFY(iconCache()->contains(QStringLiteral("pin7")));
        QVERIFY(iconCache()->contains(QStringLiteral("n0")));
        pinIconPaths({});
        QCOMPARE(iconCache()->size(), 256);
    }

    void remembersFailuresExceptShellItems_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("remembered");
        QTest::newRow("ordinary path") << "/nowhere/file.txt" << true;
        QTest::newRow("shell item") << "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}" << false;
        QTest::newRow("colons without brace") << "::file" << true;
    }
    void remembersFailuresExceptShellItems()
    {
        QFETCH(QString, path);
        QFETCH(bool, remembered);
        cacheIconImage(path, QImage());
        QCOMPARE(iconCache()->contains(path), remembered);
        if (remembered)
            QVERIFY(iconCache()->value(path).isNull());
        cacheIconImage(path, solid(3, 3, Qt::blue));
        QCOMPARE(iconCache()->value(path).size(), QSize(3, 3));
    }

    void pixmapsOfOneImageShareTheirPixels()
    {
        const QImage shared = solid(16, 16, Qt::red);
        const QImage sameColourOtherImage = solid(16, 16, Qt::red);
        cacheIconImage(QStringLiteral("a"), shared);
        cacheIconImage(QStringLiteral("b"), QImage(shared));
        cacheIconImage(QStringLiteral("c"), sameColourOtherImage);
        const QPixmap a = iconCache()->value(QStringLiteral("a"));
        QCOMPARE(iconCache()->value(QStringLiteral("b")).cacheKey(), a.cacheKey());
        QVERIFY(iconCache()->value(QStringLiteral("c")).cacheKey() != a.cacheKey());
        QCOMPARE(a.toImage().pixelColor(8, 8), QColor(Qt::red));

        // Changed pixels are another image: no stale pixmap for it.
        QImage changed = shared;
        changed.fill(Qt::green);
        cacheIconImage(QStringLiteral("d"), changed);
        QCOMPARE(iconCache()->value(QStringLiteral("d")).toImage().pixelColor(8, 8), QColor(Qt::green));

        // After a clear the old pixmap is no longer handed out, so the map holds nothing of the old entries.
        clearIconCache();
        cacheIconImage(QStringLiteral("a"), shared);
        QVERIFY(iconCache()->value(QStringLiteral("a")).cacheKey() != a.cacheKey());
    }

    void clearAndRemoveLeaveSharedCopiesAlone()
    {
        cacheIconImage(QStringLiteral("a"), solid(1, 1, Qt::red));
        cacheIconImage(QStringLiteral("b"), solid(1, 1, Qt::red));
        const IconCacheMap copy = *iconCache();
        IconCacheMap other = copy;
        iconCacheRemove(other, QStringLiteral("a"));
        QCOMPARE(other.keys(), QStringList{"b"});
        QCOMPARE(copy.size(), 2);
        clearIconCache();
        QVERIFY(iconCache()->isEmpty());
        QCOMPARE(copy.size(), 2);
        // The order list went too: 256 new keys evict none of them early.
        for (int i = 0; i < 256; ++i)
            cacheIconPixmap(QString::number(i), QPixmap());
        QCOMPARE(iconCache()->size(), 256);
    }

    // What the memory cache holds is no larger than the grid paints (96 px at this screen's ratio of 1): a
    // 192 px master is held at 96, a smaller one as it is, and paths of one image still share one pixmap.
    void heldAtThePaintedSize_data()
    {
        QTest::addColumn<QSize>("master");
        QTest::addColumn<QSize>("held");
        QTest::newRow("master size") << QSize(192, 192) << QSize(96, 96);
        QTest::newRow("wide") << QSize(192, 96) << QSize(96, 48);
        QTest::newRow("just above") << QSize(97, 97) << QSize(96, 96);
        QTest::newRow("smaller stays") << QSize(64, 64) << QSize(64, 64);
    }
    void heldAtThePaintedSize()
    {
        QFETCH(QSize, master);
        QFETCH(QSize, held);
        QCOMPARE(heldIconSide(), 96);
        const QImage image = solid(master.width(), master.height(), Qt::red);
        cacheIconImage(QStringLiteral("/held/a"), image);
        cacheIconImage(QStringLiteral("/held/b"), image);
        const QPixmap a = iconCache()->value(QStringLiteral("/held/a"));
        QCOMPARE(a.size(), held);
        QCOMPARE(a.toImage().pixelColor(held.width() / 2, held.height() / 2), QColor(Qt::red));
        QCOMPARE(iconCache()->value(QStringLiteral("/held/b")).cacheKey(), a.cacheKey());
    }

    void snapshotNames_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("dot component") << "/home/u/Doc.txt"
                                       << "/home/u/./Doc.txt" << true;
        QTest::newRow("double slash") << "/home/u/Doc.txt"
                                      << "/home//u/Doc.txt" << true;
        QTest::newRow("trailing slash") << "/home/u/dir"
                                        << "/home/u/dir/" << true;
        QTest::newRow("parent component") << "/home/u/Doc.txt"
                                          << "/home/u/x/../Doc.txt" << true;
        QTest::newRow("case differs: two files on Linux") << "/home/u/Doc.txt"
                                                          << "/home/u/doc.txt" << false;
        QTest::newRow("different files") << "/home/u/a"
                                         << "/home/u/b" << false;
    }
    void snapshotNames()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        const QString pa = iconSnapPath(a);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}\\.png$")).match(QFileInfo(pa).fileName()).hasMatch());
        QCOMPARE(QFileInfo(pa).absolutePath(), appDataDir() + QStringLiteral("/cache/iconsnap"));
        QCOMPARE(pa == iconSnapPath(b), same);
        QCOMPARE(iconSnapPath(QString()), QString());
    }
    void snapshotNameIsSha256OfCleanPath()
    {
        const QByteArray digest = QCryptographicHash::hash("/a/b", QCryptographicHash::Sha256).toHex().left(32);
        QCOMPARE(QFileInfo(iconSnapPath(QStringLiteral("/a/./b"))).baseName(), QString::fromLatin1(digest));
    }

    void snapshotIsWrittenOnce()
    {
        const QString path = QStringLiteral("/some/file");
        saveIconSnapshot(path, solid(10, 10, Qt::red));
        saveIconSnapshot(path, solid(20, 20, Qt::blue));
        const QImage back = readIconSnapshot(path);
        QCOMPARE(back.size(), QSize(10, 10));
        QCOMPARE(back.format(), QImage::Format_ARGB32);
        QCOMPARE(back.pixelColor(5, 5), QColor(Qt::red));
        saveIconSnapshot(QString(), solid(1, 1, Qt::red));
        saveIconSnapshot(QStringLiteral("/other"), QImage());
        QCOMPARE(QDir(iconSnapDir()).entryList(QDir::Files).size(), 1);
    }

    // Paths showing one image share one snapshot file: the first is written, the others are hard links to it,
    // which the reader takes like any snapshot; another image gets a file of its own. Queued snapshots land
    // on the writer thread.
    void pathsOfOneImageShareOneFile()
    {
        const QImage shared = solid(16, 16, Qt::red);
        const QStringList paths{QStringLiteral("/one/a"), QStringLiteral("/one/b"), QStringLiteral("/one/c")};
        saveIconSnapshot(paths[0], shared);
        for (const QString& p : paths.mid(1))
            queueIconSnapshot(p, shared);
        queueIconSnapshot(QStringLiteral("/other"), solid(16, 16, Qt::blue));
        waitForIconSnapshots();
        const auto inode = [](const QString& path, nlink_t* links = nullptr) {
            struct stat st = {};
            if (::stat(QFile::encodeName(iconSnapPath(path)).constData(), &st) != 0)
                return ino_t(0);
            if (links)
                *links = st.st_nlink;
            return st.st_ino;
        };
        nlink_t links = 0;
        const ino_t first = inode(paths[0], &links);
        QVERIFY(first != 0);
        QCOMPARE(links, nlink_t(3));
        for (const QString& p : paths) {
            QCOMPARE(inode(p), first);
            QVERIFY(!QFileInfo(iconSnapPath(p)).isSymLink());
            QCOMPARE(readIconSnapshot(p).pixelColor(8, 8), QColor(Qt::red));
        }
        QVERIFY(inode(QStringLiteral("/other")) != first);
        QCOMPARE(readIconSnapshot(QStringLiteral("/other")).pixelColor(8, 8), QColor(Qt::blue));
        // Nothing is left beside the snapshots.
        QCOMPARE(QDir(iconSnapDir()).entryList(QDir::Files).size(), 4);
    }

    // Every read of a snapshot makes a new image; paths whose snapshots hold one picture (links to one file,
    // or files of equal bytes) still end up sharing one pixmap in the memory cache, another picture not, even
    // one alike but for its last pixel.
    void snapshotsOfOnePictureShareOnePixmap_data()
    {
        QTest::addColumn<QImage>("other");
        QTest::addColumn<QPoint>("differs"); // a pixel where the other picture is not red
        QTest::newRow("another colour") << solid(16, 16, Qt::blue) << QPoint(8, 8);
        QImage onePixel = solid(16, 16, Qt::red).convertToFormat(QImage::Format_ARGB32);
        onePixel.setPixelColor(15, 15, QColor(254, 0, 0));
        QTest::newRow("one pixel off by one") << onePixel << QPoint(15, 15);
    }
    void snapshotsOfOnePictureShareOnePixmap()
    {
        QFETCH(QImage, other);
        QFETCH(QPoint, differs);
        const QImage red = solid(16, 16, Qt::red);
        saveIconSnapshot(QStringLiteral("/pic/a"), red);
        saveIconSnapshot(QStringLiteral("/pic/b"), red); // a link to a's file
        QVERIFY(ktr::test::writeFile(iconSnapPath(QStringLiteral("/pic/c")), png(red)));
        QVERIFY(ktr::test::writeFile(iconSnapPath(QStringLiteral("/pic/d")), png(other)));
        const QStringList paths{QStringLiteral("/pic/a"), QStringLiteral("/pic/b"), QStringLiteral("/pic/c"),
                                QStringLiteral("/pic/d")};
        for (const QString& p : paths) {
            const QImage read = readIconSnapshot(p);
            QVERIFY(!read.isNull());
            cacheIconImage(p, read);
        }
        const qint64 a = iconCache()->value(paths[0]).cacheKey();
        QCOMPARE(iconCache()->value(paths[1]).cacheKey(), a);
        QCOMPARE(iconCache()->value(paths[2]).cacheKey(), a);
        QVERIFY(iconCache()->value(paths[3]).cacheKey() != a);
        QCOMPARE(iconCache()->value(paths[2]).toImage().pixelColor(8, 8), QColor(Qt::red));
        QCOMPARE(iconCache()->value(paths[3]).toImage().pixelColor(differs), other.pixelColor(differs));
        QCOMPARE(iconCache()->value(paths[0]).toImage().pixelColor(differs), QColor(Qt::red));
        // Read again after the cache let them go: still one pixmap for the picture.
        clearIconCache();
        cacheIconImage(paths[0], readIconSnapshot(paths[0]));
        cacheIconImage(paths[2], readIconSnapshot(paths[2]));
        QCOMPARE(iconCache()->value(paths[2]).cacheKey(), iconCache()->value(paths[0]).cacheKey());
    }

    // At exit the queue is dropped and the write under way finished: only whole snapshots remain, no
    // temporary file beside them.
    void exitLeavesOnlyWholeSnapshots()
    {
        for (int i = 0; i < 300; ++i)
            queueIconSnapshot(QStringLiteral("/exit/%1").arg(i), solid(64, 64, QColor(i % 256, 0, 0)));
        dropQueuedIconSnapshots();
        const QFileInfoList files = QDir(iconSnapDir()).entryInfoList(QDir::Files);
        for (const QFileInfo& f : files) {
            QCOMPARE(f.suffix(), QStringLiteral("png"));
            QVERIFY2(!QImage(f.filePath()).isNull(), qPrintable(f.fileName()));
        }
        waitForIconSnapshots(); // nothing is left to run
        QCOMPARE(QDir(iconSnapDir()).entryInfoList(QDir::Files).size(), files.size());
    }

    void emptySnapshotIsIgnoredAndReplaced()
    {
        const QString path = QStringLiteral("/empty/one");
        QVERIFY(ktr::test::writeFile(iconSnapPath(path), QByteArray()));
        QVERIFY(readIconSnapshot(path).isNull());
        saveIconSnapshot(path, solid(4, 4, Qt::green));
        QCOMPARE(readIconSnapshot(path).size(), QSize(4, 4));
    }

    void readRefusesWhatBreaksTheLimits_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray big = png(solid(8, 8, Qt::red));
        big.append(QByteArray(2 * 1024 * 1024, '\0'));
        QTest::newRow("over 2 MiB") << big;
        // A valid PNG header declaring 5000 x 10 pixels.
        QTest::newRow("declares 5000 px")
            << QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000013880000000a08060000001f15c489");
        QTest::newRow("not a png") << QByteArray("GIF89a......");
        QTest::newRow("truncated png") << png(solid(8, 8, Qt::red)).left(40);
    }
    void readRefusesWhatBreaksTheLimits()
    {
        QFETCH(QByteArray, bytes);
        const QString path = QStringLiteral("/limits");
        QVERIFY(ktr::test::writeFile(iconSnapPath(path), bytes));
        QVERIFY(readIconSnapshot(path).isNull());
    }

    void neverReadsOrWritesThroughALink()
    {
        const QString target = ktr::test::freshDir("linktarget") + "/victim.png";
        QVERIFY(ktr::test::writeFile(target, png(solid(6, 6, Qt::red))));
        const QString path = QStringLiteral("/linked");
        QDir().mkpath(iconSnapDir());
        QVERIFY(QFile::link(target, iconSnapPath(path)));
        QVERIFY(readIconSnapshot(path).isNull());
        saveIconSnapshot(path, solid(3, 3, Qt::blue));
        QVERIFY(!QFileInfo(iconSnapPath(path)).isSymLink());
        QCOMPARE(readIconSnapshot(path).size(), QSize(3, 3));
        QCOMPARE(QImage(target).size(), QSize(6, 6)); // the link's target is untouched

        // A snapshot folder that is itself a link is not used either.
        clearIconCache();
        QDir(iconSnapDir()).removeRecursively();
        const QString elsewhere = ktr::test::freshDir("elsewhere");
        QVERIFY(QFile::link(elsewhere, iconSnapDir()));
        saveIconSnapshot(path, solid(3, 3, Qt::blue));
        QVERIFY(QDir(elsewhere).isEmpty());
        QVERIFY(QFile::remove(iconSnapDir()));
    }

    void writeFailureIsSilent()
    {
        // The snapshot folder can't be created: a regular file stands where it should be.
        QDir().mkpath(QFileInfo(iconSnapDir()).absolutePath());
        QVERIFY(ktr::test::writeFile(iconSnapDir(), "file"));
        saveIconSnapshot(QStringLiteral("/x"), solid(2, 2, Qt::red));
        QVERIFY(readIconSnapshot(QStringLiteral("/x")).isNull());
        QCOMPARE(ktr::test::readFile(iconSnapDir()), QByteArray("file"));
    }

    void twoWritersLeaveOneValidFile()
    {
        const QString path = QStringLiteral("/shared/by/two");
        QList<QThread*> threads;
        for (int i = 0; i < 8; ++i) {
            const QColor c = i % 2 ? QColor(Qt::red) : QColor(Qt::blue);
            threads << QThread::create([path, c] { saveIconSnapshot(path, solid(64, 64, c)); });
        }
        for (QThread* t : threads)
            t->start();
        for (QThread* t : threads) {
            QVERIFY(t->wait(5000));
            delete t;
        }
        QCOMPARE(QDir(iconSnapDir()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QFileInfo(iconSnapPath(path)).fileName()});
        const QImage back = readIconSnapshot(path);
        QCOMPARE(back.size(), QSize(64, 64));
        const QColor c = back.pixelColor(0, 0);
        for (int y = 0; y < 64; y += 9)
            for (int x = 0; x < 64; x += 9)
                QCOMPARE(back.pixelColor(x, y), c);
    }
};

KTR_TEST_MAIN(TestIconCache)
#include "tst_iconcache.moc"
