#include "ntfs_test_records.h"

#include <array>
#include <cstdio>
#include <stdexcept>

namespace torvane::test {

void PutU16(Bytes& b, std::size_t at, std::uint16_t v)
{
    for (int i = 0; i < 2; ++i)
        b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU64(Bytes& b, std::size_t at, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

namespace {

unsigned SignedWidth(std::int64_t v)
{
    for (unsigned w = 1; w < 8; ++w) {
        const std::int64_t lo = -(std::int64_t(1) << (8 * w - 1));
        const std::int64_t hi = (std::int64_t(1) << (8 * w - 1)) - 1;
        if (v >= lo && v <= hi)
            return w;
    }
    return 8;
}

unsigned UnsignedWidth(std::uint64_t v)
{
    unsigned w = 1;
    while (w < 8 && (v >> (8 * w)) != 0)
        ++w;
    return w;
}

void Align8(std::size_t& n) { n = (n + 7) & ~std::size_t(7); }

}  // namespace

Bytes EncodeRuns(const std::vector<TestRun>& runs)
{
    Bytes out;
    std::int64_t prev = 0;
    for (const TestRun& r : runs) {
        const unsigned lw = UnsignedWidth(r.length);
        unsigned ow = 0;
        std::int64_t delta = 0;
        if (!r.sparse) {
            delta = r.lcn - prev;
            ow = SignedWidth(delta);
            prev = r.lcn;
        }
        out.push_back(static_cast<std::uint8_t>(lw | (ow << 4)));
        for (unsigned i = 0; i < lw; ++i)
            out.push_back(static_cast<std::uint8_t>(r.length >> (8 * i)));
        for (unsigned i = 0; i < ow; ++i)
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(delta) >> (8 * i)));
    }
    out.push_back(0);
    return out;
}

Bytes FileNameValue(std::uint64_t parentReference, const std::u16string& name, std::uint8_t nameSpace,
                    std::uint64_t creationTime, std::uint64_t allocatedSize, std::uint64_t dataSize)
{
    Bytes v(66 + 2 * name.size(), 0);
    PutU64(v, 0, parentReference);
    PutU64(v, 8, creationTime);
    PutU64(v, 40, allocatedSize);
    PutU64(v, 48, dataSize);
    v[64] = static_cast<std::uint8_t>(name.size());
    v[65] = nameSpace;
    for (std::size_t i = 0; i < name.size(); ++i)
        PutU16(v, 66 + 2 * i, name[i]);
    return v;
}

RecordBuilder::RecordBuilder(std::uint16_t flags, std::uint32_t recordNumber, std::uint16_t sequence)
    : record_(1024, 0), next_(56)
{
    record_[0] = 'F';
    record_[1] = 'I';
    record_[2] = 'L';
    record_[3] = 'E';
    PutU16(record_, 4, 48);  // update sequence array
    PutU16(record_, 6, 3);
    PutU16(record_, 16, sequence);
    PutU16(record_, 18, 1);
    PutU16(record_, 20, 56);  // first attribute
    PutU16(record_, 22, flags);
    PutU32(record_, 28, 1024);
    PutU32(record_, 44, recordNumber);
    PutU32(record_, next_, 0xFFFFFFFF);
}

RecordBuilder& RecordBuilder::Resident(std::uint32_t type, const Bytes& value, const std::u16string& name,
                                       std::uint16_t flags)
{
    std::size_t nameOffset = 24;
    std::size_t valueOffset = nameOffset + 2 * name.size();
    Align8(valueOffset);
    std::size_t length = valueOffset + value.size();
    Align8(length);
    if (next_ + length + 8 > 1024)
        throw std::runtime_error("record full");
    const std::size_t a = next_;
    offsets_.push_back(a);
    PutU32(record_, a, type);
    PutU32(record_, a + 4, static_cast<std::uint32_t>(length));
    record_[a + 8] = 0;
    record_[a + 9] = static_cast<std::uint8_t>(name.size());
    PutU16(record_, a + 10, static_cast<std::uint16_t>(nameOffset));
    PutU16(record_, a + 12, flags);
    PutU16(record_, a + 14, static_cast<std::uint16_t>(offsets_.size()));
    PutU32(record_, a + 16, static_cast<std::uint32_t>(value.size()));
    PutU16(record_, a + 20, static_cast<std::uint16_t>(valueOffset));
    for (std::size_t i = 0; i < name.size(); ++i)
        PutU16(record_, a + nameOffset + 2 * i, name[i]);
    std::copy(value.begin(), value.end(), record_.begin() + static_cast<std::ptrdiff_t>(a + valueOffset));
    next_ += length;
    PutU32(record_, next_, 0xFFFFFFFF);
    PutU32(record_, 24, static_cast<std::uint32_t>(next_ + 8));
    return *this;
}

RecordBuilder& RecordBuilder::FileName(std::uint64_t parentReference, const std::u16string& name,
                                       std::uint8_t nameSpace, std::uint64_t creationTime,
                                       std::uint64_t allocatedSize)
{
    return Resident(0x30, FileNameValue(parentReference, name, nameSpace, creationTime, allocatedSize));
}

RecordBuilder& RecordBuilder::NonResident(std::uint32_t type, const Bytes& pairs, std::uint64_t firstVcn,
                                          std::uint64_t lastVcn, std::uint64_t dataSize, std::uint16_t flags,
                                          std::uint16_t compressionUnit, const std::u16string& name,
                                          std::uint64_t initializedSize)
{
    const std::size_t header = compressionUnit ? 72 : 64;
    const std::size_t nameOffset = header;
    std::size_t pairsOffset = nameOffset + 2 * name.size();
    Align8(pairsOffset);
    std::size_t length = pairsOffset + pairs.size();
    Align8(length);
    if (next_ + length + 8 > 1024)
        throw std::runtime_error("record full");
    const std::size_t a = next_;
    offsets_.push_back(a);
    PutU32(record_, a, type);
    PutU32(record_, a + 4, static_cast<std::uint32_t>(length));
    record_[a + 8] = 1;
    record_[a + 9] = static_cast<std::uint8_t>(name.size());
    PutU16(record_, a + 10, static_cast<std::uint16_t>(nameOffset));
    PutU16(record_, a + 12, flags);
    PutU16(record_, a + 14, static_cast<std::uint16_t>(offsets_.size()));
    PutU64(record_, a + 16, firstVcn);
    PutU64(record_, a + 24, lastVcn);
    PutU16(record_, a + 32, static_cast<std::uint16_t>(pairsOffset));
    PutU16(record_, a + 34, compressionUnit);
    PutU64(record_, a + 40, (lastVcn + 1) * 4096);
    PutU64(record_, a + 48, dataSize);
    PutU64(record_, a + 56, initializedSize == ~0ull ? dataSize : initializedSize);
    for (std::size_t i = 0; i < name.size(); ++i)
        PutU16(record_, a + nameOffset + 2 * i, name[i]);
    std::copy(pairs.begin(), pairs.end(), record_.begin() + static_cast<std::ptrdiff_t>(a + pairsOffset));
    next_ += length;
    PutU32(record_, next_, 0xFFFFFFFF);
    PutU32(record_, 24, static_cast<std::uint32_t>(next_ + 8));
    return *this;
}

RecordBuilder& RecordBuilder::BaseRecord(std::uint64_t reference)
{
    PutU64(record_, 32, reference);
    return *this;
}

Bytes RecordBuilder::Build(bool protect) const
{
    Bytes out = record_;
    if (protect)
        ProtectRecord(out);
    return out;
}

void ProtectRecord(Bytes& record, std::uint16_t usn)
{
    const std::size_t sectors = record.size() / 512;
    PutU16(record, 4, 48);
    PutU16(record, 6, static_cast<std::uint16_t>(sectors + 1));
    PutU16(record, 48, usn);
    for (std::size_t i = 0; i < sectors; ++i) {
        record[48 + 2 + 2 * i] = record[512 * i + 510];
        record[48 + 3 + 2 * i] = record[512 * i + 511];
        PutU16(record, 512 * i + 510, usn);
    }
}

namespace {

constexpr std::array<std::uint32_t, 64> kK = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

std::string Sha256Hex(const std::string& bytes)
{
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::string msg = bytes;
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
    msg.push_back(static_cast<char>(0x80));
    while (msg.size() % 64 != 56)
        msg.push_back(0);
    for (int i = 7; i >= 0; --i)
        msg.push_back(static_cast<char>(bits >> (8 * i)));
    for (std::size_t chunk = 0; chunk < msg.size(); chunk += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(msg.data() + chunk + 4 * i);
            w[i] = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
        }
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
            const std::uint32_t ch = (e & f) ^ (~e & g);
            const std::uint32_t t1 = hh + s1 + ch + kK[i] + w[i];
            const std::uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
            const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
            const std::uint32_t t2 = s0 + maj;
            hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
        }
        h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
    }
    char out[65];
    for (int i = 0; i < 8; ++i)
        std::snprintf(out + 8 * i, 9, "%08x", h[i]);
    return std::string(out, 64);
}

}  // namespace torvane::test
