// The group's connection point for IOPCDataCallback: any number of sinks, cookie = slot + 1, freed
// slots reused first. It lives inside the group and counts its references on the group.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "opc/server/EnumCursor.h"

namespace tw::opc {

// What the point tells its group.
class ISinkListener {
public:
    virtual ~ISinkListener() = default;
    virtual void SinkAdvised(IUnknown* sink) = 0;
    virtual void SinkUnadvised() = 0;
};

class TDataCallbackPoint final : public IConnectionPoint {
public:
    TDataCallbackPoint(IConnectionPointContainer& container, ISinkListener& listener)
        : container_(container), listener_(listener) {}
    ~TDataCallbackPoint();
    TDataCallbackPoint(const TDataCallbackPoint&) = delete;
    TDataCallbackPoint& operator=(const TDataCallbackPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    // Lets go of every sink without telling the group (it is being destroyed).
    void ReleaseSinks();

private:
    IConnectionPointContainer& container_;
    ISinkListener& listener_;
    std::vector<IUnknown*> sinks_;  // by slot; null when free
};

// IEnumConnectionPoints over a fixed set of points (the group has one).
class TConnectionPointEnumerator final
    : public TSnapshotEnumerator<IEnumConnectionPoints, TConnectionPointEnumerator, IID_IEnumConnectionPoints> {
public:
    static HRESULT Create(const std::vector<IConnectionPoint*>& points, IEnumConnectionPoints** out) {
        return Make(points, out);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) override;
    const std::vector<IConnectionPoint*>& Elements() const { return points_; }

private:
    friend class TSnapshotEnumerator<IEnumConnectionPoints, TConnectionPointEnumerator, IID_IEnumConnectionPoints>;
    explicit TConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points);
    ~TConnectionPointEnumerator() override;

    std::vector<IConnectionPoint*> points_;
};

}  // namespace tw::opc
