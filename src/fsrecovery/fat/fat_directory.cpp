#include "fsrecovery/fat/fat_directory.h"

#include "base/text_encoding.h"
#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/store/name_rules.h"

#include <cstring>

namespace torvane {
namespace {

// Offsets of the 13 UTF-16 units inside a long-name slot.
constexpr unsigned kSlotUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
constexpr unsigned kMaxLongNameUnits = 255;

// True when the 8.3 extension `shortExt` is the long extension `longExt` as
// an 8.3 name keeps it: cut to three characters, case ignored (".DOC" of
// ".docx", ".JSO" of ".json"). Both include their dot.
bool IsShortFormOfExtension(const std::string& shortExt, const std::string& longExt)
{
    return AsciiLower(shortExt) == AsciiLower(longExt.substr(0, 4));
}

}  // namespace

SectorFetch DeviceOrderPrevious(Device& device)
{
    return [&device](std::uint64_t sector, std::uint8_t* out, std::uint64_t& previous) {
        if (sector <= 1)
            return 0;
        previous = sector - 1;
        return ReadSectorsFrom(device, 1, previous, out) ? 1 : -1;
    };
}

SectorFetch ChainOrderPrevious(Device& device, const FatVolume& volume, std::vector<std::uint32_t> chain)
{
    return [&device, volume, chain = std::move(chain)](std::uint64_t sector, std::uint8_t* out,
                                                       std::uint64_t& previous) {
        const std::uint32_t spc = volume.sectorsPerCluster;
        if (spc == 0 || sector < volume.cluster0Start)
            return 0;
        std::uint64_t rel = sector - volume.cluster0Start;
        if (rel % spc != 0) {
            previous = sector - 1;
        } else {
            std::uint64_t cluster = rel / spc;
            std::size_t k = 0;
            while (k < chain.size() && chain[k] != cluster)
                ++k;
            if (k == 0 || k >= chain.size())
                return 0;
            previous = volume.ClusterSector(chain[k - 1]) + spc - 1;
        }
        return ReadSectorsFrom(device, 1, previous, out) ? 1 : -1;
    };
}

SectorFetch FixedRootPrevious(Device& device, std::uint64_t rootStart)
{
    return [&device, rootStart](std::uint64_t sector, std::uint8_t* out, std::uint64_t& previous) {
        if (sector <= rootStart)
            return 0;
        previous = sector - 1;
        return ReadSectorsFrom(device, 1, previous, out) ? 1 : -1;
    };
}

namespace {

// Gathers the long name in front of the short entry at `offset`. When
// `checksum` is not negative, `allSlotsMatch` tells whether every slot taken
// carries that checksum in byte 13.
std::string GatherLongName(const std::uint8_t* sector, unsigned offset, std::uint64_t sectorNumber,
                           const SectorFetch& previous, int checksum, bool& allSlotsMatch)
{
    allSlotsMatch = true;
    std::uint8_t buf[512];
    std::memcpy(buf, sector, sizeof buf);
    std::u16string units;
    unsigned taken = 0;
    bool ended = false;
    unsigned k = 1;
    long pos = static_cast<long>(offset);
    std::uint64_t current = sectorNumber;
    for (;;) {
        if (taken > kMaxLongNameUnits)
            break;
        pos -= static_cast<long>(kFatEntrySize);
        if (pos < 0) {
            // The run continues at the end of the sector in front.
            if (!previous)
                break;
            std::uint64_t before = 0;
            int got = previous(current, buf, before);
            if (got == 0)
                break;
            if (got < 0)
                return {};          // part of the name is unreadable: use the 8.3 name
            current = before;
            pos = 512 - static_cast<long>(kFatEntrySize);
        }
        const std::uint8_t* slot = buf + pos;
        if (slot[11] != 0x0F)
            break;
        if (checksum >= 0 && slot[13] != checksum)
            allSlotsMatch = false;
        for (unsigned off : kSlotUnitOffsets) {
            ++taken;
            char16_t u = static_cast<char16_t>(FatEntryBytes(slot).U16(off));
            if (ended)
                continue;
            if (u == 0) {
                ended = true;
                continue;
            }
            units.push_back(u);
        }
        if (slot[0] == 0x40 + k)
            break;
        ++k;
    }
    return Utf16ToUtf8(units);
}

// The checksum each long-name slot carries of its short entry's 11 name bytes
// as stored: rotate the sum right by one bit, add the next byte.
std::uint8_t ShortNameChecksum(const std::uint8_t* entry)
{
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
    return sum;
}

bool IsTakenAttribute(std::uint8_t attr, const FatEntryRules& rules)
{
    if (attr & 0xC0)
        return false;                       // no FAT driver sets these bits
    const bool directory = (attr & 0x10) != 0;
    if ((attr & 0x08) && !directory)
        return false;                       // a long-name slot (0x0F) or the volume label
    if (rules.filesOnly && directory)
        return false;
    if (rules.mode == FatEntryMode::Directory)
        return directory;
    return true;
}

}  // namespace

std::string AssembleLongFileName(const std::uint8_t* sector, unsigned offset, std::uint64_t sectorNumber,
                                 const SectorFetch& previous)
{
    bool unused = true;
    return GatherLongName(sector, offset, sectorNumber, previous, -1, unused);
}

std::string ParseFatDirEntry(const std::uint8_t* sector, int index, std::uint64_t sectorNumber,
                             const FatEntryRules& rules, const SectorFetch& previous, FatEntryResult& result)
{
    result.name.clear();
    if (index < 0 || index >= kFatEntriesPerSector)
        return {};
    const std::uint8_t* e = sector + static_cast<std::size_t>(index) * kFatEntrySize;
    if (e[0] == 0x00) {
        result.endOfDirectory = true;
        return {};
    }
    if (e[0] == '.' && e[3] == ' ')
        return {};
    const std::uint8_t attr = e[11];
    if (!IsTakenAttribute(attr, rules))
        return {};
    if (rules.mode == FatEntryMode::File && FatEntryBytes(e).U32(28) > rules.endByte)
        return {};

    // NAME.EXT from the raw bytes: spaces dropped, a dot only when the
    // extension's first byte is not a space.
    // Byte 12 bits 0x08 and 0x10 mark a base name and an extension that were
    // written in lower case without long-name slots; the display name follows
    // them, as every FAT driver does (the 8.3 name itself stays upper case).
    auto caseByte = [](std::uint8_t c, bool lower) {
        return static_cast<char>(lower && c >= 'A' && c <= 'Z' ? c + 32 : c);
    };
    const bool lowerBase = (e[12] & 0x08) != 0;
    const bool lowerExt = (e[12] & 0x10) != 0;
    std::string raw, cased;
    for (int i = 0; i < 8; ++i)
        if (e[i] != ' ') {
            raw.push_back(static_cast<char>(e[i]));
            cased.push_back(caseByte(e[i], lowerBase && !(i == 0 && e[i] == 0xE5)));
        }
    if (e[8] != ' ') {
        raw.push_back('.');
        cased.push_back('.');
    }
    for (int i = 8; i < 11; ++i)
        if (e[i] != ' ') {
            raw.push_back(static_cast<char>(e[i]));
            cased.push_back(caseByte(e[i], lowerExt));
        }
    result.deleted = false;
    if (!raw.empty() && static_cast<unsigned char>(raw[0]) == 0xE5) {
        result.deleted = true;
        raw[0] = '_';
        cased[0] = '_';
    } else if (!raw.empty() && raw[0] == 0x05) {
        // A name whose first byte really is 0xE5 (a code-page letter) stores
        // 0x05 there, so that it does not read as deleted.
        raw[0] = cased[0] = static_cast<char>(0xE5);
    }
    std::string shortName = Windows1252ToUtf8(raw);
    if (!IsPlausibleShortName(shortName, false))
        return {};
    if (!IsValidFatDateTime(FatEntryBytes(e).U16(24), FatEntryBytes(e).U16(22)))
        return {};

    const unsigned offset = static_cast<unsigned>(index) * kFatEntrySize;
    bool checksumMatches = false;
    std::string longName = GatherLongName(sector, offset, sectorNumber, previous, ShortNameChecksum(e),
                                          checksumMatches);
    if (rules.strictNames && !(checksumMatches && !longName.empty()) && !IsPlausibleShortName(shortName, true))
        return {};
    result.shortName = shortName;

    if (longName.empty()) {
        result.name = Windows1252ToUtf8(cased);
        return result.name;
    }
    std::string eL = TrimWhite(FindNameExtension(longName));
    std::string eS = TrimWhite(FindNameExtension(shortName));
    if (!eS.empty() && !eL.empty() && !IsShortFormOfExtension(eS, eL)) {
        // The extensions really differ: the 8.3 one replaces the long
        // name's final extension (and nothing earlier in the name).
        const std::size_t at = longName.rfind(eL);
        if (at != std::string::npos)
            longName.replace(at, eL.size(), AsciiLower(eS));
    }
    if (eL.empty())
        longName += eS;
    result.name = longName;
    return result.name;
}

}  // namespace torvane
