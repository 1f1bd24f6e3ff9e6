// Feeds arbitrary bytes to the scan-log header peek and to both readers, as
// the bytes of a log file. A log that loads must be writable, and what is
// written must load again with the same contents (the writer's own mending of
// line texts, the source kind and a folder count of 0 aside). What was read
// (whole or up to a break) then goes into a session's results as a load puts
// it there: the tree by indentation, the found files from their texts, and a
// Deep log's file-system and extent rows into a Deep session's tables (whose
// rows must read back as the texts they were written as).
#include "fsrecovery/deep_scan_log.h"
#include "fsrecovery/scan_log_session.h"
#include "results/scan_log_document.h"
#include "results/scan_log_reader.h"
#include "results/scan_log_writer.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

using namespace torvane;

void Check(bool ok)
{
    if (!ok) __builtin_trap();
}

void RoundTrip(const ScanLogDocument& doc, ScanLogReaderKind kind)
{
    Check(ScanLogDocumentProblem(doc).empty());
    std::vector<std::uint8_t> bytes;
    Check(WriteScanLog(doc, bytes).ok());
    const ScanLogReadResult again = ReadScanLog(bytes, kind);
    Check(again.loaded());
    Check(again.trailer == ScanLogTrailerState::Complete);

    const ScanLogDocument& d = again.document;
    Check(d.generation == ScanLogGeneration::Current);
    Check(d.header.mode == doc.header.mode && d.header.driveDescription == doc.header.driveDescription);
    Check(d.source == doc.source);
    Check(d.partition == doc.partition);
    Check(d.geometry == doc.geometry && d.descriptorGeometry == doc.descriptorGeometry);
    Check(d.fsName == doc.fsName);
    Check(d.fileSystemRows == doc.fileSystemRows);
    Check(d.tree.size() == doc.tree.size());
    for (std::size_t i = 0; i < d.tree.size(); ++i) {
        Check(d.tree[i].depth == doc.tree[i].depth);
        Check(d.tree[i].record == doc.tree[i].record);
    }
    Check(d.files == doc.files);
    Check(d.sortedFlag == doc.sortedFlag || !HasFileTable(doc));
    Check(d.extents == doc.extents);
    Check(d.trailer == doc.trailer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    (void)PeekScanLogHeader(bytes);
    for (ScanLogReaderKind kind : {ScanLogReaderKind::Basic, ScanLogReaderKind::Deep}) {
        const ScanLogReadResult r = ReadScanLog(bytes, kind);
        const ScanLogDocument& doc = r.document;

        // What a loader does with what was read, loaded or not.
        const std::vector<std::size_t> parents = ScanLogTreeParents(doc.tree);
        for (std::size_t i = 0; i < parents.size(); ++i) Check(parents[i] == kNoScanLogParent || parents[i] < i);
        for (const ScanLogFileRow& row : doc.files) {
            (void)ScanLogFileRowOwnId(row);
            (void)ScanLogFileRowParentId(row);
            (void)ScanLogFileRowSize(row);
        }

        if (r.loaded()) RoundTrip(doc, kind);

        ScanResults results;
        const int mode = kind == ScanLogReaderKind::Deep ? 2 : 1;
        const ScanLogInsertCount count = InsertScanLogResults(doc, results, mode);
        Check(count.folders + 1 <= doc.tree.size() + 1);
        // Every folder record is counted but for the miscellaneous folder,
        // which only some scans count.
        std::uint64_t misc = 0;
        for (const RecoveredFolder* f = results.FirstFolder(); f; f = f->next)
            misc += f->selfId == kMiscFolderId ? 1 : 0;
        Check(count.folders == results.FolderCount() || count.folders + misc == results.FolderCount());
        Check(count.files == (HasFileTable(doc) ? doc.files.size() : 0));
        Check(results.Tree().RootItem() != kNoTreeNode);
        (void)ScanTimeOfExfatRows(doc.files);
        const CurrentPartition partition = ScanLogPartitionOf(doc);

        // The Deep tables: rows restored, bounded, and written back as the
        // same texts once read; without a device no volume is made.
        DeepTables tables;
        DeepScanLogTables deep(tables);
        deep.RestoreTables(doc.fileSystemRows, doc.extents);
        Check(tables.fileSystems.size() <= kMaxDeepLogFileSystems);
        Check(tables.FoundFileSystems().size() == tables.fileSystems.size());
        const std::vector<ScanLogFileSystemRow> rows = deep.FileSystemRows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            Check(FileSystemRowOfScanLogTexts(rows[i]).cluster0Start == tables.fileSystems[i].cluster0Start);
        Check(deep.ExtentRows().size() == doc.extents.size());
        Check(deep.RebuildVolumes(partition, results).empty());
    }
    return 0;
}
