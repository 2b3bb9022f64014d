#include "logcapture.h"
#include "platform/lazylibrary.h"
#include "testenv.h"

#include <QApplication>

#include <cstring>

using ktr::platform::LazyLibrary;

class TestLazyLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A library is usable only whole: one that is not there, or lacks one of the functions, gives no address
    // at all, says why, and says it once in the log however often it is asked.
    void loads_data()
    {
        QTest::addColumn<QByteArray>("soname");
        QTest::addColumn<QByteArrayList>("symbols");
        QTest::addColumn<QString>("errorNames"); // what the error must name; empty: available
        QTest::newRow("present") << QByteArray("libc.so.6") << QByteArrayList{"strlen", "free"} << QString();
        QTest::newRow("not installed") << QByteArray("libktr-absent.so.0") << QByteArrayList{"strlen"}
                                       << QStringLiteral("libktr-absent.so.0");
        QTest::newRow("lacks a function") << QByteArray("libc.so.6") << QByteArrayList{"strlen", "ktr_absent_function"}
                                          << QStringLiteral("ktr_absent_function");
    }
    void loads()
    {
        QFETCH(QByteArray, soname);
        QFETCH(QByteArrayList, symbols);
        QFETCH(QString, errorNames);
        std::vector<const char*> names;
        for (const QByteArray& s : std::as_const(symbols))
            names.push_back(s.constData());

        ktr::test::LogCapture log;
        const LazyLibrary library(soname.constData(), names);
        const bool available = errorNames.isEmpty();
        for (int pass = 0; pass < 2; ++pass) {
            QCOMPARE(library.available(), available);
            if (available) {
                QVERIFY(library.errorString().isEmpty());
                // The address is the function itself.
                const auto length = reinterpret_cast<decltype(&std::strlen)>(library.symbol(0));
                QVERIFY(length);
                QCOMPARE(length("four"), size_t(4));
                QVERIFY(library.symbol(1));
            } else {
                QVERIFY2(library.errorString().contains(errorNames), qPrintable(library.errorString()));
                for (std::size_t i = 0; i < names.size(); ++i)
                    QVERIFY(!library.symbol(i));
            }
            QVERIFY(!library.symbol(names.size()));
        }
        QCOMPARE(log.count(QStringLiteral("[library]")), available ? 0 : 1);
    }
};

KTR_TEST_MAIN(TestLazyLibrary)
#include "tst_lazylibrary.moc"
