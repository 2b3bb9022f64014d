#include "platform/ziparchive.h"
#include "testenv.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>

using ktr::platform::ZipEntryInfo;
using ktr::platform::ZipReader;
using ktr::platform::ZipWriter;

class TestZipArchive : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writesAndReadsEntries()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("zip"));
        const QString source = dir + QStringLiteral("/源文件.bin");
        QByteArray big;
        for (int i = 0; i < 700000; ++i)
            big.append(char('a' + (i * 13) % 7));
        QVERIFY(ktr::test::writeFile(source, big));
        const QDateTime when(QDate(2024, 3, 5), QTime(6, 7, 8));
        const QString zipPath = dir + QStringLiteral("/out.zip");

        ZipWriter w;
        QString error;
        QVERIFY2(w.open(zipPath, &error), qPrintable(error));
        QList<qint64> chunks;
        QVERIFY2(w.addFile(QStringLiteral("目录/数据.bin"), source, [&chunks](qint64 n) { chunks << n; return true; }, &error),
                 qPrintable(error));
        QVERIFY(w.addData(QStringLiteral("notes/ä.txt"), "hello", when, &error));
        QVERIFY(w.addDirectory(QStringLiteral("empty"), when, &error));
        QVERIFY2(w.finish(&error), qPrintable(error));
        QVERIFY(chunks.size() > 1);
        QCOMPARE(chunks.last(), qint64(big.size()));

        // A writer never replaces a file.
        ZipWriter again;
        QVERIFY(!again.open(zipPath, &error));

        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), zipPath});
        QVERIFY(unzip.waitForFinished());
        QCOMPARE(unzip.exitCode(), 0);

        ZipReader r;
        QVERIFY2(r.open(zipPath, &error), qPrintable(error));
        QCOMPARE(r.entries().size(), 3);
        ZipEntryInfo e;
        QVERIFY(r.next(&e, &error));
        QCOMPARE(e.name, QStringLiteral("目录/数据.bin"));
        QVERIFY(e.nameIsUtf8);
        QCOMPARE(e.type, ZipEntryInfo::Type::File);
        QCOMPARE(e.size, qint64(big.size()));
        QVERIFY(e.compressedSize > 0 && e.compressedSize < e.size / 4);
        QCOMPARE(e.modified.toSecsSinceEpoch(), QFileInfo(source).lastModified().toSecsSinceEpoch());
        QByteArray back;
        char buf[4096];
        qint64 n = 0;
        while ((n = r.read(buf, sizeof buf, &error)) > 0)
            back.append(buf, int(n));
        QCOMPARE(n, qint64(0));
        QCOMPARE(back, big);
        QVERIFY(r.next(&e, &error));
        QCOMPARE(e.name, QStringLiteral("notes/ä.txt"));
        QCOMPARE(e.modified, when);
        QVERIFY(r.next(&e, &error));
        QCOMPARE(e.type, ZipEntryInfo::Type::Directory);
        QCOMPARE(e.name, QStringLiteral("empty/"));
        QVERIFY(!r.next(&e, &error));
        QVERIFY(error.isEmpty());
    }

    void refusesWhatIsNotAZip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("just some text that is long enough to search");
        QTest::newRow("directory beyond the end") << QByteArray::fromHex("504b0506000000000100010010000000ffffff000000");
    }
    void refusesWhatIsNotAZip()
    {
        QFETCH(QByteArray, bytes);
        const QString path = ktr::test::freshDir(QStringLiteral("bad")) + QStringLiteral("/bad.zip");
        QVERIFY(ktr::test::writeFile(path, bytes));
        ZipReader r;
        QString error;
        QVERIFY(!r.open(path, &error));
        QVERIFY(!error.isEmpty());
    }
};

KTR_TEST_MAIN(TestZipArchive)
#include "tst_ziparchive.moc"
