#include "mainwindow/invalidpathcheck.h"

#include "mainwindow/itemmenu.h"
#include "mainwindow/targetwatch.h"
#include "ui/background.h"

InvalidPathCheck::InvalidPathCheck(const PanelModel& model, QObject* parent)
    : QObject(parent), m_model(model), m_watch(new TargetWatch(this))
{
    connect(m_watch, &TargetWatch::targetsChanged, this, &InvalidPathCheck::refresh);
    connect(&m_model, &PanelModel::changed, this, &InvalidPathCheck::watchTargets);
    // Items whose folders could not all be watched are looked at again when their group is shown.
    connect(&m_model, &PanelModel::currentChanged, this, [this] {
        if (!m_watch->coversAll())
            refresh();
        else
            watchTargets();
    });
}

// Every check starts here, so a model change or a folder that went is followed by the watch as well.
void InvalidPathCheck::watchTargets()
{
    m_watch->setGroups(m_model.groups(), m_model.currentIndex());
}

void InvalidPathCheck::refresh()
{
    watchTargets();
    if (m_running) {
        m_again = true;
        return;
    }
    m_running = true;
    m_again = false;
    const QList<Group> groups = m_model.groups(); // shared, never written by the worker
    auto check = m_check;
    runInBackground(
        this, [groups, check] { return check ? check(groups) : invalidItemPaths(groups); },
        [this](const QSet<QString>& found) {
            m_running = false;
            m_paths = found;
            emit pathsChanged(m_paths);
            if (m_again) {
                m_again = false;
                refresh();
            }
        });
}

void InvalidPathCheck::stop()
{
    m_watch->disconnect(this);
}
