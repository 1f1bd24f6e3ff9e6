#include "platform/device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace torvane {
namespace {

// pread() takes a signed off_t: offsets at or beyond 2^63 cannot be asked for.
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

class FileDevice final : public Device {
public:
    FileDevice(int fd, std::string path, std::uint64_t size) : fd_(fd), path_(std::move(path)), size_(size) {}
    ~FileDevice() override { ::close(fd_); }
    FileDevice(const FileDevice&) = delete;
    FileDevice& operator=(const FileDevice&) = delete;

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (length == 0)
            return 0;
        if (offset > kMaxOffset) {
            errno = EINVAL;
            return -1;
        }
        // Never ask for more than fits below 2^63 or in a ssize_t result.
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, kMaxOffset - offset));
        length = std::min<std::size_t>(length, static_cast<std::size_t>(std::numeric_limits<ssize_t>::max()));

        auto* out = static_cast<unsigned char*>(buffer);
        std::size_t got = 0;
        while (got < length) {
            ssize_t n = ::pread(fd_, out + got, length - got, static_cast<off_t>(offset + got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // Keep what was read before the error; the caller asks again
                // for the rest and then sees the error at its first byte.
                return got > 0 ? static_cast<std::int64_t>(got) : -1;
            }
            if (n == 0)
                break;  // end of the file or device
            got += static_cast<std::size_t>(n);
        }
        return static_cast<std::int64_t>(got);
    }

    std::uint64_t SizeBytes() const override { return size_; }
    const std::string& Path() const override { return path_; }

private:
    int fd_;
    std::string path_;
    std::uint64_t size_;
};

class MemoryDevice final : public Device {
public:
    MemoryDevice(std::string name, std::string bytes) : name_(std::move(name)), bytes_(std::move(bytes)) {}

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (offset >= bytes_.size() || length == 0)
            return 0;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, bytes_.size() - offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t SizeBytes() const override { return bytes_.size(); }
    const std::string& Path() const override { return name_; }

private:
    std::string name_;
    const std::string bytes_;  // never changes after construction: reads need no lock
};

void Fail(int e, std::string* error, int* errnoOut)
{
    if (error)
        *error = std::strerror(e);
    if (errnoOut)
        *errnoOut = e;
}

}  // namespace

DevicePtr OpenFileDevice(const std::string& path, std::string* error, int* errnoOut)
{
    if (path.empty()) {
        Fail(ENOENT, error, errnoOut);
        return nullptr;
    }
    // O_NONBLOCK only for the open itself: a FIFO given by mistake must not
    // hang the program. It is cleared again below for files and disks.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        Fail(errno, error, errnoOut);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        Fail(e, error, errnoOut);
        return nullptr;
    }
    // Only regular files (disk images) and block devices are devices; a
    // folder, a pipe or a terminal is refused.
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        ::close(fd);
        Fail(S_ISDIR(st.st_mode) ? EISDIR : ENODEV, error, errnoOut);
        return nullptr;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    std::uint64_t size = 0;
    if (S_ISBLK(st.st_mode)) {
        unsigned long long bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
            size = bytes;
    } else {
        size = static_cast<std::uint64_t>(st.st_size);
    }
    if (error)
        error->clear();
    if (errnoOut)
        *errnoOut = 0;
    return std::make_shared<FileDevice>(fd, path, size);
}

DevicePtr MakeMemoryDevice(std::string name, std::string bytes)
{
    return std::make_shared<MemoryDevice>(std::move(name), std::move(bytes));
}

}  // namespace torvane
