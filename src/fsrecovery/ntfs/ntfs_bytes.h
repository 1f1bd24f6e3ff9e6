// A bounds-checked little-endian view over the bytes of one on-disk NTFS
// structure (a FILE record, an attribute, an attribute-list entry).
//
// Every load states the offset and the width it reads; a load that would reach
// outside the view returns 0 and Has() tells the caller beforehand. Nothing in
// the NTFS readers touches record bytes except through this view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torvane {

class NtfsBytes {
public:
    NtfsBytes() = default;
    NtfsBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit NtfsBytes(std::span<const std::uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}

    std::size_t size() const { return size_; }
    const std::uint8_t* data() const { return data_; }

    // True when [offset, offset + length) lies inside the view (no overflow).
    bool Has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }

    std::uint8_t U8(std::uint64_t offset) const { return Has(offset, 1) ? data_[offset] : 0; }
    std::uint16_t U16(std::uint64_t offset) const
    {
        if (!Has(offset, 2))
            return 0;
        return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    }
    std::uint32_t U32(std::uint64_t offset) const
    {
        if (!Has(offset, 4))
            return 0;
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | data_[offset + static_cast<unsigned>(i)];
        return v;
    }
    std::uint64_t U64(std::uint64_t offset) const
    {
        if (!Has(offset, 8))
            return 0;
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | data_[offset + static_cast<unsigned>(i)];
        return v;
    }

    // The sub-view [offset, offset + length), or an empty view when it does not fit.
    NtfsBytes Sub(std::uint64_t offset, std::uint64_t length) const
    {
        if (!Has(offset, length))
            return {};
        return NtfsBytes(data_ + offset, static_cast<std::size_t>(length));
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace torvane
