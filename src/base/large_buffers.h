// Large tables (a scan's stores hold tens of megabytes per million entries)
// are filled once, front to back, soon after they are allocated. With 4 KiB
// pages every page costs a fault on first touch, and on a virtual machine a
// fault costs microseconds: filling 80 MB of fresh pages took longer than the
// scan's own work. Transparent huge pages cut the faults 512-fold.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace torvane {

// Below this a table lives in pages malloc reuses; advice is not worth a call.
inline constexpr std::size_t kLargeBufferBytes = std::size_t{4} << 20;
// A table about to be filled gets its pages mapped in one call from this size.
inline constexpr std::size_t kPopulateBufferBytes = std::size_t{256} << 10;

// Asks the system to back [p, p + bytes) with huge pages where whole aligned
// huge pages fit and, with `populate` (a range about to be filled), to map
// its pages at once (Linux; elsewhere, and for small ranges, nothing). Only
// the range's own pages are touched by the advice; the memory's contents stay.
void AdviseHugePages(const void* p, std::size_t bytes, bool populate = false);

// Room for `n` elements in `v`, the new block advised for huge pages when it
// is large (and mapped at once with `populate`: a table that grows by
// doubling fills half its new block at once and the rest soon after).
// Elements are moved once, as by reserve.
template <class T, class A>
void ReserveLarge(std::vector<T, A>& v, std::size_t n, bool populate = false)
{
    if (n <= v.capacity())
        return;
    if (n * sizeof(T) < (populate ? kPopulateBufferBytes : kLargeBufferBytes)) {
        v.reserve(n);
        return;
    }
    std::vector<T, A> bigger;
    bigger.reserve(n);
    AdviseHugePages(bigger.data(), n * sizeof(T), populate);
    for (T& x : v)
        bigger.push_back(std::move(x));
    v.swap(bigger);
}

// Room for one more element: the growth push_back would make (double), with
// the advice.
template <class T, class A>
void ReserveOneMore(std::vector<T, A>& v)
{
    if (v.size() < v.capacity())
        return;
    ReserveLarge(v, v.capacity() < 8 ? 16 : v.capacity() * 2, /*populate=*/true);
}

}  // namespace torvane
