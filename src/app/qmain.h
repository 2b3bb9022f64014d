#pragma once

#include <QString>

class QWidget;
class MainWindow;

namespace ktr::platform {
class SingleInstanceLock;
}

// The process entry: picks the run, keeps one instance, shows the panel and ends with a hard exit.
int qMain(int argc, char** argv);

// The process-wide single-instance lock ("KestrunePanel_SingleInstanceMutex"), held from start-up until the
// hard exit (the agent releases it when it hands over to a panel).
ktr::platform::SingleInstanceLock& singleInstanceLock();

// The start-up cleanup thread: removes temporary backup leftovers once per start.
void startTempCleanupThread();
// Asks the cleanup thread to stop and joins it (waiting up to 2 s), else detaches it. Any number of calls.
void joinTempCleanupThread();

// Records the executable's folder as "InstallPath" in the user's own store (never machine-wide).
void writeInstallPath();

// The program's version: three numbers joined by dots ("0.0.0" when unknown).
QString panelVersionString();

// Centres the window on the screen under the cursor (else the primary screen, else fallbackArea at 0,0).
void centreOnCursorScreen(QWidget* window, int fallbackWidth, int fallbackHeight);

// The check 1200 ms after start: a window on no screen is centred again, a hidden or minimised one shown.
void startupSelfHeal(QWidget* window);

// The quit handler: stops the recorder, waits for backup workers, joins the cleanup thread, saves
// settings and layout, releases the icon cache.
void onAboutToQuit(MainWindow& window);
