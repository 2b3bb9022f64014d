#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

#include <functional>

class QObject;
class QThreadPool;

// What a caller of loadIconAsync gets back, on the GUI thread: the path it asked for and the icon (null only
// for a "::{" shell item that yields nothing, so the caller can ask again later).
using IconCallback = std::function<void(const QString& path, const QImage& image)>;

// GUI thread only; returns at once. Answers from the memory cache when it can, else extracts on the icon
// pool. Either way the callback runs later, as a queued call on the GUI thread, and only while the context
// still exists. Nothing happens for a null context or an empty callback. No de-duplication among its own
// calls: each miss is one extraction; a path requestMissingIcon is fetching is answered by that fetch.
void loadIconAsync(const QString& path, QObject* context, IconCallback callback);

// GUI thread only; returns at once. Asks again for an icon the memory cache does not hold: on the icon pool,
// an icon evicted for room is read from its snapshot (extracted when there is none), any other is extracted;
// the result is stored in the memory cache on the GUI thread; then `done` runs (while the context exists)
// with whether an icon came. A path asked for and not answered yet, here or by loadIconAsync, is not asked
// again: false then, and for an empty path or a null context.
using IconArrived = std::function<void(const QString& path, bool found)>;
bool requestMissingIcon(const QString& path, QObject* context, IconArrived done);
// How many paths requestMissingIcon has asked for and not yet answered (tests).
int missingIconRequestsInFlight();

// GUI thread only; may block for the whole extraction. The cached pixmap when there is one (null or not), else
// the extracted icon (the placeholder for a path that yields nothing), remembered in the memory cache.
QPixmap loadIconPixmap(const QString& path);
// The icon at the size it was extracted at (up to 192 px), for a copy saved as a file: the memory cache holds
// only what is painted. Extracts again (GUI thread); falls back to loadIconPixmap's picture.
QImage loadFullIconImage(const QString& path);

// The private pool of the icon loader (two threads), created on first use and never deleted.
QThreadPool* iconLoadPool();

// Copies the icon theme Qt uses on the GUI thread (search paths, theme name, fallback paths) into the lookup
// the workers use. Called by the loader before it extracts; GUI thread only.
void syncIconThemeFromQt();

// Replaces what the workers run for one path (tests only); an empty function restores loadIconImage.
using IconExtractor = std::function<QImage(const QString& path)>;
void setIconExtractorForTesting(IconExtractor extractor);
