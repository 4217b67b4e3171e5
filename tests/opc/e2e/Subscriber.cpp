// opc-subscriber: see SubscriberReport.h.
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "OPCCOMN.h"
#include "OPCDA.h"
#include "SubscriberReport.h"
#include "Tarnowick.h"
#include "opc/DataChangeSink.h"

namespace {

using tw::opc::test::TLoadStamps;

struct TOptions {
    std::wstring report;
    std::vector<std::wstring> items;
    int groups = 1;
    DWORD rate = 1000;
    DWORD durationMs = 10000;
    DWORD stallAfterMs = 0;
    DWORD stallMs = 0;
    bool fail = false;
    bool shutdownSink = false;
    bool disconnectFirstSink = false;
    std::wstring stamps;
};

// Latencies up to a minute, in 1 ms buckets.
constexpr std::size_t kLatencyBuckets = 60001;

class TSink final : public tw::opc::TDataChangeSink {
public:
    TSink(const TOptions& options, const TLoadStamps* stamps) : options_(options), stamps_(stamps) {
        QueryPerformanceFrequency(&frequency_);
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on main's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*,
                                           VARIANT* pvValues, WORD*, FILETIME*, HRESULT*) override {
        if (dwTransid != 0) return S_OK;  // a refresh, not the subscription
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const ULONGLONG tick = GetTickCount64();
        if (!firstChange_) firstChange_ = tick;
        if (stamps_ && (!stamps_->measureFrom || now.QuadPart < stamps_->measureFrom ||
                        now.QuadPart > stamps_->measureUntil))
            return Answer();
        if (lastChange_) maxGapMs_ = std::max(maxGapMs_, tick - lastChange_);
        lastChange_ = tick;
        ++dataChanges_;
        itemUpdates_ += dwCount;
        for (DWORD i = 0; stamps_ && pvValues && i < dwCount; ++i) {
            if (pvValues[i].vt != VT_I4 && pvValues[i].vt != VT_UI2) continue;
            const auto value = static_cast<uint16_t>(pvValues[i].vt == VT_I4 ? pvValues[i].lVal : pvValues[i].uiVal);
            const LONGLONG setAt = stamps_->setAt[value];
            if (!setAt || setAt > now.QuadPart) continue;
            const auto ms = static_cast<std::size_t>((now.QuadPart - setAt) * 1000 / frequency_.QuadPart);
            ++latency_[std::min(ms, kLatencyBuckets - 1)];
        }
        return Answer();
    }
    ULONGLONG FirstChange() const { return firstChange_; }
    void Write(FILE* out) const {
        std::fprintf(out, "data_changes: %llu\nitem_updates: %llu\nmax_gap_ms: %llu\n", dataChanges_, itemUpdates_,
                     maxGapMs_);
        unsigned long long samples = 0;
        for (unsigned long long n : latency_) samples += n;
        std::fprintf(out, "latency_samples: %llu\nlatency_hist_ms:", samples);
        for (std::size_t ms = 0; ms < latency_.size(); ++ms)
            if (latency_[ms]) std::fprintf(out, " %zu:%llu", ms, latency_[ms]);
        std::fprintf(out, "\n");
    }

private:
    HRESULT Answer() const { return options_.fail ? E_FAIL : S_OK; }

    const TOptions& options_;
    const TLoadStamps* stamps_;
    LARGE_INTEGER frequency_{};
    ULONGLONG firstChange_ = 0, lastChange_ = 0, maxGapMs_ = 0;
    unsigned long long dataChanges_ = 0, itemUpdates_ = 0;
    std::vector<unsigned long long> latency_ = std::vector<unsigned long long>(kLatencyBuckets, 0);
};

// Ends the subscription when the server asks; the report says it was asked.
class TShutdownSink final : public IOPCShutdown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOPCShutdown)) return E_NOINTERFACE;
        *ppv = static_cast<IOPCShutdown*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on main's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) override {
        asked = true;
        return S_OK;
    }
    bool asked = false;
};

std::vector<std::wstring> Split(const std::wstring& list) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = list.find(L',', start);
        const std::wstring part = list.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        if (!part.empty()) parts.push_back(part);
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return parts;
}

bool Parse(int argc, wchar_t** argv, TOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == L"--fail") {
            o.fail = true;
        } else if (a == L"--shutdown-sink") {
            o.shutdownSink = true;
        } else if (a == L"--disconnect-first-sink") {
            o.disconnectFirstSink = true;
        } else if (hasValue && a == L"--report") {
            o.report = argv[++i];
        } else if (hasValue && a == L"--items") {
            o.items = Split(argv[++i]);
        } else if (hasValue && a == L"--stamps") {
            o.stamps = argv[++i];
        } else if (hasValue && (a == L"--groups" || a == L"--rate" || a == L"--duration" || a == L"--stall-after" ||
                                a == L"--stall")) {
            const auto n = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
            if (a == L"--groups") o.groups = static_cast<int>(n);
            if (a == L"--rate") o.rate = n;
            if (a == L"--duration") o.durationMs = n;
            if (a == L"--stall-after") o.stallAfterMs = n;
            if (a == L"--stall") o.stallMs = n;
        } else {
            return false;
        }
    }
    return !o.report.empty() && !o.items.empty() && o.groups > 0;
}

void HandleMessages(DWORD waitMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

struct TGroup {
    IOPCItemMgt* mgt = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
};

// An active group with every item, advised to sink; false on any failure.
bool Subscribe(IOPCServer* server, int index, const TOptions& o, IUnknown* sink, TGroup& g) {
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    const std::wstring name = L"S" + std::to_wstring(index);
    if (FAILED(server->AddGroup(name.c_str(), TRUE, o.rate, static_cast<OPCHANDLE>(index + 1), nullptr, nullptr, 0x409,
                                &handle, &revised, IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(&g.mgt))))
        return false;
    std::vector<OPCITEMDEF> defs(o.items.size());
    for (std::size_t i = 0; i < defs.size(); ++i) {
        defs[i] = OPCITEMDEF{};
        defs[i].szItemID = const_cast<LPWSTR>(o.items[i].c_str());
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT added = g.mgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    if (added != S_OK) return false;
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(g.mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)))) return false;
    const HRESULT found = cpc->FindConnectionPoint(IID_IOPCDataCallback, &g.point);
    cpc->Release();
    return SUCCEEDED(found) && SUCCEEDED(g.point->Advise(sink, &g.cookie));
}

void AppendLine(const std::wstring& path, const std::string& line) {
    if (FILE* f = _wfopen(path.c_str(), L"a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    TOptions o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: opc-subscriber --report FILE --items A,B [--groups N] [--rate MS] "
                             "[--duration MS] [--stall-after MS --stall MS] [--fail] [--shutdown-sink] "
                             "[--disconnect-first-sink] [--stamps NAME]\n");
        return 2;
    }
    const TLoadStamps* stamps = nullptr;
    if (!o.stamps.empty()) {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, o.stamps.c_str());
        if (mapping) stamps = static_cast<const TLoadStamps*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
        if (!stamps) {
            AppendLine(o.report, "error: no stamps block");
            return 3;
        }
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 4;
    int rc = 0;
    {
        TSink sink(o, stamps);
        TSink first(o, nullptr);  // the first group's, with --disconnect-first-sink
        TShutdownSink shutdown;
        IOPCServer* server = nullptr;
        const HRESULT created = CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                                 reinterpret_cast<void**>(&server));
        std::vector<TGroup> groups(static_cast<std::size_t>(o.groups));
        bool subscribed = SUCCEEDED(created);
        for (int i = 0; subscribed && i < o.groups; ++i)
            subscribed = Subscribe(server, i, o, i == 0 && o.disconnectFirstSink ? &first : &sink,
                                   groups[static_cast<std::size_t>(i)]);
        IConnectionPoint* shutdownPoint = nullptr;
        DWORD shutdownCookie = 0;
        if (subscribed && o.shutdownSink) {
            IConnectionPointContainer* cpc = nullptr;
            subscribed = SUCCEEDED(server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc))) &&
                         SUCCEEDED(cpc->FindConnectionPoint(IID_IOPCShutdown, &shutdownPoint)) &&
                         SUCCEEDED(shutdownPoint->Advise(&shutdown, &shutdownCookie));
            if (cpc) cpc->Release();
        }
        if (!subscribed) {
            char text[64];
            std::snprintf(text, sizeof text, "error: subscribing failed (0x%08lX)", static_cast<unsigned long>(created));
            AppendLine(o.report, text);
            rc = 1;
        } else {
            AppendLine(o.report, tw::opc::test::kSubscribedLine);
            const ULONGLONG start = GetTickCount64();
            bool stalled = o.stallMs == 0;
            bool disconnected = !o.disconnectFirstSink;
            while (!shutdown.asked) {
                if (stamps) {
                    LARGE_INTEGER now;
                    QueryPerformanceCounter(&now);
                    if (stamps->measureUntil && now.QuadPart > stamps->measureUntil) break;
                } else if (GetTickCount64() - start >= o.durationMs) {
                    break;
                }
                if (!stalled && sink.FirstChange() && GetTickCount64() >= sink.FirstChange() + o.stallAfterMs) {
                    stalled = true;
                    Sleep(o.stallMs);  // no messages handled: callbacks to this process wait
                }
                if (!disconnected && first.FirstChange()) {
                    CoDisconnectObject(&first, 0);  // still advised: the server's calls to it fail
                    disconnected = true;
                }
                HandleMessages(20);
            }
        }
        if (shutdownPoint) {
            if (shutdownCookie) shutdownPoint->Unadvise(shutdownCookie);
            shutdownPoint->Release();
        }
        CoDisconnectObject(&shutdown, 0);
        if (shutdown.asked) AppendLine(o.report, "shutdown_request");
        for (TGroup& g : groups) {
            if (g.point) {
                if (g.cookie) g.point->Unadvise(g.cookie);
                g.point->Release();
            }
            if (g.mgt) g.mgt->Release();
        }
        if (server) server->Release();
        CoDisconnectObject(&sink, 0);
        CoDisconnectObject(&first, 0);
        if (subscribed) {
            if (FILE* f = _wfopen(o.report.c_str(), L"a")) {
                sink.Write(f);
                std::fclose(f);
            }
        }
    }
    CoUninitialize();
    return rc;
}
