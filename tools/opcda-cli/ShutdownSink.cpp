#include "ShutdownSink.h"

#include <ocidl.h>

#include <cstdio>
#include <cstdlib>

#include "Apartment.h"
#include "OPCCOMN.h"
#include "opc/ComText.h"

namespace tw::opcda_cli {
namespace {

constexpr int kDefaultWaitSeconds = 600;

// Lives on the stack of the waiting thread; the server holds it only while it is advised.
class TSink final : public IOPCShutdown {
public:
    explicit TSink(bool printNow) : printNow_(printNow) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOPCShutdown)) return E_NOINTERFACE;
        *ppv = static_cast<IOPCShutdown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override {
        reason = opc::Narrow(szReason);
        received = true;
        if (printNow_) {
            std::printf("shutdown request: %s\n", reason.c_str());
            std::fflush(stdout);
        }
        return S_OK;
    }

    bool received = false;
    std::string reason;

private:
    bool printNow_;
    volatile LONG refs_ = 1;
};

}  // namespace

bool ParseShutdownSinkOption(const std::string& word, int* seconds) {
    const std::string name = "--shutdown-sink";
    if (word == name) {
        *seconds = kDefaultWaitSeconds;
        return true;
    }
    if (word.rfind(name + "=", 0) != 0) return false;
    *seconds = std::atoi(word.c_str() + name.size() + 1);
    return *seconds >= 0;
}

namespace {

// The server object's IOPCShutdown point (one reference), or null with the reason in hr.
IConnectionPoint* ShutdownPoint(IOPCServer* server, HRESULT& hr) {
    IConnectionPointContainer* cpc = nullptr;
    IConnectionPoint* cp = nullptr;
    hr = server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
    if (SUCCEEDED(hr)) {
        hr = cpc->FindConnectionPoint(IID_IOPCShutdown, &cp);
        cpc->Release();
    }
    return SUCCEEDED(hr) ? cp : nullptr;
}

}  // namespace

TResult AwaitShutdownRequest(IOPCServer* server, int seconds, bool printNow) {
    TResult r;
    r.command = "shutdown-sink";
    TSink sink(printNow);
    DWORD cookie = 0;
    // The point is held only while advising and unadvising, as a client that lets go of
    // everything but the server object while it waits.
    IConnectionPoint* cp = ShutdownPoint(server, r.hr);
    if (cp) {
        r.hr = cp->Advise(&sink, &cookie);
        cp->Release();
    }
    if (FAILED(r.hr)) return r;
    if (printNow) {
        std::printf("waiting for a shutdown request\n");
        std::fflush(stdout);
    }
    PumpUntil([&] { return sink.received; }, seconds);
    // The server may be on its way out: the answer does not matter.
    HRESULT ignored;
    if ((cp = ShutdownPoint(server, ignored))) {
        cp->Unadvise(cookie);
        cp->Release();
    }
    if (!sink.received) {
        r.hr = E_ABORT;
        r.hrText = "no shutdown request arrived";
    }
    r.fields.emplace_back("reason", sink.reason);
    return r;
}

}  // namespace tw::opcda_cli
