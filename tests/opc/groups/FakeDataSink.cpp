#include "FakeDataSink.h"

#include <oleauto.h>

#include <cmath>

namespace tw::opc::test {
namespace {

TCallback Items(TCallbackKind kind, DWORD transid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                const OPCHANDLE* clients, const VARIANT* values, const WORD* qualities, const FILETIME* stamps,
                const HRESULT* errors) {
    TCallback c;
    c.kind = kind;
    c.transid = transid;
    c.group = group;
    c.masterQuality = quality;
    c.masterError = error;
    for (DWORD i = 0; i < count; ++i) {
        c.clients.push_back(clients[i]);
        c.errors.push_back(errors[i]);
        if (values) {
            c.values.push_back(values[i].vt == VT_I4 ? values[i].lVal : -1);
            c.types.push_back(values[i].vt);
            VARIANT number;
            VariantInit(&number);
            const bool converted = SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&values[i]), 0, VT_R8));
            c.numbers.push_back(converted ? number.dblVal : std::nan(""));
        }
        if (qualities) c.qualities.push_back(qualities[i]);
        if (stamps && stamps[i].dwLowDateTime == 0 && stamps[i].dwHighDateTime == 0) c.stampsSet = false;
    }
    return c;
}

}  // namespace

TFakeDataSink::TFakeDataSink(bool threaded) : gate_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
    if (threaded) CoCreateFreeThreadedMarshaler(static_cast<IOPCDataCallback*>(this), &marshaler_);
}

TFakeDataSink::~TFakeDataSink() {
    if (marshaler_) marshaler_->Release();
    CloseHandle(gate_);
}

HRESULT TFakeDataSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (queried) queried(riid);
    if (marshaler_ && IsEqualIID(riid, IID_IMarshal)) return marshaler_->QueryInterface(riid, ppv);
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOPCDataCallback)) return queryResult;
    *ppv = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
}

HRESULT TFakeDataSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                                    DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                    FILETIME* pftTimeStamps, HRESULT* pErrors) {
    return Record(Items(TCallbackKind::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                        phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors));
}

HRESULT TFakeDataSink::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                      HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                      VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                      HRESULT* pErrors) {
    return Record(Items(TCallbackKind::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                        phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors));
}

HRESULT TFakeDataSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                       OPCHANDLE* pClienthandles, HRESULT* pErrors) {
    return Record(Items(TCallbackKind::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount, pClienthandles,
                        nullptr, nullptr, nullptr, pErrors));
}

HRESULT TFakeDataSink::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) {
    return Record(Items(TCallbackKind::CancelComplete, dwTransid, hGroup, S_OK, S_OK, 0, nullptr, nullptr, nullptr,
                        nullptr, nullptr));
}

ULONG TFakeDataSink::Release() {
    {
        std::lock_guard<std::mutex> lock(guard_);
        releasing_.insert(GetCurrentThreadId());
    }
    return --refs_;
}

HRESULT TFakeDataSink::Record(TCallback call) {
    {
        std::lock_guard<std::mutex> lock(guard_);
        calling_.insert(GetCurrentThreadId());
    }
    ++entered_;
    WaitForSingleObject(gate_, INFINITE);
    {
        std::lock_guard<std::mutex> lock(guard_);
        calls.push_back(call);
    }
    if (inside) inside(call);  // a copy: the hook may record further calls
    return result;
}

bool TFakeDataSink::WaitEntered(int n, DWORD timeoutMs) const {
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; entered_ < n; Sleep(1))
        if (GetTickCount64() >= end) return false;
    return true;
}

bool TFakeDataSink::WaitReleased(DWORD timeoutMs) const {
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; refs_ != 0;) {
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return true;
}

std::set<DWORD> TFakeDataSink::ReleasingThreads() const {
    std::lock_guard<std::mutex> lock(guard_);
    return releasing_;
}

std::set<DWORD> TFakeDataSink::CallingThreads() const {
    std::lock_guard<std::mutex> lock(guard_);
    return calling_;
}

std::vector<TCallback> TFakeDataSink::Calls() const {
    std::lock_guard<std::mutex> lock(guard_);
    return calls;
}

std::size_t TFakeDataSink::Count(TCallbackKind kind) const {
    std::size_t n = 0;
    for (const TCallback& c : calls)
        if (c.kind == kind) ++n;
    return n;
}

}  // namespace tw::opc::test
