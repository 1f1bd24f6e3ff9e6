// Destination folders, name conflicts, too-long paths and hostile names, on
// a real temporary folder.
#include "results/save_destination.h"
#include "results/save_progress.h"
#include "save_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::ScriptedQuestions;

TEST(SaveTexts, ProgressLabels)
{
    bool hide = true;
    EXPECT_EQ(FormatCountProgress(3, 5, &hide), "3 / 5");
    EXPECT_FALSE(hide);
    EXPECT_EQ(FormatCountProgress(6, 5, &hide), "6 / 6");
    EXPECT_TRUE(hide);
    EXPECT_EQ(FormatFileNameLabel("a.txt", 1023), "a.txt (1023 Byte)");
    EXPECT_EQ(FormatSizeProgress(2048, 0), "0 Byte /   2.00 KB");
    EXPECT_EQ(FormatSelectionTotals(4, 2), "( Total selected recovered data to be saved : 4 Files, 2 Folders )");
    const std::string seventy = "/" + std::string(30, 'a') + "/" + std::string(38, 'b');
    ASSERT_EQ(seventy.size(), 70u);
    EXPECT_EQ(SavePathLabelText(seventy), seventy);
    EXPECT_EQ(SavePathLabelText(seventy + "c"), " /" + std::string(30, 'a') + " /" + std::string(38, 'b') + "c");
}

TEST(SaveNames, HostileNamesStayInsideTheirFolder)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"photo.jpg", "photo.jpg"},   {"..", "_.."},           {".", "_."},
        {"", "_"},                    {"a/b", "a_b"},          {"/etc/passwd", "_etc_passwd"},
        {"x\x01y\x7f", "x_y_"},       {"tab\there", "tab_here"}, {"...", "..."},
        {"Résumé.txt", "Résumé.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SanitizeNameComponent(c.in), c.out) << c.in;
}

TEST(SaveNames, ShortNames)
{
    EXPECT_EQ(MakeShortTargetName("averyverylongname.txt"), "AVERYV~(1).TXT");
    EXPECT_EQ(MakeShortTargetName("noextensionatall"), "NOEXTE~(1)");
    EXPECT_EQ(MakeShortTargetName("äöüßéèlong.jpeg"), "äöüßéè~(1).JPEG");
}

class SaveDestination : public ::testing::Test {
protected:
    SaveDestination() : session(PosixTargetFileSystem(), &questions)
    {
        session.SetDestination(dir.path().string());
    }
    std::string Dest(const std::string& rel) const { return (dir.path() / rel).string(); }
    void Touch(const std::string& rel) { test::WriteWholeFile(dir.path() / rel, "x"); }

    test::TempDir dir;
    ScriptedQuestions questions;
    SaveSession session;
};

TEST_F(SaveDestination, FoldersAreCreatedWithTheirParents)
{
    EXPECT_EQ(CreateDestinationFolder(session, Dest("a/b/c")), "");
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c"));
    EXPECT_EQ(CreateDestinationFolder(session, Dest("a/b/c")), "");   // exists: fine
    // A file holds the folder's name: the folder goes under a "_zq_" name.
    Touch("taken");
    EXPECT_EQ(CreateDestinationFolder(session, Dest("taken")), Dest("taken_zq_0"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "taken_zq_0"));
}

TEST_F(SaveDestination, RenameCandidates)
{
    Touch("a.txt");
    Touch("a_zq_0.txt");
    EXPECT_EQ(FirstFreeRename(session, Dest("a.txt")), Dest("a_zq_1.txt"));
    EXPECT_EQ(FirstFreeRename(session, Dest("README")), Dest("README_zq_0"));
    EXPECT_EQ(FirstFreeRename(session, Dest("archive.tar.gz")), Dest("archive.tar_zq_0.gz"));
}

TEST_F(SaveDestination, NoConflictNoQuestion)
{
    EXPECT_EQ(ResolveNameConflict(session, Dest("new.txt")), Dest("new.txt"));
    EXPECT_TRUE(questions.replaceAsked.empty());
}

// Each answer of the Replace question, for two conflicting files in a row.
struct ConflictCase {
    const char* label;
    std::vector<ReplaceReply> replies;
    std::string first, second;   // the paths answered ("" = skipped)
    std::size_t questions;
    bool stops;
};

class ConflictAnswers : public SaveDestination, public ::testing::WithParamInterface<ConflictCase> {};

TEST_P(ConflictAnswers, AnswerAndItsAllForm)
{
    const ConflictCase& c = GetParam();
    Touch("a.txt");
    Touch("b.txt");
    for (const auto& r : c.replies)
        questions.replaceReplies.push_back(r);
    std::string first = ResolveNameConflict(session, Dest("a.txt"));
    std::string second = session.StopRequested() ? "" : ResolveNameConflict(session, Dest("b.txt"));
    auto expect = [this](const std::string& rel) { return rel.empty() ? "" : Dest(rel); };
    EXPECT_EQ(first, expect(c.first));
    EXPECT_EQ(second, expect(c.second));
    EXPECT_EQ(questions.replaceAsked.size(), c.questions);
    EXPECT_EQ(session.StopRequested(), c.stops);
}

INSTANTIATE_TEST_SUITE_P(
    Replace, ConflictAnswers,
    ::testing::Values(
        ConflictCase{"Overwrite", {{ReplaceAnswer::Overwrite, ""}, {ReplaceAnswer::Overwrite, ""}}, "a.txt", "b.txt", 2,
                     false},
        ConflictCase{"OverwriteAll", {{ReplaceAnswer::OverwriteAll, ""}}, "a.txt", "b.txt", 1, false},
        ConflictCase{"Skip", {{ReplaceAnswer::Skip, ""}, {ReplaceAnswer::Overwrite, ""}}, "", "b.txt", 2, false},
        ConflictCase{"SkipAll", {{ReplaceAnswer::SkipAll, ""}}, "", "", 1, false},
        ConflictCase{"Rename", {{ReplaceAnswer::Rename, ""}, {ReplaceAnswer::Skip, ""}}, "a_zq_0.txt", "", 2, false},
        ConflictCase{"RenameAll", {{ReplaceAnswer::RenameAll, ""}}, "a_zq_0.txt", "b_zq_0.txt", 1, false},
        ConflictCase{"Cancel", {{ReplaceAnswer::Cancel, ""}}, "", "", 1, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SaveDestination, AnEditedRenamePathThatExistsIsAskedAgain)
{
    Touch("a.txt");
    Touch("mine.txt");
    questions.replaceReplies.push_back({ReplaceAnswer::Rename, Dest("mine.txt")});
    questions.replaceReplies.push_back({ReplaceAnswer::Rename, Dest("other.txt")});
    EXPECT_EQ(ResolveNameConflict(session, Dest("a.txt")), Dest("other.txt"));
    EXPECT_EQ(questions.replaceAsked.size(), 2u);
}

TEST_F(SaveDestination, OverwriteNeverReplacesAFolderWithAFile)
{
    fs::create_directory(dir.path() / "Docs");
    questions.replaceReplies.push_back({ReplaceAnswer::OverwriteAll, ""});
    EXPECT_EQ(ResolveNameConflict(session, Dest("Docs")), Dest("Docs_zq_0"));
}

TEST_F(SaveDestination, TooLongFolderMovedToMiscellaneousForAll)
{
    const std::string longName(300, 'n');
    questions.tooLongReplies.push_back({TooLongChoice::Move, true, ""});
    std::string got = CreateDestinationFolder(session, Dest("x/" + longName));
    ASSERT_EQ(questions.tooLongAsked.size(), 1u);
    // The redirected folder holds the leaf, cut to what the file system takes.
    EXPECT_EQ(got, Dest("KZU_Miscellaneous/" + std::string(255, 'n')));
    EXPECT_TRUE(fs::is_directory(got));
    // The second too-long folder goes the same way without a question.
    std::string second = CreateDestinationFolder(session, Dest("y/Name" + longName));
    EXPECT_EQ(questions.tooLongAsked.size(), 1u);
    EXPECT_EQ(second.rfind(Dest("KZU_Miscellaneous/Name"), 0), 0u) << second;
    EXPECT_EQ(session.Destination(), dir.path().string() + "/");
}

TEST_F(SaveDestination, TooLongIgnoreForAllGivesEverythingUp)
{
    const std::string longName(300, 'n');
    questions.tooLongReplies.push_back({TooLongChoice::Ignore, true, ""});
    EXPECT_EQ(CreateDestinationFolder(session, Dest(longName)), "");
    EXPECT_EQ(CreateDestinationFolder(session, Dest("z" + longName)), "");
    EXPECT_EQ(questions.tooLongAsked.size(), 1u);
    EXPECT_TRUE(session.longPathIgnoreAll);
}

TEST_F(SaveDestination, TooLongBrowseRedirectsIntoTheChosenFolder)
{
    fs::create_directory(dir.path() / "elsewhere");
    questions.tooLongReplies.push_back({TooLongChoice::Browse, false, Dest("elsewhere")});
    std::string got = CreateDestinationFolder(session, Dest(std::string(300, 'q')));
    EXPECT_EQ(ParentFolder(got), Dest("elsewhere"));
    EXPECT_TRUE(fs::is_directory(got));
}

TEST_F(SaveDestination, ShortenedNamesStayUniqueWithinTheSave)
{
    const std::string folder = Dest("f");
    const std::string a = std::string(300, 'a') + ".txt";
    const std::string b = std::string(290, 'a') + "bbb.txt";
    EXPECT_EQ(ShortenTargetName(session, JoinPath(folder, "short.txt"), folder, "short.txt", ""), "");
    EXPECT_EQ(ShortenTargetName(session, JoinPath(folder, a), folder, a, ""), "AAAAAA~(1).TXT");
    EXPECT_EQ(ShortenTargetName(session, JoinPath(folder, b), folder, b, ""), "AAAAAA~(2).TXT");
    // A FAT entry's 8.3 name is the preset.
    EXPECT_EQ(ShortenTargetName(session, JoinPath(folder, a), folder, a, "LONGFI~1.TXT"), "LONGFI~1.TXT");
    // A path at PATH_MAX is shortened even with a short last component.
    const std::string deep = "/" + std::string(4090, 'd');
    EXPECT_EQ(ShortenTargetName(session, deep + "/tiny.txt", deep, "tiny.txt", ""), "TINY.T~(1).TXT");
}

}  // namespace
}  // namespace torvane
