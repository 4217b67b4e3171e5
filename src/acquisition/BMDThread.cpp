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

TBMDThread::~TBMDThread() {
    Stop();
    WaitFor();
}

void TBMDThread::Start() {
    if (Worker) {
        if (!Worker->State.Terminated() && !Worker->Finished.load(std::memory_order_acquire)) return;
        WaitFor();
    }
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

void TBMDThread::WaitFor() {
    if (!Worker) return;
    if (Worker->Thread.joinable()) Worker->Thread.join();
    Worker.reset();
}

}  // namespace tw
