// The settings dialog's backups: the worker and its progress card, the backup page against a real
// snapshot folder, the help and about page, and the preview renders.
#include "../backup/backupfixture.h"
#include "backup/backupengine.h"
#include "backup/backupinternal.h"
#include "backup/backupjobs.h"
#include "logcapture.h"
#include "looktable.h"
#include "manualclock.h"
#include "platform/procmemory.h"
#include "settings/aboutinfo.h"
#include "settings/backupformat.h"
#include "settings/backuppreview.h"
#include "settings/backupprogressdialog.h"
#include "settings/settingsdialog.h"
#include "settings/settingsids.h"
#include "testenv.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/savefile.h"
#include "ui/servicehost.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct CardLog
{
    QStringList titles;
    QStringList texts;
};

QString cardText(QDialog& card)
{
    QStringList parts;
    for (QLabel* l : card.findChildren<QLabel*>())
        if (!l->text().isEmpty())
            parts << l->text();
    return parts.join(QLatin1Char('|'));
}

// Answers every card with the button of this text (else rejects it), recording what it showed.
CardRunner answer(const QString& button, CardLog* log, std::function<void()> during = {})
{
    return [=](QDialog& card) {
        if (log) {
            log->titles << card.windowTitle();
            log->texts << cardText(card);
        }
        if (during)
            during();
        for (QPushButton* b : card.findChildren<QPushButton*>())
            if (b->text() == button) {
                card.show();
                b->click();
                return card.result();
            }
        card.reject();
        return card.result();
    };
}

struct Dialog
{
    AppSettings live;
    int restored = 0;
    // The layout the last restore's worker read for the window, as BackupJobs offered it.
    std::shared_ptr<const ConfigStore::LayoutRead> restoredLayout;
    BackupJobs jobs; // the main window's, outliving the dialog
    std::unique_ptr<SettingsDialog> dialog;

    explicit Dialog(const QString& dataDir, const AppSettings& start = AppSettings()) : live(start)
    {
        int* counter = &restored;
        dialog = std::make_unique<SettingsDialog>(
            &live, dataDir, std::function<void()>(), std::function<void(const AppSettings&)>(), std::function<void()>(),
            std::function<void()>(), std::function<void()>(), std::function<void()>(), std::function<void(bool)>(),
            nullptr, std::function<void()>(), std::function<void(const QString&)>(),
            std::function<void(const QString&, const QMap<QString, QString>&)>());
        dialog->setBackupJobs(&jobs);
        QObject::connect(&jobs, &BackupJobs::snapshotRestored, [this, counter] {
            ++*counter;
            restoredLayout = jobs.restoredLayout();
        });
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    SettingsDialog& d() { return *dialog; }
    void click(int id)
    {
        const QRect r = dialog->hitRectInWindow(id);
        QVERIFY2(!r.isNull(), qPrintable(QString::number(id)));
        QTest::mousePress(dialog.get(), Qt::LeftButton, {}, r.center());
        QTest::mouseRelease(dialog.get(), Qt::LeftButton, {}, r.center());
    }
};

// The calling thread's nice value.
int threadNice()
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, gettid());
    return errno == 0 ? nice : -100;
}

// An executor that records its jobs (and the nice value of the thread each ran on) and, when told, waits until
// released.
struct FakeExecutor
{
    std::shared_ptr<std::atomic<bool>> release = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<QList<BackupJobs::Job>> jobs = std::make_shared<QList<BackupJobs::Job>>();
    std::shared_ptr<QList<int>> nices = std::make_shared<QList<int>>();
    std::shared_ptr<QMutex> mutex = std::make_shared<QMutex>();
    BackupJobs::Result result;

    BackupJobs::Executor fn() const
    {
        return [r = release, j = jobs, n = nices, m = mutex, result = result](const BackupJobs::Job& job) {
            {
                QMutexLocker lock(m.get());
                j->append(job);
                n->append(threadNice());
            }
            while (!r->load())
                QThread::msleep(2);
            BackupJobs::Result out = result;
            out.wasRestore = job.op == 2;
            out.cancelled = out.cancelled || job.cancel->load();
            return out;
        };
    }
    int count() const
    {
        QMutexLocker lock(mutex.get());
        return int(jobs->size());
    }
};

struct ScopedExecutor
{
    explicit ScopedExecutor(BackupJobs::Executor e) : previous(BackupJobs::setExecutor(std::move(e))) {}
    ~ScopedExecutor() { BackupJobs::setExecutor(std::move(previous)); }
    BackupJobs::Executor previous;
};

QString makeDataDir(const QString& name)
{
    const QString dir = ktr::test::freshDir(name);
    ktr::test::writeFile(dir + QStringLiteral("/settings.json"), R"({"darkTheme":false})");
    ktr::test::writeFile(dir + QStringLiteral("/layout.json"), R"({"groups":[{"name":"A"}]})");
    return dir;
}

QString snapshotName(int n)
{
    return QStringLiteral("Kestrune-Auto-20260101-1200%1-000.zip").arg(n, 2, 10, QLatin1Char('0'));
}

void setLook(bool dark, int language)
{
    setDarkTheme(dark);
    Lang::setLanguage(language);
}

} // namespace

class TestBackupPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setLook(false, 0); }

    // ---- texts ------------------------------------------------------------------------------------------

    void byteSizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "0 B";
        QTest::newRow("1023") << qint64(1023) << "1023 B";
        QTest::newRow("1024") << qint64(1024) << "1 KB";
        QTest::newRow("1048575") << qint64(1048575) << "1023 KB";
        QTest::newRow("1048576") << qint64(1048576) << "1.0 MB";
        QTest::newRow("5GiB") << qint64(5) * 1024 * 1024 * 1024 << "5120.0 MB";
    }
    void byteSizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(formatByteSize(bytes), text);
    }

    // An engine's technical detail never reaches the card: a sentence for the operation does (in English
    // too); a sentence of ours is translated.
    void failureTexts_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zip entry") << 0 << 2 << "unsafe zip entry: layout.json"
                                   << "还原快照失败，详细原因已写入运行日志。";
        QTest::newRow("robocopy") << 0 << 1 << "robocopy failed: 8"
                                  << "创建备份快照失败，详细原因已写入运行日志。";
        QTest::newRow("target en") << 1 << 2 << "cannot write restore target: /x"
                                   << "Restoring the snapshot failed. The details are in the log.";
        QTest::newRow("export") << 0 << 3 << "rename failed"
                                << "导出备份文件失败，详细原因已写入运行日志。";
        QTest::newRow("ours en") << 1 << 2 << "还原前快照创建失败，已中止还原"
                                 << "Failed to create the pre-restore snapshot; restore aborted";
        QTest::newRow("empty") << 0 << 1 << ""
                               << "创建备份快照失败，详细原因已写入运行日志。";
    }
    void failureTexts()
    {
        QFETCH(int, language);
        QFETCH(int, op);
        QFETCH(QString, message);
        QFETCH(QString, shown);
        Lang::setLanguage(language);
        const QString text = backupFailureText(op, message);
        Lang::setLanguage(0);
        QCOMPARE(text, shown);
    }

    void intervalAndRetentionLabels_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("retain");
        QTest::newRow("1") << 1 << "每天"
                           << "1 份";
        QTest::newRow("2") << 2 << "2 天"
                           << "2 份";
        QTest::newRow("3") << 3 << "每 3 天"
                           << "3 份";
        QTest::newRow("7") << 7 << "每周"
                           << "7 份";
        QTest::newRow("14") << 14 << "14 天"
                            << "14 份";
        QTest::newRow("30") << 30 << "每月"
                            << "30 份";
    }
    void intervalAndRetentionLabels()
    {
        QFETCH(int, days);
        QFETCH(QString, interval);
        QFETCH(QString, retain);
        QCOMPARE(backupIntervalLabel(days), interval);
        QCOMPARE(backupRetainLabel(days), retain);
    }

    void buildDates_data()
    {
        QTest::addColumn<QString>("compiler");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << "Nov 12 2026"
                               << "2026-11-12";
        QTest::newRow("padded day") << "Jan  5 2026"
                                    << "2026-01-05";
        QTest::newRow("garbage") << "  not  a date "
                                 << "not a date";
    }
    void buildDates()
    {
        QFETCH(QString, compiler);
        QFETCH(QString, text);
        QCOMPARE(buildDateFrom(compiler), text);
        QVERIFY(QDate::fromString(buildDateString(), QStringLiteral("yyyy-MM-dd")).isValid());
    }

    // The about page names the service the program talks to: the one named at run time before the one built
    // in; one refused (plain http to a host that is not this machine) names the built-in one, none a dash.
    void aboutSite_data()
    {
        QTest::addColumn<QString>("builtIn");
        QTest::addColumn<QString>("runTime");
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("community");
        QTest::newRow("none") << QString() << QString() << "—"
                              << "—";
        QTest::newRow("built in") << "https://service.example" << QString() << "service.example"
                                  << "service.example/social.html";
        QTest::newRow("named at run time") << QString() << "http://127.0.0.1:8765"
                                           << "127.0.0.1"
                                           << "127.0.0.1/social.html";
        QTest::newRow("run time before built in") << "https://service.example"
                                                  << "https://other.example"
                                                  << "other.example"
                                                  << "other.example/social.html";
        QTest::newRow("refused at run time") << QString() << "http://service.example"
                                             << "—"
                                             << "—";
    }
    void aboutSite()
    {
        QFETCH(QString, builtIn);
        QFETCH(QString, runTime);
        QFETCH(QString, site);
        QFETCH(QString, community);
        const QByteArray saved = qgetenv("KTR_SERVICE_HOST");
        ktr::setDefaultServiceHostForTesting(QUrl(builtIn));
        qputenv("KTR_SERVICE_HOST", runTime.toUtf8());
        const QString shownSite = aboutSiteText(false);
        const QString shownCommunity = aboutSiteText(true);
        qputenv("KTR_SERVICE_HOST", saved);
        ktr::resetDefaultServiceHostForTesting();
        QCOMPARE(shownSite, site);
        QCOMPARE(shownCommunity, community);
    }

    void versionFromTheBuild()
    {
        // The version comes from the project's CMake version, three numbers.
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(fileVersionString()).hasMatch());
        QVERIFY(fileVersionString() != QStringLiteral("0.0.0"));
    }

    void memoryLine_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("rss");
        QTest::addColumn<qint64>("peak");
        QTest::newRow("both") << QByteArray("Name:\tx\nVmHWM:\t  2048 kB\nVmRSS:\t  1024 kB\n") << true
                              << qint64(1048576) << qint64(2097152);
        QTest::newRow("no peak") << QByteArray("VmRSS:\t  1024 kB\n") << false << qint64(0) << qint64(0);
        QTest::newRow("garbage") << QByteArray("VmRSS: lots\nVmHWM: 12 MB\n") << false << qint64(0) << qint64(0);
        QTest::newRow("empty") << QByteArray() << false << qint64(0) << qint64(0);
    }
    void memoryLine()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, ok);
        QCOMPARE(ktr::platform::parseProcessMemory(status, nullptr, nullptr), ok);
        if (ok) {
            QFETCH(qint64, rss);
            QFETCH(qint64, peak);
            qint64 gotRss = 0, gotPeak = 0;
            QVERIFY(ktr::platform::parseProcessMemory(status, &gotRss, &gotPeak));
            QCOMPARE(gotRss, rss);
            QCOMPARE(gotPeak, peak);
        }
        // This process can read its own counters.
        QVERIFY(SettingsDialog::memoryLine().contains(QStringLiteral(" MB（本次运行峰值 ")));
    }

    // ---- progress card ----------------------------------------------------------------------------------

    void rangedMapping_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addColumn<int>("first");  // 0..45
        QTest::addColumn<int>("second"); // 45..100
        QTest::newRow("-5") << -5 << 0 << 45;
        QTest::newRow("0") << 0 << 0 << 45;
        QTest::newRow("1") << 1 << 0 << 45;
        QTest::newRow("48") << 48 << 21 << 71;
        QTest::newRow("100") << 100 << 45 << 100;
        QTest::newRow("150") << 150 << 45 << 100;
    }
    void rangedMapping()
    {
        QFETCH(int, engine);
        QFETCH(int, first);
        QFETCH(int, second);
        QCOMPARE(rangedProgress(0, 45, engine), first);
        QCOMPARE(rangedProgress(45, 100, engine), second);
    }

    void progressCardAnimatesThenFollowsTheEngine()
    {
        int cancels = 0;
        BackupProgressDialog card(nullptr, QStringLiteral("正在创建备份快照…"), [&cancels] { ++cancels; });
        QCOMPARE(card.animationTimer()->interval(), 28);
        QVERIFY(card.animationTimer()->isActive());
        QCOMPARE(card.percent(), -1);
        QMetaObject::invokeMethod(card.animationTimer(), "timeout");
        QMetaObject::invokeMethod(card.animationTimer(), "timeout");
        QCOMPARE(card.phase(), 6);
        QCOMPARE(card.track()->phase(), 6);

        // -5 becomes 0 and ends the animation; 150 is drawn as 100; an earlier step never pulls it back.
        Lang::setLanguage(1);
        card.setProgress(-5, QStringLiteral("正在创建备份快照…"));
        QCOMPARE(card.percent(), 0);
        QVERIFY(!card.animationTimer()->isActive());
        QCOMPARE(card.labelText(), Lang::tr("正在创建备份快照…") + QStringLiteral("   0%"));
        QVERIFY(card.labelText() != QStringLiteral("正在创建备份快照…   0%"));
        card.setProgress(60, QStringLiteral("x"));
        card.setProgress(40, QStringLiteral("x"));
        QCOMPARE(card.percent(), 60);
        QCOMPARE(card.track()->percent(), 60);
        card.setProgress(150, QStringLiteral("x"));
        QCOMPARE(card.labelText(), QStringLiteral("x   100%"));

        // One cancel however often it is pressed; later progress is ignored.
        card.cancelButton()->click();
        card.cancelButton()->click();
        QTest::mouseClick(card.cancelButton(), Qt::LeftButton);
        QCOMPARE(cancels, 1);
        QVERIFY(!card.cancelButton()->isEnabled());
        QCOMPARE(card.labelText(), Lang::tr("正在取消…"));
        card.setProgress(100, QStringLiteral("y"));
        QCOMPARE(card.labelText(), Lang::tr("正在取消…"));
    }

    void progressTrackPaints_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("phase");
        QTest::addColumn<int>("blueFrom"); // first and last blue column, in 320 px
        QTest::addColumn<int>("blueTo");
        QTest::newRow("50%") << 50 << 0 << 0 << 159;
        QTest::newRow("unknown, phase 0") << -1 << 0 << 0 << 111;
        QTest::newRow("unknown, phase 50") << -1 << 50 << 104 << 215;
    }
    void progressTrackPaints()
    {
        QFETCH(int, percent);
        QFETCH(int, phase);
        QFETCH(int, blueFrom);
        QFETCH(int, blueTo);
        ProgressTrack track;
        track.resize(320, 8);
        track.setPercent(percent);
        track.setPhase(phase);
        QImage img(track.size(), QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        track.render(&img);
        const QColor blue(0x00, 0x67, 0xC0);
        const QColor grey(0xEE, 0xEE, 0xEE);
        QCOMPARE(img.pixelColor(blueFrom + 4, 4), blue);
        QCOMPARE(img.pixelColor(blueTo - 4, 4), blue);
        if (blueFrom > 8)
            QCOMPARE(img.pixelColor(blueFrom - 4, 4), grey);
        if (blueTo < 310)
            QCOMPARE(img.pixelColor(blueTo + 5, 4), grey);
    }

    // The progress card follows the theme as the message card does: its fill, its text, the empty track and
    // the cancel button.
    void progressCardFollowsTheTheme_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("emptyTrack");
        QTest::newRow("light") << false << QColor(Qt::white) << QColor(0xEE, 0xEE, 0xEE);
        QTest::newRow("dark") << true << QColor(0x2B, 0x2B, 0x2B) << QColor(0x45, 0x45, 0x45);
    }
    void progressCardFollowsTheTheme()
    {
        QFETCH(bool, dark);
        QFETCH(QColor, fill);
        QFETCH(QColor, emptyTrack);
        setDarkTheme(dark);
        BackupProgressDialog card(nullptr, QStringLiteral("正在创建备份快照…"), [] {});
        card.setProgress(10, QStringLiteral("正在创建备份快照…"));
        card.show();
        QApplication::processEvents();
        const QImage img = card.grab().toImage();
        ktr::test::saveShot(img, QStringLiteral("progress-card-%1").arg(QTest::currentDataTag()));
        // Inside the card, between the label and the track; the track's empty end.
        const QPoint trackPos = card.track()->mapTo(&card, QPoint(0, 0));
        QCOMPARE(img.pixelColor(card.width() / 2, trackPos.y() - 5), fill);
        QCOMPARE(img.pixelColor(trackPos.x() + card.track()->width() - 10, trackPos.y() + 4), emptyTrack);
        // The label's text and the button's face stand out from the card the same way in both themes.
        const double cardL = fill.lightnessF();
        QLabel* label = card.findChild<QLabel*>();
        QVERIFY(label);
        const QRect textRect(label->mapTo(&card, QPoint(0, 0)), label->size());
        double textContrast = 0;
        for (int y = textRect.top(); y <= textRect.bottom(); ++y)
            for (int x = textRect.left(); x <= textRect.right(); ++x)
                textContrast = std::max(textContrast, std::abs(img.pixelColor(x, y).lightnessF() - cardL));
        QVERIFY2(textContrast > 0.5, qPrintable(QString::number(textContrast)));
        const QPoint b = card.cancelButton()->mapTo(&card, QPoint(6, card.cancelButton()->height() / 2));
        const QColor face = img.pixelColor(b);
        QVERIFY2(std::abs(face.lightnessF() - cardL) < 0.2, qPrintable(face.name()));
        card.hide();
    }

    // ---- worker -----------------------------------------------------------------------------------------

    void oneOperationAtATimeAndEscapeKeepsTheOutcome()
    {
        Dialog f(makeDataDir(QStringLiteral("one")));
        FakeExecutor fake;
        fake.release->store(false);
        fake.result.ok = true;
        ScopedExecutor exec(fake.fn());
        CardLog log;
        ScopedCardRunner cards(answer(QStringLiteral("确定"), &log));

        f.d().runBackupOp(1, QString(), QString());
        QTRY_COMPARE(fake.count(), 1);
        QPointer<BackupProgressDialog> card = f.d().progressCard();
        QVERIFY(card && card->isVisible());
        QCOMPARE(card->labelText(), QStringLiteral("正在创建备份快照…"));
        QTest::keyClick(card.data(), Qt::Key_Escape);
        QVERIFY(!card->isVisible());
        QVERIFY(!fake.jobs->first().cancel->load());
        QVERIFY(f.jobs.running());
        // A second request is refused with a notice, and the card closed with Escape comes back.
        f.d().runBackupOp(3, QStringLiteral("a"), QStringLiteral("b"));
        QCOMPARE(log.texts.size(), 1);
        QVERIFY(log.texts.first().contains(QStringLiteral("已有备份、还原或导出正在进行，请等它完成后再试。")));
        QVERIFY(card && card->isVisible());
        QCOMPARE(card->labelText(), QStringLiteral("正在创建备份快照…"));

        fake.release->store(true);
        QTRY_VERIFY(!f.jobs.running());
        QCOMPARE(log.texts.size(), 2);
        QVERIFY(log.texts.last().contains(QStringLiteral("已创建备份快照。")));
        QTRY_VERIFY(card.isNull());
        QCOMPARE(fake.count(), 1);
    }

    void labelsAndUnknownOperations_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("label");
        QTest::newRow("0") << 0 << QString();
        QTest::newRow("-3") << -3 << QString();
        QTest::newRow("7") << 7 << QStringLiteral("正在导出备份…");
    }
    void labelsAndUnknownOperations()
    {
        QFETCH(int, op);
        QFETCH(QString, label);
        Dialog f(makeDataDir(QStringLiteral("unknown")));
        CardLog log;
        ScopedCardRunner cards(answer(QStringLiteral("确定"), &log));
        f.d().runBackupOp(op, QString(), QString());
        QCOMPARE(f.d().progressCard()->labelText(), label);
        QTRY_VERIFY(!f.jobs.running());
        QCOMPARE(log.texts.size(), 1);
        QVERIFY(log.texts.first().contains(QStringLiteral("未知操作")));
    }

    void cancelledRestoreReloadsAndSaysCancelled()
    {
        // A restore that succeeded although a cancel arrived reloads, then says "cancelled".
        Dialog f(makeDataDir(QStringLiteral("cancelled")));
        FakeExecutor fake;
        fake.result.ok = true;
        fake.result.cancelled = true;
        ScopedExecutor exec(fake.fn());
        CardLog log;
        ScopedCardRunner cards(answer(QStringLiteral("确定"), &log));
        f.d().runBackupOp(2, QStringLiteral("/x.zip"), QString());
        QTRY_VERIFY(!f.jobs.running());
        QCOMPARE(f.restored, 1);
        QVERIFY(log.texts.first().contains(QStringLiteral("已取消。")));
    }

    void closingTheDialogDuringARestoreStillReloads()
    {
        Dialog f(makeDataDir(QStringLiteral("closed")));
        FakeExecutor fake;
        fake.release->store(false);
        fake.result.ok = true;
        ScopedExecutor exec(fake.fn());
        ScopedCardRunner cards(answer(QStringLiteral("确定"), nullptr));
        f.d().runBackupOp(2, QStringLiteral("/x.zip"), QString());
        QTRY_COMPARE(fake.count(), 1);
        const std::shared_ptr<std::atomic<bool>> flag = fake.jobs->first().cancel;
        f.dialog.reset();
        QVERIFY(flag->load()); // the dialog's end asks the worker to stop
        fake.release->store(true);
        // The restore reports success (with the cancel it could no longer honour): its files are on disk,
        // so the main window's side reloads although the dialog is gone.
        QTRY_COMPARE(f.restored, 1);
    }

    // The dialog goes (closed, the lock, an unlock) while an operation runs: the operation is asked to stop
    // and the panel is told how it ended, whatever that was.
    void closingTheDialogLeavesTheOutcomeToThePanel_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("honoursCancel");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("failed");
        QTest::newRow("backup cancelled")
            << 1 << false << true << QString() << QStringLiteral("设置窗口已关闭，「立即备份」已取消。") << true;
        QTest::newRow("restore failed") << 2 << false << false << QStringLiteral("磁盘已满")
                                        << QStringLiteral("「还原」失败：磁盘已满") << true;
        QTest::newRow("export failed, no text")
            << 3 << false << false << QString() << QStringLiteral("「导出备份」失败：操作失败，请稍后重试。") << true;
        QTest::newRow("export done") << 3 << true << false << QString() << QStringLiteral("已导出备份文件。") << false;
    }
    void closingTheDialogLeavesTheOutcomeToThePanel()
    {
        QFETCH(int, op);
        QFETCH(bool, ok);
        QFETCH(bool, honoursCancel);
        QFETCH(QString, message);
        QFETCH(QString, text);
        QFETCH(bool, failed);
        Dialog f(makeDataDir(QStringLiteral("gone")));
        FakeExecutor fake;
        fake.release->store(false);
        fake.result.ok = ok;
        fake.result.message = message;
        auto inner = fake.fn();
        // The fake reports the cancel only where the real operation honours it (export does not).
        ScopedExecutor exec([inner, honoursCancel](const BackupJobs::Job& job) {
            BackupJobs::Result r = inner(job);
            if (!honoursCancel)
                r.cancelled = false;
            return r;
        });
        QList<QPair<QString, bool>> told;
        QObject::connect(&f.jobs, &BackupJobs::outcomeForPanel, [&told](const QString& t, bool bad) {
            told.append({t, bad});
        });
        CardLog log;
        ScopedCardRunner cards(answer(QStringLiteral("确定"), &log));
        f.d().runBackupOp(op, QStringLiteral("/x.zip"), QStringLiteral("/y.zip"));
        QTRY_COMPARE(fake.count(), 1);
        f.dialog.reset();
        fake.release->store(true);
        QTRY_COMPARE(told.size(), 1);
        QCOMPARE(told.first().first, text);
        QCOMPARE(told.first().second, failed);
        QVERIFY(log.texts.isEmpty());
    }

    // The page shows the last successful automatic backup from the live record, which the automatic backup
    // writes while the dialog is open.
    void lastAutomaticSuccessIsShown()
    {
        AppSettings start;
        Dialog f(makeDataDir(QStringLiteral("last")), start);
        QCOMPARE(f.d().lastAutoBackupText(), QStringLiteral("尚无成功的自动备份"));
        f.live.backupLastAt = QStringLiteral("2026-05-10T07:05:09");
        QCOMPARE(f.d().lastAutoBackupText(), QStringLiteral("上次成功：2026/5/10 7:05"));
        Lang::setLanguage(1);
        QCOMPARE(f.d().lastAutoBackupText(), QStringLiteral("Last success: 2026/5/10 7:05"));
        Lang::setLanguage(0);
    }

    void cancelBackupWorkerPollsTheFuture()
    {
        Dialog f(makeDataDir(QStringLiteral("poll")));
        FakeExecutor fake;
        fake.release->store(false);
        ScopedExecutor exec([fn = fake.fn(), release = fake.release](const BackupJobs::Job& job) {
            while (!job.cancel->load())
                QThread::msleep(5);
            release->store(true);
            return fn(job);
        });
        ScopedCardRunner cards(answer(QStringLiteral("确定"), nullptr));
        f.d().runBackupOp(1, QString(), QString());
        QElapsedTimer timer;
        timer.start();
        f.jobs.cancelAndWait(2000);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QTRY_VERIFY(!f.jobs.running());
    }

    void cancelBackupWorkerGivesUpAfterItsBudget()
    {
        Dialog f(makeDataDir(QStringLiteral("budget")));
        FakeExecutor fake;
        fake.release->store(false);
        ScopedExecutor exec(fake.fn());
        ScopedCardRunner cards(answer(QStringLiteral("确定"), nullptr));
        f.d().runBackupOp(1, QString(), QString());
        QTest::ignoreMessage(QtWarningMsg, "settings backup worker still running on exit; cancel requested");
        QElapsedTimer timer;
        timer.start();
        f.jobs.cancelAndWait(200);
        QVERIFY(timer.elapsed() >= 190);
        fake.release->store(true);
        QTRY_VERIFY(!f.jobs.running());
    }

    // ---- against the real engine ------------------------------------------------------------------------

    void createThenRestoreTheOldestOfTheKept()
    {
        const QString data = makeDataDir(QStringLiteral("real"));
        AppSettings start;
        start.backupRetain = 10;
        Dialog f(data, start);
        CardLog log;
        ScopedCardRunner cards(answer(QStringLiteral("确定"), &log));
        f.d().setPage(6);
        QCOMPARE(f.d().snapshotRows().size(), 0);
        QVERIFY(f.d().backupSummary().startsWith(QStringLiteral("共 0 个快照，占用 0 B")));
        QVERIFY(!f.d().backupSummary().contains(QStringLiteral("最近一份")));

        f.click(304); // 立即备份
        QTRY_VERIFY_WITH_TIMEOUT(!f.jobs.running(), 20000);
        QVERIFY2(log.texts.last().contains(QStringLiteral("已创建备份快照。")), qPrintable(log.texts.join('\n')));
        QCOMPARE(f.d().snapshotRows().size(), 1);
        const QString first = f.d().snapshotRows().first().path;

        // Nine newer snapshots, made of other data: the first one is now the oldest of the ten kept.
        ktr::test::writeFile(data + QStringLiteral("/settings.json"), R"({"darkTheme":true})");
        const QString folder = f.d().effectiveBackupDir();
        QString error;
        for (int i = 0; i < 9; ++i)
            QVERIFY(!BackupEngine::createSnapshot(folder, data, &error, false, {}, nullptr, nullptr).isEmpty());
        f.click(307); // 刷新
        QCOMPARE(f.d().snapshotRows().size(), 10);
        QCOMPARE(f.d().snapshotRows().last().path, first);

        ScopedCardRunner yes(answer(QStringLiteral("是"), &log));
        f.d().runAction(settingsids::snapshotRestoreId(9));
        ScopedCardRunner ok(answer(QStringLiteral("确定"), &log));
        QTRY_VERIFY_WITH_TIMEOUT(!f.jobs.running(), 20000);
        QVERIFY2(log.texts.last().contains(QStringLiteral("已恢复快照")), qPrintable(log.texts.join('\n')));
        QCOMPARE(ktr::test::readFile(data + QStringLiteral("/settings.json")), QByteArray(R"({"darkTheme":false})"));
        QCOMPARE(f.restored, 1);
        // The window takes up the restored layout as the worker read it, not parsing it on the GUI thread.
        QVERIFY(f.restoredLayout);
        QCOMPARE(f.restoredLayout->path, ConfigStore::layoutFileIn(data));
        QCOMPARE(f.restoredLayout->groups.size(), 1);
        QCOMPARE(f.restoredLayout->groups.first().name, QStringLiteral("A"));
        QVERIFY(ConfigStore::readStillCurrent(*f.restoredLayout, ConfigStore::layoutFileIn(data)));
        QVERIFY(!f.jobs.restoredLayout()); // only while the restore is being taken up
        QVERIFY(QFile::exists(first));
        // Ten kept plus the one just restored from.
        QCOMPARE(f.d().snapshotRows().size(), 11);
        QVERIFY(f.d().snapshotRows().first().preRestore);
    }

    // A file the snapshot had to leave out is named on the card that says the snapshot was made, or the user
    // would believe it holds that file.
    void leftOutFilesAreNamedOnTheCard()
    {
        const QString data = makeDataDir(QStringLiteral("leftout"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/apps/tool/locked.bin"), "secret"));
        // CI runs as root, where no mode makes a file unreadable: the engine's opener refuses this one.
        backupdetail::setFileOpener([](const QString& path) {
            if (path.endsWith(QStringLiteral("/locked.bin"))) {
                errno = EACCES;
                return -1;
            }
            return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        });
        struct Restore
        {
            ~Restore() { backupdetail::setFileOpener({}); }
        } restoreOpener;
        Dialog f(data);
        CardLog log;
        ScopedCardRunner cards(answer(QStringLiteral("确定"), &log));
        f.d().setPage(6);
        f.click(304); // 立即备份
        QTRY_VERIFY_WITH_TIMEOUT(!f.jobs.running(), 20000);
        QCOMPARE(f.d().snapshotRows().size(), 1);
        QVERIFY(!log.texts.isEmpty());
        QVERIFY2(log.texts.last().contains(QStringLiteral("已创建备份快照。")), qPrintable(log.texts.last()));
        QVERIFY2(
            log.texts.last().contains(Lang::tr("无法读取，未放入快照：%1").arg(QStringLiteral("apps/tool/locked.bin"))),
            qPrintable(log.texts.last()));
    }

    // "立即备份" into a backup folder that is a regular file says what is wrong and where to change it, as the
    // automatic backup does, instead of pointing at the log; so does a restore, which snapshots first.
    void aBackupFolderThatIsAFileIsNamed_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("below"); // the folder's path below the file
        QTest::newRow("zh, the file itself") << 0 << QString();
        QTest::newRow("en, below the file") << 1 << QStringLiteral("/snaps");
    }
    void aBackupFolderThatIsAFileIsNamed()
    {
        QFETCH(int, language);
        QFETCH(QString, below);
        const QString data = makeDataDir(QStringLiteral("blocked"));
        const QString blocker = ktr::test::freshDir(QStringLiteral("blocker")) + QStringLiteral("/file");
        QVERIFY(ktr::test::writeFile(blocker, "not a folder"));
        AppSettings start;
        start.backupDir = blocker + below;
        Lang::setLanguage(language);
        Dialog f(data, start);
        CardLog log;
        ScopedCardRunner cards(answer(Lang::tr("确定"), &log));
        f.d().setPage(6);
        f.click(304); // 立即备份
        QTRY_VERIFY_WITH_TIMEOUT(!f.jobs.running(), 20000);
        const QString expected =
            Lang::tr("备份目录「%1」不是文件夹，无法创建快照，请在上方「备份目录」中更改。").arg(blocker + below);
        const QString restoreText =
            backupFailureText(2, QStringLiteral("cannot create x.part: Not a directory"), blocker + below);
        Lang::setLanguage(0);
        QVERIFY(!log.texts.isEmpty());
        QVERIFY2(log.texts.last().contains(expected), qPrintable(log.texts.last()));
        QCOMPARE(restoreText, expected);
        // Export writes where the user picks: the folder is not its concern.
        QCOMPARE(backupFailureText(3, QString(), blocker), Lang::tr("导出备份文件失败，详细原因已写入运行日志。"));
    }

    // A snapshot the list does not hold (brought from another computer, renamed by hand) is restored from the
    // zip the user picks, after the same question as a listed one.
    void restoreFromAChosenZip()
    {
        Dialog f(makeDataDir(QStringLiteral("chosen")));
        FakeExecutor fake;
        fake.result.ok = true;
        ScopedExecutor exec(fake.fn());
        const QString zip = ktr::test::freshDir(QStringLiteral("elsewhere")) + QStringLiteral("/my panel.zip");
        QVERIFY(ktr::test::writeFile(zip, "PK"));
        QStringList answers{QString(), zip, zip};
        QStringList filters;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString&, const QString&, const QString& filter) {
            filters << filter;
            return answers.takeFirst();
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        f.d().setPage(6);
        QCOMPARE(f.d().snapshotRows().size(), 0);
        f.click(309); // the chooser cancelled
        {
            ScopedCardRunner no(answer(QStringLiteral("否"), nullptr));
            f.click(309); // the question answered no
        }
        QCOMPARE(fake.count(), 0);
        CardLog log;
        ScopedCardRunner yes(answer(QStringLiteral("是"), &log));
        f.click(309);
        QTRY_COMPARE(fake.count(), 1);
        QCOMPARE(fake.jobs->first().op, 2);
        QCOMPARE(fake.jobs->first().first, QDir::toNativeSeparators(zip));
        // The restore and the safety snapshot before it run below the GUI thread, which a busy machine then
        // gives its core back at once.
        QCOMPARE(fake.nices->first(), std::min(19, threadNice() + 10));
        QVERIFY2(log.texts.first().contains(QStringLiteral("还原将用该快照覆盖当前设置与数据")),
                 qPrintable(log.texts.first()));
        QCOMPARE(filters.first(), QStringLiteral("ZIP 压缩包 (*.zip)"));
        QTRY_VERIFY(!f.jobs.running());
    }

    // Restores of files that are no snapshot (damaged, foreign, too large to unpack), tried again and again:
    // nothing is written, so the automatic snapshot stays listed, and the card says what is wrong, in the
    // user's language.
    void refusedRestoresWriteNothing_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<QString>("text"); // zh, before the arguments
        QTest::addColumn<QString>("arg");
        backuptest::RawEntry bomb = backuptest::file("bomb.bin", QByteArray(5000, '\0'));
        bomb.statedCompressed = 4;
        const QByteArray whole = backuptest::rawZip({backuptest::file("settings.json", "{}")});
        for (int language : {0, 1}) {
            const char* lang = language ? "en" : "zh";
            QTest::addRow("%s: damaged", lang)
                << language << whole.left(whole.size() - 30)
                << QStringLiteral("所选文件已损坏（不是完整的 zip 压缩包），未做任何改动") << QString();
            QTest::addRow("%s: another program's zip", lang)
                << language << backuptest::rawZip({backuptest::file("photos/beach.jpg", "jpeg")})
                << QStringLiteral("所选文件不是本程序的备份快照（其中没有 settings.json 或 layout.json），未做任何改动")
                << QString();
            QTest::addRow("%s: too large to unpack", lang)
                << language << backuptest::rawZip({backuptest::file("settings.json", "{}"), bomb})
                << QStringLiteral("所选文件中的 %1 解压后过大（超过压缩大小的 %2 倍），已拒绝解压，未做任何改动")
                << QStringLiteral("bomb.bin");
        }
    }
    void refusedRestoresWriteNothing()
    {
        QFETCH(int, language);
        QFETCH(QByteArray, zip);
        QFETCH(QString, text);
        QFETCH(QString, arg);
        const QString data = makeDataDir(QStringLiteral("refused"));
        AppSettings start;
        start.backupRetain = 10;
        Lang::setLanguage(language);
        Dialog f(data, start);
        CardLog log;
        ScopedCardRunner ok(answer(Lang::tr("确定"), &log));
        f.d().setPage(6);
        QString error;
        QVERIFY(!BackupEngine::createSnapshot(f.d().effectiveBackupDir(), data, &error, false, {}, nullptr, nullptr)
                     .isEmpty());
        f.click(307); // 刷新
        QCOMPARE(f.d().snapshotRows().size(), 1);
        const QString path = ktr::test::freshDir(QStringLiteral("picked")) + QStringLiteral("/picked.zip");
        QVERIFY(ktr::test::writeFile(path, zip));
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString&, const QString&, const QString&) { return path; };
        ktr::dialogs::ScopedSeams scoped(seams);
        const QString expected = arg.isEmpty() ? Lang::tr(text) : Lang::tr(text).arg(arg).arg(1000);
        for (int i = 0; i < 4; ++i) {
            ScopedCardRunner yes(answer(Lang::tr("是"), &log));
            f.click(309); // 从文件还原…
            ScopedCardRunner okAgain(answer(Lang::tr("确定"), &log));
            QTRY_VERIFY_WITH_TIMEOUT(!f.jobs.running(), 20000);
            QVERIFY2(log.texts.last().contains(expected), qPrintable(log.texts.last()));
        }
        Lang::setLanguage(0);
        QCOMPARE(f.restored, 0);
        QCOMPARE(f.d().snapshotRows().size(), 1);
        QVERIFY(!f.d().snapshotRows().first().preRestore);
        QCOMPARE(ktr::test::readFile(data + QStringLiteral("/settings.json")), QByteArray(R"({"darkTheme":false})"));
    }

    // A restore brings back the snapshot's settings but keeps this computer's backup folder (the one the page
    // lists, also when it was just chosen), last backup time and recording folder, and says so.
    void restoreKeepsThisComputersFolders_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("zh") << 0;
        QTest::newRow("en") << 1;
    }
    void restoreKeepsThisComputersFolders()
    {
        QFETCH(int, language);
        const QString data = ktr::test::freshDir(QStringLiteral("keeplocal"));
        const QString chosen = ktr::test::freshDir(QStringLiteral("chosenbackups"));
        const QString recordings = ktr::test::freshDir(QStringLiteral("recordings"));
        // The snapshot was made when the defaults were in use, long ago.
        QVERIFY(ktr::test::writeFile(
            data + QStringLiteral("/settings.json"),
            R"({"darkTheme":true,"backupDir":"","backupLastAt":"2020-01-01T08:00:00","monitorDir":""})"));
        QVERIFY(ktr::test::writeFile(data + QStringLiteral("/layout.json"), R"({"groups":[{"name":"A"}]})"));
        QString error;
        QVERIFY(!BackupEngine::createSnapshot(chosen, data, &error, false, {}, nullptr, nullptr).isEmpty());
        // Since then: another theme, a recording folder and a last backup of today.
        AppSettings start;
        start.darkTheme = false;
        start.backupLastAt = QStringLiteral("2026-12-11T04:00:00");
        start.monitorDir = recordings;
        QVERIFY(ktr::test::writeFile(
            data + QStringLiteral("/settings.json"),
            QStringLiteral(R"({"darkTheme":false,"backupDir":"","backupLastAt":"%1","monitorDir":"%2"})")
                .arg(start.backupLastAt, recordings)
                .toUtf8()));
        Lang::setLanguage(language);
        Dialog f(data, start);
        f.d().setPage(6);
        // The folder is chosen in the page (not yet confirmed with OK); its snapshot is listed.
        ktr::dialogs::Seams seams;
        seams.folder = [&](QWidget*, const QString&, const QString&) { return chosen; };
        ktr::dialogs::ScopedSeams scoped(seams);
        f.click(302);
        QCOMPARE(f.d().snapshotRows().size(), 1);
        CardLog log;
        ScopedCardRunner yes(answer(Lang::tr("是"), &log));
        f.d().runAction(settingsids::snapshotRestoreId(0));
        ScopedCardRunner ok(answer(Lang::tr("确定"), &log));
        QTRY_VERIFY_WITH_TIMEOUT(!f.jobs.running(), 20000);
        const QString kept = Lang::tr("本机的备份目录、上次备份时间与录屏目录已保留，未被快照中的设置替换。");
        Lang::setLanguage(0);
        QVERIFY2(log.texts.last().contains(kept), qPrintable(log.texts.last()));
        QCOMPARE(f.restored, 1);
        QByteArray text;
        QCOMPARE(ktr::readFileCapped(data + QStringLiteral("/settings.json"), 1 << 20, &text), ktr::ReadStatus::Ok);
        const QJsonObject restored = QJsonDocument::fromJson(text).object();
        QCOMPARE(restored.value(QStringLiteral("darkTheme")).toBool(), true); // the snapshot's
        QCOMPARE(restored.value(QStringLiteral("backupDir")).toString(), QDir::toNativeSeparators(chosen));
        QCOMPARE(restored.value(QStringLiteral("backupLastAt")).toString(), start.backupLastAt);
        QCOMPARE(restored.value(QStringLiteral("monitorDir")).toString(), recordings);
    }

    void rowsAreFoundAgainAfterAQuestion_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::newRow("delete") << false;
        QTest::newRow("restore") << true;
    }
    void rowsAreFoundAgainAfterAQuestion()
    {
        QFETCH(bool, restore);
        Dialog f(makeDataDir(QStringLiteral("stale")));
        FakeExecutor fake;
        ScopedExecutor exec(fake.fn());
        f.d().setPage(6);
        const QString folder = f.d().effectiveBackupDir();
        for (int i = 0; i < 3; ++i)
            ktr::test::writeFile(folder + QLatin1Char('/') + snapshotName(i), "zip");
        f.click(307);
        QCOMPARE(f.d().snapshotRows().size(), 3);
        const QString chosen = f.d().snapshotRows().at(1).path;
        // While the question is open, another snapshot appears and the list is read again: row 1 is
        // now another snapshot.
        const auto relist = [&] {
            ktr::test::writeFile(folder + QLatin1Char('/') + snapshotName(9), "zip");
            f.d().backupSummaryText(true);
            f.d().relayout();
        };
        {
            ScopedCardRunner yes(answer(QStringLiteral("是"), nullptr, relist));
            // Row 1 lies under the footer at this height: its action, as the row's button runs it.
            f.d().runAction(restore ? settingsids::snapshotRestoreId(1) : settingsids::snapshotDeleteId(1));
        }
        ScopedCardRunner ok(answer(QStringLiteral("确定"), nullptr));
        if (restore) {
            QTRY_COMPARE(fake.count(), 1);
            QCOMPARE(fake.jobs->first().first, chosen);
            QTRY_VERIFY(!f.jobs.running());
        } else {
            QVERIFY(!QFile::exists(chosen));
            QCOMPARE(f.d().snapshotRows().size(), 3);
            for (const SettingsDialog::SnapshotRow& row : f.d().snapshotRows())
                QVERIFY(QFile::exists(row.path));
        }
    }

    void listThrottleRefreshAndStaleParts()
    {
        Dialog f(makeDataDir(QStringLiteral("throttle")));
        ktr::test::ManualClock clock;
        f.d().setClock(&clock);
        const QString missing = ktr::test::testRoot() + QStringLiteral("/nowhere/Backups");
        AppSettings s = f.d().editedSettings();
        s.backupDir = missing;
        f.d().setEditedSettings(s);
        f.d().setPage(6);
        QVERIFY(!QDir(missing).exists()); // the page only lists: a missing folder is not created
        QVERIFY(f.d().snapshotRows().isEmpty());
        QVERIFY(QDir().mkpath(missing));
        ktr::test::writeFile(missing + QLatin1Char('/') + snapshotName(1), "zip");
        clock.advance(1499);
        f.d().relayout();
        QCOMPARE(f.d().snapshotRows().size(), 0); // within 1.5 s of the last listing
        clock.advance(1);
        f.d().relayout();
        QCOMPARE(f.d().snapshotRows().size(), 1);
        QVERIFY(f.d().backupSummary().contains(QStringLiteral("；最近一份：")));
        // Within the throttle the folder is not listed again, but a new language shows at once.
        Lang::setLanguage(1);
        f.d().relayout();
        Lang::setLanguage(0);
        QVERIFY2(!f.d().backupSummary().contains(QStringLiteral("快照")), qPrintable(f.d().backupSummary()));

        // A forced refresh removes partial files older than six hours whose writer is gone.
        const QString part = missing + QStringLiteral("/Kestrune-Auto-20260101-120000-000.zip.999999.part");
        const QString fresh = missing + QStringLiteral("/Kestrune-Auto-20260101-120001-000.zip.999999.part");
        ktr::test::writeFile(part, "x");
        ktr::test::writeFile(fresh, "x");
        QFile old(part);
        QVERIFY(old.open(QIODevice::ReadWrite));
        QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-21700), QFileDevice::FileModificationTime));
        old.close();
        f.d().relayout();
        QVERIFY(QFile::exists(part));
        f.click(307);
        QVERIFY(!QFile::exists(part));
        QVERIFY(QFile::exists(fresh));
    }

    void pageActions()
    {
        const QString data = makeDataDir(QStringLiteral("actions"));
        Dialog f(data);
        f.d().setPage(6);
        QStringList opened;
        QString folderAsked;
        const QString chosen = ktr::test::freshDir(QStringLiteral("chosen"));
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened << url.toLocalFile();
            return true;
        };
        seams.folder = [&](QWidget*, const QString&, const QString& start) {
            folderAsked = start;
            return chosen;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        CardLog log;
        ScopedCardRunner cards(answer(QStringLiteral("确定"), &log));

        const bool autoBefore = f.d().editedSettings().backupAuto;
        f.click(308);
        QCOMPARE(f.d().editedSettings().backupAuto, !autoBefore);
        QVERIFY(!QFileInfo::exists(BackupEngine::backupDir(data)));
        f.click(306);
        QCOMPARE(opened, QStringList{BackupEngine::backupDir(data)});
        QVERIFY(QFileInfo(BackupEngine::backupDir(data)).isDir()); // opening it makes it
        f.click(302);
        QCOMPARE(folderAsked, BackupEngine::backupDir(data));
        QCOMPARE(f.d().effectiveBackupDir(), QDir::toNativeSeparators(chosen));
        f.click(305); // nothing to export in the new folder
        QCOMPARE(log.texts.size(), 1);
        QVERIFY(log.texts.first().contains(QStringLiteral("当前没有可导出的快照。")));
        f.click(303);
        QCOMPARE(f.d().effectiveBackupDir(), BackupEngine::backupDir(data));
        // The folder stays in the copy until OK.
        QCOMPARE(f.live.backupDir, QString());
    }

    void exportProposesTheNewestInHome()
    {
        Dialog f(makeDataDir(QStringLiteral("export")));
        FakeExecutor fake;
        ScopedExecutor exec(fake.fn());
        f.d().setPage(6);
        const QString folder = f.d().effectiveBackupDir();
        ktr::test::writeFile(folder + QLatin1Char('/') + snapshotName(1), "zip");
        ktr::test::writeFile(folder + QLatin1Char('/') + snapshotName(2), "zip");
        f.click(307);
        QString proposed;
        ktr::dialogs::Seams seams;
        seams.saveFile = [&](QWidget*, const QString&, const QString& suggested, const QString&) {
            proposed = suggested;
            return ktr::test::testRoot() + QStringLiteral("/out.zip");
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        ScopedCardRunner cards(answer(QStringLiteral("确定"), nullptr));
        f.click(305);
        QCOMPARE(proposed, QDir::homePath() + QLatin1Char('/') + f.d().snapshotRows().first().name);
        QTRY_COMPARE(fake.count(), 1);
        QCOMPARE(fake.jobs->first().op, 3);
        QCOMPARE(fake.jobs->first().first, f.d().snapshotRows().first().path);
        QTRY_VERIFY(!f.jobs.running());
    }

    void deletingAVanishedSnapshotLogs()
    {
        Dialog f(makeDataDir(QStringLiteral("vanished")));
        f.d().setPage(6);
        const QString path = f.d().effectiveBackupDir() + QLatin1Char('/') + snapshotName(1);
        ktr::test::writeFile(path, "zip");
        f.click(307);
        ktr::test::LogCapture capture;
        ScopedCardRunner yes(answer(QStringLiteral("是"), nullptr, [&] { QFile::remove(path); }));
        f.click(settingsids::snapshotDeleteId(0));
        QVERIFY(capture.contains(QStringLiteral("delete snapshot failed:")));
        QCOMPARE(f.d().snapshotRows().size(), 0);
    }

    void invalidTimeShowsADash()
    {
        QCOMPARE(snapshotTimeText(QDateTime()), QStringLiteral("—"));
        QCOMPARE(snapshotTimeText(QDateTime(QDate(2026, 3, 4), QTime(5, 6))), QStringLiteral("2026/3/4 5:06"));
    }

    // ---- help and about ---------------------------------------------------------------------------------

    void aboutPageRectangles()
    {
        Dialog f(makeDataDir(QStringLiteral("about")));
        f.d().setPage(2);
        const int W = f.d().width() - 200;
        struct Expect
        {
            int id;
            QRect rect;
        };
        const int c = (W - 48) / 3;
        const QList<Expect> expected = {
            {200, QRect(QPoint(W + 60, 217), QPoint(W + 159, 244))},
            {219, QRect(QPoint(W + 60, 245), QPoint(W + 159, 272))},
            {201, QRect(QPoint(W + 60, 360), QPoint(W + 159, 387))},
            {202, QRect(QPoint(260, 360), QPoint(347, 387))},
            {203, QRect(QPoint(347, 360), QPoint(434, 387))},
            {204, QRect(QPoint(W + 60, 474), QPoint(W + 159, 501))},
            {205, QRect(QPoint(W + 60, 514), QPoint(W + 159, 541))},
            {206, QRect(QPoint(W + 60, 554), QPoint(W + 159, 581))},
            {207, QRect(QPoint(W - 48, 594), QPoint(W + 51, 621))},
            {208, QRect(QPoint(W + 60, 594), QPoint(W + 159, 621))},
            {209, QRect(192, 705, c, 28)},
            {210, QRect(192 + c + 8, 705, c, 28)},
            {212, QRect(192 + 2 * (c + 8), 705, c, 28)},
        };
        for (const Expect& e : expected) {
            bool found = false;
            for (const SettingsDialog::HitArea& h : f.d().hitList())
                if (h.id == e.id) {
                    QCOMPARE(h.rect, e.rect);
                    found = true;
                    break;
                }
            QVERIFY2(found, qPrintable(QString::number(e.id)));
        }
        QCOMPARE(f.d().contentBottom(), 935);
        // The pills follow each other 10 px apart, each its label's advance + 48 wide.
        QRect previous;
        for (int id : {220, 221, 222}) {
            const auto it = std::find_if(f.d().hitList().cbegin(), f.d().hitList().cend(),
                                         [id](const SettingsDialog::HitArea& h) { return h.id == id; });
            QVERIFY(it != f.d().hitList().cend());
            QCOMPARE(it->rect.top(), 878);
            QCOMPARE(it->rect.bottom(), 909);
            QCOMPARE(it->rect.left(), previous.isNull() ? 192 : previous.right() + 11);
            previous = it->rect;
        }
    }

    void aboutLinksAndUpdate()
    {
        Dialog f(makeDataDir(QStringLiteral("links")));
        f.d().setPage(2);
        QList<QUrl> opened;
        ktr::dialogs::Seams seams;
        seams.openUrl = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        ktr::dialogs::ScopedSeams scoped(seams);
        for (int id : {200, 219, 220, 221, 222}) {
            f.d().runAction(id);
        }
        QCOMPARE(opened.size(), 5);
        QCOMPARE(opened.at(1).path(), QStringLiteral("/social.html"));
        QCOMPARE(opened.at(4).query(), QStringLiteral("type=lgpl"));
        for (const QUrl& url : opened)
            QCOMPARE(url.host(), ktr::serviceHost().host());
        f.d().runAction(203);
        QCOMPARE(f.d().editedSettings().updateChannel, 1);
        f.d().runAction(204); // reclaim: returns memory to the system, nothing to see
    }

    // ---- renders ----------------------------------------------------------------------------------------

    void pagesRender_data() { ktr::test::addThemeAndLanguageRows(); }
    void pagesRender()
    {
        QFETCH(bool, dark);
        QFETCH(int, language);
        setLook(dark, language);
        const QString data = makeDataDir(QStringLiteral("render"));
        Dialog f(data);
        f.d().setPage(6);
        const QString folder = f.d().effectiveBackupDir();
        ktr::test::writeFile(folder + QLatin1Char('/') + snapshotName(1), QByteArray(2048, 'x'));
        ktr::test::writeFile(folder + QStringLiteral("/Kestrune-PreRestore-20260101-120002-000.zip"), "zip");
        f.d().backupSummaryText(true);
        f.d().relayout();
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        QImage backup = f.d().grab().toImage();
        ktr::test::saveShot(backup, QStringLiteral("backup-page-") + tag);
        // The path box of the folder row, T + 294 .. T + 325 from x 196, before its text starts.
        const QColor pathFill = dark ? QColor(0x22, 0x22, 0x22) : QColor(0xF3, 0xF4, 0xF6);
        QCOMPARE(backup.pixelColor(200, 78 + 310), pathFill);
        f.d().setPage(2);
        QImage about = f.d().grab().toImage();
        ktr::test::saveShot(about, QStringLiteral("about-page-") + tag);
        const QColor card = dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xFC, 0xFC, 0xFE);
        QCOMPARE(about.pixelColor(182, 200), card);
    }

    void previewRenders()
    {
        const QString folder = ktr::test::freshDir(QStringLiteral("preview"));
        previewBackupDialogs(folder);
        renderBackupNavIconCandidates(folder);
        for (const char* name :
             {"msg-info", "msg-question", "msg-warning", "progress-backup", "progress-backup-45", "backup-nav-icons"}) {
            const QImage img(folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
            QVERIFY2(!img.isNull(), name);
            ktr::test::saveShot(img, QStringLiteral("preview-") + QLatin1String(name));
        }
        const QImage icons(folder + QStringLiteral("/backup-nav-icons.png"));
        QCOMPARE(icons.size(), QSize(420, 150));
        // The 45 % bar: blue at 40 % of the track, grey at 60 % (card margin 14, content 24 in).
        const QImage at45(folder + QStringLiteral("/progress-backup-45.png"));
        const QImage at0(folder + QStringLiteral("/progress-backup.png"));
        QVERIFY(at45 != at0);

        const QString missing = folder + QStringLiteral("/missing");
        previewBackupDialogs(missing);
        renderBackupNavIconCandidates(missing);
        QVERIFY(!QDir(missing).exists());
    }
};

KTR_TEST_MAIN(TestBackupPage)
#include "tst_backuppage.moc"
