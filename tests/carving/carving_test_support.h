// Shared pieces of the carving engine tests: signature records in one line,
// an event sink that records everything, a destination file system that
// refuses what a test tells it to, and devices that fail or stop on cue.
#pragma once

#include "carving/carving_events.h"
#include "carving/carving_search_job.h"
#include "carving/signature_file.h"
#include "results/save_target.h"
#include "support/device_doubles.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace torvane::test {

// A signature record: extension, largest size, header hex, key offset.
inline FileType1 Sig(const std::string& extension, std::uint64_t maxSize, const std::string& headerHex, int keyPos = 1)
{
    FileType1 r;
    r.extension = extension;
    r.maxSize = std::to_string(maxSize);
    ParseSignatureHeader(headerHex, r);
    r.keyPos = keyPos;
    return r;
}

inline SignatureList ListOf(std::initializer_list<FileType1> records)
{
    SignatureList list;
    for (const FileType1& r : records)
        list.Append(r);
    return list;
}

// Bytes of a hex text ("AA55C33C").
inline std::string Bytes(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string DeviceBytes(Device& device, std::uint64_t offset, std::size_t length)
{
    std::string out(length, '\0');
    std::size_t done = 0;
    while (done < length) {
        std::int64_t n = device.ReadAt(offset + done, out.data() + done, length - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return out;
}

struct AskedQuestion {
    std::string kind;
    std::string text;
};

// Records every event; answers questions through `answer` (default: -1, as
// with no dialog attached). Thread-safe.
class RecordingEvents : public CarvingEvents {
public:
    std::function<int(const JobQuestion&)> answer;

    void OnStatusText(const std::string& text) override { Locked([&] { status.push_back(text); }); }
    void OnPassStarted(const CarvingPassInfo& info) override { Locked([&] { passes.push_back(info); }); }
    void OnCarvedFile(const CarvedFile& file) override { Locked([&] { files.push_back(file); }); }
    void OnExtensionRow(const ExtensionFolderRow& row) override { Locked([&] { rows.push_back(row); }); }
    void OnSearchEnded(int finished) override { Locked([&] { ended.push_back(finished); }); }
    void OnQuestion(const JobQuestion& q, std::function<void(int)> reply) override
    {
        Locked([&] { questions.push_back({q.kind, q.text}); });
        reply(answer ? answer(q) : -1);
    }
    void Clear()
    {
        std::lock_guard lock(mutex_);
        status.clear();
        passes.clear();
        files.clear();
        rows.clear();
        ended.clear();
        questions.clear();
    }
    std::size_t QuestionsOf(const std::string& kind) const
    {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const AskedQuestion& q : questions)
            n += q.kind == kind;
        return n;
    }

    std::vector<std::string> status;
    std::vector<CarvingPassInfo> passes;
    std::vector<CarvedFile> files;
    std::vector<ExtensionFolderRow> rows;
    std::vector<int> ended;
    std::vector<AskedQuestion> questions;

private:
    template <class F>
    void Locked(F f)
    {
        std::lock_guard lock(mutex_);
        f();
    }
    mutable std::mutex mutex_;
};

// The real file system, with refusals a test asks for.
class InjectingFileSystem final : public TargetFileSystem {
public:
    // errno for a Create of `path` (0: let it through).
    std::function<int(const std::string& path)> createError;
    // Writes fail with ENOSPC once this many bytes went through (0: never).
    std::uint64_t writeLimit = 0;
    std::atomic<int> creates{0};

    bool Exists(const std::string& p) override { return real_.Exists(p); }
    bool IsDirectory(const std::string& p) override { return real_.IsDirectory(p); }
    bool IsSymbolicLink(const std::string& p) override { return real_.IsSymbolicLink(p); }
    int MakeDirectory(const std::string& p) override { return real_.MakeDirectory(p); }
    int RemoveFile(const std::string& p) override { return real_.RemoveFile(p); }
    int RemoveDirectory(const std::string& p) override { return real_.RemoveDirectory(p); }
    std::unique_ptr<TargetFile> Create(const std::string& path, int& error) override
    {
        ++creates;
        if (createError) {
            if (int e = createError(path); e != 0) {
                error = e;
                return nullptr;
            }
        }
        auto file = real_.Create(path, error);
        if (!file)
            return nullptr;
        return std::make_unique<LimitedFile>(std::move(file), *this);
    }

private:
    class LimitedFile final : public TargetFile {
    public:
        LimitedFile(std::unique_ptr<TargetFile> inner, InjectingFileSystem& fs) : inner_(std::move(inner)), fs_(fs) {}
        int Write(const void* data, std::size_t length) override
        {
            if (fs_.writeLimit != 0 && fs_.written_ + length > fs_.writeLimit) {
                const std::size_t part = static_cast<std::size_t>(fs_.writeLimit - fs_.written_);
                inner_->Write(data, part);
                fs_.written_ += part;
                return ENOSPC;
            }
            fs_.written_ += length;
            return inner_->Write(data, length);
        }
        int Close() override { return inner_->Close(); }

    private:
        std::unique_ptr<TargetFile> inner_;
        InjectingFileSystem& fs_;
    };

    TargetFileSystem& real_ = PosixTargetFileSystem();
    std::uint64_t written_ = 0;
};

// Wraps a device: reads that touch [first, end) fail while `broken` is set;
// `onRead` runs before every read (a test stops the job there).
class ScriptedDevice final : public Device {
public:
    explicit ScriptedDevice(DevicePtr inner) : inner_(std::move(inner)) {}
    std::atomic<bool> broken{false};
    std::uint64_t failFirst = 0, failEnd = 0;
    std::function<void(std::uint64_t offset)> onRead;
    std::atomic<int> reads{0};

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        ++reads;
        if (onRead)
            onRead(offset);
        if (broken && offset < failEnd && offset + length > failFirst) {
            if (offset >= failFirst) {
                errno = EIO;
                return -1;
            }
            length = static_cast<std::size_t>(failFirst - offset);
        }
        return inner_->ReadAt(offset, buffer, length);
    }
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
};

// Bytes that no test header matches: every sector counts up from its own
// start value (see SectorPattern).
inline std::shared_ptr<SparseDevice> PatternDevice(std::uint64_t sectors)
{
    return std::make_shared<SparseDevice>(sectors * kSectorSize, SectorPattern, "pattern");
}

}  // namespace torvane::test
