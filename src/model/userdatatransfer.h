#pragma once

#include "ui/appsettings.h"

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <functional>

class ConfigStore;

// Export and import of the panel's own data as one JSON backup: {"app", "version", "exportedAt",
// "layout", "settings", "registry"}. The login state (auth.json) is never part of it. The main window
// asks for the file names and the confirmation (with the texts below) and shows the returned message.

// The files a backup carries.
struct UserDataPaths
{
    QString layout;
    QString settings;
    QString registry; // the app market's "apps_registry.json", beside the settings file
};

// The main window's own layout and settings files and the registry beside them.
UserDataPaths userDataPaths(ConfigStore& store);
QString registryPathFor(const QString& settingsPath);

inline constexpr qint64 kMaxBackupBytes = 33554432; // 32 MiB; exactly this size is accepted
inline constexpr const char* kBackupAppName = "KestrunePanel";

// Texts of the file dialogs and the question, translated.
QString suggestedBackupPath(const QString& desktopDir, const QDate& today);
QString exportDialogCaption();
QString importDialogCaption();
QString backupFileFilter();
QString importQuestionTitle();
QString importQuestionText();

// The version a backup records: the compiled-in version, "0.0.0" when there is none.
QString backupVersionString();

// The backup object. A file that can't be read or holds no JSON object contributes {}.
QJsonObject buildBackup(const UserDataPaths& paths, const QString& version, const QDateTime& exportedAt);

struct ExportOutcome
{
    bool ok = false;
    QString message;   // toast text, translated
    int toastKind = 1; // 0 information, 1 error
};

// Writes the backup to `target` atomically: a failed write leaves no partial file.
ExportOutcome exportUserData(const QString& target, const UserDataPaths& paths, const QDateTime& now);

struct ImportHooks
{
    // Asks whether to go on (the question above); only true continues. Null: the caller has asked.
    std::function<bool()> confirm;
    // The main window's reload of the freshly written files (groups, settings, account, repaint).
    std::function<void()> reload;
    // May change the settings about to be imported (read over the current record) before they are written;
    // the fields it changes replace those of the backup. Null: the backup's settings are written as they are.
    std::function<void(AppSettings& imported)> guardSettings;
};

struct ImportOutcome
{
    enum class Status {
        Cancelled,      // the question was not answered with yes; nothing changed, nothing to show
        Refused,        // the backup file could not be read or is not a valid backup; nothing changed
        Aborted,        // a current file could not be read whole; nothing written
        RolledBack,     // a write failed; every file is as it was
        PartlyRestored, // a write failed and some file could not be put back
        Imported,       // all files written and reloaded
    };
    Status status = Status::Cancelled;
    QString message;   // toast text, translated; empty for Cancelled
    int toastKind = 1; // 0 information, 1 error

    // On Imported: the settings record the reload reads from the new settings file (the file's
    // object applied over the record passed in, as loading the file does). An open settings dialog
    // must take this as its copy, or its OK would write the settings of before the import back.
    AppSettings settings;
};

// Validates the backup, asks, snapshots the current files, writes each new file atomically and, when
// any write fails, restores every file already written (a file that did not exist is removed again).
// `current` is the main window's settings record before the import.
ImportOutcome importUserData(const QString& backupPath, const UserDataPaths& paths, const AppSettings& current,
                             const ImportHooks& hooks);
