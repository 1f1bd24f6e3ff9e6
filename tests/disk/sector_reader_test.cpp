// Sector reading: positional reads far past 2^32 bytes and sectors, what a
// short or failing read leaves in the buffer, and the shared handle under
// several threads.
#include "disk/sector_reader.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace torvane {
namespace {

using test::FaultyDevice;
using test::GatedDevice;
using test::ScopedTestRegistry;
using test::SectorPattern;
using test::SparseDevice;

constexpr std::uint64_t kTwoPow32 = std::uint64_t{1} << 32;
constexpr std::uint64_t kHugeDevice = std::uint64_t{1} << 42;  // 4 TiB, 2^33 sectors

std::vector<std::uint8_t> Expected(std::uint64_t firstSector, std::uint32_t count)
{
    std::vector<std::uint8_t> out(std::size_t{count} * kSectorSize);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = SectorPattern(firstSector * kSectorSize + i);
    return out;
}

std::vector<std::uint8_t> Filled(std::size_t bytes, std::uint8_t value = 0xAA)
{
    return std::vector<std::uint8_t>(bytes, value);
}

bool AllZero(const std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

// A file of `bytes` bytes whose content is SectorPattern.
std::string WritePatternFile(const std::filesystem::path& path, std::size_t bytes)
{
    std::string data(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<char>(SectorPattern(i));
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return path.string();
}

class SectorReaderTest : public ::testing::Test {
protected:
    ScopedTestRegistry registry_;
};

// Sector 8,388,608 lies at byte 2^32; sectors 2^32 and beyond lie past 2 TiB.
// An offset cut to 32 bits would read sector 0's bytes, which differ.
TEST_F(SectorReaderTest, ReadsFarSectorsOfASparseDevice)
{
    auto sparse = std::make_shared<SparseDevice>(kHugeDevice, SectorPattern);
    int disk = DeviceRegistry::Instance().RegisterMemoryDisk(sparse);
    ASSERT_GE(disk, 0);
    const std::string id = PhysicalDrivePath(disk);

    const std::uint64_t sectors[] = {
        0, 8388607, 8388608, 8388609, kTwoPow32 - 1, kTwoPow32, kTwoPow32 + 5, (kHugeDevice / kSectorSize) - 2,
    };
    for (std::uint8_t viaShared : {0, 1}) {
        if (viaShared) {
            ASSERT_TRUE(OpenDeviceHandle(id));
        }
        for (std::uint64_t s : sectors) {
            SCOPED_TRACE(testing::Message() << "sector " << s << " shared " << int(viaShared));
            auto buf = Filled(2 * kSectorSize);
            ASSERT_EQ(ReadSectors(2, id, s, buf.data(), viaShared), 1);
            EXPECT_EQ(buf, Expected(s, 2));
        }
    }
    ASSERT_NE(Expected(0, 1), Expected(kTwoPow32, 1));
}

TEST_F(SectorReaderTest, WrittenRegionsOfASparseDeviceReadBack)
{
    auto sparse = std::make_shared<SparseDevice>(kHugeDevice);
    const std::uint64_t far = (kTwoPow32 + 3) * kSectorSize;
    sparse->Write(far + 500, std::string(30, 'x'));       // crosses into the next sector
    sparse->Write(far + 510, "55AA");                      // overwrites the middle of it
    std::vector<std::uint8_t> buf(2 * kSectorSize, 0xAA);
    ASSERT_EQ(ReadSectorsFrom(*sparse, 2, kTwoPow32 + 3, buf.data()), 1);
    std::string got(reinterpret_cast<const char*>(buf.data()) + 500, 30);
    EXPECT_EQ(got, std::string(10, 'x') + "55AA" + std::string(16, 'x'));
    EXPECT_TRUE(AllZero(buf.data(), 500));
    EXPECT_TRUE(AllZero(buf.data() + 530, buf.size() - 530));
}

// The sparse device against a plain byte model: random overlapping writes,
// then every byte read back (through reads of odd sizes and offsets).
TEST(DeviceDoubles, SparseDeviceMatchesAByteModel)
{
    const std::size_t size = 4096;
    SparseDevice sparse(size, SectorPattern);
    std::string model(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        model[i] = static_cast<char>(SectorPattern(i));
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
    for (int round = 0; round < 300; ++round) {
        std::size_t at = next() % (size + 64);
        std::string bytes(next() % 300 + 1, static_cast<char>('a' + round % 26));
        sparse.Write(at, bytes);
        for (std::size_t i = 0; i < bytes.size() && at + i < size; ++i)
            model[at + i] = bytes[i];
    }
    std::string back(size + 100, '?');
    std::size_t pos = 0;
    while (pos < size) {
        std::size_t want = next() % 700 + 1;
        std::int64_t got = sparse.ReadAt(pos, back.data() + pos, want);
        ASSERT_GT(got, 0);
        pos += static_cast<std::size_t>(got);
    }
    EXPECT_EQ(back.substr(0, size), model);
    EXPECT_EQ(sparse.ReadAt(size, back.data(), 10), 0);
}

TEST(DeviceDoubles, FaultyDeviceStopsShortBeforeABadRange)
{
    FaultyDevice faulty(std::make_shared<SparseDevice>(8192, SectorPattern));
    faulty.FailRange(1000, 24);
    std::vector<std::uint8_t> buf(2048);
    EXPECT_EQ(faulty.ReadAt(0, buf.data(), buf.size()), 1000);
    EXPECT_EQ(faulty.ReadAt(1000, buf.data(), 10), -1);
    EXPECT_EQ(faulty.ReadAt(1023, buf.data(), 10), -1);
    EXPECT_EQ(faulty.ReadAt(1024, buf.data(), 10), 10);
    faulty.SetMaxChunk(7);
    EXPECT_EQ(faulty.ReadAt(2000, buf.data(), 100), 7);
}

// The same far offsets through a real (sparse) file: the file device's pread
// must carry the high half of the offset.
TEST_F(SectorReaderTest, ReadsPastFourGibibytesOfARealFile)
{
    test::TempDir dir;
    std::string path = (dir.path() / "big.img").string();
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string marker = "sector 8388608 at byte 2^32";
    ASSERT_EQ(::pwrite(fd, marker.data(), marker.size(), static_cast<off_t>(kTwoPow32)), static_cast<ssize_t>(marker.size()));
    ASSERT_EQ(::pwrite(fd, "start", 5, 0), 5);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kTwoPow32 + 4 * kSectorSize)), 0);
    ::close(fd);

    std::vector<std::uint8_t> buf(kSectorSize, 0xAA);
    ASSERT_EQ(ReadSectors(1, path, 8388608, buf.data(), 0), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data()), marker.size()), marker);
    EXPECT_TRUE(AllZero(buf.data() + marker.size(), kSectorSize - marker.size()));
}

// An image of 3 sectors and 100 bytes: reads that run past its end keep what
// exists and zero-fill the rest; a read wholly past the end fails with zeros.
TEST_F(SectorReaderTest, ShortReadAtTheEndOfAnImageZeroFills)
{
    test::TempDir dir;
    const std::size_t imageBytes = 3 * kSectorSize + 100;
    std::string path = WritePatternFile(dir.path() / "odd.img", imageBytes);

    struct Case {
        std::uint64_t first;
        std::uint32_t count;
        int result;
        std::size_t dataBytes;  // bytes of the buffer that hold image data
    };
    const Case cases[] = {
        {0, 3, 1, 3 * kSectorSize},
        {2, 4, 1, kSectorSize + 100},  // runs 100 bytes into the partial sector
        {3, 1, 1, 100},                // only the partial sector
        {4, 1, 0, 0},                  // wholly past the end
        {4000000000ull, 2, 0, 0},
        {~std::uint64_t{0}, 1, 0, 0},  // byte offset would overflow 64 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first " << c.first << " count " << c.count);
        auto buf = Filled(std::size_t{c.count} * kSectorSize);
        SectorReadReport report;
        auto device = OpenFileDevice(path);
        ASSERT_TRUE(device);
        EXPECT_EQ(ReadSectorsFrom(*device, c.count, c.first, buf.data(), &report), c.result);
        auto viaPath = Filled(buf.size());
        EXPECT_EQ(ReadSectors(c.count, path, c.first, viaPath.data(), 0), c.result);
        EXPECT_EQ(viaPath, buf);
        for (std::size_t i = 0; i < c.dataBytes; ++i)
            ASSERT_EQ(buf[i], SectorPattern(c.first * kSectorSize + i)) << "byte " << i;
        EXPECT_TRUE(AllZero(buf.data() + c.dataBytes, buf.size() - c.dataBytes));
        EXPECT_EQ(report.bytesRead, c.dataBytes);
        EXPECT_EQ(report.reachedEnd, c.dataBytes < buf.size());
    }
}

TEST_F(SectorReaderTest, CountZeroSucceedsOnlyOnAnOpenableDevice)
{
    test::TempDir dir;
    std::string path = WritePatternFile(dir.path() / "a.img", 4 * kSectorSize);
    std::array<std::uint8_t, 16> buf;
    buf.fill(0xAA);
    EXPECT_EQ(ReadSectors(0, path, 0, buf.data(), 0), 1);
    EXPECT_EQ(ReadSectors(0, path, 99, buf.data(), 1), 1);
    EXPECT_EQ(ReadSectors(0, (dir.path() / "missing.img").string(), 0, buf.data(), 0), 0);
    EXPECT_EQ(ReadSectors(0, "\\\\.\\PhysicalDrive7", 0, buf.data(), 0), 0);
    for (std::uint8_t b : buf)
        EXPECT_EQ(b, 0xAA);
}

TEST_F(SectorReaderTest, UnopenableDeviceFailsWithoutStaleBytes)
{
    auto buf = Filled(2 * kSectorSize);
    EXPECT_EQ(ReadSectors(2, "\\\\.\\PhysicalDrive0", 0, buf.data(), 1), 0);  // no disks at all
    EXPECT_TRUE(AllZero(buf.data(), buf.size()));
    buf = Filled(kSectorSize);
    EXPECT_EQ(ReadSectors(1, "/nonexistent/torvane.img", 0, buf.data(), 0), 0);
    EXPECT_TRUE(AllZero(buf.data(), buf.size()));
}

// A bad sector in the middle of a block reads as zeros while the sectors
// around it still come through; a read of bad sectors only fails, with zeros.
TEST_F(SectorReaderTest, FailingRangeLeavesNoStaleBytes)
{
    auto faulty = std::make_shared<FaultyDevice>(std::make_shared<SparseDevice>(1 << 20, SectorPattern));
    faulty->FailSectors(10, 2);

    {
        auto buf = Filled(6 * kSectorSize);
        SectorReadReport report;
        ASSERT_EQ(ReadSectorsFrom(*faulty, 6, 8, buf.data(), &report), 1);
        auto expected = Expected(8, 6);
        std::memset(expected.data() + 2 * kSectorSize, 0, 2 * kSectorSize);
        EXPECT_EQ(buf, expected);
        EXPECT_EQ(report.unreadableSectors, 2u);
        EXPECT_EQ(report.bytesRead, 4u * kSectorSize);
        EXPECT_FALSE(report.reachedEnd);
    }
    {
        auto buf = Filled(2 * kSectorSize);
        EXPECT_EQ(ReadSectorsFrom(*faulty, 2, 10, buf.data()), 0);
        EXPECT_TRUE(AllZero(buf.data(), buf.size()));
    }
    {
        // The same through the registry and ReadSectors; then the device is unplugged.
        int disk = DeviceRegistry::Instance().RegisterMemoryDisk(faulty);
        auto buf = Filled(kSectorSize);
        ASSERT_EQ(ReadSectors(1, PhysicalDrivePath(disk), 9, buf.data(), 0), 1);
        EXPECT_EQ(buf, Expected(9, 1));
        faulty->FailEverything(true);
        EXPECT_EQ(ReadSectors(1, PhysicalDrivePath(disk), 9, buf.data(), 0), 0);
        EXPECT_TRUE(AllZero(buf.data(), buf.size()));
    }
}

TEST_F(SectorReaderTest, ShortReadsOfTheDeviceAreJoined)
{
    auto faulty = std::make_shared<FaultyDevice>(std::make_shared<SparseDevice>(1 << 20, SectorPattern));
    faulty->SetMaxChunk(100);
    auto buf = Filled(3 * kSectorSize);
    ASSERT_EQ(ReadSectorsFrom(*faulty, 3, 7, buf.data()), 1);
    EXPECT_EQ(buf, Expected(7, 3));
    EXPECT_GE(faulty->ReadCalls(), 16u);
}

// A flagged read of another device must not be served by the shared handle's
// device; a flagged read with the handle closed opens the path for the call.
TEST_F(SectorReaderTest, SharedHandleServesOnlyItsOwnDevice)
{
    auto& reg = DeviceRegistry::Instance();
    int a = reg.RegisterMemoryDisk(MakeMemoryDevice("a", std::string(kSectorSize, 'A')));
    int b = reg.RegisterMemoryDisk(MakeMemoryDevice("b", std::string(kSectorSize, 'B')));
    ASSERT_TRUE(OpenDeviceHandle(PhysicalDrivePath(a)));
    EXPECT_EQ(SharedDiskHandle.OpenPath(), PhysicalDrivePath(a));

    auto buf = Filled(kSectorSize);
    ASSERT_EQ(ReadSectors(1, PhysicalDrivePath(b), 0, buf.data(), 1), 1);
    EXPECT_EQ(buf[0], 'B');
    ASSERT_EQ(ReadSectors(1, "\\\\.\\PHYSICALDRIVE" + std::to_string(a), 0, buf.data(), 2), 1);
    EXPECT_EQ(buf[0], 'A');

    // Kept when asked for the same device, reopened for another.
    DevicePtr first = SharedDiskHandle.Get();
    ASSERT_TRUE(OpenDeviceHandle(PhysicalDrivePath(a)));
    EXPECT_EQ(SharedDiskHandle.Get(), first);
    ASSERT_TRUE(OpenDeviceHandle(PhysicalDrivePath(b)));
    EXPECT_EQ(SharedDiskHandle.OpenPath(), PhysicalDrivePath(b));

    CloseDeviceHandle();
    EXPECT_FALSE(SharedDiskHandle.IsOpen());
    ASSERT_EQ(ReadSectors(1, PhysicalDrivePath(a), 0, buf.data(), 1), 1);
    EXPECT_EQ(buf[0], 'A');

    EXPECT_FALSE(OpenDeviceHandle("\\\\.\\PhysicalDrive25"));
    EXPECT_FALSE(SharedDiskHandle.IsOpen());
}

TEST_F(SectorReaderTest, TwoThreadsReadingThroughTheSharedHandleGetTheirOwnData)
{
    test::TempDir dir;
    const std::uint32_t sectors = 2048;
    std::string path = WritePatternFile(dir.path() / "threads.img", std::size_t{sectors} * kSectorSize);
    ASSERT_TRUE(OpenDeviceHandle(path));

    std::atomic<int> mismatches{0};
    auto reader = [&](std::uint64_t firstBase, std::uint64_t step) {
        std::vector<std::uint8_t> buf(4 * kSectorSize);
        for (int round = 0; round < 400; ++round) {
            std::uint64_t first = (firstBase + round * step) % (sectors - 4);
            if (ReadSectors(4, path, first, buf.data(), 1) != 1 || buf != Expected(first, 4))
                ++mismatches;
        }
    };
    std::thread t1(reader, 0, 7);
    std::thread t2(reader, 1000, 13);
    t1.join();
    t2.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Closing the shared handle while a read through it is in flight: the read
// finishes with the right data, and the device goes only after that read.
TEST_F(SectorReaderTest, ClosingTheSharedHandleWhileAnotherThreadReads)
{
    std::atomic<bool> destroyed{false};
    auto gated = std::make_shared<GatedDevice>(std::make_shared<SparseDevice>(1 << 20, SectorPattern), &destroyed);
    GatedDevice* gate = gated.get();
    const std::string id = "\\\\.\\PhysicalDrive3";
    SharedDiskHandle.Adopt(std::move(gated), id);

    std::vector<std::uint8_t> buf(2 * kSectorSize, 0xAA);
    int result = -1;
    std::thread reader([&] { result = ReadSectors(2, id, 40, buf.data(), 1); });
    gate->WaitForReaders(1);
    CloseDeviceHandle();
    EXPECT_FALSE(SharedDiskHandle.IsOpen());
    EXPECT_FALSE(destroyed.load()) << "the device went while a read was running";
    gate->Release();
    reader.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(buf, Expected(40, 2));
    EXPECT_TRUE(destroyed.load());
}

TEST_F(SectorReaderTest, SeekDeviceMovesThePosition)
{
    DeviceHandle handle;
    EXPECT_EQ(SeekDevice(handle, 0u, 0, kSeekBegin), kInvalidSeekPosition);  // closed

    handle.Adopt(std::make_shared<SparseDevice>(kHugeDevice, SectorPattern), "sparse");
    struct Case {
        std::uint32_t low;
        std::int32_t high;
        int method;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {0, 1, kSeekBegin, kTwoPow32},                        // sector 8,388,608
        {0, 0, kSeekCurrent, kTwoPow32},                      // where am I
        {512, 0, kSeekCurrent, kTwoPow32 + 512},
        {0xFFFFFFFFu, 0, kSeekBegin, 0xFFFFFFFFu},            // low half all ones is a position
        {static_cast<std::uint32_t>(-512), -1, kSeekEnd, kHugeDevice - 512},
        {static_cast<std::uint32_t>(-1024), -1, kSeekCurrent, kHugeDevice - 1536},
        {0, 0x800, kSeekBegin, kHugeDevice * 2},              // past the end is allowed
        {static_cast<std::uint32_t>(-1), -1, kSeekBegin, kInvalidSeekPosition},  // before the start
        {0, 0, 7, kInvalidSeekPosition},                      // unknown method
    };
    std::uint64_t position = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.low << ":" << c.high << " method " << c.method);
        std::uint64_t got = SeekDevice(handle, c.low, c.high, c.method);
        EXPECT_EQ(got, c.expected);
        if (got != kInvalidSeekPosition)
            position = got;
        EXPECT_EQ(handle.Position(), position);  // a failed seek leaves the position alone
    }
}

TEST_F(SectorReaderTest, ReadFromPositionReadsAndAdvances)
{
    const std::uint64_t size = 10 * kSectorSize + 200;
    DeviceHandle handle;
    handle.Adopt(std::make_shared<SparseDevice>(size, SectorPattern), "small");
    std::vector<std::uint8_t> buf(4 * kSectorSize, 0xAA);

    ASSERT_EQ(SeekDevice(handle, 6 * kSectorSize, kSeekBegin), 6 * kSectorSize);
    EXPECT_EQ(ReadFromPosition(handle, buf.data(), buf.size()), static_cast<std::int64_t>(buf.size()));
    EXPECT_EQ(buf, Expected(6, 4));
    EXPECT_EQ(handle.Position(), 10 * kSectorSize);

    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_EQ(ReadFromPosition(handle, buf.data(), buf.size()), 200);
    for (std::size_t i = 0; i < 200; ++i)
        ASSERT_EQ(buf[i], SectorPattern(10 * kSectorSize + i));
    EXPECT_TRUE(AllZero(buf.data() + 200, buf.size() - 200));
    EXPECT_EQ(handle.Position(), size);

    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_EQ(ReadFromPosition(handle, buf.data(), buf.size()), 0);
    EXPECT_TRUE(AllZero(buf.data(), buf.size()));

    handle.Close();
    EXPECT_EQ(ReadFromPosition(handle, buf.data(), buf.size()), -1);
}

TEST_F(SectorReaderTest, ReadFromPositionMovesPastAWhollyBadBlock)
{
    auto faulty = std::make_shared<FaultyDevice>(std::make_shared<SparseDevice>(8 * kSectorSize, SectorPattern));
    faulty->FailSectors(0, 4);
    DeviceHandle handle;
    handle.Adopt(faulty, "faulty");
    std::vector<std::uint8_t> buf(4 * kSectorSize, 0xAA);
    EXPECT_EQ(ReadFromPosition(handle, buf.data(), buf.size()), -1);
    EXPECT_TRUE(AllZero(buf.data(), buf.size()));
    EXPECT_EQ(ReadFromPosition(handle, buf.data(), buf.size()), static_cast<std::int64_t>(buf.size()));
    EXPECT_EQ(buf, Expected(4, 4));
}

TEST(SectorReaderPlatform, AlwaysTheNtRoad)
{
    EXPECT_EQ(PlatformKind, 'N');
}

}  // namespace
}  // namespace torvane
