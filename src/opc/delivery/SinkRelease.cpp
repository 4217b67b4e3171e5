#include "opc/delivery/SinkRelease.h"

#include <atomic>
#include <mutex>
#include <new>
#include <utility>

#include "opc/delivery/ClientWatch.h"

namespace tw::opc {
namespace {

struct TGivenBack {
    std::mutex guard;
    std::vector<IUnknown*> refs;  // given back, for the main thread to release
    std::atomic<int> heldElsewhere{0};  // holders of references not given back yet
    HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

TGivenBack& GivenBack() {
    static auto* given = new TGivenBack;  // never destroyed: threads may give back at the process's end
    return *given;
}

}  // namespace

TMainThreadRefs::TMainThreadRefs(std::vector<IUnknown*> refs) : refs_(std::move(refs)) {
    if (!refs_.empty()) ++GivenBack().heldElsewhere;
}

TMainThreadRefs::TMainThreadRefs(TMainThreadRefs&& other) noexcept : refs_(std::move(other.refs_)) {
    other.refs_.clear();
}

TMainThreadRefs& TMainThreadRefs::operator=(TMainThreadRefs&& other) noexcept {
    if (this != &other) {
        GiveBack();
        refs_ = std::move(other.refs_);
        other.refs_.clear();
    }
    return *this;
}

void TMainThreadRefs::GiveBack() noexcept {
    if (refs_.empty()) return;
    TGivenBack& given = GivenBack();
    {
        std::lock_guard<std::mutex> lock(given.guard);
        try {
            given.refs.insert(given.refs.end(), refs_.begin(), refs_.end());
        } catch (const std::bad_alloc&) {
            // Kept for good, as a hung client's are.
        }
    }
    refs_.clear();
    --given.heldElsewhere;
    if (given.arrived) SetEvent(given.arrived);
    ReportRefsGivenBack();
}

bool ReleaseGivenBack(DWORD waitMs) {
    TGivenBack& given = GivenBack();
    const ULONGLONG end = GetTickCount64() + waitMs;
    for (;;) {
        // A holder gives its references back before it stops counting.
        const bool allBack = given.heldElsewhere == 0;
        std::vector<IUnknown*> refs;
        {
            std::lock_guard<std::mutex> lock(given.guard);
            refs.swap(given.refs);
        }
        for (IUnknown* ref : refs) ref->Release();
        if (allBack) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end || !given.arrived) return false;
        WaitForSingleObject(given.arrived, static_cast<DWORD>(end - now));
    }
}

void DropMarshaled(IStream* marshaled) {
    IUnknown* sink = nullptr;
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(marshaled, IID_IUnknown, reinterpret_cast<void**>(&sink))) && sink)
        sink->Release();
}

}  // namespace tw::opc
