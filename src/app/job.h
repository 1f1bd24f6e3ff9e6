// The job model: every long task (a scan, a list population, a count, a save,
// a log load or save, a partition search, a carving pass) runs as a Job.
//
// - its parameters are passed by value when it is built;
// - Stop() asks it to end; the worker tests StopRequested() per block/row/cluster;
// - progress counters are atomics that the dialogs' timers read;
// - texts and results go to a JobEvents sink, which the GUI implements with
//   queued calls to its own thread;
// - Ask() blocks the worker until the GUI answers, or until Stop() is called.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
    virtual void OnFinished(bool /*stopped*/) {}
    // Called when the worker needs an answer: the implementation must arrange
    // for `reply` to be called exactly once (possibly from another thread).
    // The default answers -1 at once (no GUI attached).
    virtual void OnQuestion(const JobQuestion& /*question*/, std::function<void(int)> reply) { reply(-1); }
};

struct JobProgress {
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    std::atomic<std::uint64_t> files{0};
    std::atomic<std::uint64_t> folders{0};
};

class Job {
public:
    explicit Job(JobEvents* events = nullptr);
    virtual ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Starts Run() on a worker thread. A job runs at most once at a time.
    void Start();
    // Asks the job to stop; wakes a pending Ask(). Does not wait.
    void Stop();
    // Waits for the worker to leave. Safe to call more than once.
    void Wait();
    // Stop() then Wait().
    void StopAndWait();

    bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
    bool Running() const { return running_.load(); }
    bool Stopped() const { return stop_.load(); }

    JobProgress& Progress() { return progress_; }
    const JobProgress& Progress() const { return progress_; }
    JobEvents* Events() const { return events_; }

    // Blocks until the question is answered; returns the answer, or nullopt
    // when the job was stopped first (or no sink is attached and it answered -1).
    std::optional<int> Ask(const JobQuestion& question);

    // Runs Run() on the calling thread (tests, command-line tools).
    void RunHere();

protected:
    virtual void Run() = 0;
    void Status(const std::string& text);

private:
    JobEvents* events_;
    JobProgress progress_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex askMutex_;
    std::condition_variable askCv_;
    std::uint64_t askSerial_ = 0;
};

}  // namespace torvane
