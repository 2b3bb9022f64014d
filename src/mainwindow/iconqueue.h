#pragma once

#include <QImage>
#include <QObject>
#include <QStringList>

class QTimer;

// The window's queue of icons to load: paths queued by a load, a drop or a relocation are handed to the
// asynchronous loader a batch at a time, and the panels repaint once shortly after results arrive.
class IconQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLimit = 2000;
    static constexpr int kIntervalMs = 16;
    static constexpr int kRepaintDelayMs = 50;

    explicit IconQueue(QObject* parent = nullptr);

    void queue(const QString& path);
    void drain();
    void onLoaded(const QString& path, const QImage& image);
    // Loads one icon at once, outside the queue.
    void ensure(const QString& path);
    QStringList paths() const { return m_paths; }
    void stop();

signals:
    // A queued icon arrived in the cache (the grid drops what it made of the old one).
    void iconLoaded(const QString& path);
    void repaintDue();

private:
    QStringList m_paths;
    int m_inFlight = 0; // queued loads whose result has not arrived yet
    QTimer* m_timer;
    QTimer* m_repaintTimer;
};
