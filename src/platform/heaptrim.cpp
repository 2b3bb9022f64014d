#include "platform/heaptrim.h"

#include <malloc.h>

namespace ktr::platform {

void releaseFreeHeap()
{
    malloc_trim(0);
}

} // namespace ktr::platform
