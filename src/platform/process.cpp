#include "platform/process.h"

#include <cstdio>
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

} // namespace ktr::platform
