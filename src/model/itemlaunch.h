#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace ktr::platform {
class Launcher;
}

// What starting one panel target means on this desktop.
struct LaunchCommand
{
    enum class Kind {
        None,    // nothing stands in for it here (an unknown shell item)
        Program, // start `program` with `arguments` in `workDir`
        Open,    // hand `url` to the desktop's opener
    };
    Kind kind = Kind::None;
    QString program;
    QStringList arguments;
    QString workDir;
    QUrl url;

    bool operator==(const LaunchCommand&) const = default;
};

// The command for a target (already resolved through the obfuscation map) with the item's working folder,
// argument string and elevation flag:
// - a shell item "::{CLSID}" opens what stands in for it (a place URI, a user folder or the settings program);
// - a .desktop file runs its Exec line, the item's arguments appended, in its Path unless the item has a folder;
// - a program (ELF or "#!" script) starts with the arguments split as a command line does;
// - anything else (documents, folders, URIs) goes to the desktop's opener; arguments have no place there.
// Running as administrator puts "pkexec" in front of a program; an opened document is not elevated.
LaunchCommand launchCommandFor(const QString& target, const QString& workDir, const QString& args, bool runAsAdmin);

// True when the command runs through pkexec and no pkexec is found on PATH: it can't start elevated here.
bool elevationToolMissing(const LaunchCommand& command);

// Hands the command to the launcher; false when nothing was started.
bool runLaunchCommand(const LaunchCommand& command, ktr::platform::Launcher& launcher);
