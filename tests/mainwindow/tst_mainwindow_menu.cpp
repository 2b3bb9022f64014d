#include "desktopvalidate.h"
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "mainwindow/floatingicons.h"
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/itemmenu.h"
#include "mainwindow/itemmenucontroller.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/searchpanel.h"
#include "mainwindow/shortcuteditdialog.h"
#include "mainwindow/targetwatch.h"
#include "mainwindow/windowsearch.h"
#include "model/configstore.h"
#include "model/shortcutfile.h"
#include "panel/floaticon.h"
#include "panel/icongrid.h"
#include "panel/titlebaractions.h"
#include "platform/filemanager.h"
#include "platform/launcher.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/toast.h"
#include "windowfixture.h"

#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSemaphore>
#include <QStandardPaths>
#include <QtTest/QtTest>

#include <atomic>
#include <memory>

using namespace ktr::test;

namespace {

QStringList menuTexts(const QMenu* menu)
{
    QStringList texts;
    const QList<QAction*> actions = menu->actions();
    for (const QAction* a : actions)
        texts += a->isSeparator() ? QStringLiteral("-") : a->text();
    return texts;
}

} // namespace

class TestMainWindowMenu : public QObject
{
    Q_OBJECT

    QString m_files;
    QString m_program; // an executable script
    RecordingLauncher m_launcher;

    std::unique_ptr<MainWindow> windowWith(const QList<Group>& groups, ItemMenuController::Hooks hooks = {})
    {
        ConfigStore store(appDataDir());
        if (!store.saveLayout(groups))
            return nullptr;
        auto w = std::make_unique<MainWindow>();
        w->itemMenu()->setHooks(hooks);
        return w;
    }

    QString file(const QString& name) const { return m_files + QLatin1Char('/') + name; }

    // Runs the menu entry of the item at index of the current group.
    static bool choose(MainWindow& w, int itemIndex, ItemMenuAction what, int group = -1)
    {
        std::unique_ptr<QMenu> menu(w.itemMenu()->build(itemIndex));
        QAction* action = findItemMenuAction(menu.get(), what, group);
        if (!action)
            return false;
        w.itemMenu()->run(action);
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_files = ktr::test::freshDir(QStringLiteral("files"));
        for (const char* name : {"a.txt", "b.txt", "c.txt", "icon.png", "app.desktop"})
            QVERIFY(ktr::test::writeFile(file(QString::fromLatin1(name)), "x"));
        QDir().mkpath(file(QStringLiteral("folder")));
        m_program = file(QStringLiteral("tool.sh"));
        QVERIFY(ktr::test::writeFile(m_program, "#!/bin/sh\nexit 0\n"));
        QFile::setPermissions(m_program, QFile::permissions(m_program) | QFile::ExeOwner);
        ktr::platform::setLauncher(&m_launcher);
        // No session bus to ask in these tests: "open location" falls back to the folder.
        ktr::platform::setFileManagerBusForTesting(QStringLiteral("no-such-connection"));
        useRedIconExtractor();
    }

    void cleanupTestCase()
    {
        ktr::platform::setLauncher(nullptr);
        ktr::platform::setFileManagerBusForTesting(QString());
        setIconExtractorForTesting({});
    }

    void init() { m_launcher.calls.clear(); }

    // ---- building the menu ----

    void entries_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("customIcon");
        // open, admin, location, edit, relocate, restore icon, desktop shortcut
        QTest::addColumn<QList<bool>>("enabled");
        QTest::addColumn<bool>("clearEntry");
        // Only what runs can run elevated: a program or a desktop entry, not a document or a folder.
        QTest::newRow("document") << "a.txt"
                                  << "" << QList<bool>{true, false, true, true, true, false, true} << false;
        QTest::newRow("program") << "tool.sh"
                                 << "" << QList<bool>{true, true, true, true, true, false, true} << false;
        QTest::newRow("desktop entry") << "app.desktop"
                                       << "" << QList<bool>{true, true, true, true, true, false, true} << false;
        QTest::newRow("folder") << "folder"
                                << "" << QList<bool>{true, false, true, true, true, false, true} << false;
        QTest::newRow("shell item") << "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"
                                    << "" << QList<bool>{true, false, false, false, false, false, false} << false;
        QTest::newRow("missing file") << "gone.txt"
                                      << "" << QList<bool>{false, false, false, false, true, false, false} << true;
        QTest::newRow("missing, custom icon there")
            << "gone.txt"
            << "icon.png" << QList<bool>{false, false, false, false, true, true, false} << false;
    }
    void entries()
    {
        QFETCH(QString, path);
        QFETCH(QString, customIcon);
        QFETCH(QList<bool>, enabled);
        QFETCH(bool, clearEntry);
        Item it = item(path.startsWith(QLatin1String("::")) ? path : file(path));
        if (!customIcon.isEmpty())
            it.customIcon = file(customIcon);
        auto w = windowWith({Group{QStringLiteral("G"), {it}}});
        std::unique_ptr<QMenu> menu(w->itemMenu()->build(0));
        QVERIFY(menu);
        const ItemMenuAction order[] = {
            ItemMenuAction::Open,     ItemMenuAction::RunAsAdmin,  ItemMenuAction::OpenLocation,   ItemMenuAction::Edit,
            ItemMenuAction::Relocate, ItemMenuAction::RestoreIcon, ItemMenuAction::DesktopShortcut};
        for (int i = 0; i < 7; ++i) {
            QAction* a = findItemMenuAction(menu.get(), order[i]);
            QVERIFY(a);
            QVERIFY2(a->isEnabled() == enabled[i], qPrintable(a->text()));
        }
        QCOMPARE(findItemMenuAction(menu.get(), ItemMenuAction::ClearInvalid) != nullptr, clearEntry);
        QVERIFY(findItemMenuAction(menu.get(), ItemMenuAction::CopyPath)->isEnabled());
        QVERIFY(findItemMenuAction(menu.get(), ItemMenuAction::Float)->isEnabled());
        QVERIFY(findItemMenuAction(menu.get(), ItemMenuAction::Remove)->isEnabled());
    }

    void entriesInOrderWithTheGroupSubmenu()
    {
        auto w = windowWith({Group{QStringLiteral("A"), {item(file("a.txt")), item(file("gone.txt"))}},
                             Group{QStringLiteral("B"), {item(file("a.txt"))}}, Group{QStringLiteral("C"), {}},
                             Group{QStringLiteral("D"), {item(file("gone2.txt"))}}});
        std::unique_ptr<QMenu> menu(w->itemMenu()->build(0));
        QVERIFY(menu);
        QCOMPARE(menuTexts(menu.get()),
                 (QStringList{"打开", "以管理员身份运行", "打开所在位置", "-", "编辑...", "重新定位...", "恢复默认图标",
                              "复制完整路径", "创建桌面快捷方式", "-", "移动到分组", "悬浮", "-", "从面板移除"}));
        for (QAction* a : menu->actions())
            QVERIFY(a->isSeparator() || !a->icon().isNull());
        // One entry per group, in order: the current group and a group holding the same path are disabled.
        const QMenu* groups = menu->actions().at(10)->menu();
        QVERIFY(groups);
        QCOMPARE(menuTexts(groups), (QStringList{"A", "B", "C", "D"}));
        QList<bool> enabled;
        for (const QAction* a : groups->actions())
            enabled += a->isEnabled();
        QCOMPARE(enabled, (QList<bool>{false, false, true, true}));

        // An invalid item counts every invalid item of every group.
        std::unique_ptr<QMenu> broken(w->itemMenu()->build(1));
        QCOMPARE(menuTexts(broken.get()).mid(14), (QStringList{"-", "清除所有失效图标 (2)"}));
        QVERIFY(!w->itemMenu()->build(2));
        QVERIFY(!w->itemMenu()->build(-1));
    }

    // The submenu names the groups as the sidebar does: in English a stored "常用" is "Favorites".
    void groupSubmenuShowsDisplayedNames()
    {
        auto w =
            windowWith({Group{QString::fromUtf8("常用"), {item(file("a.txt"))}}, Group{QStringLiteral("Mine"), {}}});
        Lang::setLanguage(1);
        const auto chinese = qScopeGuard([] { Lang::setLanguage(0); });
        std::unique_ptr<QMenu> menu(w->itemMenu()->build(0));
        QVERIFY(menu);
        const QMenu* groups = menu->actions().at(10)->menu();
        QVERIFY(groups);
        QCOMPARE(menuTexts(groups), (QStringList{"Favorites", "Mine"}));
        QVERIFY(choose(*w, 0, ItemMenuAction::MoveToGroup, 1));
        QCOMPARE(w->model().groups()[1].items.size(), 1);
    }

    // ---- the actions ----

    // Run as administrator goes through pkexec; without one on PATH nothing starts and a toast says why.
    void openAndRunAsAdministrator_data()
    {
        QTest::addColumn<bool>("pkexec");
        QTest::newRow("pkexec installed") << true;
        QTest::newRow("no pkexec") << false;
    }
    void openAndRunAsAdministrator()
    {
        QFETCH(bool, pkexec);
        const QString bin = ktr::test::freshDir(QStringLiteral("bin"));
        if (pkexec) {
            QVERIFY(ktr::test::writeFile(bin + "/pkexec", "#!/bin/sh\nexit 0\n"));
            QFile::setPermissions(bin + "/pkexec", QFile::permissions(bin + "/pkexec") | QFile::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.toLocal8Bit());
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        Item it = item(m_program);
        it.args = QStringLiteral("--x \"y z\"");
        it.workDir = m_files;
        auto w = windowWith({Group{QStringLiteral("G"), {it}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::Open));
        QVERIFY(choose(*w, 0, ItemMenuAction::RunAsAdmin));
        QCOMPARE(m_launcher.calls[0].arguments, (QStringList{"--x", "y z"}));
        if (!pkexec) {
            QCOMPARE(m_launcher.calls.size(), 1);
            QCOMPARE(toastText(*w), QStringLiteral("未找到 pkexec，无法以管理员身份运行（请安装 polkit）"));
            return;
        }
        QCOMPARE(m_launcher.calls.size(), 2);
        QVERIFY(toastText(*w).isEmpty());
        // Elevated alone: without the item's arguments.
        QCOMPARE(QFileInfo(m_launcher.calls[1].program).fileName(), QStringLiteral("pkexec"));
        QCOMPARE(m_launcher.calls[1].arguments, QStringList{m_program});
    }

    void openLocationWithoutAFileManagerOpensTheFolder()
    {
        auto w = windowWith({Group{QStringLiteral("G"), {item(file("a.txt"))}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::OpenLocation));
        QCOMPARE(m_launcher.calls.size(), 1);
        QCOMPARE(m_launcher.calls[0].url, QUrl::fromLocalFile(m_files));
    }

    void copyPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("shell item, as stored") << "::{645FF040-5081-101B-9F08-00AA002F954E}";
        QTest::newRow("file") << "/tmp/x y/a.txt";
    }
    void copyPath()
    {
        QFETCH(QString, path);
        auto w = windowWith({Group{QStringLiteral("G"), {item(path)}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::CopyPath));
        QCOMPARE(QGuiApplication::clipboard()->text(), path);
    }

    void relocate()
    {
        QString answer = file("B.TXT"); // only the case differs from the other item's path
        QStringList captions;
        ktr::dialogs::Seams seams;
        seams.openFile = [&](QWidget*, const QString& caption, const QString&, const QString& filter) {
            captions += caption + QLatin1Char('|') + filter;
            return answer;
        };
        const ktr::dialogs::ScopedSeams chooser(seams);
        QVERIFY(ktr::test::writeFile(answer, "x"));
        auto w = windowWith({Group{QStringLiteral("G"), {item(file("gone.txt")), item(file("b.txt"))}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::Relocate));
        QCOMPARE(toastText(*w), QStringLiteral("该路径已在当前分组中"));
        QCOMPARE(w->model().groups()[0].items[0].path, file("gone.txt"));
        QCOMPARE(captions, QStringList{"选择新的文件位置|所有文件 (*)"});

        answer = file("c.txt");
        QVERIFY(choose(*w, 0, ItemMenuAction::Relocate));
        QCOMPARE(toastText(*w), QStringLiteral("已重新定位"));
        QCOMPARE(w->model().groups()[0].items[0].path, answer);
        QCOMPARE(savedGroups(), w->model().groups());
        QTRY_VERIFY(!w->invalidPathCheck()->running() && w->invalidPathCheck()->paths().isEmpty());

        answer.clear(); // cancelled
        QVERIFY(choose(*w, 0, ItemMenuAction::Relocate));
        QCOMPARE(w->model().groups()[0].items[0].path, file("c.txt"));
    }

    void restoreIcon()
    {
        Item it = item(file("a.txt"));
        it.customIcon = file("icon.png");
        auto w = windowWith({Group{QStringLiteral("G"), {it}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::RestoreIcon));
        QVERIFY(w->model().groups()[0].items[0].customIcon.isEmpty());
        QCOMPARE(savedGroups(), w->model().groups());
        QCOMPARE(toastText(*w), QStringLiteral("已恢复默认图标"));
    }

    void moveAndRemove()
    {
        auto w = windowWith(
            {Group{QStringLiteral("A"), {item(file("a.txt")), item(file("b.txt"))}}, Group{QStringLiteral("B"), {}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::MoveToGroup, 1));
        QCOMPARE(w->model().groups()[1].items, (QList<Item>{item(file("a.txt"))}));
        QVERIFY(choose(*w, 0, ItemMenuAction::Remove));
        QVERIFY(w->model().groups()[0].items.isEmpty());
        QCOMPARE(savedGroups(), w->model().groups());
        QVERIFY(toastText(*w).isEmpty());
    }

    void modelChangedWhileTheMenuWasOpen()
    {
        auto w = windowWith(
            {Group{QStringLiteral("A"), {item(file("a.txt")), item(file("b.txt"))}}, Group{QStringLiteral("B"), {}}});
        std::unique_ptr<QMenu> menu(w->itemMenu()->build(0));
        w->onItemReordered(0, 2); // b is now where a was
        w->itemMenu()->run(findItemMenuAction(menu.get(), ItemMenuAction::Remove));
        QCOMPARE(w->model().groups()[0].items.size(), 2);

        menu.reset(w->itemMenu()->build(0));
        w->onGroupSelected(1);
        w->itemMenu()->run(findItemMenuAction(menu.get(), ItemMenuAction::Remove));
        QCOMPARE(w->model().groups()[0].items.size(), 2);
    }

    void clearInvalidItems()
    {
        // A hidden item is not shown: it is neither counted nor removed.
        Item hidden = item(file("x4"));
        hidden.hidden = true;
        auto w = windowWith({Group{QStringLiteral("A"), {item(file("x1")), item(file("a.txt")), item(file("x2"))}},
                             Group{QStringLiteral("B"), {item(file("x3")), hidden, item(file("b.txt"))}}});
        std::unique_ptr<QMenu> menu(w->itemMenu()->build(1));
        QVERIFY(!findItemMenuAction(menu.get(), ItemMenuAction::ClearInvalid));
        menu.reset(w->itemMenu()->build(0));
        QAction* clear = findItemMenuAction(menu.get(), ItemMenuAction::ClearInvalid);
        QVERIFY(clear);
        QCOMPARE(clear->text(), QStringLiteral("清除所有失效图标 (3)"));
        w->itemMenu()->run(clear);
        QCOMPARE(w->model().groups()[0].items, QList<Item>{item(file("a.txt"))});
        QCOMPARE(w->model().groups()[1].items, (QList<Item>{hidden, item(file("b.txt"))}));
        QCOMPARE(savedGroups(), w->model().groups());
        QCOMPARE(toastText(*w), QStringLiteral("已清除 3 个失效图标"));
    }

    // ---- desktop shortcut ----

    void desktopShortcut_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("exec"); // the arguments of the new entry's Exec line
        QTest::addColumn<QString>("icon");     // by the freedesktop icon naming standard's names
        // The opener by name: where xdg-open lives now is not where it lives when the entry is opened.
        QTest::newRow("document") << "my \"doc\" file.txt" << QStringList{"xdg-open", "@"} << "text-x-generic";
        QTest::newRow("picture") << "photo.png" << QStringList{"xdg-open", "@"} << "image-x-generic";
        QTest::newRow("folder") << "folder" << QStringList{"xdg-open", "@"} << "folder";
        QTest::newRow("program") << "tool.sh" << QStringList{"@"} << "application-x-executable";
    }
    void desktopShortcut()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, exec);
        QFETCH(QString, icon);
        const QString path = file(target);
        if (!QFileInfo::exists(path))
            QVERIFY(ktr::test::writeFile(path, "x"));
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QDir(desktop).removeRecursively();
        const QString base = QFileInfo(path).completeBaseName();
        QVERIFY(ktr::test::writeFile(desktop + "/" + base + ".desktop", "taken"));
        QVERIFY(ktr::test::writeFile(desktop + "/" + base + " (2).desktop", "taken"));

        auto w = windowWith({Group{QStringLiteral("G"), {item(path)}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::DesktopShortcut));
        QCOMPARE(toastText(*w), QStringLiteral("已在桌面创建快捷方式"));
        const QString created = desktop + "/" + base + " (3).desktop";
        QVERIFY(QFileInfo(created).isExecutable());
        const QByteArray text = ktr::test::readFile(created);
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        QVERIFY(text.contains(("\nName=" + base + " (3)\n").toUtf8()));
        ShortcutInfo info;
        QVERIFY(readShortcut(created, &info));
        QStringList argv = QStringList{info.target} + QProcess::splitCommand(info.arguments);
        for (QString& a : argv)
            if (a == path)
                a = QStringLiteral("@");
        QCOMPARE(argv, exec);
        QCOMPARE(info.iconPath, icon);
        QCOMPARE(info.workingDir, m_files);
        QCOMPARE(ktr::test::desktopEntryProblems(created), QString());
        QCOMPARE(ktr::test::readFile(desktop + "/" + base + ".desktop"), QByteArray("taken"));
    }

    void desktopShortcutOfAShortcutCopiesIt()
    {
        const QByteArray entry = "[Desktop Entry]\nType=Application\nName=Editor\nExec=gedit %U\n";
        const QString path = file("editor.desktop");
        QVERIFY(ktr::test::writeFile(path, entry));
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QDir(desktop).removeRecursively();
        auto w = windowWith({Group{QStringLiteral("G"), {item(path)}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::DesktopShortcut));
        QCOMPARE(ktr::test::readFile(desktop + "/editor.desktop"), entry);
        QVERIFY(choose(*w, 0, ItemMenuAction::DesktopShortcut));
        QCOMPARE(ktr::test::readFile(desktop + "/editor (2).desktop"), entry);
    }

    // A folder whose path ends without a name (the root, or a folder written with its trailing slash) made
    // ".desktop": an entry the desktop hides, named after the opener. It takes the folder's own name, and the
    // root the name the panel gives the local disk.
    void desktopShortcutOfAPathWithoutName_data()
    {
        QTest::addColumn<QString>("target"); // "@" stands for the test's files folder
        QTest::addColumn<QString>("name");
        QTest::newRow("root") << "/"
                              << "本地磁盘";
        QTest::newRow("trailing slash") << "@/folder/"
                                        << "folder";
        QTest::newRow("two trailing slashes") << "@/folder//"
                                              << "folder";
    }
    void desktopShortcutOfAPathWithoutName()
    {
        QFETCH(QString, target);
        QFETCH(QString, name);
        target.replace(QStringLiteral("@"), m_files);
        QVERIFY(QDir().mkpath(target));
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QDir(desktop).removeRecursively();

        auto w = windowWith({Group{QStringLiteral("G"), {item(target)}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::DesktopShortcut));
        QCOMPARE(toastText(*w), QStringLiteral("已在桌面创建快捷方式"));
        QCOMPARE(QDir(desktop).entryList(QDir::Files | QDir::Hidden), QStringList{name + ".desktop"});
        const QString created = desktop + "/" + name + ".desktop";
        QVERIFY(ktr::test::readFile(created).contains(("\nName=" + name + "\n").toUtf8()));
        ShortcutInfo info;
        QVERIFY(readShortcut(created, &info));
        QCOMPARE(QStringList{info.target} + QProcess::splitCommand(info.arguments),
                 (QStringList{QStringLiteral("xdg-open"), QDir::cleanPath(target)}));
        QCOMPARE(info.iconPath, QStringLiteral("folder"));
        QCOMPARE(ktr::test::desktopEntryProblems(created), QString());
    }

    void desktopShortcutFailures()
    {
        // A regular file where the desktop folder should be: nothing can be written below it.
        const QString blocker = ktr::test::testRoot() + "/blocker";
        QVERIFY(ktr::test::writeFile(blocker, "file"));
        QString error;
        QVERIFY(!createDesktopShortcut(file("a.txt"), blocker + "/Desktop", nullptr, &error));
        QCOMPARE(error, QStringLiteral("快捷方式写入失败（目标可能被占用）"));
        QVERIFY(!createDesktopShortcut(file("editor.desktop"), blocker + "/Desktop", nullptr, &error));
        QCOMPARE(error, QStringLiteral("复制快捷方式失败（桌面可能已有同名文件）"));
    }

    // ---- edit ----

    void editPlainItem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("args");
        QTest::addColumn<bool>("saved");
        QTest::newRow("nothing changed") << "a"
                                         << ""
                                         << "-v" << false;
        QTest::newRow("name only") << "  New name "
                                   << ""
                                   << "-v" << true;
        QTest::newRow("arguments, untrimmed") << "a"
                                              << ""
                                              << " -q " << true;
        QTest::newRow("target") << "a"
                                << " c.txt "
                                << "-v" << true;
    }
    void editPlainItem()
    {
        QFETCH(QString, name);
        QFETCH(QString, target);
        QFETCH(QString, args);
        QFETCH(bool, saved);
        Item it = item(file("a.txt"), QStringLiteral("a"));
        it.args = QStringLiteral("-v");
        ItemMenuController::Hooks hooks;
        hooks.runEditDialog = [&](ShortcutEditDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(name);
            if (!target.isEmpty())
                d.findChild<QLineEdit*>(QStringLiteral("targetEdit"))->setText(" " + file(target.trimmed()) + " ");
            d.findChild<QLineEdit*>(QStringLiteral("argumentsEdit"))->setText(args);
            return int(QDialog::Accepted);
        };
        auto w = windowWith({Group{QStringLiteral("G"), {it}}}, hooks);
        const QByteArray before = ktr::test::readFile(layoutFile());
        QVERIFY(choose(*w, 0, ItemMenuAction::Edit));
        const Item& now = w->model().groups()[0].items[0];
        QCOMPARE(now.name, name.trimmed());
        QCOMPARE(now.args, args);
        QCOMPARE(now.path, target.isEmpty() ? file("a.txt") : file(target.trimmed()));
        QCOMPARE(toastText(*w), saved ? QStringLiteral("已保存更改") : QString());
        if (saved)
            QCOMPARE(savedGroups(), w->model().groups());
        else
            QCOMPARE(ktr::test::readFile(layoutFile()), before);
    }

    void editCancelledChangesNothing()
    {
        ItemMenuController::Hooks hooks;
        hooks.runEditDialog = [](ShortcutEditDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("other"));
            return int(QDialog::Rejected);
        };
        auto w = windowWith({Group{QStringLiteral("G"), {item(file("a.txt"), QStringLiteral("a"))}}}, hooks);
        QVERIFY(choose(*w, 0, ItemMenuAction::Edit));
        QCOMPARE(w->model().groups()[0].items[0].name, QStringLiteral("a"));
    }

    void editShortcutRewritesTheFileKeepingTheRest()
    {
        const QString path = file("viewer.desktop");
        QVERIFY(ktr::test::writeFile(path, "[Desktop Entry]\nType=Application\nName=Viewer\nName[de]=Betrachter\n"
                                           "Exec=/usr/bin/viewer --old %f\nX-Custom=keep\n"));
        Item it = item(path, QStringLiteral("Viewer"));
        it.customIcon = file("icon.png");
        ItemMenuController::Hooks hooks;
        hooks.runEditDialog = [](ShortcutEditDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("argumentsEdit"))->setText(QStringLiteral("--new"));
            return int(QDialog::Accepted);
        };
        auto w = windowWith({Group{QStringLiteral("G"), {it}}}, hooks);
        QVERIFY(choose(*w, 0, ItemMenuAction::Edit));
        const QByteArray text = ktr::test::readFile(path);
        QVERIFY(text.contains("\nExec=/usr/bin/viewer --new %f\n")); // the field code stays
        QVERIFY(text.contains("\nName[de]=Betrachter\n"));
        QVERIFY(text.contains("\nX-Custom=keep\n"));
        // The icon now lives in the shortcut file.
        QVERIFY(w->model().groups()[0].items[0].customIcon.isEmpty());
        QCOMPARE(toastText(*w), QStringLiteral("已保存更改"));
    }

    void editShortcutThatCantBeWrittenSavesOnlyTheName()
    {
        // A folder named like a shortcut file: it exists, but no entry can be read from or written to it.
        const QString path = file("broken.desktop");
        QVERIFY(QDir().mkpath(path));
        ItemMenuController::Hooks hooks;
        hooks.runEditDialog = [](ShortcutEditDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("Renamed"));
            d.findChild<QLineEdit*>(QStringLiteral("targetEdit"))->setText(QStringLiteral("/usr/bin/true"));
            return int(QDialog::Accepted);
        };
        auto w = windowWith({Group{QStringLiteral("G"), {item(path, QStringLiteral("Old"))}}}, hooks);
        QVERIFY(choose(*w, 0, ItemMenuAction::Edit));
        QCOMPARE(toastText(*w), QStringLiteral("快捷方式写入失败（目标可能被占用）"));
        QCOMPARE(w->model().groups()[0].items[0].name, QStringLiteral("Renamed"));
        QCOMPARE(w->model().groups()[0].items[0].path, path);
        QCOMPARE(savedGroups(), w->model().groups());
    }

    // After an edit the icon cache forgets the item's path: its icon, and that of every other item with the
    // same path, is asked for again instead of staying blank until the next start.
    void editAsksForTheIconAgain_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("restoreIcon"); // "还原图标" in the dialog, else a new name
        QTest::newRow("name") << "a.txt" << false;
        QTest::newRow("restored icon") << "a.txt" << true;
        QTest::newRow("shortcut, restored icon") << "player.desktop" << true;
    }
    void editAsksForTheIconAgain()
    {
        QFETCH(QString, file);
        QFETCH(bool, restoreIcon);
        const QString path = this->file(file);
        if (file.endsWith(QLatin1String(".desktop")))
            QVERIFY(ktr::test::writeFile(path, "[Desktop Entry]\nType=Application\nName=P\nExec=/bin/true\nIcon=x\n"));
        Item it = item(path, QStringLiteral("a"));
        it.customIcon = restoreIcon ? this->file("icon.png") : QString();
        ItemMenuController::Hooks hooks;
        hooks.runEditDialog = [&](ShortcutEditDialog& d) {
            if (restoreIcon)
                d.findChild<QPushButton*>(QStringLiteral("restoreIconButton"))->click();
            else
                d.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("renamed"));
            return int(QDialog::Accepted);
        };
        auto w = windowWith({Group{QStringLiteral("A"), {it}}, Group{QStringLiteral("B"), {item(path)}}}, hooks);
        const auto cached = [&] { return iconCache() && !iconCache()->value(path).isNull(); };
        QTRY_VERIFY(cached());
        QVERIFY(choose(*w, 0, ItemMenuAction::Edit));
        QCOMPARE(toastText(*w), QStringLiteral("已保存更改"));
        QTRY_VERIFY(cached());
        QVERIFY(w->model().groups()[0].items[0].customIcon.isEmpty() || !restoreIcon);
    }

    // ---- invalid items ----

    void invalidPathsAreCheckedOnAWorker()
    {
        auto w = windowWith({Group{QStringLiteral("A"), {item(file("a.txt")), item(file("late.txt"))}},
                             Group{QStringLiteral("B"), {item("::{x}"), item(QString())}}});
        QTRY_COMPARE(w->invalidPathCheck()->paths(), QSet<QString>{file("late.txt")});
        QVERIFY(ktr::test::writeFile(file("late.txt"), "x")); // the watched folder changes: a new check
        QTRY_VERIFY(w->invalidPathCheck()->paths().isEmpty());
        QFile::remove(file("late.txt"));
    }

    void aSlowCheckNeitherBlocksNorPilesUp()
    {
        QSemaphore gate;
        std::atomic<int> runs{0};
        const auto unblock = qScopeGuard([&gate] { gate.release(10); }); // never leave a worker stuck
        auto w = windowWith({Group{QStringLiteral("A"), {item(file("gone.txt"))}}});
        w->invalidPathCheck()->setCheck([&](const QList<Group>& groups) {
            ++runs;
            gate.acquire(); // an unreachable mount
            return invalidItemPaths(groups);
        });
        QTRY_VERIFY(!w->invalidPathCheck()->running()); // the construction's check, before the hook was set
        // Folder changes of the targets ask for the checks.
        QTimer* timer = w->invalidPathCheck()->targetWatch()->settleTimer();
        QMetaObject::invokeMethod(timer, "timeout");
        QTRY_COMPARE(runs.load(), 1);
        for (int i = 0; i < 3; ++i)
            QMetaObject::invokeMethod(timer, "timeout");
        QVERIFY(w->invalidPathCheck()->running());
        QCOMPARE(runs.load(), 1);
        gate.release();
        QTRY_COMPARE(runs.load(), 2); // the asked-for checks run once, after it
        gate.release();
        QTRY_VERIFY(!w->invalidPathCheck()->running());
        QTRY_COMPARE(w->invalidPathCheck()->paths(), QSet<QString>{file("gone.txt")});
    }

    // ---- live group reordering ----

    void groupDragDisplace_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("order");
        QTest::addColumn<int>("currentAfter");
        QTest::newRow("C current, A to the end") << 2 << 0 << 3 << "BCDA" << 1;
        QTest::newRow("A current and dragged") << 0 << 0 << 2 << "BCAD" << 2;
        QTest::newRow("D dragged to the front past C") << 2 << 3 << 0 << "DABC" << 3;
        QTest::newRow("behind the current") << 0 << 2 << 3 << "ABDC" << 0;
        QTest::newRow("from = to") << 1 << 2 << 2 << "ABCD" << 1;
        QTest::newRow("to out of range") << 1 << 0 << 4 << "ABCD" << 1;
        QTest::newRow("negative") << 1 << -1 << 2 << "ABCD" << 1;
    }
    void groupDragDisplace()
    {
        QFETCH(int, current);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, order);
        QFETCH(int, currentAfter);
        QList<Group> groups;
        for (const char* n : {"A", "B", "C", "D"})
            groups.append(Group{QString::fromLatin1(n), {}});
        auto w = windowWith(groups);
        w->onGroupSelected(current);
        const QByteArray saved = ktr::test::readFile(layoutFile());
        w->onGroupDragDisplace(from, to);
        QString now;
        for (const Group& g : w->model().groups())
            now += g.name;
        QCOMPARE(now, order);
        QCOMPARE(w->model().currentIndex(), currentAfter);
        QCOMPARE(w->model().groups()[w->model().currentIndex()].name, QString(QChar::fromLatin1("ABCD"[current])));
        // Saved when the drag ends, not on every step.
        QCOMPARE(ktr::test::readFile(layoutFile()), saved);
    }

    // ---- floating icons ----

    void clampIntoArea_data()
    {
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<QPoint>("expected");
        const QRect area(0, 0, 1920, 1040);
        QTest::newRow("inside") << QPoint(100, 100) << QPoint(100, 100);
        QTest::newRow("past the right edge") << QPoint(1900, 500) << QPoint(1920 - 74, 500);
        QTest::newRow("below the bottom") << QPoint(10, 1039) << QPoint(10, 1040 - 74);
        QTest::newRow("left and above") << QPoint(-50, -3) << QPoint(0, 0);
        QTest::newRow("exactly fitting") << QPoint(1846, 966) << QPoint(1846, 966);
    }
    void clampIntoArea()
    {
        QFETCH(QPoint, position);
        QFETCH(QPoint, expected);
        QCOMPARE(::clampIntoArea(position, QSize(74, 74), QRect(0, 0, 1920, 1040)), expected);
    }

    void floatingIcons()
    {
        Item it = item(m_program);
        auto w = windowWith({Group{QStringLiteral("G"), {it}}});
        QVERIFY(choose(*w, 0, ItemMenuAction::Float));
        w->itemMenu()->floatItem(0);
        QCOMPARE(w->itemMenu()->floats()->icons().size(), 2);
        QPointer<FloatIcon> first = w->itemMenu()->floats()->icons()[0];
        QPointer<FloatIcon> second = w->itemMenu()->floats()->icons()[1];
        QVERIFY(first != second && first->isVisible() && !first->parent());
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(area.contains(first->frameGeometry()));
        // Floating changes nothing in the model.
        QCOMPARE(w->model().groups()[0].items, QList<Item>{it});

        // What a floating icon opens was copied when it was made.
        Item edited = it;
        edited.path = file("a.txt");
        QVERIFY(ktr::test::writeFile(appDataDir() + "/ignored", ""));
        ItemMenuController::Hooks hooks;
        hooks.runEditDialog = [this](ShortcutEditDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("targetEdit"))->setText(file("a.txt"));
            return int(QDialog::Accepted);
        };
        w->itemMenu()->setHooks(hooks);
        QVERIFY(choose(*w, 0, ItemMenuAction::Edit));
        QCOMPARE(w->model().groups()[0].items[0].path, file("a.txt"));
        emit first->openRequested();
        QCOMPARE(m_launcher.calls.size(), 1);
        QCOMPARE(m_launcher.calls[0].program, m_program);

        emit first->removeRequested();
        QCOMPARE(w->itemMenu()->floats()->icons(), QList<FloatIcon*>{second.data()});
        QTRY_VERIFY(!first);
        QVERIFY(second);

        w->itemMenu()->floatItem(0);
        emit second->removeAllRequested();
        QVERIFY(w->itemMenu()->floats()->icons().isEmpty());
        QTRY_VERIFY(!second);
    }

    // A floating icon opens as the grid does: made in double-click mode it waits for a double click, and a
    // switch of the mode reaches the icons already floating.
    void floatingIconsFollowTheOpenMode()
    {
        auto w = windowWith({Group{QStringLiteral("G"), {item(m_program)}}});
        w->settings().singleClickOpen = false;
        w->itemMenu()->floatItem(0);
        QPointer<FloatIcon> icon = w->itemMenu()->floats()->icons().value(0);
        QVERIFY(icon && !icon->singleClickOpen());
        AppSettings single = w->settings();
        single.singleClickOpen = true;
        w->applyAppearance(single);
        QVERIFY(icon->singleClickOpen());
    }

    void floatingIconsGoWithTheWindow()
    {
        auto w = windowWith({Group{QStringLiteral("G"), {item(file("a.txt"))}}});
        w->itemMenu()->floatItem(0);
        QPointer<FloatIcon> icon = w->itemMenu()->floats()->icons().value(0);
        QVERIFY(icon);
        w.reset();
        QVERIFY(!icon);
    }

    // ---- search ----

    void searchOpensWithCtrlFAndLaunchesInTheItemsGroup()
    {
        auto w = windowWith({Group{QStringLiteral("A"), {item(file("a.txt"), QStringLiteral("Alpha"))}},
                             Group{QStringLiteral("B"), {item(m_program, QStringLiteral("Notepad"))}}});
        w->resize(680, 496);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(!w->search()->panel()); // built by the first Ctrl+F
        QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
        SearchPanel* panel = w->search()->panel();
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->geometry(), QRect((680 - 460) / 2, 64, 460, 320));
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::keyClicks(panel->edit(), QStringLiteral(" NO"));
        QTRY_COMPARE(panel->resultCount(), 1);
        panel->list()->setFocus();
        QTest::keyClicks(panel->edit(), QStringLiteral("TE "));
        QVERIFY(panel->debounceTimer()->isActive());
        QTest::keyClick(panel->list(), Qt::Key_Return); // inside the debounce
        QVERIFY(!panel->isVisible());
        QCOMPARE(w->model().currentIndex(), 1);
        QCOMPARE(m_launcher.calls.size(), 1);
        QCOMPARE(m_launcher.calls[0].program, m_program);

        // Opened again it shows the last query; Escape closes it.
        QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->edit()->text(), QStringLiteral(" NOTE "));
        QCOMPARE(panel->resultCount(), 1);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
    }

    // The gear menu opens without taking the keyboard: Escape pressed in the panel closes it, wherever the
    // focus is.
    void escapeClosesTheGearMenu()
    {
        auto w = windowWith({Group{QStringLiteral("G"), {item(file("a.txt"))}}});
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        for (QWidget* target : {static_cast<QWidget*>(w.get()), static_cast<QWidget*>(w->iconGrid())}) {
            w->titleBar()->showGearMenu();
            QVERIFY(w->titleBar()->gearMenu()->isVisible());
            QTest::keyClick(target, Qt::Key_Escape);
            QVERIFY(!w->titleBar()->gearMenu()->isVisible());
        }
    }
};

KTR_TEST_MAIN(TestMainWindowMenu)
#include "tst_mainwindow_menu.moc"
