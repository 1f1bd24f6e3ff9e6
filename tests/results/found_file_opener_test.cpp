// Opening a found file: the names of its copies and the registry that finds
// a copy made before.
#include "results/found_file_opener.h"

#include "results/file_list_columns.h"
#include "results/file_list_population.h"
#include "results/file_list_rows.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace torvane {
namespace {

namespace fs = std::filesystem;

TEST(FoundFileOpener, CopyNamesKeepOnlyASafeExtension)
{
    struct Case {
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"report.pdf", "KZUC7.pdf"},
        {"README", "KZUC7"},
        {"archive.tar.gz", "KZUC7.gz"},
        {"trailing.", "KZUC7"},
        {"blank ext. pdf ", "KZUC7"},
        {"blank.pdf ", "KZUC7"},
        {"odd.p$d\x01" "f", "KZUC7.pdf"},
        {"dots.../..", "KZUC7"},
        {"long.abcdefghijklmnopqrstuvwxyz0123456789", "KZUC7.abcdefghijklmnopqrstuvwxyz012345"},
        {"fr\xC3\xA9.\xC3\xA9t\xC3\xA9", "KZUC7.t"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtractTempName(7, c.name), c.expected) << c.name;
}

TEST(FoundFileOpener, LongNamesAreShownShortened)
{
    EXPECT_EQ(OpenDisplayName("short.txt"), "short.txt");
    const std::string exact45(41, 'a');
    EXPECT_EQ(OpenDisplayName(exact45 + ".txt"), exact45 + ".txt");
    const std::string sixty = std::string(56, 'b') + ".mp4";
    EXPECT_EQ(OpenDisplayName(sixty), std::string(45, 'b') + " . . .mp4");
    // Characters, not bytes: 50 two-byte letters keep 45 of them whole.
    std::string wide;
    for (int i = 0; i < 50; ++i)
        wide += "\xC3\xA9";
    EXPECT_EQ(OpenDisplayName(wide), wide.substr(0, 90) + " . . .");
}

TEST(FoundFileOpener, TheRegistryFindsCopiesMadeBefore)
{
    test::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    ExtractedFileRegistry registry;
    const ExtractedFileKey key{0, 1234, "movie.mp4", 10};
    std::string path;
    EXPECT_EQ(registry.Find(key, folder, path), ExtractedFileRegistry::Decision::CopyNew);

    registry.Add(key, "KZUC3.mp4");
    // Registered but gone: copied again under its name.
    EXPECT_EQ(registry.Find(key, folder, path), ExtractedFileRegistry::Decision::CopyAgain);
    EXPECT_EQ(path, folder + "KZUC3.mp4");
    // Shorter than the file (stopped early): copied again.
    std::ofstream(path, std::ios::binary) << "12345";
    EXPECT_EQ(registry.Find(key, folder, path), ExtractedFileRegistry::Decision::CopyAgain);
    // Whole: opened as it is.
    std::ofstream(path, std::ios::binary) << "0123456789";
    EXPECT_EQ(registry.Find(key, folder, path), ExtractedFileRegistry::Decision::Reuse);
    EXPECT_EQ(path, folder + "KZUC3.mp4");

    // Another volume, name or size is another file, though the id is the same.
    for (const ExtractedFileKey& other : {ExtractedFileKey{4096, 1234, "movie.mp4", 10},
                                          ExtractedFileKey{0, 1234, "_ovie.mp4", 10},
                                          ExtractedFileKey{0, 1234, "movie.mp4", 11}})
        EXPECT_EQ(registry.Find(other, folder, path), ExtractedFileRegistry::Decision::CopyNew);

    // One entry per file: a copy made again under a new name replaces it.
    registry.Add(key, "KZUC9.mp4");
    EXPECT_EQ(registry.Size(), 1u);
    EXPECT_EQ(registry.Find(key, folder, path), ExtractedFileRegistry::Decision::CopyAgain);
    EXPECT_EQ(path, folder + "KZUC9.mp4");
    registry.Clear();
    EXPECT_EQ(registry.Find(key, folder, path), ExtractedFileRegistry::Decision::CopyNew);
}

// The rows of the file list as Open and Save take them: any row with a type
// but "FOLDER" is a file, whatever its type text ends in; a FAT row's first
// cluster takes the high part the folder walk guessed.
TEST(FoundFileOpener, FileListRowsReadBackAsFiles)
{
    ListRowModel list;
    SetupBasicResultColumns(list);
    auto add = [&list](std::vector<std::string> cells, std::uint64_t data = 0) {
        cells.resize(kBasicListColumnCount);
        const int row = list.InsertRow(list.RowCount(), std::move(cells));
        list.SetRowData(row, data);
        return row;
    };
    const int folder = add({"Docs", "FOLDER", "0", "", "", "12", "0", "77"});
    const int xml = add({"data.xml", "XML Document", "10", "", "", "300", "0", "0"});
    const int fat = add({"_ELETE.TXT", "Text file", "900", "", "", "18", "", "", "_ELETE~1.TXT", "65535"},
                        kRowDeletedBit);
    const int untyped = add({"odd", "", "1", "", "", "5"});

    EXPECT_TRUE(IsFolderListRow(list, folder));
    EXPECT_FALSE(IsFileListRow(list, folder));
    EXPECT_TRUE(IsFileListRow(list, xml));
    EXPECT_FALSE(IsFileListRow(list, untyped));
    EXPECT_FALSE(IsFileListRow(list, 99));

    const SaveRow d = SaveRowOfListRow(list, folder, false);
    EXPECT_TRUE(d.isFolder);
    EXPECT_EQ(d.item, 77u);
    const SaveRow x = SaveRowOfListRow(list, xml, false);
    EXPECT_EQ(x.id, 300u);
    EXPECT_EQ(x.size, 10u);
    const SaveRow f = SaveRowOfListRow(list, fat, false);
    EXPECT_EQ(f.id, 18u + 65536u);
    EXPECT_EQ(f.highClusterAddend, 65536u);
    EXPECT_TRUE(f.deleted);
    EXPECT_EQ(f.shortName, "_ELETE~1.TXT");
}

TEST(FoundFileOpener, CopyNumbersOnlyGrow)
{
    const std::uint64_t a = NextExtractNumber();
    const std::uint64_t b = NextExtractNumber();
    EXPECT_EQ(b, a + 1);
}

}  // namespace
}  // namespace torvane
