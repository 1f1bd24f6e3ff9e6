#include "results/save_target.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {
namespace {

class PosixFile final : public TargetFile {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Write(const void* data, std::size_t length) override
    {
        const char* p = static_cast<const char*>(data);
        while (length > 0) {
            ssize_t n = ::write(fd_, p, length);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (n == 0)
                return ENOSPC;
            p += n;
            length -= static_cast<std::size_t>(n);
        }
        return 0;
    }
    int Close() override
    {
        int fd = fd_;
        fd_ = -1;
        if (fd < 0)
            return 0;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

class PosixFileSystem final : public TargetFileSystem {
public:
    bool Exists(const std::string& path) override
    {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }
    bool IsDirectory(const std::string& path) override
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool IsSymbolicLink(const std::string& path) override
    {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }
    int MakeDirectory(const std::string& path) override
    {
        return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
    }
    std::unique_ptr<TargetFile> Create(const std::string& path, int& error) override
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) {
            error = errno;
            return nullptr;
        }
        error = 0;
        return std::make_unique<PosixFile>(fd);
    }
    int RemoveFile(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }
    int RemoveDirectory(const std::string& path) override { return ::rmdir(path.c_str()) == 0 ? 0 : errno; }
};

}  // namespace

TargetFileSystem& PosixTargetFileSystem()
{
    static PosixFileSystem fs;
    return fs;
}

}  // namespace torvane
