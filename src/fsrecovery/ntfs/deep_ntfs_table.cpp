#include "fsrecovery/ntfs/deep_ntfs_table.h"

#include <utility>

namespace torvane {

void DeepNtfsTable::AddFileRecord(DeepNtfsFileRecord&& row)
{
    if (row.hasNumber && !row.IsExtension())
        firstRow_.Emplace(row.number, static_cast<std::uint32_t>(files_.size()));
    files_.push_back(std::move(row));
}

void DeepNtfsTable::AddIndexEntry(DeepNtfsIndexEntry&& row) { entries_.push_back(std::move(row)); }

void DeepNtfsTable::AddRecordCopy(std::uint32_t number, std::uint64_t sector, const std::uint8_t* record1024)
{
    std::vector<DeepNtfsRecordCopy>* copies = number == 0 ? &zero_ : number == 1 ? &one_ : nullptr;
    if (copies == nullptr || copies->size() >= kMaxRecordCopies)
        return;
    copies->push_back(DeepNtfsRecordCopy{sector, std::vector<std::uint8_t>(record1024, record1024 + 1024)});
}

void DeepNtfsTable::VoteClusterShift(unsigned shift)
{
    if (shift < votes_.size())
        ++votes_[shift];
}

std::int64_t DeepNtfsTable::FirstRowOfNumber(std::uint32_t number) const
{
    const std::uint32_t* row = firstRow_.Find(number);
    return row ? static_cast<std::int64_t>(*row) : -1;
}

void DeepNtfsTable::Clear()
{
    files_.clear();
    entries_.clear();
    firstRow_.Clear();
    zero_.clear();
    one_.clear();
    votes_ = {};
    indexBlocks_ = 0;
}

}  // namespace torvane
