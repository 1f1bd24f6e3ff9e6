#include "platform/tick_count.h"

#include <chrono>

namespace torvane {

std::uint64_t GetTickCount64() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(GetTickCount64()); }

}  // namespace torvane
