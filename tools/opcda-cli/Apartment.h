// Callbacks reach this single-threaded apartment as window messages, so waiting for them means handling
// those messages; and a sink's link to an object's connection point, held for a scope.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>

namespace tw::opcda_cli {

// Handles the apartment's messages until done() or the seconds are over (seconds < 0: until done()).
// False when the time ran out first.
bool PumpUntil(const std::function<bool()>& done, double seconds);

// Advises sink on the object's connection point for iid; unadvises when it goes.
class TSinkLink {
public:
    TSinkLink(IUnknown* object, REFIID iid, IUnknown* sink);
    ~TSinkLink();
    TSinkLink(const TSinkLink&) = delete;
    TSinkLink& operator=(const TSinkLink&) = delete;
    HRESULT Result() const { return hr_; }

private:
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    HRESULT hr_;
};

}  // namespace tw::opcda_cli
