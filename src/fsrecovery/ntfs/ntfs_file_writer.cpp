#include "fsrecovery/ntfs/ntfs_file_writer.h"

#include "fsrecovery/ntfs/ntfs_file_reader.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "results/recovered_target.h"
#include "results/save_destination.h"
#include "results/save_target.h"

#include <array>

namespace torvane {
namespace {

constexpr char kNoDataAttributeText[] = "its data attribute is missing or damaged";

NtfsVolume VolumeOf(Device& device, const NtfsSaveContext& context)
{
    NtfsVolume v;
    v.device = &device;
    v.cluster0Sector = context.cluster0Sector;
    v.sectorsPerCluster = context.sectorsPerCluster;
    v.endSector = context.endSector;
    return v;
}


FileOutcome WriteRecordData(SaveSession& session, Device& device, const NtfsSaveContext& context,
                            const std::uint8_t* record, std::uint64_t size, std::string& target, std::string& name,
                            std::uint64_t recordNumber)
{
    FileOutcome failure = FileOutcome::Failed;
    std::unique_ptr<TargetFile> file = OpenRecoveredTarget(session, target, name, failure);
    if (!file)
        return failure;
    TargetSinkOf<NtfsDataSink> sink(*file);
    NtfsReadControl control;
    ReadProgressCounter counter(session);
    counter.Attach(control);
    const NtfsVolume volume = VolumeOf(device, context);
    NtfsReadReport report =
        ReadNtfsFileData(volume, NtfsBytes(record, kMftRecordSize), size, sink, control, context.mft.get(),
                         recordNumber);
    counter.Finish(report.bytesWritten);

    CopyResult copy;
    copy.bytesWritten = report.bytesWritten;
    copy.unreadableSectors = report.unreadableSectors + report.damagedUnits;
    copy.stopped = report.outcome == NtfsReadOutcome::Stopped;
    copy.writeError = sink.error();
    // A file record without a readable unnamed $DATA (the attribute damaged
    // or gone) has no data to give, whatever size the scan knew: an empty file
    // is not the file, and the report says so. An empty file keeps an empty
    // $DATA of its own and is complete.
    std::string why;
    // The metadata files that keep their content in an index ($Secure,
    // $Quota, $ObjId, $Reparse) have no unnamed $DATA at all: an empty file
    // is all there is to save of them.
    const bool indexOnly =
        size == 0 && FindNtfsAttribute(NtfsBytes(record, kMftRecordSize), kNtfsAttrIndexRoot, false).has_value();
    if (report.outcome == NtfsReadOutcome::NoData && !indexOnly)
        why = kNoDataAttributeText;
    else if (report.outcome == NtfsReadOutcome::Incomplete)
        why = kDataPastEndText;
    return FinishTarget(session, std::move(file), target, copy, size, why);
}

}  // namespace

FileOutcome SaveFileByMftBuffer(SaveSession& session, Device& device, const NtfsSaveContext& context,
                                const std::uint8_t* record, std::uint64_t size, std::string target, std::string name,
                                bool resolveConflict)
{
    if (!SettleTarget(session, target, name, size, resolveConflict))
        return FileOutcome::Skipped;
    return WriteRecordData(session, device, context, record, size, target, name, ~std::uint64_t(0));
}

FileOutcome SaveFileByMftRecord(SaveSession& session, Device& device, const NtfsSaveContext& context,
                                std::uint64_t recordSector, std::uint64_t size, std::string target, std::string name,
                                bool resolveConflict)
{
    if (!SettleTarget(session, target, name, size, resolveConflict))
        return FileOutcome::Skipped;
    std::array<std::uint8_t, kMftRecordSize> record{};
    // Through the run table when it knows the record (a record cut in two by
    // the end of an $MFT extent is read from both places).
    std::uint64_t number = ~std::uint64_t(0);
    if (context.mft)
        number = context.mft->SectorToMftRecord(recordSector).value_or(number);
    const NtfsVolume volume = VolumeOf(device, context);
    const MftRecordRead read = number != ~std::uint64_t(0)
                                   ? ReadMftRecordByNumber(volume, *context.mft, number, record.data())
                                   : ReadMftRecord(volume, recordSector, record.data());
    if (read != MftRecordRead::Ok) {
        // Nothing is known of the file's data: no file is made, and the
        // report says why (an empty file would pass for a saved one).
        const char* why = read == MftRecordRead::ReadFailed ? "its FILE record could not be read"
                                                            : "its FILE record is damaged";
        session.Report().Add(FileOutcome::Failed, target, why);
        return FileOutcome::Failed;
    }
    // The record's own number tells its extension records apart from
    // records of other files (records older than NTFS 3.1 do not hold it).
    return WriteRecordData(session, device, context, record.data(), size, target, name, number);
}

FoundEntryWriter MakeNtfsEntryWriter(NtfsSaveContext context)
{
    return [context = std::move(context)](SaveSession& session, Device& device, const FoundEntry& entry,
                                          const std::string& target, const std::string& name) {
        return SaveFileByMftRecord(session, device, context, entry.ownId, entry.size, target, name, true);
    };
}

NtfsSaveContext NtfsSaveContextOf(const CurrentPartition& partition, std::shared_ptr<const MftRunTable> mft)
{
    NtfsSaveContext c;
    c.cluster0Sector = partition.Geometry.Cluster0Start;
    c.sectorsPerCluster = partition.Geometry.SectorsPerCluster;
    c.endSector = partition.Descriptor.EndSector;
    c.mft = std::move(mft);
    return c;
}

}  // namespace torvane
