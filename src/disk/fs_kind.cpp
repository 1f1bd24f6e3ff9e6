#include "disk/fs_kind.h"

namespace torvane {

std::string_view FsKindText(FsKind kind)
{
    switch (kind) {
    case FsKind::Fat16: return "FAT16";
    case FsKind::Fat32: return "FAT32";
    case FsKind::Exfat: return "exFAT";
    case FsKind::Ntfs: return "NTFS";
    case FsKind::Unknown: break;
    }
    return {};
}

FsKind FsKindFromText(std::string_view text)
{
    for (FsKind kind : {FsKind::Fat16, FsKind::Fat32, FsKind::Exfat, FsKind::Ntfs})
        if (text == FsKindText(kind))
            return kind;
    return FsKind::Unknown;
}

}  // namespace torvane
