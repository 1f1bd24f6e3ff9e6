// Builders of NTFS structures for tests: FILE records with chosen attributes,
// protected with an update sequence array as NTFS writes them, and mapping
// pairs from a list of runs. Real records from the fixture image cover the
// shapes the tools write; these cover the corrupt and rare ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvane::test {

using Bytes = std::vector<std::uint8_t>;

void PutU16(Bytes& b, std::size_t at, std::uint16_t v);
void PutU32(Bytes& b, std::size_t at, std::uint32_t v);
void PutU64(Bytes& b, std::size_t at, std::uint64_t v);

// One run for EncodeRuns: `lcn` is absolute; sparse runs have no offset.
struct TestRun {
    std::uint64_t length = 0;
    std::int64_t lcn = 0;
    bool sparse = false;
};
// Mapping pairs with minimal field widths, signed offsets relative to the
// previous allocated run, ended by a 0 byte.
Bytes EncodeRuns(const std::vector<TestRun>& runs);

// A $FILE_NAME value.
Bytes FileNameValue(std::uint64_t parentReference, const std::u16string& name, std::uint8_t nameSpace,
                    std::uint64_t creationTime = 0, std::uint64_t allocatedSize = 0, std::uint64_t dataSize = 0);

class RecordBuilder {
public:
    explicit RecordBuilder(std::uint16_t flags = 1, std::uint32_t recordNumber = 0, std::uint16_t sequence = 1);
    RecordBuilder& Resident(std::uint32_t type, const Bytes& value, const std::u16string& name = u"",
                            std::uint16_t flags = 0);
    RecordBuilder& FileName(std::uint64_t parentReference, const std::u16string& name, std::uint8_t nameSpace,
                            std::uint64_t creationTime = 0, std::uint64_t allocatedSize = 0);
    RecordBuilder& NonResident(std::uint32_t type, const Bytes& pairs, std::uint64_t firstVcn, std::uint64_t lastVcn,
                               std::uint64_t dataSize, std::uint16_t flags = 0, std::uint16_t compressionUnit = 0,
                               const std::u16string& name = u"", std::uint64_t initializedSize = ~0ull);
    RecordBuilder& BaseRecord(std::uint64_t reference);
    // The 1024-byte record; with `protect` the sector ends are moved into the
    // update sequence array (USN 0x0007), as on disk.
    Bytes Build(bool protect = true) const;
    // Offset of the attribute added n-th (0-based).
    std::size_t AttributeOffset(std::size_t n) const { return offsets_.at(n); }

private:
    struct Placed {
        std::size_t attribute;  // offset of the attribute in the record
        std::size_t body;       // offset of its value or mapping pairs, from the attribute
    };
    // Adds an attribute at the end of the record: the header fields all
    // attributes share, the name at `nameOffset` (where the header ends),
    // `body` (value or mapping pairs) 8-aligned after the name, and the end
    // marker behind it. The caller fills the rest of the header.
    Placed Append(std::uint32_t type, bool nonResident, std::size_t nameOffset, const std::u16string& name,
                  std::uint16_t flags, const Bytes& body);

    Bytes record_;
    std::size_t next_;
    std::vector<std::size_t> offsets_;
};

// Moves the sector ends of a multi-sector structure into its update
// sequence array (the inverse of the fixup). Array at 48, 1 + sectors entries.
void ProtectRecord(Bytes& record, std::uint16_t usn = 7);

}  // namespace torvane::test
