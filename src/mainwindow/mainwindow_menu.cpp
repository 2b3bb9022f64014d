// The main window's search keys and live group reordering.

#include "mainwindow/mainwindow.h"

#include "lock/lockcontroller.h"
#include "mainwindow/windowsearch.h"

#include <QKeyEvent>

// ---- search ---------------------------------------------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // A key that got past the lock screen (before it shows, while it fades) opens nothing.
    if (m_lock->blocks())
        return;
    if (m_search && m_search->handleKey(event))
        return;
    QWidget::keyPressEvent(event);
}

// ---- live group reordering ------------------------------------------------------------------------------

void MainWindow::onGroupDragDisplace(int from, int to)
{
    m_model.displaceGroup(from, to);
}
