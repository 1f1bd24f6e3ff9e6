// A bounds-checked little-endian view over on-disk bytes: a sector, a boot
// record, a directory entry, an NTFS FILE record or one of its attributes.
//
// Every parser of device input reads through this view. Each load states the
// offset and the width it reads; a load that would reach outside the view
// returns 0, so a damaged structure can never make a parser read outside its
// buffer. Has() tells a caller beforehand whether a field lies inside.
// The view does not own its bytes: they must outlive it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

namespace torvane {

class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}
    constexpr explicit ByteView(std::span<const std::uint8_t> bytes) : ByteView(bytes.data(), bytes.size()) {}

    constexpr std::size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }
    constexpr const std::uint8_t* data() const { return data_; }

    // True when [offset, offset + length) lies inside the view (no overflow).
    constexpr bool Has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }

    constexpr std::uint8_t U8(std::uint64_t offset) const { return Has(offset, 1) ? data_[offset] : 0; }
    constexpr std::uint16_t U16(std::uint64_t offset) const { return static_cast<std::uint16_t>(Load(offset, 2)); }
    constexpr std::uint32_t U32(std::uint64_t offset) const { return static_cast<std::uint32_t>(Load(offset, 4)); }
    constexpr std::uint64_t U64(std::uint64_t offset) const { return Load(offset, 8); }

    // True when the bytes at `offset` equal `bytes` exactly (case-sensitive);
    // false when they would reach outside the view.
    bool Matches(std::uint64_t offset, std::string_view bytes) const
    {
        if (!Has(offset, bytes.size()))
            return false;
        return bytes.empty() || std::memcmp(data_ + offset, bytes.data(), bytes.size()) == 0;
    }

    // The sub-view [offset, offset + length), or an empty view when it does not fit.
    constexpr ByteView Sub(std::uint64_t offset, std::uint64_t length) const
    {
        if (!Has(offset, length))
            return {};
        return ByteView(data_ + offset, static_cast<std::size_t>(length));
    }
    // The bytes from `offset` to the end (empty when offset is past the end).
    constexpr ByteView From(std::uint64_t offset) const
    {
        return offset <= size_ ? ByteView(data_ + offset, size_ - static_cast<std::size_t>(offset)) : ByteView();
    }

private:
    // `width` bytes little-endian at `offset`, or 0 when they do not all lie inside.
    constexpr std::uint64_t Load(std::uint64_t offset, unsigned width) const
    {
        if (!Has(offset, width))
            return 0;
        std::uint64_t v = 0;
        if constexpr (std::endian::native == std::endian::little) {
            // One load of the field's bytes in place (the parsers read
            // millions of fields per second of a sweep).
            if (!std::is_constant_evaluated()) {
                std::memcpy(&v, data_ + offset, width);
                return v;
            }
        }
        for (unsigned i = width; i-- > 0;)
            v = (v << 8) | data_[offset + i];
        return v;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace torvane
