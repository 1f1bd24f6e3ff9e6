#include "fsrecovery/ntfs/deep_ntfs_sweep.h"

#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "fsrecovery/store/name_rules.h"
#include "platform/device.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace torvane {
namespace {

constexpr std::size_t kSector = 512;

// INDX header: "INDX", update sequence (4, 6), $LogFile LSN (8), VCN (16),
// then the index header at 24: u32 first entry offset (from 24), u32 bytes
// in use, u32 bytes allocated, flags.
// Index entry, from its start e: u64 file reference (e+0), u16 entry length
// (e+8), u16 key length (e+10), u8 flags (e+12: 1 sub-node, 2 last entry),
// and the key, a $FILE_NAME value, from e+16.
constexpr std::size_t kIndexEntryHeader = 16;
constexpr std::uint8_t kIndexEntryLast = 0x02;
constexpr std::uint32_t kFileNameDirectory = 0x10000000;

// Cluster size votes: a non-resident attribute that holds its whole run list
// (first VCN 0) was given (last VCN + 1) clusters for its allocated size.
void VoteClusterSize(const NtfsAttribute& a, DeepNtfsTable& table)
{
    if (!a.nonResident || a.firstVcn != 0 || a.lastVcn >= (1ull << 40) || a.allocatedSize == 0)
        return;
    const std::uint64_t clusters = a.lastVcn + 1;
    if (a.allocatedSize % clusters != 0)
        return;
    const std::uint64_t bytes = a.allocatedSize / clusters;
    for (unsigned shift = 0; shift < 8; ++shift)
        if (bytes == (kSector << shift)) {
            table.VoteClusterShift(shift);
            return;
        }
}

// The $FILE_NAME value's fixed part (66 bytes) and the name it announces
// both lie inside the value: what ParseNtfsFileNameValue accepts.
constexpr std::uint32_t kFileNameFixedSize = 66;
bool FileNameValueFits(NtfsBytes value)
{
    return value.Has(0, kFileNameFixedSize) && value.Has(kFileNameFixedSize, 2u * value.U8(64));
}

// The rank of a namespace in the order names are chosen (kNtfsNamespaceOrder),
// 4 for none of them.
int NamespaceRank(std::uint8_t nameSpace)
{
    for (int i = 0; i < 4; ++i)
        if (kNtfsNamespaceOrder[i] == nameSpace)
            return i;
    return 4;
}

// White space as TrimWhite drops it.
bool IsWhiteByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// TrimWhite(name), without a copy when there is nothing to trim.
std::string Trimmed(std::string&& name)
{
    if (name.empty() || (!IsWhiteByte(name.front()) && !IsWhiteByte(name.back())))
        return std::move(name);
    return TrimWhite(name);
}

}  // namespace

bool ParseDeepFileRecord(std::uint8_t* record, std::uint64_t sector, DeepNtfsFileRecord& out, DeepNtfsTable* table)
{
    NtfsBytes view(record, kMftRecordSize);
    if (!HasFileSignature(view) || view.U16(28) != kMftRecordSize)
        return false;
    if (ApplyUpdateSequenceFixup(record, kMftRecordSize) == FixupResult::Invalid)
        return false;
    NtfsRecordHeader header;
    if (!ReadNtfsRecordHeader(view, header))
        return false;
    out = DeepNtfsFileRecord{};
    out.sector = sector;
    out.flags = view.U8(22);
    out.sequence = header.sequenceNumber;
    out.baseReference = header.baseRecordReference;
    // The own number exists from NTFS 3.1 on, where the update sequence
    // array begins after it (at 48).
    out.hasNumber = header.updateSequenceOffset >= 48;
    out.number = out.hasNumber ? header.recordNumber : 0;
    // One walk over the attributes: the name in namespace order (the first
    // value of the best namespace), the first unnamed $DATA, the votes.
    NtfsBytes nameValue;
    int nameRank = 4;
    bool dataSeen = false;
    NtfsAttributeCursor cursor(view);
    NtfsAttribute a;
    while (cursor.Next(a)) {
        if (a.type == kNtfsAttrFileName && nameRank != 0 && !a.IsNamed() && !a.nonResident) {
            const NtfsBytes value = a.Value(view);
            if (FileNameValueFits(value)) {
                const int rank = NamespaceRank(value.U8(65));
                if (rank < nameRank) {
                    nameRank = rank;
                    nameValue = value;
                }
            }
        } else if (a.type == kNtfsAttrData && !dataSeen && !a.IsNamed()) {
            dataSeen = true;
            out.size = a.nonResident ? (a.firstVcn == 0 ? a.dataSize : 0) : a.valueLength;
        }
        if (table)
            VoteClusterSize(a, *table);
    }
    NtfsFileName fn;
    if (nameRank < 4 && ParseNtfsFileNameValue(nameValue, fn)) {
        out.hasName = true;
        out.name = Trimmed(std::move(fn.name));
        out.parent = fn.ParentRecord32();
        out.creationTime = fn.creationTime;
    }
    // Number 0 belongs to the $MFT alone: records a format reserved but
    // never used (16 to 23) hold 0 there too.
    if (out.hasNumber && out.number == 0 && out.name != "$MFT")
        out.hasNumber = false;
    if (table) {
        if (out.hasNumber && !out.IsExtension() && out.parent == 5 &&
            ((out.number == 0 && out.name == "$MFT") || (out.number == 1 && out.name == "$MFTMirr")))
            table->AddRecordCopy(out.number, sector, record);
    }
    return true;
}

std::size_t DeepIndexBlockSize(const std::uint8_t* firstSector, std::size_t available)
{
    NtfsBytes view(firstSector, std::min(available, kSector));
    if (!HasIndxSignature(view) || !view.Has(32, 4))
        return 0;
    const std::uint64_t size = static_cast<std::uint64_t>(view.U32(32)) + 24;
    if (size < kSector || size > kMaxIndxBlockBytes || size % kSector != 0)
        return 0;
    return static_cast<std::size_t>(size);
}

std::size_t ParseDeepIndexBlock(std::uint8_t* block, std::size_t size, std::uint64_t sector,
                                std::vector<DeepNtfsIndexEntry>& out)
{
    if (size < kSector || size > kMaxIndxBlockBytes || size % kSector != 0)
        return 0;
    NtfsBytes view(block, size);
    if (!HasIndxSignature(view))
        return 0;
    if (ApplyUpdateSequenceFixup(block, size) == FixupResult::Invalid)
        return 0;
    const std::uint64_t first = 24 + static_cast<std::uint64_t>(view.U32(24));
    // The first entry must show its parent inside the block, and name an
    // ordinary directory (the root, 5, or a later record).
    if (first + kIndexEntryHeader + 4 > size)
        return 0;
    const std::uint32_t firstParent = view.U32(first + kIndexEntryHeader);
    if (firstParent < 5 || firstParent == 0xFFFFFFFFu)
        return 0;

    const std::size_t before = out.size();
    std::uint64_t at = first;
    while (at + kIndexEntryHeader <= size) {
        const std::uint16_t length = view.U16(at + 8);
        const std::uint16_t keyLength = view.U16(at + 10);
        const std::uint8_t flags = view.U8(at + 12);
        if (length < kIndexEntryHeader || at + length > size)
            break;
        if ((flags & kIndexEntryLast) != 0)
            break;
        NtfsFileName fn;
        if (kIndexEntryHeader + static_cast<std::uint64_t>(keyLength) <= length &&
            ParseNtfsFileNameValue(view.Sub(at + kIndexEntryHeader, keyLength), fn) && fn.name.size() > 0) {
            DeepNtfsIndexEntry e;
            e.reference = view.U64(at);
            e.parent = fn.ParentRecord32();
            e.creationTime = fn.creationTime;
            e.size = fn.dataSize;
            e.indexSector = sector;
            e.directory = (fn.fileAttributes & kFileNameDirectory) != 0;
            e.nameSpace = fn.nameSpace;
            e.name = Trimmed(std::move(fn.name));
            out.push_back(std::move(e));
        }
        at += length;
    }
    return out.size() - before;
}

DeepNtfsSweep::DeepNtfsSweep(DeepNtfsTable& table, DeepSectorReader read, std::uint64_t endSector)
    : table_(table), read_(std::move(read)), endSector_(endSector)
{
}

bool DeepNtfsSweep::Fetch(const std::uint8_t* data, std::size_t bytes, std::uint64_t firstSector, std::size_t at,
                          std::uint32_t sectors, std::uint8_t* out)
{
    const std::size_t want = static_cast<std::size_t>(sectors) * kSector;
    const std::size_t offset = at * kSector;
    if (offset + want <= bytes) {
        std::memcpy(out, data + offset, want);
        return true;
    }
    // Runs past the chunk: the part in the chunk, the rest from the device.
    const std::size_t inChunk = bytes > offset ? (bytes - offset) / kSector * kSector : 0;
    std::memcpy(out, data + offset, inChunk);
    const std::uint64_t next = firstSector + at + inChunk / kSector;
    const std::uint32_t rest = sectors - static_cast<std::uint32_t>(inChunk / kSector);
    if (endSector_ != 0 && (next >= endSector_ || rest > endSector_ - next))
        return false;
    return read_ && read_(next, rest, out + inChunk);
}

std::uint8_t* DeepNtfsSweep::Buffer(std::size_t bytes)
{
    // Grown on demand: most sweeps meet records (1 KiB) and 4 KiB index
    // blocks only, and a sweep of a few sectors should not clear 64 KiB.
    if (buffer_.size() < bytes)
        buffer_.resize(bytes);
    return buffer_.data();
}

void DeepNtfsSweep::ExamineChunk(const std::uint8_t* data, std::size_t bytes, std::uint64_t firstSector)
{
    const std::size_t sectors = bytes / kSector;
    for (std::size_t i = 0; i < sectors; ++i) {
        const std::uint8_t* s = data + i * kSector;
        // One 4-byte compare per sector: most sectors are neither.
        if (std::memcmp(s, "FILE", 4) == 0) {
            if ((s[28] | (s[29] << 8)) != kMftRecordSize)
                continue;
            if (!Fetch(data, bytes, firstSector, i, 2, Buffer(kMftRecordSize)))
                continue;
            DeepNtfsFileRecord row;
            if (ParseDeepFileRecord(buffer_.data(), firstSector + i, row, &table_)) {
                ++fileRecords_;
                table_.AddFileRecord(std::move(row));
            }
        } else if (std::memcmp(s, "INDX", 4) == 0) {
            const std::size_t size = DeepIndexBlockSize(s, kSector);
            if (size == 0 ||
                !Fetch(data, bytes, firstSector, i, static_cast<std::uint32_t>(size / kSector), Buffer(size)))
                continue;
            entries_.clear();
            if (ParseDeepIndexBlock(buffer_.data(), size, firstSector + i, entries_) != 0) {
                ++indexBlocks_;
                table_.AddIndexBlock();
                for (DeepNtfsIndexEntry& e : entries_)
                    table_.AddIndexEntry(std::move(e));
            }
        }
    }
}

}  // namespace torvane
