#include "app/start_up.h"

#include "base/program_state.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace torvane {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string ParsePendingScanLogPath(const std::vector<std::string>& positional)
{
    std::string text;
    for (std::size_t i = 0; i < positional.size(); ++i) {
        if (i > 0) text += ' ';
        text += positional[i];
    }
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
    std::size_t lead = 0;
    while (lead < text.size() && IsBlank(text[lead])) ++lead;
    text.erase(0, lead);
    if (!text.empty() && text.front() == '"') text.erase(0, 1);
    if (!text.empty() && text.back() == '"') text.pop_back();
    return text;
}

namespace {

void RemoveEvery(std::string& text, std::string_view what)
{
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) text.erase(at, what.size());
}

}  // namespace

std::string ShortenUrlForDisplay(std::string_view url, bool keepWww)
{
    std::string text(url);
    if (keepWww) {
        RemoveEvery(text, "http://");
        RemoveEvery(text, "https://");
    } else {
        for (std::string_view prefix : {"http://www.", "https://www.", "http://", "https://", "www."})
            RemoveEvery(text, prefix);
    }
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
    std::size_t lead = 0;
    while (lead < text.size() && IsBlank(text[lead])) ++lead;
    return text.substr(lead);
}

std::vector<std::string> HelpFileCandidates(std::string_view programFolder)
{
    std::string folder = programFolder.empty() ? std::string(".") : std::string(programFolder);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::vector<std::string> out{(folder == "/" ? folder : folder + "/") + kHelpManualName};
    const std::string share = std::string("share/torvane/") + kHelpManualName;
    // <prefix>/bin/torvane: <prefix>/share/torvane.
    const auto slash = folder.rfind('/');
    if (slash != std::string::npos && folder != "/") out.push_back(folder.substr(0, slash) + "/" + share);
    for (const char* prefix : {"/usr/local/", "/usr/"}) {
        std::string path = prefix + share;
        if (std::find(out.begin(), out.end(), path) == out.end()) out.push_back(std::move(path));
    }
    return out;
}

std::string HelpFilePath(std::string_view programFolder)
{
    const std::vector<std::string> candidates = HelpFileCandidates(programFolder);
    for (const std::string& path : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return path;
    }
    return candidates.front();
}

std::string ProgramFolderOf(std::string_view executablePath)
{
    const auto slash = executablePath.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(executablePath.substr(0, slash));
}

ShutdownRegistry& ShutdownRegistry::Instance()
{
    static ShutdownRegistry registry;
    return registry;
}

ShutdownRegistry::Token ShutdownRegistry::AddWorker(std::string name, std::function<void()> stopAndWait)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Token token = next_++;
    workers_.push_back({token, std::move(name), std::move(stopAndWait)});
    return token;
}

void ShutdownRegistry::RemoveWorker(Token token)
{
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.erase(std::remove_if(workers_.begin(), workers_.end(), [&](const Entry& e) { return e.token == token; }),
                   workers_.end());
}

void ShutdownRegistry::AddCleanup(std::string name, std::function<void()> cleanup)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cleanups_.push_back({next_++, std::move(name), std::move(cleanup)});
}

std::vector<std::string> ShutdownRegistry::StopAllAndCleanUp()
{
    std::vector<std::string> done;
    // Workers: take one at a time (newest first) without holding the lock
    // while it stops, since a stopping worker may unregister itself.
    for (;;) {
        Entry entry;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (workers_.empty()) break;
            entry = std::move(workers_.back());
            workers_.pop_back();
        }
        if (entry.run) entry.run();
        done.push_back(entry.name);
    }
    std::vector<Entry> cleanups;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cleanups.swap(cleanups_);
    }
    for (Entry& entry : cleanups) {
        if (entry.run) entry.run();
        done.push_back(entry.name);
    }
    return done;
}

std::size_t ShutdownRegistry::WorkerCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return workers_.size();
}

void ShutdownRegistry::ResetForTests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.clear();
    cleanups_.clear();
}

TemporaryExtractFolder& TemporaryExtractFolder::Instance()
{
    static TemporaryExtractFolder folder;
    return folder;
}

std::string TemporaryExtractFolder::Path()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!path_.empty()) return path_;
    std::string parent = parent_;
    if (parent.empty()) parent = DefaultTempFolderPath();
    if (parent.back() != '/') parent += '/';
    std::string pattern = parent + "torvane-XXXXXX";
    // mkdtemp creates the folder with mode 0700.
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    path_ = pattern + "/";
    return path_;
}

bool TemporaryExtractFolder::Created() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !path_.empty();
}

void TemporaryExtractFolder::Remove()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    path_.clear();
}

void TemporaryExtractFolder::SetParentForTests(std::string parent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    parent_ = std::move(parent);
}

void DeleteTempExtractedFiles()
{
    TemporaryExtractFolder::Instance().Remove();
}

}  // namespace torvane
