#pragma once

#include <QString>
#include <QtGlobal>

namespace ktr::platform {

// Ends the process at once with the code: no destructor of any object (static or on a stack) runs, no
// atexit handler. Whatever must persist has to be written before.
[[noreturn]] void hardExit(int code);

// The numeric id of the user running this process.
uint currentUserId();

} // namespace ktr::platform

namespace ktr::platform {

// This process's id.
qint64 currentProcessId();

// True when a process with the id exists (kill(pid, 0) succeeds or is refused for permission).
bool isProcessAlive(qint64 pid);

// The executable a process runs (/proc/<pid>/exe), without a " (deleted)" mark; empty when unknown.
QString processExecutable(qint64 pid);

} // namespace ktr::platform
