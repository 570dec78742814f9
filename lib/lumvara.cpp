// The shared library's own translation unit; its contents come from the
// component libraries linked in whole.
#include "lumvara/lumvara.h"

#include <malloc.h>

namespace {

// A camera view runs for days and frees large buffers (decoded pictures of
// tens of megabytes) whenever a player is replaced. The C library raises its
// mapping threshold to the size of each such buffer it frees, after which
// every smaller block, frames and decoder buffers included, comes from its
// arenas, where freed memory stays resident: a view that reconnects now and
// then grows without end. A fixed threshold keeps large blocks as mappings
// of their own that go back to the system when freed.
constexpr int kMappingThreshold = 128 * 1024;

__attribute__((constructor)) void FixMappingThresholdAtLoad() { mallopt(M_MMAP_THRESHOLD, kMappingThreshold); }

}  // namespace
