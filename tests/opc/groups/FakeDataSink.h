// An in-process IOPCDataCallback that records every callback and can call back into the server from
// inside one. A threaded one marshals itself with the free-threaded marshaler, as a proxy answers
// IMarshal: the server object then calls it from its client's delivery thread, as it calls a remote
// client; it records under a lock, holds each callback inside the call while held, and answers
// every callback with result.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "OPCDA.h"

namespace tw::opc::test {

enum class TCallbackKind { DataChange, ReadComplete, WriteComplete, CancelComplete };

struct TCallback {
    TCallbackKind kind = TCallbackKind::DataChange;
    DWORD transid = 0;
    OPCHANDLE group = 0;
    HRESULT masterQuality = S_OK;
    HRESULT masterError = S_OK;
    std::vector<OPCHANDLE> clients;
    std::vector<LONG> values;  // lVal of each value; -1 for a value that is not VT_I4
    std::vector<VARTYPE> types;     // of each value
    std::vector<double> numbers;    // each value as a VT_R8 (NaN when it is none)
    std::vector<WORD> qualities;
    std::vector<HRESULT> errors;
    bool stampsSet = true;  // every timestamp is nonzero
};

class TFakeDataSink final : public IOPCDataCallback {
public:
    explicit TFakeDataSink(bool threaded = false);
    ~TFakeDataSink();
    TFakeDataSink(const TFakeDataSink&) = delete;
    TFakeDataSink& operator=(const TFakeDataSink&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;  // lives on the test's stack

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

    std::vector<TCallback> calls;
    // Runs after a callback has been recorded, still inside it (in-process sinks only).
    std::function<void(const TCallback&)> inside;
    // Runs as the sink is asked for an interface, before it answers.
    std::function<void(REFIID)> queried;
    ULONG refs() const { return refs_; }
    std::size_t Count(TCallbackKind kind) const;

    // Threaded: callbacks wait inside the call while held.
    void Hold() { ResetEvent(gate_); }
    void Open() { SetEvent(gate_); }
    // Waits until n callbacks have begun (also those held inside); false after timeoutMs.
    bool WaitEntered(int n, DWORD timeoutMs) const;
    // Waits until nobody holds a reference any more, handling the thread's window messages; false
    // after timeoutMs.
    bool WaitReleased(DWORD timeoutMs) const;
    // The threads that released a reference, and those that made a callback.
    std::set<DWORD> ReleasingThreads() const;
    std::set<DWORD> CallingThreads() const;
    // What was recorded so far, taken under the lock.
    std::vector<TCallback> Calls() const;
    std::atomic<HRESULT> result{S_OK};
    // What QueryInterface answers for an interface the sink does not have.
    std::atomic<HRESULT> queryResult{E_NOINTERFACE};

private:
    HRESULT Record(TCallback call);
    std::atomic<ULONG> refs_{0};
    IUnknown* marshaler_ = nullptr;  // threaded only
    HANDLE gate_;                    // set while open
    mutable std::mutex guard_;
    std::atomic<int> entered_{0};
    std::set<DWORD> releasing_, calling_;
};

}  // namespace tw::opc::test
