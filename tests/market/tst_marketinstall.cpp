// Installing market packages: hostile packages are refused before anything is swapped in, a good one
// replaces the old version, the registry, launching, uninstalling and the desktop entry.
// The hostile-zip builder of the backup tests: exact names, types and stated sizes.
#include "../backup/backupfixture.h"
#include "desktopvalidate.h"
#include "market/appmarketdialog.h"
#include "market/marketfiles.h"
#include "market/marketinstall.h"
#include "model/shortcutfile.h"
#include "platform/launcher.h"
#include "platform/ziparchive.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest/QtTest>

#include <sys/stat.h>

using backuptest::RawEntry;
using ktr::platform::ZipEntryInfo;

namespace {

const QByteArray kScript = "#!/bin/sh\necho hello\n";

struct Report
{
    QString id, event, token;
};

class RecordingLauncher : public ktr::platform::Launcher
{
public:
    bool startDetached(const QString& program, const QStringList& arguments, const QString& workDir) override
    {
        calls.append({program, arguments.join(u' '), workDir});
        return true;
    }
    bool openUrl(const QUrl&) override { return true; }
    struct Call
    {
        QString program, args, workDir;
    };
    QList<Call> calls;
};

// A zip of (name, data, mode) files written through the program's zip layer, so modes are real.
bool makeZip(const QString& path, const QList<std::tuple<QString, QByteArray, int>>& files)
{
    QFile::remove(path);
    const QString src = ktr::test::freshDir("zipsrc");
    ktr::platform::ZipWriter w;
    if (!w.open(path, nullptr))
        return false;
    int n = 0;
    for (const auto& [name, data, mode] : files) {
        const QString file = src + QStringLiteral("/f%1").arg(n++);
        if (!ktr::test::writeFile(file, data) || ::chmod(QFile::encodeName(file).constData(), mode_t(mode)) != 0)
            return false;
        if (!w.addFile(name, file, {}, nullptr))
            return false;
    }
    return w.finish(nullptr);
}

QString appDir(const QString& id = QStringLiteral("demo"))
{
    return appsRootDir() + u'/' + id;
}

} // namespace

class TestMarketInstall : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppMarketDialog> m_dlg;
    QList<Report> m_reports;
    RecordingLauncher m_launcher;

    MarketAppRow& addRow(const QString& id = QStringLiteral("demo"), const QString& launch = QStringLiteral("x.exe"))
    {
        MarketAppRow row;
        row.id = id;
        row.name = QStringLiteral("Demo");
        row.version = QStringLiteral("1.0");
        row.launch = launch;
        m_dlg->catalogue().rows.append(row);
        return m_dlg->catalogue().rows.last();
    }
    // Runs startExtract on the package and waits for the card to leave its busy state.
    MarketAppRow* install(const QString& package, const QString& id = QStringLiteral("demo"))
    {
        MarketAppRow* row = m_dlg->catalogue().findRow(id);
        m_dlg->startExtract(*row, package);
        if (!QTest::qWaitFor([&] { return !m_dlg->catalogue().findRow(id)->installing; }, 10000))
            return nullptr;
        return m_dlg->catalogue().findRow(id);
    }
    void putOldVersion() { QVERIFY(ktr::test::writeFile(appDir() + "/old.exe", "old")); }

private Q_SLOTS:
    void init()
    {
        QDir(appDataDir()).removeRecursively();
        QDir(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)).removeRecursively();
        QDir().mkpath(appsRootDir());
        m_dlg = std::make_unique<AppMarketDialog>();
        m_reports.clear();
        m_dlg->setAppStatReporter([this](const QString& id, const QString& e, const QString& t) {
            m_reports.append({id, e, t});
        });
        m_dlg->setProcessEnder([](const QString&) { return 0; });
        m_launcher.calls.clear();
        ktr::platform::setLauncher(&m_launcher);
    }
    void cleanup()
    {
        m_dlg.reset();
        ktr::platform::setLauncher(nullptr);
        Lang::setLanguage(0);
    }

    void limits_data()
    {
        QTest::addColumn<QList<ZipEntryInfo>>("entries");
        QTest::addColumn<bool>("ok");
        auto file = [](const QString& name, qint64 size, qint64 packed,
                       ZipEntryInfo::Type type = ZipEntryInfo::Type::File) {
            ZipEntryInfo e;
            e.name = name;
            e.size = size;
            e.compressedSize = packed;
            e.type = type;
            return e;
        };
        QList<ZipEntryInfo> many(65535, file("a.exe", 0, 0));
        QTest::newRow("65535 entries") << many << true;
        many.append(file("b.exe", 0, 0));
        QTest::newRow("65536 entries") << many << false;
        QTest::newRow("ratio 1000") << QList{file("a.exe", 1000000, 1000)} << true;
        QTest::newRow("ratio past 1000") << QList{file("a.exe", 1000001, 1000)} << false;
        QTest::newRow("4 GiB in all") << QList{file("a", 2LL << 30, 2LL << 30), file("b", 2LL << 30, 2LL << 30)}
                                      << true;
        QTest::newRow("past 4 GiB") << QList{file("a", 2LL << 30, 2LL << 30), file("b", (2LL << 30) + 1, 2LL << 30)}
                                    << false;
        QTest::newRow("hard link") << QList{file("a.exe", 0, 0, ZipEntryInfo::Type::HardLink)} << false;
        QTest::newRow("symlink") << QList{file("a.exe", 4, 4, ZipEntryInfo::Type::SymLink)} << false;
        QTest::newRow("device") << QList{file("a.exe", 0, 0, ZipEntryInfo::Type::Device)} << false;
        QTest::newRow("folder") << QList{file("sub/", 0, 0, ZipEntryInfo::Type::Directory)} << true;
        QTest::newRow("folder of nothing") << QList{file("./", 0, 0, ZipEntryInfo::Type::Directory)} << true;
        QTest::newRow("dot parts") << QList{file("./a/./b.exe", 1, 1)} << true;
        QTest::newRow("file of nothing") << QList{file(".", 1, 1)} << false;
        QTest::newRow("backslash root") << QList{file("\\x.exe", 1, 1)} << false;
        QTest::newRow("dotdot via backslash") << QList{file("a\\..\\..\\x.exe", 1, 1)} << false;
        // Unlike a restore, which passes over folder entries, a package may not even name a folder outside.
        QTest::newRow("folder outside") << QList{file("../", 0, 0, ZipEntryInfo::Type::Directory)} << false;
        QTest::newRow("two dots inside a name") << QList{file("a/..b.exe", 1, 1)} << true;
        QTest::newRow("drive") << QList{file("C:x.exe", 1, 1)} << false;
        QTest::newRow("NUL") << QList{file(QStringLiteral("a") + QChar(0) + QStringLiteral(".exe"), 1, 1)} << false;
    }
    void limits()
    {
        QFETCH(QList<ZipEntryInfo>, entries);
        QFETCH(bool, ok);
        QString why;
        QCOMPARE(checkPackageEntries(entries, &why), ok);
        QCOMPARE(why.isEmpty(), ok);
    }

    void hostilePackage_data()
    {
        QTest::addColumn<QList<RawEntry>>("entries");
        const RawEntry good{"x.exe", kScript, 0100755};
        QTest::newRow("absolute") << QList{good, RawEntry{"/tmp/evil.exe", "x", 0100644}};
        QTest::newRow("dotdot") << QList{good, RawEntry{"../evil.exe", "x", 0100644}};
        QTest::newRow("escapes") << QList{good, RawEntry{"sub/../../evil.exe", "x", 0100644}};
        QTest::newRow("colon") << QList{good, RawEntry{"a:b.exe", "x", 0100644}};
        QTest::newRow("symlink") << QList{good, RawEntry{"lnk", "/etc", 0120777}};
        QTest::newRow("link then through it")
            << QList{RawEntry{"lnk", "/tmp", 0120777}, RawEntry{"lnk/x.exe", "x", 0100644}};
        QTest::newRow("device") << QList{good, RawEntry{"dev", "", 0020644}};
        QTest::newRow("fifo") << QList{good, RawEntry{"pipe", "", 0010644}};
        QTest::newRow("inflates past 1000x") << QList{good, RawEntry{"big.bin", "abc", 0100644, true, 3001, 3}};
        QTest::newRow("past 4 GiB") << QList{good, RawEntry{"a.bin", "a", 0100644, true, 0xF0000000, 0xF0000000},
                                             RawEntry{"b.bin", "b", 0100644, true, 0x20000000, 0x20000000}};
        QTest::newRow("not a zip") << QList<RawEntry>{};
    }
    void hostilePackage()
    {
        QFETCH(QList<RawEntry>, entries);
        putOldVersion();
        m_dlg->loadRegistry();
        addRow();
        const QString package = packageFilePath("demo");
        if (entries.isEmpty())
            QVERIFY(ktr::test::writeFile(package, "PK\3\4 not really"));
        else
            QVERIFY(ktr::test::writeFile(package, backuptest::rawZip(entries)));
        MarketAppRow* row = install(package);
        QVERIFY(row);
        QCOMPARE(row->errorText.shown(), Lang::tr("解压失败"));
        QVERIFY(!row->extracting);
        QVERIFY(!QFileInfo::exists(appDir() + ".__new"));
        QCOMPARE(ktr::test::readFile(appDir() + "/old.exe"), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(appDir() + "/x.exe"));
        QVERIFY(!QFileInfo::exists(QDir::tempPath() + "/evil.exe"));
        QVERIFY(!QFileInfo::exists(appsRootDir() + "/evil.exe"));
        // A package that failed to unpack is not kept outside the cache.
        QVERIFY(!QFileInfo::exists(package));
        QVERIFY(m_reports.isEmpty());
        QVERIFY(m_dlg->registry().isEmpty());
    }

    // A card's error is set in the language of the moment and must follow a later switch, like the rest of the
    // card does.
    void errorFollowsALaterLanguageSwitch_data()
    {
        QTest::addColumn<QList<RawEntry>>("entries");
        QTest::addColumn<QString>("zh");
        QTest::addColumn<QString>("en");
        QTest::newRow("not a zip") << QList<RawEntry>{} << "解压失败"
                                   << "Extraction failed";
        QTest::newRow("no startup file") << QList{RawEntry{"bin/a.exe", kScript, 0100755}} << "包内缺少启动文件"
                                         << "The package has no startup file";
    }
    void errorFollowsALaterLanguageSwitch()
    {
        QFETCH(QList<RawEntry>, entries);
        QFETCH(QString, zh);
        QFETCH(QString, en);
        addRow();
        const QString package = packageFilePath("demo");
        QVERIFY(ktr::test::writeFile(package, entries.isEmpty() ? QByteArray("PK\3\4 not really")
                                                                : backuptest::rawZip(entries)));
        MarketAppRow* row = install(package);
        QVERIFY(row);
        QCOMPARE(m_dlg->statusLine(*row), zh);
        Lang::setLanguage(1);
        Lang::notifyChanged();
        QCOMPARE(m_dlg->statusLine(*m_dlg->catalogue().findRow("demo")), en);
        QCOMPARE(m_dlg->mainButtonCaption(*m_dlg->catalogue().findRow("demo")), QStringLiteral("Retry"));
    }

    void tooManyEntries()
    {
        // Real zip64 directory with 65,536 entries, written by the zip layer.
        const QString package = packageFilePath("demo");
        {
            ktr::platform::ZipWriter w;
            QVERIFY(w.open(package, nullptr));
            for (int i = 0; i < 65536; ++i)
                QVERIFY(
                    w.addData(QStringLiteral("f%1.exe").arg(i), QByteArray(), QDateTime::currentDateTime(), nullptr));
            QVERIFY(w.finish(nullptr));
        }
        addRow();
        MarketAppRow* row = install(package);
        QVERIFY(row);
        QCOMPARE(row->errorText.shown(), Lang::tr("解压失败"));
        QVERIFY(!QFileInfo::exists(appDir()));
        QVERIFY(!QFileInfo::exists(appDir() + ".__new"));
    }

    // The entries' modes as packed: execute bits survive, nothing writable by others and nothing set-id does.
    void installReplacesOldVersion_data()
    {
        QTest::addColumn<int>("exeMode"); // as packed
        QTest::addColumn<int>("dataMode");
        QTest::addColumn<int>("exeOnDisk"); // as unpacked
        QTest::addColumn<int>("dataOnDisk");
        QTest::newRow("plain modes") << 0755 << 0644 << 0755 << 0644;
        QTest::newRow("world-writable") << 0777 << 0666 << 0755 << 0644;
        QTest::newRow("set-uid and set-gid") << 06755 << 02644 << 0755 << 0644;
        QTest::newRow("sticky, group-writable") << 01775 << 0664 << 0755 << 0644;
    }
    void installReplacesOldVersion()
    {
        QFETCH(int, exeMode);
        QFETCH(int, dataMode);
        QFETCH(int, exeOnDisk);
        QFETCH(int, dataOnDisk);
        putOldVersion();
        addRow();
        QSignalSpy toPanel(m_dlg.get(), &AppMarketDialog::addToPanelRequested);
        const QString package = packageFilePath("demo");
        if (exeMode == 0755 && dataMode == 0644) {
            QVERIFY(makeZip(package, {{"x.exe", kScript, 0755}, {"lib/data.txt", "d", 0644}}));
        } else {
            // Modes beyond what our own zip writer stores: written by hand, as another tool would.
            QVERIFY(ktr::test::writeFile(
                package, backuptest::rawZip({RawEntry{"x.exe", kScript, quint32(0100000 | exeMode)},
                                             RawEntry{"lib/data.txt", "d", quint32(0100000 | dataMode)}})));
        }
        MarketAppRow* row = install(package);
        QVERIFY(row);
        QCOMPARE(row->errorText.shown(), QString());
        QCOMPARE(row->installedVersion, QStringLiteral("1.0"));
        QCOMPARE(row->installedSize, qint64(kScript.size()));
        QVERIFY(!QFileInfo::exists(appDir() + "/old.exe"));
        QVERIFY(!QFileInfo::exists(appDir() + ".__old"));
        QVERIFY(!QFileInfo::exists(appDir() + ".__new"));
        QCOMPARE(ktr::test::readFile(appDir() + "/lib/data.txt"), QByteArray("d"));
        // The execute bit survives, and nothing more than asked for.
        const QFileInfo exe(appDir() + "/x.exe");
        QVERIFY(exe.permissions() & QFile::ExeOwner);
        QVERIFY(!(QFileInfo(appDir() + "/lib/data.txt").permissions() & QFile::ExeOwner));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(appDir() + "/x.exe").constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), exeOnDisk);
        QCOMPARE(::stat(QFile::encodeName(appDir() + "/lib/data.txt").constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), dataOnDisk);
        // Registry, usage report without token, hand-over to the panel.
        QCOMPARE(readAppsRegistry(appsRegistryPath()).value("demo").launch, QStringLiteral("x.exe"));
        QCOMPARE(readAppsRegistry(appsRegistryPath()).value("demo").version, QStringLiteral("1.0"));
        QCOMPARE(m_reports.size(), 1);
        QCOMPARE(m_reports[0].event, QStringLiteral("install"));
        QCOMPARE(m_reports[0].token, QString());
        QCOMPARE(toPanel.count(), 1);
        QCOMPARE(toPanel[0][0].toString(), QStringLiteral("Demo"));
        QCOMPARE(toPanel[0][1].toString(), appDir() + "/x.exe");
        // The package went into the cache.
        QVERIFY(!QFileInfo::exists(package));
        const QString entry = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + "/Demo.desktop";
        QVERIFY(isOwnDesktopEntry(entry));
        QCOMPARE(QFileInfo(entry).permissions() & (QFile::ExeOwner | QFile::ExeOther),
                 QFile::ExeOwner | QFile::ExeOther);
    }

    void launchNameFallback_data()
    {
        QTest::addColumn<QString>("launch");
        QTest::addColumn<QList<QString>>("files");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first by name, any case") << QString() << QList<QString>{"b.exe", "A.exe"} << "A.exe";
        QTest::newRow("named file missing") << "gone.exe" << QList<QString>{"z.exe"} << "z.exe";
        QTest::newRow("only in a subfolder") << QString() << QList<QString>{"bin/a.exe"} << QString();
    }
    void launchNameFallback()
    {
        QFETCH(QString, launch);
        QFETCH(QList<QString>, files);
        QFETCH(QString, expected);
        putOldVersion();
        addRow("demo", launch);
        QList<std::tuple<QString, QByteArray, int>> zipFiles;
        for (const QString& f : files)
            zipFiles.append({f, kScript, 0755});
        QVERIFY(makeZip(packageFilePath("demo"), zipFiles));
        MarketAppRow* row = install(packageFilePath("demo"));
        QVERIFY(row);
        if (expected.isEmpty()) {
            QCOMPARE(row->errorText.shown(), Lang::tr("包内缺少启动文件"));
            QCOMPARE(ktr::test::readFile(appDir() + "/old.exe"), QByteArray("old"));
            QVERIFY(!QFileInfo::exists(appDir() + ".__old"));
        } else {
            QCOMPARE(row->errorText.shown(), QString());
            QCOMPARE(row->launch, expected);
        }
    }

    void deadline()
    {
        QVERIFY(makeZip(packageFilePath("demo"), {{"x.exe", kScript, 0755}}));
        const QString dest = ktr::test::freshDir("dest");
        QString why;
        QCOMPARE(extractPackage(packageFilePath("demo"), dest, nullptr, 0, &why), ExtractResult::TimedOut);
        const std::atomic<bool> abandon{true};
        QCOMPARE(extractPackage(packageFilePath("demo"), dest, &abandon, 60000, &why), ExtractResult::TimedOut);
        // In the window: the run ends like a killed extraction, the package stays for the next try.
        addRow();
        m_dlg->setExtractDeadlineMs(0);
        MarketAppRow* row = install(packageFilePath("demo"));
        QVERIFY(row);
        QCOMPARE(row->errorText.shown(), Lang::tr("解压超时，请稍后重试"));
        QVERIFY(QFileInfo::exists(packageFilePath("demo")));
        QVERIFY(!QFileInfo::exists(appDir() + ".__new"));
        QVERIFY(!QFileInfo::exists(appDir()));
    }

    void cancelledRunCleansUp()
    {
        addRow();
        QVERIFY(makeZip(packageFilePath("demo"), {{"x.exe", kScript, 0755}}));
        MarketAppRow* row = m_dlg->catalogue().findRow("demo");
        m_dlg->startExtract(*row, packageFilePath("demo"));
        m_dlg->catalogue().cancelDownload(*row);
        QVERIFY(row->installing); // busy until the run ends
        QTRY_VERIFY(!m_dlg->catalogue().findRow("demo")->installing);
        row = m_dlg->catalogue().findRow("demo");
        QCOMPARE(row->errorText.shown(), QString());
        QCOMPARE(row->installedVersion, QString());
        QVERIFY(!QFileInfo::exists(appDir()));
        QVERIFY(!QFileInfo::exists(appDir() + ".__new"));
        QVERIFY(m_reports.isEmpty());
    }

    void launch_data()
    {
        QTest::addColumn<QString>("launch");
        QTest::addColumn<bool>("started");
        QTest::newRow("plain") << "x.exe" << true;
        QTest::newRow("folder part") << "sub/x.exe" << false;
        QTest::newRow("dotdot") << "..x.exe" << false;
        QTest::newRow("link outside") << "out.exe" << false;
        QTest::newRow("link inside") << "in.exe" << true;
        QTest::newRow("missing") << "gone.exe" << false;
    }
    void launch()
    {
        QFETCH(QString, launch);
        QFETCH(bool, started);
        QVERIFY(ktr::test::writeFile(appDir() + "/x.exe", kScript));
        QVERIFY(ktr::test::writeFile(appDir() + "/sub/x.exe", kScript));
        QVERIFY(ktr::test::writeFile(appsRootDir() + "/other/evil.exe", kScript));
        QVERIFY(QFile::link(appsRootDir() + "/other/evil.exe", appDir() + "/out.exe"));
        QVERIFY(QFile::link(appDir() + "/x.exe", appDir() + "/in.exe"));
        QVERIFY(writeAppsRegistry(appsRegistryPath(), appsRootDir(), {{"demo", {"1.0", launch}}}, nullptr));
        m_dlg->loadRegistry();
        QCOMPARE(m_dlg->launchApp("demo"), started);
        QCOMPARE(m_launcher.calls.size(), started ? 1 : 0);
        if (started) {
            QCOMPARE(m_launcher.calls[0].workDir, QFileInfo(appDir()).absoluteFilePath());
            QCOMPARE(m_launcher.calls[0].args, QString());
        }
        QVERIFY(m_reports.isEmpty());
    }

    void uninstall()
    {
        QVERIFY(ktr::test::writeFile(appDir() + "/x.exe", kScript));
        QVERIFY(writeAppsRegistry(appsRegistryPath(), appsRootDir(), {{"demo", {"1.0", "x.exe"}}}, nullptr));
        m_dlg->loadRegistry();
        MarketAppRow& row = addRow();
        row.installedVersion = "1.0";
        QStringList order;
        m_dlg->setProcessEnder([&](const QString& dir) {
            order << "end:" + dir + (QFileInfo::exists(dir) ? ":present" : ":gone");
            return 1;
        });
        QVERIFY(createDesktopShortcut(appDir() + "/x.exe", appDir(), "Demo", QString()));
        const QString foreign = desktopFolder() + "/Other.desktop";
        QVERIFY(ktr::test::writeFile(foreign, "[Desktop Entry]\nName=Demo\n"));
        QSignalSpy gone(m_dlg.get(), &AppMarketDialog::appUninstalled);
        m_dlg->uninstallApp(row);
        QVERIFY(!QFileInfo::exists(desktopFolder() + "/Demo.desktop"));
        QVERIFY(QFileInfo::exists(foreign));
        QCOMPARE(order, QStringList{"end:" + appDir() + ":present"});
        QVERIFY(!QFileInfo::exists(appDir()));
        QVERIFY(!readAppsRegistry(appsRegistryPath()).contains("demo"));
        QCOMPARE(m_dlg->catalogue().findRow("demo")->installedVersion, QString());
        QCOMPARE(m_reports.size(), 1);
        QCOMPARE(m_reports[0].event, QStringLiteral("uninstall"));
        QCOMPARE(gone.count(), 1);
        QCOMPARE(gone[0][0].toString(), QStringLiteral("demo"));
        // The entry it removed, for the panel items collected from it.
        QCOMPARE(gone[0][2].toString(), desktopFolder() + "/Demo.desktop");
    }

    void uninstallThatCannotDelete()
    {
        QVERIFY(ktr::test::writeFile(appDir() + "/x.exe", kScript));
        QVERIFY(writeAppsRegistry(appsRegistryPath(), appsRootDir(), {{"demo", {"1.0", "x.exe"}}}, nullptr));
        m_dlg->loadRegistry();
        MarketAppRow& row = addRow();
        row.installedVersion = "1.0";
        m_dlg->setTreeRemover([](const QString&) { return false; });
        QSignalSpy gone(m_dlg.get(), &AppMarketDialog::appUninstalled);
        m_dlg->uninstallApp(row);
        MarketAppRow* r = m_dlg->catalogue().findRow("demo");
        QCOMPARE(r->errorText.shown(), Lang::tr("卸载失败：应用文件无法删除，请关闭该应用后重试"));
        QCOMPARE(r->installedVersion, QStringLiteral("1.0"));
        QVERIFY(m_dlg->registry().contains("demo"));
        QVERIFY(readAppsRegistry(appsRegistryPath()).contains("demo"));
        QVERIFY(m_reports.isEmpty());
        QCOMPARE(gone.count(), 0);
    }

    void registry()
    {
        const QString path = appsRegistryPath();
        QVERIFY(ktr::test::writeFile(path, R"({"installed":[{"id":"a","version":"1","launch":"a.exe"},)"
                                           R"({"id":"a","version":"2"},{"id":"b"}]})"));
        const auto apps = readAppsRegistry(path);
        QCOMPARE(apps.size(), 2);
        QCOMPARE(apps.value("a").version, QStringLiteral("2"));
        QCOMPARE(apps.value("a").launch, QString());
        QVERIFY(ktr::test::writeFile(path, "{not json"));
        QVERIFY(readAppsRegistry(path).isEmpty());
        QVERIFY(writeAppsRegistry(path, "/data/apps", {{"c", {"3", "c.exe"}}}, nullptr));
        const QByteArray text = ktr::test::readFile(path);
        QVERIFY(text.contains("    \"installed\""));
        QVERIFY(text.indexOf("\"dir\"") < text.indexOf("\"id\""));
        QVERIFY(text.contains("/data/apps/c"));
        QCOMPARE(readAppsRegistry(path).value("c").launch, QStringLiteral("c.exe"));
    }

    void registryWriteNoticeOncePerMinute()
    {
        // A folder where the file should be makes every write fail.
        QVERIFY(QDir().mkpath(appsRegistryPath() + "/blocked"));
        qint64 now = 1000000;
        m_dlg->setNowFunction([&] { return now; });
        const QString notice = QStringLiteral("已安装应用清单无法写入，重启后可能显示为未安装");
        m_dlg->saveRegistry();
        QCOMPARE(m_dlg->noticeText(), notice);
        // Its timer clears it (made on first use: the one timer that is not the 50 ms repaint).
        QTimer* timer = nullptr;
        for (QTimer* t : m_dlg->findChildren<QTimer*>()) {
            if (t->interval() != 50)
                timer = t;
        }
        QVERIFY(timer);
        timer->start(0);
        QTRY_VERIFY(m_dlg->noticeText().isEmpty());
        now += 59999;
        m_dlg->saveRegistry();
        QVERIFY(m_dlg->noticeText().isEmpty());
        now += 1;
        m_dlg->saveRegistry();
        QCOMPARE(m_dlg->noticeText(), notice);
        QDir(appsRegistryPath()).removeRecursively();
    }

    void desktopEntry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::newRow("unsafe characters") << "a/b:c"
                                           << "a_b_c.desktop";
        QTest::newRow("only spaces") << "   " << Lang::tr("应用") + ".desktop";
        QTest::newRow("line breaks") << "Evil\nExec=rm -rf ~\r"
                                     << "Evil_Exec=rm -rf ~_.desktop";
    }
    void desktopEntry()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        const QString program = appsRootDir() + "/my app/x \"1\" $HOME %f.exe";
        QVERIFY(ktr::test::writeFile(program, kScript));
        QVERIFY(createDesktopShortcut(program, appsRootDir() + "/my app", name, program));
        const QString path = desktopFolder() + u'/' + file;
        const QStringList lines = QString::fromUtf8(ktr::test::readFile(path)).split(u'\n');
        // Quoted per the Desktop Entry rules, then string-escaped: the launcher gets the path back whole.
        QVERIFY(lines.contains(QStringLiteral("Exec=\"") + appsRootDir() +
                               QStringLiteral("/my app/x \\\\\"1\\\\\" \\\\$HOME %%f.exe\"")));
        ShortcutInfo info;
        QVERIFY(readShortcut(path, &info));
        QCOMPARE(info.target, program);
        QVERIFY(lines.contains("Path=" + appsRootDir() + "/my app"));
        for (const QString& l : lines)
            QVERIFY2(!l.startsWith("Exec=rm"), qPrintable(l));
        QCOMPARE(lines.filter(QRegularExpression("^Name=")).size(), 1);
        QCOMPARE(ktr::test::desktopEntryProblems(path), QString());
    }

    void desktopEntryKeepsForeignFile()
    {
        const QString program = appsRootDir() + "/x.exe";
        QVERIFY(ktr::test::writeFile(program, kScript));
        const QString path = desktopFolder() + "/Demo.desktop";
        QVERIFY(ktr::test::writeFile(path, "[Desktop Entry]\nName=Mine\n"));
        QVERIFY(!createDesktopShortcut(program, QString(), "Demo", program));
        QCOMPARE(ktr::test::readFile(path), QByteArray("[Desktop Entry]\nName=Mine\n"));
        QFile::remove(path);
        QVERIFY(createDesktopShortcut(program, QString(), "Demo", program));
        // Our own entry is replaced on a reinstall.
        QVERIFY(createDesktopShortcut(program, QString(), "Demo", program));
        QVERIFY(!createDesktopShortcut(appsRootDir() + "/gone.exe", QString(), "Gone", QString()));
    }
};

KTR_TEST_MAIN(TestMarketInstall)
#include "tst_marketinstall.moc"
