#include "settings/settingsdialog.h"

#include "ui/lang.h"

SettingsDialog::SettingsDialog(AppSettings* settings, const QString& dataDir, std::function<void()> onClearIconCache,
                               std::function<void(const AppSettings&)> onSettingsChanged,
                               std::function<void()> onExportUserData, std::function<void()> onImportUserData,
                               std::function<void()> onCheckUpdate, std::function<void()> onExportLogs,
                               std::function<void(bool)> onUninstall, const QList<Group>* groups,
                               std::function<void()> onIconsChanged,
                               std::function<void(const QString&)> onLockBackgroundChosen,
                               std::function<void(const QString&, const QMap<QString, QString>&)> onProtectCommitted,
                               std::function<void()> onSnapshotRestored, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_main(settings),
      m_edited(settings ? *settings : AppSettings()), m_dataDir(dataDir), m_groups(groups),
      m_onClearIconCache(std::move(onClearIconCache)), m_onSettingsChanged(std::move(onSettingsChanged)),
      m_onExportUserData(std::move(onExportUserData)), m_onImportUserData(std::move(onImportUserData)),
      m_onCheckUpdate(std::move(onCheckUpdate)), m_onExportLogs(std::move(onExportLogs)),
      m_onUninstall(std::move(onUninstall)), m_onIconsChanged(std::move(onIconsChanged)),
      m_onLockBackgroundChosen(std::move(onLockBackgroundChosen)), m_onProtectCommitted(std::move(onProtectCommitted)),
      m_onSnapshotRestored(std::move(onSnapshotRestored))
{
    setWindowTitle(Lang::tr("设置"));
}

void SettingsDialog::setEditedSettings(const AppSettings& settings)
{
    m_edited = settings;
    refresh();
}

void SettingsDialog::editSettings(const std::function<void(AppSettings&)>& edit)
{
    edit(m_edited);
    if (m_onSettingsChanged)
        m_onSettingsChanged(m_edited);
}

void SettingsDialog::refresh()
{
    if (!isVisible())
        return;
    updateGeometry();
    update();
}

void SettingsDialog::showProtectPage()
{
    m_page = kProtectPage;
    updateGeometry();
    update();
}

void SettingsDialog::accept()
{
    m_edited.summonHotkey = m_edited.summonHotkey.trimmed();
    if (m_main)
        *m_main = m_edited;
    QDialog::accept();
}

void SettingsDialog::reject()
{
    if (m_main) {
        if (m_main->language != Lang::language()) {
            Lang::setLanguage(m_main->language);
            Lang::notifyChanged();
        }
        // The recorder's folder and trigger are kept even when the rest is cancelled.
        m_main->monitorDir = m_edited.monitorDir;
        m_main->monitorTrigger = m_edited.monitorTrigger;
        if (m_onSettingsChanged)
            m_onSettingsChanged(*m_main);
    }
    QDialog::reject();
}
