// The main window's item menu, search keys and live group reordering.

#include "mainwindow/mainwindow.h"

#include "lock/lockcontroller.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/itemmenucontroller.h"
#include "mainwindow/windowsearch.h"

#include <QKeyEvent>

// ---- item menu ------------------------------------------------------------------------------------------

void MainWindow::buildItemMenu()
{
    ItemMenuController::Host host;
    host.window = this;
    host.model = &m_model;
    host.settings = &m_settings;
    host.grid = [this] { return m_grid; };
    host.toast = [this](const QString& text, Toast::Kind kind) { showToast(text, kind); };
    host.launch = [this](const Item& item) { launchTarget(item.path, item.workDir, item.args, item.runAsAdmin); };
    host.saveLayout = [this] { return saveLayout(); };
    host.queueIcon = [this](const QString& path) { m_icons->queue(path); };
    host.refreshInvalid = [this] { m_invalid->refresh(); };
    m_itemMenu = new ItemMenuController(std::move(host), this);
}

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
