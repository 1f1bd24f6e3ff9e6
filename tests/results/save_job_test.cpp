// The counting and saving jobs on worker threads, with their questions
// answered by another thread the way the GUI answers them.
#include "results/save_job.h"
#include "save_test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace torvane {
namespace {

namespace fs = std::filesystem;

// Answers each question on a thread of its own, later, as a GUI would.
class AnsweringEvents final : public JobEvents {
public:
    std::function<int(const JobQuestion&)> answer;
    SaveJob* job = nullptr;
    std::string replyText;

    void OnQuestion(const JobQuestion& q, std::function<void(int)> reply) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            asked_.push_back(q);
        }
        cv_.notify_all();
        if (!answer)
            return;   // never answered (a GUI that waits for the user)
        threads_.emplace_back([this, q, reply] {
            int a = answer(q);
            if (job && !replyText.empty())
                job->SetReplyText(replyText);
            reply(a);
        });
    }
    void OnFinished(bool) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        cv_.notify_all();
    }
    void WaitForQuestions(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return asked_.size() >= n; });
    }
    std::vector<JobQuestion> Asked()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return asked_;
    }
    ~AnsweringEvents() override
    {
        for (auto& t : threads_)
            t.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<JobQuestion> asked_;
    std::vector<std::thread> threads_;
    bool finished_ = false;
};

SaveRequest TreeRequest(test::ScannedImage& s, const fs::path& dest)
{
    SaveRequest r;
    r.results = s.results;
    r.volumes = s.volumes;
    r.source = SaveSource::Tree;
    r.destination = dest.string();
    return r;
}

TEST(SaveJobs, CountThenSaveOnWorkers)
{
    test::ScannedImage s = test::ScanFixture("fat32.img");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    SaveJob save(TreeRequest(s, dir.path() / "out"));
    CountSelectionJob count(TreeRequest(s, dir.path() / "out"), save.Session().Counters());
    ASSERT_TRUE(count.Start());
    count.Wait();
    EXPECT_TRUE(count.Finished());
    const std::uint64_t files = save.Session().Counters().totalFiles.load();
    EXPECT_GT(files, 20u);
    ASSERT_TRUE(save.Start());
    save.Wait();
    EXPECT_FALSE(save.Failed());
    EXPECT_FALSE(save.EndedStopped());
    EXPECT_EQ(save.Session().Report().Files(), files);
    EXPECT_EQ(save.Session().Counters().totalFiles.load(), files);   // the save keeps the count's totals
    EXPECT_TRUE(fs::exists(dir.path() / "out/Frag/fragmented-file.bin"));
}

TEST(SaveJobs, RenameAnsweredFromAnotherThreadWithAnEditedPath)
{
    test::ScannedImage s = test::ScanFixture("fat16.img");
    TreeNodeId sizes = s.Item("/Sizes");
    s.results->Tree().SetSubtreeCheck(sizes, CheckState::Checked);
    s.results->Tree().UpdateParentsAfterCheck(sizes);
    test::TempDir dir;
    fs::create_directories(dir.path() / "Sizes");
    test::WriteWholeFile(dir.path() / "Sizes/size-1.bin", "old");

    AnsweringEvents events;
    SaveJob save(TreeRequest(s, dir.path()), &events);
    events.job = &save;
    events.replyText = (dir.path() / "Sizes/mine.bin").string();
    events.answer = [](const JobQuestion& q) {
        EXPECT_EQ(q.kind, "replace");
        return static_cast<int>(ReplaceAnswer::Rename);
    };
    ASSERT_TRUE(save.Start());
    save.Wait();
    auto asked = events.Asked();
    ASSERT_EQ(asked.size(), 1u);
    ASSERT_EQ(asked[0].choices.size(), 2u);
    EXPECT_EQ(asked[0].choices[1], (dir.path() / "Sizes/size-1_zq_0.bin").string());
    EXPECT_EQ(test::ReadWholeFile(dir.path() / "Sizes/size-1.bin"), "old");
    EXPECT_EQ(fs::file_size(dir.path() / "Sizes/mine.bin"), 1u);
}

TEST(SaveJobs, StopWhileAQuestionWaitsEndsTheSave)
{
    test::ScannedImage s = test::ScanFixture("fat16.img");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    fs::create_directories(dir.path() / "Documents");
    test::WriteWholeFile(dir.path() / "Documents/Notes.txt", "old");
    AnsweringEvents events;   // never answers
    SaveJob save(TreeRequest(s, dir.path()), &events);
    ASSERT_TRUE(save.Start());
    events.WaitForQuestions(1);
    save.Stop();
    save.Wait();
    EXPECT_TRUE(save.EndedStopped());
    EXPECT_EQ(test::ReadWholeFile(dir.path() / "Documents/Notes.txt"), "old");
    EXPECT_EQ(save.Session().Report().Count(FileOutcome::Skipped), 1u);
    EXPECT_NE(save.Session().Report().CompletionText(true), kSaveSuccessText);
}

TEST(SaveJobs, TooLongFolderQuestionWithApplyToAll)
{
    test::ScannedImage s = test::ScanFixture("fat16.img");
    RecoveredFolder* q3 = s.results->FolderOfItem(s.Item("/Documents/Projekte/2024/Q3 Planung"));
    ASSERT_TRUE(q3);
    s.results->RenameFolder(*q3, std::string(300, 'L'));
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    AnsweringEvents events;
    events.answer = [](const JobQuestion& q) {
        EXPECT_EQ(q.kind, "too-long-path");
        return static_cast<int>(TooLongChoice::Move) | kApplyToAllBit;
    };
    SaveJob save(TreeRequest(s, dir.path()), &events);
    ASSERT_TRUE(save.Start());
    save.Wait();
    EXPECT_EQ(events.Asked().size(), 1u);
    const fs::path moved = dir.path() / "KZU_Miscellaneous" / std::string(255, 'L');
    EXPECT_TRUE(fs::exists(moved / "Ablauf.txt"));
    EXPECT_TRUE(fs::exists(moved / "Budget Übersicht.csv"));
    EXPECT_TRUE(save.Session().Report().AllWritten());
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// The rows of the list road: every file of the fixture's /Documents folder.
std::vector<SaveRow> DocumentRows(test::ScannedImage& s)
{
    std::vector<SaveRow> rows;
    SaveRow folder;
    folder.name = "Documents";
    folder.isFolder = true;
    folder.item = s.Item("/Documents");
    rows.push_back(folder);
    return rows;
}

TEST(SaveJobs, ADestinationThatCannotBeMadeIsReportedNotCalledASuccess)
{
    struct Case {
        const char* what;
        SaveSource source;
        bool readOnlyParent;   // else: a regular file where a parent folder should be
    };
    const Case cases[] = {
        {"tree, file in the way", SaveSource::Tree, false},
        {"list, file in the way", SaveSource::List, false},
        {"tree, read-only parent", SaveSource::Tree, true},
        {"list, read-only parent", SaveSource::List, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.readOnlyParent && geteuid() == 0)
            continue;   // permissions do not bind root; the file case covers it
        test::ScannedImage s = test::ScanFixture("fat16.img");
        s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
        test::TempDir dir;
        fs::path parent = dir.path() / "parent";
        std::string reason;
        if (c.readOnlyParent) {
            fs::create_directories(parent);
            fs::permissions(parent, fs::perms::owner_read | fs::perms::owner_exec);
            reason = "Permission denied";
        } else {
            test::WriteWholeFile(parent, "a file, not a folder");
            reason = "Not a directory";
        }
        SaveRequest request = TreeRequest(s, parent / "out" / "deeper");
        request.source = c.source;
        if (c.source == SaveSource::List)
            request.rows = DocumentRows(s);
        SaveJob save(request);
        CountSelectionJob count(request, save.Session().Counters());
        ASSERT_TRUE(count.RunHere());
        ASSERT_GT(save.Session().Counters().totalFiles.load(), 0u);
        ASSERT_TRUE(save.RunHere());
        fs::permissions(parent, fs::perms::owner_all, fs::perm_options::add);

        const SaveReport& report = save.Session().Report();
        EXPECT_EQ(report.Count(FileOutcome::Written), 0u);
        ASSERT_GE(report.Count(FileOutcome::Failed), 1u);
        const auto problems = report.Problems();
        ASSERT_FALSE(problems.empty());
        EXPECT_NE(problems[0].detail.find(reason), std::string::npos) << problems[0].detail;
        const std::string text = save.Session().CompletionText(save.EndedStopped());
        EXPECT_NE(text, kSaveSuccessText);
        EXPECT_NE(text.find("Files written: 0"), std::string::npos) << text;
    }
}

TEST(SaveJobs, NoVolumeToReadFromIsReportedNotCalledASuccess)
{
    test::ScannedImage s = test::ScanFixture("fat16.img");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    SaveRequest request = TreeRequest(s, dir.path() / "out");
    request.volumes = std::make_shared<VolumeSet>();
    SaveJob save(request);
    ASSERT_TRUE(save.RunHere());
    const SaveReport& report = save.Session().Report();
    EXPECT_EQ(report.Count(FileOutcome::Failed), 1u);
    ASSERT_EQ(report.Problems().size(), 1u);
    EXPECT_NE(report.Problems()[0].detail.find("no scanned volume"), std::string::npos);
    EXPECT_NE(save.Session().CompletionText(false), kSaveSuccessText);
}

TEST(SaveJobs, FilesCountedButNoneWrittenIsNeverASuccess)
{
    // Whatever kept the files from an outcome, a save that set out to write
    // files and wrote none did not succeed.
    SaveReport report;
    EXPECT_EQ(report.CompletionText(false), kSaveSuccessText);   // nothing was selected
    const std::string text = report.CompletionText(false, 12);
    EXPECT_NE(text, kSaveSuccessText);
    EXPECT_NE(text.find("Files written: 0\n"), std::string::npos);
    EXPECT_NE(text.find("Files not saved: 12\n"), std::string::npos);
    report.Add(FileOutcome::Written, "/out/a.txt");
    EXPECT_EQ(report.CompletionText(false, 1), kSaveSuccessText);
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// Nothing under the destination is followed through a symbolic link: a
// folder link and a file link that stand in the destination before the save
// (a folder or file of the same name as a recovered one) never let a byte be
// written outside it, whatever the conflict answer. The destination's own
// path may itself be a link: that is the user's choice.
TEST(SaveJobs, LinksInTheDestinationAreNeverFollowed)
{
    test::ScannedImage s = test::ScanFixture("fat16.img");
    s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
    test::TempDir dir;
    const fs::path elsewhere = dir.path() / "elsewhere";
    const fs::path real = dir.path() / "real";
    fs::create_directories(elsewhere);
    fs::create_directories(real / "Fotos Sommer 2024");
    test::WriteWholeFile(elsewhere / "victim.txt", "keep me");
    // The destination is reached through a link of the user's own.
    fs::create_directory_symlink(real, dir.path() / "chosen");
    fs::create_directory_symlink(elsewhere, real / "Documents");
    fs::create_symlink(elsewhere / "victim.txt", real / "Fotos Sommer 2024" / "IMG_0001.JPG");

    for (ReplaceAnswer answer : {ReplaceAnswer::OverwriteAll, ReplaceAnswer::RenameAll}) {
        AnsweringEvents events;
        events.answer = [answer](const JobQuestion&) { return static_cast<int>(answer); };
        SaveJob save(TreeRequest(s, dir.path() / "chosen"), &events);
        events.job = &save;
        ASSERT_TRUE(save.RunHere());
        // Nothing reached the place the links point at.
        EXPECT_EQ(test::ReadWholeFile(elsewhere / "victim.txt"), "keep me");
        std::size_t inElsewhere = 0;
        for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(elsewhere))
            ++inElsewhere;
        EXPECT_EQ(inElsewhere, 1u);
        EXPECT_TRUE(fs::is_symlink(real / "Documents"));
        EXPECT_TRUE(fs::is_symlink(real / "Fotos Sommer 2024" / "IMG_0001.JPG"));
        // The files of "Documents" went to a folder of their own beside the link.
        bool notesSaved = false;
        for (const auto& e : fs::recursive_directory_iterator(real))
            notesSaved = notesSaved || (e.is_regular_file() && e.path().filename() == "Notes.txt");
        EXPECT_TRUE(notesSaved);
    }
}

}  // namespace
}  // namespace torvane
