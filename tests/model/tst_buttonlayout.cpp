#include "model/buttonlayout.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>

using Ids = QList<int>;
Q_DECLARE_METATYPE(Ids)

class TestButtonLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Ids>("before");
        QTest::addColumn<Ids>("after");
        const Ids def{0, 1, 2, 3, 4};
        QTest::newRow("repeats, a string and an unknown id")
            << QByteArray(R"({"k":[3,3,"x",99,0]})") << def << Ids{3, 0};
        QTest::newRow("empty array keeps the list") << QByteArray(R"({"k":[]})") << def << def;
        QTest::newRow("missing member keeps the list") << QByteArray(R"({})") << def << def;
        QTest::newRow("not an array keeps the list") << QByteArray(R"({"k":"0,1"})") << def << def;
        QTest::newRow("only invalid entries empty it") << QByteArray(R"({"k":[-1,11,null,true]})") << def << Ids{};
        QTest::newRow("fractions and negatives") << QByteArray(R"({"k":[2.5,-0,7,10.0]})") << def << Ids{0, 7, 10};
        QTest::newRow("order kept") << QByteArray(R"({"k":[10,9,8,7,6,5]})") << Ids{} << Ids{10, 9, 8, 7, 6, 5};
    }
    void read()
    {
        QFETCH(QByteArray, json);
        QFETCH(Ids, before);
        QFETCH(Ids, after);
        Ids list = before;
        readButtonLayout(QJsonDocument::fromJson(json).object(), QStringLiteral("k"), list);
        QCOMPARE(list, after);
    }

    void normalize_data()
    {
        QTest::addColumn<Ids>("title");
        QTest::addColumn<Ids>("bottom");
        QTest::addColumn<Ids>("titleAfter");
        QTest::addColumn<Ids>("bottomAfter");
        const Ids defTitle{0, 1, 2, 3, 4};
        const Ids defBottom{10, 9, 8, 7, 6, 5};
        QTest::newRow("defaults unchanged") << defTitle << defBottom << defTitle << defBottom;
        QTest::newRow("both empty") << Ids{} << Ids{} << defTitle << Ids{8, 10, 9, 5, 6, 7};
        QTest::newRow("duplicates, unknown id, a button on both bars")
            << Ids{0, 1, 1, 12, 2} << Ids{2, 5} << defTitle << Ids{8, 10, 9, 5, 6, 7};
        QTest::newRow("-1 and repeats in the bottom bar")
            << Ids{-1, 0, 1, 2, 3, 4} << Ids{10, -1, 9, 9, 8, 7, 6, 5, 5} << defTitle << defBottom;
        QTest::newRow("first occurrence stays")
            << Ids{4, 3, 4, 0, 1, 2} << defBottom << Ids{4, 3, 0, 1, 2} << defBottom;
        QTest::newRow("bottom buttons moved to the title bar stay there")
            << Ids{0, 1, 5, 6, 2, 3, 4} << Ids{10, 9, 8, 7} << Ids{0, 1, 5, 6, 2, 3, 4} << Ids{10, 9, 8, 7};
        QTest::newRow("title buttons moved to the bottom bar stay there")
            << Ids{0, 1} << Ids{10, 9, 8, 7, 6, 5, 4, 3, 2} << Ids{0, 1} << Ids{10, 9, 8, 7, 6, 5, 4, 3, 2};
        QTest::newRow("the settings button always comes back")
            << Ids{0, 2, 3, 4} << defBottom << Ids{0, 2, 3, 4, 1} << defBottom;
        QTest::newRow("settings button may sit on the bottom bar")
            << Ids{0, 2, 3, 4} << Ids{1, 10, 9, 8, 7, 6, 5} << Ids{0, 2, 3, 4} << Ids{1, 10, 9, 8, 7, 6, 5};
        QTest::newRow("9 goes before 8") << defTitle << Ids{10, 8, 7, 6, 5} << defTitle << Ids{10, 9, 8, 7, 6, 5};
        QTest::newRow("10 goes before 9") << defTitle << Ids{8, 9, 7, 6, 5} << defTitle << Ids{8, 10, 9, 7, 6, 5};
        QTest::newRow("10 on the title bar counts")
            << Ids{0, 1, 10, 2, 3, 4} << Ids{9, 8, 7, 6, 5} << Ids{0, 1, 10, 2, 3, 4} << Ids{9, 8, 7, 6, 5};
        QTest::newRow("9 on the title bar is also put on the bottom bar")
            << Ids{9, 0, 1, 2, 3, 4} << Ids{10, 8, 7, 6, 5} << Ids{9, 0, 1, 2, 3, 4} << Ids{10, 9, 8, 7, 6, 5};
        QTest::newRow("missing bottom ids go to the end, 8 to the head")
            << defTitle << Ids{10, 9} << defTitle << Ids{8, 10, 9, 5, 6, 7};
    }
    void normalize()
    {
        QFETCH(Ids, title);
        QFETCH(Ids, bottom);
        QFETCH(Ids, titleAfter);
        QFETCH(Ids, bottomAfter);
        normalizeButtonLayouts(title, bottom);
        QCOMPARE(title, titleAfter);
        QCOMPARE(bottom, bottomAfter);

        // Every id 0..10 is on a bar, only 9 may be on both (it always stays on the bottom bar), and a
        // second pass changes nothing.
        for (int id = 0; id <= 10; ++id) {
            QVERIFY(title.count(id) <= 1 && bottom.count(id) <= 1);
            QVERIFY(title.contains(id) || bottom.contains(id));
            if (id != 9)
                QVERIFY(!(title.contains(id) && bottom.contains(id)));
        }
        normalizeButtonLayouts(title, bottom);
        QCOMPARE(title, titleAfter);
        QCOMPARE(bottom, bottomAfter);
    }
};

KTR_TEST_MAIN(TestButtonLayout)
#include "tst_buttonlayout.moc"
