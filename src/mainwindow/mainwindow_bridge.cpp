// The main window's side of the settings dialog, the desktop collection and the user-data backup.

#include "mainwindow/mainwindow.h"

#include "mainwindow/iconqueue.h"

#include "account/sessioncontroller.h"
#include "lock/lockcontroller.h"
#include "lock/uilockoverlay.h"
#include "mainwindow/programmaintenance.h"
#include "mainwindow/summonhotkey.h"
#include "mainwindow/windowstatecontroller.h"
#include "market/appmarketdialog.h"
#include "model/desktopcollect.h"
#include "model/userdatatransfer.h"
#include "panel/bottombar.h"
#include "panel/icongrid.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"
#include "recorder/recorderbutton.h"
#include "settings/settingsdialog.h"
#include "support/supportchatdialog.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

#include <array>

// ---- desktop collection ---------------------------------------------------------------------------------

void MainWindow::syncDesktopIcons()
{
    finishLayoutNow(); // the collected icons join the saved layout, not the empty one of a start
    DesktopCollectResult result;
    m_model.editGroups([&result](QList<Group>& groups) {
        result = collectDesktopIcons(groups, desktopFolders());
        return result.changed();
    });
    for (const QString& path : result.newPaths)
        m_icons->queue(path);
    showToast(result.message, Toast::Info);
}

// ---- user data export and import ------------------------------------------------------------------------

namespace {

// The window the file chooser and the question of an export or import belong to: the settings dialog they
// are asked from when it is open, so closing them hands the focus back to it and does not bring the panel
// up over it.
QWidget* transferCardOwner(QWidget* panel, QWidget* settingsDialog)
{
    return settingsDialog && settingsDialog->isVisible() ? settingsDialog : panel;
}

} // namespace

void MainWindow::exportUserData()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString target =
        ktr::dialogs::saveFile(transferCardOwner(this, m_settingsDialog), exportDialogCaption(),
                               suggestedBackupPath(desktop, QDate::currentDate()), backupFileFilter());
    if (target.isEmpty())
        return;
    finishLayoutSaves(); // the export copies the file: it must hold the last change
    const ExportOutcome outcome = ::exportUserData(target, userDataPaths(m_store), QDateTime::currentDateTime());
    showToast(outcome.message, Toast::Kind(outcome.toastKind));
}

void MainWindow::importUserData()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QWidget* owner = transferCardOwner(this, m_settingsDialog);
    const QString source = ktr::dialogs::openFile(owner, importDialogCaption(), desktop, backupFileFilter());
    if (source.isEmpty())
        return;
    finishLayoutSaves(); // no earlier save may land over the imported file
    ImportHooks hooks;
    hooks.confirm = [owner = QPointer<QWidget>(owner), this] {
        return ktr::dialogs::question(owner ? owner.data() : this, importQuestionTitle(), importQuestionText()) == 1;
    };
    hooks.reload = [this] { reloadAfterImport(); };
    hooks.guardSettings = [this](AppSettings& imported) { m_lock->guardImport(imported); };
    const ImportOutcome outcome = ::importUserData(source, userDataPaths(m_store), m_settings, hooks);
    // The import is usually started from the settings dialog: its copy still holds the settings of before,
    // and its OK would write them straight back over the imported ones.
    if (outcome.status == ImportOutcome::Status::Imported && m_settingsDialog)
        m_settingsDialog->setEditedSettings(m_settings);
    if (!outcome.message.isEmpty())
        showToast(outcome.message, Toast::Kind(outcome.toastKind));
}

void MainWindow::reloadAfterImport()
{
    m_model.replaceGroups({});
    if (!loadLayout())
        buildDefaultLayout();
    const int languageBefore = Lang::language();
    loadSettings();
    applyReloadedLanguage(languageBefore);
    m_lock->settingsReloaded();
    applySettings();
    m_lock->refreshButtons();
    session()->load(); // hands the imported session to the market, the chat and the pollers
    setCurrentGroup(0);
    refreshGridIcons();
    repaintPanels();
}

void MainWindow::reloadUserData()
{
    m_model.replaceGroups({});
    if (!loadLayout())
        buildDefaultLayout();
    if (m_model.currentIndex() >= m_model.groups().size())
        setCurrentGroup(0);
    refreshGridIcons();
    const int languageBefore = Lang::language();
    const AppSettings before = m_settings;
    loadSettings();
    // The backup page is not behind the protection password: a snapshot brings back everything but the
    // protection, unless the current password is given.
    if (m_lock->guardRestore(before))
        saveSettings();
    applyReloadedLanguage(languageBefore);
    m_lock->settingsReloaded();
    applyAppearance(m_settings);
    m_lock->refreshButtons();
    repaintPanels();
    if (m_settingsDialog) {
        // The restored settings replace the dialog's copy, or its OK would undo the restore.
        m_settingsDialog->setEditedSettings(m_settings);
        if (!m_settingsRefreshPending)
            scheduleSettingsRefresh();
    }
}

void MainWindow::applyReloadedLanguage(int languageBefore)
{
    // Loading the settings already switches the table; the window and its children still show the old
    // language until they are told, so compare with the language from before the load.
    const int wanted = m_settings.language > 0 ? 1 : 0;
    if (wanted != Lang::language())
        Lang::setLanguage(wanted);
    if (wanted != languageBefore)
        Lang::notifyChanged();
}

// ---- settings dialog ------------------------------------------------------------------------------------

SettingsDialog* MainWindow::settingsDialog() const
{
    return m_settingsDialog.data();
}

QPoint MainWindow::settingsDialogPosition(const QRect& available, const QRect& frame, const QSize& size)
{
    const QRect window = frame.intersected(available);
    const int w = size.width();
    const int h = size.height();
    const auto clamped = [&](int x, int y) {
        const int maxX = available.right() - w + 1;
        const int maxY = available.bottom() - h + 1;
        x = maxX < available.left() ? available.left() : std::clamp(x, available.left(), maxX);
        y = maxY < available.top() ? available.top() : std::clamp(y, available.top(), maxY);
        return QPoint(x, y);
    };
    const std::array<QPoint, 3> candidates = {
        clamped(window.right() + 8, window.top()),
        clamped(window.left() - w - 8, window.top()),
        clamped(window.left(), window.bottom() + 8),
    };
    QPoint best = candidates[0];
    qint64 bestOverlap = -1;
    for (const QPoint& candidate : candidates) {
        const QRect overlap = QRect(candidate, size).intersected(window);
        const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (bestOverlap < 0 || area < bestOverlap) {
            best = candidate;
            bestOverlap = area;
        }
    }
    // No side has room: the dialog covers the panel wherever it goes, and pushed against a screen edge it
    // would sit in the corner under the tray. Centred on the screen it is whole and where the eye looks.
    if (bestOverlap > 0)
        return clamped(available.left() + (available.width() - w) / 2, available.top() + (available.height() - h) / 2);
    return best;
}

void MainWindow::followPanelInSettingsDialog()
{
    // An open dialog previews its whole copy: it must hear of what the panel changed meanwhile.
    if (m_settingsDialog && m_settingsDialog->isVisible())
        m_settingsDialog->followPanel();
}

bool MainWindow::updateCheckIsBeta(bool dialogOpen, int editedChannel, int savedChannel)
{
    if (dialogOpen && editedChannel >= 0)
        return editedChannel != 0;
    return savedChannel == 1;
}

MainWindow::SettingsDialogArgs MainWindow::settingsDialogArgs()
{
    SettingsDialogArgs args;
    args.settings = &m_settings;
    args.dataDir = QFileInfo(m_store.layoutPath()).absolutePath();
    args.onClearIconCache = [this] { reloadAllIcons(); };
    args.onSettingsChanged = [this](const AppSettings& edited) { applyAppearance(edited); };
    args.onExportUserData = [this] { exportUserData(); };
    args.onImportUserData = [this] { importUserData(); };
    args.onCheckUpdate = [this] {
        const bool open = !m_settingsDialog.isNull();
        const int edited = open ? m_settingsDialog->editedSettings().updateChannel : -1;
        m_maintenance->checkForUpdates(updateCheckIsBeta(open, edited, m_settings.updateChannel), true);
    };
    args.onExportLogs = [this] { exportLogs(); };
    args.onUninstall = [this](bool removeAll) { m_maintenance->uninstallProgram(removeAll); };
    args.groups = &m_model.groups();
    args.onIconsChanged = [this] { onIconsChanged(); };
    args.onLockBackgroundChosen = [this](const QString& path) { m_lock->onLockBackgroundChosen(path); };
    args.onProtectCommitted = [this](const QString& hash, const QMap<QString, QString>& obfuscateMap) {
        m_lock->onProtectCommitted(hash, obfuscateMap);
    };
    return args;
}

void MainWindow::openSettings()
{
    if (m_lock->blocks())
        return;
    if (m_settingsDialog) {
        m_settingsDialog->showNormal();
        m_settingsDialog->raise();
        m_settingsDialog->activateWindow();
        return;
    }

    const SettingsDialogArgs args = settingsDialogArgs();
    SettingsDialog* dialog = nullptr;
    if (m_settingsDialogFactory) {
        dialog = m_settingsDialogFactory(args);
    } else {
        dialog = new SettingsDialog(args.settings, args.dataDir, args.onClearIconCache, args.onSettingsChanged,
                                    args.onExportUserData, args.onImportUserData, args.onCheckUpdate, args.onExportLogs,
                                    args.onUninstall, args.groups, args.onIconsChanged, args.onLockBackgroundChosen,
                                    args.onProtectCommitted, nullptr);
    }
    if (!dialog)
        return;
    dialog->setFactoryResetHandler([this] { m_maintenance->factoryReset(); });
    dialog->setBackupJobs(m_backupJobs);
    dialog->setAttribute(Qt::WA_DeleteOnClose, true);
    // Transient for the panel (a parentless dialog is transient for a hidden window of the toolkit): the
    // window manager keeps it above the panel, also when the panel or a card of it is raised.
    dialog->setParent(this, dialog->windowFlags() | Qt::Dialog);
    m_settingsDialog = dialog;

    // The dialog's hotkey editor must be able to capture the summon keys while it is open.
    m_winState->unregisterSummonHotkey();

    const QString hotkeyBefore = m_settings.summonHotkey;
    const bool autoClassifyBefore = m_settings.autoClassify;
    const bool autoStartBefore = m_settings.autoStart;

    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // The dialog sized itself for the primary screen: the panel's may be smaller.
        const QRect available = screen->availableGeometry();
        if (screen != QGuiApplication::primaryScreen())
            dialog->setFixedSize(SettingsDialog::windowSizeFor(&available));
        dialog->move(settingsDialogPosition(available, frameGeometry(), dialog->size()));
    }
    connect(dialog, &QDialog::finished, this, [this, hotkeyBefore, autoClassifyBefore, autoStartBefore](int result) {
        onSettingsFinished(result, hotkeyBefore, autoClassifyBefore);
        // The user switched "start with the system" himself: that is written whatever the program's place.
        if (m_settings.autoStart != autoStartBefore)
            m_winState->setAutoStart(m_settings.autoStart);
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void MainWindow::onSettingsFinished(int result, const QString& hotkeyBefore, bool autoClassifyBefore)
{
    if (result == QDialog::Accepted) {
        // The dialog has already written its copy into the record. A new hotkey the display server won't grab
        // is not kept: the previous one goes on working.
        SummonHotkey* hotkey = m_winState->summonHotkey();
        if (m_settings.summonHotkey != hotkeyBefore && hotkey)
            m_settings.summonHotkey = hotkey->replaceSummonHotkey(m_settings.summonHotkey, hotkeyBefore);
        else
            m_winState->registerSummonHotkey(false);
        saveSettings();
        if (!autoClassifyBefore && m_settings.autoClassify)
            syncDesktopIcons();
    } else {
        m_winState->registerSummonHotkey(false);
    }
    applySettings();
    m_settingsDialog = nullptr;
}

// ---- screen recorder button -----------------------------------------------------------------------------

void MainWindow::setRecorderButtonActive(bool active)
{
    m_bottomBar->setButtonActive(UiBtn::Monitor, active);
    m_titleBar->setButtonActive(UiBtn::Monitor, active);
}

void MainWindow::startScreenMonitor()
{
    QString why;
    switch (m_recorder->toggle(m_settings, &why)) {
    case RecorderButton::Outcome::Stopped:
        showToast(Lang::tr("屏幕监控已停止"), Toast::Info);
        break;
    case RecorderButton::Outcome::NeedsSetup:
        showToast(Lang::tr("请先在 设置→屏幕监控 完成配置"), Toast::Info);
        openSettings();
        // The page holds the protection settings too: it asks for the password as every way to it does.
        if (m_settingsDialog)
            m_settingsDialog->openProtectPage();
        break;
    case RecorderButton::Outcome::Started:
        showToast(Lang::tr("屏幕监控已启动"), Toast::Info);
        break;
    case RecorderButton::Outcome::Failed:
        // The recorder's reason is already in the user's language.
        showToast(why.isEmpty() ? Lang::tr("屏幕监控启动失败") : why, Toast::Error);
        break;
    }
}

// ---- gear menu ------------------------------------------------------------------------------------------

void MainWindow::onGearMenuAboutToShow()
{
    if (GearMenuPopup* popup = m_titleBar ? m_titleBar->gearMenu() : nullptr)
        popup->setAccountText(session()->signedIn() ? session()->userName() : QString());
}
