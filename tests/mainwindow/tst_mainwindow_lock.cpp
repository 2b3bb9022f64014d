#include "backup/backupjobs.h"
#include "icons/iconloader.h"
#include "lock/lockcontroller.h"
#include "lock/lockdialog.h"
#include "lock/passwordhash.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "mainwindow/floatingicons.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/itemmenucontroller.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/searchpanel.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowsearch.h"
#include "mainwindow/windowstatecontroller.h"
#include "panel/bottombar.h"
#include "panel/floaticon.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "platform/launcher.h"
#include "settings/settingsdialog.h"
#include "testenv.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QJsonArray>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QtTest/QtTest>

#include <functional>
#include <memory>

using namespace ktr::test;

namespace {

const QString kPassword = QStringLiteral("abcd");

// The icons of this test are plain red squares: any red on the window means an item shows.
int redPixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); y += 2) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb c = line[x];
            n += qRed(c) > 220 && qGreen(c) < 30 && qBlue(c) < 30 ? 1 : 0;
        }
    }
    return n;
}

QImage shot(QWidget* w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

void dropUrls(QWidget* target, const QList<QUrl>& urls, QPointF pos = QPointF())
{
    QMimeData mime;
    mime.setUrls(urls);
    if (pos.isNull())
        pos = QPointF(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(pos.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

} // namespace

class TestMainWindowLock : public QObject
{
    Q_OBJECT

    QString m_files;
    RecordingLauncher m_launcher;
    QStringList m_questions;
    bool m_answer = true;
    QString m_chosenFile;
    QStringList m_chooserCalls;
    std::unique_ptr<ktr::dialogs::ScopedSeams> m_seams;

    std::unique_ptr<MainWindow> shownPanel()
    {
        writeLayout({Group{QStringLiteral("A"), {item(m_files + "/a.txt"), item(m_files + "/b.txt")}},
                     Group{QStringLiteral("B"), {item(m_files + "/c.txt")}}});
        installSeams(m_seams, recordingSeams(&m_questions, &m_answer, nullptr, &m_chooserCalls, &m_chosenFile));
        auto w = std::make_unique<MainWindow>();
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return nullptr;
        return w;
    }

    // The real settings dialog, with the arguments the panel gave it kept for the test to call.
    static void keepDialogArgs(MainWindow& w, SettingsBridge::DialogArgs& args)
    {
        w.settingsBridge()->setDialogFactory([&args](const SettingsBridge::DialogArgs& a) {
            args = a;
            return new SettingsDialog(a.settings, a.dataDir, a.onClearIconCache, a.onSettingsChanged,
                                      a.onExportUserData, a.onImportUserData, a.onCheckUpdate, a.onExportLogs,
                                      a.onUninstall, a.groups, a.onIconsChanged, a.onLockBackgroundChosen,
                                      a.onProtectCommitted, nullptr);
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_files = freshDir(QStringLiteral("files"));
        for (const char* name : {"a.txt", "b.txt", "c.txt", "new.txt"})
            QVERIFY(writeFile(m_files + QLatin1Char('/') + QString::fromLatin1(name), "x"));
        ktr::platform::setLauncher(&m_launcher);
        useRedIconExtractor();
    }

    void cleanupTestCase()
    {
        ktr::platform::setLauncher(nullptr);
        setIconExtractorForTesting({});
    }

    void init()
    {
        QFile::remove(layoutFile());
        QFile::remove(settingsFile());
        m_launcher.calls.clear();
        m_questions.clear();
        Lang::setLanguage(0);
    }

    // While locked, no way in reaches or reveals the items: keys, shortcuts, the summon hotkey, drops, the
    // agent's "show", the search panel, floating icons and the tray menu. Each row is tried unlocked first,
    // where it must have an effect, so a row that could never do anything proves nothing.
    void lockedPanelKeepsItsItems_data()
    {
        QTest::addColumn<QString>("attempt");
        for (const char* a : {"Ctrl+F", "Tab, Return", "Return on the grid", "summon hotkey", "drop on the grid",
                              "drop on the sidebar", "agent show", "search result", "floating icon", "tray menu"})
            QTest::newRow(a) << QString::fromLatin1(a);
    }
    void lockedPanelKeepsItsItems()
    {
        QFETCH(QString, attempt);
        const QUrl dropped = QUrl::fromLocalFile(m_files + "/new.txt");
        auto run = [&](MainWindow& w) {
            if (attempt == "Ctrl+F") {
                QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
            } else if (attempt == "Tab, Return") {
                QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
                QTest::keyClick(focus, Qt::Key_Tab);
                focus = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
                QTest::keyClick(focus, Qt::Key_Right);
                QTest::keyClick(focus, Qt::Key_Return);
            } else if (attempt == "Return on the grid") {
                QTest::keyClick(w.iconGrid(), Qt::Key_Right);
                QTest::keyClick(w.iconGrid(), Qt::Key_Return);
            } else if (attempt == "summon hotkey") {
                w.showMinimized();
                w.windowStateController()->summonWindow();
            } else if (attempt == "drop on the grid") {
                dropUrls(w.iconGrid(), {dropped});
            } else if (attempt == "drop on the sidebar") {
                dropUrls(w.sidebar(), {dropped}, QPointF(w.sidebar()->width() / 2.0, 20)); // on the first group
            } else if (attempt == "agent show") {
                w.hide();
                w.restoreWindow();
            } else if (attempt == "search result") {
                emit w.search()->ensurePanel()->launchRequested(0, 0);
            } else if (attempt == "floating icon") {
                QVERIFY(!w.itemMenu()->floats()->icons().isEmpty());
                emit w.itemMenu()->floats()->icons().first()->openRequested();
            } else if (attempt == "tray menu") {
                QTRY_VERIFY(w.tray()->menu()); // made after the first paint
                const QList<QAction*> actions = w.tray()->menu()->actions();
                // Every entry but the last (quit).
                for (int i = 0; i + 1 < actions.size(); ++i)
                    if (!actions.at(i)->isSeparator())
                        actions.at(i)->trigger();
            }
        };
        // What reached the items: launches, the search panel, added items, the settings dialog, icons on show.
        auto effect = [&](MainWindow& w, int itemsBefore, bool hiddenFirst) {
            QCoreApplication::processEvents();
            int n = int(m_launcher.calls.size());
            n += w.search()->panel() && w.search()->panel()->isVisible() ? 1 : 0;
            n += int(w.model().groups().at(w.model().currentIndex()).items.size()) - itemsBefore;
            n += w.settingsBridge()->dialog() ? 1 : 0;
            if (hiddenFirst)
                n += w.isVisible() && redPixels(shot(&w)) > 0 ? 1 : 0;
            return n;
        };
        const bool reveals = attempt == "summon hotkey" || attempt == "agent show";

        for (bool locked : {false, true}) {
            QFile::remove(settingsFile());
            auto w = shownPanel();
            QVERIFY(w);
            w->icons()->drain();
            QTRY_VERIFY(redPixels(shot(w.get())) > 0);
            w->itemMenu()->floatItem(0);
            m_launcher.calls.clear();
            if (locked) {
                w->settings().protectPasswordHash = makePasswordHash(kPassword, 1);
                w->onUiButton(UiBtn::Lock);
                QVERIFY(w->settings().uiLocked);
                QCOMPARE(redPixels(shot(w.get())), 0);
            }
            const int itemsBefore = int(w->model().groups().at(w->model().currentIndex()).items.size());
            run(*w);
            if (QTest::currentTestFailed())
                return;
            const int seen = effect(*w, itemsBefore, reveals);
            if (!locked) {
                QVERIFY2(seen > 0, "the attempt does nothing even unlocked");
                continue;
            }
            QCOMPARE(seen, 0);
            QVERIFY(w->lockController()->overlay() && w->lockController()->overlay()->isVisible());
            QCOMPARE(w->lockController()->overlay()->geometry(), w->rect());
            if (w->isVisible())
                QCOMPARE(redPixels(shot(w.get())), 0);
            QCOMPARE(w->model().groups().at(0).items.size(), 2);
        }
    }

    // A panel started on a locked settings.json paints the lock screen in its very first frame.
    void startedLockedNeverShowsItsIcons()
    {
        writeLayout({Group{QStringLiteral("A"), {item(m_files + "/a.txt")}}});
        QJsonObject settings{
            {"uiLocked", true}, {"protectPasswordHash", makePasswordHash(kPassword, 1)}, {"obfuscateEnabled", true}};
        QVERIFY(writeFile(settingsFile(), QJsonDocument(settings).toJson()));
        installSeams(m_seams, recordingSeams(&m_questions, &m_answer));
        MainWindow w;
        QVERIFY(w.lockController()->overlay());
        bool firstPaintCovered = false;
        bool painted = false;
        struct PaintWatch : QObject
        {
            std::function<void()> onPaint;
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Paint && onPaint)
                    onPaint();
                return false;
            }
        } watch;
        watch.onPaint = [&] {
            if (!painted)
                firstPaintCovered = w.lockController()->overlay() && w.lockController()->overlay()->isVisible() &&
                                    w.lockController()->overlay()->geometry() == w.rect();
            painted = true;
        };
        w.installEventFilter(&watch);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(painted);
        QVERIFY(firstPaintCovered);
        w.icons()->drain();
        QCoreApplication::processEvents();
        QCOMPARE(redPixels(shot(&w)), 0);
        QVERIFY(w.titleBar()->buttonState(UiBtn::Lock) && w.bottomBar()->buttonState(UiBtn::Lock));
        QVERIFY(w.bottomBar()->buttonState(UiBtn::Obfuscate));
        QCOMPARE(w.borderFrame()->dividerY(), -100);
    }

    // The lock screen: a wrong password keeps the lock, the right one saves the unlocked state, sets the
    // buttons back and, once the animation ends, takes the lock screen away.
    void unlockOnTheLockScreen()
    {
        auto w = shownPanel();
        QVERIFY(w);
        w->settings().protectPasswordHash = makePasswordHash(kPassword, 1);
        w->onUiButton(UiBtn::Lock);
        QVERIFY(readObject(settingsFile()).value("uiLocked").toBool());
        QVERIFY(w->bottomBar()->buttonState(UiBtn::Lock));
        UiLockOverlay* overlay = w->lockController()->overlay();
        QCOMPARE(w->borderFrame()->dividerY(), -100);

        // Any bottom-bar button but minimise and close asks to unlock.
        w->onUiButton(UiBtn::ThemeSwitch);
        QVERIFY(!w->settings().darkTheme);
        QVERIFY(overlay->isInputMode());

        overlay->passwordEdit()->setText(QStringLiteral("wrong"));
        overlay->submitPassword();
        QTRY_COMPARE(overlay->errorText(), QStringLiteral("密码错误，请重试"));
        QVERIFY(w->settings().uiLocked);

        overlay->passwordEdit()->setText(kPassword);
        overlay->submitPassword();
        QTRY_VERIFY(!w->settings().uiLocked);
        QVERIFY(!readObject(settingsFile()).value("uiLocked").toBool());
        QVERIFY(!w->bottomBar()->buttonState(UiBtn::Lock) && !w->titleBar()->buttonState(UiBtn::Lock));
        for (int i = 0; i < 200 && w->lockController()->overlay(); ++i)
            overlay->animationTick();
        QVERIFY(!w->lockController()->overlay());
        QCOMPARE(w->borderFrame()->dividerY(), 28);
        QTRY_VERIFY(redPixels(shot(w.get())) > 0);
    }

    // The account unlock through the window: saved, buttons inactive, lock screen and settings dialog gone.
    void accountUnlockReachesTheWindow()
    {
        auto w = shownPanel();
        QVERIFY(w);
        w->settings().protectPasswordHash = makePasswordHash(kPassword, 1);
        w->settings().obfuscateEnabled = true;
        w->lockController()->applyLockSyncReply(true, R"({"ok": 1, "epoch": 2})"); // the epoch of now
        QVERIFY(w->settings().protectPasswordHash.isEmpty()); // a password set before: lifted at once
        w->settings().protectPasswordHash = makePasswordHash(kPassword, 1);
        w->settings().obfuscateEnabled = true;
        w->onUiButton(UiBtn::Lock);
        QCOMPARE(w->settings().progUnlockEpoch, 2);
        w->lockController()->applyLockSyncReply(true, R"({"ok": 1, "epoch": 2})"); // the same epoch: no effect
        QVERIFY(w->lockController()->overlay());
        w->lockController()->applyLockSyncReply(true, R"({"ok": 1, "epoch": 3})");
        QVERIFY(!w->lockController()->overlay());
        const QJsonObject saved = readObject(settingsFile());
        QCOMPARE(saved.value("progUnlockEpoch").toInt(), 3);
        QVERIFY(saved.value("protectPasswordHash").toString().isEmpty());
        QVERIFY(!saved.value("uiLocked").toBool());
        QVERIFY(!saved.value("obfuscateEnabled").toBool());
        QVERIFY(!w->bottomBar()->buttonState(UiBtn::Lock) && !w->bottomBar()->buttonState(UiBtn::Obfuscate));
        QCOMPARE(toastText(*w), QStringLiteral("已通过账户解除程序锁定"));
        QCOMPARE(w->borderFrame()->dividerY(), 28);
    }

    // The window gives the lock screen its video decoder: a video chosen as the lock background plays.
    void lockScreenPlaysAVideo()
    {
        auto w = shownPanel();
        QVERIFY(w);
        w->settings().lockBgPath = QFINDTESTDATA("../data/video/bars-320x240.mp4");
        QVERIFY(!w->settings().lockBgPath.isEmpty());
        w->settings().protectPasswordHash = makePasswordHash(kPassword, 1);
        w->onUiButton(UiBtn::Lock);
        QVERIFY(w->lockController()->overlay());
        // The colour bars' green: neither the glow background nor the logo has it.
        auto green = [&] {
            const QImage image = shot(w->lockController()->overlay());
            for (int y = 0; y < image.height(); y += 4)
                for (int x = 0; x < image.width(); x += 4) {
                    const QRgb c = image.pixel(x, y);
                    if (qGreen(c) > 150 && qRed(c) < 90 && qBlue(c) < 90)
                        return true;
                }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(green(), 5000);
    }

    // An import, and a snapshot restore alike, keep the local protection fields unless the current protection
    // password is given; the file written holds what was kept, also when the backup carries only the older name
    // of the hash. The backup page is not behind the password: a snapshot from before the password was set must
    // not lift it.
    void importKeepsTheLocalProtection_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<bool>("unprotectedFile"); // the file holds no password (taken from before one was set)
        QTest::addColumn<QString>("typed");        // empty: the password card is cancelled
        QTest::addColumn<bool>("legacyKey");
        QTest::addColumn<bool>("taken");
        QTest::newRow("no password") << false << false << QString() << false << false;
        QTest::newRow("no password, older key in the backup") << false << false << QString() << true << false;
        QTest::newRow("wrong password") << false << false << QStringLiteral("abce") << false << false;
        QTest::newRow("current password") << false << false << kPassword << false << true;
        QTest::newRow("restore, no password") << true << false << QString() << false << false;
        QTest::newRow("restore, older key in the snapshot") << true << false << QString() << true << false;
        QTest::newRow("restore, wrong password") << true << false << QStringLiteral("abce") << false << false;
        QTest::newRow("restore, current password") << true << false << kPassword << false << true;
        QTest::newRow("restore from before the password, cancelled") << true << true << QString() << false << false;
        QTest::newRow("restore from before the password, given") << true << true << kPassword << false << true;
    }
    void importKeepsTheLocalProtection()
    {
        QFETCH(bool, restore);
        QFETCH(bool, unprotectedFile);
        QFETCH(QString, typed);
        QFETCH(bool, legacyKey);
        QFETCH(bool, taken);
        SettingsBridge::DialogArgs args;
        std::unique_ptr<MainWindow> w = shownPanel();
        QVERIFY(w);
        keepDialogArgs(*w, args);
        const QString localHash = makePasswordHash(kPassword, 1);
        const QMap<QString, QString> localRules{{m_files + "/b.txt", m_files + "/new.txt"}};
        w->settings().protectPasswordHash = localHash;
        w->settings().obfuscateEnabled = true;
        w->settings().obfuscateMap = localRules;
        w->saveSettings();

        const QString foreignHash = unprotectedFile ? QString() : makePasswordHash(QStringLiteral("zzzz"), 1);
        QJsonObject settings{{"darkTheme", true}};
        if (!unprotectedFile) {
            settings.insert("uiLocked", true);
            settings.insert("obfuscateEnabled", true);
            settings.insert("obfuscateMap", QJsonObject{{m_files + "/a.txt", m_files + "/c.txt"}});
            settings.insert(legacyKey ? "uiPasswordHash" : "protectPasswordHash", foreignHash);
        }
        int cards = 0;
        ScopedCardRunner runner([&](QDialog& card) {
            auto* dialog = qobject_cast<LockDialog*>(&card);
            if (!dialog)
                return 0;
            ++cards;
            // Nothing the file would lift is lifted while the card asks.
            if (w->settings().protectPasswordHash != localHash || !w->settings().obfuscateEnabled)
                return 0;
            if (typed.isEmpty() || !verifyPasswordHash(localHash, typed))
                return 0;
            dialog->onVerified(typed);
            return 1;
        });

        w->openSettings();
        QVERIFY(w->settingsBridge()->dialog());
        if (restore) {
            // What the engine leaves in the data folder before it reports the restore.
            QVERIFY(writeFile(settingsFile(), QJsonDocument(settings).toJson()));
            QVERIFY(w->backupJobs());
            Q_EMIT w->backupJobs()->snapshotRestored();
        } else {
            const QJsonObject backup{
                {"app", "KestrunePanel"}, {"layout", QJsonObject{{"groups", QJsonArray()}}}, {"settings", settings}};
            m_chosenFile = freshDir(QStringLiteral("import")) + "/backup.json";
            QVERIFY(writeFile(m_chosenFile, QJsonDocument(backup).toJson()));
            w->settingsBridge()->importUserData();
        }
        QCOMPARE(cards, 1);
        const bool lockCameIn = taken && !unprotectedFile;
        // A lock that came in closes the settings dialog above it.
        QTRY_COMPARE(w->settingsBridge()->dialog() == nullptr, lockCameIn);
        QVERIFY(w->settings().darkTheme); // the rest of the file is taken
        const QJsonObject saved = readObject(settingsFile());
        QVERIFY(!saved.contains("uiPasswordHash"));
        const AppSettings& s = w->settings();
        QCOMPARE(s.protectPasswordHash, taken ? foreignHash : localHash);
        QCOMPARE(s.uiLocked, lockCameIn);
        QCOMPARE(s.obfuscateEnabled, taken ? lockCameIn : true);
        QCOMPARE(s.obfuscateMap.isEmpty(), taken && unprotectedFile);
        if (!taken)
            QCOMPARE(s.obfuscateMap, localRules);
        QCOMPARE(saved.value("protectPasswordHash").toString(), taken ? foreignHash : localHash);
        QCOMPARE(saved.value("uiLocked").toBool(), lockCameIn);
        QCOMPARE(saved.value("obfuscateEnabled").toBool(), taken ? lockCameIn : true);
        // A lock that came in with the file covers the window at once.
        QCOMPARE(w->lockController()->overlay() != nullptr, lockCameIn);
        QCOMPARE(w->bottomBar()->buttonState(UiBtn::Lock), lockCameIn);
        QCOMPARE(w->bottomBar()->buttonState(UiBtn::Obfuscate), s.obfuscateEnabled);
    }

    // The protection page clears the password: the lock and the obfuscation end with it, and the obfuscation
    // button is no longer stuck on.
    void clearedPasswordEndsObfuscation()
    {
        auto w = shownPanel();
        QVERIFY(w);
        SettingsBridge::DialogArgs args;
        keepDialogArgs(*w, args);
        w->settings().protectPasswordHash = makePasswordHash(kPassword, 1);
        w->onUiButton(UiBtn::Obfuscate);
        QVERIFY(w->settings().obfuscateEnabled);
        QVERIFY(w->bottomBar()->buttonState(UiBtn::Obfuscate));
        w->openSettings();
        QVERIFY(args.onProtectCommitted);
        args.onProtectCommitted(QString(), {});
        QVERIFY(!w->settings().obfuscateEnabled);
        QVERIFY(!w->bottomBar()->buttonState(UiBtn::Obfuscate) && !w->titleBar()->buttonState(UiBtn::Obfuscate));
        QVERIFY(!readObject(settingsFile()).value("obfuscateEnabled").toBool());
    }
};

KTR_TEST_MAIN(TestMainWindowLock)
#include "tst_mainwindow_lock.moc"
