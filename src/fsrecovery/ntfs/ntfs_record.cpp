#include "fsrecovery/ntfs/ntfs_record.h"

#include "base/text_encoding.h"

namespace torvane {
namespace {

constexpr std::size_t kRecordHeaderSize = 48;       // through the record number at 44
constexpr std::uint32_t kResidentHeaderSize = 24;   // through the value offset at 20
constexpr std::uint32_t kNonResidentHeaderSize = 64;// through the initialised size at 56

bool HasSignature(NtfsBytes bytes, const char* sig)
{
    return bytes.Has(0, 4) && bytes.U8(0) == static_cast<std::uint8_t>(sig[0]) &&
           bytes.U8(1) == static_cast<std::uint8_t>(sig[1]) && bytes.U8(2) == static_cast<std::uint8_t>(sig[2]) &&
           bytes.U8(3) == static_cast<std::uint8_t>(sig[3]);
}

}  // namespace

bool HasFileSignature(NtfsBytes record) { return HasSignature(record, "FILE"); }
bool HasIndxSignature(NtfsBytes record) { return HasSignature(record, "INDX"); }

bool ReadNtfsRecordHeader(NtfsBytes record, NtfsRecordHeader& out)
{
    if (!record.Has(0, kRecordHeaderSize) || !HasFileSignature(record))
        return false;
    out.updateSequenceOffset = record.U16(4);
    out.updateSequenceCount = record.U16(6);
    out.sequenceNumber = record.U16(16);
    out.linkCount = record.U16(18);
    out.firstAttributeOffset = record.U16(20);
    out.flags = record.U16(22);
    out.bytesUsed = record.U32(24);
    out.bytesAllocated = record.U32(28);
    out.baseRecordReference = record.U64(32);
    out.recordNumber = record.U32(44);
    return true;
}

NtfsBytes NtfsAttribute::Value(NtfsBytes record) const
{
    if (nonResident)
        return {};
    return record.Sub(static_cast<std::uint64_t>(offset) + valueOffset, valueLength);
}

NtfsBytes NtfsAttribute::MappingPairs(NtfsBytes record) const
{
    if (!nonResident)
        return {};
    return record.Sub(static_cast<std::uint64_t>(offset) + mappingPairsOffset, length - mappingPairsOffset);
}

std::string NtfsAttribute::Name(NtfsBytes record) const
{
    if (nameLength == 0)
        return {};
    NtfsBytes name = record.Sub(static_cast<std::uint64_t>(offset) + nameOffset, 2u * nameLength);
    if (name.size() == 0)
        return {};
    return Utf16LeToUtf8(name.data(), nameLength);
}

NtfsAttributeCursor::NtfsAttributeCursor(NtfsBytes record) : record_(record)
{
    NtfsRecordHeader header;
    if (!ReadNtfsRecordHeader(record, header)) {
        done_ = true;
        return;
    }
    // The first attribute follows the header; an offset inside the header or
    // past the record means the record holds none we can trust.
    next_ = header.firstAttributeOffset;
    // (42 bytes is the header of records written before NTFS 3.1.)
    if (next_ < kRecordHeaderSize - 6 || next_ >= record.size()) {
        done_ = true;
        corrupt_ = true;
    }
}

bool NtfsAttributeCursor::Next(NtfsAttribute& out)
{
    if (done_)
        return false;
    auto stop = [&](bool corrupt) {
        done_ = true;
        corrupt_ = corrupt_ || corrupt;
        return false;
    };
    const std::size_t a = next_;
    if (!record_.Has(a, 4))
        return stop(true);  // no room even for the end marker
    const std::uint32_t type = record_.U32(a);
    if (type == kNtfsAttrEnd || type == 0)
        return stop(false);
    if (!record_.Has(a, 16))
        return stop(true);
    const std::uint32_t length = record_.U32(a + 4);
    if (length < kResidentHeaderSize || !record_.Has(a, length))
        return stop(true);

    NtfsAttribute attr;
    attr.offset = static_cast<std::uint32_t>(a);
    attr.type = type;
    attr.length = length;
    const std::uint8_t nonResident = record_.U8(a + 8);
    if (nonResident > 1)
        return stop(true);
    attr.nonResident = nonResident == 1;
    attr.nameLength = record_.U8(a + 9);
    attr.nameOffset = record_.U16(a + 10);
    attr.flags = record_.U16(a + 12);
    attr.id = record_.U16(a + 14);
    if (attr.nameLength != 0 &&
        static_cast<std::uint64_t>(attr.nameOffset) + 2u * attr.nameLength > length)
        return stop(true);

    if (!attr.nonResident) {
        attr.valueLength = record_.U32(a + 16);
        attr.valueOffset = record_.U16(a + 20);
        if (attr.valueOffset < kResidentHeaderSize && attr.valueLength > 0)
            return stop(true);
        if (static_cast<std::uint64_t>(attr.valueOffset) + attr.valueLength > length)
            return stop(true);
    } else {
        if (length < kNonResidentHeaderSize)
            return stop(true);
        attr.firstVcn = record_.U64(a + 16);
        attr.lastVcn = record_.U64(a + 24);
        attr.mappingPairsOffset = record_.U16(a + 32);
        attr.compressionUnit = record_.U16(a + 34);
        attr.allocatedSize = record_.U64(a + 40);
        attr.dataSize = record_.U64(a + 48);
        attr.initializedSize = record_.U64(a + 56);
        if (attr.mappingPairsOffset < kNonResidentHeaderSize || attr.mappingPairsOffset > length)
            return stop(true);
    }
    next_ = a + length;
    out = attr;
    return true;
}

std::optional<NtfsAttribute> FindNtfsAttribute(NtfsBytes record, std::uint32_t type, bool unnamedOnly)
{
    NtfsAttributeCursor cursor(record);
    NtfsAttribute attr;
    while (cursor.Next(attr)) {
        if (attr.type == type && (!unnamedOnly || !attr.IsNamed()))
            return attr;
    }
    return std::nullopt;
}

NtfsDataLocation FindUnnamedDataAttribute(NtfsBytes record, std::uint32_t& offset)
{
    offset = 0;
    if (HasIndxSignature(record)) {
        const std::uint64_t first = static_cast<std::uint64_t>(record.U32(24)) + 24;
        if (!record.Has(first, 1))
            return NtfsDataLocation::None;
        offset = static_cast<std::uint32_t>(first);
        return NtfsDataLocation::NonResident;
    }
    std::optional<NtfsAttribute> data = FindNtfsAttribute(record, kNtfsAttrData, true);
    if (!data)
        return NtfsDataLocation::None;
    offset = data->offset;
    return data->nonResident ? NtfsDataLocation::NonResident : NtfsDataLocation::Resident;
}

std::optional<std::uint64_t> GetNtfsDataSize(NtfsBytes record, const std::string& name)
{
    std::optional<NtfsAttribute> data = FindNtfsAttribute(record, kNtfsAttrData, true);
    if (!data)
        return std::nullopt;
    std::uint64_t size = data->nonResident ? data->dataSize : data->valueLength;
    if (size == 0 && (name.empty() || name[0] != '$')) {
        // The $FILE_NAME's allocated size (value + 40) stands in for an empty
        // $DATA: deleted files keep it when their data attribute was emptied.
        if (std::optional<NtfsAttribute> fn = FindNtfsAttribute(record, kNtfsAttrFileName, true)) {
            NtfsBytes value = fn->Value(record);
            if (value.Has(40, 8))
                size = value.U64(40);
        }
    }
    return size;
}

}  // namespace torvane
