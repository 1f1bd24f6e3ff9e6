#include "fsrecovery/ntfs/ntfs_file_name.h"

#include "base/text_encoding.h"
#include "fsrecovery/ntfs/ntfs_record.h"

namespace torvane {
namespace {

constexpr std::uint32_t kFileNameFixedSize = 66;

bool IsValidSectorsPerCluster(std::uint32_t n)
{
    return n >= 1 && n <= 128 && (n & (n - 1)) == 0;
}

int NamespaceRank(std::uint8_t ns)
{
    for (int i = 0; i < 4; ++i)
        if (kNtfsNamespaceOrder[i] == ns)
            return i;
    return -1;
}

// Calls visit(name) for each readable unnamed, resident $FILE_NAME value of
// the record, in record order, until visit returns false.
template <class Visit>
void ForEachNtfsFileName(NtfsBytes record, Visit visit)
{
    NtfsAttributeCursor cursor(record);
    NtfsAttribute attr;
    while (cursor.Next(attr)) {
        if (attr.type != kNtfsAttrFileName || attr.IsNamed() || attr.nonResident)
            continue;
        NtfsFileName fn;
        if (!ParseNtfsFileNameValue(attr.Value(record), fn))
            continue;
        if (!visit(fn))
            return;
    }
}

}  // namespace

bool ParseNtfsFileNameValue(NtfsBytes value, NtfsFileName& out)
{
    if (!value.Has(0, kFileNameFixedSize))
        return false;
    const std::uint32_t units = value.U8(64);
    NtfsBytes name = value.Sub(kFileNameFixedSize, 2u * units);
    if (units != 0 && name.size() == 0)
        return false;
    out.parentReference = value.U64(0);
    out.creationTime = value.U64(8);
    out.modificationTime = value.U64(16);
    out.mftChangeTime = value.U64(24);
    out.accessTime = value.U64(32);
    out.allocatedSize = value.U64(40);
    out.dataSize = value.U64(48);
    out.fileAttributes = value.U32(56);
    out.nameSpace = value.U8(65);
    out.name = units ? Utf16LeToUtf8(name.data(), units) : std::string();
    return true;
}

std::optional<NtfsFileName> GetNtfsFileName(NtfsBytes record, std::uint8_t nameSpace)
{
    std::optional<NtfsFileName> found;
    ForEachNtfsFileName(record, [&](NtfsFileName& fn) {
        if (fn.nameSpace != nameSpace)
            return true;
        found = std::move(fn);
        return false;
    });
    return found;
}

std::optional<NtfsFileName> FindNtfsFileName(NtfsBytes record)
{
    std::optional<NtfsFileName> best;
    int bestRank = 4;
    ForEachNtfsFileName(record, [&](NtfsFileName& fn) {
        const int rank = NamespaceRank(fn.nameSpace);
        if (rank >= 0 && rank < bestRank) {
            bestRank = rank;
            best = std::move(fn);
        }
        return bestRank != 0;
    });
    return best;
}

namespace {

// True when CleanNtfsFileName would give `name` back unchanged.
bool IsCleanNtfsFileName(const std::string& name)
{
    if (name.empty() || name.front() == ' ' || name.back() == ' ')
        return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return false;
        switch (c) {
        case '"': case '\\': case '/': case '?': case '*': case '<': case '>': case '|': case ':':
            return false;
        default:
            break;
        }
    }
    return true;
}

}  // namespace

std::string CleanNtfsFileName(std::string&& name)
{
    if (IsCleanNtfsFileName(name))
        return std::move(name);
    return CleanNtfsFileName(static_cast<const std::string&>(name));
}

std::string CleanNtfsFileName(const std::string& name)
{
    if (IsCleanNtfsFileName(name))
        return name;
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': case '\\': case '/': case '?': case '*': case '<': case '>': case '|': case ':':
            continue;
        default:
            break;
        }
        out.push_back(u < 0x20 || u == 0x7F ? ' ' : c);
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const std::size_t last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

std::optional<std::uint32_t> SectorsPerClusterFromMftMirr(std::uint64_t mirrorDataSize,
                                                          std::uint32_t currentSectorsPerCluster)
{
    if (mirrorDataSize < 4096)
        return std::nullopt;
    std::uint64_t n = mirrorDataSize / 512;
    if (n == 244)  // the boot sector's code for 4096, kept as the older readers took it
        n = 4096;
    if (n == 0 || n == currentSectorsPerCluster || n > 0xFFFFFFFFull)
        return std::nullopt;
    const std::uint32_t candidate = static_cast<std::uint32_t>(n);
    if (!IsValidSectorsPerCluster(currentSectorsPerCluster))
        return IsValidSectorsPerCluster(candidate) ? std::optional<std::uint32_t>(candidate) : std::nullopt;
    // A valid value only gives way to a larger cluster that the mirror proves.
    if (IsValidSectorsPerCluster(candidate) && candidate > 8 && candidate > currentSectorsPerCluster)
        return candidate;
    return std::nullopt;
}

}  // namespace torvane
