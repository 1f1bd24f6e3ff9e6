#include "results/found_file_opener.h"

#include "base/text_routines.h"
#include "fsrecovery/store/name_rules.h"
#include "results/save_walkers.h"

#include <atomic>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {
namespace {

std::atomic<std::uint64_t> g_extractCounter{0};

// Characters of a recovered extension that may go into a file name.
bool IsExtensionCharacter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

constexpr std::size_t kMaxExtension = 32;
constexpr std::size_t kDisplayNameLength = 45;

// The extension without its dot, trimmed.
std::string RawExtension(std::string_view name)
{
    std::string_view ext = FindNameExtension(name);
    if (!ext.empty())
        ext.remove_prefix(1);
    return TrimWhite(ext);
}

// The number of characters (not bytes) of UTF-8 text, and the byte offset
// of character `n`.
std::size_t CharacterCount(std::string_view text)
{
    std::size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

std::size_t ByteOfCharacter(std::string_view text, std::size_t n)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == n)
                return i;
            ++seen;
        }
    }
    return text.size();
}

bool FileLength(const std::string& path, std::uint64_t& length)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    length = static_cast<std::uint64_t>(st.st_size);
    return true;
}

}  // namespace

std::string OpenDisplayName(std::string_view name)
{
    if (CharacterCount(name) <= kDisplayNameLength)
        return std::string(name);
    return std::string(name.substr(0, ByteOfCharacter(name, kDisplayNameLength))) + " . . ." + RawExtension(name);
}

std::string ExtractTempName(std::uint64_t counter, std::string_view fileName)
{
    std::string ext;
    for (unsigned char c : RawExtension(fileName))
        if (IsExtensionCharacter(c) && ext.size() < kMaxExtension)
            ext.push_back(static_cast<char>(c));
    std::string name = "KZUC" + std::to_string(counter);
    if (!ext.empty())
        name += "." + ext;
    return name;
}

std::uint64_t NextExtractNumber()
{
    return g_extractCounter.fetch_add(1);
}

ExtractedFileKey ExtractedFileKeyOf(const SaveRow& row)
{
    return ExtractedFileKey{row.fsKey, row.id, row.name, row.size, row.volumeRow};
}

// ---- the registry ------------------------------------------------------------------

ExtractedFileRegistry::Decision ExtractedFileRegistry::Find(const ExtractedFileKey& key, const std::string& folder,
                                                            std::string& path) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : entries_) {
        if (!(e.key == key))
            continue;
        path = folder + e.fileName;
        std::uint64_t length = 0;
        // Gone, shorter than the file (stopped early), or unreadable: copy again.
        if (!FileLength(path, length) || key.size > length)
            return Decision::CopyAgain;
        return Decision::Reuse;
    }
    return Decision::CopyNew;
}

void ExtractedFileRegistry::Add(const ExtractedFileKey& key, const std::string& fileName)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& e : entries_) {
        if (e.key == key) {
            e.fileName = fileName;
            return;
        }
    }
    entries_.push_back(Entry{key, fileName});
}

void ExtractedFileRegistry::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

std::size_t ExtractedFileRegistry::Size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

// ---- the job -------------------------------------------------------------------------

OpenFoundFileJob::OpenFoundFileJob(OpenFoundFileRequest request, JobEvents* events)
    : Job(events), request_(std::move(request))
{
    session_.SetExternalStop([this] { return StopRequested(); }, [this] { Stop(); });
}

OpenFoundFileJob::~OpenFoundFileJob() { StopAndWait(); }

void OpenFoundFileJob::StopCopy()
{
    session_.Skip().skip = true;
    Stop();
}

void OpenFoundFileJob::Run()
{
    path_.clear();
    openable_ = false;
    copied_ = false;
    message_.clear();
    session_.ResetForSave();
    std::string folder = request_.folder;
    if (folder.empty() || !request_.results || !request_.volumes) {
        message_ = "There is no folder for temporary copies.";
        return;
    }
    if (folder.back() != '/')
        folder += '/';
    session_.SetDestination(folder);

    const ExtractedFileKey key = ExtractedFileKeyOf(request_.row);
    ExtractedFileRegistry::Decision decision = ExtractedFileRegistry::Decision::CopyNew;
    if (request_.registry)
        decision = request_.registry->Find(key, folder, path_);
    if (decision == ExtractedFileRegistry::Decision::Reuse) {
        openable_ = true;
        return;
    }
    std::string fileName;
    if (decision == ExtractedFileRegistry::Decision::CopyNew) {
        fileName = ExtractTempName(NextExtractNumber(), request_.row.name);
        path_ = folder + fileName;
    }
    ::unlink(path_.c_str());   // a leftover of that name goes; a failure shows at the copy

    SaverSet savers(*request_.results, *request_.volumes, request_.basicSearch);
    FileSystemSaver* saver = savers.ForRow(request_.row);
    if (!saver) {
        message_ = "There is no scanned volume to read the file from.";
        return;
    }
    saver->SaveFileRow(session_, path_, request_.row);

    const SaveReport& report = session_.Report();
    std::uint64_t length = 0;
    const bool failed = report.Count(FileOutcome::Failed) + report.Count(FileOutcome::GivenUp) +
                            report.Count(FileOutcome::Skipped) + report.Count(FileOutcome::NotSaved) >
                        0;
    // A copy that got no byte of a file that has some shows nothing: say why
    // instead of opening it. A copy cut short by Stop, or by data the device
    // no longer has, opens with what it holds.
    const bool empty = FileLength(path_, length) && length == 0 && request_.row.size > 0 && !StopRequested();
    if (failed || empty || !FileLength(path_, length)) {
        const std::vector<SaveProblem> problems = report.Problems();
        message_ = "The file could not be copied for opening";
        if (!problems.empty() && !problems.front().detail.empty())
            message_ += ": " + problems.front().detail;
        message_ += ".";
        ::unlink(path_.c_str());
        return;
    }
    copied_ = true;
    openable_ = true;
    if (decision == ExtractedFileRegistry::Decision::CopyNew && request_.registry)
        request_.registry->Add(key, fileName);
}

}  // namespace torvane
