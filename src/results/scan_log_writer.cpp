// The scan-log writer: sections in file order, and the replace-by-rename of
// the file on disk.
#include "results/scan_log_writer.h"

#include "base/text_encoding.h"
#include "results/scan_log_archive.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace torvane {
namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string KindForWriting(const std::string& kind)
{
    if (Contains(kind, kScanLogMagicStem) || Contains(kind, kScanLogOldestStem)) return "Hard Disk";
    return kind;
}

// A line text that reads back as one line of the right depth.
std::u16string LineUnits(std::string_view text, bool laterItem, std::size_t depth)
{
    std::u16string units = Utf8ToUtf16(text);
    for (char16_t& u : units)
        if (u == u'\r' || u == u'\n' || u == u'\t') u = u' ';
    if (laterItem && (units.empty() || (depth == 0 && units == kScanLogEndMarker))) return std::u16string(1, u'?');
    return units;
}

void WriteGeometry(ScanLogArchiveWriter& w, const ScanLogGeometry& g)
{
    w.U32(g.sectorsPerFat);
    w.U32(g.sectorsPerCluster);
    w.U32(g.rootSectors);
    w.U32(g.rootStart);
    w.U32(g.reservedSectors);
    w.U64(g.cluster0Start);
    w.U32(g.firstFatStart);
    w.U32(g.secondFatStart);
    w.U64(g.mftStart);
    w.U64(g.mftMirrStart);
    w.U32(g.fileRecordSectors);
    w.U32(g.indexRecordSectors);
}

void WriteRecord(ScanLogArchiveWriter& w, const ScanLogFolderRecord& r, bool deep)
{
    w.Text(r.name);
    w.U32(r.ownId);
    w.U32(r.parentId);
    w.U64(r.date);
    w.U64(r.time);
    w.U32(r.deleted);
    if (deep) w.U64(r.fsKey);
    w.U64(r.fileCount);
}

void WriteTree(ScanLogArchiveWriter& w, const ScanLogDocument& doc)
{
    const bool deep = IsDeepScanLog(doc);
    const std::size_t later = doc.tree.empty() ? 0 : doc.tree.size() - 1;
    w.U64(doc.folderCount == 0 && later > 0 ? later : doc.folderCount);

    if (doc.tree.empty()) {
        w.Line(u"Root");
        WriteRecord(w, MakeScanLogRootRecord(), deep);
    }
    // Readers take the first line's tabs off every later line.
    const std::size_t firstTabs = !doc.tree.empty() && !doc.tree[0].record ? 1 : 0;
    for (std::size_t i = 0; i < doc.tree.size(); ++i) {
        const ScanLogTreeItem& item = doc.tree[i];
        if (i == 0) {
            if (item.record) {
                w.Line(LineUnits(item.text, false, 0));
                WriteRecord(w, *item.record, deep);
            } else {
                w.Line(u"\t");  // a first line of one tab: no root record follows
            }
            continue;
        }
        std::u16string line(firstTabs + item.depth, u'\t');
        line += LineUnits(item.text, true, item.depth);
        w.Line(line);
        WriteRecord(w, item.record ? *item.record : ScanLogFolderRecord{}, deep);
    }
    w.Line(kScanLogEndMarker);
}

void WriteDocument(ScanLogArchiveWriter& w, const ScanLogDocument& doc)
{
    // 1. Header.
    w.Text(KindForWriting(doc.header.sourceKind));
    w.Text(kScanLogMagic);
    w.Text(doc.header.driveDescription);
    w.U32(doc.header.mode);

    // 2. Source.
    w.Text(doc.source.tag);
    switch (doc.source.form) {
        case ScanLogSourceForm::Physical:
            w.Text(doc.source.diskIdentity);
            w.U16(doc.source.diskNumber);
            break;
        case ScanLogSourceForm::Logical:
            w.Text(doc.source.volumePath);
            w.U64(doc.source.volumeSectors);
            break;
        case ScanLogSourceForm::TagOnly:
            break;
    }

    // 3. Partition.
    const ScanLogPartition& p = doc.partition;
    w.U16(p.diskNumber);
    w.U32(p.partitionIndex);
    w.Text(p.fsType);
    w.Text(p.searchMode);
    w.U64(p.rangeStart);
    w.U64(p.rangeEnd);
    w.U64(p.itemStart);
    w.U64(p.itemEnd);
    w.U64(p.byteLimit);

    // 4. and 5. Geometry, the descriptor's copy and the file-system name.
    WriteGeometry(w, doc.geometry);
    WriteGeometry(w, doc.descriptorGeometry);
    w.Text(doc.fsName);

    // 6. FAT file systems of a Deep Search.
    if (HasFileSystemRows(doc)) {
        w.U64(doc.fileSystemRows.size());
        for (const ScanLogFileSystemRow& row : doc.fileSystemRows) w.Row(row);
    }

    // 7. and 8. Folder count and tree.
    WriteTree(w, doc);

    // 9. File table, sorted flag, extents.
    if (HasFileTable(doc)) {
        w.U64(doc.files.size());
        for (const ScanLogFileRow& row : doc.files) w.Row(row);
        w.U32(doc.sortedFlag);
        if (HasExtentRows(doc)) {
            w.U32(static_cast<std::uint32_t>(doc.extents.size()));
            for (const ScanLogExtentRow& row : doc.extents) w.Row(row);
        }
    }

    // 10. Trailer.
    w.Text(doc.trailer.sourceDescription);
    w.U64(doc.trailer.selectedVolumeStart);
}

std::string ErrorText(int error) { return std::generic_category().message(error); }

ScanLogWriteResult Failure(int error, const std::string& message) { return ScanLogWriteResult{error, message}; }

int WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Creates a new, empty file beside `path` that no one else uses.
int CreateTemporary(const std::filesystem::path& path, std::filesystem::path& temp)
{
    static std::atomic<std::uint64_t> counter{0};
    std::random_device entropy;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::uint64_t tag = (static_cast<std::uint64_t>(entropy()) << 20) ^ counter.fetch_add(1) ^
                                  static_cast<std::uint64_t>(::getpid());
        temp = folder / ("." + path.filename().string() + "." + std::to_string(tag) + ".tmp");
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -errno;
    }
    return -EEXIST;
}

void SyncFolder(const std::filesystem::path& path)
{
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename itself has been done
    ::close(fd);
}

}  // namespace

std::string ScanLogDocumentProblem(const ScanLogDocument& doc)
{
    const std::uint32_t mode = doc.header.mode;
    if (mode != kScanLogBasicMode && mode != kScanLogDeepMode) return "the mode is neither 1 nor 2";

    const std::string kind = KindForWriting(doc.header.sourceKind);
    const bool volumeKind = IsScanLogVolumeKind(kind, mode);
    switch (doc.source.form) {
        case ScanLogSourceForm::Physical:
            if (volumeKind && doc.source.tag != "PHY") return "a volume kind with a disk identity needs the tag \"PHY\"";
            break;
        case ScanLogSourceForm::Logical:
            if (!volumeKind) return "only a volume kind can be logged by its volume path";
            if (doc.source.tag != "LOG") return "a volume path needs the tag \"LOG\"";
            break;
        case ScanLogSourceForm::TagOnly:
            if (!volumeKind) return "only a volume kind can be logged by its tag alone";
            if (doc.source.tag == "PHY" || doc.source.tag == "LOG") return "a tag alone cannot be \"PHY\" or \"LOG\"";
            break;
    }

    for (std::size_t i = 0; i < doc.tree.size(); ++i) {
        const std::size_t limit = i == 0 ? 0 : doc.tree[i - 1].depth + 1;
        if (doc.tree[i].depth > limit) return "tree item " + std::to_string(i) + " is too deep";
    }
    if (HasExtentRows(doc) && doc.extents.size() > 0xFFFFFFFFull) return "too many extent rows";
    return {};
}

ScanLogWriteResult WriteScanLog(const ScanLogDocument& doc, std::vector<std::uint8_t>& out)
{
    out.clear();
    const std::string problem = ScanLogDocumentProblem(doc);
    if (!problem.empty()) return Failure(EINVAL, "The scanning log cannot be written: " + problem + ".");
    ScanLogArchiveWriter w([&out](const std::uint8_t* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
        return 0;
    });
    WriteDocument(w, doc);
    w.Flush();
    return {};
}

ScanLogWriteResult WriteScanLogFile(const ScanLogDocument& doc, const std::filesystem::path& path)
{
    const std::string problem = ScanLogDocumentProblem(doc);
    if (!problem.empty()) return Failure(EINVAL, "The scanning log cannot be written: " + problem + ".");

    const std::string where = "The scanning log \"" + path.string() + "\" could not be written: ";
    std::filesystem::path temp;
    const int fd = CreateTemporary(path, temp);
    if (fd < 0) return Failure(-fd, where + ErrorText(-fd) + ".");

    ScanLogArchiveWriter w([fd](const std::uint8_t* data, std::size_t size) { return WriteAll(fd, data, size); });
    WriteDocument(w, doc);
    int error = w.Flush();
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return Failure(error, where + ErrorText(error) + ".");
    }
    SyncFolder(path);
    return {};
}

}  // namespace torvane
