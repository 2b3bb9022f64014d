// The window's files on their own: what the start makes of what "layout.json" holds (a saved layout, a damaged
// file, a folder in its place), a read made ahead on a worker taken only while the file is unchanged, and the
// size "settings.json" remembers for the next start.
#include "mainwindow/startuplayout.h"
#include "mainwindow/windowfiles.h"
#include "model/configstore.h"
#include "model/defaultlayout.h"
#include "model/panelmodel.h"
#include "testenv.h"
#include "ui/appsettings.h"
#include "ui/lang.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest/QtTest>

#include <memory>

namespace {

// A model and settings record with the files of one folder, and what the files asked of the window.
struct Fixture
{
    PanelModel model;
    AppSettings settings;
    QSize remembered{800, 520};
    int iconRequests = 0;
    QList<Group> iconGroups;
    std::unique_ptr<WindowFiles> files;

    explicit Fixture(const QString& dir)
    {
        WindowFiles::Host host;
        host.model = &model;
        host.settings = &settings;
        host.queueIcons = [this](const QList<Group>& groups, int) {
            ++iconRequests;
            iconGroups = groups;
        };
        host.rememberedSize = [this] { return remembered; };
        files = std::make_unique<WindowFiles>(std::move(host), nullptr, dir);
    }
};

QString defaultFirstGroup()
{
    const QList<Group> groups = buildDefaultLayout();
    return groups.isEmpty() ? Lang::tr("默认分组") : groups.first().name;
}

} // namespace

class TestWindowFiles : public QObject
{
    Q_OBJECT

private slots:
    void startTakesWhatTheFileHolds_data()
    {
        QTest::addColumn<QString>("onDisk"); // "saved", "damaged", "folder"
        QTest::addColumn<QString>("firstGroup");
        QTest::addColumn<int>("saves");
        QTest::newRow("saved layout") << QStringLiteral("saved") << QStringLiteral("Mine") << 0;
        // The damaged file is moved aside and the defaults written in its place.
        QTest::newRow("damaged file") << QStringLiteral("damaged") << defaultFirstGroup() << 1;
        // A file that can't be read is never written over: the defaults stay in memory only.
        QTest::newRow("folder in the file's place") << QStringLiteral("folder") << defaultFirstGroup() << 0;
    }

    void startTakesWhatTheFileHolds()
    {
        QFETCH(QString, onDisk);
        QFETCH(QString, firstGroup);
        QFETCH(int, saves);
        const QString dir = ktr::test::freshDir(QStringLiteral("start-") + onDisk);
        const QString layout = dir + QStringLiteral("/layout.json");
        if (onDisk == QLatin1String("saved")) {
            ConfigStore store(dir);
            Item item;
            item.path = dir + QStringLiteral("/a.txt");
            item.name = QStringLiteral("a");
            QVERIFY(store.saveLayout({Group{QStringLiteral("Mine"), {item}}, Group{QStringLiteral("Two"), {}}}));
        } else if (onDisk == QLatin1String("damaged")) {
            QVERIFY(ktr::test::writeFile(layout, "{\"groups\": [")); // cut off mid-way
        } else {
            QVERIFY(QDir().mkpath(layout));
        }

        Fixture f(dir);
        QSignalSpy taken(f.files.get(), &WindowFiles::startupLayoutTaken);
        QSignalSpy saved(f.files.get(), &WindowFiles::layoutSaved);
        f.files->startupLayout()->take();
        QCOMPARE(taken.size(), 1);
        QCOMPARE(saved.size(), saves);
        QVERIFY(!f.model.groups().isEmpty());
        QCOMPARE(f.model.groups().first().name, firstGroup);
        QCOMPARE(f.model.currentIndex(), 0);
        // The icons of what came in are asked for, once.
        QCOMPARE(f.iconRequests, 1);
        QCOMPARE(f.iconGroups, f.model.groups());
        QVERIFY(f.files->finishLayoutSaves());
        QCOMPARE(QFileInfo(layout).isDir(), onDisk == QLatin1String("folder"));

        // What the start left on disk is what the next start reads.
        if (onDisk != QLatin1String("folder")) {
            Fixture next(dir);
            QVERIFY(next.files->loadLayout());
            QCOMPARE(next.model.groups(), f.model.groups());
        }
    }

    void saveRefusedOverAnUnreadableFile()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("refused"));
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/layout.json")));
        Fixture f(dir);
        f.files->startupLayout()->take();
        QSignalSpy saved(f.files.get(), &WindowFiles::layoutSaved);
        f.model.createGroup(QStringLiteral("New"));
        QVERIFY(!f.files->saveLayout());
        QCOMPARE(saved.size(), 0);
        QVERIFY(!f.files->loadLayout());
    }

    // A restore's worker reads the layout ahead; the window takes that read only while the file is still the one
    // it read. A file written since (by a save that was still running, by anything) is read again, so what the
    // window shows is what the disk holds.
    void readAheadTakenOnlyForTheSameFile_data()
    {
        QTest::addColumn<QString>("change"); // what happens between the read ahead and the load
        QTest::addColumn<QString>("firstGroup");
        QTest::newRow("nothing") << QString() << QStringLiteral("read ahead");
        QTest::newRow("no read ahead") << QStringLiteral("none") << QStringLiteral("on disk");
        QTest::newRow("a read of another file") << QStringLiteral("elsewhere") << QStringLiteral("on disk");
        QTest::newRow("rewritten one byte longer, same time") << QStringLiteral("longer") << QStringLiteral("on disk!");
        QTest::newRow("rewritten as long, 1 ms later") << QStringLiteral("later") << QStringLiteral("on disc");
    }
    void readAheadTakenOnlyForTheSameFile()
    {
        QFETCH(QString, change);
        QFETCH(QString, firstGroup);
        const QString dir = ktr::test::freshDir(QStringLiteral("ahead"));
        const QString layout = ConfigStore::layoutFileIn(dir);
        ConfigStore store(dir);
        QVERIFY(store.saveLayout({Group{QStringLiteral("on disk"), {}}}));
        auto ahead = std::make_shared<ConfigStore::LayoutRead>(ConfigStore::readLayoutFile(layout));
        QCOMPARE(ahead->groups.first().name, QStringLiteral("on disk"));
        // What the read holds is told apart from what the file holds by the name.
        ahead->groups.first().name = QStringLiteral("read ahead");
        const QDateTime readAt = QFileInfo(layout).lastModified();
        const auto rewrite = [&](const QString& name, const QDateTime& at) {
            QVERIFY(store.saveLayout({Group{name, {}}}));
            QFile file(layout);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(at, QFileDevice::FileModificationTime));
        };
        if (change == QLatin1String("elsewhere"))
            ahead->path = dir + QStringLiteral("/other.json");
        else if (change == QLatin1String("longer"))
            rewrite(QStringLiteral("on disk!"), readAt);
        else if (change == QLatin1String("later"))
            rewrite(QStringLiteral("on disc"), readAt.addMSecs(1));
        Fixture f(dir);
        f.files->startupLayout()->take();
        f.model.replaceGroups({});
        QVERIFY(f.files->loadLayout(change == QLatin1String("none") ? nullptr : ahead));
        QCOMPARE(f.model.groups().first().name, firstGroup);
    }

    void settingsRememberTheWindowSize_data()
    {
        QTest::addColumn<QSize>("remembered");
        QTest::newRow("usual size") << QSize(900, 640);
        QTest::newRow("one pixel off the default") << QSize(681, 496);
    }

    void settingsRememberTheWindowSize()
    {
        QFETCH(QSize, remembered);
        const QString dir = ktr::test::freshDir(QStringLiteral("size"));
        {
            Fixture f(dir);
            f.files->loadSettings();
            QCOMPARE(f.files->savedSize(), QSize(-1, -1)); // a first start remembers nothing
            f.remembered = remembered;
            f.settings.customTitle = QStringLiteral("Mine");
            QVERIFY(f.files->saveSettings());
        }
        Fixture next(dir);
        next.files->loadSettings();
        QCOMPARE(next.files->savedSize(), remembered);
        QCOMPARE(next.settings.customTitle, QStringLiteral("Mine"));
    }
};

KTR_TEST_MAIN(TestWindowFiles)
#include "tst_windowfiles.moc"
