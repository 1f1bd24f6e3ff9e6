#include "platform/device.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {
namespace {

class FileDevice final : public Device {
public:
    FileDevice(int fd, std::string path, std::uint64_t size) : fd_(fd), path_(std::move(path)), size_(size) {}
    ~FileDevice() override { ::close(fd_); }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        auto* out = static_cast<unsigned char*>(buffer);
        std::size_t got = 0;
        while (got < length) {
            ssize_t n = ::pread(fd_, out + got, length - got, static_cast<off_t>(offset + got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return got > 0 ? static_cast<std::int64_t>(got) : -1;
            }
            if (n == 0)
                break;
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
        if (offset >= bytes_.size())
            return 0;
        std::size_t n = std::min<std::uint64_t>(length, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t SizeBytes() const override { return bytes_.size(); }
    const std::string& Path() const override { return name_; }

private:
    std::string name_;
    std::string bytes_;
};

}  // namespace

DevicePtr OpenFileDevice(const std::string& path, std::string* error, int* errnoOut)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        if (error)
            *error = std::strerror(e);
        if (errnoOut)
            *errnoOut = e;
        return nullptr;
    }
    struct stat st {};
    std::uint64_t size = 0;
    if (::fstat(fd, &st) == 0) {
        if (S_ISBLK(st.st_mode)) {
            unsigned long long bytes = 0;
            if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
                size = bytes;
        } else {
            size = static_cast<std::uint64_t>(st.st_size);
        }
    }
    if (errnoOut)
        *errnoOut = 0;
    return std::make_shared<FileDevice>(fd, path, size);
}

DevicePtr MakeMemoryDevice(std::string name, std::string bytes)
{
    return std::make_shared<MemoryDevice>(std::move(name), std::move(bytes));
}

}  // namespace torvane
