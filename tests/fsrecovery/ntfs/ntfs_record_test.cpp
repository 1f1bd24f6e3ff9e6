// The structure readers of one FILE record: fixup, attribute walk, names,
// sizes, data runs and attribute lists, on sound and on corrupt bytes.
#include "fsrecovery/ntfs/ntfs_attribute_list.h"
#include "fsrecovery/ntfs/ntfs_data_runs.h"
#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "fsrecovery/ntfs/ntfs_standard_info.h"
#include "ntfs_test_records.h"

#include <gtest/gtest.h>

#include <functional>

namespace torvane {
namespace {

using test::Bytes;
using test::PutU16;
using test::PutU32;
using test::RecordBuilder;

NtfsBytes View(const Bytes& b) { return NtfsBytes(b.data(), b.size()); }

Bytes FixedUp(Bytes b)
{
    EXPECT_NE(ApplyUpdateSequenceFixup(b.data(), b.size()), FixupResult::Invalid);
    return b;
}

// ---- update sequence fixup ----

TEST(NtfsFixup, RestoresEverySectorEnd)
{
    for (std::size_t sectors : {2u, 8u}) {  // a FILE record, an INDX buffer
        Bytes b(512 * sectors, 0);
        for (std::size_t i = 0; i < sectors; ++i)
            PutU16(b, 512 * i + 510, static_cast<std::uint16_t>(0x1100 + i));
        test::ProtectRecord(b, 0x0042);
        for (std::size_t i = 0; i < sectors; ++i)
            ASSERT_EQ(b[512 * i + 510], 0x42);
        EXPECT_EQ(ApplyUpdateSequenceFixup(b.data(), b.size()), FixupResult::Applied);
        for (std::size_t i = 0; i < sectors; ++i) {
            EXPECT_EQ(b[512 * i + 510], static_cast<std::uint8_t>(i)) << sectors << " sectors, sector " << i;
            EXPECT_EQ(b[512 * i + 511], 0x11);
        }
    }
}

TEST(NtfsFixup, TornSectorIsRestoredButReported)
{
    Bytes b(1024, 0);
    test::ProtectRecord(b, 5);
    b[1022] = 9;  // the second sector was not written with this USN
    EXPECT_EQ(ApplyUpdateSequenceFixup(b.data(), b.size()), FixupResult::Torn);
    EXPECT_EQ(b[1022], 0);
}

TEST(NtfsFixup, ArrayThatDoesNotFitChangesNothing)
{
    struct Case { const char* what; std::uint16_t offset; std::uint16_t count; };
    const Case cases[] = {
        {"no saved value", 48, 1},
        {"no entries", 48, 0},
        {"more saved values than sectors", 48, 4},
        {"array past the first sector", 600, 3},
        {"array over the protected bytes", 506, 3},
        {"array inside the signature", 2, 3},
        {"huge count", 48, 0xFFFF},
    };
    for (const Case& c : cases) {
        Bytes b(1024, 0xAB);
        PutU16(b, 4, c.offset);
        PutU16(b, 6, c.count);
        const Bytes before = b;
        EXPECT_EQ(ApplyUpdateSequenceFixup(b.data(), b.size()), FixupResult::Invalid) << c.what;
        EXPECT_EQ(b, before) << c.what;
    }
}

// ---- attribute walk ----

TEST(NtfsAttributes, WalksSoundRecordInOrder)
{
    Bytes rec = FixedUp(RecordBuilder(1, 40)
                            .Resident(0x10, Bytes(72, 0))
                            .FileName(5, u"a.txt", 1)
                            .Resident(0x80, Bytes{'h', 'i'}, u"alt")
                            .Resident(0x80, Bytes{'d', 'a', 't', 'a'})
                            .Build());
    NtfsAttributeCursor cursor(View(rec));
    std::vector<std::uint32_t> types;
    NtfsAttribute a;
    while (cursor.Next(a))
        types.push_back(a.type);
    EXPECT_FALSE(cursor.Corrupt());
    EXPECT_EQ(types, (std::vector<std::uint32_t>{0x10, 0x30, 0x80, 0x80}));

    std::uint32_t offset = 0;
    EXPECT_EQ(FindUnnamedDataAttribute(View(rec), offset), NtfsDataLocation::Resident);
    std::optional<NtfsAttribute> data = FindNtfsAttribute(View(rec), kNtfsAttrData);
    ASSERT_TRUE(data);
    EXPECT_EQ(offset, data->offset);
    NtfsBytes value = data->Value(View(rec));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(value.data()), value.size()), "data");
    std::optional<NtfsAttribute> named = FindNtfsAttribute(View(rec), kNtfsAttrData, false);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->Name(View(rec)), "alt");
}

// Each corruption of the attribute area that holds the name: the walk stops
// there without reading past the record, and the record yields no name.
TEST(NtfsAttributes, CorruptHeadersEndTheWalk)
{
    RecordBuilder builder(1, 40);
    builder.Resident(0x10, Bytes(72, 0)).FileName(5, u"name.txt", 1);
    const std::size_t fn = builder.AttributeOffset(1);
    struct Case {
        const char* what;
        std::function<void(Bytes&)> corrupt;
    };
    const Case cases[] = {
        {"attribute running past the record", [&](Bytes& b) { PutU32(b, fn + 4, 2000); }},
        {"attribute length 0", [&](Bytes& b) { PutU32(b, fn + 4, 0); }},
        {"attribute length below a header", [&](Bytes& b) { PutU32(b, fn + 4, 16); }},
        {"non-resident byte 2", [&](Bytes& b) { b[fn + 8] = 2; }},
        {"value running past the attribute", [&](Bytes& b) { PutU32(b, fn + 16, 900); }},
        {"value offset inside the header", [&](Bytes& b) { PutU16(b, fn + 20, 4); }},
        {"name running past the attribute", [&](Bytes& b) { b[fn + 9] = 200; }},
        {"first attribute at 0x8000", [&](Bytes& b) { PutU16(b, 20, 0x8000); }},
        {"first attribute inside the header", [&](Bytes& b) { PutU16(b, 20, 8); }},
        {"attribute header in the last bytes", [&](Bytes& b) { PutU16(b, 20, 1016); PutU32(b, 1016, 0x30); }},
    };
    for (const Case& c : cases) {
        Bytes rec = builder.Build(false);
        c.corrupt(rec);
        test::ProtectRecord(rec);
        ApplyUpdateSequenceFixup(rec.data(), rec.size());
        // Only the record itself is visible to the readers: a read past it
        // would show under the sanitizers.
        EXPECT_FALSE(FindNtfsFileName(View(rec))) << c.what;
        NtfsAttributeCursor cursor(View(rec));
        NtfsAttribute a;
        while (cursor.Next(a)) {
            EXPECT_LE(a.offset + a.length, rec.size());
        }
        EXPECT_TRUE(cursor.Corrupt()) << c.what;
    }
}

TEST(NtfsAttributes, NotAFileRecordHasNoAttributes)
{
    Bytes rec = FixedUp(RecordBuilder().FileName(5, u"x", 1).Build());
    rec[0] = 'B';  // "BAAD"
    EXPECT_FALSE(FindNtfsFileName(View(rec)));
    std::uint32_t offset = 7;
    EXPECT_EQ(FindUnnamedDataAttribute(View(rec), offset), NtfsDataLocation::None);
}

TEST(NtfsAttributes, IndxBufferGivesItsFirstEntry)
{
    Bytes indx(4096, 0);
    indx[0] = 'I'; indx[1] = 'N'; indx[2] = 'D'; indx[3] = 'X';
    PutU32(indx, 24, 40);
    std::uint32_t offset = 0;
    EXPECT_EQ(FindUnnamedDataAttribute(View(indx), offset), NtfsDataLocation::NonResident);
    EXPECT_EQ(offset, 64u);
    PutU32(indx, 24, 0xFFFFFF00);  // past the buffer
    EXPECT_EQ(FindUnnamedDataAttribute(View(indx), offset), NtfsDataLocation::None);
}

// ---- names ----

TEST(NtfsFileNames, NamespaceOrderAndFields)
{
    Bytes rec = FixedUp(RecordBuilder(3, 64)
                            .FileName(0x0003000000000005ull, u"PROGRA~1", 2, 111)
                            .FileName(0x0003000000000005ull, u"Program Files", 1, 222)
                            .Build());
    std::optional<NtfsFileName> best = FindNtfsFileName(View(rec));
    ASSERT_TRUE(best);
    EXPECT_EQ(best->name, "Program Files");
    EXPECT_EQ(best->nameSpace, kNtfsNamespaceWin32);
    EXPECT_EQ(best->creationTime, 222u);
    EXPECT_EQ(best->ParentRecord32(), 5u);
    EXPECT_EQ(MftReferenceSequence(best->parentReference), 3);
    std::optional<NtfsFileName> dos = GetNtfsFileName(View(rec), kNtfsNamespaceDos);
    ASSERT_TRUE(dos);
    EXPECT_EQ(dos->name, "PROGRA~1");
    EXPECT_FALSE(GetNtfsFileName(View(rec), kNtfsNamespacePosix));

    Bytes posix = FixedUp(RecordBuilder().FileName(64, u"only posix", 0).Build());
    ASSERT_TRUE(FindNtfsFileName(View(posix)));
    EXPECT_EQ(FindNtfsFileName(View(posix))->name, "only posix");
}

TEST(NtfsFileNames, DecodedAsUnicodeAndCleanedForSaving)
{
    Bytes rec = FixedUp(RecordBuilder(3).FileName(5, u"Caf\u00e9 <1>:\u65e5\u672c", 1).Build());
    std::optional<NtfsFileName> fn = FindNtfsFileName(View(rec));
    ASSERT_TRUE(fn);
    EXPECT_EQ(fn->name, "Caf\xC3\xA9 <1>:\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(CleanNtfsFileName(fn->name), "Caf\xC3\xA9 1\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(CleanNtfsFileName("  a\x01" "b\"/\\?*|  "), "a b");
    EXPECT_EQ(CleanNtfsFileName("***"), "");
}

TEST(NtfsFileNames, NameLongerThanItsValueIsNotTaken)
{
    RecordBuilder builder;
    builder.FileName(5, u"abc", 1);
    Bytes rec = builder.Build(false);
    rec[builder.AttributeOffset(0) + 24 + 64] = 60;  // 60 units in a 72-byte value
    test::ProtectRecord(rec);
    rec = FixedUp(rec);
    EXPECT_FALSE(FindNtfsFileName(View(rec)));
}

TEST(NtfsFileNames, MftMirrSizeOnlyRaisesClusterSize)
{
    struct Case { std::uint64_t size; std::uint32_t current; std::optional<std::uint32_t> want; };
    const Case cases[] = {
        {65536, 8, 128u},          // 64 KiB clusters proven by the mirror
        {65536, 0, 128u},
        {4096, 0, 8u},             // nothing known yet: take what the mirror says
        {4096, 1, std::nullopt},   // 512-byte clusters keep their value (the mirror is 4096 anyway)
        {4096, 2, std::nullopt},
        {4096, 8, std::nullopt},
        {2048, 0, std::nullopt},   // less than 4096 says nothing
        {16384, 64, std::nullopt}, // never lowered
        {124928, 0, std::nullopt}, // 244 sectors is read as 4096: not a cluster size
        {12288, 0, std::nullopt},  // 24 sectors: not a power of two
    };
    for (const Case& c : cases)
        EXPECT_EQ(SectorsPerClusterFromMftMirr(c.size, c.current), c.want) << c.size << " " << c.current;
}

// ---- sizes and times ----

TEST(NtfsDataSize, ResidentNonResidentAndEmptyFallback)
{
    Bytes res = FixedUp(RecordBuilder().FileName(5, u"r", 1, 0, 4096).Resident(0x80, Bytes(300, 1)).Build());
    EXPECT_EQ(GetNtfsDataSize(View(res), "r"), 300u);

    Bytes nonres = FixedUp(
        RecordBuilder().NonResident(0x80, test::EncodeRuns({{4, 100}}), 0, 3, 12345).Build());
    EXPECT_EQ(GetNtfsDataSize(View(nonres), "n"), 12345u);

    // An empty $DATA: the $FILE_NAME's allocated size stands in, except for
    // the file system's own "$" files.
    Bytes empty = FixedUp(RecordBuilder().FileName(5, u"e", 1, 0, 8192).Resident(0x80, Bytes{}).Build());
    EXPECT_EQ(GetNtfsDataSize(View(empty), "e"), 8192u);
    EXPECT_EQ(GetNtfsDataSize(View(empty), "$Extend"), 0u);

    Bytes none = FixedUp(RecordBuilder().FileName(5, u"d", 1).Build());
    EXPECT_FALSE(GetNtfsDataSize(View(none), "d"));
}

TEST(NtfsStandardInformation, TimesAndAttributes)
{
    Bytes si(72, 0);
    test::PutU64(si, 0, 1000);
    test::PutU64(si, 8, 2000);
    test::PutU64(si, 16, 3000);
    test::PutU64(si, 24, 4000);
    PutU32(si, 32, 0x820);
    Bytes rec = FixedUp(RecordBuilder().Resident(0x10, si).Build());
    std::optional<NtfsStandardInformation> info = GetNtfsStandardInformation(View(rec));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->creationTime, 1000u);
    EXPECT_EQ(info->modificationTime, 2000u);
    EXPECT_EQ(info->mftChangeTime, 3000u);
    EXPECT_EQ(info->accessTime, 4000u);
    EXPECT_EQ(info->fileAttributes, 0x820u);
    Bytes shortSi = FixedUp(RecordBuilder().Resident(0x10, Bytes(20, 0)).Build());
    EXPECT_FALSE(GetNtfsStandardInformation(View(shortSi)));
}

// ---- data runs ----

RunList Decode(const Bytes& pairs) { return DecodeMappingPairs(View(pairs)); }

TEST(NtfsDataRuns, SignedOffsetsSparseRunsAndWideFields)
{
    // 0x1000 clusters at 0x20000; 8 clusters 128 clusters before it (80 FF);
    // 3 sparse clusters; 2 clusters 74,565 after the previous allocated run.
    const Bytes pairs = {0x32, 0x00, 0x10, 0x00, 0x00, 0x02,
                         0x21, 0x08, 0x80, 0xFF,
                         0x01, 0x03,
                         0x41, 0x02, 0x45, 0x23, 0x01, 0x00,
                         0x00};
    RunList list = Decode(pairs);
    EXPECT_EQ(list.status, RunListStatus::Complete);
    ASSERT_EQ(list.runs.size(), 4u);
    EXPECT_EQ(list.runs[0], (DataRun{0, 0x20000, 0x1000, false}));
    EXPECT_EQ(list.runs[1], (DataRun{0x1000, 0x20000 - 128, 8, false}));
    EXPECT_EQ(list.runs[2], (DataRun{0x1008, 0, 3, true}));
    EXPECT_EQ(list.runs[3], (DataRun{0x100B, 0x20000 - 128 + 74565, 2, false}));
    EXPECT_EQ(list.TotalClusters(), 0x1000u + 8 + 3 + 2);

    // A cluster number above 2^32 (5-byte offset) keeps its 64 bits.
    RunList wide = Decode({0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00});
    ASSERT_EQ(wide.runs.size(), 1u);
    EXPECT_EQ(wide.runs[0].lcn, 0x100000000ull);

    // Round trip through the test encoder.
    const std::vector<test::TestRun> runs = {{16, 5000}, {4, 0, true}, {9, 100}, {1, 70000}};
    RunList rt = Decode(test::EncodeRuns(runs));
    ASSERT_EQ(rt.runs.size(), 4u);
    EXPECT_EQ(rt.runs[2].lcn, 100u);
    EXPECT_EQ(rt.runs[3].lcn, 70000u);
    EXPECT_EQ(rt.runs[3].vcn, 29u);
}

TEST(NtfsDataRuns, MalformedListsKeepTheRunsBeforeTheFault)
{
    struct Case { const char* what; Bytes pairs; RunListStatus status; std::size_t runs; };
    const Case cases[] = {
        {"no terminator", {0x11, 0x04, 0x10}, RunListStatus::Truncated, 1},
        {"fields past the end", {0x11, 0x04, 0x10, 0x44, 0x01}, RunListStatus::Truncated, 1},
        {"length field of 0 bytes", {0x11, 0x04, 0x10, 0x10, 0x05, 0x00}, RunListStatus::Invalid, 1},
        {"length field of 9 bytes", {0x19, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}, RunListStatus::Invalid, 0},
        {"offset field of 9 bytes", {0x91, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}, RunListStatus::Invalid, 0},
        {"run of 0 clusters", {0x11, 0x00, 0x10, 0x00}, RunListStatus::Invalid, 0},
        {"cluster number below 0", {0x11, 0x04, 0x10, 0x11, 0x04, 0xE0, 0x00}, RunListStatus::Invalid, 1},
        {"length past 2^40", {0x16, 0, 0, 0, 0, 0, 0x02, 0x10, 0x00}, RunListStatus::Invalid, 0},
        {"empty", {}, RunListStatus::Truncated, 0},
    };
    for (const Case& c : cases) {
        RunList list = Decode(c.pairs);
        EXPECT_EQ(list.status, c.status) << c.what;
        EXPECT_EQ(list.runs.size(), c.runs) << c.what;
    }
}

TEST(NtfsDataRuns, BoundedByTheAttribute)
{
    // Mapping pairs that would go on past the attribute's end stop there.
    RecordBuilder builder;
    builder.NonResident(0x80, {0x11, 0x04, 0x10, 0x00}, 0, 3, 4096);
    Bytes rec = builder.Build(false);
    const std::size_t a = builder.AttributeOffset(0);
    // The attribute ends right after the pairs' first run; a second header
    // follows in the next attribute's bytes.
    PutU32(rec, a + 4, 64 + 3);
    rec[a + 64 + 3] = 0x11;
    test::ProtectRecord(rec);
    rec = FixedUp(rec);
    std::optional<NtfsAttribute> data = FindNtfsAttribute(View(rec), kNtfsAttrData);
    ASSERT_TRUE(data);
    RunList list = DecodeRunList(View(rec), *data);
    EXPECT_EQ(list.status, RunListStatus::Truncated);
    ASSERT_EQ(list.runs.size(), 1u);
}

// ---- attribute lists ----

Bytes ListEntry(std::uint32_t type, std::uint64_t firstVcn, std::uint64_t reference, std::uint16_t length = 32)
{
    Bytes e(length, 0);
    PutU32(e, 0, type);
    PutU16(e, 4, length);
    e[7] = 26;
    test::PutU64(e, 8, firstVcn);
    test::PutU64(e, 16, reference);
    return e;
}

TEST(NtfsAttributeList, ParsesEntriesAndStopsOnBadLengths)
{
    Bytes value;
    for (const Bytes& e : {ListEntry(0x10, 0, 40), ListEntry(0x80, 0, 40), ListEntry(0x80, 100, 0x0002000000000051ull)})
        value.insert(value.end(), e.begin(), e.end());
    std::vector<NtfsAttributeListEntry> entries;
    EXPECT_TRUE(ParseAttributeList(View(value), entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].firstVcn, 100u);
    EXPECT_EQ(MftReferenceRecord(entries[2].recordReference), 0x51u);
    EXPECT_EQ(MftReferenceSequence(entries[2].recordReference), 2);

    // An entry of length 0 would make the walk stand still: it ends it.
    Bytes looping = ListEntry(0x80, 0, 40);
    Bytes zero = ListEntry(0x80, 0, 41);
    PutU16(zero, 4, 0);
    looping.insert(looping.end(), zero.begin(), zero.end());
    entries.clear();
    EXPECT_FALSE(ParseAttributeList(View(looping), entries));
    EXPECT_EQ(entries.size(), 1u);

    Bytes longer = ListEntry(0x80, 0, 40);
    PutU16(longer, 4, 400);  // past the value
    entries.clear();
    EXPECT_FALSE(ParseAttributeList(View(longer), entries));
    EXPECT_TRUE(entries.empty());

    Bytes badName = ListEntry(0x80, 0, 40);
    badName[6] = 10;  // 20 bytes of name at 26 in a 32-byte entry
    entries.clear();
    EXPECT_FALSE(ParseAttributeList(View(badName), entries));
}

}  // namespace
}  // namespace torvane
