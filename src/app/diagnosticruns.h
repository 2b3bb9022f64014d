#pragma once

#include <QString>

// The diagnostic runs chosen on the command line. Each runs without the panel window, before the crash
// handler and the single-instance lock, so it may overlap a running panel.

// "--icon-probe=<path>": icon diagnostics for one path.
void startIconProbe(const QString& path);

// "--ui-preview=<folder>": renders interface previews into the folder.
void startUiPreview(const QString& folder);
