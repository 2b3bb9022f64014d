#include "account/sessioncontroller.h"
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/searchpanel.h"
#include "mainwindow/startuplayout.h"
#include "mainwindow/windowfiles.h"
#include "mainwindow/windowonline.h"
#include "mainwindow/windowsearch.h"
#include "model/configstore.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "platform/launcher.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/toast.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtTest/QtTest>

#include <atomic>
#include <memory>

using namespace ktr::test;

class TestMainWindow : public QObject
{
    Q_OBJECT

    QString m_files; // a folder of real files to drop and launch
    RecordingLauncher m_launcher;
    QStringList m_questions;
    QStringList m_informations;
    bool m_answer = true;
    std::unique_ptr<ktr::dialogs::ScopedSeams> m_seams;

    std::unique_ptr<MainWindow> makeWindow()
    {
        installSeams(m_seams, recordingSeams(&m_questions, &m_answer, &m_informations));
        return std::make_unique<MainWindow>();
    }

    // A window on a layout of three groups: A (a, b), B (c), C (empty).
    std::unique_ptr<MainWindow> threeGroups()
    {
        writeLayout({Group{QStringLiteral("A"), {item(m_files + "/a.txt"), item(m_files + "/b.txt")}},
                     Group{QStringLiteral("B"), {item(m_files + "/c.txt")}}, Group{QStringLiteral("C"), {}}});
        return makeWindow();
    }

    QString makeFile(const QString& relative, const QByteArray& bytes = "x")
    {
        const QString path = m_files + QLatin1Char('/') + relative;
        if (!ktr::test::writeFile(path, bytes))
            return QString();
        return path;
    }

private Q_SLOTS:
    void languageChangeAfterTheWindowIsGone()
    {
        // The language signal is process-wide; a change after the window is gone must not reach it.
        makeWindow().reset();
        Lang::setLanguage(1);
        Lang::notifyChanged();
        Lang::setLanguage(0);
        Lang::notifyChanged();
    }

    void initTestCase()
    {
        m_files = ktr::test::freshDir(QStringLiteral("files"));
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            makeFile(QString::fromLatin1(name));
        ktr::platform::setLauncher(&m_launcher);
        // No real icon extraction: these tests look at what is requested, not at pixels.
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
        m_informations.clear();
        m_answer = true;
        qunsetenv("KTR_TOKEN_HEARTBEAT_SEC");
    }

    // ---- construction ----

    void firstStartWritesTheDefaultLayoutBeforeShowing()
    {
        auto w = makeWindow();
        QVERIFY(!w->isVisible());
        QVERIFY(w->constructionFinished());
        QVERIFY(QFileInfo::exists(layoutFile()));
        QVERIFY(!w->model().groups().isEmpty());
        QCOMPARE(savedGroups(), w->model().groups());
        QCOMPARE(w->model().currentIndex(), 0);
        QVERIFY(w->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(w->testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(w->titleBar() && w->bottomBar() && w->borderFrame());
        // The search panel is built on first use, hidden and placed in the window.
        QVERIFY(!w->search()->panel());
        SearchPanel* panel = w->search()->ensurePanel();
        QCOMPARE(w->search()->panel(), panel);
        QCOMPARE(w->search()->ensurePanel(), panel);
        QCOMPARE(panel->objectName(), QStringLiteral("searchPanel"));
        QVERIFY(panel->isHidden());
        QCOMPARE(panel->geometry(), QRect((680 - 460) / 2, 64, 460, 320));
        QVERIFY(w->borderFrame()->testAttribute(Qt::WA_TransparentForMouseEvents));
        QCOMPARE(w->size(), QSize(680, 496));
    }

    // A large layout is parsed on a worker, so the window is built (and paints) before its groups are there.
    // Whatever comes first takes them: the worker's end, a press, a key, a drop, a save. Nothing acts on the
    // empty model meanwhile, and the file is never written with it.
    void largeLayoutTakenWhenRead_data()
    {
        QTest::addColumn<QString>("taker");
        QTest::newRow("the worker ends") << "worker";
        QTest::newRow("a press on the grid") << "press";
        QTest::newRow("a key") << "key";
        QTest::newRow("a file dropped on the grid") << "drop";
        QTest::newRow("a save") << "save";
    }
    void largeLayoutTakenWhenRead()
    {
        QFETCH(QString, taker);
        QList<Group> groups;
        for (int g = 0; g < 40; ++g) {
            Group group{QStringLiteral("G%1").arg(g), {}};
            for (int i = 0; i < 100; ++i)
                group.items.append(
                    item(m_files + QStringLiteral("/a.txt"), QStringLiteral("item %1-%2").arg(g).arg(i)));
            groups.append(group);
        }
        writeLayout(groups);
        QVERIFY(QFileInfo(layoutFile()).size() >= StartupLayout::kAsyncBytes);
        const QByteArray before = readFile(layoutFile());
        // The read is held back long enough that the constructor ends first.
        StartupLayout::setReadHook([] { QThread::msleep(300); });
        const auto noHook = qScopeGuard([] { StartupLayout::setReadHook({}); });
        auto w = makeWindow();
        QVERIFY(w->constructionFinished());
        QVERIFY(w->files()->startupLayout()->pending());
        QVERIFY(w->model().groups().isEmpty());
        QCOMPARE(readFile(layoutFile()), before);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        IconGrid* grid = w->findChild<IconGrid*>();
        QVERIFY(grid);

        if (taker == QLatin1String("worker")) {
            QTRY_VERIFY(!w->files()->startupLayout()->pending());
        } else if (taker == QLatin1String("press")) {
            QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(grid->width() - 4, grid->height() - 4));
            QVERIFY(!w->files()->startupLayout()->pending());
            QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(grid->width() - 4, grid->height() - 4));
        } else if (taker == QLatin1String("key")) {
            QTest::keyClick(w.get(), Qt::Key_Shift);
            QVERIFY(!w->files()->startupLayout()->pending());
        } else if (taker == QLatin1String("drop")) {
            auto* mime = new QMimeData;
            mime->setUrls({QUrl::fromLocalFile(m_files + QStringLiteral("/b.txt"))});
            QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(grid, &enter);
            QVERIFY(!w->files()->startupLayout()->pending());
            QDropEvent drop(QPointF(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(grid, &drop);
            delete mime;
            QVERIFY(!w->files()->startupLayout()->pending());
            groups[0].items.append(item(m_files + QStringLiteral("/b.txt")));
        } else {
            QVERIFY(w->saveLayout());
            QVERIFY(!w->files()->startupLayout()->pending());
        }
        QCOMPARE(w->model().groups(), groups);
        QCOMPARE(w->model().currentIndex(), 0);
        QCOMPARE(savedGroups(), groups);
        // The first cell shows its icon.
        const auto iconShown = [grid] {
            const QImage shot = grid->grab().toImage();
            const QRect cell = grid->cellRect(0).intersected(shot.rect());
            for (int y = cell.top(); y <= cell.bottom(); ++y) {
                for (int x = cell.left(); x <= cell.right(); ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                        return true;
                }
            }
            return false;
        };
        QTRY_VERIFY(iconShown());
    }

    void timers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("singleShot");
        QTest::addColumn<bool>("running");
        // The icon queue runs because the default layout queued its icons.
        QTest::newRow("icon queue") << "iconQueueTimer" << 16 << false << true;
        QTest::newRow("repaint") << "repaintTimer" << 50 << true << false;
        // Missing targets are found by watching their folders: a short settle timer, idle until a change.
        QTest::newRow("target settle") << "targetSettleTimer" << 250 << true << false;
        // Signed out there is no conversation to count: the first token starts the support poll.
        QTest::newRow("support unread") << "supportUnreadTimer" << 12000 << false << false;
        // Edge docking is on by default: the poll runs at its undocked pace.
        QTest::newRow("dock poll") << "dockPollTimer" << 320 << false << true;
        QTest::newRow("notice") << "noticeTimer" << 60000 << false << true;
        QTest::newRow("heartbeat") << "heartbeatTimer" << 60000 << false << false; // signed out
        QTest::newRow("auto backup") << "autoBackupTimer" << 3600000 << false << true;
    }
    void timers()
    {
        QFETCH(QString, name);
        QFETCH(int, interval);
        QFETCH(bool, singleShot);
        QFETCH(bool, running);
        auto w = makeWindow();
        const QList<QTimer*> found = w->findChildren<QTimer*>(name);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0]->interval(), interval);
        QCOMPARE(found[0]->isSingleShot(), singleShot);
        QCOMPARE(found[0]->isActive(), running);
    }

    void heartbeatInterval_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("seconds");
        QTest::newRow("unset") << QByteArray() << 60;
        QTest::newRow("zero") << QByteArray("0") << 60;
        QTest::newRow("negative") << QByteArray("-3") << 60;
        QTest::newRow("not a number") << QByteArray("abc") << 60;
        QTest::newRow("five") << QByteArray("5") << 5;
    }
    void heartbeatInterval()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, seconds);
        if (!value.isNull())
            qputenv("KTR_TOKEN_HEARTBEAT_SEC", value);
        QCOMPARE(SessionController::heartbeatSeconds(), seconds);
        auto w = makeWindow();
        QCOMPARE(w->findChild<QTimer*>(QStringLiteral("heartbeatTimer"))->interval(), seconds * 1000);
    }

    void initialSize_data()
    {
        QTest::addColumn<bool>("remember");
        QTest::addColumn<QSize>("saved");
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("not remembered") << false << QSize(900, 700) << QSize(1920, 1040) << QSize(680, 496);
        QTest::newRow("nothing saved") << true << QSize(-1, -1) << QSize(1920, 1040) << QSize(680, 496);
        QTest::newRow("too large") << true << QSize(3000, 2000) << QSize(1920, 1040) << QSize(1400, 1000);
        QTest::newRow("too small") << true << QSize(100, 100) << QSize(1920, 1040) << QSize(680, 460);
        QTest::newRow("narrow screen") << true << QSize(900, 700) << QSize(600, 1040) << QSize(600, 700);
        QTest::newRow("low screen") << true << QSize(900, 700) << QSize(1920, 400) << QSize(900, 400);
        QTest::newRow("no screen") << true << QSize(3000, 2000) << QSize() << QSize(1366, 690);
    }
    void initialSize()
    {
        QFETCH(bool, remember);
        QFETCH(QSize, saved);
        QFETCH(QSize, available);
        QFETCH(QSize, expected);
        QCOMPARE(MainWindow::initialWindowSize(remember, saved, available), expected);
    }

    void lockWithoutPasswordStartsUnlocked()
    {
        QVERIFY(ktr::test::writeFile(settingsFile(), R"({"uiLocked": true})"));
        auto w = makeWindow();
        QVERIFY(!w->settings().uiLocked);
        QCoreApplication::processEvents();
        QVERIFY(!w->lockController()->overlay());
    }

    void lockWithPasswordShowsTheOverlay()
    {
        QVERIFY(ktr::test::writeFile(settingsFile(), R"({"uiLocked": true, "protectPasswordHash": "abc"})"));
        auto w = makeWindow();
        QVERIFY(w->settings().uiLocked);
        // Already in the constructor, so the window's first frame is the lock screen.
        QVERIFY(w->lockController()->overlay());
        QCOMPARE(w->lockController()->overlay()->geometry(), w->rect());
        // Every button but minimise and close only shows the lock screen.
        w->onUiButton(UiBtn::ThemeSwitch);
        QVERIFY(!w->settings().darkTheme);
    }

    void themeSwitchButtonFlipsAndSaves()
    {
        auto w = makeWindow();
        QSignalSpy changed(&w->settingsNotifier(), &SettingsNotifier::settingsChanged);
        w->onUiButton(UiBtn::ThemeSwitch);
        // Whoever follows the settings hears that the theme changed, and only that.
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toStringList(), QStringList{QStringLiteral("darkTheme")});
        QVERIFY(w->settings().darkTheme);
        QVERIFY(ktr::test::readFile(settingsFile()).contains("\"darkTheme\": true"));
        w->onUiButton(UiBtn::ThemeSwitch);
        QVERIFY(!w->settings().darkTheme);
    }

    void abortNetworkStopsEveryTimer()
    {
        auto w = makeWindow();
        w->abortNetwork();
        const QList<QTimer*> timers = w->findChildren<QTimer*>();
        for (const QTimer* t : timers)
            QVERIFY2(!t->isActive(), qPrintable(t->objectName()));
    }

    // ---- group and item operations ----

    void selectGroup()
    {
        auto w = threeGroups();
        w->onGroupSelected(2);
        QCOMPARE(w->model().currentIndex(), 2);
        w->onGroupSelected(3);
        w->onGroupSelected(-1);
        QCOMPARE(w->model().currentIndex(), 2);
    }

    void createGroup()
    {
        auto w = threeGroups();
        w->onCreateGroup(QStringLiteral(" New "));
        QCOMPARE(w->model().groups().size(), 4);
        QCOMPARE(w->model().groups()[3].name, QStringLiteral(" New ")); // used unchanged
        QCOMPARE(w->model().currentIndex(), 3);
        QCOMPARE(savedGroups(), w->model().groups());

        w->onCreateGroup(QStringLiteral("B"));
        QCOMPARE(w->model().groups().size(), 4);
        QCOMPARE(m_informations, QStringList{QStringLiteral("提示|已存在同名分组：B")});
    }

    void renameGroup()
    {
        auto w = threeGroups();
        w->onRenameGroup(1, QStringLiteral("A"));
        QCOMPARE(w->model().groups()[1].name, QStringLiteral("B"));
        QCOMPARE(m_informations.size(), 1);

        QFile::remove(layoutFile());
        w->onRenameGroup(1, QStringLiteral("B")); // its own name is accepted and saved
        QCOMPARE(savedGroups(), w->model().groups());

        w->onRenameGroup(2, QStringLiteral("Z"));
        QCOMPARE(w->model().groups()[2].name, QStringLiteral("Z"));
        QCOMPARE(savedGroups(), w->model().groups());
        w->onRenameGroup(5, QStringLiteral("Q"));
        QCOMPARE(savedGroups(), w->model().groups());
        QCOMPARE(m_informations.size(), 1);
    }

    void deleteGroupMovesItemsToTheFirst()
    {
        writeLayout({Group{QStringLiteral("A"), {item(m_files + "/a.txt")}},
                     Group{QStringLiteral("B"),
                           {item(m_files + "/a.txt"), item(m_files + "/b.txt", QStringLiteral("b.txt")),
                            item(m_files + "/b.txt", QStringLiteral("second b"))}}});
        auto w = makeWindow();
        w->onDeleteGroup(1);
        QCOMPARE(w->model().groups().size(), 1);
        const QList<Item>& items = w->model().groups()[0].items;
        QCOMPARE(items.size(), 2); // a kept once, b added once (the loop sees its own additions)
        QCOMPARE(items[1].path, m_files + "/b.txt");
        QCOMPARE(items[1].name, QStringLiteral("b.txt"));
        QCOMPARE(savedGroups(), w->model().groups());

        w->onDeleteGroup(0); // never
        QCOMPARE(w->model().groups().size(), 1);
    }

    void deleteGroupKeepsTheShownGroup_data()
    {
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("deleted");
        QTest::addColumn<int>("expected");
        QTest::newRow("deleting the shown last group") << 3 << 3 << 2;
        QTest::newRow("deleting one before the shown") << 3 << 1 << 2;
        QTest::newRow("deleting one after the shown") << 1 << 2 << 1;
        QTest::newRow("deleting the shown middle group") << 2 << 2 << 1;
    }
    void deleteGroupKeepsTheShownGroup()
    {
        QFETCH(int, shown);
        QFETCH(int, deleted);
        QFETCH(int, expected);
        writeLayout({Group{QStringLiteral("0"), {}}, Group{QStringLiteral("1"), {}}, Group{QStringLiteral("2"), {}},
                     Group{QStringLiteral("3"), {}}});
        auto w = makeWindow();
        w->onGroupSelected(shown);
        const QString shownName = w->model().groups()[shown].name;
        w->onDeleteGroup(deleted);
        QCOMPARE(w->model().currentIndex(), expected);
        if (deleted != shown)
            QCOMPARE(w->model().groups()[expected].name, shownName);
    }

    void clearGroupAsksFirst()
    {
        auto w = threeGroups();
        w->onGroupCleared(2); // empty: no question
        QVERIFY(m_questions.isEmpty());

        m_answer = false;
        w->onGroupCleared(0);
        QCOMPARE(m_questions, QStringList{QStringLiteral("清空分组|确定清空“A”中的所有图标？")});
        QCOMPARE(w->model().groups()[0].items.size(), 2);

        m_answer = true;
        w->onGroupCleared(0);
        QVERIFY(w->model().groups()[0].items.isEmpty());
        QCOMPARE(savedGroups(), w->model().groups());
    }

    void dropUrls()
    {
        const QString app = makeFile(QStringLiteral("Tools/app.exe"));
        QVERIFY(QDir().mkpath(m_files + QStringLiteral("/Data.old")));
        const QString noSuffix = makeFile(QStringLiteral("README"));
        auto w = threeGroups();
        const QList<QUrl> urls = {QUrl::fromLocalFile(app), QUrl::fromLocalFile(m_files + "/Data.old"),
                                  QUrl::fromLocalFile(m_files + "/missing.txt"), QUrl::fromLocalFile(noSuffix),
                                  QUrl(QStringLiteral("https://example.org/x"))};
        w->onUrlsDroppedToGroup(2, urls);
        const QList<Item>& items = w->model().groups()[2].items;
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0].name, QStringLiteral("app"));
        QCOMPARE(items[0].path, app);
        QCOMPARE(items[1].name, QStringLiteral("Data.old"));
        QCOMPARE(items[2].name, QStringLiteral("README"));
        QCOMPARE(w->model().currentIndex(), 2);
        QCOMPARE(toastText(*w), QStringLiteral("已跳过 1 个不存在的路径"));
        QCOMPARE(savedGroups(), w->model().groups());
        QVERIFY(w->icons()->paths().contains(app));
    }

    // English words the count: one path, two paths.
    void skippedPathsInEnglish_data()
    {
        QTest::addColumn<int>("missing");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one") << 1 << QStringLiteral("Skipped 1 path that does not exist");
        QTest::newRow("two") << 2 << QStringLiteral("Skipped 2 paths that do not exist");
    }
    void skippedPathsInEnglish()
    {
        QFETCH(int, missing);
        QFETCH(QString, expected);
        auto w = threeGroups();
        Lang::setLanguage(1);
        const auto chinese = qScopeGuard([] { Lang::setLanguage(0); });
        QList<QUrl> urls;
        for (int i = 0; i < missing; ++i)
            urls << QUrl::fromLocalFile(m_files + QStringLiteral("/missing%1.txt").arg(i));
        w->onUrlsDroppedToGroup(2, urls);
        QCOMPARE(toastText(*w), expected);
    }

    // A live language switch renames the painted title strip as well as the window title.
    void titleStripFollowsALanguageSwitch()
    {
        auto w = threeGroups();
        QCOMPARE(w->look().titleText, QStringLiteral("青岚舟面板"));
        Lang::setLanguage(1);
        const auto chinese = qScopeGuard([] {
            Lang::setLanguage(0);
            Lang::notifyChanged();
        });
        Lang::notifyChanged();
        QCOMPARE(w->look().titleText, QStringLiteral("Kestrune Panel"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Kestrune Panel"));
    }

    void dropOfAFileAlreadyThereChangesNothing()
    {
        auto w = threeGroups();
        QFile::remove(layoutFile());
        w->onUrlsDroppedToGroup(1, {QUrl::fromLocalFile(m_files + "/c.txt")});
        QCOMPARE(w->model().groups()[1].items.size(), 1);
        QCOMPARE(w->model().currentIndex(), 0);
        QVERIFY(!QFileInfo::exists(layoutFile())); // not saved
        QVERIFY(toastText(*w).isEmpty());
    }

    void dropShellItems()
    {
        auto w = threeGroups();
        const QString computer = QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
        w->onShellItemsDroppedToGroup(1, {{QStringLiteral("此电脑"), computer},
                                          {QStringLiteral("nothing"), QString()},
                                          {QStringLiteral("again"), computer}});
        QCOMPARE(w->model().groups()[1].items.size(), 2);
        QCOMPARE(w->model().groups()[1].items[1].name, QStringLiteral("此电脑"));
        QCOMPARE(w->model().currentIndex(), 1);
        QCOMPARE(savedGroups(), w->model().groups());
        w->onShellItemsDroppedToGroup(7, {{QStringLiteral("x"), computer}});
        QCOMPARE(w->model().groups().size(), 3);
    }

    void moveItem()
    {
        auto w = threeGroups();
        w->onItemMoved(0, 1, 2);
        QCOMPARE(w->model().groups()[0].items.size(), 1);
        QCOMPARE(w->model().groups()[2].items.size(), 1);
        QCOMPARE(w->model().groups()[2].items[0].path, m_files + "/b.txt");
        QCOMPARE(w->model().currentIndex(), 0);
        QCOMPARE(savedGroups(), w->model().groups());

        // A group that holds the path already, the same group, bad indexes: nothing.
        const QList<Group> before = w->model().groups();
        w->onItemMoved(2, 0, 2);
        w->onItemMoved(0, 5, 1);
        w->onItemMoved(-1, 0, 1);
        w->onItemMoved(0, 0, 3);
        w->onGroupSelected(0);
        w->onUrlsDroppedToGroup(1, {QUrl::fromLocalFile(m_files + "/a.txt")});
        const QList<Group> withCopy = w->model().groups();
        w->onItemMoved(1, 1, 0);
        QCOMPARE(w->model().groups(), withCopy);
        QCOMPARE(before[2], withCopy[2]);
    }

    void reorder_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("order");
        QTest::newRow("first to the end") << 0 << 3 << "120";
        QTest::newRow("last to the front") << 2 << 0 << "201";
        QTest::newRow("first before the last") << 0 << 2 << "102";
        QTest::newRow("same place") << 1 << 1 << "012";
        QTest::newRow("past the end") << 0 << 4 << "012";
        QTest::newRow("negative") << -1 << 1 << "012";
    }
    void reorder()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, order);
        writeLayout({Group{QStringLiteral("A"), {item("/x/0"), item("/x/1"), item("/x/2")}}});
        auto w = makeWindow();
        w->onItemReordered(from, to);
        QString got;
        for (const Item& i : w->model().groups()[0].items)
            got += i.name;
        QCOMPARE(got, order);
        QCOMPARE(savedGroups(), w->model().groups());
    }

    void reorderWithHiddenItems()
    {
        Item hidden = item("/x/h");
        hidden.hidden = true;
        writeLayout({Group{QStringLiteral("A"), {item("/x/0"), hidden, item("/x/2")}}});
        auto w = makeWindow();
        w->onItemReordered(0, 3); // past the last cell: after the hidden item too
        QCOMPARE(w->model().groups()[0].items.last().name, QStringLiteral("0"));
        QCOMPARE(w->model().groups()[0].items[0].name, QStringLiteral("h"));
    }

    void changeStaysWhenTheLayoutCantBeSaved()
    {
        // A folder where the file should be: every save fails.
        QVERIFY(QDir().mkpath(layoutFile()));
        auto w = makeWindow();
        const int before = int(w->model().groups().size());
        w->onCreateGroup(QStringLiteral("kept"));
        QCOMPARE(w->model().groups().size(), before + 1);
        QCOMPARE(w->model().currentIndex(), before);
        QCOMPARE(toastText(*w), QStringLiteral("分组布局写入失败"));
        w.reset();
        QVERIFY(QDir(layoutFile()).removeRecursively());
    }

    void sidebarSignalsReachTheModel()
    {
        auto w = threeGroups();
        Sidebar* bar = w->sidebar();
        QCOMPARE(bar->geometry(), QRect(0, 28, 172, w->height() - 56));
        Q_EMIT bar->groupSelected(1);
        QCOMPARE(w->model().currentIndex(), 1);
        Q_EMIT bar->groupCreated(QStringLiteral("N"));
        QCOMPARE(w->model().groups().size(), 4);
        Q_EMIT bar->groupRenamed(3, QStringLiteral("M"));
        QCOMPARE(w->model().groups()[3].name, QStringLiteral("M"));
        Q_EMIT bar->groupDeleted(3);
        QCOMPARE(w->model().groups().size(), 3);
        Q_EMIT bar->itemMoved(0, 0, 2);
        QCOMPARE(w->model().groups()[2].items.size(), 1);
        Q_EMIT bar->urlsDropped(2, {QUrl::fromLocalFile(m_files + "/c.txt")});
        QCOMPARE(w->model().groups()[2].items.size(), 2);
        Q_EMIT bar->shellItemsDropped(
            1, {{QStringLiteral("回收站"), QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}")}});
        QCOMPARE(w->model().groups()[1].items.size(), 2);
        Q_EMIT bar->groupCleared(2);
        QVERIFY(w->model().groups()[2].items.isEmpty());
        QCOMPARE(savedGroups(), w->model().groups());
    }

    void gridFollowsTheModelWhetherOrNotSaved_data()
    {
        QTest::addColumn<bool>("saveFails");
        QTest::newRow("saved") << false;
        QTest::newRow("not saved") << true;
    }
    void gridFollowsTheModelWhetherOrNotSaved()
    {
        QFETCH(bool, saveFails);
        Item hidden = item("/x/h");
        hidden.hidden = true;
        writeLayout({Group{QStringLiteral("A"), {item("/x/0"), hidden, item("/x/2")}}, Group{QStringLiteral("B"), {}}});
        auto w = makeWindow();
        IconGrid* grid = w->iconGrid();
        QCOMPARE(grid->visiblePositions(), (QList<int>{0, 2}));
        if (saveFails) {
            QVERIFY(QFile::remove(layoutFile()));
            QVERIFY(QDir().mkpath(layoutFile()));
        }
        w->onItemReordered(0, 3); // h, 2, 0
        QCOMPARE(grid->visiblePositions(), (QList<int>{1, 2}));
        w->onItemMoved(0, 2, 1); // h, 2
        QCOMPARE(grid->visiblePositions(), (QList<int>{1}));
        QCOMPARE(w->toast() != nullptr, saveFails);
        if (saveFails)
            QVERIFY(QDir(layoutFile()).removeRecursively());
    }

    // ---- launching ----

    void activateLaunches()
    {
        const QString doc = makeFile(QStringLiteral("docs/report.txt"));
        Item withFolder = item(doc);
        withFolder.workDir = m_files;
        writeLayout({Group{QStringLiteral("A"),
                           {item(doc), item(QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")),
                            item(m_files + "/gone.txt"), withFolder}}});
        auto w = makeWindow();
        w->onItemActivated(0);
        QCOMPARE(m_launcher.calls.size(), 1);
        QCOMPARE(m_launcher.calls[0].url, QUrl::fromLocalFile(doc));

        w->onItemActivated(1);
        QCOMPARE(m_launcher.calls.size(), 2);
        QCOMPARE(m_launcher.calls[1].url, QUrl(QStringLiteral("computer:///")));

        w->onItemActivated(2);
        QCOMPARE(m_launcher.calls.size(), 2);
        QCOMPARE(toastText(*w), QStringLiteral("源文件已不存在，可右键重新定位或从面板移除"));

        w->onItemActivated(4);
        w->onItemActivated(-1);
        QCOMPARE(m_launcher.calls.size(), 2);
    }

    void missingTargetWithAdminFlagOnlyToasts()
    {
        Item admin = item(m_files + "/gone.sh");
        admin.runAsAdmin = true;
        writeLayout({Group{QStringLiteral("A"), {admin}}});
        auto w = makeWindow();
        w->onItemActivated(0);
        QVERIFY(m_launcher.calls.isEmpty());
        QCOMPARE(toastText(*w), QStringLiteral("源文件已不存在，可右键重新定位或从面板移除"));
    }

    void obfuscationMapReplacesTheTarget_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("launched");
        QTest::addColumn<QString>("opened");
        QTest::newRow("on") << true << true << "real.txt";
        QTest::newRow("off") << false << false << QString();
    }
    void obfuscationMapReplacesTheTarget()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, launched);
        QFETCH(QString, opened);
        const QString real = makeFile(QStringLiteral("real.txt"));
        const QString shown = m_files + QStringLiteral("/shown.txt"); // does not exist
        writeLayout({Group{QStringLiteral("A"), {item(shown)}}});
        auto w = makeWindow();
        w->settings().obfuscateEnabled = enabled;
        w->settings().obfuscateMap.insert(shown, real);
        w->onItemActivated(0);
        QCOMPARE(!m_launcher.calls.isEmpty(), launched);
        if (launched)
            QCOMPARE(m_launcher.calls[0].url, QUrl::fromLocalFile(m_files + QLatin1Char('/') + opened));
    }

    void marketAppsAreReported()
    {
        const QString market = appDataDir() + QStringLiteral("/apps/notes/notes.txt");
        QVERIFY(ktr::test::writeFile(market, "x"));
        writeLayout({Group{QStringLiteral("A"), {item(market), item(m_files + "/a.txt")}}});
        auto w = makeWindow();
        QStringList reports;
        w->online()->setAppStatReporter([&reports](const QString& id, const QString& event, const QString&) {
            reports.append(id + QLatin1Char(':') + event);
        });
        w->onItemActivated(0);
        w->onItemActivated(1);
        QCOMPARE(reports, QStringList{QStringLiteral("notes:launch")});
        QCOMPARE(m_launcher.calls.size(), 2);
    }

    // ---- icon load queue ----

    // Every item is queued, however many: the current group's first, then the other groups in order.
    void startQueuesEveryItemCurrentGroupFirst()
    {
        QList<Item> first;
        QList<Item> second;
        for (int i = 0; i < 1500; ++i) {
            first.append(item(QStringLiteral("/nowhere/a%1.txt").arg(i)));
            second.append(item(QStringLiteral("/nowhere/b%1.txt").arg(i)));
        }
        writeLayout({Group{QStringLiteral("A"), first}, Group{QStringLiteral("B"), second}});
        auto w = makeWindow();
        w->model().setCurrentGroup(1); // before the first tick hands anything to the loader
        const QStringList queue = w->icons()->paths();
        QCOMPARE(queue.size(), 3000);
        QCOMPARE(queue.first(), QStringLiteral("/nowhere/b0.txt"));
        QCOMPARE(queue.at(1499), QStringLiteral("/nowhere/b1499.txt"));
        QCOMPARE(queue.at(1500), QStringLiteral("/nowhere/a0.txt"));
        QCOMPARE(queue.last(), QStringLiteral("/nowhere/a1499.txt"));
        QVERIFY(w->findChild<QTimer*>(QStringLiteral("iconQueueTimer"))->isActive());
    }

    void queueKeepsDuplicatesAndDropsEmptyPaths()
    {
        writeLayout({Group{QStringLiteral("A"), {}}});
        auto w = makeWindow();
        QVERIFY(w->icons()->paths().isEmpty());
        QTimer* timer = w->findChild<QTimer*>(QStringLiteral("iconQueueTimer"));
        QVERIFY(!timer->isActive());
        w->icons()->queue(QString());
        QVERIFY(w->icons()->paths().isEmpty());
        QVERIFY(!timer->isActive());
        w->icons()->queue(QStringLiteral("/p"));
        w->icons()->queue(QStringLiteral("/p"));
        QCOMPARE(w->icons()->paths(), (QStringList{QStringLiteral("/p"), QStringLiteral("/p")}));
        QVERIFY(timer->isActive());
    }

    void drainHandsOverTheWholeQueue()
    {
        auto extracted = std::make_shared<std::atomic<int>>(0);
        setIconExtractorForTesting([extracted](const QString&) {
            ++*extracted;
            QImage image(8, 8, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::blue);
            return image;
        });
        writeLayout({Group{QStringLiteral("A"), {item("/q/1"), item("/q/2"), item("/q/3")}}});
        clearIconCache();
        auto w = makeWindow();
        QSignalSpy repaints(w->findChild<IconQueue*>(), &IconQueue::repaintDue);
        w->icons()->drain();
        QVERIFY(w->icons()->paths().isEmpty());
        QVERIFY(!w->findChild<QTimer*>(QStringLiteral("iconQueueTimer"))->isActive());
        // The two workers finish in any order: wait for all three results.
        QTRY_VERIFY(iconCache() && iconCache()->contains(QStringLiteral("/q/1")) &&
                    iconCache()->contains(QStringLiteral("/q/2")) && iconCache()->contains(QStringLiteral("/q/3")));
        QCOMPARE(extracted->load(), 3);
        // The first result is painted at once, the ones arriving within the interval share one more repaint.
        QVERIFY(repaints.count() >= 1);
        QTest::qWait(2 * IconQueue::kRepaintDelayMs);
        QVERIFY(repaints.count() <= 2);
        setIconExtractorForTesting([](const QString&) { return QImage(); });
    }

    void reloadAllIconsEmptiesTheCacheAndAsksForEveryItem()
    {
        writeLayout(
            {Group{QStringLiteral("A"), {item("/r/1"), item("/r/2")}}, Group{QStringLiteral("B"), {item("/r/1")}}});
        auto w = makeWindow();
        w->icons()->drain();
        QTRY_VERIFY(iconCache() && iconCache()->contains(QStringLiteral("/r/2")));
        w->reloadAllIcons();
        QVERIFY(!iconCache() || iconCache()->isEmpty());
        // Every path once, in the order the items are seen.
        QCOMPARE(w->icons()->paths(), (QStringList{QStringLiteral("/r/1"), QStringLiteral("/r/2")}));
    }

    void ensureIconLoadsAtOnce()
    {
        writeLayout({Group{QStringLiteral("A"), {}}});
        clearIconCache();
        auto w = makeWindow();
        w->icons()->ensure(QStringLiteral("/e/1"));
        QVERIFY(w->icons()->paths().isEmpty());
        QTRY_VERIFY(iconCache() && iconCache()->contains(QStringLiteral("/e/1")));
    }

    // Choosing another group in the sidebar shows it from its first row.
    void selectingAGroupStartsAtItsTop()
    {
        Group a{QStringLiteral("A"), {}};
        Group b{QStringLiteral("B"), {}};
        for (int i = 0; i < 80; ++i) {
            a.items.append(item(QStringLiteral("/nowhere/A/item%1.txt").arg(i)));
            b.items.append(item(QStringLiteral("/nowhere/B/item%1.txt").arg(i)));
        }
        writeLayout({a, b});
        auto w = makeWindow();
        IconGrid* grid = w->iconGrid();
        QVERIFY(grid->maxScroll() > 0);
        grid->setScrollOffset(grid->maxScroll());
        QVERIFY(grid->scrollOffset() > 0);

        w->onGroupSelected(1);
        QCOMPARE(w->model().currentIndex(), 1);
        QCOMPARE(grid->scrollOffset(), 0);
    }
};

KTR_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
