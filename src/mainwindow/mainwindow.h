#pragma once

#include "account/authmanager.h"
#include "model/configstore.h"
#include "mainwindow/searchpanel.h"
#include "mainwindow/videoframefeed.h"
#include "model/panelmodel.h"
#include "ui/appsettings.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QMap>
#include <QPair>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>

class AppMarketDialog;
class BorderFrame;
class BottomBar;
class EdgeDock;
class FloatIcon;
class FrameDrag;
class IconGrid;
class QAction;
template <typename T>
class QFutureWatcher;
class QLineEdit;
class QListWidget;
class QMenu;
class QMovie;
class QScreen;
class QSystemTrayIcon;
class QTimer;
class SummonHotkey;
class SettingsDialog;
class ShortcutEditDialog;
class Sidebar;
class SupportChatDialog;
class TitleBarActions;
class Toast;
class UiLockOverlay;
class VideoBackground;
enum class FrameHit;

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

    // File dialogs of the user-data export and import, replaceable by tests: each returns the chosen file,
    // empty when cancelled.
    struct FileChooser
    {
        std::function<QString(const QString& caption, const QString& suggested, const QString& filter)> saveFileName;
        std::function<QString(const QString& caption, const QString& folder, const QString& filter)> openFileName;
    };

    // Everything the settings dialog is built from, in its constructor's order. Tests replace the
    // construction to watch the callbacks.
    struct SettingsDialogArgs
    {
        AppSettings* settings = nullptr;
        QString dataDir;
        std::function<void()> onClearIconCache;
        std::function<void(const AppSettings&)> onSettingsChanged;
        std::function<void()> onExportUserData;
        std::function<void()> onImportUserData;
        std::function<void()> onCheckUpdate;
        std::function<void()> onExportLogs;
        std::function<void(bool)> onUninstall;
        const QList<Group>* groups = nullptr;
        std::function<void()> onIconsChanged;
        std::function<void(const QString&)> onLockBackgroundChosen;
        std::function<void(const QString&, const QMap<QString, QString>&)> onProtectCommitted;
        std::function<void()> onSnapshotRestored;
    };
    using SettingsDialogFactory = std::function<SettingsDialog*(const SettingsDialogArgs&)>;

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

    // Pushes the whole settings record into the running window, or only its visual half.
    void applySettings();
    void applyAppearance(const AppSettings& s);
    // Rebuilds the scaled background and logo caches that are stale; true when one was rebuilt.
    bool refreshScaledPixmaps();
    // A device pixel ratio seen on the window's screen: when it differs from the last one, the scaled
    // images are dropped, the icons asked for again and a full refresh follows after 200 ms.
    void noteDevicePixelRatio(qreal ratio);

    // What the window paints (read by tests).
    bool portraitMode() const { return m_portrait; }
    int windowRadius() const { return m_windowRadius; }
    int windowAlpha() const { return m_windowAlpha; }
    bool isNearlyInvisible() const { return m_nearlyInvisible; }
    bool isClickThrough() const { return m_clickThrough; }
    QColor borderColor() const { return m_borderColor; }
    int backgroundOpacity() const { return m_bgOpacity; }
    QPixmap stillBackground() const { return m_still; }
    QMovie* backgroundMovie() const { return m_movie; }
    bool isVideoPlaying() const { return m_videoPlaying; }
    QString failedVideoPath() const { return m_failedVideoPath; }
    QString titleText() const { return m_titleText; }
    // The clock the video background's time limit is measured with (tests).
    void setVideoClock(const ktr::platform::Clock* clock) { m_videoFeed = VideoFrameFeed(clock); }
    // Window state: shown from anywhere, pinned on top, started with the session, kept in the tray.
    void restoreWindow();
    bool isPinned() const { return m_pinned; }
    // Writes or removes the autostart entry; 0 on success, else the error code of the failed file step.
    int setAutoStart(bool on);
    QIcon appIcon() const;
    void createTrayIcon();
    void updateTrayVisibility();
    void updateTrayIcon();
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* trayMenu() const { return m_trayMenu; }
    // The tray menu's quit: the one close that never goes to the tray.
    void quitFromTray();
    // The summon hotkey (summonHotkey setting): announce tells the user whether registering worked.
    void registerSummonHotkey(bool announce);
    void unregisterSummonHotkey();
    void summonWindow();
    // The screen recorder ran out of disk space.
    void showDiskFullNotice();
    EdgeDock* edgeDock() const { return m_dock; }
    FrameDrag* frameDrag() const { return m_frameDrag; }
    // What a press at a window point does on the frameless window (move, resize or content).
    FrameHit frameHitAt(const QPoint& local) const;

    void setPrompter(Prompter prompter) { m_prompter = std::move(prompter); }
    void setFileChooser(FileChooser chooser) { m_fileChooser = std::move(chooser); }
    void setSettingsDialogFactory(SettingsDialogFactory factory) { m_settingsDialogFactory = std::move(factory); }
    SettingsDialog* settingsDialog() const;

    // The panel's own data as one backup file, and back (both ask for the file first).
    void exportUserData();
    void importUserData();
    // Re-reads the layout and the settings after a snapshot was restored.
    void reloadUserData();

    // Top left corner for a dialog of `size` beside the window frame `frame`, inside `available`: right of
    // it, left of it or below it, whichever covers the window least (the earlier one on a tie).
    static QPoint settingsDialogPosition(const QRect& available, const QRect& frame, const QSize& size);
    // Whether an update check asked for in the settings dialog looks at the beta channel: the dialog's
    // edited channel when one is open and set (not negative), otherwise the saved channel.
    static bool updateCheckIsBeta(bool dialogOpen, int editedChannel, int savedChannel);
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
    // Opens the settings dialog beside the window, or raises the open one; a locked panel asks to unlock.
    void openSettings();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Steps other parts of the window fill in; here they keep the constructor's order.
    void fitToScreen();
    void toggleOrientation();
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
    void layoutChildren();
    void exportLogs();
    void uninstallProgram(bool removeAll);
    void factoryReset();
    void showLockOverlay();
    void uiLockAction();
    void toggleObfuscation();
    void startScreenMonitor();
    void showTrayAndHide();
    void setupWindowState();
    void applyDockSettings();
    void refreshDockScreens();
    void watchScreen(QScreen* screen);
    bool trayUsable() const;
    bool startFrameDrag(const QPoint& globalPos, bool overChild);
    void loadAuth();
    void tryAutoLogin();
    void onAuthLost(const QString& reason);
    void syncLockState();
    void startupAccountStep();

    // The settings dialog bridge.
    SettingsDialogArgs settingsDialogArgs();
    void onSettingsFinished(int result, const QString& hotkeyBefore, bool autoClassifyBefore);
    void setRecorderButtonActive(bool active);
    void reloadAfterImport();
    void applyReloadedLanguage(int languageBefore);

    void openAppMarket();
    void openSupportChat();
    void switchTheme();

    // After a change of the model: save "layout.json", lay the grid out again and repaint (the grid follows
    // the model even when the file could not be written).
    // Ids 0..4 (orientation, settings, pin, minimise, close); false for any other id.
    bool runWindowButton(int ub);
    // Re-applies the texts the window shows after a change of language.
    void retranslate();
    void commitModelChange();
    void repaintPanels();
    void relayoutGrid();
    void refreshGridIcons();
    QString resolveTarget(const QString& path) const;
    QTimer* makeTimer(const char* name, int intervalMs, bool singleShot);

    // Appearance: window opacity, backgrounds, scaled caches, the ratio refresh.
    void applyWindowOpacity(const AppSettings& s);
    void applyBackground(const QString& path);
    void startGifBackground(const QString& path);
    void pullVideoFrame();
    void videoFailed();
    void scheduleScaledPixmapRefresh();
    void onScreenChanged();
    void runRatioRefresh();
    void restartGifAtWindowSize();
    QSize deviceSize() const;

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

    // Appearance state.
    bool m_portrait = false;
    QRect m_landscapeGeometry;
    int m_windowRadius = 12;
    QString m_titleText;
    bool m_showTitle = true;
    bool m_showLogo = true;
    bool m_ratioRefreshBusy = false;
    QTimer* m_resizeDebounce = nullptr;
    QTimer* m_ratioDebounce = nullptr;
    qreal m_lastRatio = 0;
    QString m_lastBgPath;
    QString m_failedVideoPath;
    int m_bgOpacity = 100;
    QPixmap m_still;
    QPixmap m_scaledBg;
    QSize m_scaledBgSize;
    qreal m_scaledBgRatio = 0;
    QMovie* m_movie = nullptr;
    QPixmap m_movieCache;
    int m_movieCacheFrame = -1;
    QSize m_movieCacheSize;
    qreal m_movieCacheRatio = 0;
    bool m_videoPlaying = false;
    QPixmap m_videoFrame;
    VideoBackground* m_video = nullptr;
    QTimer* m_videoTimer = nullptr;
    VideoFrameFeed m_videoFeed;
    QPixmap m_customLogo;
    QPixmap m_appIconImage; // the program icon picture last applied (live previews included)
    QString m_lastLogoPath;
    QString m_lastAppIconPath;
    QPixmap m_scaledLogo;
    qreal m_scaledLogoRatio = 0;
    int m_windowAlpha = 255;
    bool m_nearlyInvisible = false;
    bool m_clickThrough = false;
    QColor m_borderColor;
    QTimer* m_scaledRefreshTimer = nullptr;
    int m_scaledRefreshRetries = 0;

    std::function<void()> m_appMarketAction;
    std::function<void()> m_supportChatAction;
    std::function<void()> m_themeSwitchAction;

    QStringList m_iconQueue;
    int m_iconLoadsInFlight = 0; // queued loads whose result has not arrived yet
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
    bool m_quitRequested = false;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    EdgeDock* m_dock = nullptr;
    FrameDrag* m_frameDrag = nullptr;
    SummonHotkey* m_summonHotkey = nullptr;
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
    FileChooser m_fileChooser;
    SettingsDialogFactory m_settingsDialogFactory;
    AppStatReporter m_reportAppStat;
};
