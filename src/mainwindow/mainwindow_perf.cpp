// What keeps the idle window idle and the start quick: missing targets are found when their folders change,
// not by a poll; icons come in the order they are seen.
#include "mainwindow/mainwindow.h"

#include "mainwindow/iconqueue.h"
#include "mainwindow/searchpanel.h"
#include "mainwindow/targetwatch.h"
#include "panel/sidebar.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace {

std::function<void()>& layoutReadHook()
{
    static std::function<void()> hook;
    return hook;
}

// While a large layout is still being parsed, the first press, key, wheel or drop anywhere in the program
// waits for it and takes it, so no action ever works on the empty model of the start. Lives only then.
class LayoutGate : public QObject
{
public:
    LayoutGate(std::function<void()> finish, QObject* parent) : QObject(parent), m_finish(std::move(finish))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::Drop:
            if (m_finish) {
                // The call deletes this gate later; the event then goes on to its receiver.
                const auto finish = std::move(m_finish);
                m_finish = nullptr;
                finish();
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_finish;
};

} // namespace

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

// ---- the start's layout ---------------------------------------------------------------------------------

void MainWindow::setLayoutReadHook(std::function<void()> hook)
{
    layoutReadHook() = std::move(hook);
}

void MainWindow::startLayoutRead()
{
    const QString path = m_store.layoutPath();
    // A small file is taken where the constructor needs it (read meanwhile); only a large one lets the
    // window paint before its groups are there.
    m_layoutAsync = QFileInfo(path).size() >= kAsyncLayoutBytes;
    const auto hook = layoutReadHook();
    m_layoutRead = QtConcurrent::run([path, hook] {
        if (hook)
            hook();
        return ConfigStore::readLayoutFile(path);
    });
}

void MainWindow::takeStartupLayout()
{
    if (!m_layoutAsync || m_layoutRead.isFinished()) {
        applyStartupLayout();
        return;
    }
    m_layoutPending = true;
    m_layoutWatcher = new QFutureWatcher<ConfigStore::LayoutRead>(this);
    // Taken when the worker is done: its first icons go to the loader at once rather than at the queue's
    // next tick (the window is painted already, and this is no caller's stack).
    connect(m_layoutWatcher, &QFutureWatcherBase::finished, this, [this] {
        if (finishLayoutNow())
            drainIconQueue();
    });
    m_layoutWatcher->setFuture(m_layoutRead);
    m_layoutGate = new LayoutGate([this] { finishLayoutNow(); }, this);
}

bool MainWindow::finishLayoutNow()
{
    if (!m_layoutPending)
        return false;
    applyStartupLayout();
    return true;
}

void MainWindow::applyStartupLayout()
{
    m_layoutPending = false;
    if (m_layoutWatcher) {
        m_layoutWatcher->disconnect(this);
        m_layoutWatcher->deleteLater();
        m_layoutWatcher = nullptr;
    }
    if (m_layoutGate) {
        m_layoutGate->deleteLater(); // it may be inside its own event filter now
        m_layoutGate = nullptr;
    }
    m_layoutRead.waitForFinished();
    ConfigStore::LayoutRead read = m_layoutRead.takeResult();
    m_layoutRead = {};
    if (!adoptLayout(std::move(read))) {
        buildDefaultLayout();
        saveLayout();
    }
    refreshInvalidPaths();
    refreshGridIcons();
    if (m_constructed) {
        // Taken after the first paint: the widgets show the groups now.
        if (m_sidebar)
            m_sidebar->clampScroll();
        relayoutGrid();
        repaintPanels();
    }
}
