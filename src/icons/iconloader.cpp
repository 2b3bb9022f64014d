#include "icons/iconloader.h"

#include "icons/iconcache.h"
#include "icons/iconextract.h"
#include "platform/icontheme.h"

#include <QCoreApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QMutex>
#include <QPointer>
#include <QRunnable>
#include <QThreadPool>

#include <memory>

namespace {

constexpr int kCeiling = 192;

QMutex& extractorMutex()
{
    static QMutex m;
    return m;
}

IconExtractor& extractorSlot()
{
    static IconExtractor e;
    return e;
}

QImage extract(const QString& path)
{
    IconExtractor e;
    {
        QMutexLocker lock(&extractorMutex());
        e = extractorSlot();
    }
    return e ? e(path) : loadIconImage(path);
}

bool isShellItem(const QString& path)
{
    return path.startsWith(QLatin1String("::{"));
}

// Paths requestMissingIcon has asked for, with the loadIconAsync callers that arrived meanwhile and wait for
// the same answer instead of extracting the icon a second time.
struct Waiter
{
    QPointer<QObject> context;
    IconCallback callback;
};

QHash<QString, QList<Waiter>>& missingInFlight()
{
    static QHash<QString, QList<Waiter>> table;
    return table;
}

// Paths loadIconAsync is extracting (GUI thread), so a request for a missing icon does not start a second
// extraction of one already on its way.
QHash<QString, int>& asyncInFlight()
{
    static QHash<QString, int> table;
    return table;
}

void asyncDone(const QString& path)
{
    const auto it = asyncInFlight().find(path);
    if (it != asyncInFlight().end() && --it.value() <= 0)
        asyncInFlight().erase(it);
}

// Runs on the GUI thread through the application object's queue; drops the result when the context is gone.
void deliver(QPointer<QObject> context, IconCallback callback, QString path, QImage image)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [context = std::move(context), callback = std::move(callback), path = std::move(path),
         image = std::move(image)]() {
            asyncDone(path);
            if (context)
                callback(path, image);
        },
        Qt::QueuedConnection);
}

class IconLoadTask : public QRunnable
{
public:
    IconLoadTask(QString path, QPointer<QObject> context, IconCallback callback)
        : m_path(std::move(path)), m_context(std::move(context)), m_callback(std::move(callback))
    {
    }
    void run() override
    {
        QImage image = extract(m_path);
        if (image.isNull() && !isShellItem(m_path))
            image = fallbackIconImage();
        // The worker never touches the memory cache: the callback, on the GUI thread, decides what to keep.
        deliver(std::move(m_context), std::move(m_callback), std::move(m_path), std::move(image));
    }

private:
    QString m_path;
    QPointer<QObject> m_context;
    IconCallback m_callback;
};

} // namespace

QThreadPool* iconLoadPool()
{
    constexpr int kExitWaitMs = 2000;
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // never deleted
        p->setMaxThreadCount(2);
        // A task still decoding while the application object goes (a diagnostic run, a test) would free its
        // images after Qt's image support is gone: queued tasks are dropped and running ones awaited, for a
        // while. The panel itself ends without that, past its saves.
        if (QCoreApplication::instance())
            qAddPostRoutine([] {
                iconLoadPool()->clear();
                iconLoadPool()->waitForDone(kExitWaitMs);
            });
        return p;
    }();
    return pool;
}

void syncIconThemeFromQt()
{
    static bool synced = false;
    static ktr::platform::IconThemes::Config last;
    ktr::platform::IconThemes::Config c;
    c.searchPaths = QIcon::themeSearchPaths();
    c.themeName = QIcon::themeName();
    c.fallbackPaths = QIcon::fallbackSearchPaths();
    if (c.fallbackPaths.isEmpty())
        c.fallbackPaths = ktr::platform::IconThemes::defaultConfig().fallbackPaths;
    if (synced && c.searchPaths == last.searchPaths && c.themeName == last.themeName &&
        c.fallbackPaths == last.fallbackPaths)
        return;
    ktr::platform::IconThemes::configure(c);
    last = c;
    synced = true;
}

void loadIconAsync(const QString& path, QObject* context, IconCallback callback)
{
    if (!context || !callback)
        return;
    const IconCacheMap* map = iconCache();
    const auto hit = map->constFind(path);
    if (hit != map->constEnd()) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [context = QPointer<QObject>(context), callback = std::move(callback), path, pixmap = hit.value()]() {
                if (context)
                    callback(path, pixmap.toImage());
            },
            Qt::QueuedConnection);
        return;
    }
    const auto asked = missingInFlight().find(path);
    if (asked != missingInFlight().end()) {
        asked->append(Waiter{QPointer<QObject>(context), std::move(callback)});
        return;
    }
    syncIconThemeFromQt();
    ++asyncInFlight()[path];
    auto* task = new IconLoadTask(path, QPointer<QObject>(context), std::move(callback));
    task->setAutoDelete(true);
    iconLoadPool()->start(task, 0);
}

bool requestMissingIcon(const QString& path, QObject* context, IconArrived done)
{
    if (path.isEmpty() || !context || missingInFlight().contains(path) || asyncInFlight().contains(path))
        return false;
    missingInFlight().insert(path, {});
    syncIconThemeFromQt();
    QPointer<QObject> guard(context);
    // An icon evicted only for room is still what its snapshot holds, and reading that is far cheaper than
    // extracting again; one dropped because it changed (or never loaded) is extracted.
    const bool fromSnapshot = wasIconEvicted(path);
    auto* task = QRunnable::create([path, guard, fromSnapshot, done = std::move(done)]() mutable {
        QImage image = fromSnapshot ? readIconSnapshot(path) : QImage();
        if (image.isNull())
            image = extract(path);
        if (image.isNull() && !isShellItem(path))
            image = fallbackIconImage();
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [path, guard, done = std::move(done), image = std::move(image)]() {
                const QList<Waiter> waiters = missingInFlight().take(path);
                cacheIconImage(path, image);
                if (guard && done)
                    done(path, !image.isNull());
                for (const Waiter& w : waiters) {
                    if (w.context)
                        w.callback(path, image);
                }
            },
            Qt::QueuedConnection);
    });
    iconLoadPool()->start(task, 0);
    return true;
}

int missingIconRequestsInFlight()
{
    return int(missingInFlight().size());
}

QPixmap loadIconPixmap(const QString& path)
{
    if (path.isEmpty())
        return {};
    const IconCacheMap* map = iconCache();
    const auto hit = map->constFind(path);
    if (hit != map->constEnd())
        return hit.value();
    syncIconThemeFromQt();
    const QImage image = extract(path);
    QPixmap pixmap;
    if (!image.isNull()) {
        pixmap = iconPixmapFromImage(image);
    } else {
        static QFileIconProvider provider;
        QImage fromProvider = provider.icon(QFileInfo(path)).pixmap(48, 48, QIcon::Normal, QIcon::Off).toImage();
        fromProvider = trimTransparentBorder(fromProvider);
        if (fromProvider.width() > kCeiling || fromProvider.height() > kCeiling)
            fromProvider = fromProvider.scaled(kCeiling, kCeiling, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        pixmap = QPixmap::fromImage(fromProvider);
        if (pixmap.isNull() && !isShellItem(path))
            pixmap = iconPixmapFromImage(fallbackIconImage());
    }
    cacheIconPixmap(path, pixmap);
    return pixmap;
}

QImage loadFullIconImage(const QString& path)
{
    if (path.isEmpty())
        return {};
    syncIconThemeFromQt();
    const QImage image = extract(path);
    return !image.isNull() ? image : loadIconPixmap(path).toImage();
}

void setIconExtractorForTesting(IconExtractor extractor)
{
    QMutexLocker lock(&extractorMutex());
    extractorSlot() = std::move(extractor);
}
