#include "backup/backupengine.h"

#include "platform/clock.h"
#include "platform/fsentry.h"
#include "platform/process.h"

#include <QDebug>
#include <QDir>
#include <QFile>

namespace {

constexpr qint64 kLeftoverAgeSecs = 86400;

bool stopRequested(const std::atomic<bool>* stop)
{
    return stop && stop->load();
}

} // namespace

int BackupEngine::cleanupTempLeftovers(const QString& tempDir, const std::atomic<bool>* stop)
{
    const QString folder = tempDir.isEmpty() ? QDir::tempPath() : tempDir;
    QDir dir(folder);
    if (!dir.exists())
        return 0;
    const qint64 cutoff = ktr::platform::Clock::system()->now().toSecsSinceEpoch() - kLeftoverAgeSecs;
    const uint me = ktr::platform::currentUserId();
    int removed = 0;

    // Each entry is judged by itself (lstat), not by what a link points at: a link matching a pattern is
    // removed as a link, dangling or not, and never followed.
    const auto listed = [&dir](const QStringList& patterns) {
        return dir.entryList(patterns, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                             QDir::NoSort);
    };
    const auto isOldAndMine = [cutoff, me](const ktr::platform::EntryStat& st) {
        return st.exists && st.owner == me && st.modifiedSecs < cutoff;
    };

    const QStringList dirNames = listed({QStringLiteral("ktrbak_*"), QStringLiteral("ktrrest_*")});
    for (const QString& name : dirNames) {
        if (stopRequested(stop))
            return removed;
        const QString path = dir.filePath(name);
        const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
        if (!isOldAndMine(st) || !(st.isDir || st.isLink))
            continue;
        const bool ok = st.isLink ? QFile::remove(path) : QDir(path).removeRecursively();
        if (ok)
            ++removed;
        else
            qWarning().noquote() << "cleanupTempLeftovers: failed to remove dir:" << path;
    }

    const QStringList fileNames = listed(
        {QStringLiteral("ktrbk_*.ps1"), QStringLiteral("ktrbak_prog_*.txt"), QStringLiteral("ktrrest_prog_*.txt")});
    for (const QString& name : fileNames) {
        if (stopRequested(stop))
            return removed;
        const QString path = dir.filePath(name);
        const ktr::platform::EntryStat st = ktr::platform::entryStat(path);
        if (!isOldAndMine(st) || (st.isDir && !st.isLink))
            continue;
        if (QFile::remove(path))
            ++removed;
    }

    if (removed > 0)
        qInfo().noquote() << "temp backup leftovers cleaned:" << removed;
    return removed;
}
