#pragma once

#include "market/marketrow.h"

#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>

namespace ktr::platform {
struct ZipEntryInfo;
}

// The file side of installing market apps: unpacking a verified package, the installed-apps registry and
// the desktop entry of an app. Nothing here touches a widget; extractPackage runs on a worker thread.

// Limits a package must keep before anything of it is written.
constexpr qint64 kMaxUnpackedBytes = 4LL << 30; // 4 GiB in all
constexpr int kMaxPackageEntries = 65535;
constexpr qint64 kMaxInflateRatio = 1000;  // stated size against stated compressed size, per entry
constexpr int kExtractDeadlineMs = 180000; // an extraction running longer is abandoned

enum class ExtractResult {
    Ok,
    Failed,   // unsafe or damaged package, refused by a limit, or a write error
    TimedOut, // the deadline passed or the run was abandoned
};

// False (with the reason in English) when an entry list breaks a rule: more than kMaxPackageEntries
// entries, more than kMaxUnpackedBytes in all, an entry stating more than kMaxInflateRatio times its
// compressed size, an encrypted entry, a name that is not UTF-8, rooted, holds a colon or a ".."
// segment, or an entry that is anything but a regular file or a folder (links, devices, pipes).
bool checkPackageEntries(const QList<ktr::platform::ZipEntryInfo>& entries, QString* why);

// Unpacks the zip at packagePath into the existing, empty folder destDir ("\" in names counts as "/").
// Folders are made as needed, files are written with the owner's read/write bits and the execute bits
// the archive stored (never set-id or world-writable bits). Stops at the first unsafe entry; `abandon`
// (checked between chunks) and the deadline end the run with TimedOut. What was written stays for the
// caller to delete.
ExtractResult extractPackage(const QString& packagePath, const QString& destDir, const std::atomic<bool>* abandon,
                             int deadlineMs, QString* why);

// "apps_registry.json" in the data folder.
QString appsRegistryPath();
// The registry at path: empty when missing, unreadable or no JSON ("loadRegistry: bad JSON, ignored"
// reaches the log then); a later element of the same id replaces an earlier one.
QHash<QString, MarketInstalledApp> readAppsRegistry(const QString& path);
// Writes the registry whole (indented, "dir" the app folder below appsRoot); false with the reason.
bool writeAppsRegistry(const QString& path, const QString& appsRoot, const QHash<QString, MarketInstalledApp>& apps,
                       QString* why);

// The launch file of an installed app, or empty when the name is unsafe, the file is missing or its real
// path (links followed) leaves the app folder.
QString resolveLaunchFile(const QString& appDir, const QString& launch);
// The first "*.exe" regular file at the top of folder, by name without regard to case; empty when none.
QString firstExeIn(const QString& folder);

// The desktop folder: the user's desktop location, else home + "/Desktop".
QString desktopFolder();
// The desktop entry's file name for an app name: unsafe characters turned into "_", trimmed, "应用"
// (through the language table) when nothing is left; ".desktop" appended.
QString desktopEntryFileName(const QString& name);
// Writes the launcher of an installed app to the desktop (mode 0755). An existing file of that name is
// replaced only when this program wrote it; false otherwise or when the program is missing or the write
// fails.
bool createDesktopShortcut(const QString& program, const QString& workDir, const QString& name,
                           const QString& iconPath);
// True when the desktop entry at path is one this program wrote.
bool isOwnDesktopEntry(const QString& path);
// Removes the desktop entry of an uninstalled app: only one this program wrote for a program in appDir.
bool removeDesktopShortcut(const QString& name, const QString& appDir);
