#pragma once

#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <span>

namespace ktr::platform {

// The Windows shell's virtual folders ("::{CLSID}" parsing names, as stored in item paths) and what stands in
// for them on a freedesktop desktop. The table is fixed; lookups ignore the case of the CLSID.
struct ShellFolder
{
    enum class Kind {
        Place,      // a place the file manager opens by URI (computer:///, trash:///, network:///)
        Settings,   // a page of the desktop's settings program
        UserFolder, // a folder of the user (XDG user dirs, or home)
    };
    enum class SettingsPage {
        None,
        Overview,
        Network,
        Printers,
    };

    const char* parsingName; // "::{CLSID}", upper-case hex as the program writes it
    const char* nameKey;     // Chinese display name; passed through Lang::tr only when shown
    const char* iconName;    // freedesktop icon name
    Kind kind;
    const char* uri;                           // Place: the URI to open
    SettingsPage page;                         // Settings: the page to open
    QStandardPaths::StandardLocation location; // UserFolder (HomeLocation for the user's own folder)
};

std::span<const ShellFolder> shellFolders();

// The entry for a "::{CLSID}" parsing name (case-insensitive; surrounding blanks are not accepted), or nullptr.
const ShellFolder* findShellFolder(const QString& parsingName);

// The entry for a bare CLSID as 16 bytes in Windows GUID memory order (Data1..3 little-endian), or nullptr.
const ShellFolder* findShellFolderByClsid(const unsigned char* guid16);

// What opens a shell folder here.
struct ShellTarget
{
    enum class Kind {
        None,    // nothing on this machine stands in for it
        Url,     // open with the desktop's URL handler (xdg-open)
        Folder,  // a local folder
        Program, // start program with arguments (never through a shell)
    };
    Kind kind = Kind::None;
    QString value; // URL text, folder path or program path
    QStringList arguments;
};

// Finds an executable by name (empty when absent). The default searches PATH.
using ExecutableFinder = std::function<QString(const QString& name)>;

// Where the folder leads: a URI for places, the user folder's path (None when the location is unknown) or the
// desktop's settings program. desktopNames is the XDG_CURRENT_DESKTOP list; empty means the environment's.
ShellTarget shellFolderTarget(const ShellFolder& folder, const ExecutableFinder& finder = {},
                              const QStringList& desktopNames = {});

// The parsing name for a URI that a file manager drags for one of the places above (trash:///, computer:///,
// network:///); empty for any other URL. File URLs stay ordinary paths, user folders included.
QString shellItemForUrl(const QUrl& url);

} // namespace ktr::platform
