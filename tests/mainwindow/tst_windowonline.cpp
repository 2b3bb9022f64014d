// The online side of the window without a service: what a market install puts into the panel (the program
// found, never twice, nothing while locked), what an uninstall takes out of it, and the two windows that say
// why they do not open.
#include "mainwindow/windowonline.h"
#include "model/panelmodel.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"
#include "ui/servicehost.h"

#include <QDir>
#include <QFile>
#include <QWidget>
#include <QtTest/QtTest>

#include <memory>

namespace {

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

Item item(const QString& path)
{
    Item out;
    out.path = path;
    out.name = QFileInfo(path).completeBaseName();
    return out;
}

struct Fixture
{
    QWidget window;
    PanelModel model;
    bool locked = false;
    QStringList toasts;
    QStringList shown; // "group path" of each app shown after an add
    int repaints = 0;
    std::unique_ptr<WindowOnline> online;

    Fixture()
    {
        WindowOnline::Host host;
        host.window = &window;
        host.model = &model;
        host.toast = [this](const QString& text, Toast::Kind) { toasts << text; };
        host.reportSaveFailure = [](const QString&, const QString&) {};
        host.locked = [this] { return locked; };
        host.setBadgeCount = [](int) {};
        host.showAdded = [this](int group, const QString& path) {
            shown << QStringLiteral("%1 %2").arg(group).arg(path);
        };
        host.repaint = [this] { ++repaints; };
        online = std::make_unique<WindowOnline>(std::move(host));
    }
};

} // namespace

class TestWindowOnline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A build without an address, whatever address this build carries.
        ktr::setDefaultServiceHostForTesting(QUrl());
        qunsetenv("KTR_SERVICE_HOST");
        QVERIFY(!ktr::serviceConfigured());
    }

    void installGoesIntoTheMarketGroup_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("files"); // below a fresh folder
        QTest::addColumn<QString>("target");    // what the market hands over, below that folder
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("added"); // the path put into the panel, empty for none
        QTest::addColumn<QString>("itemName");

        QTest::newRow("a program file as it is")
            << "One" << QStringList{"one/run.sh"} << "one/run.sh" << false << "one/run.sh"
            << "One";
        QTest::newRow("a folder: its program")
            << "Two" << QStringList{"two/readme.txt", "two/Two.exe"} << "two" << false << "two/Two.exe"
            << "Two";
        QTest::newRow("a folder without a program") << "Three" << QStringList{"three/readme.txt", "three/three.exe.txt"}
                                                    << "three" << false << QString() << QString();
        QTest::newRow("gone before it was added")
            << "Four" << QStringList{} << "four/Four.exe" << false << QString() << QString();
        QTest::newRow("no name: the program's own")
            << "" << QStringList{"five/Five.exe"} << "five/Five.exe" << false << "five/Five.exe"
            << "Five";
        QTest::newRow("locked panel") << "Six" << QStringList{"six/Six.exe"} << "six/Six.exe" << true << QString()
                                      << QString();
    }
    void installGoesIntoTheMarketGroup()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, files);
        QFETCH(QString, target);
        QFETCH(bool, locked);
        QFETCH(QString, added);
        QFETCH(QString, itemName);
        const QString root = ktr::test::freshDir(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'));
        for (const QString& file : files)
            touch(root + '/' + file);
        Fixture f;
        f.model.replaceGroups({Group{QStringLiteral("Tools"), {item(root + "/tool.sh")}}});
        f.locked = locked;

        f.online->onAppInstalled(name, root + '/' + target);

        if (locked) {
            // Refused before anything changes: not even the market group is made.
            QCOMPARE(f.model.groups().size(), 1);
            QVERIFY(f.toasts.isEmpty());
            QVERIFY(f.shown.isEmpty());
            return;
        }
        QCOMPARE(f.model.groups().size(), 2);
        const Group& market = f.model.groups().at(1);
        QCOMPARE(market.name, QString::fromUtf8(kMarketGroupName));
        QCOMPARE(f.model.groups().at(0).items.size(), 1);
        if (added.isEmpty()) {
            QVERIFY(market.items.isEmpty());
            QVERIFY(f.shown.isEmpty());
            QCOMPARE(f.toasts, QStringList{Lang::tr("未找到可执行文件，「%1」添加失败").arg(name)});
            return;
        }
        QCOMPARE(market.items.size(), 1);
        QCOMPARE(market.items.at(0).path, root + '/' + added);
        QCOMPARE(market.items.at(0).name, itemName);
        QCOMPARE(f.shown, QStringList{QStringLiteral("1 ") + root + '/' + added});
        QCOMPARE(f.toasts, QStringList{Lang::tr("「%1」安装完成，图标已放入「应用市场」分类").arg(itemName)});

        // The market asks again (a second install of the same app): the icon is there already.
        f.toasts.clear();
        f.online->onAppInstalled(name, root + '/' + target);
        QCOMPARE(f.model.groups().at(1).items.size(), 1);
        QCOMPARE(f.shown.size(), 1);
        QCOMPARE(f.toasts, QStringList{Lang::tr("「%1」已安装在「应用市场」分类中").arg(name)});
    }

    void uninstallTakesItsIcons_data()
    {
        QTest::addColumn<QString>("appId");
        QTest::addColumn<bool>("withEntry");
        QTest::addColumn<QStringList>("left"); // names of the items that stay

        QTest::newRow("the app's own icons") << "foo" << false << QStringList{"foobar", "entry", "other"};
        QTest::newRow("and the one of its desktop entry") << "foo" << true << QStringList{"foobar", "other"};
        // An id that only begins like another app's is another app.
        QTest::newRow("one letter short of another app")
            << "fooba" << false << QStringList{"foo", "foo2", "foobar", "entry", "other"};
        QTest::newRow("no app named") << "" << true << QStringList{"foo", "foo2", "foobar", "entry", "other"};
    }
    void uninstallTakesItsIcons()
    {
        QFETCH(QString, appId);
        QFETCH(bool, withEntry);
        QFETCH(QStringList, left);
        const QString apps = appDataDir() + QStringLiteral("/apps/");
        const QString entry = ktr::test::testRoot() + QStringLiteral("/applications/foo.desktop");
        Fixture f;
        Item own = item(apps + "foo/bin/foo");
        Item second = item(apps + "foo/tools/foo2.sh");
        Item another = item(apps + "foobar/foobar");
        Item fromEntry = item(entry);
        fromEntry.name = QStringLiteral("entry");
        Item other = item(ktr::test::testRoot() + QStringLiteral("/other"));
        f.model.replaceGroups(
            {Group{QStringLiteral("A"), {own, another}}, Group{QStringLiteral("B"), {fromEntry, second, other}}});

        f.online->onAppUninstalled(appId, apps + appId, withEntry ? entry : QString());

        QStringList names;
        for (const Group& g : f.model.groups()) {
            for (const Item& i : g.items)
                names << i.name;
        }
        names.sort();
        left.sort();
        QCOMPARE(names, left);
        QCOMPARE(f.repaints, names.size() < 5 ? 1 : 0);
    }

    void windowsNeedAService()
    {
        Fixture f;
        f.online->openAppMarket();
        f.online->openSupportChat();
        QCOMPARE(f.toasts, (QStringList{ktr::noServiceText(), ktr::noServiceText()}));
        QVERIFY(!f.online->appMarket());
        QVERIFY(!f.online->supportChat());
    }
};

KTR_TEST_MAIN(TestWindowOnline)
#include "tst_windowonline.moc"
