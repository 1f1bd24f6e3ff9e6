#include "base/job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

namespace torvane {
namespace {

using namespace std::chrono_literals;

// A sink that keeps the reply for the test to call (or never call).
class HoldingEvents : public JobEvents {
public:
    void OnQuestion(const JobQuestion& q, std::function<void(int)> reply) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lastKind_ = q.kind;
        reply_ = std::move(reply);
        asked_.store(true);
    }
    void OnFinished(bool stopped) override {
        finishedCount_.fetch_add(1);
        lastStopped_.store(stopped);
    }
    void OnError(const std::string& what) override {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = what;
    }
    void OnStatusText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = text;
    }
    bool WaitAsked() {
        for (int i = 0; i < 10000 && !asked_.load(); ++i) std::this_thread::sleep_for(1ms);
        return asked_.load();
    }
    std::function<void(int)> TakeReply() {
        std::lock_guard<std::mutex> lock(mutex_);
        asked_.store(false);
        return std::move(reply_);
    }
    std::string Error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }
    std::string Status() {
        std::lock_guard<std::mutex> lock(mutex_);
        return status_;
    }
    std::atomic<int> finishedCount_{0};
    std::atomic<bool> lastStopped_{false};

private:
    std::mutex mutex_;
    std::function<void(int)> reply_;
    std::atomic<bool> asked_{false};
    std::string lastKind_;
    std::string error_;
    std::string status_;
};

// Asks one question and records the outcome.
class AskingJob : public Job {
public:
    using Job::Job;
    ~AskingJob() override { StopAndWait(); }
    std::optional<int> result;
    std::atomic<bool> returned{false};

protected:
    void Run() override {
        result = Ask({"replace", "File exists", {"Yes", "No"}});
        returned = true;
    }
};

// Counts until stopped.
class CountingJob : public Job {
public:
    using Job::Job;
    std::atomic<int> runs{0};

protected:
    void Run() override {
        runs.fetch_add(1);
        Progress().total = 200000;
        while (!StopRequested()) {
            Progress().done.fetch_add(1);
            Progress().files.fetch_add(2);
            if (Progress().done.load() >= Progress().total.load()) break;
            std::this_thread::yield();
        }
    }
};

TEST(Job, StopWakesAPendingAsk) {
    HoldingEvents events;
    AskingJob job(&events);
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(events.WaitAsked());
    EXPECT_TRUE(job.Running());
    job.StopAndWait();  // must not hang although nobody answers
    EXPECT_TRUE(job.returned);
    EXPECT_FALSE(job.result.has_value());
    EXPECT_FALSE(job.Running());
    EXPECT_EQ(events.finishedCount_.load(), 1);
    EXPECT_TRUE(events.lastStopped_.load());
    // A reply that comes after the stop is harmless.
    auto reply = events.TakeReply();
    ASSERT_TRUE(reply);
    reply(1);
}

TEST(Job, ReplyFromAnotherThread) {
    HoldingEvents events;
    AskingJob job(&events);
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(events.WaitAsked());
    auto reply = events.TakeReply();
    std::thread gui([reply] { reply(2); reply(5); });  // the second answer is ignored
    gui.join();
    job.Wait();
    ASSERT_TRUE(job.result.has_value());
    EXPECT_EQ(*job.result, 2);
    EXPECT_FALSE(events.lastStopped_.load());
}

TEST(Job, ReplyAfterTheJobIsGone) {
    HoldingEvents events;
    std::function<void(int)> reply;
    {
        AskingJob job(&events);
        ASSERT_TRUE(job.Start());
        ASSERT_TRUE(events.WaitAsked());
        reply = events.TakeReply();
    }  // destroyed: stopped and joined
    reply(0);  // touches only the question's own record
    SUCCEED();
}

TEST(Job, AskAfterStopReturnsAtOnceAndDefaultSinkAnswers) {
    class StopThenAsk : public Job {
    public:
        using Job::Job;
        std::optional<int> result;

    protected:
        void Run() override {
            Stop();
            result = Ask({"x", "y", {}});
        }
    };
    HoldingEvents events;
    StopThenAsk a(&events);
    ASSERT_TRUE(a.RunHere());
    EXPECT_FALSE(a.result.has_value());

    JobEvents defaults;  // answers -1 at once
    AskingJob b(&defaults);
    ASSERT_TRUE(b.RunHere());
    ASSERT_TRUE(b.result.has_value());
    EXPECT_EQ(*b.result, -1);

    AskingJob c(nullptr);
    ASSERT_TRUE(c.RunHere());
    ASSERT_TRUE(c.result.has_value());
    EXPECT_EQ(*c.result, -1);
}

TEST(Job, ProgressCountersAreReadWhileRunning) {
    StoppingJob<CountingJob> job;
    ASSERT_TRUE(job.Start());
    // Another thread (a dialog timer) sees the counters move.
    std::uint64_t seen = 0;
    for (int i = 0; i < 10000 && seen == 0; ++i) {
        seen = job.Progress().done.load();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_GT(seen, 0u);
    EXPECT_EQ(job.Progress().total.load(), 200000u);
    job.StopAndWait();
    EXPECT_EQ(job.Progress().files.load(), 2 * job.Progress().done.load());
    EXPECT_TRUE(job.Stopped());
}

TEST(Job, RestartAfterFinish) {
    HoldingEvents events;
    StoppingJob<CountingJob> job(&events);
    ASSERT_TRUE(job.Start());
    EXPECT_FALSE(job.Start());  // already running
    job.StopAndWait();
    EXPECT_EQ(job.runs.load(), 1);
    job.Progress().Reset();
    ASSERT_TRUE(job.Start());  // the stop request is cleared
    job.Wait();                // runs to its end this time
    EXPECT_EQ(job.runs.load(), 2);
    EXPECT_FALSE(job.Stopped());
    EXPECT_EQ(job.Progress().done.load(), 200000u);
    EXPECT_EQ(events.finishedCount_.load(), 2);
    EXPECT_FALSE(events.lastStopped_.load());
}

TEST(Job, WaitForWithDeadline) {
    StoppingJob<CountingJob> job;
    EXPECT_TRUE(job.WaitFor(0ms));  // never started
    class Sleeper : public Job {
    protected:
        void Run() override {
            while (!WaitForStop(10ms)) {
            }
        }
    };
    StoppingJob<Sleeper> sleeper;
    ASSERT_TRUE(sleeper.Start());
    EXPECT_FALSE(sleeper.WaitFor(20ms));  // still sleeping in passes
    sleeper.Stop();
    EXPECT_TRUE(sleeper.WaitFor(10s));
    EXPECT_FALSE(sleeper.Running());
}

TEST(Job, ExceptionEndsTheRunWithAnError) {
    class Throwing : public Job {
    public:
        using Job::Job;

    protected:
        void Run() override {
            Status("working");
            throw std::runtime_error("bad cluster chain");
        }
    };
    HoldingEvents events;
    StoppingJob<Throwing> job(&events);
    ASSERT_TRUE(job.Start());
    job.Wait();
    EXPECT_TRUE(job.Failed());
    EXPECT_EQ(job.ErrorText(), "bad cluster chain");
    EXPECT_EQ(events.Error(), "bad cluster chain");
    EXPECT_EQ(events.Status(), "working");
    EXPECT_EQ(events.finishedCount_.load(), 1);
    EXPECT_FALSE(job.Running());
}

TEST(Job, WaitFromTheWorkerDoesNotDeadlock) {
    class SelfWaiter : public Job {
    public:
        std::atomic<bool> startedAgain{true};
        std::atomic<bool> waitedForSelf{true};

    protected:
        void Run() override {
            Wait();  // returns at once
            startedAgain = Start();
            waitedForSelf = WaitFor(1ms);
        }
    };
    StoppingJob<SelfWaiter> job;
    ASSERT_TRUE(job.Start());
    job.Wait();
    EXPECT_FALSE(job.startedAgain.load());
    EXPECT_FALSE(job.waitedForSelf.load());
}

TEST(Job, DestroyingAStoppingJobWhileItRuns) {
    // The derived part must still exist while Run() runs: StoppingJob stops
    // and joins before ~CountingJob.
    for (int i = 0; i < 20; ++i) {
        auto job = std::make_unique<StoppingJob<CountingJob>>();
        ASSERT_TRUE(job->Start());
        job.reset();
    }
    SUCCEED();
}

}  // namespace
}  // namespace torvane
