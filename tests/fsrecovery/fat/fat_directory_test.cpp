#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/store/name_rules.h"

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
void PutSlot(std::uint8_t* e, std::uint8_t order, const std::u16string& part, std::uint8_t checksum = 0)
{
    static const unsigned offs[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::memset(e, 0, 32);
    e[0] = order;
    e[11] = 0x0F;
    e[13] = checksum;
    for (unsigned i = 0; i < 13; ++i) {
        char16_t u = i < part.size() ? part[i] : (i == part.size() ? 0 : 0xFFFF);
        e[offs[i]] = static_cast<std::uint8_t>(u & 0xFF);
        e[offs[i] + 1] = static_cast<std::uint8_t>(u >> 8);
    }
}

// The checksum a long-name slot carries of its short entry's 11 name bytes.
std::uint8_t Checksum(const char* name11)
{
    unsigned sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = (((sum & 1) << 7) | (sum >> 1)) + static_cast<std::uint8_t>(name11[i]), sum &= 0xFF;
    return static_cast<std::uint8_t>(sum);
}

class FatDirectory : public ::testing::Test {
protected:
    void SetUp() override { SetLocalYearForTesting(2026); }
    void TearDown() override { SetLocalYearForTesting(0); }

    FatEntryResult Parse(const Sector& s, int index, FatEntryMode mode = FatEntryMode::File, bool filesOnly = false,
                         std::uint64_t sectorNumber = 100, const SectorFetch& prev = {}, bool strictNames = false)
    {
        FatEntryRules rules;
        rules.mode = mode;
        rules.filesOnly = filesOnly;
        rules.strictNames = strictNames;
        rules.endByte = 1 << 20;
        FatEntryResult r;
        ParseFatDirEntry(s.data(), index, sectorNumber, rules, prev, r);
        return r;
    }
};

TEST_F(FatDirectory, AttributeAndKindRules)
{
    using M = FatEntryMode;
    struct Case { std::uint8_t attr; M mode; bool filesOnly; bool taken; };
    const Case cases[] = {
        // Files: any mix of read-only, hidden, system and archive, and no bit at all.
        {0x20, M::File, true, true},  {0x01, M::File, true, true},  {0x00, M::File, true, true},
        {0x21, M::File, true, true},  {0x22, M::File, true, true},  {0x23, M::File, true, true},
        {0x27, M::File, true, true},  {0x04, M::File, true, true},
        // Long-name slot, volume label, bits no driver sets.
        {0x0F, M::File, true, false}, {0x08, M::File, true, false}, {0x28, M::File, true, false},
        {0x48, M::File, true, false}, {0x80, M::File, true, false}, {0x60, M::File, true, false},
        {0xA1, M::File, true, false},
        // The directory bit under the files-only switch and under directory rules.
        {0x10, M::File, false, true}, {0x10, M::File, true, false}, {0x30, M::File, true, false},
        {0x10, M::Directory, false, true},  {0x16, M::Directory, false, true},
        {0x30, M::Directory, false, true},  {0x31, M::Directory, false, true},
        {0x20, M::Directory, false, false}, {0x21, M::Directory, false, false},
        {0x50, M::Directory, false, false}, {0x90, M::Directory, false, false},
    };
    for (const Case& c : cases) {
        Sector s(512);
        PutShort(s.data(), "FILE    TXT", c.attr);
        EXPECT_EQ(!Parse(s, 0, c.mode, c.filesOnly).name.empty(), c.taken)
            << std::hex << int(c.attr) << (c.mode == M::File ? " file" : " directory");
    }
}

// Entries of real files that the scan, the listing and the save must keep,
// and bytes that no FAT driver writes; under the normal rules and the strict
// ones of a cluster only guessed to be part of the folder.
TEST_F(FatDirectory, RealFilesAreTakenMalformedEntriesAreNot)
{
    const std::uint16_t kTime = (13 << 11) | (45 << 5) | 10;
    const std::uint16_t kDate = (44 << 9) | (5 << 5) | 17;
    struct Case {
        const char* what;
        const char* name11;
        std::uint8_t attr;
        std::u16string longName;   // empty: none
        bool goodChecksum;
        std::uint16_t date, time;
        const char* expected;        // "" = not taken
        const char* expectedStrict;
    };
    const Case cases[] = {
        {"read-only photo", "IMG_0001JPG", 0x21, u"", true, kDate, kTime, "IMG_0001.JPG", "IMG_0001.JPG"},
        {"hidden archive", "DESKTOP INI", 0x22, u"", true, kDate, kTime, "DESKTOP.INI", "DESKTOP.INI"},
        {"no attribute bit", "DATA    BIN", 0x00, u"", true, kDate, kTime, "DATA.BIN", "DATA.BIN"},
        {"digits-only extension", "BACKUP  001", 0x20, u"", true, kDate, kTime, "BACKUP.001", "BACKUP.001"},
        {"split archive part", "PHOTOS~1002", 0x20, u"photos.zip.002", true, kDate, kTime, "photos.zip.002",
         "photos.zip.002"},
        {"clock years ahead", "IMG_0002JPG", 0x20, u"", true, (51 << 9) | (3 << 5) | 4, kTime, "IMG_0002.JPG",
         "IMG_0002.JPG"},
        // CP850 0xA5 (N-tilde) and 0xE9 (U-acute) kept in the 8.3 name; the
        // program decodes 8.3 bytes as Windows-1252, hence the yen sign.
        {"OEM letter with its long name", "\xA5" "AND\xE9" "   TXT", 0x20, u"\u00D1and\u00FA.txt", true, kDate, kTime,
         "\u00D1and\u00FA.txt", "\u00D1and\u00FA.txt"},
        {"OEM letter, long name of another entry", "\xA5" "AND\xE9" "   TXT", 0x20, u"\u00D1and\u00FA.txt", false, kDate,
         kTime, "\u00D1and\u00FA.txt", ""},
        {"OEM letter, 8.3 name only", "\xA5" "ANDU   TXT", 0x20, u"", true, kDate, kTime, "\u00A5" "ANDU.TXT", ""},
        {"first byte 0x05 stands for 0xE5", "\x05" "NDE    TXT", 0x20, u"", true, kDate, kTime, "\u00E5" "NDE.TXT", ""},
        {"punctuation in the extension", "SETUP   EX_", 0x20, u"", true, kDate, kTime, "SETUP.EX_", ""},
        // Never taken.
        {"control character", "FI\x01" "E    TXT", 0x20, u"", true, kDate, kTime, "", ""},
        {"control character with a long name", "FI\x01" "E    TXT", 0x20, u"file.txt", true, kDate, kTime, "", ""},
        {"reserved character", "A*B     TXT", 0x20, u"", true, kDate, kTime, "", ""},
        {"month 13", "FILE    TXT", 0x20, u"", true, (44 << 9) | (13 << 5) | 1, kTime, "", ""},
        {"day 0", "FILE    TXT", 0x20, u"", true, (44 << 9) | (1 << 5), kTime, "", ""},
        {"hour 25", "FILE    TXT", 0x20, u"", true, kDate, 25 << 11, "", ""},
        {"long-name slot", "FILE    TXT", 0x0F, u"", true, kDate, kTime, "", ""},
        {"bit 0x40", "FILE    TXT", 0x48, u"", true, kDate, kTime, "", ""},
        {"bit 0x80", "FILE    TXT", 0x80, u"", true, kDate, kTime, "", ""},
    };
    for (const Case& c : cases) {
        Sector s(512);
        int index = 0;
        if (!c.longName.empty()) {
            PutSlot(s.data(), 0x41, c.longName, c.goodChecksum ? Checksum(c.name11) : Checksum("OTHER   TXT"));
            index = 1;
        }
        PutShort(s.data() + 32 * index, c.name11, c.attr, 3, 10, c.date, c.time);
        EXPECT_EQ(Parse(s, index, FatEntryMode::File, true).name, c.expected) << c.what;
        EXPECT_EQ(Parse(s, index, FatEntryMode::File, true, 100, {}, true).name, c.expectedStrict)
            << c.what << " (strict)";
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

// An 8.3 name cuts the extension to three characters: a long name keeps its
// own extension when the short one is just that cut (case ignored). Only a
// real conflict replaces the extension, and only the final one.
TEST_F(FatDirectory, ExtensionsAreReconciledWithTheShortName)
{
    struct Case { std::u16string longName; const char* shortName; const char* expected; };
    const Case cases[] = {
        {u"Report.docx", "REPORT~1DOC", "Report.docx"},
        {u"data.json", "DATA~1  JSO", "data.json"},
        {u"page.HTML", "PAGE~1  HTM", "page.HTML"},
        {u"img.jpeg", "IMG~1   JPE", "img.jpeg"},
        {u"NOTES", "NOTES   TXT", "NOTES.TXT"},
        {u"photo 1.JPG", "PHOTO1~1JPG", "photo 1.JPG"},
        {u"archive.tar.gz", "ARCHIV~1GZ ", "archive.tar.gz"},
        {u"notes.bak", "NOTES~1 TXT", "notes.txt"},          // a real conflict: the 8.3 extension
        {u"x.doc.do", "XDOC~1  DOC", "x.doc.doc"},           // only the final extension changes
        {u"a.json.old", "AJSON~1 JSO", "a.json.jso"},
    };
    for (const Case& c : cases) {
        Sector s(512);
        PutSlot(s.data(), 0x41, c.longName);
        PutShort(s.data() + 32, c.shortName, 0x20);
        EXPECT_EQ(Parse(s, 1).name, c.expected) << c.shortName;
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

    // The 8.3 test: the NTFS-name rules above only where random data may stand.
    EXPECT_TRUE(IsPlausibleShortName("A.123", false));
    EXPECT_TRUE(IsPlausibleShortName("A.123", true));
    EXPECT_TRUE(IsPlausibleShortName("A.T_T", false));
    EXPECT_FALSE(IsPlausibleShortName("A.T_T", true));
    EXPECT_TRUE(IsPlausibleShortName("caf\xC3\xA9.TXT", false));
    EXPECT_FALSE(IsPlausibleShortName("caf\xC3\xA9.TXT", true));
    EXPECT_FALSE(IsPlausibleShortName("A:B.TXT", false));
    EXPECT_FALSE(IsPlausibleShortName("A\x1F.TXT", false));

    EXPECT_TRUE(IsValidFatDateTime(0, 0));
    EXPECT_FALSE(IsValidFatDateTime((44 << 9) | (13 << 5) | 1, 0));    // month 13
    EXPECT_FALSE(IsValidFatDateTime((44 << 9) | (0 << 5) | 1, 0));     // month 0
    EXPECT_TRUE(IsValidFatDateTime((47 << 9) | (1 << 5) | 1, 0));      // 2027, after the pinned 2026
    EXPECT_TRUE(IsValidFatDateTime((127 << 9) | (12 << 5) | 31, 0));  // 2107, the last year FAT holds
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
