#pragma once

#include "model/shellitems.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

class QDrag;
class QMenu;
class QMimeData;
struct Group;

// The MIME type of a group dragged within the sidebar: {"g": index}.
inline constexpr char kGroupMime[] = "application/x-ktr-group";

// The group payload as compact JSON.
QByteArray encodeGroupPayload(int index);
// Reads a group payload, which may come from another process: true only for a JSON object whose "g" is a
// whole number in 0..groupCount-1.
bool decodeGroupPayload(const QByteArray& data, int groupCount, int* index);

// The painted group selector: a column of group rows with an add row (list mode), or a strip of chips with an
// add button and an overflow button (strip mode). It reads the main window's group list and current index
// and reports every user action as a signal carrying model indexes; it never changes the model.
class Sidebar : public QWidget
{
    Q_OBJECT
public:
    // The number a group's row shows: its items the grid shows, hidden ones left out.
    int shownItemCount(int index) const;
    // Asks for a group name; returns the name, or an empty string when the user cancelled.
    using NamePrompter = std::function<QString(bool rename, const QString& preset)>;
    // Runs a prepared drag to its end (blocking) and returns its result.
    using DragRunner = std::function<Qt::DropAction(QDrag*)>;

    explicit Sidebar(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    void setGroups(const QList<Group>* groups, const int* currentIndex);
    void setHorizontal(bool horizontal);
    void setCornerRadius(int radius);
    void setShowNewGroupButton(bool show);

    bool isHorizontal() const { return m_horizontal; }
    int cornerRadius() const { return m_cornerRadius; }
    bool showNewGroupButton() const { return m_showNewGroupButton; }
    int scrollOffset() const { return m_scroll; }
    int hoverRow() const { return m_hoverRow; }
    int dropRow() const { return m_dropRow; }
    QRect addRect() const { return m_addRect; }
    QRect overflowRect() const { return m_overflowRect; }

    int maxScroll() const;
    void clampScroll();
    int rowAt(const QPoint& pos) const;
    int chipTextWidth(int index) const;
    int firstOverflowIndex() const;
    bool addButtonHit(const QPoint& pos) const;

    // The rectangle of chip i in strip mode (whether drawn or not).
    QRect chipRect(int index) const;

    // What a group drag carries and shows; the drag itself runs in startGroupDrag.
    QMimeData* groupDragMimeData(int index) const;
    QPixmap groupDragPixmap(int index) const;
    void startGroupDrag(int index);

    // The menus with their actions wired; the caller runs and deletes them. The overflow menu may be empty.
    QMenu* buildContextMenu(int row, QWidget* parent);
    QMenu* buildOverflowMenu(QWidget* parent);

    // Test seams: the name dialog, the drag loop and where the pointer is (global; QCursor::pos by default).
    void setNamePrompter(NamePrompter prompter);
    void setDragRunner(DragRunner runner);
    using PointerSource = std::function<QPoint()>;
    void setPointerSourceForTesting(PointerSource source);

    static constexpr int kRowPitch = 34;
    static constexpr int kTop = 10;
    static constexpr int kDragDistance = 6;

Q_SIGNALS:
    void groupSelected(int index);
    void groupCreated(const QString& name);
    void groupRenamed(int index, const QString& name);
    void groupDeleted(int index);
    void groupCleared(int index);
    void groupDragDisplace(int from, int to);
    void groupDragFinished();
    void urlsDropped(int groupIndex, const QList<QUrl>& urls);
    void shellItemsDropped(int groupIndex, const QList<ShellItemPair>& items);
    void itemMoved(int fromGroup, int itemIndex, int toGroup);
    void desktopSyncRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    int groupCount() const;
    int selectedIndex() const;
    QString displayName(int index) const;
    int reserve() const;
    int listHeight() const;
    // The drawn part of the strip: the right limit for chips and whether the overflow button shows.
    struct StripLayout
    {
        int limit = 0;
        bool overflow = false;
    };
    StripLayout stripLayout() const;
    // Refreshes addRect and overflowRect for the present size and mode.
    void layoutButtons();
    void updateHover(const QPoint& pos);
    // Hover from where the pointer really is, after a scroll, a menu or a dialog moved things under it.
    void syncHoverToPointer();
    // Whether the pointer lights up the add or overflow button (strip buttons react to a larger area).
    bool buttonHot(const QRect& button, const QPoint& pos) const;
    void askNewGroup();
    void askRename(int index);
    bool dropItemPayload(const QByteArray& data, int target);

    void paintList(QPainter& p);
    void paintStrip(QPainter& p);

    const QList<Group>* m_groups = nullptr;
    const int* m_currentIndex = nullptr;
    bool m_horizontal = false;
    bool m_showNewGroupButton = true;
    int m_cornerRadius = 12;
    int m_hoverRow = -1;
    int m_dropRow = -1;
    int m_scroll = 0;
    QRect m_addRect;
    QRect m_overflowRect;
    int m_pressRow = -1;
    QPoint m_pressPos;
    bool m_pressed = false;
    bool m_groupDrag = false;
    int m_displacedRow = -1;
    bool m_moved = false;
    bool m_buttonHot = false;

    NamePrompter m_namePrompter;
    DragRunner m_dragRunner;
    PointerSource m_pointerSource;
};
