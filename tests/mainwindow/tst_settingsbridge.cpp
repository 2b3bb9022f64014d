// The settings dialog's bridge on its own: a locked panel opens no dialog, the dialog is built from the live
// record and the folder of the window's files, its update check reads the saved channel while no dialog is
// open, and a backup file exported and imported again brings back the layout and the settings and runs the
// window's reload steps in their order (nothing at all when the import is declined).
#include "mainwindow/settingsbridge.h"
#include "mainwindow/startuplayout.h"
#include "mainwindow/windowfiles.h"
#include "model/panelmodel.h"
#include "testenv.h"
#include "ui/appsettings.h"
#include "ui/dialogseams.h"

#include <QFileInfo>
#include <QWidget>
#include <QtTest/QtTest>

#include <memory>

namespace {

struct Fixture
{
    QString dir;
    QWidget window;
    PanelModel model;
    AppSettings settings;
    std::unique_ptr<WindowFiles> files;
    std::unique_ptr<SettingsBridge> bridge;
    bool locked = false;
    QStringList steps;  // the window's steps the bridge ran, in order
    QList<bool> checks; // the update checks asked for: beta or not
    int guardedImports = 0;
    int factoryCalls = 0;
    SettingsBridge::DialogArgs args;

    explicit Fixture(const QString& name) : dir(ktr::test::freshDir(name))
    {
        WindowFiles::Host fileHost;
        fileHost.model = &model;
        fileHost.settings = &settings;
        files = std::make_unique<WindowFiles>(std::move(fileHost), nullptr, dir);
        files->startupLayout()->take();

        SettingsBridge::Host host;
        host.window = &window;
        host.settings = &settings;
        host.model = &model;
        host.files = files.get();
        host.locked = [this] { return locked; };
        host.toast = [](const QString&, Toast::Kind) {};
        host.checkUpdate = [this](bool beta) { checks.append(beta); };
        const auto step = [this](const char* name) { return [this, name] { steps.append(QLatin1String(name)); }; };
        host.preview = [this](const AppSettings&) { steps.append(QStringLiteral("preview")); };
        host.applySettings = step("applySettings");
        host.settingsReloaded = step("settingsReloaded");
        host.refreshLockButtons = step("refreshLockButtons");
        host.loadAuth = step("loadAuth");
        host.refreshGridIcons = step("refreshGridIcons");
        host.repaintPanels = step("repaintPanels");
        host.guardImport = [this](AppSettings&) { ++guardedImports; };
        bridge = std::make_unique<SettingsBridge>(std::move(host));
        bridge->setDialogFactory([this](const SettingsBridge::DialogArgs& a) -> SettingsDialog* {
            ++factoryCalls;
            args = a;
            return nullptr; // the callbacks are watched without a dialog
        });
    }
};

} // namespace

class TestSettingsBridge : public QObject
{
    Q_OBJECT

private slots:
    void dialogBuiltFromTheLiveRecord_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<int>("savedChannel");
        QTest::addColumn<bool>("beta");
        QTest::newRow("stable channel") << false << 0 << false;
        QTest::newRow("beta channel") << false << 1 << true;
        QTest::newRow("unknown channel") << false << 2 << false;
        QTest::newRow("locked panel") << true << 1 << true;
    }

    void dialogBuiltFromTheLiveRecord()
    {
        QFETCH(bool, locked);
        QFETCH(int, savedChannel);
        QFETCH(bool, beta);
        Fixture f(QStringLiteral("open"));
        f.locked = locked;
        f.settings.updateChannel = savedChannel;
        f.bridge->open();
        QCOMPARE(f.factoryCalls, locked ? 0 : 1);
        QVERIFY(!f.bridge->dialog());
        if (locked)
            return;
        QCOMPARE(f.args.settings, &f.settings);
        QCOMPARE(f.args.groups, &f.model.groups());
        QCOMPARE(QFileInfo(f.args.dataDir).canonicalFilePath(), QFileInfo(f.dir).canonicalFilePath());
        f.args.onCheckUpdate();
        QCOMPARE(f.checks, QList<bool>{beta});
    }

    void backupFileRoundTrip_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("import confirmed") << 1;
        QTest::newRow("import declined") << 0;
        QTest::newRow("question closed") << -1;
    }

    void backupFileRoundTrip()
    {
        QFETCH(int, answer);
        Fixture f(QStringLiteral("backup"));
        const QString backup = f.dir + QStringLiteral("/backup.json");
        f.model.replaceGroups({Group{QStringLiteral("Exported"), {}}});
        QVERIFY(f.files->saveLayout());
        f.settings.customTitle = QStringLiteral("Exported");
        QVERIFY(f.files->saveSettings());

        ktr::dialogs::Seams seams;
        seams.saveFile = [&backup](QWidget*, const QString&, const QString&, const QString&) { return backup; };
        seams.openFile = [&backup](QWidget*, const QString&, const QString&, const QString&) { return backup; };
        seams.question = [answer](QWidget*, const QString&, const QString&) { return answer; };
        ktr::dialogs::ScopedSeams scoped(seams);
        f.bridge->exportUserData();
        QVERIFY(QFileInfo(backup).isFile());

        // Changed and saved after the export: the import brings back what was exported.
        f.model.replaceGroups({Group{QStringLiteral("Later"), {}}});
        QVERIFY(f.files->saveLayout());
        f.settings.customTitle = QStringLiteral("Later");
        QVERIFY(f.files->saveSettings());
        f.bridge->importUserData();

        const bool imported = answer == 1;
        QCOMPARE(f.model.groups().first().name, imported ? QStringLiteral("Exported") : QStringLiteral("Later"));
        QCOMPARE(f.settings.customTitle, imported ? QStringLiteral("Exported") : QStringLiteral("Later"));
        QCOMPARE(f.guardedImports, imported ? 1 : 0);
        const QStringList steps = {"settingsReloaded", "applySettings",    "refreshLockButtons",
                                   "loadAuth",         "refreshGridIcons", "repaintPanels"};
        QCOMPARE(f.steps, imported ? steps : QStringList());
    }
};

KTR_TEST_MAIN(TestSettingsBridge)
#include "tst_settingsbridge.moc"
