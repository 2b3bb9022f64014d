#include "mainwindow/targetwatch.h"

#include "ui/namedtimer.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

// The folder a path lies in, or nothing for shell places, empty and relative paths.
QString folderOf(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1String("::")))
        return {};
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

// The folder itself when it exists, else the nearest ancestor that does.
QString existingFolder(QString folder)
{
    for (int depth = 0; depth < 64 && !folder.isEmpty(); ++depth) {
        if (QFileInfo(folder).isDir())
            return folder;
        const QString up = folderOf(folder);
        if (up == folder)
            break;
        folder = up;
    }
    return {};
}

QStringList foldersOfItems(const QList<Item>& items)
{
    QStringList ordered;
    QSet<QString> seen;
    for (const Item& item : items) {
        for (const QString* p : {&item.path, &item.customIcon}) {
            QString f = folderOf(*p);
            if (!f.isEmpty() && !seen.contains(f)) {
                seen.insert(f);
                ordered.append(std::move(f));
            }
        }
    }
    return ordered;
}

} // namespace

TargetWatch::TargetWatch(QObject* parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)),
      m_settle(ktr::makeNamedTimer(this, "targetSettleTimer", kSettleMs, true))
{
    // A burst of changes (an uninstaller removing a tree) is one check once it is over.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle, qOverload<>(&QTimer::start));
    connect(m_settle, &QTimer::timeout, this, &TargetWatch::targetsChanged);
}

const QStringList& TargetWatch::foldersOf(const QList<Item>& items, QHash<const Item*, GroupFolders>& next)
{
    static const QStringList none;
    if (items.isEmpty())
        return none;
    const Item* key = items.constData();
    auto known = next.find(key);
    if (known != next.end() && known->items.size() == items.size())
        return known->folders;
    const auto cached = m_groupFolders.constFind(key);
    GroupFolders entry = cached != m_groupFolders.constEnd() && cached->items.size() == items.size()
                             ? *cached
                             : GroupFolders{items, foldersOfItems(items)};
    return next.insert(key, std::move(entry))->folders;
}

void TargetWatch::setGroups(const QList<Group>& groups, int current)
{
    // Folders in order (the current group's first) until one more than the bound is known.
    QHash<const Item*, GroupFolders> next;
    next.reserve(groups.size());
    QStringList ordered;
    QSet<QString> seen;
    const auto take = [&](const Group& group) {
        const QStringList& folders = foldersOf(group.items, next); // kept for the next call even past the bound
        for (const QString& f : folders) {
            if (ordered.size() > kMaxFolders)
                return;
            if (!seen.contains(f)) {
                seen.insert(f);
                ordered.append(f);
            }
        }
    };
    if (current >= 0 && current < groups.size())
        take(groups[current]);
    for (int g = 0; g < groups.size(); ++g) {
        if (g != current)
            take(groups[g]);
    }
    // Groups no longer in the model are let go, with their shared items.
    m_groupFolders = std::move(next);
    m_coversAll = ordered.size() <= kMaxFolders;
    if (!m_coversAll)
        ordered = ordered.mid(0, kMaxFolders);

    QSet<QString> watch;
    for (const QString& f : std::as_const(ordered)) {
        const QString e = existingFolder(f);
        if (!e.isEmpty())
            watch.insert(e);
    }
    const QStringList now = m_watcher->directories();
    QStringList drop;
    for (const QString& d : now) {
        if (!watch.contains(d))
            drop.append(d);
    }
    if (!drop.isEmpty())
        m_watcher->removePaths(drop);
    QStringList add;
    const QSet<QString> have(now.cbegin(), now.cend());
    for (const QString& f : std::as_const(watch)) {
        if (!have.contains(f))
            add.append(f);
    }
    if (!add.isEmpty())
        m_watcher->addPaths(add);
}

QStringList TargetWatch::watchedFolders() const
{
    return m_watcher->directories();
}
