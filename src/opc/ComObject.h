// The one COM object base: reference counting and a QueryInterface table. Objects are apartment
// threaded, but the count is interlocked anyway because proxies may be released from RPC threads.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <initializer_list>

namespace tw::opc {

// Objects of this base alive in the process: the tests' count of what the server keeps.
inline volatile LONG liveComObjects = 0;
inline LONG LiveComObjects() { return liveComObjects; }

struct TInterfaceEntry {
    const IID& iid;
    void* itf;
};

template <class... Interfaces>
class TComObject : public Interfaces... {
public:
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = FindInterface(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG r = InterlockedDecrement(&refs_);
        if (r == 0) {
            refs_ = 1;  // a destructor that hands itself out and releases again must not re-enter
            delete this;
        }
        return static_cast<ULONG>(r);
    }
    ULONG RefCount() const { return static_cast<ULONG>(refs_); }

protected:
    TComObject() { InterlockedIncrement(&liveComObjects); }
    virtual ~TComObject() { InterlockedDecrement(&liveComObjects); }

    // The object's table; the first entry also answers IUnknown, so identity is stable.
    virtual void* FindInterface(REFIID riid) = 0;
    static void* LookUp(REFIID riid, std::initializer_list<TInterfaceEntry> table) {
        if (IsEqualIID(riid, IID_IUnknown)) return table.begin()->itf;
        for (const auto& e : table)
            if (IsEqualIID(riid, e.iid)) return e.itf;
        return nullptr;
    }

private:
    volatile LONG refs_ = 0;
};

}  // namespace tw::opc
