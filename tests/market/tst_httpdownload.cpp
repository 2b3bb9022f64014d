#include "fakeservicehost.h"
#include "logcapture.h"
#include "market/httpdownload.h"
#include "market/marketcatalogue.h"
#include "market/marketfiles.h"
#include "testenv.h"
#include "ui/lang.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using Outcome = HttpDownload::Outcome;
using ktr::test::readFile;
using ktr::test::writeFile;

namespace {

// A loopback server answering each connection with scripted bytes: every piece is its own write, gapMs
// after the one before, so the reader meets them in separate reads (a header or a chunk line split
// anywhere). Then it closes the connection, or keeps it open. With atOnce the whole answer is one write
// and the close follows it at once, so the reader usually meets the answer and the end of the stream in
// the same read, as it does behind most servers for a short answer.
class ScriptedServer : public QObject
{
public:
    struct Answer
    {
        QList<QByteArray> pieces;
        bool close = true;
        bool atOnce = false;
        int gapMs = 5;
    };
    QList<Answer> answers; // the n-th connection gets the n-th answer; the last one repeats
    QList<QByteArray> requests;

    ScriptedServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                const Answer answer = answers.value(qMin(m_connections++, int(answers.size()) - 1));
                auto head = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, head, answer] {
                    head->append(socket->readAll());
                    if (!head->contains("\r\n\r\n") || head->isEmpty())
                        return;
                    requests.append(*head);
                    head->clear();
                    send(socket, answer, 0);
                });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QUrl url(const QString& path = QStringLiteral("/pkg.zip")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

private:
    void send(QPointer<QTcpSocket> socket, const Answer& answer, int index)
    {
        if (!socket)
            return;
        if (answer.atOnce) {
            socket->write(answer.pieces.join());
            if (answer.close)
                socket->disconnectFromHost();
            return;
        }
        if (index >= answer.pieces.size()) {
            if (answer.close)
                socket->disconnectFromHost();
            return;
        }
        socket->write(answer.pieces[index]);
        socket->flush();
        QTimer::singleShot(answer.gapMs, this, [this, socket, answer, index] { send(socket, answer, index + 1); });
    }

    QTcpServer m_server;
    int m_connections = 0;
};

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

// A chunked body of `body` in chunks of `chunk` bytes, the wire text cut into pieces of `piece` bytes.
QList<QByteArray> chunkedPieces(const QByteArray& body, int chunk, int piece)
{
    QByteArray wire = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int at = 0; at < body.size(); at += chunk) {
        const QByteArray part = body.mid(at, chunk);
        wire += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
    }
    wire += "0\r\n\r\n";
    QList<QByteArray> pieces;
    for (int at = 0; at < wire.size(); at += piece)
        pieces.append(wire.mid(at, piece));
    return pieces;
}

QList<QByteArray> repeated(const QByteArray& piece, int times)
{
    QList<QByteArray> pieces;
    for (int i = 0; i < times; ++i)
        pieces.append(piece);
    return pieces;
}

// Trailer lines after the last chunk of a five-byte body, `lines` of `lineBytes` bytes each (line end
// included) and one of `lastBytes`; closed by the blank line when `end`.
QList<QByteArray> trailerPieces(int lines, int lineBytes, int lastBytes, bool end)
{
    QList<QByteArray> pieces{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nPK\3\4x\r\n0\r\n"};
    auto line = [](int bytes) { return "X-Pad: " + QByteArray(bytes - 9, 'a') + "\r\n"; };
    pieces += repeated(line(lineBytes), lines);
    if (lastBytes > 0)
        pieces.append(line(lastBytes));
    if (end)
        pieces.append("\r\n");
    return pieces;
}

} // namespace

class TestHttpDownload : public QObject
{
    Q_OBJECT

    QString m_file;

    HttpDownload::Request request(const QUrl& url) const
    {
        HttpDownload::Request r;
        r.url = url;
        r.filePath = m_file;
        r.maxBytes = 64 << 20;
        r.idleTimeoutMs = 10000;
        return r;
    }
    static HttpDownload::Result run(const HttpDownload::Request& r)
    {
        HttpDownload download;
        QSignalSpy done(&download, &HttpDownload::finished);
        download.start(r);
        if (!done.wait(15000))
            return {};
        return done.at(0).at(0).value<HttpDownload::Result>();
    }

private Q_SLOTS:
    void init() { m_file = ktr::test::freshDir(QStringLiteral("dl")) + "/file.part"; }

    // How an answer is read: its framing, its faults, and what ends in the file. A naive reader (read
    // until the close, trust any 2xx) writes framing or a second copy into the file, or calls a cut
    // transfer complete.
    void answers_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("resumeFrom");  // the file already holds this many bytes of "0123456789"
        QTest::addColumn<qint64>("maxBytes"); // 0: 64 MiB
        QTest::addColumn<qint64>("expected"); // the size the caller was told
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("errorBody");

        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
        auto row = [](const char* name, const QList<QByteArray>& pieces, Outcome outcome, int status,
                      const QByteArray& file, bool close = true) {
            QTest::newRow(name) << pieces << close << 0 << qint64(0) << qint64(0) << outcome << status << file
                                << QByteArray();
        };
        row("length, head and body split", {ok + "Content-Le", "ngth: 10\r\n\r\n01234", "56789"}, Outcome::Done, 200,
            "0123456789");
        row("length, bytes past it dropped", {ok + "Content-Length: 4\r\n\r\n0123EXTRA"}, Outcome::Done, 200, "0123");
        row("length, closed early", {ok + "Content-Length: 10\r\n\r\n01234"}, Outcome::Cut, 200, "01234");
        row("no length: until the close", {"HTTP/1.0 200 OK\n\n", "abc", "def"}, Outcome::Done, 200, "abcdef");
        row("chunked over Content-Length, split anywhere",
            {ok + "Content-Length: 3\r\nTransfer-Encoding: Chunked\r\n\r\n4\r\nWi", "ki\r\n5;ext=1\r", "\npedia\r\nE",
             "\r\n in\r\n\r\nchunks.\r\n0\r\nX-Trailer: 1\r\n", "\r\n"},
            Outcome::Done, 200, "Wikipedia in\r\n\r\nchunks.");
        row("chunked, cut inside a chunk", {chunked + "a\r\n01234"}, Outcome::Cut, 200, "01234");
        row("chunked, cut before the last chunk", {chunked + "2\r\nab\r\n"}, Outcome::Cut, 200, "ab");
        row("chunked, size not hex", {chunked + "zz\r\nab\r\n0\r\n\r\n"}, Outcome::BadResponse, 200, "");
        row("chunked, data longer than its size", {chunked + "2\r\nabc\r\n0\r\n\r\n"}, Outcome::BadResponse, 200, "ab");
        row("gzip content", {ok + "Content-Encoding: gzip\r\nContent-Length: 2\r\n\r\nxx"}, Outcome::BadResponse, 200,
            "");
        row("unknown transfer coding", {ok + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"}, Outcome::BadResponse,
            200, "");
        row("two different lengths", {ok + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc"}, Outcome::BadResponse,
            200, "");
        row("not HTTP", {"SSH-2.0-OpenSSH_9.2\r\n\r\n"}, Outcome::BadResponse, 0, "");
        row("folded header", {ok + "X-A: 1\r\n  2\r\nContent-Length: 0\r\n\r\n"}, Outcome::BadResponse, 0, "");
        // Never ends its headers and keeps the line open: refused at the limit, not after the time-out.
        row("headers over the limit", {ok + "X-Filler: " + QByteArray(HttpDownload::kMaxHeaderBytes, 'a')},
            Outcome::BadResponse, 0, "", false);
        row("interim 100 first", {"HTTP/1.1 100 Continue\r\n\r\n", ok + "Content-Length: 2\r\n\r\nok"}, Outcome::Done,
            200, "ok");
        row("closed before an answer", {}, Outcome::Cut, 0, "");
        QTest::newRow("404 with a body")
            << QList<QByteArray>{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"} << true << 0
            << qint64(0) << qint64(0) << Outcome::HttpError << 404 << QByteArray() << QByteArray("not found");
        QTest::newRow("503, chunked body, closed")
            << QList<QByteArray>{"HTTP/1.1 503 Busy\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n{}\n\r\n"} << true << 0
            << qint64(0) << qint64(0) << Outcome::HttpError << 503 << QByteArray() << QByteArray("{}\n");

        const QByteArray partial = "HTTP/1.1 206 Partial Content\r\n";
        QTest::newRow("206 from the file's end")
            << QList<QByteArray>{partial + "Content-Range: bytes 4-9/10\r\nContent-Length: 6\r\n\r\n456789"} << true
            << 4 << qint64(0) << qint64(0) << Outcome::Done << 206 << QByteArray("0123456789") << QByteArray();
        QTest::newRow("206 starting elsewhere")
            << QList<QByteArray>{partial + "Content-Range: bytes 0-9/10\r\nContent-Length: 10\r\n\r\n0123456789"}
            << true << 4 << qint64(0) << qint64(0) << Outcome::RangeMismatch << 206 << QByteArray("0123")
            << QByteArray();
        QTest::newRow("206 without Content-Range")
            << QList<QByteArray>{partial + "Content-Length: 6\r\n\r\n456789"} << true << 4 << qint64(0) << qint64(0)
            << Outcome::RangeMismatch << 206 << QByteArray("0123") << QByteArray();
        QTest::newRow("200 to a Range: the file starts again")
            << QList<QByteArray>{ok + "Content-Length: 10\r\n\r\n0123456789"} << true << 4 << qint64(0) << qint64(0)
            << Outcome::Done << 200 << QByteArray("0123456789") << QByteArray();
        QTest::newRow("206 whose total is over the cap")
            << QList<QByteArray>{partial + "Content-Range: bytes 4-9/10\r\nContent-Length: 6\r\n\r\n456789"} << true
            << 4 << qint64(9) << qint64(0) << Outcome::TooLarge << 206 << QByteArray("0123") << QByteArray();
        QTest::newRow("length over the cap")
            << QList<QByteArray>{ok + "Content-Length: 10\r\n\r\n0123456789"} << true << 0 << qint64(8) << qint64(0)
            << Outcome::TooLarge << 200 << QByteArray() << QByteArray();
        QTest::newRow("no length, past 1.5 x the told size")
            << QList<QByteArray>{ok + "\r\n0123456789"} << true << 0 << qint64(0) << qint64(4) << Outcome::SizeCap
            << 200 << QByteArray() << QByteArray();

        // Bodies larger than the read buffer: chunk lines and data cut at every buffer boundary.
        const QByteArray big = pattern(3 * int(HttpDownload::kBufferBytes) + 123);
        QTest::newRow("large chunked body") << chunkedPieces(big, 100003, 65536) << true << 0 << qint64(0) << qint64(0)
                                            << Outcome::Done << 200 << big << QByteArray();
        QTest::newRow("large body with a length")
            << QList<QByteArray>{ok + "Content-Length: " + QByteArray::number(big.size()) + "\r\n\r\n" + big} << true
            << 0 << qint64(0) << qint64(0) << Outcome::Done << 200 << big << QByteArray();
    }
    void answers()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(bool, close);
        QFETCH(int, resumeFrom);
        QFETCH(qint64, maxBytes);
        QFETCH(qint64, expected);
        QFETCH(Outcome, outcome);
        QFETCH(int, status);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, errorBody);
        ScriptedServer server;
        server.answers = {{pieces, close}};
        QVERIFY(server.listen());
        if (resumeFrom > 0)
            QVERIFY(writeFile(m_file, QByteArray("0123456789").left(resumeFrom)));
        HttpDownload::Request r = request(server.url());
        r.resumeFrom = resumeFrom;
        if (maxBytes > 0)
            r.maxBytes = maxBytes;
        r.expectedSize = expected;
        const HttpDownload::Result result = run(r);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.status, status);
        QCOMPARE(readFile(m_file), file);
        // A transfer that failed with nothing in the file leaves no empty file behind.
        QCOMPARE(QFile::exists(m_file), outcome == Outcome::Done || !file.isEmpty());
        QCOMPARE(result.fileSize, file.size());
        QCOMPARE(result.errorBody, errorBody);
        QCOMPARE(result.sha256, outcome == Outcome::Done ? sha(file) : QByteArray());
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests[0].contains("\r\nRange: bytes=4-\r\n"), resumeFrom == 4);
    }

    // The request line and the headers a server sees.
    void requestHead()
    {
        ScriptedServer server;
        server.answers = {{{"HTTP/1.1 204 No Content\r\n\r\n"}, true}};
        QVERIFY(server.listen());
        QUrl url = server.url(QStringLiteral("/api/download.php"));
        url.setQuery(QStringLiteral("app=a%20b&token=t%2Bk"));
        const HttpDownload::Result result = run(request(url));
        QCOMPARE(result.outcome, Outcome::Done);
        QCOMPARE(server.requests.size(), 1);
        const QList<QByteArray> lines = server.requests[0].split('\n');
        QCOMPARE(lines[0], QByteArray("GET /api/download.php?app=a%20b&token=t%2Bk HTTP/1.1\r"));
        QVERIFY(lines.contains("Host: " + url.authority().toLatin1() + "\r"));
        QVERIFY(lines.contains("Connection: close\r"));
        QVERIFY(!server.requests[0].contains("Range:"));
    }

    void redirects_data()
    {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<bool>("answered"); // the redirect's target answers (else it closes without a word)
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("status"); // of the last answer: none when the last connection said nothing
        QTest::newRow("relative, followed") << QByteArray("/next?x=1") << false << true << Outcome::Done << 2 << 200;
        QTest::newRow("followed, the target closes unanswered")
            << QByteArray("/next?x=1") << false << false << Outcome::Cut << 2 << 0;
        QTest::newRow("to another scheme")
            << QByteArray("ftp://127.0.0.1/x") << false << true << Outcome::BadRedirect << 1 << 302;
        QTest::newRow("without a target") << QByteArray() << false << true << Outcome::BadRedirect << 1 << 302;
        QTest::newRow("a loop ends") << QByteArray("/again") << true << true << Outcome::BadRedirect
                                     << HttpDownload::kMaxRedirects + 1 << 302;
    }
    void redirects()
    {
        QFETCH(QByteArray, location);
        QFETCH(bool, loop);
        QFETCH(bool, answered);
        QFETCH(Outcome, outcome);
        QFETCH(int, requests);
        QFETCH(int, status);
        const QByteArray moved = "HTTP/1.1 302 Found\r\n" +
                                 (location.isEmpty() ? QByteArray() : "Location: " + location + "\r\n") +
                                 "Content-Length: 0\r\n\r\n";
        ScriptedServer server;
        server.answers = {{{moved}, true}};
        if (!loop)
            server.answers.append(
                {{answered ? QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok") : QByteArray()}, true});
        QVERIFY(server.listen());
        const HttpDownload::Result result = run(request(server.url()));
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(server.requests.size(), requests);
        QCOMPARE(result.status, status);
        if (outcome == Outcome::Done) {
            QVERIFY(server.requests[1].startsWith("GET /next?x=1 HTTP/1.1\r\n"));
            QCOMPARE(readFile(m_file), QByteArray("ok"));
        }
    }

    // Chains of redirects as mirrors send them. The end of a redirect's connection (its close, often in the
    // same read as its head) belongs to that connection only: the next hop is asked and read on its own.
    void redirectChains_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("absolute"); // Location with scheme and host, or relative to the asked path
        QTest::addColumn<int>("hops");      // redirects before the file
        QTest::addColumn<bool>("loop");     // every answer redirects to the first URL
        QTest::addColumn<bool>("close");    // "Connection: close" and the close, or the line left open
        QTest::addColumn<bool>("atOnce");   // each answer in one write (and closed with it), or in pieces

        const int codes[] = {301, 302, 303, 307, 308};
        auto add = [](int code, bool absolute, int hops, bool loop, bool close, bool atOnce) {
            const QByteArray what =
                loop ? QByteArray("a loop") : QByteArray::number(hops) + (hops == 1 ? " hop" : " hops");
            QTest::addRow("%d %s, %s, %s, %s", code, absolute ? "absolute" : "relative", what.constData(),
                          close ? "Connection: close" : "kept open", atOnce ? "at once" : "in pieces")
                << code << absolute << hops << loop << close << atOnce;
        };
        for (bool close : {true, false}) {
            for (bool atOnce : {true, false}) {
                for (int code : codes) {
                    add(code, false, 1, false, close, atOnce);
                    add(code, true, 1, false, close, atOnce);
                }
                for (int hops = 2; hops <= HttpDownload::kMaxRedirects + 1; ++hops)
                    add(codes[hops % 5], hops % 2 == 1, hops, false, close, atOnce);
                add(302, false, 0, true, close, atOnce);
                add(307, true, 0, true, close, atOnce);
            }
        }
    }
    void redirectChains()
    {
        QFETCH(int, code);
        QFETCH(bool, absolute);
        QFETCH(int, hops);
        QFETCH(bool, loop);
        QFETCH(bool, close);
        QFETCH(bool, atOnce);
        ScriptedServer server;
        QVERIFY(server.listen());
        const QByteArray base = server.url(QStringLiteral("/")).toEncoded();
        const QByteArray connection = close ? "Connection: close\r\n" : "";
        auto answer = [&](const QByteArray& wire) {
            // In pieces: the head cut inside a header line, the body on its own.
            const qsizetype cut = wire.indexOf("\r\n\r\n") + 4;
            return ScriptedServer::Answer{
                {wire.left(cut / 2), wire.mid(cut / 2, cut - cut / 2), wire.mid(cut)}, close, atOnce};
        };
        auto moved = [&](const QByteArray& target) {
            const QByteArray body = "<a href=\"" + target + "\">moved</a>";
            return answer("HTTP/1.1 " + QByteArray::number(code) + " Moved\r\nLocation: " + target + "\r\n" +
                          connection + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        };
        const int redirects = loop ? HttpDownload::kMaxRedirects + 1 : hops;
        for (int hop = 1; hop <= redirects; ++hop) {
            const QByteArray path = loop ? QByteArray("files/pkg.zip")
                                         : "files/hop" + QByteArray::number(hop) + "?n=" + QByteArray::number(hop);
            server.answers.append(moved(absolute ? base + path : loop ? "/" + path : path.mid(6)));
        }
        server.answers.append(answer("HTTP/1.1 200 OK\r\n" + connection + "Content-Length: 8\r\n\r\npackage!"));

        const HttpDownload::Result result = run(request(server.url(QStringLiteral("/files/pkg.zip"))));
        const bool refused = redirects > HttpDownload::kMaxRedirects;
        QCOMPARE(result.outcome, refused ? Outcome::BadRedirect : Outcome::Done);
        QCOMPARE(server.requests.size(), refused ? HttpDownload::kMaxRedirects + 1 : hops + 1);
        for (int hop = 1; hop < server.requests.size(); ++hop) {
            const QByteArray asked = loop ? QByteArray("/files/pkg.zip")
                                          : "/files/hop" + QByteArray::number(hop) + "?n=" + QByteArray::number(hop);
            QVERIFY2(server.requests[hop].startsWith("GET " + asked + " HTTP/1.1\r\n"),
                     server.requests[hop].constData());
        }
        if (!refused) {
            QCOMPARE(result.status, 200);
            QCOMPARE(readFile(m_file), QByteArray("package!"));
            QCOMPARE(result.sha256, sha("package!"));
        } else {
            QCOMPARE(result.status, code);
        }
    }

    // Over TLS: the host's certificate is checked against the trusted CAs, and a redirect may not leave
    // https for plain http.
    void https_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("toHttp");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("trusted") << true << false << Outcome::Done;
        QTest::newRow("unknown CA") << false << false << Outcome::TlsFailed;
        QTest::newRow("redirect to http refused") << true << true << Outcome::BadRedirect;
    }
    void https()
    {
        QFETCH(bool, trusted);
        QFETCH(bool, toHttp);
        QFETCH(Outcome, outcome);
        ktr::test::FakeServiceHost::setTestCaTrusted(trusted);
        ScriptedServer plain;
        plain.answers = {{{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, true}};
        QVERIFY(plain.listen());
        ktr::test::FakeServiceHost host(ktr::test::FakeServiceHost::Scheme::Https);
        const QByteArray body = pattern(300000);
        host.route("GET", "/pkg.zip", "", [&](const ktr::test::FakeServiceHost::Request&) {
            if (!toHttp)
                return ktr::test::FakeServiceHost::Reply::raw(200, body, "application/zip");
            auto reply = ktr::test::FakeServiceHost::Reply::raw(302, {});
            reply.addHeader("Location", plain.url().toEncoded());
            return reply;
        });
        QVERIFY(host.listen());
        const HttpDownload::Result result = run(request(QUrl(host.baseUrl().toString() + "/pkg.zip")));
        ktr::test::FakeServiceHost::setTestCaTrusted(true);
        QCOMPARE(result.outcome, outcome);
        QVERIFY(plain.requests.isEmpty());
        if (outcome == Outcome::Done) {
            QCOMPARE(readFile(m_file), body);
            QCOMPARE(result.sha256, sha(body));
        }
    }

    // A stalled line ends with the time-out, an abort ends at once; what arrived stays in the file either way.
    void stalledOrAborted_data()
    {
        QTest::addColumn<bool>("abort");
        QTest::newRow("no data for the time-out") << false;
        QTest::newRow("aborted") << true;
    }
    void stalledOrAborted()
    {
        QFETCH(bool, abort);
        ScriptedServer server;
        server.answers = {{{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n01234"}, false}};
        QVERIFY(server.listen());
        HttpDownload::Request r = request(server.url());
        r.idleTimeoutMs = abort ? 10000 : 300;
        HttpDownload download;
        QSignalSpy done(&download, &HttpDownload::finished);
        QSignalSpy progress(&download, &HttpDownload::progress);
        download.start(r);
        if (abort) {
            QTRY_VERIFY(!progress.isEmpty() && progress.last().at(0).toLongLong() == 5);
            download.abort();
        }
        QVERIFY(done.wait(abort ? 2000 : 5000));
        const auto result = done.at(0).at(0).value<HttpDownload::Result>();
        QCOMPARE(result.outcome, abort ? Outcome::Aborted : Outcome::Timeout);
        QCOMPARE(readFile(m_file), QByteArray("01234"));
        QVERIFY(!download.isRunning());
    }

    // Answers that never stop arriving and never get anywhere: each is ended by its own bound, and says
    // which; a body that moves, however slowly, is not. The bounds are short here (the head's deadline
    // 300 ms, the idle time-out 1 s); a server that sends forever does so every 5 ms.
    void stalls_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<bool>("close");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("bound"); // in the detail the log shows; empty for Done
        QTest::addColumn<QByteArray>("file");

        const QByteArray body = "PK\3\4" + QByteArray(12, 'x');
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\n";
        QList<QByteArray> trickle;
        for (char c : head)
            trickle.append(QByteArray(1, c));
        trickle.append(body);
        QList<QByteArray> slowBody{head};
        for (char c : body)
            slowBody.append(QByteArray(1, c));
        const QByteArray cont = "HTTP/1.1 100 Continue\r\n\r\n";
        const QByteArray hints = "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n";
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        const int cap = HttpDownload::kMaxTrailerBytes;

        QTest::newRow("head at a byte every 30 ms")
            << trickle << 30 << true << Outcome::Timeout << QStringLiteral("no complete response head within 300 ms")
            << QByteArray();
        QTest::newRow("100 Continue without end")
            << repeated(cont, 400) << 5 << false << Outcome::Timeout
            << QStringLiteral("more than 10 interim (1xx) answers") << QByteArray();
        QTest::newRow("eleven interim answers, then the file")
            << repeated(hints, HttpDownload::kMaxInterimAnswers + 1) + QList<QByteArray>{ok} << 5 << true
            << Outcome::Timeout << QStringLiteral("more than 10 interim (1xx) answers") << QByteArray();
        QTest::newRow("ten interim answers, then the file")
            << repeated(hints, HttpDownload::kMaxInterimAnswers) + QList<QByteArray>{ok} << 5 << true << Outcome::Done
            << QString() << QByteArray("ok");
        QTest::newRow("trailer without end") << trailerPieces(400, 1000, 0, false) << 5 << false << Outcome::Timeout
                                             << QStringLiteral("trailer over 16384 bytes") << QByteArray("PK\3\4x");
        QTest::newRow("trailer one byte over the cap")
            << trailerPieces(cap / 1024 - 1, 1024, 1025, true) << 5 << true << Outcome::Timeout
            << QStringLiteral("trailer over 16384 bytes") << QByteArray("PK\3\4x");
        QTest::newRow("trailer at the cap") << trailerPieces(cap / 1024, 1024, 0, true) << 5 << true << Outcome::Done
                                            << QString() << QByteArray("PK\3\4x");
        QTest::newRow("body stops") << QList<QByteArray>{head + "PK\3\4x"} << 5 << false << Outcome::Timeout
                                    << QStringLiteral("no data for 1000 ms") << QByteArray("PK\3\4x");
        QTest::newRow("body at a byte every 50 ms, past the head's deadline")
            << slowBody << 50 << true << Outcome::Done << QString() << body;
    }
    void stalls()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, gapMs);
        QFETCH(bool, close);
        QFETCH(Outcome, outcome);
        QFETCH(QString, bound);
        QFETCH(QByteArray, file);
        ScriptedServer server;
        server.answers = {{pieces, close, false, gapMs}};
        QVERIFY(server.listen());
        HttpDownload::Request r = request(server.url());
        r.headTimeoutMs = 300;
        r.idleTimeoutMs = 1000;
        QElapsedTimer timer;
        timer.start();
        const HttpDownload::Result result = run(r);
        QCOMPARE(result.outcome, outcome);
        if (!bound.isEmpty())
            QVERIFY2(result.detail == bound, qPrintable(result.detail));
        QCOMPARE(readFile(m_file), file);
        QCOMPARE(QFile::exists(m_file), !file.isEmpty());
        // Ended by its bound, not by the server giving up (400 pieces at 5 ms take two seconds).
        if (!bound.isEmpty())
            QVERIFY2(timer.elapsed() < 1900, qPrintable(QString::number(timer.elapsed())));
    }

    // What the market shows and logs when a package's answer stalls or is cut: the network-failure text,
    // a log line naming what ended it, and no empty partial file; bytes that did arrive stay for the resume.
    void marketRow_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<bool>("close");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QByteArray>("part");

        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 64\r\n\r\n";
        QTest::newRow("100 Continue without end")
            << repeated("HTTP/1.1 100 Continue\r\n\r\n", 400) << false
            << QStringLiteral("more than 10 interim (1xx) answers") << QByteArray();
        QTest::newRow("trailer without end") << trailerPieces(400, 1000, 0, false) << false
                                             << QStringLiteral("trailer over 16384 bytes") << QByteArray("PK\3\4x");
        QTest::newRow("closed before an answer")
            << QList<QByteArray>{} << true << QStringLiteral("connection closed before an answer") << QByteArray();
        QTest::newRow("closed after the head")
            << QList<QByteArray>{head} << true << QStringLiteral("connection closed before the body ended")
            << QByteArray();
        QTest::newRow("closed after one byte")
            << QList<QByteArray>{head + "P"} << true << QStringLiteral("connection closed before the body ended")
            << QByteArray("P");
    }
    void marketRow()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(bool, close);
        QFETCH(QString, logged);
        QFETCH(QByteArray, part);
        ScriptedServer server;
        server.answers = {{pieces, close}};
        QVERIFY(server.listen());
        qputenv("KTR_SERVICE_HOST", server.url(QString()).toString().toUtf8());
        QDir(appsRootDir()).removeRecursively();
        MarketCatalogue market;
        market.token = QStringLiteral("token");
        MarketCatalogue::AppRow row;
        row.id = QStringLiteral("app");
        row.version = QStringLiteral("1.0");
        row.size = 64;
        row.sha256 = QString(64, QLatin1Char('0'));
        market.rows.append(row);
        ktr::test::LogCapture log;
        QElapsedTimer timer;
        timer.start();
        market.startDownload(*market.findRow(row.id));
        QTRY_VERIFY_WITH_TIMEOUT(!market.findRow(row.id)->downloading, 10000);
        QVERIFY(timer.elapsed() < 1900); // not by the idle time-out
        QCOMPARE(market.findRow(row.id)->errorText.shown(), Lang::tr("下载失败（网络中断，请重试）"));
        QVERIFY2(log.contains(QStringLiteral("download cut:")) && log.contains(logged),
                 qPrintable(log.messages().join(QLatin1Char('\n'))));
        const QString partPath = partialFilePath(row.id);
        QCOMPARE(QFile::exists(partPath), !part.isEmpty());
        QCOMPARE(readFile(partPath), part);
        qunsetenv("KTR_SERVICE_HOST");
    }

    // A file that can't be opened fails before anything is asked of the server.
    void unopenableFile()
    {
        ScriptedServer server;
        server.answers = {{{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, true}};
        QVERIFY(server.listen());
        const QString blocker = ktr::test::freshDir(QStringLiteral("blocked")) + "/plain";
        QVERIFY(writeFile(blocker, "a file, not a folder"));
        HttpDownload::Request r = request(server.url());
        r.filePath = blocker + "/file.part";
        const HttpDownload::Result result = run(r);
        QCOMPARE(result.outcome, Outcome::OpenFailed);
        QVERIFY(server.requests.isEmpty());
    }

    // Deleting a running download stops it without waiting for the server.
    void deletedWhileRunning()
    {
        ScriptedServer server;
        server.answers = {{{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n01"}, false}};
        QVERIFY(server.listen());
        auto download = std::make_unique<HttpDownload>();
        QSignalSpy progress(download.get(), &HttpDownload::progress);
        download->start(request(server.url()));
        QTRY_VERIFY(!progress.isEmpty());
        QElapsedTimer timer;
        timer.start();
        download.reset();
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(readFile(m_file), QByteArray("01"));
    }
};

KTR_TEST_MAIN(TestHttpDownload)
#include "tst_httpdownload.moc"
