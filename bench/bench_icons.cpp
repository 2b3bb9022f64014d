// Icons for 2,000 files of 40 types through loadIconAsync: cold (no memory cache, no snapshots) and warm
// (memory cache), with the longest time the GUI thread went without turning its event loop.
#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "platform/icontheme.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kFiles = 2000;
constexpr int kBatch = 64; // requests per turn of the event loop, as a load queue would send them

const char* const kTypes[40] = {"txt", "pdf",  "doc", "docx", "xls",  "xlsx", "ppt", "pptx", "odt", "ods",
                                "odp", "html", "css", "js",   "json", "xml",  "c",   "cpp",  "h",   "py",
                                "sh",  "md",   "zip", "tar",  "gz",   "7z",   "iso", "mp3",  "ogg", "wav",
                                "mp4", "mkv",  "avi", "svgz", "ttf",  "deb",  "csv", "log",  "rtf", "desktop"};

struct Run
{
    double seconds = 0;
    double longestBlockMs = 0;
};

// Sends every path in batches, one batch per event-loop turn, and waits for every answer.
Run runOnce(const QStringList& paths, int rounds)
{
    QObject context;
    int delivered = 0;
    int next = 0;
    const int total = int(paths.size()) * rounds;
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    double longest = 0;
    QEventLoop loop;

    QTimer tick; // a zero timer runs once per event-loop turn: the gap between runs is how long the loop was held
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = qMax(longest, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
        for (int i = 0; i < kBatch && next < total; ++i, ++next) {
            const QString& path = paths.at(next % paths.size());
            loadIconAsync(path, &context, [&delivered, &loop, total](const QString& p, const QImage& img) {
                cacheIconImage(p, img);
                if (++delivered == total)
                    loop.quit();
            });
        }
    });
    clock.start();
    sinceTick.start();
    tick.start();
    loop.exec();
    Run r;
    r.seconds = clock.nsecsElapsed() / 1e9;
    r.longestBlockMs = longest;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8()); // snapshots go to a fresh data folder
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KestrunePanelBench"));
    QApplication::setOrganizationName(QStringLiteral("Kestrune"));
    // Offscreen has no icon theme of its own: give it the machine's, as a desktop session would, so the figures
    // measure real theme icons rather than the placeholder.
    if (QGuiApplication::platformName() == QLatin1String("offscreen") && QIcon::themeName().isEmpty()) {
        QIcon::setThemeSearchPaths(ktr::platform::IconThemes::defaultConfig().searchPaths);
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }

    QTemporaryDir files;
    QStringList paths;
    for (int i = 0; i < kFiles; ++i) {
        const QString path = files.path() + QStringLiteral("/file%1.%2").arg(i).arg(QLatin1String(kTypes[i % 40]));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("sample\n");
        paths << path;
    }

    // The memory cache holds 256 keys; warm lookups go over 256 of the paths, as a panel page would.
    clearIconCache();
    const Run cold = runOnce(paths, 1);
    std::printf("cold: %.0f items/s\n", kFiles / cold.seconds);
    std::printf("cold longest GUI block: %.2f ms\n", cold.longestBlockMs);

    const QStringList page = paths.mid(0, 256);
    clearIconCache();
    runOnce(page, 1); // fill the cache
    const int rounds = 400;
    const Run warm = runOnce(page, rounds);
    std::printf("warm: %.0f items/s\n", page.size() * rounds / warm.seconds);
    std::printf("warm longest GUI block: %.2f ms\n", warm.longestBlockMs);
    std::fflush(stdout);
    std::_Exit(0); // the icon pool is never joined, as in the panel
}
