// What keeps the idle window idle and the start quick: missing targets are found when their folders change,
// not by a poll; icons come in the order they are seen.
#include "mainwindow/mainwindow.h"

#include "mainwindow/iconqueue.h"
#include "mainwindow/searchpanel.h"
#include "mainwindow/targetwatch.h"

void MainWindow::setupTargetWatch()
{
    m_targetWatch = new TargetWatch(this);
    connect(m_targetWatch, &TargetWatch::targetsChanged, this, &MainWindow::refreshInvalidPaths);
    connect(&m_model, &PanelModel::changed, this, &MainWindow::watchTargets);
    // Items whose folders could not all be watched are looked at again when their group is shown.
    connect(&m_model, &PanelModel::currentChanged, this, [this] {
        // The group now on show gets its icons before the rest of the queue.
        QStringList shown;
        if (m_model.hasGroup(m_model.currentIndex())) {
            for (const Item& item : m_model.groups()[m_model.currentIndex()].items)
                shown.append(item.path);
        }
        m_icons->prioritize(shown);
        if (!m_targetWatch->coversAll())
            refreshInvalidPaths();
        else
            watchTargets();
    });
}

// Every check starts here, so a model change or a folder that went is followed by the watch as well.
void MainWindow::watchTargets()
{
    if (m_targetWatch)
        m_targetWatch->setGroups(m_model.groups(), m_model.currentIndex());
}

SearchPanel* MainWindow::ensureSearchPanel()
{
    if (!m_searchPanel) {
        m_searchPanel = new SearchPanel(&m_model.groups(), this);
        connect(m_searchPanel, &SearchPanel::launchRequested, this, &MainWindow::runSearchItem);
        m_searchPanel->placeIn(width());
    }
    return m_searchPanel;
}
