#include "iconfixture.h"
#include "platform/icontheme.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QtEndian>

#include <sys/stat.h>

using ktr::platform::IconThemes;
using ktr::test::IconFixture;

class TestIconTheme : public QObject
{
    Q_OBJECT
private:
    IconFixture fx;

private Q_SLOTS:
    void initTestCase()
    {
        fx.addPng("ktrtest", "48x48/places", "folder", 48, Qt::red);
        fx.addPng("ktrtest", "256x256/places", "folder", 256, Qt::green);
        fx.addPng("ktrtest", "48x48/mimetypes", "text-plain", 48, Qt::blue);
        IconFixture::writeSvg(fx.root() + "/ktrtest/scalable/apps/editor.svg", Qt::yellow, 64, 32);
        fx.addPng("ktrtest", "48x48/places", "editor", 48, Qt::cyan);
        fx.addPng("ktrbase", "32x32/mimetypes", "text-x-generic", 32, Qt::magenta);
        fx.addPng("hicolor", "48x48/apps", "calc", 48, Qt::darkRed);
        fx.addPng("hicolor", "48x48/apps", "text-plain", 48, Qt::darkBlue); // hidden by the theme's own
        ktr::test::writeFile(fx.pixmapsDir() + "/oldapp.xpm", QByteArray());
        IconFixture::square(20, Qt::darkGreen, 0).save(fx.pixmapsDir() + "/oldapp.png");
        IconThemes::configure(fx.themes());
    }

    void cleanup()
    {
        for (const char* theme : {"ktrtest", "ktrbase", "hicolor"})
            QFile::remove(fx.root() + '/' + theme + "/icon-theme.cache");
        IconThemes::configure(fx.themes());
    }

    // Each theme folder's cache, in one of the states a machine can hold; only a sound, current one is read.
    void writeCaches(const QString& state, const QStringList& ghosts = {})
    {
        for (const char* theme : {"ktrtest", "ktrbase", "hicolor"}) {
            const QString dir = fx.root() + '/' + theme;
            const QString cache = dir + "/icon-theme.cache";
            QFile::remove(cache);
            if (state == "none")
                continue;
            QVERIFY(IconFixture::writeIconCache(dir, ghosts));
            QByteArray bytes = ktr::test::readFile(cache);
            if (state == "stale") {
                QFile f(cache);
                QVERIFY(f.open(QIODevice::ReadWrite));
                QVERIFY(f.setFileTime(QFileInfo(dir).lastModified().addSecs(-10), QFileDevice::FileModificationTime));
                continue;
            }
            if (state == "truncated")
                bytes.truncate(bytes.size() / 2);
            else if (state == "offsets past the end")
                qToBigEndian(quint32(bytes.size() + 100), bytes.data() + 4); // the hash table
            else if (state == "other version")
                qToBigEndian(quint16(2), bytes.data());
            else if (state == "empty")
                bytes.clear();
            if (state != "sound")
                QVERIFY(ktr::test::writeFile(cache, bytes));
        }
        IconThemes::configure(fx.themes());
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("cache");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("expected"); // path below the fixture root; empty: nothing found
        // Every lookup gives the same file whether the themes are listed or read through a cache.
        for (const char* cache :
             {"none", "sound", "stale", "truncated", "offsets past the end", "other version", "empty"})
            addLookupRows(QString::fromLatin1(cache));
    }
    void addLookupRows(const QString& cache)
    {
        const auto newRow = [&cache](const char* tag) -> QTestData& {
            return QTest::newRow(qPrintable(cache + ": " + tag)) << cache;
        };
        newRow("exact fixed size") << QStringList{"folder"} << 48 << "ktrtest/48x48/places/folder.png";
        newRow("nearest size") << QStringList{"folder"} << 192 << "ktrtest/256x256/places/folder.png";
        newRow("scalable matches") << QStringList{"editor"} << 192 << "ktrtest/scalable/apps/editor.svg";
        newRow("exact fixed beats scalable") << QStringList{"editor"} << 48 << "ktrtest/48x48/places/editor.png";
        newRow("inherited theme") << QStringList{"text-x-generic"} << 256
                                  << "ktrbase/32x32/mimetypes/text-x-generic.png";
        newRow("hicolor last") << QStringList{"calc"} << 256 << "hicolor/48x48/apps/calc.png";
        newRow("theme before hicolor") << QStringList{"text-plain"} << 48 << "ktrtest/48x48/mimetypes/text-plain.png";
        newRow("first name found wins") << QStringList{"nothing-here", "text-x-generic", "folder"} << 48
                                        << "ktrbase/32x32/mimetypes/text-x-generic.png";
        newRow("unthemed fallback") << QStringList{"oldapp"} << 48 << "-pixmaps/oldapp.png";
        newRow("unknown") << QStringList{"no-such-icon"} << 48 << "";
        newRow("names with a slash are not paths") << QStringList{"../ktrtest/48x48/places/folder"} << 48 << "";
    }
    void lookup()
    {
        QFETCH(QString, cache);
        writeCaches(cache);
        QFETCH(QStringList, names);
        QFETCH(int, size);
        QFETCH(QString, expected);
        const QString found = IconThemes::findIconFile(names, size);
        if (expected.isEmpty())
            QCOMPARE(found, QString());
        else if (expected.startsWith('-'))
            QCOMPARE(found, fx.root() + expected);
        else
            QCOMPARE(found, fx.root() + '/' + expected);
    }

    // A sound cache is what the themes hold: an icon it lists is found without looking at the folder (as
    // the desktop's own lookups do); a stale or damaged one is not believed.
    void cacheIsReadInsteadOfTheFolder_data()
    {
        QTest::addColumn<QString>("cache");
        QTest::addColumn<bool>("believed");
        QTest::newRow("sound") << "sound" << true;
        QTest::newRow("stale") << "stale" << false;
        QTest::newRow("damaged") << "offsets past the end" << false;
    }
    void cacheIsReadInsteadOfTheFolder()
    {
        QFETCH(QString, cache);
        QFETCH(bool, believed);
        writeCaches(cache, {"48x48/places/ghost.png", "unlisted/stray.png"});
        const QString ghost = fx.root() + "/ktrtest/48x48/places/ghost.png";
        QCOMPARE(IconThemes::findIconFile({"ghost"}, 48), believed ? ghost : QString());
        // A directory index.theme does not name stays out, cached or not.
        QCOMPARE(IconThemes::findIconFile({"stray"}, 48), QString());
    }

    void loadsFromAnyThread()
    {
        QImage fromThread;
        std::unique_ptr<QThread> t(QThread::create([&] { fromThread = IconThemes::loadIcon({"folder"}, 256); }));
        t->start();
        QVERIFY(t->wait(5000));
        QCOMPARE(fromThread.size(), QSize(256, 256));
        QCOMPARE(fromThread.pixelColor(128, 128), QColor(Qt::green));
    }

    void rendersSvgKeepingAspect()
    {
        const QImage img = ktr::platform::renderIconFile(fx.root() + "/ktrtest/scalable/apps/editor.svg", 128);
        QCOMPARE(img.size(), QSize(128, 64));
        QCOMPARE(img.format(), QImage::Format_ARGB32);
        QCOMPARE(img.pixelColor(64, 32), QColor(Qt::yellow));
    }

    void refusesOversizeAndBrokenFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        // A PNG header declaring 5000 x 5000 pixels: refused before anything is decoded.
        QByteArray huge = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000013880000138808060000");
        QTest::newRow("declares 5000 px") << huge << "huge.png";
        QTest::newRow("empty") << QByteArray() << "empty.png";
        QTest::newRow("not an image") << QByteArray("hello") << "text.png";
        QTest::newRow("broken svg") << QByteArray("<svg") << "broken.svg";
    }
    void refusesOversizeAndBrokenFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        const QString path = ktr::test::freshDir("bad") + '/' + name;
        QVERIFY(ktr::test::writeFile(path, bytes));
        QVERIFY(ktr::platform::renderIconFile(path, 64).isNull());
    }

    void mimeNames_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing text file, by name") << "missing.txt"
                                                    << "text-plain,text-x-generic";
        QTest::newRow("directory") << "dir"
                                   << "inode-directory,folder";
        QTest::newRow("fifo is not opened") << "fifo"
                                            << "";
    }
    void mimeNames()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        const QString dir = ktr::test::freshDir("mime");
        QString path = dir + '/' + kind;
        if (kind == "dir")
            path = dir;
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QElapsedTimer timer;
        timer.start();
        const QStringList names = ktr::platform::mimeIconNames(path);
        QVERIFY(timer.elapsed() < 2000);
        if (!expected.isEmpty())
            QCOMPARE(names.mid(0, 2).join(','), expected);
    }

    // Entries the program writes name their icons as the freedesktop icon naming standard does: a theme like
    // Adwaita has "text-x-generic" but no "text-plain".
    void standardNames_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << "notes.txt"
                              << "text-x-generic";
        QTest::newRow("picture") << "photo.png"
                                 << "image-x-generic";
        QTest::newRow("web page") << "page.html"
                                  << "text-html";
        QTest::newRow("shell script") << "run.sh"
                                      << "text-x-script";
        QTest::newRow("pdf") << "paper.pdf"
                             << "x-office-document";
        QTest::newRow("unknown data") << "blob.ktr-unknown"
                                      << "text-x-generic";
        QTest::newRow("folder") << ""
                                << "folder";
    }
    void standardNames()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        const QString dir = ktr::test::freshDir("named");
        QString path = dir;
        if (!file.isEmpty()) {
            path += '/' + file;
            QVERIFY(ktr::test::writeFile(path, QByteArrayLiteral("\x89\x01\x02 no known kind")));
        }
        const QString name = ktr::platform::standardIconName(path);
        QCOMPARE(name, expected);
        QVERIFY(ktr::platform::isStandardIconName(name));
    }

    // A name a theme lacks falls back to the standard names it specialises, never to one outside the list.
    void fallbacks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("user folder") << "folder-documents" << QStringList{"folder-documents", "folder"};
        QTest::newRow("status of a place") << "user-trash-full" << QStringList{"user-trash-full", "user-trash"};
        QTest::newRow("two levels") << "preferences-system-network"
                                    << QStringList{"preferences-system-network", "preferences-system"};
        QTest::newRow("prefix not a standard name") << "network-workgroup" << QStringList{"network-workgroup"};
        QTest::newRow("one word") << "computer" << QStringList{"computer"};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void fallbacks()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        QCOMPARE(ktr::platform::iconNameFallbacks(name), expected);
    }

    void desktopEntryIcon()
    {
        const QString path = ktr::test::freshDir("desk") + "/app.desktop";
        ktr::test::writeFile(path, "# Icon=comment\n[Desktop Action new]\nIcon=wrong\n"
                                   "[Desktop Entry]\nName=App\nIcon = editor \nIcon=second\nExec=app\n");
        QCOMPARE(ktr::platform::desktopEntryIcon(path), QStringLiteral("editor"));
        QCOMPARE(ktr::platform::desktopEntryIcon(path + ".missing"), QString());
    }
};

KTR_TEST_MAIN(TestIconTheme)
#include "tst_icontheme.moc"
