#pragma once

#include <QString>

struct UiPreviewKit;

// The diagnostic runs chosen on the command line. Each runs without the panel window, before the crash
// handler and the single-instance lock, so it may overlap a running panel.

// "--icon-probe=<path>": icon diagnostics for one path.
void startIconProbe(const QString& path);

// "--ui-preview=<folder>": renders interface previews into the folder. The process's exit code: 0, or 1 after
// the reason was printed on the standard error stream when the folder can't be made.
int startUiPreview(const QString& folder);
// The main window's menu look and shortcut dialog, as the previews draw them.
UiPreviewKit panelPreviewKit();
