#pragma once

#include "platform/processes.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Ending the running market apps when the login session is lost: every program whose file lies below
// "apps" in the data folder, and every process those programs started. Runs on a worker thread (it
// touches nothing of the GUI).

// Ends the market apps below <appDataDir>/apps and returns the number of processes ended; when `names`
// is given it is replaced by the distinct program file names (case-insensitive) in the order they were
// first ended.
int terminateMarketApps(QStringList* names = nullptr);

// The same over a given snapshot, apps folder, own id and killer (tests; the above uses /proc and
// SIGKILL). The apps root is matched as the folder itself and in its canonical form, so a data folder
// reached through a symbolic link still finds the programs the kernel reports by their real path.
int terminateMarketAppsIn(const QString& appsDir, const QList<ktr::platform::ProcessEntry>& snapshot, qint64 selfPid,
                          const std::function<bool(qint64)>& kill, QStringList* names);
