// A restartable worker thread that runs one handler until told to terminate.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace tw {

// The worker of one run; its handler polls Terminated().
class TBMDExecuteThread {
public:
    bool Terminated() const { return TerminatedFlag.load(std::memory_order_acquire); }
    void Terminate() { TerminatedFlag.store(true, std::memory_order_release); }

private:
    std::atomic<bool> TerminatedFlag{false};
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

private:
    struct TWorker {
        TBMDExecuteThread State;
        std::atomic<bool> Finished{false};
        std::thread Thread;
    };
    std::unique_ptr<TWorker> Worker;  // touched by the owning (main) thread only
};

}  // namespace tw
