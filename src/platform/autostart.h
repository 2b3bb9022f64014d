#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ktr::platform {

// Start with the session: an XDG autostart entry, "$XDG_CONFIG_HOME/autostart/KestrunePanel.desktop",
// which every freedesktop desktop runs at log-on.
QString autostartFilePath();

// The entry that starts program (a full path) with no arguments; the path is quoted for the Exec key.
QByteArray autostartEntry(const QString& program);

// The file `cmake --install` puts beside the installed executable; its uninstall looks for it too.
inline constexpr const char* kInstallMarkerName = ".kestrune-install-marker";

// True when program (a full path) is an installed copy: the install marker lies beside it. A run from the
// build tree is not one.
bool isInstalledProgram(const QString& program);

// The record of the folders the program made for its autostart entry (the autostart folder, when it was not
// there before), "$XDG_CONFIG_HOME/Kestrune/made-folders", one absolute path a line; the uninstall removes
// them again when they are left empty.
QString madeFoldersRecordPath();
QStringList madeFolders();

// On: writes the entry for program (left alone when it already reads the same). Off: removes it.
// Returns 0 on success, else the QFileDevice::FileError of the failed step with an English reason in
// error; on failure the previous state stays as it was.
int setAutostart(bool on, const QString& program, QString* error = nullptr);

} // namespace ktr::platform
