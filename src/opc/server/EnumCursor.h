// Cursor rules and the COM plumbing shared by the strings and the IEnumUnknown enumerators.
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>

#include "opc/ComObject.h"
#include "opc/OpcError.h"

namespace tw::opc {

class TEnumCursor {
public:
    // deliver(index, slot) puts element index into slot and returns false when it cannot;
    // whenFewerThanOne is what a celt below 1 answers.
    template <class Slot, class Deliver>
    HRESULT Next(ULONG celt, Slot* rgelt, ULONG* pceltFetched, size_t count, HRESULT whenFewerThanOne,
                 Deliver deliver) {
        if (celt < 1) {
            if (pceltFetched) *pceltFetched = 0;  // a success: the count must say what was delivered
            return whenFewerThanOne;
        }
        if (!pceltFetched || !rgelt) return E_INVALIDARG;
        ULONG fetched = 0;
        HRESULT hr = S_OK;
        for (ULONG i = 0; i < celt; ++i) {
            if (position_ >= count) {
                hr = ENUM_RAN_OUT;
                break;
            }
            if (!deliver(position_, rgelt[i])) {
                hr = E_OUTOFMEMORY;
                break;
            }
            ++position_;
            ++fetched;
        }
        *pceltFetched = fetched;
        return hr;
    }
    HRESULT Skip(ULONG celt, size_t count) {
        if (position_ + celt <= count) {
            position_ += celt;
            return S_OK;
        }
        position_ = count;
        return S_FALSE;
    }
    void Reset() { position_ = 0; }
    std::size_t Position() const { return position_; }

private:
    size_t position_ = 0;
};

// Skip, Reset, Clone and error-info support over a snapshot of elements. Derived provides
// Elements() and a static Create(elements, Itf**); Iid is the enumerator interface's IID.
template <class Itf, class Derived, const IID& Iid>
class TSnapshotEnumerator : public TComObject<Itf, ISupportErrorInfo> {
public:
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override { return cursor_.Skip(celt, Self().Elements().size()); }
    HRESULT STDMETHODCALLTYPE Reset() override {
        cursor_.Reset();
        return S_OK;
    }
    // The clone starts at the first element.
    HRESULT STDMETHODCALLTYPE Clone(Itf** ppenum) override {
        if (!ppenum) return E_INVALIDARG;
        *ppenum = nullptr;
        return SUCCEEDED(Derived::Create(Self().Elements(), ppenum)) ? S_OK : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, Iid) ? S_OK : S_FALSE;
    }

protected:
    void* FindInterface(REFIID riid) override {
        return this->LookUp(riid, {{Iid, static_cast<Itf*>(this)},
                                   {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)}});
    }
    // New enumerator in *out with one reference; E_OUTOFMEMORY when it cannot be made.
    template <class Elements>
    static HRESULT Make(const Elements& elements, Itf** out) {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        Derived* e = nullptr;
        try {
            e = new Derived(elements);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return e->QueryInterface(Iid, reinterpret_cast<void**>(out));
    }

    TEnumCursor cursor_;

private:
    Derived& Self() { return static_cast<Derived&>(*this); }
};

}  // namespace tw::opc
