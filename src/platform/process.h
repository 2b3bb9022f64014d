#pragma once

#include <QtGlobal>

namespace ktr::platform {

// Ends the process at once with the code: no destructor of any object (static or on a stack) runs, no
// atexit handler. Whatever must persist has to be written before.
[[noreturn]] void hardExit(int code);

// The numeric id of the user running this process.
uint currentUserId();

// Makes the calling thread, and the threads it starts from now on, yield to the rest of the program
// (the GUI thread above all): for long background work such as recording the screen, packing a snapshot or
// receiving a package. A process without the privilege to raise a priority cannot undo it, so it is for
// threads that run nothing else: a thread started for the work, or the threads of a pool kept for such jobs.
// Calling it again on the same thread changes nothing.
void lowerCurrentThreadPriority();

} // namespace ktr::platform
