// End to end: `torvane_e2e logical` lists the fixture logical.img (a FAT16 and
// a FAT32 file system back to back in one volume image) as a logical drive,
// sweeps it as the Deep Search's Search More Partitions does, and Deep-scans
// one "Recognised" item with the range and type its selection shows:
//   - the drive tree and the "Found File System" list show two "Recognised"
//     items, once each, also after a second sweep, which reports that it found
//     nothing more;
//   - the scan of either item saves every file of that file system byte for
//     byte at its path, and nothing of the other one.
#include "e2e_run.h"
#include "sha256.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace torvane {
namespace {

namespace fs = std::filesystem;

using e2e_test::RunE2e;
using e2e_test::RunResult;

// The lines of `out` that begin with `prefix`, without it.
std::vector<std::string> Lines(const std::string& out, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line.substr(prefix.size()));
    return lines;
}

// Saved files: sha256 -> paths below the destination.
std::multimap<std::string, std::string> Saved(const fs::path& out)
{
    std::multimap<std::string, std::string> bySha;
    if (!fs::exists(out))
        return bySha;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            bySha.emplace(test::Sha256OfFile(it->path().string()), "/" + fs::relative(it->path(), out).string());
    return bySha;
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class E2eLogical : public ::testing::Test {
protected:
    void SetUp() override
    {
        image_ = test::FixtureImage("logical.img");
        if (!fs::exists(image_))
            GTEST_SKIP() << "logical.img is not unpacked";
    }
    fs::path image_;
    test::TempDir temp_;
};

TEST_F(E2eLogical, TwoFileSystemsAreListedOnceEachAfterTwoSweeps)
{
    const RunResult run =
        RunE2e("logical --logical-image '" + image_.string() + "' --sweeps 2", temp_.path() / "sweep.stderr");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out, "result: "),
              (std::vector<std::string>{"Found 2 more partitions in selected Drive ( Drive - C: )",
                                        "No more partitions found in selected Drive ( Drive - C: )"}));
    EXPECT_EQ(Lines(run.out, "tree: "),
              (std::vector<std::string>{"Recognised1 - 16.00 MB - FAT16", "Recognised2 - 34.00 MB - FAT32"}));
    EXPECT_EQ(Lines(run.out, "list: "), (std::vector<std::string>{"Recognised1\tFAT16\t0\t32768\t16.00 MB",
                                                                   "Recognised2\tFAT32\t32768\t102400\t34.00 MB"}));
}

struct ScanCase {
    int item;
    int partition;       // the manifest's partition of the file system scanned
    const char* scanLine;
};

class E2eLogicalScan : public E2eLogical, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(E2eLogicalScan, RecognisedItemRecoversItsFilesByteForByte)
{
    const ScanCase c = GetParam();
    const fs::path out = temp_.path() / "out";
    const RunResult run = RunE2e("logical --logical-image '" + image_.string() + "' --scan " +
                                     std::to_string(c.item) + " --out '" + out.string() + "'",
                                 temp_.path() / "scan.stderr");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out, "scan: "), std::vector<std::string>{c.scanLine});
    unsigned long long files = 0, folders = 0, bytes = 0;
    const std::vector<std::string> summary = Lines(run.out, "files ");
    ASSERT_EQ(summary.size(), 1u) << run.out;
    ASSERT_EQ(std::sscanf(summary[0].c_str(), "%llu folders %llu bytes %llu", &files, &folders, &bytes), 3);

    const auto saved = Saved(out);
    EXPECT_EQ(files, saved.size());
    const auto all = test::LoadManifest("logical.img");
    for (const test::ManifestEntry& m : all) {
        if (!m.HasContent())
            continue;
        const auto range = saved.equal_range(m.sha256);
        if (m.partition != c.partition) {
            EXPECT_EQ(range.first, range.second) << "p" << m.partition << m.path << " saved from the other file system";
            continue;
        }
        bool atItsPath = false;
        for (auto it = range.first; it != range.second; ++it)
            atItsPath = atItsPath || EndsWith(it->second, m.path);
        EXPECT_TRUE(atItsPath) << "p" << m.partition << m.path << " not saved byte for byte at its path";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Items, E2eLogicalScan,
    ::testing::Values(ScanCase{1, 1, "C: 0 32768 FAT16 ( Drive - C: ) Recognised1 / FAT16 / 16.00 MB"},
                      ScanCase{2, 2, "C: 32768 102400 FAT32 ( Drive - C: ) Recognised2 / FAT32 / 34.00 MB"}),
    [](const auto& info) { return "Recognised" + std::to_string(info.param.item); });

}  // namespace
}  // namespace torvane
