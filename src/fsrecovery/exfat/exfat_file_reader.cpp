#include "fsrecovery/exfat/exfat_file_reader.h"

#include "disk/sector_reader.h"

#include <algorithm>
#include <vector>

namespace torvane {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

// Whether the file's clusters follow the FAT. When the stream entry's flag is
// not at hand (a file row without its scan record), the FAT cell decides: a
// free cell means consecutive clusters, a chain that runs consecutively reads
// the same either way, and any other chain is followed.
bool UsesChain(ExfatFatReader& fat, const ExfatFileData& file)
{
    if (file.allocationKnown)
        return !file.noFatChain;
    auto cell = fat.Cell(file.firstCluster);
    return cell && *cell != 0;
}

}  // namespace

ExfatReadReport ReadExfatFileData(const ExfatVolume& volume, const ExfatFileData& file, ExfatDataSink& sink,
                                  const ExfatReadControl& control)
{
    ExfatReadReport report;
    if (file.size == 0)
        return report;
    if (!volume.Usable() || !volume.ValidCluster(file.firstCluster)) {
        report.outcome = ExfatReadOutcome::Incomplete;
        report.dataShort = true;
        return report;
    }
    ExfatFatReader fat(volume);
    const std::uint64_t cb = volume.clusterBytes;
    const std::uint64_t needed = (file.size + cb - 1) / cb;
    // The data as runs of consecutive clusters (first, count). A contiguous
    // file is one run, however long; a chain is listed cluster by cluster. A
    // chained file whose first cell is free (deleted, chain cleared) is read
    // as consecutive clusters.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> runs;
    bool broken = false;
    std::uint64_t listed = 0;
    auto firstCell = fat.Cell(file.firstCluster);
    if (UsesChain(fat, file) && firstCell && *firstCell != 0) {
        ExfatAllocation allocation{file.firstCluster, file.size, false};
        const std::vector<std::uint32_t> clusters = ExfatClusterList(volume, fat, allocation, needed, &broken);
        report.followedChain = clusters.size() > 1;
        for (std::uint32_t c : clusters) {
            if (!runs.empty() && runs.back().first + runs.back().second == c)
                ++runs.back().second;
            else
                runs.emplace_back(c, 1);
        }
        listed = clusters.size();
    } else {
        const std::uint64_t available = volume.BytesFromClusterToEnd(file.firstCluster) / cb;
        listed = std::min(needed, available);
        if (listed > 0)
            runs.emplace_back(file.firstCluster, listed);
    }

    // Small files (most of a card) need no full chunk.
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::clamp<std::uint64_t>(file.size, 1, kChunk)));
    const std::uint64_t valid = std::min(file.validLength, file.size);
    std::uint64_t written = 0;
    for (const auto& [runFirst, runCount] : runs) {
        if (written >= file.size)
            break;
        const std::uint64_t runStart = volume.ClusterByte(runFirst);
        const std::uint64_t runBytes = std::min<std::uint64_t>(runCount * cb, file.size - written);
        for (std::uint64_t off = 0; off < runBytes;) {
            if (control.stopRequested && control.stopRequested()) {
                report.outcome = ExfatReadOutcome::Stopped;
                report.bytesWritten = written;
                return report;
            }
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), runBytes - off));
            // Bytes up to the valid length come from the device, later ones are zeros.
            std::size_t fromDevice = 0;
            if (written < valid)
                fromDevice = static_cast<std::size_t>(std::min<std::uint64_t>(n, valid - written));
            if (fromDevice > 0) {
                SectorReadReport rr;
                const std::uint64_t at = runStart + off;
                std::size_t inVolume = fromDevice;
                if (at >= volume.endByte)
                    inVolume = 0;
                else if (at + fromDevice > volume.endByte)
                    inVolume = static_cast<std::size_t>(volume.endByte - at);
                if (inVolume > 0) {
                    ReadBytesFrom(*volume.device, at, buffer.data(), inVolume, &rr);
                    report.unreadableSectors += rr.unreadableSectors;
                }
                std::fill(buffer.begin() + inVolume, buffer.begin() + fromDevice, 0);
            }
            std::fill(buffer.begin() + fromDevice, buffer.begin() + n, 0);
            if (!sink.Write(buffer.data(), n)) {
                report.outcome = ExfatReadOutcome::WriteFailed;
                report.bytesWritten = written;
                return report;
            }
            written += n;
            off += n;
            if (control.progress)
                control.progress(written);
        }
    }
    report.bytesWritten = written;
    if (written < file.size) {
        report.dataShort = true;
        report.outcome = ExfatReadOutcome::Incomplete;
    } else if (broken && listed < needed) {
        report.dataShort = true;
        report.outcome = ExfatReadOutcome::Incomplete;
    }
    return report;
}

}  // namespace torvane
