// Class factories registered for multiple use: every client of DA2 gets a new server object in this
// one process.
#pragma once

#include "opc/ComObject.h"
#include "opc/server/ServIMPL.h"

namespace tw::opc {

// Counts the server objects made through the factory and the LockServer locks; runs onZero when
// the count falls back to 0.
class TServerLifetime final : public IServerLifetime {
public:
    explicit TServerLifetime(void (*onZero)()) : onZero_(onZero) {}
    void ObjectCreated() override { ++count_; }
    void ObjectDestroyed() override { Drop(); }
    void Lock() { ++count_; }
    void Unlock() { Drop(); }
    long Count() const { return count_; }

private:
    void Drop() {
        if (count_ > 0 && --count_ == 0 && onZero_) onZero_();
    }
    long count_ = 0;
    void (*onZero_)();
};

// creates == false: a class that clients never create themselves (groups, enumerators); its factory
// refuses with CLASS_E_CLASSNOTAVAILABLE.
class TClassFactory final : public TComObject<IClassFactory> {
public:
    static TClassFactory* Create(TServerLifetime& lifetime, bool createsServer);

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    TClassFactory(TServerLifetime& lifetime, bool createsServer) : lifetime_(lifetime), createsServer_(createsServer) {}
    void* FindInterface(REFIID riid) override;

    TServerLifetime& lifetime_;
    bool createsServer_;
};

}  // namespace tw::opc
