// Where one carving pass writes: the folders down to each extension folder
// under the destination, and the creation of every carved file.
//
// Creating a file:
// - the extension's row chooses the folder (rolling over after
//   filesPerFolder files) and the name's suffix;
// - the next counter value names the file: in the Photo Search one counter
//   per pass for all extensions, with the pass's prefix ("GNDR", "THDR"); in
//   the signature search the extension's own counter (its last file number
//   + 1), which runs on into the Thorough pass, with the extension as prefix;
// - the Photo Search removes a file already at that path first;
// - a name refused for lack of permission is skipped: the next counter value
//   is tried, then the next, up to kCarvedNameAttempts names in all;
// - any other refusal of the first name (a full or missing destination)
//   means the destination cannot take carved files.
//
// The folders are made one level at a time below the destination; a level
// that is a symbolic link or not a folder is refused (ELOOP, ENOTDIR), so no
// carved file is ever written outside the destination's tree.
#pragma once

#include "carving/extension_table.h"
#include "carving/signature_file.h"
#include "results/save_target.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace torvane {

inline constexpr int kCarvedNameAttempts = 1000;

struct CarvedNaming {
    // "GNDR" or "THDR": one counter per pass for all extensions, and an
    // existing file at the chosen path is removed first. Empty: the
    // extension is the prefix and counts on its own.
    std::string prefix;
};

struct CarvedTarget {
    std::unique_ptr<TargetFile> file;
    std::string name;       // "GNDR00001.jpg"
    std::string path;       // full path
    std::string extension;  // the record's extension without its dot ("jpg", "MP4")
};

class CarvedOutput {
public:
    // `levels` are the folder names below `destination` down to the pass
    // folder: {ProgramBaseName, "Photo Search", "General"}.
    CarvedOutput(TargetFileSystem& fs, std::string destination, std::vector<std::string> levels,
                 ExtensionTable& table, CarvedNaming naming, std::uint64_t filesPerFolder = kCarvedFilesPerFolder);

    // Makes the folders down to the pass folder; 0, or the errno of the level
    // that failed.
    int MakePassFolder();
    const std::string& PassFolder() const { return passFolder_; }

    // Opens the next carved file for `record`. nullptr when the destination
    // cannot take it, with `error` set to the errno. `row` receives the
    // extension's row after the file was counted.
    std::unique_ptr<CarvedTarget> Open(const FileType1& record, int& error, ExtensionFolderRow* row = nullptr);

    // Folders this pass made or wrote into (the destination itself not counted).
    const std::set<std::string>& FoldersUsed() const { return foldersUsed_; }

private:
    int MakeLevels(const std::vector<std::string>& paths);

    TargetFileSystem& fs_;
    std::vector<std::string> levelPaths_;  // cumulative paths, down to the pass folder
    std::string passFolder_;
    ExtensionTable& table_;
    CarvedNaming naming_;
    std::uint64_t filesPerFolder_;
    std::uint64_t passCounter_ = 0;
    std::set<std::string> foldersUsed_;
};

// Makes one folder; an existing folder is fine. A symbolic link or anything
// else in its place is refused (ELOOP, ENOTDIR). 0 or errno.
int MakeCarvedFolder(TargetFileSystem& fs, const std::string& path);

}  // namespace torvane
