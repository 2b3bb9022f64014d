#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "backup/rollbackprompt.h"
#include "backupfixture.h"
#include "logcapture.h"
#include "manualclock.h"
#include "platform/ziparchive.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QtConcurrent>

#include <atomic>
#include <sys/stat.h>

using namespace backuptest;

namespace {

struct Run
{
    bool ok = false;
    QString error;
    bool cancelled = false;
    QList<int> percents;
};

Run restore(const QString& zip, const QString& data, const std::function<void(int)>& onPercent = {},
            const std::atomic<bool>* cancel = nullptr)
{
    Run run;
    run.ok = BackupEngine::restoreSnapshot(
        zip, data, &run.error,
        [&run, &onPercent](int p, const QString& status) {
            QCOMPARE(status, QStringLiteral("正在还原快照…"));
            run.percents << p;
            if (onPercent)
                onPercent(p);
        },
        cancel, &run.cancelled);
    return run;
}

QString notASnapshot()
{
    return Lang::tr("所选文件不是本程序的备份快照（其中没有 settings.json 或 layout.json），未做任何改动");
}

QString writeZip(const QString& name, const QList<RawEntry>& entries)
{
    const QString path = ktr::test::freshDir(QStringLiteral("zips")) + QLatin1Char('/') + name;
    ktr::test::writeFile(path, rawZip(entries));
    return path;
}

// A data folder with an old settings file and a file no snapshot holds.
QString makeData()
{
    const QString data = ktr::test::freshDir(QStringLiteral("parent")) + QStringLiteral("/data");
    ktr::test::writeFile(data + QStringLiteral("/settings.json"), "{\"s\":\"old\"}");
    ktr::test::writeFile(data + QStringLiteral("/only-here.txt"), "stays");
    ktr::test::writeFile(data + QStringLiteral("/sub/deep.txt"), "old deep");
    return data;
}

} // namespace

class TestSnapshotRestore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { BackupEngine::setClock(nullptr); }

    void laysTheSnapshotOverTheDataFolder()
    {
        const QString data = makeData();
        const QString zip =
            writeZip(QStringLiteral("good.zip"), {file("settings.json", "{\"s\":\"new\"}"),
                                                  file("sub/deep.txt", "new deep"), file("新的/文件.txt", "fresh")});
        const Run run = restore(zip, data);
        QVERIFY2(run.ok, qPrintable(run.error));
        const QMap<QString, QByteArray> expected = {{QStringLiteral("settings.json"), "{\"s\":\"new\"}"},
                                                    {QStringLiteral("sub/deep.txt"), "new deep"},
                                                    {QStringLiteral("新的/文件.txt"), "fresh"},
                                                    {QStringLiteral("only-here.txt"), "stays"}};
        QCOMPARE(treeContent(data), expected);
        QVERIFY(!QFileInfo::exists(BackupEngine::rollbackDir(data)));
        QCOMPARE(BackupEngine::rollbackDir(data),
                 QFileInfo(data).absolutePath() + QStringLiteral("/data.__restore_bak"));
        QVERIFY(tempItems(QStringLiteral("ktrrest_")).isEmpty());
        QCOMPARE(run.percents.first(), 1);
        QCOMPARE(run.percents.last(), 100);
        QVERIFY(run.percents.contains(3) && run.percents.contains(60) && run.percents.contains(98));
    }

    void ourOwnSnapshotRoundTrips()
    {
        const QString data = makeData();
        // Deflated, 2 MiB of zero bytes would shrink past the ratio a restore refuses: it is stored instead.
        ktr::test::writeFile(data + QStringLiteral("/zeros.bin"), QByteArray(2 * 1024 * 1024, '\0'));
        QVERIFY(QFile::setPermissions(data + QStringLiteral("/settings.json"), QFile::ReadOwner | QFile::WriteOwner));
        QString error;
        const QString zip =
            BackupEngine::createSnapshot(BackupEngine::backupDir(data), data, &error, false, {}, nullptr, nullptr);
        QVERIFY2(!zip.isEmpty(), qPrintable(error));
        const QMap<QString, QByteArray> before = treeContent(data);
        ktr::test::writeFile(data + QStringLiteral("/settings.json"), "changed later");
        ktr::platform::ZipReader reader;
        QVERIFY(reader.open(zip, &error));
        for (const ktr::platform::ZipEntryInfo& e : reader.entries()) {
            if (e.name == QLatin1String("zeros.bin"))
                QCOMPARE(e.compressedSize, e.size);
            else
                QVERIFY(e.compressedSize < e.size + 64);
        }
        const Run run = restore(zip, data);
        QVERIFY2(run.ok, qPrintable(run.error));
        QCOMPARE(treeContent(data), before);
        const QFile::Permissions kept = QFile::permissions(data + QStringLiteral("/settings.json"));
        QVERIFY(kept.testFlag(QFile::ReadOwner) && kept.testFlag(QFile::WriteOwner));
        QVERIFY(!kept.testFlag(QFile::ReadGroup) && !kept.testFlag(QFile::ReadOther));
    }

    void failureAfterAPartialCopyRollsBack()
    {
        // "b" is a file in the data folder, so the snapshot's "b/x" can't be written; by then the zip's
        // earlier files are already in place.
        const QString data = makeData();
        ktr::test::writeFile(data + QStringLiteral("/b"), "a file named b");
        const QMap<QString, QByteArray> before = treeContent(data);
        const QString zip =
            writeZip(QStringLiteral("conflict.zip"), {file("settings.json", "{\"s\":\"new\"}"),
                                                      file("added.txt", "added"), file("b/x", "cannot land")});
        bool sawCopy = false;
        const Run run = restore(zip, data, [&](int p) {
            if (p > 60)
                sawCopy = true;
        });
        QVERIFY(!run.ok);
        QVERIFY(sawCopy);
        QCOMPARE(run.error, QStringLiteral("cannot write restore target: b/x"));
        QCOMPARE(treeContent(data), before);
        QVERIFY(!QFileInfo::exists(BackupEngine::rollbackDir(data)));
    }

    void firstInstallHasNoRollbackAndIsEmptiedOnFailure()
    {
        ktr::test::ManualClock clock;
        BackupEngine::setClock(&clock);
        const QString data = ktr::test::freshDir(QStringLiteral("first")) + QStringLiteral("/data");
        const QString zip = writeZip(QStringLiteral("first.zip"), {file("settings.json", "{}"), file("a.txt", "a"),
                                                                   file("b.txt", "b"), file("c/d.txt", "d")});
        bool sawRollback = false;
        const Run run = restore(zip, data, [&](int p) {
            sawRollback = sawRollback || QFileInfo::exists(BackupEngine::rollbackDir(data));
            if (p > 60) // the first file is in the data folder: the deadline passes now
                clock.advance(backupTimeoutMs(qint64(1) << 50) + 1);
        });
        QVERIFY(!run.ok);
        QCOMPARE(run.error, QStringLiteral("备份操作超时"));
        QVERIFY(!run.cancelled);
        QVERIFY(!sawRollback);
        QCOMPARE(QDir(data).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void refusesHostileArchivesBeforeTouchingData_data()
    {
        QTest::addColumn<QList<RawEntry>>("entries");
        QTest::addColumn<QString>("error"); // empty: the restore succeeds
        const RawEntry ok = file("settings.json", "{}");
        auto typed = [](const QByteArray& name, quint32 mode) {
            RawEntry e = file(name, "target");
            e.mode = mode;
            return e;
        };
        RawEntry bomb = file("bomb.bin", QByteArray(5000, '\0'));
        bomb.statedCompressed = 4; // 1250 times its compressed size
        RawEntry latin = file("caf\xe9.txt", "x");
        latin.utf8Flag = false;
        RawEntry longer = file("longer.txt", "much more than stated");
        longer.statedSize = 4;
        longer.statedCompressed = 4;
        QTest::newRow("parent") << QList<RawEntry>{ok, file("../x", "x")} << "unsafe zip entry: ..\\x";
        QTest::newRow("deep parent") << QList<RawEntry>{ok, file("a/../../x", "x")} << "unsafe zip entry: a\\..\\..\\x";
        QTest::newRow("absolute") << QList<RawEntry>{ok, file("/abs", "x")} << "unsafe zip entry: \\abs";
        QTest::newRow("backslash absolute") << QList<RawEntry>{ok, file("\\abs", "x")} << "unsafe zip entry: \\abs";
        QTest::newRow("drive") << QList<RawEntry>{ok, file("C:x", "x")} << "unsafe zip entry: C:x";
        QTest::newRow("stream") << QList<RawEntry>{ok, file("a:b", "x")} << "unsafe zip entry: a:b";
        QTest::newRow("backslash parent") << QList<RawEntry>{ok, file("..\\x", "x")} << "unsafe zip entry: ..\\x";
        QTest::newRow("parent last") << QList<RawEntry>{ok, file("a/..", "x")} << "unsafe zip entry: a\\..";
        QTest::newRow("file of nothing") << QList<RawEntry>{ok, file(".", "x")} << "unsafe zip entry: .";
        QTest::newRow("symbolic link") << QList<RawEntry>{ok, typed("link", 0120777)} << "unsafe zip entry: link";
        QTest::newRow("character device") << QList<RawEntry>{ok, typed("dev", 0020644)} << "unsafe zip entry: dev";
        QTest::newRow("block device") << QList<RawEntry>{ok, typed("blk", 0060644)} << "unsafe zip entry: blk";
        QTest::newRow("fifo") << QList<RawEntry>{ok, typed("pipe", 0010644)} << "unsafe zip entry: pipe";
        QTest::newRow("duplicate names") << QList<RawEntry>{ok, file("twice.txt", "1"), file("twice.txt", "2")}
                                         << "unsafe zip entry: twice.txt";
        QTest::newRow("file and folder of one name")
            << QList<RawEntry>{ok, file("a", "1"), file("a/b", "2")} << "unsafe zip entry: a\\b";
        QTest::newRow("not UTF-8") << QList<RawEntry>{ok, latin} << QStringLiteral("unsafe zip entry: caf\u00e9.txt");
        QTest::newRow("inflates past 1000x") << QList<RawEntry>{ok, bomb} << "unsafe zip entry: bomb.bin";
        QTest::newRow("more data than stated") << QList<RawEntry>{ok, longer} << "unsafe zip entry: longer.txt";
        QTest::newRow("folder entries only")
            << QList<RawEntry>{typed("dir/", 0040755), typed("dir/sub/", 0040755)} << notASnapshot();
    }
    void refusesHostileArchivesBeforeTouchingData()
    {
        QFETCH(QList<RawEntry>, entries);
        QFETCH(QString, error);
        for (RawEntry& e : entries) {
            if ((e.mode & 0170000) == 0040000)
                e.data.clear();
        }
        const QString data = makeData();
        const QMap<QString, QByteArray> before = treeContent(data);
        const QString outside = QFileInfo(data).absolutePath() + QStringLiteral("/x");
        const Run run = restore(writeZip(QStringLiteral("hostile.zip"), entries), data);
        QCOMPARE(run.ok, error.isEmpty());
        QCOMPARE(run.error, error);
        QCOMPARE(treeContent(data), before);
        QVERIFY(!QFileInfo::exists(outside));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/abs")));
        QVERIFY(!QFileInfo::exists(BackupEngine::rollbackDir(data)));
        QVERIFY(tempItems(QStringLiteral("ktrrest_")).isEmpty());
    }

    // A zip that is not a snapshot is refused before the data folder is touched.
    void refusesWhatIsNotASnapshot_data()
    {
        QTest::addColumn<QList<RawEntry>>("entries");
        QTest::addColumn<QString>("error");
        QTest::newRow("a readme and photos")
            << QList<RawEntry>{file("README.md", "# holiday"), file("photos/beach.jpg", "\xff\xd8jpeg")}
            << notASnapshot();
        QTest::newRow("empty zip") << QList<RawEntry>{} << notASnapshot();
        QTest::newRow("settings below the root")
            << QList<RawEntry>{file("inner/settings.json", "{}")} << notASnapshot();
        QTest::newRow("garbage settings") << QList<RawEntry>{file("settings.json", "\x01\x02 not json {")}
                                          << Lang::tr("所选快照中的 %1 已损坏，不是有效的备份快照，未做任何改动")
                                                 .arg(QStringLiteral("settings.json"));
        QList<RawEntry> many{file("settings.json", "{}")};
        for (int i = 0; i < 50000; ++i)
            many << file("f" + QByteArray::number(i), QByteArray());
        QTest::newRow("50,001 entries")
            << many << Lang::tr("所选文件有 %1 个条目，不是本程序的备份快照，未做任何改动").arg(50001);
    }
    void refusesWhatIsNotASnapshot()
    {
        QFETCH(QList<RawEntry>, entries);
        QFETCH(QString, error);
        const QString data = makeData();
        const QMap<QString, QByteArray> before = treeContent(data);
        const Run run = restore(writeZip(QStringLiteral("notasnapshot.zip"), entries), data);
        QVERIFY(!run.ok);
        QCOMPARE(run.error, error);
        QCOMPARE(treeContent(data), before);
        QCOMPARE(QDir(QFileInfo(data).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("data")});
    }

    // The check made before anything is written (before the pre-restore snapshot) tells the user what is wrong
    // with the chosen file, in the user's language: damaged, not a snapshot, or too large to unpack. A whole
    // snapshot passes, one byte off does not. Nothing is written either way.
    void checkSaysWhatIsWrong_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<QString>("error"); // as the zh table has it; empty: restorable
        const QByteArray whole = rawZip({file("settings.json", "{\"s\":\"new\"}"), file("notes.txt", "some notes")});
        const QString damaged = QStringLiteral("所选文件已损坏（不是完整的 zip 压缩包），未做任何改动");
        QByteArray flipped = whole;
        const qsizetype at = flipped.indexOf("some notes");
        flipped[at] = 'S'; // one byte of an entry's data: its CRC no longer agrees
        RawEntry bomb = file("bomb.bin", QByteArray(5000, '\0'));
        bomb.statedCompressed = 4;
        for (int language : {0, 1}) {
            const char* lang = language ? "en" : "zh";
            QTest::addRow("%s: a whole snapshot", lang) << language << whole << QString();
            QTest::addRow("%s: cut short", lang) << language << whole.left(whole.size() - 30) << damaged;
            QTest::addRow("%s: not a zip at all", lang) << language << QByteArray("PK\3\4 nothing more") << damaged;
            QTest::addRow("%s: one byte of data off", lang) << language << flipped << damaged;
            QTest::addRow("%s: photos", lang)
                << language << rawZip({file("photos/beach.jpg", "\xff\xd8jpeg")})
                << QStringLiteral(
                       "所选文件不是本程序的备份快照（其中没有 settings.json 或 layout.json），未做任何改动");
            QTest::addRow("%s: an unsafe entry", lang)
                << language << rawZip({file("settings.json", "{}"), file("../x", "x")})
                << QStringLiteral("所选文件不是本程序的备份快照（含有不安全或不支持的条目），未做任何改动");
            QTest::addRow("%s: too large to unpack", lang)
                << language << rawZip({file("settings.json", "{}"), bomb})
                << QStringLiteral("所选文件中的 %1 解压后过大（超过压缩大小的 %2 倍），已拒绝解压，未做任何改动");
            QTest::addRow("%s: damaged settings", lang)
                << language << rawZip({file("settings.json", "{ broken")})
                << QStringLiteral("所选快照中的 %1 已损坏，不是有效的备份快照，未做任何改动");
        }
    }
    void checkSaysWhatIsWrong()
    {
        QFETCH(int, language);
        QFETCH(QByteArray, zip);
        QFETCH(QString, error);
        const QString data = makeData();
        const QMap<QString, QByteArray> before = treeContent(data);
        const QString path = ktr::test::freshDir(QStringLiteral("checked")) + QStringLiteral("/chosen.zip");
        QVERIFY(ktr::test::writeFile(path, zip));
        Lang::setLanguage(language);
        QString said;
        const bool ok = BackupEngine::checkRestorable(path, data, &said);
        QString expected;
        if (error.contains(QLatin1String("%2")))
            expected = Lang::tr(error).arg(QStringLiteral("bomb.bin")).arg(1000);
        else if (error.contains(QLatin1String("%1")))
            expected = Lang::tr(error).arg(QStringLiteral("settings.json"));
        else if (!error.isEmpty())
            expected = Lang::tr(error);
        Lang::setLanguage(0);
        QCOMPARE(ok, error.isEmpty());
        QCOMPARE(said, expected);
        if (language == 1 && !error.isEmpty())
            QVERIFY2(said != error, "no English for the text");
        QCOMPARE(treeContent(data), before);
        QCOMPARE(QDir(QFileInfo(data).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("data")});
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("chosen.zip")});
    }

    // What a snapshot never holds (logs, caches, snapshots) is never laid over the data folder: such a zip
    // could otherwise replace the user's other snapshots, which no rollback keeps.
    void entriesASnapshotNeverHoldsAreLeftOut()
    {
        const QString data = makeData();
        const QString mine = QStringLiteral("Kestrune-Auto-20250101-000000-000.zip");
        ktr::test::writeFile(data + QStringLiteral("/Backups/") + mine, "my snapshot");
        ktr::test::writeFile(data + QStringLiteral("/MySnaps/") + mine, "my other snapshot");
        ktr::test::writeFile(data + QStringLiteral("/logs/today.txt"), "my log");
        const QString zipPath = data + QStringLiteral("/MySnaps/Kestrune-Auto-20250102-000000-000.zip");
        QVERIFY(ktr::test::writeFile(
            zipPath, rawZip({file("settings.json", "{}"), file("Backups/" + mine.toUtf8(), "evil"),
                             file("backups/other.zip", "evil"), file("MySnaps/" + mine.toUtf8(), "evil"),
                             file("logs/today.txt", "evil"), file("sub/Cache/x.png", "evil"), file("x.log", "evil"),
                             file("apps/_cache/demo.package.zip", "evil"), file("apps/demo/app.bin", "app")})));
        const QMap<QString, QByteArray> before = treeContent(data);
        const Run run = restore(zipPath, data);
        QVERIFY2(run.ok, qPrintable(run.error));
        QMap<QString, QByteArray> expected = before;
        expected.insert(QStringLiteral("settings.json"), "{}");
        expected.insert(QStringLiteral("apps/demo/app.bin"), "app");
        QCOMPARE(treeContent(data), expected);
    }

    // A restore killed while it moves files in leaves a rollback folder that puts the data back exactly,
    // and nothing in the temporary folder. A journal with a line that points outside the data folder (a
    // parent part, an absolute path, a folder of the data that is a link to elsewhere) is refused whole, and a
    // rollback folder without its journal is never put back: the data folder and the rollback stay as they are.
    void killedWhileMovingLeavesACompleteRollback_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::newRow("as the restore left it") << QString();
        QTest::newRow("journal line with ..") << QStringLiteral("dotdot");
        QTest::newRow("journal line with an absolute path") << QStringLiteral("absolute");
        QTest::newRow("journal line through a link") << QStringLiteral("link");
        QTest::newRow("journal missing: incomplete rollback") << QStringLiteral("incomplete");
    }
    void killedWhileMovingLeavesACompleteRollback()
    {
        QFETCH(QString, tamper);
        const QString data = makeData();
        const QMap<QString, QByteArray> before = treeContent(data);
        const QString notAFolder = ktr::test::freshDir(QStringLiteral("tmpfile")) + QStringLiteral("/plain-file");
        QVERIFY(ktr::test::writeFile(notAFolder, "x"));
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        const QString zip =
            writeZip(QStringLiteral("killed.zip"), {file("settings.json", "{}"), file("added/new.txt", "new"),
                                                    file("sub/deep.txt", "new deep"), file(".hidden", "h")});
        backupdetail::setMoveSeam([](int moved) { return moved == 3; });
        const Run killed = restore(zip, data);
        backupdetail::setMoveSeam({});
        qputenv("TMPDIR", savedTmp);
        QVERIFY(!killed.ok);
        QVERIFY(treeContent(data) != before);
        bool complete = false;
        QCOMPARE(BackupEngine::findLeftoverRollback(data, &complete), BackupEngine::rollbackDir(data));
        QVERIFY(complete);
        if (!tamper.isEmpty()) {
            const QString rollback = BackupEngine::rollbackDir(data);
            const QString journal = backupdetail::rollbackJournalPath(rollback);
            // A file of the user's outside the data folder, which a line of the journal names.
            const QString outside = ktr::test::freshDir(QStringLiteral("outside"));
            QString victim = QFileInfo(data).absolutePath() + QStringLiteral("/victim.txt");
            QByteArray line;
            if (tamper == QLatin1String("dotdot")) {
                line = "+" + QUrl::toPercentEncoding(QStringLiteral("../victim.txt"));
            } else if (tamper == QLatin1String("absolute")) {
                line = "+" + QUrl::toPercentEncoding(victim);
            } else if (tamper == QLatin1String("link")) {
                victim = outside + QStringLiteral("/victim.txt");
                QVERIFY(QFile::link(outside, data + QStringLiteral("/out")));
                line = "+" + QUrl::toPercentEncoding(QStringLiteral("out/victim.txt"));
            }
            QVERIFY(ktr::test::writeFile(victim, "the user's own"));
            if (tamper == QLatin1String("incomplete")) {
                QVERIFY(QFile::remove(journal));
                QVERIFY(!QFileInfo::exists(backupdetail::rollbackMarkerPath(rollback)));
            } else {
                QByteArray text = ktr::test::readFile(journal);
                QVERIFY(text.startsWith("kestrune restore journal 1\n"));
                QVERIFY(ktr::test::writeFile(journal, text + line + "\n"));
            }
            const QMap<QString, QByteArray> leftByTheKill = treeContent(data);
            const QMap<QString, QByteArray> rollbackHeld = treeContent(rollback);
            QString error;
            QVERIFY(!BackupEngine::putBackRollback(data, &error));
            QVERIFY(!error.isEmpty());
            QVERIFY(error.contains(rollback));
            QCOMPARE(treeContent(data), leftByTheKill);
            QCOMPARE(treeContent(rollback), rollbackHeld);
            QCOMPARE(ktr::test::readFile(victim), QByteArray("the user's own"));
            return;
        }
        QString asked;
        ktr::dialogs::Seams seams;
        seams.question = [&](QWidget*, const QString&, const QString& text) {
            asked = text;
            return 1;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        QCOMPARE(offerLeftoverRollback(nullptr, data), int(RollbackPutBack));
        QVERIFY(asked.contains(BackupEngine::rollbackDir(data)));
        QCOMPARE(treeContent(data), before);
        QVERIFY(BackupEngine::findLeftoverRollback(data, nullptr).isEmpty());

        // Unkilled, the same restore succeeds with TMPDIR a file.
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        const Run run = restore(zip, data);
        qputenv("TMPDIR", savedTmp);
        QVERIFY2(run.ok, qPrintable(run.error));
        QCOMPARE(ktr::test::readFile(data + QStringLiteral("/sub/deep.txt")), QByteArray("new deep"));
    }

    void aLinkInTheDataFolderDoesNotCarryFilesOut()
    {
        const QString data = makeData();
        const QString outside = ktr::test::freshDir(QStringLiteral("elsewhere"));
        QVERIFY(::symlink(QFile::encodeName(outside).constData(),
                          QFile::encodeName(data + QStringLiteral("/linked")).constData()) == 0);
        const Run run = restore(writeZip(QStringLiteral("escape.zip"), {file("settings.json", "{}"), file("a.txt", "a"),
                                                                        file("linked/evil.txt", "x")}),
                                data);
        QVERIFY(!run.ok);
        QCOMPARE(run.error, QStringLiteral("unsafe restore target: linked/evil.txt"));
        QVERIFY(QDir(outside).isEmpty());
        QVERIFY(!QFileInfo::exists(data + QStringLiteral("/a.txt")));
    }

    void emptyEntriesCountByNumber()
    {
        const QString data = makeData();
        QList<RawEntry> entries;
        entries << file("settings.json", QByteArray());
        for (int i = 1; i < 100; ++i)
            entries << file(QStringLiteral("e%1").arg(i).toUtf8(), QByteArray());
        const Run run = restore(writeZip(QStringLiteral("empty.zip"), entries), data);
        QVERIFY2(run.ok, qPrintable(run.error));
        QList<int> unpacking;
        for (int p : run.percents) {
            if (p > 3 && p <= 60)
                unpacking << p;
        }
        QList<int> expected;
        for (int i = 8; i <= 100; i += (i == 96 ? 4 : 8))
            expected << std::min(60, 3 + int(double(i) / 100.0 * 57.0));
        QCOMPARE(unpacking, expected);
        QCOMPARE(QFileInfo(data + QStringLiteral("/e99")).size(), 0);
    }

    void deadlineFollowsTheUncompressedTotal()
    {
        // 24 MiB that pack small: three times the packed size would allow 120 s, the data 129 s.
        QByteArray block(1024, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i)
            block[i] = char((i * 7919) % 251);
        QByteArray big;
        for (int i = 0; i < 24 * 1024; ++i)
            big += block;
        const QString src = ktr::test::freshDir(QStringLiteral("bigsrc"));
        ktr::test::writeFile(src + QStringLiteral("/big.bin"), big);
        ktr::test::writeFile(src + QStringLiteral("/settings.json"), "{}");
        QString error;
        const QString zip = BackupEngine::createSnapshot(ktr::test::freshDir(QStringLiteral("bigsnap")), src, &error,
                                                         false, {}, nullptr, nullptr);
        QVERIFY2(!zip.isEmpty(), qPrintable(error));
        QVERIFY(QFileInfo(zip).size() * 3 < 8 * 1024 * 1024);
        for (const qint64 lateBy : {qint64(125000), qint64(130000)}) {
            ktr::test::ManualClock clock;
            BackupEngine::setClock(&clock);
            const QString data = ktr::test::freshDir(QStringLiteral("bigdata"));
            bool advanced = false;
            const Run run = restore(zip, data, [&](int p) {
                if (p == 3 && !advanced) {
                    advanced = true;
                    clock.advance(lateBy);
                }
            });
            BackupEngine::setClock(nullptr);
            QVERIFY(advanced);
            QCOMPARE(run.ok, lateBy < 129000);
            QCOMPARE(run.error, run.ok ? QString() : QStringLiteral("备份操作超时"));
        }
    }

    void leftBehindRollbackIsNeverReplaced()
    {
        const QString data = makeData();
        const QString rollback = BackupEngine::rollbackDir(data);
        ktr::test::writeFile(rollback + QStringLiteral("/settings.json"), "the only old copy");
        const Run run = restore(writeZip(QStringLiteral("any.zip"), {file("settings.json", "new")}), data);
        QVERIFY(!run.ok);
        QVERIFY(run.error.contains(rollback));
        QCOMPARE(ktr::test::readFile(rollback + QStringLiteral("/settings.json")), QByteArray("the only old copy"));
        QCOMPARE(ktr::test::readFile(data + QStringLiteral("/settings.json")), QByteArray("{\"s\":\"old\"}"));
    }

    void cancelDuringTheCopyRollsBack()
    {
        const QString data = makeData();
        const QMap<QString, QByteArray> before = treeContent(data);
        QList<RawEntry> entries{file("settings.json", "{}")};
        for (int i = 0; i < 20; ++i)
            entries << file(QStringLiteral("n%1.txt").arg(i).toUtf8(), "new");
        std::atomic<bool> cancel{false};
        const Run run = restore(
            writeZip(QStringLiteral("cancel.zip"), entries), data,
            [&](int p) {
                if (p > 60)
                    cancel.store(true);
            },
            &cancel);
        QVERIFY(!run.ok);
        QCOMPARE(run.error, QStringLiteral("已取消"));
        QVERIFY(run.cancelled);
        QCOMPARE(treeContent(data), before);
        QVERIFY(!QFileInfo::exists(BackupEngine::rollbackDir(data)));
    }

    void startUpOffersTheLeftBehindRollback_data()
    {
        QTest::addColumn<bool>("complete");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("outcome");
        QTest::newRow("complete, put back") << true << 1 << int(RollbackPutBack);
        QTest::newRow("complete, declined") << true << 0 << int(RollbackKept);
        QTest::newRow("complete, closed") << true << -1 << int(RollbackLeft);
        QTest::newRow("incomplete, keep aside") << false << 1 << int(RollbackKept);
        QTest::newRow("incomplete, declined") << false << 0 << int(RollbackLeft);
    }
    void startUpOffersTheLeftBehindRollback()
    {
        QFETCH(bool, complete);
        QFETCH(int, answer);
        QFETCH(int, outcome);
        // What a restore killed mid-way leaves: a half-restored data folder and the rollback beside it.
        const QString data = makeData();
        const QMap<QString, QByteArray> original = treeContent(data);
        const QString rollback = BackupEngine::rollbackDir(data);
        QVERIFY(copyTreeWithExclusions(data, rollback, nullptr));
        if (complete)
            QVERIFY(ktr::test::writeFile(backupdetail::rollbackMarkerPath(rollback), data.toUtf8()));
        ktr::test::writeFile(data + QStringLiteral("/settings.json"), "half restored");
        ktr::test::writeFile(data + QStringLiteral("/from-snapshot.txt"), "added");
        const QMap<QString, QByteArray> mixed = treeContent(data);

        QString asked;
        QStringList told;
        ktr::dialogs::Seams seams;
        seams.question = [&](QWidget*, const QString&, const QString& text) {
            asked = text;
            return answer;
        };
        seams.information = [&](QWidget*, const QString&, const QString& text, int) { told << text; };
        ktr::dialogs::ScopedSeams scoped(seams);
        QCOMPARE(offerLeftoverRollback(nullptr, data), outcome);
        QVERIFY(asked.contains(rollback));
        // A rollback folder without its record proves nothing about the data folder: the question says what
        // the folder holds, never that the data was left untouched.
        QVERIFY(!asked.contains(QStringLiteral("尚未改动")));

        const QStringList siblings = QDir(QFileInfo(data).absolutePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        switch (outcome) {
        case RollbackPutBack:
            QCOMPARE(treeContent(data), original);
            QCOMPARE(siblings, QStringList{QStringLiteral("data")});
            break;
        case RollbackKept:
            QCOMPARE(treeContent(data), mixed);
            QCOMPARE(siblings.size(), 2);
            QVERIFY(siblings.last().startsWith(QLatin1String("data.__restore_bak-")));
            QCOMPARE(told.size(), 1);
            QVERIFY(told.first().contains(siblings.last()));
            QCOMPARE(offerLeftoverRollback(nullptr, data), int(RollbackNone));
            break;
        default:
            QCOMPARE(treeContent(data), mixed);
            QVERIFY(QFileInfo::exists(rollback));
            break;
        }
    }

    void oneRunAtATimePerDataFolder()
    {
        const QString data = makeData();
        const QString zip = writeZip(QStringLiteral("locked.zip"), {file("settings.json", "{\"s\":\"new\"}")});
        ktr::test::LogCapture log;
        auto holder = std::make_unique<backupdetail::EngineLock>(QStringList{data}, nullptr);
        QVERIFY(holder->acquired());
        QFuture<Run> pending = QtConcurrent::run([&] { return restore(zip, data); });
        QTRY_VERIFY(log.contains(QStringLiteral("[backup] engine busy, waiting:")));
        QCOMPARE(ktr::test::readFile(data + QStringLiteral("/settings.json")), QByteArray("{\"s\":\"old\"}"));
        QVERIFY(!pending.isFinished());
        holder.reset();
        const Run run = pending.result();
        QVERIFY2(run.ok, qPrintable(run.error));
        QCOMPARE(ktr::test::readFile(data + QStringLiteral("/settings.json")), QByteArray("{\"s\":\"new\"}"));

        // A waiting run gives up when it is cancelled.
        holder = std::make_unique<backupdetail::EngineLock>(QStringList{data}, nullptr);
        std::atomic<bool> cancel{false};
        log.clear();
        QFuture<Run> waiting = QtConcurrent::run([&] { return restore(zip, data, {}, &cancel); });
        QTRY_VERIFY(log.contains(QStringLiteral("[backup] engine busy, waiting:")));
        cancel.store(true);
        const Run gaveUp = waiting.result();
        QVERIFY(!gaveUp.ok);
        QVERIFY(gaveUp.cancelled);
    }
};

KTR_TEST_MAIN(TestSnapshotRestore)
#include "tst_snapshotrestore.moc"
