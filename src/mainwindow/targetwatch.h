#pragma once

#include "model/panelmodel.h"

#include <QHash>
#include <QObject>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

// Tells when an item's target (or its custom icon) may have appeared or gone, without looking at the disk
// while nothing happens: the folders holding them are watched (inotify through QFileSystemWatcher), and a
// change in any of them, settled for a moment, asks for a new check. A folder that is gone itself is
// replaced by its nearest existing ancestor, so its return is seen too. The number of folders is bounded;
// the current group's come first, and when some are left out the owner checks again when the group changes.
class TargetWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxFolders = 512;
    static constexpr int kSettleMs = 250;

    explicit TargetWatch(QObject* parent = nullptr);

    // The targets to watch now. Called on every change of the model: only groups whose items changed are
    // looked at again, so an edit costs what it touched, not the whole layout.
    void setGroups(const QList<Group>& groups, int current);

    QStringList watchedFolders() const;
    // False when more folders were wanted than kMaxFolders.
    bool coversAll() const { return m_coversAll; }
    QTimer* settleTimer() const { return m_settle; }

signals:
    void targetsChanged();

private:
    // A group's folders, in the order its items name them. The items are held as a shared copy: while it is
    // held, any change to the model's list makes that list a new one (copy on write), so the same data
    // address means the same items.
    struct GroupFolders
    {
        QList<Item> items;
        QStringList folders;
    };
    const QStringList& foldersOf(const QList<Item>& items, QHash<const Item*, GroupFolders>& next);

    QHash<const Item*, GroupFolders> m_groupFolders;
    QFileSystemWatcher* m_watcher;
    QTimer* m_settle;
    bool m_coversAll = true;
};
