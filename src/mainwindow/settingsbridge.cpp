#include "mainwindow/settingsbridge.h"

#include "backup/backupjobs.h"

#include "mainwindow/summonhotkey.h"
#include "mainwindow/windowfiles.h"
#include "model/userdatatransfer.h"
#include "settings/settingsdialog.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

#include <algorithm>
#include <array>

namespace {

// The window the file chooser and the question of an export or import belong to: the settings dialog they
// are asked from when it is open, so closing them hands the focus back to it and does not bring the panel
// up over it.
QWidget* transferCardOwner(QWidget* panel, QWidget* settingsDialog)
{
    return settingsDialog && settingsDialog->isVisible() ? settingsDialog : panel;
}

} // namespace

SettingsBridge::SettingsBridge(Host host, QObject* parent) : QObject(parent), m_host(std::move(host))
{
}

SettingsDialog* SettingsBridge::dialog() const
{
    return m_dialog.data();
}

// ---- user data export and import ------------------------------------------------------------------------

void SettingsBridge::exportUserData()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString target =
        ktr::dialogs::saveFile(transferCardOwner(m_host.window, m_dialog), exportDialogCaption(),
                               suggestedBackupPath(desktop, QDate::currentDate()), backupFileFilter());
    if (target.isEmpty())
        return;
    m_host.files->finishLayoutSaves(); // the export copies the file: it must hold the last change
    const ExportOutcome outcome =
        ::exportUserData(target, userDataPaths(m_host.files->store()), QDateTime::currentDateTime());
    m_host.toast(outcome.message, Toast::Kind(outcome.toastKind));
}

void SettingsBridge::importUserData()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QWidget* owner = transferCardOwner(m_host.window, m_dialog);
    const QString source = ktr::dialogs::openFile(owner, importDialogCaption(), desktop, backupFileFilter());
    if (source.isEmpty())
        return;
    m_host.files->finishLayoutSaves(); // no earlier save may land over the imported file
    ImportHooks hooks;
    hooks.confirm = [owner = QPointer<QWidget>(owner), window = m_host.window] {
        return ktr::dialogs::question(owner ? owner.data() : window, importQuestionTitle(), importQuestionText()) == 1;
    };
    hooks.reload = [this] { reloadAfterImport(); };
    hooks.guardSettings = [this](AppSettings& imported) { m_host.guardImport(imported); };
    const ImportOutcome outcome =
        ::importUserData(source, userDataPaths(m_host.files->store()), *m_host.settings, hooks);
    // The import is usually started from the settings dialog: its copy still holds the settings of before,
    // and its OK would write them straight back over the imported ones.
    if (outcome.status == ImportOutcome::Status::Imported && m_dialog)
        m_dialog->setEditedSettings(*m_host.settings);
    if (!outcome.message.isEmpty())
        m_host.toast(outcome.message, Toast::Kind(outcome.toastKind));
}

void SettingsBridge::reloadAfterImport()
{
    m_host.model->replaceGroups({});
    if (!m_host.files->loadLayout())
        m_host.files->buildDefaultLayout();
    const int languageBefore = Lang::language();
    m_host.files->loadSettings();
    applyReloadedLanguage(languageBefore);
    m_host.settingsReloaded();
    m_host.applySettings();
    m_host.refreshLockButtons();
    m_host.loadAuth(); // hands the imported session to the market, the chat and the pollers
    m_host.model->setCurrentGroup(0);
    m_host.refreshGridIcons();
    m_host.repaintPanels();
}

void SettingsBridge::reloadUserData()
{
    PanelModel& model = *m_host.model;
    model.replaceGroups({});
    // After a restore its worker has read the layout already.
    BackupJobs* jobs = m_host.backupJobs ? m_host.backupJobs() : nullptr;
    if (!m_host.files->loadLayout(jobs ? jobs->restoredLayout() : nullptr))
        m_host.files->buildDefaultLayout();
    if (model.currentIndex() >= model.groups().size())
        model.setCurrentGroup(0);
    m_host.refreshGridIcons();
    const int languageBefore = Lang::language();
    const AppSettings before = *m_host.settings;
    m_host.files->loadSettings();
    // The backup page is not behind the protection password: a snapshot brings back everything but the
    // protection, unless the current password is given.
    if (m_host.guardRestore(before))
        m_host.files->saveSettings();
    applyReloadedLanguage(languageBefore);
    m_host.settingsReloaded();
    m_host.preview(*m_host.settings);
    m_host.refreshLockButtons();
    m_host.repaintPanels();
    if (m_dialog) {
        // The restored settings replace the dialog's copy, or its OK would undo the restore.
        m_dialog->setEditedSettings(*m_host.settings);
        if (!m_refreshPending)
            scheduleRefresh();
    }
}

void SettingsBridge::applyReloadedLanguage(int languageBefore)
{
    // Loading the settings already switches the table; the window and its children still show the old
    // language until they are told, so compare with the language from before the load.
    const int wanted = m_host.settings->language > 0 ? 1 : 0;
    if (wanted != Lang::language())
        Lang::setLanguage(wanted);
    if (wanted != languageBefore)
        Lang::notifyChanged();
}

// ---- settings dialog ------------------------------------------------------------------------------------

QPoint SettingsBridge::dialogPosition(const QRect& available, const QRect& frame, const QSize& size)
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

void SettingsBridge::followPanel()
{
    // An open dialog previews its whole copy: it must hear of what the panel changed meanwhile.
    if (m_dialog && m_dialog->isVisible())
        m_dialog->followPanel();
}

void SettingsBridge::refreshShownDialogSoon()
{
    if (m_dialog && m_dialog->isVisible() && !m_refreshPending)
        scheduleRefresh();
}

void SettingsBridge::scheduleRefresh()
{
    m_refreshPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_refreshPending = false;
            if (m_dialog)
                m_dialog->refresh();
        },
        Qt::QueuedConnection);
}

bool SettingsBridge::updateCheckIsBeta(bool dialogOpen, int editedChannel, int savedChannel)
{
    if (dialogOpen && editedChannel >= 0)
        return editedChannel != 0;
    return savedChannel == 1;
}

SettingsBridge::DialogArgs SettingsBridge::dialogArgs()
{
    DialogArgs args;
    args.settings = m_host.settings;
    args.dataDir = QFileInfo(m_host.files->store().layoutPath()).absolutePath();
    args.onClearIconCache = m_host.clearIconCache;
    args.onSettingsChanged = m_host.preview;
    args.onExportUserData = [this] { exportUserData(); };
    args.onImportUserData = [this] { importUserData(); };
    args.onCheckUpdate = [this] {
        const bool open = !m_dialog.isNull();
        const int edited = open ? m_dialog->editedSettings().updateChannel : -1;
        m_host.checkUpdate(updateCheckIsBeta(open, edited, m_host.settings->updateChannel));
    };
    args.onExportLogs = m_host.exportLogs;
    args.onUninstall = m_host.uninstall;
    args.groups = &m_host.model->groups();
    args.onIconsChanged = m_host.iconsChanged;
    args.onLockBackgroundChosen = m_host.lockBackgroundChosen;
    args.onProtectCommitted = m_host.protectCommitted;
    return args;
}

void SettingsBridge::open()
{
    if (m_host.locked())
        return;
    if (m_dialog) {
        m_dialog->showNormal();
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }

    const DialogArgs args = dialogArgs();
    SettingsDialog* dialog = nullptr;
    if (m_factory) {
        dialog = m_factory(args);
    } else {
        dialog = new SettingsDialog(args.settings, args.dataDir, args.onClearIconCache, args.onSettingsChanged,
                                    args.onExportUserData, args.onImportUserData, args.onCheckUpdate, args.onExportLogs,
                                    args.onUninstall, args.groups, args.onIconsChanged, args.onLockBackgroundChosen,
                                    args.onProtectCommitted, nullptr);
    }
    if (!dialog)
        return;
    dialog->setFactoryResetHandler(m_host.factoryReset);
    dialog->setBackupJobs(m_host.backupJobs());
    dialog->setAttribute(Qt::WA_DeleteOnClose, true);
    // Transient for the panel (a parentless dialog is transient for a hidden window of the toolkit): the
    // window manager keeps it above the panel, also when the panel or a card of it is raised.
    QWidget* window = m_host.window;
    dialog->setParent(window, dialog->windowFlags() | Qt::Dialog);
    m_dialog = dialog;

    // The dialog's hotkey editor must be able to capture the summon keys while it is open.
    m_host.unregisterHotkey();

    const AppSettings& settings = *m_host.settings;
    const QString hotkeyBefore = settings.summonHotkey;
    const bool autoClassifyBefore = settings.autoClassify;
    const bool autoStartBefore = settings.autoStart;

    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // The dialog sized itself for the primary screen: the panel's may be smaller.
        const QRect available = screen->availableGeometry();
        if (screen != QGuiApplication::primaryScreen())
            dialog->setFixedSize(SettingsDialog::windowSizeFor(&available));
        dialog->move(dialogPosition(available, window->frameGeometry(), dialog->size()));
    }
    connect(dialog, &QDialog::finished, this, [this, hotkeyBefore, autoClassifyBefore, autoStartBefore](int result) {
        finished(result, hotkeyBefore, autoClassifyBefore);
        // The user switched "start with the system" himself: that is written whatever the program's place.
        if (m_host.settings->autoStart != autoStartBefore)
            m_host.setAutoStart(m_host.settings->autoStart);
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void SettingsBridge::finished(int result, const QString& hotkeyBefore, bool autoClassifyBefore)
{
    AppSettings& settings = *m_host.settings;
    if (result == QDialog::Accepted) {
        // The dialog has already written its copy into the record. A new hotkey the display server won't grab
        // is not kept: the previous one goes on working.
        SummonHotkey* hotkey = m_host.summonHotkey();
        if (settings.summonHotkey != hotkeyBefore && hotkey)
            settings.summonHotkey = hotkey->replaceSummonHotkey(settings.summonHotkey, hotkeyBefore);
        else
            m_host.registerHotkey();
        m_host.files->saveSettings();
        if (!autoClassifyBefore && settings.autoClassify)
            m_host.files->syncDesktopIcons();
    } else {
        m_host.registerHotkey();
    }
    m_host.applySettings();
    m_dialog = nullptr;
}
