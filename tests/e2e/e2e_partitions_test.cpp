// End to end: `torvane_e2e partitions` on a copy of the fixture MBR disk
// whose partition entries (primary and logical) were zeroed after the volumes
// were written prints one line per partition its depth finds.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace torvane {
namespace {

namespace fs = std::filesystem;

std::string RunE2e(const std::string& args, int& exitCode)
{
    const std::string cmd = std::string("'") + TORVANE_E2E_PROGRAM + "' " + args + " 2>/dev/null";
    std::string out;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe)
        return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    const int status = ::pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

void Zero(std::fstream& f, std::uint64_t offset, std::size_t length)
{
    const std::string zeros(length, '\0');
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(zeros.data(), static_cast<std::streamsize>(length));
}

TEST(E2ePartitions, PrintsThePartitionsOfAWipedTable)
{
    test::TempDir temp;
    const fs::path image = temp.path() / "lost.img";
    fs::copy_file(test::FixtureImage("mbr.img"), image);
    {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f.good());
        const test::Geometry g = test::LoadGeometry("mbr.img");
        Zero(f, 446, 64);
        for (const char* ebr : {"p5.ebr", "p6.ebr"})
            Zero(f, test::GeometryNumber(g, ebr).value() * 512 + 446, 64);
    }
    struct Case {
        const char* depth;
        const char* want;
    };
    const Case cases[] = {
        {"standard", "FAT32 2048 73710\tboot-sector\n"},
        {"advanced",
         "FAT32 2048 73710\tboot-sector\nNTFS 75776 32767\tboot-sector\nFAT16 110592 69615\tboot-sector\n"
         "exFAT 182272 32768\tboot-sector\n"},
    };
    for (const Case& c : cases) {
        int code = -1;
        const std::string out = RunE2e("partitions --image '" + image.string() + "' --depth " + c.depth, code);
        EXPECT_EQ(code, 0) << c.depth;
        EXPECT_EQ(out, c.want) << c.depth;
    }
    int code = -1;
    RunE2e("partitions --image '" + image.string() + "' --depth deep", code);
    EXPECT_EQ(code, 2);
    // The untouched disk lists its partitions: nothing more is found.
    EXPECT_EQ(RunE2e("partitions --image '" + test::FixtureImage("mbr.img").string() + "' --depth advanced", code), "");
}

}  // namespace
}  // namespace torvane
