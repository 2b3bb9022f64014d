#include "backup/backupengine.h"

#include "logcapture.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets the entry's own modification time (a link's, not its target's) to hours before now.
bool ageEntry(const QString& path, double hours)
{
    const qint64 t = QDateTime::currentSecsSinceEpoch() - qint64(hours * 3600);
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = t;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool exists(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

class TestBackupCleanup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void removesOnlyNamedLeftoversOlderThanADay_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("isDir");
        QTest::addColumn<double>("hours");
        QTest::addColumn<bool>("removed");
        QTest::newRow("work folder 25h") << "ktrbak_1f2e" << true << 25.0 << true;
        QTest::newRow("work folder 23h") << "ktrbak_1f2e" << true << 23.0 << false;
        QTest::newRow("restore folder 25h") << "ktrrest_77" << true << 25.0 << true;
        QTest::newRow("script 25h") << "ktrbk_aB3xYz.ps1" << false << 25.0 << true;
        QTest::newRow("script 23h") << "ktrbk_aB3xYz.ps1" << false << 23.0 << false;
        QTest::newRow("backup progress 25h") << "ktrbak_prog_9.txt" << false << 25.0 << true;
        QTest::newRow("restore progress 25h") << "ktrrest_prog_9.txt" << false << 25.0 << true;
        QTest::newRow("file named like a work folder") << "ktrbak_notes" << false << 48.0 << false;
        QTest::newRow("script with another suffix") << "ktrbk_aB3xYz.txt" << false << 48.0 << false;
        QTest::newRow("foreign folder") << "mybak_1" << true << 48.0 << false;
    }
    void removesOnlyNamedLeftoversOlderThanADay()
    {
        QFETCH(QString, name);
        QFETCH(bool, isDir);
        QFETCH(double, hours);
        QFETCH(bool, removed);
        const QString tmp = ktr::test::freshDir(QStringLiteral("tmp"));
        const QString path = tmp + QLatin1Char('/') + name;
        if (isDir) {
            QVERIFY(ktr::test::writeFile(path + QStringLiteral("/sub/inner.bin"), "data"));
        } else {
            QVERIFY(ktr::test::writeFile(path, "data"));
        }
        QVERIFY(ageEntry(path, hours));
        ktr::test::LogCapture log;
        QCOMPARE(BackupEngine::cleanupTempLeftovers(tmp, nullptr), removed ? 1 : 0);
        QCOMPARE(exists(path), !removed);
        QCOMPARE(log.contains(QStringLiteral("temp backup leftovers cleaned: 1")), removed);
    }

    void linksAreRemovedAsLinksNeverFollowed()
    {
        const QString tmp = ktr::test::freshDir(QStringLiteral("tmp"));
        const QString victim = ktr::test::freshDir(QStringLiteral("victim"));
        QVERIFY(ktr::test::writeFile(victim + QStringLiteral("/precious.txt"), "keep me"));
        const QString victimFile = victim + QStringLiteral("/ktrbak_prog_target.txt");
        QVERIFY(ktr::test::writeFile(victimFile, "keep me too"));
        QVERIFY(ageEntry(victimFile, 48));

        // A link posing as a work folder, one posing as a progress file, a dangling one, and an old work
        // folder holding a link to the victim.
        QVERIFY(QFile::link(victim, tmp + QStringLiteral("/ktrbak_x")));
        QVERIFY(QFile::link(victimFile, tmp + QStringLiteral("/ktrbak_prog_1.txt")));
        QVERIFY(QFile::link(tmp + QStringLiteral("/gone"), tmp + QStringLiteral("/ktrrest_dangling")));
        QVERIFY(ktr::test::writeFile(tmp + QStringLiteral("/ktrbak_real/file.txt"), "x"));
        QVERIFY(QFile::link(victim, tmp + QStringLiteral("/ktrbak_real/inner-link")));
        for (const char* n : {"ktrbak_x", "ktrbak_prog_1.txt", "ktrrest_dangling", "ktrbak_real"})
            QVERIFY(ageEntry(tmp + QLatin1Char('/') + QLatin1String(n), 30));

        QCOMPARE(BackupEngine::cleanupTempLeftovers(tmp, nullptr), 4);
        QVERIFY(QDir(tmp).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).isEmpty());
        QCOMPARE(ktr::test::readFile(victim + QStringLiteral("/precious.txt")), QByteArray("keep me"));
        QCOMPARE(ktr::test::readFile(victimFile), QByteArray("keep me too"));
    }

    void raisedStopFlagRemovesNothing()
    {
        const QString tmp = ktr::test::freshDir(QStringLiteral("tmp"));
        QVERIFY(ktr::test::writeFile(tmp + QStringLiteral("/ktrbak_a/f"), "x"));
        QVERIFY(ktr::test::writeFile(tmp + QStringLiteral("/ktrbk_abcdef.ps1"), "x"));
        QVERIFY(ageEntry(tmp + QStringLiteral("/ktrbak_a"), 30));
        QVERIFY(ageEntry(tmp + QStringLiteral("/ktrbk_abcdef.ps1"), 30));
        std::atomic<bool> stop{true};
        ktr::test::LogCapture log;
        QCOMPARE(BackupEngine::cleanupTempLeftovers(tmp, &stop), 0);
        QVERIFY(exists(tmp + QStringLiteral("/ktrbak_a/f")));
        QVERIFY(exists(tmp + QStringLiteral("/ktrbk_abcdef.ps1")));
        QVERIFY(!log.contains(QStringLiteral("temp backup leftovers cleaned")));
        stop = false;
        QCOMPARE(BackupEngine::cleanupTempLeftovers(tmp, &stop), 2);
    }

    void emptyFolderMeansTheUsersTemporaryFolder()
    {
        const QString tmp = QDir::tempPath();
        QVERIFY(tmp.startsWith(ktr::test::testRoot())); // TMPDIR of this test process
        QVERIFY(ktr::test::writeFile(tmp + QStringLiteral("/ktrrest_prog_5.txt"), "x"));
        QVERIFY(ageEntry(tmp + QStringLiteral("/ktrrest_prog_5.txt"), 26));
        QCOMPARE(BackupEngine::cleanupTempLeftovers(QString(), nullptr), 1);
        QCOMPARE(BackupEngine::cleanupTempLeftovers(ktr::test::testRoot() + QStringLiteral("/missing"), nullptr), 0);
    }

    void entriesOfOtherUsersAreLeftAlone()
    {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        const QString tmp = ktr::test::freshDir(QStringLiteral("tmp"));
        const QString theirs = tmp + QStringLiteral("/ktrbak_theirs");
        const QString theirFile = tmp + QStringLiteral("/ktrbak_prog_theirs.txt");
        QVERIFY(ktr::test::writeFile(theirs + QStringLiteral("/f"), "x"));
        QVERIFY(ktr::test::writeFile(theirFile, "x"));
        QCOMPARE(::lchown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
        QCOMPARE(::lchown(QFile::encodeName(theirFile).constData(), 65534, 65534), 0);
        QVERIFY(ageEntry(theirs, 30));
        QVERIFY(ageEntry(theirFile, 30));
        QCOMPARE(BackupEngine::cleanupTempLeftovers(tmp, nullptr), 0);
        QVERIFY(exists(theirs + QStringLiteral("/f")));
        QVERIFY(exists(theirFile));
    }
};

KTR_TEST_MAIN(TestBackupCleanup)
#include "tst_backupcleanup.moc"
