// Ordinary files with the attributes, names and dates that cameras and other
// tools write, on a FAT32 volume made by mkfs.fat and mtools at test time:
// the Basic scan's folder listing shows every one and the save gives each
// back byte for byte. Skipped when the tools are not installed.
#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "fsrecovery/fat/fat_folder_listing.h"
#include "results/file_list_population.h"
#include "results/save_walkers.h"
#include "save_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

namespace torvane {
namespace {

namespace fs = std::filesystem;

// Full path of a program in PATH or the sbin folders; empty when absent.
std::string FindTool(const std::string& name)
{
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        std::error_code ec;
        if (end > start && fs::is_regular_file(candidate, ec))
            return candidate.string();
        start = end + 1;
    }
    return {};
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out)
        c = static_cast<char>(gen() & 0xFF);
    return out;
}

struct SourceFile {
    std::string name;         // the name given to mcopy (UTF-8)
    std::string listedName;   // the name the listing shows
    std::string attrib;       // mattrib arguments ("" = none)
    std::string bytes;
    bool future = false;      // modification time in 2031
};

class ToolMadeVolume : public ::testing::Test {
protected:
    void SetUp() override
    {
        mkfs = FindTool("mkfs.fat");
        mcopy = FindTool("mcopy");
        mmd = FindTool("mmd");
        mattrib = FindTool("mattrib");
        if (mkfs.empty() || mcopy.empty() || mmd.empty() || mattrib.empty())
            GTEST_SKIP() << "mkfs.fat and mtools are needed";
    }

    bool Run(const std::string& command)
    {
        const std::string full = "MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null " + command + " >/dev/null 2>&1";
        return std::system(full.c_str()) == 0;
    }

    std::string mkfs, mcopy, mmd, mattrib;
};

TEST_F(ToolMadeVolume, ReadOnlyHiddenBareAndForeignNamedFilesAreListedAndSaved)
{
    const std::vector<SourceFile> files = {
        {"IMG_0001.JPG", "IMG_0001.JPG", "+r", RandomBytes(5000, 1), false},      // a protected photo: 0x21
        {"backup.001", "backup.001", "+h", RandomBytes(3000, 2), false},          // 0x22, digits-only extension
        {"IMG_0002.JPG", "IMG_0002.JPG", "-a", RandomBytes(700, 3), false},       // no attribute bit at all
        // mtools (code page 850) keeps N-tilde as byte 0xA5 of an 8.3 name with no
        // long name; 8.3 bytes are decoded as Windows-1252, so the yen sign.
        {"\xC3\x91" "ANDU.TXT", "\xC2\xA5" "ANDU.TXT", "", RandomBytes(600, 4), false},
        {"\xC3\x91" "and\xC3\xBA.txt", "\xC3\x91" "and\xC3\xBA.txt", "", RandomBytes(900, 5), false},
        {"IMG_0003.JPG", "IMG_0003.JPG", "", RandomBytes(1500, 6), true},         // camera clock ahead
    };
    test::TempDir dir;
    const fs::path image = dir.path() / "volume.img";
    ASSERT_TRUE(Run(Quote(mkfs) + " -C -F 32 -s 1 " + Quote(image.string()) + " 34000"));
    ASSERT_TRUE(Run(Quote(mmd) + " -i " + Quote(image.string()) + " ::/DCIM"));
    int n = 0;
    for (const SourceFile& f : files) {
        const fs::path source = dir.path() / ("source" + std::to_string(n++));
        test::WriteWholeFile(source, f.bytes);
        if (f.future)
            fs::last_write_time(source, fs::file_time_type::clock::now() + std::chrono::hours(24 * 365 * 5));
        ASSERT_TRUE(Run(Quote(mcopy) + " -m -i " + Quote(image.string()) + " " + Quote(source.string()) + " " +
                        Quote("::/DCIM/" + f.name)))
            << f.name;
        if (!f.attrib.empty()) {
            ASSERT_TRUE(Run(Quote(mattrib) + " -i " + Quote(image.string()) + " " + f.attrib + " " +
                            Quote("::/DCIM/" + f.name)));
        }
    }

    test::ScannedImage s = test::ScanDevice(OpenFileDevice(image.string()), "FAT32");
    const TreeNodeId dcim = s.Item("/DCIM");
    ASSERT_NE(dcim, kNoTreeNode);
    const RecoveredFolder* folder = s.results->FolderOfItem(dcim);
    ASSERT_NE(folder, nullptr);

    // The entries are what the tools were asked for.
    std::map<std::string, FatFileEntry> entries;
    FatFolderWalkOptions walk;
    walk.onFile = [&](const FatFileEntry& e) { entries[e.name] = e; };
    WalkFatFolderEntries(*s.device, s.fat, folder->selfId, walk);
    EXPECT_EQ(entries["IMG_0001.JPG"].attribute, 0x21);
    EXPECT_EQ(entries["backup.001"].attribute, 0x22);
    EXPECT_EQ(entries["IMG_0002.JPG"].attribute, 0x00);
    EXPECT_EQ(entries["\xC2\xA5" "ANDU.TXT"].shortName, "\xC2\xA5" "ANDU.TXT");   // no long name
    EXPECT_GE(1980 + (entries["IMG_0003.JPG"].date >> 9), 2030);

    // The folder listing.
    ListRowModel list;
    SetupBasicResultColumns(list);
    FatListingContext context;
    context.device = s.device.get();
    context.volume = s.fat;
    EXPECT_EQ(ListFatFolderFiles(list, 0, folder->selfId, context), files.size());
    for (const SourceFile& f : files)
        EXPECT_GE(list.FindRow(kListName, f.listedName), 0) << f.listedName;

    // The slots mtools wrote carry the checksum of their 8.3 name: even where
    // the strict name test applies, the long name vouches for the code-page
    // byte in the 8.3 name.
    std::vector<std::uint8_t> sector(512);
    ASSERT_EQ(s.device->ReadAt(s.fat.ClusterSector(folder->selfId) * 512, sector.data(), 512), 512);
    FatEntryRules strict;
    strict.mode = FatEntryMode::File;
    strict.filesOnly = true;
    strict.endByte = s.fat.endByte;
    strict.strictNames = true;
    std::set<std::string> strictNames;
    for (int i = 0; i < kFatEntriesPerSector; ++i) {
        FatEntryResult r;
        if (!ParseFatDirEntry(sector.data(), i, s.fat.ClusterSector(folder->selfId), strict, {}, r).empty())
            strictNames.insert(r.name);
    }
    EXPECT_TRUE(strictNames.count("\xC3\x91" "and\xC3\xBA.txt"));
    EXPECT_TRUE(strictNames.count("IMG_0001.JPG"));
    EXPECT_FALSE(strictNames.count("\xC2\xA5" "ANDU.TXT"));

    // The save of the whole tree gives every file back byte for byte.
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    SaverSet saver(*s.results, *s.volumes, true);
    ASSERT_FALSE(saver.Empty());
    test::TempDir out;
    test::ScriptedQuestions questions;
    SaveSession session(PosixTargetFileSystem(), &questions);
    session.SetDestination(out.path().string());
    session.ResetForSave();
    WalkAndSaveTree(session, *s.results, saver);
    EXPECT_TRUE(session.Report().AllWritten());
    for (const SourceFile& f : files) {
        const fs::path saved = out.path() / "DCIM" / f.listedName;
        ASSERT_TRUE(fs::exists(saved)) << f.listedName;
        EXPECT_EQ(test::ReadWholeFile(saved), f.bytes) << f.listedName;
    }
}

}  // namespace
}  // namespace torvane
