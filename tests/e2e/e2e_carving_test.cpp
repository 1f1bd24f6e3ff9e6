// torvane_e2e photo|signature over the carving fixture: the summary line and
// the tree it leaves match what the fixture's manifest plants.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out;
};

RunResult RunE2e(const std::string& arguments)
{
    const std::string cmd = std::string("'") + TORVANE_E2E_PROGRAM + "' " + arguments + " 2>/dev/null";
    RunResult r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe)
        return r;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        r.out += buffer;
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Planted files of one search (and type), and the sum of what their carved
// files hold: each runs to the next planted file of its pass or the image end.
struct Expected {
    std::uint64_t files = 0, bytes = 0, folders = 0;
};

Expected FromManifest(const std::string& search, const std::string& type)
{
    std::ifstream in(torvane::test::FixtureImage("carving.img.manifest"));
    struct Row { std::uint64_t sector; std::string pass, ext; };
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream f(line);
        std::string sector, size, sha, s, pass, ext;
        std::getline(f, sector, '\t');
        std::getline(f, size, '\t');
        std::getline(f, sha, '\t');
        std::getline(f, s, '\t');
        std::getline(f, pass, '\t');
        std::getline(f, ext, '\t');
        if (s == search && (type.empty() || ext == type))
            rows.push_back({std::stoull(sector), pass, ext});
    }
    const std::uint64_t end = fs::file_size(torvane::test::FixtureImage("carving.img")) / 512;
    Expected e;
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::uint64_t stop = end;
        for (std::size_t j = i + 1; j < rows.size(); ++j) {
            if (rows[j].pass == rows[i].pass) {
                stop = rows[j].sector;
                break;
            }
        }
        e.bytes += (stop - rows[i].sector) * 512;
        ++e.files;
        const std::string folder = rows[i].pass + "/" + rows[i].ext;
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
        if (std::find(folders.begin(), folders.end(), rows[i].pass) == folders.end())
            folders.push_back(rows[i].pass);
    }
    e.folders = folders.size() + 2;  // and the program's folder and the search folder
    return e;
}

TEST(E2eCarving, SummaryLineMatchesTheFixture)
{
    struct Case { const char* mode; const char* type; const char* search; const char* extra; };
    const Case cases[] = {
        {"photo", "", "photo", "--thorough"},
        {"signature", "", "signature", "--thorough"},
        {"signature", "mp4", "signature", "--types MP4,.mov --thorough"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.extra);
        torvane::test::TempDir out;
        const RunResult run = RunE2e(std::string(c.mode) + " --image '" +
                               torvane::test::FixtureImage("carving.img").string() + "' --out '" +
                               out.path().string() + "' " + c.extra);
        ASSERT_EQ(run.exitCode, 0) << run.out;
        Expected want;
        if (std::string(c.type) == "mp4") {
            // MP4 and MOV checked: each runs to the next MP4 or MOV.
            const Expected mp4 = FromManifest(c.search, "mp4");
            const Expected mov = FromManifest(c.search, "mov");
            want.files = mp4.files + mov.files;
            EXPECT_EQ(want.files, 3u);
        } else {
            want = FromManifest(c.search, "");
            EXPECT_EQ(run.out, "files " + std::to_string(want.files) + " folders " + std::to_string(want.folders) +
                                   " bytes " + std::to_string(want.bytes) + "\n");
        }
        EXPECT_EQ(run.out.rfind("files " + std::to_string(want.files) + " ", 0), 0u) << run.out;
        std::uint64_t onDisk = 0;
        for (const auto& entry : fs::recursive_directory_iterator(out.path()))
            onDisk += entry.is_regular_file();
        EXPECT_EQ(onDisk, want.files);
    }
}

TEST(E2eCarving, BadUsage)
{
    EXPECT_EQ(RunE2e("photo --image").exitCode, 2);
    EXPECT_EQ(RunE2e("signature --image x --out y --range 5").exitCode, 2);
    EXPECT_EQ(RunE2e("photo --image /nonexistent/image --out /tmp/x").exitCode, 1);
}

}  // namespace
