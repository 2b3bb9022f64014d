#include "mainwindow/windowfiles.h"

#include "mainwindow/startuplayout.h"
#include "model/defaultlayout.h"
#include "model/desktopcollect.h"
#include "model/panelmodel.h"
#include "ui/appsettings.h"
#include "ui/lang.h"

#include <QDebug>

WindowFiles::WindowFiles(Host host, QObject* parent, const QString& dataDir)
    : QObject(parent), m_host(std::move(host)), m_store(dataDir)
{
    m_store.setToastHandler([this](const QString& text, int kind) {
        if (m_host.toast)
            m_host.toast(text, kind);
    });
    m_startupLayout = new StartupLayout(
        m_store.layoutPath(), [this](ConfigStore::LayoutRead read) { applyStartupLayout(std::move(read)); }, this);
}

bool WindowFiles::finishLayoutNow()
{
    return m_startupLayout->finishNow();
}

void WindowFiles::applyStartupLayout(ConfigStore::LayoutRead read)
{
    if (!adoptLayout(std::move(read))) {
        buildDefaultLayout();
        saveLayout();
    }
    emit startupLayoutTaken();
}

bool WindowFiles::loadLayout(std::shared_ptr<const ConfigStore::LayoutRead> readAhead)
{
    finishLayoutNow();
    finishLayoutSaves(); // the file as the last save left it
    const QString path = m_store.layoutPath();
    if (readAhead && ConfigStore::readStillCurrent(*readAhead, path))
        return adoptLayout(*readAhead);
    return adoptLayout(ConfigStore::readLayoutFile(path));
}

bool WindowFiles::adoptLayout(ConfigStore::LayoutRead read)
{
    QList<Group> groups;
    if (!m_store.takeLayout(std::move(read), groups))
        return false;
    PanelModel& model = *m_host.model;
    model.replaceGroups(std::move(groups));
    if (model.currentIndex() >= model.groups().size())
        model.setCurrentGroup(0);
    if (m_host.queueIcons)
        m_host.queueIcons(model.groups(), model.currentIndex());
    return true;
}

bool WindowFiles::saveLayout()
{
    // Never the empty model of a start still reading its layout over the file.
    finishLayoutNow();
    if (!m_store.saveLayoutSoon(m_host.model->groups()))
        return false;
    emit layoutSaved();
    return true;
}

bool WindowFiles::finishLayoutSaves(int budgetMs)
{
    if (m_store.waitForLayoutSaves(budgetMs))
        return true;
    qWarning().noquote() << "layout save still running after" << budgetMs << "ms:" << m_store.layoutPath();
    return false;
}

void WindowFiles::buildDefaultLayout()
{
    QList<Group> groups = ::buildDefaultLayout();
    if (groups.isEmpty())
        groups.append(Group{Lang::tr("默认分组"), {}});
    PanelModel& model = *m_host.model;
    model.replaceGroups(std::move(groups));
    model.setCurrentGroup(0);
    if (m_host.queueIcons)
        m_host.queueIcons(model.groups(), model.currentIndex());
}

void WindowFiles::loadSettings()
{
    m_store.loadSettings(*m_host.settings, m_savedSize);
}

bool WindowFiles::saveSettings()
{
    return m_store.saveSettings(*m_host.settings, m_host.rememberedSize ? m_host.rememberedSize() : QSize());
}

void WindowFiles::reportSaveFailure(const QString& path, const QString& message)
{
    m_store.reportSaveFailure(path, message);
}

void WindowFiles::syncDesktopIcons()
{
    finishLayoutNow(); // the collected icons join the saved layout, not the empty one of a start
    DesktopCollectResult result;
    m_host.model->editGroups([&result](QList<Group>& groups) {
        result = ::collectDesktopIcons(groups, desktopFolders());
        return result.changed();
    });
    for (const QString& path : result.newPaths) {
        if (m_host.queueIcon)
            m_host.queueIcon(path);
    }
    if (m_host.toast)
        m_host.toast(result.message, 0);
}
