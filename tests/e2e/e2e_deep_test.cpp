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
//       come back as lost folders with their files;
//   (e) the same disk with files put into both FAT volumes' roots: each root
//       file saved from its own volume;
//   (f) the NTFS partition of that disk, recorded again by Search More
//       Partitions and swept over the range it recorded: every file of it.
#include "sha256.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

// The same disk with a file put into each FAT volume's root directory (with
// mtools, before the tables were zeroed), and a file of one name in both
// roots with other contents: one sweep finds both volumes, and each root file
// is saved from its own volume (the two of one name both, one renamed).
TEST(E2eDeepDisk, RootFilesOfBothVolumesSaveFromTheirOwnVolumes)
{
    if (!Unpacked("mbr.img"))
        GTEST_SKIP();
    if (std::system("command -v mcopy >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mtools is not installed";
    test::TempDir temp;
    const fs::path image = temp.path() / "mbr.img";
    fs::copy_file(test::FixtureImage("mbr.img"), image);
    struct RootFile {
        std::uint64_t volumeSector;
        std::string name, content;
    };
    std::string big32, big16;
    for (int i = 0; i < 3000; ++i) {
        big32 += "FAT32 volume, line " + std::to_string(i) + "\n";
        big16 += "FAT16 volume, line " + std::to_string(i) + "\n";
    }
    const RootFile files[] = {{2048, "ROOT32.TXT", big32},
                              {110592, "ROOT16.TXT", big16},
                              {2048, "SAME.TXT", "the copy in the FAT32 root\n"},
                              {110592, "SAME.TXT", "the copy in the FAT16 root, longer than the other\n"}};
    for (const RootFile& f : files) {
        const fs::path source = temp.path() / "source" / std::to_string(f.volumeSector) / f.name;
        fs::create_directories(source.parent_path());
        std::ofstream(source, std::ios::binary) << f.content;
        const std::string cmd = "MTOOLS_SKIP_CHECK=1 mcopy -o -i '" + image.string() + "@@" +
                                std::to_string(f.volumeSector * 512) + "' '" + source.string() + "' ::/ 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    {
        std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
        const std::string zeros(64, '\0');
        for (std::uint64_t s : {0ull, 108544ull, 180224ull}) {
            disk.seekp(static_cast<std::streamoff>(s * 512 + 446));
            disk.write(zeros.data(), 64);
        }
    }

    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e("deep --image '" + image.string() + "' --fs FAT32", out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Saved saved = Collect(out);
    for (const RootFile& f : files) {
        const std::string sha = test::Sha256Hex(f.content);
        bool atRoot = false;
        auto range = saved.bySha.equal_range(sha);
        for (auto it = range.first; it != range.second; ++it)
            atRoot = atRoot || it->second.find('/', 1) == std::string::npos;
        EXPECT_TRUE(atRoot) << f.name << " of the volume at " << f.volumeSector << " is not in the saved root";
    }
    // The volumes' own live files are all there as before (the new files may
    // have taken the clusters of deleted ones).
    const auto all = test::LoadManifest("mbr.img");
    for (int part : {1, 5}) {
        std::vector<test::ManifestEntry> live;
        for (const auto& m : test::ManifestOfPartition(all, part))
            if (!m.IsDeleted())
                live.push_back(m);
        auto bad = Check(saved, live, Place::BelowTop, false);
        EXPECT_TRUE(bad.empty()) << "p" << part << ": " << bad.size() << " not recovered, first: " << bad.front();
    }
}

// A disk whose partition tables were zeroed: Search More Partitions (the
// Advanced depth: the Standard one stops at the first partition) records
// the NTFS partition by its boot sector, and a Deep scan of that partition's
// range gives every file of the NTFS volume back byte for byte.
TEST(E2eDeepDisk, NtfsPartitionRecordedByThePartitionSearch)
{
    if (!Unpacked("mbr.img"))
        GTEST_SKIP();
    test::TempDir temp;
    const fs::path image = PatchedCopy(temp, "mbr.img", {0, 108544, 180224}, 446, 64);
    const std::string cmd = std::string("'") + TORVANE_E2E_PROGRAM + "' partitions --image '" + image.string() +
                            "' --depth advanced 2>/dev/null";
    std::string listing;
    if (FILE* pipe = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
            listing.append(buf, n);
        ASSERT_EQ(::pclose(pipe), 0);
    }
    unsigned long long start = 0, sectors = 0;
    const std::size_t at = listing.find("NTFS ");
    ASSERT_NE(at, std::string::npos) << listing;
    ASSERT_EQ(std::sscanf(listing.c_str() + at, "NTFS %llu %llu", &start, &sectors), 2) << listing;
    ASSERT_GT(sectors, 0u);

    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e("deep --image '" + image.string() + "' --fs NTFS --range " + std::to_string(start) + ":" +
                               std::to_string(start + sectors - 1),
                           out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto manifest = test::ManifestOfPartition(test::LoadManifest("mbr.img"), 2);
    ASSERT_FALSE(manifest.empty());
    auto bad = Check(Collect(out), manifest, Place::Exact, false);
    EXPECT_TRUE(bad.empty()) << "p2: " << bad.size() << " not recovered, first: " << bad.front();
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
