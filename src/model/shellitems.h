#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

// (display name, parsing name) of a dropped shell item: the first becomes the entry's name, the second its path.
using ShellItemPair = QPair<QString, QString>;

// The MIME format of the Windows shell's item ID list array.
inline constexpr char kShellIdListMime[] = "application/x-qt-windows-mime;value=\"Shell IDList Array\"";

// Parses the bytes of a "Shell IDList Array" (CIDA) and returns its virtual items ("::{CLSID}" parsing names) in
// child order. File-system items are left out (the drop's URL list carries them). An invalid or foreign payload
// gives an empty list. Never reads outside bytes.
//
// Without a Windows shell to ask, names come from the item data itself: a list that is exactly one root folder
// item (type 0x1F) is that folder's CLSID; its display name is the shell folder table's name, or the parsing name
// for a CLSID the table does not know. Deeper items of a virtual folder (a Control Panel applet, a network
// computer) have private layouts and are left out.
QList<ShellItemPair> parseShellIdList(const QByteArray& bytes);

// The places that file managers drag as URIs (trash:///, computer:///, network:///) as the same shell items;
// every other URL is passed through to rest, in order.
QList<ShellItemPair> shellItemsFromUrls(const QList<QUrl>& urls, QList<QUrl>* rest);
