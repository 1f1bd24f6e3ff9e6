// The scan-log readers: sections in file order, each generation's records
// and rows, the tree rebuilt by depth, and failures that keep what came before.
#include "results/scan_log_reader.h"

#include "base/text_encoding.h"
#include "results/scan_log_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>

namespace torvane {
namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::size_t LeadingTabs(std::u16string_view line)
{
    std::size_t n = 0;
    while (n < line.size() && line[n] == u'\t') ++n;
    return n;
}

class LogReader {
public:
    LogReader(ScanLogArchiveReader& in, ScanLogReaderKind kind, ScanLogReadResult& result)
        : in_(in), kind_(kind), result_(result), doc_(result.document)
    {
    }

    void Run(bool headerOnly)
    {
        Attempt(headerOnly);
        if (result_.status != ScanLogReadStatus::Damaged) result_.failedSection = ScanLogSection::End;
    }

private:
    void Attempt(bool headerOnly)
    {
        try {
            if (!ReadHeader(headerOnly)) return;
            if (headerOnly) {
                result_.status = ScanLogReadStatus::Loaded;
                return;
            }
            ReadSource();
            ReadPartition();
            ReadGeometries();
            ReadFileSystemRows();
            Enter(ScanLogSection::FolderCount);
            doc_.folderCount = in_.U64();
            ReadTree();
            ReadFileTable();
            ReadTrailer();
            result_.status = ScanLogReadStatus::Loaded;
        } catch (const ScanLogReadError& e) {
            Fail(e.what(), e.offset());
        } catch (const std::bad_alloc&) {
            Fail("not enough memory", in_.Position());
        }
    }

    void Enter(ScanLogSection section) { result_.failedSection = section; }

    void Fail(const std::string& detail, std::uint64_t offset)
    {
        result_.status = ScanLogReadStatus::Damaged;
        result_.failedOffset = offset;
        result_.detail = detail;
    }

    bool Deep() const { return doc_.header.mode == kScanLogDeepMode; }

    // Returns false when the log goes no further with this reader.
    bool ReadHeader(bool peek)
    {
        Enter(ScanLogSection::Header);
        ScanLogHeader& h = doc_.header;
        h.sourceKind = in_.Text();
        h.magic = in_.Text();
        const bool oldest = !peek && kind_ == ScanLogReaderKind::Basic &&
                            (Contains(h.sourceKind, kScanLogMagicStem) || Contains(h.sourceKind, kScanLogOldestStem));
        if (oldest) h.magic = kScanLogOldestMagic;
        if (!Contains(h.magic, kScanLogMagicStem)) {
            result_.status = ScanLogReadStatus::InvalidLog;
            result_.detail = "not a scanning log";
            return false;
        }
        doc_.generation = oldest                           ? ScanLogGeneration::Oldest
                          : Contains(h.magic, kScanLogMagic) ? ScanLogGeneration::Current
                                                             : ScanLogGeneration::Older;
        h.driveDescription = in_.Text();
        h.mode = in_.U32();
        if (peek) {
            if (h.mode == kScanLogBasicMode || h.mode == kScanLogDeepMode) return true;
            result_.status = ScanLogReadStatus::UnknownMode;
            return false;
        }
        const std::uint32_t own = kind_ == ScanLogReaderKind::Basic ? kScanLogBasicMode : kScanLogDeepMode;
        const std::uint32_t other = kind_ == ScanLogReaderKind::Basic ? kScanLogDeepMode : kScanLogBasicMode;
        if (h.mode == own) return true;
        result_.status = h.mode == other ? ScanLogReadStatus::HandOver : ScanLogReadStatus::UnknownMode;
        return false;
    }

    void ReadSource()
    {
        Enter(ScanLogSection::Source);
        ScanLogSource& s = doc_.source;
        s.tag = in_.Text();
        if (IsScanLogVolumeKind(doc_.header.sourceKind, doc_.header.mode)) {
            if (s.tag == "LOG") {
                s.form = ScanLogSourceForm::Logical;
                s.volumePath = in_.Text();
                s.volumeSectors = in_.U64();
                return;
            }
            if (s.tag != "PHY") {
                s.form = ScanLogSourceForm::TagOnly;
                return;
            }
        }
        s.form = ScanLogSourceForm::Physical;
        s.diskIdentity = in_.Text();
        s.diskNumber = in_.U16();
    }

    void ReadPartition()
    {
        Enter(ScanLogSection::Partition);
        ScanLogPartition& p = doc_.partition;
        p.diskNumber = in_.U16();
        p.partitionIndex = in_.U32();
        p.fsType = in_.Text();
        p.searchMode = in_.Text();
        p.rangeStart = in_.U64();
        p.rangeEnd = in_.U64();
        p.itemStart = in_.U64();
        p.itemEnd = in_.U64();
        p.byteLimit = in_.U64();
    }

    void ReadGeometry(ScanLogGeometry& g)
    {
        g.sectorsPerFat = in_.U32();
        g.sectorsPerCluster = in_.U32();
        g.rootSectors = in_.U32();
        g.rootStart = in_.U32();
        g.reservedSectors = in_.U32();
        g.cluster0Start = in_.U64();
        g.firstFatStart = in_.U32();
        g.secondFatStart = in_.U32();
        g.mftStart = in_.U64();
        g.mftMirrStart = in_.U64();
        g.fileRecordSectors = in_.U32();
        g.indexRecordSectors = in_.U32();
    }

    void ReadGeometries()
    {
        Enter(ScanLogSection::Geometry);
        ReadGeometry(doc_.geometry);
        Enter(ScanLogSection::DescriptorGeometry);
        ReadGeometry(doc_.descriptorGeometry);
        doc_.fsName = in_.Text();
    }

    void ReadFileSystemRows()
    {
        if (!HasFileSystemRows(doc_)) return;
        Enter(ScanLogSection::FileSystemRows);
        const std::uint64_t count = in_.U64();
        // Each row ends the loop at the end of the file at the latest: the
        // count only says how many to try.
        for (std::uint64_t i = 0; i < count; ++i) doc_.fileSystemRows.push_back(in_.Row<12>());
    }

    ScanLogFolderRecord ReadRecord()
    {
        ScanLogFolderRecord r;
        r.name = in_.Text();
        r.ownId = in_.U32();
        r.parentId = in_.U32();
        r.date = in_.U64();
        r.time = in_.U64();
        r.deleted = in_.U32();
        if (Deep()) r.fsKey = in_.U64();
        if (doc_.generation == ScanLogGeneration::Current) r.fileCount = in_.U64();
        return r;
    }

    void ReadTree()
    {
        Enter(ScanLogSection::FolderTree);
        const std::optional<std::u16string> first = in_.Line();
        const std::u16string firstLine = first.value_or(u"");
        const std::size_t firstTabs = LeadingTabs(firstLine);
        ScanLogTreeItem root;
        root.text = Utf16ToUtf8(std::u16string_view(firstLine).substr(firstTabs));
        const bool zeroCount = doc_.folderCount == 0;
        if (zeroCount || firstLine != u"\t") root.record = ReadRecord();
        doc_.tree.push_back(std::move(root));

        if (zeroCount) {
            // The root and the end marker are all there should be. A line that
            // is neither (a tree written with a count of 0) is read as the
            // tree's next line rather than taken for the marker.
            const std::optional<std::u16string> next = in_.Line();
            if (!next) {
                result_.treeEndedWithoutMarker = true;
                return;
            }
            if (next->empty() || *next == kScanLogEndMarker) return;
            AddItem(*next, firstTabs);
        }

        while (true) {
            const std::optional<std::u16string> line = in_.Line();
            if (!line) {
                if (doc_.tree.size() - 1 == doc_.folderCount) {
                    result_.treeEndedWithoutMarker = true;
                    return;
                }
                throw ScanLogReadError("end of file inside the folder tree", in_.Position());
            }
            if (*line == kScanLogEndMarker) return;
            if (line->empty()) continue;
            AddItem(*line, firstTabs);
        }
    }

    // One later item: its depth from the line, then its record.
    void AddItem(const std::u16string& line, std::size_t firstTabs)
    {
        const std::size_t tabs = LeadingTabs(line);
        const std::size_t previous = doc_.tree.back().depth;
        // Level = tabs - firstTabs, no deeper than under the previous item,
        // and a level above the first line's is the top level.
        const std::size_t level = tabs > firstTabs ? tabs - firstTabs : 0;
        ScanLogTreeItem item;
        item.depth = std::min(level, previous + 1);
        item.text = Utf16ToUtf8(std::u16string_view(line).substr(tabs));
        item.record = ReadRecord();
        doc_.tree.push_back(std::move(item));
    }

    void ReadFileTable()
    {
        if (!HasFileTable(doc_)) return;
        Enter(ScanLogSection::FileTable);
        const std::uint64_t count = in_.U64();
        const bool sixTexts = kind_ == ScanLogReaderKind::Basic && doc_.generation != ScanLogGeneration::Current;
        for (std::uint64_t i = 0; i < count; ++i) {
            ScanLogFileRow row;
            for (std::size_t t = 0; t < (sixTexts ? 6u : 7u); ++t) row[t] = in_.Text();
            doc_.files.push_back(std::move(row));
        }
        doc_.sortedFlag = in_.U32();

        if (!Deep()) return;
        Enter(ScanLogSection::ExtentRows);
        const std::uint32_t extents = in_.U32();
        for (std::uint32_t i = 0; i < extents; ++i) doc_.extents.push_back(in_.Row<6>());
    }

    void ReadTrailer()
    {
        Enter(ScanLogSection::Trailer);
        try {
            doc_.trailer.sourceDescription = in_.Text();
        } catch (const ScanLogReadError&) {
            // No trailer, or one cut inside its text: the end of the log either way.
            result_.trailer = ScanLogTrailerState::Missing;
            return;
        }
        try {
            doc_.trailer.selectedVolumeStart = in_.U64();
        } catch (const ScanLogReadError&) {
            result_.trailer = ScanLogTrailerState::DescriptionOnly;
            return;
        }
        result_.trailer = ScanLogTrailerState::Complete;
    }

    ScanLogArchiveReader& in_;
    ScanLogReaderKind kind_;
    ScanLogReadResult& result_;
    ScanLogDocument& doc_;
};

ScanLogReadResult Read(ScanLogArchiveReader& in, ScanLogReaderKind kind, bool headerOnly)
{
    ScanLogReadResult result;
    LogReader(in, kind, result).Run(headerOnly);
    return result;
}

ScanLogReadResult ReadFile(const std::filesystem::path& path, ScanLogReaderKind kind, bool headerOnly)
{
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    std::error_code ec;
    const std::uintmax_t size = file ? std::filesystem::file_size(path, ec) : 0;
    if (!file || ec) {
        ScanLogReadResult result;
        result.status = ScanLogReadStatus::OpenFailed;
        result.error = ec ? ec.value() : (errno != 0 ? errno : EIO);
        result.detail = std::generic_category().message(result.error);
        return result;
    }
    ScanLogArchiveReader in(file, size);
    return Read(in, kind, headerOnly);
}

}  // namespace

ScanLogReadResult ReadScanLog(std::span<const std::uint8_t> bytes, ScanLogReaderKind reader)
{
    ScanLogArchiveReader in(bytes);
    return Read(in, reader, false);
}

ScanLogReadResult ReadScanLogFile(const std::filesystem::path& path, ScanLogReaderKind reader)
{
    return ReadFile(path, reader, false);
}

ScanLogReadResult PeekScanLogHeader(std::span<const std::uint8_t> bytes)
{
    ScanLogArchiveReader in(bytes);
    return Read(in, ScanLogReaderKind::Basic, true);
}

ScanLogReadResult PeekScanLogHeaderFile(const std::filesystem::path& path)
{
    return ReadFile(path, ScanLogReaderKind::Basic, true);
}

}  // namespace torvane
