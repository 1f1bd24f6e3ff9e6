#include "results/recovered_target.h"

#include "disk/sector_reader.h"
#include "results/save_destination.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace torvane {
namespace {

// This many unreadable sectors in a row make the save ask whether the source
// is still there at all.
constexpr std::uint64_t kGoneRun = 64;

bool IsDestinationFull(int error) { return error == ENOSPC || error == EDQUOT; }

}  // namespace

std::string ErrnoText(int error)
{
    switch (error) {
    case ENOSPC: return "No space left on device";
    case EDQUOT: return "Disk quota exceeded";
    case EFBIG: return "too large for the destination file system";
    case ENAMETOOLONG: return "File name too long";
    case ENOENT: return "No such file or directory";
    case EACCES: return "Permission denied";
    case EROFS: return "Read-only file system";
    case EIO: return "Input/output error";
    case EISDIR: return "Is a directory";
    case ENOTDIR: return "Not a directory";
    case EPERM: return "Operation not permitted";
    case ELOOP: return "A symbolic link is in the way";
    default: break;
    }
    return "error " + std::to_string(error);
}

namespace {

std::unique_ptr<TargetFile> OpenTarget(SaveSession& session, std::string& target, std::string& name,
                                       FileOutcome& failure, std::string& detail)
{
    bool triedParent = false;
    int redirects = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        int err = 0;
        std::unique_ptr<TargetFile> file = session.Fs().Create(target, err);
        if (file)
            return file;
        if (IsDestinationFull(err) || err == EROFS || err == EIO) {
            session.ShowMessageOnce(kDestinationFullText);
            session.RequestStop();
            failure = FileOutcome::Failed;
            detail = ErrnoText(err);
            return nullptr;
        }
        if (err != ENOENT && err != ENAMETOOLONG) {
            failure = FileOutcome::Failed;
            detail = ErrnoText(err);
            return nullptr;
        }
        std::string folder = ParentFolder(target);
        if (!triedParent) {
            // The folder may be missing: create it (and its parents) and try once more.
            triedParent = true;
            std::string replacement = CreateDestinationFolder(session, folder);
            if (!replacement.empty()) {
                target = JoinPath(replacement, name);
                target = ResolveNameConflict(session, target);
                if (target.empty()) {
                    failure = FileOutcome::Skipped;
                    return nullptr;
                }
                name = LastComponent(target);
            }
            continue;
        }
        if (err == ENOENT) {
            // The folder could not be made: say so rather than ask about length.
            failure = FileOutcome::Failed;
            detail = "the folder could not be created";
            return nullptr;
        }
        // Too long even with its folder in place: one redirect at most.
        if (redirects >= 1 || session.StopRequested()) {
            failure = FileOutcome::GivenUp;
            detail = ErrnoText(err);
            return nullptr;
        }
        ++redirects;
        std::string redirected = HandleTooLongPath(session, folder);
        if (redirected.empty()) {
            failure = FileOutcome::GivenUp;
            detail = "path too long";
            return nullptr;
        }
        if (name.size() > kNameMaxBytes)
            name = SanitizeNameComponent(MakeShortTargetName(name));
        target = ResolveNameConflict(session, JoinPath(redirected, name));
        if (target.empty()) {
            failure = FileOutcome::Skipped;
            return nullptr;
        }
        name = LastComponent(target);
    }
    failure = FileOutcome::Failed;
    detail = "the target could not be opened";
    return nullptr;
}

}  // namespace

std::unique_ptr<TargetFile> OpenRecoveredTarget(SaveSession& session, std::string& target, std::string& name,
                                                FileOutcome& failure)
{
    std::string detail;
    std::unique_ptr<TargetFile> file = OpenTarget(session, target, name, failure, detail);
    if (!file)
        session.Report().Add(failure, target, detail);
    return file;
}

bool ReadProgressCounter::StopOrSkip() const
{
    return session_.StopRequested() || session_.Skip().skip.load();
}

void ReadProgressCounter::Progress(std::uint64_t written)
{
    SaveCounters& counters = session_.Counters();
    counters.fileBytesDone = written;
    counters.bytesWritten += written - counted_;
    counted_ = written;
}

void ReadProgressCounter::Finish(std::uint64_t bytesWritten)
{
    if (bytesWritten > counted_) {
        session_.Counters().bytesWritten += bytesWritten - counted_;
        counted_ = bytesWritten;
    }
}

std::uint32_t CopyChunkSectors(std::uint64_t size)
{
    const std::uint64_t sectors = (size + kSectorSize - 1) / kSectorSize;
    return sectors > 128 ? 64 : 8;
}

CopyResult CopySectorExtents(SaveSession& session, Device& device, const std::vector<SectorExtent>& extents,
                             std::uint64_t size, TargetFile& file)
{
    CopyResult result;
    SaveCounters& counters = session.Counters();
    const std::uint32_t chunk = CopyChunkSectors(size);
    std::vector<unsigned char> buffer(static_cast<std::size_t>(chunk) * kSectorSize);
    std::uint64_t failRun = 0;
    std::uint64_t remaining = size;
    for (const SectorExtent& extent : extents) {
        std::uint64_t done = 0;
        while (done < extent.sectorCount && remaining > 0) {
            if (session.StopRequested() || session.Skip().skip.load()) {
                result.stopped = true;
                return result;
            }
            const std::uint64_t needSectors = (remaining + kSectorSize - 1) / kSectorSize;
            const std::uint32_t n = static_cast<std::uint32_t>(
                std::min<std::uint64_t>({chunk, extent.sectorCount - done, needSectors}));
            const std::uint64_t sector = extent.firstSector + done;
            // A read counts as good only when every byte asked for came from
            // the device: the part of a range past the end of the device (an
            // image cut short) reads as zeros, and those zeros are not the
            // file's data.
            const auto whole = [](int ok, const SectorReadReport& r, std::uint64_t bytes) {
                return ok == 1 && r.unreadableSectors == 0 && !r.reachedEnd && r.bytesRead == bytes;
            };
            SectorReadReport report;
            const int ok = ReadSectorsFrom(device, n, sector, buffer.data(), &report);
            if (whole(ok, report, std::uint64_t{n} * kSectorSize)) {
                failRun = 0;
            } else {
                // Sector by sector: what can be read is kept, the rest is
                // zeros and counted as unreadable (a sector only partly there
                // before the end of the device keeps its bytes, and counts).
                for (std::uint32_t i = 0; i < n; ++i) {
                    unsigned char* p = buffer.data() + static_cast<std::size_t>(i) * kSectorSize;
                    SectorReadReport one;
                    const int oneOk = ReadSectorsFrom(device, 1, sector + i, p, &one);
                    if (whole(oneOk, one, kSectorSize)) {
                        failRun = 0;
                    } else {
                        if (oneOk != 1)
                            std::memset(p, 0, kSectorSize);
                        ++result.unreadableSectors;
                        ++failRun;
                    }
                }
                if (failRun >= kGoneRun) {
                    // A long bad run: is the device still there at all?
                    unsigned char probe[kSectorSize];
                    if (ReadSectorsFrom(device, 1, 0, probe) != 1) {
                        result.sourceGone = true;
                        return result;
                    }
                    failRun = 0;
                }
            }
            const std::uint64_t bytes = std::min<std::uint64_t>(remaining, std::uint64_t{n} * kSectorSize);
            if (int err = file.Write(buffer.data(), static_cast<std::size_t>(bytes)); err != 0) {
                result.writeError = err;
                return result;
            }
            result.bytesWritten += bytes;
            remaining -= bytes;
            done += n;
            counters.fileBytesDone = result.bytesWritten;
            counters.bytesWritten += bytes;
        }
        if (remaining == 0)
            break;
    }
    return result;
}

FileOutcome FinishTarget(SaveSession& session, std::unique_ptr<TargetFile> file, const std::string& target,
                         const CopyResult& copy, std::uint64_t size, const std::string& shortReason)
{
    int closeError = file ? file->Close() : 0;
    file.reset();
    const int writeError = copy.writeError ? copy.writeError : closeError;
    session.Skip().skip = false;
    if (writeError != 0) {
        if (IsDestinationFull(writeError) || writeError == EROFS || writeError == EIO) {
            session.ShowMessageOnce(kDestinationFullText);
            session.RequestStop();
            session.Fs().RemoveFile(target);
            // The bytes of a removed file are not in the destination.
            std::atomic<std::uint64_t>& total = session.Counters().bytesWritten;
            total -= std::min<std::uint64_t>(total.load(), copy.bytesWritten);
            session.Report().Add(FileOutcome::Failed, target, ErrnoText(writeError) + " (partial file removed)");
        } else {
            session.Report().Add(FileOutcome::Failed, target, ErrnoText(writeError));
        }
        return FileOutcome::Failed;
    }
    if (copy.sourceGone) {
        session.ShowMessageOnce(kSourceGoneText);
        session.RequestStop();
        session.Report().Add(FileOutcome::Incomplete, target, kSourceGoneText);
        return FileOutcome::Incomplete;
    }
    if (copy.stopped || copy.bytesWritten < size || !shortReason.empty()) {
        std::string why = copy.stopped                  ? std::string("saving stopped or skipped")
                          : !shortReason.empty()        ? shortReason
                                                        : std::string(kDataPastEndText);
        session.Report().Add(FileOutcome::Incomplete, target,
                             why + " (" + std::to_string(copy.bytesWritten) + " of " + std::to_string(size) +
                                 " bytes)");
        return FileOutcome::Incomplete;
    }
    if (copy.unreadableSectors != 0) {
        session.Report().Add(FileOutcome::Unreadable, target,
                             "saved with " + std::to_string(copy.unreadableSectors) + " unreadable sectors");
        return FileOutcome::Unreadable;
    }
    session.Report().Add(FileOutcome::Written, target);
    return FileOutcome::Written;
}

bool SettleTarget(SaveSession& session, std::string& target, std::string& name, std::uint64_t size,
                  bool resolveConflict)
{
    session.Skip().skip = false;
    SaveCounters& counters = session.Counters();
    counters.fileBytesDone = 0;
    counters.fileBytesTotal = size;
    if (!resolveConflict)
        return true;
    std::string resolved = ResolveNameConflict(session, target);
    if (resolved.empty()) {
        session.Report().Add(FileOutcome::Skipped, target, "a file of that name exists");
        return false;
    }
    target = std::move(resolved);
    name = LastComponent(target);
    ++counters.filesWritten;
    return true;
}

}  // namespace torvane
