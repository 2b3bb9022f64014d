// A 200 MB package from FakeServiceHost (on its own thread, loopback http) through the market's download:
// received, written and SHA-256-checked, against `curl -s -o` of the same URL in the same run, with the
// longest time the GUI thread went without turning its event loop during the market download, and the CPU
// time per MB of each (curl's: the child's; ours: the process's, less the in-process server thread's).
//
// The figure that counts is the CPU per MB: both clients fetch from the same server thread, whose send cost
// (which the throughput ratio carries) is left out of both. --busy keeps every other core busy meanwhile.
#include "benchprobe.h"
#include "fakeservicehost.h"
#include "market/marketcatalogue.h"
#include "market/marketfiles.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>

#include <cstdio>
#include <ctime>
#include <future>

#include <pthread.h>
#include <sys/resource.h>

namespace {

constexpr qint64 kSize = 200LL * 1000 * 1000;

QByteArray makePackage()
{
    QByteArray bytes(kSize, Qt::Uninitialized);
    QRandomGenerator gen(1);
    gen.fillRange(reinterpret_cast<quint32*>(bytes.data()), int(kSize / 4));
    bytes.replace(0, 4, QByteArray("PK\3\4"));
    return bytes;
}

double seconds(const timeval& t)
{
    return t.tv_sec + t.tv_usec / 1e6;
}

double cpuOf(int who)
{
    rusage u{};
    getrusage(who, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

double threadCpu(pthread_t thread)
{
    clockid_t clock;
    timespec t{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &t) != 0)
        return 0;
    return t.tv_sec + t.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BusyCores busy(app.arguments());
    QApplication::setApplicationName(QStringLiteral("KestrunePanel"));
    QApplication::setOrganizationName(QStringLiteral("Kestrune"));

    const QByteArray package = makePackage();
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());

    // The host runs on its own thread, as a real server would be elsewhere.
    std::promise<QUrl> base;
    pthread_t serverHandle{};
    QThread* serverThread = QThread::create([&] {
        serverHandle = pthread_self();
        ktr::test::FakeServiceHost host(ktr::test::FakeServiceHost::Scheme::Http);
        host.route("GET", "/api/download.php", "", [&package](const ktr::test::FakeServiceHost::Request& r) {
            return ktr::test::FakeServiceHost::rangeReply(r, package);
        });
        host.listen();
        base.set_value(host.baseUrl());
        QEventLoop loop;
        QObject::connect(QThread::currentThread(), &QThread::finished, &loop, &QEventLoop::quit);
        loop.exec();
    });
    serverThread->start();
    const QUrl baseUrl = base.get_future().get();
    qputenv("KTR_SERVICE_HOST", baseUrl.toString().toUtf8());

    QUrl url = baseUrl;
    url.setPath("/api/download.php");
    url.setQuery("app=bench&ver=1.0&file=bench.zip&token=t");
    const QString curlOut = home.path() + "/curl.zip";
    QElapsedTimer curlTimer;
    const double childCpuBefore = cpuOf(RUSAGE_CHILDREN);
    curlTimer.start();
    const int curlExit = QProcess::execute(QStringLiteral("curl"), {"-s", "-o", curlOut, url.toString()});
    const double curlSec = curlTimer.nsecsElapsed() / 1e9;
    const double curlCpu = cpuOf(RUSAGE_CHILDREN) - childCpuBefore;
    if (curlExit != 0 || QFileInfo(curlOut).size() != kSize) {
        std::fprintf(stderr, "curl failed (exit %d)\n", curlExit);
        return 1;
    }

    MarketCatalogue market;
    market.token = QStringLiteral("t");
    MarketCatalogue::AppRow row;
    row.id = QStringLiteral("bench");
    row.version = QStringLiteral("1.0");
    row.size = kSize;
    row.packageUrl = QStringLiteral("https://cdn.example/bench.zip");
    row.sha256 = sha;
    market.rows.append(row);

    QEventLoop loop;
    bool verified = false;
    QObject::connect(&market, &MarketCatalogue::packageVerified, &loop, [&] {
        verified = true;
        loop.quit();
    });
    double receivedAt = 0;
    QElapsedTimer timer;
    QObject::connect(&market, &MarketCatalogue::changed, &loop, [&] {
        if (receivedAt == 0 && market.rows[0].received >= kSize)
            receivedAt = timer.nsecsElapsed() / 1e9;
        if (!market.rows[0].errorText.isEmpty())
            loop.quit();
    });
    GuiBlockProbe probe;
    const double cpuBefore = cpuOf(RUSAGE_SELF) - threadCpu(serverHandle);
    timer.start();
    probe.start();
    market.startDownload(market.rows[0]);
    loop.exec();
    const double ourSec = timer.nsecsElapsed() / 1e9;
    const double ourCpu = cpuOf(RUSAGE_SELF) - threadCpu(serverHandle) - cpuBefore;
    probe.stop();
    if (!verified) {
        std::fprintf(stderr, "download failed: %s\n", qPrintable(market.rows[0].errorText.shown()));
        return 1;
    }

    const double mb = kSize / 1e6;
    std::printf("package: %.0f MB\n", mb);
    std::printf("market download + sha256: %.1f MB/s\n", mb / ourSec);
    std::printf("market transfer alone: %.1f MB/s\n", receivedAt > 0 ? mb / receivedAt : 0.0);
    std::printf("curl -s -o: %.1f MB/s\n", mb / curlSec);
    std::printf("market / curl: %.2f ratio\n", curlSec / ourSec);
    std::printf("longest GUI-thread block: %.1f ms\n", probe.longest());
    std::printf("  most GUI-thread CPU in one block: %.1f ms\n", probe.longestOnCpu());
    std::printf("  the longest block: %.1f ms on the CPU, %.1f ms waiting for a core\n", probe.cpuOfLongest(),
                probe.waitOfLongest());
    std::printf("CPU per MB: market %.2f ms, curl %.2f ms\n", ourCpu * 1000 / mb, curlCpu * 1000 / mb);
    std::printf("CPU per MB, market / curl (the figure that counts): %.2f ratio\n",
                curlCpu > 0 ? ourCpu / curlCpu : 0.0);
    std::printf("busy-loop children on the other cores: %d\n", busy.count());

    serverThread->quit();
    serverThread->wait();
    delete serverThread;
    return 0;
}
