#pragma once

#include "model/panelmodel.h"

#include <QList>
#include <QPair>
#include <QWidget>

class QKeyEvent;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTimer;

// The small floating search box over the icon grid: a line edit and a result list. Typing filters every item of
// every group by its name as shown in the UI language or as stored (after a short debounce); running a result asks the
// owner, through launchRequested, to switch to the item's group and open it. The panel only reads the model it is
// given.
class SearchPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kResultLimit = 200;
    static constexpr int kDebounceMs = 150;

    // groups must outlive the panel; the owner changes it freely, the panel re-reads it on every search and
    // checks every result against it before running it.
    explicit SearchPanel(const QList<Group>* groups, QWidget* parent = nullptr);

    // Hides a visible panel; otherwise styles it for the current theme, shows it with the edit focused and its
    // text selected, and searches again for the text it still holds.
    void toggle();
    // Fills the list with the items whose display name contains the trimmed text, case-insensitively.
    void refresh(const QString& text);
    // Runs result `row` when it is one (the overflow row is not).
    void runResult(int row);

    // The window's key handling: Ctrl+F toggles the panel, Escape hides a visible one. True when handled.
    bool handleKey(QKeyEvent* event);
    // Ctrl+F, the key that toggles the panel.
    static bool isToggleKey(const QKeyEvent* event);

    // Places the panel in an area of the given width: centred, 460 px wide at most, 64 px from the top.
    void placeIn(int areaWidth);

    int resultCount() const { return int(m_results.size()); }
    QLineEdit* edit() const { return m_edit; }
    QListWidget* list() const { return m_list; }
    QTimer* debounceTimer() const { return m_debounce; }
    // Stops the pending search (the window is being taken down).
    void stop();

Q_SIGNALS:
    // The item at (group, item) of the model, as it is now, is to be opened.
    void launchRequested(int group, int item);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The search field's keys: Up and Down move the highlighted result, Return runs it.
    void moveHighlight(int step);
    void runHighlighted();
    void applyStyle();
    void layoutChildren();
    void runRow(int row);
    void onActivated(QListWidgetItem* item);
    // Where the item with this path is in the model now: the hinted place when it still holds that path, else
    // its first occurrence, preferring the hinted group. {-1, -1} when the path is gone.
    QPair<int, int> locate(const QString& path, int groupHint, int itemHint) const;

    const QList<Group>* m_groups;
    QLineEdit* m_edit;
    QListWidget* m_list;
    QTimer* m_debounce;
    QList<QPair<int, int>> m_results; // row n runs m_results[n]; the overflow row has no entry
};
