#pragma once

#include "model/panelmodel.h"

#include <QImage>
#include <QObject>
#include <QStringList>

class QTimer;

// The window's queue of icons to load: paths queued by a load, a drop or a relocation are handed to the
// asynchronous loader a few at a time, in the order they will be seen, and the panels repaint at once for
// the first result and then at most once every kRepaintDelayMs while more arrive (the first results of a
// whole queue or of a group coming on show once a frame; a flood of results still costs a repaint per
// interval). Every item gets its icon however many there are; a group that comes on show moves its paths
// to the front.
class IconQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 16;
    static constexpr int kRepaintDelayMs = 50;
    // The first results of a whole queue (the cells on show) repaint once a frame: they arrive within a few
    // milliseconds of each other, and at kRepaintDelayMs most of them would show a visible moment later.
    static constexpr int kFirstResultsRepaintMs = 16;
    // Loads handed to the loader and not answered yet: enough to keep its workers busy, few enough that a
    // group switch is served next.
    static constexpr int kMaxInFlight = 32;
    // The heap is given back to the system after a batch of at least this many loads: after a few (a dropped
    // file) there is little to give, and walking a large layout's heap would hold the GUI thread for nothing.
    static constexpr int kTrimAfterLoads = 64;

    explicit IconQueue(QObject* parent = nullptr);

    // The order icons are asked for: the current group's shown items (its first cells first), then the other
    // groups' in order, then hidden items; each path once, no empty one.
    static QStringList loadOrder(const QList<Group>& groups, int current);

    void queue(const QString& path);
    // Replaces what is queued by every item's path in loadOrder.
    void queueAll(const QList<Group>& groups, int current);
    // Moves the queued ones among paths to the front, in the order given.
    void prioritize(const QStringList& paths);
    void drain();
    void onLoaded(const QString& path, const QImage& image);
    void repaintIntervalEnded();
    int repaintInterval() const;
    // Loads one icon at once, outside the queue.
    void ensure(const QString& path);
    QStringList paths() const { return m_paths; }
    int inFlight() const { return m_inFlight; }
    void stop();

signals:
    // A queued icon arrived in the cache (the grid drops what it made of the old one).
    void iconLoaded(const QString& path);
    void repaintDue();

private:
    QStringList m_paths;
    int m_inFlight = 0; // queued loads whose result has not arrived yet
    bool m_stopped = false;
    bool m_repaintPending = false; // a result arrived while the repaint interval ran
    int m_firstResults = 0;        // results of a whole queue still repainted at kFirstResultsRepaintMs
    int m_loadedSinceTrim = 0;
    QTimer* m_timer;
    QTimer* m_repaintTimer;
};
