#include "mainwindow/mainwindow.h"

#include "account/sessioncontroller.h"
#include "backup/backupjobs.h"
#include "backup/backupscheduler.h"
#include "icons/iconcache.h"
#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "mainwindow/edgedock.h"
#include "mainwindow/iconqueue.h"
#include "mainwindow/invalidpathcheck.h"
#include "mainwindow/itemmenucontroller.h"
#include "mainwindow/programmaintenance.h"
#include "mainwindow/startuplayout.h"
#include "mainwindow/traycontroller.h"
#include "mainwindow/windowbackground.h"
#include "mainwindow/windowfiles.h"
#include "mainwindow/windowonline.h"
#include "mainwindow/windowsearch.h"
#include "mainwindow/windowstatecontroller.h"
#include "market/appmarketdialog.h"
#include "market/updatechecker.h"
#include "model/buttonlayout.h"
#include "model/defaultlayout.h"
#include "model/desktopcollect.h"
#include "model/itemlaunch.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "platform/launcher.h"
#include "recorder/recorderbutton.h"
#include "settings/settingsdialog.h"
#include "support/logexport.h"
#include "support/supportchatdialog.h"
#include "support/supportpoller.h"
#include "ui/datadir.h"
#include "ui/dialogseams.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/namedtimer.h"
#include "ui/savefile.h"
#include "ui/theme.h"
#include "ui/toast.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

QSize availableScreenSize(const QWidget* window)
{
    QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().size() : QSize();
}

// The item menu needs nothing but what the window offers everyone.
ItemMenuController::Host itemMenuHost(MainWindow* window)
{
    ItemMenuController::Host host;
    host.window = window;
    host.model = &window->model();
    host.settings = &window->settings();
    host.grid = [window] { return window->iconGrid(); };
    host.toast = [window](const QString& text, Toast::Kind kind) { window->showToast(text, kind); };
    host.launch = [window](const Item& item) {
        window->launchTarget(item.path, item.workDir, item.args, item.runAsAdmin);
    };
    host.saveLayout = [window] { return window->saveLayout(); };
    host.queueIcon = [window](const QString& path) { window->icons()->queue(path); };
    host.refreshInvalid = [window] { window->invalidPathCheck()->refresh(); };
    return host;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent)
{
    // A frameless top-level window, translucent where a compositor runs. Without one the X server composes a
    // translucent window itself on every paint, for corners that are square and painted anyway; a compositor
    // started later leaves this window's corners square until the next start.
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground, windowsComposited());
    // Without a compositor the corners are square and painted, not left transparent (they would be black).
    followCompositing(this, [] { return currentTheme().windowBackground; });
    connect(&CompositingSignals::instance(), &CompositingSignals::changed, this, [this] { applyCornerRadius(); });
    // The layout is read and parsed beside the rest of the start.
    buildFiles();
    // Taken when the worker is done: its first icons go to the loader at once rather than at the queue's next
    // tick (the window is painted already, and this is no caller's stack).
    connect(m_files->startupLayout(), &StartupLayout::arrived, this, [this] { m_icons->drain(); });
    // Reading the first picture of the process loads Qt's image plugins: a worker pays for that meanwhile.
    QFuture<QImage> logoRead = QtConcurrent::run([] { return QImage(QStringLiteral(":/res/resources/logo.png")); });

    // The window's state: first paint, pin, restore, hotkey, docking (its dock and hotkey come with setup()).
    m_winState = new WindowStateController(
        {.window = this,
         .settings = &m_settings,
         .landscape = [this] { return !m_portrait; },
         .toast = [this](const QString& text, int kind) { showToast(text, Toast::Kind(kind)); }},
        this);
    connect(m_winState, &WindowStateController::screenFitted, this, [this] {
        if (m_grid)
            m_grid->clearCaches();
        update();
        repaintPanels();
    });
    connect(m_winState, &WindowStateController::pinnedChanged, this, [this](bool on) {
        if (m_titleBar)
            m_titleBar->setButtonActive(UiBtn::Pin, on);
        if (m_bottomBar)
            m_bottomBar->setButtonActive(UiBtn::Pin, on);
        update();
    });
    // Screen changes refit the window.
    create();
    if (QWindow* handle = windowHandle()) {
        connect(handle, &QWindow::screenChanged, m_winState, &WindowStateController::fitToScreen);
        connect(handle, &QWindow::screenChanged, this, [this] { onScreenChanged(); });
    }
    m_background = new WindowBackground(this);
    connect(m_background, &WindowBackground::repaintNeeded, this, qOverload<>(&QWidget::update));
    connect(m_background, &WindowBackground::ratioRefreshDue, this, &MainWindow::runRatioRefresh);
    connect(m_background, &WindowBackground::videoFailed, this, [this] {
        showToast(Lang::tr("该视频无法播放，请更换格式（MP4 / WMV / AVI）"), Toast::Error);
        applyAppearance(m_settings);
    });
    buildControllers();
    connect(qApp, &QGuiApplication::screenAdded, m_winState, &WindowStateController::fitToScreen);
    connect(qApp, &QGuiApplication::screenRemoved, m_winState, &WindowStateController::fitToScreen);

    setWindowTitle(Lang::tr("青岚舟面板"));
    const QSize avail = availableScreenSize(this);
    setMinimumSize(avail.isValid() ? QSize(std::min(680, avail.width()), std::min(460, avail.height()))
                                   : QSize(680, 460));

    // Settings, then the language and title they choose.
    m_files->loadSettings();
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, &MainWindow::retranslate);
    Lang::notifyChanged();

    // The account: check a saved token, else try the remembered login.
    session()->load();
    session()->start();

    resize(initialWindowSize(m_settings.rememberGeometry, m_files->savedSize(), availableScreenSize(this)));
    const QPixmap logo = QPixmap::fromImage(logoRead.result());
    m_background->setBuiltInLogo(logo);
    if (!logo.isNull())
        setWindowIcon(QIcon(logo));

    buildWidgets();
    m_maintenance->updates()->scheduleStartupCheck(m_settings.updateChannel == 1);

    // The icon queue and the invalid-path check.
    m_icons = new IconQueue(this);
    connect(m_icons, &IconQueue::iconLoaded, this, [this](const QString& path) {
        if (m_grid)
            m_grid->forgetCustomIcon(path);
    });
    connect(m_icons, &IconQueue::repaintDue, this, &MainWindow::repaintPanels);
    connect(&m_model, &PanelModel::currentChanged, this, [this] {
        // The group now on show gets its icons before the rest of the queue.
        QStringList shown;
        if (m_model.hasGroup(m_model.currentIndex())) {
            for (const Item& item : m_model.groups()[m_model.currentIndex()].items)
                shown.append(item.path);
        }
        m_icons->prioritize(shown);
    });
    m_invalid = new InvalidPathCheck(m_model, this);
    connect(m_invalid, &InvalidPathCheck::pathsChanged, this, [this](const QSet<QString>& paths) {
        if (m_grid)
            m_grid->setInvalidPaths(paths);
    });

    // The model: the saved layout, else the defaults of a first start.
    m_files->startupLayout()->take();
    m_constructed = true;

    qInfo().noquote() << "startup: autoClassify =" << (m_settings.autoClassify ? "true" : "false");
    if (m_settings.autoClassify)
        QTimer::singleShot(1200, m_files, &WindowFiles::syncDesktopIcons);

    // Edge docking, frame drags, the summon hotkey, the tray.
    m_winState->setup();

    m_borderFrame = new BorderFrame(this);
    m_borderFrame->setCornerRadius(12);
    m_borderFrame->setDividerY(28);

    applySettings();

    m_lock->restoreAtStart();
    m_lock->refreshButtons();
    supportPoller()->startNotices();
    session()->startHeartbeat();
    m_backups->start();
    // A large layout read while the rest was built is taken now, before the first paint, when it is there.
    if (m_files->startupLayout()->pending() && m_files->startupLayout()->readFinished())
        m_files->finishLayoutNow();
}

void MainWindow::buildControllers()
{
    m_settingsBridge = new SettingsBridge(settingsBridgeHost(), this);
    m_itemMenu = new ItemMenuController(itemMenuHost(this), this);
    buildOnline();
    m_backupJobs = new BackupJobs(this);
    m_backups = new BackupScheduler(backupHost(), this);
    connectBackupOutcomes();
    buildMaintenance();
    buildLock();
    // The account may lift the program's protection; the lock decides from the reply.
    connect(session(), &SessionController::lockSyncReplied, m_lock, &LockController::applyLockSyncReply);
    m_recorder = new RecorderButton(this);
    connect(m_recorder, &RecorderButton::activeChanged, this, [this](bool active) {
        m_bottomBar->setButtonActive(UiBtn::Monitor, active);
        m_titleBar->setButtonActive(UiBtn::Monitor, active);
    });
    // Out of disk space the recorder is paused, not stopped: it goes on by itself and the button's next press
    // stops it, so the button keeps showing it runs.
    connect(m_recorder, &RecorderButton::diskFull, this,
            [this] { showToast(Lang::tr("磁盘剩余空间不足，录屏已暂停（腾出空间后会自动继续）"), Toast::Error); });
    connect(m_recorder, &RecorderButton::paused, this, [this](const QString& text) { showToast(text, Toast::Error); });
    connect(m_recorder, &RecorderButton::resumed, this, [this] { showToast(Lang::tr("录屏已继续"), Toast::Info); });
    m_tray = new TrayController(
        {.window = this,
         .settings = &m_settings,
         .firstPaint = m_winState->firstPaint(),
         .picture = [this] { return !m_look.appIcon.isNull() ? m_look.appIcon : m_background->logo(); },
         .title = [this] { return m_look.titleText; }},
        this);
    connect(m_tray, &TrayController::restoreRequested, this, &MainWindow::restoreWindow);
    connect(m_tray, &TrayController::settingsRequested, this, [this] {
        restoreWindow();
        openSettings();
    });
}

void MainWindow::buildWidgets()
{
    m_titleBar = new TitleBarActions(this);
    setAcceptDrops(true);
    // The title bar's own buttons act even while the interface is locked; the others go through the lock.
    connect(m_titleBar, &TitleBarActions::actionTriggered, this, [this](int ub) {
        if (!runWindowButton(ub))
            onUiButton(ub);
    });
    connect(m_titleBar, &TitleBarActions::gearMenuAboutToShow, this, [this] { onGearMenuAboutToShow(); });
    connect(m_titleBar, &TitleBarActions::gearMenuAction, this, [this](int action) { onGearMenuAction(action); });

    m_sidebar = new Sidebar(this);
    m_grid = new IconGrid(this);
    m_bottomBar = new BottomBar(this);

    // The search panel is built on first use: most starts never open it.
    m_search = new WindowSearch(&m_model.groups(), this);
    // The panel found the item again by its path: show its group, then open it as a double click does.
    connect(m_search, &WindowSearch::launchRequested, this, [this](int group, int item) {
        if (m_lock->blocks() || !m_model.hasGroup(group))
            return;
        m_model.setCurrentGroup(group);
        repaintPanels();
        onItemActivated(item);
    });

    connect(m_bottomBar, &BottomBar::buttonActivated, this, &MainWindow::onUiButton);
    buildButtonHandlers();
    connect(m_titleBar, &UiBtnBar::uibtnDropped, this, &MainWindow::moveUiButton);
    connect(m_bottomBar, &UiBtnBar::uibtnDropped, this, &MainWindow::moveUiButton);

    // The widgets read the model in place and report through signals.
    m_sidebar->setGroups(&m_model.groups(), m_model.currentIndexSlot());
    connect(m_sidebar, &Sidebar::groupSelected, this, &MainWindow::onGroupSelected);
    connect(m_sidebar, &Sidebar::groupCreated, this, &MainWindow::onCreateGroup);
    connect(m_sidebar, &Sidebar::groupRenamed, this, &MainWindow::onRenameGroup);
    connect(m_sidebar, &Sidebar::groupDeleted, this, &MainWindow::onDeleteGroup);
    connect(m_sidebar, &Sidebar::groupDragDisplace, this, &MainWindow::onGroupDragDisplace);
    connect(m_sidebar, &Sidebar::groupDragFinished, this, [this] { saveLayout(); });
    connect(m_sidebar, &Sidebar::groupCleared, this, &MainWindow::onGroupCleared);
    connect(m_sidebar, &Sidebar::urlsDropped, this, &MainWindow::onUrlsDroppedToGroup);
    connect(m_sidebar, &Sidebar::shellItemsDropped, this, &MainWindow::onShellItemsDroppedToGroup);
    connect(m_sidebar, &Sidebar::itemMoved, this, &MainWindow::onItemMoved);
    connect(m_sidebar, &Sidebar::desktopSyncRequested, m_files, &WindowFiles::syncDesktopIcons);
    m_grid->attachOwner(&m_model.groups(), m_model.currentIndexSlot());
    m_grid->setIconCache(iconCache());
    connect(m_grid, &IconGrid::itemActivated, this, &MainWindow::onItemActivated);
    connect(m_grid, &IconGrid::itemReordered, this, &MainWindow::onItemReordered);
    connect(m_grid, &IconGrid::itemMoved, this, &MainWindow::onItemMoved);
    connect(m_grid, &IconGrid::itemMenuRequested, m_itemMenu, &ItemMenuController::show);
    connect(m_grid, &IconGrid::blankDoubleClicked, this, [this] {
        if (!m_settings.closeToTray && !m_settings.minimizeToTray)
            showMinimized();
        else
            m_tray->showTrayAndHide();
    });
    connect(m_grid, &IconGrid::urlsDropped, this,
            [this](const QList<QUrl>& urls) { onUrlsDroppedToGroup(m_model.currentIndex(), urls); });
    connect(m_grid, &IconGrid::shellItemsDropped, this, [this](const QList<QPair<QString, QString>>& items) {
        onShellItemsDroppedToGroup(m_model.currentIndex(), items);
    });
    connectModel();
}

void MainWindow::connectModel()
{
    // Another current group: the grid shows its icons and lays them out.
    connect(&m_model, &PanelModel::currentChanged, this, [this] {
        refreshGridIcons();
        relayoutGrid();
    });
    connect(&m_model, &PanelModel::changed, this, &MainWindow::commitModelChange);
    // A live group reorder is saved when the drag ends; the settings dialog's group list follows now.
    connect(&m_model, &PanelModel::groupsMoved, this, [this] {
        relayoutGrid();
        m_settingsBridge->refreshShownDialogSoon();
        repaintPanels();
    });
}

MainWindow::~MainWindow()
{
    abortNetwork();
    if (SettingsDialog* dialog = m_settingsBridge->dialog()) {
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        delete dialog;
    }
}

QSize MainWindow::initialWindowSize(bool rememberGeometry, const QSize& saved, const QSize& available)
{
    if (!rememberGeometry || saved.width() < 0 || saved.height() < 0)
        return QSize(680, 496);
    const bool screen = available.isValid();
    const int availW = screen ? available.width() : 1366;
    const int availH = screen ? available.height() : 690;
    const int w = availW <= 680 ? availW : std::clamp(saved.width(), 680, std::min(availW, 1400));
    const int h = availH <= 460 ? availH : std::clamp(saved.height(), 460, std::min(availH, 1000));
    return QSize(w, h);
}

// ---- model ----------------------------------------------------------------------------------------------

void MainWindow::relayoutGrid()
{
    if (m_grid)
        m_grid->relayout();
}

void MainWindow::refreshGridIcons()
{
    if (m_grid)
        m_grid->refreshIcons();
}

void MainWindow::repaintPanels()
{
    if (m_grid)
        m_grid->update();
    if (m_sidebar)
        m_sidebar->update();
}

void MainWindow::commitModelChange()
{
    if (!saveLayout())
        relayoutGrid();
    repaintPanels();
}

// ---- files ----------------------------------------------------------------------------------------------

void MainWindow::buildFiles()
{
    WindowFiles::Host host;
    host.model = &m_model;
    host.settings = &m_settings;
    host.queueIcons = [this](const QList<Group>& groups, int current) { m_icons->queueAll(groups, current); };
    host.queueIcon = [this](const QString& path) { m_icons->queue(path); };
    host.toast = [this](const QString& text, int kind) { showToast(text, Toast::Kind(kind)); };
    host.rememberedSize = [this] {
        // Portrait is not remembered (the next start is landscape), so neither is its size.
        EdgeDock* dock = m_winState ? m_winState->edgeDock() : nullptr;
        const QSize own = dock ? dock->windowSize() : size(); // not the docked strip's
        return m_portrait && m_landscapeGeometry.isValid() ? m_landscapeGeometry.size() : own;
    };
    m_files = new WindowFiles(std::move(host), this);
    connect(m_files, &WindowFiles::layoutSaved, this, [this] {
        m_settingsBridge->refreshShownDialogSoon();
        relayoutGrid();
    });
    connect(m_files, &WindowFiles::startupLayoutTaken, this, [this] {
        m_invalid->refresh();
        refreshGridIcons();
        if (m_constructed) {
            // Taken after the first paint: the widgets show the groups now.
            if (m_sidebar)
                m_sidebar->clampScroll();
            relayoutGrid();
            repaintPanels();
        }
    });
}

bool MainWindow::saveLayout()
{
    return m_files->saveLayout();
}

bool MainWindow::saveSettings()
{
    return m_files->saveSettings();
}

void MainWindow::showToast(const QString& text, Toast::Kind kind)
{
    // While the settings dialog is open it covers the panel, and a window manager may keep the panel's
    // bubble with the panel, under the dialog (fluxbox does): the message shows over the dialog, in a
    // bubble of the dialog's own.
    QWidget* host = this;
    SettingsDialog* dialog = m_settingsBridge ? m_settingsBridge->dialog() : nullptr;
    if (dialog && dialog->isVisible())
        host = dialog;
    Toast* toast = host->findChild<Toast*>(QString(), Qt::FindDirectChildrenOnly);
    if (!toast)
        toast = new Toast(host);
    m_toast = toast;
    toast->showMessage(text, kind);
}

// ---- group and item operations --------------------------------------------------------------------------

void MainWindow::onGroupSelected(int index)
{
    if (!m_model.hasGroup(index))
        return;
    m_model.setCurrentGroup(index);
    // Another group starts at its top, not at the scroll position of the one shown before.
    if (m_grid)
        m_grid->resetScroll();
    repaintPanels();
}

void MainWindow::onCreateGroup(const QString& name)
{
    if (m_model.createGroup(name) == PanelModel::NameResult::Taken)
        ktr::dialogs::information(this, Lang::tr("提示"), Lang::tr("已存在同名分组：%1").arg(name));
}

void MainWindow::onRenameGroup(int index, const QString& name)
{
    if (m_model.renameGroup(index, name) == PanelModel::NameResult::Taken)
        ktr::dialogs::information(this, Lang::tr("提示"), Lang::tr("已存在同名分组：%1").arg(name));
}

void MainWindow::onDeleteGroup(int index)
{
    m_model.deleteGroup(index);
}

void MainWindow::onGroupCleared(int index)
{
    if (!m_model.hasGroup(index) || m_model.groups()[index].items.isEmpty())
        return;
    const QString name = m_model.groups()[index].name;
    if (ktr::dialogs::question(this, Lang::tr("清空分组"), Lang::tr("确定清空“%1”中的所有图标？").arg(name)) != 1)
        return;
    m_model.clearGroup(index);
}

void MainWindow::onUrlsDroppedToGroup(int groupIndex, const QList<QUrl>& urls)
{
    if (m_lock->blocks())
        return;
    const PanelModel::Added added = m_model.addFiles(groupIndex, urls);
    for (const QString& path : added.paths)
        m_icons->queue(path);
    if (added.missing > 0)
        showToast(added.missing == 1 ? Lang::tr("已跳过 1 个不存在的路径") // English words the singular apart
                                     : Lang::trCount("已跳过 %1 个不存在的路径", added.missing).arg(added.missing),
                  Toast::Error);
}

void MainWindow::onShellItemsDroppedToGroup(int groupIndex, const QList<QPair<QString, QString>>& items)
{
    if (m_lock->blocks())
        return;
    const QStringList added = m_model.addShellItems(groupIndex, items);
    for (const QString& path : added)
        m_icons->queue(path);
}

void MainWindow::onItemMoved(int fromGroup, int itemIndex, int toGroup)
{
    m_model.moveItem(fromGroup, itemIndex, toGroup);
}

void MainWindow::onItemReordered(int from, int to)
{
    m_model.reorderItem(from, to);
}

// ---- launching ------------------------------------------------------------------------------------------

QString MainWindow::resolveTarget(const QString& path) const
{
    if (m_settings.obfuscateEnabled && !path.isEmpty()) {
        const QString mapped = m_settings.obfuscateMap.value(path);
        if (!mapped.isEmpty())
            return mapped;
    }
    return path;
}

void MainWindow::onItemActivated(int itemIndex)
{
    if (m_lock->blocks())
        return;
    if (!m_model.hasItem(m_model.currentIndex(), itemIndex))
        return;
    const Item item = m_model.groups()[m_model.currentIndex()].items[itemIndex];
    const QString target = resolveTarget(item.path);
    if (!target.startsWith(QLatin1String("::")) && !QFileInfo::exists(target)) {
        showToast(Lang::tr("源文件已不存在，可右键重新定位或从面板移除"), Toast::Error);
        return;
    }
    const QString appId = appIdForPath(item.path);
    launchTarget(item.path, item.workDir, item.args, item.runAsAdmin);
    if (!appId.isEmpty())
        m_online->reportLaunch(appId);
}

void MainWindow::launchTarget(const QString& path, const QString& workDir, const QString& args, bool runAsAdmin)
{
    // Floating icons and every other way in launch nothing while the interface is locked.
    if (m_lock->blocks())
        return;
    const LaunchCommand command = launchCommandFor(resolveTarget(path), workDir, args, runAsAdmin);
    if (elevationToolMissing(command)) {
        showToast(Lang::tr("未找到 pkexec，无法以管理员身份运行（请安装 polkit）"), Toast::Error);
        return;
    }
    runLaunchCommand(command, ktr::platform::launcher());
}

// ---- icon load queue ------------------------------------------------------------------------------------

void MainWindow::reloadAllIcons()
{
    clearIconCache();
    if (m_grid)
        m_grid->clearCaches();
    m_icons->queueAll(m_model.groups(), m_model.currentIndex());
    if (m_grid)
        m_grid->update();
}

void MainWindow::onIconsChanged()
{
    saveLayout();
    if (m_grid)
        m_grid->clearCaches();
    refreshGridIcons();
    repaintPanels();
}

void MainWindow::refreshTheme()
{
    update();
    if (m_titleBar)
        m_titleBar->update();
    repaintPanels();
    if (m_borderFrame)
        m_borderFrame->update();
}

// ---- shutdown -------------------------------------------------------------------------------------------

void MainWindow::abortNetwork()
{
    // The appearance timers too: a late ratio refresh or video frame would load files and repaint a window
    // that is being taken down.
    m_icons->stop();
    m_invalid->stop();
    if (m_search)
        m_search->stop();
    if (EdgeDock* dock = m_winState->edgeDock())
        dock->stop();
    m_background->stop();
    session()->stop();
    supportPoller()->shutdown();
    m_maintenance->updates()->stop();
    m_backups->stop();
    m_online->abortReplies();
}

void MainWindow::waitBackupWorkers(int budgetMs)
{
    m_backups->waitWorkers(budgetMs);
}

// ---- buttons --------------------------------------------------------------------------------------------

void MainWindow::buildButtonHandlers()
{
    const auto hideOrDock = [this](int ub) {
        // A docked panel that was summoned goes back into its edge instead.
        if (m_winState->dockRevealedAndSummoned())
            m_winState->snapToDockEdge();
        else if (ub == UiBtn::Minimize)
            showMinimized();
        else
            close();
    };
    m_buttonHandlers = {
        {UiBtn::Orientation, [this] { toggleOrientation(); }},
        {UiBtn::Settings, [this] { openSettings(); }},
        {UiBtn::Pin, [this] { m_winState->setPinned(!m_winState->isPinned()); }},
        {UiBtn::Minimize, [hideOrDock] { hideOrDock(UiBtn::Minimize); }},
        {UiBtn::Close, [hideOrDock] { hideOrDock(UiBtn::Close); }},
        {UiBtn::Market, [this] { m_online->openAppMarket(); }},
        {UiBtn::ThemeSwitch, [this] { switchTheme(); }},
        {UiBtn::Feedback, [this] { m_online->openSupportChat(); }},
        {UiBtn::Lock, [this] { m_lock->toggleUiLock(); }},
        {UiBtn::Monitor, [this] { startScreenMonitor(); }},
        {UiBtn::Obfuscate, [this] { m_lock->toggleObfuscation(); }},
    };
}

bool MainWindow::runWindowButton(int ub)
{
    if (ub < UiBtn::Orientation || ub > UiBtn::Close)
        return false;
    m_buttonHandlers.value(ub)();
    return true;
}

void MainWindow::onUiButton(int ub)
{
    if (m_lock->blocksButton(ub))
        return;
    if (const auto handler = m_buttonHandlers.value(ub))
        handler();
}

void MainWindow::switchTheme()
{
    EdgeDock* dock = m_winState->edgeDock();
    m_files->store().toggleTheme(m_settings, dock ? dock->windowSize() : size());
    applySettings();
}

// ---- steps of later parts of the window -----------------------------------------------------------------

void MainWindow::exportLogs()
{
    logexport::exportLogsFromWindow(
        this, [this](const QString& text, int kind) { showToast(text, kind == 0 ? Toast::Info : Toast::Error); });
}

void MainWindow::retranslate()
{
    // The painted title strip shows the same name; a live switch must not leave it in the old language.
    m_look.titleText = m_settings.customTitle.isEmpty() ? Lang::tr("青岚舟面板") : m_settings.customTitle;
    setWindowTitle(m_look.titleText);
    if (m_tray)
        m_tray->setToolTip(windowTitle());
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* w : children)
        w->update();
    update();
}
