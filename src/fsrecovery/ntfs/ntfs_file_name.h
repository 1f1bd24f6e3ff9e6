// The $FILE_NAME attribute (type 0x30): a name of the record, with the
// reference of the directory that holds it. A record has one per hard link
// and per namespace (a long Win32 name and its DOS 8.3 alias, or one name
// valid in both).
//
// Value layout (always resident):
//   offset  width  field
//   0       u64    parent directory reference (low 48 bits: record number,
//                  high 16 bits: sequence number)
//   8       u64    creation time (FILETIME: 100 ns units since 1601)
//   16      u64    modification time
//   24      u64    MFT change time
//   32      u64    access time
//   40      u64    allocated size (as the directory entry last saw it)
//   48      u64    data size (idem)
//   56      u32    file attributes (0x10000000 directory, 0x800 compressed, ...)
//   60      u32    extended attributes / reparse tag
//   64      u8     name length in UTF-16 units
//   65      u8     namespace: 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
//   66      UTF-16 the name
#pragma once

#include "fsrecovery/ntfs/ntfs_bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace torvane {

inline constexpr std::uint8_t kNtfsNamespacePosix = 0;
inline constexpr std::uint8_t kNtfsNamespaceWin32 = 1;
inline constexpr std::uint8_t kNtfsNamespaceDos = 2;
inline constexpr std::uint8_t kNtfsNamespaceWin32AndDos = 3;

// The order in which every caller asks for a name: the long Win32 name first,
// then the name valid in both, then the DOS alias, then a POSIX name.
inline constexpr std::uint8_t kNtfsNamespaceOrder[4] = {kNtfsNamespaceWin32, kNtfsNamespaceWin32AndDos,
                                                        kNtfsNamespaceDos, kNtfsNamespacePosix};

struct NtfsFileName {
    std::uint64_t parentReference = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::uint64_t mftChangeTime = 0;
    std::uint64_t accessTime = 0;
    std::uint64_t allocatedSize = 0;
    std::uint64_t dataSize = 0;
    std::uint32_t fileAttributes = 0;
    std::uint8_t nameSpace = 0;
    std::string name;  // UTF-8, decoded as stored (unpaired surrogates replaced)

    // The parent's record number as the found-item stores keep it (32 bits).
    std::uint32_t ParentRecord32() const { return static_cast<std::uint32_t>(parentReference); }
};

// Parses a $FILE_NAME value. False when the value is shorter than its fixed
// part or its name runs past the value.
bool ParseNtfsFileNameValue(NtfsBytes value, NtfsFileName& out);

// The record's unnamed, resident $FILE_NAME of namespace `nameSpace`, the
// first such one in attribute order. Empty when there is none.
std::optional<NtfsFileName> GetNtfsFileName(NtfsBytes record, std::uint8_t nameSpace);

// The record's name in the namespace order above (one walk over the record).
std::optional<NtfsFileName> FindNtfsFileName(NtfsBytes record);

// A name as the file lists show and the savers use it: control characters
// become spaces, the characters " \ / ? * < > | : are removed, and spaces at
// both ends are trimmed.
std::string CleanNtfsFileName(const std::string& name);
// The same, taking the name over when there is nothing to clean.
std::string CleanNtfsFileName(std::string&& name);

// $MFTMirr holds copies of the first records of $MFT and is at least one
// cluster long, so its data size tells the cluster size where the boot sector
// could not. Given that size and the sectors per cluster in use, returns the
// value to use instead, or empty to keep the current one. The size only
// proves a cluster size above 4096 bytes (the mirror is 4096 bytes on small
// clusters), so a valid current value is never lowered or replaced by 8.
std::optional<std::uint32_t> SectorsPerClusterFromMftMirr(std::uint64_t mirrorDataSize,
                                                          std::uint32_t currentSectorsPerCluster);

}  // namespace torvane
