// Carved-file names, extension folders and their roll-over, the output tree's
// texts, and the signature search's choice of types.
#include "carving/carved_names.h"
#include "carving/extension_table.h"
#include "carving/signature_selection.h"

#include "carving_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace torvane {
namespace {

using test::ListOf;
using test::Sig;

TEST(CarvedNames, NamesPadTheCounterToFiveDigits)
{
    struct Case { std::string prefix, extension, suffix; std::uint64_t counter; std::string name; };
    const std::vector<Case> cases = {
        {"GNDR", ".jpg", "", 1, "GNDR00001.jpg"},
        {"THDR", ".JPG", "_001", 123456, "THDR123456_001.JPG"},
        {"MP4", "MP4", "", 7, "MP400007.MP4"},
        {"GNDR", "png", "", 9, "GNDR00009.png"},
        {"GNDR", "png", "", 10, "GNDR00010.png"},
        {"GNDR", "png", "", 99999, "GNDR99999.png"},
        {"GNDR", "png", "", 100000, "GNDR100000.png"},
        {"GNDR", "", "", 0, "GNDR00000."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MakeCarvedFileName(c.prefix, c.extension, c.suffix, c.counter), c.name);
}

TEST(CarvedNames, ExtensionFoldersRollOverAfterFiftyThousandFiles)
{
    EXPECT_EQ(kCarvedFilesPerFolder, 50000u);
    ExtensionFolderRow row;
    row.extension = "JPG";
    row.StartPass();
    row.count = 49999;
    ExtensionFolderChoice c = ChooseExtensionFolder(row);  // the 50,000th
    EXPECT_EQ(c.folderName, "JPG");
    EXPECT_EQ(c.suffix, "");
    EXPECT_EQ(row.count, 50000u);
    c = ChooseExtensionFolder(row);  // the 50,001st
    EXPECT_EQ(c.folderName, "JPG_001");
    EXPECT_EQ(c.suffix, "_001");
    EXPECT_EQ(row.count, 1u);
    EXPECT_EQ(MakeCarvedFileName("GNDR", ".jpg", c.suffix, 50001), "GNDR50001_001.jpg");
    row.count = 50000;
    EXPECT_EQ(ChooseExtensionFolder(row).folderName, "JPG_002");  // the 100,001st
    row.StartPass();
    EXPECT_EQ(row.folderName, "JPG");
    EXPECT_EQ(row.count, 0u);
}

TEST(CarvedNames, NextFolderNumbersAndSuffixes)
{
    struct Case { std::string current, next; };
    const std::vector<Case> cases = {
        {"JPG", "JPG_001"}, {"JPG_001", "JPG_002"}, {"JPG_009", "JPG_010"},
        {"JPG_099", "JPG_100"}, {"JPG_999", "JPG_1000"}, {"JPG_", "JPG_001"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextExtensionFolderName("JPG", c.current), c.next) << c.current;
    EXPECT_EQ(ExtensionFolderSuffix("JPG_003"), "_003");
    EXPECT_EQ(ExtensionFolderSuffix("JPG"), "");
    EXPECT_EQ(ExtensionFolderSuffix("_003"), "");
}

TEST(CarvedNames, OnlyLettersAndDigitsOfAnExtensionReachAPath)
{
    struct Case { std::string extension, text; };
    const std::vector<Case> cases = {
        {".jpg", "jpg"}, {".MP4", "MP4"}, {"../../etc", "etc"}, {".a/b\\c", "abc"},
        {".j_p g\x01", "jpg"}, {".", ""}, {"", ""}, {"..", ""}, {".\xC3\xA9t\xC3\xA9", "t"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CarvedExtensionText(c.extension), c.text) << c.extension;
    EXPECT_EQ(ExtensionRowKey(".jpg"), "JPG");
}

TEST(CarvedNames, SearchFolderAndCompletionText)
{
    EXPECT_EQ(CarvingSearchFolder("/media/out", "torvane", "Photo"), "/media/out/torvane/Photo Search");
    EXPECT_EQ(CarvingSearchFolder("/media/out/", "torvane", "Signature"), "/media/out/torvane/Signature Search");
    const std::string seventeen(17, 'a'), eighteen(18, 'a');
    EXPECT_EQ(SavedFolderText(seventeen, "Photo"), "\nThe recovered data is saved in folder: " + seventeen +
                                                       "  >> Photo Search, in selected location by user.");
    EXPECT_EQ(SavedFolderText(eighteen, "Photo"),
              "The recovered data is saved in folder: " + eighteen + "  >> Photo Search, in selected location by user.");
    EXPECT_EQ(MakeSavedFolderText("Signature"), SavedFolderText(ProgramBaseName(), "Signature"));
}

TEST(ExtensionTableRows, RowsMatchWholeExtensionsIgnoringCase)
{
    // TIF and TIFF are two rows: a TIF record never lands in the TIFF folder.
    ExtensionTable table;
    table.AddExtensionsOf(ListOf({Sig(".tiff", 1, "AA55"), Sig(".tif", 1, "AA56"), Sig(".TIF", 1, "AA57"),
                                  Sig("../", 1, "AA58")}));
    const auto rows = table.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].extension, "TIFF");
    EXPECT_EQ(rows[1].extension, "TIF");
    EXPECT_EQ(rows[1].folderName, "TIF");
    table.Update("tif", [](ExtensionFolderRow& r) { r.count = 5; r.lastFileNo = 9; });
    table.StartPass();
    EXPECT_EQ(table.Row("TIF")->count, 0u);
    EXPECT_EQ(table.Row("TIF")->lastFileNo, 9u);
    EXPECT_FALSE(table.Row("GIF"));
}

TEST(SignatureSelection, CheckListItemsAndCheckedSignatures)
{
    const SignatureDataFile general = SignatureDataFile::Parse(
        "Extension:.mp4\nMaxSize:10\nHeader:66747970\nKeyOffset:5\nReserved:0\nDescription:MPEG-4 video\n"
        "Extension:.pdf\nMaxSize:10\nHeader:25504446\nKeyOffset:1\nReserved:0\nDescription:PDF document\n"
        "Extension:.MP4\nMaxSize:10\nHeader:6674797069\nKeyOffset:5\nReserved:0\nDescription:again\n");
    const SignatureDataFile thorough = SignatureDataFile::Parse(
        "Extension:.xz\nMaxSize:10\nHeader:FD377A58\nKeyOffset:1\nReserved:0\nDescription:XZ\n"
        "Extension:.pdf\nMaxSize:10\nHeader:0A255044\nKeyOffset:1\nReserved:0\nDescription:later\n");
    const auto items = SignatureExtensionItems(general, thorough);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].text, "MP4");
    EXPECT_EQ(items[0].description, "MPEG-4 video");
    EXPECT_EQ(items[1].text, "PDF");
    EXPECT_EQ(items[2].text, "XZ");

    // PDF unchecked; XZ has no item at all (loaded whatever is ticked).
    const std::map<std::string, bool> states = {{"MP4", true}, {"PDF", false}};
    SignatureList list;
    AppendCheckedSignatures(general, states, list);
    AppendCheckedSignatures(thorough, states, list);
    std::vector<std::string> extensions;
    for (const FileType1& r : list.records)
        extensions.push_back(r.extension);
    EXPECT_THAT(extensions, ::testing::ElementsAre(".MP4", ".MP4", ".XZ"));
    EXPECT_THAT(list.keyPositions, ::testing::ElementsAre(5, 1));

    const SignatureList kept = KeepSignaturesOf(list, {"XZ"});
    ASSERT_EQ(kept.records.size(), 1u);
    EXPECT_EQ(kept.records[0].extension, ".XZ");
}

}  // namespace
}  // namespace torvane
