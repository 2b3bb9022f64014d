// What keeps the idle window idle and the start quick: missing targets are found when their folders change,
// not by a poll; icons come in the order they are seen.
#include "mainwindow/mainwindow.h"

#include "mainwindow/iconqueue.h"
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/startuplayout.h"
#include "panel/sidebar.h"

// ---- the start's layout ---------------------------------------------------------------------------------

bool MainWindow::finishLayoutNow()
{
    return m_startupLayout->finishNow();
}

void MainWindow::applyStartupLayout(ConfigStore::LayoutRead read)
{
    if (!adoptLayout(std::move(read))) {
        buildDefaultLayout();
        saveLayout();
    }
    m_invalid->refresh();
    refreshGridIcons();
    if (m_constructed) {
        // Taken after the first paint: the widgets show the groups now.
        if (m_sidebar)
            m_sidebar->clampScroll();
        relayoutGrid();
        repaintPanels();
    }
}
