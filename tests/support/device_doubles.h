// Device doubles for tests: a sparse device of any size, a faulty device that
// fails byte ranges or returns short reads, and a gate that holds a read in
// flight until the test lets it go.
#pragma once

#include "platform/device.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace torvane::test {

// The byte at `offset` of a SparseDevice without a written region there.
using ByteFunction = std::function<std::uint8_t(std::uint64_t offset)>;

// A pattern that tells every sector apart: byte i of sector n is
// (n * 31 + i + (n >> 32) * 7) & 0xFF, so sectors 2^32 apart differ too.
std::uint8_t SectorPattern(std::uint64_t offset);

// A device of any size (2^42 bytes is fine) whose content is a function of
// the offset (zeros by default), with written regions on top.
class SparseDevice final : public Device {
public:
    explicit SparseDevice(std::uint64_t sizeBytes, ByteFunction content = {}, std::string name = "sparse");

    // Puts `bytes` at `offset` (over the function's content). Regions may
    // overlap; the later write wins. Bytes past the device's end are dropped.
    void Write(std::uint64_t offset, const std::string& bytes);
    void WriteSector(std::uint64_t sector, const std::string& bytes) { Write(sector * kSectorSize, bytes); }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
    std::uint64_t SizeBytes() const override { return size_; }
    const std::string& Path() const override { return name_; }

private:
    std::uint64_t size_;
    ByteFunction content_;
    std::string name_;
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::string> regions_;  // by start offset, not overlapping
};

// Wraps another device: byte ranges that fail with an I/O error, and an upper
// bound on the bytes one ReadAt returns (short reads, as a pipe or a slow
// USB bridge may give). Counts the ReadAt calls.
class FaultyDevice final : public Device {
public:
    explicit FaultyDevice(DevicePtr inner);

    // Reads that touch [first, first + length) fail from `first` on: a read
    // that starts before the range returns the bytes before it (a short read),
    // a read that starts inside it returns -1.
    void FailRange(std::uint64_t first, std::uint64_t length);
    void FailSectors(std::uint64_t firstSector, std::uint64_t count) { FailRange(firstSector * kSectorSize, count * kSectorSize); }
    // Every ReadAt returns at most `bytes` bytes (0: no limit).
    void SetMaxChunk(std::size_t bytes) { maxChunk_ = bytes; }
    // Every read fails (the device was unplugged).
    void FailEverything(bool fail) { failAll_ = fail; }
    std::uint64_t ReadCalls() const { return calls_; }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    mutable std::mutex mutex_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> failing_;  // [first, end)
    std::atomic<std::size_t> maxChunk_{0};
    std::atomic<bool> failAll_{false};
    std::atomic<std::uint64_t> calls_{0};
};

// Another device with every read of `minLength` bytes and more (by default
// the sweeps' 64 KiB blocks) held back for `delayMs` milliseconds: a slow USB
// stick, so that a stop can come while a scan is under way. The delay may
// change while reads run.
class SlowDevice final : public Device {
public:
    explicit SlowDevice(DevicePtr inner, int delayMs = 0, std::size_t minLength = 64 * 1024)
        : inner_(std::move(inner)), minLength_(minLength), delayMs(delayMs)
    {
    }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::size_t minLength_;

public:
    std::atomic<int> delayMs{0};
};

// Wraps another device and holds every read inside ReadAt until Release():
// for tests of what happens while a read is in flight. Tells when it is
// destroyed (the last reference went).
class GatedDevice final : public Device {
public:
    GatedDevice(DevicePtr inner, std::atomic<bool>* destroyed = nullptr);
    ~GatedDevice() override;

    // Blocks until `n` reads are waiting at the gate.
    void WaitForReaders(int n);
    void Release();

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::atomic<bool>* destroyed_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int waiting_ = 0;
    bool open_ = false;
};

// Sets up DeviceRegistry::Instance() for a test without the machine's disks
// (empty sysfs root) and resets it again at the end of the scope.
class ScopedTestRegistry {
public:
    ScopedTestRegistry();
    ~ScopedTestRegistry();
    ScopedTestRegistry(const ScopedTestRegistry&) = delete;
    ScopedTestRegistry& operator=(const ScopedTestRegistry&) = delete;
};

}  // namespace torvane::test
