// The exFAT readers on damaged volumes: the fixture volume with one fault put
// in (a directory that loops, entry sets with a wrong checksum or count, a
// file longer than the volume, a zeroed boot region, a wiped root), the
// directory-start test of the lost-directory sweep, and the public broken
// images every scan must get through.
#include "exfat_test_support.h"

#include "fsrecovery/basic_scan.h"
#include "fsrecovery/exfat/exfat_entry_set.h"
#include "fsrecovery/exfat/exfat_file_reader.h"
#include "fsrecovery/exfat/exfat_folder_listing.h"
#include "fsrecovery/exfat/exfat_file_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace torvane {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kFatByte = 2048ull * 512;   // fat_offset of the fixture
constexpr std::uint64_t kHeapByte = 4096ull * 512;  // cluster_heap_offset
constexpr std::uint32_t kClusterBytes = 4096;
constexpr std::uint32_t kRootCluster = 5;
constexpr std::uint64_t kRootByte = kHeapByte + (kRootCluster - 2) * std::uint64_t{kClusterBytes};

std::string FixtureBytes()
{
    return test::ReadWholeFile(test::FixtureImage("exfat.img"));
}

struct Scan {
    ScanResults results;
    ExfatFileIndex index;
    ExfatScanReport report;
    DevicePtr device;

    std::set<std::string> Folders() const
    {
        std::set<std::string> out;
        for (const auto& row : const_cast<ScanResults&>(results).DirList().Rows())
            out.insert(row.name);
        return out;
    }
    const FoundEntry* File(const std::string& name) const
    {
        for (const FoundEntry& e : results.FoundEntries())
            if (e.name == name)
                return &e;
        return nullptr;
    }
};

void ScanImage(Scan& s, std::string image)
{
    s.device = MakeMemoryDevice("exfat", std::move(image));
    CurrentPartition p = test::WholeVolume(s.device);
    s.report = ReadExfatVolume(s.results, p, *s.device, &s.index);
}

// A file of a scanned image as ReadExfatFileData is given it.
struct ScannedFile {
    Scan scan;
    const FoundEntry* entry = nullptr;  // null: the scan found no file of the name
    bool indexed = false;               // the scan's index holds the record below
    ExfatFileRecord rec;
    ExfatVolume volume;                 // read afresh from the device, as a save does
};

void ScanForFile(ScannedFile& f, std::string image, const std::string& name)
{
    ScanImage(f.scan, std::move(image));
    f.entry = f.scan.File(name);
    if (!f.entry)
        return;
    f.indexed = f.scan.index.Find(f.entry->ownId, f.rec);
    const CurrentPartition p = test::WholeVolume(f.scan.device);
    f.volume = LoadExfatVolume(p, *f.scan.device);
}

std::uint64_t StreamOf(std::size_t fileEntry) { return fileEntry + 32; }

class VectorSink final : public ExfatDataSink {
public:
    bool Write(const std::uint8_t* d, std::size_t n) override
    {
        data.append(reinterpret_cast<const char*>(d), n);
        return true;
    }
    std::string data;
};

std::string ManifestSha(const std::string& path)
{
    for (const auto& m : test::LoadManifest("exfat.img"))
        if (m.path == path)
            return m.sha256;
    return {};
}

// ---- loops --------------------------------------------------------------------

TEST(ExfatDamageTest, RootClusterChainedToItselfEndsTheWalk)
{
    std::string image = FixtureBytes();
    ASSERT_FALSE(image.empty());
    test::PutU32(image, kFatByte + 4 * kRootCluster, kRootCluster);
    Scan s;
    ScanImage(s, image);
    auto folders = s.Folders();
    EXPECT_TRUE(folders.count("Documents"));
    EXPECT_TRUE(folders.count("Q3 Planung"));
    // Every folder is walked once: the misc row is no walk, the root is one.
    EXPECT_EQ(s.report.directoriesWalked, s.results.DirList().Count());
}

TEST(ExfatDamageTest, FolderNamingItsParentOrItselfIsWalkedOnce)
{
    std::string image = FixtureBytes();
    const std::size_t documents = test::FindFileEntry(image, "Documents");
    const std::size_t projekte = test::FindFileEntry(image, "Projekte");
    ASSERT_NE(documents, std::string::npos);
    ASSERT_NE(projekte, std::string::npos);
    const std::uint32_t documentsCluster = test::GetU32(image, StreamOf(documents) + 20);
    // "Documents/Projekte" now names Documents' own cluster, "Documents" the root.
    test::PutU32(image, StreamOf(projekte) + 20, documentsCluster);
    test::FixSetChecksum(image, projekte);
    test::PutU32(image, StreamOf(documents) + 20, kRootCluster);
    test::FixSetChecksum(image, documents);
    Scan s;
    ScanImage(s, image);
    EXPECT_TRUE(s.Folders().count("Fotos Sommer 2024"));
    EXPECT_EQ(s.report.checksumMismatches, 0u);
    // Each directory once: no entry is found twice.
    std::map<std::string, int> seen;
    for (const FoundEntry& e : s.results.FoundEntries())
        ++seen[std::to_string(e.parentId) + "/" + e.name];
    for (const auto& [k, n] : seen)
        EXPECT_EQ(n, 1) << k;
}

// ---- entry sets ------------------------------------------------------------------

TEST(ExfatDamageTest, WrongChecksumKeepsTheSetAndCountsIt)
{
    std::string image = FixtureBytes();
    const std::size_t notes = test::FindFileEntry(image, "Notes.txt");
    ASSERT_NE(notes, std::string::npos);
    image[notes + 2] = static_cast<char>(image[notes + 2] ^ 0x5A);
    Scan s;
    ScanImage(s, image);
    EXPECT_EQ(s.report.checksumMismatches, 1u);
    ASSERT_TRUE(s.File("Notes.txt"));
    EXPECT_EQ(s.File("Notes.txt")->size, 700u);
}

struct CountCase {
    const char* entryName;   // the first 15 characters of the name
    std::uint8_t count;
    const char* fullName;
};

class ExfatWrongCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(ExfatWrongCountTest, NameAndNeighboursSurvive)
{
    const CountCase c = GetParam();
    std::string image = FixtureBytes();
    const std::size_t at = test::FindFileEntry(image, c.entryName);
    ASSERT_NE(at, std::string::npos);
    image[at + 1] = static_cast<char>(c.count);
    Scan s;
    ScanImage(s, image);
    EXPECT_TRUE(s.File(c.fullName)) << c.fullName;
    // The other files of /Documents are all still there.
    for (const char* other : {"Résumé.txt", "日本語.txt", "Notes.txt", "Rechnung 2024-03.pdf", "old draft.txt"})
        EXPECT_TRUE(s.File(other)) << other;
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ExfatWrongCountTest,
    ::testing::Values(CountCase{"Notes.txt", 18, "Notes.txt"}, CountCase{"Notes.txt", 1, "Notes.txt"},
                      CountCase{"Notes.txt", 0, "Notes.txt"},
                      CountCase{"This is a delib", 2,
                                "This is a deliberately long file name to check long file name handling in directory "
                                "entries of every file system 0123456789.txt"}));

TEST(ExfatEntrySetTest, NameEntryEndingInASpaceKeepsIt)
{
    // A 17-character name whose 15th character is a space.
    const std::u16string name = u"Fotos Sommer 20 4";
    std::vector<std::uint8_t> dir(5 * 32, 0);
    dir[0] = 0x85;
    dir[1] = 3;
    dir[32] = 0xC0;
    dir[32 + 3] = static_cast<std::uint8_t>(name.size());
    dir[32 + 20] = 9;
    for (int k = 0; k < 2; ++k) {
        dir[64 + 32 * k] = 0xC1;
        for (int i = 0; i < 15 && 15 * k + i < static_cast<int>(name.size()); ++i) {
            const char16_t u = name[15 * k + i];
            dir[64 + 32 * k + 2 + 2 * i] = static_cast<std::uint8_t>(u & 0xFF);
            dir[64 + 32 * k + 3 + 2 * i] = static_cast<std::uint8_t>(u >> 8);
        }
    }
    std::vector<ExfatEntrySet> sets;
    ExfatEntrySetAssembler a([&](const ExfatEntrySet& s) { sets.push_back(s); });
    for (std::size_t e = 0; e < dir.size(); e += 32)
        if (a.Feed(dir.data() + e, e) != ExfatEntrySetAssembler::Step::Continue)
            break;
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].name, "Fotos Sommer 20 4");
    EXPECT_EQ(sets[0].firstCluster, 9u);
    EXPECT_FALSE(sets[0].checksumOk);
}

// One assembler over several sets in a row: the checksum of each set (a
// deleted set may carry the sum of its in-use form or one made after the
// deletion), and names that do not leak from one set into the next.
TEST(ExfatEntrySetTest, ChecksumsAndNamesOfSetsInARow)
{
    enum class Sum { Right, InUseForm, Wrong };
    struct Case {
        std::u16string name;
        bool deleted;
        Sum sum;
        std::string expectedName;
        bool expectedOk;
    };
    const Case cases[] = {
        {u"A rather long name of a file.txt", false, Sum::Right, "A rather long name of a file.txt", true},
        {u"b.jpg", false, Sum::Wrong, "b.jpg", false},
        {u"deleted photo.jpg", true, Sum::InUseForm, "deleted photo.jpg", true},
        {u"deleted, summed after.jpg", true, Sum::Right, "deleted, summed after.jpg", true},
        {u"deleted wrong.jpg", true, Sum::Wrong, "deleted wrong.jpg", false},
        {u"caf\u00E9 \U0001F600.txt", false, Sum::Right, "caf\xC3\xA9 \xF0\x9F\x98\x80.txt", true},
        {u"c", false, Sum::Right, "c", true},
    };
    std::vector<std::uint8_t> dir;
    for (const Case& c : cases) {
        const std::size_t names = (c.name.size() + 14) / 15;
        const std::size_t at = dir.size();
        dir.resize(at + 32 * (2 + names), 0);
        std::uint8_t* e = dir.data() + at;
        e[0] = 0x85;
        e[1] = static_cast<std::uint8_t>(1 + names);
        e[32] = 0xC0;
        e[32 + 3] = static_cast<std::uint8_t>(c.name.size());
        e[32 + 20] = 9;
        for (std::size_t k = 0; k < names; ++k) {
            e[64 + 32 * k] = 0xC1;
            for (std::size_t i = 0; i < 15 && 15 * k + i < c.name.size(); ++i) {
                const char16_t u = c.name[15 * k + i];
                e[64 + 32 * k + 2 + 2 * i] = static_cast<std::uint8_t>(u & 0xFF);
                e[64 + 32 * k + 3 + 2 * i] = static_cast<std::uint8_t>(u >> 8);
            }
        }
        const std::size_t count = 2 + names;
        if (c.deleted && c.sum != Sum::InUseForm)
            for (std::size_t k = 0; k < count; ++k)
                e[32 * k] &= 0x7F;
        std::uint16_t sum = ExfatSetChecksum(e, count);
        if (c.sum == Sum::Wrong)
            sum ^= 0x0101;
        e[2] = static_cast<std::uint8_t>(sum & 0xFF);
        e[3] = static_cast<std::uint8_t>(sum >> 8);
        if (c.deleted && c.sum == Sum::InUseForm)
            for (std::size_t k = 0; k < count; ++k)
                e[32 * k] &= 0x7F;
    }
    std::vector<ExfatEntrySet> sets;
    ExfatEntrySetAssembler a([&](const ExfatEntrySet& s) { sets.push_back(s); });
    for (std::size_t e = 0; e < dir.size(); e += 32)
        ASSERT_EQ(a.Feed(dir.data() + e, e), ExfatEntrySetAssembler::Step::Continue);
    a.Flush();
    ASSERT_EQ(sets.size(), std::size(cases));
    std::uint64_t wrong = 0;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sets[i].name, cases[i].expectedName);
        EXPECT_EQ(sets[i].deleted, cases[i].deleted);
        EXPECT_EQ(sets[i].checksumOk, cases[i].expectedOk);
        EXPECT_EQ(sets[i].firstCluster, 9u);
        wrong += cases[i].expectedOk ? 0 : 1;
    }
    EXPECT_EQ(a.checksumMismatches, wrong);
}

// ---- a file longer than the volume ----------------------------------------------------------

TEST(ExfatDamageTest, FileLengthBeyondTheVolumeSavesWhatTheVolumeHolds)
{
    std::string image = FixtureBytes();
    const std::size_t big = test::FindFileEntry(image, "big-pattern.bin");
    ASSERT_NE(big, std::string::npos);
    const std::uint64_t huge = 1ull << 40;
    test::PutU64(image, StreamOf(big) + 8, huge);
    test::PutU64(image, StreamOf(big) + 24, huge);
    test::FixSetChecksum(image, big);
    ScannedFile f;
    ScanForFile(f, image, "big-pattern.bin");
    ASSERT_TRUE(f.entry);
    EXPECT_EQ(f.entry->size, huge);

    ASSERT_TRUE(f.indexed);
    ExfatFileData file{f.rec.firstCluster, f.entry->size, f.rec.validLength, true, f.rec.noFatChain};
    VectorSink sink;
    ExfatReadReport r = ReadExfatFileData(f.volume, file, sink, {});
    EXPECT_EQ(r.outcome, ExfatReadOutcome::Incomplete);
    EXPECT_TRUE(r.dataShort);
    EXPECT_LE(sink.data.size(), image.size());
    EXPECT_GE(sink.data.size(), 2097152u);
    // The real file's bytes come first.
    EXPECT_EQ(test::Sha256Hex(sink.data.substr(0, 2097152)), ManifestSha("/Large/big-pattern.bin"));
}

TEST(ExfatFileReaderTest, BytesPastTheValidLengthAreZeros)
{
    const std::string image = FixtureBytes();
    ScannedFile f;
    ScanForFile(f, image, "Notes.txt");
    ASSERT_TRUE(f.entry);
    ASSERT_TRUE(f.indexed);
    ExfatFileData file{f.rec.firstCluster, 700, 100, true, f.rec.noFatChain};
    VectorSink sink;
    ExfatReadReport r = ReadExfatFileData(f.volume, file, sink, {});
    EXPECT_EQ(r.outcome, ExfatReadOutcome::Complete);
    ASSERT_EQ(sink.data.size(), 700u);
    EXPECT_EQ(sink.data.substr(100), std::string(600, '\0'));
    EXPECT_EQ(sink.data.substr(0, 100), image.substr(f.entry->ownId * 512, 100));
}

TEST(ExfatFileReaderTest, FragmentedFileFollowsItsChainWithOrWithoutTheScanRecord)
{
    ScannedFile f;
    ScanForFile(f, FixtureBytes(), "fragmented-file.bin");
    ASSERT_TRUE(f.entry);
    ASSERT_TRUE(f.indexed);
    EXPECT_FALSE(f.rec.noFatChain);
    for (bool known : {true, false}) {
        ExfatFileData file{f.rec.firstCluster, f.entry->size, f.rec.validLength, known, f.rec.noFatChain};
        VectorSink sink;
        ExfatReadReport r = ReadExfatFileData(f.volume, file, sink, {});
        EXPECT_EQ(r.outcome, ExfatReadOutcome::Complete);
        EXPECT_TRUE(r.followedChain);
        EXPECT_EQ(test::Sha256Hex(sink.data), ManifestSha("/Frag/fragmented-file.bin")) << known;
    }
}

// ---- the lost-directory search ------------------------------------------------------------

std::set<std::string> ExpectedTopFolders()
{
    return {"Documents", "Fotos Sommer 2024", "Sizes", "Large", "Alter Ordner", "Frag", "Viele Dateien"};
}

TEST(ExfatLostSearchTest, ZeroedBootSectorUsesTheBackup)
{
    std::string image = FixtureBytes();
    std::fill(image.begin(), image.begin() + 512, '\0');
    DevicePtr device = MakeMemoryDevice("exfat", image);
    CurrentPartition p = test::WholeVolume(device);
    ScanResults results;
    ExfatScanReport r = SearchExfatDirectories(results, p, *device);
    EXPECT_TRUE(r.bootSectorUsed);
    std::set<std::string> folders;
    for (const auto& row : results.DirList().Rows())
        folders.insert(row.name);
    for (const auto& f : ExpectedTopFolders())
        EXPECT_TRUE(folders.count(f)) << f;
    EXPECT_EQ(r.lostDirectories, 0u);
}

TEST(ExfatLostSearchTest, BasicScanOfAVolumeWithAZeroedBootSectorReadsTheBackup)
{
    std::string image = FixtureBytes();
    std::fill(image.begin(), image.begin() + 512, '\0');
    DevicePtr device = MakeMemoryDevice("exfat", image);
    ScanResults results;
    BasicScanJob scan(results, test::WholeVolume(device));
    scan.SetInterimInterval(std::chrono::milliseconds(0));
    ASSERT_TRUE(scan.RunHere());
    std::set<std::string> names;
    for (RecoveredFolder* f = results.FirstFolder(); f; f = f->next)
        names.insert(f->name);
    for (const auto& f : ExpectedTopFolders())
        EXPECT_TRUE(names.count(f)) << f;
}

TEST(ExfatLostSearchTest, ZeroedBootRegionDerivesTheGeometryFromTheRoot)
{
    std::string image = FixtureBytes();
    std::fill(image.begin(), image.begin() + 24 * 512, '\0');
    DevicePtr device = MakeMemoryDevice("exfat", image);
    CurrentPartition p = test::WholeVolume(device);
    ScanResults results;
    auto index = std::make_shared<ExfatFileIndex>();
    ExfatScanReport r = SearchExfatDirectories(results, p, *device, index.get());
    EXPECT_FALSE(r.bootSectorUsed);
    EXPECT_TRUE(r.geometryDerived);
    EXPECT_EQ(p.Geometry.SectorsPerCluster, 8u);
    EXPECT_EQ(p.Geometry.RootStart, kRootCluster);
    EXPECT_EQ(p.Geometry.Cluster0Start, kHeapByte / 512 - 16);
    std::set<std::string> folders;
    for (const auto& row : results.DirList().Rows())
        folders.insert(row.name);
    for (const auto& f : ExpectedTopFolders())
        EXPECT_TRUE(folders.count(f)) << f;
    for (const char* f : {"Q3 Planung", "Abend", "Tiefer"})
        EXPECT_TRUE(folders.count(f)) << f;

    // The derived geometry places the data: a saved file is byte-identical.
    const FoundEntry* frag = nullptr;
    for (const FoundEntry& e : results.FoundEntries())
        if (e.name == "fragmented-file.bin")
            frag = &e;
    ASSERT_TRUE(frag);
    ExfatSaveContext context = ExfatSaveContextOf(p, *device, index);
    ASSERT_TRUE(context.volume.clusterBytes == kClusterBytes);
    ExfatVolume volume = context.volume;
    volume.device = device.get();
    ExfatFileRecord rec;
    ASSERT_TRUE(index->Find(frag->ownId, rec));
    VectorSink sink;
    ReadExfatFileData(volume, ExfatFileData{rec.firstCluster, frag->size, rec.validLength, true, rec.noFatChain},
                      sink, {});
    EXPECT_EQ(test::Sha256Hex(sink.data), ManifestSha("/Frag/fragmented-file.bin"));
}

// Root entries whose lengths overflow the geometry arithmetic (a bitmap of
// 2^61 bytes made the cluster count 0 and the derivation divided by it) are
// damage: the root is not used to derive the geometry, and the search ends.
struct HugeRootLength {
    std::uint8_t entryType;
    std::uint64_t length;
};
class ExfatHugeRootLengthTest : public ::testing::TestWithParam<HugeRootLength> {};

TEST_P(ExfatHugeRootLengthTest, RootIsNotUsedForTheGeometry)
{
    std::string image = FixtureBytes();
    std::fill(image.begin(), image.begin() + 24 * 512, '\0');
    bool patched = false;
    for (std::uint64_t e = kRootByte; e < kRootByte + 512; e += 32) {
        if (static_cast<std::uint8_t>(image[e]) == GetParam().entryType) {
            test::PutU64(image, e + 24, GetParam().length);
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    DevicePtr device = MakeMemoryDevice("exfat", image);
    CurrentPartition p = test::WholeVolume(device);
    ScanResults results;
    ExfatFileIndex index;
    SearchExfatDirectories(results, p, *device, &index);
    // The folders still come from the sweep.
    std::set<std::string> folders;
    for (const auto& row : results.DirList().Rows())
        folders.insert(row.name);
    EXPECT_TRUE(folders.count("Q3 Planung"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, ExfatHugeRootLengthTest,
                         ::testing::Values(HugeRootLength{0x81, std::uint64_t{1} << 61},
                                           HugeRootLength{0x81, ~std::uint64_t{0}},
                                           HugeRootLength{0x82, ~std::uint64_t{0}},
                                           HugeRootLength{0x82, std::uint64_t{1} << 40}));

TEST(ExfatLostSearchTest, ZeroedBootRegionAndRootDeriveTheGeometryFromTheFolders)
{
    std::string image = FixtureBytes();
    std::fill(image.begin(), image.begin() + 24 * 512, '\0');
    std::fill(image.begin() + kRootByte, image.begin() + kRootByte + kClusterBytes, '\0');
    DevicePtr device = MakeMemoryDevice("exfat", image);
    CurrentPartition p = test::WholeVolume(device);
    ScanResults results;
    ExfatScanReport r = SearchExfatDirectories(results, p, *device);
    EXPECT_TRUE(r.geometryDerived);
    EXPECT_EQ(p.Geometry.SectorsPerCluster, 8u);
    EXPECT_EQ(p.Geometry.Cluster0Start, kHeapByte / 512 - 16);
    std::set<std::string> folders;
    for (const auto& row : results.DirList().Rows())
        folders.insert(row.name);
    for (const char* f : {"Projekte", "Q3 Planung", "Strand", "Abend", "Unterordner", "Tiefer"})
        EXPECT_TRUE(folders.count(f)) << f;
}

TEST(ExfatLostSearchTest, WipedRootLeavesItsFoldersToTheSweep)
{
    std::string image = FixtureBytes();
    std::fill(image.begin() + kRootByte, image.begin() + kRootByte + kClusterBytes, '\0');
    DevicePtr device = MakeMemoryDevice("exfat", image);
    CurrentPartition p = test::WholeVolume(device);
    ScanResults results;
    ExfatScanReport r = SearchExfatDirectories(results, p, *device);
    EXPECT_TRUE(r.bootSectorUsed);
    EXPECT_GE(r.lostDirectories, 5u);
    std::set<std::string> folders;
    std::size_t orphans = 0;
    for (const auto& row : results.DirList().Rows()) {
        folders.insert(row.name);
        if (row.parent == kMiscFolderId && row.self != kMiscFolderId)
            ++orphans;
    }
    EXPECT_EQ(orphans, r.lostDirectories);
    // Folders below the lost ones keep their names; their files are found.
    for (const char* f : {"Projekte", "Q3 Planung", "Strand", "Abend", "Unterordner"})
        EXPECT_TRUE(folders.count(f)) << f;
    bool notes = false;
    for (const FoundEntry& e : results.FoundEntries())
        notes = notes || e.name == "Notes.txt";
    EXPECT_TRUE(notes);
}

// ---- the directory-start test ------------------------------------------------------------------

struct StartCase {
    const char* what;
    std::vector<std::pair<int, std::uint8_t>> bytes;   // offset, value
    bool pass;
    const char* tag;
};

class ExfatDirectoryStartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(ExfatDirectoryStartTest, Decides)
{
    const StartCase c = GetParam();
    std::uint8_t s[512] = {};
    for (auto [off, v] : c.bytes)
        s[off] = v;
    std::string tag = "x";
    EXPECT_EQ(IsExfatDirectoryStart(s, &tag), c.pass) << c.what;
    if (c.pass) {
        EXPECT_EQ(tag, c.tag) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExfatDirectoryStartTest,
    ::testing::Values(
        StartCase{"file set", {{0, 0x85}, {1, 2}, {32, 0xC0}, {64, 0xC1}}, true, ""},
        StartCase{"deleted file set", {{0, 0x05}, {1, 3}, {32, 0x40}, {64, 0x41}}, true, ""},
        StartCase{"secondary count 1", {{0, 0x85}, {1, 1}, {32, 0xC0}, {64, 0xC1}}, false, ""},
        StartCase{"secondary count 19", {{0, 0x85}, {1, 19}, {32, 0xC0}, {64, 0xC1}}, false, ""},
        StartCase{"attributes too large", {{0, 0x85}, {1, 2}, {4, 0x51}, {32, 0xC0}, {64, 0xC1}}, false, ""},
        StartCase{"label then bitmap", {{0, 0x83}, {32, 0x81}, {64, 0x82}}, true, ""},
        StartCase{"stream first", {{0, 0xC0}, {32, 0xC1}, {64, 0x85}}, true, "C0_40"},
        StartCase{"name, file, live stream", {{0, 0xC1}, {32, 0x85}, {64, 0xC0}}, true, "C1_41"},
        StartCase{"name, file, deleted stream, name", {{0, 0x41}, {32, 0x05}, {64, 0x40}, {96, 0xC1}}, true, "C1_41"},
        StartCase{"name, name, file", {{0, 0xC1}, {32, 0xC1}, {64, 0x85}}, true, "C1_41"},
        StartCase{"name, name, other", {{0, 0xC1}, {32, 0xC1}, {64, 0x81}}, false, ""},
        StartCase{"end of directory", {{0, 0x00}}, false, ""},
        StartCase{"data", {{0, 0xFF}, {32, 0xD8}, {64, 0xFF}}, false, ""}));

// ---- public broken images ----------------------------------------------------------------------

TEST(ExfatCorpusTest, EveryBrokenImageIsScannedListedAndSaved)
{
    const fs::path corpus = "/work/shared/corpora/exfatprogs";
    if (!fs::exists(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    test::TempDir dir;
    std::size_t images = 0;
    for (const auto& e : fs::directory_iterator(corpus)) {
        const std::string name = e.path().filename().string();
        if (name.find(".img.tar.xz") == std::string::npos)
            continue;
        const fs::path unpack = dir.path() / name;
        fs::create_directories(unpack);
        const std::string cmd = "tar -xJf '" + e.path().string() + "' -C '" + unpack.string() + "' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0)
            continue;
        for (const auto& img : fs::recursive_directory_iterator(unpack)) {
            if (!img.is_regular_file() || img.path().extension() != ".img")
                continue;
            SCOPED_TRACE(name);
            ++images;
            DevicePtr device = OpenFileDevice(img.path().string());
            ASSERT_TRUE(device);
            CurrentPartition p = test::WholeVolume(device);
            auto index = std::make_shared<ExfatFileIndex>();
            ScanResults basic;
            ReadExfatVolume(basic, p, *device, index.get());
            ScanResults deep;
            CurrentPartition q = p;
            SearchExfatDirectories(deep, q, *device, index.get());
            // Every file the scans found is listed and read.
            ExfatVolume volume = LoadExfatVolume(p, *device);
            for (ScanResults* r : {&basic, &deep}) {
                for (const auto& row : r->DirList().Rows())
                    ListExfatFolderFiles(*r, row.self);
                for (const FoundEntry& f : std::as_const(*r).FoundEntries()) {
                    ExfatFileRecord rec;
                    ExfatFileData file;
                    file.size = std::min<std::uint64_t>(f.size, 64u << 20);
                    if (index->Find(f.ownId, rec)) {
                        file.firstCluster = rec.firstCluster;
                        file.allocationKnown = true;
                        file.noFatChain = rec.noFatChain;
                        file.validLength = rec.validLength;
                    }
                    VectorSink sink;
                    ReadExfatFileData(volume, file, sink, {});
                    EXPECT_LE(sink.data.size(), file.size);
                }
            }
        }
    }
    EXPECT_GT(images, 10u);
}

}  // namespace
}  // namespace torvane
