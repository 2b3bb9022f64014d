#pragma once

#include <QByteArray>
#include <QString>

struct Item;

// True when the item's target is gone: false for an empty path, a shell place ("::" prefix) and an item
// whose own custom icon file still exists (it still shows something sensible); otherwise true exactly
// when nothing exists at the path.
bool isItemTargetMissing(const Item& item);

// Two characters make one byte; any pair that is not hexadecimal empties the whole result; a single
// character left at the end is ignored.
QByteArray hexToBytes(const QString& text);

// The program's own version as three numbers ("1.4.2"); "0.0.0" when it can't be read.
QString appFileVersion();
