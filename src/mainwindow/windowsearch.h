#pragma once

#include "model/panelmodel.h"

#include <QObject>

class QKeyEvent;
class QWidget;
class SearchPanel;

// The window's side of the search: the panel is built on first use (most starts never open it), placed in the
// window and taken down with it; its results reach the owner as launchRequested.
class WindowSearch : public QObject
{
    Q_OBJECT
public:
    // groups and host outlive this object; the panel is a child of host.
    WindowSearch(const QList<Group>* groups, QWidget* host);

    // nullptr until the panel is first asked for.
    SearchPanel* panel() const { return m_panel; }
    // The panel, built (hidden, placed, connected) on the first call.
    SearchPanel* ensurePanel();
    // The window's keys: Ctrl+F is the first use of the panel; other keys reach only a panel that already
    // exists. True when the panel took the key.
    bool handleKey(QKeyEvent* event);
    // The window's width changed.
    void placeIn(int width);
    void hide();
    // The pending search stops (the window is being taken down).
    void stop();

signals:
    // A result names the item at (group, item) of the model as it is now.
    void launchRequested(int group, int item);

private:
    const QList<Group>* m_groups;
    QWidget* m_host;
    SearchPanel* m_panel = nullptr;
};
