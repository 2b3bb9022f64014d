#pragma once

#include "model/panelmodel.h"

#include <QString>
#include <QStringList>

// Gathering what lies on the desktop into the panel's groups. The desktop entries stay where they
// are; the new items only point at them. The main window runs this on request, saves the layout
// when something changed, queues the icon loads of `newPaths` and shows `message`.

// Number of fixed desktop categories ("程序", "文档", "图片", "影音", "压缩包"); everything else goes
// to the translated "其他".
inline constexpr int kDesktopCategoryCount = 5;

// Category row of a lower-case file suffix, -1 when it belongs to none.
int desktopCategoryOf(const QString& suffix);
// Name of the group a file with this suffix goes to: a category name as it stands, or "其他" translated.
QString desktopGroupNameFor(const QString& suffix);

// The desktop folders to scan: the user's desktop when it exists. A desktop that resolves to the
// home folder itself (xdg-user-dirs does that when no desktop is wanted) is not scanned, so the
// whole home folder is never swept into the panel.
QStringList desktopFolders();

struct DesktopCollectResult
{
    int pending = 0;      // new entries found by the scan
    int added = 0;        // items created (equal to pending)
    QStringList newPaths; // paths of the new items, in the order they were added (for the icon loads)
    QString message;      // information toast, already translated

    // True when the groups changed: the layout must be saved and the grid and sidebar repainted.
    bool changed() const { return added > 0; }
};

// Scans `folders` (in order, each sorted by name; hidden entries, links, "." and ".." skipped) and
// appends every entry that no item of `groups` points to yet to the group of its category, creating
// that group at the end of the list when none has exactly its name. Paths are compared as the file
// system does, letter case included. Missing folders are skipped.
DesktopCollectResult collectDesktopIcons(QList<Group>& groups, const QStringList& folders);
