// The job model: every long task (a scan, a list population, a count, a save,
// a log load or save, a partition search, a carving pass) runs as a Job.
//
// - its parameters are passed by value when it is built;
// - Stop() asks it to end; the worker tests StopRequested() per block/row/cluster;
// - progress counters are atomics that the dialogs' timers read;
// - texts and results go to a JobEvents sink, which the GUI implements with
//   queued calls to its own thread;
// - Ask() blocks the worker until the GUI answers, or until Stop() is called.
//
// No thread is ever killed: Stop() only asks, and Wait() joins.
//
// Lifetime rule. Run() is a virtual function of the derived class, and the
// worker may still be inside it when the object starts to be destroyed. The
// base destructor stops and joins, but by then the derived part (and its
// members that Run() uses) is already gone. So a job must be stopped and
// joined before its derived part is destroyed. Either:
//   - create it as StoppingJob<MyJob> (below), whose destructor runs first
//     and stops and joins the worker; or
//   - call StopAndWait() at the top of the derived class's destructor.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace torvane {

// A question a worker needs answered (Replace, read failure, too-long path...).
struct JobQuestion {
    std::string kind;                   // "replace", "read-failure", ...
    std::string text;                   // message shown to the user
    std::vector<std::string> choices;   // answer labels, if any
};

// Where a job reports. Every method may be called from the worker thread.
class JobEvents {
public:
    virtual ~JobEvents() = default;
    virtual void OnStatusText(const std::string& /*text*/) {}
    // The worker's last call, after Run() has returned. It must not block on
    // the GUI thread (post the news instead): the GUI may be waiting for the
    // worker to end. Running() is still true during this call; a handler
    // that wants to start the job again calls Wait() first.
    virtual void OnFinished(bool /*stopped*/) {}
    // Run() ended with an exception; `what` says why. The job ends (what it
    // found so far stays), OnFinished follows.
    virtual void OnError(const std::string& /*what*/) {}
    // Called when the worker needs an answer: the implementation must arrange
    // for `reply` to be called once (possibly from another thread, possibly
    // later than Stop(), or never once the job is stopped). Calling it after
    // the question was given up, more than once, or after the job object is
    // gone is harmless.
    // The default answers -1 at once (no GUI attached).
    virtual void OnQuestion(const JobQuestion& /*question*/, std::function<void(int)> reply) { reply(-1); }
};

struct JobProgress {
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    std::atomic<std::uint64_t> files{0};
    std::atomic<std::uint64_t> folders{0};

    void Reset() {
        done = 0;
        total = 0;
        files = 0;
        folders = 0;
    }
};

class Job {
public:
    explicit Job(JobEvents* events = nullptr);
    // Stops and joins a worker that still runs (see the lifetime rule above).
    virtual ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Starts Run() on a worker thread. A job runs at most once at a time:
    // returns false (and does nothing) while it still runs, when called from
    // its own worker, or when no thread could be created. A job that has
    // finished can be started again; the stop request is cleared, progress
    // counters are left to Run() (see JobProgress::Reset).
    bool Start();
    // Asks the job to stop; wakes a pending Ask() and WaitForStop(). Does not wait.
    void Stop();
    // Waits for the worker to leave. Safe to call more than once and from
    // several threads; does nothing when called from the worker itself.
    void Wait();
    // Waits at most `timeout` for the worker to leave; true when it has
    // (or never ran). From the worker itself: false at once.
    bool WaitFor(std::chrono::milliseconds timeout);
    // Stop() then Wait().
    void StopAndWait();

    bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
    bool Running() const { return running_.load(); }
    bool Stopped() const { return stop_.load(); }
    // Whether the last run ended with an exception, and its text.
    bool Failed() const;
    std::string ErrorText() const;

    JobProgress& Progress() { return progress_; }
    const JobProgress& Progress() const { return progress_; }
    JobEvents* Events() const { return events_; }

    // Blocks until the question is answered; returns the answer, or nullopt
    // when the job was stopped first (a stop that comes while waiting gives
    // up the question at once). With no sink attached the answer is -1.
    std::optional<int> Ask(const JobQuestion& question);

    // Sleeps up to `timeout` or until Stop(); true when a stop was requested.
    // For timed passes that must still end at once on Stop.
    bool WaitForStop(std::chrono::milliseconds timeout);

    // Runs Run() on the calling thread (tests, command-line tools), with the
    // same stop, error and OnFinished handling as a worker. Returns false
    // (and does nothing) while a worker runs.
    bool RunHere();

protected:
    virtual void Run() = 0;
    void Status(const std::string& text);

private:
    struct AskState;

    void Execute();  // Run() with the error handling and the end reports

    JobEvents* events_;
    JobProgress progress_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> workerId_{};

    std::mutex threadMutex_;  // guards thread_ (start and join)
    std::thread thread_;

    mutable std::mutex doneMutex_;  // guards done_ and the error
    std::condition_variable doneCv_;
    bool done_ = true;
    bool failed_ = false;
    std::string error_;

    std::mutex askMutex_;  // guards pendingAsks_; orders Stop() against Ask()
    std::condition_variable askCv_;  // WaitForStop
    std::vector<std::shared_ptr<AskState>> pendingAsks_;
};

// A T whose destructor stops and joins the worker before any part of T is
// destroyed:  auto job = std::make_unique<StoppingJob<BasicScanJob>>(args...);
template <typename T>
class StoppingJob final : public T {
public:
    template <typename... Args>
    explicit StoppingJob(Args&&... args) : T(std::forward<Args>(args)...) {}
    ~StoppingJob() override { this->StopAndWait(); }
};

}  // namespace torvane
