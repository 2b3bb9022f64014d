#include "model/buttonlayout.h"
#include "model/panelmodel.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QJsonArray>
#include <QScopeGuard>
#include <QSignalSpy>

using Mutation = std::function<bool(PanelModel&)>;
Q_DECLARE_METATYPE(Mutation)

class TestPanelModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void clampIndex_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("expected");
        QTest::newRow("negative") << -5 << 3 << 0;
        QTest::newRow("too large") << 99 << 3 << 2;
        QTest::newRow("inside") << 1 << 3 << 1;
        QTest::newRow("last") << 2 << 3 << 2;
        QTest::newRow("no groups") << 4 << 0 << 0;
    }
    void clampIndex()
    {
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(int, expected);
        QCOMPARE(clampGroupIndex(index, count), expected);
    }

    void findByName()
    {
        const QList<Group> groups{{"a", {}}, {"b", {}}, {"a", {}}, {"B", {}}};
        QCOMPARE(findGroupByName(groups, "a"), 0);
        QCOMPARE(findGroupByName(groups, "a", 0), 2);
        QCOMPARE(findGroupByName(groups, "b", 1), -1);
        QCOMPARE(findGroupByName(groups, "B"), 3); // exact, case-sensitive
        QCOMPARE(findGroupByName(groups, "a "), -1);
        QCOMPARE(findGroupByName({}, "a"), -1);
    }

    void normalize_data()
    {
        QTest::addColumn<QList<int>>("title");
        QTest::addColumn<QList<int>>("bottom");
        QTest::addColumn<QList<int>>("expectedTitle");
        QTest::addColumn<QList<int>>("expectedBottom");
        const QList<int> t0{0, 1, 2, 3, 4}, b0{10, 9, 8, 7, 6, 5};
        QTest::newRow("defaults unchanged") << t0 << b0 << t0 << b0;
        QTest::newRow("both empty") << QList<int>{} << QList<int>{} << t0 << QList<int>{8, 10, 9, 5, 6, 7};
        QTest::newRow("duplicates, unknown, shared")
            << QList<int>{0, 1, 1, 12, 2} << QList<int>{2, 5} << t0 << QList<int>{8, 10, 9, 5, 6, 7};
        QTest::newRow("-1 entries dropped")
            << QList<int>{-1, 0, 1, 2, 3, 4} << QList<int>{10, -1, 9, 8, 7, 6, 5} << t0 << b0;
        QTest::newRow("10 on the title bar counts") << QList<int>{10, 0, 1, 2, 3, 4} << QList<int>{9, 8, 7, 6, 5}
                                                    << QList<int>{10, 0, 1, 2, 3, 4} << QList<int>{9, 8, 7, 6, 5};
        QTest::newRow("9 missing goes before 8")
            << t0 << QList<int>{10, 7, 8, 6, 5} << t0 << QList<int>{10, 7, 9, 8, 6, 5};
        QTest::newRow("9 on the title bar also on the bottom")
            << QList<int>{9, 0, 1, 2, 3, 4} << QList<int>{10, 8, 7, 6, 5} << QList<int>{9, 0, 1, 2, 3, 4}
            << QList<int>{10, 9, 8, 7, 6, 5};
        QTest::newRow("settings button missing") << QList<int>{0, 2, 3, 4} << b0 << QList<int>{0, 2, 3, 4, 1} << b0;
        QTest::newRow("bottom ids on the title bar") << QList<int>{5, 6, 0, 1, 2, 3, 4} << QList<int>{10, 9, 8, 7}
                                                     << QList<int>{5, 6, 0, 1, 2, 3, 4} << QList<int>{10, 9, 8, 7};
    }
    void normalize()
    {
        QFETCH(QList<int>, title);
        QFETCH(QList<int>, bottom);
        normalizeButtonLayouts(title, bottom);
        QTEST(title, "expectedTitle");
        QTEST(bottom, "expectedBottom");
        for (int id = 0; id <= 10; ++id)
            QVERIFY(title.contains(id) || bottom.contains(id));
        QVERIFY(bottom.contains(9));
    }

    void readLayout_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QList<int>>("expected");
        const QList<int> kept{7, 7, 7};
        QTest::newRow("mixed entries") << QJsonValue(QJsonArray{3, 3, "s", 99, 0}) << QList<int>{3, 0};
        QTest::newRow("fractions and negatives") << QJsonValue(QJsonArray{1.5, -2, 4}) << QList<int>{4};
        QTest::newRow("empty array keeps the list") << QJsonValue(QJsonArray{}) << kept;
        QTest::newRow("missing keeps the list") << QJsonValue(QJsonValue::Undefined) << kept;
        QTest::newRow("not an array keeps the list") << QJsonValue(5) << kept;
        QTest::newRow("only invalid entries empty the list") << QJsonValue(QJsonArray{"a", 11}) << QList<int>{};
    }
    void readLayout()
    {
        QFETCH(QJsonValue, value);
        QJsonObject o;
        if (!value.isUndefined())
            o.insert("btnLayoutTitle", value);
        QList<int> list{7, 7, 7};
        readButtonLayout(o, "btnLayoutTitle", list);
        QTEST(list, "expected");
    }

    // A dropped file is named as the desktop shows it: a desktop entry by its own Name in the user's language,
    // anything else by its file name without the last suffix.
    void droppedNames_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("expected");
        const QByteArray entry = "[Desktop Entry]\nType=Application\nName=Firefox ESR\nName[zh_CN]=火狐浏览器\n"
                                 "Name[de]=Firefox\nExec=firefox %u\n";
        QTest::newRow("entry, Chinese") << "firefox-esr.desktop" << entry << 0 << QString::fromUtf8("火狐浏览器");
        QTest::newRow("entry, English") << "firefox-esr.desktop" << entry << 1 << "Firefox ESR";
        QTest::newRow("entry with only Name")
            << "term.desktop" << QByteArray("[Desktop Entry]\nName=Terminal\nExec=xterm\n") << 0 << "Terminal";
        QTest::newRow("language without country")
            << "x.desktop" << QByteArray("[Desktop Entry]\nName=X\nName[zh]=某程序\n") << 0
            << QString::fromUtf8("某程序");
        QTest::newRow("Name of another group only")
            << "y.desktop" << QByteArray("[Desktop Entry]\nExec=y\n[Desktop Action new]\nName=New\n") << 0 << "y";
        QTest::newRow("document") << "notes.txt" << QByteArray("Name=not read") << 0 << "notes";
    }
    void droppedNames()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(int, language);
        QFETCH(QString, expected);
        const QString path = ktr::test::freshDir(QStringLiteral("drop")) + QLatin1Char('/') + file;
        QVERIFY(ktr::test::writeFile(path, content));
        Lang::setLanguage(language);
        const auto back = qScopeGuard([] { Lang::setLanguage(0); });
        PanelModel model;
        model.replaceGroups({Group{"A", {}}});
        QCOMPARE(model.addFiles(0, {QUrl::fromLocalFile(path)}).paths, QStringList{path});
        QCOMPARE(model.groups()[0].items[0].name, expected);
    }

    // Every mutator tells the window what it did: `changed` for what is saved, `currentChanged` for another
    // current group, `groupsMoved` for a live reorder; a refused change says nothing.
    void mutatorSignals_data()
    {
        QTest::addColumn<Mutation>("mutate");
        QTest::addColumn<int>("changed");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("moved");
        QTest::addColumn<int>("currentAfter");
        const auto row = [](const char* name, Mutation m, int changed, int current, int moved, int after) {
            QTest::newRow(name) << m << changed << current << moved << after;
        };
        row(
            "create", [](PanelModel& m) { return m.createGroup("D") == PanelModel::NameResult::Done; }, 1, 1, 0, 3);
        row(
            "create taken", [](PanelModel& m) { return m.createGroup("B") == PanelModel::NameResult::Taken; }, 0, 0, 0,
            1);
        row(
            "rename", [](PanelModel& m) { return m.renameGroup(2, "Z") == PanelModel::NameResult::Done; }, 1, 0, 0, 1);
        row(
            "rename taken", [](PanelModel& m) { return m.renameGroup(2, "A") == PanelModel::NameResult::Taken; }, 0, 0,
            0, 1);
        row(
            "delete current", [](PanelModel& m) { return m.deleteGroup(1); }, 1, 1, 0, 0);
        row(
            "delete first refused", [](PanelModel& m) { return !m.deleteGroup(0); }, 0, 0, 0, 1);
        row(
            "clear", [](PanelModel& m) { return m.clearGroup(0); }, 1, 0, 0, 1);
        row(
            "clear empty", [](PanelModel& m) { return !m.clearGroup(2); }, 0, 0, 0, 1);
        row(
            "move item", [](PanelModel& m) { return m.moveItem(0, 0, 2); }, 1, 0, 0, 1);
        row(
            "move onto same path", [](PanelModel& m) { return !m.moveItem(0, 1, 1); }, 0, 0, 0, 1);
        row(
            "reorder",
            [](PanelModel& m) { return !m.reorderItem(0, 0) && !m.reorderItem(0, 2) && !m.reorderItem(-1, 0); }, 0, 0,
            0, 1);
        row(
            "remove", [](PanelModel& m) { return m.removeItem(0, 1); }, 1, 0, 0, 1);
        row(
            "remove missing",
            [](PanelModel& m) { return m.removeItems([](const Item& i) { return i.path.endsWith("b"); }) == 2; }, 1, 0,
            0, 1);
        row(
            "shell items",
            [](PanelModel& m) {
                return m.addShellItems(2, {{"Trash", "trash:///"}, {"x", ""}}).size() == 1;
            },
            1, 1, 0, 2);
        row(
            "displace the current", [](PanelModel& m) { return m.displaceGroup(1, 2); }, 0, 1, 1, 2);
        row(
            "displace another", [](PanelModel& m) { return m.displaceGroup(0, 2); }, 0, 0, 1, 0);
        row(
            "edit item unsaved",
            [](PanelModel& m) {
                return m.editItem(
                           0, 0, [](Item& i) { i.name = "n"; }, false) &&
                       m.groups()[0].items[0].name == "n";
            },
            0, 0, 0, 1);
    }
    void mutatorSignals()
    {
        QFETCH(Mutation, mutate);
        QFETCH(int, changed);
        QFETCH(int, current);
        QFETCH(int, moved);
        QFETCH(int, currentAfter);
        PanelModel model;
        const auto item = [](const QString& path) {
            Item i;
            i.path = path;
            i.name = path.mid(1);
            return i;
        };
        model.replaceGroups({Group{"A", {item("/a"), item("/b")}}, Group{"B", {item("/b")}}, Group{"C", {}}});
        model.setCurrentGroup(1);
        QSignalSpy changedSpy(&model, &PanelModel::changed);
        QSignalSpy currentSpy(&model, &PanelModel::currentChanged);
        QSignalSpy movedSpy(&model, &PanelModel::groupsMoved);
        QVERIFY(mutate(model));
        QCOMPARE(changedSpy.count(), changed);
        QCOMPARE(currentSpy.count(), current);
        QCOMPARE(movedSpy.count(), moved);
        QCOMPARE(model.currentIndex(), currentAfter);
    }
};

KTR_TEST_MAIN(TestPanelModel)
#include "tst_panelmodel.moc"
