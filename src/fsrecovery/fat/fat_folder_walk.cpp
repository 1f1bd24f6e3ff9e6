#include "fsrecovery/fat/fat_folder_walk.h"

#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/store/name_rules.h"

#include <unordered_set>

namespace torvane {
namespace {

std::uint64_t ClustersOf(std::uint64_t size, std::uint32_t sectorsPerCluster)
{
    std::uint64_t bytes = static_cast<std::uint64_t>(sectorsPerCluster) * 512;
    return bytes == 0 ? 0 : (size + bytes - 1) / bytes;
}

}  // namespace

std::uint32_t GuessDeletedFat32Cluster(FatGuessState& state, std::uint32_t startCluster, const std::uint8_t* sector,
                                       const std::uint8_t* entry, std::uint32_t sectorsPerCluster,
                                       std::uint64_t* addedHighWord)
{
    const ByteView e = FatEntryBytes(entry);
    const std::uint32_t lo = e.U16(26);
    const std::uint32_t hi0 = e.U16(20);
    const std::uint32_t stored = (hi0 << 16) | lo;
    if (addedHighWord)
        *addedHighWord = 0;
    if (stored == 0)
        return 0;
    if (!state.fileMet && startCluster >= 0x10000) {
        bool deletedNear = false;
        for (int k = 0; k < 6; ++k)
            deletedNear = deletedNear || sector[k * 32] == 0xE5;
        if (deletedNear || hi0 == 0)
            state.highWord = startCluster & 0xFFFF0000u;
    }
    bool guessed = false;
    if (hi0 == 0 && (lo != state.previousCluster || (state.previousCluster >> 32) != 0)) {
        state.highWord = NextHighWordCandidate(lo, state.previousCluster + state.previousCount, state.highWord);
        guessed = true;
    }
    std::uint32_t used = stored;
    std::uint64_t added = 0;
    if (guessed && state.highWord != 0) {
        const auto candidate = static_cast<std::uint32_t>(lo + state.highWord);
        if (state.lastCluster == 0 || candidate <= state.lastCluster) {
            used = candidate;
            added = state.highWord;
        }
    }
    state.previousCluster = added ? used - added : used;
    state.previousCount = ClustersOf(e.U32(28), sectorsPerCluster);
    state.fileMet = true;
    if (addedHighWord)
        *addedHighWord = added;
    return used;
}

bool IsClusterAfterFileUnlisted(std::uint64_t& lastTried, std::uint32_t& next, std::size_t chainSize,
                                std::uint64_t size, std::uint64_t firstCluster, std::uint32_t sectorsPerCluster,
                                bool basicSearch, const std::function<bool(std::uint32_t)>& isIndexedFolder)
{
    if (chainSize != 1 || !basicSearch || size == 0 || sectorsPerCluster == 0)
        return false;
    next = static_cast<std::uint32_t>(static_cast<std::uint32_t>(firstCluster) + ClustersOf(size, sectorsPerCluster));
    if (next == lastTried)
        return false;
    lastTried = next;
    return !(isIndexedFolder && isIndexedFolder(next));
}

bool SeedRootHighWordGuess(Device& device, const FatVolume& volume, std::uint32_t lastSubfolder,
                           const FatFolderWalkOptions& options, FatGuessState& guess)
{
    if (lastSubfolder == 0 || volume.fs != FsKind::Fat32)
        return false;
    FatFolderWalkOptions sub;
    sub.followContinuation = true;
    sub.countFiles = true;
    sub.basicSearch = options.basicSearch;
    sub.isIndexedFolder = options.isIndexedFolder;
    sub.stop = options.stop;
    sub.maxContinuations = options.maxContinuations;
    auto seedFrom = [&](std::uint32_t folder) {
        const FatFolderWalkResult r = WalkFatFolderEntries(device, volume, folder, sub);
        if (r.count == 0)
            return false;
        guess.previousCluster = r.lastFileCluster;
        guess.previousCount = ClustersOf(r.lastFileSize, volume.sectorsPerCluster);
        guess.highWord = r.lastHighWord;
        return true;
    };
    if (lastSubfolder < 0x10000 && options.rootChildFolders) {
        for (std::uint32_t child : options.rootChildFolders()) {
            if (child < 0x10000 || (child & 0xFFFFu) != lastSubfolder || child == 0x0FFFFFFF)
                continue;
            // The first match decides, as the folder the entry named.
            if (seedFrom(child))
                return true;
            break;
        }
    }
    return seedFrom(lastSubfolder);
}

FatFolderWalkResult WalkFatFolderEntries(Device& device, const FatVolume& volume, std::uint32_t cluster,
                                         const FatFolderWalkOptions& options)
{
    FatFolderWalkResult result;
    if (cluster == 0x0FFFFFFF || volume.kind == FatKind::None)
        return result;
    const bool fat32 = volume.fs == FsKind::Fat32;
    FatGuessState guess;
    guess.lastCluster = volume.LastClusterInVolume();
    std::uint64_t lastSize = 0, lastCluster = 0;
    bool fileMet = false;
    FatEntryRules rules;
    rules.mode = FatEntryMode::File;
    rules.filesOnly = true;
    rules.endByte = volume.endByte;
    auto stopped = [&options] { return options.stop && options.stop(); };
    // The FAT32 root's high-word search (see the header): the last
    // sub-folder entry met before the first file.
    const bool rootSearch = cluster == 0 && fat32 && options.rootChildFolders != nullptr;
    std::uint32_t lastSubfolder = 0;
    bool rootSeeded = false;

    // Returns false at the end of the directory.
    auto walkSector = [&](std::uint64_t sectorNo, std::uint32_t chainCluster, bool withGuess,
                          const SectorFetch& previous) {
        if (volume.endSector != 0 && sectorNo >= volume.endSector)
            return true;
        std::uint8_t data[512];
        if (!ReadSectorsFrom(device, 1, sectorNo, data))
            return true;
        for (int i = 0; i < kFatEntriesPerSector; ++i) {
            FatEntryResult r;
            std::string name = ParseFatDirEntry(data, i, sectorNo, rules, previous, r);
            if (r.endOfDirectory)
                return false;
            const std::uint8_t* e = data + i * kFatEntrySize;
            if (name.empty()) {
                // Deleted folders count too: their files were written as well.
                if (rootSearch && !fileMet && e[0] != 0 && e[0] != '.' && e[11] != 0x0F && (e[11] & 0x10) != 0)
                    lastSubfolder = FatEntryFirstCluster(e);
                continue;
            }
            if (rootSearch && !rootSeeded && !fileMet && lastSubfolder != 0) {
                rootSeeded = true;
                SeedRootHighWordGuess(device, volume, lastSubfolder, options, guess);
            }
            FatFileEntry f;
            f.name = name;
            f.shortName = r.shortName;
            f.deleted = r.deleted;
            f.attribute = e[11];
            f.storedCluster = FatEntryFirstCluster(e);
            f.size = FatEntryBytes(e).U32(28);
            f.date = FatEntryBytes(e).U16(24);
            f.time = FatEntryBytes(e).U16(22);
            f.sector = sectorNo;
            f.index = i;
            // Only FAT32 entries have a high cluster word to guess.
            // The guess only completes deleted entries, whose high word may have been
            // cleared; a live entry's stored cluster is what the file system uses. The
            // guess state still advances over live entries.
            if (withGuess) {
                const std::uint32_t guessed =
                    GuessDeletedFat32Cluster(guess, chainCluster, data, e, volume.sectorsPerCluster);
                f.firstCluster = f.deleted ? guessed : f.storedCluster;
            } else {
                f.firstCluster = f.storedCluster;
                guess.previousCluster = f.storedCluster;
                guess.previousCount = ClustersOf(f.size, volume.sectorsPerCluster);
            }
            fileMet = true;
            lastSize = f.size;
            lastCluster = f.firstCluster;
            if (options.countFiles)
                ++result.count;
            if (options.onFile)
                options.onFile(f);
        }
        return true;
    };

    try {
        if (cluster == 0) {
            if (fat32) {
                cluster = volume.rootStart;
            } else if (volume.fs == FsKind::Fat16) {
                // The fixed root area: an end entry ends only its sector.
                SectorFetch previous = FixedRootPrevious(device, volume.rootStart);
                for (std::uint32_t i = 0; i < volume.rootSectors && !stopped(); ++i)
                    walkSector(static_cast<std::uint64_t>(volume.rootStart) + i, 0, false, previous);
                cluster = 0;
            }
            if (cluster == 0) {
                result.lastFileSize = fileMet ? lastSize : 0;
                result.lastFileCluster = fileMet ? guess.previousCluster : 0;
                result.lastHighWord = fileMet ? guess.highWord : 0;
                return result;
            }
        }
        ChainWalkOptions chainOptions;
        chainOptions.isIndexedFolder = options.isIndexedFolder;
        chainOptions.stop = options.stop;
        std::unordered_set<std::uint32_t> walked;
        std::uint64_t lastTried = 0;
        std::uint32_t start = cluster;
        std::uint32_t continuations = 0;
        for (;;) {
            walked.insert(start);
            std::vector<std::uint32_t> chain = BuildVolumeClusterChain(device, volume, start, chainOptions);
            bool end = false;
            SectorFetch previous = ChainOrderPrevious(device, volume, chain);
            for (std::uint32_t c : chain) {
                if (end || stopped())
                    break;
                std::uint64_t first = volume.ClusterSector(c);
                for (std::uint32_t j = 0; j < volume.sectorsPerCluster && !end && !stopped(); ++j)
                    end = !walkSector(first + j, c, fat32, previous);
            }
            if (end) {
                result.endOfDirectory = true;
                break;
            }
            if (!options.followContinuation || stopped() || !fileMet)
                break;
            std::uint32_t next = 0;
            if (!IsClusterAfterFileUnlisted(lastTried, next, chain.size(), lastSize, lastCluster,
                                            volume.sectorsPerCluster, options.basicSearch, options.isIndexedFolder))
                break;
            // A continuation that comes back to a cluster walked before would
            // go round for ever.
            if (walked.count(next) || ++continuations > options.maxContinuations)
                break;
            if (volume.LastClusterInVolume() != 0 && next > volume.LastClusterInVolume())
                break;
            // Nothing says this cluster is part of the folder: it may be any
            // file's data. Its entries must pass the strict name test.
            rules.strictNames = true;
            start = next;
        }
    } catch (const std::exception&) {
        // Keep what was counted.
    }
    result.lastFileSize = fileMet ? lastSize : 0;
    result.lastFileCluster = fileMet ? guess.previousCluster : 0;
    result.lastHighWord = fileMet ? guess.highWord : 0;
    return result;
}

}  // namespace torvane
