// End to end: `torvane_e2e basic` scans each fixture FAT volume (alone, and
// as a partition of the fixture disks), saves the whole results tree, and
// the saved files are compared with the manifest the images were made with.
//   - every live file (the fragmented one included) is byte-identical at its path;
//   - every deleted file whose clusters were not reused is byte-identical
//     (under its name, or under the name with the first character lost to the
//     deletion mark, wherever its deleted folder ended up);
//   - what could not be recovered exactly is listed in the test's output.
#include "sha256.h"
#include "support/fixtures.h"
#include "support/session_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <cstdlib>
#include <sstream>
#include <string>

namespace torvane {
namespace {

namespace fs = std::filesystem;

struct Volume {
    std::string image;
    int partition;
};

std::string Name(const ::testing::TestParamInfo<Volume>& info)
{
    std::string n = info.param.image.substr(0, info.param.image.find('.'));
    if (info.param.partition)
        n += "_p" + std::to_string(info.param.partition);
    return n;
}

struct SavedFile {
    std::uint64_t size = 0;
    std::string sha;
};

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

// Runs torvane_e2e with `args` (quoted as given); standard error goes beside `outDir`.
RunResult RunE2eWith(const std::string& args, const fs::path& outDir)
{
    fs::path errFile = outDir.parent_path() / (outDir.filename().string() + ".stderr");
    std::string cmd = std::string("'") + TORVANE_E2E_PROGRAM + "' " + args + " 2>'" + errFile.string() + "'";
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
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    return r;
}

RunResult RunE2e(const Volume& v, const fs::path& outDir, const std::string& imagePath = {},
                 const std::string& more = {})
{
    std::string args = "basic --image '" + (imagePath.empty() ? test::FixtureImage(v.image).string() : imagePath) +
                       "' --out '" + outDir.string() + "'";
    if (v.partition)
        args += " --partition " + std::to_string(v.partition);
    return RunE2eWith(args + more, outDir);
}

std::string DeletedForm(const std::string& leaf)
{
    if (leaf.empty())
        return leaf;
    // The first character (one UTF-8 sequence) became the deletion mark.
    std::size_t n = 1;
    while (n < leaf.size() && (static_cast<unsigned char>(leaf[n]) & 0xC0) == 0x80)
        ++n;
    return "_" + leaf.substr(n);
}

class E2eBasic : public ::testing::TestWithParam<Volume> {};

TEST_P(E2eBasic, SavesTheManifestByteForByte)
{
    const Volume v = GetParam();
    test::TempDir temp;
    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e(v, out);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // Every regular file saved, by its path below the destination.
    std::map<std::string, SavedFile> saved;
    std::uint64_t totalBytes = 0, folders = 0;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_directory()) {
            ++folders;
            continue;
        }
        ASSERT_TRUE(it->is_regular_file()) << it->path();
        std::string rel = "/" + fs::relative(it->path(), out).string();
        SavedFile f{it->file_size(), test::Sha256OfFile(it->path().string())};
        totalBytes += f.size;
        saved[rel] = f;
    }
    unsigned long long files = 0, foldersLine = 0, bytes = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str(), "files %llu folders %llu bytes %llu", &files, &foldersLine, &bytes), 3)
        << run.out;
    EXPECT_EQ(files, saved.size());
    EXPECT_EQ(bytes, totalBytes);
    EXPECT_GE(foldersLine, folders - (fs::exists(out / "KZU_Miscellaneous") ? 0 : 0));

    auto manifest = test::ManifestOfPartition(test::LoadManifest(v.image), v.partition);
    ASSERT_FALSE(manifest.empty());
    std::vector<std::string> inexact;
    int live = 0, deleted = 0;
    for (const auto& m : manifest) {
        if (m.IsDir())
            continue;
        if (!m.IsDeleted()) {
            ++live;
            auto it = saved.find(m.path);
            ASSERT_NE(it, saved.end()) << v.image << ": live file not saved at its path: " << m.path;
            EXPECT_EQ(it->second.size, m.size) << m.path;
            EXPECT_EQ(it->second.sha, m.sha256) << v.image << ": content of " << m.path;
            continue;
        }
        std::string leaf = m.path.substr(m.path.rfind('/') + 1);
        bool exact = false, named = false;
        for (const auto& [path, f] : saved) {
            std::string savedLeaf = path.substr(path.rfind('/') + 1);
            if (savedLeaf != leaf && savedLeaf != DeletedForm(leaf))
                continue;
            named = true;
            exact = exact || (m.HasContent() && f.sha == m.sha256 && f.size == m.size);
        }
        if (m.state == "deleted") {
            ++deleted;
            EXPECT_TRUE(exact) << v.image << ": deleted file not recovered byte for byte: " << m.path;
        }
        if (!exact)
            inexact.push_back(m.state + " " + m.path + (named ? " (saved, content differs)" : " (not saved)"));
    }
    EXPECT_GT(live, 10);
    EXPECT_GT(deleted, 3);
    std::cout << "[ report ] " << v.image << (v.partition ? " p" + std::to_string(v.partition) : "")
              << ": " << saved.size() << " files saved; not recovered exactly: " << inexact.size() << "\n";
    for (const auto& line : inexact)
        std::cout << "[ report ]   " << line << "\n";
    if (!run.err.empty())
        std::cout << "[ report ] the save's own report:\n" << run.err;
}

// The scan's log, loaded headless, saves exactly what the scan saved.
TEST_P(E2eBasic, ALoggedScanLoadsAndSavesTheSameFiles)
{
    const Volume v = GetParam();
    test::TempDir temp;
    const fs::path log = temp.path() / "scan.VQL";
    RunResult scan = RunE2e(v, temp.path() / "scanned", {}, " --log '" + log.string() + "'");
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    ASSERT_TRUE(fs::is_regular_file(log));
    RunResult load = RunE2eWith("load --log '" + log.string() + "' --image '" + test::FixtureImage(v.image).string() +
                                    "' --out '" + (temp.path() / "loaded").string() + "'",
                                temp.path() / "loaded");
    ASSERT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(load.out, scan.out);
    const auto scanned = test::HashFolder(temp.path() / "scanned");
    EXPECT_GT(scanned.size(), 5u);
    EXPECT_EQ(test::HashFolder(temp.path() / "loaded"), scanned);

    // Cut short, the log loads what it holds and says it is broken (exit 1).
    std::string bytes;
    {
        std::ifstream in(log, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::ofstream(temp.path() / "cut.VQL", std::ios::binary) << bytes.substr(0, bytes.size() * 2 / 3);
    RunResult cut = RunE2eWith("load --log '" + (temp.path() / "cut.VQL").string() + "' --image '" +
                                   test::FixtureImage(v.image).string() + "' --out '" + (temp.path() / "cut").string() +
                                   "'",
                               temp.path() / "cut");
    EXPECT_EQ(cut.exitCode, 1) << cut.err;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, E2eBasic,
                         ::testing::Values(Volume{"fat16.img", 0}, Volume{"fat32.img", 0}, Volume{"mbr.img", 1},
                                           Volume{"mbr.img", 5}, Volume{"gpt.img", 2},
                                           Volume{"exfat.img", 0}, Volume{"mbr.img", 6}, Volume{"gpt.img", 4},
                                           Volume{"ntfs.img", 0}, Volume{"mbr.img", 2}, Volume{"gpt.img", 3}),
                         Name);

// fat32-highword.img: the deleted GONE.BIN lies beyond cluster 0xFFFF, its
// root entry lost its high word, and a sub-folder entry comes before it.
// Saved from the tree, every file is byte-identical, GONE.BIN included.
TEST(E2eBasicHighWord, ADeletedRootFileThatLostItsHighWordSavesByteForByte)
{
    if (!fs::exists(test::FixtureImage("fat32-highword.img")))
        GTEST_SKIP() << "fixture not unpacked";
    test::TempDir temp;
    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e(Volume{"fat32-highword.img", 0}, out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto saved = test::HashFolder(out);
    int checked = 0;
    for (const auto& m : test::LoadManifest("fat32-highword.img")) {
        if (m.IsDir())
            continue;
        std::string path = m.path.substr(1);   // the folder's hashes are keyed relative
        if (m.IsDeleted() && !saved.count(path)) {
            const std::string leaf = path.substr(path.rfind('/') + 1);
            path = path.substr(0, path.rfind('/') + 1) + DeletedForm(leaf);
        }
        auto it = saved.find(path);
        ASSERT_NE(it, saved.end()) << m.path << " not saved; saved: " << saved.size() << " files";
        EXPECT_EQ(it->second, m.sha256) << m.path;
        ++checked;
    }
    EXPECT_EQ(checked, 4);
}

// The public broken FAT32 images: each one is scanned and saved to the end,
// without a crash or a hang, and nothing lands outside the destination.
class E2eBrokenFat32 : public ::testing::TestWithParam<std::string> {};

TEST_P(E2eBrokenFat32, ScansAndSavesWithinTheDestination)
{
    fs::path corpus;
    for (fs::path p : {fs::path(TORVANE_SOURCE_DIR) / ".." / "shared" / "corpora" / "fatcat",
                       fs::path("/work/shared/corpora/fatcat")})
        if (fs::exists(p / (GetParam() + ".img.gz")))
            corpus = p / (GetParam() + ".img.gz");
    if (corpus.empty())
        GTEST_SKIP() << "the broken-image corpus is not beside the project";
    test::TempDir temp;
    const fs::path image = temp.path() / (GetParam() + ".img");
    const std::string unpack = "gzip -dc '" + corpus.string() + "' > '" + image.string() + "'";
    if (std::system(unpack.c_str()) != 0 || fs::file_size(image) == 0)
        GTEST_SKIP() << "gzip not available";
    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e(Volume{GetParam(), 0}, out, image.string());
    // A volume whose geometry cannot be found ends with a message (exit 1),
    // every other one with its summary.
    if (run.exitCode == 1) {
        EXPECT_NE(run.err.find("geometry"), std::string::npos) << run.err;
        return;
    }
    ASSERT_EQ(run.exitCode, 0) << run.err;
    unsigned long long files = 0, folders = 0, bytes = 0;
    EXPECT_EQ(std::sscanf(run.out.c_str(), "files %llu folders %llu bytes %llu", &files, &folders, &bytes), 3);
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(temp.path()))
        top.insert(e.path().filename().string());
    for (const auto& name : top)
        EXPECT_TRUE(name == "out" || name == "out.stderr" || name == GetParam() + ".img") << name;
}

INSTANTIATE_TEST_SUITE_P(Fatcat, E2eBrokenFat32,
                         ::testing::Values("deleted", "directory-loop", "empty", "full-fat", "hello-world"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-')
                                     c = '_';
                             return n;
                         });

}  // namespace
}  // namespace torvane
