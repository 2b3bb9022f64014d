#include "backup/backupjobs.h"
#include "backup/backupscheduler.h"
#include "icons/iconloader.h"
#include "lock/lockcontroller.h"
#include "lock/lockdialog.h"
#include "lock/passwordhash.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/mainwindow.h"
#include "model/configstore.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "platform/autostart.h"
#include "recorder/screenmonitor.h"
#include "settings/settingsdialog.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/toast.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QStandardPaths>
#include <QThread>
#include <QtTest/QtTest>

#include <memory>

using namespace ktr::test;

namespace {

QJsonObject layoutObject(const QList<Group>& groups)
{
    // The layout file's own form, written by the store and read back.
    const QString path = ktr::test::freshDir(QStringLiteral("layoutform")) + QStringLiteral("/layout.json");
    ConfigStore store(QFileInfo(path).absolutePath());
    store.saveLayout(groups);
    return readObject(path);
}

QString desktopDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

} // namespace

class TestMainWindowBridge : public QObject
{
    Q_OBJECT

    QStringList m_questions;
    bool m_answer = true;
    QStringList m_chooserCalls;
    QString m_chosenFile;
    int m_dialogsMade = 0;
    SettingsBridge::DialogArgs m_args;
    std::unique_ptr<ktr::dialogs::ScopedSeams> m_seams;

    std::unique_ptr<MainWindow> makeWindow()
    {
        installSeams(m_seams, recordingSeams(&m_questions, &m_answer, nullptr, &m_chooserCalls, &m_chosenFile));
        auto w = std::make_unique<MainWindow>();
        // The stand-in records what the window hands over and builds the dialog from it.
        w->settingsBridge()->setDialogFactory([this](const SettingsBridge::DialogArgs& a) {
            ++m_dialogsMade;
            m_args = a;
            return new SettingsDialog(a.settings, a.dataDir, a.onClearIconCache, a.onSettingsChanged,
                                      a.onExportUserData, a.onImportUserData, a.onCheckUpdate, a.onExportLogs,
                                      a.onUninstall, a.groups, a.onIconsChanged, a.onLockBackgroundChosen,
                                      a.onProtectCommitted, nullptr);
        });
        return w;
    }

    std::unique_ptr<MainWindow> twoGroups()
    {
        writeLayout({Group{QStringLiteral("A"), {item(QStringLiteral("/opt/a.txt"))}},
                     Group{QStringLiteral("B"), {item(QStringLiteral("/opt/b.txt"))}}});
        return makeWindow();
    }

    static QJsonObject backup(const QList<Group>& groups, const QJsonObject& settings)
    {
        QJsonObject b;
        b.insert(QStringLiteral("app"), QStringLiteral("KestrunePanel"));
        b.insert(QStringLiteral("version"), QStringLiteral("1.0.0"));
        b.insert(QStringLiteral("layout"), layoutObject(groups));
        b.insert(QStringLiteral("settings"), settings);
        return b;
    }

    QString writeBackup(const QJsonObject& object)
    {
        const QString path = ktr::test::testRoot() + QStringLiteral("/backup.json");
        if (!ktr::test::writeFile(path, QJsonDocument(object).toJson()))
            return QString();
        return path;
    }

    static void finishDialog(MainWindow& w, bool accept)
    {
        SettingsDialog* dialog = w.settingsBridge()->dialog();
        QVERIFY(dialog);
        if (accept)
            dialog->accept();
        else
            dialog->reject();
        QVERIFY(!w.settingsBridge()->dialog());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private Q_SLOTS:
    void initTestCase() { useRedIconExtractor(); }

    void cleanupTestCase() { setIconExtractorForTesting({}); }

    void init()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        QFile::remove(appDataDir() + QStringLiteral("/auth.json"));
        QDir(desktopDir()).removeRecursively();
        QVERIFY(QDir().mkpath(desktopDir()));
        Lang::setLanguage(0);
        m_questions.clear();
        m_answer = true;
        m_chooserCalls.clear();
        m_chosenFile.clear();
        m_dialogsMade = 0;
        m_args = {};
    }

    void cleanup()
    {
        ScreenMonitor::instance()->stop();
        Lang::setLanguage(0);
    }

    // ---- desktop collection ----

    void desktopSyncSavesQueuesAndTells()
    {
        auto w = twoGroups();
        w->model().setCurrentGroup(1);
        const QString d = desktopDir();
        QVERIFY(ktr::test::writeFile(d + "/Report.PDF", "x"));
        QVERIFY(ktr::test::writeFile(d + "/backup.tar.gz", "x"));
        QVERIFY(ktr::test::writeFile(d + "/.hidden.txt", "x"));
        QVERIFY(QDir().mkpath(d + "/Photos"));
        QVERIFY(QFile::link(d + "/Report.PDF", d + "/link.pdf"));
        w->icons()->drain();

        Q_EMIT w->sidebar()->desktopSyncRequested();

        QCOMPARE(toastText(*w), Lang::tr("已收纳 %1 个桌面新图标").arg(3));
        const QStringList names{w->model().groups()[2].name, w->model().groups()[3].name, w->model().groups()[4].name};
        QCOMPARE(names, (QStringList{QStringLiteral("其他"), QStringLiteral("文档"), QStringLiteral("压缩包")}));
        QCOMPARE(w->model().groups()[2].items.first().path, d + "/Photos");
        QCOMPARE(w->model().groups()[3].items.first().name, QStringLiteral("Report"));
        QCOMPARE(w->model().groups()[4].items.first().name, QStringLiteral("backup.tar"));
        QCOMPARE(savedGroups(), w->model().groups());
        QCOMPARE(w->icons()->paths(), (QStringList{d + "/Photos", d + "/Report.PDF", d + "/backup.tar.gz"}));
        QCOMPARE(w->model().currentIndex(), 1);

        // Nothing new: nothing saved, the other notice.
        QFile::remove(layoutFile());
        Q_EMIT w->sidebar()->desktopSyncRequested();
        QCOMPARE(toastText(*w), Lang::tr("桌面没有需要收纳的新图标"));
        QVERIFY(!QFileInfo::exists(layoutFile()));
        QCOMPARE(w->model().groups().size(), 5);
    }

    // ---- export and import ----

    void exportAsksForTheFileAndWritesIt()
    {
        auto w = twoGroups();
        m_chosenFile = ktr::test::testRoot() + QStringLiteral("/export.json");
        QFile::remove(m_chosenFile);
        w->settingsBridge()->exportUserData();

        QCOMPARE(m_chooserCalls.size(), 1);
        const QString suggested =
            desktopDir() + Lang::tr("/青岚舟面板备份_%1.json").arg(QDate::currentDate().toString("yyyyMMdd"));
        QCOMPARE(
            m_chooserCalls.first(),
            QStringList({"save", Lang::tr("导出数据（备份）"), suggested, Lang::tr("备份文件 (*.json)")}).join('|'));
        const QJsonObject exported = readObject(m_chosenFile);
        QCOMPARE(exported.value("app").toString(), QStringLiteral("KestrunePanel"));
        QCOMPARE(exported.value("layout").toObject(), readObject(layoutFile()));
        QCOMPARE(toastText(*w), Lang::tr("已导出到 %1").arg(QDir::toNativeSeparators(m_chosenFile)));
    }

    void cancelledFileDialogsDoNothing()
    {
        auto w = twoGroups();
        const QByteArray layoutBefore = ktr::test::readFile(layoutFile());
        w->settingsBridge()->exportUserData();
        w->settingsBridge()->importUserData();
        QCOMPARE(m_chooserCalls.size(), 2);
        QVERIFY(m_chooserCalls[1].startsWith("open|" + Lang::tr("导入数据（恢复）") + '|' + desktopDir() + '|'));
        QVERIFY(m_questions.isEmpty());
        QCOMPARE(toastText(*w), QString());
        QCOMPARE(ktr::test::readFile(layoutFile()), layoutBefore);
    }

    void importReplacesTheModelAndSettings()
    {
        auto w = twoGroups();
        w->model().setCurrentGroup(1);
        const QList<Group> imported{Group{QStringLiteral("X"), {item(QStringLiteral("/opt/x.txt"))}},
                                    Group{QStringLiteral("Y"), {}}, Group{QStringLiteral("Z"), {}}};
        QJsonObject settings;
        settings.insert("customTitle", QStringLiteral("Imported"));
        settings.insert("cornerRadius", 20);
        m_chosenFile = writeBackup(backup(imported, settings));

        w->settingsBridge()->importUserData();

        QCOMPARE(m_questions, QStringList{Lang::tr("导入数据") + '|' +
                                          Lang::tr("导入将覆盖当前的分组图标、设置与已装应用清单；登录态不导入，"
                                                   "需重新登录。是否继续？")});
        QCOMPARE(w->model().groups(), imported);
        QCOMPARE(savedGroups(), imported);
        QCOMPARE(w->model().currentIndex(), 0);
        QCOMPARE(w->settings().customTitle, QStringLiteral("Imported"));
        QCOMPARE(w->settings().cornerRadius, 20);
        QCOMPARE(toastText(*w), Lang::tr("数据已导入并生效"));
    }

    void importNotConfirmedOrRefusedChangesNothing_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("toast");
        QTest::newRow("answered no") << false << QByteArray() << QString();
        QTest::newRow("not a backup") << true << QByteArray("{\"app\":\"kestrunepanel\",\"layout\":{}}")
                                      << QStringLiteral("导入失败：不是有效的备份文件");
    }
    void importNotConfirmedOrRefusedChangesNothing()
    {
        QFETCH(bool, answer);
        QFETCH(QByteArray, file);
        QFETCH(QString, toast);
        auto w = twoGroups();
        w->model().setCurrentGroup(1);
        const QList<Group> before = w->model().groups();
        m_answer = answer;
        m_chosenFile = file.isEmpty() ? writeBackup(backup({Group{QStringLiteral("X"), {}}}, {}))
                                      : ktr::test::testRoot() + QStringLiteral("/bad.json");
        if (!file.isEmpty())
            QVERIFY(ktr::test::writeFile(m_chosenFile, file));

        w->settingsBridge()->importUserData();

        QCOMPARE(w->model().groups(), before);
        QCOMPARE(savedGroups(), before);
        QCOMPARE(w->model().currentIndex(), 1);
        QCOMPARE(toastText(*w), toast.isEmpty() ? QString() : Lang::tr(toast));
    }

    void importAndRestoreSwitchTheLanguage_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::newRow("import") << false;
        QTest::newRow("snapshot restore") << true;
    }
    void importAndRestoreSwitchTheLanguage()
    {
        QFETCH(bool, restore);
        auto w = twoGroups();
        QCOMPARE(w->windowTitle(), QStringLiteral("青岚舟面板"));
        QJsonObject settings;
        settings.insert("language", 1);
        if (restore) {
            QVERIFY(ktr::test::writeFile(settingsFile(), QJsonDocument(settings).toJson()));
            w->openSettings();
            Q_EMIT w->backupJobs()->snapshotRestored();
        } else {
            m_chosenFile = writeBackup(backup(w->model().groups(), settings));
            w->settingsBridge()->importUserData();
        }
        QCOMPARE(Lang::language(), 1);
        // The change handler ran: the title is the translated one.
        QCOMPARE(w->windowTitle(), QStringLiteral("Kestrune Panel"));
    }

    void snapshotRestoreReloadsTheModel_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("expected");
        QTest::newRow("current group still there") << 1 << 1;
        QTest::newRow("current group gone") << 2 << 0;
    }
    void snapshotRestoreReloadsTheModel()
    {
        QFETCH(int, current);
        QFETCH(int, expected);
        writeLayout({Group{"A", {}}, Group{"B", {}}, Group{"C", {}}});
        auto w = makeWindow();
        w->model().setCurrentGroup(current);
        const QList<Group> restored{Group{QStringLiteral("R1"), {item(QStringLiteral("/opt/r.txt"))}},
                                    Group{QStringLiteral("R2"), {}}};
        writeLayout(restored);
        QJsonObject settings;
        settings.insert("cornerRadius", 4);
        QVERIFY(ktr::test::writeFile(settingsFile(), QJsonDocument(settings).toJson()));
        w->icons()->drain();

        w->settingsBridge()->reloadUserData();

        QCOMPARE(w->model().groups(), restored);
        QCOMPARE(w->model().currentIndex(), expected);
        QCOMPARE(w->settings().cornerRadius, 4);
        QVERIFY(w->icons()->paths().contains(QStringLiteral("/opt/r.txt")));
    }

    void missingLayoutAfterRestoreGivesTheDefaultsUnsaved()
    {
        auto w = twoGroups();
        QFile::remove(layoutFile());
        w->settingsBridge()->reloadUserData();
        QVERIFY(!w->model().groups().isEmpty());
        QVERIFY(w->model().groups() !=
                (QList<Group>{Group{"A", {item("/opt/a.txt")}}, Group{"B", {item("/opt/b.txt")}}}));
        QVERIFY(!QFileInfo::exists(layoutFile()));
    }

    // An import or a snapshot restore started from the open dialog must survive its OK: the dialog's copy
    // still held the settings of before and used to write them back.
    void dialogOkKeepsImportedSettings_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::newRow("import") << false;
        QTest::newRow("snapshot restore") << true;
    }
    void dialogOkKeepsImportedSettings()
    {
        QFETCH(bool, restore);
        auto w = twoGroups();
        QCOMPARE(w->settings().cornerRadius, AppSettings().cornerRadius);
        w->openSettings();
        QVERIFY(m_args.onImportUserData);
        QJsonObject settings;
        settings.insert("cornerRadius", 21);
        settings.insert("customTitle", QStringLiteral("New"));
        if (restore) {
            QVERIFY(ktr::test::writeFile(settingsFile(), QJsonDocument(settings).toJson()));
            Q_EMIT w->backupJobs()->snapshotRestored();
        } else {
            m_chosenFile = writeBackup(backup(w->model().groups(), settings));
            m_args.onImportUserData();
        }
        QCOMPARE(w->settingsBridge()->dialog()->editedSettings().cornerRadius, 21);

        finishDialog(*w, true);

        QCOMPARE(w->settings().cornerRadius, 21);
        QCOMPARE(w->settings().customTitle, QStringLiteral("New"));
        QCOMPARE(readObject(settingsFile()).value("cornerRadius").toInt(), 21);
    }

    // ---- the settings dialog ----

    void openingTwiceKeepsOneDialog()
    {
        auto w = twoGroups();
        w->onUiButton(UiBtn::Settings);
        w->onGearMenuAction(GearMenuPopup::OpenSettings);
        QCOMPARE(m_dialogsMade, 1);
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(dialog->parentWidget(), static_cast<QWidget*>(w.get()));
        QCOMPARE(m_args.settings, &w->settings());
        QCOMPARE(m_args.groups, &w->model().groups());
        QCOMPARE(m_args.dataDir, QFileInfo(layoutFile()).absolutePath());
        QCOMPARE(dialog->editedSettings(), w->settings());

        finishDialog(*w, false);
        w->openSettings();
        QCOMPARE(m_dialogsMade, 2);
    }

    void lockedPanelShowsTheLockInstead()
    {
        auto w = twoGroups();
        w->settings().uiLocked = true;
        w->openSettings();
        QCOMPARE(m_dialogsMade, 0);
        QVERIFY(w->lockController()->overlay() && !w->lockController()->overlay()->isHidden());
        QCOMPARE(w->lockController()->overlay()->mode(), UiLockOverlay::Mode::Unlock);
    }

    void engagingTheLockClosesTheDialog()
    {
        auto w = twoGroups();
        w->settings().protectPasswordHash = QStringLiteral("hash");
        w->openSettings();
        QVERIFY(w->settingsBridge()->dialog());
        w->onUiButton(UiBtn::Lock);
        QVERIFY(!w->settingsBridge()->dialog());
        QVERIFY(w->settings().uiLocked);
    }

    // A backup running when the lock closes the dialog is stopped, and the panel says so.
    void backupCutShortByTheLockIsToldOnThePanel()
    {
        auto w = twoGroups();
        w->settings().protectPasswordHash = QStringLiteral("hash");
        BackupJobs::Executor previous = BackupJobs::setExecutor([](const BackupJobs::Job& job) {
            while (!job.cancel->load())
                QThread::msleep(2);
            BackupJobs::Result r;
            r.cancelled = true;
            return r;
        });
        w->openSettings();
        QVERIFY(w->settingsBridge()->dialog());
        w->settingsBridge()->dialog()->runBackupOp(1, QString(), QString());
        w->onUiButton(UiBtn::Lock);
        QVERIFY(!w->settingsBridge()->dialog());
        QTRY_COMPARE(toastText(*w), QStringLiteral("设置窗口已关闭，「立即备份」已取消。"));
        BackupJobs::setExecutor(std::move(previous));
    }

    // The automatic backup into a folder that is a regular file: the panel tells the first failure, in the
    // user's language, and not the next ones of the same streak.
    void failingAutomaticBackupIsTold()
    {
        auto w = twoGroups();
        Lang::setLanguage(1);
        const QString blocker = ktr::test::testRoot() + QStringLiteral("/backup-blocker");
        QVERIFY(ktr::test::writeFile(blocker, "x"));
        w->settings().backupDir = blocker;
        w->settings().backupLastAt.clear();
        QSignalSpy done(w->backupScheduler(), &BackupScheduler::runFinished);
        w->backupScheduler()->runIfDue();
        QVERIFY(done.wait(20000));
        QCOMPARE(toastText(*w), QStringLiteral("Automatic backup failed: the backup folder \"%1\" is not a folder. "
                                               "Change it in Settings → Backup & Restore.")
                                    .arg(blocker));
        QVERIFY(w->settings().backupLastAt.isEmpty());
        w->showToast(QStringLiteral("sentinel"), Toast::Info);
        w->backupScheduler()->runIfDue();
        QVERIFY(done.wait(20000));
        QCOMPARE(toastText(*w), QStringLiteral("sentinel"));
        QFile::remove(blocker);
    }

    void acceptSavesAndCancelUndoesThePreview()
    {
        auto w = twoGroups();
        w->openSettings();
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        dialog->editSettings([](AppSettings& s) {
            s.cornerRadius = 3;
            s.summonHotkey = QStringLiteral("  Ctrl+Alt+K ");
        });
        // The preview leaves the record alone.
        QCOMPARE(w->settings().cornerRadius, AppSettings().cornerRadius);
        finishDialog(*w, true);
        QCOMPARE(w->settings().cornerRadius, 3);
        QCOMPARE(w->settings().summonHotkey, QStringLiteral("Ctrl+Alt+K"));
        QCOMPARE(readObject(settingsFile()).value("cornerRadius").toInt(), 3);

        w->openSettings();
        w->settingsBridge()->dialog()->editSettings([](AppSettings& s) {
            s.cornerRadius = 9;
            s.monitorDir = QStringLiteral("/rec");
            s.monitorTrigger = 2;
        });
        finishDialog(*w, false);
        QCOMPARE(w->settings().cornerRadius, 3);
        // The recorder's folder and trigger survive a cancel.
        QCOMPARE(w->settings().monitorDir, QStringLiteral("/rec"));
        QCOMPARE(w->settings().monitorTrigger, 2);
    }

    // From the build tree autostart is only written when the user switches the setting in the dialog.
    void switchingAutostartWritesTheEntry()
    {
        const QString entry = ktr::platform::autostartFilePath();
        QFile::remove(entry);
        auto w = twoGroups();
        QVERIFY(w->settings().autoStart);
        QVERIFY(!QFile::exists(entry));
        w->openSettings();
        finishDialog(*w, true); // nothing switched
        QVERIFY(!QFile::exists(entry));
        w->openSettings();
        w->settingsBridge()->dialog()->editSettings([](AppSettings& s) { s.autoStart = false; });
        finishDialog(*w, true);
        QVERIFY(!QFile::exists(entry));
        w->openSettings();
        w->settingsBridge()->dialog()->editSettings([](AppSettings& s) { s.autoStart = true; });
        finishDialog(*w, true);
        QVERIFY(ktr::test::readFile(entry).contains(QCoreApplication::applicationFilePath().toUtf8()));
        QFile::remove(entry);
    }

    void switchingAutoClassifyOnCollectsOnce()
    {
        auto w = twoGroups();
        QVERIFY(ktr::test::writeFile(desktopDir() + "/one.txt", "x"));
        w->openSettings();
        w->settingsBridge()->dialog()->editSettings([](AppSettings& s) { s.autoClassify = true; });
        finishDialog(*w, true);
        QCOMPARE(toastText(*w), Lang::tr("已收纳 %1 个桌面新图标").arg(1));

        // Accepting again with the option already on does not collect.
        QVERIFY(ktr::test::writeFile(desktopDir() + "/two.txt", "x"));
        w->openSettings();
        finishDialog(*w, true);
        const int groups = int(w->model().groups().size());
        QCOMPARE(w->model().groups()[groups - 1].items.size(), 1);
    }

    void callbacksReachTheWindow()
    {
        auto w = twoGroups();
        w->openSettings();

        // Clearing the icon cache queues every item again.
        w->icons()->drain();
        m_args.onClearIconCache();
        QCOMPARE(w->icons()->paths(), (QStringList{"/opt/a.txt", "/opt/b.txt"}));

        // Icon changes are saved.
        QFile::remove(layoutFile());
        m_args.onIconsChanged();
        QCOMPARE(savedGroups(), w->model().groups());

        // The lock background is stored and saved.
        m_args.onLockBackgroundChosen(QStringLiteral("/pics/lock.png"));
        QCOMPARE(w->settings().lockBgPath, QStringLiteral("/pics/lock.png"));
        QCOMPARE(readObject(settingsFile()).value("lockBgPath").toString(), QStringLiteral("/pics/lock.png"));

        // Export and import go through the file dialogs.
        m_args.onExportUserData();
        m_args.onImportUserData();
        QCOMPARE(m_chooserCalls.size(), 2);
    }

    void protectCommit_data()
    {
        QTest::addColumn<QString>("hash");
        QTest::addColumn<bool>("stillLocked");
        QTest::newRow("new password keeps the lock") << "h2" << true;
        QTest::newRow("removed password unlocks") << "" << false;
    }
    void protectCommit()
    {
        QFETCH(QString, hash);
        QFETCH(bool, stillLocked);
        auto w = twoGroups();
        w->openSettings();
        w->settings().uiLocked = true;
        const QMap<QString, QString> map{{"/opt/a.txt", "/opt/real.txt"}};
        m_args.onProtectCommitted(hash, map);
        QCOMPARE(w->settings().protectPasswordHash, hash);
        QCOMPARE(w->settings().obfuscateMap, map);
        QCOMPARE(w->settings().uiLocked, stillLocked);
        QCOMPARE(readObject(settingsFile()).value("uiLocked").toBool(), stillLocked);
    }

    void updateChannelOfTheCheck_data()
    {
        QTest::addColumn<bool>("dialogOpen");
        QTest::addColumn<int>("edited");
        QTest::addColumn<int>("saved");
        QTest::addColumn<bool>("beta");
        QTest::newRow("edited stable") << true << 0 << 1 << false;
        QTest::newRow("edited beta") << true << 1 << 0 << true;
        QTest::newRow("edited unset, saved beta") << true << -1 << 1 << true;
        QTest::newRow("edited unset, saved stable") << true << -1 << 0 << false;
        QTest::newRow("no dialog, saved beta") << false << 0 << 1 << true;
        QTest::newRow("no dialog, saved other") << false << 1 << 2 << false;
    }
    void updateChannelOfTheCheck()
    {
        QFETCH(bool, dialogOpen);
        QFETCH(int, edited);
        QFETCH(int, saved);
        QFETCH(bool, beta);
        QCOMPARE(SettingsBridge::updateCheckIsBeta(dialogOpen, edited, saved), beta);
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("expected");
        const QRect screen(0, 0, 1920, 1040);
        // Gaps of 8 pixels from the window's last column or row (QRect::right / bottom).
        QTest::newRow("room on the right")
            << screen << QRect(100, 100, 680, 496) << QSize(600, 500) << QPoint(100 + 679 + 8, 100);
        QTest::newRow("at the right edge")
            << screen << QRect(1240, 100, 680, 496) << QSize(600, 500) << QPoint(1240 - 600 - 8, 100);
        // Left and right both cover the window fully: below wins when it covers less.
        QTest::newRow("full width, room below")
            << screen << QRect(0, 0, 1920, 400) << QSize(600, 500) << QPoint(0, 399 + 8);
        // No side has room: centred on the screen, not pushed into a corner.
        QTest::newRow("full screen") << screen << QRect(0, 0, 1920, 1040) << QSize(600, 500) << QPoint(660, 270);
        const QRect small(0, 0, 1280, 1024);
        QTest::newRow("panel at its default place, small screen")
            << small << QRect(300, 264, 680, 496) << QSize(780, 800) << QPoint(250, 112);
        QTest::newRow("panel at the right edge, small screen")
            << small << QRect(600, 0, 680, 1024) << QSize(780, 800) << QPoint(250, 112);
        QTest::newRow("panel at the right edge, room on the left")
            << screen << QRect(1240, 100, 680, 496) << QSize(780, 800) << QPoint(1240 - 780 - 8, 100);
        const QRect second(1280, 0, 1920, 1040);
        QTest::newRow("second screen, room on the right")
            << second << QRect(1300, 100, 680, 496) << QSize(780, 800) << QPoint(1300 + 679 + 8, 100);
        QTest::newRow("second screen, no room")
            << second << QRect(1600, 100, 1000, 900) << QSize(780, 800) << QPoint(1280 + 570, 120);
        QTest::newRow("window partly off screen")
            << screen << QRect(-300, 200, 680, 496) << QSize(600, 500) << QPoint(379 + 8, 200);
        QTest::newRow("dialog larger than the screen")
            << QRect(0, 0, 800, 600) << QRect(0, 0, 400, 300) << QSize(1000, 700) << QPoint(0, 0);
    }
    void placement()
    {
        QFETCH(QRect, available);
        QFETCH(QRect, frame);
        QFETCH(QSize, size);
        QFETCH(QPoint, expected);
        const QPoint placed = SettingsBridge::dialogPosition(available, frame, size);
        QCOMPARE(placed, expected);
        if (size.width() <= available.width() && size.height() <= available.height())
            QVERIFY(available.contains(QRect(placed, size)));
    }

    void dialogIsPlacedBesideTheWindow()
    {
        auto w = twoGroups();
        w->move(20, 20);
        w->openSettings();
        const QRect screen = w->screen()->availableGeometry();
        const QPoint expected =
            SettingsBridge::dialogPosition(screen, w->frameGeometry(), w->settingsBridge()->dialog()->size());
        QCOMPARE(w->settingsBridge()->dialog()->pos(), expected);
    }

    // ---- recorder button and gear menu ----

    // Without a recording folder the button leads to the protection page, which is guarded there as on
    // every other way to it: the verify card (or, with no password yet, the card that sets one) comes first.
    void recorderWithoutFolderAsksBeforeTheProtectPage_data()
    {
        QTest::addColumn<bool>("hasPassword");
        QTest::addColumn<QString>("typed"); // empty: the card is cancelled
        QTest::addColumn<int>("card");
        QTest::addColumn<bool>("opens");
        QTest::newRow("password, cancelled") << true << QString() << int(LockDialog::Verify) << false;
        QTest::newRow("password, wrong one") << true << QStringLiteral("nope") << int(LockDialog::Verify) << false;
        QTest::newRow("password, right one") << true << QStringLiteral("s3cret") << int(LockDialog::Verify) << true;
        QTest::newRow("none yet, cancelled") << false << QString() << int(LockDialog::Set) << false;
        QTest::newRow("none yet, set one") << false << QStringLiteral("s3cret") << int(LockDialog::Set) << true;
    }
    void recorderWithoutFolderAsksBeforeTheProtectPage()
    {
        QFETCH(bool, hasPassword);
        QFETCH(QString, typed);
        QFETCH(int, card);
        QFETCH(bool, opens);
        auto w = twoGroups();
        if (hasPassword)
            w->settings().protectPasswordHash = makePasswordHash(QStringLiteral("s3cret"), 1);
        QList<int> modes;
        ScopedCardRunner runner([&](QDialog& c) {
            auto* lock = qobject_cast<LockDialog*>(&c);
            if (!lock)
                return 0;
            modes.append(lock->mode());
            if (typed.isEmpty())
                return 0;
            lock->findChild<QLineEdit*>(QStringLiteral("lockPassword"))->setText(typed);
            if (auto* second = lock->findChild<QLineEdit*>(QStringLiteral("lockSecond")))
                second->setText(typed);
            lock->tryAccept(false);
            if (!QTest::qWaitFor([lock] { return lock->isClosing() || !lock->errorText().isEmpty(); }, 5000))
                return 0;
            return lock->isClosing() ? 1 : 0;
        });
        w->onUiButton(UiBtn::Monitor);
        QCOMPARE(toastText(*w), Lang::tr("请先在 设置→屏幕监控 完成配置"));
        QVERIFY(!ScreenMonitor::instance()->isRunning());
        QCOMPARE(modes, QList<int>{card});
        QVERIFY(w->settingsBridge()->dialog());
        QCOMPARE(w->settingsBridge()->dialog()->currentPage() == SettingsDialog::kProtectPage, opens);
        QCOMPARE(w->settings().protectPasswordHash.isEmpty(), !hasPassword && !opens);
    }

    void recorderStartsAndStops()
    {
        auto w = twoGroups();
        w->settings().monitorDir = ktr::test::freshDir(QStringLiteral("recordings"));
        w->onUiButton(UiBtn::Monitor);
        QVERIFY(ScreenMonitor::instance()->isRunning());
        QVERIFY(w->bottomBar()->buttonState(UiBtn::Monitor));
        QVERIFY(w->titleBar()->buttonState(UiBtn::Monitor));
        QCOMPARE(toastText(*w), Lang::tr("屏幕监控已启动"));

        // A pause is told, but the recorder still runs (it goes on by itself): the button stays on, and its
        // next press stops the recorder.
        Q_EMIT ScreenMonitor::instance()->diskFull();
        QTRY_COMPARE(toastText(*w), Lang::tr("磁盘剩余空间不足，录屏已暂停（腾出空间后会自动继续）"));
        Q_EMIT ScreenMonitor::instance()->paused(int(RecorderCore::PauseCause::FolderMissing), QStringLiteral("/rec"));
        QTRY_COMPARE(toastText(*w), Lang::tr("录屏文件夹不见了，录屏已暂停（文件夹恢复后会自动继续）：%1").arg("/rec"));
        QVERIFY(w->bottomBar()->buttonState(UiBtn::Monitor));
        QVERIFY(w->titleBar()->buttonState(UiBtn::Monitor));

        w->onUiButton(UiBtn::Monitor);
        QVERIFY(!ScreenMonitor::instance()->isRunning());
        QCOMPARE(toastText(*w), Lang::tr("屏幕监控已停止"));
        QVERIFY(!w->bottomBar()->buttonState(UiBtn::Monitor));
        QVERIFY(!w->titleBar()->buttonState(UiBtn::Monitor));

        // Stopped from elsewhere (the quit, update and reset paths): the button follows.
        w->onUiButton(UiBtn::Monitor);
        QVERIFY(w->bottomBar()->buttonState(UiBtn::Monitor));
        ScreenMonitor::instance()->stop();
        QVERIFY(!w->bottomBar()->buttonState(UiBtn::Monitor));
        QVERIFY(!w->titleBar()->buttonState(UiBtn::Monitor));
    }

    void gearMenuShowsNoNameWithoutToken()
    {
        QVERIFY(ktr::test::writeFile(appDataDir() + "/auth.json", R"({"username":"alice","remember":true})"));
        auto w = twoGroups();
        w->resize(680, 496);
        w->titleBar()->showGearMenu();
        GearMenuPopup* menu = w->titleBar()->gearMenu();
        QVERIFY(menu);
        menu->setAccountText(QStringLiteral("stale"));
        Q_EMIT w->titleBar()->gearMenuAboutToShow();
        QCOMPARE(menu->accountText(), QString());
    }

    // The settings dialog previews its edited copy on the running window before anything is saved: the
    // sidebar and the grid must be placed for the arrangement the preview shows, and back when it is cancelled.
    void previewedGroupArrangementIsLaidOut_data()
    {
        QTest::addColumn<bool>("horizontal");
        QTest::newRow("groups across the top") << true;
        QTest::newRow("groups down the side") << false;
    }

    void previewedGroupArrangementIsLaidOut()
    {
        QFETCH(bool, horizontal);
        auto w = std::make_unique<MainWindow>();
        w->settings().horizontalGroups = !horizontal;
        w->applySettings();
        const QRect sidebarBefore = w->sidebar()->geometry();
        const QRect gridBefore = w->iconGrid()->geometry();

        w->openSettings();
        SettingsDialog* dialog = w->settingsBridge()->dialog();
        QVERIFY(dialog);
        dialog->editSettings([horizontal](AppSettings& s) { s.horizontalGroups = horizontal; });
        QCOMPARE(w->sidebar()->isHorizontal(), horizontal);
        const int width = w->width();
        const int height = w->height();
        if (horizontal) {
            QCOMPARE(w->sidebar()->geometry(), QRect(0, 28, width, 40));
            QCOMPARE(w->iconGrid()->geometry(), QRect(0, 68, width, height - 96));
        } else {
            QCOMPARE(w->sidebar()->geometry(), QRect(0, 28, 172, height - 56));
            QCOMPARE(w->iconGrid()->geometry(), QRect(172, 28, width - 172, height - 56));
        }

        dialog->reject();
        QCOMPARE(w->sidebar()->isHorizontal(), !horizontal);
        QCOMPARE(w->sidebar()->geometry(), sidebarBefore);
        QCOMPARE(w->iconGrid()->geometry(), gridBefore);
    }
};

KTR_TEST_MAIN(TestMainWindowBridge)
#include "tst_mainwindow_bridge.moc"
