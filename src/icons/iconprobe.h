#pragma once

#include <QString>

// A diagnostic run of the icon extraction over the places whose icons are hardest to find (the shell folders
// and the user folders): one PNG per icon found in outputDir, one "icon probe:" log line per attempt. Every
// failure is only logged. GUI thread (it reads Qt's icon theme settings).
void probeIcons(const QString& outputDir);
