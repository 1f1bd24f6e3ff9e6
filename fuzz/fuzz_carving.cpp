// Feeds hostile signature lists and hostile device blocks through the
// per-sector probe and both carving searches (an in-memory device, an
// in-memory destination that keeps no bytes).
//
// Input: byte 0 flags (bit 0 signature search, bit 1 Thorough pass, bits 2-3
// files per folder - 1, bit 5 one failing sector, bits 4, 6 and 7 all set:
// read ahead on a reader thread, else on the carving thread. A thread per
// pass (its stack mapped and unmapped, with the sanitizers' own per-thread
// state) costs more than the rest of a run, so one input in eight pays for
// it), byte 1 the failing sector's number / 2, bytes 2-3 the length L of
// a signature data file (u16 LE), then L bytes of it, then the device's
// bytes, repeated to fill at least one block and 8 sectors (at most two
// blocks). Blocks are 16 sectors here, not the engines' 512: every rule that
// works at block ends (largest sizes, read failures, the capped first chunk)
// is met with a device of a few dozen sectors, so many more inputs run.
// The records of the file alternate between the General and Thorough lists;
// the first kMaxRecords of them are read (the file's text is cut after their
// lines: the shipped lists hold fewer, and the parser has its own target).
#include "carving/carving_search_job.h"
#include "carving/signature_probe.h"
#include "results/save_target.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace torvane;

constexpr std::uint32_t kFuzzBlockSectors = 16;
constexpr std::size_t kMaxRecords = 128;

// The text up to the end of the first `lines` lines.
std::string_view FirstLines(std::string_view text, std::size_t lines)
{
    std::size_t at = 0;
    for (std::size_t n = 0; n < lines; ++n) {
        at = text.find('\n', at);
        if (at == std::string_view::npos)
            return text;
        ++at;
    }
    return text.substr(0, at);
}

class NullFile final : public TargetFile {
public:
    int Write(const void*, std::size_t) override { return 0; }
    int Close() override { return 0; }
};

class MemoryTarget final : public TargetFileSystem {
public:
    bool Exists(const std::string& path) override { return dirs_.count(path) || files_.count(path); }
    bool IsDirectory(const std::string& path) override { return dirs_.count(path) > 0; }
    int MakeDirectory(const std::string& path) override
    {
        if (Exists(path))
            return EEXIST;
        dirs_.insert(path);
        return 0;
    }
    std::unique_ptr<TargetFile> Create(const std::string& path, int& error) override
    {
        // Every carved name stays below the destination, made of the
        // program's own texts.
        if (path.rfind("/dest/", 0) != 0 || path.find("/../") != std::string::npos || path.find("//") != std::string::npos)
            __builtin_trap();
        if (dirs_.count(path)) {
            error = EISDIR;
            return nullptr;
        }
        files_.insert(path);
        error = 0;
        return std::make_unique<NullFile>();
    }
    int RemoveFile(const std::string& path) override { return files_.erase(path) ? 0 : ENOENT; }
    int RemoveDirectory(const std::string& path) override { return dirs_.erase(path) ? 0 : ENOENT; }

private:
    std::set<std::string> dirs_;
    std::set<std::string> files_;
};

class FailingSector final : public Device {
public:
    FailingSector(DevicePtr inner, std::uint64_t sector) : inner_(std::move(inner)), bad_(sector * kSectorSize) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (offset <= bad_ && bad_ < offset + length) {
            if (offset == bad_)
                return -1;
            length = static_cast<std::size_t>(bad_ - offset);
        }
        return inner_->ReadAt(offset, buffer, length);
    }
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::uint64_t bad_;
};

class Checks final : public CarvingEvents {
public:
    std::uint64_t end = 0;
    void OnCarvedFile(const CarvedFile& file) override
    {
        if (file.firstSector >= end || file.size > (end - file.firstSector) * kSectorSize)
            __builtin_trap();
    }
};

// The linear walk the probe stands for.
int LinearFirstHit(const SignatureList& list, const std::uint8_t* sector)
{
    for (std::int32_t pos : list.keyPositions) {
        if (pos < 1 || pos > kSignatureSectorSize)
            continue;
        FileType1 key;
        key.keyPos = pos;
        key.keyByte = sector[pos - 1];
        for (auto at = FindSignatureRecord(list, key); at; at = FindSignatureRecord(list, key, at)) {
            const FileType1& r = list.records[*at];
            if (r.MatchesSector(sector, kSignatureSectorSize) && !CarvedExtensionText(r.extension).empty())
                return static_cast<int>(*at);
        }
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const std::uint8_t flags = data[0];
    const std::uint64_t badSector = std::uint64_t{data[1]} * 2;
    std::size_t textLength = data[2] | (std::size_t{data[3]} << 8);
    textLength = std::min(textLength, size - 4);
    const std::string_view text = FirstLines(std::string_view(reinterpret_cast<const char*>(data + 4), textLength),
                                             kMaxRecords * kLinesPerSignatureRecord);
    const std::uint8_t* blocks = data + 4 + textLength;
    const std::size_t blockBytes = size - 4 - textLength;

    const SignatureDataFile file = SignatureDataFile::Parse(text);
    SignatureList general, thorough;
    for (std::size_t i = 0; i < file.entries.size() && i < kMaxRecords; ++i)
        (i % 2 ? thorough : general).Append(file.entries[i].record);

    std::string bytes;
    if (blockBytes > 0) {
        bytes.reserve(2 * kFuzzBlockSectors * kSectorSize);
        std::string unit(reinterpret_cast<const char*>(blocks), blockBytes);
        unit.resize((unit.size() + kSectorSize - 1) / kSectorSize * kSectorSize, '\0');
        // Just over one block: a block end with files open, and a short last block.
        while (bytes.size() < (kFuzzBlockSectors + 8) * kSectorSize &&
               bytes.size() + unit.size() <= 2 * kFuzzBlockSectors * kSectorSize)
            bytes += unit;
    }

    // The probe against the walk it stands for, on every distinct sector.
    const SignatureProbe probe(general);
    for (std::size_t at = 0; at + kSectorSize <= bytes.size() && at < blockBytes + kSectorSize; at += kSectorSize) {
        const auto* sector = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
        if (probe.FirstHit(sector) != LinearFirstHit(general, sector))
            __builtin_trap();
    }

    DevicePtr device = MakeMemoryDevice("fuzz", bytes);
    if (flags & 0x20)
        device = std::make_shared<FailingSector>(device, badSector);
    MemoryTarget target;
    Checks checks;
    checks.end = bytes.size() / kSectorSize;

    CarvingSearchRequest base;
    base.device = device;
    base.startSector = 0;
    base.endSector = checks.end;
    base.destination = "/dest";
    base.programBaseName = "torvane";
    base.thoroughPass = (flags & 0x02) != 0;
    base.filesPerFolder = 1 + ((flags >> 2) & 0x03);
    base.readAheadBlocks = (flags & 0xD0) == 0xD0 ? 2 : 0;
    base.blockSectors = kFuzzBlockSectors;
    base.fileSystem = &target;
    if (flags & 0x01) {
        SignatureSearchRequest request;
        static_cast<CarvingSearchRequest&>(request) = base;
        request.general = general;
        request.thorough = thorough;
        SignatureSearchJob job(request, &checks);
        job.RunHere();
    } else {
        PhotoSearchRequest request;
        static_cast<CarvingSearchRequest&>(request) = base;
        request.general = general;
        request.advance = thorough;
        PhotoSearchJob job(request, &checks);
        job.RunHere();
    }
    return 0;
}
