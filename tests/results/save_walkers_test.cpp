// The save walkers on a scanned fixture volume: the tree road by check
// boxes, the list road by rows, the counting twins, hostile names, and a
// destination that fills up in the middle of a save.
#include "results/save_destination.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "results/save_job.h"
#include "results/save_walkers.h"
#include "save_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::ScannedImage;

std::set<std::string> SavedFiles(const fs::path& root)
{
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            out.insert("/" + fs::relative(it->path(), root).string());
    return out;
}

struct Saved {
    SaveCounters counted;
    std::unique_ptr<test::ScriptedQuestions> questions = std::make_unique<test::ScriptedQuestions>();
    std::unique_ptr<SaveSession> session;
};

// Counts, then saves the tree as it is checked.
void SaveTree(ScannedImage& s, const fs::path& dest, Saved& out, TargetFileSystem& fsys = PosixTargetFileSystem())
{
    SaverSet saver(*s.results, *s.volumes, true);
    ASSERT_FALSE(saver.Empty());
    CountCheckedTreeItems(*s.results, saver, out.counted, {});
    out.session = std::make_unique<SaveSession>(fsys, out.questions.get());
    out.session->SetDestination(dest.string());
    out.session->ResetForSave();
    WalkAndSaveTree(*out.session, *s.results, saver);
}

TEST(SaveWalkers, WholeTreeMatchesItsCount)
{
    for (const std::string image : {"fat16.img", "fat32.img"}) {
        ScannedImage s = test::ScanFixture(image);
        s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
        test::TempDir dir;
        Saved saved;
        SaveTree(s, dir.path(), saved);
        const SaveReport& report = saved.session->Report();
        EXPECT_EQ(report.Files(), saved.counted.totalFiles.load()) << image;
        EXPECT_EQ(saved.session->Counters().foldersSaved.load(), saved.counted.totalFolders.load()) << image;
        EXPECT_EQ(saved.session->Counters().filesSaved.load(), saved.counted.totalFiles.load()) << image;
        EXPECT_TRUE(report.AllWritten()) << image;
        EXPECT_EQ(report.CompletionText(false), kSaveSuccessText);
        EXPECT_TRUE(fs::exists(dir.path() / "Documents/Projekte/2024/Q3 Planung/Ablauf.txt"));
        // A second save into the same folder with every conflict skipped changes nothing.
        Saved again;
        again.questions->replaceReplies.push_back({ReplaceAnswer::SkipAll, ""});
        SaveTree(s, dir.path(), again);
        EXPECT_EQ(again.questions->replaceAsked.size(), 1u);
        EXPECT_EQ(again.session->Report().Count(FileOutcome::Skipped), again.counted.totalFiles.load());
        EXPECT_NE(again.session->Report().CompletionText(false), kSaveSuccessText);
    }
}

// A name longer than the destination allows (over 255 UTF-8 bytes: 128
// UTF-16 units of a non-ASCII script are enough) keeps its start and its
// extension, unique in its folder; never "_". A FAT entry's 8.3 name stands
// in, with the file's own extension where the 8.3 one is its cut form.
TEST(SaveWalkers, NamesTooLongForTheDestinationKeepTheirStartAndExtension)
{
    test::TempDir dir;
    SaveSession session;
    session.SetDestination(dir.path().string());
    const std::string folder = (dir.path() / "f").string();
    std::string cyrillic;
    for (int i = 0; i < 130; ++i)
        cyrillic += "\xD0\x96";   // U+0416, two bytes each
    struct Case {
        std::string name;
        std::string preset;
        std::string leaf;
    };
    const Case cases[] = {
        {cyrillic + ".txt", "", "\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96~(1).TXT"},
        {cyrillic + "x.txt", "", "\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96~(2).TXT"},
        {std::string(300, 'p') + ".jpeg", "PPPPPP~1.JPE", "PPPPPP~1.jpeg"},
        {std::string(300, 'q') + ".txt", "QQQQQQ~1.TXT", "QQQQQQ~1.TXT"},
        {std::string(300, 'r'), "", "RRRRRR~(1)"},
        {"short.txt", "", "short.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LastComponent(FileTarget(session, folder, c.name, c.preset)), c.leaf) << c.leaf;
}

TEST(SaveWalkers, PartialParentsGiveTheirNamesButNoFiles)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    TreeModel& tree = s.results->Tree();
    TreeNodeId year = s.Item("/Documents/Projekte/2024");
    ASSERT_NE(year, kNoTreeNode);
    tree.SetSubtreeCheck(year, CheckState::Checked);
    tree.SetCheck(s.Item("/Documents/Projekte"), CheckState::Partial);
    tree.SetCheck(s.Item("/Documents"), CheckState::Partial);
    tree.SetCheck(s.Root(), CheckState::Partial);
    test::TempDir dir;
    Saved saved;
    SaveTree(s, dir.path(), saved);
    EXPECT_EQ(SavedFiles(dir.path()),
              (std::set<std::string>{"/Documents/Projekte/2024/Bericht.pdf",
                                     "/Documents/Projekte/2024/Q3 Planung/Ablauf.txt",
                                     "/Documents/Projekte/2024/Q3 Planung/Budget Übersicht.csv"}));
    EXPECT_EQ(saved.counted.totalFiles.load(), 3u);
    // Documents, Projekte (partial), 2024, Q3 Planung.
    EXPECT_EQ(saved.counted.totalFolders.load(), 4u);
}

TEST(SaveWalkers, CheckedRootWithoutCheckedChildSavesOnlyRootFiles)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    TreeModel& tree = s.results->Tree();
    tree.SetCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    Saved saved;
    SaveTree(s, dir.path(), saved);
    // The fixture's root holds folders only; the volume label is no file.
    EXPECT_TRUE(SavedFiles(dir.path()).empty());
    EXPECT_EQ(saved.counted.totalFiles.load(), 0u);
}

TEST(SaveWalkers, HostileNamesNeverLeaveTheDestination)
{
    // A copy of the FAT16 fixture whose long name "Notes.txt" reads "/../x.txt"
    // (the long-name checksum covers the short name only, so the entry stays valid).
    std::string bytes = test::ReadWholeFile(test::FixtureImage("fat16.img"));
    const std::string notes("N\0o\0t\0e\0s\0", 10);
    auto pos = bytes.find(notes);
    ASSERT_NE(pos, std::string::npos);
    bytes.replace(pos, 10, std::string("/\0.\0.\0/\0x\0", 10));
    ScannedImage s = test::ScanDevice(MakeMemoryDevice("hostile", bytes), "FAT16");
    // And a folder whose name is "..", one with a control character.
    RecoveredFolder* docs = s.results->FolderOfItem(s.Item("/Documents"));
    RecoveredFolder* photos = s.results->FolderOfItem(s.Item("/Fotos Sommer 2024"));
    ASSERT_TRUE(docs && photos);
    s.results->RenameFolder(*docs, "..");
    s.results->RenameFolder(*photos, "a\x01/b");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);

    test::TempDir dir;
    const fs::path dest = dir.path() / "dest";
    Saved saved;
    SaveTree(s, dest, saved);
    // Nothing beside the destination.
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(dir.path()))
        top.insert(e.path().filename().string());
    EXPECT_EQ(top, std::set<std::string>{"dest"});
    auto files = SavedFiles(dest);
    EXPECT_TRUE(files.count("/_../_.._x.txt")) << "names: " << files.size();
    EXPECT_TRUE(files.count("/_../Résumé.txt"));
    EXPECT_TRUE(files.count("/a__b/IMG_0001.JPG"));
}

TEST(SaveWalkers, ListRoadSavesFileRowsAndWholeFolderRows)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    SaverSet saver(*s.results, *s.volumes, true);
    ASSERT_FALSE(saver.Empty());
    // Rows as the file list of the root shows them: a folder row and, from
    // /Sizes, a file row.
    std::vector<SaveRow> rows;
    SaveRow folder;
    folder.name = "Fotos Sommer 2024";
    folder.isFolder = true;
    folder.item = s.Item("/Fotos Sommer 2024");
    folder.id = s.results->FolderOfItem(folder.item)->selfId;
    rows.push_back(folder);
    FatFolderWalkOptions options;
    options.onFile = [&](const FatFileEntry& e) {
        if (e.name == "size-511.bin")
            rows.push_back(SaveRow{e.name, false, e.size, e.storedCluster, kNoTreeNode, e.shortName, e.deleted});
    };
    WalkFatFolderEntries(*s.device, s.fat, s.results->FolderOfItem(s.Item("/Sizes"))->selfId, options);
    ASSERT_EQ(rows.size(), 2u);

    SaveCounters counted;
    CountSelectedRows(*s.results, saver, rows, counted, {});
    test::TempDir dir;
    SaveSession session;
    session.SetDestination(dir.path().string());
    SaveSelectedRows(session, *s.results, saver, rows);
    auto files = SavedFiles(dir.path());
    EXPECT_EQ(files, (std::set<std::string>{"/size-511.bin", "/Fotos Sommer 2024/IMG_0001.JPG",
                                            "/Fotos Sommer 2024/_MG_0002.JPG", "/Fotos Sommer 2024/IMG_0003.JPG",
                                            "/Fotos Sommer 2024/Strand/IMG_0101.JPG",
                                            "/Fotos Sommer 2024/Strand/Abend/IMG_0201.JPG"}));
    EXPECT_EQ(counted.totalFiles.load(), files.size());
    EXPECT_EQ(counted.totalFolders.load(), 3u);
    EXPECT_EQ(session.Counters().foldersSaved.load(), 3u);
}

TEST(SaveWalkers, AFullDestinationStopsTheWholeSave)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    test::LimitedFileSystem limited(20000, ENOSPC);
    Saved saved;
    SaveTree(s, dir.path(), saved, limited);
    const SaveReport& report = saved.session->Report();
    EXPECT_TRUE(saved.session->StopRequested());
    EXPECT_EQ(saved.questions->messages, std::vector<std::string>{kDestinationFullText});
    EXPECT_EQ(report.Count(FileOutcome::Failed), 1u);
    EXPECT_LT(report.Files(), saved.counted.totalFiles.load());
    EXPECT_NE(report.CompletionText(true).find("Files failed: 1"), std::string::npos);
    // Every file left on the destination is complete: the partial one was removed.
    for (const auto& p : report.Problems())
        EXPECT_FALSE(fs::exists(p.path)) << p.path;
    // And the byte count is what the destination holds, the removed file's
    // bytes not included.
    std::uint64_t onDisk = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.is_regular_file())
            onDisk += e.file_size();
    EXPECT_EQ(saved.session->Counters().bytesWritten.load(), onDisk);
}

// A healthy volume fills no miscellaneous folder: none is made on the
// destination, and none is counted.
TEST(SaveWalkers, AnEmptyMiscellaneousFolderIsNotCreated)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    ASSERT_NE(s.Item("/KZU_Miscellaneous"), kNoTreeNode);
    test::TempDir dir;
    Saved saved;
    SaveTree(s, dir.path(), saved);
    EXPECT_FALSE(fs::exists(dir.path() / "KZU_Miscellaneous"));
    std::uint64_t folders = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        folders += e.is_directory() ? 1 : 0;
    EXPECT_EQ(saved.counted.totalFolders.load(), folders);
}

// A destination that is a file is no folder: nothing is written beside it
// under another name, and the report says why.
TEST(SaveWalkers, ADestinationThatIsAFileIsRefusedWithTheReason)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    const fs::path file = dir.path() / "not-a-folder";
    test::WriteWholeFile(file, "x");
    SaveRequest request;
    request.results = s.results;
    request.volumes = s.volumes;
    request.destination = file.string();
    for (SaveSource source : {SaveSource::Tree, SaveSource::List}) {
        request.source = source;
        SaveRow row;
        row.name = "Documents";
        row.isFolder = true;
        row.item = s.Item("/Documents");
        request.rows = {row};
        SaveJob save(request);
        ASSERT_TRUE(save.RunHere());
        const auto problems = save.Session().Report().Problems();
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].detail, kDestinationNotAFolderText);
        EXPECT_NE(save.Session().CompletionText(false), kSaveSuccessText);
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path()))
            ++entries;
        EXPECT_EQ(entries, 1u);
    }
}

TEST(SaveWalkers, ATooLongFileNameIsShortenedAndAConflictingShortNameStaysUnique)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    s.results->Tree().SetSubtreeCheck(s.Item("/Documents"), CheckState::Checked);
    s.results->Tree().UpdateParentsAfterCheck(s.Item("/Documents"));
    // A destination so deep that the long file name passes PATH_MAX.
    test::TempDir dir;
    fs::path deep = dir.path();
    while (deep.string().size() < 4096 - 90)
        deep /= std::string(std::min<std::size_t>(200, 4096 - 90 - deep.string().size()), 'd');
    fs::create_directories(deep);
    Saved saved;
    SaveTree(s, deep, saved);
    const fs::path docs = deep / "Documents";
    // The long name becomes its 8.3 name; the short ones stay as they are.
    EXPECT_TRUE(fs::exists(docs / "Notes.txt"));
    bool shortened = false;
    for (const auto& e : fs::directory_iterator(docs))
        shortened = shortened || e.path().filename().string().find('~') != std::string::npos;
    EXPECT_TRUE(shortened);
    EXPECT_TRUE(saved.session->Report().AllWritten());
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// A volume whose every folder holds one file naming the folder's id: enough
// to see which folder's files land where.
class MarkerVolume final : public FileSystemVolume {
public:
    MarkerVolume() : FileSystemVolume(FsKind::Fat32, CurrentPartition{}) {}
    std::uint64_t RootFolderId() const override { return 0; }
    std::uint64_t ListFolderFiles(ScanResults&, std::uint64_t, const FolderListing&) override { return 0; }
    std::unique_ptr<FileSystemSaver> MakeSaver(ScanResults&, bool) override
    {
        class Saver final : public FileSystemSaver {
        public:
            void SaveFolderFiles(SaveSession& session, const std::string& path, const RecoveredFolder& f) override
            {
                int error = 0;
                auto file = session.Fs().Create(path + "/marker.txt", error);
                const std::string id = std::to_string(f.selfId);
                if (file) {
                    file->Write(id.data(), id.size());
                    file->Close();
                }
            }
            void SaveRootFiles(SaveSession&, const std::string&) override {}
            void SaveFileRow(SaveSession&, const std::string&, const SaveRow&) override {}
            std::uint64_t CountFolderFiles(const RecoveredFolder&, const std::function<bool()>&) override { return 1; }
            std::uint64_t CountRootFiles(const std::function<bool()>&) override { return 0; }
        };
        return std::make_unique<Saver>();
    }
};

// A deleted folder and a live folder of one name in one parent stay apart:
// the live one keeps the name, the deleted one (and a second live one) get
// the conflict rule's suffix, whichever comes first in the tree; both roads.
TEST(SaveWalkers, SiblingFoldersOfOneNameAreNeverMerged)
{
    ScanResults results;
    const TreeNodeId root = results.EnsureRootItem();
    results.InsertRecoveredFolder(root, "Photos", 40, 0, 0, 0, 1, 0, 1);   // deleted, first in the tree
    results.InsertRecoveredFolder(root, "Photos", 41, 0, 0, 0, 0, 0, 1);   // live
    results.InsertRecoveredFolder(root, "Photos", 42, 0, 0, 0, 0, 0, 1);   // a second live one
    const TreeNodeId other = results.InsertRecoveredFolder(root, "Other", 43, 0, 0, 0, 0, 0, 1);
    results.InsertRecoveredFolder(other, "Photos", 44, 0, 0, 0, 1, 0, 1);  // another parent: its own name
    auto volumes = std::make_shared<VolumeSet>();
    volumes->Add(std::make_shared<MarkerVolume>());
    results.Tree().SetSubtreeCheck(root, CheckState::Checked);

    for (SaveSource source : {SaveSource::Tree, SaveSource::List}) {
        test::TempDir dir;
        SaveRequest request;
        request.results = &results;
        request.volumes = volumes;
        request.source = source;
        request.destination = dir.path().string();
        for (TreeNodeId child : results.Tree().Children(root)) {
            SaveRow row;
            row.name = results.Tree().Text(child);
            row.isFolder = true;
            row.item = child;
            row.deleted = results.FolderOfItem(child)->deleted != 0;
            request.rows.push_back(row);
        }
        SaveJob save(request);
        ASSERT_TRUE(save.RunHere());
        EXPECT_EQ(test::ReadWholeFile(dir.path() / "Photos" / "marker.txt"), "41");
        EXPECT_EQ(test::ReadWholeFile(dir.path() / "Photos_zq_0" / "marker.txt"), "42");
        EXPECT_EQ(test::ReadWholeFile(dir.path() / "Photos_zq_1" / "marker.txt"), "40");
        EXPECT_EQ(test::ReadWholeFile(dir.path() / "Other" / "Photos" / "marker.txt"), "44");
    }
}

}  // namespace
}  // namespace torvane
