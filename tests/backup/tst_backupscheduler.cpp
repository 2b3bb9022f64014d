// The automatic backup: the due rule, one run at a time on an injected clock and task, what a run's end
// writes, the stale-part clean-up, and the quit's time budget.
#include "backup/backupengine.h"
#include "backup/backupscheduler.h"
#include "logcapture.h"
#include "manualclock.h"
#include "testenv.h"
#include "ui/appsettings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

struct Fake
{
    std::shared_ptr<std::atomic<bool>> release = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<int>> runs = std::make_shared<std::atomic<int>>(0);
    QString result;
    bool ignoreCancel = true;

    BackupScheduler::SnapshotTask task() const
    {
        return [r = release, n = runs, res = result, ignore = ignoreCancel](const QString&, const QString&, int,
                                                                            const std::atomic<bool>* cancel) {
            ++*n;
            while (!r->load() && (ignore || !cancel->load()))
                QThread::msleep(2);
            return res;
        };
    }
};

struct Harness
{
    AppSettings settings;
    QString dataDir;
    int saves = 0;
    QList<int> dialogBudgets;
    ktr::test::ManualClock clock{QDateTime(QDate(2026, 5, 10), QTime(12, 0, 0))};
    std::unique_ptr<BackupScheduler> scheduler;

    explicit Harness(const QString& name)
    {
        dataDir = ktr::test::freshDir(name);
        BackupScheduler::Host host;
        host.settings = &settings;
        host.dataDir = [this] { return dataDir; };
        host.saveSettings = [this] {
            ++saves;
            return true;
        };
        host.cancelDialogWorker = [this](int rest) { dialogBudgets << rest; };
        scheduler = std::make_unique<BackupScheduler>(host);
        scheduler->setClock(&clock);
    }
};

} // namespace

class TestBackupScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dueRule_data()
    {
        QTest::addColumn<QString>("lastAt");
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("due");
        const QDateTime now(QDate(2026, 5, 10), QTime(12, 0, 0));
        QTest::newRow("empty") << QString() << 1 << true;
        QTest::newRow("garbage") << QStringLiteral("yesterday-ish") << 1 << true;
        QTest::newRow("a day less a second") << now.addSecs(-86399).toString(Qt::ISODate) << 1 << false;
        QTest::newRow("exactly a day") << now.addDays(-1).toString(Qt::ISODate) << 1 << true;
        QTest::newRow("a week, interval 7") << now.addDays(-7).toString(Qt::ISODate) << 7 << true;
        QTest::newRow("six days, interval 7") << now.addDays(-6).toString(Qt::ISODate) << 7 << false;
        // Stamped once under a clock that ran ahead: waiting for that date would stop the backups for a year.
        QTest::newRow("a year ahead") << now.addYears(1).toString(Qt::ISODate) << 1 << true;
        QTest::newRow("a minute ahead") << now.addSecs(60).toString(Qt::ISODate) << 30 << true;
    }
    void dueRule()
    {
        QFETCH(QString, lastAt);
        QFETCH(int, days);
        QFETCH(bool, due);
        QCOMPARE(BackupScheduler::isDue(lastAt, days, QDateTime(QDate(2026, 5, 10), QTime(12, 0, 0))), due);
    }

    void startArmsTheHourAndTheFirstLook()
    {
        Harness h(QStringLiteral("start"));
        Fake fake;
        h.scheduler->setSnapshotTask(fake.task());
        ktr::test::LogCapture log;
        h.scheduler->start();
        h.scheduler->start();
        QVERIFY(log.contains(QStringLiteral("auto backup scheduler started")));
        auto* hourly = h.scheduler->findChild<QTimer*>(QStringLiteral("autoBackupTimer"));
        auto* first = h.scheduler->findChild<QTimer*>(QStringLiteral("autoBackupFirstRun"));
        QVERIFY(hourly && first);
        QCOMPARE(h.scheduler->findChildren<QTimer*>().size(), 2);
        QCOMPARE(hourly->interval(), 3600000);
        QVERIFY(hourly->isActive() && !hourly->isSingleShot());
        QCOMPARE(first->interval(), 2500);
        QVERIFY(first->isSingleShot());
        QSignalSpy done(h.scheduler.get(), &BackupScheduler::runFinished);
        QMetaObject::invokeMethod(first, "timeout");
        QVERIFY(done.wait(5000));
        QCOMPARE(fake.runs->load(), 1);
    }

    void oneRunAtATimeAndWhatItsEndWrites_data()
    {
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QString>("line");
        QTest::newRow("success") << QString() << false << true
                                 << QStringLiteral("auto backup done, next due in 1 days");
        QTest::newRow("failure") << QStringLiteral("磁盘已满") << false << false
                                 << QStringLiteral("auto backup failed: 磁盘已满");
        QTest::newRow("success after cancel")
            << QString() << true << false << QStringLiteral("auto backup cancelled, last-backup time unchanged");
    }
    void oneRunAtATimeAndWhatItsEndWrites()
    {
        QFETCH(QString, result);
        QFETCH(bool, cancel);
        QFETCH(bool, written);
        QFETCH(QString, line);
        Harness h(QStringLiteral("run"));
        h.settings.backupLastAt = h.clock.now().addDays(-2).toString(Qt::ISODate);
        const QString before = h.settings.backupLastAt;
        Fake fake;
        fake.release->store(false);
        fake.result = result;
        h.scheduler->setSnapshotTask(fake.task());
        ktr::test::LogCapture log;
        QSignalSpy done(h.scheduler.get(), &BackupScheduler::runFinished);
        h.scheduler->runIfDue();
        QTRY_COMPARE(fake.runs->load(), 1);
        QVERIFY(log.contains(QStringLiteral("auto backup due; creating snapshot ->")));
        h.scheduler->runIfDue(); // a tick during the run
        QVERIFY(h.scheduler->isRunning());
        if (cancel)
            h.scheduler->stopWorker(0);
        h.clock.advance(60000);
        fake.release->store(true);
        QVERIFY(done.wait(5000));
        QCOMPARE(fake.runs->load(), 1);
        QVERIFY2(log.contains(line), qPrintable(log.messages().join('\n')));
        if (written) {
            QCOMPARE(h.settings.backupLastAt, h.clock.now().toString(Qt::ISODate));
            QCOMPARE(h.saves, 1);
            // Now not due again until a day has passed.
            h.scheduler->runIfDue();
            QVERIFY(!h.scheduler->isRunning());
        } else {
            QCOMPARE(h.settings.backupLastAt, before);
            QCOMPARE(h.saves, 0);
        }
    }

    // A backup folder that is a regular file fails every hour: the user hears of it once, the log names the
    // folder, and a success ends the streak so that the next failure is told again.
    void failuresAreToldOncePerStreak()
    {
        Harness h(QStringLiteral("streak"));
        ktr::test::writeFile(h.dataDir + QStringLiteral("/settings.json"), "{}");
        const QString blocker = ktr::test::freshDir(QStringLiteral("streak-blocker")) + QStringLiteral("/not-a-folder");
        QVERIFY(ktr::test::writeFile(blocker, "x"));
        h.settings.backupDir = blocker;
        h.settings.backupLastAt = QStringLiteral("2026-05-01T08:00:00");
        QSignalSpy failed(h.scheduler.get(), &BackupScheduler::failed);
        QSignalSpy done(h.scheduler.get(), &BackupScheduler::runFinished);
        ktr::test::LogCapture log;
        const auto runOnce = [&] {
            const int before = int(done.size());
            h.scheduler->runIfDue();
            QTRY_COMPARE_WITH_TIMEOUT(int(done.size()), before + 1, 20000);
            h.clock.advance(3600000);
        };
        for (int i = 0; i < 3; ++i)
            runOnce();
        QCOMPARE(failed.size(), 1);
        QVERIFY(!failed.first().at(0).toString().isEmpty());
        QCOMPARE(failed.first().at(1).toString(), blocker);
        // The user reads what is wrong with the folder, also when it lies below the file.
        const QString folderText =
            QStringLiteral("自动备份失败：备份目录「%1」不是文件夹，请在「设置 → 备份与恢复」中更改目录");
        QCOMPARE(BackupScheduler::failureText(failed.first().at(0).toString(), blocker), folderText.arg(blocker));
        QCOMPARE(BackupScheduler::failureText(QStringLiteral("x"), blocker + QStringLiteral("/a/b")),
                 folderText.arg(blocker + QStringLiteral("/a/b")));
        QCOMPARE(BackupScheduler::failureText(QStringLiteral("磁盘已满"), h.dataDir),
                 QStringLiteral("自动备份失败：磁盘已满"));
        QCOMPARE(log.count(QStringLiteral("auto backup failed:")), 3);
        QVERIFY2(log.contains(QStringLiteral("| backup folder: ") + blocker), qPrintable(log.messages().join('\n')));
        QVERIFY(log.contains(QStringLiteral("| last success: 2026-05-01T08:00:00")));
        QCOMPARE(h.settings.backupLastAt, QStringLiteral("2026-05-01T08:00:00"));

        // The folder is fixed: one success, then a new failure is a new streak.
        h.settings.backupDir = ktr::test::freshDir(QStringLiteral("streak-good"));
        runOnce();
        QCOMPARE(failed.size(), 1);
        QVERIFY(h.settings.backupLastAt != QStringLiteral("2026-05-01T08:00:00"));
        h.settings.backupDir = blocker;
        h.clock.advance(2 * 86400000LL);
        runOnce();
        QCOMPARE(failed.size(), 2);
    }

    void notDueAndOffMakeNothingButStalePartsGoOnce()
    {
        Harness h(QStringLiteral("off"));
        h.settings.backupAuto = false;
        Fake fake;
        h.scheduler->setSnapshotTask(fake.task());
        const QString folder = BackupEngine::backupDir(h.dataDir);
        const QString part = folder + QStringLiteral("/Kestrune-Auto-20260101-120000-000.zip.999999.part");
        ktr::test::writeFile(part, "x");
        QFile f(part);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-21700), QFileDevice::FileModificationTime));
        f.close();
        h.scheduler->runIfDue();
        QVERIFY(!QFile::exists(part));
        QVERIFY(!h.scheduler->isRunning());
        // Only the first look cleans up.
        ktr::test::writeFile(part, "x");
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-21700), QFileDevice::FileModificationTime));
        f.close();
        h.scheduler->runIfDue();
        QVERIFY(QFile::exists(part));

        h.settings.backupAuto = true;
        h.settings.backupLastAt = h.clock.now().addSecs(-86399).toString(Qt::ISODate);
        h.scheduler->runIfDue();
        QVERIFY(!h.scheduler->isRunning());
        QCOMPARE(fake.runs->load(), 0);
    }

    void realSnapshotIsAutomaticAndPruned()
    {
        Harness h(QStringLiteral("real"));
        ktr::test::writeFile(h.dataDir + QStringLiteral("/settings.json"), "{}");
        const QString folder = BackupEngine::backupDir(h.dataDir);
        QString error;
        for (int i = 0; i < 10; ++i)
            QVERIFY2(!BackupEngine::createSnapshot(folder, h.dataDir, &error, false, {}, nullptr, nullptr).isEmpty(),
                     qPrintable(error));
        QSignalSpy done(h.scheduler.get(), &BackupScheduler::runFinished);
        h.scheduler->runIfDue();
        QVERIFY(done.wait(20000));
        const QList<BackupEngine::SnapshotInfo> all = BackupEngine::listSnapshots(folder);
        QCOMPARE(all.size(), 10);
        QVERIFY(all.first().name.startsWith(QStringLiteral("Kestrune-Auto-")));
        QVERIFY(!h.settings.backupLastAt.isEmpty());
    }

    void quitKeepsTheBudget_data()
    {
        QTest::addColumn<bool>("autoRunning");
        QTest::newRow("auto backup runs the whole budget") << true;
        QTest::newRow("auto backup idle") << false;
    }
    void quitKeepsTheBudget()
    {
        QFETCH(bool, autoRunning);
        Harness h(QStringLiteral("quit"));
        Fake fake;
        fake.release->store(false);
        h.scheduler->setSnapshotTask(fake.task());
        if (autoRunning) {
            h.scheduler->runIfDue();
            QTRY_COMPARE(fake.runs->load(), 1);
        }
        ktr::test::LogCapture log;
        QElapsedTimer timer;
        timer.start();
        h.scheduler->waitWorkers(2500);
        const qint64 spent = timer.elapsed();
        if (autoRunning) {
            // The fake task never ends on its own: anything well short of "forever" keeps the budget, and a
            // loaded machine may overrun it by a scheduling slice or two.
            QVERIFY2(spent >= 2490 && spent < 4000, qPrintable(QString::number(spent)));
            QVERIFY(h.dialogBudgets.isEmpty());
            QVERIFY(log.contains(QStringLiteral("auto backup worker still running on exit; cancel requested, "
                                                "orphan powershell may remain (hard exit)")));
        } else {
            QVERIFY2(spent < 1000, qPrintable(QString::number(spent)));
            QCOMPARE(h.dialogBudgets.size(), 1);
            QVERIFY(h.dialogBudgets.first() > 2400);
        }
        fake.release->store(true);
        QThreadPool::globalInstance()->waitForDone();
    }
};

KTR_TEST_MAIN(TestBackupScheduler)
#include "tst_backupscheduler.moc"
