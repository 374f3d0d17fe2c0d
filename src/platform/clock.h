// OS-independent: the system's monotonic millisecond tick counter.
#pragma once

#include <cstdint>

namespace relayon::os {

// Milliseconds of a monotonic clock, truncated to 32 bits: the counter wraps to 0 every 2^32 ms
// (about 49.7 days), so callers subtract ticks modulo 2^32.
std::uint32_t tickCount();

}  // namespace relayon::os
