// The archive elements a scan log is made of, written and read byte for byte
// as the class library's archive serialization has them. Values follow one
// another with no alignment, padding or index:
//
//   u16, u32, u64  little-endian.
//   Text           written in the Unicode form: the byte FF, the u16 FFFE
//                  (together FF FE FF), the length n in UTF-16 code units,
//                  then n code units, no terminator. The length is one byte
//                  when n < 255, else FF and a u16 when n < 0xFFFE, else FF,
//                  the u16 FFFF and a u32. "" is FF FE FF 00; "PHY" is
//                  FF FE FF 03 50 00 48 00 59 00. A length prefix without the
//                  FF FE FF marker is the single-byte form: n bytes of the
//                  Windows-1252 code page (read only).
//   Line           UTF-16 code units ended by CR LF (0D 00 0A 00). A reader
//                  takes units up to a LF, which is dropped; a CR also ends
//                  the line, and the unit after it is read with it and kept
//                  at the end of the text unless it is a LF.
//   Row            a fixed number of Texts.
//
// Texts are UTF-8 in the program and UTF-16 in the file; a code unit that is
// half of a surrogate pair without its partner reads as U+FFFD.
//
// The reader treats its input as hostile: every length is checked against
// the bytes that remain before anything is allocated for it, a Text or Line
// longer than kScanLogMaxTextUnits is refused, and every failure raises
// ScanLogReadError with the offset of the element that failed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// The longest Text or Line a reader accepts, in code units. Every text of the
// format is a name, a number or a short description; the class library's own
// bound (0x7FFFFFFF) would let a damaged length ask for gigabytes.
inline constexpr std::uint32_t kScanLogMaxTextUnits = 1u << 20;

// A read that ran past the end of the input or met a malformed element.
class ScanLogReadError : public std::runtime_error {
public:
    ScanLogReadError(const std::string& what, std::uint64_t offset);
    // Where the element that failed begins.
    std::uint64_t offset() const { return offset_; }

private:
    std::uint64_t offset_;
};

class ScanLogArchiveWriter {
public:
    // Receives the bytes in chunks; returns 0 or an errno value. After the
    // first failure the writer passes nothing more on.
    using Sink = std::function<int(const std::uint8_t* data, std::size_t size)>;

    explicit ScanLogArchiveWriter(Sink sink);
    ScanLogArchiveWriter(const ScanLogArchiveWriter&) = delete;
    ScanLogArchiveWriter& operator=(const ScanLogArchiveWriter&) = delete;

    void U16(std::uint16_t value);
    void U32(std::uint32_t value);
    void U64(std::uint64_t value);
    void Text(std::string_view utf8);
    void TextUnits(std::u16string_view units);
    // The units as they are, then CR LF. The caller keeps CR and LF out.
    void Line(std::u16string_view units);
    template <std::size_t N>
    void Row(const std::array<std::string, N>& texts)
    {
        for (const std::string& text : texts) Text(text);
    }

    // Passes on what is buffered; returns 0 or the first error of the sink.
    int Flush();
    int Error() const { return error_; }
    // Bytes given to the writer so far (passed on or still buffered).
    std::uint64_t Size() const { return written_ + buffer_.size(); }

private:
    void Put(const std::uint8_t* data, std::size_t size);

    Sink sink_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t written_ = 0;
    int error_ = 0;
};

class ScanLogArchiveReader {
public:
    // Reads bytes held in memory (not copied: they must outlive the reader).
    explicit ScanLogArchiveReader(std::span<const std::uint8_t> bytes);
    // Reads a stream of `size` bytes from its current position, through a
    // buffer of its own. A stream that ends early ends the input there.
    ScanLogArchiveReader(std::istream& in, std::uint64_t size);
    ScanLogArchiveReader(const ScanLogArchiveReader&) = delete;
    ScanLogArchiveReader& operator=(const ScanLogArchiveReader&) = delete;

    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::uint64_t U64();
    // A Text in either form, as UTF-8.
    std::string Text();
    // A Line, without its end; nullopt when the input ends before any unit
    // of it. A line cut by the end of the input (or by a lone last byte)
    // comes back as far as it goes.
    std::optional<std::u16string> Line();
    template <std::size_t N>
    std::array<std::string, N> Row()
    {
        std::array<std::string, N> texts;
        for (std::string& text : texts) text = Text();
        return texts;
    }

    std::uint64_t Position() const { return position_; }
    std::uint64_t Remaining() const { return size_ - position_; }
    bool AtEnd() const { return position_ >= size_; }

private:
    // Copies `n` bytes to `out`; raises when fewer remain (nothing consumed then).
    void Take(std::uint8_t* out, std::size_t n, std::uint64_t elementStart, const char* what);
    // Copies up to `n` bytes; returns how many there were.
    std::size_t TakeSome(std::uint8_t* out, std::size_t n);
    bool Refill();
    std::uint16_t TakeUnit(std::uint64_t elementStart);
    std::string TextAt(std::uint64_t start);

    std::istream* in_ = nullptr;
    std::vector<std::uint8_t> buffer_;      // stream input only
    const std::uint8_t* window_ = nullptr;  // bytes not yet taken
    std::size_t windowSize_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace torvane
