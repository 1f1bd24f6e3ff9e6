#include "partsearch/sweep_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace torvane {

std::size_t ReadAsFarAsPossible(Device& device, std::uint64_t offset, std::uint8_t* buffer, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        if (offset > std::numeric_limits<std::uint64_t>::max() - done)
            break;
        const std::int64_t got = device.ReadAt(offset + done, buffer + done, length - done);
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// --- BlockStream ------------------------------------------------------------------

BlockStream::BlockStream(Device& device, std::uint64_t first, std::uint64_t end, std::uint32_t blockSectors,
                         unsigned depth)
    : device_(device), first_(first), end_(end), blockSectors_(blockSectors == 0 ? 1 : blockSectors)
{
    if (end_ > first_)
        blockCount_ = (end_ - first_ + blockSectors_ - 1) / blockSectors_;
    synchronous_ = depth == 0;
    slots_.resize(synchronous_ ? 1 : std::max(2u, depth));
    for (Slot& s : slots_)
        s.bytes.resize(static_cast<std::size_t>(blockSectors_) * kSectorSize);
    if (blockCount_ > 0 && !synchronous_)
        thread_ = std::thread([this] { Produce(); });
}

BlockStream::~BlockStream()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void BlockStream::Produce()
{
    for (std::uint64_t k = 0; k < blockCount_; ++k) {
        Slot& slot = slots_[k % slots_.size()];
        {
            std::unique_lock lock(mutex_);
            // The slot is free once the consumer has taken and given back the
            // block that used it before.
            cv_.wait(lock, [&] { return quit_ || !slot.full; });
            if (quit_)
                return;
        }
        const std::uint64_t start = first_ + k * blockSectors_;
        const std::uint64_t sectors = std::min<std::uint64_t>(blockSectors_, end_ - start);
        std::size_t got = 0;
        if (start <= std::numeric_limits<std::uint64_t>::max() / kSectorSize)
            got = ReadAsFarAsPossible(device_, start * kSectorSize, slot.bytes.data(),
                                      static_cast<std::size_t>(sectors) * kSectorSize);
        {
            std::lock_guard lock(mutex_);
            slot.block = Block{start, got / kSectorSize, slot.bytes.data()};
            slot.full = true;
        }
        cv_.notify_all();
    }
}

bool BlockStream::Next(Block& out)
{
    if (synchronous_) {
        if (consumed_ >= blockCount_)
            return false;
        Slot& slot = slots_[0];
        const std::uint64_t start = first_ + consumed_ * blockSectors_;
        const std::uint64_t sectors = std::min<std::uint64_t>(blockSectors_, end_ - start);
        std::size_t got = 0;
        if (start <= std::numeric_limits<std::uint64_t>::max() / kSectorSize)
            got = ReadAsFarAsPossible(device_, start * kSectorSize, slot.bytes.data(),
                                      static_cast<std::size_t>(sectors) * kSectorSize);
        out = Block{start, got / kSectorSize, slot.bytes.data()};
        ++consumed_;
        return true;
    }
    std::unique_lock lock(mutex_);
    if (holding_) {
        slots_[(consumed_ - 1) % slots_.size()].full = false;
        holding_ = false;
        cv_.notify_all();
    }
    if (consumed_ >= blockCount_)
        return false;
    Slot& slot = slots_[consumed_ % slots_.size()];
    cv_.wait(lock, [&] { return slot.full; });
    out = slot.block;
    ++consumed_;
    holding_ = true;
    return true;
}

// --- ProbeReader --------------------------------------------------------------------

ProbeReader::ProbeReader(Device& device, unsigned threads) : device_(device)
{
    threads = std::max(1u, threads);
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { Work(); });
}

ProbeReader::~ProbeReader()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_)
        t.join();
}

void ProbeReader::Read(const std::vector<std::uint64_t>& sectors, std::vector<Sector>& out, std::vector<char>& ok)
{
    out.assign(sectors.size(), Sector{});
    ok.assign(sectors.size(), 0);
    if (sectors.empty())
        return;
    std::unique_lock lock(mutex_);
    sectors_ = &sectors;
    out_ = &out;
    ok_ = &ok;
    count_ = sectors.size();
    next_.store(0);
    done_.store(0);
    ++batch_;
    cv_.notify_all();
    doneCv_.wait(lock, [&] { return done_.load() == count_; });
    sectors_ = nullptr;
}

void ProbeReader::Work()
{
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [&] { return quit_ || batch_ != seen; });
            if (quit_)
                return;
            seen = batch_;
        }
        // The batch's slots are taken one by one without the lock; the last
        // reader to finish wakes the caller.
        for (std::size_t i = next_.fetch_add(1); i < count_; i = next_.fetch_add(1)) {
            const std::uint64_t sector = (*sectors_)[i];
            Sector& dest = (*out_)[i];
            bool good = false;
            if (sector <= std::numeric_limits<std::uint64_t>::max() / kSectorSize) {
                const std::int64_t got = device_.ReadAt(sector * kSectorSize, dest.data(), dest.size());
                good = got > 0;
                if (good && static_cast<std::size_t>(got) < dest.size())
                    std::memset(dest.data() + got, 0, dest.size() - static_cast<std::size_t>(got));
                if (!good)
                    dest.fill(0);
            }
            (*ok_)[i] = good ? 1 : 0;
            if (done_.fetch_add(1) + 1 == count_) {
                std::lock_guard lock(mutex_);
                doneCv_.notify_all();
            }
        }
    }
}

}  // namespace torvane
