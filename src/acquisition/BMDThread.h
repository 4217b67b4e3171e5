// A restartable worker thread that runs one handler until told to terminate.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tw {

// The worker of one run; its handler polls Terminated() and waits in Pause, which Terminate and Wake end.
class TBMDExecuteThread {
public:
    bool Terminated() const { return TerminatedFlag.load(std::memory_order_acquire); }
    void Terminate();
    // Ends the pause in progress, or else the next one, at once. Answers how many pauses had begun
    // by then: once Pauses() exceeds that, the handler has come round since the wake.
    uint64_t Wake();
    // The handler's wait: up to `longest`, ended early by Terminate or Wake.
    void Pause(std::chrono::steady_clock::duration longest);
    uint64_t Pauses() const;

private:
    std::atomic<bool> TerminatedFlag{false};
    mutable std::mutex Guard;  // the three below
    std::condition_variable Woken;
    bool WakePending = false;
    uint64_t PauseCount = 0;
};

class TBMDThread {
public:
    enum TPriority { tpNormal, tpHigher };
    using TExecuteEvent = std::function<void(TBMDThread& sender, TBMDExecuteThread& worker)>;

    TPriority Priority = tpNormal;
    TExecuteEvent OnExecute;

    TBMDThread() = default;
    ~TBMDThread();
    TBMDThread(const TBMDThread&) = delete;
    TBMDThread& operator=(const TBMDThread&) = delete;

    // Starts a worker unless one is already running and not told to stop.
    void Start();
    // Tells the worker to terminate; does not wait.
    void Stop();
    // After Stop: waits until the worker has left its handler.
    void WaitFor();
    bool HasWorker() const { return Worker != nullptr; }
    // A worker runs and has not been told to stop.
    bool Running() const;
    // Wake() of the current worker; 0 without one.
    uint64_t Wake();
    uint64_t Pauses() const;

private:
    struct TWorker {
        TBMDExecuteThread State;
        std::atomic<bool> Finished{false};
        std::thread Thread;
    };
    std::unique_ptr<TWorker> Worker;  // touched by the owning (main) thread only
};

}  // namespace tw
