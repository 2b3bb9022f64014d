#include "ui/log.h"

#include "platform/clock.h"
#include "platform/fsentry.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr qint64 kRotateBytes = 5242880;
constexpr int kPruneIntervalMs = 21600000;
constexpr int kKeepDays = 7;
// Messages logged while the handler runs on the same thread (by Qt code it calls) are written after the
// line in hand; a message that keeps causing messages stops here.
constexpr int kMaxNestedLines = 64;

QMutex g_writeLock;
QString g_root; // guarded by g_writeLock
std::atomic<bool> g_verbose{false};
std::atomic<ktr::platform::Clock*> g_clock{nullptr};
std::function<void()> g_lockedHook; // test seam, set before logging starts

thread_local bool t_inHandler = false;
thread_local std::vector<std::pair<QDate, QByteArray>>* t_pending = nullptr;

ktr::platform::Clock* logClock()
{
    ktr::platform::Clock* c = g_clock.load();
    return c ? c : ktr::platform::Clock::system();
}

void reportToStderr(const char* format, const QString& path)
{
    std::fprintf(stderr, format, QFile::encodeName(path).constData());
}

const char* levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO ";
    case QtWarningMsg:
        return "WARN ";
    case QtCriticalMsg:
        return "ERROR";
    case QtFatalMsg:
        return "FATAL";
    }
    return "INFO ";
}

// Writes one finished line into the day's file; called with the write lock held.
void writeLineLocked(const QDate& day, const QByteArray& line)
{
    if (g_root.isEmpty())
        return;
    // A link in place of the log root or a day folder would take our lines (and the prune) elsewhere.
    if (ktr::platform::entryStat(g_root).isLink) {
        reportToStderr("[KestrunePanel] log root is a symbolic link, not written: %s\n", g_root);
        return;
    }
    const QString dayDir = g_root + QLatin1Char('/') + day.toString(QStringLiteral("yyyy-MM-dd"));
    if (!QFileInfo::exists(dayDir) && !QDir().mkpath(dayDir)) {
        reportToStderr("[KestrunePanel] log mkdir failed: %s\n", dayDir);
        return;
    }
    if (ktr::platform::entryStat(dayDir).isLink) {
        reportToStderr("[KestrunePanel] log folder is a symbolic link, not written: %s\n", dayDir);
        return;
    }
    const QString path = dayDir + QStringLiteral("/app.log");
    // Only a regular file is appended to: opening a FIFO would wait for a reader, a device may never answer.
    const ktr::platform::EntryStat entry = ktr::platform::entryStat(path);
    if (entry.exists && !entry.isRegular) {
        reportToStderr("[KestrunePanel] log file is not a regular file, not written: %s\n", path);
        return;
    }
    const QFileInfo info(path);
    if (info.exists() && info.size() > kRotateBytes) {
        const QString older = dayDir + QStringLiteral("/app.1.log");
        QFile::remove(older);
        if (!QFile::rename(path, older))
            reportToStderr("[KestrunePanel] log rotate failed: %s\n", path);
    }
    QFile file(path);
    // Unbuffered append: the line and its line feed go out in one write, so lines of two processes sharing
    // the file stay whole too.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        reportToStderr("[KestrunePanel] log open failed: %s\n", path);
        return;
    }
    QByteArray bytes = line;
    bytes.append('\n');
    if (file.write(bytes) != bytes.size())
        reportToStderr("[KestrunePanel] log write failed: %s\n", path);
    file.close();
}

void pruneBefore(const QString& root, const QDate& today)
{
    if (root.isEmpty())
        return;
    // Listing through a link would prune day folders of wherever it points.
    const ktr::platform::EntryStat rootEntry = ktr::platform::entryStat(root);
    if (rootEntry.isLink || !rootEntry.isDir)
        return;
    const QDate cutoff = today.addDays(-kKeepDays);
    const QStringList names = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::NoSort);
    for (const QString& name : names) {
        const QDate date = QDate::fromString(name, QStringLiteral("yyyy-MM-dd"));
        if (!date.isValid() || date >= cutoff)
            continue;
        const QString path = root + QLatin1Char('/') + name;
        if (QFileInfo(path).isSymLink())
            continue; // never follow a link out of the log root
        if (!QDir(path).removeRecursively())
            reportToStderr("[KestrunePanel] log prune failed: %s\n", path);
    }
}

} // namespace

void setLogClock(ktr::platform::Clock* clock)
{
    g_clock.store(clock);
}

void setLogLockedHook(std::function<void()> hook)
{
    QMutexLocker lock(&g_writeLock);
    g_lockedHook = std::move(hook);
}

QString logRootDir()
{
    QMutexLocker lock(&g_writeLock);
    return g_root;
}

void pruneLogs()
{
    pruneBefore(logRootDir(), logClock()->now().date());
}

void installLogging(const QString& dataDir)
{
    const QString root = dataDir + QStringLiteral("/logs");
    {
        QMutexLocker lock(&g_writeLock);
        g_root = root;
    }
    if (!QDir().mkpath(root))
        std::fprintf(stderr, "[KestrunePanel] log root mkdir failed: %s\n", root.toLocal8Bit().constData());
    pruneLogs();

    const QByteArray verbose = qgetenv("KTR_VERBOSE");
    const bool isVerbose = verbose == "1" || verbose == "2";
    g_verbose.store(isVerbose);
    if (isVerbose)
        QLoggingCategory::setFilterRules(
            QStringLiteral("*.debug=true\n*.info=true\n*.warning=true\n*.critical=true\n"));
    else
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=true\n*.warning=true\n*.critical=true\n"
                                                        "qt.*.debug=false\nqt.*.info=false\n"));
    qInstallMessageHandler(logMessageHandler);

    static QTimer* pruneTimer = nullptr;
    if (!pruneTimer) {
        pruneTimer = new QTimer;
        QObject::connect(pruneTimer, &QTimer::timeout, [] { pruneLogs(); });
        pruneTimer->setInterval(kPruneIntervalMs);
        pruneTimer->start();
    }
}

void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const char* category = context.category;
    const bool isQtCategory = category && std::strncmp(category, "qt.", 3) == 0;
    if (!g_verbose.load() && (type == QtDebugMsg || type == QtInfoMsg) && isQtCategory)
        return;

    const QDateTime now = logClock()->now();
    QByteArray line = now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
    line += " [";
    line += levelName(type);
    line += "] ";
    if (category && *category) {
        line += '[';
        line += category;
        line += "] ";
    }
    line += text.toUtf8();

    if (t_inHandler) {
        // Logged by something the handler itself called: the write lock is (or will be) held by this
        // thread, so taking it again would deadlock. The outer call writes it.
        if (t_pending && t_pending->size() < static_cast<size_t>(kMaxNestedLines))
            t_pending->emplace_back(now.date(), std::move(line));
        return;
    }
    std::vector<std::pair<QDate, QByteArray>> pending;
    t_inHandler = true;
    t_pending = &pending;
    {
        QMutexLocker lock(&g_writeLock);
        if (g_lockedHook)
            g_lockedHook();
        writeLineLocked(now.date(), line);
        for (size_t i = 0; i < pending.size(); ++i) {
            const auto next = pending[i]; // a copy: writing it may add to the list
            writeLineLocked(next.first, next.second);
        }
    }
    t_pending = nullptr;
    t_inHandler = false;
}
