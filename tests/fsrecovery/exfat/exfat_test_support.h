// Shared helpers of the exFAT tests: the fixture volume in memory (to damage
// it), finding an entry set by its name, and a scan-and-save run.
#pragma once

#include "../../e2e/sha256.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/exfat/exfat_format.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace torvane::test {

inline std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void PutU16(std::string& image, std::uint64_t at, std::uint16_t v)
{
    image[at] = static_cast<char>(v & 0xFF);
    image[at + 1] = static_cast<char>(v >> 8);
}
inline void PutU32(std::string& image, std::uint64_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        image[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutU64(std::string& image, std::uint64_t at, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        image[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline std::uint32_t GetU32(const std::string& image, std::uint64_t at)
{
    return ByteView(reinterpret_cast<const std::uint8_t*>(image.data()), image.size()).U32(at);
}

// The byte offset of the file entry of the set whose name begins with `name`
// (ASCII, at most 15 characters), or npos.
inline std::size_t FindFileEntry(const std::string& image, const std::string& name)
{
    std::string pattern;
    for (char c : name) {
        pattern.push_back(c);
        pattern.push_back('\0');
    }
    for (std::size_t pos = image.find(pattern); pos != std::string::npos; pos = image.find(pattern, pos + 1)) {
        if (pos % 32 != 2)
            continue;
        const std::size_t nameEntry = pos - 2;
        if (nameEntry < 64)
            continue;
        const auto t = static_cast<std::uint8_t>(image[nameEntry]);
        const auto f = static_cast<std::uint8_t>(image[nameEntry - 64]);
        if (IsExfatNameType(t) && IsExfatFileType(f))
            return nameEntry - 64;
    }
    return std::string::npos;
}

// Rewrites the set checksum of the set at `fileEntry` (after a deliberate change).
inline void FixSetChecksum(std::string& image, std::size_t fileEntry)
{
    const auto count = static_cast<std::uint8_t>(image[fileEntry + 1]);
    std::string set = image.substr(fileEntry, (count + 1) * 32);
    for (std::size_t i = 0; i < set.size(); i += 32)
        set[i] = static_cast<char>(set[i] | 0x80);
    PutU16(image, fileEntry + 2,
           ExfatSetChecksum(reinterpret_cast<const std::uint8_t*>(set.data()), count + 1));
}

// The 64 GiB card of exfat-card.tar.zst (root at cluster 4, /DCIM at 5): its
// head on a sparse device of the card's size. Null when it is not unpacked.
inline DevicePtr OpenExfatCard()
{
    const std::string head = ReadWholeFile(FixtureImage("exfat-card.head"));
    const auto sectors = GeometryNumber(LoadGeometry("exfat-card.head"), "card.sectors");
    if (head.empty() || !sectors)
        return nullptr;
    auto device = std::make_shared<SparseDevice>(*sectors * 512, ByteFunction{}, "exfat-card");
    device->Write(0, head);
    return device;
}

// A partition covering the whole of `device`.
inline CurrentPartition WholeVolume(DevicePtr device, std::uint64_t start = 0, std::uint64_t end = 0)
{
    CurrentPartition p;
    p.Descriptor.FsType = "exFAT";
    p.Descriptor.FsName = "exFAT";
    p.Descriptor.StartSector = start;
    p.Descriptor.EndSector = end ? end : device->SizeBytes() / 512;
    p.Descriptor.EndByte = p.Descriptor.EndSector * 512;
    p.Device = std::move(device);
    p.RecoveryMode = 1;
    return p;
}

struct SavedFile {
    std::uint64_t size = 0;
    std::string sha;
};

// Every regular file under `root`, by its path relative to it ("/a/b.txt").
inline std::map<std::string, SavedFile> SavedFiles(const std::filesystem::path& root)
{
    std::map<std::string, SavedFile> out;
    if (!std::filesystem::exists(root))
        return out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file())
            continue;
        std::string rel = "/" + std::filesystem::relative(e.path(), root).generic_string();
        out[rel] = SavedFile{static_cast<std::uint64_t>(e.file_size()), Sha256OfFile(e.path().string())};
    }
    return out;
}

}  // namespace torvane::test
