#include "panel/itempayload.h"
#include "testenv.h"

class TestItemPayload : public QObject
{
    Q_OBJECT

private slots:
    void encodeIsCompactInKeyOrder()
    {
        QCOMPARE(encodeItemPayload(1, 3, QStringLiteral("/usr/bin/foo")),
                 QByteArray(R"({"g":1,"i":3,"path":"/usr/bin/foo"})"));
        // Quotes, backslashes and non-ASCII text stay readable JSON.
        const QString odd = QStringLiteral("/tmp/a \"b\"\\c/青岚.txt");
        ItemPayload p;
        QVERIFY(decodeItemPayload(encodeItemPayload(0, 7, odd), &p));
        QCOMPARE(p, (ItemPayload{0, 7, odd}));
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("item");

        QTest::newRow("ours") << QByteArray(R"({"g":2,"i":5,"path":"x"})") << true << 2 << 5;
        QTest::newRow("no g") << QByteArray(R"({"i":4})") << false << 0 << 0;
        QTest::newRow("no i") << QByteArray(R"({"g":1})") << false << 0 << 0;
        QTest::newRow("no indexes") << QByteArray(R"({"path":"/usr/bin/foo"})") << false << 0 << 0;
        QTest::newRow("whole number as real") << QByteArray(R"({"g":1.0,"i":2e0})") << true << 1 << 2;
        QTest::newRow("largest int") << QByteArray(R"({"g":0,"i":2147483647})") << true << 0 << 2147483647;
        QTest::newRow("fraction") << QByteArray(R"({"g":1.5,"i":0})") << false << 0 << 0;
        QTest::newRow("negative") << QByteArray(R"({"g":-1,"i":0})") << false << 0 << 0;
        QTest::newRow("beyond int") << QByteArray(R"({"g":0,"i":2147483648})") << false << 0 << 0;
        QTest::newRow("huge") << QByteArray(R"({"g":1e300,"i":0})") << false << 0 << 0;
        QTest::newRow("string index") << QByteArray(R"({"g":"1","i":0})") << false << 0 << 0;
        QTest::newRow("null index") << QByteArray(R"({"g":null,"i":0})") << false << 0 << 0;
        QTest::newRow("array") << QByteArray(R"([1,2])") << false << 0 << 0;
        QTest::newRow("not json") << QByteArray("g=1;i=2") << false << 0 << 0;
        QTest::newRow("empty") << QByteArray() << false << 0 << 0;
        QTest::newRow("oversize") << (QByteArray(R"({"g":0,"i":0,"path":")") + QByteArray(70000, 'a') + "\"}") << false
                                  << 0 << 0;
    }

    void decode()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, ok);
        QFETCH(int, group);
        QFETCH(int, item);
        ItemPayload p{9, 9, QStringLiteral("untouched")};
        QCOMPARE(decodeItemPayload(data, &p), ok);
        if (ok) {
            QCOMPARE(p.group, group);
            QCOMPARE(p.item, item);
        } else {
            QCOMPARE(p, (ItemPayload{9, 9, QStringLiteral("untouched")})); // a refused payload changes nothing
        }
    }

    void inModel_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("item");
        QTest::addColumn<bool>("inModel");
        QTest::newRow("first") << 0 << 0 << true;
        QTest::newRow("last item") << 1 << 2 << true;
        QTest::newRow("item past end") << 1 << 3 << false;
        QTest::newRow("empty group") << 2 << 0 << false;
        QTest::newRow("group past end") << 3 << 0 << false;
        QTest::newRow("negative") << -1 << 0 << false;
    }

    void inModel()
    {
        QFETCH(int, group);
        QFETCH(int, item);
        QFETCH(bool, inModel);
        QList<Group> groups(3);
        groups[0].items.resize(1);
        groups[1].items.resize(3);
        QCOMPARE(itemPayloadInModel(ItemPayload{group, item, {}}, groups), inModel);
    }
};

KTR_TEST_MAIN(TestItemPayload)
#include "tst_itempayload.moc"
