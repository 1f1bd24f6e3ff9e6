// GUI-free pieces of the application shell: start-up, links, shut-down.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// The scan-log path of the command line. `positional` are the arguments left
// once the toolkit and the device options have taken theirs (without
// argv[0]); several are joined with single blanks, so the whole text is one
// path. Then: trim white space at the end, then at the start; if the text
// begins with a double quote remove that one character; if it (as it now is)
// ends with a double quote remove that one character. Nothing else is parsed.
std::string ParsePendingScanLogPath(const std::vector<std::string>& positional);

// A web address shortened for display. keepWww: remove every "http://" and
// every "https://". Otherwise remove every "http://www.", then "https://www.",
// then "http://", then "https://", then "www.". Then trim white space.
std::string ShortenUrlForDisplay(std::string_view url, bool keepWww);

// The help manual: "Software Guide.html" beside the program (a build tree),
// else in the share/torvane folder of its installation prefix (the program
// in <prefix>/bin), else in /usr/local/share/torvane or /usr/share/torvane.
// The first that exists; the one beside the program when none does (opening
// it then says that it does not exist).
inline constexpr const char* kHelpManualName = "Software Guide.html";
std::string HelpFilePath(std::string_view programFolder);
// The places looked at, in order.
std::vector<std::string> HelpFileCandidates(std::string_view programFolder);

// The folder of an executable path (everything before its last '/'); "/" when
// the path has no folder part other than the root, "." when it has none.
std::string ProgramFolderOf(std::string_view executablePath);

// The work the exit sequence must end before the process goes.
//
// Every long-running worker (a scan, a carving pass, a partition search, a
// list population, a save) registers a stop-and-wait function while it runs.
// The exit sequence asks each to stop and waits for it to leave: no thread is
// ever killed. Clean-up functions (deleting this run's temporary extracts)
// run after every worker has left.
class ShutdownRegistry {
public:
    using Token = std::uint64_t;

    static ShutdownRegistry& Instance();

    // Registers a worker's stop-and-wait; returns a token to unregister it
    // when the worker ends on its own.
    Token AddWorker(std::string name, std::function<void()> stopAndWait);
    void RemoveWorker(Token token);
    // Registers a clean-up step (kept for the whole run).
    void AddCleanup(std::string name, std::function<void()> cleanup);

    // Stops and waits for every registered worker (newest first), then runs
    // every clean-up step (in registration order). Returns the names of the
    // steps run, for diagnostics. Safe to call more than once: each worker
    // and clean-up runs at most once.
    std::vector<std::string> StopAllAndCleanUp();

    std::size_t WorkerCount() const;
    // Tests only.
    void ResetForTests();

private:
    struct Entry {
        Token token = 0;
        std::string name;
        std::function<void()> run;
    };
    mutable std::mutex mutex_;
    Token next_ = 1;
    std::vector<Entry> workers_;
    std::vector<Entry> cleanups_;
};

// A private folder of this run for temporary copies of opened files (mode
// 0700 under the system's temporary folder), created on first use. Deleting
// it at exit removes only what this run created; files of other programs or
// of another running copy in the shared temporary folder are never touched.
class TemporaryExtractFolder {
public:
    static TemporaryExtractFolder& Instance();

    // Creates the folder when needed; returns its path with a trailing '/',
    // or an empty text when it cannot be created.
    std::string Path();
    // True once the folder exists.
    bool Created() const;
    // Removes the folder and everything in it; a later Path() creates a new
    // one.
    void Remove();
    // Tests: the parent folder to create the run folder in (default: the
    // system temporary folder).
    void SetParentForTests(std::string parent);

private:
    mutable std::mutex mutex_;
    std::string parent_;
    std::string path_;
};

// Deletes this run's temporary extracted files (the private folder).
void DeleteTempExtractedFiles();

}  // namespace torvane
