// An in-process IOPCDataCallback that records every callback and can call back into the server from
// inside one.
#pragma once

#include <functional>
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
    std::vector<WORD> qualities;
    std::vector<HRESULT> errors;
    bool stampsSet = true;  // every timestamp is nonzero
};

class TFakeDataSink final : public IOPCDataCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack

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
    // Runs after a callback has been recorded, still inside it.
    std::function<void(const TCallback&)> inside;
    ULONG refs() const { return refs_; }
    std::size_t Count(TCallbackKind kind) const;

private:
    void Record(TCallback call);
    ULONG refs_ = 0;
};

}  // namespace tw::opc::test
