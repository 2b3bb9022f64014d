// Missing targets without a poll: the folders of the items' targets are watched, and a target deleted (or
// come back) shows on the grid after the folder's change, with no timer running while nothing changes.
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/targetwatch.h"
#include "windowfixture.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTimer>

using namespace ktr::test;

namespace {

bool noTimerRuns(const QObject& owner)
{
    const QList<QTimer*> timers = owner.findChildren<QTimer*>();
    return std::none_of(timers.cbegin(), timers.cend(), [](const QTimer* t) { return t->isActive(); });
}

} // namespace

class TestTargetWatch : public QObject
{
    Q_OBJECT

private slots:
    void init() { useRedIconExtractor(); }
    void cleanup() { setIconExtractorForTesting({}); }

    // The badge follows the disk: a target deleted is marked, one restored is not, and in between nothing runs.
    void deletedTargetGetsItsBadgeWithoutAPoll()
    {
        const QString dir = freshDir(QStringLiteral("targets"));
        const QString kept = dir + QStringLiteral("/kept.txt");
        const QString doomed = dir + QStringLiteral("/doomed.txt");
        QVERIFY(writeFile(kept, "k"));
        QVERIFY(writeFile(doomed, "d"));
        writeLayout({Group{QStringLiteral("A"), {item(kept), item(doomed)}}});
        auto w = std::make_unique<MainWindow>();
        QTRY_VERIFY(!w->invalidPathCheck()->running());
        QVERIFY(w->invalidPathCheck()->paths().isEmpty());
        QVERIFY(w->invalidPathCheck()->targetWatch()->watchedFolders().contains(dir));
        QTRY_VERIFY(noTimerRuns(*w->invalidPathCheck()->targetWatch()));

        QVERIFY(QFile::remove(doomed));
        QTRY_COMPARE(w->invalidPathCheck()->paths(), QSet<QString>{doomed});
        QTRY_VERIFY(noTimerRuns(*w->invalidPathCheck()->targetWatch()));

        QVERIFY(writeFile(doomed, "back"));
        QTRY_VERIFY(w->invalidPathCheck()->paths().isEmpty());
    }

    // A folder that went away is replaced by its nearest existing ancestor, so its return is seen as well.
    void goneFolderIsWatchedThroughItsParent()
    {
        const QString base = freshDir(QStringLiteral("tree"));
        const QString sub = base + QStringLiteral("/sub");
        QVERIFY(QDir().mkpath(sub));
        const QString target = sub + QStringLiteral("/t.txt");
        QVERIFY(writeFile(target, "t"));
        Item it = item(target);
        TargetWatch watch;
        QSignalSpy changed(&watch, &TargetWatch::targetsChanged);
        watch.setGroups({Group{QStringLiteral("A"), {it}}}, 0);
        QCOMPARE(watch.watchedFolders(), QStringList{sub});

        QVERIFY(QDir(sub).removeRecursively());
        QVERIFY(changed.wait(5000));
        watch.setGroups({Group{QStringLiteral("A"), {it}}}, 0); // what the owner's check does
        QCOMPARE(watch.watchedFolders(), QStringList{base});

        changed.clear();
        QVERIFY(QDir().mkpath(sub));
        QVERIFY(changed.wait(5000));
        watch.setGroups({Group{QStringLiteral("A"), {it}}}, 0);
        QCOMPARE(watch.watchedFolders(), QStringList{sub});
    }

    // The number of folders is bounded; the current group's are among those watched, and the owner knows
    // that the rest is not covered.
    void foldersAreBoundedCurrentGroupFirst()
    {
        const QString base = freshDir(QStringLiteral("many"));
        QList<Group> groups;
        for (int g = 0; g < 3; ++g) {
            Group group{QString::number(g), {}};
            for (int i = 0; i < TargetWatch::kMaxFolders / 2; ++i) {
                const QString folder = QStringLiteral("%1/g%2-%3").arg(base).arg(g).arg(i);
                QVERIFY(QDir().mkpath(folder));
                group.items.append(item(folder + QStringLiteral("/x.txt")));
            }
            groups.append(group);
        }
        TargetWatch watch;
        watch.setGroups(groups, 2);
        QVERIFY(!watch.coversAll());
        const QStringList watched = watch.watchedFolders();
        QCOMPARE(watched.size(), TargetWatch::kMaxFolders);
        QVERIFY(watched.contains(base + QStringLiteral("/g2-0")));
        QVERIFY(watched.contains(base + QStringLiteral("/g2-%1").arg(TargetWatch::kMaxFolders / 2 - 1)));

        watch.setGroups(groups.mid(0, 2), 0);
        QVERIFY(watch.coversAll());
        QCOMPARE(watch.watchedFolders().size(), TargetWatch::kMaxFolders);
    }

    // A watch that has seen the model before each edit watches what a new one given the edited model does:
    // only changed groups are looked at again, and a change made in place must not pass for no change.
    void editedModelWatchedLikeAFreshOne_data()
    {
        QTest::addColumn<int>("edit");
        QTest::newRow("item's path changed in place") << 0;
        QTest::newRow("custom icon set in place") << 1;
        QTest::newRow("item added") << 2;
        QTest::newRow("item removed") << 3;
        QTest::newRow("item moved to another group") << 4;
        QTest::newRow("items replaced by as many others") << 5;
        QTest::newRow("group added") << 6;
        QTest::newRow("group deleted") << 7;
        QTest::newRow("groups reordered") << 8;
        QTest::newRow("another current group") << 9;
        QTest::newRow("group renamed") << 10;
        QTest::newRow("the bound passed") << 11;
    }
    void editedModelWatchedLikeAFreshOne()
    {
        QFETCH(int, edit);
        const QString base = freshDir(QStringLiteral("edits"));
        const auto in = [&](const QString& folder, const QString& file) {
            QDir().mkpath(base + QLatin1Char('/') + folder);
            return base + QLatin1Char('/') + folder + QLatin1Char('/') + file;
        };
        QList<Group> groups{
            Group{QStringLiteral("A"),
                  {item(in(QStringLiteral("a"), QStringLiteral("1"))),
                   item(in(QStringLiteral("a"), QStringLiteral("2")))}},
            Group{QStringLiteral("B"),
                  {item(in(QStringLiteral("b"), QStringLiteral("1"))),
                   item(in(QStringLiteral("c"), QStringLiteral("1")))}},
            Group{QStringLiteral("C"), {item(in(QStringLiteral("d"), QStringLiteral("1")))}},
        };
        int current = 0;
        TargetWatch watch;
        watch.setGroups(groups, current);
        watch.setGroups(groups, current); // what it knows now is its own, not the first call's
        switch (edit) {
        case 0:
            groups[1].items[0].path = in(QStringLiteral("e"), QStringLiteral("1"));
            break;
        case 1:
            groups[2].items[0].customIcon = in(QStringLiteral("icons"), QStringLiteral("i.png"));
            break;
        case 2:
            groups[0].items.append(item(in(QStringLiteral("f"), QStringLiteral("1"))));
            break;
        case 3:
            groups[1].items.removeAt(1);
            break;
        case 4:
            groups[2].items.append(groups[1].items.takeAt(1));
            break;
        case 5:
            groups[1].items = {item(in(QStringLiteral("g"), QStringLiteral("1"))),
                               item(in(QStringLiteral("g"), QStringLiteral("2")))};
            break;
        case 6:
            groups.append(Group{QStringLiteral("D"), {item(in(QStringLiteral("h"), QStringLiteral("1")))}});
            break;
        case 7:
            groups.removeAt(1);
            break;
        case 8:
            groups.move(2, 0);
            break;
        case 9:
            current = 2;
            break;
        case 10:
            groups[0].name = QStringLiteral("renamed");
            break;
        case 11:
            for (int i = 0; i < TargetWatch::kMaxFolders; ++i)
                groups[2].items.append(item(in(QStringLiteral("many%1").arg(i), QStringLiteral("x"))));
            break;
        }
        watch.setGroups(groups, current);
        TargetWatch fresh;
        fresh.setGroups(groups, current);
        QStringList got = watch.watchedFolders();
        QStringList want = fresh.watchedFolders();
        got.sort();
        want.sort();
        QCOMPARE(got, want);
        QCOMPARE(watch.coversAll(), fresh.coversAll());
    }
};

KTR_TEST_MAIN(TestTargetWatch)
#include "tst_targetwatch.moc"
