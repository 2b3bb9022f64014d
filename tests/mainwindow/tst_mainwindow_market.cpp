// The panel's side of the app market: the market group (in both languages, never twice), and the whole
// road against the fake service host: open the market, install, the icon in the panel, launch, uninstall.
#include "account/logindialog.h"
#include "account/sessioncontroller.h"
#include "fakeservicehost.h"
#include "lock/lockcontroller.h"
#include "lock/passwordhash.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/windowonline.h"
#include "market/appmarketdialog.h"
#include "market/marketfiles.h"
#include "market/marketinstall.h"
#include "marketstate.h"
#include "panel/sidebar.h"
#include "platform/ziparchive.h"
#include "servicehoststate.h"
#include "ui/lang.h"
#include "ui/uibtn.h"
#include "windowfixture.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QLineEdit>
#include <QSignalSpy>

#include <sys/stat.h>

using namespace ktr::test;

namespace {

int groupIndex(MainWindow& w, const QString& name)
{
    for (int i = 0; i < w.model().groups().size(); ++i) {
        if (w.model().groups()[i].name == name)
            return i;
    }
    return -1;
}

// The events the fake service host recorded for an app, in order.
QStringList reportedEvents(const QString& state, const QString& appId)
{
    QStringList events;
    const QList<QByteArray> lines = readFile(state + "/appstat.jsonl").split('\n');
    for (const QByteArray& l : lines) {
        const QJsonObject o = QJsonDocument::fromJson(l).object();
        if (o.value("app_id").toString() == appId)
            events << o.value("event").toString();
    }
    return events;
}

} // namespace

class TestMainWindowMarket : public QObject
{
    Q_OBJECT

    RecordingLauncher m_launcher;
    std::unique_ptr<ktr::dialogs::ScopedSeams> m_seams;
    QStringList m_questions;
    QStringList m_informations;
    bool m_answer = true;
    QString m_files;

    std::unique_ptr<MainWindow> makeWindow()
    {
        installSeams(m_seams, recordingSeams(&m_questions, &m_answer, &m_informations));
        return std::make_unique<MainWindow>();
    }
    QString exe(const QString& rel)
    {
        const QString path = m_files + u'/' + rel;
        writeFile(path, "#!/bin/sh\n");
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_files = freshDir(QStringLiteral("files"));
        ktr::platform::setLauncher(&m_launcher);
    }
    void cleanupTestCase()
    {
        ktr::platform::setLauncher(nullptr);
        m_seams.reset();
    }
    void init()
    {
        QFile::remove(layoutFile());
        m_launcher.calls.clear();
        Lang::setLanguage(0);
    }

    // One market group: found by what it is, not by its name, so a rename keeps it and a switch of the language
    // makes no second one; its default name is stored untranslated and shown in the language shown, as the
    // default groups' names are. Groups of older layouts (by either name, or the community group) are taken over.
    void marketGroup_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QStringList>("groupsBefore");
        QTest::addColumn<QString>("renameTo"); // the user renames the market group after the first install
        QTest::addColumn<QString>("expectedGroup");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("groupCount");
        QTest::newRow("zh, none yet") << 0 << QStringList{"A"} << ""
                                      << "应用市场"
                                      << "应用市场" << 2;
        QTest::newRow("en, none yet") << 1 << QStringList{"A"} << ""
                                      << "应用市场"
                                      << "App Market" << 2;
        QTest::newRow("en, made in English earlier") << 1 << QStringList{"A", "App Market"} << ""
                                                     << "应用市场"
                                                     << "App Market" << 2;
        QTest::newRow("en, stored in Chinese") << 1 << QStringList{"应用市场", "A"} << ""
                                               << "应用市场"
                                               << "App Market" << 2;
        QTest::newRow("zh, made in English earlier") << 0 << QStringList{"App Market", "A"} << ""
                                                     << "应用市场"
                                                     << "应用市场" << 2;
        QTest::newRow("community taken over") << 0 << QStringList{"A", "社区应用"} << ""
                                              << "应用市场"
                                              << "应用市场" << 2;
        QTest::newRow("community taken over, en") << 1 << QStringList{"社区应用"} << ""
                                                  << "应用市场"
                                                  << "App Market" << 1;
        QTest::newRow("renamed, zh") << 0 << QStringList{"A"} << "我的软件"
                                     << "我的软件"
                                     << "我的软件" << 2;
        QTest::newRow("renamed, en") << 1 << QStringList{"A"} << "Tools"
                                     << "Tools"
                                     << "Tools" << 2;
    }
    void marketGroup()
    {
        QFETCH(int, language);
        QFETCH(QStringList, groupsBefore);
        QFETCH(QString, renameTo);
        QFETCH(QString, expectedGroup);
        QFETCH(QString, shown);
        QFETCH(int, groupCount);
        QList<Group> groups;
        for (const QString& g : groupsBefore)
            groups.append(Group{g, g == "社区应用" ? QList<Item>{item(exe("old/keep.exe"))} : QList<Item>{}});
        writeLayout(groups);
        auto w = makeWindow();
        // The window takes the language of its settings; the UI language of the case comes after.
        Lang::setLanguage(language);
        w->online()->openAppMarket();
        AppMarketDialog* market = w->online()->appMarket();
        const QString first = exe("one/One.exe");
        Q_EMIT market->addToPanelRequested("One", first);
        if (!renameTo.isEmpty())
            w->onRenameGroup(w->model().currentIndex(), renameTo);
        // A second install: same group, never a second one.
        Q_EMIT market->addToPanelRequested("Two", exe("two/two.exe"));
        QCOMPARE(w->model().groups().size(), groupCount);
        const int g = groupIndex(*w, expectedGroup);
        QVERIFY(g >= 0);
        QCOMPARE(w->model().currentIndex(), g);
        QCOMPARE(Lang::tr(w->model().groups()[g].name), shown);
        const QList<Item>& items = w->model().groups()[g].items;
        QCOMPARE(items.last().name, QStringLiteral("Two"));
        QCOMPARE(items.at(items.size() - 2).path, first);
        if (groupsBefore.contains("社区应用"))
            QCOMPARE(items.first().name, QStringLiteral("keep"));
        QCOMPARE(savedGroups(), w->model().groups());
        QCOMPARE(toastText(*w), Lang::tr("「%1」安装完成，图标已放入「应用市场」分类").arg("Two"));
        // After a switch of the language the next install still finds it, and it shows the other name.
        Lang::setLanguage(1 - language);
        Q_EMIT market->addToPanelRequested("Three", exe("three/three.exe"));
        QCOMPARE(w->model().groups().size(), groupCount);
        QCOMPARE(w->model().groups()[g].items.last().name, QStringLiteral("Three"));
        if (renameTo.isEmpty())
            QCOMPARE(Lang::tr(w->model().groups()[g].name), Lang::tr("应用市场"));
        w->close();
        market->close();
    }

    // Escape closes the market as it closes the panel's other windows, also from its search field.
    void escapeClosesTheMarket()
    {
        writeLayout({Group{"A", {}}});
        auto w = makeWindow();
        w->online()->openAppMarket();
        AppMarketDialog* market = w->online()->appMarket();
        QVERIFY(market->isVisible());
        QLineEdit* search = market->findChild<QLineEdit*>();
        QTest::keyClick(search ? static_cast<QWidget*>(search) : market, Qt::Key_Escape);
        QVERIFY(!market->isVisible());
        w->online()->openAppMarket();
        QVERIFY(market->isVisible());
        QTest::keyClick(market, Qt::Key_Escape);
        QVERIFY(!market->isVisible());
        w->close();
    }

    void addCases()
    {
        writeLayout({Group{"A", {}}});
        auto w = makeWindow();
        w->online()->openAppMarket();
        AppMarketDialog* market = w->online()->appMarket();
        market->close();
        const QString upper = exe("caps/TOOL.EXE");
        Q_EMIT market->addToPanelRequested("", upper);
        const int g = groupIndex(*w, "应用市场");
        QCOMPARE(w->model().groups()[g].items.last().path, upper);
        QCOMPARE(w->model().groups()[g].items.last().name, QStringLiteral("TOOL"));
        QCOMPARE(toastText(*w), Lang::tr("「%1」安装完成，图标已放入「应用市场」分类").arg("TOOL"));
        // Same path again: refused.
        Q_EMIT market->addToPanelRequested("Tool", upper);
        QCOMPARE(w->model().groups()[g].items.size(), 1);
        QCOMPARE(toastText(*w), Lang::tr("「%1」已安装在「应用市场」分类中").arg("Tool"));
        // A folder with one program: that one.
        const QString inFolder = exe("folder/only.exe");
        writeFile(m_files + "/folder/readme.txt", "x");
        Q_EMIT market->addToPanelRequested("Only", m_files + "/folder");
        QCOMPARE(w->model().groups()[g].items.last().path, inFolder);
        // No program at all.
        Q_EMIT market->addToPanelRequested("None", m_files + "/folder/readme.txt.missing/none");
        QCOMPARE(toastText(*w), Lang::tr("未找到可执行文件，「%1」添加失败").arg("None"));
        QCOMPARE(w->model().groups()[g].items.size(), 2);
    }

    // The interface lock covers the market too: engaging it hides the window, it can't be opened again,
    // and nothing that still reaches it (a click, a menu entry, a signal) launches or changes the panel.
    // Lifting the lock gives the market back.
    void lockedPanelMarketDoesNothing()
    {
        QVERIFY(writeFile(appsRootDir() + "/locked/x.exe", "#!/bin/sh\nexit 0\n"));
        QVERIFY(QFile::setPermissions(appsRootDir() + "/locked/x.exe",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QString why;
        QVERIFY2(writeAppsRegistry(appsRegistryPath(), appsRootDir(), {{"locked", {"1.0", "x.exe"}}}, &why),
                 qPrintable(why));
        writeLayout({Group{"A", {}}});
        auto w = makeWindow();
        w->settings().protectPasswordHash = makePasswordHash(QStringLiteral("s3cret"), 1);
        w->online()->openAppMarket();
        AppMarketDialog* market = w->online()->appMarket();
        QVERIFY(market->isVisible());
        MarketCatalogue::AppRow row;
        row.id = "locked";
        row.name = "Demo";
        row.version = row.installedVersion = "1.0";
        row.launch = "x.exe";
        market->catalogue().rows.append(row);
        const auto entries = market->itemMenuEntries(row);
        QCOMPARE(entries.at(0).text, Lang::tr("打开"));
        QCOMPARE(entries.at(4).text, Lang::tr("添加到面板"));

        w->onUiButton(UiBtn::Lock);
        QVERIFY(w->settings().uiLocked);
        QVERIFY(!market->isVisible());
        w->online()->openAppMarket(); // a way around the bar's gate
        QVERIFY(!market->isVisible());
        QVERIFY(!market->launchApp("locked"));
        entries.at(0).run();
        entries.at(4).run();
        Q_EMIT market->addToPanelRequested("Demo", appsRootDir() + "/locked/x.exe");
        QVERIFY(m_launcher.calls.isEmpty());
        QCOMPARE(w->model().groups().size(), 1);
        QCOMPARE(savedGroups().size(), 1);

        // The market button asks to unlock instead.
        w->onUiButton(UiBtn::Market);
        QVERIFY(!market->isVisible());
        QVERIFY(w->lockController()->overlay() && w->lockController()->overlay()->isInputMode());
        w->lockController()->overlay()->passwordEdit()->setText(QStringLiteral("s3cret"));
        w->lockController()->overlay()->submitPassword();
        QTRY_VERIFY(!w->settings().uiLocked); // the password is checked on a worker
        entries.at(0).run();
        QCOMPARE(m_launcher.calls.size(), 1);
        entries.at(4).run();
        QCOMPARE(w->model().groups().size(), 2);
        w->online()->openAppMarket();
        QVERIFY(market->isVisible());
        market->close();
        QVERIFY(QDir(appsRootDir()).removeRecursively());
    }

    // The manifest names the launch target inside the app's folder: on this system a script or a program of
    // any name, not only an ".exe".
    void installLaunchUninstallAgainstTheService_data()
    {
        QTest::addColumn<QString>("launch");
        QTest::newRow("exe") << "x.exe";
        QTest::newRow("script") << "run.sh";
        QTest::newRow("program without a dot") << "start";
    }
    void installLaunchUninstallAgainstTheService()
    {
        QFETCH(QString, launch);
        const QString state = freshDir("state");
        const QString pkgSrc = freshDir("pkgsrc");
        QVERIFY(writeFile(pkgSrc + "/" + launch, "#!/bin/sh\nexit 0\n"));
        QCOMPARE(::chmod(QFile::encodeName(pkgSrc + "/" + launch).constData(), 0755), 0);
        const QString package = freshDir("zipout") + "/demo.zip";
        {
            ktr::platform::ZipWriter zw;
            QVERIFY(zw.open(package, nullptr));
            QVERIFY(zw.addFile(launch, pkgSrc + "/" + launch, {}, nullptr));
            QVERIFY(zw.finish(nullptr));
        }
        const QByteArray bytes = readFile(package);
        QVERIFY(writeMarketState(state, "demo", "Demo", bytes, launch));
        QVERIFY(writeFile(state + "/accounts.json", R"({"users": [{"username": "alice", "password": "secret66"}]})"));
        FakeServiceHost host(FakeServiceHost::Scheme::Http);
        ServiceHostState model(state);
        model.install(host);
        QVERIFY(host.listen());
        qputenv("KTR_SERVICE_HOST", host.baseUrl().toString().toUtf8());

        writeLayout({Group{"A", {}}});
        auto w = makeWindow();
        w->online()->openAppMarket();
        AppMarketDialog* market = w->online()->appMarket();
        QVERIFY(market->isVisible());
        // Signed out: "安装" asks for the login, and the install goes on once it is made.
        int logins = 0;
        w->session()->setLoginRunner([&](LoginDialog& d) {
            ++logins;
            d.setCredentials("alice", "secret66", false);
            QSignalSpy done(&d, &QDialog::finished);
            d.submit();
            if (done.isEmpty() && !done.wait(5000))
                return int(QDialog::Rejected);
            return d.result();
        });
        QTRY_VERIFY(market->catalogue().indexLoaded && market->catalogue().findRow("demo"));
        // The catalogue's picture of the app, as it arrives with the card.
        QImage picture(32, 32, QImage::Format_ARGB32);
        picture.fill(QColor(0x20, 0xA0, 0x60));
        market->catalogue().findRow("demo")->icon = QPixmap::fromImage(picture);
        // The install button of the card, clicked.
        QImage img(market->size(), QImage::Format_ARGB32_Premultiplied);
        market->render(&img);
        QRect button;
        for (const auto& h : market->hitAreas()) {
            if (h.code == 0 * 256 + AppMarketDialog::MainButton)
                button = h.rect;
        }
        QVERIFY(!button.isEmpty());
        QVERIFY(QTest::qWaitForWindowExposed(market));
        QTest::mouseClick(market, Qt::LeftButton, {}, button.center());
        QCOMPARE(logins, 1);
        QVERIFY(!market->token().isEmpty());
        const QString launchFile = QDir::toNativeSeparators(appsRootDir() + "/demo/" + launch);
        QTRY_VERIFY_WITH_TIMEOUT(groupIndex(*w, "应用市场") >= 0, 15000);
        const int g = groupIndex(*w, "应用市场");
        QCOMPARE(w->model().groups()[g].items.size(), 1);
        QCOMPARE(w->model().groups()[g].items[0].path, launchFile);
        QCOMPARE(market->catalogue().findRow("demo")->installedVersion, QStringLiteral("1.0"));
        QVERIFY(QFileInfo(launchFile).permissions() & QFile::ExeOwner);
        QTRY_COMPARE(reportedEvents(state, "demo"), QStringList{"install"});
        // The launcher on the desktop shows the catalogue's picture.
        const QString entry = readFile(desktopFolder() + "/" + desktopEntryFileName("Demo"));
        QVERIFY2(entry.contains("\nIcon=" + appsRootDir() + "/demo/.market-icon.png\n"), qPrintable(entry));
        // That launcher collected into the panel as well.
        Q_EMIT w->sidebar()->desktopSyncRequested();
        const QString desktopEntry = QDir::toNativeSeparators(desktopFolder() + "/" + desktopEntryFileName("Demo"));
        auto pointsAtEntry = [&] {
            for (const Group& group : w->model().groups())
                for (const Item& it : group.items)
                    if (it.path == desktopEntry)
                        return true;
            return false;
        };
        QVERIFY(pointsAtEntry());

        // Launched from the panel: started, and reported.
        QCOMPARE(w->model().currentIndex(), g);
        w->onItemActivated(0);
        QCOMPARE(m_launcher.calls.size(), 1);
        QCOMPARE(m_launcher.calls[0].program, launchFile);
        QTRY_COMPARE(reportedEvents(state, "demo"), (QStringList{"install", "launch"}));

        // Uninstalled through the card menu: folder and icon gone, reported.
        const auto entries = market->itemMenuEntries(*market->catalogue().findRow("demo"));
        QCOMPARE(entries.at(3).text, Lang::tr("卸载"));
        entries.at(3).run();
        QVERIFY(!QFileInfo::exists(appsRootDir() + "/demo"));
        QVERIFY(!QFileInfo::exists(desktopEntry));
        QVERIFY2(!pointsAtEntry(), "the collected desktop entry stays as a dead item");
        QVERIFY(w->model().groups()[g].items.isEmpty());
        QVERIFY(savedGroups()[g].items.isEmpty());
        QCOMPARE(market->catalogue().findRow("demo")->installedVersion, QString());
        QTRY_COMPARE(reportedEvents(state, "demo"), (QStringList{"install", "launch", "uninstall"}));
        qunsetenv("KTR_SERVICE_HOST");
    }
};

KTR_TEST_MAIN(TestMainWindowMarket)
#include "tst_mainwindow_market.moc"
