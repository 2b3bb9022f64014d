#include "model/shortcutfile.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QDir>
#include <QProcess>

using ktr::test::readFile;
using ktr::test::writeFile;

namespace {

const char* const kFirefox = R"(# Installed by the distribution
[Desktop Entry]
Version=1.0
Name=Firefox
Name[zh_CN]=火狐浏览器
GenericName[zh_CN]=网络浏览器
Comment=Browse the World Wide Web
Exec=/usr/lib/firefox/firefox %u
Icon=firefox
Terminal=false
Type=Application
MimeType=text/html;x-scheme-handler/http;
Categories=Network;WebBrowser;
Actions=new-window;private-window;
X-GNOME-UsesNotifications=true

[Desktop Action new-window]
Name=Open a New Window
Name[zh_CN]=打开新窗口
Exec=/usr/lib/firefox/firefox --new-window %u

[Desktop Action private-window]
Name=Open a New Private Window
Exec=/usr/lib/firefox/firefox --private-window %u
)";

QString tempFile(const QString& name)
{
    static int n = 0;
    return ktr::test::freshDir(QStringLiteral("case%1").arg(++n)) + u'/' + name;
}

QStringList lines(const QByteArray& data)
{
    return QString::fromUtf8(data).split(u'\n');
}

} // namespace

class TestShortcutFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("workingDir");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<bool>("admin");

        QTest::newRow("browser with actions") << QByteArray(kFirefox) << "/usr/lib/firefox/firefox"
                                              << ""
                                              << ""
                                              << "firefox" << false;
        QTest::newRow("field codes anywhere")
            << QByteArray("[Desktop Entry]\nType=Application\nExec=/usr/bin/app %i --caption %c %k --open %F %U\n")
            << "/usr/bin/app"
            << "--caption --open"
            << ""
            << "" << false;
        QTest::newRow("field code inside an argument")
            << QByteArray("[Desktop Entry]\nExec=viewer --file=%f\n") << "viewer"
            << "--file="
            << ""
            << "" << false;
        QTest::newRow("percent literal") << QByteArray("[Desktop Entry]\nExec=printf 100%% done\n") << "printf"
                                         << "100% done"
                                         << ""
                                         << "" << false;
        QTest::newRow("quoted path with spaces")
            << QByteArray("[Desktop Entry]\nExec=\"/opt/My App/bin/app\" --flag \"two words\" %f\nPath=/opt/My App\n")
            << "/opt/My App/bin/app"
            << "--flag \"two words\""
            << "/opt/My App"
            << "" << false;
        QTest::newRow("escapes inside quotes") << QByteArray(R"([Desktop Entry]
Exec=sh -c "echo \\"hi\\" \\$HOME \\\\ \\`x\\`"
)") << "sh"
                                               << R"(-c "echo """hi""" $HOME \ `x`")"
                                               << ""
                                               << "" << false;
        QTest::newRow("single quotes") << QByteArray("[Desktop Entry]\nExec=sh -c 'cd ~/src && make'\n") << "sh"
                                       << "-c \"cd ~/src && make\""
                                       << ""
                                       << "" << false;
        QTest::newRow("wine entry with env")
            << QByteArray(R"([Desktop Entry]
Name=Notepad++
Exec=env WINEPREFIX="/home/u/.wine" wine C:\\\\windows\\\\command\\\\start.exe /Unix /home/u/.wine/dosdevices/c:/users/Public/Desktop/Notepad++.lnk
Type=Application
StartupWMClass=notepad++.exe
Path=/home/u/.wine/dosdevices/c:/Program Files/Notepad++
Icon=C6E8_notepad++.0
)") << "wine"
            << R"(C:\windows\command\start.exe /Unix /home/u/.wine/dosdevices/c:/users/Public/Desktop/Notepad++.lnk)"
            << "/home/u/.wine/dosdevices/c:/Program Files/Notepad++"
            << "C6E8_notepad++.0" << false;
        QTest::newRow("run as administrator")
            << QByteArray("[Desktop Entry]\nExec=pkexec /usr/sbin/gparted %f\n") << "/usr/sbin/gparted"
            << ""
            << ""
            << "" << true;
        QTest::newRow("administrator with env")
            << QByteArray("[Desktop Entry]\nExec=/usr/bin/pkexec env DISPLAY=:0 /usr/sbin/synaptic --hide\n")
            << "/usr/sbin/synaptic"
            << "--hide"
            << ""
            << "" << true;
        QTest::newRow("pkexec with its own options")
            << QByteArray("[Desktop Entry]\nExec=pkexec --user bob /usr/bin/x\n") << "pkexec"
            << "--user bob /usr/bin/x"
            << ""
            << "" << false;
        QTest::newRow("blanks around equals, icon path, escaped blank")
            << QByteArray("[Desktop Entry]\nExec = /usr/bin/foo  --bar\nIcon=/opt/foo/icon.png\nPath=\\s/tmp/x\n")
            << "/usr/bin/foo"
            << "--bar"
            << " /tmp/x"
            << "/opt/foo/icon.png" << false;
        QTest::newRow("crlf and byte order mark")
            << QByteArray("\xEF\xBB\xBF[Desktop Entry]\r\nExec=/usr/bin/foo -v\r\nIcon=foo\r\n") << "/usr/bin/foo"
            << "-v"
            << ""
            << "foo" << false;
        QTest::newRow("commented keys and other groups ignored")
            << QByteArray("[Desktop Action x]\nExec=/bad\n[Desktop Entry]\n# Exec=/also-bad\nExec=/good\n"
                          "[X-Extra]\nIcon=bad\n")
            << "/good"
            << ""
            << ""
            << "" << false;
        QTest::newRow("missing keys") << QByteArray("[Desktop Entry]\nName=Nothing\n") << ""
                                      << ""
                                      << ""
                                      << "" << false;
        QTest::newRow("chinese path")
            << QByteArray("[Desktop Entry]\nExec=\"/home/u/文档/工具 箱/run.sh\" 参数\nName[zh_CN]=工具\n")
            << "/home/u/文档/工具 箱/run.sh"
            << "参数"
            << ""
            << "" << false;
    }
    void read()
    {
        QFETCH(QByteArray, file);
        const QString path = tempFile("entry.desktop");
        QVERIFY(writeFile(path, file));
        ShortcutInfo info;
        info.iconIndex = 7;
        QString error = "untouched";
        QVERIFY(readShortcut(path, &info, &error));
        QCOMPARE(error, QStringLiteral("untouched"));
        QTEST(info.target, "target");
        QTEST(info.arguments, "arguments");
        QTEST(info.workingDir, "workingDir");
        QTEST(info.iconPath, "icon");
        QTEST(info.runAsAdmin, "admin");
        QCOMPARE(info.iconIndex, 0);
    }

    void readFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing"
                                 << "快捷方式文件不存在";
        QTest::newRow("folder") << "folder"
                                << "无法读取快捷方式（可能被占用）";
        QTest::newRow("not a desktop entry") << "text"
                                             << "无法读取快捷方式（可能被占用）";
        QTest::newRow("too large") << "large"
                                   << "无法读取快捷方式（可能被占用）";
    }
    void readFailures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString path = tempFile("x.desktop");
        if (kind == u"folder")
            QVERIFY(QDir().mkpath(path));
        else if (kind == u"text")
            QVERIFY(writeFile(path, "[Other]\nExec=/usr/bin/x\n"));
        else if (kind == u"large")
            QVERIFY(writeFile(path, "[Desktop Entry]\nExec=/usr/bin/x\n#" + QByteArray(2 * 1024 * 1024, 'x')));
        ShortcutInfo info;
        info.target = "stale";
        info.runAsAdmin = true;
        QString error;
        QVERIFY(!readShortcut(path, &info, &error));
        QCOMPARE(error, Lang::tr(message));
        QCOMPARE(info.target, QString());
        QCOMPARE(info.runAsAdmin, false);
    }

    // The Exec line as written, checked against the quoting rules of desktop entries, then read back.
    void writeExec_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("admin");
        QTest::addColumn<QString>("execLine");
        QTest::newRow("plain") << "/usr/bin/gedit"
                               << "--new-window" << false << "Exec=/usr/bin/gedit --new-window";
        QTest::newRow("spaces and percent")
            << "/opt/My App/app"
            << "--name \"a b\" 50%" << false << "Exec=\"/opt/My App/app\" --name \"a b\" 50%%";
        QTest::newRow("backslash doubled twice") << "/tmp/a\\b"
                                                 << "" << false << "Exec=\"/tmp/a\\\\\\\\b\"";
        QTest::newRow("dollar, backquote and quote") << "sh"
                                                     << "-c \"echo $HOME `id` \"\"\"q\"\"\"\"" << false
                                                     << "Exec=sh -c \"echo \\\\$HOME \\\\`id\\\\` \\\\\"q\\\\\"\"";
        QTest::newRow("administrator") << "/usr/sbin/gparted"
                                       << "" << true << "Exec=pkexec /usr/sbin/gparted";
        QTest::newRow("chinese") << "/home/u/文档/run.sh"
                                 << "参数" << false << "Exec=/home/u/文档/run.sh 参数";
        const QString longDir = "/srv/" + QString(300, u'd');
        QTest::newRow("longer than 260") << longDir + "/tool"
                                         << "--x " + QString(280, u'a') << false
                                         << "Exec=" + longDir + "/tool --x " + QString(280, u'a');
    }
    void writeExec()
    {
        QFETCH(QString, target);
        QFETCH(QString, arguments);
        QFETCH(bool, admin);
        QFETCH(QString, execLine);
        const QString path = tempFile("new tool.desktop");
        ShortcutInfo info{target, "/home/u/work", arguments, "utilities-terminal", 3, admin};
        QString error = "untouched";
        QVERIFY(writeShortcut(path, info, &error));
        QCOMPARE(error, QStringLiteral("untouched"));
        const QStringList written = lines(readFile(path));
        QCOMPARE(written.first(), QStringLiteral("[Desktop Entry]"));
        QVERIFY(written.contains("Type=Application"));
        QVERIFY(written.contains("Name=new tool"));
        QVERIFY(written.contains(execLine));
        QVERIFY(written.contains("Path=/home/u/work"));
        QVERIFY(written.contains("Icon=utilities-terminal"));

        ShortcutInfo back;
        QVERIFY(readShortcut(path, &back));
        QCOMPARE(back.target, target);
        QCOMPARE(QProcess::splitCommand(back.arguments), QProcess::splitCommand(arguments));
        QCOMPARE(back.workingDir, info.workingDir);
        QCOMPARE(back.iconPath, info.iconPath);
        QCOMPARE(back.runAsAdmin, admin);
    }

    void rewriteKeepsEverythingElse()
    {
        const QString path = tempFile("firefox.desktop");
        QVERIFY(writeFile(path, kFirefox));
        ShortcutInfo info;
        QVERIFY(readShortcut(path, &info));
        info.arguments = "-P work";
        QVERIFY(writeShortcut(path, info));

        QStringList expected = lines(kFirefox);
        expected.replace(expected.indexOf("Exec=/usr/lib/firefox/firefox %u"),
                         "Exec=/usr/lib/firefox/firefox -P work %u");
        QCOMPARE(lines(readFile(path)), expected);
    }

    void emptyFolderAndIconKeepTheFilesOwn()
    {
        const QString path = tempFile("tool.desktop");
        QVERIFY(writeFile(path, "[Desktop Entry]\nType=Application\nName=Tool\nExec=/usr/bin/tool --old\n"
                                "Path=/srv/tool\nIcon=tool\nTryExec=/usr/bin/tool\n\n[Desktop Action a]\nExec=x\n"));
        ShortcutInfo info;
        info.target = "/usr/local/bin/tool2";
        QVERIFY(writeShortcut(path, info));
        // Empty arguments clear them; the start folder and icon stay; TryExec follows the new program.
        QCOMPARE(lines(readFile(path)),
                 (QStringList{"[Desktop Entry]", "Type=Application", "Name=Tool", "Exec=/usr/local/bin/tool2",
                              "Path=/srv/tool", "Icon=tool", "TryExec=/usr/local/bin/tool2", "", "[Desktop Action a]",
                              "Exec=x", ""}));
    }

    void missingKeysAreAddedToTheGroup()
    {
        const QString path = tempFile("bare.desktop");
        QVERIFY(writeFile(path, "# comment\n[Desktop Entry]\nName[zh_CN]=工具\nX-Custom=1\n\n[Desktop Action a]\n"
                                "Name=A\n"));
        ShortcutInfo info{"/usr/bin/tool", "/tmp", "", "/opt/tool.png", 0, false};
        QVERIFY(writeShortcut(path, info));
        QCOMPARE(lines(readFile(path)), (QStringList{"# comment", "[Desktop Entry]", "Name[zh_CN]=工具", "X-Custom=1",
                                                     "Type=Application", "Name=bare", "Exec=/usr/bin/tool", "Path=/tmp",
                                                     "Icon=/opt/tool.png", "", "[Desktop Action a]", "Name=A", ""}));
    }

    void administratorOnAndOffKeepsEnv()
    {
        const QString path = tempFile("env.desktop");
        QVERIFY(writeFile(path, "[Desktop Entry]\nType=Application\nName=E\n"
                                "Exec=env GDK_BACKEND=x11 \"/opt/My App/app\" %U\n"));
        ShortcutInfo info;
        QVERIFY(readShortcut(path, &info));
        QCOMPARE(info.target, QStringLiteral("/opt/My App/app"));
        info.runAsAdmin = true;
        QVERIFY(writeShortcut(path, info));
        QVERIFY(lines(readFile(path)).contains("Exec=pkexec env GDK_BACKEND=x11 \"/opt/My App/app\" %U"));
        QVERIFY(readShortcut(path, &info));
        QVERIFY(info.runAsAdmin);
        info.runAsAdmin = false;
        QVERIFY(writeShortcut(path, info));
        QVERIFY(lines(readFile(path)).contains("Exec=env GDK_BACKEND=x11 \"/opt/My App/app\" %U"));
    }

    // A rewrite keeps the field codes: in their places while the arguments stay, after new ones otherwise.
    void rewriteKeepsFieldCodes_data()
    {
        QTest::addColumn<QByteArray>("exec");
        QTest::addColumn<QString>("target");    // empty: as read
        QTest::addColumn<QString>("arguments"); // "=": as read
        QTest::addColumn<QString>("written");
        QTest::newRow("name change only")
            << QByteArray("/usr/bin/app %i --caption %c %k --open %F %U") << QString() << "="
            << "Exec=/usr/bin/app %i --caption %c %k --open %F %U";
        QTest::newRow("new target") << QByteArray("/usr/bin/gimp-2.10 %U") << "/usr/bin/gimp"
                                    << "="
                                    << "Exec=/usr/bin/gimp %U";
        QTest::newRow("new arguments") << QByteArray("viewer --old %f") << QString() << "--new \"a b\""
                                       << "Exec=viewer --new \"a b\" %f";
        QTest::newRow("arguments removed") << QByteArray("viewer --old %f %u") << QString() << ""
                                           << "Exec=viewer %f %u";
        QTest::newRow("percent of an argument") << QByteArray("app 50%% %U") << QString() << "="
                                                << "Exec=app 50%% %U";
    }
    void rewriteKeepsFieldCodes()
    {
        QFETCH(QByteArray, exec);
        QFETCH(QString, target);
        QFETCH(QString, arguments);
        QFETCH(QString, written);
        const QString path = tempFile("codes.desktop");
        QVERIFY(writeFile(path, "[Desktop Entry]\nType=Application\nName=C\nExec=" + exec + "\n"));
        ShortcutInfo info;
        QVERIFY(readShortcut(path, &info));
        if (!target.isEmpty())
            info.target = target;
        if (arguments != QLatin1String("="))
            info.arguments = arguments;
        QVERIFY(writeShortcut(path, info));
        QCOMPARE(lines(readFile(path)).filter(QStringLiteral("Exec=")), QStringList{written});
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("below a regular file") << "below-file";
        QTest::newRow("a folder in its place") << "folder";
        QTest::newRow("a file that is no desktop entry") << "foreign";
    }
    void writeFailures()
    {
        QFETCH(QString, kind);
        QString path = tempFile("x.desktop");
        const QByteArray foreign = "hello, this is a note\n";
        if (kind == u"below-file") {
            QVERIFY(writeFile(path, "plain"));
            path += "/y.desktop";
        } else if (kind == u"folder")
            QVERIFY(QDir().mkpath(path));
        else
            QVERIFY(writeFile(path, foreign));
        QString error;
        QVERIFY(!writeShortcut(path, ShortcutInfo{"/usr/bin/x", "", "", "", 0, false}, &error));
        QCOMPARE(error, Lang::tr("快捷方式写入失败（目标可能被占用）"));
        if (kind == u"foreign")
            QCOMPARE(readFile(path), foreign);
    }
};

KTR_TEST_MAIN(TestShortcutFile)
#include "tst_shortcutfile.moc"
