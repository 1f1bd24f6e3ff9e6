#include "base/job.h"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>

#include "base/text_routines.h"

namespace torvane {

// One pending question. The reply function holds it, not the job, so a
// reply that comes late (after Stop, or after the job is gone) only touches
// this small shared record.
struct Job::AskState {
    std::mutex mutex;
    std::condition_variable cv;
    bool answered = false;
    bool cancelled = false;  // given up because the job was stopped
    int answer = -1;
};

Job::Job(JobEvents* events) : events_(events) {}

Job::~Job() {
    // Last resort; derived jobs stop earlier (see the lifetime rule in job.h).
    StopAndWait();
}

bool Job::Start() {
    if (workerId_.load() == std::this_thread::get_id()) return false;
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (running_.load()) return false;
    if (thread_.joinable()) thread_.join();  // the previous run has finished
    stop_.store(false);
    {
        std::lock_guard<std::mutex> doneLock(doneMutex_);
        done_ = false;
        failed_ = false;
        error_.clear();
    }
    running_.store(true);
    try {
        thread_ = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
        running_.store(false);
        std::lock_guard<std::mutex> doneLock(doneMutex_);
        done_ = true;
        return false;
    }
    return true;
}

void Job::Execute() {
    workerId_.store(std::this_thread::get_id());
    std::string error;
    bool failed = false;
    try {
        Run();
    } catch (const std::bad_alloc&) {
        failed = true;
        error = "Not Enough Memory";
    } catch (const std::exception& e) {
        failed = true;
        error = e.what();
    } catch (...) {
        failed = true;
        error = "unknown error";
    }
    if (failed) {
        LogCaughtError(GetModeLabel(), "job", "JOB", error);
        {
            std::lock_guard<std::mutex> lock(doneMutex_);
            failed_ = true;
            error_ = error;
        }
        if (events_ != nullptr) {
            try {
                events_->OnError(error);
            } catch (...) {
            }
        }
    }
    if (events_ != nullptr) {
        try {
            events_->OnFinished(StopRequested());
        } catch (...) {
        }
    }
    workerId_.store(std::thread::id());
    {
        std::lock_guard<std::mutex> lock(doneMutex_);
        running_.store(false);
        done_ = true;
    }
    doneCv_.notify_all();
}

void Job::Stop() {
    stop_.store(true);
    std::lock_guard<std::mutex> lock(askMutex_);
    for (const auto& state : pendingAsks_) {
        std::lock_guard<std::mutex> stateLock(state->mutex);
        if (!state->answered) state->cancelled = true;
        state->cv.notify_all();
    }
    askCv_.notify_all();
}

void Job::Wait() {
    if (workerId_.load() == std::this_thread::get_id()) return;
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (thread_.joinable()) thread_.join();
}

bool Job::WaitFor(std::chrono::milliseconds timeout) {
    if (workerId_.load() == std::this_thread::get_id()) return false;
    {
        std::unique_lock<std::mutex> lock(doneMutex_);
        if (!doneCv_.wait_for(lock, timeout, [this] { return done_; })) return false;
    }
    Wait();  // the worker has finished; joining takes no time
    return true;
}

void Job::StopAndWait() {
    Stop();
    Wait();
}

bool Job::Failed() const {
    std::lock_guard<std::mutex> lock(doneMutex_);
    return failed_;
}

std::string Job::ErrorText() const {
    std::lock_guard<std::mutex> lock(doneMutex_);
    return error_;
}

std::optional<int> Job::Ask(const JobQuestion& question) {
    if (events_ == nullptr) return StopRequested() ? std::nullopt : std::optional<int>(-1);
    auto state = std::make_shared<AskState>();
    {
        std::lock_guard<std::mutex> lock(askMutex_);
        if (stop_.load()) return std::nullopt;
        pendingAsks_.push_back(state);
    }
    auto forget = [this, &state] {
        std::lock_guard<std::mutex> lock(askMutex_);
        pendingAsks_.erase(std::remove(pendingAsks_.begin(), pendingAsks_.end(), state), pendingAsks_.end());
    };
    std::function<void(int)> reply = [state](int answer) {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->answered || state->cancelled) return;  // first word wins
        state->answered = true;
        state->answer = answer;
        state->cv.notify_all();
    };
    try {
        events_->OnQuestion(question, std::move(reply));
    } catch (...) {
        forget();
        throw;
    }
    std::optional<int> result;
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->cv.wait(lock, [&] { return state->answered || state->cancelled; });
        if (state->answered) result = state->answer;
    }
    forget();
    return result;
}

bool Job::WaitForStop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(askMutex_);
    return askCv_.wait_for(lock, timeout, [this] { return stop_.load(); });
}

bool Job::RunHere() {
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (running_.load()) return false;
        if (thread_.joinable()) thread_.join();
        stop_.store(false);
        std::lock_guard<std::mutex> doneLock(doneMutex_);
        done_ = false;
        failed_ = false;
        error_.clear();
        running_.store(true);
    }
    Execute();
    return true;
}

void Job::Status(const std::string& text) {
    if (events_ != nullptr) events_->OnStatusText(text);
}

}  // namespace torvane
