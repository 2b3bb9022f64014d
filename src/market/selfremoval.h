#pragma once

#include "market/selfscripts.h"

#include <QString>

// The uninstall and the factory reset of the panel: what they delete, the script that does it, and its
// start. The caller asks first and ends the process after a start.
namespace selfremoval {

struct Env
{
    QString exe;                   // the running executable
    QString dataDir;               // the data folder
    QString tempDir;               // below it a fresh private folder takes the script; empty: the runtime folder
    QString desktopDir;            // the user's desktop folder
    QString applicationsDir;       // the user's menu entries ($XDG_DATA_HOME/applications)
    QString autostartEntry;        // the XDG autostart entry
    QStringList installPathStores; // the install path's stores that name this copy
    QStringList leftoverFiles;     // sockets and locks of the panel in the runtime folder, its record of made folders
    QStringList madeFolders;       // folders the program made outside its data folder: removed when left empty
    selfscripts::Target target;

    static Env system();
};

// The program files the uninstall removes, from the marker beside env.exe.
selfscripts::ProgramFiles programFilesOf(const Env& env);

selfscripts::UninstallPlan uninstallPlan(bool full, const Env& env);
// Writes the script into a fresh private folder below env.tempDir and starts it. False with the Chinese
// message (not translated) when it could not be written or started; scriptPath receives its path.
bool startUninstall(bool full, const Env& env, QString* message, QString* scriptPath = nullptr);
// Also refuses a data folder of 9 characters or fewer, one that is not a folder, or a protected one.
bool startFactoryReset(const Env& env, QString* message, QString* scriptPath = nullptr);

} // namespace selfremoval
