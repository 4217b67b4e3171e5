// An interface served by a part that the server object owns: identity and lifetime stay the owner's,
// so QueryInterface from the part reaches every interface of the server object.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace tw::opc {

template <class Itf>
class TOwnedInterface : public Itf {
public:
    explicit TOwnedInterface(IUnknown* owner) : owner_(owner) {}
    TOwnedInterface(const TOwnedInterface&) = delete;
    TOwnedInterface& operator=(const TOwnedInterface&) = delete;
    virtual ~TOwnedInterface() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return owner_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

protected:
    IUnknown* owner_;
};

}  // namespace tw::opc
