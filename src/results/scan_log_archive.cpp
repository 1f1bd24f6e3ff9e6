// Writing and reading the archive elements of a scan log.
#include "results/scan_log_archive.h"

#include "base/text_encoding.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace torvane {
namespace {

constexpr std::size_t kWriteChunk = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;

constexpr char16_t kLineFeed = 0x000A;
constexpr char16_t kCarriageReturn = 0x000D;

}  // namespace

ScanLogReadError::ScanLogReadError(const std::string& what, std::uint64_t offset)
    : std::runtime_error(what + " at byte " + std::to_string(offset)), offset_(offset)
{
}

// ---- writer ----------------------------------------------------------------

ScanLogArchiveWriter::ScanLogArchiveWriter(Sink sink) : sink_(std::move(sink)) { buffer_.reserve(kWriteChunk); }

void ScanLogArchiveWriter::Put(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const std::size_t room = kWriteChunk - buffer_.size();
        const std::size_t n = std::min(room, size);
        buffer_.insert(buffer_.end(), data, data + n);
        data += n;
        size -= n;
        if (buffer_.size() == kWriteChunk) Flush();
    }
}

int ScanLogArchiveWriter::Flush()
{
    if (error_ == 0 && !buffer_.empty()) error_ = sink_(buffer_.data(), buffer_.size());
    written_ += buffer_.size();
    buffer_.clear();
    return error_;
}

void ScanLogArchiveWriter::U16(std::uint16_t value)
{
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    Put(b, sizeof b);
}

void ScanLogArchiveWriter::U32(std::uint32_t value)
{
    std::uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(value >> (8 * i));
    Put(b, sizeof b);
}

void ScanLogArchiveWriter::U64(std::uint64_t value)
{
    std::uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(value >> (8 * i));
    Put(b, sizeof b);
}

void ScanLogArchiveWriter::Text(std::string_view utf8) { TextUnits(Utf8ToUtf16(utf8)); }

void ScanLogArchiveWriter::TextUnits(std::u16string_view units)
{
    // The Unicode marker, then the length in the smallest form that holds it.
    const std::uint8_t marker[3] = {0xFF, 0xFE, 0xFF};
    Put(marker, sizeof marker);
    const std::uint64_t n = units.size();
    if (n < 0xFF) {
        const std::uint8_t b = static_cast<std::uint8_t>(n);
        Put(&b, 1);
    } else if (n < 0xFFFE) {
        const std::uint8_t b = 0xFF;
        Put(&b, 1);
        U16(static_cast<std::uint16_t>(n));
    } else {
        const std::uint8_t b = 0xFF;
        Put(&b, 1);
        U16(0xFFFF);
        U32(static_cast<std::uint32_t>(n));
    }
    for (const char16_t u : units) U16(u);
}

void ScanLogArchiveWriter::Line(std::u16string_view units)
{
    for (const char16_t u : units) U16(u);
    U16(kCarriageReturn);
    U16(kLineFeed);
}

// ---- reader ----------------------------------------------------------------

ScanLogArchiveReader::ScanLogArchiveReader(std::span<const std::uint8_t> bytes)
    : window_(bytes.data()), windowSize_(bytes.size()), size_(bytes.size())
{
}

ScanLogArchiveReader::ScanLogArchiveReader(std::istream& in, std::uint64_t size) : in_(&in), size_(size) {}

bool ScanLogArchiveReader::Refill()
{
    if (in_ == nullptr || position_ >= size_) return false;
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, size_ - position_)));
    in_->read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(buffer_.size()));
    const auto got = static_cast<std::size_t>(std::max<std::streamsize>(in_->gcount(), 0));
    if (got < buffer_.size()) size_ = position_ + got;  // the stream ended early: so does the input
    window_ = buffer_.data();
    windowSize_ = got;
    return got > 0;
}

std::size_t ScanLogArchiveReader::TakeSome(std::uint8_t* out, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        if (windowSize_ == 0 && !Refill()) break;
        const std::size_t k = std::min(windowSize_, n - done);
        std::memcpy(out + done, window_, k);
        window_ += k;
        windowSize_ -= k;
        position_ += k;
        done += k;
    }
    return done;
}

void ScanLogArchiveReader::Take(std::uint8_t* out, std::size_t n, std::uint64_t elementStart, const char* what)
{
    if (n > Remaining()) throw ScanLogReadError(std::string("end of file inside ") + what, elementStart);
    if (TakeSome(out, n) != n) throw ScanLogReadError(std::string("end of file inside ") + what, elementStart);
}

std::uint8_t ScanLogArchiveReader::U8()
{
    std::uint8_t b = 0;
    Take(&b, 1, position_, "a byte");
    return b;
}

std::uint16_t ScanLogArchiveReader::U16()
{
    std::uint8_t b[2];
    Take(b, 2, position_, "a 16-bit number");
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t ScanLogArchiveReader::U32()
{
    std::uint8_t b[4];
    Take(b, 4, position_, "a 32-bit number");
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b[i];
    return v;
}

std::uint64_t ScanLogArchiveReader::U64()
{
    std::uint8_t b[8];
    Take(b, 8, position_, "a 64-bit number");
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
    return v;
}

std::string ScanLogArchiveReader::Text()
{
    const std::uint64_t start = position_;
    try {
        return TextAt(start);
    } catch (const ScanLogReadError& e) {
        if (e.offset() == start) throw;
        throw ScanLogReadError("end of file inside a text length", start);
    }
}

std::string ScanLogArchiveReader::TextAt(std::uint64_t start)
{
    // The length: one byte, else FF and a u16, else FF FFFF and a u32. The
    // u16 FFFE after the first FF is the Unicode marker: the length follows
    // it, again in one of those forms.
    bool unicode = false;
    std::uint64_t n = U8();
    if (n == 0xFF) {
        std::uint32_t word = U16();
        if (word == 0xFFFE) {
            unicode = true;
            n = U8();
            if (n == 0xFF) word = U16();
        }
        if (n == 0xFF) {
            n = word;
            if (word == 0xFFFF) {
                n = U32();
                // FFFFFFFF would announce a 64-bit length; no text is that long.
                if (n == 0xFFFFFFFFu) throw ScanLogReadError("text length out of range", start);
            }
        }
    }
    if (n > kScanLogMaxTextUnits) throw ScanLogReadError("text too long", start);
    const std::uint64_t bytes = unicode ? 2 * n : n;
    if (bytes > Remaining()) throw ScanLogReadError("end of file inside a text", start);

    std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
    Take(raw.data(), raw.size(), start, "a text");
    if (unicode) return Utf16LeToUtf8(raw.data(), raw.size() / 2);
    return Windows1252ToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
}

std::uint16_t ScanLogArchiveReader::TakeUnit(std::uint64_t elementStart)
{
    std::uint8_t b[2];
    Take(b, 2, elementStart, "a line");
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::optional<std::u16string> ScanLogArchiveReader::Line()
{
    const std::uint64_t start = position_;
    if (Remaining() < 2) {
        // Nothing, or a lone byte that cannot be a unit: the input ends here.
        std::uint8_t b;
        TakeSome(&b, static_cast<std::size_t>(Remaining()));
        return std::nullopt;
    }
    std::u16string line;
    while (Remaining() >= 2) {
        const char16_t unit = TakeUnit(start);
        if (unit == kLineFeed) return line;
        if (unit == kCarriageReturn) {
            if (Remaining() >= 2) {
                const char16_t next = TakeUnit(start);
                if (next != kLineFeed) line.push_back(next);
            }
            return line;
        }
        if (line.size() >= kScanLogMaxTextUnits) throw ScanLogReadError("line too long", start);
        line.push_back(unit);
    }
    // Cut by the end of the input: what there is, and a lone last byte is dropped.
    std::uint8_t b;
    TakeSome(&b, static_cast<std::size_t>(Remaining()));
    return line;
}

}  // namespace torvane
