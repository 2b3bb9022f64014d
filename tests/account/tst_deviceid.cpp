#include "account/deviceid.h"
#include "logcapture.h"
#include "testenv.h"
#include "ui/datadir.h"
#include "ui/lang.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

const QString kHost = QStringLiteral("desk-7");

QByteArray bindFor(const QString& id, const QString& host)
{
    return (QStringLiteral("KTBIND1|") + host + u'\n' + deviceBindDigest(id, host) + u'\n').toUtf8();
}

bool isFreshId(const QString& id)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-f]{32}$"));
    return re.match(id).hasMatch();
}

} // namespace

class TestDeviceId : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void digestCoversPrefixIdBarHost()
    {
        const QByteArray expected =
            QCryptographicHash::hash("Rb4nTq8LmW2xZc6VpY3s|abcdef12|desk-7", QCryptographicHash::Sha256).toHex();
        QCOMPARE(deviceBindDigest(QStringLiteral("abcdef12"), kHost), QString::fromLatin1(expected));
        const QByteArray noHost =
            QCryptographicHash::hash("Rb4nTq8LmW2xZc6VpY3s|abcdef12|", QCryptographicHash::Sha256).toHex();
        QCOMPARE(deviceBindDigest(QStringLiteral("abcdef12"), QString()), QString::fromLatin1(noHost));
    }

    void acceptableIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("acceptable");
        QTest::newRow("7") << QString(7, u'a') << false;
        QTest::newRow("8") << QString(8, u'a') << true;
        QTest::newRow("64") << QString(64, u'0') << true;
        QTest::newRow("65") << QString(65, u'0') << false;
        QTest::newRow("upper hex and dash") << QStringLiteral("ABCDEF-0123") << true;
        QTest::newRow("g") << QStringLiteral("abcdefg1") << false;
        QTest::newRow("underscore") << QStringLiteral("abcd_ef1") << false;
        QTest::newRow("inner space") << QStringLiteral("abcd ef12") << false;
        QTest::newRow("non-latin") << QStringLiteral("abcdef1２") << false;
    }
    void acceptableIds()
    {
        QFETCH(QString, id);
        QFETCH(bool, acceptable);
        QCOMPARE(isAcceptableDeviceId(id), acceptable);
    }

    // One row per state of the two files; "kept" means the stored (trimmed) id comes back.
    void computeFromFiles_data()
    {
        QTest::addColumn<QByteArray>("idFile");   // "<none>" for no file
        QTest::addColumn<QByteArray>("bindFile"); // "<none>" for no file
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("mismatchWarning");
        QTest::addColumn<bool>("bindRewritten");
        const QString id = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QByteArray none("<none>");
        QTest::newRow("no files") << none << none << false << false << true;
        QTest::newRow("matching pair, CR LF and spaces around the id")
            << (" " + id.toLatin1() + "\r\n") << bindFor(id, kHost) << true << false << false;
        QTest::newRow("bind file of another host keeps the id")
            << id.toLatin1() << bindFor(id, QStringLiteral("old-name")) << true << false << false;
        QTest::newRow("upper-case id") << id.toUpper().toLatin1() << bindFor(id.toUpper(), kHost) << true << false
                                       << false;
        QTest::newRow("id of 8") << QByteArray("abcd1234") << bindFor(QStringLiteral("abcd1234"), kHost) << true
                                 << false << false;
        QTest::newRow("bind missing: id kept, bind written") << id.toLatin1() << none << true << false << true;
        QTest::newRow("bind one line") << id.toLatin1() << QByteArray("KTBIND1|desk-7") << true << false << true;
        QTest::newRow("bind without magic")
            << id.toLatin1() << QByteArray("KTBIND2|desk-7\n") + deviceBindDigest(id, kHost).toLatin1() + "\n"
            << true << false << true;
        QTest::newRow("damaged bind: empty digest line")
            << id.toLatin1() << QByteArray("KTBIND1|desk-7\n \n") << true << false << true;
        QTest::newRow("binary garbage as bind")
            << id.toLatin1() << QByteArray("\x00\xff\xfe\n\x01", 5) << true << false << true;
        QTest::newRow("foreign bind file: new identity")
            << id.toLatin1() << bindFor(QStringLiteral("ffffffffffffffffffffffffffffffff"), kHost) << false << true
            << true;
        QTest::newRow("id edited by hand")
            << QByteArray("0123456789abcdef0123456789abcdee") << bindFor(id, kHost) << false << true << true;
        QTest::newRow("id of 7") << QByteArray("abcd123") << bindFor(QStringLiteral("abcd123"), kHost) << false << false
                                 << true;
        QTest::newRow("id of 65") << QByteArray(65, 'a') << bindFor(QString(65, u'a'), kHost) << false << false << true;
        QTest::newRow("id with g") << QByteArray("abcdefg123") << bindFor(QStringLiteral("abcdefg123"), kHost) << false
                                   << false << true;
        QTest::newRow("id with underscore") << QByteArray("abc_ef123") << none << false << false << true;
    }
    void computeFromFiles()
    {
        QFETCH(QByteArray, idFile);
        QFETCH(QByteArray, bindFile);
        QFETCH(bool, kept);
        QFETCH(bool, mismatchWarning);
        QFETCH(bool, bindRewritten);
        const QString dir = ktr::test::freshDir(QStringLiteral("dev"));
        const QString idPath = dir + QStringLiteral("/device.id");
        const QString bindPath = dir + QStringLiteral("/device.bind");
        if (idFile != "<none>")
            QVERIFY(ktr::test::writeFile(idPath, idFile));
        if (bindFile != "<none>")
            QVERIFY(ktr::test::writeFile(bindPath, bindFile));

        ktr::test::LogCapture log;
        const QString result = computeDeviceId(dir, kHost);
        QCOMPARE(log.contains(QStringLiteral("device.id binding mismatch, regenerate device identity")),
                 mismatchWarning);
        if (kept) {
            QCOMPARE(result, QString::fromLatin1(idFile.trimmed()));
            QCOMPARE(ktr::test::readFile(idPath), idFile); // never rewritten
        } else {
            QVERIFY2(isFreshId(result), qPrintable(result));
            QCOMPARE(ktr::test::readFile(idPath), result.toLatin1());
        }
        const QByteArray bind = ktr::test::readFile(bindPath);
        if (bindRewritten)
            QCOMPARE(bind, bindFor(result, kHost));
        else
            QCOMPARE(bind, bindFile);
        // The pair written is accepted as it is at the next start, whatever the host is called by then.
        QCOMPARE(computeDeviceId(dir, QStringLiteral("renamed")), result);
    }

    void emptyHostName()
    {
        const QString dir = ktr::test::freshDir(QStringLiteral("nohost"));
        const QString id = computeDeviceId(dir, QString());
        const QByteArray bind = ktr::test::readFile(dir + QStringLiteral("/device.bind"));
        QCOMPARE(bind, QByteArray("KTBIND1|\n") + deviceBindDigest(id, QString()).toLatin1() + "\n");
    }

    void unwritableFolderStillGivesAnId()
    {
        // A regular file where the data folder should be: nothing can be stored.
        const QString blocker = ktr::test::freshDir(QStringLiteral("blk")) + QStringLiteral("/file");
        QVERIFY(ktr::test::writeFile(blocker, "x"));
        ktr::test::LogCapture log;
        const QString id = computeDeviceId(blocker + QStringLiteral("/data"), kHost);
        QVERIFY(isFreshId(id));
        QVERIFY(log.contains(QStringLiteral("computeDeviceId: cannot create data dir")));
        QVERIFY(log.contains(QStringLiteral("registerNewDevice: cannot open device.id for write:")));
    }

    void hostNames()
    {
        QCOMPARE(deviceHostName(), QSysInfo::machineHostName().trimmed());
        QVERIFY(!deviceDisplayName().isEmpty());
        QVERIFY(deviceDisplayName().size() <= 64);
    }

    // Last: the process-wide id is made once, in the data folder, and survives the files' removal.
    void processIdComputedOnce()
    {
        const QString idPath = appDataDir() + QStringLiteral("/device.id");
        const QString bindPath = appDataDir() + QStringLiteral("/device.bind");
        QFile::remove(idPath);
        QFile::remove(bindPath);
        const QString first = deviceId();
        QVERIFY(isFreshId(first));
        QCOMPARE(ktr::test::readFile(idPath), first.toLatin1());
        QVERIFY(QFile::remove(idPath));
        QVERIFY(QFile::remove(bindPath));
        QCOMPARE(deviceId(), first);
        QVERIFY(!QFileInfo::exists(idPath));
        QVERIFY(!QFileInfo::exists(bindPath));
    }
};

KTR_TEST_MAIN(TestDeviceId)
#include "tst_deviceid.moc"
