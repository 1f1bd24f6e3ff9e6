#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/fat/fat_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace torvane {
namespace {

using Sector = std::vector<std::uint8_t>;

// A short entry: 11 name bytes ("NAME    EXT"), attribute, first cluster, size.
void PutShort(std::uint8_t* e, const char* name11, std::uint8_t attr, std::uint32_t cluster = 3,
              std::uint32_t size = 10, std::uint16_t date = (44 << 9) | (5 << 5) | 17,
              std::uint16_t time = (13 << 11) | (45 << 5) | 10)
{
    std::memset(e, 0, 32);
    std::memcpy(e, name11, 11);
    e[11] = attr;
    e[20] = static_cast<std::uint8_t>(cluster >> 16);
    e[21] = static_cast<std::uint8_t>(cluster >> 24);
    e[22] = time & 0xFF;
    e[23] = time >> 8;
    e[24] = date & 0xFF;
    e[25] = date >> 8;
    e[26] = cluster & 0xFF;
    e[27] = (cluster >> 8) & 0xFF;
    for (int i = 0; i < 4; ++i)
        e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
}

// One long-name slot holding up to 13 units of `part` (terminated and padded
// as the FAT drivers write them when shorter).
void PutSlot(std::uint8_t* e, std::uint8_t order, const std::u16string& part)
{
    static const unsigned offs[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::memset(e, 0, 32);
    e[0] = order;
    e[11] = 0x0F;
    for (unsigned i = 0; i < 13; ++i) {
        char16_t u = i < part.size() ? part[i] : (i == part.size() ? 0 : 0xFFFF);
        e[offs[i]] = static_cast<std::uint8_t>(u & 0xFF);
        e[offs[i] + 1] = static_cast<std::uint8_t>(u >> 8);
    }
}

class FatDirectory : public ::testing::Test {
protected:
    void SetUp() override { SetLocalYearForTesting(2026); }
    void TearDown() override { SetLocalYearForTesting(0); }

    FatEntryResult Parse(const Sector& s, int index, FatEntryMode mode = FatEntryMode::File, bool filesOnly = false,
                         std::uint64_t sectorNumber = 100, const SectorFetch& prev = {})
    {
        FatEntryRules rules;
        rules.mode = mode;
        rules.filesOnly = filesOnly;
        rules.endByte = 1 << 20;
        FatEntryResult r;
        ParseFatDirEntry(s.data(), index, sectorNumber, rules, prev, r);
        return r;
    }
};

TEST_F(FatDirectory, AttributeAndKindRules)
{
    struct Case { std::uint8_t attr; FatEntryMode mode; bool filesOnly; bool taken; };
    const Case cases[] = {
        {0x20, FatEntryMode::File, false, true},       {0x01, FatEntryMode::File, false, true},
        {0x00, FatEntryMode::File, false, false},      {0x21, FatEntryMode::File, false, false},
        {0x22, FatEntryMode::File, false, false},      {0x0F, FatEntryMode::File, false, false},
        {0x10, FatEntryMode::File, false, true},       {0x10, FatEntryMode::File, true, false},
        {0x10, FatEntryMode::Directory, false, true},  {0x20, FatEntryMode::Directory, false, false},
        {0x30, FatEntryMode::Directory, false, false}, {0x16, FatEntryMode::Directory, false, true},
    };
    for (const Case& c : cases) {
        Sector s(512);
        PutShort(s.data(), "FILE    TXT", c.attr);
        EXPECT_EQ(!Parse(s, 0, c.mode, c.filesOnly).name.empty(), c.taken) << int(c.attr);
    }
}

TEST_F(FatDirectory, EndDotEntriesSizeAndDeleted)
{
    Sector s(512);
    PutShort(s.data(), ".          ", 0x10);
    PutShort(s.data() + 32, "..         ", 0x10);
    PutShort(s.data() + 64, "BIG     BIN", 0x20, 3, 2u << 20);   // larger than the source
    PutShort(s.data() + 96, "\xE5OTES   TXT", 0x20);
    // entry 4 left zero: end of directory
    EXPECT_TRUE(Parse(s, 0, FatEntryMode::Directory).name.empty());
    EXPECT_TRUE(Parse(s, 1, FatEntryMode::Directory).name.empty());
    EXPECT_TRUE(Parse(s, 2).name.empty());
    FatEntryResult del = Parse(s, 3);
    EXPECT_EQ(del.name, "_OTES.TXT");
    EXPECT_EQ(del.shortName, "_OTES.TXT");
    EXPECT_TRUE(del.deleted);
    FatEntryResult end = Parse(s, 4);
    EXPECT_TRUE(end.endOfDirectory);
    EXPECT_FALSE(Parse(s, 3).endOfDirectory);
}

TEST_F(FatDirectory, ShortNameShapes)
{
    Sector s(512);
    PutShort(s.data(), "AB       CD", 0x20);   // extension starting with a space: no dot
    PutShort(s.data() + 32, "NOEXT      ", 0x20);
    PutShort(s.data() + 64, "A B     TXT", 0x20);  // spaces inside dropped
    PutShort(s.data() + 96, "PHOTO   JPG", 0x20);
    s[96 + 12] = 0x18;                               // lower-case base and extension
    EXPECT_EQ(Parse(s, 0).name, "ABCD");
    EXPECT_EQ(Parse(s, 1).name, "NOEXT");
    EXPECT_EQ(Parse(s, 2).name, "AB.TXT");
    FatEntryResult lower = Parse(s, 3);
    EXPECT_EQ(lower.name, "photo.jpg");
    EXPECT_EQ(lower.shortName, "PHOTO.JPG");
}

TEST_F(FatDirectory, LongNamesInOneSectorAndAcrossTheSectorStart)
{
    // "Holiday photos.jpg" (18 units) in two slots in front of its short entry.
    const std::u16string name = u"Holiday photos.jpg";
    Sector s(512);
    PutSlot(s.data(), 0x42, name.substr(13));
    PutSlot(s.data() + 32, 0x01, name.substr(0, 13));
    PutShort(s.data() + 64, "HOLIDA~1JPG", 0x20);
    EXPECT_EQ(Parse(s, 2).name, "Holiday photos.jpg");

    // The same entry at offset 0 of sector 101: its slots are at the end of sector 100.
    Sector prev(512), cur(512);
    PutSlot(prev.data() + 448, 0x42, name.substr(13));
    PutSlot(prev.data() + 480, 0x01, name.substr(0, 13));
    PutShort(cur.data(), "HOLIDA~1JPG", 0x20);
    int reads = 0;
    SectorFetch fetch = [&](std::uint64_t n, std::uint8_t* out, std::uint64_t& before) {
        if (n <= 1)
            return 0;
        ++reads;
        EXPECT_EQ(n, 101u);
        before = n - 1;
        std::memcpy(out, prev.data(), 512);
        return 1;
    };
    EXPECT_EQ(Parse(cur, 0, FatEntryMode::File, false, 101, fetch).name, "Holiday photos.jpg");
    EXPECT_EQ(reads, 1);
    // At sector 1 nothing is read from sector 0.
    reads = 0;
    EXPECT_EQ(Parse(cur, 0, FatEntryMode::File, false, 1, fetch).name, "HOLIDA~1.JPG");
    EXPECT_EQ(reads, 0);
    // An unreadable sector in front: the 8.3 name.
    SectorFetch failing = [](std::uint64_t, std::uint8_t*, std::uint64_t&) { return -1; };
    EXPECT_EQ(Parse(cur, 0, FatEntryMode::File, false, 101, failing).name, "HOLIDA~1.JPG");
}

TEST_F(FatDirectory, ThirteenUnitNameIsNotJoinedWithAnotherRun)
{
    Sector s(512);
    PutSlot(s.data(), 0x01, u"foreign-run-x");        // a slot of some other run in front
    PutSlot(s.data() + 32, 0x41, u"abcdefghijklm");  // exactly 13 units, no terminator
    PutShort(s.data() + 64, "ABCDEF~1   ", 0x20);
    EXPECT_EQ(Parse(s, 2).name, "abcdefghijklm");
}

TEST_F(FatDirectory, DeletedEntryKeepsItsLongName)
{
    Sector s(512);
    PutSlot(s.data(), 0xE5, u"Old report.doc");
    PutShort(s.data() + 32, "\xE5LDREP~1DOC", 0x20);
    FatEntryResult r = Parse(s, 1);
    EXPECT_TRUE(r.deleted);
    // The 0xE5 slot is no last-slot marker, so the walk stops at the entry in
    // front (none here: offset 0 of a sector with no reader).
    EXPECT_EQ(r.name, "Old report.doc");
}

TEST_F(FatDirectory, ExtensionsAreReconciledWithTheShortName)
{
    struct Case { std::u16string longName; const char* shortName; const char* expected; };
    const Case cases[] = {
        {u"Report.docx", "REPORT~1DOC", "Report.doc"},
        {u"NOTES", "NOTES   TXT", "NOTES.TXT"},
        {u"photo 1.JPG", "PHOTO1~1JPG", "photo 1.JPG"},
        {u"archive.tar.gz", "ARCHIV~1GZ ", "archive.tar.gz"},
    };
    for (const Case& c : cases) {
        Sector s(512);
        PutSlot(s.data(), 0x41, c.longName);
        PutShort(s.data() + 32, c.shortName, 0x20);
        EXPECT_EQ(Parse(s, 1).name, c.expected);
    }
}

TEST_F(FatDirectory, PlausibleNamesAndDates)
{
    EXPECT_TRUE(IsPlausibleFileName("A.TXT"));
    EXPECT_FALSE(IsPlausibleFileName("A.123"));
    EXPECT_TRUE(IsPlausibleFileName("README"));
    EXPECT_FALSE(IsPlausibleFileName("A.T_T"));
    EXPECT_FALSE(IsPlausibleFileName("A:B.TXT"));
    EXPECT_FALSE(IsPlausibleFileName("A\x01.TXT"));
    EXPECT_FALSE(IsPlausibleFileName("caf\xC3\xA9.TXT"));   // U+00E9
    EXPECT_TRUE(IsPlausibleFileName("\xE2\x82\xAC.TXT"));    // U+20AC from 1252 byte 0x80
    EXPECT_EQ(FindNameExtension("a b.txt"), ".txt");
    EXPECT_EQ(FindNameExtension("file.t xt"), "");

    EXPECT_TRUE(IsValidFatDateTime(0, 0));
    EXPECT_FALSE(IsValidFatDateTime((44 << 9) | (13 << 5) | 1, 0));    // month 13
    EXPECT_FALSE(IsValidFatDateTime((47 << 9) | (1 << 5) | 1, 0));     // 2027 > 2026
    EXPECT_TRUE(IsValidFatDateTime((46 << 9) | (1 << 5) | 1, 0));      // 2026
    EXPECT_TRUE(IsValidFatDateTime(0, (24 << 11)));
    EXPECT_FALSE(IsValidFatDateTime(0, (25 << 11)));
    EXPECT_FALSE(IsValidFatDateTime(0, 31));                             // 62 seconds
}

TEST(FatNames, AttributeBitTexts)
{
    EXPECT_EQ(FormatBinaryDigits(5), "0101");
    EXPECT_EQ(FormatBinaryDigits(16), "00010000");
    EXPECT_EQ(FormatBinaryDigits(0), "");
    EXPECT_EQ(FormatBinaryDigits(256), "");
    EXPECT_EQ(HasDirectoryBitText(AttributeBitText(0x10)), 1);
    EXPECT_EQ(HasDirectoryBitText(AttributeBitText(0x20)), 0);
    EXPECT_EQ(IsUsableAttributeText(AttributeBitText(0)), 0);
    EXPECT_EQ(IsUsableAttributeText(AttributeBitText(0x20)), 1);
    EXPECT_EQ(ParseBinaryDigits("101"), 5u);
    EXPECT_EQ(ParseBinaryDigits("1x1"), 5u);
    EXPECT_EQ(NextHighWordCandidate(5, 10, 0x20000), 0x30000u);
    EXPECT_EQ(NextHighWordCandidate(10, 10, 0x20000), 0x20000u);
}

}  // namespace
}  // namespace torvane
