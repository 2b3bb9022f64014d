#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>

// The images the user picked as item icons ("customIcon" paths), read on the global pool and kept on the GUI
// thread: at most 256, the oldest stored going first, each at most 192 px a side. A path that fails to read is
// remembered and never read again until it is invalidated. A result that arrives after its path was
// invalidated (or after clear) is dropped, so an old file's image never replaces a newer read.
class CustomIconLoader : public QObject
{
    Q_OBJECT

public:
    explicit CustomIconLoader(QObject* parent = nullptr);

    // Starts reading a path unless it is empty, loaded, pending or failed. Returns whether it started.
    bool preload(const QString& path);
    void invalidate(const QString& path);
    void clear();

    bool has(const QString& path) const { return m_icons.contains(path); }
    QPixmap icon(const QString& path) const { return m_icons.value(path); }
    // The stored pixmap, or null when there is none; valid until the next change of the loader.
    const QPixmap* find(const QString& path) const;
    bool isPending(const QString& path) const { return m_pending.contains(path); }
    bool hasFailed(const QString& path) const { return m_failed.contains(path); }
    // Whether preload would start a read.
    bool wants(const QString& path) const;
    int pendingCount() const { return int(m_pending.size()); }
    int count() const { return int(m_icons.size()); }

signals:
    // A new image of a path is stored (not sent for failures).
    void loaded(const QString& path);

private:
    static QImage readImage(const QString& path); // on the pool thread
    void onRead(const QString& path, const QImage& image, qint64 gen, qint64 tok);
    void store(const QString& path, const QPixmap& pixmap);

    QMap<QString, QPixmap> m_icons;
    QList<QString> m_order;
    QHash<QString, qint64> m_pending;
    QSet<QString> m_failed;
    QHash<QString, qint64> m_tokens;
    qint64 m_generation = 0;
};
