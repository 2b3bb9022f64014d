#include "platform/icontheme.h"
#include "platform/shellfolders.h"
#include "testenv.h"

#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cstring>

using namespace ktr::platform;

Q_DECLARE_METATYPE(ShellTarget::Kind)

class TestShellFolders : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tableEntriesAreWellFormed()
    {
        QSet<QString> seen;
        for (const ShellFolder& f : shellFolders()) {
            const QString name = QString::fromLatin1(f.parsingName);
            QVERIFY2(name.startsWith(u"::{") && name.size() == 40, f.parsingName);
            QVERIFY2(!QUuid::fromString(QStringView(name).mid(2)).isNull(), f.parsingName);
            QCOMPARE(QStringView(name).mid(3), name.mid(3).toUpper());
            QVERIFY2(!seen.contains(name), f.parsingName);
            seen.insert(name);
            QVERIFY(f.nameKey && *f.nameKey);
            QVERIFY(f.iconName && *f.iconName);
            // Named so that every theme has it or a generic name it falls back to.
            const QStringList names = ktr::platform::iconNameFallbacks(QString::fromLatin1(f.iconName));
            QVERIFY2(std::any_of(names.cbegin(), names.cend(), ktr::platform::isStandardIconName), f.iconName);
            QCOMPARE(findShellFolder(name), &f);
        }
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("parsingName");
        QTest::addColumn<QString>("nameKey");
        QTest::addColumn<QString>("icon");
        QTest::newRow("computer") << "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"
                                  << "此电脑"
                                  << "computer";
        QTest::newRow("recycle bin lower case") << "::{645ff040-5081-101b-9f08-00aa002f954e}"
                                                << "回收站"
                                                << "user-trash";
        QTest::newRow("network") << "::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}"
                                 << "网络"
                                 << "network-workgroup";
        QTest::newRow("network places") << "::{208D2C60-3AEA-1069-A2D7-08002B30309D}"
                                        << "网络"
                                        << "network-workgroup";
        QTest::newRow("control panel") << "::{5399E694-6CE5-4D6C-8FCE-1D8870FDCBA0}"
                                       << "控制面板"
                                       << "preferences-system";
        QTest::newRow("network connections") << "::{7007ACC7-3202-11D1-AAD2-00805FC1270E}"
                                             << "网络连接"
                                             << "preferences-system-network";
        QTest::newRow("printers") << "::{2227A280-3AEA-1069-A2DE-08002B30309D}"
                                  << "打印机"
                                  << "printer";
        QTest::newRow("users") << "::{59031A47-3F72-44A7-89C5-5595FE6B30EE}"
                               << "主文件夹"
                               << "user-home";
        QTest::newRow("unknown clsid") << "::{00000000-0000-0000-0000-000000000001}"
                                       << ""
                                       << "";
        QTest::newRow("no colons") << "{20D04FE0-3AEA-1069-A2D8-08002B30309D}"
                                   << ""
                                   << "";
        QTest::newRow("trailing text") << "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\x"
                                       << ""
                                       << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("a path") << "/home/user"
                                << ""
                                << "";
    }
    void lookup()
    {
        QFETCH(QString, parsingName);
        QFETCH(QString, nameKey);
        QFETCH(QString, icon);
        const ShellFolder* f = findShellFolder(parsingName);
        if (nameKey.isEmpty()) {
            QVERIFY(!f);
            return;
        }
        QVERIFY(f);
        QCOMPARE(QString::fromUtf8(f->nameKey), nameKey);
        QCOMPARE(QString::fromLatin1(f->iconName), icon);
    }

    void clsidBytesInGuidOrder()
    {
        // The CLSID of "This PC" as it appears in a shell item ID list.
        const unsigned char computer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                            0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
        const ShellFolder* f = findShellFolderByClsid(computer);
        QVERIFY(f);
        QCOMPARE(QString::fromLatin1(f->parsingName), QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
        unsigned char other[16];
        std::memcpy(other, computer, 16);
        other[15] = 0x9E;
        QVERIFY(!findShellFolderByClsid(other));
        QVERIFY(!findShellFolderByClsid(nullptr));
    }

    void placeAndFolderTargets_data()
    {
        QTest::addColumn<QString>("parsingName");
        QTest::addColumn<ShellTarget::Kind>("kind");
        QTest::addColumn<QString>("value");
        QTest::newRow("computer") << "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}" << ShellTarget::Kind::Url
                                  << "computer:///";
        QTest::newRow("recycle bin") << "::{645FF040-5081-101B-9F08-00AA002F954E}" << ShellTarget::Kind::Url
                                     << "trash:///";
        QTest::newRow("network") << "::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}" << ShellTarget::Kind::Url
                                 << "network:///";
        QTest::newRow("home") << "::{59031A47-3F72-44A7-89C5-5595FE6B30EE}" << ShellTarget::Kind::Folder
                              << QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
        QTest::newRow("documents") << "::{A8CDFF1C-4878-43BE-B5FD-F8091C1C60D0}" << ShellTarget::Kind::Folder
                                   << QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QTest::newRow("videos") << "::{A0953C92-50DC-43BF-BE83-5742FED03C5C}" << ShellTarget::Kind::Folder
                                << QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    }
    void placeAndFolderTargets()
    {
        QFETCH(QString, parsingName);
        QFETCH(ShellTarget::Kind, kind);
        QFETCH(QString, value);
        const ShellFolder* f = findShellFolder(parsingName);
        QVERIFY(f);
        QVERIFY(!value.isEmpty());
        const ShellTarget t = shellFolderTarget(*f);
        QCOMPARE(t.kind, kind);
        QCOMPARE(t.value, value);
        QVERIFY(t.arguments.isEmpty());
    }

    void settingsTargets_data()
    {
        QTest::addColumn<QString>("parsingName");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("desktops");
        QTest::addColumn<QString>("program"); // empty: nothing opens it
        QTest::addColumn<QStringList>("arguments");
        const QString panel = "::{5399E694-6CE5-4D6C-8FCE-1D8870FDCBA0}";
        const QString network = "::{7007ACC7-3202-11D1-AAD2-00805FC1270E}";
        const QString printers = "::{2227A280-3AEA-1069-A2DE-08002B30309D}";
        const QStringList all{"gnome-control-center", "systemsettings",        "xfce4-settings-manager",
                              "nm-connection-editor", "system-config-printer", "lxqt-config"};
        QTest::newRow("gnome panel") << panel << all << QStringList{"ubuntu", "GNOME"} << "gnome-control-center"
                                     << QStringList{};
        QTest::newRow("gnome network page")
            << network << all << QStringList{"GNOME"} << "gnome-control-center" << QStringList{"network"};
        QTest::newRow("kde printers page")
            << printers << all << QStringList{"KDE"} << "systemsettings" << QStringList{"kcm_printer_manager"};
        QTest::newRow("xfce panel") << panel << all << QStringList{"XFCE"} << "xfce4-settings-manager" << QStringList{};
        QTest::newRow("xfce has no network page")
            << network << all << QStringList{"XFCE"} << "nm-connection-editor" << QStringList{};
        QTest::newRow("desktop program missing")
            << panel << QStringList{"lxqt-config"} << QStringList{"GNOME"} << "lxqt-config" << QStringList{};
        QTest::newRow("unknown desktop, page tool")
            << printers << all << QStringList{} << "system-config-printer" << QStringList{};
        QTest::newRow("unknown desktop, page of any program")
            << network << QStringList{"gnome-control-center"} << QStringList{"sway"} << "gnome-control-center"
            << QStringList{"network"};
        QTest::newRow("no page anywhere")
            << printers << QStringList{"lxqt-config"} << QStringList{"LXQt"} << "" << QStringList{};
        QTest::newRow("nothing installed") << panel << QStringList{} << QStringList{"GNOME"} << "" << QStringList{};
    }
    void settingsTargets()
    {
        QFETCH(QString, parsingName);
        QFETCH(QStringList, installed);
        QFETCH(QStringList, desktops);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        auto finder = [&](const QString& name) { return installed.contains(name) ? "/usr/bin/" + name : QString(); };
        // An empty desktop list means "from the environment": give a name no table row knows instead.
        const QStringList names = desktops.isEmpty() ? QStringList{"none"} : desktops;
        const ShellTarget t = shellFolderTarget(*findShellFolder(parsingName), finder, names);
        if (program.isEmpty()) {
            QCOMPARE(t.kind, ShellTarget::Kind::None);
            return;
        }
        QCOMPARE(t.kind, ShellTarget::Kind::Program);
        QCOMPARE(t.value, "/usr/bin/" + program);
        QCOMPARE(t.arguments, arguments);
    }

    void urlsBecomeShellItems_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("parsingName");
        QTest::newRow("trash") << "trash:///"
                               << "::{645FF040-5081-101B-9F08-00AA002F954E}";
        QTest::newRow("trash without slash") << "trash:"
                                             << "::{645FF040-5081-101B-9F08-00AA002F954E}";
        QTest::newRow("computer") << "computer:///"
                                  << "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
        QTest::newRow("network") << "network:///"
                                 << "::{208D2C60-3AEA-1069-A2D7-08002B30309D}";
        QTest::newRow("upper-case scheme") << "TRASH:///"
                                           << "::{645FF040-5081-101B-9F08-00AA002F954E}";
        QTest::newRow("file in the trash") << "trash:///old.txt"
                                           << "";
        QTest::newRow("network host") << "network://server/"
                                      << "";
        QTest::newRow("drive in computer") << "computer:///sda1.drive"
                                           << "";
        QTest::newRow("home folder file url") << "file:///home/user"
                                              << "";
        QTest::newRow("smb share") << "smb://server/share"
                                   << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void urlsBecomeShellItems()
    {
        QFETCH(QString, url);
        QFETCH(QString, parsingName);
        const QString item = shellItemForUrl(QUrl(url));
        QCOMPARE(item, parsingName);
        if (!item.isEmpty())
            QVERIFY(findShellFolder(item));
    }
};

KTR_TEST_MAIN(TestShellFolders)
#include "tst_shellfolders.moc"
