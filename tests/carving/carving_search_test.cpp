// The carving searches as jobs: passes, read failures and their questions,
// stops, a destination that refuses files, and the end of a search.
#include "carving/carving_search_job.h"

#include "base/program_state.h"
#include "carving_test_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ListOf;
using test::Sig;

const std::string kJpgHeader = "AA55C33C";
const std::string kThoroughHeader = "C3C3A5A5";

class CarvingSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pattern = test::PatternDevice(2048);
        pattern->WriteSector(100, Bytes(kJpgHeader));
        pattern->WriteSector(1500, Bytes(kJpgHeader));
        pattern->WriteSector(1800, Bytes(kThoroughHeader));
        scripted = std::make_shared<test::ScriptedDevice>(pattern);
    }

    PhotoSearchRequest Request()
    {
        PhotoSearchRequest request;
        request.device = scripted;
        request.startSector = 0;
        request.endSector = 2048;
        request.destination = dir.path().string();
        request.thoroughPass = true;
        request.general = ListOf({Sig(".jpg", 1 << 30, kJpgHeader)});
        request.advance = ListOf({Sig(".jpg", 1 << 30, kThoroughHeader)});
        return request;
    }

    // Every file the events list is on disk with the size the event gives,
    // and every file on disk was listed.
    void ExpectEveryFileListed()
    {
        std::set<std::string> listed;
        for (const CarvedFile& f : events.files) {
            listed.insert(f.path);
            ASSERT_TRUE(fs::is_regular_file(f.path)) << f.path;
            EXPECT_EQ(fs::file_size(f.path), f.size) << f.path;
        }
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            if (entry.is_regular_file()) {
                EXPECT_TRUE(listed.count(entry.path().string())) << entry.path() << " was not listed";
            }
        }
    }

    fs::path Omitted() const { return dir.path() / "torvane" / "Photo Search" / "Omitted"; }

    test::TempDir dir;
    test::RecordingEvents events;
    std::shared_ptr<test::SparseDevice> pattern;
    std::shared_ptr<test::ScriptedDevice> scripted;
};

TEST_F(CarvingSearchTest, ReadFailureAnswers)
{
    // Sectors 600-601 (in the second block) cannot be read while the device is
    // broken; the file from sector 100 runs across them.
    struct Case {
        const char* what;
        std::vector<int> answers;      // given in turn; the last one repeats
        bool heals;                    // the device works again once asked
        std::size_t questions;
        bool zeros;                    // the carved file holds zeros for 600-601
        int finished;
        bool thorough;                 // the Thorough pass ran
    };
    const std::vector<Case> cases = {
        // (The Thorough pass reads the range again and asks again.)
        {"Retry after the device came back", {kReadFailureRetry}, true, 1, false, 0, true},
        {"Skip: zeros in place of what cannot be read", {kReadFailureSkip}, false, 2, true, 0, true},
        {"no dialog attached (-1) is a Skip", {-1}, false, 2, true, 0, true},
        {"Retry that fails again asks again, then Skip", {kReadFailureRetry, kReadFailureSkip}, false, 3, true, 0,
         true},
        {"Cancel Searching ends the search", {kReadFailureCancel}, false, 1, false, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir.path() / "torvane");
        events.Clear();
        scripted->failFirst = 600 * kSectorSize;
        scripted->failEnd = 602 * kSectorSize;
        scripted->broken = true;
        std::size_t asked = 0;
        events.answer = [&](const JobQuestion& q) {
            if (q.kind != kReadFailureQuestion)
                return 0;
            EXPECT_EQ(q.text, "The selected storage device is no longer available.");
            EXPECT_THAT(q.choices, ::testing::ElementsAre("Retry and Continue...", "Skip", "Cancel Searching"));
            if (c.heals)
                scripted->broken = false;
            return c.answers[std::min(asked++, c.answers.size() - 1)];
        };
        PhotoSearchJob job(Request(), &events);
        ASSERT_TRUE(job.RunHere());
        EXPECT_EQ(events.QuestionsOf(kReadFailureQuestion), c.questions);
        ASSERT_FALSE(events.files.empty());
        const CarvedFile& first = events.files.front();
        EXPECT_EQ(first.firstSector, 100u);
        const std::string carved = test::ReadFile(first.path);
        if (c.finished == 1) {
            // Closed, flushed and listed with what it held at the last block end.
            EXPECT_EQ(carved.size(), (512u - 100) * 512);
            EXPECT_EQ(events.files.size(), 1u);
        } else {
            EXPECT_EQ(carved.size(), (1500u - 100) * 512);
            std::string expected = test::DeviceBytes(*pattern, 100 * kSectorSize, carved.size());
            if (c.zeros)
                std::fill(expected.begin() + 500 * 512, expected.begin() + 502 * 512, '\0');
            EXPECT_TRUE(carved == expected);
        }
        EXPECT_EQ(fs::exists(Omitted()), c.thorough);
        EXPECT_THAT(events.ended, ::testing::ElementsAre(c.finished));
        EXPECT_EQ(job.Finished(), c.finished);
        ExpectEveryFileListed();
    }
}

TEST_F(CarvingSearchTest, ApplyToAllHoldsForTheRestOfThePassOnly)
{
    // Two failing blocks in each pass. With "apply" ticked the second failure
    // of a pass is not asked about; the next pass asks again.
    scripted->failFirst = 10 * kSectorSize;
    scripted->failEnd = 1100 * kSectorSize;
    scripted->broken = true;
    for (int choice : {kReadFailureRetry, kReadFailureSkip}) {
        SCOPED_TRACE(choice);
        fs::remove_all(dir.path() / "torvane");
        events.Clear();
        events.answer = [&](const JobQuestion&) { return choice | kReadFailureApplyToAll; };
        const int readsBefore = scripted->reads.load();
        PhotoSearchJob job(Request(), &events);
        ASSERT_TRUE(job.RunHere());
        EXPECT_EQ(events.QuestionsOf(kReadFailureQuestion), 2u);  // one per pass
        EXPECT_EQ(job.Finished(), 0);
        if (choice == kReadFailureRetry) {
            EXPECT_GT(scripted->reads.load() - readsBefore, 6);  // the failing blocks were read again
        }
    }
}

TEST_F(CarvingSearchTest, StopMidPassLeavesEveryFileFlushedAndListed)
{
    // The dialog's Stop Search, pressed while the reader is at block 3.
    PhotoSearchJob* running = nullptr;
    scripted->onRead = [&](std::uint64_t offset) {
        if (offset >= 3 * 512 * kSectorSize && running)
            running->Stop();
    };
    // Blocks read on the carving thread itself, so that the reader at block 3
    // means blocks 0 to 2 were carved (a read-ahead thread may be blocks ahead).
    PhotoSearchRequest request = Request();
    request.readAheadBlocks = 0;
    PhotoSearchJob job(request, &events);
    running = &job;
    ASSERT_TRUE(job.RunHere());
    running = nullptr;
    EXPECT_EQ(job.Finished(), 1);
    EXPECT_THAT(events.ended, ::testing::ElementsAre(1));
    ASSERT_GE(events.files.size(), 1u);
    EXPECT_EQ(events.files.front().firstSector, 100u);
    EXPECT_FALSE(fs::exists(Omitted())) << "a stopped General pass skips the Thorough pass";
    ExpectEveryFileListed();
    // Files end at a block end: what the file held when the stop came.
    EXPECT_EQ(events.files.front().size % 512, 0u);
}

TEST_F(CarvingSearchTest, StopFromAnotherThreadWhileRunning)
{
    // A larger device with a header every 4 MiB; Stop from the test thread.
    auto big = std::make_shared<test::SparseDevice>(std::uint64_t{1} << 30, test::SectorPattern, "big");
    for (std::uint64_t s = 0; s < (std::uint64_t{1} << 21); s += 8192)
        big->WriteSector(s, Bytes(kJpgHeader));
    PhotoSearchRequest request = Request();
    request.device = big;
    request.endSector = std::uint64_t{1} << 21;
    PhotoSearchJob job(request, &events);
    ASSERT_TRUE(job.Start());
    while (job.Counters().filesFound.load() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    job.StopAndWait();
    EXPECT_EQ(job.Finished(), 1);
    EXPECT_LT(job.Counters().currentSector.load(), std::uint64_t{1} << 21);
    ExpectEveryFileListed();
}

TEST_F(CarvingSearchTest, StopWhileTheQuestionIsUpEndsTheSearch)
{
    scripted->failFirst = 600 * kSectorSize;
    scripted->failEnd = 602 * kSectorSize;
    scripted->broken = true;
    // A dialog that never answers: the Stop gives the question up.
    class SilentEvents : public test::RecordingEvents {
    public:
        void OnQuestion(const JobQuestion& q, std::function<void(int)> reply) override
        {
            if (q.kind == kReadFailureQuestion) {
                held = std::move(reply);
                asked = true;
                return;
            }
            reply(0);
        }
        std::function<void(int)> held;
        std::atomic<bool> asked{false};
    } silent;
    PhotoSearchJob job(Request(), &silent);
    ASSERT_TRUE(job.Start());
    while (!silent.asked)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    job.StopAndWait();
    EXPECT_EQ(job.Finished(), 1);
    ASSERT_EQ(silent.files.size(), 1u);
    EXPECT_EQ(silent.files[0].size, (512u - 100) * 512);
    silent.held(kReadFailureRetry);  // a late answer is harmless
}

TEST_F(CarvingSearchTest, AMissingDeviceFailsEveryBlock)
{
    PhotoSearchRequest request = Request();
    request.device = nullptr;
    events.answer = [](const JobQuestion& q) { return q.kind == kReadFailureQuestion ? kReadFailureCancel : 0; };
    PhotoSearchJob job(request, &events);
    ASSERT_TRUE(job.RunHere());
    EXPECT_EQ(events.QuestionsOf(kReadFailureQuestion), 1u);
    EXPECT_TRUE(events.files.empty());
    EXPECT_EQ(job.Finished(), 1);
}

TEST_F(CarvingSearchTest, DestinationRefusals)
{
    const std::string failedText = ProgramState::Instance().Messages.SaveDestinationFailedText;
    struct Case {
        const char* what;
        std::function<int(const std::string&)> createError;
        std::uint64_t writeLimit;
        std::vector<std::string> names;  // carved, in order
        bool message;                    // the destination-failure message was shown
    };
    int refusals = 0;
    const std::vector<Case> cases = {
        {"a full destination stops the search",
         [](const std::string&) { return ENOSPC; }, 0, {}, true},
        {"a name refused for lack of permission is passed over",
         [&](const std::string& p) { return p.find("GNDR00001") != std::string::npos ? EACCES : 0; }, 0,
         {"GNDR00002.jpg", "GNDR00003.jpg", "THDR00001.jpg"}, false},
        {"a destination that refuses every name gives up after its bound",
         [&](const std::string&) { ++refusals; return EACCES; }, 0, {}, true},
        {"a write that fails stops the search; the file is listed as incomplete", nullptr, 300000,
         {"GNDR00001.jpg"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir.path() / "torvane");
        events.Clear();
        test::InjectingFileSystem target;
        target.createError = c.createError;
        target.writeLimit = c.writeLimit;
        PhotoSearchRequest request = Request();
        request.fileSystem = &target;
        PhotoSearchJob job(request, &events);
        ASSERT_TRUE(job.RunHere());
        std::vector<std::string> names;
        for (const CarvedFile& f : events.files)
            names.push_back(f.name);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(events.QuestionsOf(kMessageQuestion), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(events.questions.back().text, failedText);
            EXPECT_EQ(job.Finished(), 1);
        }
        if (c.writeLimit) {
            ASSERT_EQ(events.files.size(), 1u);
            EXPECT_FALSE(events.files[0].complete);
            // What was written before the failing write.
            EXPECT_EQ(events.files[0].size, (512u - 100) * 512);
        }
    }
    EXPECT_EQ(refusals, kCarvedNameAttempts);
}

TEST_F(CarvingSearchTest, ALinkInTheOutputTreeIsNotFollowed)
{
    test::TempDir elsewhere;
    fs::create_directories(dir.path() / "torvane" / "Photo Search" / "General");
    fs::create_directory_symlink(elsewhere.path(), dir.path() / "torvane" / "Photo Search" / "General" / "JPG");
    PhotoSearchJob job(Request(), &events);
    ASSERT_TRUE(job.RunHere());
    EXPECT_TRUE(events.files.empty());
    EXPECT_EQ(events.QuestionsOf(kMessageQuestion), 1u);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));

    // A link in place of the program's own folder is refused just the same.
    fs::remove_all(dir.path() / "torvane");
    fs::create_directory_symlink(elsewhere.path(), dir.path() / "torvane");
    events.Clear();
    PhotoSearchJob again(Request(), &events);
    ASSERT_TRUE(again.RunHere());
    EXPECT_TRUE(events.files.empty());
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST_F(CarvingSearchTest, AnExistingPhotoFileIsReplaced)
{
    const fs::path folder = dir.path() / "torvane" / "Photo Search" / "General" / "JPG";
    fs::create_directories(folder);
    { std::ofstream(folder / "GNDR00001.jpg") << "an older search's file, much longer than nothing at all"; }
    PhotoSearchRequest request = Request();
    request.endSector = 200;
    PhotoSearchJob job(request, &events);
    ASSERT_TRUE(job.RunHere());
    ASSERT_EQ(events.files.size(), 1u);
    EXPECT_EQ(fs::file_size(folder / "GNDR00001.jpg"), 100u * 512);
}

TEST_F(CarvingSearchTest, WhatRunsAndWhatEnds)
{
    struct Case {
        const char* what;
        std::uint64_t start, end;
        bool thoroughPass;
        bool thoroughList;
        bool signature;
        std::size_t passes;
        bool messageAsked;
    };
    const std::vector<Case> cases = {
        {"start not below end: the End Sector message, no pass", 500, 500, true, true, false, 0, true},
        {"without the Thorough pass only General is written", 0, 2048, false, true, false, 1, false},
        {"with it, both", 0, 2048, true, true, false, 2, false},
        {"a signature search whose Thorough file gave nothing runs one pass", 0, 2048, true, false, true, 1, false},
        {"a signature search with both", 0, 2048, true, true, true, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir.path() / "torvane");
        events.Clear();
        std::unique_ptr<CarvingSearchJob> job;
        if (c.signature) {
            SignatureSearchRequest request;
            static_cast<CarvingSearchRequest&>(request) = Request();
            request.startSector = c.start;
            request.endSector = c.end;
            request.thoroughPass = c.thoroughPass;
            request.general = ListOf({Sig(".JPG", 1 << 30, kJpgHeader)});
            if (c.thoroughList)
                request.thorough = ListOf({Sig(".JPG", 1 << 30, kThoroughHeader)});
            job = std::make_unique<SignatureSearchJob>(request, &events);
        } else {
            PhotoSearchRequest request = Request();
            request.startSector = c.start;
            request.endSector = c.end;
            request.thoroughPass = c.thoroughPass;
            job = std::make_unique<PhotoSearchJob>(request, &events);
        }
        ASSERT_TRUE(job->RunHere());
        EXPECT_EQ(events.passes.size(), c.passes);
        const fs::path search = job->SearchFolder();
        EXPECT_EQ(fs::exists(search / "General"), c.passes >= 1);
        EXPECT_EQ(fs::exists(search / "Omitted"), c.passes == 2);
        EXPECT_EQ(events.QuestionsOf(kMessageQuestion), c.messageAsked ? 1u : 0u);
        if (c.messageAsked) {
            EXPECT_EQ(events.questions[0].text,
                      "The value of 'End Sector' should be greater than 'Start Sector' of the Drive.");
        }
        EXPECT_THAT(events.ended, ::testing::ElementsAre(0));
        ASSERT_FALSE(events.status.empty());
        EXPECT_EQ(events.status.back(), ProgramState::Instance().Messages.ViewRecoveredDataText);
    }
}

TEST_F(CarvingSearchTest, ProgressCountersFollowTheSearch)
{
    PhotoSearchJob job(Request(), &events);
    ASSERT_TRUE(job.RunHere());
    const CarvingCounters& counters = job.Counters();
    EXPECT_EQ(counters.filesFound.load(), events.files.size());
    EXPECT_EQ(counters.generalFiles.load() + counters.omittedFiles.load(), events.files.size());
    std::uint64_t bytes = 0;
    for (const CarvedFile& f : events.files)
        bytes += f.size;
    EXPECT_EQ(counters.bytesWritten.load(), bytes);
    EXPECT_EQ(counters.currentSector.load(), 2047u);
    EXPECT_EQ(counters.pass.load(), 0);
    const auto rows = job.ExtensionRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].filesFound, events.files.size());
}

}  // namespace
}  // namespace torvane
