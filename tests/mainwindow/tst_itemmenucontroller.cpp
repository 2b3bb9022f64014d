// The item menu's controller on its own: a menu only for an item of the current group, an entry that acts only
// on the item the menu was opened for (never on another one that took its place meanwhile), and floating
// icons that launch what their item was when floated and go with their window.
#include "mainwindow/floatingicons.h"
#include "mainwindow/itemmenu.h"
#include "mainwindow/itemmenucontroller.h"
#include "model/panelmodel.h"
#include "panel/floaticon.h"
#include "testenv.h"
#include "ui/appsettings.h"

#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <QtTest/QtTest>

#include <memory>

namespace {

Item itemAt(const QString& path)
{
    Item i;
    i.path = path;
    i.name = QFileInfo(path).completeBaseName();
    return i;
}

// A window, a model of two groups (A: a.txt, b.txt; B: c.txt) and what the controller asked of the window.
struct Fixture
{
    QString dir;
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    PanelModel model;
    AppSettings settings;
    QStringList launched;
    std::unique_ptr<ItemMenuController> menu;

    explicit Fixture(const QString& name) : dir(ktr::test::freshDir(name))
    {
        for (const char* file : {"a.txt", "b.txt", "c.txt"})
            ktr::test::writeFile(path(file), "x");
        model.replaceGroups({Group{QStringLiteral("A"), {itemAt(path("a.txt")), itemAt(path("b.txt"))}},
                             Group{QStringLiteral("B"), {itemAt(path("c.txt"))}}});
        model.setCurrentGroup(0);
        ItemMenuController::Host host;
        host.window = window.get();
        host.model = &model;
        host.settings = &settings;
        host.toast = [](const QString&, Toast::Kind) {};
        host.launch = [this](const Item& item) { launched.append(item.path); };
        host.saveLayout = [] { return true; };
        host.queueIcon = [](const QString&) {};
        host.refreshInvalid = [] {};
        menu = std::make_unique<ItemMenuController>(std::move(host));
    }
    QString path(const char* file) const { return dir + QLatin1Char('/') + QLatin1String(file); }
    QStringList paths(int group) const
    {
        QStringList out;
        for (const Item& item : model.groups()[group].items)
            out.append(item.path);
        return out;
    }
};

} // namespace

class TestItemMenuController : public QObject
{
    Q_OBJECT

private slots:
    void menuOnlyForAnItemOfTheCurrentGroup_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("built");
        QTest::newRow("first item") << 0 << 0 << true;
        QTest::newRow("last item") << 0 << 1 << true;
        QTest::newRow("one past the last") << 0 << 2 << false;
        QTest::newRow("negative") << 0 << -1 << false;
        QTest::newRow("index of the other group's only item, group switched") << 1 << 0 << true;
        QTest::newRow("second item while a one-item group shows") << 1 << 1 << false;
    }

    void menuOnlyForAnItemOfTheCurrentGroup()
    {
        QFETCH(int, group);
        QFETCH(int, index);
        QFETCH(bool, built);
        Fixture f(QStringLiteral("build"));
        f.model.setCurrentGroup(group);
        std::unique_ptr<QMenu> menu(f.menu->build(index));
        QCOMPARE(menu != nullptr, built);
        if (menu)
            QVERIFY(findItemMenuAction(menu.get(), ItemMenuAction::Remove));
    }

    void entryActsOnlyOnItsItem_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QStringList>("groupA"); // file names left in group A
        QTest::newRow("nothing changed") << QString() << QStringList{"b.txt"};
        QTest::newRow("its item removed, the next moved into its place")
            << QStringLiteral("remove") << QStringList{"b.txt"};
        QTest::newRow("the other group shown") << QStringLiteral("switch") << QStringList{"a.txt", "b.txt"};
        QTest::newRow("its item's path one letter off") << QStringLiteral("rename") << QStringList{"a.txu", "b.txt"};
    }

    void entryActsOnlyOnItsItem()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, groupA);
        Fixture f(QStringLiteral("stale"));
        std::unique_ptr<QMenu> menu(f.menu->build(0));
        QVERIFY(menu);
        if (meanwhile == QLatin1String("remove"))
            f.model.removeItem(0, 0);
        else if (meanwhile == QLatin1String("switch"))
            f.model.setCurrentGroup(1);
        else if (meanwhile == QLatin1String("rename"))
            f.model.editItem(0, 0, [&f](Item& item) { item.path = f.path("a.txu"); });
        f.menu->run(findItemMenuAction(menu.get(), ItemMenuAction::Remove));
        QStringList expected;
        for (const QString& name : groupA)
            expected.append(f.dir + QLatin1Char('/') + name);
        QCOMPARE(f.paths(0), expected);
        QCOMPARE(f.paths(1), QStringList{f.path("c.txt")});
    }

    void openAndMoveActOnTheItem()
    {
        Fixture f(QStringLiteral("open"));
        std::unique_ptr<QMenu> menu(f.menu->build(1));
        f.menu->run(findItemMenuAction(menu.get(), ItemMenuAction::Open));
        QCOMPARE(f.launched, QStringList{f.path("b.txt")});
        menu.reset(f.menu->build(1));
        f.menu->run(findItemMenuAction(menu.get(), ItemMenuAction::MoveToGroup, 1));
        QCOMPARE(f.paths(0), QStringList{f.path("a.txt")});
        QCOMPARE(f.paths(1), (QStringList{f.path("c.txt"), f.path("b.txt")}));
        // No entry chosen (the menu closed): nothing happens.
        menu.reset(f.menu->build(0));
        f.menu->run(nullptr);
        QCOMPARE(f.paths(0), QStringList{f.path("a.txt")});
        QCOMPARE(f.launched.size(), 1);
    }

    void floatingIconsLaunchWhatWasFloated()
    {
        Fixture f(QStringLiteral("float"));
        f.settings.singleClickOpen = true;
        f.menu->floatItem(0);
        f.menu->floatItem(2); // none there
        f.menu->floatItem(1);
        FloatingIcons* floats = f.menu->floats();
        QCOMPARE(floats->icons().size(), 2);
        QPointer<FloatIcon> first = floats->icons()[0];
        QPointer<FloatIcon> second = floats->icons()[1];
        QVERIFY(first->singleClickOpen());
        floats->setSingleClickOpen(false);
        QVERIFY(!first->singleClickOpen() && !second->singleClickOpen());

        // The item changed after it was floated: the icon still launches what it was.
        f.model.editItem(0, 0, [&f](Item& item) { item.path = f.path("c.txt"); });
        emit first->openRequested();
        QCOMPARE(f.launched, QStringList{f.path("a.txt")});

        emit first->removeRequested();
        QCOMPARE(floats->icons(), QList<FloatIcon*>{second.data()});
        QTRY_VERIFY(!first);

        // They go with their window.
        f.window.reset();
        QVERIFY(!second);
    }

    void removeAllTakesEveryIcon()
    {
        Fixture f(QStringLiteral("removeall"));
        f.menu->floatItem(0);
        f.menu->floatItem(1);
        QPointer<FloatIcon> first = f.menu->floats()->icons().value(0);
        emit f.menu->floats()->icons().value(1)->removeAllRequested();
        QVERIFY(f.menu->floats()->icons().isEmpty());
        QTRY_VERIFY(!first);
    }
};

KTR_TEST_MAIN(TestItemMenuController)
#include "tst_itemmenucontroller.moc"
