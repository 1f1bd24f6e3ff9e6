// Builds small disk images sector by sector for the partition-table and
// boot-sector tests: partition tables, EBR chains, GPT arrays and boot
// sectors of FAT16, FAT32, exFAT and NTFS with consistent geometry. Sectors
// not written read as zeros, so a "disk" of millions of sectors costs only
// the sectors that hold something.
#pragma once

#include "platform/device.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace torvane::test {

class SparseImage {
public:
    explicit SparseImage(std::uint64_t sectors) : sectors_(sectors) {}

    std::uint64_t Sectors() const { return sectors_; }
    std::uint8_t* Sector(std::uint64_t n) { return sectorData_[n].data(); }

    void Put8(std::uint64_t s, std::size_t off, std::uint8_t v) { Sector(s)[off] = v; }
    void Put16(std::uint64_t s, std::size_t off, std::uint16_t v) { PutLE(s, off, v, 2); }
    void Put32(std::uint64_t s, std::size_t off, std::uint32_t v) { PutLE(s, off, v, 4); }
    void Put64(std::uint64_t s, std::size_t off, std::uint64_t v) { PutLE(s, off, v, 8); }
    void PutText(std::uint64_t s, std::size_t off, const std::string& t) { std::memcpy(Sector(s) + off, t.data(), t.size()); }
    void Sign(std::uint64_t s) { Put8(s, 510, 0x55); Put8(s, 511, 0xAA); }
    void Zero(std::uint64_t s) { sectorData_.erase(s); }

    // Entry i (0..3) of the MBR or EBR at sector s.
    void MbrEntry(std::uint64_t s, int i, std::uint8_t type, std::uint32_t start, std::uint32_t length) {
        std::size_t off = 0x1BE + 16 * static_cast<std::size_t>(i);
        Put8(s, off + 4, type);
        Put32(s, off + 8, start);
        Put32(s, off + 12, length);
        Sign(s);
    }
    void ProtectiveMbr() {
        MbrEntry(0, 0, 0xEE, 1, static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors_ - 1, 0xFFFFFFFFu)));
        PutText(1, 0, "EFI PART");
    }
    void GptEntry(int index, const std::array<std::uint8_t, 16>& type, std::uint64_t first, std::uint64_t last) {
        std::uint64_t s = 2 + static_cast<std::uint64_t>(index) / 4;
        std::size_t off = 128 * static_cast<std::size_t>(index % 4);
        std::memcpy(Sector(s) + off, type.data(), 16);
        Sector(s)[off + 16] = static_cast<std::uint8_t>(index + 1);  // unique partition GUID
        Put64(s, off + 32, first);
        Put64(s, off + 40, last);
    }

    // A FAT16 boot sector at `start` and the media byte of both FATs.
    void Fat16(std::uint64_t start, std::uint16_t reserved, std::uint16_t spf, std::uint8_t spc,
               std::uint16_t rootEntries, std::uint32_t total) {
        Put8(start, 0, 0xEB);
        PutText(start, 3, "MSDOS5.0");
        Put16(start, 11, 512);
        Put8(start, 13, spc);
        Put16(start, 14, reserved);
        Put8(start, 16, 2);
        Put16(start, 17, rootEntries);
        if (total < 65536) Put16(start, 19, static_cast<std::uint16_t>(total)); else Put32(start, 32, total);
        Put8(start, 21, 0xF8);
        Put16(start, 22, spf);
        Put32(start, 39, 0x1234ABCD);
        PutText(start, 43, "NO NAME    ");
        PutText(start, 54, "FAT16   ");
        Sign(start);
        Put8(start + reserved, 0, 0xF8);
        Put8(start + reserved + spf, 0, 0xF8);
    }
    // A FAT32 boot sector at `start`, its backup at start + 6, and both FATs' media byte.
    void Fat32(std::uint64_t start, std::uint16_t reserved, std::uint32_t spf, std::uint8_t spc,
               std::uint32_t rootCluster, std::uint32_t total, bool backup = true) {
        for (std::uint64_t s : {start, start + 6}) {
            if (s != start && !backup) continue;
            Put8(s, 0, 0xEB);
            PutText(s, 3, "mkfs.fat");
            Put16(s, 11, 512);
            Put8(s, 13, spc);
            Put16(s, 14, reserved);
            Put8(s, 16, 2);
            Put8(s, 21, 0xF8);
            Put32(s, 32, total);
            Put32(s, 36, spf);
            Put32(s, 44, rootCluster);
            Put16(s, 50, 6);
            Put32(s, 67, 0xCAFE0001);
            PutText(s, 71, "NO NAME    ");
            PutText(s, 82, "FAT32   ");
            Sign(s);
        }
        Put8(start + reserved, 0, 0xF8);
        Put8(start + reserved + spf, 0, 0xF8);
    }
    void Exfat(std::uint64_t start, std::uint64_t partitionOffset, std::uint32_t fatOffset, std::uint32_t fatLength,
               std::uint32_t heapOffset, std::uint32_t clusterCount, std::uint32_t rootCluster,
               std::uint8_t spcShift, std::uint64_t volumeLength, std::uint32_t serial = 0x5EED0001) {
        Put8(start, 0, 0xEB);
        PutText(start, 3, "EXFAT   ");
        Put64(start, 64, partitionOffset);
        Put64(start, 72, volumeLength);
        Put32(start, 80, fatOffset);
        Put32(start, 84, fatLength);
        Put32(start, 88, heapOffset);
        Put32(start, 92, clusterCount);
        Put32(start, 96, rootCluster);
        Put32(start, 100, serial);
        Put16(start, 104, 0x0100);
        Put8(start, 108, 9);
        Put8(start, 109, spcShift);
        Put8(start, 110, 1);
        Sign(start);
    }
    // An NTFS boot sector at `at` for a volume starting at `start`; "FILE" at
    // the $MFT and $MFTMirr clusters (when `withRecords`).
    void Ntfs(std::uint64_t at, std::uint64_t start, std::uint8_t spc, std::uint64_t mftLcn, std::uint64_t mirrLcn,
              std::uint64_t totalSectors, std::uint32_t recordField = 0xF6, std::uint32_t indexField = 1,
              bool withRecords = true) {
        Put8(at, 0, 0xEB);
        PutText(at, 3, "NTFS    ");
        Put16(at, 11, 512);
        Put8(at, 13, spc);
        Put8(at, 21, 0xF8);
        Put64(at, 40, totalSectors);
        Put64(at, 48, mftLcn);
        Put64(at, 56, mirrLcn);
        Put32(at, 64, recordField);
        Put32(at, 68, indexField);
        Sign(at);
        if (withRecords) {
            PutText(start + mftLcn * spc, 0, "FILE0");
            PutText(start + mirrLcn * spc, 0, "FILE0");
        }
    }

    DevicePtr Device(std::string name = "image") const;

private:
    void PutLE(std::uint64_t s, std::size_t off, std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) Sector(s)[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::uint64_t sectors_;
    std::map<std::uint64_t, std::array<std::uint8_t, 512>> sectorData_;
};

// A read-only Device over a snapshot of a SparseImage.
class SparseImageDevice : public Device {
public:
    SparseImageDevice(std::string name, std::uint64_t sectors,
                      std::map<std::uint64_t, std::array<std::uint8_t, 512>> data)
        : name_(std::move(name)), sectors_(sectors), data_(std::move(data)) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        std::uint64_t size = sectors_ * 512;
        if (offset >= size) return 0;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::memset(out, 0, n);
        for (std::size_t done = 0; done < n;) {
            std::uint64_t pos = offset + done;
            std::uint64_t s = pos / 512;
            std::size_t in = static_cast<std::size_t>(pos % 512);
            std::size_t chunk = std::min<std::size_t>(512 - in, n - done);
            auto it = data_.find(s);
            if (it != data_.end()) std::memcpy(out + done, it->second.data() + in, chunk);
            done += chunk;
        }
        ++reads;
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t SizeBytes() const override { return sectors_ * 512; }
    const std::string& Path() const override { return name_; }
    std::uint64_t reads = 0;

private:
    std::string name_;
    std::uint64_t sectors_;
    std::map<std::uint64_t, std::array<std::uint8_t, 512>> data_;
};

inline DevicePtr SparseImage::Device(std::string name) const {
    return std::make_shared<SparseImageDevice>(std::move(name), sectors_, sectorData_);
}

}  // namespace torvane::test
