#include "acquisition/BMDThread.h"

#ifdef _WIN32
#include <pthread.h>
#endif

namespace tw {

namespace {
void ApplyPriority(TBMDThread::TPriority priority) {
#ifdef _WIN32
    // winpthreads hands sched_priority to SetThreadPriority: 1 is one step above normal.
    if (priority == TBMDThread::tpHigher) {
        sched_param param{};
        param.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
    }
#else
    (void)priority;  // raising a thread above normal needs privileges here; the scan loop does without
#endif
}
}  // namespace

void TBMDExecuteThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(Guard);
        TerminatedFlag.store(true, std::memory_order_release);
    }
    Woken.notify_all();
}

uint64_t TBMDExecuteThread::Wake() {
    uint64_t pauses;
    {
        std::lock_guard<std::mutex> lock(Guard);
        WakePending = true;
        pauses = PauseCount;
    }
    Woken.notify_all();
    return pauses;
}

void TBMDExecuteThread::Pause(std::chrono::steady_clock::duration longest) {
    std::unique_lock<std::mutex> lock(Guard);
    // A wake that came while the handler was busy ends this pause instead: it is never lost.
    if (!WakePending && !Terminated() && longest > longest.zero()) {
        ++PauseCount;
        Woken.wait_for(lock, longest, [this] { return WakePending || Terminated(); });
    }
    WakePending = false;
}

uint64_t TBMDExecuteThread::Pauses() const {
    std::lock_guard<std::mutex> lock(Guard);
    return PauseCount;
}

TBMDThread::~TBMDThread() {
    Stop();
    WaitFor();
}

void TBMDThread::Start() {
    if (Running()) return;
    WaitFor();
    Worker = std::make_unique<TWorker>();
    TWorker* worker = Worker.get();
    const TPriority priority = Priority;
    worker->Thread = std::thread([this, worker, priority] {
        ApplyPriority(priority);
        if (OnExecute) OnExecute(*this, worker->State);
        worker->Finished.store(true, std::memory_order_release);
    });
}

void TBMDThread::Stop() {
    if (Worker) Worker->State.Terminate();
}

bool TBMDThread::Running() const {
    return Worker && !Worker->State.Terminated() && !Worker->Finished.load(std::memory_order_acquire);
}

uint64_t TBMDThread::Wake() { return Worker ? Worker->State.Wake() : 0; }

uint64_t TBMDThread::Pauses() const { return Worker ? Worker->State.Pauses() : 0; }

void TBMDThread::WaitFor() {
    if (!Worker) return;
    if (Worker->Thread.joinable()) Worker->Thread.join();
    Worker.reset();
}

}  // namespace tw
