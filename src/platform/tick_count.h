// Millisecond tick counts from a monotonic clock, for elapsed-time texts and
// timed passes. The 32-bit count wraps after about 49.7 days; code that keeps a
// start tick subtracts in unsigned 32-bit arithmetic, which handles the wrap.
#pragma once

#include <cstdint>

namespace torvane {

// Milliseconds since an arbitrary fixed point (the clock never goes back).
std::uint64_t GetTickCount64();
// The low 32 bits of GetTickCount64().
std::uint32_t GetTickCount();

}  // namespace torvane
