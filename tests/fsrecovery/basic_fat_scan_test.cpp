// Basic Search of the fixture FAT volumes, headless: every folder of the
// manifest must be found at its place with its name, and every file listed
// in its folder, deleted ones included.
#include "fsrecovery/fat/fat_lost_folder_names.h"
#include "fsrecovery/basic_scan.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "fsrecovery/store/name_rules.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include "fsrecovery/store/lost_directory_arrangement.h"
#include <string>
#include <vector>

namespace torvane {
namespace {

struct ScannedVolume {
    DevicePtr device;
    FatVolume volume;
    // Folder path ("/Documents/Projekte") -> record; the root is "".
    std::map<std::string, RecoveredFolder*> folders;
    // File paths with their entries.
    std::map<std::string, std::vector<FatFileEntry>> files;
    bool geometryFailed = false;
};

CurrentPartition PartitionOf(DevicePtr device, const std::string& fsType, std::uint64_t start = 0,
                             std::uint64_t end = 0)
{
    CurrentPartition p;
    p.Descriptor.FsType = fsType;
    p.Descriptor.StartSector = start;
    p.Descriptor.EndSector = end ? end : device->SizeBytes() / 512;
    p.Descriptor.EndByte = p.Descriptor.EndSector * 512;
    p.RecoveryMode = 1;
    p.Device = std::move(device);
    return p;
}

// Runs the scan, then opens every folder (which names its lost sub-folders)
// and lists every folder's files, as a user clicking through the tree would.
void ScanAndOpenAll(ScanResults& results, CurrentPartition partition, ScannedVolume& out)
{
    out.device = partition.Device;
    BasicScanJob job(results, std::move(partition));
    job.SetInterimInterval(std::chrono::milliseconds(0));
    ASSERT_TRUE(job.RunHere());
    out.geometryFailed = job.GeometryFailed();
    out.volume = FatVolumeFromDescriptor(job.Partition().Descriptor);

    TreeModel& tree = results.Tree();
    TreeNodeId root = tree.RootItem();
    ASSERT_NE(root, kNoTreeNode);
    ASSERT_EQ(tree.Text(root), "Root");
    std::map<TreeNodeId, std::string> paths;
    paths[root] = "";
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root)) {
        // Parent first: its naming pass has run before its children are read.
        NameLostSubfolders(results, *out.device, out.volume, n);
    }
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root)) {
        paths[n] = paths[tree.Parent(n)] + "/" + tree.Text(n);
        out.folders[paths[n]] = results.FolderOfItem(n);
    }
    auto list = [&](const std::string& folderPath, std::uint32_t cluster) {
        FatFolderWalkOptions options;
        options.followContinuation = true;
        options.isIndexedFolder = [&results](std::uint32_t c) { return results.IsIndexedFolderCluster(c); };
        options.onFile = [&](const FatFileEntry& f) { out.files[folderPath + "/" + f.name].push_back(f); };
        WalkFatFolderEntries(*out.device, out.volume, cluster, options);
    };
    list("", 0);
    for (auto& [path, rec] : out.folders)
        if (rec)
            list(path, rec->selfId);
}

// A deleted entry without a long name lost its first character to the 0xE5 mark.
std::string DeletedShortForm(const std::string& path)
{
    auto slash = path.rfind('/');
    std::string p = path;
    p[slash + 1] = '_';
    return p;
}

void ExpectManifestFound(const std::string& image, const std::vector<test::ManifestEntry>& manifest,
                         const ScannedVolume& scanned, int minFolders = 5, int minFiles = 10)
{
    ASSERT_FALSE(manifest.empty());
    int folders = 0, files = 0;
    for (const auto& m : manifest) {
        if (m.IsDir()) {
            ++folders;
            auto it = scanned.folders.find(m.path);
            if (it == scanned.folders.end())
                it = scanned.folders.find(DeletedShortForm(m.path));
            ASSERT_NE(it, scanned.folders.end()) << image << ": folder " << m.path;
            EXPECT_EQ(it->second->deleted != 0, m.IsDeleted()) << image << ": folder " << m.path;
        } else {
            ++files;
            bool found = scanned.files.count(m.path) ||
                         (m.IsDeleted() && scanned.files.count(DeletedShortForm(m.path)));
            EXPECT_TRUE(found) << image << ": file " << m.path;
            if (!found)
                continue;
            const auto& entries = scanned.files.count(m.path) ? scanned.files.at(m.path)
                                                              : scanned.files.at(DeletedShortForm(m.path));
            bool sizeMatch = false, deletedMatch = false;
            for (const auto& e : entries) {
                sizeMatch = sizeMatch || e.size == m.size;
                deletedMatch = deletedMatch || e.deleted == m.IsDeleted();
            }
            EXPECT_TRUE(sizeMatch) << image << ": size of " << m.path;
            EXPECT_TRUE(deletedMatch) << image << ": deleted mark of " << m.path;
        }
    }
    EXPECT_GT(folders, minFolders);
    EXPECT_GT(files, minFiles);
}

void ExpectManifestFound(const std::string& image, const ScannedVolume& scanned)
{
    ExpectManifestFound(image, test::LoadManifest(image), scanned);
}

std::string ReadImage(const std::string& image);

class BasicFatScan : public ::testing::TestWithParam<std::string> {};

TEST_P(BasicFatScan, FindsEveryFolderAndFileOfTheManifest)
{
    const std::string image = GetParam();
    auto geometry = test::LoadGeometry(image);
    DevicePtr device = OpenFileDevice(test::FixtureImage(image).string());
    ASSERT_TRUE(device) << image;
    ScanResults results;
    ScannedVolume scanned;
    ScanAndOpenAll(results, PartitionOf(device, geometry.at("fs")), scanned);
    ASSERT_FALSE(scanned.geometryFailed);
    ExpectManifestFound(image, scanned);
    // Every folder found has its place: nothing of a healthy volume is lost.
    for (const auto& [path, rec] : scanned.folders)
        EXPECT_NE(path.rfind("/KZU_Miscellaneous/", 0), 0u) << "lost folder " << path;
}

TEST_P(BasicFatScan, ZeroedBootSectorIsScannedThroughTheRecalculation)
{
    const std::string image = GetParam();
    auto geometry = test::LoadGeometry(image);
    std::string bytes = ReadImage(image);
    ASSERT_GT(bytes.size(), 8192u);
    // The boot sector and the FAT32 backup are gone.
    std::fill(bytes.begin(), bytes.begin() + 512, '\0');
    std::fill(bytes.begin() + 6 * 512, bytes.begin() + 7 * 512, '\0');
    DevicePtr device = MakeMemoryDevice(image + "-zeroed", bytes);
    ScanResults results;
    ScannedVolume scanned;
    ScanAndOpenAll(results, PartitionOf(device, geometry.at("fs")), scanned);
    ASSERT_FALSE(scanned.geometryFailed);
    EXPECT_EQ(scanned.volume.sectorsPerCluster, *test::GeometryNumber(geometry, "sectors_per_cluster"));
    EXPECT_EQ(scanned.volume.fatStart, *test::GeometryNumber(geometry, "first_fat_sector"));
    ExpectManifestFound(image, scanned);
}

// ---- corrupt volumes: every scan ends, with what could be found -------------

std::string ReadImage(const std::string& image)
{
    std::ifstream in(test::FixtureImage(image), std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void Put32(std::string& b, std::size_t off, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Put16(std::string& b, std::size_t off, std::uint16_t v)
{
    b[off] = static_cast<char>(v & 0xFF);
    b[off + 1] = static_cast<char>(v >> 8);
}

struct Fat32Layout {
    std::size_t fat1, fat2, data;   // byte offsets
    std::size_t Cell(std::size_t fat, std::uint32_t c) const { return fat + c * 4; }
    std::size_t Cluster(std::uint32_t c) const { return data + (c - 2) * 512; }   // 1 sector per cluster
};

Fat32Layout LayoutOfFat32()
{
    auto g = test::LoadGeometry("fat32.img");
    Fat32Layout l;
    l.fat1 = *test::GeometryNumber(g, "first_fat_sector") * 512;
    l.fat2 = l.fat1 + *test::GeometryNumber(g, "fat_size") * 512;
    l.data = *test::GeometryNumber(g, "first_data_sector") * 512;
    return l;
}

ScannedVolume ScanBytes(ScanResults& results, const std::string& bytes, const std::string& fs,
                        std::uint64_t endSector = 0)
{
    ScannedVolume scanned;
    DevicePtr device = MakeMemoryDevice("corrupt", bytes);
    ScanAndOpenAll(results, PartitionOf(device, fs, 0, endSector), scanned);
    return scanned;
}

TEST(BasicFatScanCorrupt, LoopingChainsEnd)
{
    std::string b = ReadImage("fat32.img");
    Fat32Layout l = LayoutOfFat32();
    // The root directory's chain points back at itself, /Documents (3 -> 18)
    // loops back to its start, and /Large/big-pattern.bin's chain loops too.
    for (std::size_t fat : {l.fat1, l.fat2}) {
        Put32(b, l.Cell(fat, 2), 2);
        Put32(b, l.Cell(fat, 18), 3);
    }
    ScanResults results;
    ScannedVolume s = ScanBytes(results, b, "FAT32");
    EXPECT_TRUE(s.folders.count("/Documents"));
    EXPECT_TRUE(s.folders.count("/Documents/Projekte/2024/Q3 Planung"));
    EXPECT_TRUE(s.files.count("/Documents/Notes.txt"));
    // Each file of /Documents is listed once, the loop adds no repeats.
    EXPECT_EQ(s.files["/Documents/Notes.txt"].size(), 1u);
}

TEST(BasicFatScanCorrupt, DirectoryThatIsItsOwnParentOrItsOwnNextCluster)
{
    std::string b = ReadImage("fat32.img");
    Fat32Layout l = LayoutOfFat32();
    // /Sizes: ".." names the folder itself, and its FAT cell too.
    std::size_t entry = b.find("SIZES      \x10", l.Cluster(2));
    ASSERT_NE(entry, std::string::npos);
    std::uint32_t cluster = static_cast<unsigned char>(b[entry + 26]) | (static_cast<unsigned char>(b[entry + 27]) << 8);
    std::size_t sizes = l.Cluster(cluster);
    ASSERT_EQ(b.substr(sizes, 2), ". ");
    Put16(b, sizes + 32 + 26, static_cast<std::uint16_t>(cluster));
    Put16(b, sizes + 32 + 20, 0);
    for (std::size_t fat : {l.fat1, l.fat2})
        Put32(b, l.Cell(fat, cluster), cluster);
    ScanResults results;
    ScannedVolume s = ScanBytes(results, b, "FAT32");
    // The root entry still names it; with no parent it waits under the miscellaneous folder.
    bool found = false;
    for (auto& [path, rec] : s.folders)
        found = found || (rec && rec->selfId == cluster);
    EXPECT_TRUE(found);
    EXPECT_TRUE(s.files.count("/Sizes/size-4096.bin") || s.files.count("/KZU_Miscellaneous/Sizes/size-4096.bin"));
}

TEST(BasicFatScanCorrupt, OutOfRangeClustersInEntries)
{
    std::string b = ReadImage("fat32.img");
    Fat32Layout l = LayoutOfFat32();
    std::size_t root = l.Cluster(2);
    // Every root entry's first cluster, and the ".." of /Documents, point far
    // beyond the volume (and beyond any FAT).
    for (int i = 0; i < 16; ++i) {
        std::size_t e = root + i * 32;
        if (static_cast<unsigned char>(b[e + 11]) == 0x0F || b[e] == 0)
            continue;
        Put16(b, e + 20, 0x0FF0);
        Put16(b, e + 26, 0x1234);
    }
    Put16(b, l.Cluster(3) + 32 + 20, 0xFFFF);
    Put16(b, l.Cluster(3) + 32 + 26, 0xFFF0);
    ScanResults results;
    ScannedVolume s = ScanBytes(results, b, "FAT32");
    // The folders are still found by their "." entries, lost but present.
    bool projekte = false;
    for (auto& [path, rec] : s.folders)
        projekte = projekte || path.find("/Projekte") != std::string::npos;
    EXPECT_TRUE(projekte);
    EXPECT_GT(s.folders.size(), 5u);
}

TEST(BasicFatScanCorrupt, TruncatedImageEndsWithWhatWasRead)
{
    std::string b = ReadImage("fat32.img");
    // Cut in the middle of a sector, about 30 % into the data; the partition
    // still claims the full size.
    std::uint64_t fullSectors = b.size() / 512;
    b.resize(b.size() * 3 / 10 + 123);
    ScanResults results;
    ScannedVolume s = ScanBytes(results, b, "FAT32", fullSectors);
    EXPECT_TRUE(s.folders.count("/Documents"));
    EXPECT_TRUE(s.files.count("/Documents/Notes.txt"));
    // Nothing beyond the end was made up.
    for (auto& [path, rec] : s.folders) {
        if (rec && rec->selfId != kMiscFolderId) {
            EXPECT_LT(s.volume.ClusterSector(rec->selfId) * 512, b.size()) << path;
        }
    }
}

TEST(BasicFatScanCorrupt, NoDirectoriesAtAllGivesTheMessageAndAnEmptyRoot)
{
    std::string b(4 * 1024 * 1024, '\0');
    ScanResults results;
    DevicePtr device = MakeMemoryDevice("blank", b);
    BasicScanJob job(results, PartitionOf(device, "FAT32"));
    ASSERT_TRUE(job.RunHere());
    EXPECT_TRUE(job.GeometryFailed());
    EXPECT_EQ(job.EndNoticeState(), 1);
    EXPECT_EQ(results.Tree().Text(results.Tree().RootItem()), "Root");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BasicFatScan, ::testing::Values("fat16.img", "fat32.img"),
                         [](const auto& info) { return info.param.substr(0, 5); });

// A fresh volume whose third folder sits at cluster 5: its sub-folder and
// files stay under it (cluster 5 is no root on FAT).
TEST(BasicFatScanCluster5, FolderAtClusterFiveIsAnOrdinaryFolder)
{
    DevicePtr device = OpenFileDevice(test::FixtureImage("fat32-cluster5.img").string());
    ASSERT_TRUE(device);
    ScanResults results;
    ScannedVolume scanned;
    ScanAndOpenAll(results, PartitionOf(device, "FAT32"), scanned);
    ASSERT_TRUE(scanned.folders.count("/c"));
    EXPECT_EQ(scanned.folders["/c"]->selfId, 5u);
    ASSERT_TRUE(scanned.folders.count("/c/d"));
    EXPECT_EQ(scanned.folders["/c/d"]->parentId, 5u);
    ExpectManifestFound("fat32-cluster5.img", test::LoadManifest("fat32-cluster5.img"), scanned, 3, 3);
}

// The FAT partitions of the fixture disks, at their place on the disk.
struct DiskPartition {
    std::string image;
    int partition;
};

class BasicFatScanOnDisk : public ::testing::TestWithParam<DiskPartition> {};

TEST_P(BasicFatScanOnDisk, FindsTheManifestOfThePartition)
{
    const auto [image, n] = GetParam();
    auto geometry = test::LoadGeometry(image);
    const std::string key = "p" + std::to_string(n) + ".";
    DevicePtr device = OpenFileDevice(test::FixtureImage(image).string());
    ASSERT_TRUE(device);
    ScanResults results;
    ScannedVolume scanned;
    ScanAndOpenAll(results,
                   PartitionOf(device, geometry.at(key + "fs"), *test::GeometryNumber(geometry, key + "start"),
                               *test::GeometryNumber(geometry, key + "end")),
                   scanned);
    ASSERT_FALSE(scanned.geometryFailed);
    ExpectManifestFound(image + " " + key, test::ManifestOfPartition(test::LoadManifest(image), n), scanned);
    for (const auto& [path, rec] : scanned.folders)
        EXPECT_NE(path.rfind("/KZU_Miscellaneous/", 0), 0u) << "lost folder " << path;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BasicFatScanOnDisk,
                         ::testing::Values(DiskPartition{"mbr.img", 1}, DiskPartition{"mbr.img", 5},
                                           DiskPartition{"gpt.img", 2}),
                         [](const auto& info) {
                             return info.param.image.substr(0, 3) + "_p" + std::to_string(info.param.partition);
                         });

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// The public broken FAT32 images (fatcat's documentation cases) beside the
// project: each one is scanned, opened and listed to the end without a
// crash, a hang or a read outside the image.
std::filesystem::path CorporaFolder()
{
    for (std::filesystem::path p : {std::filesystem::path(TORVANE_SOURCE_DIR) / ".." / "shared" / "corpora",
                                    std::filesystem::path("/work/shared/corpora")})
        if (std::filesystem::exists(p / "fatcat"))
            return p;
    return {};
}

std::string Gunzip(const std::filesystem::path& file)
{
    std::string cmd = "gzip -dc '" + file.string() + "'";
    std::string out;
    if (FILE* f = ::popen(cmd.c_str(), "r")) {
        char buf[1 << 16];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        ::pclose(f);
    }
    return out;
}

class BrokenFat32Corpus : public ::testing::TestWithParam<std::string> {};

TEST_P(BrokenFat32Corpus, ScansListsAndEnds)
{
    std::filesystem::path folder = CorporaFolder();
    if (folder.empty())
        GTEST_SKIP() << "shared/corpora not found";
    std::string bytes = Gunzip(folder / "fatcat" / (GetParam() + ".img.gz"));
    if (bytes.empty())
        GTEST_SKIP() << "gzip not available";
    ScanResults results;
    ScannedVolume scanned;
    DevicePtr device = MakeMemoryDevice(GetParam(), bytes);
    ScanAndOpenAll(results, PartitionOf(device, "FAT32"), scanned);
    // "full-fat" has a FAT of nothing but FF bytes, which no boot-sector
    // check accepts, and too few folders to derive the geometry from: the
    // scan says so and ends with an empty "Root".
    EXPECT_EQ(scanned.geometryFailed, GetParam() == "full-fat");
    if (GetParam() == "hello-world" || GetParam() == "deleted") {
        std::size_t files = 0;
        for (const auto& [path, entries] : scanned.files)
            files += entries.size();
        EXPECT_GT(files, 0u);
    }
    // "directory-loop" holds folders A/B/C (C naming A again) and, besides
    // them, only the volume label, which is no file.
    if (GetParam() == "directory-loop") {
        EXPECT_TRUE(scanned.files.empty());
        EXPECT_TRUE(scanned.folders.count("/A")) << scanned.folders.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Fatcat, BrokenFat32Corpus,
                         ::testing::Values("deleted", "directory-loop", "empty", "full-fat", "hello-world",
                                           "infinite-file", "repair", "two-file-same-cluster"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-')
                                     c = '_';
                             return n;
                         });

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

std::map<std::string, std::uint32_t> FolderIds(ScanResults& results)
{
    std::map<std::string, std::uint32_t> out;
    TreeModel& t = results.Tree();
    std::map<TreeNodeId, std::string> path;
    for (TreeNodeId n = t.NextPreOrder(kNoTreeNode); n != kNoTreeNode; n = t.NextPreOrder(n)) {
        path[n] = path[t.Parent(n)] + "/" + t.Text(n);
        if (auto* rec = results.FolderOfItem(n))
            out[path[n]] = rec->selfId;
    }
    return out;
}

// The interim tree is built on the sweep's own thread between blocks: with it
// running after every block, the final tree is the same as without it.
TEST(BasicFatScanJob, InterimTreeDuringTheSweepChangesNothingInTheEnd)
{
    DevicePtr device = OpenFileDevice(test::FixtureImage("fat32.img").string());
    ASSERT_TRUE(device);
    ScanResults plain, interim;
    {
        BasicScanJob job(plain, PartitionOf(device, "FAT32"));
        job.SetInterimInterval(std::chrono::milliseconds(0));
        ASSERT_TRUE(job.RunHere());
    }
    {
        BasicScanJob job(interim, PartitionOf(device, "FAT32"));
        job.SetInterimInterval(std::chrono::milliseconds(1));
        ASSERT_TRUE(job.RunHere());
    }
    auto a = FolderIds(plain), b = FolderIds(interim);
    // Folders placed early keep their sweep names ("DIR<n>") until their
    // parent is opened, so compare the sets of ids under each parent path depth.
    std::multiset<std::uint32_t> idsA, idsB;
    for (auto& [p, id] : a)
        idsA.insert(id);
    for (auto& [p, id] : b)
        idsB.insert(id);
    EXPECT_EQ(idsA, idsB);
    EXPECT_EQ(plain.FolderCount(), interim.FolderCount());
}

// Stop during the sweep: what was found so far is arranged as at a normal end.
TEST(BasicFatScanJob, StopDuringTheSweepKeepsWhatWasFound)
{
    DevicePtr device = OpenFileDevice(test::FixtureImage("fat32.img").string());
    ASSERT_TRUE(device);
    struct StopSink : ScanSink {
        BasicScanJob* job = nullptr;
        std::uint64_t stopAt = 0;
        std::vector<std::string> steps;
        void Progress(std::uint64_t pos) override
        {
            if (job && stopAt && pos >= stopAt)
                job->Stop();
        }
        void StepText(const std::string& t) override { steps.push_back(t); }
    } sink;
    ScanResults results;
    auto g = test::LoadGeometry("fat32.img");
    BasicScanJob job(results, PartitionOf(device, "FAT32"), &sink);
    sink.job = &job;
    sink.stopAt = *test::GeometryNumber(g, "first_data_sector") + 2048;   // a few blocks in
    job.SetInterimInterval(std::chrono::milliseconds(0));
    ASSERT_TRUE(job.Start());
    job.Wait();
    EXPECT_TRUE(job.StopRequested());
    auto ids = FolderIds(results);
    EXPECT_TRUE(ids.count("/Root/Documents"));
    EXPECT_TRUE(ids.count("/Root/KZU_Miscellaneous"));
    // Folders beyond the stop point were never read.
    EXPECT_LT(results.FolderCount(), 20u);
    // The steps ran once, in order.
    std::vector<std::string> expected = {kStep1Of5Text, kStep2Of5Text, kStep3Of5Text, kStep4Of5Text, kStep5Of5Text};
    std::vector<std::string> seen;
    for (auto& s : sink.steps)
        if (s.rfind("[ Step", 0) == 0)
            seen.push_back(s);
    EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace torvane
