// The 8-bit code page of a locale: what a line that is not UTF-8 is read in.
#include "platform/localcodepage.h"
#include "testenv.h"

#include <QStringDecoder>
#include <QTest>

using ktr::platform::localCodePageName;

class TestLocalCodePage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void codePageOfLocale_data()
    {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("systemCodeset");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("Chinese, UTF-8") << QByteArray("zh_CN.UTF-8") << QByteArray("UTF-8") << QByteArray("GB18030");
        QTest::newRow("Chinese, not installed")
            << QByteArray("zh_CN.utf8") << QByteArray("ANSI_X3.4-1968") << QByteArray("GB18030");
        QTest::newRow("Chinese, GBK named") << QByteArray("zh_CN.GBK") << QByteArray("GBK") << QByteArray("GBK");
        QTest::newRow("Chinese, no codeset, GB2312 in force")
            << QByteArray("zh_CN") << QByteArray("GB2312") << QByteArray("GB2312");
        QTest::newRow("Taiwan") << QByteArray("zh_TW.UTF-8") << QByteArray("UTF-8") << QByteArray("Big5");
        QTest::newRow("Latin-1 named") << QByteArray("en_US.ISO-8859-1") << QByteArray("ISO-8859-1")
                                       << QByteArray("ISO-8859-1");
        QTest::newRow("modifier dropped")
            << QByteArray("de_DE.ISO-8859-15@euro") << QByteArray("ISO-8859-15") << QByteArray("ISO-8859-15");
        QTest::newRow("English, UTF-8") << QByteArray("en_US.UTF-8") << QByteArray("UTF-8")
                                        << QByteArray("windows-1252");
        QTest::newRow("Japanese") << QByteArray("ja_JP.UTF-8") << QByteArray("UTF-8") << QByteArray("Shift_JIS");
        QTest::newRow("C locale") << QByteArray("C") << QByteArray("ANSI_X3.4-1968") << QByteArray("windows-1252");
        QTest::newRow("nothing set") << QByteArray() << QByteArray() << QByteArray("windows-1252");
        QTest::newRow("unknown codeset named")
            << QByteArray("zh_CN.NOSUCH") << QByteArray("UTF-8") << QByteArray("GB18030");
    }
    void codePageOfLocale()
    {
        QFETCH(QByteArray, locale);
        QFETCH(QByteArray, systemCodeset);
        QFETCH(QByteArray, expected);
        const QByteArray name = localCodePageName(locale, systemCodeset);
        QCOMPARE(name, expected);
        QVERIFY2(QStringDecoder(name.constData()).isValid(), name.constData());
    }

    void environmentOrder()
    {
        qputenv("LC_ALL", "");
        qputenv("LC_CTYPE", "zh_CN.UTF-8");
        qputenv("LANG", "en_US.UTF-8");
        QCOMPARE(localCodePageName(), QByteArray("GB18030"));
        qputenv("LC_ALL", "en_US.ISO-8859-1");
        QCOMPARE(localCodePageName(), QByteArray("ISO-8859-1"));
    }
};

KTR_TEST_MAIN(TestLocalCodePage)
#include "tst_localcodepage.moc"
