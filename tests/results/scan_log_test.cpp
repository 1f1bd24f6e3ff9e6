// The scan log: the writer against the committed samples byte for byte, the
// readers on every generation and odd tree, round trips, every truncation of
// every sample, hostile logs, and the document's helpers.
#include "results/scan_log_archive.h"
#include "results/scan_log_document.h"
#include "results/scan_log_reader.h"
#include "results/scan_log_writer.h"
#include "results/tree_item_walk.h"
#include "scan_log_samples.h"

#include <gtest/gtest.h>

#include <sstream>

namespace torvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::GoldenScanLogs;
using test::ReadScanLogSample;
using namespace test::samples;

ScanLogReaderKind ReaderOf(const ScanLogDocument& doc)
{
    return doc.header.mode == kScanLogDeepMode ? ScanLogReaderKind::Deep : ScanLogReaderKind::Basic;
}

Bytes Write(const ScanLogDocument& doc)
{
    Bytes out;
    const ScanLogWriteResult r = WriteScanLog(doc, out);
    EXPECT_TRUE(r.ok()) << r.message;
    return out;
}

// What a reader gives back for a document: an item without a record comes
// back with the zero record the writer put after it.
ScanLogDocument AsRead(ScanLogDocument doc)
{
    for (std::size_t i = 1; i < doc.tree.size(); ++i)
        if (!doc.tree[i].record) doc.tree[i].record = ScanLogFolderRecord{};
    return doc;
}

std::string Hex(const Bytes& b, std::size_t at, std::size_t n)
{
    std::string s;
    char buf[4];
    for (std::size_t i = at; i < at + n && i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x ", b[i]);
        s += buf;
    }
    return s;
}

// Where the end-marker line begins.
std::size_t MarkerOffset(const Bytes& b)
{
    const Bytes tail = {'2', 0, '0', 0, '1', 0, '5', 0, '/', 0};  // only the marker has "2015/"
    const auto at = std::search(b.begin(), b.end(), tail.begin(), tail.end());
    EXPECT_NE(at, b.end());
    return static_cast<std::size_t>(at - b.begin()) - 2 * 9;
}

// ---- the current layout: the writer against the samples -------------------

TEST(ScanLogGolden, WriterReproducesEverySampleByteForByte)
{
    for (const auto& golden : GoldenScanLogs()) {
        const Bytes expected = ReadScanLogSample(golden.file);
        ASSERT_FALSE(expected.empty()) << golden.file;
        const Bytes written = Write(golden.make());
        ASSERT_EQ(written.size(), expected.size()) << golden.file;
        for (std::size_t i = 0; i < written.size(); ++i)
            ASSERT_EQ(written[i], expected[i]) << golden.file << " differs at byte " << i << ": "
                                               << Hex(written, i, 16) << "/ " << Hex(expected, i, 16);
    }
}

TEST(ScanLogGolden, ReadersGiveBackTheDocuments)
{
    for (const auto& golden : GoldenScanLogs()) {
        const ScanLogDocument doc = golden.make();
        const ScanLogReadResult r = ReadScanLog(ReadScanLogSample(golden.file), ReaderOf(doc));
        ASSERT_EQ(r.status, ScanLogReadStatus::Loaded) << golden.file << ": " << r.detail;
        EXPECT_EQ(r.trailer, ScanLogTrailerState::Complete) << golden.file;
        EXPECT_FALSE(r.treeEndedWithoutMarker);
        EXPECT_EQ(r.document.generation, ScanLogGeneration::Current);
        EXPECT_TRUE(r.document == AsRead(doc)) << golden.file;
    }
}

TEST(ScanLogGolden, ReadThenWriteGivesTheSameBytes)
{
    for (const auto& golden : GoldenScanLogs()) {
        const Bytes bytes = ReadScanLogSample(golden.file);
        const ScanLogReadResult r = ReadScanLog(bytes, ReaderOf(golden.make()));
        ASSERT_TRUE(r.loaded()) << golden.file;
        EXPECT_EQ(Write(r.document), bytes) << golden.file;
    }
}

// The edge cases of the layout, seen in the bytes.
TEST(ScanLogGolden, LayoutEdgeCases)
{
    auto find = [](const Bytes& hay, const Bytes& needle) {
        return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
    };
    Bytes markerLine;
    for (const char16_t u : std::u16string(kScanLogEndMarker) + u"\r\n") {
        markerLine.push_back(static_cast<std::uint8_t>(u));
        markerLine.push_back(static_cast<std::uint8_t>(u >> 8));
    }

    // Names of 254, 255 and 300 units: one length byte, then FF and a u16.
    const Bytes names = Write(LongNames());
    EXPECT_TRUE(find(names, {0xFF, 0xFE, 0xFF, 0xFE, 'A', 0}));
    EXPECT_TRUE(find(names, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00, 'B', 0}));
    EXPECT_TRUE(find(names, {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01, 0xDC, 0x00, 'c', 0}));

    // A Basic FAT log: the end marker is followed directly by the trailer.
    const ScanLogDocument fat = BasicFat32();
    const Bytes fatBytes = Write(fat);
    Bytes tail = markerLine;
    ScanLogArchiveWriter trailer([&tail](const std::uint8_t* d, std::size_t n) {
        tail.insert(tail.end(), d, d + n);
        return 0;
    });
    trailer.Text(fat.trailer.sourceDescription);
    trailer.U64(fat.trailer.selectedVolumeStart);
    trailer.Flush();
    ASSERT_GE(fatBytes.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), fatBytes.end() - static_cast<long>(tail.size())));

    // Only "Root": its line, the root record, the end marker.
    const Bytes root = Write(OnlyRoot());
    Bytes rootTree = {'R', 0, 'o', 0, 'o', 0, 't', 0, '\r', 0, '\n', 0, 0xFF, 0xFE, 0xFF, 9};
    for (const char c : std::string("Root_Item")) rootTree.insert(rootTree.end(), {static_cast<std::uint8_t>(c), 0});
    rootTree.resize(rootTree.size() + 4 + 4 + 8 + 8 + 4 + 8, 0);
    rootTree.insert(rootTree.end(), markerLine.begin(), markerLine.end());
    EXPECT_TRUE(find(root, rootTree));

    // An item without a record: an empty name and every number 0 (no key in a Basic log).
    Bytes zero = {'\t', 0, 'R', 0, 'o', 0, 'o', 0, 't', 0, '\r', 0, '\n', 0, 0xFF, 0xFE, 0xFF, 0x00};
    zero.resize(zero.size() + 4 + 4 + 8 + 8 + 4 + 8, 0);
    EXPECT_TRUE(find(Write(ZeroRecord()), zero));

    // Sections by kind: a Deep FAT32 log holds file-system rows but no file
    // table; a Deep NTFS log a file table and extents but no file-system rows.
    EXPECT_TRUE(HasFileSystemRows(DeepFat32()));
    EXPECT_FALSE(HasFileTable(DeepFat32()));
    EXPECT_FALSE(HasFileSystemRows(DeepNtfs()));
    EXPECT_TRUE(HasFileTable(DeepNtfs()) && HasExtentRows(DeepNtfs()));
    EXPECT_FALSE(HasFileSystemRows(fat) || HasFileTable(fat) || HasExtentRows(fat));
    EXPECT_TRUE(HasFileTable(BasicNtfsLogical()) && !HasExtentRows(BasicNtfsLogical()));
}

// ---- older layouts and odd trees -------------------------------------------

TEST(ScanLogOlder, OlderBasicNtfs)
{
    const ScanLogReadResult r = ReadScanLog(ReadScanLogSample("older-basic-ntfs.VQL"), ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded()) << r.detail;
    ScanLogDocument expected = Header("Hard Disk", 1, MakePhysicalScanLogSource(kDiskId, 1));
    expected.generation = ScanLogGeneration::Older;
    expected.header.magic = "KZUWIN7SR2015";
    expected.partition = Partition("NTFS", "Basic Search", 2048, 34815, 2048, 34815, 34815ull * 512);
    expected.geometry = expected.descriptorGeometry = NtfsGeometry();
    expected.fsName = "NTFS";
    expected.folderCount = 2;
    expected.tree = {RootItem(), Folder(1, "Documents", 64, 5, kFiletime, 0, 0, 0, 0),
                     Folder(2, "Projekte", 65, 64, kFiletime, 0, 0, 0, 0)};
    // Six texts a row: the seventh is empty.
    for (int i = 0; i < 3; ++i) {
        ScanLogFileRow row = NtfsFiles()[static_cast<std::size_t>(i)];
        row[6].clear();
        expected.files.push_back(row);
    }
    expected.trailer = {"Disk 1 ( Partition 1 / NTFS /  16.00 MB )", 2048};
    EXPECT_TRUE(r.document == expected);
    EXPECT_EQ(r.trailer, ScanLogTrailerState::Complete);
    EXPECT_EQ(ScanLogFileRowOwnId(r.document.files[1]), 281474976710721ull);
    EXPECT_EQ(r.document.files[1][4], "1");
}

TEST(ScanLogOlder, OlderDeepNtfsKeepsSevenTextsAndKeys)
{
    const ScanLogReadResult r = ReadScanLog(ReadScanLogSample("older-deep-ntfs.VQL"), ScanLogReaderKind::Deep);
    ASSERT_TRUE(r.loaded()) << r.detail;
    const ScanLogDocument& d = r.document;
    EXPECT_EQ(d.generation, ScanLogGeneration::Older);
    ASSERT_EQ(d.tree.size(), 2u);
    EXPECT_EQ(d.tree[0].record, MakeScanLogRootRecord());
    EXPECT_EQ(*d.tree[1].record, Record("Documents", 64, 5, kFiletime, 0, 0, 0, 0));
    EXPECT_EQ(d.files, (std::vector<ScanLogFileRow>{NtfsFiles()[0], NtfsFiles()[1]}));
    EXPECT_EQ(d.extents, (std::vector<ScanLogExtentRow>{NtfsExtents()[0]}));
    EXPECT_EQ(d.trailer, (ScanLogTrailer{"Disk 1", 0}));
}

TEST(ScanLogOlder, OldestWithZjInTheFirstTextAndSingleByteTexts)
{
    const Bytes bytes = ReadScanLogSample("oldest-zj-basic-fat.VQL");
    const ScanLogReadResult r = ReadScanLog(bytes, ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded()) << r.detail;
    const ScanLogDocument& d = r.document;
    EXPECT_EQ(d.generation, ScanLogGeneration::Oldest);
    EXPECT_EQ(d.header.sourceKind, "ZJWIN7SR");  // the first text stays the kind
    EXPECT_EQ(d.header.magic, "KZUWIN7SR2015");
    EXPECT_EQ(d.header.mode, 1u);
    EXPECT_EQ(d.source, MakePhysicalScanLogSource(kDiskId, 1));
    EXPECT_EQ(d.partition, Partition("FAT16", "Basic Search", 63, 32823, 63, 32823, 32823ull * 512));
    EXPECT_EQ(d.geometry, Fat16Geometry());
    EXPECT_EQ(d.fsName, "FAT16");
    ASSERT_EQ(d.tree.size(), 3u);
    EXPECT_EQ(d.tree[1], Folder(1, "Musée", 3, 0, kDate, kTime, 0, 0, 0));
    EXPECT_EQ(d.tree[2], Folder(2, "€ Rechnungen", 4, 3, kDate, kTime, 1, 0, 0));
    EXPECT_EQ(r.trailer, ScanLogTrailerState::Missing);
    EXPECT_EQ(d.trailer, ScanLogTrailer{});

    // The Deep reader knows no oldest rule: its magic test fails. So does
    // the header peek of the command line.
    EXPECT_EQ(ReadScanLog(bytes, ScanLogReaderKind::Deep).status, ScanLogReadStatus::InvalidLog);
    EXPECT_EQ(PeekScanLogHeader(bytes).status, ScanLogReadStatus::InvalidLog);
}

TEST(ScanLogOlder, OldestWithKzuInTheFirstText)
{
    const ScanLogReadResult r = ReadScanLog(ReadScanLogSample("oldest-kzu-basic-ntfs.VQL"), ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded()) << r.detail;
    const ScanLogDocument& d = r.document;
    EXPECT_EQ(d.generation, ScanLogGeneration::Oldest);
    EXPECT_EQ(d.header.sourceKind, "KZUWIN7SR");
    // Not a volume kind: the tag ("LOG" here) is read and not looked at.
    EXPECT_EQ(d.source.form, ScanLogSourceForm::Physical);
    EXPECT_EQ(d.source.tag, "LOG");
    EXPECT_EQ(d.source.diskIdentity, kDiskId);
    ASSERT_EQ(d.files.size(), 1u);
    EXPECT_EQ(d.files[0][1], "Notes.txt");
    EXPECT_EQ(d.files[0][6], "");
    // The file ends three bytes into the last u64.
    EXPECT_EQ(r.trailer, ScanLogTrailerState::DescriptionOnly);
    EXPECT_EQ(d.trailer.sourceDescription, "Disk 1 ( Partition 1 / NTFS /  16.00 MB )");
    EXPECT_EQ(d.trailer.selectedVolumeStart, 0u);
}

struct TreeCase {
    const char* file;
    std::vector<std::pair<std::size_t, std::string>> items;  // depth, record name ("" = zero record)
    bool rootRecord = true;
    bool endedWithoutMarker = false;
    ScanLogTrailerState trailer = ScanLogTrailerState::Complete;
};

TEST(ScanLogOlder, OddTrees)
{
    const TreeCase cases[] = {
        // A jump of three levels hangs under the item before; an empty line
        // is skipped; "\tC" CR "D" reads as the line "\tCD".
        {"tree-oddities.VQL", {{0, "Root_Item"}, {1, "A"}, {2, "B"}, {1, "C"}, {2, "E"}}},
        // A first line of one tab: no root record, and one tab less for every line.
        {"first-line-tab.VQL", {{0, ""}, {1, "A"}, {0, "B"}}, false},
        // A folder count of 0 with items after the root: they are read all the same.
        {"count-zero-with-items.VQL", {{0, "Root_Item"}, {1, ""}, {2, ""}}},
        {"no-trailer.VQL", {{0, "Root_Item"}, {1, "A"}}, true, false, ScanLogTrailerState::Missing},
        {"tree-ends-at-eof.VQL", {{0, "Root_Item"}, {1, "A"}, {1, "B"}}, true, true, ScanLogTrailerState::Missing},
    };
    for (const TreeCase& c : cases) {
        const ScanLogReadResult r = ReadScanLog(ReadScanLogSample(c.file), ScanLogReaderKind::Basic);
        ASSERT_TRUE(r.loaded()) << c.file << ": " << r.detail;
        const auto& tree = r.document.tree;
        ASSERT_EQ(tree.size(), c.items.size()) << c.file;
        for (std::size_t i = 0; i < tree.size(); ++i) {
            EXPECT_EQ(tree[i].depth, c.items[i].first) << c.file << " item " << i;
            if (i == 0 && !c.rootRecord) {
                EXPECT_FALSE(tree[i].record.has_value()) << c.file;
                continue;
            }
            ASSERT_TRUE(tree[i].record.has_value()) << c.file << " item " << i;
            EXPECT_EQ(tree[i].record->name, c.items[i].second) << c.file << " item " << i;
        }
        EXPECT_EQ(r.treeEndedWithoutMarker, c.endedWithoutMarker) << c.file;
        EXPECT_EQ(r.trailer, c.trailer) << c.file;
    }
    const ScanLogReadResult odd = ReadScanLog(ReadScanLogSample("tree-oddities.VQL"), ScanLogReaderKind::Basic);
    EXPECT_EQ(odd.document.tree[3].text, "CD");
}

// An older log written again is a current log with the same contents.
TEST(ScanLogOlder, WrittenAgainInTheCurrentLayout)
{
    const char* files[] = {"older-basic-ntfs.VQL",    "older-deep-ntfs.VQL",   "oldest-zj-basic-fat.VQL",
                           "oldest-kzu-basic-ntfs.VQL", "tree-oddities.VQL",   "first-line-tab.VQL",
                           "count-zero-with-items.VQL", "no-trailer.VQL",      "tree-ends-at-eof.VQL"};
    for (const char* file : files) {
        const Bytes bytes = ReadScanLogSample(file);
        const ScanLogReaderKind kind =
            PeekScanLogHeader(bytes).document.header.mode == 2 ? ScanLogReaderKind::Deep : ScanLogReaderKind::Basic;
        const ScanLogReadResult first = ReadScanLog(bytes, kind);
        ASSERT_TRUE(first.loaded()) << file;
        const ScanLogReadResult again = ReadScanLog(Write(first.document), kind);
        ASSERT_TRUE(again.loaded()) << file << ": " << again.detail;
        EXPECT_EQ(again.document.generation, ScanLogGeneration::Current) << file;
        EXPECT_EQ(again.trailer, ScanLogTrailerState::Complete) << file;

        ScanLogDocument expected = first.document;
        expected.generation = ScanLogGeneration::Current;
        expected.header.magic = kScanLogMagic;
        if (first.document.generation == ScanLogGeneration::Oldest) expected.header.sourceKind = "Hard Disk";
        if (expected.folderCount == 0) expected.folderCount = expected.tree.size() - 1;
        EXPECT_TRUE(again.document == expected) << file;
    }
}

// ---- outcomes --------------------------------------------------------------

TEST(ScanLogOutcome, MagicModeAndHandOver)
{
    const Bytes basic = ReadScanLogSample("basic-fat32.VQL");
    const Bytes deep = ReadScanLogSample("deep-ntfs.VQL");

    ScanLogReadResult r = ReadScanLog(deep, ScanLogReaderKind::Basic);
    EXPECT_EQ(r.status, ScanLogReadStatus::HandOver);
    EXPECT_EQ(r.document.header.mode, 2u);
    EXPECT_TRUE(r.document.tree.empty());
    r = ReadScanLog(basic, ScanLogReaderKind::Deep);
    EXPECT_EQ(r.status, ScanLogReadStatus::HandOver);
    EXPECT_EQ(r.document.header.mode, 1u);

    ScanLogDocument odd = BasicFat32();
    for (std::uint32_t mode : {0u, 3u, 0xFFFFFFFFu}) {
        Bytes bytes = Write(odd);
        // The mode is the u32 after the first three texts.
        const std::size_t at = 4 + 2 * 4 + 4 + 2 * 18 + 4 + 2 * 13;
        for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(mode >> (8 * i));
        EXPECT_EQ(ReadScanLog(bytes, ScanLogReaderKind::Basic).status, ScanLogReadStatus::UnknownMode) << mode;
        EXPECT_EQ(ReadScanLog(bytes, ScanLogReaderKind::Deep).status, ScanLogReadStatus::UnknownMode) << mode;
        EXPECT_EQ(PeekScanLogHeader(bytes).status, ScanLogReadStatus::UnknownMode) << mode;
    }

    // A magic without "KZUWIN7SR" is no scan log.
    Bytes wrong = basic;
    wrong[4 + 2 * 4 + 4] = 'Q';
    EXPECT_EQ(ReadScanLog(wrong, ScanLogReaderKind::Basic).status, ScanLogReadStatus::InvalidLog);
    EXPECT_EQ(PeekScanLogHeader(wrong).status, ScanLogReadStatus::InvalidLog);
    // An older magic passes.
    EXPECT_EQ(PeekScanLogHeader(ReadScanLogSample("older-basic-ntfs.VQL")).status, ScanLogReadStatus::Loaded);

    const ScanLogReadResult peek = PeekScanLogHeader(deep);
    ASSERT_EQ(peek.status, ScanLogReadStatus::Loaded);
    EXPECT_EQ(peek.document.header, DeepNtfs().header);
    EXPECT_EQ(PeekScanLogHeader(Bytes(deep.begin(), deep.begin() + 50)).status, ScanLogReadStatus::Damaged);
    EXPECT_EQ(PeekScanLogHeader(Bytes{}).status, ScanLogReadStatus::Damaged);
}

// Cutting a log anywhere never crashes and keeps what came before the cut.
TEST(ScanLogOutcome, EveryTruncationKeepsThePrefix)
{
    for (const auto& golden : GoldenScanLogs()) {
        const ScanLogDocument full = AsRead(golden.make());
        const ScanLogReaderKind kind = ReaderOf(full);
        const Bytes bytes = ReadScanLogSample(golden.file);
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<long>(cut));
            const ScanLogReadResult r = ReadScanLog(prefix, kind);
            SCOPED_TRACE(std::string(golden.file) + " cut at " + std::to_string(cut));
            ASSERT_TRUE(r.status == ScanLogReadStatus::Damaged || r.status == ScanLogReadStatus::Loaded)
                << static_cast<int>(r.status);
            if (r.loaded()) {
                EXPECT_NE(r.trailer, ScanLogTrailerState::Complete);
                // Loaded before the end marker only when the tree may end at
                // the end of the file and nothing follows it but the trailer.
                if (cut < MarkerOffset(bytes) + 2 * 21) {
                    EXPECT_TRUE(r.treeEndedWithoutMarker);
                    EXPECT_FALSE(HasFileTable(full));
                }
                // A tree that ends at the end of the file holds as many
                // items after the first as the folder count says.
                if (r.treeEndedWithoutMarker) {
                    EXPECT_EQ(r.document.tree.size() - 1, full.folderCount);
                } else {
                    EXPECT_EQ(r.document.tree, full.tree);
                }
                EXPECT_EQ(r.document.files, full.files);
                EXPECT_EQ(r.document.extents, full.extents);
            } else {
                EXPECT_LE(r.failedOffset, cut);
                EXPECT_NE(r.failedSection, ScanLogSection::End);
                EXPECT_FALSE(r.detail.empty());
            }
            auto isPrefix = [](const auto& part, const auto& whole) {
                return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
            };
            EXPECT_TRUE(isPrefix(r.document.tree, full.tree));
            EXPECT_TRUE(isPrefix(r.document.files, full.files));
            EXPECT_TRUE(isPrefix(r.document.extents, full.extents));
            EXPECT_TRUE(isPrefix(r.document.fileSystemRows, full.fileSystemRows));
            // The sections before the one that failed are whole.
            if (!r.loaded() && r.failedSection > ScanLogSection::Partition) {
                EXPECT_EQ(r.document.partition, full.partition);
            }
            if (!r.loaded() && r.failedSection > ScanLogSection::FolderTree) {
                EXPECT_EQ(r.document.tree, full.tree);
            }

        }
    }
}

// Logs made to hurt: huge counts and lengths end as Damaged at once, with
// nothing allocated for what the file does not hold.
TEST(ScanLogOutcome, HostileCountsAndLengths)
{
    struct Case {
        const char* what;
        ScanLogDocument doc;
        std::function<void(Bytes&)> damage;
        ScanLogSection section;
    };
    auto replaceU64After = [](Bytes& b, const Bytes& anchor, std::uint64_t value) {
        auto at = std::search(b.begin(), b.end(), anchor.begin(), anchor.end());
        ASSERT_NE(at, b.end());
        const auto pos = static_cast<std::size_t>(at - b.begin()) + anchor.size();
        for (int i = 0; i < 8; ++i) b[pos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    // The descriptor's file-system name, then the folder count (Basic FAT32).
    const Bytes fsName = {0xFF, 0xFE, 0xFF, 5, 'F', 0, 'A', 0, 'T', 0, '3', 0, '2', 0};
    const Bytes endMarker = {'|', 0, '\r', 0, '\n', 0};

    const Case cases[] = {
        {"folder count 2^64-1", BasicFat32(),
         [&](Bytes& b) {
             // The last FAT32 text before the count is the file-system name.
             auto at = std::find_end(b.begin(), b.end(), fsName.begin(), fsName.end());
             const auto pos = static_cast<std::size_t>(at - b.begin()) + fsName.size();
             for (int i = 0; i < 8; ++i) b[pos + static_cast<std::size_t>(i)] = 0xFF;
             b.resize(MarkerOffset(b));  // and the file ends before the end marker
         },
         ScanLogSection::FolderTree},
        {"file rows 2^64-1", DeepNtfs(), [&](Bytes& b) { replaceU64After(b, endMarker, ~0ull); },
         ScanLogSection::FileTable},
        {"file-system rows 2^64-1", DeepFat32(),
         [&](Bytes& b) {
             auto at = std::find_end(b.begin(), b.end(), fsName.begin(), fsName.end());
             const auto pos = static_cast<std::size_t>(at - b.begin()) + fsName.size();
             for (int i = 0; i < 8; ++i) b[pos + static_cast<std::size_t>(i)] = 0xFF;
         },
         ScanLogSection::FileSystemRows},
        {"text length above 0x7FFFFFFF", BasicFat32(),
         [&](Bytes& b) {
             // The drive description's text becomes FF FE FF FF FFFF 80000000.
             const Bytes text = {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80};
             b.insert(b.begin() + 4 + 2 * 4 + 4 + 2 * 18, text.begin(), text.end());
         },
         ScanLogSection::Header},
    };
    for (const Case& c : cases) {
        Bytes bytes = Write(c.doc);
        c.damage(bytes);
        const ScanLogReadResult r = ReadScanLog(bytes, ReaderOf(c.doc));
        EXPECT_EQ(r.status, ScanLogReadStatus::Damaged) << c.what;
        EXPECT_EQ(r.failedSection, c.section) << c.what << ": " << r.detail;
    }
}

// A deep chain of folders (each one level below the one before; the log
// grows with the square of the depth, one tab per level per line) reads and
// writes without recursion, and its parents come out in one pass.
TEST(ScanLogOutcome, DeepChainOfFolders)
{
    ScanLogDocument doc = BasicFat32Head(2000);
    doc.tree.push_back(RootItem());
    for (std::size_t i = 1; i <= 2000; ++i)
        doc.tree.push_back(Folder(i, "d", static_cast<std::uint32_t>(i + 2), static_cast<std::uint32_t>(i + 1), 0, 0, 0, 0, 0));
    const ScanLogReadResult r = ReadScanLog(Write(doc), ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded());
    EXPECT_TRUE(r.document == doc);
    const std::vector<std::size_t> parents = ScanLogTreeParents(r.document.tree);
    EXPECT_EQ(parents[2000], 1999u);
}

// ---- what the writer mends ------------------------------------------------

TEST(ScanLogWriter, LineTextsThatWouldBreakTheTreeAreMended)
{
    ScanLogDocument doc = BasicFat32Head(5);
    doc.tree = {RootItem(),
                Item(1, "a\r\nb", Record("a\r\nb", 3, 0, 0, 0, 0, 0, 0)),
                Item(2, "\t\tc", Record("\t\tc", 4, 3, 0, 0, 0, 0, 0)),
                Item(0, "", Record("", 5, 0, 0, 0, 0, 0, 0)),
                Item(0, "KZUWIN7SR2015/:*?\"<>|", Record("x", 6, 0, 0, 0, 0, 0, 0)),
                Item(1, "after", Record("after", 7, 6, 0, 0, 0, 0, 0))};
    const ScanLogReadResult r = ReadScanLog(Write(doc), ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded());
    ASSERT_EQ(r.document.tree.size(), doc.tree.size());
    for (std::size_t i = 0; i < doc.tree.size(); ++i) {
        EXPECT_EQ(r.document.tree[i].depth, doc.tree[i].depth) << i;
        EXPECT_EQ(r.document.tree[i].record, doc.tree[i].record) << i;  // names untouched
    }
    EXPECT_EQ(r.document.tree[1].text, "a  b");
    EXPECT_EQ(r.document.tree[2].text, "  c");
    EXPECT_EQ(r.document.tree[3].text, "?");
    EXPECT_EQ(r.document.tree[4].text, "?");
}

TEST(ScanLogWriter, TreesWithoutRootOrCount)
{
    // An empty tree is written as "Root" with its record.
    ScanLogDocument empty = BasicFat32Head(0);
    ScanLogReadResult r = ReadScanLog(Write(empty), ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded());
    EXPECT_EQ(r.document.tree, (std::vector<ScanLogTreeItem>{RootItem()}));

    // A first item without a record: a first line of one tab.
    ScanLogDocument noRoot = BasicFat32Head(1);
    noRoot.tree = {Item(0, "", {}), Folder(1, "A", 3, 0, 0, 0, 0, 0, 0)};
    r = ReadScanLog(Write(noRoot), ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded());
    EXPECT_TRUE(r.document == noRoot);
}

// Every source form the writer produces reads back as it was written.
TEST(ScanLogWriter, SourceFormsRoundTrip)
{
    struct Case {
        const char* kind;
        std::uint32_t mode;
        ScanLogSource source;
    };
    ScanLogSource tagOnly;
    tagOnly.form = ScanLogSourceForm::TagOnly;
    tagOnly.tag = "NET";
    const Case cases[] = {
        {"Logical", 1, MakeLogicalScanLogSource("\\\\.\\F:", 1000)},
        {"Logical", 1, MakePhysicalScanLogSource(kDiskId, 3)},  // a volume read through its disk
        {"Logical", 2, tagOnly},
        {"Recognised", 2, MakeLogicalScanLogSource("/dev/sdb1", 2000)},
        {"Recognised", 1, MakePhysicalScanLogSource(kDiskId, 2)},
        {"Hard Disk", 2, MakePhysicalScanLogSource(kDiskId, 65535)},
    };
    for (const Case& c : cases) {
        ScanLogDocument doc = c.mode == 2 ? DeepNtfs() : BasicFat32();
        doc.header.sourceKind = c.kind;
        doc.source = c.source;
        const ScanLogReadResult r = ReadScanLog(Write(doc), ReaderOf(doc));
        ASSERT_TRUE(r.loaded()) << c.kind << " " << c.mode;
        EXPECT_TRUE(r.document == AsRead(doc)) << c.kind << " " << c.mode;
    }
}

TEST(ScanLogWriter, DocumentsThatCannotBeWritten)
{
    struct Case {
        const char* what;
        std::function<void(ScanLogDocument&)> change;
    } cases[] = {
        {"mode 3", [](ScanLogDocument& d) { d.header.mode = 3; }},
        {"volume path of a disk kind", [](ScanLogDocument& d) { d.source = MakeLogicalScanLogSource("x", 1); }},
        {"disk identity with the tag LOG under a volume kind",
         [](ScanLogDocument& d) {
             d.header.sourceKind = "Logical";
             d.source.tag = "LOG";
         }},
        {"tag alone for a disk", [](ScanLogDocument& d) {
             d.source.form = ScanLogSourceForm::TagOnly;
             d.source.tag = "X";
         }},
        {"first item below the top", [](ScanLogDocument& d) { d.tree[0].depth = 1; }},
        {"a jump of two levels", [](ScanLogDocument& d) { d.tree[2].depth = 3; }},
    };
    for (const Case& c : cases) {
        ScanLogDocument doc = BasicFat32();
        c.change(doc);
        EXPECT_FALSE(ScanLogDocumentProblem(doc).empty()) << c.what;
        Bytes out{1, 2, 3};
        const ScanLogWriteResult r = WriteScanLog(doc, out);
        EXPECT_EQ(r.error, EINVAL) << c.what;
        EXPECT_FALSE(r.message.empty());
        EXPECT_TRUE(out.empty());
    }
    // A "Recognised" volume by its path is fine in a Deep log only.
    ScanLogDocument deep = DeepExfatRecognised();
    EXPECT_EQ(ScanLogDocumentProblem(deep), "");
    deep.header.mode = 1;
    EXPECT_NE(ScanLogDocumentProblem(deep), "");
}

// ---- document helpers ------------------------------------------------------

TEST(ScanLogDocumentHelpers, FileRows)
{
    const ScanLogFileRow row = MakeScanLogFileRow(5, 18446744073709551615ull, "a.txt", 1800, "t1", "1", "t3");
    EXPECT_EQ(row, (ScanLogFileRow{"5|18446744073709551615|", "a.txt", "1800", "t1", "1", "5", "t3"}));
    EXPECT_EQ(ScanLogFileRowParentId(row), 5u);
    EXPECT_EQ(ScanLogFileRowSize(row), 1800u);
    EXPECT_EQ(ScanLogFileRowOwnId(row), 18446744073709551615ull);

    struct Case {
        std::string ids;
        std::uint64_t own;
    } cases[] = {{"5|1234|", 1234}, {"1234", 1234}, {" 7 | 8 |", 8}, {"5||9|", 9}, {"5|", 0}, {"5|-1|", ~0ull},
                 {"5|x|", 0}};
    for (const Case& c : cases) {
        ScanLogFileRow r;
        r[0] = c.ids;
        EXPECT_EQ(ScanLogFileRowOwnId(r), c.own) << c.ids;
    }
}

TEST(ScanLogDocumentHelpers, SourceForms)
{
    struct Case {
        const char* kind;
        std::uint32_t mode;
        bool throughDisk;
        ScanLogSourceForm form;
    } cases[] = {
        {"Logical", 1, false, ScanLogSourceForm::Logical},   {"Logical", 2, false, ScanLogSourceForm::Logical},
        {"Recognised", 2, false, ScanLogSourceForm::Logical}, {"Recognised", 1, false, ScanLogSourceForm::Physical},
        {"Logical", 1, true, ScanLogSourceForm::Physical},    {"Hard Disk", 2, false, ScanLogSourceForm::Physical},
        {"part", 1, false, ScanLogSourceForm::Physical},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseScanLogSourceForm(c.kind, c.mode, c.throughDisk), c.form) << c.kind << c.mode << c.throughDisk;
}

TEST(ScanLogDocumentHelpers, TreeParents)
{
    const std::vector<ScanLogTreeItem> tree = {RootItem(), Item(1, "a", {}), Item(2, "b", {}), Item(1, "c", {}),
                                               Item(0, "d", {}), Item(1, "e", {})};
    EXPECT_EQ(ScanLogTreeParents(tree),
              (std::vector<std::size_t>{kNoScanLogParent, 0, 1, 0, kNoScanLogParent, 4}));
}

TEST(ScanLogDocumentHelpers, TreeWalkOverTheResultsTree)
{
    TreeModel tree;
    const TreeNodeId root = tree.InsertChild(kNoTreeNode, "Root");
    const TreeNodeId a = tree.InsertChild(root, "a");
    const TreeNodeId b = tree.InsertChild(a, "b");
    const TreeNodeId c = tree.InsertChild(root, "c");
    const TreeNodeId misc = tree.InsertChild(kNoTreeNode, "KZU_Miscellaneous");
    const TreeNodeId d = tree.InsertChild(misc, "d");

    std::vector<TreeNodeId> order;
    std::vector<std::uint64_t> depths;
    for (TreeNodeId n = GetNextTreeItemPreorder(tree, kNoTreeNode); n != kNoTreeNode; n = GetNextTreeItemPreorder(tree, n)) {
        order.push_back(n);
        depths.push_back(GetTreeItemDepth(tree, n));
    }
    EXPECT_EQ(order, (std::vector<TreeNodeId>{root, a, b, c, misc, d}));
    EXPECT_EQ(depths, (std::vector<std::uint64_t>{0, 1, 2, 1, 0, 1}));
}

}  // namespace
}  // namespace torvane
