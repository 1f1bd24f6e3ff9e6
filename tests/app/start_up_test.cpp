#include "app/start_up.h"

#include "support/fixtures.h"

#include <gtest/gtest.h>
#include <vector>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>

namespace torvane {
namespace {

namespace fs = std::filesystem;

TEST(PendingScanLogPath, TrimAndQuoteRules)
{
    struct Case { std::vector<std::string> args; std::string path; };
    const std::vector<Case> cases = {
        {{}, ""},
        {{"   "}, ""},
        {{"\"/home/me/My Logs/card.VQL\""}, "/home/me/My Logs/card.VQL"},
        {{"  \"/tmp/a b.VQL\"  "}, "/tmp/a b.VQL"},
        {{"\""}, ""},                                    // a lone quote ends empty
        {{"\"/tmp/x.VQL"}, "/tmp/x.VQL"},                // only the leading quote goes
        {{"/tmp/x.VQL\""}, "/tmp/x.VQL"},
        {{"/tmp/My", "Log.VQL"}, "/tmp/My Log.VQL"},     // several arguments are one path
        {{"\"\"x\"\""}, "\"x\""},                        // one quote each end only
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += "[" + a + "]";
        EXPECT_EQ(ParsePendingScanLogPath(c.args), c.path) << joined;
    }
}

TEST(ShortenUrl, RemovesSchemesAndOptionallyWww)
{
    EXPECT_EQ(ShortenUrlForDisplay("https://www.torvane.example/help ", false), "torvane.example/help");
    EXPECT_EQ(ShortenUrlForDisplay("https://www.torvane.example/", true), "www.torvane.example/");
    EXPECT_EQ(ShortenUrlForDisplay("http://torvane.example", false), "torvane.example");
    EXPECT_EQ(ShortenUrlForDisplay("www.a.example www.b.example", false), "a.example b.example");
    EXPECT_EQ(HelpFilePath("/nonexistent/opt/torvane"), "/nonexistent/opt/torvane/Software Guide.html");
}

// Beside the program first (a build tree), then the share folder of the
// installation prefix: an installed copy finds its manual.
TEST(HelpManual, IsFoundBesideTheProgramOrInItsShareFolder)
{
    EXPECT_EQ(HelpFileCandidates("/opt/tv/bin"),
              (std::vector<std::string>{"/opt/tv/bin/Software Guide.html", "/opt/tv/share/torvane/Software Guide.html",
                                        "/usr/local/share/torvane/Software Guide.html",
                                        "/usr/share/torvane/Software Guide.html"}));
    const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                       ("torvane-help-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "bin");
    std::filesystem::create_directories(root / "share/torvane");
    const std::string installed = (root / "share/torvane" / kHelpManualName).string();
    std::ofstream(installed) << "<html></html>";
    EXPECT_EQ(HelpFilePath((root / "bin").string()), installed);
    const std::string beside = (root / "bin" / kHelpManualName).string();
    std::ofstream(beside) << "<html></html>";
    EXPECT_EQ(HelpFilePath((root / "bin").string()), beside);
    std::filesystem::remove_all(root);
}

TEST(ProgramFolder, IsEverythingBeforeTheLastSlash)
{
    EXPECT_EQ(ProgramFolderOf("/usr/bin/torvane"), "/usr/bin");
    EXPECT_EQ(ProgramFolderOf("/torvane"), "/");
    EXPECT_EQ(ProgramFolderOf("torvane"), ".");
}

TEST(ShutdownRegistry, StopsEveryWorkerThenCleansUpOnce)
{
    ShutdownRegistry registry;
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::vector<std::string> order;
    registry.AddCleanup("delete temporary files", [&] { order.push_back("cleanup"); });
    registry.AddWorker("scan", [&] {
        stop = true;
        worker.join();
        order.push_back("scan stopped");
    });
    const auto removed = registry.AddWorker("finished on its own", [&] { order.push_back("never"); });
    registry.RemoveWorker(removed);
    EXPECT_EQ(registry.WorkerCount(), 1u);

    const auto steps = registry.StopAllAndCleanUp();
    EXPECT_EQ(order, (std::vector<std::string>{"scan stopped", "cleanup"}));
    EXPECT_EQ(steps, (std::vector<std::string>{"scan", "delete temporary files"}));
    EXPECT_FALSE(worker.joinable());
    // A second exit path runs nothing again.
    EXPECT_TRUE(registry.StopAllAndCleanUp().empty());
}

TEST(TemporaryExtractFolder, IsPrivateAndRemovesOnlyItsOwnFiles)
{
    test::TempDir parent;
    // A file of another program in the shared folder, with the old name pattern.
    const fs::path foreign = parent.path() / "KZUC1.jpg";
    std::ofstream(foreign) << "not ours";

    TemporaryExtractFolder folder;
    folder.SetParentForTests(parent.path().string());
    EXPECT_FALSE(folder.Created());
    const std::string path = folder.Path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.back(), '/');
    EXPECT_EQ(folder.Path(), path);  // one folder per run
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::ofstream(path + "KZUC1.jpg") << "ours";

    folder.Remove();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_FALSE(folder.Created());
}

}  // namespace
}  // namespace torvane
