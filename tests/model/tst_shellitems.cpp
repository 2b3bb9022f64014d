#include "model/shellitems.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QUuid>

#include <memory>

namespace {

const QString kComputer = QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
const QString kRecycleBin = QStringLiteral("::{645FF040-5081-101B-9F08-00AA002F954E}");
const QString kControlPanel = QStringLiteral("::{5399E694-6CE5-4D6C-8FCE-1D8870FDCBA0}");
const QString kUnknown = QStringLiteral("::{0123ABCD-4567-89EF-0123-456789ABCDEF}");

void appendU16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xFF)).append(char(v >> 8));
}

void appendU32(QByteArray& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

// A root folder item as the shell writes it: cb, type 0x1F, sort order, CLSID in GUID memory order.
QByteArray rootItem(const QString& parsingName)
{
    const QUuid id = QUuid::fromString(QStringView(parsingName).mid(2));
    QByteArray b;
    appendU16(b, 20);
    b.append(char(0x1F)).append(char(0x50));
    appendU32(b, id.data1);
    appendU16(b, id.data2);
    appendU16(b, id.data3);
    b.append(reinterpret_cast<const char*>(id.data4), 8);
    return b;
}

// A drive item ("C:\") of "This PC".
QByteArray driveItem()
{
    QByteArray b;
    appendU16(b, 25);
    b.append(char(0x2F)).append("C:\\", 3);
    b.append(QByteArray(25 - b.size(), '\0'));
    return b;
}

// A file-system item: a folder with a short ASCII name.
QByteArray folderItem(const QByteArray& name)
{
    QByteArray body;
    body.append(char(0x31)).append('\0');
    appendU32(body, 0);          // size
    appendU32(body, 0x12345678); // DOS date and time
    appendU16(body, 0x10);       // attributes
    body.append(name).append('\0');
    QByteArray b;
    appendU16(b, quint16(body.size() + 2));
    return b + body;
}

QByteArray rawItem(quint16 cb, const QByteArray& body)
{
    QByteArray b;
    appendU16(b, cb);
    return b + body;
}

QByteArray idList(const QList<QByteArray>& items)
{
    QByteArray b;
    for (const QByteArray& i : items)
        b += i;
    appendU16(b, 0);
    return b;
}

// A CIDA: the parent list and the children's lists laid out after the header in order. Offsets and the count can
// be replaced to build broken payloads.
struct Cida
{
    QByteArray parent = idList({});
    QList<QByteArray> children;
    qint64 cidl = -1;           // -1: the number of children
    QList<qint64> offsets = {}; // replaced offsets by index (0 = parent); -1 keeps the computed one

    QByteArray build() const
    {
        const quint32 count = cidl < 0 ? quint32(children.size()) : quint32(cidl);
        QList<QByteArray> lists{parent};
        lists += children;
        QByteArray body;
        QList<quint32> computed;
        const quint32 header = 4 * quint32(children.size()) + 8;
        for (const QByteArray& l : lists) {
            computed.append(header + quint32(body.size()));
            body += l;
        }
        QByteArray b;
        appendU32(b, count);
        for (int i = 0; i < computed.size(); ++i)
            appendU32(b, i < offsets.size() && offsets[i] >= 0 ? quint32(offsets[i]) : computed[i]);
        return b + body;
    }
};

// Hands the parser a buffer of exactly the payload's size, so a read past the end is caught by AddressSanitizer.
QList<ShellItemPair> parseExact(const QByteArray& payload)
{
    std::unique_ptr<char[]> buffer(new char[size_t(qMax<qsizetype>(payload.size(), 1))]);
    std::memcpy(buffer.get(), payload.constData(), size_t(payload.size()));
    return parseShellIdList(QByteArray::fromRawData(buffer.get(), payload.size()));
}

QStringList parsingNames(const QList<ShellItemPair>& items)
{
    QStringList names;
    for (const auto& p : items)
        names.append(p.second);
    return names;
}

} // namespace

class TestShellItems : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("expected");

        Cida c;
        c.children = {idList({rootItem(kComputer)})};
        QTest::newRow("one virtual folder") << c.build() << QStringList{kComputer};

        c.children = {idList({rootItem(kRecycleBin)}), idList({driveItem()}), idList({rootItem(kControlPanel)})};
        QTest::newRow("virtual folders around a drive") << c.build() << QStringList{kRecycleBin, kControlPanel};

        c.children = {idList({rootItem(kUnknown)})};
        QTest::newRow("clsid not in the table") << c.build() << QStringList{kUnknown};

        c.children = {idList({rootItem(kComputer)}), idList({rootItem(kComputer)})};
        c.offsets = {-1, -1, 18}; // both children share the first list
        QTest::newRow("shared child list") << c.build() << QStringList{kComputer, kComputer};
        c.offsets = {};

        Cida fs;
        fs.parent = idList({rootItem(kComputer)});
        fs.children = {idList({driveItem()}), idList({driveItem(), folderItem("Users")})};
        QTest::newRow("only file-system items") << fs.build() << QStringList{};

        Cida inside;
        inside.parent = idList({rootItem(kControlPanel)});
        inside.children = {idList({rootItem(kUnknown)})};
        QTest::newRow("item inside a virtual folder") << inside.build() << QStringList{};

        Cida desktop;
        desktop.children = {idList({})};
        QTest::newRow("the desktop itself") << desktop.build() << QStringList{};

        Cida shortRoot;
        shortRoot.children = {idList({rawItem(10, QByteArray("\x1F\x50"
                                                             "abcdef",
                                                             8))}),
                              idList({rootItem(kComputer)})};
        QTest::newRow("root item too short for a clsid") << shortRoot.build() << QStringList{kComputer};

        Cida bad;
        bad.children = {idList({rootItem(kComputer)})};
        bad.cidl = 0;
        QTest::newRow("count zero") << bad.build() << QStringList{};
        bad.cidl = 4097;
        QTest::newRow("count above limit") << bad.build() << QStringList{};
        bad.cidl = 0xFFFFFFFF;
        QTest::newRow("count wraps") << bad.build() << QStringList{};
        bad.cidl = 2; // header needs 16 bytes of offsets, there are 12 plus lists
        QTest::newRow("count larger than offsets") << bad.build().left(14) << QStringList{};

        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("three bytes") << QByteArray("\x01\x00\x00", 3) << QStringList{};
        QTest::newRow("header cut") << QByteArray("\x01\x00\x00\x00\x0C\x00\x00\x00", 8) << QStringList{};

        Cida offs;
        offs.children = {idList({rootItem(kComputer)}), idList({rootItem(kRecycleBin)})};
        offs.offsets = {4};
        QTest::newRow("parent offset inside header") << offs.build() << QStringList{};
        offs.offsets = {0x7FFFFFFF};
        QTest::newRow("parent offset past end") << offs.build() << QStringList{};
        offs.offsets = {0xFFFFFFFF};
        QTest::newRow("parent offset at 4 GiB") << offs.build() << QStringList{};
        offs.offsets = {-1, 8};
        QTest::newRow("child offset inside header") << offs.build() << QStringList{kRecycleBin};
        offs.offsets = {-1, 0xFFFFFFFE};
        QTest::newRow("child offset past end") << offs.build() << QStringList{kRecycleBin};
        offs.offsets = {-1, -1, 1000};
        QTest::newRow("last child offset past end") << offs.build() << QStringList{kComputer};
        // The offset points at the last byte: one count byte is there, the second is not.
        const QByteArray lastByte = offs.build();
        offs.offsets = {-1, -1, lastByte.size() - 1};
        QTest::newRow("child offset at the last byte") << offs.build() << QStringList{kComputer};
        offs.offsets = {};

        Cida corrupt;
        corrupt.children = {idList({rawItem(1, {})}), idList({rootItem(kComputer)}), idList({rawItem(2, {})}),
                            idList({rootItem(kRecycleBin)})};
        QTest::newRow("children with counts 1 and 2") << corrupt.build() << QStringList{kComputer, kRecycleBin};

        Cida overrun;
        overrun.children = {idList({rootItem(kComputer)}), rawItem(500, "\x1F\x50")};
        QTest::newRow("child item runs past end") << overrun.build() << QStringList{kComputer};

        Cida unterminated;
        unterminated.children = {idList({rootItem(kComputer)}), rootItem(kRecycleBin)};
        QTest::newRow("last child not terminated") << unterminated.build() << QStringList{kComputer};
        unterminated.children = {idList({rootItem(kComputer)}), rootItem(kRecycleBin) + QByteArray(1, '\0')};
        QTest::newRow("terminator cut in half") << unterminated.build() << QStringList{kComputer};

        Cida badParent;
        badParent.parent = idList({rawItem(1, {})});
        badParent.children = {idList({rootItem(kComputer)})};
        QTest::newRow("parent with count 1") << badParent.build() << QStringList{};
        badParent.parent = rawItem(300, "x");
        QTest::newRow("parent runs past end") << badParent.build() << QStringList{};

        // A parent of more than 4096 items is refused; one of 4096 is walked (and names a file-system place).
        Cida longParent;
        QList<QByteArray> many(4097, rawItem(3, "\x31"));
        longParent.parent = idList(many);
        longParent.children = {idList({})};
        QTest::newRow("parent of 4097 items") << longParent.build() << QStringList{};
    }
    void parse()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, expected);
        QCOMPARE(parsingNames(parseExact(payload)), expected);
    }

    void displayNames()
    {
        Cida c;
        c.children = {idList({rootItem(kRecycleBin)}), idList({rootItem(kUnknown)})};
        const QList<ShellItemPair> items = parseExact(c.build());
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].first, Lang::tr("回收站"));
        QCOMPARE(items[0].second, kRecycleBin);
        // A folder without a name of its own is shown by its parsing name.
        QCOMPARE(items[1].first, kUnknown);
    }

    void everyTruncationIsSafe()
    {
        Cida c;
        c.parent = idList({});
        c.children = {idList({rootItem(kComputer)}), idList({rootItem(kRecycleBin)}),
                      idList({driveItem(), folderItem("Documents")})};
        const QByteArray full = c.build();
        QCOMPARE(parsingNames(parseExact(full)), (QStringList{kComputer, kRecycleBin}));
        for (qsizetype n = 0; n < full.size(); ++n) {
            const QStringList names = parsingNames(parseExact(full.left(n)));
            // A cut payload never yields more than the full one, and never an item whose list was cut.
            QVERIFY2(names.size() <= 2, qPrintable(QString::number(n)));
            if (n < 4 * 3 + 8 + 2 + 22)
                QVERIFY2(names.isEmpty(), qPrintable(QString::number(n)));
        }
    }

    void placeUrlsBecomeShellItems()
    {
        const QList<QUrl> urls{QUrl("file:///home/u/a.txt"), QUrl("trash:///"), QUrl("computer:///"),
                               QUrl("trash:///old.txt"), QUrl("network:///")};
        QList<QUrl> rest;
        const QList<ShellItemPair> items = shellItemsFromUrls(urls, &rest);
        QCOMPARE(parsingNames(items),
                 (QStringList{kRecycleBin, kComputer, QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}")}));
        QCOMPARE(items[1].first, Lang::tr("此电脑"));
        QCOMPARE(rest, (QList<QUrl>{QUrl("file:///home/u/a.txt"), QUrl("trash:///old.txt")}));
    }
};

KTR_TEST_MAIN(TestShellItems)
#include "tst_shellitems.moc"
