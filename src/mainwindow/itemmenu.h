#pragma once

#include "model/panelmodel.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>

class QAction;
class QMenu;
class QWidget;

// The entries of an item's context menu.
enum class ItemMenuAction {
    None = 0,
    Open,
    RunAsAdmin,
    OpenLocation,
    Edit,
    Relocate,
    RestoreIcon,
    CopyPath,
    DesktopShortcut,
    MoveToGroup, // the entries of the group submenu; their data is the group index
    Float,
    Remove,
    ClearInvalid,
};

// The item a menu was opened for: a copy, and where it was.
struct ItemMenuTarget
{
    Item item;
    int group = -1;
    int index = -1;
};

// The paths of every item whose target is missing (isItemTargetMissing), groups and items in order. Touches
// only the file system, so any thread may ask.
QSet<QString> invalidItemPaths(const QList<Group>& groups);
int countInvalidItems(const QList<Group>& groups);

// A shortcut file of this desktop: a .desktop entry (the case of the suffix does not matter).
bool isShortcutFile(const QString& path);

// What the menu knows about its item before it is built.
struct ItemMenuFacts
{
    bool shellItem = false; // "::{CLSID}": neither a folder nor an existing file
    bool isDir = false;
    bool exists = false;
    bool runnable = false; // a program or a desktop entry: something that runs, so it can run elevated
    bool invalid = false;
    int invalidCount = 0; // over all groups; counted only when the item itself is invalid
};
ItemMenuFacts itemMenuFacts(const QList<Group>& groups, const Item& item);

// The menu for one item of the current group. Every entry carries its ItemMenuAction (itemMenuAction reads
// it); the group submenu's entries also carry the group index as their data.
QMenu* buildItemMenu(const QList<Group>& groups, int currentGroup, const Item& item, QWidget* parent);
ItemMenuAction itemMenuAction(const QAction* action);
// The entry of the menu (submenus included) for an action; nullptr when absent. For MoveToGroup, the entry of
// group `group`.
QAction* findItemMenuAction(const QMenu* menu, ItemMenuAction what, int group = -1);

// The first free name for a shortcut to `base` in a folder: "<base>.desktop", then "<base> (2).desktop", ...
QString freeDesktopShortcutPath(const QString& folder, const QString& base);

// Puts a shortcut to the item's target on the desktop folder: a shortcut file is copied, anything else gets a
// new entry that opens it (a program runs, a document or folder opens in its application). The entry is marked
// executable, as desktops ask of launchers they trust. On success `created` holds the new file's path; on
// failure `error` holds the untranslated message.
bool createDesktopShortcut(const QString& itemPath, const QString& desktopFolder, QString* created, QString* error);

// A floating icon's position moved so that a window of `size` lies inside `area` (its top-left corner wins
// when it does not fit).
QPoint clampIntoArea(const QPoint& position, const QSize& size, const QRect& area);
