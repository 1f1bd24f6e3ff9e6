// Fake sysfs, udev and mountinfo trees for the disk enumeration tests: files
// and relative symlinks laid out the way the kernel shows them.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace torvane::test {

class FakeTree {
public:
    explicit FakeTree(std::filesystem::path root) : root_(std::move(root)) {}
    const std::filesystem::path& Root() const { return root_; }
    std::string RootText() const { return root_.string(); }

    void File(const std::string& rel, const std::string& text) {
        std::filesystem::path p = root_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    void Dir(const std::string& rel) { std::filesystem::create_directories(root_ / rel); }
    // A symlink at `rel` pointing to `target` (relative to the link's folder).
    void Link(const std::string& rel, const std::string& target) {
        std::filesystem::path p = root_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::filesystem::create_directory_symlink(target, p);
    }

    // A whole disk under block/<name>, its device link pointing at `devicePath`
    // (under devices/, "" for none), with size in sectors, removable flag and
    // major:minor numbers.
    void Disk(const std::string& name, const std::string& devicePath, unsigned long long sectors, bool removable,
              const std::string& devNumbers) {
        std::string dir = "block/" + name;
        File(dir + "/size", std::to_string(sectors) + "\n");
        File(dir + "/removable", removable ? "1\n" : "0\n");
        File(dir + "/dev", devNumbers + "\n");
        File(dir + "/queue/logical_block_size", "512\n");
        if (!devicePath.empty()) {
            Dir("devices/" + devicePath);
            Link(dir + "/device", "../../devices/" + devicePath);
        }
        Link("class/block/" + name, "../../block/" + name);
        Link("dev/block/" + devNumbers, "../../block/" + name);
    }
    // A partition directory block/<disk>/<name> with start and size.
    void Partition(const std::string& disk, const std::string& name, int number, unsigned long long start,
                   unsigned long long size, const std::string& devNumbers) {
        std::string dir = "block/" + disk + "/" + name;
        File(dir + "/partition", std::to_string(number) + "\n");
        File(dir + "/start", std::to_string(start) + "\n");
        File(dir + "/size", std::to_string(size) + "\n");
        File(dir + "/dev", devNumbers + "\n");
        Link("class/block/" + name, "../../block/" + disk + "/" + name);
        Link("dev/block/" + devNumbers, "../../block/" + disk + "/" + name);
    }

private:
    std::filesystem::path root_;
};

}  // namespace torvane::test
