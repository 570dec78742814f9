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

// Every view runs a few threads, and each reconnect starts new ones. The C
// library gives threads arenas of their own, up to eight per core, and an
// arena keeps the memory its threads freed (frames, packets, decoder
// scratch) resident for whichever thread it serves next: over hours of
// reconnects each of the sixteen arenas of a two-core machine ratchets up
// to its own high-water mark, and resident memory grows by megabytes an
// hour although nothing leaks. Two arenas reuse each other's freed memory;
// the library allocates a few hundred blocks a second, far too few for
// threads to queue on two arenas' locks.
constexpr int kArenaLimit = 2;

__attribute__((constructor)) void FixAllocatorAtLoad() {
  mallopt(M_MMAP_THRESHOLD, kMappingThreshold);
  mallopt(M_ARENA_MAX, kArenaLimit);
}

}  // namespace
