#pragma once

#include "account/authmanager.h"
#include "mainwindow/configstore.h"
#include "mainwindow/searchpanel.h"
#include "panel/panelmodel.h"
#include "ui/appsettings.h"

#include <QImage>
#include <QList>
#include <QPair>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QSet>
#include <QSize>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>

class AppMarketDialog;
class BorderFrame;
class BottomBar;
class FloatIcon;
class IconGrid;
class QAction;
class QMenu;
class QTimer;
template <typename T>
class QFutureWatcher;
class SettingsDialog;
class ShortcutEditDialog;
class Sidebar;
class SupportChatDialog;
class TitleBarActions;
class Toast;
class UiLockOverlay;

// The panel's one top-level window: a frameless, translucent widget that owns the groups and items, the
// settings record and the account client, builds the title bar, sidebar, icon grid and bottom bar, turns
// their signals into model changes, launches items and runs every periodic task of the program.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kIconQueueLimit = 2000;
    static constexpr int kIconQueueIntervalMs = 16;
    static constexpr int kRepaintDelayMs = 50;
    static constexpr int kInvalidPathsIntervalMs = 5000;
    static constexpr int kSearchDebounceMs = 150;
    static constexpr int kSupportUnreadIntervalMs = 12000;
    static constexpr int kDockPollIntervalMs = 80;
    static constexpr int kNoticeIntervalMs = 60000;
    static constexpr int kAutoBackupIntervalMs = 3600000;

    // Message boxes, replaceable by tests: a yes/no question (true = yes) and an information box.
    struct Prompter
    {
        std::function<bool(const QString& title, const QString& text)> question;
        std::function<void(const QString& title, const QString& text)> information;
    };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The model (read in place by the widgets).
    const QList<Group>& groups() const { return m_groups; }
    int currentIndex() const { return m_currentIndex; }
    int findGroupByName(const QString& name, int excluded = -1) const;
    void setCurrentGroup(int index);

    // Files of the window ("layout.json", "settings.json"), through the one store.
    bool loadLayout();
    bool saveLayout();
    void buildDefaultLayout();
    void loadSettings();
    bool saveSettings();
    void reportSaveFailure(const QString& path, const QString& message);
    bool preserveCorruptFile(const QString& path);
    void scheduleSettingsRefresh();
    QString layoutPath() { return m_store.layoutPath(); }
    const AppSettings& settings() const { return m_settings; }
    AppSettings& settings() { return m_settings; }
    bool constructionFinished() const { return m_constructed; }

    // The one way the panel shows a notice: kind 0 information, 1 error. The text is already translated.
    void showToast(const QString& text, int kind);

    // Starts a target with its working folder, arguments and elevation (no existence check, no report).
    void launchTarget(const QString& path, const QString& workDir, const QString& args, bool runAsAdmin);

    // The icon load queue.
    void queueIconLoad(const QString& path);
    void drainIconQueue();
    void onQueuedIconLoaded(const QString& path, const QImage& image);
    void reloadAllIcons();
    void ensureIcon(const QString& path);
    QStringList iconQueue() const { return m_iconQueue; }

    // Stops every timer and network request of the window (shutdown, update installation, factory reset).
    void abortNetwork();
    // Waits up to budgetMs for backup workers (the quit handler's first step after the recorder).
    void waitBackupWorkers(int budgetMs);

    // Button actions of both bars.
    void onUiButton(int ub);
    void moveUiButton(int ub, int toArea, int insertIndex);
    void onGearMenuAction(int action);

    void setPrompter(Prompter prompter) { m_prompter = std::move(prompter); }
    // Replaces the usage report of market apps (tests).
    using AppStatReporter = std::function<void(const QString& appId, const QString& event, const QString& token)>;
    void setAppStatReporter(AppStatReporter reporter) { m_reportAppStat = std::move(reporter); }

    TitleBarActions* titleBar() const { return m_titleBar; }
    BottomBar* bottomBar() const { return m_bottomBar; }
    Sidebar* sidebar() const { return m_sidebar; }
    IconGrid* iconGrid() const { return m_grid; }
    SearchPanel* searchPanel() const { return m_searchPanel; }
    BorderFrame* borderFrame() const { return m_borderFrame; }
    UiLockOverlay* lockOverlay() const { return m_lockOverlay; }
    Toast* toast() const { return m_toast; }

    // The item menu: built for an item of the current group (nullptr when there is none at that index) and run
    // with the entry chosen. showItemMenu pops it up at the pointer; tests build and run it without a popup.
    QMenu* buildItemMenu(int itemIndex);
    void runItemMenuAction(QAction* chosen);
    // What the menu's actions ask the user through (replaceable by tests): the file picker of "relocate" and the
    // modal run of the edit dialog (returns the dialog's result code).
    struct ItemMenuHooks
    {
        std::function<QString(QWidget* parent, const QString& caption, const QString& filter)> openFile;
        std::function<int(ShortcutEditDialog& dialog)> runEditDialog;
        // The invalid-path check itself; runs on a worker thread.
        std::function<QSet<QString>(const QList<Group>& groups)> checkInvalidPaths;
    };
    void setItemMenuHooks(ItemMenuHooks hooks);

    // The invalid item paths of the last finished check, and whether a check is running on the worker.
    const QSet<QString>& invalidPaths() const { return m_invalidPaths; }
    bool invalidPathsCheckRunning() const;

    // Floating icons: the open windows in creation order.
    void floatItem(int itemIndex);
    const QList<FloatIcon*>& floatIcons() const { return m_floatIcons; }

    // The first size of the window: 680 x 496, or the remembered size fitted to the work area (an invalid
    // area means no screen).
    static QSize initialWindowSize(bool rememberGeometry, const QSize& saved, const QSize& available);
    // The token heartbeat in seconds: KTR_TOKEN_HEARTBEAT_SEC, 60 when unset, not a number or below 1.
    static int tokenHeartbeatSeconds();

public Q_SLOTS:
    void onGroupSelected(int index);
    void onCreateGroup(const QString& name);
    void onRenameGroup(int index, const QString& name);
    void onDeleteGroup(int index);
    void onGroupCleared(int index);
    void onUrlsDroppedToGroup(int groupIndex, const QList<QUrl>& urls);
    void onShellItemsDroppedToGroup(int groupIndex, const QList<QPair<QString, QString>>& items);
    void onItemMoved(int fromGroup, int itemIndex, int toGroup);
    void onItemReordered(int from, int to);
    void onItemActivated(int itemIndex);
    void refreshTheme();
    void toggleSearch();
    void onGroupDragDisplace(int from, int to);
    void removeFloatIcon(FloatIcon* icon);
    void removeAllFloatIcons();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Steps other parts of the window fill in; here they keep the constructor's order.
    void fitToScreen();
    void toggleOrientation();
    void openSettings();
    void setPinned(bool pinned);
    void snapToDockEdge();
    bool dockRevealedAndSummoned() const;
    void onGearMenuAboutToShow();
    void refreshSearch(const QString& text);
    void runSearchResult(int row);
    void runSearchItem(int group, int item);
    bool menuItemStillThere() const;
    void editMenuItem();
    void relocateMenuItem();
    void restoreMenuItemIcon();
    void createMenuItemShortcut();
    void removeMenuItem();
    void clearInvalidItems();
    void refreshInvalidPaths();
    void pollSupportUnread();
    void pollDockCursor();
    void fetchLatestNotice();
    void checkTokenAlive();
    void runAutoBackupIfDue();
    void checkForUpdates(bool beta, bool manual);
    void syncDesktopIcons();
    void showItemMenu(int itemIndex, const QPoint& globalPos);
    void onAppInstalled(const QString& name, const QString& exePath);
    void applySettings();
    void layoutChildren();
    void showLockOverlay();
    void uiLockAction();
    void toggleObfuscation();
    void startScreenMonitor();
    void showTrayAndHide();
    void loadAuth();
    void tryAutoLogin();
    void onAuthLost(const QString& reason);
    void syncLockState();
    void startupAccountStep();

    void openAppMarket();
    void openSupportChat();
    void switchTheme();

    // After a change of the model: save "layout.json", lay the grid out again and repaint (the grid follows
    // the model even when the file could not be written).
    void commitModelChange();
    void repaintPanels();
    void relayoutGrid();
    void refreshGridIcons();
    QString resolveTarget(const QString& path) const;
    QTimer* makeTimer(const char* name, int intervalMs, bool singleShot);

    ConfigStore m_store;
    AppSettings m_settings;
    AuthManager m_auth;
    QList<Group> m_groups;
    int m_currentIndex = 0;
    QSize m_savedSize{-1, -1};

    TitleBarActions* m_titleBar = nullptr;
    Sidebar* m_sidebar = nullptr;
    IconGrid* m_grid = nullptr;
    QWidget* m_sidebarWidget = nullptr; // the same two widgets, as widgets
    QWidget* m_gridWidget = nullptr;
    BottomBar* m_bottomBar = nullptr;
    SearchPanel* m_searchPanel = nullptr;
    BorderFrame* m_borderFrame = nullptr;
    Toast* m_toast = nullptr;
    UiLockOverlay* m_lockOverlay = nullptr;
    QPixmap m_logo;

    std::function<void()> m_appMarketAction;
    std::function<void()> m_supportChatAction;
    std::function<void()> m_themeSwitchAction;

    QStringList m_iconQueue;
    QTimer* m_iconQueueTimer = nullptr;
    QTimer* m_repaintTimer = nullptr;
    QTimer* m_invalidPathsTimer = nullptr;
    QTimer* m_searchTimer = nullptr;
    QTimer* m_supportUnreadTimer = nullptr;
    QTimer* m_dockPollTimer = nullptr;
    QTimer* m_noticeTimer = nullptr;
    QTimer* m_heartbeatTimer = nullptr;
    QTimer* m_autoBackupTimer = nullptr;

    bool m_constructed = false;
    bool m_pinned = false;
    bool m_settingsRefreshPending = false;
    bool m_authLostRunning = false;

    QString m_token;
    QString m_userName;
    QString m_savedPassword;
    bool m_rememberLogin = false;
    bool m_autoLogin = false;
    QString m_reportedToken;

    QPointer<SettingsDialog> m_settingsDialog;
    QPointer<AppMarketDialog> m_appMarket;
    QPointer<SupportChatDialog> m_supportChat;

    Prompter m_prompter;

    // The item menu: the item it was opened for (a copy), where it was, and the hooks of its dialogs.
    Item m_menuItem;
    int m_menuGroup = -1;
    int m_menuIndex = -1;
    ItemMenuHooks m_itemMenuHooks;
    // The invalid-path check on the worker: one at a time, another one queued when asked while it runs.
    QSet<QString> m_invalidPaths;
    QFutureWatcher<QSet<QString>>* m_invalidPathsWatcher = nullptr;
    bool m_invalidPathsAgain = false;
    QList<FloatIcon*> m_floatIcons;
    AppStatReporter m_reportAppStat;
};
