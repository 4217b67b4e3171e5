// Where a client's sinks are let go of: each reference in the apartment that holds it, and never
// where a hung client could stall the gateway (releasing a proxy calls its client).
//
// The main thread holds a proxy of its own apartment for every advised sink (the connection points'
// references). When a client is cut off, those references go to its delivery thread, which gives
// them back once the client has answered a call (TMainThreadRefs); the main thread then releases
// them on a posted message (ReleaseGivenBack). A hung client's are never given back.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <vector>

namespace tw::opc {

// References of the main thread's apartment, held for it by another owner. Letting go of the
// holder (its destructor, or an assignment) gives them back: the main thread releases them soon.
class TMainThreadRefs {
public:
    TMainThreadRefs() = default;
    explicit TMainThreadRefs(std::vector<IUnknown*> refs);
    TMainThreadRefs(TMainThreadRefs&& other) noexcept;
    TMainThreadRefs& operator=(TMainThreadRefs&& other) noexcept;
    TMainThreadRefs(const TMainThreadRefs&) = delete;
    TMainThreadRefs& operator=(const TMainThreadRefs&) = delete;
    ~TMainThreadRefs() { GiveBack(); }

    bool Empty() const { return refs_.empty(); }

private:
    void GiveBack() noexcept;
    std::vector<IUnknown*> refs_;
};

// Main thread (on the watch window's message, and at the end): releases what was given back; at
// most waitMs is spent waiting for references still held elsewhere. False when some still are.
bool ReleaseGivenBack(DWORD waitMs = 0);

// The calling thread's own reference to a sink marshaled for another apartment that never
// unmarshaled it: it is unmarshaled here and released. (CoReleaseMarshalData of a proxy's marshaling
// does not give its references back to the client under Wine, whose sink then lives for as long as
// the gateway runs.)
void DropMarshaled(IStream* marshaled);

}  // namespace tw::opc
