#pragma once

#include "ui/appsettings.h"

#include <QDialog>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>

struct Group;

// The settings window. It edits its own copy of the main window's settings record and reaches back into
// the panel only through the callbacks handed to its constructor. What the panel relies on is here:
// acceptance writes the copy into the main record, cancelling undoes the live preview, and the main window
// can refresh an open dialog, switch it to its protection page and hand it a record loaded anew. The pages
// themselves come with the settings subsystem.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kProtectPage = 5;

    SettingsDialog(AppSettings* settings, const QString& dataDir, std::function<void()> onClearIconCache,
                   std::function<void(const AppSettings&)> onSettingsChanged, std::function<void()> onExportUserData,
                   std::function<void()> onImportUserData, std::function<void()> onCheckUpdate,
                   std::function<void()> onExportLogs, std::function<void(bool)> onUninstall,
                   const QList<Group>* groups, std::function<void()> onIconsChanged,
                   std::function<void(const QString&)> onLockBackgroundChosen,
                   std::function<void(const QString&, const QMap<QString, QString>&)> onProtectCommitted,
                   std::function<void()> onSnapshotRestored, QWidget* parent = nullptr);

    void setFactoryResetHandler(std::function<void()> handler) { m_onFactoryReset = std::move(handler); }

    // The copy being edited, and its replacement. The main window hands over the record it has just
    // loaded from new files (an import or a restored snapshot), so OK can't write the old values back.
    const AppSettings& editedSettings() const { return m_edited; }
    void setEditedSettings(const AppSettings& settings);
    // An edit of the copy: previewed at once through onSettingsChanged; the main record stays untouched.
    void editSettings(const std::function<void(AppSettings&)>& edit);

    // Nothing while hidden; otherwise lays the dialog out again and repaints it.
    void refresh();
    // Switches to the protection page without asking for the protection password.
    void showProtectPage();
    int currentPage() const { return m_page; }
    QString dataDir() const { return m_dataDir; }

public Q_SLOTS:
    // Trims the hotkey text and writes the whole copy into the main record, then accepts.
    void accept() override;
    // Restores the language, keeps the two recorder values of the copy, undoes the preview, then rejects.
    void reject() override;

private:
    AppSettings* m_main;
    AppSettings m_edited;
    QString m_dataDir;
    const QList<Group>* m_groups;
    int m_page = 0;

    std::function<void()> m_onClearIconCache;
    std::function<void(const AppSettings&)> m_onSettingsChanged;
    std::function<void()> m_onExportUserData;
    std::function<void()> m_onImportUserData;
    std::function<void()> m_onCheckUpdate;
    std::function<void()> m_onExportLogs;
    std::function<void(bool)> m_onUninstall;
    std::function<void()> m_onIconsChanged;
    std::function<void(const QString&)> m_onLockBackgroundChosen;
    std::function<void(const QString&, const QMap<QString, QString>&)> m_onProtectCommitted;
    std::function<void()> m_onSnapshotRestored;
    std::function<void()> m_onFactoryReset;
};
