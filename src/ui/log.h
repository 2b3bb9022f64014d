#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace ktr::platform {
class Clock;
}

// The program's log: every accepted message becomes one UTF-8 line in
// <data folder>/logs/<yyyy-MM-dd>/app.log, rotated to app.1.log past 5 MiB; day folders older than seven
// days are pruned at start and every six hours. "KTR_VERBOSE" set to "1" or "2" writes debug lines too.

// Sets the log root, prunes, chooses the verbosity and installs the message handler.
void installLogging(const QString& dataDir);

// The log root (data folder + "/logs"); empty before installLogging.
QString logRootDir();

// Removes the day folders dated more than seven days before today.
void pruneLogs();

// The message handler installLogging installs.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);

// Test seams: the clock that dates lines and day folders (nullptr: the system clock), and a hook run while
// the handler holds its write lock.
void setLogClock(ktr::platform::Clock* clock);
void setLogLockedHook(std::function<void()> hook);
