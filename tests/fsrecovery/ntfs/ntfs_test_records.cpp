#include "ntfs_test_records.h"

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

RecordBuilder::Placed RecordBuilder::Append(std::uint32_t type, bool nonResident, std::size_t nameOffset,
                                            const std::u16string& name, std::uint16_t flags, const Bytes& body)
{
    std::size_t bodyOffset = nameOffset + 2 * name.size();
    Align8(bodyOffset);
    std::size_t length = bodyOffset + body.size();
    Align8(length);
    if (next_ + length + 8 > 1024)
        throw std::runtime_error("record full");
    const std::size_t a = next_;
    offsets_.push_back(a);
    PutU32(record_, a, type);
    PutU32(record_, a + 4, static_cast<std::uint32_t>(length));
    record_[a + 8] = nonResident ? 1 : 0;
    record_[a + 9] = static_cast<std::uint8_t>(name.size());
    PutU16(record_, a + 10, static_cast<std::uint16_t>(nameOffset));
    PutU16(record_, a + 12, flags);
    PutU16(record_, a + 14, static_cast<std::uint16_t>(offsets_.size()));
    for (std::size_t i = 0; i < name.size(); ++i)
        PutU16(record_, a + nameOffset + 2 * i, name[i]);
    std::copy(body.begin(), body.end(), record_.begin() + static_cast<std::ptrdiff_t>(a + bodyOffset));
    next_ += length;
    PutU32(record_, next_, 0xFFFFFFFF);
    PutU32(record_, 24, static_cast<std::uint32_t>(next_ + 8));
    return {a, bodyOffset};
}

RecordBuilder& RecordBuilder::Resident(std::uint32_t type, const Bytes& value, const std::u16string& name,
                                       std::uint16_t flags)
{
    const Placed at = Append(type, false, 24, name, flags, value);
    PutU32(record_, at.attribute + 16, static_cast<std::uint32_t>(value.size()));
    PutU16(record_, at.attribute + 20, static_cast<std::uint16_t>(at.body));
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
    const Placed at = Append(type, true, compressionUnit ? 72 : 64, name, flags, pairs);
    const std::size_t a = at.attribute;
    PutU64(record_, a + 16, firstVcn);
    PutU64(record_, a + 24, lastVcn);
    PutU16(record_, a + 32, static_cast<std::uint16_t>(at.body));
    PutU16(record_, a + 34, compressionUnit);
    PutU64(record_, a + 40, (lastVcn + 1) * 4096);
    PutU64(record_, a + 48, dataSize);
    PutU64(record_, a + 56, initializedSize == ~0ull ? dataSize : initializedSize);
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

}  // namespace torvane::test
