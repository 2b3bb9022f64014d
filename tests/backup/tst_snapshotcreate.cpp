#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "backupfixture.h"
#include "manualclock.h"
#include "platform/ziparchive.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace backuptest;

namespace {

// A data folder below a path with blanks and a quote, holding every case the exclusions decide.
QString makeFixture(QString* expectedSettings = nullptr)
{
    const QString root = ktr::test::freshDir(QStringLiteral("fixture")) + QStringLiteral("/it's my data");
    const auto w = [&root](const char* rel, const QByteArray& data) {
        QVERIFY(ktr::test::writeFile(root + QLatin1Char('/') + QString::fromUtf8(rel), data));
    };
    w("settings.json", "{\"a\":1}");
    w("layout.json", QByteArray(70000, 'L'));
    w("logs/2026-01-01/app.log", "log");
    w("logs/notes.txt", "in logs");
    w("Cache/iconsnap/x.png", "png");
    w("Backups/Kestrune-Auto-20250101-000000-000.zip", "old snapshot");
    w("x.LOG", "upper-case log");
    w("my.logs/a.txt", "kept");
    w("apps/_cache/demo.package.zip", "a download the market can fetch again");
    w("apps/demo/app.bin", "an installed app");
    w(".hidden", "dot file");
    w("中文目录/数据 文件.txt", "non-ASCII");
    w("café.txt", "accent");
    QDir(root).mkpath(QStringLiteral("empty folder"));
    ::symlink("settings.json", QFile::encodeName(root + QStringLiteral("/link.json")).constData());
    if (expectedSettings)
        *expectedSettings = root + QStringLiteral("/settings.json");
    return root;
}

QStringList zipNames(const QString& zip)
{
    ktr::platform::ZipReader r;
    QString error;
    if (!r.open(zip, &error))
        return {QStringLiteral("<unreadable: ") + error + QLatin1Char('>')};
    QStringList names;
    for (const auto& e : r.entries())
        names << e.name;
    names.sort();
    return names;
}

struct Run
{
    QString path;
    QString error;
    bool cancelled = false;
    QList<int> percents;
};

Run create(const QString& backupDir, const QString& dataDir, bool preRestore = false,
           const std::function<void(int)>& onPercent = {}, const std::atomic<bool>* cancel = nullptr)
{
    Run run;
    run.path = BackupEngine::createSnapshot(
        backupDir, dataDir, &run.error, preRestore,
        [&run, &onPercent](int p, const QString& status) {
            QCOMPARE(status, QStringLiteral("正在创建备份快照…"));
            run.percents << p;
            if (onPercent)
                onPercent(p);
        },
        cancel, &run.cancelled);
    return run;
}

void verifySeries(const QList<int>& p)
{
    QVERIFY(p.size() >= 4);
    QCOMPARE(p.first(), 1);
    QCOMPARE(p.last(), 100);
    QVERIFY(p.contains(3));
    QVERIFY(p.contains(48));
    QVERIFY(p.contains(98));
    QVERIFY(!p.contains(49));
    QVERIFY(!p.contains(99));
    for (int i = 1; i < p.size(); ++i)
        QVERIFY2(p.at(i) > p.at(i - 1), qPrintable(QStringLiteral("not rising at %1").arg(i)));
    for (int v : p)
        QVERIFY(v == 1 || v == 100 || (v >= 3 && v <= 48) || (v >= 50 && v <= 98));
}

int modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

class TestSnapshotCreate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { BackupEngine::setClock(nullptr); }

    void snapshotHoldsExactlyTheKeptFiles()
    {
        QString settingsPath;
        const QString data = makeFixture(&settingsPath);
        const Run run = create(BackupEngine::backupDir(data), data);
        QVERIFY2(!run.path.isEmpty(), qPrintable(run.error));
        QVERIFY(QFileInfo(run.path).fileName().startsWith(QLatin1String("Kestrune-Auto-")));
        QVERIFY(BackupEngine::isSnapshotName(QFileInfo(run.path).fileName()));
        const QStringList expected = {QStringLiteral("apps/demo/app.bin"), QStringLiteral("café.txt"),
                                      QStringLiteral("layout.json"),       QStringLiteral("my.logs/a.txt"),
                                      QStringLiteral("settings.json"),     QStringLiteral("中文目录/数据 文件.txt")};
        QCOMPARE(zipNames(run.path), expected);
        verifySeries(run.percents);
        QVERIFY(tempItems(QStringLiteral("ktrbak_")).isEmpty());
        QVERIFY(QDir(QFileInfo(run.path).absolutePath()).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty());

        // Entry times are the files' own.
        ktr::platform::ZipReader r;
        QString error;
        QVERIFY(r.open(run.path, &error));
        for (const auto& e : r.entries()) {
            if (e.name == QLatin1String("settings.json"))
                QCOMPARE(e.modified.toSecsSinceEpoch(), QFileInfo(settingsPath).lastModified().toSecsSinceEpoch());
            QVERIFY(e.compressedSize > 0);
        }

        // Independent readers accept it: unzip's test and Python's zipfile, which also reads the UTF-8 flag.
        QByteArray out;
        QCOMPARE(runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), run.path}, &out), 0);
        const QString script = QStringLiteral("import sys, zipfile\n"
                                              "z = zipfile.ZipFile(sys.argv[1])\n"
                                              "assert z.testzip() is None\n"
                                              "for i in z.infolist():\n"
                                              "    ascii = all(ord(c) < 128 for c in i.filename)\n"
                                              "    assert ascii or (i.flag_bits & 0x800), i.filename\n"
                                              "print('|'.join(sorted(i.filename for i in z.infolist())))\n");
        QCOMPARE(runTool(QStringLiteral("python3"), {QStringLiteral("-c"), script, run.path}, &out), 0);
        QCOMPARE(QString::fromUtf8(out).trimmed(), expected.join(QLatin1Char('|')));
        QCOMPARE(
            runTool(QStringLiteral("python3"),
                    {QStringLiteral("-c"),
                     QStringLiteral(
                         "import sys,zipfile;sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read('中文目录/数据 "
                         "文件.txt'))"),
                     run.path},
                    &out),
            0);
        QCOMPARE(out, QByteArray("non-ASCII"));
    }

    // Snapshots hold the account token and the device id: private files in a private folder, wherever
    // that folder lies, and an exported copy as private. Nothing is staged in the temporary folder, which
    // may not even be a folder.
    void snapshotIsPrivateAndNeedsNoTemporaryFolder()
    {
        const QString data = makeFixture();
        const QString shared = ktr::test::freshDir(QStringLiteral("shared"));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 0755) == 0);
        const QString notAFolder = ktr::test::freshDir(QStringLiteral("tmpfile")) + QStringLiteral("/plain-file");
        QVERIFY(ktr::test::writeFile(notAFolder, "x"));
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        const Run run = create(shared + QStringLiteral("/Backups"), data);
        QString error;
        const bool exported = !run.path.isEmpty() &&
                              BackupEngine::exportSnapshot(run.path, shared + QStringLiteral("/exported.zip"), &error);
        qputenv("TMPDIR", savedTmp);
        QVERIFY2(!run.path.isEmpty(), qPrintable(run.error));
        QVERIFY2(exported, qPrintable(error));
        QCOMPARE(modeOf(run.path), 0600);
        QCOMPARE(modeOf(shared + QStringLiteral("/Backups")), 0700);
        QCOMPARE(modeOf(shared + QStringLiteral("/exported.zip")), 0600);
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("Backups"), QStringLiteral("exported.zip")}));
    }

    // A file that can't be read is left out and named; the snapshot of the rest is made.
    void unreadableFileIsLeftOutAndNamed()
    {
        const QString data = ktr::test::freshDir(QStringLiteral("unreadable"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/settings.json"), "{}"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/apps/locked.bin"), "secret"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/other.txt"), "other"));
        QVERIFY(::chmod(QFile::encodeName(data + QStringLiteral("/apps/locked.bin")).constData(), 0) == 0);
        // Reads as an ordinary user would: a file of mode 000 can't be opened.
        backupdetail::setFileOpener([](const QString& path) {
            struct stat st
            {
            };
            if (::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & 0777) == 0) {
                errno = EACCES;
                return -1;
            }
            return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        });
        QString error;
        QStringList warnings;
        const QString path = BackupEngine::createSnapshot(BackupEngine::backupDir(data), data, &error, false, {},
                                                          nullptr, nullptr, &warnings);
        backupdetail::setFileOpener({});
        QVERIFY2(!path.isEmpty(), qPrintable(error));
        QCOMPARE(zipNames(path), (QStringList{QStringLiteral("other.txt"), QStringLiteral("settings.json")}));
        QCOMPARE(warnings, QStringList{Lang::tr("无法读取，未放入快照：%1").arg(QStringLiteral("apps/locked.bin"))});
    }

    void effectiveSnapshotFolderIsLeftOutWhereverItLies_data()
    {
        QTest::addColumn<QString>("backupRel"); // relative to the data folder; "." is the data folder itself
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("custom folder inside")
            << "snaps/mine" << QStringList{QStringLiteral("a.txt"), QStringLiteral("snapsibling.txt")};
        QTest::newRow("the data folder itself")
            << "."
            << QStringList{QStringLiteral("a.txt"), QStringLiteral("snaps/mine/Kestrune-Auto-20250101-000000-000.zip"),
                           QStringLiteral("snapsibling.txt")};
    }
    void effectiveSnapshotFolderIsLeftOutWhereverItLies()
    {
        QFETCH(QString, backupRel);
        QFETCH(QStringList, expected);
        const QString data = ktr::test::freshDir(QStringLiteral("scoped"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/a.txt"), "a"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/snapsibling.txt"), "s"));
        QVERIFY(
            ktr::test::writeFile(data + QStringLiteral("/snaps/mine/Kestrune-Auto-20250101-000000-000.zip"), "old"));
        const QString backupDir = QDir::cleanPath(data + QLatin1Char('/') + backupRel);
        if (backupRel == QLatin1String("."))
            QVERIFY(ktr::test::writeFile(data + QStringLiteral("/Kestrune-Auto-20250101-000000-001.zip"), "old"));
        const Run first = create(backupDir, data);
        QVERIFY2(!first.path.isEmpty(), qPrintable(first.error));
        QCOMPARE(zipNames(first.path), expected);
        // The next snapshot does not carry the first one either.
        const Run second = create(backupDir, data);
        QVERIFY2(!second.path.isEmpty(), qPrintable(second.error));
        QCOMPARE(zipNames(second.path), expected);
    }

    void percentSeriesFollowsTheCadence_data()
    {
        QTest::addColumn<int>("files");
        QTest::newRow("32 files") << 32;
        QTest::newRow("100 files") << 100;
    }
    void percentSeriesFollowsTheCadence()
    {
        QFETCH(int, files);
        const QString data = ktr::test::freshDir(QStringLiteral("series"));
        for (int i = 0; i < files; ++i)
            QVERIFY(ktr::test::writeFile(data + QStringLiteral("/f%1.bin").arg(i, 3, 10, QLatin1Char('0')),
                                         QByteArray(1000, char('a' + i % 26))));
        const Run run = create(BackupEngine::backupDir(data), data);
        QVERIFY2(!run.path.isEmpty(), qPrintable(run.error));
        verifySeries(run.percents);
        QList<int> zipping;
        for (int p : run.percents) {
            if (p >= 50 && p <= 98)
                zipping << p;
        }
        // Progress after every file up to 32, else after every eighth and the last: equal files make
        // the zip phase's percents exactly those of the reported counts.
        QList<int> expected;
        for (int i = 1; i <= files; ++i) {
            if (files <= 32 || i % 8 == 0 || i == files) {
                const int p = std::min(98, 50 + int(double(i) * 1000.0 * 48.0 / (double(files) * 1000.0)));
                if (expected.isEmpty() || expected.last() != p)
                    expected << p;
            }
        }
        QCOMPARE(zipping, expected);
    }

    void onlyExcludedContentGivesAnEmptySnapshot()
    {
        const QString data = ktr::test::freshDir(QStringLiteral("onlylogs"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/logs/a.txt"), "x"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/cache/b"), "x"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/c.log"), "x"));
        const Run run = create(BackupEngine::backupDir(data), data, true);
        QVERIFY2(!run.path.isEmpty(), qPrintable(run.error));
        QVERIFY(QFileInfo(run.path).fileName().startsWith(QLatin1String("Kestrune-PreRestore-")));
        QCOMPARE(zipNames(run.path).join(QLatin1Char(',')), QString());
        QCOMPARE(run.percents, (QList<int>{1, 48, 100}));
    }

    void stopsCleanlyWhenCancelledOrLate_data()
    {
        QTest::addColumn<int>("atPercent");
        QTest::addColumn<bool>("viaDeadline");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("cancel while copying") << 3 << false << "已取消" << true;
        QTest::newRow("cancel while zipping") << 50 << false << "已取消" << true;
        QTest::newRow("deadline while copying") << 3 << true << "备份操作超时" << false;
        QTest::newRow("deadline while zipping") << 50 << true << "备份操作超时" << false;
    }
    void stopsCleanlyWhenCancelledOrLate()
    {
        QFETCH(int, atPercent);
        QFETCH(bool, viaDeadline);
        QFETCH(QString, error);
        QFETCH(bool, cancelled);
        ktr::test::ManualClock clock;
        BackupEngine::setClock(&clock);
        const QString data = ktr::test::freshDir(QStringLiteral("stopping"));
        for (int i = 0; i < 40; ++i)
            QVERIFY(ktr::test::writeFile(data + QStringLiteral("/f%1").arg(i), QByteArray(4096, 'x')));
        const QString backups = BackupEngine::backupDir(data);
        std::atomic<bool> cancel{false};
        bool fired = false;
        const Run run = create(
            backups, data, false,
            [&](int p) {
                if (fired || p < atPercent)
                    return;
                fired = true;
                if (viaDeadline)
                    clock.advance(backupTimeoutMs(qint64(1) << 50) + 1);
                else
                    cancel.store(true);
            },
            &cancel);
        QVERIFY(fired);
        QVERIFY(run.path.isEmpty());
        QCOMPARE(run.error, error);
        QCOMPARE(run.cancelled, cancelled);
        QCOMPARE(QDir(backups).entryList(QDir::Files), QStringList());
        QVERIFY(tempItems(QStringLiteral("ktrbak_")).isEmpty());
    }

    void neverReplacesASnapshotThatAppearedMidRun()
    {
        ktr::test::ManualClock clock;
        BackupEngine::setClock(&clock);
        const QString data = ktr::test::freshDir(QStringLiteral("race"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/a.txt"), "a"));
        const QString backups = BackupEngine::backupDir(data);
        const QString finalPath = QDir(backups).absoluteFilePath(
            QStringLiteral("Kestrune-Auto-") + clock.now().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
            QStringLiteral(".zip"));
        bool planted = false;
        const Run run = create(backups, data, false, [&](int p) {
            if (p >= 50 && !planted)
                planted = ktr::test::writeFile(finalPath, "someone else's");
        });
        QVERIFY(planted);
        // The other file stays as it is; the new snapshot takes the next free millisecond.
        const QString next = QDir(backups).absoluteFilePath(
            QStringLiteral("Kestrune-Auto-") + clock.now().addMSecs(1).toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
            QStringLiteral(".zip"));
        QCOMPARE(run.path, next);
        QCOMPARE(ktr::test::readFile(finalPath), QByteArray("someone else's"));
        QCOMPARE(QDir(backups).entryList(QDir::Files, QDir::Name),
                 (QStringList{QFileInfo(finalPath).fileName(), QFileInfo(next).fileName()}));
    }

    // Snapshots made within one millisecond (a create-now right after a pre-restore snapshot, or a fast
    // machine) each get their own name.
    void snapshotsOfOneMillisecondAllKept()
    {
        ktr::test::ManualClock clock;
        BackupEngine::setClock(&clock);
        const QString data = ktr::test::freshDir(QStringLiteral("samems"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/a.txt"), "a"));
        const QString backups = BackupEngine::backupDir(data);
        QSet<QString> paths;
        for (int i = 0; i < 3; ++i) {
            const Run run = create(backups, data, false);
            QVERIFY2(!run.path.isEmpty(), qPrintable(run.error));
            paths.insert(run.path);
        }
        QCOMPARE(paths.size(), 3);
        QCOMPARE(BackupEngine::listSnapshots(backups).size(), 3);
    }

    void missingDataFolderFailsLikeTheCopy()
    {
        const QString root = ktr::test::freshDir(QStringLiteral("missing"));
        const Run run = create(root + QStringLiteral("/Backups"), root + QStringLiteral("/nothing"));
        QVERIFY(run.path.isEmpty());
        QVERIFY(run.error.startsWith(QLatin1String("robocopy failed: ")));
        QVERIFY(run.error.mid(17).toInt() >= 8);
        QVERIFY(tempItems(QStringLiteral("ktrbak_")).isEmpty());
    }

    void cancelOnEntryTouchesNothing()
    {
        const QString root = ktr::test::freshDir(QStringLiteral("early"));
        std::atomic<bool> cancel{true};
        const Run run = create(root + QStringLiteral("/Backups"), root, false, {}, &cancel);
        QCOMPARE(run.error, QStringLiteral("已取消"));
        QVERIFY(run.cancelled);
        QVERIFY(run.percents.isEmpty());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Backups")));
    }

    // The engine lock never lies in a shared folder: with the session's runtime folder unset (su, cron, ssh)
    // it goes to the private folder the scripts use, so a link another user plants at the name it had in the
    // temporary folder creates nothing, and the backup works. A link or a foreign file at its own name is
    // refused with a message; a lock held past a short wait gives up with one.
    void engineLockIsPrivate_data()
    {
        QTest::addColumn<bool>("runtimeSet");
        QTest::addColumn<QString>("plant"); // "old link", "link", "foreign", "held"
        QTest::addColumn<QString>("error"); // empty: the snapshot is made
        QTest::newRow("runtime folder unset, a link at the old name") << false << "old link" << QString();
        QTest::newRow("runtime folder set, a link at the old name") << true << "old link" << QString();
        QTest::newRow("a link at the lock's name")
            << true << "link" << QStringLiteral("备份锁文件不属于当前用户或无法打开，已中止（详情见运行日志）");
        QTest::newRow("runtime folder unset, a link at the lock's name")
            << false << "link" << QStringLiteral("备份锁文件不属于当前用户或无法打开，已中止（详情见运行日志）");
        QTest::newRow("another user's lock file")
            << true << "foreign" << QStringLiteral("备份锁文件不属于当前用户或无法打开，已中止（详情见运行日志）");
        QTest::newRow("held past the wait")
            << true << "held" << QStringLiteral("另一个备份或还原正在进行，等了一会儿仍未结束，请稍后重试");
    }
    void engineLockIsPrivate()
    {
        QFETCH(bool, runtimeSet);
        QFETCH(QString, plant);
        QFETCH(QString, error);
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        struct Restore
        {
            QByteArray runtime;
            ~Restore()
            {
                qputenv("XDG_RUNTIME_DIR", runtime);
                backupdetail::EngineLock::setWaitMs(10000);
            }
        } restore{runtime};
        if (!runtimeSet)
            qunsetenv("XDG_RUNTIME_DIR");
        backupdetail::EngineLock::setWaitMs(300);
        const QString root = ktr::test::freshDir(QStringLiteral("lockdata"));
        const QString data = root + QStringLiteral("/data");
        const QString backups = root + QStringLiteral("/backups");
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/settings.json"), "{}"));
        QVERIFY(QDir().mkpath(backups));
        const QString victim = ktr::test::freshDir(QStringLiteral("victim")) + QStringLiteral("/planted");
        QStringList lockPaths;
        for (const QString& folder : {data, backups}) {
            const QString canonical = QFileInfo(folder).canonicalFilePath();
            const QString hash = QString::fromLatin1(
                QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(20));
            const QString oldName = QDir::tempPath() + QStringLiteral("/ktr-backup-") + hash + QStringLiteral(".lock");
            const QString lockPath = backupdetail::EngineLock::lockPathFor(folder);
            QVERIFY(!lockPath.isEmpty());
            QVERIFY2(!lockPath.startsWith(QDir::tempPath() + QStringLiteral("/ktr-backup-")), qPrintable(lockPath));
            lockPaths << lockPath;
            if (plant == QLatin1String("old link"))
                QVERIFY(QFile::link(victim, oldName));
            else if (plant == QLatin1String("link"))
                QVERIFY(QFile::link(victim, lockPath));
        }
        if (plant == QLatin1String("foreign")) {
            if (::geteuid() != 0)
                QSKIP("needs root to give a file to another user");
            QVERIFY(ktr::test::writeFile(lockPaths.first(), ""));
            QCOMPARE(::chown(QFile::encodeName(lockPaths.first()).constData(), 65534, 65534), 0);
        }
        std::unique_ptr<backupdetail::EngineLock> holder;
        if (plant == QLatin1String("held")) {
            holder = std::make_unique<backupdetail::EngineLock>(QStringList{data}, nullptr);
            QVERIFY(holder->acquired());
        }
        QElapsedTimer timer;
        timer.start();
        QString said;
        const QString zip = BackupEngine::createSnapshot(backups, data, &said, false, {}, nullptr, nullptr);
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(zip.isEmpty(), !error.isEmpty());
        QCOMPARE(said, error);
        QVERIFY(!QFileInfo::exists(victim));
        if (plant == QLatin1String("foreign"))
            QFile::remove(lockPaths.first());
    }
};

KTR_TEST_MAIN(TestSnapshotCreate)
#include "tst_snapshotcreate.moc"
