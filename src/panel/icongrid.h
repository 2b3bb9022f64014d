#pragma once

#include "icons/iconcache.h"
#include "model/panelmodel.h"
#include "panel/shellitems.h"

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

// A label of the automatic layout: one line (word-wrapped when drawn) or two lines, the second elided.
struct GridLabel
{
    QString line1;
    QString line2;
    bool twoLines = false;
};
GridLabel gridAutoLabel(const QFontMetrics& fm, const QString& text, int avail);

// A label of the fixed-column layout: cut without ellipsis to the longest start that fits in avail.
QString gridCutLabel(const QFontMetrics& fm, const QString& text, int avail);

// The grid of icons of the current group. It owns no model: it reads the main window's group list and current
// index through pointers and reports every user action as a signal with model item indexes. Per-cell state is
// kept as visible positions (indexes into the list of the group's items that are not hidden).
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
    void preloadCustomIcon(const QString& path);
    void refreshIcons();
    void invalidateIcon(const QString& path);
    void forgetCustomIcon(const QString& path);
    void clearCaches();

    // Geometry, in content coordinates (before scrolling).
    int cellWidth() const;
    int rowStride() const;
    QRect cellRect(int position) const;
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
    bool hasCustomIcon(const QString& path) const { return m_customIcons.contains(path); }
    QPixmap customIcon(const QString& path) const { return m_customIcons.value(path); }
    bool isCustomIconPending(const QString& path) const { return m_pending.contains(path); }
    bool hasCustomIconFailed(const QString& path) const { return m_failed.contains(path); }
    int pendingCustomIconCount() const { return int(m_pending.size()); }
    int customIconCount() const { return int(m_customIcons.size()); }
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
    int perRow() const;
    int cellHeight() const;
    int topMargin() const;
    int scrollStep() const;
    int labelFontHeight() const;

    void updateHover(const QPoint& pos);
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
    QString fixedLabel(const QFontMetrics& fm, const QString& text, int avail);
    const GridLabel& autoLabel(const QFontMetrics& fm, const QString& text, int avail);
    void storeCustomPixmap(const QString& path, const QPixmap& pixmap);
    static void loadCustomIconTask(QPointer<IconGrid> grid, QString path, qint64 gen, qint64 tok);
    static void onCustomIconLoaded(QPointer<IconGrid> grid, const QString& path, const QImage& image, qint64 gen,
                                   qint64 tok);

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

    // Custom icons.
    QMap<QString, QPixmap> m_customIcons;
    QList<QString> m_customOrder;
    QHash<QString, qint64> m_pending;
    QSet<QString> m_failed;
    QHash<QString, qint64> m_tokens;
    qint64 m_generation = 0;
    int m_refreshGroup = -1;
    int m_refreshCount = -1;
    quint64 m_refreshHash = 0;

    // Labels.
    QHash<QString, QString> m_labelCache;
    QHash<QString, GridLabel> m_autoLabelCache;

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
    QTimer* m_holdTimer = nullptr;
    DragRunner m_dragRunner;
};
