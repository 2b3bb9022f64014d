#pragma once

#include "settings/backupprogressdialog.h"

#include <QString>

// Renders of the backup and restore cards for the interface preview: PNG files written into an existing
// folder, without showing a window. A missing folder or a failed save writes nothing and says nothing.
// "/msg-info.png", "/msg-question.png", "/msg-warning.png", "/progress-backup.png", "/progress-backup-45.png".
void previewBackupDialogs(const QString& folder);
// "/backup-nav-icons.png": the two candidate backup glyphs side by side.
void renderBackupNavIconCandidates(const QString& folder);
