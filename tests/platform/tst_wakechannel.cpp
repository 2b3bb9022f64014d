#include "platform/wakechannel.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>

#include <future>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using ktr::platform::sendWake;
using ktr::platform::WakeServer;
using ktr::platform::wakeSocketPath;

namespace {

// The sender blocks, so it runs on its own thread while the server answers on this one.
std::future<bool> sendWakeAsync(int timeoutMs, const QString& path = wakeSocketPath())
{
    return std::async(std::launch::async, [=] { return sendWake(timeoutMs, path); });
}

bool waitFor(std::future<bool>& f, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Sends raw bytes as a foreign client would and reports whether anything came back.
QByteArray sendRaw(const QByteArray& bytes)
{
    auto f = std::async(std::launch::async, [bytes] {
        QLocalSocket s;
        s.connectToServer(wakeSocketPath());
        if (!s.waitForConnected(1000))
            return QByteArray("no connection");
        s.write(bytes);
        s.waitForBytesWritten(1000);
        s.waitForReadyRead(300);
        return s.readAll();
    });
    while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return f.get();
}

// What a killed panel leaves behind: a socket file bound once and no longer listened on.
bool makeStaleSocket(const QString& path)
{
    const QByteArray p = path.toLocal8Bit();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (size_t(p.size()) >= sizeof addr.sun_path)
        return false;
    memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok && QFileInfo::exists(path);
}

} // namespace

class TestWakeChannel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void socketIsPrivateToTheUser()
    {
        QVERIFY(wakeSocketPath().startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/"));
        WakeServer server;
        QVERIFY(server.listen());
        const QFileInfo fi(wakeSocketPath());
        QVERIFY(fi.exists());
        QCOMPARE(fi.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                 QFileDevice::Permissions());
    }

    void wakeReachesTheRunningPanel()
    {
        WakeServer server;
        QString err;
        QVERIFY2(server.listen(&err), qPrintable(err));
        QSignalSpy spy(&server, &WakeServer::wakeRequested);
        for (int i = 1; i <= 2; ++i) {
            auto f = sendWakeAsync(2000);
            QVERIFY(waitFor(f));
            QVERIFY(f.get());
            QTRY_COMPARE(spy.count(), i);
        }
    }

    void noPanelMeansFalseAtOnce()
    {
        QElapsedTimer t;
        t.start();
        QVERIFY(!sendWake(1500));
        QVERIFY(t.elapsed() < 1000);

        // A socket file left by a killed panel: nobody accepts, the answer is still an immediate no.
        QVERIFY(makeStaleSocket(wakeSocketPath()));
        t.restart();
        QVERIFY(!sendWake(1500));
        QVERIFY(t.elapsed() < 1000);
        QVERIFY(QFile::remove(wakeSocketPath()));

        QLocalServer silent;
        silent.setSocketOptions(QLocalServer::UserAccessOption);
        QVERIFY(silent.listen(wakeSocketPath()));
        // A listener that never answers: the sender gives up within its time limit.
        t.restart();
        auto f = sendWakeAsync(300);
        QVERIFY(waitFor(f));
        QVERIFY(!f.get());
        QVERIFY(t.elapsed() < 1500);
    }

    // After a crash the socket file stays behind; the next panel (holding the lock) takes the name over.
    void staleSocketFileIsTakenOver()
    {
        QVERIFY(makeStaleSocket(wakeSocketPath()));
        WakeServer server;
        QString err;
        QVERIFY2(server.listen(&err), qPrintable(err));
        QSignalSpy spy(&server, &WakeServer::wakeRequested);
        auto f = sendWakeAsync(2000);
        QVERIFY(waitFor(f));
        QVERIFY(f.get());
        QTRY_COMPARE(spy.count(), 1);
    }

    void listenFailureIsReported()
    {
        const QString blocker = ktr::test::freshDir("wake") + "/file";
        QVERIFY(ktr::test::writeFile(blocker, "x"));
        WakeServer server;
        QString err;
        QVERIFY(!server.listen(&err, blocker + "/sock"));
        QVERIFY(!err.isEmpty());
        QVERIFY(!server.isListening());
    }

    void foreignBytesWakeNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("other number") << QByteArray("\xDA\x5B", 2);
        QTest::newRow("little endian") << QByteArray("\x5A\xDA", 2);
        QTest::newRow("trailing bytes") << QByteArray("\xDA\x5A\x00", 3);
        QTest::newRow("text") << QByteArray("{\"cmd\":\"show\"}\n");
    }
    void foreignBytesWakeNothing()
    {
        QFETCH(QByteArray, bytes);
        WakeServer server;
        QVERIFY(server.listen());
        QSignalSpy spy(&server, &WakeServer::wakeRequested);
        QCOMPARE(sendRaw(bytes), QByteArray());
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 0);
    }
};

KTR_TEST_MAIN(TestWakeChannel)
#include "tst_wakechannel.moc"
