#include "fsrecovery/exfat/exfat_file_writer.h"

#include "fsrecovery/exfat/exfat_file_reader.h"
#include "results/recovered_target.h"
#include "results/save_destination.h"
#include "results/save_target.h"

namespace torvane {

FileOutcome SaveExfatFile(SaveSession& session, Device& device, const ExfatSaveContext& context,
                          std::uint64_t firstSector, std::uint64_t size, std::string target, std::string name,
                          bool resolveConflict, const FoundEntry* entry)
{
    if (!SettleTarget(session, target, name, size, resolveConflict))
        return FileOutcome::Skipped;
    ExfatVolume volume = context.volume;
    volume.device = &device;

    ExfatFileData file;
    file.size = size;
    if (size != 0) {
        auto cluster = volume.ClusterOfByte(firstSector * 512);
        if (!cluster || firstSector * 512 != volume.ClusterByte(*cluster)) {
            // No byte of it can be found, as for a FAT file whose first
            // cluster lies outside: the file is made, empty, and reported.
            FileOutcome failure = FileOutcome::Failed;
            std::unique_ptr<TargetFile> out = OpenRecoveredTarget(session, target, name, failure);
            if (!out)
                return failure;
            return FinishTarget(session, std::move(out), target, CopyResult{}, size, kFirstClusterOutsideText);
        }
        file.firstCluster = *cluster;
        ExfatFileRecord record;
        const bool indexed =
            context.index && (entry ? context.index->FindExact(
                                          ExfatFileKey{firstSector, entry->parentId, entry->name, size}, record)
                                    : context.index->Find(firstSector, record, size));
        if (indexed && record.firstCluster == *cluster) {
            file.allocationKnown = true;
            file.noFatChain = record.noFatChain;
            file.validLength = record.validLength;
        }
    }

    FileOutcome failure = FileOutcome::Failed;
    std::unique_ptr<TargetFile> out = OpenRecoveredTarget(session, target, name, failure);
    if (!out)
        return failure;
    TargetSinkOf<ExfatDataSink> sink(*out);
    ExfatReadControl control;
    ReadProgressCounter counter(session);
    counter.Attach(control);
    const ExfatReadReport report = ReadExfatFileData(volume, file, sink, control);
    counter.Finish(report.bytesWritten);

    CopyResult copy;
    copy.bytesWritten = report.bytesWritten;
    copy.unreadableSectors = report.unreadableSectors;
    copy.stopped = report.outcome == ExfatReadOutcome::Stopped;
    copy.writeError = sink.error();
    return FinishTarget(session, std::move(out), target, copy, size, report.dataShort ? kDataPastEndText : "");
}

FoundEntryWriter MakeExfatEntryWriter(ExfatSaveContext context)
{
    return [context = std::move(context)](SaveSession& session, Device& device, const FoundEntry& entry,
                                          const std::string& target, const std::string& name) {
        return SaveExfatFile(session, device, context, entry.ownId, entry.size, target, name, true, &entry);
    };
}

ExfatSaveContext ExfatSaveContextOf(const CurrentPartition& partition, Device& device,
                                    std::shared_ptr<const ExfatFileIndex> index)
{
    ExfatSaveContext c;
    c.volume = LoadExfatVolume(partition, device);
    c.volume.device = nullptr;
    c.index = std::move(index);
    return c;
}

}  // namespace torvane
