#pragma once

#include <QString>
#include <QStringList>

namespace ktr::platform {

// A small per-machine and per-user store of named string values, kept in INI files:
//   CurrentUser:  $XDG_CONFIG_HOME/Kestrune/registry.ini
//   LocalMachine: <first folder of $XDG_CONFIG_DIRS, default /etc/xdg>/Kestrune/registry.ini
// A key is a path such as "SOFTWARE\\KestrunePanel"; values read back as strings.
enum class RegistryHive { CurrentUser, LocalMachine };

QString registryFilePath(RegistryHive hive);

// Writes one value and flushes the file; false (with the reason in error when given) when the file can't
// be written.
bool writeRegistryString(RegistryHive hive, const QString& key, const QString& name, const QString& value,
                         QString* error = nullptr);

// The stored value, or an empty string when there is none.
QString readRegistryString(RegistryHive hive, const QString& key, const QString& name);

// The program's folder, as a start of the panel records it for the user (nothing in the program reads it).
inline constexpr const char* kInstallPathKey = "SOFTWARE\\KestrunePanel";
inline constexpr const char* kInstallPathName = "InstallPath";

// The store files (both hives) that hold the install path value programDir and nothing else: what the
// uninstall of the copy in programDir deletes. A store naming another copy, or holding anything more, stays.
QStringList installPathStoresOf(const QString& programDir);

} // namespace ktr::platform
