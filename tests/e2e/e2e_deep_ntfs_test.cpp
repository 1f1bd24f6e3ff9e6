// End to end: `torvane_e2e deep --fs NTFS` sweeps the fixture NTFS volume
// and its damaged copies (tests/fixtures/make-deep-ntfs-images.sh), saves the
// whole results tree, and the saved files are compared with the manifest the
// volume was made with:
//   - every live file (resident, non-resident, fragmented, sparse,
//     compressed) is byte-identical at its path;
//   - every deleted file whose clusters were not reused is byte-identical
//     under its name, wherever its deleted folder ended up;
//   - what could not come back is listed in the test's output, with the
//     save's own report.
// The damaged copies: the boot sector zeroed (the backup at the volume's end
// gives the geometry), both boot sectors zeroed (the geometry comes from the
// records), the $MFT's first 27 records overwritten (the $MFT is found
// through the copy of record 0 in $MFTMirr; the system files whose records
// are gone are reported, not saved).
#include "sha256.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace torvane {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

RunResult RunE2e(const std::string& args, const fs::path& outDir)
{
    const fs::path errFile = outDir.parent_path() / (outDir.filename().string() + ".stderr");
    const std::string cmd = std::string("'") + TORVANE_E2E_PROGRAM + "' " + args + " 2>'" + errFile.string() + "'";
    RunResult r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    return r;
}

struct SavedFile {
    std::uint64_t size = 0;
    std::string sha;
};

struct Case {
    std::string image;
    bool systemRecordsLost;  // the $MFT's first records are gone
};

class E2eDeepNtfs : public ::testing::TestWithParam<Case> {};

TEST_P(E2eDeepNtfs, SavesEveryFileTheVolumeStillHoldsByteForByte)
{
    const Case c = GetParam();
    const fs::path image = test::FixtureImage(c.image);
    if (!fs::exists(image))
        GTEST_SKIP() << c.image << " not unpacked";
    test::TempDir temp;
    const fs::path out = temp.path() / "out";
    RunResult run = RunE2e("deep --fs NTFS --image '" + image.string() + "' --out '" + out.string() + "'", out);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::map<std::string, SavedFile> saved;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            saved["/" + fs::relative(it->path(), out).string()] =
                SavedFile{it->file_size(), test::Sha256OfFile(it->path().string())};

    std::vector<std::string> inexact;
    int live = 0, deleted = 0;
    for (const test::ManifestEntry& m : test::LoadManifest(c.image)) {
        if (m.IsDir())
            continue;
        if (!m.IsDeleted()) {
            ++live;
            auto it = saved.find(m.path);
            ASSERT_NE(it, saved.end()) << c.image << ": live file not saved at its path: " << m.path;
            EXPECT_EQ(it->second.size, m.size) << m.path;
            EXPECT_EQ(it->second.sha, m.sha256) << c.image << ": content of " << m.path;
            continue;
        }
        const std::string leaf = m.path.substr(m.path.rfind('/') + 1);
        bool exact = false, named = false;
        for (const auto& [path, f] : saved) {
            if (path.substr(path.rfind('/') + 1) != leaf)
                continue;
            named = true;
            exact = exact || (m.HasContent() && f.sha == m.sha256 && f.size == m.size);
        }
        if (m.state == "deleted") {
            ++deleted;
            EXPECT_TRUE(exact) << c.image << ": deleted file not recovered byte for byte: " << m.path;
        }
        if (!exact)
            inexact.push_back(m.state + " " + m.path + (named ? " (saved, content differs)" : " (not saved)"));
    }
    EXPECT_GT(live, 20);
    EXPECT_GT(deleted, 5);
    // The deleted folder keeps its place and its files.
    EXPECT_TRUE(fs::is_directory(out / "Alter Ordner" / "Unterordner" / "Tiefer"));
    // The volume's own system files: saved from their records (records 0 to
    // 3 from $MFTMirr's copies when the $MFT's own are gone), or, their
    // records overwritten, reported and not saved as something else.
    EXPECT_TRUE(fs::is_regular_file(out / "$MFT"));
    EXPECT_TRUE(fs::is_regular_file(out / "$Volume"));
    if (c.systemRecordsLost) {
        EXPECT_FALSE(fs::exists(out / "$AttrDef"));
        EXPECT_NE(run.err.find("$AttrDef\tits FILE record could not be read"), std::string::npos) << run.err;
    } else {
        EXPECT_TRUE(fs::is_regular_file(out / "$UpCase"));
    }
    std::cout << "[ report ] " << c.image << ": " << saved.size() << " files saved; manifest files not recovered "
              << "exactly: " << inexact.size() << "\n";
    for (const std::string& line : inexact)
        std::cout << "[ report ]   " << line << "\n";
    if (!run.err.empty())
        std::cout << "[ report ] the scan's and the save's own report:\n" << run.err;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, E2eDeepNtfs,
                         ::testing::Values(Case{"ntfs.img", false}, Case{"ntfs-boot-zeroed.img", false},
                                           Case{"ntfs-boots-zeroed.img", false}, Case{"ntfs-mft-head.img", true}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string n = info.param.image.substr(0, info.param.image.find('.'));
                             for (char& ch : n)
                                 if (ch == '-')
                                     ch = '_';
                             return n;
                         });

}  // namespace
}  // namespace torvane
