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

class BackupJobs;
class BackupScheduler;
class BorderFrame;
class BottomBar;
class FloatIcon;
class IconGrid;
class IconQueue;
class InvalidPathCheck;
class ItemMenuController;
class LockController;
class ProgramMaintenance;
class QAction;
class QLineEdit;
class QListWidget;
class QMenu;
class QScreen;
class QTimer;
class RecorderButton;
class SessionController;
class SettingsDialog;
class StartupLayout;
class ShortcutEditDialog;
class Sidebar;
class SupportPoller;
class TitleBarActions;
class TrayController;
class WindowBackground;
class WindowOnline;
class WindowFiles;
class WindowSearch;
class WindowStateController;

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
    PanelModel& model() { return m_model; }

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
    // Window state: shown from anywhere, pinned on top, started with the session, docked, moved by its
    // frame; and the tray the window closes and minimises to.
    WindowStateController* windowStateController() const { return m_winState; }
    TrayController* tray() const { return m_tray; }
    void restoreWindow();
    // Start steps the first frame does not need (FirstPaintSteps).
    void afterFirstPaint(std::function<void()> step);

    // The settings dialog, the backup file of the panel's own data and the reloads after it.
    SettingsBridge* settingsBridge() const { return m_settingsBridge; }

    TitleBarActions* titleBar() const { return m_titleBar; }
    BottomBar* bottomBar() const { return m_bottomBar; }
    Sidebar* sidebar() const { return m_sidebar; }
    IconGrid* iconGrid() const { return m_grid; }
    // The search: its panel is built on first use, not at start.
    WindowSearch* search() const { return m_search; }
    BorderFrame* borderFrame() const { return m_borderFrame; }
    LockController* lockController() const { return m_lock; }
    // The online side: the session, the support chat and its poller, the market window, the shared network.
    WindowOnline* online() const { return m_online; }
    SessionController* session() const;
    SupportPoller* supportPoller() const;
    // The bubble of the latest message: the panel's, or the settings dialog's while it is open.
    Toast* toast() const { return m_toast; }

    // The item menu and the floating icons it makes.
    ItemMenuController* itemMenu() const { return m_itemMenu; }

    // Which items' targets are missing, found on a worker when their folders change.
    InvalidPathCheck* invalidPathCheck() const { return m_invalid; }

    // The first size of the window: 680 x 496, or the remembered size fitted to the work area (an invalid
    // area means no screen).
    static QSize initialWindowSize(bool rememberGeometry, const QSize& saved, const QSize& available);

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
    void toggleOrientation();
    void onGearMenuAboutToShow();
    void onIconsChanged();
    void layoutChildren();
    void exportLogs();
    void startScreenMonitor();

    // The window's entry points into its controllers.
    void buildOnline();
    void buildLock();
    void buildMaintenance();
    BackupScheduler::Host backupHost(); // mainwindow_backup.cpp
    void connectBackupOutcomes();       // mainwindow_backup.cpp

    // The window's files and the settings dialog's bridge, made and wired.
    void buildFiles();
    SettingsBridge::Host settingsBridgeHost(); // mainwindow_bridge.cpp

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
    WindowOnline* m_online = nullptr; // the session, the support poller and the shared network manager
    BackupScheduler* m_backups = nullptr;
    BackupJobs* m_backupJobs = nullptr;          // the backups a person starts in the settings dialog
    ProgramMaintenance* m_maintenance = nullptr; // self-update, uninstall, factory reset
    LockController* m_lock = nullptr;
    RecorderButton* m_recorder = nullptr;
    QMap<int, std::function<void()>> m_buttonHandlers;

    bool m_constructed = false;
    TrayController* m_tray = nullptr;
    WindowStateController* m_winState = nullptr;

    SettingsBridge* m_settingsBridge = nullptr;

    ItemMenuController* m_itemMenu = nullptr;
    InvalidPathCheck* m_invalid = nullptr;
};
