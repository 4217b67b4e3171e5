// Connection points of an object that the object owns: a container and its points share the
// owner's lifetime (a point has its own identity), and each point holds a fixed number of sinks.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>  // CONNECT_E_* results

#include <functional>
#include <memory>
#include <vector>

#include "opc/server/OwnedInterface.h"

namespace tw::opc {

// Told of a sink with connected = true before it is stored, and with false before it is released.
using TSinkHandler = std::function<void(IUnknown* sink, bool connected)>;

class TConnectionPoint final : public IConnectionPoint {
public:
    TConnectionPoint(IConnectionPointContainer& container, REFIID iid, size_t maxSinks, TSinkHandler handler);
    ~TConnectionPoint();  // releases the sinks still connected
    TConnectionPoint(const TConnectionPoint&) = delete;
    TConnectionPoint& operator=(const TConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    // The cookie is the sink's entry index plus 1.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    const IID& Iid() const { return iid_; }

private:
    IConnectionPointContainer& container_;
    IID iid_;
    std::vector<IUnknown*> sinks_;  // null entries are free
    TSinkHandler handler_;
};

class TConnectionPointContainer final : public TOwnedInterface<IConnectionPointContainer> {
public:
    explicit TConnectionPointContainer(IUnknown* owner) : TOwnedInterface(owner) {}

    TConnectionPoint& AddPoint(REFIID iid, size_t maxSinks, TSinkHandler handler);
    // Cuts off clients that hold a point: each one keeps the owner alive through it.
    void DisconnectPoints();

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

private:
    std::vector<std::unique_ptr<TConnectionPoint>> points_;
};

}  // namespace tw::opc
