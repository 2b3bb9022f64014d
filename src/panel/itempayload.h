#pragma once

#include "model/panelmodel.h"

#include <QByteArray>
#include <QString>

class QDropEvent;

// The MIME type of an item dragged out of the icon grid (the sidebar reads it as well).
inline constexpr char kItemMime[] = "application/x-ktr-item";

// What an item drag carries: the group the item comes from and its model index there (hidden items counted).
// The path travels along for readers outside the program; nothing here relies on it.
struct ItemPayload
{
    int group = 0;
    int item = 0;
    QString path;

    bool operator==(const ItemPayload&) const = default;
};

// The payload as compact JSON, keys in the order "g", "i", "path": {"g":1,"i":3,"path":"/usr/bin/foo"}.
QByteArray encodeItemPayload(int group, int item, const QString& path);

// Reads a payload, which may come from another process. False for data that is not a JSON object, is larger
// than any payload we write, or lacks a "g" or "i" that is a whole number in 0..INT_MAX. A missing or
// non-string "path" reads as empty (nothing relies on it).
bool decodeItemPayload(const QByteArray& data, ItemPayload* out);

// True when the payload names an existing item: group in range, item index below that group's item count.
bool itemPayloadInModel(const ItemPayload& payload, const QList<Group>& groups);

// Files and places dropped from another program (URIs, shell item lists): the panel only keeps their paths,
// so it takes them as a link, or as a copy when the source offers no link, never as a move, after which the
// source may delete the user's originals. Accepts the enter, move or drop event with that action; false
// (event ignored) when the source offers neither.
bool acceptFileDrop(QDropEvent* event);
