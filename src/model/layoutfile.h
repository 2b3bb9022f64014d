#pragma once

#include "model/panelmodel.h"

#include <QByteArray>
#include <QJsonObject>

// The form of "layout.json": {"groups": [{"name", "items": [{"path", "name", "hidden", "customIcon",
// "workDir", "args", "runAsAdmin"}], "kind"}]}, every item key always written, a group's "kind" only when it
// has one (the market's group).
QJsonObject layoutToJson(const QList<Group>& groups);
// Indented JSON with the keys of each object sorted, so equal models give equal bytes.
QByteArray serializeLayout(const QList<Group>& groups);

// Reads the groups of a layout object: names cut to 64 characters, items without a path dropped,
// groups kept whatever their content; without any group, one empty group named "默认分组" (translated).
QList<Group> layoutFromJson(const QJsonObject& object);
// The groups layoutFromJson gives for `bytes` parsed as JSON, read straight from the bytes, for a file in the
// form layoutToJson writes: those members only (each at most once, in any order, with any whitespace),
// "groups" and every item's "path" present, strings, true and false. False, with `groups` untouched, for
// anything else (other members or types, numbers, null, escapes of NUL or lone surrogates, invalid UTF-8,
// damage): the caller then reads it the general way, which judges it. A large layout is read several times
// faster so, without building the JSON objects first.
bool parseSavedLayout(const QByteArray& bytes, QList<Group>* groups);
// True when reading `object` with layoutFromJson would leave out something it holds: members where the
// groups belong, a group or item that is not an object, a group name or item path that is not a string.
bool layoutDropsData(const QJsonObject& object);

// Items of an old layout that point at write.exe are moved to WordPad when WordPad is installed under
// %ProgramFiles% (only meaningful where that variable is set). True when an item was changed.
bool fixLegacyWordpadPaths(QList<Group>& groups);
