#include "fsrecovery/fat/fat_chain.h"

#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_directory.h"

#include <algorithm>
#include <new>

namespace torvane {
namespace {

constexpr std::uint64_t kBatchSectors = 512;

unsigned CellsPerSector(FatKind kind) { return kind == FatKind::Fat16 ? 256u : 128u; }

// Remembers the clusters of one chain to find a cell that points back into it.
// Short chains are searched directly; longer ones switch to a bitmap.
class VisitedClusters {
public:
    explicit VisitedClusters(std::uint64_t capacity) : capacity_(capacity) {}

    // True when `c` was seen before; records it otherwise.
    bool SeenOrAdd(std::uint32_t c, const std::vector<std::uint32_t>& chain)
    {
        if (bits_.empty()) {
            if (std::find(chain.begin(), chain.end(), c) != chain.end())
                return true;
            if (chain.size() < 64)
                return false;
            std::uint64_t cap = capacity_ ? capacity_ : (std::uint64_t{1} << 32);
            bits_.assign((cap + 63) / 64, 0);
            for (std::uint32_t x : chain)
                Mark(x);
        }
        if (c / 64 >= bits_.size())
            return false;
        if (bits_[c / 64] & (std::uint64_t{1} << (c % 64)))
            return true;
        Mark(c);
        return false;
    }

private:
    void Mark(std::uint32_t c)
    {
        if (c / 64 < bits_.size())
            bits_[c / 64] |= std::uint64_t{1} << (c % 64);
    }
    std::uint64_t capacity_;
    std::vector<std::uint64_t> bits_;
};

}  // namespace

FatTable::FatTable(Device& device, FatKind kind, std::uint64_t fatStart, std::uint32_t sectorsPerFat)
    : device_(device), kind_(kind), fatStart_(fatStart), sectorsPerFat_(sectorsPerFat)
{
}

bool FatTable::Load(std::uint64_t index)
{
    // A short walk (one folder's chain) reads a few sectors; a long one
    // doubles its batches up to 256 KB.
    std::uint64_t count = batchSize_;
    batchSize_ = std::min<std::uint64_t>(batchSize_ * 2, kBatchSectors);
    if (sectorsPerFat_ != 0)
        count = std::min<std::uint64_t>(count, static_cast<std::uint64_t>(sectorsPerFat_) + 1 - index);
    std::uint64_t deviceSectors = device_.SizeBytes() / kSectorSize;
    if (fatStart_ + index >= deviceSectors)
        return false;
    count = std::min<std::uint64_t>(count, deviceSectors - (fatStart_ + index));
    if (count == 0)
        return false;
    const std::size_t bytes = static_cast<std::size_t>(count) * kSectorSize;
    if (bytes > batchCapacity_) {
        batch_.reset(new std::uint8_t[bytes]);
        batchCapacity_ = bytes;
    }
    batchBytes_ = bytes;
    ++reads_;
    if (!ReadSectorsFrom(device_, static_cast<std::uint32_t>(count), fatStart_ + index, batch_.get())) {
        batchCount_ = 0;
        return false;
    }
    batchFirst_ = index;
    batchCount_ = count;
    return true;
}

bool FatTable::Cell(std::uint32_t cluster, std::uint32_t& value)
{
    if (kind_ == FatKind::None || fatStart_ == 0)
        return false;
    unsigned perSector = CellsPerSector(kind_);
    std::uint64_t index = cluster / perSector;
    // The FAT holds sectors 0..sectorsPerFat-1; the index equal to
    // sectorsPerFat is still read, as the FAT16 walkers always have.
    if (sectorsPerFat_ != 0 && index > sectorsPerFat_)
        return false;
    if (batchCount_ == 0 || index < batchFirst_ || index >= batchFirst_ + batchCount_) {
        if (!Load(index))
            return false;
    }
    const ByteView sector = ByteView(batch_.get(), batchBytes_).Sub((index - batchFirst_) * kSectorSize, kSectorSize);
    unsigned within = cluster % perSector;
    if (kind_ == FatKind::Fat16)
        value = sector.U16(within * 2);
    else
        value = sector.U32(within * 4) & kFat32CellMask;
    return true;
}

std::uint64_t FatTable::CellCapacity() const
{
    std::uint64_t widthMax = kind_ == FatKind::Fat16 ? 0x10000 : (std::uint64_t{1} << 28);
    if (sectorsPerFat_ == 0)
        return widthMax;
    return std::min<std::uint64_t>(widthMax, (static_cast<std::uint64_t>(sectorsPerFat_) + 1) * CellsPerSector(kind_));
}

bool FatTable::IsEnd(std::uint32_t value) const
{
    if (kind_ == FatKind::Fat16)
        return value == 0 || value == 1 || value >= 0xFFF8;
    return value == 0 || value >= 0x0FFFFFF8;
}

std::vector<std::uint32_t> WalkClusterChain(FatTable& table, std::uint32_t start, const ChainWalkOptions& options)
{
    std::vector<std::uint32_t> chain;
    if (table.Kind() == FatKind::None)
        return chain;
    try {
        chain.push_back(start);
        if (options.maxNodes != 0 && chain.size() > options.maxNodes)
            return chain;
        std::uint64_t capacity = table.CellCapacity();
        VisitedClusters visited(capacity);
        visited.SeenOrAdd(start, {});
        std::uint32_t n = start;
        for (;;) {
            if (options.stop && options.stop())
                break;
            std::uint32_t v = 0;
            if (!table.Cell(n, v) || table.IsEnd(v))
                break;
            if (options.isIndexedFolder && options.isIndexedFolder(v))
                break;
            if (v >= capacity || visited.SeenOrAdd(v, chain))
                break;   // outside any FAT, or back into the chain: a cycle
            chain.push_back(v);
            if (options.progress)
                options.progress(chain.size());
            if (options.maxNodes != 0 && chain.size() > options.maxNodes)
                break;
            n = v;
        }
    } catch (const std::bad_alloc&) {
        // Keep what was gathered.
    }
    return chain;
}

std::vector<std::uint32_t> BuildClusterChain(Device& device, std::uint32_t start, FsKind fs,
                                             std::uint32_t sectorsPerFat, std::uint64_t fatStart,
                                             const ChainWalkOptions& options)
{
    FatKind kind = FatKindOf(fs);
    if (kind == FatKind::None)
        return {};
    FatTable table(device, kind, fatStart, sectorsPerFat);
    ChainWalkOptions o = options;
    if (o.maxNodes == 0 && sectorsPerFat != 0)
        o.maxNodes = static_cast<std::uint64_t>(sectorsPerFat) * CellsPerSector(kind);
    return WalkClusterChain(table, start, o);
}

std::vector<std::uint32_t> BuildFileClusterChain(Device& device, FsKind fs, std::uint32_t start,
                                                 std::uint64_t fatStart, std::uint32_t sectorsPerFat,
                                                 std::uint32_t clusterCount, const ChainWalkOptions& options)
{
    if (!IsFatKind(fs))
        return {};
    if (clusterCount == 0)
        return {start};
    FatTable table(device, FatKindOf(fs), fatStart, sectorsPerFat);
    ChainWalkOptions o = options;
    o.isIndexedFolder = nullptr;
    o.maxNodes = clusterCount;
    return WalkClusterChain(table, start, o);
}

std::vector<std::uint32_t> BuildVolumeClusterChain(Device& device, const FatVolume& volume, std::uint32_t start,
                                                   const ChainWalkOptions& options)
{
    const FsKind fs = volume.fs == FsKind::Exfat ? FsKind::Fat32 : volume.fs;
    std::vector<std::uint32_t> chain = BuildClusterChain(device, start, fs, volume.sectorsPerFat, volume.fatStart, options);
    if (chain.empty() || !IsFatKind(volume.fs) || volume.sectorsPerFat == 0)
        return chain;
    // The first FAT lost the folder where its walk ended at a free cell or
    // at a sector it cannot read (a zeroed or damaged first FAT): the second
    // FAT may still know the rest, as it does for files.
    FatTable first(device, FatKindOf(fs), volume.fatStart, volume.sectorsPerFat);
    std::uint32_t cell = 0;
    if (first.Cell(chain.back(), cell) && cell != 0)
        return chain;
    std::vector<std::uint32_t> second = BuildClusterChain(device, start, fs, volume.sectorsPerFat,
                                                          volume.fatStart + volume.sectorsPerFat, options);
    return second.size() > chain.size() ? std::move(second) : std::move(chain);
}

}  // namespace torvane
