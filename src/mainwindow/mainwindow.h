#pragma once

#include "backup/backupscheduler.h"
#include "mainwindow/settingsbridge.h"
#include "mainwindow/windowappearance.h"
#include "model/configstore.h"
#include "model/panelmodel.h"
#include "model/settingsnotifier.h"
#include "ui/appsettings.h"
#include "ui/toast.h"

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
class BackupJobs;
class BackupScheduler;
class BorderFrame;
class BottomBar;
class EdgeDock;
class FloatIcon;
class FrameDrag;
class IconGrid;
class IconQueue;
class InvalidPathCheck;
class ItemMenuController;
class LockController;
class QAction;
class QLineEdit;
class QListWidget;
class QMenu;
class QNetworkAccessManager;
class QScreen;
class QSystemTrayIcon;
class QTimer;
class RecorderButton;
class SessionController;
class SummonHotkey;
class SettingsDialog;
class StartupLayout;
class ShortcutEditDialog;
class Sidebar;
class SupportChatDialog;
class SupportPoller;
class TitleBarActions;
class UiLockOverlay;
class UpdateChecker;
class WindowBackground;
class WindowFiles;
class WindowSearch;
enum class FrameHit;

// The panel's one top-level window: a frameless, translucent shell that owns the model, the settings record,
// the widgets and the controllers of the other subsystems, and wires them: the widgets' signals become model
// changes, the model's signals repaint the widgets, the controllers' signals reach whoever reacts.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The model (read in place by the widgets).
    const QList<Group>& groups() const { return m_model.groups(); }
    int currentIndex() const { return m_model.currentIndex(); }
    PanelModel& model() { return m_model; }
    int findGroupByName(const QString& name, int excluded = -1) const { return m_model.findGroup(name, excluded); }
    void setCurrentGroup(int index) { m_model.setCurrentGroup(index); }

    // Files of the window ("layout.json", "settings.json"), through the one store; the two saves many
    // callers make are the window's own entry points.
    WindowFiles* files() const { return m_files; }
    bool saveLayout();
    bool saveSettings();
    const AppSettings& settings() const { return m_settings; }
    AppSettings& settings() { return m_settings; }
    bool constructionFinished() const { return m_constructed; }
    // Tells which settings changed each time the window applied its record.
    SettingsNotifier& settingsNotifier() { return m_settingsNotifier; }

    // The one way the panel shows a notice. The text is already translated.
    void showToast(const QString& text, Toast::Kind kind);

    // Starts a target with its working folder, arguments and elevation (no existence check, no report).
    void launchTarget(const QString& path, const QString& workDir, const QString& args, bool runAsAdmin);

    // The icon load queue: paths queued by a load, a drop or a relocation go to the loader in the order seen.
    IconQueue* icons() const { return m_icons; }
    void reloadAllIcons();

    // Stops the timers and network requests of every component (shutdown, update installation, factory
    // reset); each component stops its own.
    void abortNetwork();
    // Waits up to budgetMs for backup workers (the quit handler's first step after the recorder).
    void waitBackupWorkers(int budgetMs);
    BackupScheduler* backupScheduler() const { return m_backups; }
    BackupJobs* backupJobs() const { return m_backupJobs; }

    // Button actions of both bars.
    void onUiButton(int ub);
    void moveUiButton(int ub, int toArea, int insertIndex);
    // An entry of the gear menu (GearMenuPopup::Entry).
    void onGearMenuAction(int action);

    // Pushes the whole settings record into the running window, or only its visual half.
    void applySettings();
    void applyAppearance(const AppSettings& s);
    // Gives the window and the children at its corners the corner radius the compositor allows.
    void applyCornerRadius();
    // A device pixel ratio seen on the window's screen: when it differs from the last one, the scaled
    // images are dropped, the icons asked for again and a full refresh follows after 200 ms.
    void noteDevicePixelRatio(qreal ratio);

    // What the window paints (read by tests).
    bool portraitMode() const { return m_portrait; }
    // Radius, alpha, border, title: what the settings made of the frame.
    const WindowLook& look() const { return m_look; }
    // The background picture (still, GIF or video) and the logo.
    WindowBackground* background() const { return m_background; }
    // Window state: shown from anywhere, pinned on top, started with the session, kept in the tray.
    void restoreWindow();
    bool isPinned() const { return m_pinned; }
    // Writes or removes the autostart entry; 0 on success, else the error code of the failed file step.
    int setAutoStart(bool on);
    QIcon appIcon() const;
    void createTrayIcon();
    void updateTrayVisibility();
    // The tray icon asked for by the start's settings, made once the window has painted (or a second later).
    void takeDeferredTray();
    // Start steps the first frame does not need: run once the window has painted (or a second after the
    // first was asked for, for a window that never paints); at once when it already has.
    void afterFirstPaint(std::function<void()> step);
    void runAfterFirstPaint();
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

    // The settings dialog, the backup file of the panel's own data and the reloads after it.
    SettingsBridge* settingsBridge() const { return m_settingsBridge; }

    // Replaces the usage report of market apps (tests).
    using AppStatReporter = std::function<void(const QString& appId, const QString& event, const QString& token)>;
    void setAppStatReporter(AppStatReporter reporter) { m_reportAppStat = std::move(reporter); }

    // The self-update controller; how the process ends after the factory-reset script started (tests).
    UpdateChecker* updates() const { return m_updates; }
    void setHardExit(std::function<void(int)> hardExit) { m_hardExit = std::move(hardExit); }

    TitleBarActions* titleBar() const { return m_titleBar; }
    BottomBar* bottomBar() const { return m_bottomBar; }
    Sidebar* sidebar() const { return m_sidebar; }
    IconGrid* iconGrid() const { return m_grid; }
    // The search: its panel is built on first use, not at start.
    WindowSearch* search() const { return m_search; }
    BorderFrame* borderFrame() const { return m_borderFrame; }
    UiLockOverlay* lockOverlay() const;
    LockController* lockController() const { return m_lock; }
    SessionController* session() const { return m_session; }
    SupportPoller* supportPoller() const { return m_support; }
    SupportChatDialog* supportChat() const;
    QNetworkAccessManager* network() const { return m_network; }
    // The bubble of the latest message: the panel's, or the settings dialog's while it is open.
    Toast* toast() const { return m_toast; }
    AppMarketDialog* appMarket() const;
    // The market button: creates the market window on first use and opens it with the session's token.
    void openAppMarket();

    // The item menu and the floating icons it makes.
    ItemMenuController* itemMenu() const { return m_itemMenu; }

    // Which items' targets are missing, found on a worker when their folders change.
    InvalidPathCheck* invalidPathCheck() const { return m_invalid; }

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
    void onGroupDragDisplace(int from, int to);
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
    void buildWidgets();
    void buildControllers();
    void connectModel();
    void fitToScreen();
    void toggleOrientation();
    void setPinned(bool pinned);
    void snapToDockEdge();
    bool dockRevealedAndSummoned() const;
    void onGearMenuAboutToShow();
    void pollDockCursor();
    void checkForUpdates(bool beta, bool manual);
    void setupUpdates();
    // Before the hard exits of the update and the factory reset: network, timers and the recorder stop.
    void prepareHardExit();
    void onAppInstalled(const QString& name, const QString& exePath);
    void onAppUninstalled(const QString& appId, const QString& appDir, const QString& desktopEntry);
    void onIconsChanged();
    void layoutChildren();
    void exportLogs();
    void uninstallProgram(bool removeAll);
    void factoryReset();
    // The interface lock and the obfuscation protection (mainwindow_lock.cpp).
    void buildLockController();
    void refreshLockButtons();
    void onLockEngaged();
    void toggleUiLock();
    void engageUiLock();
    void unlockUi();
    void toggleObfuscation();
    void onProtectCommitted(const QString& hash, const QMap<QString, QString>& obfuscateMap);
    void onLockBackgroundChosen(const QString& path);
    void startScreenMonitor();
    void showTrayAndHide();
    void setupWindowState();
    void applyDockSettings();
    void refreshDockScreens();
    void watchScreen(QScreen* screen);
    bool trayUsable() const;
    bool startFrameDrag(const QPoint& globalPos, bool overChild);

    // The window's entry points into its controllers.
    void connectOnline();
    bool showLoginDialog();
    void loginFromMarket();
    void loginFromChat();
    void loadAuth();
    void checkTokenAlive();
    void onAuthLost(const QString& reason);
    void onSessionLost();
    void pollSupportUnread();
    void fetchLatestNotice();
    BackupScheduler::Host backupHost(); // mainwindow_backup.cpp
    void connectBackupOutcomes();       // mainwindow_backup.cpp

    // The window's files and the settings dialog's bridge, made and wired.
    void buildFiles();
    SettingsBridge::Host settingsBridgeHost(); // mainwindow_bridge.cpp

    void openSupportChat();
    void switchTheme();

    // The buttons of both bars, by id; the window's own buttons (orientation, settings, pin, minimise,
    // close) act even while the interface is locked.
    void buildButtonHandlers();
    bool runWindowButton(int ub);
    // Re-applies the texts the window shows after a change of language.
    void retranslate();
    // After a change of the model: save "layout.json", lay the grid out again and repaint (the grid follows
    // the model even when the file could not be written).
    void commitModelChange();
    void repaintPanels();
    void relayoutGrid();
    void refreshGridIcons();
    QString resolveTarget(const QString& path) const;

    // Appearance: window opacity, backgrounds, the ratio refresh.
    void applyWindowOpacity(const AppSettings& s);
    void onScreenChanged();
    void runRatioRefresh();

    AppSettings m_settings;
    SettingsNotifier m_settingsNotifier;
    PanelModel m_model;
    WindowFiles* m_files = nullptr;

    TitleBarActions* m_titleBar = nullptr;
    Sidebar* m_sidebar = nullptr;
    IconGrid* m_grid = nullptr;
    BottomBar* m_bottomBar = nullptr;
    WindowSearch* m_search = nullptr;
    BorderFrame* m_borderFrame = nullptr;
    QPointer<Toast> m_toast;

    bool m_portrait = false;
    QRect m_landscapeGeometry;
    WindowLook m_look;
    WindowBackground* m_background = nullptr;
    IconQueue* m_icons = nullptr;

    // The controllers of the other subsystems.
    QNetworkAccessManager* m_network = nullptr; // shared by the controllers' service requests
    SessionController* m_session = nullptr;
    BackupScheduler* m_backups = nullptr;
    BackupJobs* m_backupJobs = nullptr; // the backups a person starts in the settings dialog
    UpdateChecker* m_updates = nullptr;
    SupportPoller* m_support = nullptr;
    LockController* m_lock = nullptr;
    RecorderButton* m_recorder = nullptr;
    QMap<int, std::function<void()>> m_buttonHandlers;

    bool m_constructed = false;
    bool m_firstPaintDone = false;
    bool m_trayAfterFirstPaint = false;
    bool m_firstFrameLogged = false;
    QList<std::function<void()>> m_afterFirstPaint;
    bool m_pinned = false;
    bool m_quitRequested = false;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    EdgeDock* m_dock = nullptr;
    FrameDrag* m_frameDrag = nullptr;
    SummonHotkey* m_summonHotkey = nullptr;

    SettingsBridge* m_settingsBridge = nullptr;
    QPointer<AppMarketDialog> m_appMarket;
    QPointer<SupportChatDialog> m_supportChat;

    ItemMenuController* m_itemMenu = nullptr;
    InvalidPathCheck* m_invalid = nullptr;
    AppStatReporter m_reportAppStat;
    std::function<void(int)> m_hardExit;
};
