#include "base/large_buffers.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace torvane {

void AdviseHugePages(const void* p, std::size_t bytes, bool populate)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (p == nullptr || bytes < (populate ? kPopulateBufferBytes : kLargeBufferBytes))
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHuge - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);   // advice only: failure is harmless
#if defined(MADV_POPULATE_WRITE)
    if (!populate)
        return;
    // The table is about to be filled front to back: its pages are mapped
    // in one call rather than one fault each (a fault costs microseconds on
    // a virtual machine). Older kernels refuse the advice; the faults then
    // come as before.
    const std::uintptr_t pfirst = (start + 4095) & ~std::uintptr_t{4095};
    const std::uintptr_t plast = (start + bytes) & ~std::uintptr_t{4095};
    if (plast > pfirst)
        ::madvise(reinterpret_cast<void*>(pfirst), plast - pfirst, MADV_POPULATE_WRITE);
#endif
#else
    (void)p;
    (void)bytes;
    (void)populate;
#endif
}

}  // namespace torvane
