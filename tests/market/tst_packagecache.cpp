#include "logcapture.h"
#include "manualclock.h"
#include "market/marketfiles.h"
#include "market/packagecache.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

using ktr::test::writeFile;

namespace {

QJsonObject entry(const QString& version, const QJsonValue& savedAt)
{
    return QJsonObject{{"file", version + ".zip"}, {"savedAt", savedAt}};
}

// Puts a package file into the cache folder and, unless savedAt is undefined, its index entry.
void seed(QJsonObject& index, const QString& id, const QString& version, const QJsonValue& savedAt,
          const QByteArray& bytes = "PK\3\4zip")
{
    QVERIFY(writeFile(packageCacheDir() + "/" + id + "/" + version + ".zip", bytes));
    QJsonObject app = index.value(id).toObject();
    app.insert(version, entry(version, savedAt));
    index.insert(id, app);
}

bool cached(const QString& id, const QString& version)
{
    return QFile::exists(packageCacheDir() + "/" + id + "/" + version + ".zip");
}

} // namespace

class TestPackageCache : public QObject
{
    Q_OBJECT
    ktr::test::ManualClock m_clock;
    qint64 now() const { return m_clock.now().toSecsSinceEpoch(); }

private Q_SLOTS:
    void initTestCase() { setPackageCacheClock(&m_clock); }
    void cleanupTestCase() { setPackageCacheClock(nullptr); }
    void init() { QDir(appsRootDir()).removeRecursively(); }

    void filePath_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << "app_1-x"
                               << "1.2.3"
                               << "1.2.3.zip" << true;
        QTest::newRow("id with dot") << "a.b"
                                     << "1.0"
                                     << "1.0.zip" << false;
        QTest::newRow("id of 49") << QString(49, 'a') << "1.0"
                                  << "1.0.zip" << false;
        QTest::newRow("bad version") << "app"
                                     << "1..0"
                                     << "1..0.zip" << false;
        QTest::newRow("file not version.zip") << "app"
                                              << "1.0"
                                              << "other.zip" << false;
        QTest::newRow("upper-case ZIP differs") << "app"
                                                << "1.0"
                                                << "1.0.ZIP" << false;
        QTest::newRow("version of 60") << "app" << QString(60, '1') << QString(60, '1') + ".zip" << true;
        QTest::newRow("version of 61: file too long")
            << "app" << QString(61, '1') << QString(61, '1') + ".zip" << false;
    }
    void filePath()
    {
        QFETCH(QString, id);
        QFETCH(QString, version);
        QFETCH(QString, file);
        QFETCH(bool, accepted);
        const QString path = cacheFilePath(packageCacheDir(), id, version, file);
        QCOMPARE(!path.isEmpty(), accepted);
        if (accepted)
            QCOMPARE(path, QDir::cleanPath(packageCacheDir() + "/" + id + "/" + file));
    }

    void symlinkedAppFolderRefused()
    {
        const QString elsewhere = ktr::test::freshDir("elsewhere");
        QVERIFY(QDir().mkpath(packageCacheDir()));
        QVERIFY(QFile::link(elsewhere, packageCacheDir() + "/app"));
        QVERIFY(cacheFilePath(packageCacheDir(), "app", "1.0", "1.0.zip").isEmpty());
    }

    // Age is measured against the injected clock; a time in the future is stale too.
    void lookupByAge_data()
    {
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("found");
        QTest::newRow("just stored") << qint64(0) << true;
        QTest::newRow("exactly a day") << qint64(86400) << true;
        QTest::newRow("a day and a second") << qint64(86401) << false;
        QTest::newRow("an hour in the future") << qint64(-3600) << false;
    }
    void lookupByAge()
    {
        QFETCH(qint64, age);
        QFETCH(bool, found);
        QJsonObject index;
        seed(index, "app", "1.0", now() - age);
        writeCacheIndex(packageCacheDir(), index);
        QCOMPARE(lookupCachedPackage("app", "1.0"), found ? packageCacheDir() + "/app/1.0.zip" : QString());
    }

    void lookupRefusesBadEntries()
    {
        QJsonObject index;
        seed(index, "zero", "1.0", 0);
        seed(index, "text", "1.0", "abc");
        seed(index, "renamed", "1.0", now());
        QJsonObject renamed = index.value("renamed").toObject();
        renamed.insert("1.0", QJsonObject{{"file", "2.0.zip"}, {"savedAt", now()}});
        index.insert("renamed", renamed);
        QVERIFY(writeFile(packageCacheDir() + "/renamed/2.0.zip", "PK\3\4"));
        writeCacheIndex(packageCacheDir(), index);
        QVERIFY(lookupCachedPackage("zero", "1.0").isEmpty());
        QVERIFY(lookupCachedPackage("text", "1.0").isEmpty());
        QVERIFY(lookupCachedPackage("renamed", "1.0").isEmpty());
        QVERIFY(lookupCachedPackage("missing", "1.0").isEmpty());
        QVERIFY(lookupCachedPackage("", "1.0").isEmpty());
    }

    void damagedIndexReadsEmpty()
    {
        QVERIFY(writeFile(packageCacheDir() + "/index.json", "{not json"));
        ktr::test::LogCapture log;
        QVERIFY(readCacheIndex(packageCacheDir()).isEmpty());
        QVERIFY(log.contains("[jsonutil] object parse failed:"));
    }

    void indexWrittenWholeOrNotAtAll()
    {
        QJsonObject index;
        seed(index, "app", "1.0", now());
        writeCacheIndex(packageCacheDir(), index);
        const QByteArray written = ktr::test::readFile(packageCacheDir() + "/index.json");
        QCOMPARE(QJsonDocument::fromJson(written).object(), index);
        QVERIFY(!written.contains('\n')); // compact
        // A folder below a regular file can't hold an index: nothing is written, the failure is logged.
        ktr::test::LogCapture log;
        writeCacheIndex(packageCacheDir() + "/index.json/sub", index);
        QVERIFY(log.contains("writeCacheIndex"));
    }

    void storeMovesAndRecords()
    {
        const QString source = packageFilePath("app");
        QVERIFY(writeFile(source, "PK\3\4one"));
        QJsonObject other;
        seed(other, "other", "3.0", now());
        writeCacheIndex(packageCacheDir(), other);
        cachePackage("app", "1.0", source);
        QVERIFY(!QFile::exists(source));
        QCOMPARE(ktr::test::readFile(packageCacheDir() + "/app/1.0.zip"), QByteArray("PK\3\4one"));
        QJsonObject index = readCacheIndex(packageCacheDir());
        QCOMPARE(index.value("app").toObject().value("1.0").toObject(), entry("1.0", now()));
        QVERIFY(index.contains("other"));

        // Storing the same version again replaces the file and renews the time.
        m_clock.advance(5000 * 1000);
        QVERIFY(writeFile(source, "PK\3\4two"));
        cachePackage("app", "1.0", source);
        QCOMPARE(ktr::test::readFile(packageCacheDir() + "/app/1.0.zip"), QByteArray("PK\3\4two"));
        index = readCacheIndex(packageCacheDir());
        QCOMPARE(index.value("app").toObject().value("1.0").toObject(), entry("1.0", now()));

        // An invalid version or a missing source stores nothing.
        QVERIFY(writeFile(source, "PK\3\4"));
        cachePackage("app", "1..0", source);
        cachePackage("app", "2.0", source + ".missing");
        QVERIFY(QFile::exists(source));
        QCOMPARE(readCacheIndex(packageCacheDir()).value("app").toObject().keys(), QStringList{"1.0"});
    }

    void sweepByAgeAndSafety()
    {
        QJsonObject index;
        seed(index, "fresh", "1.0", now() - 86400);
        seed(index, "old", "1.0", now() - 86401);
        seed(index, "zero", "1.0", 0);
        seed(index, "future", "1.0", now() + 60);
        seed(index, "text", "1.0", "abc");
        seed(index, "gone", "1.0", now());
        QFile::remove(packageCacheDir() + "/gone/1.0.zip");
        // An entry whose file is not version.zip is dropped, its file left alone.
        seed(index, "renamed", "1.0", now());
        seed(index, "renamed", "0.9", now());
        QJsonObject renamed = index.value("renamed").toObject();
        renamed.insert("1.0", QJsonObject{{"file", "x.zip"}, {"savedAt", now()}});
        index.insert("renamed", renamed);
        QVERIFY(writeFile(packageCacheDir() + "/stray/9.zip", "x"));
        const QString elsewhere = ktr::test::freshDir("linked");
        QVERIFY(QFile::link(elsewhere, packageCacheDir() + "/linked"));
        writeCacheIndex(packageCacheDir(), index);

        ktr::test::LogCapture log;
        sweepPackageCache();
        const QJsonObject after = readCacheIndex(packageCacheDir());
        QCOMPARE(after.keys(), (QStringList{"fresh", "renamed", "text"}));
        QCOMPARE(after.value("text").toObject().value("1.0").toObject(), entry("1.0", now()));
        QCOMPARE(after.value("renamed").toObject().keys(), QStringList{"0.9"});
        QVERIFY(cached("fresh", "1.0"));
        QVERIFY(!cached("old", "1.0") && !cached("zero", "1.0") && !cached("future", "1.0"));
        QVERIFY(!QFile::exists(packageCacheDir() + "/old"));
        QVERIFY(QFile::exists(packageCacheDir() + "/renamed/1.0.zip"));
        QVERIFY(!QFile::exists(packageCacheDir() + "/stray"));
        QVERIFY(QFileInfo(packageCacheDir() + "/linked").isSymLink());
        QVERIFY(log.contains("cache index: bad savedAt, treating as fresh"));
        QVERIFY(log.contains("cache index: skip unsafe entry"));
        QVERIFY(log.contains("cache sweep: skip symlink dir"));
        QVERIFY(!log.contains("remove failed:")); // every deletion worked: no reason tag in the log
    }

    void sweepByCountAndSize()
    {
        QJsonObject index;
        seed(index, "app", "1.0", now() - 300);
        seed(index, "app", "1.1", now() - 2);
        seed(index, "app", "1.2", now() - 1);
        QVERIFY(writeFile(packageCacheDir() + "/big/1.0.zip", {}));
        QVERIFY(writeFile(packageCacheDir() + "/huge/1.0.zip", {}));
        // Sparse files: the sizes count, the disk holds nothing.
        QVERIFY(QFile(packageCacheDir() + "/big/1.0.zip").resize(600LL << 20));
        QVERIFY(QFile(packageCacheDir() + "/huge/1.0.zip").resize(500LL << 20));
        index.insert("big", QJsonObject{{"1.0", entry("1.0", now() - 50)}});
        index.insert("huge", QJsonObject{{"1.0", entry("1.0", now() - 10)}});
        writeCacheIndex(packageCacheDir(), index);
        sweepPackageCache();
        QVERIFY(!cached("app", "1.0"));
        QVERIFY(cached("app", "1.1") && cached("app", "1.2"));
        QVERIFY(!cached("big", "1.0")); // the older of the two that pass 1 GiB together
        QVERIFY(cached("huge", "1.0"));
        const QJsonObject after = readCacheIndex(packageCacheDir());
        QCOMPARE(after.keys(), (QStringList{"app", "huge"}));
        QCOMPARE(after.value("app").toObject().keys(), (QStringList{"1.1", "1.2"}));
    }

    // The reason tag reaches the log only when a deletion fails.
    void failedDeletionLogsItsTag()
    {
        QJsonObject index;
        seed(index, "app", "1.0", now() - 90000);
        QFile::remove(packageCacheDir() + "/app/1.0.zip");
        // A folder with content where the file should be: it can't be removed as a file.
        QVERIFY(writeFile(packageCacheDir() + "/app/1.0.zip/inside", "x"));
        writeCacheIndex(packageCacheDir(), index);
        ktr::test::LogCapture log;
        sweepPackageCache();
        QVERIFY(log.contains("remove failed: stale-cache " + packageCacheDir() + "/app/1.0.zip"));
    }
};

KTR_TEST_MAIN(TestPackageCache)
#include "tst_packagecache.moc"
