#include "platform/file_association.h"

#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace torvane {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FileAssociation, WritesMimeTypeAndDesktopEntry)
{
    test::TempDir home;
    const auto result = RegisterScanLogAssociation("/opt/torvane/bin/torvane", "Torvane (Free Edition)", "VQL",
                                                   home.path().string(), false);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.changed);

    const std::string xml = Read(home.path() / "mime/packages/torvane-scanlog.xml");
    EXPECT_NE(xml.find("type=\"application/x-torvane-scanlog\""), std::string::npos);
    EXPECT_NE(xml.find("<comment>Scanning Log File</comment>"), std::string::npos);
    EXPECT_NE(xml.find("<glob pattern=\"*.vql\"/>"), std::string::npos);

    const std::string desktop = Read(home.path() / "applications/torvane.desktop");
    EXPECT_EQ(desktop.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(desktop.find("\nName=Torvane (Free Edition)\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nExec=/opt/torvane/bin/torvane %f\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nMimeType=application/x-torvane-scanlog;\n"), std::string::npos);
}

TEST(FileAssociation, RewritesOnlyWhenMissingOrChanged)
{
    test::TempDir home;
    const std::string folder = home.path().string();
    ASSERT_TRUE(RegisterScanLogAssociation("/a/torvane", "Torvane", "VQL", folder, false).changed);
    EXPECT_FALSE(RegisterScanLogAssociation("/a/torvane", "Torvane", "VQL", folder, false).changed);
    // The program moved: the entry follows it.
    const auto moved = RegisterScanLogAssociation("/b/torvane", "Torvane", "VQL", folder, false);
    EXPECT_TRUE(moved.changed);
    EXPECT_NE(Read(home.path() / "applications/torvane.desktop").find("Exec=/b/torvane %f"), std::string::npos);
    // A deleted file comes back.
    fs::remove(home.path() / "mime/packages/torvane-scanlog.xml");
    EXPECT_TRUE(RegisterScanLogAssociation("/b/torvane", "Torvane", "VQL", folder, false).changed);
}

TEST(FileAssociation, ExecArgumentIsQuotedWhenNeeded)
{
    EXPECT_EQ(QuoteDesktopExecArgument("/usr/bin/torvane"), "/usr/bin/torvane");
    EXPECT_EQ(QuoteDesktopExecArgument("/home/me/My Tools/torvane"), "\"/home/me/My Tools/torvane\"");
    EXPECT_EQ(QuoteDesktopExecArgument("/x/$HOME\"a"), "\"/x/\\$HOME\\\"a\"");
    // In the file, the Exec value's backslashes are escaped once more.
    const std::string entry = ScanLogDesktopEntry("/x/a b$c", "Torvane");
    EXPECT_NE(entry.find("Exec=\"/x/a b\\\\$c\" %f\n"), std::string::npos);
}

TEST(FileAssociation, UnwritableFolderFails)
{
    // A data folder that is a plain file cannot hold the two files, whoever
    // runs the test (root included).
    test::TempDir home;
    const fs::path notAFolder = home.path() / "share";
    std::ofstream(notAFolder) << "x";
    const auto result = RegisterScanLogAssociation("/a/torvane", "Torvane", "VQL", notAFolder.string(), false);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());

    if (::geteuid() == 0) return;  // root writes into read-only folders
    fs::permissions(home.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const auto readOnly = RegisterScanLogAssociation("/a/torvane", "Torvane", "VQL", home.path().string(), false);
    fs::permissions(home.path(), fs::perms::owner_all);
    EXPECT_FALSE(readOnly.ok);
    EXPECT_FALSE(readOnly.error.empty());
}

TEST(FileAssociation, DataFolderFollowsXdgDataHome)
{
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string keep = saved ? saved : "";
    const char* savedHome = std::getenv("HOME");
    const std::string keepHome = savedHome ? savedHome : "";
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(UserDataFolder(), "/srv/data");
    ::setenv("XDG_DATA_HOME", "relative/not/allowed", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(UserDataFolder(), "/home/someone/.local/share");
    if (saved) ::setenv("XDG_DATA_HOME", keep.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");
    if (savedHome) ::setenv("HOME", keepHome.c_str(), 1); else ::unsetenv("HOME");
}

}  // namespace
}  // namespace torvane
