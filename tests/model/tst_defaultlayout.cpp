#include "model/defaultlayout.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QDir>

namespace {

QString makeProgram(const QString& dir, const QString& name)
{
    const QString path = dir + QLatin1Char('/') + name;
    ktr::test::writeFile(path, "#!/bin/sh\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void makeEntry(const QString& dir, const QString& file, const QString& body)
{
    ktr::test::writeFile(dir + QLatin1Char('/') + file, body.toUtf8());
}

QStringList names(const Group& g)
{
    QStringList out;
    for (const Item& it : g.items)
        out << it.name;
    return out;
}

} // namespace

class TestDefaultLayout : public QObject
{
    Q_OBJECT
private:
    QString m_root;
    DefaultLayoutSources m_sources;

private Q_SLOTS:
    void initTestCase()
    {
        m_root = ktr::test::freshDir(QStringLiteral("machine"));
        const QString bin = m_root + QStringLiteral("/bin");
        const QString apps = m_root + QStringLiteral("/applications");
        const QString localApps = m_root + QStringLiteral("/local-applications");
        QDir().mkpath(bin);
        QDir().mkpath(apps);
        QDir().mkpath(localApps);
        const QString term = makeProgram(bin, QStringLiteral("term"));
        const QString edit = makeProgram(bin, QStringLiteral("edit"));
        const QString files = makeProgram(bin, QStringLiteral("files"));
        const QString monitor = makeProgram(bin, QStringLiteral("monitor"));
        const QString settings = makeProgram(bin, QStringLiteral("settings"));
        const QString head = QStringLiteral("[Desktop Entry]\nType=Application\nName=X\n");
        // The first candidate of a tool, in the second folder searched.
        makeEntry(apps, "org.gnome.Terminal.desktop", head + "Exec=" + term + " --window\n");
        // A later candidate of a tool whose first candidates are missing or broken.
        makeEntry(apps, "org.gnome.TextEditor.desktop", head + "Exec=/nonexistent/editor %U\n");
        makeEntry(apps, "mousepad.desktop", head + "Exec=\"" + edit + "\" %F\n");
        makeEntry(apps, "org.gnome.Nautilus.desktop", head + "TryExec=/nonexistent/nautilus\nExec=" + files + "\n");
        makeEntry(apps, "thunar.desktop", head + "Exec=" + files + " %U\n");
        // Hidden entries and links are not tools.
        makeEntry(apps, "org.gnome.SystemMonitor.desktop", head + "NoDisplay=true\nExec=" + monitor + "\n");
        makeEntry(apps, "gnome-system-monitor.desktop",
                  "[Desktop Entry]\nType=Link\nURL=file:///\n[Desktop Action x]\nExec=" + monitor + "\n");
        makeEntry(apps, "lxtask.desktop", head + "Hidden=true\nExec=" + monitor + "\n");
        // An entry in the first folder wins over the same name later.
        makeEntry(localApps, "org.gnome.Settings.desktop", head + "Exec=" + settings + "\n");
        makeEntry(apps, "org.gnome.Settings.desktop", head + "Exec=" + settings + "\n");

        const QString home = m_root + QStringLiteral("/home");
        QDir().mkpath(home + QStringLiteral("/Desktop"));
        QDir().mkpath(home + QStringLiteral("/Documents"));
        QDir().mkpath(m_root + QStringLiteral("/vol/data"));
        QDir().mkpath(m_root + QStringLiteral("/vol/data-bind"));
        QDir().mkpath(m_root + QStringLiteral("/vol/usb"));
        m_sources.homeDir = home;
        m_sources.userFolders = {home + QStringLiteral("/Desktop"),   QString(),
                                 home + QStringLiteral("/Documents"), home + QStringLiteral("/Pictures"),
                                 home + QStringLiteral("/"),          home};
        m_sources.volumes = {
            {m_root + "/vol/data", "/dev/sda2", "ext4", "DATA", true},
            {"/", "/dev/sda1", "ext4", "root", true},
            {m_root + "/vol/data-bind", "/dev/sda2", "ext4", "DATA", true},
            {m_root + "/vol/usb", "/dev/sdb1", "vfat", "USB", false},
            {"/boot", "/dev/sda3", "ext4", "", true},
            {m_root + "/vol/data", "tmpfs", "tmpfs", "", true},
        };
        m_sources.applicationDirs = {localApps, apps, m_root + QStringLiteral("/missing")};
    }

    void commonGroup()
    {
        const QList<Group> groups = buildDefaultLayout(m_sources);
        QCOMPARE(groups.size(), 2);
        const Group& a = groups.at(0);
        QCOMPARE(a.name, QStringLiteral("常用"));
        QCOMPARE(names(a),
                 (QStringList{"此电脑", "回收站", "桌面", "文档", "网络", "本地磁盘 (/)", "本地磁盘 (DATA)"}));
        QCOMPARE(a.items.at(0).path, QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
        QCOMPARE(a.items.at(1).path, QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}"));
        QCOMPARE(a.items.at(2).path, m_root + QStringLiteral("/home/Desktop"));
        QCOMPARE(a.items.at(4).path, QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}"));
        QCOMPARE(a.items.at(5).path, QStringLiteral("/"));
        QCOMPARE(a.items.at(6).path, m_root + QStringLiteral("/vol/data"));
        for (const Item& it : a.items)
            QVERIFY(!it.hidden && it.customIcon.isEmpty() && it.workDir.isEmpty() && it.args.isEmpty() &&
                    !it.runAsAdmin);
    }

    void systemGroup()
    {
        const QList<Group> groups = buildDefaultLayout(m_sources);
        const Group& b = groups.at(1);
        QCOMPARE(b.name, QStringLiteral("系统"));
        // Table order, whatever subset exists; the computer is always there.
        QCOMPARE(names(b), (QStringList{"命令提示符", "控制面板", "文件资源管理器", "此电脑", "记事本"}));
        const QString apps = m_root + QStringLiteral("/applications/");
        QCOMPARE(b.items.at(0).path, apps + "org.gnome.Terminal.desktop");
        QCOMPARE(b.items.at(1).path, m_root + QStringLiteral("/local-applications/org.gnome.Settings.desktop"));
        QCOMPARE(b.items.at(2).path, apps + "thunar.desktop");
        QCOMPARE(b.items.at(3).path, QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
        QCOMPARE(b.items.at(4).path, apps + "mousepad.desktop");
    }

    void emptyMachine()
    {
        const QList<Group> groups = buildDefaultLayout(DefaultLayoutSources{});
        QCOMPARE(names(groups.at(0)), (QStringList{"此电脑", "回收站", "网络"}));
        QCOMPARE(names(groups.at(1)), QStringList{"此电脑"});
    }

    void englishNames()
    {
        Lang::setLanguage(1);
        const QList<Group> groups = buildDefaultLayout(m_sources);
        Lang::setLanguage(0);
        QVERIFY(groups.at(0).items.last().name.startsWith(QStringLiteral("Local Disk (")));
        QCOMPARE(groups.at(0).items.last().name, QStringLiteral("Local Disk (DATA)"));
    }

    void volumes_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<bool>("kept");
        QTest::newRow("root disk") << "/"
                                   << "/dev/nvme0n1p2"
                                   << "ext4" << true << true;
        QTest::newRow("mounted disk") << "/media/u/STICK"
                                      << "/dev/sdb1"
                                      << "vfat" << true << true;
        QTest::newRow("not ready") << "/media/u/STICK"
                                   << "/dev/sdb1"
                                   << "vfat" << false << false;
        QTest::newRow("tmpfs") << "/run"
                               << "tmpfs"
                               << "tmpfs" << true << false;
        QTest::newRow("tmpfs on a device path") << "/x"
                                                << "/dev/shm"
                                                << "tmpfs" << true << false;
        QTest::newRow("overlay") << "/"
                                 << "overlay"
                                 << "overlay" << true << false;
        QTest::newRow("snap image") << "/snap/core/1"
                                    << "/dev/loop3"
                                    << "squashfs" << true << false;
        QTest::newRow("snap folder") << "/snap"
                                     << "/dev/sda4"
                                     << "ext4" << true << false;
        QTest::newRow("boot") << "/boot"
                              << "/dev/sda1"
                              << "ext4" << true << false;
        QTest::newRow("boot efi") << "/boot/efi"
                                  << "/dev/sda1"
                                  << "vfat" << true << false;
        QTest::newRow("bootstrap is not boot") << "/bootstrap"
                                               << "/dev/sda5"
                                               << "ext4" << true << true;
    }
    void volumes()
    {
        QFETCH(QString, root);
        QFETCH(QString, device);
        QFETCH(QString, type);
        QFETCH(bool, ready);
        QFETCH(bool, kept);
        QCOMPARE(isUserVolume(VolumeInfo{root, device, type, QString(), ready}), kept);
    }

    void thisMachine()
    {
        // Whatever this machine holds, nothing broken is offered.
        const QList<Group> groups = buildDefaultLayout();
        QCOMPARE(groups.size(), 2);
        for (const Group& g : groups) {
            for (const Item& it : g.items)
                QVERIFY2(it.path.startsWith(QLatin1String("::")) || QFileInfo::exists(it.path), qPrintable(it.path));
        }
    }
};

KTR_TEST_MAIN(TestDefaultLayout)
#include "tst_defaultlayout.moc"
