#pragma once

#include <QtGlobal>

namespace ktr::platform {

// Ends the process at once with the code: no destructor of any object (static or on a stack) runs, no
// atexit handler. Whatever must persist has to be written before.
[[noreturn]] void hardExit(int code);

// The numeric id of the user running this process.
uint currentUserId();

} // namespace ktr::platform
