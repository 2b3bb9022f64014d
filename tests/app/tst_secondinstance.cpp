#include "app/secondinstance.h"
#include "logcapture.h"
#include "testenv.h"

#include <QApplication>

namespace {

// A holder that starts answering only at the given attempt (0: never), as an agent or panel does that took
// the lock a moment before this start and listens a little later.
struct Holder
{
    int panelAnswersAt = 0;
    int agentAnswersAt = 0;
    int wakes = 0;
    int asks = 0;
    QList<int> waits;

    HandOver handOver(int attempts = 5)
    {
        HandOver h;
        h.wakePanel = [this] { return ++wakes == panelAnswersAt; };
        h.askAgent = [this] { return ++asks == agentAnswersAt; };
        h.wait = [this](int ms) { waits.append(ms); };
        h.attempts = attempts;
        h.intervalMs = 40;
        return h;
    }
};

} // namespace

class TestSecondInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void handOverIsRetriedWhileTheHolderStarts_data()
    {
        QTest::addColumn<int>("panelAt");
        QTest::addColumn<int>("agentAt");
        QTest::addColumn<int>("wakes");
        QTest::addColumn<int>("asks");
        QTest::addColumn<bool>("gaveUp");
        QTest::newRow("panel answers at once") << 1 << 0 << 1 << 0 << false;
        QTest::newRow("agent answers at once") << 0 << 1 << 1 << 1 << false;
        QTest::newRow("agent listens by the third try") << 0 << 3 << 3 << 3 << false;
        QTest::newRow("panel listens by the fourth try") << 4 << 0 << 4 << 3 << false;
        QTest::newRow("nobody ever answers") << 0 << 0 << 5 << 5 << true;
    }
    void handOverIsRetriedWhileTheHolderStarts()
    {
        QFETCH(int, panelAt);
        QFETCH(int, agentAt);
        QFETCH(int, wakes);
        QFETCH(int, asks);
        QFETCH(bool, gaveUp);
        Holder holder{panelAt, agentAt, 0, 0, {}};
        ktr::test::LogCapture log;
        QCOMPARE(runSecondInstance(false, holder.handOver()), 0);
        QCOMPARE(holder.wakes, wakes);
        QCOMPARE(holder.asks, asks);
        QCOMPARE(holder.waits, QList<int>(wakes - 1, 40));
        QCOMPARE(log.contains(QStringLiteral("hand-over failed")), gaveUp);
    }

    void anAgentStartNeverHandsOver()
    {
        Holder holder{1, 1, 0, 0, {}};
        QCOMPARE(runSecondInstance(true, holder.handOver()), 0);
        QCOMPARE(holder.wakes + holder.asks, 0);
    }
};

KTR_TEST_MAIN(TestSecondInstance)
#include "tst_secondinstance.moc"
