// Opening a found file: one file of the results is copied from the device
// into the program's own temporary folder, by the same writers a save uses,
// and the copy is handed to the desktop to open with its application.
//
// Copies are named "KZUC<n>.<extension>" (n counts the copies of this run;
// a name without an extension gets no dot) and remembered per found file:
// opening the same file again opens the copy already made, unless it is gone
// or shorter than the file (a copy stopped early), in which case it is made
// again under the same name. A found file is known by its volume, its id,
// its name and its size: two files of one Deep result that share a cluster
// number on different volumes, or a deleted file and the live one that took
// over its first cluster, are different files.
//
// The folder is the run's private temporary folder (created with mode 0700);
// copies are deleted with it at exit. The extension comes from a recovered
// name and is untrusted: only letters, digits, '-' and '_' of it are kept.
#pragma once

#include "base/job.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_system_volume.h"
#include "results/save_session.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// What the open-file window shows: "Opening File : " + size, and this.
inline constexpr char kOpeningFileText[] = "Opening File : ";
inline constexpr char kOpeningFileWaitText[] = "This may take a while, Please wait...";

// The name shown while a file is opened: the name itself up to 45
// characters, else its first 45 characters, " . . ." and its extension.
std::string OpenDisplayName(std::string_view name);
// "KZUC<counter>.<ext>" of a found file's name ("KZUC<counter>" without one).
std::string ExtractTempName(std::uint64_t counter, std::string_view fileName);
// The next copy number of this run (0, 1, 2, ...).
std::uint64_t NextExtractNumber();

struct ExtractedFileKey {
    std::uint64_t fsKey = 0;
    std::uint64_t id = 0;        // FAT: the first cluster; NTFS and exFAT: the entry's own id
    std::string name;
    std::uint64_t size = 0;
    std::uint32_t volumeRow = 0; // Deep FAT: the volume the row was listed from

    bool operator==(const ExtractedFileKey&) const = default;
};

ExtractedFileKey ExtractedFileKeyOf(const SaveRow& row);

// The copies made since the session's results were last reset.
class ExtractedFileRegistry {
public:
    enum class Decision {
        Reuse,      // open `path` as it is
        CopyAgain,  // copy to `path` again (the copy is gone or short)
        CopyNew,    // copy to a new name
    };
    // What to do for `key` in `folder` (ending in '/'); `path` gets the copy's
    // path for Reuse and CopyAgain.
    Decision Find(const ExtractedFileKey& key, const std::string& folder, std::string& path) const;
    // Remembers that `fileName` (in the folder) holds the copy of `key`.
    void Add(const ExtractedFileKey& key, const std::string& fileName);
    void Clear();
    std::size_t Size() const;

private:
    struct Entry {
        ExtractedFileKey key;
        std::string fileName;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

struct OpenFoundFileRequest {
    ScanResults* results = nullptr;
    std::shared_ptr<const VolumeSet> volumes;
    bool basicSearch = true;
    SaveRow row;                               // the file
    std::string folder;                        // where copies go (ends in '/')
    ExtractedFileRegistry* registry = nullptr; // may be null: always copy
};

// Makes (or finds) the copy of one found file.
class OpenFoundFileJob : public Job {
public:
    OpenFoundFileJob(OpenFoundFileRequest request, JobEvents* events = nullptr);
    ~OpenFoundFileJob() override;

    // The Stop button of the open-file window: the copy ends at its next chunk.
    void StopCopy();

    // While it runs: the bytes of the file copied so far (the window's bar).
    const SaveCounters& Counters() const { return session_.Counters(); }
    // After the run: the copy's path, whether it can be opened (a copy was
    // made or found; a copy stopped or cut short is opened as far as it got,
    // one that got no byte at all is not), whether it was made now, and why
    // not when it cannot be opened.
    const std::string& Path() const { return path_; }
    bool Openable() const { return openable_; }
    bool Copied() const { return copied_; }
    const std::string& Message() const { return message_; }
    const OpenFoundFileRequest& Request() const { return request_; }

protected:
    void Run() override;

private:
    OpenFoundFileRequest request_;
    mutable SaveSession session_;
    std::string path_;
    bool openable_ = false;
    bool copied_ = false;
    std::string message_;
};

}  // namespace torvane
