#pragma once

namespace ktr::platform {

// Hands memory the allocator holds but no longer uses back to the system (after a burst of work on worker
// threads, whose freed blocks otherwise stay with the process).
void releaseFreeHeap();

} // namespace ktr::platform
