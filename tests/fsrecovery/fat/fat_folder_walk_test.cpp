#include "fsrecovery/fat/fat_folder_walk.h"

#include "disk/volume_geometry.h"
#include "support/fixtures.h"
#include "../../e2e/sha256.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace torvane {
namespace {

struct Entry {
    std::uint8_t b[32] = {};
    Entry(std::uint32_t cluster, std::uint32_t size, bool deleted = false)
    {
        std::memcpy(b, "FILE    BIN", 11);
        if (deleted)
            b[0] = 0xE5;
        b[11] = 0x20;
        b[20] = static_cast<std::uint8_t>(cluster >> 16);
        b[21] = static_cast<std::uint8_t>(cluster >> 24);
        b[26] = static_cast<std::uint8_t>(cluster);
        b[27] = static_cast<std::uint8_t>(cluster >> 8);
        std::memcpy(b + 28, &size, 4);
    }
};

TEST(Fat32HighWordGuess, DeletedEntriesInAFolderAboveTheFirst64KClusters)
{
    std::uint8_t sector[512] = {};
    sector[0] = 0xE5;                       // a deleted entry near the top of the sector
    FatGuessState g;
    // The walk runs in directory cluster 0x20010; the entry's high word was cleared.
    Entry first(0x0100, 2048, true);
    EXPECT_EQ(GuessDeletedFat32Cluster(g, 0x20010, sector, first.b, 1), 0x20100u);
    EXPECT_EQ(g.previousCluster, 0x0100u);  // the stored low value
    EXPECT_EQ(g.previousCount, 4u);
    // The next deleted file lies behind it: the same high word.
    Entry second(0x0104, 512, true);
    EXPECT_EQ(GuessDeletedFat32Cluster(g, 0x20010, sector, second.b, 1), 0x20104u);
    // A low word below the end of the previous file's data: the next 64K block.
    Entry wrapped(0x0002, 512, true);
    EXPECT_EQ(GuessDeletedFat32Cluster(g, 0x20010, sector, wrapped.b, 1), 0x30002u);
}

TEST(Fat32HighWordGuess, StoredHighWordsStandAndLowFoldersAreLeftAlone)
{
    std::uint8_t sector[512] = {};
    FatGuessState g;
    Entry live(0x30005, 100);
    EXPECT_EQ(GuessDeletedFat32Cluster(g, 0x20010, sector, live.b, 1), 0x30005u);
    EXPECT_EQ(g.previousCluster, 0x30005u);

    FatGuessState low;
    Entry a(0x0200, 512, true), b(0x0300, 512, true);
    EXPECT_EQ(GuessDeletedFat32Cluster(low, 0x40, sector, a.b, 1), 0x0200u);
    EXPECT_EQ(GuessDeletedFat32Cluster(low, 0x40, sector, b.b, 1), 0x0300u);
}

TEST(FatFolderWalk, ContinuationCandidate)
{
    auto none = [](std::uint32_t) { return false; };
    std::uint64_t lastTried = 0;
    std::uint32_t next = 0;
    // A one-cluster folder whose last file (cluster 100, 1500 bytes, 1-sector clusters) ends at 102.
    EXPECT_TRUE(IsClusterAfterFileUnlisted(lastTried, next, 1, 1500, 100, 1, true, none));
    EXPECT_EQ(next, 103u);
    EXPECT_FALSE(IsClusterAfterFileUnlisted(lastTried, next, 1, 1500, 100, 1, true, none)) << "not twice in a row";
    lastTried = 0;
    EXPECT_FALSE(IsClusterAfterFileUnlisted(lastTried, next, 2, 1500, 100, 1, true, none));
    EXPECT_FALSE(IsClusterAfterFileUnlisted(lastTried, next, 1, 0, 100, 1, true, none));
    EXPECT_FALSE(IsClusterAfterFileUnlisted(lastTried, next, 1, 1500, 100, 1, false, none));
    EXPECT_FALSE(IsClusterAfterFileUnlisted(lastTried, next, 1, 1500, 100, 1, true,
                                            [](std::uint32_t c) { return c == 103; }));
}

TEST(FatFolderWalk, MiscellaneousAndRootlessVolumesHoldNothing)
{
    DevicePtr dev = MakeMemoryDevice("empty", std::string(64 * 512, '\0'));
    FatVolume v;
    v.kind = FatKind::Fat32;
    v.fs = FsKind::Fat32;
    v.sectorsPerCluster = 1;
    v.cluster0Start = 8;
    v.fatStart = 1;
    v.sectorsPerFat = 1;
    v.endSector = 64;
    EXPECT_EQ(WalkFatFolderEntries(*dev, v, 0x0FFFFFFF).count, 0u);
    EXPECT_EQ(WalkFatFolderEntries(*dev, v, 0).count, 0u);
    EXPECT_EQ(WalkFatFolderEntries(*dev, v, 40).count, 0u);
}


// A FAT32 volume of one sector per cluster in memory, with the media cells
// of the FAT written; `SetCell` writes further cells.
struct TinyFat32 {
    FatVolume v;
    std::string bytes;

    TinyFat32(std::uint32_t sectorsPerFat, std::uint64_t cluster0Start, std::uint64_t endSector)
    {
        v.kind = FatKind::Fat32;
        v.fs = FsKind::Fat32;
        v.sectorsPerCluster = 1;
        v.fatStart = 1;
        v.sectorsPerFat = sectorsPerFat;
        v.cluster0Start = cluster0Start;
        v.rootStart = 2;
        v.endSector = endSector;
        v.endByte = v.endSector * 512;
        bytes.assign(v.endSector * 512, '\0');
        SetCell(0, 0x0FFFFFF8);
        SetCell(1, 0x0FFFFFFF);
    }
    void SetCell(std::uint32_t cluster, std::uint32_t value)
    {
        std::memcpy(bytes.data() + v.fatStart * 512 + cluster * 4, &value, 4);
    }
};

// A folder above the first 64K clusters holding a live file whose stored
// cluster lies low on the volume (high word 0) and a deleted file whose high
// word was cleared: the live file keeps its stored cluster, only the deleted
// one is completed by the guess.
TEST(FatFolderWalk, LiveEntriesKeepTheirStoredClusterInHighFolders)
{
    constexpr std::uint32_t kFolder = 0x10010;
    TinyFat32 t(520, 600, 600 + 0x10400);   // the guessed 0x10200 lies inside
    FatVolume& v = t.v;
    std::string& bytes = t.bytes;
    t.SetCell(kFolder, 0x0FFFFFFF);
    Entry live(0x0100, 512);
    Entry deleted(0x0200, 512, true);
    char* dir = bytes.data() + v.ClusterSector(kFolder) * 512;
    std::memcpy(dir, live.b, 32);
    std::memcpy(dir + 32, deleted.b, 32);
    DevicePtr dev = MakeMemoryDevice("high-folder", std::move(bytes));

    std::vector<FatFileEntry> files;
    FatFolderWalkOptions options;
    options.onFile = [&](const FatFileEntry& f) { files.push_back(f); };
    WalkFatFolderEntries(*dev, v, kFolder, options);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_FALSE(files[0].deleted);
    EXPECT_EQ(files[0].firstCluster, 0x0100u);
    EXPECT_TRUE(files[1].deleted);
    EXPECT_EQ(files[1].firstCluster, 0x10200u);
}

// A deleted empty file has no cluster: it takes no part in the high-word
// guess, so the deleted files after it in a folder above the first 64K
// clusters are read from their own clusters, not 0x10000 clusters on. And a
// guess that lands past the volume's last cluster is no cluster of it: the
// stored value stands.
TEST(FatFolderWalk, TheHighWordGuessPassesEmptyFilesAndStaysInTheVolume)
{
    constexpr std::uint32_t kFolder = 0x10010;
    TinyFat32 t(520, 600, 600 + 0x10400);
    FatVolume& v = t.v;
    t.SetCell(kFolder, 0x0FFFFFFF);
    const Entry entries[] = {
        Entry(0x0100, 2048, true),   // 0x10100, four clusters
        Entry(0, 0, true),           // empty: no cluster
        Entry(0x0104, 512, true),    // 0x10104
        Entry(0x0105, 512, true),    // 0x10105
        Entry(0x0002, 512, true),    // below the previous file's end: the next 64K would be 0x20002, past the volume
    };
    char* dir = t.bytes.data() + v.ClusterSector(kFolder) * 512;
    for (std::size_t i = 0; i < std::size(entries); ++i)
        std::memcpy(dir + 32 * i, entries[i].b, 32);
    DevicePtr dev = MakeMemoryDevice("high-folder", std::move(t.bytes));

    std::vector<std::uint32_t> clusters;
    FatFolderWalkOptions options;
    options.onFile = [&](const FatFileEntry& f) { clusters.push_back(f.firstCluster); };
    WalkFatFolderEntries(*dev, v, kFolder, options);
    EXPECT_EQ(clusters, (std::vector<std::uint32_t>{0x10100, 0, 0x10104, 0x10105, 0x0002}));
    ASSERT_LT(v.LastClusterInVolume(), 0x20002u);
}

// The continuation behind a one-cluster folder reads a cluster that may hold
// any file's data: an 8.3-only name with a code-page byte, taken in the
// folder's own cluster, is refused there, while a plain read-only file is
// taken in both.
TEST(FatFolderWalk, TheContinuationClusterGetsTheStrictNameTest)
{
    constexpr std::uint32_t kFolder = 10;
    TinyFat32 t(1, 8, 8 + 40);
    FatVolume& v = t.v;
    std::string& bytes = t.bytes;
    t.SetCell(kFolder, 0x0FFFFFFF);
    auto put = [&](std::uint32_t cluster, int index, const char* name11, std::uint8_t attr, std::uint32_t first,
                   std::uint32_t size) {
        Entry e(first, size);
        std::memcpy(e.b, name11, 11);
        e.b[11] = attr;
        std::memcpy(bytes.data() + v.ClusterSector(cluster) * 512 + index * 32, e.b, 32);
    };
    // A full folder cluster (no end entry), its last file at cluster 20: the
    // walk goes on at cluster 21.
    put(kFolder, 0, "\xA5" "ANDU   TXT", 0x20, 30, 100);
    for (int i = 1; i < 16; ++i)
        put(kFolder, i, "FILE    BIN", 0x21, i == 15 ? 20 : 30, 100);
    put(21, 0, "IMG_0003JPG", 0x21, 32, 100);
    put(21, 1, "\xA5" "ANDO   TXT", 0x20, 33, 100);
    DevicePtr dev = MakeMemoryDevice("continuation", std::move(bytes));

    std::vector<std::string> names;
    FatFolderWalkOptions options;
    options.followContinuation = true;
    options.onFile = [&](const FatFileEntry& f) { names.push_back(f.name); };
    WalkFatFolderEntries(*dev, v, kFolder, options);
    ASSERT_EQ(names.size(), 17u);
    EXPECT_EQ(names[0], "\u00A5" "ANDU.TXT");
    EXPECT_EQ(names[16], "IMG_0003.JPG");
}


// The FAT32 root of fat32-highword.img: folders /FILL (a 33 MiB file) and
// /SUB, then the deleted GONE.BIN, written behind /SUB's files beyond cluster
// 0xFFFF, whose entry lost its high word. The root's own cluster (2) tells
// nothing; the last sub-folder entry before the file does.
class Fat32RootHighWord : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto path = test::FixtureImage("fat32-highword.img");
        std::ifstream in(path, std::ios::binary);
        if (!in)
            GTEST_SKIP() << "fixture not unpacked: " << path;
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
        for (const auto& m : test::LoadManifest("fat32-highword.img"))
            if (m.path == "/GONE.BIN")
                gone_ = m;
        ASSERT_EQ(gone_.state, "deleted");
    }

    // The volume of `bytes` and the first cluster the root walk gives GONE.BIN.
    std::uint32_t GoneCluster(const std::string& bytes, const FatFolderWalkOptions& base, FatVolume* out = nullptr)
    {
        DevicePtr dev = MakeMemoryDevice("highword", bytes);
        CurrentPartition p;
        p.Descriptor.FsType = "FAT32";
        p.Descriptor.StartSector = 0;
        p.Descriptor.EndSector = bytes.size() / 512;
        p.Descriptor.EndByte = bytes.size();
        EXPECT_EQ(ReadVolumeParameters(p, *dev), 1);
        p.Descriptor.CopyGeometry(p.Geometry, false);
        p.Descriptor.FsName = "FAT32";
        const FatVolume v = FatVolumeFromDescriptor(p.Descriptor);
        if (out)
            *out = v;
        std::uint32_t cluster = 0;
        FatFolderWalkOptions options = base;
        options.onFile = [&](const FatFileEntry& f) {
            if (f.deleted && f.size == gone_.size)
                cluster = f.firstCluster;
        };
        WalkFatFolderEntries(*dev, v, 0, options);
        return cluster;
    }

    // The cluster GONE.BIN's data really starts at: where its first bytes are.
    std::uint32_t TrueCluster(const FatVolume& v, std::uint32_t storedLow)
    {
        for (std::uint32_t high = 0; high < 0x10; ++high) {
            const std::uint32_t c = high << 16 | storedLow;
            const std::uint64_t at = v.ClusterSector(c) * 512;
            if (at + 512 > bytes_.size())
                break;
            if (test::Sha256Hex(bytes_.substr(at, gone_.size)) == gone_.sha256)
                return c;
        }
        return 0;
    }

    std::string bytes_;
    test::ManifestEntry gone_;
};

TEST_F(Fat32RootHighWord, TheLastSubfolderBeforeTheFileGivesTheHighWord)
{
    FatVolume v;
    FatFolderWalkOptions plain;
    const std::uint32_t stored = GoneCluster(bytes_, plain, &v);
    ASSERT_LT(stored, 0x10000u) << "the fixture's entry keeps its high word";
    const std::uint32_t truth = TrueCluster(v, stored);
    ASSERT_GE(truth, 0x10000u) << "GONE.BIN's data not found beyond cluster 0xFFFF";

    FatFolderWalkOptions search;
    search.rootChildFolders = [] { return std::vector<std::uint32_t>{}; };
    EXPECT_EQ(GoneCluster(bytes_, search), truth);
}

// /SUB deleted too, its entry's high word cleared as well: the walk of the
// low cluster its entry names finds no file, and the root child folder the
// scan found with that low word (its "." entry gives its real cluster) is
// walked instead. Without that folder among the root's children nothing
// seeds the guess.
TEST_F(Fat32RootHighWord, AFolderEntryThatLostItsHighWordIsFoundAmongTheRootsChildren)
{
    FatVolume v;
    FatFolderWalkOptions plain;
    const std::uint32_t stored = GoneCluster(bytes_, plain, &v);
    const std::uint32_t truth = TrueCluster(v, stored);
    ASSERT_GE(truth, 0x10000u);

    std::string patched = bytes_;
    const std::uint64_t root = v.ClusterSector(v.rootStart) * 512;
    std::uint32_t subCluster = 0;
    for (std::uint64_t at = root; at < root + 512; at += 32) {
        if (patched.compare(at, 11, "SUB        ") != 0)
            continue;
        const auto* e = reinterpret_cast<const std::uint8_t*>(patched.data() + at);
        subCluster = static_cast<std::uint32_t>(e[21] << 24 | e[20] << 16 | e[27] << 8 | e[26]);
        patched[at] = static_cast<char>(0xE5);
        patched[at + 20] = 0;
        patched[at + 21] = 0;
    }
    ASSERT_GE(subCluster, 0x10000u);

    FatFolderWalkOptions search;
    const std::uint32_t fill = 3;   // any low folder first: only the low word decides
    search.rootChildFolders = [&] { return std::vector<std::uint32_t>{fill, subCluster}; };
    EXPECT_EQ(GoneCluster(patched, search), truth);

    search.rootChildFolders = [&] { return std::vector<std::uint32_t>{fill}; };
    EXPECT_NE(GoneCluster(patched, search), truth);
}

}  // namespace
}  // namespace torvane
