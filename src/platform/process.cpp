#include "platform/process.h"

#include <cerrno>
#include <cstdio>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ktr::platform {

void hardExit(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

uint currentUserId()
{
    return static_cast<uint>(::getuid());
}

void lowerCurrentThreadPriority()
{
    // On Linux the nice value belongs to the thread (its id is a process id to setpriority; the process id
    // names the main thread), and threads made later inherit it. Ten steps below the main thread leaves it a
    // fair share when nothing else wants the processor. Counted from the main thread, not from this thread's
    // own value, so a pool thread whose every job calls this stays ten steps down.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int main = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno != 0) // -1 is a nice value too: only errno tells a failure
        return;
    const int target = main + 10 > 19 ? 19 : main + 10;
    if (current < target)
        ::setpriority(PRIO_PROCESS, tid, target);
}

} // namespace ktr::platform
