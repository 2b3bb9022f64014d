// The window's files on their own: what the start makes of what "layout.json" holds (a saved layout, a damaged
// file, a folder in its place), and the size "settings.json" remembers for the next start.
#include "mainwindow/startuplayout.h"
#include "mainwindow/windowfiles.h"
#include "model/configstore.h"
#include "model/defaultlayout.h"
#include "model/panelmodel.h"
#include "testenv.h"
#include "ui/appsettings.h"
#include "ui/lang.h"

#include <QDir>
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
