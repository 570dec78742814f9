#pragma once
// Millisecond tick and sleep, the timing primitives the camera client and the
// players count with.

#include <cstdint>

namespace lumvara {

// Milliseconds since an arbitrary start, wrapping at 2^32 (about 49.7 days)
// like the Windows tick count. Compare ticks by unsigned subtraction:
// `tickCount() - start >= limit` stays right across the wrap.
uint32_t tickCount();

// Milliseconds elapsed since `startTick`, correct across one wrap.
inline uint32_t ticksSince(uint32_t startTick) { return tickCount() - startTick; }

void sleepMs(uint32_t ms);

// Whole seconds since the epoch; the coarse clock the HTTP line reader uses.
int64_t secondsNow();

}  // namespace lumvara
