#include "results/save_target.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <set>
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

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// An open folder descriptor that closes itself.
struct FolderFd {
    int fd = -1;
    FolderFd() = default;
    explicit FolderFd(int f) : fd(f) {}
    FolderFd(FolderFd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    FolderFd& operator=(FolderFd&& o) noexcept
    {
        if (this != &o) {
            if (fd >= 0)
                ::close(fd);
            fd = o.fd;
            o.fd = -1;
        }
        return *this;
    }
    ~FolderFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

class PosixFileSystem final : public TargetFileSystem {
public:
    bool Exists(const std::string& path) override
    {
        struct stat st;
        return Stat(path, st) == 0;
    }
    bool IsDirectory(const std::string& path) override
    {
        // A link is no folder here, whatever it points at.
        struct stat st;
        return Stat(path, st) == 0 && S_ISDIR(st.st_mode);
    }
    int MakeDirectory(const std::string& path) override
    {
        std::string leaf;
        int error = 0;
        FolderFd parent = OpenParent(path, leaf, error);
        if (parent.fd < 0)
            return error;
        return ::mkdirat(parent.fd, leaf.c_str(), 0777) == 0 ? 0 : errno;
    }
    std::unique_ptr<TargetFile> Create(const std::string& path, int& error) override
    {
        std::string leaf;
        FolderFd parent = OpenParent(path, leaf, error);
        if (parent.fd < 0)
            return nullptr;
        int fd = ::openat(parent.fd, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) {
            error = errno;
            return nullptr;
        }
        error = 0;
        return std::make_unique<PosixFile>(fd);
    }
    int RemoveFile(const std::string& path) override
    {
        std::string leaf;
        int error = 0;
        FolderFd parent = OpenParent(path, leaf, error);
        if (parent.fd < 0)
            return error;
        return ::unlinkat(parent.fd, leaf.c_str(), 0) == 0 ? 0 : errno;
    }
    int RemoveDirectory(const std::string& path) override
    {
        std::string leaf;
        int error = 0;
        FolderFd parent = OpenParent(path, leaf, error);
        if (parent.fd < 0)
            return error;
        return ::unlinkat(parent.fd, leaf.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
    }
    void TrustFolder(const std::string& folder) override
    {
        const std::string f = WithoutTrailingSlashes(folder);
        if (f.empty())
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        trusted_.insert(f);
    }

private:
    // The trusted folder that `path` lies in (the longest one), or "".
    std::string TrustedRootOf(const std::string& path) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string best;
        for (const std::string& root : trusted_) {
            const bool inside = path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                                (root == "/" || path[root.size()] == '/');
            if ((inside || path == root) && root.size() > best.size())
                best = root;
        }
        return best;
    }

    // Opens the folder that holds `path` and gives the last component in
    // `leaf`. Up to a trusted folder the path is opened as given; below it,
    // each level with O_NOFOLLOW, so no link is followed. A path outside every
    // trusted folder is opened as given (the caller's own choice).
    FolderFd OpenParent(const std::string& pathIn, std::string& leaf, int& error) const
    {
        const std::string path = WithoutTrailingSlashes(pathIn);
        const std::size_t slash = path.rfind('/');
        leaf = slash == std::string::npos ? path : path.substr(slash + 1);
        std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        if (leaf.empty() || leaf == "." || leaf == "..") {
            error = EINVAL;
            return {};
        }
        const std::string root = TrustedRootOf(parent);
        const std::string start = root.empty() ? parent : root;
        FolderFd fd(::open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.fd < 0) {
            error = errno;
            return {};
        }
        if (root.empty() || parent == root)
            return fd;
        // Down from the trusted folder, one level at a time.
        std::size_t pos = root == "/" ? 1 : root.size() + 1;
        while (pos <= parent.size()) {
            std::size_t end = parent.find('/', pos);
            if (end == std::string::npos)
                end = parent.size();
            const std::string part = parent.substr(pos, end - pos);
            pos = end + 1;
            if (part.empty() || part == ".")
                continue;
            if (part == "..") {
                error = EINVAL;
                return {};
            }
            FolderFd next(::openat(fd.fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.fd < 0) {
                error = errno;
                return {};
            }
            fd = std::move(next);
        }
        return fd;
    }

    bool IsTrustedFolder(const std::string& path) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return trusted_.count(WithoutTrailingSlashes(path)) != 0;
    }

    int Stat(const std::string& path, struct stat& st) const
    {
        // A chosen folder is taken as given, link or not.
        if (IsTrustedFolder(path))
            return ::stat(path.c_str(), &st);
        std::string leaf;
        int error = 0;
        FolderFd parent = OpenParent(path, leaf, error);
        if (parent.fd < 0) {
            errno = error;
            return -1;
        }
        return ::fstatat(parent.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    }

    mutable std::mutex mutex_;
    std::set<std::string> trusted_;
};

}  // namespace

TargetFileSystem& PosixTargetFileSystem()
{
    static PosixFileSystem fs;
    return fs;
}

}  // namespace torvane
