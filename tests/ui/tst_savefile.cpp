#include "testenv.h"
#include "ui/savefile.h"

#include <QApplication>
#include <QDir>

using ktr::ReadStatus;

class TestSaveFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writesWholeFileAndCreatesFolders()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("write"));
        const QString path = dir + QStringLiteral("/a/b/data.json");
        QString error = QStringLiteral("stale");
        QVERIFY(ktr::saveFileAtomic(path, "first", &error));
        QVERIFY(error.isEmpty());
        QCOMPARE(ktr::test::readFile(path), QByteArray("first"));
        QVERIFY(ktr::saveFileAtomic(path, "second, longer", &error));
        QCOMPARE(ktr::test::readFile(path), QByteArray("second, longer"));
        QVERIFY(ktr::saveFileAtomic(path, QByteArray()));
        QCOMPARE(QFileInfo(path).size(), 0);
        // No temporary file is left beside the target.
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"data.json"});
    }

    void failedWrites_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("folder where the file should be") << QStringLiteral("folder");
        QTest::newRow("path below a regular file") << QStringLiteral("below-file");
        QTest::newRow("empty path") << QStringLiteral("empty");
    }
    void failedWrites()
    {
        QFETCH(QString, setup);
        const QString dir = ktr::test::freshDir(QStringLiteral("fail-") + setup);
        QString path;
        if (setup == QLatin1String("folder")) {
            path = dir + QStringLiteral("/data.json");
            QVERIFY(QDir().mkpath(path));
            QVERIFY(ktr::test::writeFile(path + QStringLiteral("/inside"), "keep"));
        } else if (setup == QLatin1String("below-file")) {
            QVERIFY(ktr::test::writeFile(dir + QStringLiteral("/plain"), "keep"));
            path = dir + QStringLiteral("/plain/data.json");
        }
        QString error;
        QVERIFY(!ktr::saveFileAtomic(path, "new content", &error));
        QVERIFY(!error.isEmpty());
        if (setup == QLatin1String("folder")) {
            QVERIFY(QFileInfo(path).isDir());
            QCOMPARE(ktr::test::readFile(path + QStringLiteral("/inside")), QByteArray("keep"));
            QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList{"data.json"});
        } else if (setup == QLatin1String("below-file")) {
            QCOMPARE(ktr::test::readFile(dir + QStringLiteral("/plain")), QByteArray("keep"));
        }
    }

    void reads_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("data");
        const QByteArray text("0123456789");
        QTest::newRow("whole file") << "file" << qint64(100) << int(ReadStatus::Ok) << text;
        QTest::newRow("exactly the cap") << "file" << qint64(10) << int(ReadStatus::Ok) << text;
        QTest::newRow("one byte over the cap") << "file" << qint64(9) << int(ReadStatus::TooLarge) << QByteArray();
        QTest::newRow("empty file") << "empty" << qint64(10) << int(ReadStatus::Ok) << QByteArray();
        QTest::newRow("missing") << "missing" << qint64(10) << int(ReadStatus::Missing) << QByteArray();
        QTest::newRow("folder") << "folder" << qint64(10) << int(ReadStatus::NotAFile) << QByteArray();
        QTest::newRow("below a regular file") << "below-file" << qint64(10) << int(ReadStatus::Missing) << QByteArray();
    }
    void reads()
    {
        QFETCH(QString, setup);
        QFETCH(qint64, cap);
        QFETCH(int, status);
        QFETCH(QByteArray, data);
        const QString dir = ktr::test::freshDir(QStringLiteral("read-") +
                                                QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QString path = dir + QStringLiteral("/data.json");
        if (setup == QLatin1String("file"))
            QVERIFY(ktr::test::writeFile(path, "0123456789"));
        else if (setup == QLatin1String("empty"))
            QVERIFY(ktr::test::writeFile(path, QByteArray()));
        else if (setup == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else if (setup == QLatin1String("below-file")) {
            QVERIFY(ktr::test::writeFile(path, "x"));
            path += QStringLiteral("/inner.json");
        }
        QByteArray out("stale");
        QString error;
        QCOMPARE(int(ktr::readFileCapped(path, cap, &out, &error)), status);
        QCOMPARE(out, data);
        QCOMPARE(error.isEmpty(), status == int(ReadStatus::Ok));
    }
};

KTR_TEST_MAIN(TestSaveFile)
#include "tst_savefile.moc"
