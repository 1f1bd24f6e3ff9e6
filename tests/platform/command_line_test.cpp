// The device options of the command line: --image and --removable-image list
// disk images after the real disks; every other argument is left for the rest
// of the start-up.
#include "platform/command_line.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace torvane {
namespace {

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_.SetSysfsRoot("");
        a_ = MakeImage("a.img");
        b_ = MakeImage("b.img");
    }
    std::string MakeImage(const std::string& name)
    {
        std::string path = (dir_.path() / name).string();
        std::ofstream(path, std::ios::binary) << std::string(1024, 'x');
        return path;
    }
    DeviceOptionsResult Apply(std::vector<std::string> args, bool env = false)
    {
        std::vector<const char*> argv;
        for (const std::string& s : args)
            argv.push_back(s.c_str());
        return ApplyDeviceOptions(static_cast<int>(argv.size()), argv.data(), registry_, env);
    }

    test::TempDir dir_;
    DeviceRegistry registry_;
    std::string a_, b_;
};

TEST_F(CommandLineTest, ImagesAreListedAndTheirOptionsRemoved)
{
    auto r = Apply({"torvane", "--image", a_, "scan.VQL", "--removable-image=" + b_, "--", "--image"});
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.remainingArgs, (std::vector<std::string>{"torvane", "scan.VQL", "--image"}));
    auto disks = registry_.Disks();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].backingPath, a_);
    EXPECT_FALSE(disks[0].removable);
    EXPECT_EQ(disks[1].backingPath, b_);
    EXPECT_TRUE(disks[1].removable);
    EXPECT_EQ(disks[1].id, "\\\\.\\PhysicalDrive1");
}

TEST_F(CommandLineTest, ProblemsAreReportedOneLineEach)
{
    const std::string missing = (dir_.path() / "missing.img").string();
    auto r = Apply({"torvane", "--image", missing, "--image=", "--removable-image"});
    ASSERT_EQ(r.errors.size(), 3u);
    EXPECT_NE(r.errors[0].find(missing), std::string::npos);
    EXPECT_EQ(r.errors[1], "--image needs a path");
    EXPECT_EQ(r.errors[2], "--removable-image needs a path");
    EXPECT_EQ(r.remainingArgs, (std::vector<std::string>{"torvane"}));
    EXPECT_TRUE(registry_.Disks().empty());
}

TEST_F(CommandLineTest, EnvironmentImagesComeFirst)
{
    ::setenv("TORVANE_DISK_IMAGES", b_.c_str(), 1);
    auto r = Apply({"torvane", "--image", a_}, true);
    ::unsetenv("TORVANE_DISK_IMAGES");
    EXPECT_TRUE(r.errors.empty());
    auto disks = registry_.Disks();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].backingPath, b_);
    EXPECT_EQ(disks[1].backingPath, a_);
}


// --help and -h ask for the usage (not after "--", where they would be a
// scan log's name); the usage names every option.
TEST(CommandLineUsage, HelpPrintsTheOptions)
{
    const char* help[] = {"torvane", "--image", "a.img", "--help"};
    const char* shortHelp[] = {"torvane", "-h"};
    const char* afterEnd[] = {"torvane", "--", "--help"};
    const char* plain[] = {"torvane", "log.VQL"};
    EXPECT_TRUE(WantsUsage(4, help));
    EXPECT_TRUE(WantsUsage(2, shortHelp));
    EXPECT_FALSE(WantsUsage(3, afterEnd));
    EXPECT_FALSE(WantsUsage(2, plain));
    const std::string usage = UsageText("torvane");
    EXPECT_EQ(usage.rfind("Usage: torvane ", 0), 0u);
    for (const char* option : {"--image PATH", "--removable-image PATH", "SCAN_LOG", "--help"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace torvane
