// Shared pieces of the save tests: a Basic scan of a fixture image, scripted
// answers to the save's questions, a destination that fails on demand, and
// small file helpers.
#pragma once

#include "fsrecovery/fat/fat_lost_folder_names.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/search_session.h"
#include "results/save_session.h"
#include "results/save_walkers.h"
#include "support/fixtures.h"
#include "../e2e/sha256.h"

#include <cerrno>
#include <deque>
#include <functional>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace torvane::test {

// A fixture volume scanned with the Basic scan, ready to be saved.
struct ScannedImage {
    std::unique_ptr<SearchSession> session = std::make_unique<SearchSession>(1);
    ScanResults* results = &session->Results();
    DevicePtr device;
    FatVolume fat;
    std::shared_ptr<const VolumeSet> volumes;

    TreeNodeId Root() const { return results->Tree().RootItem(); }
    // The folder item at "/A/B" (the root is "").
    TreeNodeId Item(const std::string& path) const
    {
        TreeModel& tree = results->Tree();
        TreeNodeId node = tree.RootItem();
        std::size_t pos = 1;
        while (node != kNoTreeNode && pos < path.size() + 1 && !path.empty()) {
            std::size_t slash = path.find('/', pos);
            std::string part = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
            node = tree.FindChild(node, part);
            if (slash == std::string::npos)
                break;
            pos = slash + 1;
        }
        return node;
    }
};

inline std::string Sha256OfFileForTest(const std::filesystem::path& path) { return Sha256OfFile(path.string()); }

inline std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Scans `device` (a FAT volume image) with the Basic scan.
inline ScannedImage ScanDevice(DevicePtr device, const std::string& fsType)
{
    ScannedImage s;
    s.device = device;
    CurrentPartition p;
    p.Descriptor.FsType = fsType;
    p.Descriptor.StartSector = 0;
    p.Descriptor.EndSector = device->SizeBytes() / 512;
    p.Descriptor.EndByte = device->SizeBytes();
    p.RecoveryMode = 1;
    p.Device = device;
    s.session->RunScanHere(p);
    s.fat = FatVolumeFromDescriptor(s.session->Partition().Descriptor);
    s.volumes = s.session->Volumes();
    // Name the lost sub-folders as a user opening the folders would.
    TreeModel& tree = s.results->Tree();
    TreeNodeId root = tree.RootItem();
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root))
        NameLostSubfolders(*s.results, *device, s.fat, n);
    return s;
}

inline ScannedImage ScanFixture(const std::string& image)
{
    auto geometry = LoadGeometry(image);
    return ScanDevice(OpenFileDevice(FixtureImage(image).string()), geometry.at("fs"));
}

// Answers the save's questions from a script; records what was asked.
class ScriptedQuestions final : public SaveQuestions {
public:
    std::deque<ReplaceReply> replaceReplies;
    std::deque<TooLongReply> tooLongReplies;
    std::vector<std::string> replaceAsked, tooLongAsked, messages;

    ReplaceReply AskReplace(const std::string& existing, const std::string& proposed) override
    {
        replaceAsked.push_back(existing);
        lastProposed = proposed;
        if (replaceReplies.empty())
            return ReplaceReply{ReplaceAnswer::Skip, {}};
        ReplaceReply r = replaceReplies.front();
        replaceReplies.pop_front();
        if ((r.answer == ReplaceAnswer::Rename || r.answer == ReplaceAnswer::RenameAll) && r.path.empty())
            r.path = proposed;
        return r;
    }
    TooLongReply AskTooLong(const std::string& path) override
    {
        tooLongAsked.push_back(path);
        if (tooLongReplies.empty())
            return TooLongReply{};
        TooLongReply r = tooLongReplies.front();
        tooLongReplies.pop_front();
        return r;
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::string lastProposed;
};

// The real file system, with writes that fail once a byte budget is spent
// (a destination that fills up) or with a chosen errno.
class LimitedFileSystem final : public TargetFileSystem {
public:
    LimitedFileSystem(std::uint64_t budget, int error = ENOSPC) : budget_(budget), error_(error) {}
    bool Exists(const std::string& p) override { return real_.Exists(p); }
    bool IsDirectory(const std::string& p) override { return real_.IsDirectory(p); }
    int MakeDirectory(const std::string& p) override { return real_.MakeDirectory(p); }
    int RemoveFile(const std::string& p) override { return real_.RemoveFile(p); }
    int RemoveDirectory(const std::string& p) override { return real_.RemoveDirectory(p); }
    std::unique_ptr<TargetFile> Create(const std::string& path, int& error) override
    {
        if (failOpens_) {
            error = error_;
            return nullptr;
        }
        auto inner = real_.Create(path, error);
        if (!inner)
            return nullptr;
        return std::make_unique<File>(std::move(inner), *this);
    }
    void FailOpens(bool on) { failOpens_ = on; }
    std::uint64_t written = 0;
    // Called after every successful write with the bytes written so far.
    std::function<void(std::uint64_t)> onWrite;

private:
    class File final : public TargetFile {
    public:
        File(std::unique_ptr<TargetFile> inner, LimitedFileSystem& fs) : inner_(std::move(inner)), fs_(fs) {}
        int Write(const void* data, std::size_t length) override
        {
            if (fs_.written + length > fs_.budget_) {
                std::size_t room = static_cast<std::size_t>(fs_.budget_ - fs_.written);
                if (room)
                    inner_->Write(data, room);
                fs_.written += room;
                return fs_.error_;
            }
            fs_.written += length;
            int err = inner_->Write(data, length);
            if (fs_.onWrite)
                fs_.onWrite(fs_.written);
            return err;
        }
        int Close() override { return inner_->Close(); }

    private:
        std::unique_ptr<TargetFile> inner_;
        LimitedFileSystem& fs_;
    };
    TargetFileSystem& real_ = PosixTargetFileSystem();
    std::uint64_t budget_;
    int error_;
    bool failOpens_ = false;
};

}  // namespace torvane::test
