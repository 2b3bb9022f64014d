#include "testenv.h"
#include "ui/savefile.h"

#include "platform/fsentry.h"

#include <QApplication>
#include <QDir>
#include <QSaveFile>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using ktr::ReadStatus;

class TestSaveFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writesWholeFileAndCreatesFolders()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("write"));
        const QString path = dir + QStringLiteral("/a/b/data.json");
        QString error = QStringLiteral("stale");
        QVERIFY(ktr::saveFileAtomic(path, "first", &error));
        QVERIFY(error.isEmpty());
        QCOMPARE(ktr::test::readFile(path), QByteArray("first"));
        QVERIFY(ktr::saveFileAtomic(path, "second, longer", &error));
        QCOMPARE(ktr::test::readFile(path), QByteArray("second, longer"));
        QVERIFY(ktr::saveFileAtomic(path, QByteArray()));
        QCOMPARE(QFileInfo(path).size(), 0);
        // No temporary file is left beside the target.
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"data.json"});
    }

    void failedWrites_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("folder where the file should be") << QStringLiteral("folder");
        QTest::newRow("path below a regular file") << QStringLiteral("below-file");
        QTest::newRow("empty path") << QStringLiteral("empty");
        // Over an old file: the final rename fails, or the sync before it does (then nothing is renamed).
        QTest::newRow("final rename fails") << QStringLiteral("rename");
        QTest::newRow("sync before the rename fails") << QStringLiteral("sync");
    }
    void failedWrites()
    {
        QFETCH(QString, setup);
        const QString dir = ktr::test::freshDir(QStringLiteral("fail-") + setup);
        QString path;
        if (setup == QLatin1String("folder")) {
            path = dir + QStringLiteral("/data.json");
            QVERIFY(QDir().mkpath(path));
            QVERIFY(ktr::test::writeFile(path + QStringLiteral("/inside"), "keep"));
        } else if (setup == QLatin1String("below-file")) {
            QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/plain"), "keep"));
            path = dir + QStringLiteral("/plain/data.json");
        }
        struct Undo
        {
            ~Undo() { ktr::setSaveFileSeams({}); }
        } undo;
        QStringList synced; // what the sync saw: the file behind the descriptor and what it held
        if (setup == QLatin1String("rename") || setup == QLatin1String("sync")) {
            path = dir + QStringLiteral("/data.json");
            QVERIFY(ktr::saveFileAtomic(path, "old content"));
            ktr::SaveFileSeams seams;
            seams.sync = [&synced, setup](int fd, QString* why) {
                // Through the descriptor: the temporary file may have no name yet (O_TMPFILE).
                const QString fdPath = QStringLiteral("/proc/self/fd/%1").arg(fd);
                synced << QFileInfo(QFile::symLinkTarget(fdPath)).fileName()
                       << QString::fromUtf8(ktr::test::readFile(fdPath));
                if (setup == QLatin1String("sync")) {
                    *why = QStringLiteral("fsync failed: Input/output error");
                    return false;
                }
                return ktr::platform::syncFileToDisk(fd, why);
            };
            if (setup == QLatin1String("rename"))
                seams.commit = [](QSaveFile&) { return false; }; // the rename over the target failed
            ktr::setSaveFileSeams(seams);
        }
        QString error;
        QVERIFY(!ktr::saveFileAtomic(path, "new content", &error));
        QVERIFY(!error.isEmpty());
        if (setup == QLatin1String("rename") || setup == QLatin1String("sync")) {
            // The sync ran once, on the whole new content in the temporary file, before any rename.
            QCOMPARE(synced.size(), 2);
            QVERIFY(synced[0] != QLatin1String("data.json"));
            QCOMPARE(synced[1], QStringLiteral("new content"));
            QVERIFY(error.startsWith(setup == QLatin1String("sync") ? "flush failed: fsync failed" : "commit failed"));
            QCOMPARE(ktr::test::readFile(path), QByteArray("old content"));
            QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"data.json"});
        }
        if (setup == QLatin1String("folder")) {
            QVERIFY(QFileInfo(path).isDir());
            QCOMPARE(ktr::test::readFile(path + QStringLiteral("/inside")), QByteArray("keep"));
            QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList{"data.json"});
        } else if (setup == QLatin1String("below-file")) {
            QCOMPARE(ktr::test::readFile(dir + QStringLiteral("/plain")), QByteArray("keep"));
        }
    }

    // A full disk: with less than a buffer's worth to write, the failure shows only when the data reaches
    // the disk. The old file must stay, whole. Where no small tmpfs can be mounted, a file size limit makes
    // the writes fail the same way.
    void fullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("disk");
        QTest::addColumn<int>("size");
        QTest::newRow("full tmpfs, small file fails at flush") << "tmpfs" << 10 * 1024;
        QTest::newRow("full tmpfs, large file fails while writing") << "tmpfs" << 300 * 1024;
        QTest::newRow("size limit, small file fails at flush") << "limit" << 10 * 1024;
    }
    void fullDiskKeepsTheOldFile()
    {
        QFETCH(QString, disk);
        QFETCH(int, size);
        const QString dir = ktr::test::freshDir(QStringLiteral("disk"));
        struct Undo
        {
            QByteArray mount;
            bool limited = false;
            rlimit saved{};
            ~Undo()
            {
                if (!mount.isEmpty())
                    ::umount2(mount.constData(), MNT_DETACH);
                if (limited)
                    ::setrlimit(RLIMIT_FSIZE, &saved);
            }
        } undo;
        if (disk == QLatin1String("tmpfs")) {
            if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=200k") != 0)
                QSKIP("cannot mount a small tmpfs here; the size-limit case covers the same failure");
            undo.mount = QFile::encodeName(dir);
        }
        const QString path = dir + QStringLiteral("/settings.json");
        const QByteArray old = "{\"iconSize\": 64}\n";
        QVERIFY(ktr::saveFileAtomic(path, old));
        if (disk == QLatin1String("tmpfs")) {
            QFile filler(dir + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size()) {
            }
        } else {
            // Writes past 4 KiB fail with EFBIG (the signal that would end the process is ignored).
            ::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &undo.saved);
            rlimit small{4096, undo.saved.rlim_max};
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
            undo.limited = true;
        }
        QString error;
        QVERIFY(!ktr::saveFileAtomic(path, QByteArray(size, 'n'), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(ktr::test::readFile(path), old);
        const QStringList expected =
            disk == QLatin1String("tmpfs") ? QStringList{"filler", "settings.json"} : QStringList{"settings.json"};
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), expected);
    }

    // A new data file is the user's alone; an existing one keeps what it had.
    void newFilesAreOwnerOnly()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("mode"));
        const QString path = dir + QStringLiteral("/layout.json");
        const mode_t saved = ::umask(022);
        QVERIFY(ktr::saveFileAtomic(path, "x"));
        QCOMPARE(int(ktr::platform::entryStat(path).mode), 0600);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        QVERIFY(ktr::saveFileAtomic(path, "y"));
        ::umask(saved);
        QCOMPARE(int(ktr::platform::entryStat(path).mode), 0640);
    }

    void reads_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("data");
        const QByteArray text("0123456789");
        QTest::newRow("whole file") << "file" << qint64(100) << int(ReadStatus::Ok) << text;
        QTest::newRow("exactly the cap") << "file" << qint64(10) << int(ReadStatus::Ok) << text;
        QTest::newRow("one byte over the cap") << "file" << qint64(9) << int(ReadStatus::TooLarge) << QByteArray();
        QTest::newRow("empty file") << "empty" << qint64(10) << int(ReadStatus::Ok) << QByteArray();
        QTest::newRow("missing") << "missing" << qint64(10) << int(ReadStatus::Missing) << QByteArray();
        QTest::newRow("folder") << "folder" << qint64(10) << int(ReadStatus::NotAFile) << QByteArray();
        QTest::newRow("below a regular file") << "below-file" << qint64(10) << int(ReadStatus::Missing) << QByteArray();
        // A file whose size says 0 and that holds more (as /proc files do, or one growing while it is read):
        // the read itself stops at the cap.
        QTest::newRow("reports size 0, holds more than the cap")
            << "proc" << qint64(16) << int(ReadStatus::TooLarge) << QByteArray();
    }
    void reads()
    {
        QFETCH(QString, setup);
        QFETCH(qint64, cap);
        QFETCH(int, status);
        QFETCH(QByteArray, data);
        const QString dir = ktr::test::freshDir(QStringLiteral("read-") +
                                                QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QString path = dir + QStringLiteral("/data.json");
        if (setup == QLatin1String("file"))
            QVERIFY(ktr::test::writeFile(path, "0123456789"));
        else if (setup == QLatin1String("empty"))
            QVERIFY(ktr::test::writeFile(path, QByteArray()));
        else if (setup == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else if (setup == QLatin1String("below-file")) {
            QVERIFY(ktr::test::writeFile(path, "x"));
            path += QStringLiteral("/inner.json");
        } else if (setup == QLatin1String("proc")) {
            path = QStringLiteral("/proc/self/status");
            QCOMPARE(QFileInfo(path).size(), 0);
            QVERIFY(ktr::test::readFile(path).size() > cap);
        }
        QByteArray out("stale");
        QString error;
        QCOMPARE(int(ktr::readFileCapped(path, cap, &out, &error)), status);
        QCOMPARE(out, data);
        QCOMPARE(error.isEmpty(), status == int(ReadStatus::Ok));
    }
};

KTR_TEST_MAIN(TestSaveFile)
#include "tst_savefile.moc"
