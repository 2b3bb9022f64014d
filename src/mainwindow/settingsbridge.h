#pragma once

#include "model/panelmodel.h"
#include "ui/appsettings.h"
#include "ui/toast.h"

#include <QMap>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class BackupJobs;
class SettingsDialog;
class SummonHotkey;
class WindowFiles;

// The window's side of the settings dialog: it opens the dialog beside the panel with what it runs, keeps it
// in step with the panel while it is open, takes the edited record when it closes, and does the backup file
// of the panel's own data (export, import) and the reloads after an import or a restored snapshot.
class SettingsBridge : public QObject
{
    Q_OBJECT
public:
    // Everything the settings dialog is built from, in its constructor's order. Tests replace the
    // construction to watch the callbacks.
    struct DialogArgs
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
    };
    using DialogFactory = std::function<SettingsDialog*(const DialogArgs&)>;

    // What the bridge needs of the window.
    struct Host
    {
        QWidget* window = nullptr; // the dialog's owner and the place it is put beside
        AppSettings* settings = nullptr;
        PanelModel* model = nullptr;
        WindowFiles* files = nullptr;
        std::function<bool()> locked; // the interface lock keeps the dialog shut
        std::function<BackupJobs*()> backupJobs;
        std::function<SummonHotkey*()> summonHotkey;
        std::function<void(const QString& text, Toast::Kind kind)> toast;

        // What the dialog's pages run.
        std::function<void()> clearIconCache;
        std::function<void(const AppSettings& edited)> preview;
        std::function<void(bool beta)> checkUpdate;
        std::function<void()> exportLogs;
        std::function<void(bool removeAll)> uninstall;
        std::function<void()> iconsChanged;
        std::function<void(const QString& path)> lockBackgroundChosen;
        std::function<void(const QString& hash, const QMap<QString, QString>& obfuscateMap)> protectCommitted;
        std::function<void()> factoryReset;

        // Around the dialog's run and the reloads.
        std::function<void()> unregisterHotkey;
        std::function<void()> registerHotkey;
        std::function<void()> applySettings;
        std::function<int(bool on)> setAutoStart;
        std::function<void(AppSettings& imported)> guardImport;
        std::function<bool(const AppSettings& before)> guardRestore; // true when the record was changed back
        std::function<void()> settingsReloaded;
        std::function<void()> refreshLockButtons;
        std::function<void()> loadAuth;
        std::function<void()> refreshGridIcons;
        std::function<void()> repaintPanels;
    };

    explicit SettingsBridge(Host host, QObject* parent = nullptr);

    void setDialogFactory(DialogFactory factory) { m_factory = std::move(factory); }
    SettingsDialog* dialog() const;

    // Opens the settings dialog beside the window, or raises the open one; a locked panel asks to unlock.
    void open();
    // An open dialog previews its whole copy: it hears of what the panel changed meanwhile.
    void followPanel();
    // The dialog's lists are made again once the current event is done (once however often asked), when it
    // is on show.
    void refreshShownDialogSoon();

    // The panel's own data as one backup file, and back (both ask for the file first).
    void exportUserData();
    void importUserData();
    // Re-reads the layout and the settings after a snapshot was restored; the protection stays as it was unless
    // the current password is given.
    void reloadUserData();

    // Top left corner for a dialog of `size` beside the window frame `frame`, inside `available`: right of
    // it, left of it or below it, whichever covers the window least (the earlier one on a tie).
    static QPoint dialogPosition(const QRect& available, const QRect& frame, const QSize& size);
    // Whether an update check asked for in the settings dialog looks at the beta channel: the dialog's
    // edited channel when one is open and set (not negative), otherwise the saved channel.
    static bool updateCheckIsBeta(bool dialogOpen, int editedChannel, int savedChannel);

private:
    DialogArgs dialogArgs();
    void finished(int result, const QString& hotkeyBefore, bool autoClassifyBefore);
    void scheduleRefresh();
    void reloadAfterImport();
    void applyReloadedLanguage(int languageBefore);

    Host m_host;
    QPointer<SettingsDialog> m_dialog;
    DialogFactory m_factory;
    bool m_refreshPending = false;
};
