#include "fakeservicehost.h"
#include "logcapture.h"
#include "market/marketcatalogue.h"
#include "market/marketfiles.h"
#include "market/packagecache.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>

#include <memory>

using Host = ktr::test::FakeServiceHost;
using Reply = Host::Reply;
using Request = Host::Request;
using ktr::test::readFile;
using ktr::test::writeFile;

Q_DECLARE_METATYPE(Host::RangeMode)

namespace {

const QString kId = QStringLiteral("app");
const QString kDownload = QStringLiteral("/api/download.php");

QByteArray makePackage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(42);
    for (char& c : bytes)
        c = char(gen.bounded(256));
    bytes.replace(0, 4, QByteArray("PK\3\4"));
    return bytes;
}

QString hexSha(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

class TestPackageDownload : public QObject
{
    Q_OBJECT

    std::unique_ptr<Host> m_host;
    std::unique_ptr<MarketCatalogue> m_market;
    std::unique_ptr<QSignalSpy> m_verified;
    std::unique_ptr<QSignalSpy> m_login;
    QByteArray m_package;

    MarketCatalogue::AppRow& row() { return *m_market->findRow(kId); }
    QString part() const { return partialFilePath(kId); }
    QList<Request> downloads() const
    {
        QList<Request> out;
        for (const Request& r : m_host->requests()) {
            if (r.path == kDownload)
                out.append(r);
        }
        return out;
    }
    void serve(Host::RangeMode mode = Host::RangeMode::Honour)
    {
        m_host->route("GET", kDownload, "",
                      [this, mode](const Request& r) { return Host::rangeReply(r, m_package, mode); });
    }
    // Runs until the row is idle again: verified, failed, or paused.
    void start()
    {
        m_market->startDownload(row());
        QTRY_VERIFY_WITH_TIMEOUT(!row().downloading, 10000);
    }

private Q_SLOTS:
    void init()
    {
        QDir(appsRootDir()).removeRecursively();
        m_package = makePackage(64 * 1024);
        m_host = std::make_unique<Host>(Host::Scheme::Http);
        QVERIFY(m_host->listen());
        qputenv("KTR_SERVICE_HOST", m_host->baseUrl().toString().toUtf8());
        m_market = std::make_unique<MarketCatalogue>();
        m_market->token = QStringLiteral("tok+en/secret");
        MarketCatalogue::AppRow r;
        r.id = kId;
        r.version = QStringLiteral("1.0");
        r.size = m_package.size();
        r.packageUrl = QStringLiteral("https://cdn.example/pkgs/app%201.0.zip");
        r.sha256 = hexSha(m_package).toUpper(); // the manifest's case does not matter
        r.launch = QStringLiteral("app.exe");
        m_market->rows.append(r);
        m_verified = std::make_unique<QSignalSpy>(m_market.get(), &MarketCatalogue::packageVerified);
        m_login = std::make_unique<QSignalSpy>(m_market.get(), &MarketCatalogue::loginRequested);
    }
    void cleanup()
    {
        m_verified.reset();
        m_login.reset();
        m_market.reset();
        m_host.reset();
    }

    // The package is proven by the manifest's SHA-256 in either case; a digest equal to the package's in all but
    // its last bytes, or a body of the right size with its last byte changed, is a damaged package: deleted,
    // nothing handed on.
    void freshDownload_data()
    {
        QTest::addColumn<QString>("digest"); // the manifest's; empty: the package's own, in upper case
        QTest::addColumn<int>("flipAt");     // a body byte the server sends changed; -1: none
        QTest::addColumn<bool>("accepted");
        const QString real = hexSha(makePackage(64 * 1024));
        QTest::newRow("upper-case digest") << QString() << -1 << true;
        QTest::newRow("lower-case digest") << real << -1 << true;
        QTest::newRow("digest off in its last byte")
            << real.left(62) + (real.endsWith(QLatin1String("00")) ? "01" : "00") << -1 << false;
        QTest::newRow("digest without its last byte") << real.left(62) << -1 << false;
        QTest::newRow("digest off in its last 4 bytes, upper case")
            << (real.left(56) + (real.mid(56) == QLatin1String("00000000") ? "00000001" : "00000000")).toUpper() << -1
            << false;
        QTest::newRow("same size, last byte changed") << QString() << 64 * 1024 - 1 << false;
    }
    void freshDownload()
    {
        QFETCH(QString, digest);
        QFETCH(int, flipAt);
        QFETCH(bool, accepted);
        if (!digest.isEmpty())
            row().sha256 = digest;
        const QByteArray original = m_package;
        if (flipAt >= 0)
            m_package[flipAt] = char(m_package[flipAt] ^ 0x01);
        serve();
        start();
        const QList<Request> sent = downloads();
        QCOMPARE(sent.size(), 1);
        if (!accepted) {
            QCOMPARE(row().errorText.shown(), Lang::tr("校验失败（文件损坏）"));
            QCOMPARE(m_verified->count(), 0);
            QVERIFY(!QFile::exists(part()));
            QVERIFY(!QFile::exists(packageFilePath(kId)));
            return;
        }
        QCOMPARE(row().errorText.shown(), QString());
        QCOMPARE(m_verified->count(), 1);
        QCOMPARE(m_verified->at(0).at(1).toString(), packageFilePath(kId));
        QCOMPARE(readFile(packageFilePath(kId)), original);
        QVERIFY(!QFile::exists(part()));
        QVERIFY(sent[0].header("range").isEmpty());
        QList<QPair<QString, QString>> items = sent[0].query.queryItems(QUrl::FullyDecoded);
        QCOMPARE(items, (QList<QPair<QString, QString>>{
                            {"app", "app"}, {"ver", "1.0"}, {"file", "app 1.0.zip"}, {"token", "tok+en/secret"}}));
    }

    // Larger than the reply's read buffer and many write slices: every byte arrives, in order, and the
    // streamed hash agrees with the file.
    void largePackageInSlices()
    {
        m_package = makePackage(12 * 1024 * 1024 + 17);
        row().size = m_package.size();
        row().sha256 = hexSha(m_package);
        serve();
        start();
        QCOMPARE(row().errorText.shown(), QString());
        QCOMPARE(m_verified->count(), 1);
        QCOMPARE(readFile(packageFilePath(kId)), m_package);
    }

    void queryLeavesOutRefusedParts()
    {
        serve();
        row().version.clear();
        row().packageUrl = QStringLiteral("https://cdn.example/");
        start();
        QCOMPARE(downloads().value(0).query.queryItems(QUrl::FullyDecoded),
                 (QList<QPair<QString, QString>>{{"app", "app"}, {"token", "tok+en/secret"}}));
    }

    void cacheFirst()
    {
        QVERIFY(writeFile(packageFilePath("staged"), m_package));
        cachePackage(kId, "1.0", packageFilePath("staged"));
        const QString cachedPath = lookupCachedPackage(kId, "1.0");
        QVERIFY(!cachedPath.isEmpty());
        start();
        QCOMPARE(m_verified->count(), 1);
        QCOMPARE(m_verified->at(0).at(1).toString(), cachedPath);
        QCOMPARE(row().received, row().size);
        QVERIFY(downloads().isEmpty());
    }

    void corruptCacheIsDeletedAndDownloaded()
    {
        serve();
        QVERIFY(writeFile(packageFilePath("staged"), "PK\3\4 damaged"));
        cachePackage(kId, "1.0", packageFilePath("staged"));
        const QString cachedPath = lookupCachedPackage(kId, "1.0");
        start();
        QCOMPARE(m_verified->count(), 1);
        QCOMPARE(m_verified->at(0).at(1).toString(), packageFilePath(kId));
        QVERIFY(!QFile::exists(cachedPath));
        QCOMPARE(downloads().size(), 1);
    }

    // A cached package counts only when a digest was computed and equals the manifest's hash: an empty
    // hash and a file that can't be read (here /proc/self/mem, whose first page reads fail) never agree.
    void unprovableCacheFailsClosed_data()
    {
        QTest::addColumn<bool>("withSha");
        QTest::addColumn<bool>("readable");
        QTest::newRow("no sha256, unreadable file") << false << false;
        QTest::newRow("sha256, unreadable file") << true << false;
        QTest::newRow("no sha256, readable file") << false << true;
    }
    void unprovableCacheFailsClosed()
    {
        QFETCH(bool, withSha);
        QFETCH(bool, readable);
        serve();
        QVERIFY(writeFile(packageFilePath("staged"), m_package));
        cachePackage(kId, "1.0", packageFilePath("staged"));
        const QString cachedPath = lookupCachedPackage(kId, "1.0");
        QVERIFY(!cachedPath.isEmpty());
        if (!readable) {
            QVERIFY(QFile::remove(cachedPath));
            QVERIFY(QFile::link("/proc/self/mem", cachedPath));
            QVERIFY(!lookupCachedPackage(kId, "1.0").isEmpty());
        }
        if (!withSha)
            row().sha256.clear();
        start();
        QCOMPARE(m_verified->count(), 0);
        QCOMPARE(row().errorText.shown(), QStringLiteral("校验失败（文件损坏）"));
        QVERIFY(downloads().isEmpty());
        QVERIFY(!QFile::exists(packageFilePath(kId)));
    }

    void resume_data()
    {
        QTest::addColumn<Host::RangeMode>("mode");
        QTest::addColumn<QString>("error");
        QTest::newRow("206 from the partial's end") << Host::RangeMode::Honour << QString();
        QTest::newRow("206 starting elsewhere")
            << Host::RangeMode::WrongContentRange << QString("续传数据错位，已重置，请重新下载");
        QTest::newRow("200: whole file again") << Host::RangeMode::IgnoreRange << QString();
    }
    void resume()
    {
        QFETCH(Host::RangeMode, mode);
        QFETCH(QString, error);
        serve(mode);
        QVERIFY(writeFile(part(), m_package.left(10)));
        start();
        QCOMPARE(downloads().value(0).header("range"), QByteArray("bytes=10-"));
        QCOMPARE(row().errorText.shown(), Lang::tr(error.toUtf8().constData()));
        if (error.isEmpty()) {
            QCOMPARE(readFile(packageFilePath(kId)), m_package);
        } else {
            QCOMPARE(m_verified->count(), 0);
            QVERIFY(!QFile::exists(part()));
        }
        QCOMPARE(downloads().size(), 1);
    }

    // A partial left by a longer, older package draws 416: start again from byte 0, without an error.
    void unsatisfiableRangeStartsAgain()
    {
        serve();
        QVERIFY(writeFile(part(), makePackage(m_package.size() + 100)));
        start();
        QCOMPARE(row().errorText.shown(), QString());
        QCOMPARE(readFile(packageFilePath(kId)), m_package);
        const QList<Request> sent = downloads();
        QCOMPARE(sent.size(), 2);
        QVERIFY(!sent[0].header("range").isEmpty());
        QVERIFY(sent[1].header("range").isEmpty());
    }

    void partialWithoutSignatureIsDiscarded()
    {
        serve();
        QVERIFY(writeFile(part(), "NOTZIP0123"));
        ktr::test::LogCapture log;
        start();
        QVERIFY(downloads().value(0).header("range").isEmpty());
        QCOMPARE(readFile(packageFilePath(kId)), m_package);
        QVERIFY(log.contains("discard corrupt .part"));
        QVERIFY(!log.contains("remove failed:"));
    }

    void resumedBadHashRestartsOnce()
    {
        serve();
        row().sha256 = hexSha("something else");
        QVERIFY(writeFile(part(), m_package.left(10)));
        start();
        const QList<Request> sent = downloads();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].header("range"), QByteArray("bytes=10-"));
        QVERIFY(sent[1].header("range").isEmpty());
        QCOMPARE(row().errorText.shown(), Lang::tr("校验失败（文件损坏）"));
        QVERIFY(!QFile::exists(part()));
        QCOMPARE(m_verified->count(), 0);
    }

    // A package refused for its SHA-256 leaves a warning with both digests, whichever way it came: fresh, resumed
    // or from the cache.
    void refusedDigestIsLogged_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("tag");
        QTest::newRow("fresh download") << "fresh"
                                        << "download";
        QTest::newRow("resumed download") << "resumed"
                                          << "resumed download";
        QTest::newRow("cached package") << "cache"
                                        << "cache";
    }
    void refusedDigestIsLogged()
    {
        QFETCH(QString, how);
        QFETCH(QString, tag);
        serve();
        const QString expected = hexSha("something else");
        row().sha256 = expected.toUpper();
        QByteArray refused = m_package; // what was hashed when the row was refused
        if (how == QLatin1String("resumed")) {
            QVERIFY(writeFile(part(), m_package.left(10)));
        } else if (how == QLatin1String("cache")) {
            refused = "PK\3\4 cached but damaged";
            QVERIFY(writeFile(packageFilePath("staged"), refused));
            cachePackage(kId, "1.0", packageFilePath("staged"));
        }
        ktr::test::LogCapture log;
        start();
        const QString line = QStringLiteral("package sha256 mismatch (%1): %2 expected %3 computed %4")
                                 .arg(tag, kId, expected, hexSha(refused));
        QVERIFY2(log.contains(line), qPrintable(log.messages().join(QLatin1Char('\n'))));
        QCOMPARE(m_verified->count(), 0);
    }

    // Content-Length against the 2 GiB cap, with what is already on disk.
    void contentLengthCap_data()
    {
        QTest::addColumn<bool>("resumed");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<bool>("aborted");
        QTest::newRow("2^31, nothing received") << false << qint64(2147483648LL) << false;
        QTest::newRow("2^31 - 4 after 4") << true << qint64(2147483644LL) << false;
        QTest::newRow("2^31 - 3 after 4") << true << qint64(2147483645LL) << true;
        QTest::newRow("2^31 + 1, nothing received") << false << qint64(2147483649LL) << true;
    }
    void contentLengthCap()
    {
        QFETCH(bool, resumed);
        QFETCH(qint64, length);
        QFETCH(bool, aborted);
        const QByteArray head = m_package.left(4);
        if (resumed)
            QVERIFY(writeFile(part(), head));
        m_host->route("GET", kDownload, "", [&](const Request&) {
            Reply r = Reply::lyingLength(m_package.mid(resumed ? 4 : 0, 100), length, resumed ? 206 : 200);
            if (resumed)
                r.addHeader("Content-Range",
                            "bytes 4-" + QByteArray::number(length + 3) + "/" + QByteArray::number(length + 4));
            return r;
        });
        ktr::test::LogCapture log;
        start();
        QCOMPARE(log.contains("download Content-Length exceeds cap, abort:"), aborted);
        if (aborted) {
            QCOMPARE(row().errorText.shown(), Lang::tr("下载超出大小上限，已中止"));
            QVERIFY(!QFile::exists(part()));
        } else {
            QVERIFY(row().errorText.shown() != Lang::tr("下载超出大小上限，已中止"));
        }
    }

    // No Content-Length and a declared size of 1000: the transfer stops once the file passes 1500 bytes.
    void onDiskCapWithoutLength()
    {
        row().size = 1000;
        m_host->route("GET", kDownload, "", [&](const Request&) {
            Reply r = Reply::raw(200, m_package.left(4000), "application/octet-stream");
            r.omitLength = true;
            r.chunkSize = 500;
            r.chunkIntervalMs = 5;
            return r;
        });
        ktr::test::LogCapture log;
        start();
        QVERIFY(log.contains("download on-disk bytes exceed cap, abort:"));
        QCOMPARE(row().errorText.shown(), Lang::tr("下载超出大小上限，已中止")); // its own text, not "HTTP 200"
        QVERIFY(!QFile::exists(part()));
    }

    // A full disk is our failure, not the server's: its own text, and what arrived stays.
    void failedLocalWriteKeepsPartial()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full");
        serve();
        QVERIFY(QDir().mkpath(appsRootDir()));
        QVERIFY(QFile::link("/dev/full", part()));
        ktr::test::LogCapture log;
        start();
        QCOMPARE(row().errorText.shown(), Lang::tr("无法写入下载文件，请检查磁盘空间后重试"));
        QVERIFY(QFileInfo(part()).isSymLink());
        QVERIFY(log.contains("download write failed:"));
    }

    void errorReplies_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("urlInError"); // Qt's error text quotes the URL
        QTest::newRow("500 with msg") << Reply::json(QJsonObject{{"msg", "版本已下架"}}, 500) << "版本已下架" << true;
        QTest::newRow("500 empty") << Reply::raw(500, {}) << Lang::tr("下载失败（服务器 HTTP %1）").arg(500) << true;
        QTest::newRow("404 not json") << Reply::raw(404, "<html>") << Lang::tr("下载失败（服务器 HTTP %1）").arg(404)
                                      << true;
    }
    void errorReplies()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, error);
        QFETCH(bool, urlInError);
        m_host->route("GET", kDownload, "", reply);
        QVERIFY(writeFile(part(), m_package.left(10)));
        ktr::test::LogCapture log;
        start();
        QCOMPARE(row().errorText.shown(), error);
        QVERIFY(!QFile::exists(part())); // "dirty-part"
        QVERIFY(m_market->pendingLoginIds.isEmpty());
        // The URL carries the token; our log never does.
        QVERIFY(log.contains("download failed:"));
        if (urlInError)
            QVERIFY(log.contains("token=***"));
        for (const QString& line : log.messages())
            QVERIFY2(!line.contains("secret"), qPrintable(line));
    }

    // A connection that breaks, before the first byte or in the middle of the body, is the network's fault,
    // not the server's: the row says so, what arrived stays, and the retry asks for the rest only.
    void cutConnectionResumes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("before");   // a partial file already there
        QTest::addColumn<int>("sent");     // body bytes the first answer sends before the line breaks
        QTest::addColumn<bool>("headers"); // the first answer's status line and headers arrive
        QTest::newRow("dropped before a byte") << 64 * 1024 << 10 << 0 << false;
        QTest::newRow("cut after 1.5 MB") << 3 * 1024 * 1024 << 0 << 1536 * 1024 << true;
        QTest::newRow("resumed, cut again") << 3 * 1024 * 1024 << 1000 << 700 * 1024 << true;
        QTest::newRow("cut one byte before the end") << 64 * 1024 << 0 << 64 * 1024 - 1 << true;
    }
    void cutConnectionResumes()
    {
        QFETCH(int, size);
        QFETCH(int, before);
        QFETCH(int, sent);
        QFETCH(bool, headers);
        m_package = makePackage(size);
        row().size = m_package.size();
        row().sha256 = hexSha(m_package);
        if (before > 0)
            QVERIFY(writeFile(part(), m_package.left(before)));
        bool cut = true; // every answer (Qt sends a request again once when the line drops before a byte)
        m_host->route("GET", kDownload, "", [&](const Request& r) {
            Reply reply = Host::rangeReply(r, m_package);
            if (!cut)
                return reply;
            if (!headers)
                return Reply::dropped();
            reply.sendBytes = sent; // then the connection closes
            return reply;
        });
        ktr::test::LogCapture log;
        start();
        QCOMPARE(row().errorText.shown(), Lang::tr("下载失败（网络中断，请重试）"));
        QCOMPARE(readFile(part()), m_package.left(before + sent));
        QVERIFY(log.contains("download cut:"));
        for (const QString& line : log.messages())
            QVERIFY2(!line.contains("secret"), qPrintable(line));

        cut = false;
        const qsizetype asked = downloads().size();
        start(); // the row's "retry"
        QCOMPARE(row().errorText.shown(), QString());
        QCOMPARE(m_verified->count(), 1);
        QCOMPARE(readFile(packageFilePath(kId)), m_package);
        const QList<Request> sent2 = downloads();
        QCOMPARE(sent2.size(), asked + 1);
        QCOMPARE(sent2.last().header("range"), "bytes=" + QByteArray::number(before + sent) + "-");
    }

    void notLoginWaitsForToken_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::newRow("401") << Reply::raw(401, {});
        QTest::newRow("code NOT_LOGIN") << Reply::json(QJsonObject{{"code", "NOT_LOGIN"}}, 403);
    }
    void notLoginWaitsForToken()
    {
        QFETCH(Reply, reply);
        m_host->route("GET", kDownload, "", reply);
        start();
        QCOMPARE(row().errorText.shown(), Lang::tr("登录已失效，请重新登录（登录后自动继续下载）"));
        QCOMPARE(m_market->pendingLoginIds, QSet<QString>{kId});
        QCOMPARE(m_login->count(), 1);
        serve();
        m_market->setToken(QStringLiteral("fresh"));
        QVERIFY(m_market->pendingLoginIds.isEmpty());
        QTRY_COMPARE(m_verified->count(), 1);
        QCOMPARE(downloads().last().query.queryItemValue("token"), QString("fresh"));
    }

    void noTokenAsksForLogin()
    {
        serve();
        m_market->token.clear();
        start();
        QCOMPARE(row().errorText.shown(), Lang::tr("请先登录青岚舟账号后再下载"));
        QCOMPARE(m_login->count(), 1);
        QVERIFY(downloads().isEmpty());
        m_market->setToken(QString()); // an empty token restarts nothing
        QVERIFY(downloads().isEmpty());
        m_market->setToken(QStringLiteral("t"));
        QTRY_COMPARE(m_verified->count(), 1);
    }

    void pauseKeepsCancelDeletes()
    {
        m_host->route("GET", kDownload, "", [this](const Request& r) {
            Reply reply = Host::rangeReply(r, m_package);
            reply.chunkSize = 4096;
            reply.chunkIntervalMs = 20;
            return reply;
        });
        m_market->startDownload(row());
        QTRY_VERIFY(row().received >= 4096);
        m_market->pauseDownload(row());
        QTRY_VERIFY(!row().reply);
        QVERIFY(row().paused && !row().downloading);
        QVERIFY(QFileInfo(part()).size() >= 4096);
        // Cancel without a transfer deletes the partial at once.
        m_market->cancelDownload(row());
        QVERIFY(!QFile::exists(part()));
        QVERIFY(!row().paused);

        // Cancel of a running transfer: the partial goes when the transfer ends.
        m_market->startDownload(row());
        QTRY_VERIFY(row().received >= 4096);
        m_market->cancelDownload(row());
        QTRY_VERIFY(!row().reply);
        QTRY_VERIFY(!QFile::exists(part()));
        QCOMPARE(row().errorText.shown(), QString());
        QCOMPARE(m_verified->count(), 0);
    }

    void sha256OnThePool()
    {
        const QString path = ktr::test::testRoot() + "/hashme";
        QVERIFY(writeFile(path, m_package));
        QByteArray digest;
        QThread* gui = QThread::currentThread();
        bool onGui = false;
        m_market->computeSha256Async(path, [&](const QByteArray& d) {
            digest = d;
            onGui = QThread::currentThread() == gui;
        });
        QVERIFY(digest.isEmpty()); // not computed on the spot
        QTRY_VERIFY(!digest.isEmpty());
        QVERIFY(onGui);
        QCOMPARE(QString::fromLatin1(digest.toHex()), hexSha(m_package));
        bool called = false;
        m_market->computeSha256Async(path + ".missing", [&](const QByteArray& d) {
            called = true;
            QVERIFY(d.isEmpty());
        });
        QTRY_VERIFY(called);
    }
};

KTR_TEST_MAIN(TestPackageDownload)
#include "tst_packagedownload.moc"
