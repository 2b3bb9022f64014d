#pragma once

#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QSet>
#include <QString>

// The memory cache: one map from a path (exactly as the caller passed it) to the pixmap shown for it, for
// the life of the process, touched only on the GUI thread. A null pixmap is a remembered failure. The map
// holds at most 256 keys besides the pinned ones (the icons on show); the oldest inserted unpinned key goes
// first.
using IconCacheMap = QMap<QString, QPixmap>;

// The process-wide map (GUI thread). It may be empty: no map yet, or released by clearIconCache.
IconCacheMap* iconCache();

// Inserts or replaces one entry (GUI thread). A new key is appended to the insertion order; past 256 unpinned
// keys the oldest unpinned one is evicted. Replacing a key's pixmap keeps its place.
void cacheIconPixmap(const QString& path, const QPixmap& pixmap);

// The paths whose icons are never evicted (GUI thread): the grid pins every item of the group on show, so a
// layout of thousands of items never loses an icon that is being painted. Replaces the previous set.
void pinIconPaths(const QSet<QString>& paths);

// Whether a path left the memory cache only for room (not through clearIconCache or iconCacheRemove, which
// mean its icon may have changed) and has not been cached again since (GUI thread).
bool wasIconEvicted(const QString& path);

// Caches the result of an extraction (GUI thread). A null image of a "::{" shell item is not remembered, so
// that item is asked again next time; any other null image is remembered as a null pixmap.
void cacheIconImage(const QString& path, const QImage& image);

// The pixmap of an icon image (GUI thread): images that share their pixels (one theme icon shown for many
// paths), and snapshots read back with the same bytes, get pixmaps that share theirs, rather than one
// converted copy each. A null image gives a null pixmap.
// What is held is no larger than anything paints it: heldIconSide() pixels a side (the images themselves,
// and their snapshots, keep the 192 px they were extracted at).
QPixmap iconPixmapFromImage(const QImage& image);
// The grid's largest icon (96 logical pixels) at the highest device pixel ratio of the screens, at most 192.
int heldIconSide();

// Empties the memory cache (GUI thread); snapshots on disk stay.
void clearIconCache();

// Erases one key from a map, detaching a shared map first.
void iconCacheRemove(IconCacheMap& map, const QString& path);

// The snapshot folder: appDataDir() + "/cache/iconsnap".
QString iconSnapDir();

// The snapshot file of a path: the first 32 hex digits of the SHA-256 of the cleaned path (paths differ by
// case on Linux, so the case is kept), + ".png". Empty for an empty path. Any thread.
QString iconSnapPath(const QString& path);

// Writes the snapshot of a path once: an existing non-empty snapshot is never replaced. Any thread; writers
// in this process are serialised, and the file appears whole (written aside, then renamed) or not at all.
// Paths showing one image share one file (hard links to the first snapshot of that image).
void saveIconSnapshot(const QString& path, const QImage& image);

// saveIconSnapshot later, on a writer thread of the lowest priority (what the extraction calls, so the icon shows
// first). Any thread. waitForIconSnapshots returns once every queued snapshot is written (tests, exit).
void queueIconSnapshot(const QString& path, const QImage& image);
void waitForIconSnapshots();
// At exit: the snapshots still queued are dropped (the next start makes them again) and the one being written
// is finished, so no half-written temporary file is left in the folder.
void dropQueuedIconSnapshots();

// The snapshot of a path as ARGB32, or a null image when there is none or it breaks the limits (a regular
// file, not a link, 1 byte to 2 MiB, PNG of 1..4096 px per side). The image carries a digest of its pixels as
// its text "ktr-picture", by which iconPixmapFromImage shares one pixmap among snapshots of one picture.
// Any thread.
QImage readIconSnapshot(const QString& path);
