// Connection points of an object that the object owns: the server object's IOPCShutdown point (one
// sink) and a group's IOPCDataCallback point (any number). A container and its points share the
// owner's lifetime; a point has its own identity, so a client may hold the point alone.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>  // CONNECT_E_* results

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "opc/server/OwnedInterface.h"

namespace tw::opc {

// Told of a sink with connected = true as it is stored, and with false before it is released. The
// handler may call out (a threaded sink is linked while the client is inside its Advise): the
// entry is taken before it is called, so an Advise arriving meanwhile gets another one.
using TSinkHandler = std::function<void(IUnknown* sink, bool connected)>;

// A point that takes as many sinks as clients advise.
inline constexpr size_t kAnyNumberOfSinks = SIZE_MAX;

class TConnectionPoint final : public IConnectionPoint {
public:
    // container: the object that serves IConnectionPointContainer; the point counts its references there.
    TConnectionPoint(IConnectionPointContainer& container, REFIID iid, size_t maxSinks, TSinkHandler handler);
    ~TConnectionPoint();  // releases the sinks still connected
    TConnectionPoint(const TConnectionPoint&) = delete;
    TConnectionPoint& operator=(const TConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    // The cookie is the sink's entry index plus 1; entries freed by Unadvise are reused first.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    const IID& Iid() const { return iid_; }
    // Lets go of every sink without releasing it or telling the handler: the sinks go to out. The
    // owner is cutting its client off and has them released where a hung client cannot stall it.
    void TakeSinks(std::vector<IUnknown*>& out);

private:
    IConnectionPointContainer& container_;
    IID iid_;
    size_t maxSinks_;
    std::vector<IUnknown*> sinks_;  // null entries are free
    TSinkHandler handler_;
};

// The points of one container and what IConnectionPointContainer answers over them.
class TConnectionPoints {
public:
    explicit TConnectionPoints(IConnectionPointContainer& container) : container_(container) {}

    // Throws std::bad_alloc.
    TConnectionPoint& Add(REFIID iid, size_t maxSinks, TSinkHandler handler);
    // Cuts off clients that hold a point: each one keeps the owner alive through it.
    void Disconnect();
    void TakeSinks(std::vector<IUnknown*>& out);
    HRESULT Enumerate(IEnumConnectionPoints** ppEnum);
    HRESULT Find(REFIID riid, IConnectionPoint** ppCP);

private:
    IConnectionPointContainer& container_;
    std::vector<std::unique_ptr<TConnectionPoint>> points_;
};

// A container served by a part of its owner (the server object answers IConnectionPointContainer
// through it).
class TConnectionPointContainer final : public TOwnedInterface<IConnectionPointContainer> {
public:
    explicit TConnectionPointContainer(IUnknown* owner) : TOwnedInterface(owner) {}

    TConnectionPoint& AddPoint(REFIID iid, size_t maxSinks, TSinkHandler handler) {
        return points_.Add(iid, maxSinks, std::move(handler));
    }
    void DisconnectPoints() { points_.Disconnect(); }
    void TakeSinks(std::vector<IUnknown*>& out) { points_.TakeSinks(out); }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
        return points_.Enumerate(ppEnum);
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
        return points_.Find(riid, ppCP);
    }

private:
    TConnectionPoints points_{*this};
};

}  // namespace tw::opc
