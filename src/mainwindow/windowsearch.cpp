#include "mainwindow/windowsearch.h"

#include "mainwindow/searchpanel.h"

#include <QKeyEvent>
#include <QWidget>

WindowSearch::WindowSearch(const QList<Group>* groups, QWidget* host) : QObject(host), m_groups(groups), m_host(host)
{
}

SearchPanel* WindowSearch::ensurePanel()
{
    if (!m_panel) {
        m_panel = new SearchPanel(m_groups, m_host);
        connect(m_panel, &SearchPanel::launchRequested, this, &WindowSearch::launchRequested);
        m_panel->placeIn(m_host->width());
    }
    return m_panel;
}

bool WindowSearch::handleKey(QKeyEvent* event)
{
    if (!m_panel && SearchPanel::isToggleKey(event))
        ensurePanel();
    return m_panel && m_panel->handleKey(event);
}

void WindowSearch::placeIn(int width)
{
    if (m_panel)
        m_panel->placeIn(width);
}

void WindowSearch::hide()
{
    if (m_panel)
        m_panel->hide();
}

void WindowSearch::stop()
{
    if (m_panel)
        m_panel->stop();
}
