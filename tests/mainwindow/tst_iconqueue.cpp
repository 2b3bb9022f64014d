// The order icons are asked for: what is on show first, every item in the end, and a group brought on show
// moved to the front of what is still waiting.
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "mainwindow/iconqueue.h"
#include "testenv.h"

#include <QApplication>
#include <QtTest/QtTest>

namespace {

// A group named g with items "/g/<name>" for each letter of names; an upper-case letter is a hidden item,
// '-' an item without a path.
Group group(const QString& g, const QString& names)
{
    Group out{g, {}};
    for (QChar c : names) {
        Item item;
        if (c != QLatin1Char('-'))
            item.path = QLatin1Char('/') + g + QLatin1Char('/') + c.toLower();
        item.hidden = c.isUpper();
        out.items.append(item);
    }
    return out;
}

} // namespace

class TestIconQueue : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setIconExtractorForTesting({}); }

    void loadOrder_data()
    {
        QTest::addColumn<QList<Group>>("groups");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("expected");
        const QList<Group> three{group("x", "ab"), group("y", "cd"), group("z", "e")};
        QTest::newRow("first group on show") << three << 0 << QStringList{"/x/a", "/x/b", "/y/c", "/y/d", "/z/e"};
        QTest::newRow("middle group on show, then the others in order")
            << three << 1 << QStringList{"/y/c", "/y/d", "/x/a", "/x/b", "/z/e"};
        QTest::newRow("no group on show") << three << 7 << QStringList{"/x/a", "/x/b", "/y/c", "/y/d", "/z/e"};
        QTest::newRow("hidden items last, empty paths never")
            << QList<Group>{group("x", "aB-c"), group("y", "D")} << 0 << QStringList{"/x/a", "/x/c", "/x/b", "/y/d"};
        Group twice = group("y", "c");
        twice.items.append(group("x", "a").items);
        QTest::newRow("a path in two groups once, where it is seen first")
            << QList<Group>{group("x", "ab"), twice} << 1 << QStringList{"/y/c", "/x/a", "/x/b"};
        QTest::newRow("nothing") << QList<Group>{} << 0 << QStringList{};
    }
    void loadOrder()
    {
        QFETCH(QList<Group>, groups);
        QFETCH(int, current);
        QFETCH(QStringList, expected);
        QCOMPARE(IconQueue::loadOrder(groups, current), expected);
    }

    // Far more items than ever run at once: all of them get their icon, at most kMaxInFlight loads wait at a
    // time, and a group put on show meanwhile is served before the rest.
    void everyItemLoadsAndAGroupOnShowGoesFirst()
    {
        clearIconCache();
        QStringList loaded;
        setIconExtractorForTesting([](const QString&) {
            QImage img(4, 4, QImage::Format_ARGB32);
            img.fill(Qt::red);
            return img;
        });
        QList<Group> groups;
        for (int g = 0; g < 30; ++g) {
            Group gr{QString::number(g), {}};
            for (int i = 0; i < 100; ++i) {
                Item item;
                item.path = QStringLiteral("/g%1/i%2").arg(g).arg(i);
                gr.items.append(item);
            }
            groups.append(gr);
        }
        IconQueue queue;
        bool prioritized = false;
        bool of20HandedOutFirst = true; // while any of group 20 waits, no other group's load has been started
        connect(&queue, &IconQueue::iconLoaded, this, [&](const QString& p) {
            loaded.append(p);
            if (!prioritized)
                return;
            bool otherSeen = false;
            for (const QString& q : queue.paths()) {
                const bool of20 = q.startsWith(QLatin1String("/g20/"));
                if (!of20)
                    otherSeen = true;
                else if (otherSeen)
                    of20HandedOutFirst = false;
            }
        });
        int maxInFlight = 0;
        connect(&queue, &IconQueue::iconLoaded, this, [&] { maxInFlight = std::max(maxInFlight, queue.inFlight()); });
        queue.queueAll(groups, 0);
        QCOMPARE(queue.paths().size(), 3000);
        queue.drain();
        QCOMPARE(queue.inFlight(), IconQueue::kMaxInFlight);
        // Group 20 comes on show while group 0 loads.
        QStringList shown;
        for (const Item& item : groups[20].items)
            shown.append(item.path);
        queue.prioritize(shown);
        prioritized = true;
        QCOMPARE(queue.paths().first(), shown.first());
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 3000, 20000);
        QVERIFY(maxInFlight <= IconQueue::kMaxInFlight);
        // Loads finish in any order, so the order they are started in is what is checked.
        QVERIFY(of20HandedOutFirst);
        QCOMPARE(QSet<QString>(loaded.cbegin(), loaded.cend()).size(), 3000);
        clearIconCache();
    }

    // The first results of a whole queue, or of a group brought on show, repaint once a frame; after them a
    // flood of results repaints once per longer interval.
    void firstResultsRepaintSooner_data()
    {
        QTest::addColumn<int>("results");     // delivered, the first starting the repaint interval
        QTest::addColumn<bool>("prioritize"); // then a group comes on show
        QTest::addColumn<int>("interval");    // of the repaint interval started next
        QTest::newRow("second result") << 2 << false << int(IconQueue::kFirstResultsRepaintMs);
        QTest::newRow("last of the first")
            << IconQueue::kMaxInFlight - 1 << false << int(IconQueue::kFirstResultsRepaintMs);
        QTest::newRow("past the first") << IconQueue::kMaxInFlight << false << int(IconQueue::kRepaintDelayMs);
        QTest::newRow("a group on show") << 40 << true << int(IconQueue::kFirstResultsRepaintMs);
    }
    void firstResultsRepaintSooner()
    {
        QFETCH(int, results);
        QFETCH(bool, prioritize);
        QFETCH(int, interval);
        QList<Group> groups{Group{QStringLiteral("a"), {}}, Group{QStringLiteral("b"), {}}};
        for (int i = 0; i < 100; ++i) {
            Item a;
            a.path = QStringLiteral("/a/%1").arg(i);
            groups[0].items.append(a);
            Item b;
            b.path = QStringLiteral("/b/%1").arg(i);
            groups[1].items.append(b);
        }
        IconQueue queue;
        QTimer* timer = queue.findChild<QTimer*>(QStringLiteral("repaintTimer"));
        QVERIFY(timer);
        QSignalSpy repaints(&queue, &IconQueue::repaintDue);
        queue.queueAll(groups, 0);
        for (int i = 0; i < results; ++i)
            queue.onLoaded(QStringLiteral("/a/%1").arg(i), QImage());
        QCOMPARE(repaints.count(), 1); // the first at once, the others within its interval
        if (prioritize)
            queue.prioritize({QStringLiteral("/b/90"), QStringLiteral("/b/91")});
        queue.repaintIntervalEnded(); // the interval ran out with results waiting
        QCOMPARE(repaints.count(), 2);
        QCOMPARE(timer->interval(), interval);
        QVERIFY(timer->isActive());
        queue.stop();
        clearIconCache();
    }
};

KTR_TEST_MAIN(TestIconQueue)
#include "tst_iconqueue.moc"
