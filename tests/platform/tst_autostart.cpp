// The XDG autostart entry: where it goes, how the program path is quoted, removal, and a folder that
// can't be created.
#include "desktopvalidate.h"
#include "platform/autostart.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using ktr::platform::autostartFilePath;
using ktr::platform::setAutostart;

class TestAutostart : public QObject
{
    Q_OBJECT

    static QString configHome() { return qEnvironmentVariable("XDG_CONFIG_HOME"); }

private Q_SLOTS:
    void init()
    {
        QDir(configHome() + QStringLiteral("/autostart")).removeRecursively();
        QFile::remove(configHome() + QStringLiteral("/autostart"));
    }

    void pathIsInTheUsersAutostartFolder()
    {
        QCOMPARE(autostartFilePath(), configHome() + QStringLiteral("/autostart/KestrunePanel.desktop"));
    }

    // The Exec value after both escaping layers of the desktop entry format.
    void execLineQuotesThePath_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/opt/kp/kestrune-panel"
                               << "Exec=\"/opt/kp/kestrune-panel\"";
        QTest::newRow("space") << "/opt/my apps/kp"
                               << "Exec=\"/opt/my apps/kp\"";
        QTest::newRow("quote") << "/opt/a\"b/kp"
                               << "Exec=\"/opt/a\\\\\"b/kp\"";
        QTest::newRow("dollar and backtick") << "/opt/$x`y`/kp"
                                             << "Exec=\"/opt/\\\\$x\\\\`y\\\\`/kp\"";
        QTest::newRow("backslash") << "/opt/a\\b/kp"
                                   << "Exec=\"/opt/a\\\\\\\\b/kp\"";
        QTest::newRow("percent") << "/opt/100%/kp"
                                 << "Exec=\"/opt/100%%/kp\"";
        QTest::newRow("chinese") << "/opt/面板/kp"
                                 << "Exec=\"/opt/面板/kp\"";
    }
    void execLineQuotesThePath()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QString error;
        QCOMPARE(setAutostart(true, program, &error), 0);
        QVERIFY(error.isEmpty());
        const QStringList lines = QString::fromUtf8(ktr::test::readFile(autostartFilePath())).split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
        QVERIFY(lines.contains(QStringLiteral("Type=Application")));
        QCOMPARE(lines.filter(QStringLiteral("Exec=")), QStringList{exec});
        QCOMPARE(ktr::test::desktopEntryProblems(autostartFilePath()), QString());
    }

    void offRemovesTheEntry()
    {
        QCOMPARE(setAutostart(true, QStringLiteral("/opt/kp/kestrune-panel")), 0);
        QVERIFY(QFileInfo::exists(autostartFilePath()));
        // Written once more for another program path: the new path wins.
        QCOMPARE(setAutostart(true, QStringLiteral("/usr/bin/kestrune-panel")), 0);
        QVERIFY(ktr::test::readFile(autostartFilePath()).contains("Exec=\"/usr/bin/kestrune-panel\""));
        QCOMPARE(setAutostart(false, QString()), 0);
        QVERIFY(!QFileInfo::exists(autostartFilePath()));
        // Nothing to remove is no failure.
        QCOMPARE(setAutostart(false, QString()), 0);
    }

    void unwritableFolderFailsAndReports()
    {
        // The autostart folder is a regular file: nothing can be created below it.
        QVERIFY(ktr::test::writeFile(configHome() + QStringLiteral("/autostart"), "not a folder"));
        QString error;
        QVERIFY(setAutostart(true, QStringLiteral("/opt/kp/kestrune-panel"), &error) != 0);
        QVERIFY(!error.isEmpty());
        QCOMPARE(ktr::test::readFile(configHome() + QStringLiteral("/autostart")), QByteArray("not a folder"));
    }
};

KTR_TEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
