#include "platform/process.h"

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
    // On Linux the nice value belongs to the thread (its id is a process id to setpriority), and threads
    // made later inherit it. Ten steps down leaves it a fair share when nothing else wants the processor.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, tid);
    ::setpriority(PRIO_PROCESS, tid, current + 10 > 19 ? 19 : current + 10);
}

} // namespace ktr::platform
