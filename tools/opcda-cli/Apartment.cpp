#include "Apartment.h"

namespace tw::opcda_cli {

bool PumpUntil(const std::function<bool()>& done, double seconds) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    while (!done()) {
        if (seconds >= 0.0 && GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return true;
}

TSinkLink::TSinkLink(IUnknown* object, REFIID iid, IUnknown* sink) {
    IConnectionPointContainer* container = nullptr;
    hr_ = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(hr_)) {
        hr_ = container->FindConnectionPoint(iid, &point_);
        container->Release();
    }
    if (SUCCEEDED(hr_)) hr_ = point_->Advise(sink, &cookie_);
}

TSinkLink::~TSinkLink() {
    if (!point_) return;
    if (SUCCEEDED(hr_)) point_->Unadvise(cookie_);
    point_->Release();
}

}  // namespace tw::opcda_cli
