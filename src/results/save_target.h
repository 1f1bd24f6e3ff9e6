// Where a save writes: the destination file system, behind a small interface
// so that tests can put a faulty one (a full disk, a failing write) in place
// of the real one. Every call answers with an errno value (0 = success), so
// that the save can tell a full destination from a name that is too long.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace torvane {

class TargetFile {
public:
    virtual ~TargetFile() = default;
    // Writes all `length` bytes; 0 or the errno of the failure.
    virtual int Write(const void* data, std::size_t length) = 0;
    // Closes the file (flushing what is left); 0 or errno. Called once.
    virtual int Close() = 0;
};

class TargetFileSystem {
public:
    virtual ~TargetFileSystem() = default;
    // Anything (file, folder, link) of that name exists; links are not followed.
    virtual bool Exists(const std::string& path) = 0;
    virtual bool IsDirectory(const std::string& path) = 0;
    // Creates one folder; 0 or errno (EEXIST when something of that name exists).
    virtual int MakeDirectory(const std::string& path) = 0;
    // Creates or truncates a file for writing. A symbolic link at `path` is
    // not followed (a recovered name never writes outside its folder).
    virtual std::unique_ptr<TargetFile> Create(const std::string& path, int& error) = 0;
    // Removes a file; 0 or errno.
    virtual int RemoveFile(const std::string& path) = 0;
    // Removes an empty folder; 0 or errno.
    virtual int RemoveDirectory(const std::string& path) = 0;
    // `folder` was chosen by the user (the destination, or a folder picked
    // for too-long paths): what lies under it is written without following
    // any symbolic link, while the folder's own path is taken as given.
    virtual void TrustFolder(const std::string& /*folder*/) {}
};

// The real file system (open/write/close, mkdir). Below a trusted folder
// every level is opened with O_NOFOLLOW (openat from the folder down), so a
// symbolic link that already stands in the destination (a folder link
// pointing elsewhere) is never followed: a save writes inside the folder the
// user chose or not at all (ELOOP / ENOTDIR). The program may run as root.
TargetFileSystem& PosixTargetFileSystem();

}  // namespace torvane
