#pragma once

#include "icons/customiconloader.h"
#include "icons/iconcache.h"
#include "model/panelmodel.h"
#include "model/shellitems.h"
#include "panel/gridgeometry.h"
#include "panel/gridlabels.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

class QDrag;
class QMimeData;
class QTimer;
class QVariantAnimation;

// The 64-bit signature of a group's item list: changes when a path, a name, the hidden flag, the item count or
// the group index changes.
quint64 itemListSignature(const QList<Item>& items, int groupIndex);

// The grid of icons of the current group. It owns no model: it reads the main window's group list and current
// index through pointers and reports every user action as a signal with model item indexes. Per-cell state is
// kept as visible positions (indexes into the list of the group's items that are not hidden). Painting only
// paints: icons a drawn cell lacks are asked for afterwards (ensureVisibleIcons), never from the paint itself.
class IconGrid : public QWidget
{
    Q_OBJECT

public:
    explicit IconGrid(QWidget* parent = nullptr);
    ~IconGrid() override;

    void attachOwner(const QList<Group>* groups, const int* currentIndex);
    void setIconCache(IconCacheMap* holder);
    void setInvalidPaths(const QSet<QString>& paths);
    void setIconSize(int px);
    void setShowNames(bool show);
    void setSingleClickOpen(bool on);
    void setCornerRadius(int radius);
    void setHoverStyle(int mode, const QColor& color, int opacityPercent);
    void setColumns(int columns);
    void relayout();
    void resetScroll();
    QRect itemGlobalRect(int itemIndex);
    QPoint snapToCellGlobal(const QPoint& global) const;

    // Custom icon images (read on the global pool) and cache invalidation. None of these repaints.
    void preloadCustomIcon(const QString& path) { m_custom.preload(path); }
    void refreshIcons();
    void invalidateIcon(const QString& path);
    void forgetCustomIcon(const QString& path);
    void clearCaches();

    // Asks for the icons of the cells on show that have none: a custom icon not read yet, a system icon the
    // memory cache lost (served from its snapshot). Each path once until it is answered; pins the current
    // group's icons in the memory cache. Runs queued after layout, scrolling, showing and a paint that drew a
    // cell without its icon; tests may call it directly.
    void ensureVisibleIcons();

    // What tells the grid where the pointer is (global coordinates); QCursor::pos by default. Tests replace it.
    using PointerSource = std::function<QPoint()>;
    void setPointerSourceForTesting(PointerSource source);

    // Geometry, in content coordinates (before scrolling).
    GridGeometry cellGeometry() const;
    int cellWidth() const { return cellGeometry().cellWidth(); }
    int rowStride() const { return cellGeometry().rowStride(); }
    QRect cellRect(int position) const { return cellGeometry().cellRect(position); }
    int maxScroll();
    void clampScroll();
    int hitTest(const QPoint& pos);
    int dropIndexAt(const QPoint& pos);

    // The drag of the item at a visible position, ready to run (payload and pixmap set), or null when there is
    // nothing to drag. startDrag runs it.
    QDrag* createDrag(int position);

    // What runs a built drag; the default runs QDrag::exec with the move action (blocking). Tests replace it.
    using DragRunner = std::function<void(QDrag* drag)>;
    void setDragRunnerForTesting(DragRunner runner);

    // State, read by the owner and by tests.
    int iconSize() const { return m_iconSize; }
    int columns() const { return m_columns; }
    int cornerRadius() const { return m_cornerRadius; }
    int scrollOffset() const { return m_scroll; }
    void setScrollOffset(int scroll);
    QList<int> visiblePositions();
    int hoverIndex() const { return m_hoverIndex; }
    int keyCursor() const { return m_keyCursor; }
    int dropIndex() const { return m_dropIndex; }
    bool isDragActive() const { return m_dragActive; }
    int fadeInIndex() const { return m_fadeInIndex; }
    int fadeOutIndex() const { return m_fadeOutIndex; }
    bool hasCustomIcon(const QString& path) const { return m_custom.has(path); }
    QPixmap customIcon(const QString& path) const { return m_custom.icon(path); }
    bool isCustomIconPending(const QString& path) const { return m_custom.isPending(path); }
    bool hasCustomIconFailed(const QString& path) const { return m_custom.hasFailed(path); }
    int pendingCustomIconCount() const { return m_custom.pendingCount(); }
    int customIconCount() const { return m_custom.count(); }
    bool hasDisplayCopy(const QString& key) const { return m_displayCache.contains(key); }
    // How many icons painting has scaled since the grid was made (a warm cache scales none).
    quint64 displayScaleCount() const { return m_displayScales; }

signals:
    void itemActivated(int itemIndex);
    void itemReordered(int from, int to);
    void itemMoved(int fromGroup, int itemIndex, int toGroup);
    void itemMenuRequested(int itemIndex, const QPoint& globalPos);
    void urlsDropped(const QList<QUrl>& urls);
    void shellItemsDropped(const QList<ShellItemPair>& items);
    void blankDoubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct DisplayEntry
    {
        QPixmap pixmap;
        quint64 lastUse = 0;
    };

    bool hasUsableGroup() const;
    const Group* currentGroup() const;
    const Item* itemAtPosition(int position) const;
    void ensureVisibleList();
    void discardVisibleList();
    void rebuildVisibleList();
    void scheduleIconCheck();

    void updateHover(const QPoint& pos);
    // Hover from where the pointer really is: after a menu, a dialog, a scroll or a change of the items the
    // pointer has not moved, so no move event would correct it.
    void syncHoverToPointer();
    void startDrag(int position);
    void onHoldTimeout();
    void ensureHoverAnimations();
    void startHoverIn(int position);
    void startHoverOut(int position, double level);
    void stopFadeIn();
    void stopFadeOut();

    const QPixmap* displayCopy(const QString& key, const QPixmap& source, double dpr);
    void trimDisplayCache(int drawnCells);
    void dropDisplayKey(const QString& key);

    // Visible list.
    QList<int> m_visible;
    quint64 m_signature = 0;
    int m_builtGroup = -1;
    int m_builtCount = 0; // item count of the group the list was built from
    bool m_visibleValid = false;
    bool m_visibleDirty = true;

    // Model access.
    const QList<Group>* m_groups = nullptr;
    const int* m_currentIndex = nullptr;
    IconCacheMap* m_iconCacheHolder = nullptr;
    QSet<QString> m_invalidPaths;

    // Scaled icons by item path or "c:" + custom icon path, evicted least recently used.
    QHash<QString, DisplayEntry> m_displayCache;
    quint64 m_paintStamp = 0;
    quint64 m_displayScales = 0;
    int m_cachedIconSize = -1;
    double m_cachedDpr = 1.0;

    // Custom icons, and the refresh that last asked for the group's ones.
    CustomIconLoader m_custom;
    int m_refreshGroup = -1;
    int m_refreshCount = -1;
    quint64 m_refreshHash = 0;

    // Icons asked for after a paint: the check is queued once; paths whose answer was no icon at all (a shell
    // item that yields nothing) are not asked again until the caches are cleared.
    bool m_iconCheckQueued = false;
    QSet<QString> m_noIcon;

    GridLabelCache m_labels;

    // Settings.
    int m_iconSize = 48;
    bool m_showNames = true;
    bool m_singleClickOpen = false;
    int m_cornerRadius = 12;
    int m_columns = 0;
    int m_scroll = 0;

    // Hover.
    int m_hoverMode = 0;
    QColor m_hoverColor;
    int m_hoverOpacity = 100;
    int m_hoverIndex = -1;
    int m_keyCursor = -1;
    QVariantAnimation* m_fadeIn = nullptr;
    QVariantAnimation* m_fadeOut = nullptr;
    int m_fadeInIndex = -1;
    int m_fadeOutIndex = -1;
    double m_fadeInValue = 0;
    double m_fadeOutValue = 0;

    // Drag and press.
    bool m_dragActive = false;
    int m_dropIndex = -1;
    QPoint m_pressPos;
    bool m_pressed = false;
    bool m_dragStarted = false;
    int m_pressIndex = -1;
    int m_releaseActivated = -1; // the position the last release launched in single-click mode
    QTimer* m_holdTimer = nullptr;
    DragRunner m_dragRunner;
    PointerSource m_pointerSource;
};
