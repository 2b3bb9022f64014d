#include "logcapture.h"
#include "model/desktopcollect.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

using ktr::test::freshDir;
using ktr::test::writeFile;

namespace {

const QString kNothingNew = QStringLiteral("桌面没有需要收纳的新图标");

// A desktop folder holding the given entries; names ending in '/' are folders.
QString makeDesktop(const QString& name, const QStringList& entries)
{
    const QString dir = freshDir(name);
    for (const QString& entry : entries) {
        if (entry.endsWith(QLatin1Char('/')))
            QDir().mkpath(dir + QLatin1Char('/') + entry);
        else
            writeFile(dir + QLatin1Char('/') + entry, "x");
    }
    return dir;
}

Item plainItem(const QString& path, const QString& name)
{
    Item item;
    item.path = path;
    item.name = name;
    return item;
}

// "group/name" for every item, in model order.
QStringList itemsOf(const QList<Group>& groups)
{
    QStringList out;
    for (const Group& g : groups) {
        for (const Item& i : g.items)
            out.append(g.name + QLatin1Char('/') + i.name);
    }
    return out;
}

} // namespace

class TestDesktopCollect : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { Lang::setLanguage(0); }

    void sortsEntriesIntoCategoryGroups_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("name");
        QTest::newRow("upper-case suffix") << "Report.PDF"
                                           << "文档"
                                           << "Report";
        QTest::newRow("no suffix") << "setup"
                                   << "其他"
                                   << "setup";
        QTest::newRow("folder with a dot keeps its full name") << "Photos.2024/"
                                                               << "其他"
                                                               << "Photos.2024";
        QTest::newRow("folder") << "Photos/"
                                << "其他"
                                << "Photos";
        QTest::newRow("last suffix decides") << "backup.tar.gz"
                                             << "压缩包"
                                             << "backup.tar";
        QTest::newRow("launcher is a program") << "firefox.desktop"
                                               << "程序"
                                               << "firefox";
        QTest::newRow("windows program") << "tool.exe"
                                         << "程序"
                                         << "tool";
        QTest::newRow("picture") << "a.webp"
                                 << "图片"
                                 << "a";
        QTest::newRow("media") << "song.Mp3"
                               << "影音"
                               << "song";
        QTest::newRow("unknown suffix") << "notes.xyz"
                                        << "其他"
                                        << "notes";
    }
    void sortsEntriesIntoCategoryGroups()
    {
        QFETCH(QString, entry);
        QFETCH(QString, group);
        QFETCH(QString, name);
        const QString desk = makeDesktop(QStringLiteral("cat"), {entry});
        QList<Group> groups{
            Group{QStringLiteral("常用"), {plainItem(QStringLiteral("/usr/bin/x"), QStringLiteral("x"))}}};
        const DesktopCollectResult r = collectDesktopIcons(groups, {desk});
        QCOMPARE(r.added, 1);
        QCOMPARE(groups.size(), 2);
        QCOMPARE(groups.at(1).name, group);
        const Item& item = groups.at(1).items.at(0);
        QCOMPARE(item.name, name);
        QString expectedPath = desk + QLatin1Char('/') + entry;
        if (expectedPath.endsWith(QLatin1Char('/')))
            expectedPath.chop(1);
        QCOMPARE(item.path, expectedPath);
        QCOMPARE(item, plainItem(expectedPath, name));
        QCOMPARE(r.newPaths, QStringList{expectedPath});
        QCOMPARE(r.message, QStringLiteral("已收纳 1 个桌面新图标"));
    }

    void fillsExistingGroupsAndAppendsNewOnesInScanOrder()
    {
        const QString desk = makeDesktop(QStringLiteral("order"), {"b.png", "a.txt", "c.png", "z", "d.zip"});
        QList<Group> groups{Group{QStringLiteral("图片 "), {}}, Group{QStringLiteral("图片"), {}}};
        LogCapture log;
        const DesktopCollectResult r = collectDesktopIcons(groups, {desk});
        // Exact names only: "图片 " is another group; the rest are appended as first met (sorted by name).
        QCOMPARE(itemsOf(groups), (QStringList{"图片/b", "图片/c", "文档/a", "压缩包/d", "其他/z"}));
        QCOMPARE(groups.size(), 5);
        QCOMPARE(groups.at(0).items.size(), 0);
        QCOMPARE(r.added, 5);
        QCOMPARE(r.newPaths.first(), desk + QStringLiteral("/a.txt"));
        QCOMPARE(r.message, QStringLiteral("已收纳 5 个桌面新图标"));
        QVERIFY(log.contains(QStringLiteral("desktop sync: dirs =")));
        QVERIFY(log.contains(QStringLiteral("pending = 5")));
        QVERIFY(log.contains(QStringLiteral("desktop sync: added = 5 groups = 5")));
    }

    void skipsWhatIsKnownHiddenOrLinked()
    {
        const QString desk =
            makeDesktop(QStringLiteral("skip"), {"known.txt", ".hidden.txt", ".hiddendir/", "new.txt", "Known.txt"});
        QVERIFY(QFile::link(desk + QStringLiteral("/new.txt"), desk + QStringLiteral("/link.txt")));
        QVERIFY(QFile::link(desk + QStringLiteral("/.hiddendir"), desk + QStringLiteral("/linkdir")));
        QList<Group> groups{Group{QStringLiteral("文档"), {plainItem(desk + QStringLiteral("/known.txt"), "k")}}};
        // The same folder reached twice gives each entry once.
        const DesktopCollectResult r = collectDesktopIcons(groups, {desk, desk, QStringLiteral("/no/such/desktop")});
        // Case matters on this file system: Known.txt is a file of its own.
        QCOMPARE(itemsOf(groups), (QStringList{"文档/k", "文档/Known", "文档/new"}));
        QCOMPARE(r.pending, 2);
    }

    void secondRunFindsNothingNew()
    {
        const QString desk = makeDesktop(QStringLiteral("twice"), {"a.txt", "b/"});
        QList<Group> groups;
        QCOMPARE(collectDesktopIcons(groups, {desk}).added, 2);
        const QList<Group> before = groups;
        LogCapture log;
        const DesktopCollectResult r = collectDesktopIcons(groups, {desk});
        QVERIFY(!r.changed());
        QCOMPARE(r.message, kNothingNew);
        QCOMPARE(groups, before);
        QVERIFY(log.contains(QStringLiteral("pending = 0")));
    }

    void noUsableFolderIsNothingNew()
    {
        QList<Group> groups;
        const DesktopCollectResult r = collectDesktopIcons(groups, {});
        QCOMPARE(r.message, kNothingNew);
        QVERIFY(groups.isEmpty());
    }

    void otherGroupIsTranslatedCategoriesAreNot()
    {
        Lang::setLanguage(1);
        const QString desk = makeDesktop(QStringLiteral("english"), {"x", "y.pdf"});
        QList<Group> groups;
        const DesktopCollectResult r = collectDesktopIcons(groups, {desk});
        QCOMPARE(itemsOf(groups), (QStringList{"Others/x", "文档/y"}));
        QCOMPARE(r.message, QStringLiteral("Collected 2 new desktop icons"));
    }

    void desktopFolderComesFromUserDirs_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected"); // relative to HOME; empty = nothing scanned
        QTest::newRow("desktop folder") << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n") << "/Schreibtisch";
        QTest::newRow("home itself") << QByteArray("XDG_DESKTOP_DIR=\"$HOME/\"\n") << QString();
        QTest::newRow("missing folder") << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Gone\"\n") << QString();
    }
    void desktopFolderComesFromUserDirs()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        const QString home = QDir::homePath();
        QDir().mkpath(home + QStringLiteral("/Schreibtisch"));
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QVERIFY(writeFile(config + QStringLiteral("/user-dirs.dirs"), line));
        const QStringList folders = desktopFolders();
        if (expected.isEmpty())
            QVERIFY2(folders.isEmpty(), qPrintable(folders.join(',')));
        else
            QCOMPARE(folders, QStringList{home + expected});
    }

private:
    using LogCapture = ktr::test::LogCapture;
};

KTR_TEST_MAIN(TestDesktopCollect)
#include "tst_desktopcollect.moc"
