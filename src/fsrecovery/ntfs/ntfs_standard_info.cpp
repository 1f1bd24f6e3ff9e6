#include "fsrecovery/ntfs/ntfs_standard_info.h"

#include "fsrecovery/ntfs/ntfs_record.h"

namespace torvane {

std::optional<NtfsStandardInformation> GetNtfsStandardInformation(NtfsBytes record)
{
    std::optional<NtfsAttribute> attr = FindNtfsAttribute(record, kNtfsAttrStandardInformation, true);
    if (!attr || attr->nonResident)
        return std::nullopt;
    NtfsBytes value = attr->Value(record);
    if (!value.Has(0, 36))
        return std::nullopt;
    NtfsStandardInformation si;
    si.creationTime = value.U64(0);
    si.modificationTime = value.U64(8);
    si.mftChangeTime = value.U64(16);
    si.accessTime = value.U64(24);
    si.fileAttributes = value.U32(32);
    return si;
}

}  // namespace torvane
