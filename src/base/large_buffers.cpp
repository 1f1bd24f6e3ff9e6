#include "base/large_buffers.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace torvane {

void AdviseHugePages(const void* p, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (p == nullptr || bytes < kLargeBufferBytes)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHuge - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);   // advice only: failure is harmless
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace torvane
