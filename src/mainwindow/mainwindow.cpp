#include "mainwindow/mainwindow.h"

#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/borderframe.h"
#include "model/buttonlayout.h"
#include "model/defaultlayout.h"
#include "model/desktopcollect.h"
#include "model/itemlaunch.h"
#include "market/appmarketdialog.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "platform/heaptrim.h"
#include "platform/launcher.h"
#include "settings/settingsdialog.h"
#include "support/supportchatdialog.h"
#include "ui/datadir.h"
#include "ui/jsonutil.h"
#include "ui/lang.h"
#include "ui/savefile.h"
#include "ui/theme.h"
#include "ui/toast.h"

#include <QApplication>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace {

QSize availableScreenSize(const QWidget* window)
{
    QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().size() : QSize();
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent)
{
    // 1-2. A frameless, translucent top-level window.
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground, true);

    m_prompter.question = [this](const QString& title, const QString& text) {
        return QMessageBox::question(this, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    m_prompter.information = [this](const QString& title, const QString& text) {
        QMessageBox::information(this, title, text, QMessageBox::Ok);
    };
    m_fileChooser.saveFileName = [this](const QString& caption, const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(this, caption, suggested, filter);
    };
    m_fileChooser.openFileName = [this](const QString& caption, const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(this, caption, folder, filter);
    };
    m_reportAppStat = reportAppStat;
    m_store.setToastHandler([this](const QString& text, int kind) { showToast(text, kind); });

    // 3. Screen changes refit the window.
    create();
    if (QWindow* handle = windowHandle()) {
        connect(handle, &QWindow::screenChanged, this, [this] { fitToScreen(); });
        connect(handle, &QWindow::screenChanged, this, [this] { onScreenChanged(); });
    }
    m_lastRatio = devicePixelRatioF();
    connect(qApp, &QGuiApplication::screenAdded, this, [this] { fitToScreen(); });
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] { fitToScreen(); });

    // 4-5.
    setWindowTitle(Lang::tr("青岚舟面板"));
    const QSize avail = availableScreenSize(this);
    setMinimumSize(avail.isValid() ? QSize(std::min(680, avail.width()), std::min(460, avail.height()))
                                   : QSize(680, 460));

    // 6-7. Settings, then the language and title they choose.
    loadSettings();
    // The handler is process-wide and outlives this window when the window goes first: guard it.
    Lang::setChangedHandler([self = QPointer<MainWindow>(this)] {
        if (self)
            self->retranslate();
    });
    Lang::notifyChanged();

    // 8. The account: check a saved token, else try the remembered login.
    loadAuth();
    if (!m_token.isEmpty()) {
        m_auth.fetchMe(m_token, [this](const AuthManager::Result& r) {
            if (!r.ok && r.code != QLatin1String("NETWORK"))
                onAuthLost(r.code);
        });
    } else {
        tryAutoLogin();
    }

    // 9-10.
    resize(initialWindowSize(m_settings.rememberGeometry, m_savedSize, availableScreenSize(this)));
    m_logo = QPixmap(QStringLiteral(":/res/resources/logo.png"));
    if (!m_logo.isNull())
        setWindowIcon(QIcon(m_logo));

    // 11. Title bar.
    m_titleBar = new TitleBarActions(this);
    setAcceptDrops(true);
    // The title bar's own buttons act even while the interface is locked; the others go through the lock.
    connect(m_titleBar, &TitleBarActions::actionTriggered, this, [this](int ub) {
        if (!runWindowButton(ub))
            onUiButton(ub);
    });
    connect(m_titleBar, &TitleBarActions::gearMenuAboutToShow, this, [this] { onGearMenuAboutToShow(); });
    connect(m_titleBar, &TitleBarActions::gearMenuAction, this, [this](int action) { onGearMenuAction(action); });

    // 12. Sidebar, icon grid, bottom bar.
    m_sidebar = new Sidebar(this);
    m_sidebarWidget = m_sidebar;
    m_grid = new IconGrid(this);
    m_gridWidget = m_grid;
    m_bottomBar = new BottomBar(this);

    // 13. The search panel, hidden until asked for.
    m_searchPanel = new SearchPanel(&m_groups, this);
    m_searchTimer = m_searchPanel->debounceTimer();
    connect(m_searchPanel, &SearchPanel::launchRequested, this, &MainWindow::runSearchItem);

    // 14. Bottom bar buttons and the three actions they reach.
    connect(m_bottomBar, &BottomBar::buttonActivated, this, &MainWindow::onUiButton);
    m_appMarketAction = [this] { openAppMarket(); };
    m_supportChatAction = [this] { openSupportChat(); };
    m_themeSwitchAction = [this] { switchTheme(); };

    // 15.
    m_supportUnreadTimer = makeTimer("supportUnreadTimer", kSupportUnreadIntervalMs, false);
    connect(m_supportUnreadTimer, &QTimer::timeout, this, [this] { pollSupportUnread(); });
    connect(m_titleBar, &UiBtnBar::uibtnDropped, this, &MainWindow::moveUiButton);
    connect(m_bottomBar, &UiBtnBar::uibtnDropped, this, &MainWindow::moveUiButton);

    // 16.
    const bool beta = m_settings.updateChannel == 1;
    QTimer::singleShot(15000, this, [this, beta] { checkForUpdates(beta, false); });

    // 17-18. The widgets read the model in place and report through signals.
    m_sidebar->setGroups(&m_groups, &m_currentIndex);
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
    connect(m_sidebar, &Sidebar::desktopSyncRequested, this, &MainWindow::syncDesktopIcons);
    m_grid->attachOwner(&m_groups, &m_currentIndex);
    m_grid->setIconCache(iconCache());
    connect(m_grid, &IconGrid::itemActivated, this, &MainWindow::onItemActivated);
    connect(m_grid, &IconGrid::itemReordered, this, &MainWindow::onItemReordered);
    connect(m_grid, &IconGrid::itemMoved, this, &MainWindow::onItemMoved);
    connect(m_grid, &IconGrid::itemMenuRequested, this, &MainWindow::showItemMenu);
    connect(m_grid, &IconGrid::blankDoubleClicked, this, [this] {
        if (!m_settings.closeToTray && !m_settings.minimizeToTray)
            showMinimized();
        else
            showTrayAndHide();
    });
    connect(m_grid, &IconGrid::urlsDropped, this,
            [this](const QList<QUrl>& urls) { onUrlsDroppedToGroup(m_currentIndex, urls); });
    connect(m_grid, &IconGrid::shellItemsDropped, this,
            [this](const QList<QPair<QString, QString>>& items) { onShellItemsDroppedToGroup(m_currentIndex, items); });

    // 19. The icon queue, the coalesced repaint and the invalid-path check.
    m_iconQueueTimer = makeTimer("iconQueueTimer", kIconQueueIntervalMs, false);
    m_repaintTimer = makeTimer("repaintTimer", kRepaintDelayMs, true);
    m_invalidPathsTimer = makeTimer("invalidPathsTimer", kInvalidPathsIntervalMs, false);
    connect(m_iconQueueTimer, &QTimer::timeout, this, [this] { drainIconQueue(); });
    connect(m_repaintTimer, &QTimer::timeout, this, [this] { repaintPanels(); });
    connect(m_invalidPathsTimer, &QTimer::timeout, this, [this] { refreshInvalidPaths(); });
    m_invalidPathsTimer->start();

    // 20-21. The model: the saved layout, else the defaults of a first start.
    if (!loadLayout()) {
        buildDefaultLayout();
        saveLayout();
    }
    refreshInvalidPaths();
    refreshGridIcons();
    m_constructed = true;
    if (!m_iconQueue.isEmpty())
        m_iconQueueTimer->start();

    // 22.
    qInfo().noquote() << "startup: autoClassify =" << (m_settings.autoClassify ? "true" : "false");
    if (m_settings.autoClassify)
        QTimer::singleShot(1200, this, [this] { syncDesktopIcons(); });

    // 23. Edge docking (its poll timer is the dock-poll timer), frame drags, the summon hotkey, the tray.
    setupWindowState();

    // 24.
    m_borderFrame = new BorderFrame(this);
    m_borderFrame->setCornerRadius(12);
    m_borderFrame->setDividerY(28);

    // 25.
    applySettings();

    // 26. A lock without a password can't be opened again: start unlocked instead.
    if (m_settings.uiLocked) {
        if (!m_settings.protectPasswordHash.isEmpty())
            QTimer::singleShot(0, this, [this] { showLockOverlay(); });
        else
            m_settings.uiLocked = false;
    }

    // 27. Notices.
    if (!m_noticeTimer) {
        m_noticeTimer = makeTimer("noticeTimer", kNoticeIntervalMs, false);
        connect(m_noticeTimer, &QTimer::timeout, this, [this] { fetchLatestNotice(); });
        m_noticeTimer->start();
        QTimer::singleShot(3000, this, [this] { fetchLatestNotice(); });
    }

    // 28. Token heartbeat.
    if (!m_heartbeatTimer) {
        const int seconds = tokenHeartbeatSeconds();
        m_heartbeatTimer = makeTimer("heartbeatTimer", seconds * 1000, false);
        connect(m_heartbeatTimer, &QTimer::timeout, this, [this] { checkTokenAlive(); });
        m_heartbeatTimer->start();
        QTimer::singleShot(2500, this, [this] { startupAccountStep(); });
        qInfo().noquote() << "token heartbeat started, interval(s) =" << seconds;
    }

    // 29. Automatic backups.
    if (!m_autoBackupTimer) {
        m_autoBackupTimer = makeTimer("autoBackupTimer", kAutoBackupIntervalMs, false);
        connect(m_autoBackupTimer, &QTimer::timeout, this, [this] { runAutoBackupIfDue(); });
        m_autoBackupTimer->start();
        QTimer::singleShot(2500, this, [this] { runAutoBackupIfDue(); });
        qInfo().noquote() << "auto backup scheduler started";
    }
}

MainWindow::~MainWindow()
{
    abortNetwork();
    if (m_settingsDialog) {
        m_settingsDialog->setAttribute(Qt::WA_DeleteOnClose, false);
        delete m_settingsDialog.data();
    }
}

QTimer* MainWindow::makeTimer(const char* name, int intervalMs, bool singleShot)
{
    auto* timer = new QTimer(this);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(intervalMs);
    timer->setSingleShot(singleShot);
    timer->setTimerType(Qt::CoarseTimer);
    return timer;
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

int MainWindow::tokenHeartbeatSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("KTR_TOKEN_HEARTBEAT_SEC", &ok);
    return ok && seconds >= 1 ? seconds : 60;
}

// ---- model ----------------------------------------------------------------------------------------------

int MainWindow::findGroupByName(const QString& name, int excluded) const
{
    return ::findGroupByName(m_groups, name, excluded);
}

void MainWindow::setCurrentGroup(int index)
{
    m_currentIndex = clampGroupIndex(index, int(m_groups.size()));
    refreshGridIcons();
    relayoutGrid();
}

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
    if (m_gridWidget)
        m_gridWidget->update();
    if (m_sidebarWidget)
        m_sidebarWidget->update();
}

void MainWindow::commitModelChange()
{
    if (!saveLayout())
        relayoutGrid();
    repaintPanels();
}

// ---- files ----------------------------------------------------------------------------------------------

bool MainWindow::loadLayout()
{
    if (!m_store.loadLayout(m_groups))
        return false;
    if (m_currentIndex >= m_groups.size())
        setCurrentGroup(0);
    for (const Group& g : std::as_const(m_groups)) {
        for (const Item& item : g.items)
            queueIconLoad(item.path);
    }
    return true;
}

bool MainWindow::saveLayout()
{
    if (!m_store.saveLayout(m_groups))
        return false;
    if (m_settingsDialog && m_settingsDialog->isVisible() && !m_settingsRefreshPending)
        scheduleSettingsRefresh();
    relayoutGrid();
    return true;
}

void MainWindow::buildDefaultLayout()
{
    m_groups = ::buildDefaultLayout();
    if (m_groups.isEmpty())
        m_groups.append(Group{Lang::tr("默认分组"), {}});
    setCurrentGroup(0);
    for (const Group& g : std::as_const(m_groups)) {
        for (const Item& item : g.items)
            queueIconLoad(item.path);
    }
}

void MainWindow::loadSettings()
{
    m_store.loadSettings(m_settings, m_savedSize);
}

bool MainWindow::saveSettings()
{
    // Portrait is not remembered (the next start is landscape), so neither is its size.
    const QSize remembered = m_portrait && m_landscapeGeometry.isValid() ? m_landscapeGeometry.size() : size();
    return m_store.saveSettings(m_settings, remembered);
}

void MainWindow::reportSaveFailure(const QString& path, const QString& message)
{
    m_store.reportSaveFailure(path, message);
}

bool MainWindow::preserveCorruptFile(const QString& path)
{
    return m_store.preserveCorruptFile(path);
}

void MainWindow::scheduleSettingsRefresh()
{
    m_settingsRefreshPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_settingsRefreshPending = false;
            if (m_settingsDialog)
                m_settingsDialog->refresh();
        },
        Qt::QueuedConnection);
}

void MainWindow::showToast(const QString& text, int kind)
{
    if (!m_toast)
        m_toast = new Toast(this);
    m_toast->showMessage(text, kind);
}

// ---- group and item operations --------------------------------------------------------------------------

void MainWindow::onGroupSelected(int index)
{
    if (index < 0 || index >= m_groups.size())
        return;
    setCurrentGroup(index);
    // Another group starts at its top, not at the scroll position of the one shown before.
    if (m_grid)
        m_grid->resetScroll();
    repaintPanels();
}

void MainWindow::onCreateGroup(const QString& name)
{
    if (findGroupByName(name) >= 0) {
        m_prompter.information(Lang::tr("提示"), Lang::tr("已存在同名分组：%1").arg(name));
        return;
    }
    m_groups.append(Group{name, {}});
    setCurrentGroup(int(m_groups.size()) - 1);
    commitModelChange();
}

void MainWindow::onRenameGroup(int index, const QString& name)
{
    if (index < 0 || index >= m_groups.size())
        return;
    if (findGroupByName(name, index) >= 0) {
        m_prompter.information(Lang::tr("提示"), Lang::tr("已存在同名分组：%1").arg(name));
        return;
    }
    m_groups[index].name = name;
    commitModelChange();
}

void MainWindow::onDeleteGroup(int index)
{
    if (index < 1 || index >= m_groups.size())
        return;
    QList<Item>& first = m_groups[0].items;
    for (const Item& item : std::as_const(m_groups[index].items)) {
        const bool present =
            std::any_of(first.cbegin(), first.cend(), [&item](const Item& i) { return i.path == item.path; });
        if (!present)
            first.append(item);
    }
    m_groups.removeAt(index);
    const int count = int(m_groups.size());
    if (index == m_currentIndex)
        setCurrentGroup(index - 1);
    else if (index < m_currentIndex)
        setCurrentGroup(m_currentIndex - 1);
    else if (m_currentIndex >= count)
        setCurrentGroup(count - 1);
    commitModelChange();
}

void MainWindow::onGroupCleared(int index)
{
    if (index < 0 || index >= m_groups.size() || m_groups[index].items.isEmpty())
        return;
    if (!m_prompter.question(Lang::tr("清空分组"), Lang::tr("确定清空“%1”中的所有图标？").arg(m_groups[index].name)))
        return;
    m_groups[index].items.clear();
    commitModelChange();
}

namespace {

bool groupHasPath(const Group& group, const QString& path)
{
    return std::any_of(group.items.cbegin(), group.items.cend(), [&path](const Item& i) { return i.path == path; });
}

QString nameForDroppedPath(const QFileInfo& info)
{
    if (info.isDir() || info.suffix().isEmpty())
        return info.fileName();
    const QString base = info.completeBaseName();
    return base.isEmpty() ? info.fileName() : base;
}

} // namespace

void MainWindow::onUrlsDroppedToGroup(int groupIndex, const QList<QUrl>& urls)
{
    if (groupIndex < 0 || groupIndex >= m_groups.size())
        return;
    int added = 0;
    int skipped = 0;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (groupHasPath(m_groups[groupIndex], path))
            continue;
        const QFileInfo info(path);
        if (!info.exists()) {
            ++skipped;
            continue;
        }
        Item item;
        item.path = path;
        item.name = nameForDroppedPath(info);
        m_groups[groupIndex].items.append(item);
        queueIconLoad(path);
        ++added;
    }
    if (skipped > 0)
        showToast(Lang::tr("已跳过 %1 个不存在的路径").arg(skipped), 1);
    if (added > 0) {
        setCurrentGroup(groupIndex);
        commitModelChange();
    }
}

void MainWindow::onShellItemsDroppedToGroup(int groupIndex, const QList<QPair<QString, QString>>& items)
{
    if (groupIndex < 0 || groupIndex >= m_groups.size())
        return;
    int added = 0;
    for (const auto& [display, parsing] : items) {
        if (parsing.isEmpty() || groupHasPath(m_groups[groupIndex], parsing))
            continue;
        Item item;
        item.path = parsing;
        item.name = display;
        m_groups[groupIndex].items.append(item);
        queueIconLoad(parsing);
        ++added;
    }
    if (added > 0) {
        setCurrentGroup(groupIndex);
        commitModelChange();
    }
}

void MainWindow::onItemMoved(int fromGroup, int itemIndex, int toGroup)
{
    const int count = int(m_groups.size());
    if (fromGroup < 0 || itemIndex < 0 || toGroup < 0 || fromGroup >= count || toGroup >= count ||
        fromGroup == toGroup || itemIndex >= m_groups[fromGroup].items.size())
        return;
    if (groupHasPath(m_groups[toGroup], m_groups[fromGroup].items[itemIndex].path))
        return;
    m_groups[toGroup].items.append(m_groups[fromGroup].items.takeAt(itemIndex));
    commitModelChange();
}

void MainWindow::onItemReordered(int from, int to)
{
    if (m_currentIndex < 0 || m_currentIndex >= m_groups.size())
        return;
    QList<Item>& items = m_groups[m_currentIndex].items;
    const int n = int(items.size());
    if (from < 0 || to < 0 || from >= n || to > n || from == to)
        return;
    const Item item = items.takeAt(from);
    items.insert(from < to ? to - 1 : to, item);
    commitModelChange();
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
    if (m_currentIndex < 0 || m_currentIndex >= m_groups.size())
        return;
    const QList<Item>& items = m_groups[m_currentIndex].items;
    if (itemIndex < 0 || itemIndex >= items.size())
        return;
    const Item item = items[itemIndex];
    const QString target = resolveTarget(item.path);
    if (!target.startsWith(QLatin1String("::")) && !QFileInfo::exists(target)) {
        showToast(Lang::tr("源文件已不存在，可右键重新定位或从面板移除"), 1);
        return;
    }
    const QString appId = appIdForPath(item.path);
    launchTarget(item.path, item.workDir, item.args, item.runAsAdmin);
    if (!appId.isEmpty() && m_reportAppStat)
        m_reportAppStat(appId, QStringLiteral("launch"), m_token);
}

void MainWindow::launchTarget(const QString& path, const QString& workDir, const QString& args, bool runAsAdmin)
{
    const LaunchCommand command = launchCommandFor(resolveTarget(path), workDir, args, runAsAdmin);
    runLaunchCommand(command, ktr::platform::launcher());
}

// ---- icon load queue ------------------------------------------------------------------------------------

void MainWindow::queueIconLoad(const QString& path)
{
    if (path.isEmpty() || m_iconQueue.size() >= kIconQueueLimit)
        return;
    m_iconQueue.append(path);
    if (m_iconQueueTimer && !m_iconQueueTimer->isActive())
        m_iconQueueTimer->start();
}

void MainWindow::drainIconQueue()
{
    while (!m_iconQueue.isEmpty()) {
        const QString path = m_iconQueue.takeFirst();
        ++m_iconLoadsInFlight;
        loadIconAsync(path, this, [this](const QString& p, const QImage& image) { onQueuedIconLoaded(p, image); });
    }
    if (m_iconQueueTimer && m_iconQueueTimer->isActive())
        m_iconQueueTimer->stop();
}

void MainWindow::onQueuedIconLoaded(const QString& path, const QImage& image)
{
    cacheIconImage(path, image);
    if (m_grid)
        m_grid->forgetCustomIcon(path);
    if (m_repaintTimer && !m_repaintTimer->isActive())
        m_repaintTimer->start();
    // The last result of a batch: the loader's workers freed their decoding buffers, give them back.
    if (m_iconLoadsInFlight > 0 && --m_iconLoadsInFlight == 0 && m_iconQueue.isEmpty())
        ktr::platform::releaseFreeHeap();
}

void MainWindow::reloadAllIcons()
{
    clearIconCache();
    if (m_grid)
        m_grid->clearCaches();
    for (const Group& g : std::as_const(m_groups)) {
        for (const Item& item : g.items)
            queueIconLoad(item.path);
    }
    if (m_gridWidget)
        m_gridWidget->update();
}

void MainWindow::ensureIcon(const QString& path)
{
    loadIconAsync(path, this, [this](const QString& p, const QImage& image) {
        cacheIconImage(p, image);
        repaintPanels();
    });
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
    for (QTimer* t : {m_iconQueueTimer, m_repaintTimer, m_invalidPathsTimer, m_searchTimer, m_dockPollTimer,
                      m_supportUnreadTimer, m_noticeTimer, m_heartbeatTimer, m_autoBackupTimer, m_resizeDebounce,
                      m_ratioDebounce, m_videoTimer, m_scaledRefreshTimer}) {
        if (t)
            t->stop();
    }
    if (auto* manager = findChild<QNetworkAccessManager*>()) {
        const QList<QNetworkReply*> replies = manager->findChildren<QNetworkReply*>();
        for (QNetworkReply* reply : replies) {
            reply->disconnect();
            reply->abort();
            reply->deleteLater();
        }
    }
}

void MainWindow::waitBackupWorkers(int budgetMs)
{
    // No backup worker runs until the backup scheduler exists.
    Q_UNUSED(budgetMs);
}

// ---- buttons --------------------------------------------------------------------------------------------

bool MainWindow::runWindowButton(int ub)
{
    switch (ub) {
    case UiBtn::Orientation:
        toggleOrientation();
        return true;
    case UiBtn::Settings:
        openSettings();
        return true;
    case UiBtn::Pin:
        setPinned(!m_pinned);
        return true;
    case UiBtn::Minimize:
    case UiBtn::Close:
        // A docked panel that was summoned goes back into its edge instead.
        if (dockRevealedAndSummoned())
            snapToDockEdge();
        else if (ub == UiBtn::Minimize)
            showMinimized();
        else
            close();
        return true;
    default:
        return false;
    }
}

void MainWindow::onUiButton(int ub)
{
    if (m_settings.uiLocked && ub != UiBtn::Minimize && ub != UiBtn::Close) {
        showLockOverlay();
        if (m_lockOverlay)
            m_lockOverlay->setMode(UiLockOverlay::Mode::Unlock);
        return;
    }
    if (runWindowButton(ub))
        return;
    switch (ub) {
    case UiBtn::Market:
        if (m_appMarketAction)
            m_appMarketAction();
        break;
    case UiBtn::ThemeSwitch:
        if (m_themeSwitchAction)
            m_themeSwitchAction();
        break;
    case UiBtn::Feedback:
        if (m_supportChatAction)
            m_supportChatAction();
        break;
    case UiBtn::Lock:
        uiLockAction();
        break;
    case UiBtn::Monitor:
        startScreenMonitor();
        break;
    case UiBtn::Obfuscate:
        toggleObfuscation();
        break;
    default:
        break;
    }
}

void MainWindow::onGearMenuAction(int action)
{
    if (m_settings.uiLocked) {
        showLockOverlay();
        if (m_lockOverlay)
            m_lockOverlay->setMode(UiLockOverlay::Mode::Unlock);
        return;
    }
    switch (action) {
    case 1:
        openSettings();
        break;
    case 3:
        checkForUpdates(m_settings.updateChannel == 1, true);
        break;
    case 4:
        if (m_token.isEmpty()) {
            showToast(Lang::tr("尚未登录账户"), 1);
        } else {
            m_token.clear();
            m_autoLogin = false;
            if (!m_rememberLogin) {
                m_userName.clear();
                m_savedPassword.clear();
            }
            showToast(Lang::tr("退出成功"), 0);
        }
        break;
    default:
        // Sign-in (0) and the web site (2) come with the account service.
        break;
    }
}

void MainWindow::openAppMarket()
{
    if (!m_appMarket) {
        m_appMarket = new AppMarketDialog(this);
        connect(m_appMarket, &AppMarketDialog::addToPanelRequested, this, &MainWindow::onAppInstalled);
    }
    m_appMarket->openAndRefresh(m_token);
}

void MainWindow::openSupportChat()
{
    // Without an account there is nobody to chat as; the login window comes with the account service.
    if (m_token.isEmpty())
        return;
    if (!m_supportChat) {
        m_supportChat = new SupportChatDialog(this);
        connect(m_supportChat, &SupportChatDialog::unreadChanged, m_bottomBar, &BottomBar::setBadgeCount);
        connect(m_supportChat, &SupportChatDialog::chatHidden, this, [this] { pollSupportUnread(); });
    }
    m_supportChat->setSession(m_token, m_userName);
    m_bottomBar->setBadgeCount(0);
}

void MainWindow::switchTheme()
{
    m_store.toggleTheme(m_settings, size());
    applySettings();
}

void MainWindow::showLockOverlay()
{
    if (!m_lockOverlay) {
        m_lockOverlay = new UiLockOverlay(this);
        m_lockOverlay->setBackgroundPath(m_settings.lockBgPath);
    }
    m_lockOverlay->setGeometry(rect());
    m_lockOverlay->show();
    m_lockOverlay->raise();
    m_lockOverlay->setFocus();
    update();
}

// ---- account --------------------------------------------------------------------------------------------

void MainWindow::loadAuth()
{
    m_token.clear();
    m_userName.clear();
    m_savedPassword.clear();
    QByteArray data;
    if (ktr::readFileCapped(appDataDir() + QStringLiteral("/auth.json"), 1024 * 1024, &data) != ktr::ReadStatus::Ok)
        return;
    QJsonObject object;
    if (!parseJsonObject(data, object)) {
        qInfo().noquote() << "loadAuth: bad JSON, ignored";
        return;
    }
    // The stored token and password are protected per user; reading them comes with the account service.
    m_userName = object.value(QStringLiteral("username")).toString();
    m_rememberLogin = object.value(QStringLiteral("remember")).toBool();
    m_autoLogin = object.value(QStringLiteral("autologin")).toBool();
}

void MainWindow::tryAutoLogin()
{
    // Logging in needs the account service; until it exists there is nothing to try.
}

void MainWindow::onAuthLost(const QString& reason)
{
    if (m_authLostRunning)
        return;
    m_authLostRunning = true;
    const bool hadToken = !m_token.isEmpty();
    m_token.clear();
    if (m_appMarket)
        m_appMarket->setToken(QString());
    if (hadToken)
        qWarning().noquote() << "auth lost:" << reason;
    m_authLostRunning = false;
}

void MainWindow::checkTokenAlive()
{
    if (m_token.isEmpty())
        return;
    syncLockState();
    const QString sent = m_token;
    m_auth.fetchMe(sent, [this, sent](const AuthManager::Result& r) {
        if (r.ok || r.code == QLatin1String("NETWORK") || sent != m_token)
            return;
        qInfo().noquote() << "token heartbeat: session invalid ->" << r.code;
        onAuthLost(r.code);
    });
}

void MainWindow::syncLockState()
{
    // The account unlock comes with the account service.
}

void MainWindow::startupAccountStep()
{
    syncLockState();
    if (!m_token.isEmpty() && m_token != m_reportedToken) {
        m_reportedToken = m_token;
        m_auth.reportHost(m_token);
    }
}

// ---- steps of later parts of the window -----------------------------------------------------------------

void MainWindow::pollSupportUnread()
{
}

void MainWindow::fetchLatestNotice()
{
}

void MainWindow::runAutoBackupIfDue()
{
}

void MainWindow::checkForUpdates(bool beta, bool manual)
{
    Q_UNUSED(beta);
    Q_UNUSED(manual);
}

void MainWindow::onAppInstalled(const QString& name, const QString& exePath)
{
    Q_UNUSED(name);
    Q_UNUSED(exePath);
}

void MainWindow::uiLockAction()
{
    // Setting a protection password needs the lock subsystem's password dialog; a stored one engages the lock.
    if (m_settings.uiLocked || !m_settings.protectPasswordHash.isEmpty()) {
        if (!m_settings.uiLocked) {
            m_settings.uiLocked = true;
            saveSettings();
            if (m_settingsDialog)
                m_settingsDialog->close();
            m_bottomBar->setButtonState(UiBtn::Lock, true);
            m_titleBar->setButtonActive(UiBtn::Lock, true);
        }
        showLockOverlay();
        if (m_lockOverlay)
            m_lockOverlay->setMode(UiLockOverlay::Mode::Unlock);
    }
}

void MainWindow::toggleObfuscation()
{
}

void MainWindow::exportLogs()
{
    // Archiving the log folder comes with the log viewer.
}

void MainWindow::uninstallProgram(bool removeAll)
{
    // Uninstalling comes with the updater.
    Q_UNUSED(removeAll);
}

void MainWindow::factoryReset()
{
    // The full reset comes with the updater.
}

void MainWindow::retranslate()
{
    setWindowTitle(m_settings.customTitle.isEmpty() ? Lang::tr("青岚舟面板") : m_settings.customTitle);
    if (m_tray)
        m_tray->setToolTip(windowTitle());
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* w : children)
        w->update();
    update();
}
