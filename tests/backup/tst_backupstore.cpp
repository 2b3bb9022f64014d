#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "backupfixture.h"
#include "logcapture.h"
#include "platform/processes.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace backuptest;

namespace {

bool age(const QString& path, qint64 seconds)
{
    const qint64 t = QDateTime::currentSecsSinceEpoch() - seconds;
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = t;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// Writes a file whose birth time differs from the one before it, so an order by time is the creation order
// whatever the file system's time resolution.
bool writeAfter(const QString& path, QDateTime* last)
{
    for (;;) {
        if (!ktr::test::writeFile(path, "z"))
            return false;
        const QDateTime born =
            QFileInfo(path).birthTime().isValid() ? QFileInfo(path).birthTime() : QFileInfo(path).lastModified();
        if (!last->isValid() || born > *last) {
            *last = born;
            return true;
        }
        QFile::remove(path);
    }
}

QStringList names(const QList<BackupEngine::SnapshotInfo>& list)
{
    QStringList out;
    for (const auto& s : list)
        out << s.name;
    return out;
}

// A process of this very program that lives until its standard input closes.
QProcess* startTwin()
{
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KTR_HOLD_STDIN"), QStringLiteral("1"));
    p->setProcessEnvironment(env);
    p->start(QCoreApplication::applicationFilePath(), {QStringLiteral("holdUntilStdinCloses")});
    p->waitForStarted();
    return p;
}

} // namespace

namespace {

QString tagOf(qint64 pid)
{
    ktr::platform::ProcessEntry entry;
    return ktr::platform::readProcessEntry(pid, &entry) ? QStringLiteral("%1-%2").arg(pid).arg(entry.startTicks)
                                                        : QString();
}

// This process's id with another start time: what a run whose id was taken over since left behind.
QString deadRunTag()
{
    ktr::platform::ProcessEntry entry;
    const qint64 pid = QCoreApplication::applicationPid();
    ktr::platform::readProcessEntry(pid, &entry);
    return QStringLiteral("%1-%2").arg(pid).arg(entry.startTicks + 1);
}

} // namespace

class TestBackupStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void holdUntilStdinCloses()
    {
        if (!qEnvironmentVariableIsSet("KTR_HOLD_STDIN"))
            return;
        char c;
        while (::read(0, &c, 1) > 0) {
        }
    }

    void timeoutFollowsTheSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<int>("ms");
        QTest::newRow("negative") << qint64(-1) << 120000;
        QTest::newRow("zero") << qint64(0) << 120000;
        QTest::newRow("1 GiB") << qint64(1) * 1024 * 1024 * 1024 << 248000;
        QTest::newRow("at the cap") << qint64(119789322240) << 14400000;
        QTest::newRow("past the cap") << qint64(119789322241) << 14400000;
        QTest::newRow("just below the cap") << qint64(119789322240 - 8388608) << 14399000;
    }
    void timeoutFollowsTheSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(int, ms);
        QCOMPARE(backupTimeoutMs(bytes), ms);
    }

    void exclusionRules_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("logs folder") << "logs/a.txt" << true;
        QTest::newRow("backslashes") << "\\cache\\x.bin" << true;
        QTest::newRow("nested Backups") << "sub/Backups/z.zip" << true;
        QTest::newRow("upper-case log") << "notes.LOG" << true;
        QTest::newRow("file named logs") << "logs" << false;
        QTest::newRow("catalog") << "catalog.txt" << false;
        QTest::newRow("my.logs folder") << "my.logs/a.txt" << false;
        QTest::newRow("empty") << "" << false;
    }
    void exclusionRules()
    {
        QFETCH(QString, path);
        QFETCH(bool, excluded);
        QCOMPARE(isBackupExcluded(path), excluded);
    }

    void excludedFolderNames()
    {
        for (const char* n : {"logs", "LOGS", "Cache", "backups", ".__restore_bak"})
            QVERIFY2(isExcludedDirName(QString::fromLatin1(n)), n);
        for (const char* n : {"my.logs", "log", "caches", ""})
            QVERIFY2(!isExcludedDirName(QString::fromLatin1(n)), n);
    }

    void treeWalksShareTheRules()
    {
        const QString data = ktr::test::freshDir(QStringLiteral("tree"));
        const auto w = [&data](const char* rel, int size) {
            QVERIFY(ktr::test::writeFile(data + QLatin1Char('/') + QString::fromUtf8(rel), QByteArray(size, 'x')));
        };
        w("a.txt", 10);
        w("sub/b.txt", 20);
        w("logs/c.txt", 400);
        w("d.log", 800);
        w("my.logs/e.txt", 40);
        w(".hidden", 1600);
        w("mine/old.zip", 3200);
        ::symlink("a.txt", QFile::encodeName(data + QStringLiteral("/link")).constData());
        // The size walk counts what a link to a file points at (10 more), as a plain listing does.
        QCOMPARE(dirSizeBytes(data, nullptr), qint64(10 + 20 + 40 + 3200 + 10));

        QStringList files;
        collectSnapshotFiles(data, QString(), files, data + QStringLiteral("/mine"));
        for (QString& f : files)
            f = QDir(data).relativeFilePath(f);
        files.sort();
        QCOMPARE(files,
                 (QStringList{QStringLiteral("a.txt"), QStringLiteral("my.logs/e.txt"), QStringLiteral("sub/b.txt")}));

        const QString copy = ktr::test::freshDir(QStringLiteral("treecopy"));
        QVERIFY(ktr::test::writeFile(copy + QStringLiteral("/a.txt"), "replaced"));
        QVERIFY(copyTreeWithExclusions(data, copy, nullptr, data + QStringLiteral("/mine")));
        QCOMPARE(treeContent(copy).keys(),
                 (QStringList{QStringLiteral("a.txt"), QStringLiteral("my.logs/e.txt"), QStringLiteral("sub/b.txt")}));
        QCOMPARE(ktr::test::readFile(copy + QStringLiteral("/a.txt")), QByteArray(10, 'x'));
        QCOMPARE(QFileInfo(copy + QStringLiteral("/a.txt")).lastModified(),
                 QFileInfo(data + QStringLiteral("/a.txt")).lastModified());

        QVERIFY(!copyTreeWithExclusions(data + QStringLiteral("/absent"), copy, nullptr));
        std::atomic<bool> cancel{true};
        QVERIFY(!copyTreeWithExclusions(data, ktr::test::freshDir(QStringLiteral("cancelled")), &cancel));
        // A target below a regular file can't be made.
        QVERIFY(!copyTreeWithExclusions(data, copy + QStringLiteral("/a.txt/inside"), nullptr));
    }

    void listsOnlySnapshotsNewestFirst()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("list"));
        const QStringList ours = {QStringLiteral("Kestrune-Auto-20260101-100000-042.zip"),
                                  QStringLiteral("Kestrune-Auto-20260101-100000-043.zip"),
                                  QStringLiteral("Kestrune-PreRestore-20260102-080000-000.zip")};
        const QStringList foreign = {QStringLiteral("holiday.zip"), QStringLiteral("Kestrune-Auto-copy.zip"),
                                     QStringLiteral("kestrune-auto-20260101-100000-044.zip"),
                                     QStringLiteral("Kestrune-Auto-20260101-100000-045.zip.bak")};
        for (const QString& n : ours + foreign)
            QVERIFY(ktr::test::writeFile(dir + QLatin1Char('/') + n, n.toUtf8()));
        const QList<BackupEngine::SnapshotInfo> list = BackupEngine::listSnapshots(dir);
        // Created in this order, so the newest is the last one whatever the file system's time resolution.
        QCOMPARE(names(list), (QStringList{ours.at(2), ours.at(1), ours.at(0)}));
        QVERIFY(list.first().isPreRestore);
        QVERIFY(!list.last().isPreRestore);
        QCOMPARE(list.first().size, qint64(ours.at(2).toUtf8().size()));
        QCOMPARE(list.first().path, QDir(dir).absoluteFilePath(ours.at(2)));
        QVERIFY(BackupEngine::listSnapshots(dir + QStringLiteral("/none")).isEmpty());

        BackupEngine::purgeOld(dir, 0);
        BackupEngine::purgeOld(dir, -1);
        QCOMPARE(BackupEngine::listSnapshots(dir).size(), 3);
        BackupEngine::purgeOld(dir, 1);
        // One of each kind: the newest pre-restore snapshot and the newest automatic one.
        QCOMPARE(names(BackupEngine::listSnapshots(dir)), (QStringList{ours.at(2), ours.at(1)}));
        for (const QString& n : foreign)
            QVERIFY2(QFileInfo::exists(dir + QLatin1Char('/') + n), qPrintable(n));
    }

    void purgeKeepsTheNewestOfEachPrefix()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("purge"));
        QStringList made;
        QDateTime last;
        for (int i = 0; i < 5; ++i) {
            // Oldest first: PreRestore, Auto, PreRestore, Auto, Auto.
            const QString n = QStringLiteral("Kestrune-%1-20260101-10000%2-000.zip")
                                  .arg(i % 2 == 0 && i < 4 ? QStringLiteral("PreRestore") : QStringLiteral("Auto"))
                                  .arg(i);
            QVERIFY(writeAfter(dir + QLatin1Char('/') + n, &last));
            made << n;
        }
        BackupEngine::purgeOld(dir, 2);
        // Each kind keeps its two newest: the oldest automatic one goes, both pre-restore ones stay.
        QCOMPARE(names(BackupEngine::listSnapshots(dir)),
                 (QStringList{made.at(4), made.at(3), made.at(2), made.at(0)}));
    }

    // Restores (and refused tries) write a pre-restore snapshot each: however many, they never push out a
    // snapshot the user or the schedule made; among themselves the newest keep are kept.
    void preRestoreSnapshotsNeverPushOutAutomaticOnes_data()
    {
        QTest::addColumn<int>("autos");       // made first, oldest
        QTest::addColumn<int>("preRestores"); // made after them
        QTest::addColumn<int>("keep");
        QTest::newRow("one automatic, eleven restores, keep 10") << 1 << 11 << 10;
        QTest::newRow("keep automatic ones exactly, one restore more") << 3 << 4 << 3;
        QTest::newRow("one restore, automatic ones one over") << 4 << 1 << 3;
    }
    void preRestoreSnapshotsNeverPushOutAutomaticOnes()
    {
        QFETCH(int, autos);
        QFETCH(int, preRestores);
        QFETCH(int, keep);
        const QString dir = ktr::test::freshDir(QStringLiteral("purgekinds"));
        QStringList autoNames;
        QStringList preNames;
        QDateTime last;
        for (int i = 0; i < autos + preRestores; ++i) {
            const bool pre = i >= autos;
            const QString n = QStringLiteral("Kestrune-%1-20260101-1000%2-000.zip")
                                  .arg(pre ? QStringLiteral("PreRestore") : QStringLiteral("Auto"))
                                  .arg(i, 2, 10, QLatin1Char('0'));
            QVERIFY(writeAfter(dir + QLatin1Char('/') + n, &last));
            (pre ? preNames : autoNames).prepend(n); // newest first
        }
        BackupEngine::purgeOld(dir, keep);
        QStringList expected = preNames.mid(0, keep) + autoNames.mid(0, keep);
        QCOMPARE(names(BackupEngine::listSnapshots(dir)), expected);
    }

    void exportCopiesWholeOrNothing()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("export"));
        const QString src = dir + QStringLiteral("/Kestrune-Auto-20260101-100000-000.zip");
        QByteArray content;
        for (int i = 0; i < 3 * 65536 + 17; ++i)
            content.append(char(i * 31));
        QVERIFY(ktr::test::writeFile(src, content));
        QString error;
        QVERIFY(BackupEngine::exportSnapshot(src, dir + QStringLiteral("/out/deeper/copy.zip"), &error));
        QCOMPARE(ktr::test::readFile(dir + QStringLiteral("/out/deeper/copy.zip")), content);

        QVERIFY(!BackupEngine::exportSnapshot(dir + QStringLiteral("/missing.zip"), dir + QStringLiteral("/x.zip"),
                                              &error));
        QCOMPARE(error, QStringLiteral("快照文件不存在"));
        QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/plain"), "file"));
        QVERIFY(!BackupEngine::exportSnapshot(src, dir + QStringLiteral("/plain/sub/x.zip"), &error));
        QCOMPARE(error, QStringLiteral("导出失败，目标目录不可写"));
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/taken.zip")));
        QVERIFY(!BackupEngine::exportSnapshot(src, dir + QStringLiteral("/taken.zip"), &error));
        QCOMPARE(error, QStringLiteral("导出失败，请检查目标路径是否可写"));
        QVERIFY(QFileInfo(dir + QStringLiteral("/taken.zip")).isDir());
        QVERIFY(!BackupEngine::exportSnapshot(dir + QStringLiteral("/out"), dir + QStringLiteral("/y.zip"), &error));
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/y.zip")));
    }

    void staleParts()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("parts"));
        const QString base = QStringLiteral("Kestrune-Auto-20260101-100000-000.zip");
        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(sleeper.waitForStarted());
        std::unique_ptr<QProcess> twin(startTwin());
        QVERIFY(twin->state() == QProcess::Running);
        QProcess ended;
        ended.start(QStringLiteral("true"));
        QVERIFY(ended.waitForFinished());
        const qint64 six = 21600;
        const QString deadTag = deadRunTag();
        struct Case
        {
            QString name;
            qint64 ageSecs;
            bool kept;
        };
        const QList<Case> cases = {
            {base + QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid()), 10 * six, true},
            {QStringLiteral("Kestrune-Auto-20260101-100000-001.zip.%1.part").arg(twin->processId()), 10 * six, true},
            {QStringLiteral("Kestrune-Auto-20260101-100000-002.zip.%1.part").arg(sleeper.processId()), six, false},
            {QStringLiteral("Kestrune-Auto-20260101-100000-003.zip.%1.part").arg(ended.processId()), six, false},
            {QStringLiteral("Kestrune-Auto-20260101-100000-004.zip.%1.part").arg(ended.processId()), six - 60, true},
            {QStringLiteral("Kestrune-Auto-20260101-100000-005.zip.x.part"), six, false},
            // A run tag (id and start time) proves a writer gone at once, whatever the age; a live one keeps.
            {QStringLiteral("Kestrune-Auto-20260101-100000-006.zip.%1.part").arg(deadTag), 0, false},
            {QStringLiteral("Kestrune-Auto-20260101-100000-007.zip.%1.part").arg(backupdetail::runTag()), 10 * six,
             true},
            {QStringLiteral("Kestrune-PreRestore-20260101-100000-008.zip.%1.part").arg(tagOf(twin->processId())),
             10 * six, true},
            {QStringLiteral("download.part"), 10 * six, true},
            {QStringLiteral("film.2.part"), 10 * six, true},
        };
        for (const Case& c : cases) {
            QVERIFY(ktr::test::writeFile(dir + QLatin1Char('/') + c.name, "partial"));
            QVERIFY(age(dir + QLatin1Char('/') + c.name, c.ageSecs));
        }
        ktr::test::LogCapture log;
        QCOMPARE(BackupEngine::removeStaleParts(dir, int(six)), 4);
        for (const Case& c : cases)
            QVERIFY2(QFileInfo::exists(dir + QLatin1Char('/') + c.name) == c.kept, qPrintable(c.name));
        QVERIFY(log.contains(QStringLiteral("stale backup part removed:")));
        twin->closeWriteChannel();
        QVERIFY(twin->waitForFinished());
        sleeper.kill();
        sleeper.waitForFinished();
        QCOMPARE(BackupEngine::removeStaleParts(dir + QStringLiteral("/none"), 1), 0);
    }

    // A killed restore's work folders beside the data folder go at the next start when their run is proven
    // gone; those of a live run and names that tell nothing stay.
    void deadRunsWorkFoldersGoAtOnce()
    {
        const QString parent = ktr::test::freshDir(QStringLiteral("deadruns"));
        const QString data = parent + QStringLiteral("/data");
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/settings.json"), "{}"));
        const QString dead = QStringLiteral("data.ktrrest_%1-0a1b").arg(deadRunTag());
        const QString live = QStringLiteral("data.ktrrest_%1-0a1b").arg(backupdetail::runTag());
        QVERIFY(ktr::test::writeFile(parent + QLatin1Char('/') + dead + QStringLiteral("/apps/big.bin"), "unpacked"));
        QVERIFY(ktr::test::writeFile(parent + QLatin1Char('/') + live + QStringLiteral("/a"), "in use"));
        QVERIFY(QDir().mkpath(parent + QStringLiteral("/data.ktrrest_unknown")));
        QVERIFY(QDir().mkpath(parent + QStringLiteral("/other.ktrrest_%1-0a1b").arg(deadRunTag())));
        const QString backups = data + QStringLiteral("/Backups");
        const QString part = QStringLiteral("Kestrune-Auto-20260101-100000-000.zip.%1.part").arg(deadRunTag());
        QVERIFY(ktr::test::writeFile(backups + QLatin1Char('/') + part, "half a snapshot"));
        QCOMPARE(BackupEngine::removeDeadRunLeftovers(data, backups), 2);
        QStringList expected{QStringLiteral("data"), live, QStringLiteral("data.ktrrest_unknown"),
                             QStringLiteral("other.ktrrest_%1-0a1b").arg(deadRunTag())};
        expected.sort();
        QCOMPARE(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), expected);
        QVERIFY(QDir(backups).isEmpty());
    }
};

KTR_TEST_MAIN(TestBackupStore)
#include "tst_backupstore.moc"
