// End to end: `torvane_e2e deep` sweeps fixture images and saves the whole
// results tree; the saved files are compared with the images' manifests.
//   (a) intact FAT16, FAT32 and exFAT volumes: every live file byte-identical
//       at its path, every deleted file whose clusters were not reused
//       byte-identical under its name;
//   (b) the same volumes with their boot sectors (and backups) zeroed: every
//       file byte-identical, below its own sub-folders (the root-level folders
//       of a FAT volume whose root cannot be placed without a boot sector keep
//       their "DIR" names), fragmented FAT files excepted (their FAT is not found);
//   (c) a disk whose partition tables were zeroed, swept as one range: both
//       FAT volumes found, every file of each byte-identical (the contents name
//       their partition, so each came from its own volume); its exFAT volume
//       swept with the exFAT type over its range;
//   (d) a FAT32 volume quick-formatted anew over old contents: the old folders
//       come back as lost folders with their files.
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

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

RunResult RunE2e(const std::string& args, const fs::path& outDir)
{
    fs::path errFile = outDir.parent_path() / (outDir.filename().string() + ".stderr");
    std::string cmd = std::string("'") + TORVANE_E2E_PROGRAM + "' " + args + " --out '" + outDir.string() + "' 2>'" +
                      errFile.string() + "'";
    RunResult r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        r.out.append(buf, n);
    int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::stringstream ss;
    ss << std::ifstream(errFile).rdbuf();
    r.err = ss.str();
    return r;
}

// Saved files: path below the destination -> sha256, and sha256 -> paths.
struct Saved {
    std::map<std::string, std::string> byPath;
    std::multimap<std::string, std::string> bySha;
};

Saved Collect(const fs::path& out)
{
    Saved s;
    if (!fs::exists(out))
        return s;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_regular_file())
            continue;
        std::string rel = "/" + fs::relative(it->path(), out).string();
        std::string sha = test::Sha256OfFile(it->path().string());
        s.byPath[rel] = sha;
        s.bySha.emplace(sha, rel);
    }
    return s;
}

std::string Leaf(const std::string& p) { return p.substr(p.rfind('/') + 1); }

std::string DeletedForm(const std::string& leaf)
{
    std::size_t n = 1;
    while (n < leaf.size() && (static_cast<unsigned char>(leaf[n]) & 0xC0) == 0x80)
        ++n;
    return "_" + leaf.substr(n);
}

// Below the first path component ("/Documents/a/b.txt" -> "/a/b.txt").
std::string BelowTop(const std::string& p)
{
    std::size_t second = p.find('/', 1);
    return second == std::string::npos ? std::string() : p.substr(second);
}

enum class Place { Exact, BelowTop, Anywhere };

// Checks every file of the manifest entries; returns the lines that failed.
std::vector<std::string> Check(const Saved& saved, const std::vector<test::ManifestEntry>& manifest, Place livePlace,
                               bool skipFragmented)
{
    std::vector<std::string> bad;
    for (const auto& m : manifest) {
        if (m.IsDir() || m.state == "overwritten" || !m.HasContent())
            continue;
        if (skipFragmented && m.state == "fragmented")
            continue;
        const bool live = !m.IsDeleted();
        bool ok = false;
        auto range = saved.bySha.equal_range(m.sha256);
        for (auto it = range.first; it != range.second && !ok; ++it) {
            const std::string& path = it->second;
            if (live && livePlace == Place::Exact)
                ok = path == m.path;
            else if (live && livePlace == Place::BelowTop)
                ok = BelowTop(path) == BelowTop(m.path) && !BelowTop(m.path).empty();
            else
                ok = Leaf(path) == Leaf(m.path) || Leaf(path) == DeletedForm(Leaf(m.path));
        }
        if (!ok)
            bad.push_back(m.state + " " + m.path);
    }
    return bad;
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

bool Unpacked(const std::string& image) { return fs::exists(test::FixtureImage(image)); }

struct Case {
    std::string image, fs;
    std::vector<std::uint64_t> zeroed;   // boot sectors zeroed first (case b)
};

class E2eDeep : public ::testing::TestWithParam<Case> {};

TEST_P(E2eDeep, SavesTheManifestByteForByte)
{
    const Case c = GetParam();
    if (!Unpacked(c.image))
        GTEST_SKIP() << c.image << " is not unpacked";
    test::TempDir temp;
    const fs::path image = c.zeroed.empty() ? test::FixtureImage(c.image) : PatchedCopy(temp, c.image, c.zeroed);
    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e("deep --image '" + image.string() + "' --fs " + c.fs, out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    unsigned long long files = 0, folders = 0, bytes = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str(), "files %llu folders %llu bytes %llu", &files, &folders, &bytes), 3);
    const Saved saved = Collect(out);
    EXPECT_EQ(files, saved.byPath.size());
    const bool fatWithoutBoot = !c.zeroed.empty() && c.fs != "exFAT";
    auto bad = Check(saved, test::LoadManifest(c.image), fatWithoutBoot ? Place::BelowTop : Place::Exact,
                     fatWithoutBoot);
    EXPECT_TRUE(bad.empty()) << c.image << ": " << bad.size() << " files not recovered, first: " << bad.front();
}

INSTANTIATE_TEST_SUITE_P(Fixtures, E2eDeep,
                         ::testing::Values(Case{"fat16.img", "FAT16", {}}, Case{"fat32.img", "FAT32", {}},
                                           Case{"exfat.img", "exFAT", {}}, Case{"fat16.img", "FAT16", {0}},
                                           Case{"fat32.img", "FAT32", {0, 6}}, Case{"exfat.img", "exFAT", {0, 12}}),
                         [](const auto& info) {
                             std::string n = info.param.image.substr(0, info.param.image.find('.'));
                             return n + (info.param.zeroed.empty() ? "_intact" : "_no_boot_sector");
                         });

// (c) The partition tables zeroed (the MBR's four entries and both EBRs'):
// one sweep of the whole disk with the FAT type finds the FAT32 and the
// FAT16 volume, and each file saves from its own volume.
TEST(E2eDeepDisk, BothFatVolumesOfADiskWithoutPartitionTable)
{
    if (!Unpacked("mbr.img"))
        GTEST_SKIP();
    test::TempDir temp;
    const fs::path image = PatchedCopy(temp, "mbr.img", {0, 108544, 180224}, 446, 64);
    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e("deep --image '" + image.string() + "' --fs FAT32", out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("found: FAT32 key"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("found: FAT16 key"), std::string::npos) << run.err;
    const Saved saved = Collect(out);
    const auto all = test::LoadManifest("mbr.img");
    for (int part : {1, 5}) {
        auto bad = Check(saved, test::ManifestOfPartition(all, part), Place::BelowTop, false);
        EXPECT_TRUE(bad.empty()) << "p" << part << ": " << bad.size() << " not recovered, first: " << bad.front();
    }
    // The FAT32 volume's root-level folders keep their own names at the top.
    EXPECT_TRUE(saved.byPath.count("/DCIM/100CANON/IMG_0001.JPG") || fs::exists(out / "DCIM")) << "no /DCIM";

    // Its exFAT volume, swept with the exFAT type over its extent.
    const fs::path outEx = temp.path() / "outex";
    RunResult ex = RunE2e("deep --image '" + image.string() + "' --fs exFAT --range 182272:215039", outEx);
    ASSERT_EQ(ex.exitCode, 0) << ex.err;
    auto bad = Check(Collect(outEx), test::ManifestOfPartition(all, 6), Place::Exact, false);
    EXPECT_TRUE(bad.empty()) << "p6: " << bad.size() << " not recovered, first: " << bad.front();
}

// (d) A FAT32 volume formatted anew over its old contents: the old folders
// are lost folders at the top, with their sub-folders and files.
TEST(E2eDeepReformatted, OldFoldersComeBackAsLostFolders)
{
    if (!Unpacked("reformatted.img"))
        GTEST_SKIP();
    test::TempDir temp;
    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e("deep --image '" + test::FixtureImage("reformatted.img").string() + "' --fs FAT32", out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Saved saved = Collect(out);
    const auto manifest = test::LoadManifest("reformatted.img");
    auto bad = Check(saved, manifest, Place::Exact, false);
    EXPECT_TRUE(bad.empty()) << bad.size() << " not recovered, first: " << bad.front();
    // The old sub-folders stay inside their lost parent.
    bool anhang = false;
    for (const auto& [path, sha] : saved.byPath)
        anhang = anhang || BelowTop(path) == "/Anhang/kurz.txt";
    EXPECT_TRUE(anhang);
}

// A range past the end of the image, and a range of one sector: clean ends.
TEST(E2eDeepRanges, RangesBeyondTheImageEndCleanly)
{
    if (!Unpacked("fat16.img"))
        GTEST_SKIP();
    test::TempDir temp;
    const std::string image = test::FixtureImage("fat16.img").string();
    RunResult past = RunE2e("deep --image '" + image + "' --range 900000000:900001000", temp.path() / "past");
    EXPECT_EQ(past.exitCode, 0) << past.err;
    EXPECT_EQ(past.out, "files 0 folders 0 bytes 0\n");
    RunResult across = RunE2e("deep --image '" + image + "' --range 0:900000000 --fs FAT16", temp.path() / "across");
    EXPECT_EQ(across.exitCode, 0) << across.err;
    EXPECT_NE(across.out.find("files "), std::string::npos);
    RunResult bad = RunE2e("deep --image '" + image + "' --range 9:3", temp.path() / "bad");
    EXPECT_EQ(bad.exitCode, 2);
}

}  // namespace
}  // namespace torvane
