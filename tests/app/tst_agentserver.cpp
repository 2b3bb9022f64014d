#include "account/authstore.h"
#include "app/agentserver.h"
#include "app/qmain.h"
#include "logcapture.h"
#include "platform/secret.h"
#include "testenv.h"
#include "ui/datadir.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTimer>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Writes = QList<QByteArray>;

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject pingReply(bool loggedIn, const QString& user)
{
    return {{"v", 1}, {"ok", true}, {"cmd", "ping"}, {"logged_in", loggedIn}, {"user", user}, {"panel", "?"}};
}

QJsonObject badCmd(const QString& cmd)
{
    return {{"ok", false}, {"code", "BAD_CMD"}, {"msg", QStringLiteral("未知指令：") + cmd}};
}

QJsonObject notAnObject()
{
    return {{"ok", false}, {"code", "BAD_PARAM"}, {"msg", QStringLiteral("报文不是 JSON 对象")}};
}

QJsonObject hasNul()
{
    return {{"ok", false}, {"code", "BAD_PARAM"}, {"msg", QStringLiteral("报文含有空字符")}};
}

QList<int> openDescriptors()
{
    QList<int> fds;
    for (const QString& name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
        fds << name.toInt();
    return fds;
}

// Lowers the descriptor limit so that exactly `free` more descriptors can be opened; restores it on exit.
struct DescriptorLimit
{
    rlimit saved{};
    explicit DescriptorLimit(int free)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const QList<int> open = openDescriptors();
        int limit = 0;
        for (int room = 0; room < free; ++limit)
            if (!open.contains(limit))
                ++room;
        rlimit lowered{rlim_t(limit), saved.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
};

int connectRaw(const QString& name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    qstrncpy(addr.sun_path, QFile::encodeName(name).constData(), sizeof addr.sun_path);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QJsonObject tooLong()
{
    return {{"ok", false}, {"code", "BAD_PARAM"}, {"msg", QStringLiteral("报文超过长度上限")}};
}

QByteArray authJson(const QString& token, const QString& user)
{
    return QJsonDocument(QJsonObject{{"token", token}, {"username", user}, {"remember", false}}).toJson();
}

// A ping request padded through its "app" member to exactly `size` bytes, without the line feed.
QByteArray pingOfSize(qsizetype size)
{
    const QByteArray head = R"({"cmd":"ping","app":")";
    const QByteArray tail = R"("})";
    return head + QByteArray(size - head.size() - tail.size(), 'a') + tail;
}

// Connects, sends each piece once the previous one has been taken in, and returns what the server
// answered: the whole reply once it closed the connection, or nothing while it keeps it open. The
// reply is collected as it comes: a client still writing when the server closes loses its socket.
QByteArray exchange(const Writes& writes, bool* closed)
{
    QLocalSocket client;
    QByteArray received;
    QObject::connect(&client, &QLocalSocket::readyRead, [&] { received += client.readAll(); });
    client.connectToServer(agentPipeName());
    if (!client.waitForConnected(1000))
        return "connect failed: " + client.errorString().toUtf8();
    for (const QByteArray& piece : writes) {
        if (client.state() != QLocalSocket::ConnectedState)
            break;
        client.write(piece);
        if (!QTest::qWaitFor([&] { return client.bytesToWrite() == 0; }, 5000))
            return "write stalled";
        QTest::qWait(20);
    }
    *closed = QTest::qWaitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }, 300);
    return received;
}

} // namespace

class TestAgentServer : public QObject
{
    Q_OBJECT
private:
    AgentServer* m_server = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        m_server = new AgentServer(this);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        QCOMPARE(m_server->name(),
                 qEnvironmentVariable("XDG_RUNTIME_DIR") + "/KestrunePanel_" + QString::number(::getuid()));
        // Only the user may connect.
        QCOMPARE(int(QFile::permissions(m_server->name()) & 0x00ff), 0);
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("auth"); // null: no "auth.json"
        QTest::addColumn<Writes>("writes");
        QTest::addColumn<QJsonObject>("reply"); // empty: no reply, the connection stays open
        QTest::addColumn<int>("shows");

        const QByteArray ping = "{\"cmd\":\"ping\"}\n";
        const QByteArray none;
        const ktr::platform::SecretProtector elsewhere(ktr::test::freshDir("elsewhere") + "/secret.key");
        const QString foreignToken = "dpapi1:" + QString::fromLatin1(elsewhere.protect("tok").toBase64());

        QTest::newRow("ping, no auth.json") << none << Writes{ping} << pingReply(false, "") << 0;
        QTest::newRow("ping, protected token")
            << authJson(protectSecret("tok-1"), "alice") << Writes{ping} << pingReply(true, "alice") << 0;
        QTest::newRow("ping, plain token") << authJson("plain", "bob") << Writes{ping} << pingReply(true, "bob") << 0;
        QTest::newRow("ping, token protected elsewhere")
            << authJson(foreignToken, "carol") << Writes{ping} << pingReply(false, "carol") << 0;
        QTest::newRow("ping, damaged auth.json")
            << QByteArray("{\"token\":\"x\",") << Writes{ping} << pingReply(false, "") << 0;
        QTest::newRow("ping, auth.json an array") << QByteArray("[1]") << Writes{ping} << pingReply(false, "") << 0;
        QTest::newRow("show") << none << Writes{"{\"cmd\":\"show\",\"app\":\"demo\"}\n"}
                              << QJsonObject{{"v", 1}, {"ok", true}, {"cmd", "show"}} << 1;
        QTest::newRow("PING in capitals") << none << Writes{"{\"cmd\":\"PING\"}\n"} << badCmd("PING") << 0;
        QTest::newRow("Show in capitals") << none << Writes{"{\"cmd\":\"Show\"}\n"} << badCmd("Show") << 0;
        QTest::newRow("no cmd") << none << Writes{"{\"app\":\"x\"}\n"} << badCmd("") << 0;
        QTest::newRow("cmd not a string") << none << Writes{"{\"cmd\":1}\n"} << badCmd("") << 0;
        QTest::newRow("array") << none << Writes{"[{\"cmd\":\"ping\"}]\n"} << notAnObject() << 0;
        QTest::newRow("number") << none << Writes{"42\n"} << notAnObject() << 0;
        QTest::newRow("broken JSON") << none << Writes{"{\"cmd\":\"ping\"\n"} << notAnObject() << 0;
        QTest::newRow("empty lines before the request")
            << none << Writes{"\n  \t\n" + ping} << pingReply(false, "") << 0;
        QTest::newRow("empty line in a write of its own") << none << Writes{"\n", "{\"cmd\":\"show\"}\n"}
                                                          << QJsonObject{{"v", 1}, {"ok", true}, {"cmd", "show"}} << 1;
        QTest::newRow("CR LF ending") << none << Writes{"{\"cmd\":\"ping\"}\r\n"} << pingReply(false, "") << 0;
        QTest::newRow("request split over writes")
            << none << Writes{"{\"cmd\":\"pi", "ng\"}\n"} << pingReply(false, "") << 0;
        QTest::newRow("1,048,575 bytes and a line feed")
            << none << Writes{pingOfSize(1048575) + '\n'} << pingReply(false, "") << 0;
        QTest::newRow("1,048,576 bytes and a line feed")
            << none << Writes{pingOfSize(1048576) + '\n'} << tooLong() << 0;
        QTest::newRow("over the limit without a line feed") << none << Writes{pingOfSize(1048577)} << tooLong() << 0;
        QTest::newRow("unfinished line grows over the limit")
            << none << Writes{pingOfSize(1048577).left(600000), pingOfSize(1048577).mid(600000)} << tooLong() << 0;
        // Only the first line of a connection is answered: the rest is dropped, not dispatched.
        QByteArray many;
        while (many.size() <= 1048576 + 1000)
            many += "{\"cmd\":\"show\"}\n";
        QTest::newRow("many short lines over the limit")
            << none << Writes{many} << QJsonObject{{"v", 1}, {"ok", true}, {"cmd", "show"}} << 1;
        QTest::newRow("no line feed") << none << Writes{"{\"cmd\":\"ping\"}"} << QJsonObject() << 0;
        QTest::newRow("line feed comes later")
            << none << Writes{"{\"cmd\":\"ping\"}", "\n"} << pingReply(false, "") << 0;
        QTest::newRow("NUL in a string") << none << Writes{"{\"cmd\":\"ping\",\"app\":\"a\\u0000b\"}\n"} << hasNul()
                                         << 0;
        QTest::newRow("NUL in the command") << none << Writes{"{\"cmd\":\"show\\u0000x\"}\n"} << hasNul() << 0;
        QTest::newRow("NUL in a key") << none << Writes{"{\"cmd\":\"ping\",\"a\\u0000\":1}\n"} << hasNul() << 0;
        QTest::newRow("NUL deep inside") << none << Writes{"{\"cmd\":\"ping\",\"x\":[{\"y\":\"\\u0000\"}]}\n"}
                                         << hasNul() << 0;
        QTest::newRow("two requests in one write")
            << none << Writes{"{\"cmd\":\"ping\"}\n{\"cmd\":\"show\"}\n"} << pingReply(false, "") << 0;
    }
    void requests()
    {
        QFETCH(QByteArray, auth);
        QFETCH(Writes, writes);
        QFETCH(QJsonObject, reply);
        QFETCH(int, shows);

        const QString authPath = appDataDir() + "/auth.json";
        QFile::remove(authPath);
        if (!auth.isNull())
            QVERIFY(ktr::test::writeFile(authPath, auth));

        QSignalSpy showSpy(m_server, &AgentServer::showMainRequested);
        QSignalSpy activitySpy(m_server, &AgentServer::activity);
        bool closed = false;
        const QByteArray got = exchange(writes, &closed);

        if (reply.isEmpty()) {
            QVERIFY(!closed);
            QCOMPARE(got, QByteArray());
            QCOMPARE(activitySpy.count(), 1); // the connection only
            return;
        }
        QVERIFY(closed);
        // One compact line, members in key order, then the server closed.
        QVERIFY(got.endsWith('\n'));
        QCOMPARE(got.count('\n'), 1);
        const QJsonObject actual = QJsonDocument::fromJson(got).object();
        if (reply.contains("panel")) {
            reply["panel"] = panelVersionString();
        }
        QCOMPARE(actual, reply);
        QCOMPARE(got, compact(QJsonDocument::fromJson(got).object()));
        QCOMPARE(showSpy.count(), shows);
    }

    // A client that never finishes its line is dropped after the idle time, not kept for ever.
    void idleClientIsDropped()
    {
        m_server->setLimits(100, AgentServer::kMaxClients, AgentServer::kRelistenIntervalMs);
        QLocalSocket client;
        client.connectToServer(agentPipeName());
        QVERIFY(client.waitForConnected(1000));
        client.write("{\"cmd\":");
        QVERIFY(client.waitForBytesWritten(1000));
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 3000);
        m_server->setLimits(AgentServer::kIdleTimeoutMs, AgentServer::kMaxClients, AgentServer::kRelistenIntervalMs);
    }

    void clientTextCannotForgeLogLines()
    {
        ktr::test::LogCapture log;
        const QString app = "evil\n2026-01-01 00:00:00.000 [WARN ] forged\r\x1b[2J\u2028" + QString(5000, 'y');
        const QByteArray line =
            QJsonDocument(QJsonObject{{"cmd", "ping\nfake"}, {"app", app}}).toJson(QJsonDocument::Compact);
        bool closed = false;
        exchange({line + '\n'}, &closed);
        QVERIFY(closed);
        exchange({"\x1b[31mnot json\x7f\n"}, &closed);
        QVERIFY(closed);

        const QStringList request = log.messages().filter("agent request:");
        QCOMPARE(request.size(), 1);
        const QStringList invalid = log.messages().filter(QString::fromUtf8("agent: 收到非法报文:"));
        QCOMPARE(invalid.size(), 1);
        for (const QString& m : request + invalid) {
            for (QChar c : m)
                QVERIFY2(c.isPrint() || c == ' ', qPrintable(m));
            QVERIFY(m.size() < 400);
        }
        QVERIFY(request.first().contains("ping\\nfake"));
        QVERIFY(request.first().contains("evil\\n2026-01-01"));
        QVERIFY(request.first().contains("\\u2028"));
        QVERIFY(invalid.first().contains("\\u001b[31mnot json\\u007f"));
    }

    void aLiveNameIsNeverTakenOver()
    {
        AgentServer second;
        QString error;
        QVERIFY(!second.start(&error));
        QVERIFY(!error.isEmpty());
        bool closed = false;
        QVERIFY(exchange({"{\"cmd\":\"ping\"}\n"}, &closed).startsWith("{\"cmd\":\"ping\""));
    }

    void stopFreesTheNameForTheNextProcess()
    {
        AgentServer next;
        bool finished = false;
        bool ok = false;
        next.startRetrying(50, 10, [&](bool result, const QString&) {
            finished = true;
            ok = result;
        });
        QVERIFY(!finished);
        QTest::qWait(30);
        QVERIFY(!finished);
        m_server->stop();
        QVERIFY(!QFile::exists(agentPipeName()));
        QTRY_VERIFY(finished);
        QVERIFY(ok);
        bool closed = false;
        QVERIFY(exchange({"{\"cmd\":\"ping\"}\n"}, &closed).startsWith("{\"cmd\":\"ping\""));
        next.stop();

        // Retrying gives up after its attempts with the reason.
        AgentServer holder;
        QVERIFY(holder.start());
        AgentServer late;
        QString reason;
        finished = false;
        late.startRetrying(3, 5, [&](bool result, const QString& error) {
            finished = true;
            ok = result;
            reason = error;
        });
        QTRY_VERIFY(finished);
        QVERIFY(!ok);
        QVERIFY(!reason.isEmpty());
    }

    // More idle clients than the cap, with few descriptors left: the oldest make room, a listening socket
    // lost to a failed accept comes back, and a ping is still answered.
    void idleClientsCantLockOthersOut_data()
    {
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("room"); // descriptors free beyond the idle clients' own
        QTest::newRow("the cap makes room") << 60000 << 5;
        QTest::newRow("no descriptor left for an accept") << 300 << 2;
    }
    void idleClientsCantLockOthersOut()
    {
        QFETCH(int, idleMs);
        QFETCH(int, room);
        AgentServer server;
        server.setLimits(idleMs, 3, 50);
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        // While the socket listens there is nothing to look at: no timer wakes an idle panel for it.
        const QTimer* relisten = server.findChild<QTimer*>(QStringLiteral("agentRelistenTimer"));
        QVERIFY(relisten);
        QVERIFY(!relisten->isActive());
        constexpr int kIdle = 8;
        QList<int> idle;
        {
            DescriptorLimit limit(kIdle + room);
            for (int i = 0; i < kIdle; ++i) {
                const int fd = connectRaw(server.name());
                QVERIFY(fd >= 0);
                idle << fd;
            }
            const auto pingAnswered = [] {
                bool closed = false;
                return exchange({"{\"cmd\":\"ping\"}\n"}, &closed).startsWith("{\"cmd\":\"ping\"");
            };
            QTRY_VERIFY_WITH_TIMEOUT(pingAnswered(), 5000);
            QVERIFY(server.isListening());
            QVERIFY(!relisten->isActive());
        }
        for (int fd : idle)
            ::close(fd);
        server.stop();
    }

    void socketLeftByADeadProcessIsReplaced()
    {
        const QString name = agentPipeName();
        QLocalServer::removeServer(name);
        // What a killed process leaves: a bound socket file nobody listens on.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(name);
        qstrncpy(addr.sun_path, path.constData(), sizeof addr.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
        QVERIFY(QFile::exists(name));

        AgentServer server;
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        bool closed = false;
        QVERIFY(exchange({"{\"cmd\":\"ping\"}\n"}, &closed).startsWith("{\"cmd\":\"ping\""));
    }
};

KTR_TEST_MAIN(TestAgentServer)
#include "tst_agentserver.moc"
