#include "carving/carving_pass.h"

#include "base/program_state.h"
#include "disk/sector_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>

namespace torvane {
namespace {

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::string RangeText(std::uint64_t endSector)
{
    char text[64];
    std::snprintf(text, sizeof text, "sectors  of  total %llu", static_cast<unsigned long long>(endSector));
    return text;
}

}  // namespace

CarvingPass::CarvingPass(Job& job, CarvingEvents* events, CarvingSearchState& search, CarvingPassSetup setup)
    : job_(job), events_(events), search_(search), setup_(std::move(setup))
{
    if (setup_.signatures)
        probe_ = SignatureProbe(*setup_.signatures);
}

CarvingPass::~CarvingPass()
{
    // Every way out of Run() closes the files; this only guards an exception.
    CloseOpenFiles();
}

CarvingPassEnd CarvingPass::Run()
{
    const bool general = setup_.pass == CarvingPassKind::General;
    search_.table.StartPass();
    search_.counters.pass = general ? 1 : 2;

    std::vector<std::string> levels = search_.searchLevels;
    levels.emplace_back(general ? kGeneralPassFolder : kThoroughPassFolder);
    TargetFileSystem& fs = search_.fileSystem ? *search_.fileSystem : PosixTargetFileSystem();
    output_ = std::make_unique<CarvedOutput>(fs, search_.destination, levels, search_.table, setup_.naming,
                                             search_.filesPerFolder);
    // A folder that cannot be made shows when the first carved file cannot
    // be created there.
    output_->MakePassFolder();
    search_.foldersUsed.insert(output_->FoldersUsed().begin(), output_->FoldersUsed().end());

    if (events_) {
        CarvingPassInfo info;
        info.pass = setup_.pass;
        info.startSector = setup_.startSector;
        info.endSector = setup_.endSector;
        info.rangeText = RangeText(setup_.endSector);
        info.statusText = setup_.statusText;
        info.passFolder = output_->PassFolder();
        events_->OnPassStarted(info);
    }
    if (probe_.Empty())
        return CarvingPassEnd::NoSignatures;

    if (!search_.device && !search_.devicePath.empty()) {
        DeviceHandle handle;
        if (handle.Open(search_.devicePath))
            search_.device = handle.Get();
    }
    std::uint64_t end = setup_.endSector;
    if (search_.device) {
        // Past the device's end there is nothing to carve: zeros there would
        // only lengthen the last file.
        const std::uint64_t size = search_.device->SizeBytes();
        const std::uint64_t sectors = size / kSectorSize + (size % kSectorSize ? 1 : 0);
        end = std::min(end, sectors);
    }
    search_.counters.currentSector = setup_.startSector;
    reader_ = std::make_unique<BlockReadAhead>(search_.device, setup_.startSector, end, search_.readAheadBlocks,
                                               search_.blockSectors);

    CarvingPassEnd result = CarvingPassEnd::RangeDone;
    for (;;) {
        if (job_.StopRequested()) {
            result = CarvingPassEnd::Stopped;
            break;
        }
        CarvingBlock* block = reader_->Next();
        if (!block)
            break;
        search_.counters.currentSector.store(block->firstSector, std::memory_order_relaxed);
        if (block->failed) {
            const ReadOutcome outcome = ResolveReadFailure(*block);
            if (outcome != ReadOutcome::Go) {
                result = outcome == ReadOutcome::Cancelled ? CarvingPassEnd::ReadCancelled : CarvingPassEnd::Stopped;
                break;
            }
        }
        CarvingPassEnd ended = CarvingPassEnd::RangeDone;
        if (!ProbeBlock(*block, ended)) {
            result = ended;
            break;
        }
        if (!EndOfBlock(*block)) {
            result = CarvingPassEnd::DestinationFailed;
            break;
        }
    }
    CloseOpenFiles();
    reader_.reset();
    search_.foldersUsed.insert(output_->FoldersUsed().begin(), output_->FoldersUsed().end());
    return result;
}

CarvingPass::ReadOutcome CarvingPass::ResolveReadFailure(CarvingBlock& block)
{
    for (;;) {
        if (applyToAll_ == kReadFailureSkip)
            return ReadOutcome::Go;
        if (applyToAll_ == kReadFailureRetry) {
            RetryRead(block);
            return ReadOutcome::Go;  // one more read per block, then on with what it gave
        }
        JobQuestion question{kReadFailureQuestion, kReadFailureText,
                             {kReadFailureRetryLabel, kReadFailureSkipLabel, kReadFailureCancelLabel}};
        const std::optional<int> answer = job_.Ask(question);
        if (!answer)
            return ReadOutcome::Stopped;  // Stop while the question was up
        const int choice = *answer < 0 ? -1 : (*answer & 0xFF);
        const bool toAll = *answer >= 0 && (*answer & kReadFailureApplyToAll) != 0;
        if (choice == kReadFailureCancel) {
            job_.Stop();
            return ReadOutcome::Cancelled;
        }
        if (choice == kReadFailureRetry) {
            if (toAll)
                applyToAll_ = kReadFailureRetry;
            RetryRead(block);
            if (!block.failed || toAll)
                return ReadOutcome::Go;
            continue;  // still unreadable: ask again
        }
        // Skip, or the question closed some other way: the unreadable
        // sectors stay zeros, the rest of the block is used.
        if (choice == kReadFailureSkip && toAll)
            applyToAll_ = kReadFailureSkip;
        return ReadOutcome::Go;
    }
}

void CarvingPass::RetryRead(CarvingBlock& block)
{
    if (!search_.devicePath.empty()) {
        DeviceHandle handle;
        if (handle.Open(search_.devicePath)) {
            search_.device = handle.Get();
            reader_->SwitchDevice(search_.device);
        }
    }
    ReadCarvingBlock(search_.device.get(), block);
}

bool CarvingPass::ProbeBlock(const CarvingBlock& block, CarvingPassEnd& end)
{
    const std::uint8_t* data = block.data;
    // The block was written by the reader thread: its lines sit in another
    // core's cache. Fetching the probed line of a sector a little ahead hides
    // that wait behind the probes of the sectors before it.
    constexpr std::size_t kAhead = 16;
    for (std::size_t s = 0; s < kAhead && s < block.sectors; ++s)
        __builtin_prefetch(data + s * kSectorSize);
    for (std::size_t s = 0; s < block.sectors; ++s) {
        if (s + kAhead < block.sectors)
            __builtin_prefetch(data + (s + kAhead) * kSectorSize);
        search_.counters.currentSector.store(block.firstSector + s, std::memory_order_relaxed);
        if (job_.StopRequested()) {
            end = CarvingPassEnd::Stopped;
            return false;
        }
        const std::uint8_t* sector = data + s * kSectorSize;
        if (setup_.policy == CarvingHitPolicy::FirstHit) {
            const int hit = probe_.FirstHit(sector);
            if (hit >= 0 && !Hit(block, s, static_cast<std::uint32_t>(hit), true)) {
                end = CarvingPassEnd::DestinationFailed;
                return false;
            }
            continue;
        }
        if (!probe_.AnyCandidate(sector))
            continue;
        bool first = true;
        for (std::size_t k = 0; k < probe_.KeyCount(); ++k) {
            // A sector with many matches still stops within one key offset.
            if (job_.StopRequested()) {
                end = CarvingPassEnd::Stopped;
                return false;
            }
            hits_.clear();
            probe_.CollectHits(k, sector, hits_);
            for (std::uint32_t record : hits_) {
                if (!Hit(block, s, record, first)) {
                    end = CarvingPassEnd::DestinationFailed;
                    return false;
                }
                first = false;
            }
        }
    }
    return true;
}

bool CarvingPass::Hit(const CarvingBlock& block, std::size_t sector, std::uint32_t record, bool firstOfSector)
{
    const std::size_t offset = sector * kSectorSize;
    if (firstOfSector && !open_.empty()) {
        // The files open now were started in an earlier sector: they end
        // where this one begins.
        for (OpenFile& file : open_) {
            if (offset > file.start && !Append(file, block.data + file.start, offset - file.start)) {
                DestinationFailure();
                return false;
            }
        }
        CloseOpenFiles();
    }

    const FileType1& signature = setup_.signatures->records[record];
    int error = 0;
    ExtensionFolderRow row;
    std::unique_ptr<CarvedTarget> target = output_->Open(signature, error, &row);
    if (!target) {
        DestinationFailure();
        return false;
    }
    if (events_)
        events_->OnExtensionRow(row);
    OpenFile file;
    file.target = std::move(target);
    file.maxSize = signature.MaxSizeBytes();
    file.firstSector = block.firstSector + sector;
    file.start = offset;
    open_.push_back(std::move(file));
    return true;
}

bool CarvingPass::EndOfBlock(const CarvingBlock& block)
{
    const std::size_t length = block.Bytes();
    std::vector<OpenFile> keep;
    bool ok = true;
    for (OpenFile& file : open_) {
        if (!ok || !file.target) {
            keep.push_back(std::move(file));
            continue;
        }
        const std::uint64_t available = length - file.start;
        const std::uint64_t chunk = std::min(available, file.maxSize);
        file.total = SaturatingAdd(file.total, chunk);
        if (file.total > file.maxSize) {
            CloseFile(file);  // it would pass its largest size: it ends at the previous block end
            continue;
        }
        if (chunk > 0 && !Append(file, block.data + file.start, static_cast<std::size_t>(chunk))) {
            ok = false;
            keep.push_back(std::move(file));
            continue;
        }
        file.start = 0;
        if (chunk < available) {
            CloseFile(file);  // its largest size is reached inside this block
            continue;
        }
        keep.push_back(std::move(file));
    }
    open_ = std::move(keep);
    if (!ok) {
        DestinationFailure();
        return false;
    }
    return true;
}

bool CarvingPass::Append(OpenFile& file, const std::uint8_t* data, std::size_t length)
{
    if (!file.target || !file.target->file)
        return false;
    if (file.target->file->Write(data, length) != 0) {
        file.complete = false;
        return false;
    }
    file.written += length;
    search_.counters.bytesWritten.fetch_add(length, std::memory_order_relaxed);
    return true;
}

void CarvingPass::CloseFile(OpenFile& file)
{
    if (!file.target)
        return;
    std::unique_ptr<CarvedTarget> target = std::move(file.target);
    if (target->file && target->file->Close() != 0)
        file.complete = false;
    target->file.reset();

    CarvedFile carved;
    carved.path = target->path;
    carved.name = target->name;
    carved.extension = target->extension;
    carved.size = file.written;
    carved.firstSector = file.firstSector;
    carved.pass = setup_.pass;
    carved.complete = file.complete;
    search_.counters.filesFound.fetch_add(1);
    if (setup_.pass == CarvingPassKind::General)
        search_.counters.generalFiles.fetch_add(1);
    else
        search_.counters.omittedFiles.fetch_add(1);
    const ExtensionFolderRow row =
        search_.table.Update(ExtensionRowKey(target->extension), [](ExtensionFolderRow& r) { ++r.filesFound; });
    if (events_) {
        events_->OnCarvedFile(carved);
        events_->OnExtensionRow(row);
    }
}

void CarvingPass::CloseOpenFiles()
{
    for (OpenFile& file : open_)
        CloseFile(file);
    open_.clear();
}

void CarvingPass::DestinationFailure()
{
    job_.Ask(JobQuestion{kMessageQuestion, ProgramState::Instance().Messages.SaveDestinationFailedText, {"OK"}});
    job_.Stop();
    CloseOpenFiles();
}

}  // namespace torvane
