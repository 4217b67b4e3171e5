#include "acquisition/PollingSwitch.h"

namespace tw {

TPollingSwitch PollingSwitch;

TPollingSwitch& TPollingSwitch::operator=(bool on) {
    On.store(on);
    if (on) {
        std::lock_guard<std::mutex> lock(Guard);
        for (TSwitchListener* l = First; l; l = l->Next) l->Worker.Wake();
    }
    return *this;
}

TSwitchListener::TSwitchListener(TPollingSwitch& toggle, TBMDExecuteThread& worker) : Switch(toggle), Worker(worker) {
    std::lock_guard<std::mutex> lock(Switch.Guard);
    Next = Switch.First;
    if (Next) Next->Prev = this;
    Switch.First = this;
}

TSwitchListener::~TSwitchListener() {
    std::lock_guard<std::mutex> lock(Switch.Guard);
    (Prev ? Prev->Next : Switch.First) = Next;
    if (Next) Next->Prev = Prev;
}

}  // namespace tw
