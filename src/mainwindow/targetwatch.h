#pragma once

#include "model/panelmodel.h"

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

    // The targets to watch now; cheap when they have not changed.
    void setGroups(const QList<Group>& groups, int current);

    QStringList watchedFolders() const;
    // False when more folders were wanted than kMaxFolders.
    bool coversAll() const { return m_coversAll; }
    QTimer* settleTimer() const { return m_settle; }

signals:
    void targetsChanged();

private:
    QFileSystemWatcher* m_watcher;
    QTimer* m_settle;
    bool m_coversAll = true;
};
