// What the Deep Search finds of an NTFS volume while it sweeps a range
// sector by sector: FILE records (wherever they lie: in the $MFT, in its
// mirror, in the leftovers of an older $MFT) and the entries of INDX blocks
// (directory indexes). The sweep appends, the assembler reads in order; the
// rows stay put so that a reader can resume where it stopped.
//
// Besides the rows, the table keeps what the geometry of a volume without
// boot sector can be derived from: votes for the cluster size (each
// non-resident attribute's allocated size over its clusters) and copies of
// the records 0 ($MFT) and 1 ($MFTMirr), whose data runs say where the $MFT
// and its mirror lie.
//
// Cost: appends are constant (rows go into fixed-size chunks: a row once
// written is never moved or copied again, and rows stay at the address they
// were given), lookups by record number are one array index (or one hash
// probe for a number far above the others); memory grows with the rows
// (about 80 bytes plus the name each).
#pragma once

#include "base/large_buffers.h"
#include "fsrecovery/store/flat_id_map.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// A map from record numbers (32 bits) to small values. A $MFT numbers its
// records from 0 up without gaps, so the numbers found lie mostly below a few
// times their count: those are kept in an array indexed by number (one cache
// line touched in order, where a hash probe misses the cache once a million
// numbers are held); a number far above (a stray or hostile record) goes to a
// hash map. The array never grows past max(kDenseFloor, 4 x entries) slots,
// so memory follows the entries whatever the numbers.
template <class Value>
class DeepNumberMap {
public:
    static constexpr std::size_t kDenseFloor = std::size_t{1} << 16;

    // Inserts `number` -> `value` unless `number` is present; true when inserted.
    bool Emplace(std::uint32_t number, Value value)
    {
        if (Find(number) != nullptr)
            return false;
        if (number >= dense_.size() && number < DenseLimit()) {
            std::size_t size = std::max<std::size_t>(dense_.size() * 2, 1024);
            while (size <= number)
                size *= 2;
            size = std::min(size, DenseLimit());
            // The new block is written whole at once: its pages mapped in one call.
            ReserveLarge(dense_, size, /*populate=*/true);
            dense_.resize(size);
        }
        if (number < dense_.size()) {
            dense_[number] = Slot{value, true};
        } else {
            sparse_.Emplace(number, value);
        }
        ++count_;
        return true;
    }
    // The value of `number`, or nullptr.
    const Value* Find(std::uint32_t number) const
    {
        if (number < dense_.size() && dense_[number].used)
            return &dense_[number].value;
        return sparse_.Size() == 0 ? nullptr : sparse_.Find(number);
    }
    std::size_t Size() const { return count_; }
    void Clear()
    {
        dense_.clear();
        sparse_.Clear();
        count_ = 0;
    }

private:
    struct Slot {
        Value value{};
        bool used = false;
    };
    std::size_t DenseLimit() const { return std::max(kDenseFloor, 4 * (count_ + 1)); }

    std::vector<Slot> dense_;
    FlatIdMap<Value> sparse_;
    std::size_t count_ = 0;
};

// Rows appended one by one into chunks: no growth step copies the rows made
// so far, and a row keeps its address for the table's life. The first
// chunks are small (1,024 rows, then doubling up to kChunkRows) so that a
// small range costs little; from kChunkRows rows on every chunk holds
// kChunkRows.
template <class Row>
class DeepRowChunks {
public:
    static constexpr std::size_t kChunkRows = std::size_t{1} << 16;
    static constexpr unsigned kFirstChunkBits = 10;

    // The chunk of row `i` and its place there.
    static std::size_t ChunkOf(std::size_t i)
    {
        if (i >= kChunkRows)
            return (kSmallChunks - 1) + i / kChunkRows;
        if (i < (std::size_t{1} << kFirstChunkBits))
            return 0;
        return static_cast<std::size_t>(std::bit_width(i)) - kFirstChunkBits;
    }
    static std::size_t OffsetIn(std::size_t i)
    {
        if (i >= kChunkRows)
            return i % kChunkRows;
        if (i < (std::size_t{1} << kFirstChunkBits))
            return i;
        return i - (std::size_t{1} << (std::bit_width(i) - 1));
    }
    static std::size_t ChunkCapacity(std::size_t chunk)
    {
        if (chunk == 0)
            return std::size_t{1} << kFirstChunkBits;
        if (chunk < kSmallChunks)
            return std::size_t{1} << (kFirstChunkBits + chunk - 1);
        return kChunkRows;
    }

    void push_back(Row&& row)
    {
        if (chunks_.empty() || chunks_.back()->size() == ChunkCapacity(chunks_.size() - 1)) {
            auto chunk = std::make_unique<std::vector<Row>>();
            ReserveLarge(*chunk, ChunkCapacity(chunks_.size()), /*populate=*/true);
            chunks_.push_back(std::move(chunk));
        }
        chunks_.back()->push_back(std::move(row));
        ++size_;
    }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Row& operator[](std::size_t i) const { return (*chunks_[ChunkOf(i)])[OffsetIn(i)]; }
    const Row& back() const { return chunks_.back()->back(); }
    void clear()
    {
        chunks_.clear();
        size_ = 0;
    }

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Row;
        using difference_type = std::ptrdiff_t;
        using pointer = const Row*;
        using reference = const Row&;
        const_iterator() = default;
        const_iterator(const DeepRowChunks* rows, std::size_t i) : rows_(rows), i_(i) {}
        reference operator*() const { return (*rows_)[i_]; }
        pointer operator->() const { return &(*rows_)[i_]; }
        const_iterator& operator++()
        {
            ++i_;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            ++i_;
            return was;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }
        bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

    private:
        const DeepRowChunks* rows_ = nullptr;
        std::size_t i_ = 0;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size_); }

private:
    // Chunks below kChunkRows rows: 1,024, 1,024, 2,048, ... kChunkRows / 2.
    static constexpr std::size_t kSmallChunks = 16 - kFirstChunkBits + 1;
    static_assert(kChunkRows == std::size_t{1} << 16, "the small chunks add up to one full chunk");

    std::vector<std::unique_ptr<std::vector<Row>>> chunks_;
    std::size_t size_ = 0;
};

// One FILE record found by the sweep.
struct DeepNtfsFileRecord {
    std::uint64_t sector = 0;        // first sector of the record on the device
    std::uint64_t creationTime = 0;  // of the chosen $FILE_NAME (0 when none)
    std::uint64_t size = 0;          // of the unnamed $DATA held in the record itself (0: unknown or empty)
    std::uint64_t baseReference = 0; // 0 for a base record
    std::uint32_t number = 0;        // the record's own number (u32 @44); see hasNumber
    std::uint32_t parent = 0;        // low 32 bits of the $FILE_NAME's parent reference
    std::uint16_t sequence = 0;
    std::uint8_t flags = 0;          // low byte of the record's flags: 2/3 directory, 0/1 file
    bool hasNumber = false;          // the header holds an own number (NTFS 3.1; 0 only for "$MFT")
    bool hasName = false;            // a $FILE_NAME was found in the record
    std::string name;                // as stored (UTF-8), trimmed; "" without a $FILE_NAME

    bool IsDirectory() const { return flags == 2 || flags == 3; }
    bool IsExtension() const { return (baseReference & 0x0000FFFFFFFFFFFFull) != 0; }
};

// One entry of an INDX block (a name a directory lists).
struct DeepNtfsIndexEntry {
    std::uint64_t reference = 0;     // file reference of the named record (number + sequence << 48)
    std::uint64_t creationTime = 0;
    std::uint64_t size = 0;          // real size as the directory last saw it
    std::uint64_t indexSector = 0;   // the INDX block that held it
    std::uint32_t parent = 0;        // low 32 bits of the parent reference
    bool directory = false;          // 0x10000000 in the $FILE_NAME attributes
    std::uint8_t nameSpace = 0;
    std::string name;                // as stored (UTF-8), trimmed
};

// Copies of the first records of a $MFT (as the $MFT or its mirror holds them).
struct DeepNtfsRecordCopy {
    std::uint64_t sector = 0;
    std::vector<std::uint8_t> record;  // 1024 bytes, fixed up
};

class DeepNtfsTable {
public:
    // Most copies of record 0 or 1 kept (a $MFT and its mirror, old copies).
    static constexpr std::size_t kMaxRecordCopies = 8;

    // The row is moved in (its name too).
    void AddFileRecord(DeepNtfsFileRecord&& row);
    void AddIndexEntry(DeepNtfsIndexEntry&& row);
    void AddIndexBlock() { ++indexBlocks_; }
    // A copy of record 0 or 1 (by the record's own number); more than
    // kMaxRecordCopies of one are dropped.
    void AddRecordCopy(std::uint32_t number, std::uint64_t sector, const std::uint8_t* record1024);
    // A vote for 2^shift sectors per cluster (shift 0..7).
    void VoteClusterShift(unsigned shift);

    const DeepRowChunks<DeepNtfsFileRecord>& FileRecords() const { return files_; }
    const DeepRowChunks<DeepNtfsIndexEntry>& IndexEntries() const { return entries_; }
    std::uint64_t IndexBlocks() const { return indexBlocks_; }
    const std::vector<DeepNtfsRecordCopy>& RecordZeroCopies() const { return zero_; }
    const std::vector<DeepNtfsRecordCopy>& RecordOneCopies() const { return one_; }
    const std::array<std::uint64_t, 8>& ClusterShiftVotes() const { return votes_; }

    // The row of the first base record found with own number `number`, or -1.
    std::int64_t FirstRowOfNumber(std::uint32_t number) const;

    void Clear();

private:
    DeepRowChunks<DeepNtfsFileRecord> files_;
    DeepRowChunks<DeepNtfsIndexEntry> entries_;
    DeepNumberMap<std::uint32_t> firstRow_;  // own number -> first base record row
    std::vector<DeepNtfsRecordCopy> zero_, one_;
    std::array<std::uint64_t, 8> votes_{};
    std::uint64_t indexBlocks_ = 0;
};

}  // namespace torvane
