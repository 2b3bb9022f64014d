#include "logcapture.h"
#include "model/layoutfile.h"
#include "model/settingsfile.h"
#include "model/userdatatransfer.h"
#include "storeharness.h"
#include "ui/lang.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

using ktr::test::freshDir;
using ktr::test::LogCapture;
using ktr::test::readFile;
using ktr::test::StoreHarness;
using ktr::test::writeFile;
using Status = ImportOutcome::Status;

Q_DECLARE_METATYPE(ImportOutcome::Status)

namespace {

const QByteArray kRegistry = R"({"installed": [{"id": "demo", "version": "1.2", "launch": "demo", "dir": "d"}]})";
const QByteArray kAuth = R"({"token": "secret-token-42", "user": "someone"})";

QList<Group> sampleGroups()
{
    Item item;
    item.path = QStringLiteral("/usr/bin/tool");
    item.name = QStringLiteral("工具");
    item.args = QStringLiteral("--x");
    return {Group{QStringLiteral("常用"), {item}}, Group{QStringLiteral("空"), {}}};
}

// A data folder holding a layout, settings, the market's registry and a login file.
struct DataFolder
{
    explicit DataFolder(const QString& name) : h(name), paths(userDataPaths(*h.store))
    {
        AppSettings settings;
        settings.iconSize = 70;
        h.store->saveLayout(sampleGroups());
        h.store->saveSettings(settings, QSize(640, 480));
        writeFile(paths.registry, kRegistry);
        writeFile(h.dir + QStringLiteral("/auth.json"), kAuth);
    }
    QList<QByteArray> files() const
    {
        return {readFile(paths.layout), readFile(paths.settings), readFile(paths.registry)};
    }
    StoreHarness h;
    UserDataPaths paths;
};

QByteArray backupBytes(const QJsonObject& layout, const QJsonValue& settings = QJsonValue::Undefined,
                       const QJsonValue& registry = QJsonValue::Undefined)
{
    QJsonObject o{{"app", "KestrunePanel"}, {"version", "1.0.0"}, {"layout", layout}};
    if (!settings.isUndefined())
        o.insert("settings", settings);
    if (!registry.isUndefined())
        o.insert("registry", registry);
    return QJsonDocument(o).toJson();
}

QJsonObject otherLayout()
{
    return QJsonObject{{"groups", QJsonArray{QJsonObject{{"name", "导入的"}, {"items", QJsonArray{}}}}}};
}

// Counts the calls of the two hooks; the question is answered with `answer`.
struct Hooks
{
    explicit Hooks(bool answer = true)
    {
        hooks.confirm = [this, answer] {
            ++asked;
            return answer;
        };
        hooks.reload = [this] { ++reloaded; };
    }
    ImportHooks hooks;
    int asked = 0;
    int reloaded = 0;
};

} // namespace

class TestUserDataTransfer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { Lang::setLanguage(0); }

    void exportHoldsTheThreeFilesAndNoLogin()
    {
        DataFolder d(QStringLiteral("export"));
        const QString target = freshDir(QStringLiteral("exportTarget")) + QStringLiteral("/backup.json");
        const QDateTime at(QDate(2024, 5, 1), QTime(9, 30, 5));
        LogCapture log;
        const ExportOutcome r = exportUserData(target, d.paths, at);
        QVERIFY(r.ok);
        QCOMPARE(r.toastKind, 0);
        QCOMPARE(r.message, QStringLiteral("已导出到 ") + QDir::toNativeSeparators(target));
        QVERIFY(log.contains(QStringLiteral("user data exported -> ") + target));

        const QByteArray bytes = readFile(target);
        QVERIFY(!bytes.contains("secret-token-42"));
        const QJsonObject o = QJsonDocument::fromJson(bytes).object();
        QCOMPARE(o.keys(), (QStringList{"app", "dataDir", "exportedAt", "layout", "registry", "settings", "version"}));
        QCOMPARE(o.value("dataDir").toString(), QDir::cleanPath(d.h.dir));
        QCOMPARE(o.value("app").toString(), QStringLiteral("KestrunePanel"));
        QCOMPARE(o.value("version").toString(), backupVersionString());
        QCOMPARE(o.value("exportedAt").toString(), at.toString(Qt::ISODate));
        QCOMPARE(o.value("layout").toObject(), layoutToJson(sampleGroups()));
        QCOMPARE(o.value("settings").toObject().value("iconSize").toInt(), 70);
        QCOMPARE(o.value("registry").toObject(), QJsonDocument::fromJson(kRegistry).object());

        QCOMPARE(suggestedBackupPath(QStringLiteral("/desk"), QDate(2024, 5, 1)),
                 QStringLiteral("/desk/青岚舟面板备份_20240501.json"));
    }

    void exportOfMissingOrDamagedFilesHoldsEmptyObjects()
    {
        DataFolder d(QStringLiteral("exportEmpty"));
        QFile::remove(d.paths.layout);
        writeFile(d.paths.settings, "{broken");
        writeFile(d.paths.registry, "[1, 2]");
        const QString target = freshDir(QStringLiteral("exportEmptyTarget")) + QStringLiteral("/b.json");
        QVERIFY(exportUserData(target, d.paths, QDateTime::currentDateTime()).ok);
        const QJsonObject o = QJsonDocument::fromJson(readFile(target)).object();
        for (const char* key : {"layout", "settings", "registry"}) {
            QVERIFY2(o.value(key).isObject(), key);
            QVERIFY2(o.value(key).toObject().isEmpty(), key);
        }
    }

    void exportFailureLeavesNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("below a regular file") << "belowFile";
        QTest::newRow("a folder at the target") << "folder";
    }
    void exportFailureLeavesNoFile()
    {
        QFETCH(QString, kind);
        DataFolder d(QStringLiteral("exportFail"));
        const QString dir = freshDir(QStringLiteral("exportFailTarget"));
        QString target;
        if (kind == QLatin1String("belowFile")) {
            writeFile(dir + QStringLiteral("/plain"), "x");
            target = dir + QStringLiteral("/plain/backup.json");
        } else {
            target = dir + QStringLiteral("/backup.json");
            QVERIFY(QDir().mkpath(target));
        }
        const ExportOutcome r = exportUserData(target, d.paths, QDateTime::currentDateTime());
        QVERIFY(!r.ok);
        QCOMPARE(r.toastKind, 1);
        QCOMPARE(r.message, QStringLiteral("导出失败：无法写入文件"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), kind == QLatin1String("belowFile") ? 1 : 0);
    }

    void exportThenImportRestoresTheFiles()
    {
        DataFolder d(QStringLiteral("roundtrip"));
        const QList<QByteArray> before = d.files();
        const QString backup = freshDir(QStringLiteral("roundtripBackup")) + QStringLiteral("/b.json");
        QVERIFY(exportUserData(backup, d.paths, QDateTime::currentDateTime()).ok);

        d.h.store->saveLayout({Group{QStringLiteral("后来"), {}}});
        writeFile(d.paths.registry, R"({"installed": []})");
        AppSettings changed;
        changed.iconSize = 40;
        d.h.store->saveSettings(changed, QSize(300, 200));

        Hooks hooks;
        LogCapture log;
        const ImportOutcome r = importUserData(backup, d.paths, changed, hooks.hooks);
        QCOMPARE(r.status, Status::Imported);
        QCOMPARE(r.message, QStringLiteral("数据已导入并生效"));
        QCOMPARE(r.toastKind, 0);
        QCOMPARE(hooks.asked, 1);
        QCOMPARE(hooks.reloaded, 1);
        QVERIFY(log.contains(QStringLiteral("user data imported from ") + backup));

        QList<Group> groups;
        QVERIFY(d.h.store->loadLayout(groups));
        QCOMPARE(groups, sampleGroups());
        QCOMPARE(QJsonDocument::fromJson(readFile(d.paths.registry)), QJsonDocument::fromJson(before.at(2)));
        QCOMPARE(QJsonDocument::fromJson(readFile(d.paths.settings)), QJsonDocument::fromJson(before.at(1)));
        QCOMPARE(readFile(d.h.dir + QStringLiteral("/auth.json")), kAuth);
    }

    // An open settings dialog refreshes its copy from the reported record; it must be exactly what
    // the main window's reload reads from the new file.
    void reportsTheSettingsTheReloadReads()
    {
        DataFolder d(QStringLiteral("settingsRecord"));
        AppSettings current;
        current.iconSize = 70;
        current.btnIcons[3] = QStringLiteral("/icons/kept.png");
        current.customTitle = QStringLiteral("旧标题");
        const QJsonObject imported{{"iconSize", 44}, {"customTitle", "新标题"}, {"darkTheme", true}};
        const QString backup = freshDir(QStringLiteral("settingsRecordBackup")) + QStringLiteral("/b.json");
        writeFile(backup, backupBytes(otherLayout(), imported));

        Hooks hooks;
        AppSettings reloaded = current;
        QSize size;
        hooks.hooks.reload = [&] { d.h.store->loadSettings(reloaded, size); };
        const ImportOutcome r = importUserData(backup, d.paths, current, hooks.hooks);
        QCOMPARE(r.status, Status::Imported);
        QCOMPARE(r.settings.iconSize, 44);
        QCOMPARE(r.settings.customTitle, QStringLiteral("新标题"));
        QVERIFY(r.settings.darkTheme);
        QCOMPARE(r.settings, reloaded);
    }

    // A backup of another language switches the panel to it in the reload: the message of the import is
    // read after that, in the language the panel shows now.
    void importedMessageInTheLanguageShownAfterTheReload_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("message");
        QTest::newRow("Chinese to English") << 0 << 1 << QStringLiteral("Data imported and applied");
        QTest::newRow("English to Chinese") << 1 << 0 << QStringLiteral("数据已导入并生效");
        QTest::newRow("English stays") << 1 << 1 << QStringLiteral("Data imported and applied");
    }
    void importedMessageInTheLanguageShownAfterTheReload()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QString, message);
        DataFolder d(QStringLiteral("language"));
        const QString backup = freshDir(QStringLiteral("languageBackup")) + QStringLiteral("/b.json");
        writeFile(backup, backupBytes(otherLayout(), QJsonObject{{"language", after}}));
        Lang::setLanguage(before);
        Hooks hooks;
        hooks.hooks.reload = [after] { Lang::setLanguage(after); };
        const ImportOutcome r = importUserData(backup, d.paths, AppSettings(), hooks.hooks);
        QCOMPARE(r.status, Status::Imported);
        QCOMPARE(r.message, message);
    }

    void badBackupsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // a null array: a folder in place of the file
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("导入失败：不是有效的备份文件");
        const QByteArray valid = backupBytes(otherLayout(), QJsonObject{{"iconSize", 40}});
        QByteArray tooLarge = valid;
        tooLarge.append(QByteArray(kMaxBackupBytes + 1 - valid.size(), ' '));
        QTest::newRow("one byte over 32 MiB") << tooLarge << "导入失败：备份文件过大";
        QTest::newRow("a folder") << QByteArray() << "导入失败：无法读取文件";
        QTest::newRow("empty file") << QByteArray("") << invalid;
        QTest::newRow("not JSON") << QByteArray("{\"app\": \"KestrunePanel\", ") << invalid;
        QTest::newRow("JSON array") << QByteArray("[{\"app\": \"KestrunePanel\"}]") << invalid;
        QTest::newRow("app in another case")
            << QByteArray(R"({"app": "kestrunepanel", "layout": {}, "settings": {}})") << invalid;
        QTest::newRow("app of another program")
            << QByteArray(R"({"app": "OtherPanel", "layout": {}, "settings": {}})") << invalid;
        QTest::newRow("app not a string") << QByteArray(R"({"app": 1, "layout": {}})") << invalid;
        QTest::newRow("no app") << QByteArray(R"({"layout": {}, "settings": {}})") << invalid;
        QTest::newRow("no layout") << QByteArray(R"({"app": "KestrunePanel", "settings": {}})") << invalid;
        QTest::newRow("layout an array") << QByteArray(R"({"app": "KestrunePanel", "layout": []})") << invalid;
        QTest::newRow("layout a string") << QByteArray(R"({"app": "KestrunePanel", "layout": "{}"})") << invalid;
        QTest::newRow("layout null") << QByteArray(R"({"app": "KestrunePanel", "layout": null})") << invalid;
    }
    void badBackupsChangeNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        DataFolder d(QStringLiteral("bad"));
        const QList<QByteArray> before = d.files();
        const QString backup = freshDir(QStringLiteral("badBackup")) + QStringLiteral("/b.json");
        if (bytes.isNull())
            QVERIFY(QDir().mkpath(backup));
        else
            QVERIFY(writeFile(backup, bytes));
        Hooks hooks;
        const ImportOutcome r = importUserData(backup, d.paths, AppSettings(), hooks.hooks);
        QCOMPARE(r.status, Status::Refused);
        QCOMPARE(r.message, message);
        QCOMPARE(r.toastKind, 1);
        QCOMPARE(hooks.asked, 0);
        QCOMPARE(hooks.reloaded, 0);
        QCOMPARE(d.files(), before);
        QCOMPARE(d.h.entries().size(), 4);
    }

    // A backup made on another computer: what pointed into its data folder (the items and the registry of
    // market apps, a background kept there) points into this one's, at the same place. Paths that only
    // start with the same letters, or lie elsewhere, stay as they are.
    void pathsIntoTheExportingDataFolderAreTakenOver_data()
    {
        QTest::addColumn<QString>("recorded"); // the backup's "dataDir"; empty: a backup of an earlier version
        QTest::addColumn<QString>("registryDir");
        QTest::addColumn<bool>("moved");
        const QString old = QStringLiteral("/home/other/.local/share/KestrunePanel");
        QTest::newRow("recorded folder") << old << old + "/apps/demo" << true;
        QTest::newRow("earlier backup, read off the registry") << QString() << old + "/apps/demo" << true;
        QTest::newRow("earlier backup, registry names no folder") << QString() << QStringLiteral("d") << false;
        QTest::newRow("recorded folder without a trailing part, registry elsewhere")
            << old << QStringLiteral("/opt/apps/demo") << true;
        QTest::newRow("this very folder") << QStringLiteral("=") << QStringLiteral("=/apps/demo") << false;
    }
    void pathsIntoTheExportingDataFolderAreTakenOver()
    {
        QFETCH(QString, recorded);
        QFETCH(QString, registryDir);
        QFETCH(bool, moved);
        DataFolder d(QStringLiteral("moved"));
        const QString here = QDir::cleanPath(d.h.dir);
        recorded.replace(QStringLiteral("="), here);
        registryDir.replace(QStringLiteral("="), here);
        const QString from = recorded.isEmpty() ? QStringLiteral("/home/other/.local/share/KestrunePanel") : recorded;
        const QString app = from + "/apps/demo/run.sh";
        const QString icon = from + "/icons/custom/demo.png";
        const QString nearMiss = from + "X/apps/demo/run.sh"; // the same letters, another folder
        const QString elsewhere = QStringLiteral("/usr/bin/tool");
        QJsonArray items;
        for (const QString& path : {app, nearMiss, elsewhere})
            items.append(QJsonObject{{"path", path}, {"name", "x"}, {"customIcon", path == app ? icon : QString()}});
        QJsonObject o{
            {"app", "KestrunePanel"},
            {"version", "1.0.0"},
            {"layout", QJsonObject{{"groups", QJsonArray{QJsonObject{{"name", "应用市场"}, {"items", items}}}}}},
            {"settings", QJsonObject{{"bgImagePath", from + "/backgrounds/a.png"}, {"iconSize", 64}}},
            {"registry",
             QJsonObject{
                 {"installed", QJsonArray{QJsonObject{
                                   {"id", "demo"}, {"version", "1.0"}, {"launch", "run.sh"}, {"dir", registryDir}}}}}}};
        if (!recorded.isEmpty())
            o.insert("dataDir", recorded);
        const QString backup = freshDir(QStringLiteral("movedBackup")) + QStringLiteral("/b.json");
        QVERIFY(writeFile(backup, QJsonDocument(o).toJson()));
        Hooks hooks;
        QCOMPARE(importUserData(backup, d.paths, AppSettings(), hooks.hooks).status, Status::Imported);

        const QString to = moved ? here : from;
        QList<Group> groups;
        QVERIFY(d.h.store->loadLayout(groups));
        QCOMPARE(groups.size(), 1);
        QStringList paths;
        for (const Item& it : groups[0].items)
            paths << it.path;
        QCOMPARE(paths, (QStringList{to + "/apps/demo/run.sh", nearMiss, elsewhere}));
        QCOMPARE(groups[0].items[0].customIcon, to + "/icons/custom/demo.png");
        const QJsonObject settings = QJsonDocument::fromJson(readFile(d.paths.settings)).object();
        QCOMPARE(settings.value("bgImagePath").toString(), to + "/backgrounds/a.png");
        const QJsonObject registry = QJsonDocument::fromJson(readFile(d.paths.registry)).object();
        const QString dirAfter = registry.value("installed").toArray().at(0).toObject().value("dir").toString();
        QCOMPARE(dirAfter,
                 registryDir.startsWith(from + "/") && moved ? here + registryDir.mid(from.size()) : registryDir);
    }

    void acceptedBackups_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("registryKept");
        QByteArray exact = backupBytes(otherLayout(), QJsonObject{{"iconSize", 40}});
        exact.append(QByteArray(kMaxBackupBytes - exact.size(), ' '));
        QTest::newRow("exactly 32 MiB") << exact << true;
        // Only the layout is checked: other parts of a wrong type count as empty objects.
        QTest::newRow("no settings, empty layout") << backupBytes(QJsonObject()) << true;
        QTest::newRow("settings and registry of wrong types")
            << backupBytes(otherLayout(), QJsonArray{1}, QStringLiteral("x")) << true;
        QTest::newRow("empty registry") << backupBytes(otherLayout(), QJsonObject(), QJsonObject()) << true;
        QTest::newRow("registry replaced")
            << backupBytes(otherLayout(), QJsonObject(), QJsonObject{{"installed", QJsonArray()}}) << false;
    }
    void acceptedBackups()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, registryKept);
        DataFolder d(QStringLiteral("accepted"));
        const QString backup = freshDir(QStringLiteral("acceptedBackup")) + QStringLiteral("/b.json");
        QVERIFY(writeFile(backup, bytes));
        const QJsonObject source = QJsonDocument::fromJson(bytes).object();
        Hooks hooks;
        const ImportOutcome r = importUserData(backup, d.paths, AppSettings(), hooks.hooks);
        QCOMPARE(r.status, Status::Imported);
        QCOMPARE(hooks.reloaded, 1);
        QCOMPARE(QJsonDocument::fromJson(readFile(d.paths.layout)).object(), source.value("layout").toObject());
        QCOMPARE(QJsonDocument::fromJson(readFile(d.paths.settings)).object(), source.value("settings").toObject());
        if (registryKept)
            QCOMPARE(readFile(d.paths.registry), kRegistry);
        else
            QCOMPARE(QJsonDocument::fromJson(readFile(d.paths.registry)).object(), source.value("registry").toObject());
    }

    void noAnswerChangesNothing()
    {
        DataFolder d(QStringLiteral("no"));
        const QList<QByteArray> before = d.files();
        const QString backup = freshDir(QStringLiteral("noBackup")) + QStringLiteral("/b.json");
        writeFile(backup, backupBytes(otherLayout(), QJsonObject(), QJsonObject{{"installed", QJsonArray()}}));
        Hooks hooks(false);
        const ImportOutcome r = importUserData(backup, d.paths, AppSettings(), hooks.hooks);
        QCOMPARE(r.status, Status::Cancelled);
        QVERIFY(r.message.isEmpty());
        QCOMPARE(hooks.asked, 1);
        QCOMPARE(hooks.reloaded, 0);
        QCOMPARE(d.files(), before);
    }

    // A failed write puts back every file written before it; a file that did not exist is removed.
    void failedWriteRollsBack_data()
    {
        QTest::addColumn<QString>("failing"); // "settings" or "registry": placed below a regular file
        QTest::addColumn<bool>("layoutExisted");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("message");
        const QString rolledBack = QStringLiteral("导入失败：无法写入配置文件，已回滚");
        QTest::newRow("settings fails, layout restored") << "settings" << true << Status::RolledBack << rolledBack;
        QTest::newRow("settings fails, new layout removed") << "settings" << false << Status::RolledBack << rolledBack;
        QTest::newRow("registry fails, layout and settings restored")
            << "registry" << true << Status::RolledBack << rolledBack;
        // A folder where the settings file should be can't be saved for a rollback: nothing is written.
        QTest::newRow("folder in place of settings") << "settingsFolder" << true << Status::Aborted
                                                     << QStringLiteral("导入失败：原配置文件无法读取，已中止导入");
    }
    void failedWriteRollsBack()
    {
        QFETCH(QString, failing);
        QFETCH(bool, layoutExisted);
        QFETCH(Status, status);
        QFETCH(QString, message);
        DataFolder d(QStringLiteral("rollback"));
        UserDataPaths paths = d.paths;
        if (!layoutExisted)
            QVERIFY(QFile::remove(paths.layout));
        QVERIFY(writeFile(d.h.dir + QStringLiteral("/plain"), "x"));
        if (failing == QLatin1String("settings"))
            paths.settings = d.h.dir + QStringLiteral("/plain/settings.json");
        else if (failing == QLatin1String("registry"))
            paths.registry = d.h.dir + QStringLiteral("/plain/apps_registry.json");
        else
            paths.settings = freshDir(QStringLiteral("folderInPlace"));
        const QByteArray layoutBefore = readFile(paths.layout);
        const QByteArray settingsBefore = readFile(paths.settings);
        const QStringList entriesBefore = d.h.entries();

        const QString backup = freshDir(QStringLiteral("rollbackBackup")) + QStringLiteral("/b.json");
        writeFile(backup,
                  backupBytes(otherLayout(), QJsonObject{{"iconSize", 40}}, QJsonObject{{"installed", QJsonArray()}}));
        Hooks hooks;
        LogCapture log;
        const ImportOutcome r = importUserData(backup, paths, AppSettings(), hooks.hooks);
        QCOMPARE(r.status, status);
        QCOMPARE(r.message, message);
        QCOMPARE(r.toastKind, 1);
        QCOMPARE(hooks.reloaded, 0);
        QCOMPARE(QFileInfo::exists(paths.layout), layoutExisted);
        QCOMPARE(readFile(paths.layout), layoutBefore);
        QCOMPARE(readFile(paths.settings), settingsBefore);
        QCOMPARE(readFile(d.paths.registry), kRegistry);
        QCOMPARE(d.h.entries(), entriesBefore); // no temporary file left behind
        if (status == Status::RolledBack) {
            QVERIFY(log.contains(QStringLiteral("importUserData: write failed at")));
            QVERIFY(log.contains(QStringLiteral("-> rolled back; allRestored = true")));
        } else {
            QVERIFY(log.contains(QStringLiteral("importUserData: original not readable, abort:")));
        }
    }

    void textsAreTranslated()
    {
        Lang::setLanguage(1);
        QCOMPARE(backupFileFilter(), QStringLiteral("Backup files (*.json)"));
        DataFolder d(QStringLiteral("english"));
        const QString backup = freshDir(QStringLiteral("englishBackup")) + QStringLiteral("/b.json");
        writeFile(backup, "nothing");
        const ImportOutcome r = importUserData(backup, d.paths, AppSettings(), Hooks().hooks);
        QCOMPARE(r.message, QStringLiteral("Import failed: not a valid backup file"));
    }
};

KTR_TEST_MAIN(TestUserDataTransfer)
#include "tst_userdatatransfer.moc"
