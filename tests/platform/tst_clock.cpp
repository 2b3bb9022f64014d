#include "manualclock.h"
#include "platform/clock.h"
#include "testenv.h"

#include <QApplication>

class TestClock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void systemClockIsMonotonic()
    {
        auto* c = ktr::platform::Clock::system();
        const qint64 a = c->monotonicMs();
        const qint64 b = c->monotonicMs();
        QVERIFY(b >= a);
        QVERIFY(qAbs(c->now().secsTo(QDateTime::currentDateTime())) < 5);
    }
    void environmentIsIsolated()
    {
        QVERIFY(qEnvironmentVariable("HOME").startsWith(ktr::test::testRoot()));
        QVERIFY(qEnvironmentVariable("XDG_RUNTIME_DIR").startsWith(ktr::test::testRoot()));
        QCOMPARE(QFileInfo(qEnvironmentVariable("XDG_RUNTIME_DIR")).permissions() & 0x0077, QFileDevice::Permissions());
    }
};

KTR_TEST_MAIN(TestClock)
#include "tst_clock.moc"
