#pragma once

#include <QString>

namespace ktr::platform {

// Crash recording. When a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) reaches the process, the
// handler writes a text dump "crash-yyyyMMdd-hhmmss.dmp" (signal, addresses, thread, backtrace) and one
// line in "crash.log" into the crash folder, keeps the five newest dumps, and then lets the signal's
// default action end the process. The handler runs on an alternate stack and uses no heap.

// Prepares the crash folder once at start-up: the data folder, or the fallback folder when the data
// folder's path is too long to leave room for a dump name within the system's path limit. Also notes the
// version and the local time offset the handler needs later.
void ensureCrashDir(const QString& dataDir);

// Installs the signal handlers (any handler installed before is replaced, not chained).
void installCrashHandler();

// The prepared crash folder (empty before ensureCrashDir, or when no folder could be prepared).
QString crashDir();

// The folder used for a data folder with a too long path: "$XDG_RUNTIME_DIR/KestrunePanel", or
// "/tmp/KestrunePanel-<uid>" without a runtime folder.
QString crashFallbackDir();

// The longest data-folder path (UTF-8 bytes) that still holds the dumps itself.
int crashDirMaxLength();

} // namespace ktr::platform
