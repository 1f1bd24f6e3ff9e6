// The Basic road on damaged copies of the fixture volumes: each fault put in
// with a byte patch (a zeroed FAT or FILE record, a folder sector that cannot
// be read, a name that is gone, a cluster number out of range), then a scan
// and a save of everything through a search session. Every file ends at its
// place or in the save's report with its reason, and every folder sector the
// scan could not read is told at the end of the scan.
#include "exfat/exfat_test_support.h"

#include "fsrecovery/exfat/exfat_file_writer.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/search_session.h"
#include "support/device_doubles.h"
#include "support/session_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>

namespace torvane {
namespace {

namespace fs = std::filesystem;

CurrentPartition VolumeOn(DevicePtr device, const std::string& fsType)
{
    CurrentPartition p;
    p.Descriptor.FsType = fsType;
    p.Descriptor.StartSector = 0;
    p.Descriptor.EndSector = device->SizeBytes() / 512;
    p.Descriptor.EndByte = device->SizeBytes();
    p.Descriptor.ModeText = "Basic Search";
    p.RecoveryMode = 1;
    p.Device = std::move(device);
    return p;
}

// A scan and a save of everything of one (damaged) volume.
struct Saved {
    std::unique_ptr<SearchSession> session = std::make_unique<SearchSession>(1);
    test::TempDir dir;
    test::SavedEverything saved;
    std::map<std::string, std::string> files;   // HashFolder of what was written

    fs::path Out() const { return dir.path() / "out"; }
    SaveReport& Report() const { return *saved.report; }
    // The problem reported for a path ending in `tail`, or null.
    const SaveProblem* ProblemOf(const std::string& tail) const
    {
        static thread_local std::vector<SaveProblem> problems;
        problems = saved.report->Problems();
        for (const SaveProblem& p : problems)
            if (p.path.size() >= tail.size() && p.path.compare(p.path.size() - tail.size(), tail.size(), tail) == 0)
                return &p;
        return nullptr;
    }
};

std::unique_ptr<Saved> ScanAndSave(DevicePtr device, const std::string& fsType)
{
    auto s = std::make_unique<Saved>();
    s->saved = test::ScanAndSaveEverything(*s->session, VolumeOn(std::move(device), fsType), s->Out());
    if (s->saved.ran)
        s->files = test::HashFolder(s->Out());
    return s;
}

std::unique_ptr<Saved> ScanAndSave(std::string image, const std::string& fsType)
{
    return ScanAndSave(MakeMemoryDevice("damaged", std::move(image)), fsType);
}

// The folder record of a tree path below "Root" ("/Documents/Projekte"), or null.
const RecoveredFolder* FolderAt(ScanResults& results, const std::string& path)
{
    auto lock = results.Lock();
    const TreeModel& tree = results.Tree();
    TreeNodeId node = tree.RootItem();
    std::size_t at = 1;
    while (node != kNoTreeNode && at <= path.size()) {
        const std::size_t slash = path.find('/', at);
        const std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        node = tree.FindChild(node, part);
        if (slash == std::string::npos)
            break;
        at = slash + 1;
    }
    return node == kNoTreeNode ? nullptr : results.FolderOfItem(node);
}

// True when a folder named `name` lies somewhere below the folder at `path`.
bool HasFolderBelow(ScanResults& results, const std::string& path, const std::string& name)
{
    const RecoveredFolder* top = FolderAt(results, path);
    if (!top)
        return false;
    auto lock = results.Lock();
    const TreeModel& tree = results.Tree();
    for (TreeNodeId n = tree.NextPreOrder(top->treeItem, top->treeItem); n != kNoTreeNode;
         n = tree.NextPreOrder(n, top->treeItem))
        if (tree.Text(n) == name)
            return true;
    return false;
}

std::string ManifestSha(const std::string& image, const std::string& path)
{
    for (const auto& m : test::LoadManifest(image))
        if (m.path == path)
            return m.sha256;
    return {};
}

std::string Utf16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// The byte offset of the FILE record whose $FILE_NAME is `name` (ASCII), or
// npos; `nameAt` gets the offset of the name's first character.
std::size_t FindNtfsRecord(const std::string& image, const std::string& name, std::size_t* nameAt = nullptr)
{
    const std::string pattern = Utf16(name);
    const ByteView bytes(reinterpret_cast<const std::uint8_t*>(image.data()), image.size());
    for (std::size_t record = 0; record + 1024 <= image.size(); record += 1024) {
        if (image.compare(record, 4, "FILE") != 0)
            continue;
        const ByteView r = bytes.Sub(record, 1024);
        for (std::size_t at = r.U16(20); at + 24 <= 1024;) {
            const std::uint32_t type = r.U32(at), length = r.U32(at + 4);
            if (type == 0xFFFFFFFFu || length < 24 || at + length > 1024)
                break;
            const std::size_t value = at + r.U16(at + 20);
            if (type == 0x30 && r.U8(at + 8) == 0 && r.U8(value + 64) == name.size() &&
                image.compare(record + value + 66, pattern.size(), pattern) == 0) {
                if (nameAt)
                    *nameAt = record + value + 66;
                return record;
            }
            at += length;
        }
    }
    return std::string::npos;
}

std::uint64_t Number(const std::string& image, const std::string& key)
{
    return test::GeometryNumber(test::LoadGeometry(image), key).value_or(0);
}

class DamagedMedia : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* image : {"fat16.img", "fat32.img", "exfat.img", "ntfs.img"})
            if (!fs::exists(test::FixtureImage(image)))
                GTEST_SKIP() << image << " not unpacked";
    }
    static std::string Bytes(const std::string& image) { return test::ReadWholeFile(test::FixtureImage(image)); }
};

// ---- NTFS: the files of a folder whose FILE record is gone -----------------------------------

// The record of /Sizes zeroed: its files' own records are intact. They are
// listed and saved under "KZU_Miscellaneous", as its sub-folders would be.
TEST_F(DamagedMedia, NtfsFilesOfAFolderWhoseRecordIsGoneGoUnderMiscellaneous)
{
    std::string image = Bytes("ntfs.img");
    const std::size_t sizes = FindNtfsRecord(image, "Sizes");
    ASSERT_NE(sizes, std::string::npos);
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(sizes), image.begin() + static_cast<std::ptrdiff_t>(sizes) + 1024,
              '\0');
    auto s = ScanAndSave(image, "NTFS");
    ASSERT_TRUE(s->saved.ran);
    EXPECT_EQ(FolderAt(s->session->Results(), "/Sizes"), nullptr);
    for (const char* file : {"size-0.bin", "size-1.bin", "size-511.bin", "size-512.bin", "size-4096.bin"}) {
        EXPECT_EQ(s->files[std::string("KZU_Miscellaneous/") + file], ManifestSha("ntfs.img", std::string("/Sizes/") + file))
            << file;
    }
    // Listed there too, and the other folders keep their own files.
    const RecoveredFolder* misc = FolderAt(s->session->Results(), "/KZU_Miscellaneous");
    ASSERT_NE(misc, nullptr);
    ASSERT_TRUE(s->session->RunListingHere(misc->treeItem));
    std::set<std::string> listed;
    for (int r = 0; r < s->session->FileRows().RowCount(); ++r)
        listed.insert(s->session->FileRows().Cell(r, kListName));
    EXPECT_TRUE(listed.count("size-4096.bin"));
    EXPECT_TRUE(listed.count("deleted-4096.bin"));
    EXPECT_EQ(s->files["Documents/Notes.txt"], ManifestSha("ntfs.img", "/Documents/Notes.txt"));
}

// ---- names that are gone ----------------------------------------------------------------------

// An NTFS file whose $FILE_NAME holds nothing usable, an exFAT file whose
// name entries say nothing: each is listed and saved under a name made from
// its record or entry number, with its own bytes.
TEST_F(DamagedMedia, FilesWithoutANameGetOneFromTheirRecord)
{
    {
        std::string image = Bytes("ntfs.img");
        std::size_t nameAt = 0;
        const std::size_t notes = FindNtfsRecord(image, "Notes.txt", &nameAt);
        ASSERT_NE(notes, std::string::npos);
        for (std::size_t i = 0; i < 9; ++i)
            image[nameAt + 2 * i] = '\x01';   // control characters only: nothing is left of the name
        auto s = ScanAndSave(image, "NTFS");
        ASSERT_TRUE(s->saved.ran);
        const std::uint64_t mftStart = Number("ntfs.img", "mft_lcn") * Number("ntfs.img", "cluster_size");
        const std::string name = NtfsUnnamedFileName((notes - mftStart) / 1024);
        EXPECT_EQ(s->files["Documents/" + name], ManifestSha("ntfs.img", "/Documents/Notes.txt")) << name;

    }
    {
        std::string image = Bytes("exfat.img");
        const std::size_t set = test::FindFileEntry(image, "Notes.txt");
        ASSERT_NE(set, std::string::npos);
        image[set + 32 + 3] = 0;   // the stream's NameLength, and the name's characters
        std::fill(image.begin() + static_cast<std::ptrdiff_t>(set + 64 + 2),
                  image.begin() + static_cast<std::ptrdiff_t>(set + 96), '\0');
        test::FixSetChecksum(image, set);
        auto s = ScanAndSave(image, "exFAT");
        ASSERT_TRUE(s->saved.ran);
        EXPECT_EQ(s->files["Documents/" + ExfatUnnamedFileName(set)], ManifestSha("exfat.img", "/Documents/Notes.txt"));

    }
}

// ---- exFAT: a live file whose first cluster lies outside the volume -----------------------

TEST_F(DamagedMedia, ExfatFileWithItsFirstClusterOutsideIsReportedIncomplete)
{
    std::string image = Bytes("exfat.img");
    const std::size_t set = test::FindFileEntry(image, "Notes.txt");
    ASSERT_NE(set, std::string::npos);
    test::PutU32(image, set + 32 + 20, 0x7FFFFFF0u);
    test::FixSetChecksum(image, set);
    auto s = ScanAndSave(image, "exFAT");
    ASSERT_TRUE(s->saved.ran);
    EXPECT_TRUE(s->files.count("Documents/Notes.txt"));
    const SaveProblem* p = s->ProblemOf("Documents/Notes.txt");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->outcome, FileOutcome::Incomplete);
    EXPECT_NE(p->detail.find(kFirstClusterOutsideText), std::string::npos) << p->detail;
}

// ---- FAT: folder chains when the first FAT is zeroed -------------------------------------

// Folders longer than one cluster keep every file and name: their chains are
// read from the second FAT. The save is the one of the intact volume.
TEST_F(DamagedMedia, FatFolderChainsComeFromTheSecondFatWhenTheFirstIsZeroed)
{
    for (const auto& [name, fsType] : {std::pair{"fat32.img", "FAT32"}, std::pair{"fat16.img", "FAT16"}}) {
        SCOPED_TRACE(name);
        std::string image = Bytes(name);
        const std::uint64_t first = Number(name, "first_fat_sector") * 512;
        const std::uint64_t size = Number(name, "fat_size") * 512;
        ASSERT_GT(size, 0u);
        auto intact = ScanAndSave(image, fsType);
        std::fill(image.begin() + static_cast<std::ptrdiff_t>(first),
                  image.begin() + static_cast<std::ptrdiff_t>(first + size), '\0');
        auto zeroed = ScanAndSave(image, fsType);
        ASSERT_TRUE(intact->saved.ran);
        ASSERT_TRUE(zeroed->saved.ran);
        EXPECT_GT(intact->files.size(), 40u);
        EXPECT_EQ(zeroed->files, intact->files);
    }
}

// ---- unreadable folder sectors -------------------------------------------------------------

// The first sector of a FAT folder cannot be read: the folder stays at its
// place (its own entry in its parent can be read), its sub-folders under it
// (the names its lost sector held are lost too), and the end of the scan
// says which folder lost how many sectors.
TEST_F(DamagedMedia, AnUnreadableFatFolderSectorIsReportedAndTheFolderStays)
{
    const std::string image = Bytes("fat32.img");
    auto intact = ScanAndSave(image, "FAT32");
    ASSERT_TRUE(intact->saved.ran);
    const VolumeGeometry& g = intact->session->Partition().Geometry;
    struct Case {
        const char* folder;     // its first sector fails
        const char* reported;   // as the report names it
        const char* below;      // a folder that must stay below it
    };
    for (const Case c : {Case{"/Documents/Projekte", "Documents/Projekte", "Q3 Planung"},
                         Case{"/Fotos Sommer 2024", "/Fotos Sommer 2024", "Abend"}}) {
        SCOPED_TRACE(c.folder);
        const RecoveredFolder* folder = FolderAt(intact->session->Results(), c.folder);
        ASSERT_NE(folder, nullptr);
        auto faulty = std::make_shared<test::FaultyDevice>(MakeMemoryDevice("fat32", image));
        faulty->FailSectors(g.Cluster0Start + std::uint64_t{folder->selfId} * g.SectorsPerCluster, 1);
        auto s = ScanAndSave(faulty, "FAT32");
        ASSERT_TRUE(s->saved.ran);
        EXPECT_NE(FolderAt(s->session->Results(), c.folder), nullptr);
        EXPECT_TRUE(HasFolderBelow(s->session->Results(), c.folder, c.below));
        const auto unreadable = s->session->UnreadableFolders();
        ASSERT_EQ(unreadable.size(), 1u);
        EXPECT_EQ(unreadable[0].folder, c.reported);
        EXPECT_EQ(unreadable[0].sectors, 1u);
        EXPECT_NE(s->session->UnreadableFoldersText().find(c.reported), std::string::npos);
    }
}

// exFAT: a sector in the middle of a folder cannot be read. The files whose
// entries it held are lost (and the scan says so); the walk goes on behind
// it, so the files after it are still found.
TEST_F(DamagedMedia, AnUnreadableExfatFolderSectorLosesOnlyItsOwnEntries)
{
    const std::string image = Bytes("exfat.img");
    const std::size_t first = test::FindFileEntry(image, "Datei 001.txt");
    ASSERT_NE(first, std::string::npos);
    const std::uint64_t bad = first / 512 + 1;   // the folder's second sector
    auto faulty = std::make_shared<test::FaultyDevice>(MakeMemoryDevice("exfat", image));
    faulty->FailSectors(bad, 1);
    auto s = ScanAndSave(faulty, "exFAT");
    ASSERT_TRUE(s->saved.ran);
    std::size_t found = 0;
    for (const auto& [path, sha] : s->files)
        found += path.rfind("Viele Dateien/", 0) == 0 ? 1 : 0;
    EXPECT_GT(found, 50u);
    EXPECT_LT(found, 60u);
    EXPECT_TRUE(s->files.count("Viele Dateien/Datei 060.txt"));
    const auto unreadable = s->session->UnreadableFolders();
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].folder, "/Viele Dateien");
    EXPECT_EQ(unreadable[0].sectors, 1u);
}

// exFAT: folders whose clusters follow one another on the volume are read
// together. A sector that cannot be read among them loses only the entries
// it held and is told of its own folder; the files of the other folders are
// all found. The volume: a root at cluster 4 naming folders A, B and C at
// clusters 5, 6 and 7, each holding three files.
std::string SmallExfatVolume(ExfatVolume& v)
{
    constexpr std::uint32_t kCluster = 4096;
    v.volumeByte = 0;
    v.fatByte = 8 * 512;
    v.heapByte = 64 * 512;
    v.clusterBytes = kCluster;
    v.clusterCount = 16;
    v.fatCells = 18;
    v.rootCluster = 4;
    v.endByte = v.heapByte + std::uint64_t{v.clusterCount} * kCluster;
    std::string image(static_cast<std::size_t>(v.endByte), '\0');
    test::PutU32(image, v.fatByte, 0xFFFFFFF8u);
    test::PutU32(image, v.fatByte + 4, 0xFFFFFFFFu);
    test::PutU32(image, v.fatByte + 4 * 4, 0xFFFFFFFFu);   // the root: one cluster
    auto addSet = [&](std::uint64_t at, const std::string& name, bool folder, std::uint32_t first) {
        image[at] = static_cast<char>(0x85);
        image[at + 1] = 2;
        test::PutU16(image, at + 4, folder ? 0x10 : 0x20);
        image[at + 32] = static_cast<char>(0xC0);
        image[at + 33] = 0x03;
        image[at + 35] = static_cast<char>(name.size());
        test::PutU64(image, at + 40, folder ? kCluster : 100);
        test::PutU32(image, at + 52, first);
        test::PutU64(image, at + 56, folder ? kCluster : 100);
        image[at + 64] = static_cast<char>(0xC1);
        for (std::size_t i = 0; i < name.size(); ++i)
            test::PutU16(image, at + 66 + 2 * i, static_cast<std::uint8_t>(name[i]));
        test::FixSetChecksum(image, at);
    };
    const char* folders[] = {"A", "B", "C"};
    for (std::uint32_t f = 0; f < 3; ++f) {
        addSet(v.ClusterByte(4) + 96 * f, folders[f], true, 5 + f);
        for (std::uint32_t k = 0; k < 3; ++k)
            addSet(v.ClusterByte(5 + f) + 96 * k, std::string(folders[f]) + std::to_string(k) + ".txt", false,
                   8 + 3 * f + k);
    }
    return image;
}

TEST(DamagedExfatFolders, AnUnreadableSectorAmongFoldersReadTogetherIsToldOfItsOwnFolder)
{
    ExfatVolume v;
    const std::string image = SmallExfatVolume(v);
    struct Case {
        std::uint32_t cluster;   // the first sector of this cluster fails
        const char* told;        // the folder told of ("" for none)
        std::set<std::string> files;
    };
    const std::set<std::string> all = {"A0.txt", "A1.txt", "A2.txt", "B0.txt", "B1.txt",
                                       "B2.txt", "C0.txt", "C1.txt", "C2.txt"};
    for (const Case& c : {Case{0, "", all},
                          Case{6, "/B", {"A0.txt", "A1.txt", "A2.txt", "C0.txt", "C1.txt", "C2.txt"}},
                          Case{7, "/C", {"A0.txt", "A1.txt", "A2.txt", "B0.txt", "B1.txt", "B2.txt"}}}) {
        SCOPED_TRACE(c.cluster);
        auto faulty = std::make_shared<test::FaultyDevice>(MakeMemoryDevice("exfat", image));
        if (c.cluster != 0)
            faulty->FailSectors(v.ClusterByte(c.cluster) / 512, 1);
        ExfatVolume on = v;
        on.device = faulty.get();
        ScanResults results;
        std::vector<UnreadableFolderSectors> told;
        ExfatScanControl control;
        control.unreadableFolder = [&](const UnreadableFolderSectors& u) { told.push_back(u); };
        ReadExfatVolumeAt(results, on, nullptr, control);
        std::set<std::string> files;
        for (const FoundEntry& e : results.FoundEntries())
            files.insert(e.name);
        EXPECT_EQ(files, c.files);
        if (*c.told == 0) {
            EXPECT_TRUE(told.empty());
        } else {
            ASSERT_EQ(told.size(), 1u);
            EXPECT_EQ(told[0].folder, c.told);
            EXPECT_EQ(told[0].sectors, 1u);
        }
    }
}

// NTFS: sectors of the $MFT that cannot be read are told (their records,
// files and folders alike, are missing).
TEST_F(DamagedMedia, UnreadableMftSectorsAreReported)
{
    const std::string image = Bytes("ntfs.img");
    const std::size_t sizes = FindNtfsRecord(image, "Sizes");
    ASSERT_NE(sizes, std::string::npos);
    auto faulty = std::make_shared<test::FaultyDevice>(MakeMemoryDevice("ntfs", image));
    faulty->FailSectors(sizes / 512, 2);
    auto s = ScanAndSave(faulty, "NTFS");
    ASSERT_TRUE(s->saved.ran);
    const auto unreadable = s->session->UnreadableFolders();
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].folder, kMftRecordsFolderText);
    EXPECT_EQ(unreadable[0].sectors, 2u);
    // The files of the folder whose record was lost are still saved.
    EXPECT_EQ(s->files["KZU_Miscellaneous/size-512.bin"], ManifestSha("ntfs.img", "/Sizes/size-512.bin"));
}

// ---- volumes the program does not read -------------------------------------------------------

// FAT and NTFS volumes formatted with 4096-byte sectors (by mkfs.fat and
// mkntfs), and a FAT volume beyond the first 2^32 sectors of its disk: the
// scan says so in plain words instead of the message of a geometry that
// could not be found.
TEST(UnreadVolumes, AreRefusedWithTheReason)
{
    struct Case {
        const char* image;
        const char* fs;
        const char* says;
    };
    for (const Case c : {Case{"fat16-4k.img", "FAT16", "4096-byte sectors"}, Case{"fat32-4k.img", "FAT32", "4096-byte sectors"},
                         Case{"ntfs-4k.img", "NTFS", "4096-byte sectors"}}) {
        SCOPED_TRACE(c.image);
        DevicePtr device = OpenFileDevice(test::FixtureImage(c.image).string());
        if (!device)
            GTEST_SKIP() << c.image << " not unpacked";
        SearchSession session(1);
        ASSERT_TRUE(session.RunScanHere(VolumeOn(device, c.fs)));
        EXPECT_TRUE(session.ScanJob()->GeometryFailed());
        EXPECT_NE(session.ScanJob()->GeometryFailureText().find(c.says), std::string::npos)
            << session.ScanJob()->GeometryFailureText();
        EXPECT_NE(session.ScanJob()->GeometryFailureText(), kUnableToCalculateText);
    }
    // The FAT32 fixture volume put at sector 2^32 + 2048 of a disk.
    const std::string fat32 = test::ReadWholeFile(test::FixtureImage("fat32.img"));
    const std::uint64_t start = (std::uint64_t{1} << 32) + 2048;
    auto disk = std::make_shared<test::SparseDevice>((start + fat32.size() / 512) * 512);
    disk->Write(start * 512, fat32.substr(0, 2u << 20));
    CurrentPartition p = VolumeOn(disk, "FAT32");
    p.Descriptor.StartSector = start;
    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(p));
    EXPECT_TRUE(session.ScanJob()->GeometryFailed());
    EXPECT_NE(session.ScanJob()->GeometryFailureText().find("2 TiB"), std::string::npos)
        << session.ScanJob()->GeometryFailureText();
}

// A partition whose extent runs past the device (a damaged table entry, a
// log of another disk) is swept only as far as the device goes.
TEST(UnreadVolumes, NothingPastTheDeviceIsSwept)
{
    DevicePtr device = OpenFileDevice(test::FixtureImage("fat32.img").string());
    if (!device)
        GTEST_SKIP() << "fat32.img not unpacked";
    const std::uint64_t sectors = device->SizeBytes() / 512;
    CurrentPartition p = VolumeOn(device, "FAT32");
    p.Descriptor.EndSector = sectors + (std::uint64_t{1} << 26);   // 32 GiB more than there is
    p.Descriptor.EndByte = p.Descriptor.EndSector * 512;
    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(p));
    EXPECT_EQ(session.Partition().Descriptor.EndSector, sectors);
    EXPECT_EQ(session.Partition().Descriptor.EndByte, sectors * 512);
    EXPECT_LE(session.Results().CurrentScanSector.load(), sectors);
    EXPECT_NE(FolderAt(session.Results(), "/Documents"), nullptr);
}

// ---- the end report --------------------------------------------------------------------------

// On a damaged volume of every file system, every file the save set out to
// write (the count the saving dialog shows) ends either written or in the
// report with its reason: the report's outcomes add up to the files counted,
// and the files on the destination are the written, unreadable and
// incomplete ones.
TEST_F(DamagedMedia, TheEndReportAndTheWrittenFilesAddUpToTheFilesSelected)
{
    struct Case {
        const char* image;
        const char* fs;
        std::function<void(std::string&)> damage;
        std::function<void(test::FaultyDevice&)> faults;
    };
    auto zeroFirstFat = [](const char* name) {
        return [name](std::string& image) {
            const std::uint64_t first = Number(name, "first_fat_sector") * 512;
            std::fill(image.begin() + static_cast<std::ptrdiff_t>(first),
                      image.begin() + static_cast<std::ptrdiff_t>(first + Number(name, "fat_size") * 512), '\0');
        };
    };
    const Case cases[] = {
        {"fat16.img", "FAT16", {}, [](test::FaultyDevice& d) { d.FailSectors(Number("fat16.img", "first_data_sector") + 700, 40); }},
        {"fat32.img", "FAT32", zeroFirstFat("fat32.img"),
         [](test::FaultyDevice& d) { d.FailSectors(Number("fat32.img", "first_data_sector") + 300, 20); }},
        {"exfat.img", "exFAT",
         [](std::string& image) {
             const std::size_t notes = test::FindFileEntry(image, "Notes.txt");
             test::PutU32(image, notes + 32 + 20, 0x7FFFFFF0u);
             test::FixSetChecksum(image, notes);
             const std::size_t pdf = test::FindFileEntry(image, "size-512.bin");
             image[pdf + 32 + 3] = 0;
             std::fill(image.begin() + static_cast<std::ptrdiff_t>(pdf + 64 + 2),
                       image.begin() + static_cast<std::ptrdiff_t>(pdf + 96), '\0');
             test::FixSetChecksum(image, pdf);
         },
         [](test::FaultyDevice& d) { d.FailSectors(4096 + 8 * 40, 8); }},
        {"ntfs.img", "NTFS",
         [](std::string& image) {
             const std::size_t sizes = FindNtfsRecord(image, "Sizes");
             std::fill(image.begin() + static_cast<std::ptrdiff_t>(sizes),
                       image.begin() + static_cast<std::ptrdiff_t>(sizes) + 1024, '\0');
             std::size_t nameAt = 0;
             FindNtfsRecord(image, "Notes.txt", &nameAt);
             for (std::size_t i = 0; i < 9; ++i)
                 image[nameAt + 2 * i] = '\x01';
         },
         [](test::FaultyDevice& d) { d.FailSectors(Number("ntfs.img", "mft_lcn") * 8 + 200, 4); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        std::string image = Bytes(c.image);
        if (c.damage)
            c.damage(image);
        auto faulty = std::make_shared<test::FaultyDevice>(MakeMemoryDevice(c.image, image));
        c.faults(*faulty);

        SearchSession session(1);
        ASSERT_TRUE(session.RunScanHere(VolumeOn(faulty, c.fs)));
        ASSERT_FALSE(session.ScanJob()->GeometryFailed());
        TreeModel& tree = session.Results().Tree();
        tree.SetSubtreeCheck(tree.RootItem(), CheckState::Checked);
        test::TempDir out;
        SaveRequest request = session.TreeSaveRequest();
        request.destination = out.path().string();
        SaveCounters counted;
        CountSelectionJob count(request, counted);
        ASSERT_TRUE(count.RunHere());
        SaveJob save(request);
        ASSERT_TRUE(save.RunHere());
        const SaveReport& report = save.Session().Report();

        EXPECT_GT(counted.totalFiles.load(), 20u);

        EXPECT_EQ(report.Files(), counted.totalFiles.load());
        std::uint64_t onDisk = 0;
        for (const auto& e : fs::recursive_directory_iterator(out.path()))
            onDisk += e.is_regular_file() ? 1 : 0;
        EXPECT_EQ(onDisk, report.Count(FileOutcome::Written) + report.Count(FileOutcome::Unreadable) +
                              report.Count(FileOutcome::Incomplete));
        // Each file not written whole is listed with its reason.
        const auto problems = report.Problems();
        EXPECT_EQ(problems.size(), report.Files() - report.Count(FileOutcome::Written));
        for (const SaveProblem& p : problems)
            EXPECT_FALSE(p.detail.empty()) << p.path;
        // And the damage did cost something that the report shows.
        EXPECT_GT(problems.size(), 0u);
    }
}

}  // namespace
}  // namespace torvane
