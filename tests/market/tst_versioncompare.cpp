#include "market/versioncompare.h"
#include "testenv.h"

#include <QApplication>

class TestVersionCompare : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // lower = compareVersions(a, b), higher = compareVersions(b, a).
    void order_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("lower");
        QTest::addColumn<bool>("higher");
        QTest::newRow("missing part is 0") << "1.2"
                                           << "1.2.0" << false << false;
        QTest::newRow("numeric, not text") << "1.9"
                                           << "1.10" << true << false;
        QTest::newRow("third part") << "1.0.9"
                                    << "1.0.10" << true << false;
        QTest::newRow("pre-release lower") << "2.0-beta"
                                           << "2.0" << true << false;
        QTest::newRow("numeric suffixes") << "2.0-2"
                                          << "2.0-10" << true << false;
        QTest::newRow("text suffixes by code unit") << "2.0-rc10"
                                                    << "2.0-rc2" << true << false;
        QTest::newRow("number before text") << "2.0-1"
                                            << "2.0-beta" << true << false;
        QTest::newRow("01 equals 1, decides") << "2.0-01.5"
                                              << "2.0-1.9" << false << false;
        QTest::newRow("suffix without dash") << "3beta"
                                             << "3-beta" << false << false;
        QTest::newRow("no leading digits is 0") << "ver1.2"
                                                << "1.0" << true << false;
        QTest::newRow("saturates") << "99999999999"
                                   << "2147483648" << false << false;
        QTest::newRow("saturated above smaller") << "2147483646"
                                                 << "99999999999" << true << false;
        QTest::newRow("equal") << "1.0.250"
                               << "1.0.250" << false << false;
        QTest::newRow("empty is 0") << ""
                                    << "0" << false << false;
        QTest::newRow("case-sensitive text") << "1-B"
                                             << "1-a" << true << false;
        QTest::newRow("arabic-indic digit counts as digit") << QString::fromUtf8("1.\u0662") << "1.1" << false << true;
    }
    void order()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, lower);
        QFETCH(bool, higher);
        QCOMPARE(compareVersions(a, b), lower);
        QCOMPARE(compareVersions(b, a), higher);
    }

    void valid_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("newer");
        QTest::newRow("newer") << "1.0.251"
                               << "1.0.250" << true;
        QTest::newRow("equal") << "1.0.250"
                               << "1.0.250" << false;
        QTest::newRow("older") << "1.0.249"
                               << "1.0.250" << false;
        QTest::newRow("empty invalid") << "1.0.251"
                                       << "" << false;
        QTest::newRow("suffix without dash invalid") << "1.0.251beta"
                                                     << "1.0" << false;
        QTest::newRow("dash suffix valid") << "2.0.0"
                                           << "2.0.0-beta.1" << true;
        QTest::newRow("double dot invalid") << "1..2"
                                            << "1.0" << false;
        QTest::newRow("leading letter invalid") << "ver1.2"
                                                << "0.1" << false;
        QTest::newRow("leading dash invalid") << "-1"
                                              << "0" << false;
        QTest::newRow("eight parts valid") << "1.0.0.0.0.0.0.1"
                                           << "1" << true;
        QTest::newRow("nine parts invalid") << "1.0.0.0.0.0.0.0.1"
                                            << "1" << false;
    }
    void valid()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, newer);
        QCOMPARE(compareValidVersions(a, b), newer);
    }
};

KTR_TEST_MAIN(TestVersionCompare)
#include "tst_versioncompare.moc"
