#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The shell scripts the panel hands its self-update, uninstall and factory reset to: it writes one into a
// fresh folder only this user may enter (never under a fixed name in a shared folder, where another user
// could plant a link or swap the content before it runs), starts it detached in its own session and ends itself; the
// script waits a moment, ends any panel process that is still there and does the work. The builders are pure:
// everything they need comes in as text. Every path is single-quoted ('\'' for a quote in it), so blanks, quotes, $, %,
// backslashes, wildcards and any UTF-8 text reach the commands unchanged; nothing in a path is expanded.
namespace selfscripts {

// path as one single-quoted shell word.
QString shQuote(const QString& path);

// The process the script ends after its pause: the pid, and the executable it must be running, so a pid
// reused by another program after the panel is gone is left alone. pid 0 ends nothing.
struct Target
{
    qint64 pid = 0;
    QString exe; // canonical path, as /proc/<pid>/exe reads
};

// Runs the downloaded installer with the installer's silent switches after a pause of delaySeconds; then
// deletes scriptPath (when given) and its folder when that is left empty.
QByteArray updateScript(const QString& installer, const Target& target, int delaySeconds = 1,
                        const QString& scriptPath = {});

struct UninstallPlan
{
    Target target;
    QStringList programFiles;      // our own files to delete
    QString programFolder;         // removed afterwards when it is empty; empty = left alone
    QStringList madeFolders;       // the folders the install made, deepest first: each removed when empty
    QStringList installPathStores; // the install path's stores that name this copy (registry.h), deleted
    QStringList shortcuts;         // the panel's desktop entries
    QString dataFolder;            // removed whole; empty keeps the user's data
    QString autostartEntry;        // the XDG autostart entry
    QStringList leftoverFiles;     // stale sockets and locks, records only the panel reads
    QStringList userFolders;       // folders the program made (its organisation's data folder, the autostart
                                   // folder when it made it), deepest first: each removed when left empty
    QString scriptPath;            // the script deletes itself (and its folder when left empty) at its end
    int delaySeconds = 2;
};
QByteArray uninstallScript(const UninstallPlan& plan);

struct ResetPlan
{
    Target target;
    QString dataFolder; // emptied and made again
    QString autostartEntry;
    QString restartProgram; // started again in a session of its own
    QString scriptPath;     // the script deletes itself (and its folder when left empty) at its end
    int delaySeconds = 2;
};
QByteArray factoryResetScript(const ResetPlan& plan);

// Folders no script may delete: the root, the home folder and every folder above it, and the user folders
// of the desktop (desktop, documents, downloads, music, pictures, videos) wherever the user's
// configuration puts them. Also true for an empty or relative path.
bool isProtectedFolder(const QString& path);

// What the uninstall may delete of the program, decided from where the executable lies.
struct ProgramFiles
{
    bool installed = false;  // the install marker lies beside the executable
    QStringList files;       // the files to delete
    QString folder;          // the folder to remove when it is left empty; empty = none
    QStringList madeFolders; // the folders the install made ("dir=" lines), deepest first, each an
                             // ancestor of a listed file below the prefix; removed when left empty
};
// markerText is the install marker beside exe, or null when there is none. An installed copy removes the
// files the marker lists below its prefix that carry our names (the executable, its desktop entry, its
// icon, the marker), then its folder when nothing else is left in it and it is not a protected folder. A
// copy without a marker, run from anywhere (Downloads, the desktop), removes only the executable itself.
ProgramFiles programFiles(const QString& exe, const QByteArray* markerText);

// A fresh folder for one script, made by this call below base (the session's runtime folder when base is
// empty) with mode 0700 and checked to be ours. Empty when none can be made.
QString makeScriptFolder(const QString& base = {});

// Writes a script as a new file (mode 0700), whole and flushed. It never opens what already lies at path,
// nor follows a link there: OpenFailed when the file can't be created (or something is in the way);
// Incomplete when the write or the flush failed (the file is then deleted).
enum class WriteResult { Ok, OpenFailed, Incomplete };
WriteResult writeScript(const QString& path, const QByteArray& bytes);

// Starts the script with /bin/sh in a session of its own (setsid), detached, in workDir. False when it
// did not start.
bool startScript(const QString& path, const QString& workDir);

// The running program as /proc/<pid>/exe names it.
Target currentProcess();

} // namespace selfscripts
