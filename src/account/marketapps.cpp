#include "account/marketapps.h"

#include "platform/process.h"
#include "ui/datadir.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace {

QString withSlash(QString path)
{
    path = QDir::fromNativeSeparators(path);
    if (!path.endsWith(u'/'))
        path += u'/';
    return path;
}

// Process ids that are never ended: the system's first processes and ourselves.
bool isProtected(qint64 pid, qint64 selfPid)
{
    return pid <= 4 || pid == selfPid;
}

} // namespace

int terminateMarketApps(QStringList* names)
{
    QList<ktr::platform::ProcessEntry> snapshot;
    if (!ktr::platform::snapshotProcesses(&snapshot)) {
        if (names)
            names->clear();
        return 0;
    }
    return terminateMarketAppsIn(appDataDir() + QStringLiteral("/apps"), snapshot, ktr::platform::currentProcessId(),
                                 ktr::platform::killProcess, names);
}

int terminateMarketAppsIn(const QString& appsDir, const QList<ktr::platform::ProcessEntry>& snapshot, qint64 selfPid,
                          const std::function<bool(qint64)>& kill, QStringList* names)
{
    // Linux paths are case-sensitive: a folder "Apps" beside "apps" is not the apps folder.
    const QString root = withSlash(appsDir);
    QStringList roots{root};
    const QString real = QFileInfo(appsDir).canonicalFilePath();
    if (!real.isEmpty() && withSlash(real) != root)
        roots.append(withSlash(real));
    const auto underRoot = [&roots](const QString& path) {
        const QString p = QDir::fromNativeSeparators(path);
        for (const QString& r : roots) {
            if (p.startsWith(r))
                return true;
        }
        return false;
    };

    // The folder itself counts for a working folder or an argument (an app runs in its own folder).
    const auto inRoot = [&underRoot](const QString& path) { return !path.isEmpty() && underRoot(withSlash(path)); };
    // A process of ours that works in the folder or was handed a path in it, whatever program runs it: an app
    // started through a chain of launchers (a version manager's "python3" shim that starts the real
    // interpreter) runs a program outside the folder and is known only by these.
    const uint me = ktr::platform::currentUserId();
    const auto touchesRoot = [&inRoot, me](const ktr::platform::ProcessEntry& e) {
        if (e.owner != me)
            return false;
        if (inRoot(e.workingDir))
            return true;
        for (const QString& arg : e.arguments) {
            if (arg.isEmpty() || arg.startsWith(u'-'))
                continue;
            const QString path = QDir::isAbsolutePath(arg) ? QDir::cleanPath(arg)
                                 : e.workingDir.isEmpty()  ? QString()
                                                           : QDir::cleanPath(e.workingDir + u'/' + arg);
            if (inRoot(path))
                return true;
        }
        return false;
    };

    QSet<qint64> kill_set;
    QHash<qint64, quint64> startOf;
    for (const auto& e : snapshot) {
        startOf.insert(e.pid, e.startTicks);
        if (isProtected(e.pid, selfPid))
            continue;
        if ((!e.imagePath.isEmpty() && underRoot(e.imagePath)) || touchesRoot(e))
            kill_set.insert(e.pid);
    }
    // Descendants: a parent id counts only when that process started no later than the child, or a
    // process that reused the id of a long-gone parent would drag unrelated children along.
    bool added = !kill_set.isEmpty();
    while (added) {
        added = false;
        for (const auto& e : snapshot) {
            if (kill_set.contains(e.pid) || isProtected(e.pid, selfPid) || !kill_set.contains(e.parentPid))
                continue;
            if (startOf.value(e.parentPid) > e.startTicks)
                continue;
            kill_set.insert(e.pid);
            added = true;
        }
    }

    int count = 0;
    QStringList list;
    QSet<QString> seen;
    for (const auto& e : snapshot) {
        if (!kill_set.contains(e.pid) || !kill(e.pid))
            continue;
        ++count;
        const QString name = QFileInfo(e.imagePath).fileName();
        if (!name.isEmpty() && !seen.contains(name.toLower())) {
            seen.insert(name.toLower());
            list.append(name);
        }
    }
    if (names)
        *names = list;
    qInfo().noquote() << "terminate market apps: root =" << root << "killed =" << count
                      << list.join(QStringLiteral(", "));
    return count;
}
