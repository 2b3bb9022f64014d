#pragma once

#include "ui/appsettings.h"

// What OK of the settings dialog writes back. The dialog is modeless: while it is open the panel itself
// changes the live record (the theme button, the lock and protection, a dragged bar button, the automatic
// backup's time). So only the fields the dialog changed against the record it started from are written,
// and never the lock and protection fields, the unlock epoch or the last backup time, which only their
// owners write.
void writeEditedFields(const AppSettings& base, const AppSettings& edited, AppSettings& live);

// The other direction, for the copy the dialog edits and previews: what the panel changed in its record since
// `base` reaches `edited` (the later change wins over an earlier edit of the same field), and `base` becomes the
// record. Every other edit of the copy stays.
void followLiveFields(AppSettings& base, AppSettings& edited, const AppSettings& live);
