// An MFT FILE record and the attributes it holds.
//
// FILE record header (all NTFS versions we meet; offsets in bytes, little-endian):
//   offset  width  field
//   0       4      signature "FILE" ("BAAD" marks a record NTFS found damaged)
//   4       u16    offset of the update sequence array (see ntfs_fixup.h)
//   6       u16    entries of the update sequence array
//   8       u64    $LogFile sequence number
//   16      u16    sequence number (raised each time the record is reused)
//   18      u16    hard-link count
//   20      u16    offset of the first attribute
//   22      u16    flags: 0x01 in use, 0x02 directory (so 2 = deleted directory,
//                  3 = directory in use, 0 = deleted file, 1 = file in use)
//   24      u32    bytes used by the record
//   28      u32    bytes allocated for the record (1024)
//   32      u64    base record reference (0 for a base record; an extension
//                  record names the record it extends)
//   40      u16    next attribute id
//   44      u32    this record's own number (NTFS 3.1 and later; 0 before)
//
// Attribute header, at the attribute's offset a:
//   a+0     u32    type (0x10 $STANDARD_INFORMATION, 0x20 $ATTRIBUTE_LIST,
//                  0x30 $FILE_NAME, 0x80 $DATA, 0x90 $INDEX_ROOT,
//                  0xA0 $INDEX_ALLOCATION, 0xB0 $BITMAP); 0xFFFFFFFF ends the list
//   a+4     u32    length of the whole attribute
//   a+8     u8     0 resident, 1 non-resident
//   a+9     u8     name length in UTF-16 units (0 = unnamed)
//   a+10    u16    offset of the name
//   a+12    u16    flags: 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
//   a+14    u16    attribute id
// resident:
//   a+16    u32    value length
//   a+20    u16    value offset (from a)
// non-resident:
//   a+16    u64    first VCN held by this attribute piece
//   a+24    u64    last VCN held by this attribute piece
//   a+32    u16    offset of the mapping pairs (data runs, see ntfs_data_runs.h)
//   a+34    u16    compression unit, as a power of two of clusters (0 = none)
//   a+40    u64    allocated size   } meaningful in the piece whose first VCN is 0
//   a+48    u64    data size        }
//   a+56    u64    initialised size }
//
// Every attribute handed out by the cursor below has been checked to lie in
// the record, with its name, its resident value or its mapping pairs inside
// the attribute itself.
#pragma once

#include "fsrecovery/ntfs/ntfs_bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace torvane {

inline constexpr std::size_t kMftRecordSize = 1024;
inline constexpr std::uint32_t kMftRecordSectors = 2;

inline constexpr std::uint32_t kNtfsAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kNtfsAttrAttributeList = 0x20;
inline constexpr std::uint32_t kNtfsAttrFileName = 0x30;
inline constexpr std::uint32_t kNtfsAttrData = 0x80;
inline constexpr std::uint32_t kNtfsAttrIndexRoot = 0x90;
inline constexpr std::uint32_t kNtfsAttrIndexAllocation = 0xA0;
inline constexpr std::uint32_t kNtfsAttrBitmap = 0xB0;
inline constexpr std::uint32_t kNtfsAttrEnd = 0xFFFFFFFF;

inline constexpr std::uint16_t kNtfsRecordInUse = 0x0001;
inline constexpr std::uint16_t kNtfsRecordDirectory = 0x0002;

inline constexpr std::uint16_t kNtfsAttrFlagCompressed = 0x0001;
inline constexpr std::uint16_t kNtfsAttrFlagEncrypted = 0x4000;
inline constexpr std::uint16_t kNtfsAttrFlagSparse = 0x8000;

// The record number (low 48 bits) and sequence number (high 16 bits) of an
// MFT reference.
inline std::uint64_t MftReferenceRecord(std::uint64_t reference) { return reference & 0x0000FFFFFFFFFFFFull; }
inline std::uint16_t MftReferenceSequence(std::uint64_t reference) { return static_cast<std::uint16_t>(reference >> 48); }

// True when the buffer begins with "FILE".
bool HasFileSignature(NtfsBytes record);
// True when the buffer begins with "INDX".
bool HasIndxSignature(NtfsBytes record);

struct NtfsRecordHeader {
    std::uint16_t updateSequenceOffset = 0;
    std::uint16_t updateSequenceCount = 0;
    std::uint16_t sequenceNumber = 0;
    std::uint16_t linkCount = 0;
    std::uint16_t firstAttributeOffset = 0;
    std::uint16_t flags = 0;
    std::uint32_t bytesUsed = 0;
    std::uint32_t bytesAllocated = 0;
    std::uint64_t baseRecordReference = 0;
    std::uint32_t recordNumber = 0;  // 0 on records written before NTFS 3.1

    bool IsDirectory() const { return (flags & kNtfsRecordDirectory) != 0; }
    bool IsInUse() const { return (flags & kNtfsRecordInUse) != 0; }
    bool IsExtension() const { return MftReferenceRecord(baseRecordReference) != 0; }
};

// Reads the header of a FILE record. False when the buffer is shorter than a
// header or does not begin with "FILE".
bool ReadNtfsRecordHeader(NtfsBytes record, NtfsRecordHeader& out);

// One attribute of a record, its header fields checked against the record.
struct NtfsAttribute {
    std::uint32_t offset = 0;  // of the attribute in the record
    std::uint32_t type = 0;
    std::uint32_t length = 0;
    bool nonResident = false;
    std::uint8_t nameLength = 0;
    std::uint16_t nameOffset = 0;
    std::uint16_t flags = 0;
    std::uint16_t id = 0;
    // Resident attributes.
    std::uint32_t valueLength = 0;
    std::uint16_t valueOffset = 0;
    // Non-resident attributes.
    std::uint64_t firstVcn = 0;
    std::uint64_t lastVcn = 0;
    std::uint16_t mappingPairsOffset = 0;
    std::uint16_t compressionUnit = 0;
    std::uint64_t allocatedSize = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t initializedSize = 0;

    bool IsNamed() const { return nameLength != 0; }
    bool IsCompressed() const { return (flags & kNtfsAttrFlagCompressed) != 0; }
    bool IsEncrypted() const { return (flags & kNtfsAttrFlagEncrypted) != 0; }
    bool IsSparse() const { return (flags & kNtfsAttrFlagSparse) != 0; }

    // The whole attribute, the resident value, the mapping pairs (up to the
    // attribute's end): views into `record`, already known to fit.
    NtfsBytes Bytes(NtfsBytes record) const { return record.Sub(offset, length); }
    NtfsBytes Value(NtfsBytes record) const;
    NtfsBytes MappingPairs(NtfsBytes record) const;
    // The attribute's name as UTF-8 ("" when unnamed).
    std::string Name(NtfsBytes record) const;
};

// Walks the attributes of a (fixed-up) FILE record in order.
//
// The walk ends at the end marker (type 0xFFFFFFFF, or type 0 as older code
// wrote), at the end of the record, or at the first attribute whose header
// does not fit: a length below 24 (16 for the end marker) or past the record,
// a non-resident byte other than 0 or 1, a name, value or mapping-pairs area
// that runs outside the attribute. Corrupt() then tells that the walk was cut
// short; the attributes handed out before it are sound.
class NtfsAttributeCursor {
public:
    explicit NtfsAttributeCursor(NtfsBytes record);
    // Fills `out` with the next attribute; false at the end of the walk.
    bool Next(NtfsAttribute& out);
    bool Corrupt() const { return corrupt_; }

private:
    NtfsBytes record_;
    std::size_t next_ = 0;
    bool done_ = false;
    bool corrupt_ = false;
};

// Finds the first attribute of `type`; with `unnamedOnly` it skips named
// ones. Empty when there is none.
std::optional<NtfsAttribute> FindNtfsAttribute(NtfsBytes record, std::uint32_t type, bool unnamedOnly = true);

// Where the file's data are, as the savers ask for it.
enum class NtfsDataLocation {
    None = 0,         // no unnamed $DATA in the record
    Resident = 1,     // the data are the attribute's value
    NonResident = 2,  // the data are in clusters named by the data runs
};

// Finds the unnamed $DATA attribute of a FILE record. For a buffer that
// begins with "INDX" it gives, as older callers expect, the offset of the
// first index entry (u32 @24, counted from byte 24) with NonResident, when
// that offset lies inside the buffer.
NtfsDataLocation FindUnnamedDataAttribute(NtfsBytes record, std::uint32_t& offset);

// The size of the file's data: the non-resident data size, or the resident
// value length, of the unnamed $DATA attribute. When that size is 0 and
// `name` does not begin with "$" (system files are really empty), the
// allocated size of the record's $FILE_NAME stands in. Empty when the record
// has no unnamed $DATA attribute.
std::optional<std::uint64_t> GetNtfsDataSize(NtfsBytes record, const std::string& name = {});

}  // namespace torvane
