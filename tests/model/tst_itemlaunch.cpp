#include "model/itemlaunch.h"
#include "platform/launcher.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QFile>
#include <QtTest/QtTest>

Q_DECLARE_METATYPE(LaunchCommand)

namespace {

LaunchCommand program(const QString& path, const QStringList& args, const QString& workDir)
{
    LaunchCommand c;
    c.kind = LaunchCommand::Kind::Program;
    c.program = path;
    c.arguments = args;
    c.workDir = workDir;
    return c;
}

LaunchCommand open(const QUrl& url)
{
    LaunchCommand c;
    c.kind = LaunchCommand::Kind::Open;
    c.url = url;
    return c;
}

bool writeExecutable(const QString& path, const QByteArray& bytes)
{
    return ktr::test::writeFile(path, bytes) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class TestItemLaunch : public QObject
{
    Q_OBJECT
    QString m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        m_dir = ktr::test::freshDir(QStringLiteral("items"));
        QVERIFY(writeExecutable(m_dir + "/tool.sh", "#!/bin/sh\n"));
        QVERIFY(writeExecutable(m_dir + "/elf", QByteArray("\x7f"
                                                           "ELF\x02\x01\x01",
                                                           7)));
        QVERIFY(writeExecutable(m_dir + "/letter.doc", "not a program, the bit comes from a vfat mount"));
        QVERIFY(ktr::test::writeFile(m_dir + "/plain.txt", "text"));
        QVERIFY(ktr::test::writeFile(m_dir + "/editor.desktop",
                                     "[Desktop Entry]\nType=Application\nName=Ed\nExec=gedit --new-window %U\n"
                                     "Path=/srv/work\n"));
        QVERIFY(ktr::test::writeFile(m_dir + "/admin.desktop",
                                     "[Desktop Entry]\nType=Application\nName=Adm\nExec=pkexec /usr/bin/tool -v\n"));
        QVERIFY(ktr::test::writeFile(m_dir + "/link.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.org\n"));
        // The codes that describe the entry itself: %i, %c, %k.
        QVERIFY(ktr::test::writeFile(
            m_dir + "/viewer.desktop",
            "[Desktop Entry]\nType=Application\nName=Viewer\nName[zh_CN]=\xE7\x9C\x8B\xE5\x9B\xBE\n"
            "Icon=image-x-generic\nExec=viewer %i --title=%c --from %k %F\n"));
        QVERIFY(ktr::test::writeFile(m_dir + "/noicon.desktop",
                                     "[Desktop Entry]\nType=Application\nName=Bare\nExec=bare %i \"%c\" 100%% %u\n"));
        QVERIFY(ktr::test::writeFile(m_dir + "/env.desktop",
                                     "[Desktop Entry]\nType=Application\nName=Env\nIcon=/opt/e.png\n"
                                     "Exec=pkexec env LANG=C tool %i --entry=%k\n"));
    }

    void init() { Lang::setLanguage(0); }

    void commandFor_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("workDir");
        QTest::addColumn<QString>("args");
        QTest::addColumn<bool>("admin");
        QTest::addColumn<LaunchCommand>("expected");

        const QString d = m_dir;
        const QString computer = QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
        QTest::newRow("shell place") << computer << QString() << QString() << false
                                     << open(QUrl(QStringLiteral("computer:///")));
        QTest::newRow("shell place with arguments")
            << computer << QString() << "-x" << false << open(QUrl(QStringLiteral("computer:///")));
        QTest::newRow("trash, lower-case CLSID") << "::{645ff040-5081-101b-9f08-00aa002f954e}" << QString() << QString()
                                                 << false << open(QUrl(QStringLiteral("trash:///")));
        QTest::newRow("unknown shell item")
            << "::{00000000-0000-0000-0000-000000000000}" << QString() << QString() << false << LaunchCommand();
        QTest::newRow("script with folder and arguments")
            << d + "/tool.sh"
            << "/w"
            << "-a \"b c\" ;x" << false << program(d + "/tool.sh", {"-a", "b c", ";x"}, "/w");
        QTest::newRow("binary") << d + "/elf" << QString() << QString() << false << program(d + "/elf", {}, QString());
        QTest::newRow("as administrator") << d + "/elf"
                                          << "/w"
                                          << "-v" << true << program("pkexec", {d + "/elf", "-v"}, "/w");
        QTest::newRow("document with an execute bit")
            << d + "/letter.doc" << QString() << QString() << false << open(QUrl::fromLocalFile(d + "/letter.doc"));
        QTest::newRow("document, arguments ignored") << d + "/plain.txt"
                                                     << "/w"
                                                     << "-p" << true << open(QUrl::fromLocalFile(d + "/plain.txt"));
        QTest::newRow("folder") << d << QString() << QString() << false << open(QUrl::fromLocalFile(d));
        QTest::newRow("desktop entry") << d + "/editor.desktop" << QString() << "notes.txt" << false
                                       << program("gedit", {"--new-window", "notes.txt"}, "/srv/work");
        QTest::newRow("desktop entry, item folder wins")
            << d + "/editor.desktop"
            << "/mine" << QString() << false << program("gedit", {"--new-window"}, "/mine");
        QTest::newRow("desktop entry run as administrator") << d + "/admin.desktop" << QString() << QString() << false
                                                            << program("pkexec", {"/usr/bin/tool", "-v"}, QString());
        QTest::newRow("desktop link") << d + "/link.desktop" << QString() << QString() << false
                                      << open(QUrl::fromLocalFile(d + "/link.desktop"));
        QTest::newRow("entry codes %i %c %k, file list dropped")
            << d + "/viewer.desktop" << QString() << "a.png" << false
            << program("viewer",
                       {"--icon", "image-x-generic", QString::fromUtf8("--title=\xE7\x9C\x8B\xE5\x9B\xBE"), "--from",
                        d + "/viewer.desktop", "a.png"},
                       QString());
        QTest::newRow("no Icon: %i gives nothing, %c quoted, %% kept")
            << d + "/noicon.desktop" << QString() << QString() << false << program("bare", {"Bare", "100%"}, QString());
        QTest::newRow("elevated env entry keeps env, icon path")
            << d + "/env.desktop" << QString() << QString() << false
            << program("pkexec", {"env", "LANG=C", "tool", "--icon", "/opt/e.png", "--entry=" + d + "/env.desktop"},
                       QString());
    }
    void commandFor()
    {
        QFETCH(QString, target);
        QFETCH(QString, workDir);
        QFETCH(QString, args);
        QFETCH(bool, admin);
        QFETCH(LaunchCommand, expected);
        const LaunchCommand got = launchCommandFor(target, workDir, args, admin);
        QCOMPARE(int(got.kind), int(expected.kind));
        QCOMPARE(got.program, expected.program);
        QCOMPARE(got.arguments, expected.arguments);
        QCOMPARE(got.workDir, expected.workDir);
        QCOMPARE(got.url, expected.url);
    }

    // %c is the entry's name as the panel shows it: in the panel's language.
    void entryNameFollowsLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("title");
        QTest::newRow("zh") << 0 << QString::fromUtf8("--title=\xE7\x9C\x8B\xE5\x9B\xBE");
        QTest::newRow("en") << 1 << QStringLiteral("--title=Viewer");
    }
    void entryNameFollowsLanguage()
    {
        QFETCH(int, language);
        QFETCH(QString, title);
        Lang::setLanguage(language);
        const LaunchCommand got = launchCommandFor(m_dir + "/viewer.desktop", QString(), QString(), false);
        QCOMPARE(got.arguments.value(2), title);
    }
};

KTR_TEST_MAIN(TestItemLaunch)
#include "tst_itemlaunch.moc"
