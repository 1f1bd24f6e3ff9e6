// End to end: the scan log of a Deep Search. `torvane_e2e deep ... --log L`
// sweeps a fixture, writes its log and saves everything; `torvane_e2e load
// --log L` loads the log into a fresh Deep session and saves everything
// again. Both saves must hold the same folders and the same files with the
// same contents (hashes of the saved trees), for each file system: FAT16,
// FAT32, exFAT and NTFS volumes, intact and without their boot sectors, and
// a disk whose partition tables were zeroed, swept as one range holding a
// FAT32 and a FAT16 volume (the log brings both file systems back, each
// folder saving from its own volume).
#include "e2e_run.h"
#include "sha256.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace torvane {
namespace {

namespace fs = std::filesystem;

using e2e_test::RunE2e;
using e2e_test::RunResult;

// Every folder ("/a/b/") and every file ("/a/b/c" -> sha256) below `out`.
std::map<std::string, std::string> SavedTree(const fs::path& out)
{
    std::map<std::string, std::string> tree;
    if (!fs::exists(out))
        return tree;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = "/" + fs::relative(it->path(), out).string();
        if (it->is_directory())
            tree[rel + "/"] = "";
        else if (it->is_regular_file())
            tree[rel] = test::Sha256OfFile(it->path().string());
    }
    return tree;
}

std::vector<std::string> Differences(const std::map<std::string, std::string>& a,
                                     const std::map<std::string, std::string>& b)
{
    std::vector<std::string> diff;
    for (const auto& [path, sha] : a) {
        auto it = b.find(path);
        if (it == b.end())
            diff.push_back("only after the scan: " + path);
        else if (it->second != sha)
            diff.push_back("other contents: " + path);
    }
    for (const auto& [path, sha] : b)
        if (!a.count(path))
            diff.push_back("only after the load: " + path);
    return diff;
}

fs::path PatchedCopy(const test::TempDir& temp, const std::string& image, const std::vector<std::uint64_t>& sectors,
                     std::size_t offset = 0, std::size_t length = 512)
{
    const fs::path copy = temp.path() / image;
    fs::copy_file(test::FixtureImage(image), copy);
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    const std::string zeros(length, '\0');
    for (std::uint64_t s : sectors) {
        f.seekp(static_cast<std::streamoff>(s * 512 + offset));
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    return copy;
}

struct Case {
    std::string name;
    std::string image, fs;
    std::vector<std::uint64_t> zeroed;    // sectors zeroed first (from `offset`, `length` bytes each)
    std::size_t offset = 0, length = 512;
    std::vector<std::string> foundKinds;  // the file systems the load must list again
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class E2eDeepLog : public ::testing::TestWithParam<Case> {};

TEST_P(E2eDeepLog, ALoadedLogSavesWhatTheScanSaved)
{
    const Case c = GetParam();
    if (!fs::exists(test::FixtureImage(c.image)))
        GTEST_SKIP() << c.image << " is not unpacked";
    test::TempDir temp;
    const fs::path image =
        c.zeroed.empty() ? test::FixtureImage(c.image) : PatchedCopy(temp, c.image, c.zeroed, c.offset, c.length);
    const fs::path log = temp.path() / "deep.VQL";
    const fs::path scanned = temp.path() / "scanned";
    const fs::path loaded = temp.path() / "loaded";

    const RunResult scan = RunE2e("deep --image '" + image.string() + "' --fs " + c.fs + " --log '" + log.string() +
                                      "' --out '" + scanned.string() + "'",
                                  temp.path() / "scan.err");
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    ASSERT_TRUE(fs::is_regular_file(log));
    const RunResult load = RunE2e("load --log '" + log.string() + "' --image '" + image.string() + "' --out '" +
                                      loaded.string() + "'",
                                  temp.path() / "load.err");
    ASSERT_EQ(load.exitCode, 0) << load.err;

    // The same summary line (files, folders, bytes) and the same saved tree.
    EXPECT_EQ(load.out, scan.out);
    const auto before = SavedTree(scanned);
    const auto after = SavedTree(loaded);
    EXPECT_GT(before.size(), 1u);
    const auto diff = Differences(before, after);
    EXPECT_TRUE(diff.empty()) << c.name << ": " << diff.size() << " differences, first: " << diff.front();

    // The found file systems come back with the log, as the scan listed them.
    for (const std::string& kind : c.foundKinds) {
        const std::string line = "found: " + kind + " key";
        EXPECT_NE(scan.err.find(line), std::string::npos) << scan.err;
        EXPECT_NE(load.err.find(line), std::string::npos) << load.err;
    }
    auto foundLines = [](const std::string& err) {
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string l; std::getline(in, l);)
            if (l.rfind("found: ", 0) == 0)
                lines.push_back(l);
        return lines;
    };
    EXPECT_EQ(foundLines(load.err), foundLines(scan.err));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, E2eDeepLog,
    ::testing::Values(Case{"fat16", "fat16.img", "FAT16", {}, 0, 512, {"FAT16"}},
                      Case{"fat32", "fat32.img", "FAT32", {}, 0, 512, {"FAT32"}},
                      Case{"exfat", "exfat.img", "exFAT", {}, 0, 512, {}},
                      Case{"ntfs", "ntfs.img", "NTFS", {}, 0, 512, {}},
                      Case{"fat16_no_boot_sector", "fat16.img", "FAT16", {0}, 0, 512, {"FAT16"}},
                      Case{"fat32_no_boot_sector", "fat32.img", "FAT32", {0, 6}, 0, 512, {"FAT32"}},
                      Case{"exfat_no_boot_sector", "exfat.img", "exFAT", {0, 12}, 0, 512, {}},
                      Case{"ntfs_no_boot_sector", "ntfs-boot-zeroed.img", "NTFS", {}, 0, 512, {}},
                      // The MBR's four entries and both EBRs' zeroed: one range, two FAT volumes.
                      Case{"two_fat_volumes_of_a_disk_without_table", "mbr.img", "FAT32", {0, 108544, 180224}, 446,
                           64, {"FAT32", "FAT16"}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace torvane
