#include "model/buttonlayout.h"
#include "model/panelmodel.h"
#include "testenv.h"

#include <QApplication>
#include <QJsonArray>

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
};

KTR_TEST_MAIN(TestPanelModel)
#include "tst_panelmodel.moc"
