#include "opc/server/ConnectionPoint.h"

#include <new>

#include "opc/server/EnumCursor.h"

namespace tw::opc {
namespace {

// The standard enumerators answer S_FALSE when the elements run out; a single element may be asked
// for without a count.
template <class Slot, class Deliver>
HRESULT StandardNext(TEnumCursor& cursor, ULONG celt, Slot* rgelt, ULONG* pceltFetched, size_t count,
                     Deliver deliver) {
    ULONG fetched = 0;
    if (!pceltFetched && celt != 1) return E_POINTER;
    const HRESULT hr = cursor.Next(celt, rgelt, &fetched, count, S_FALSE, deliver);
    if (pceltFetched) *pceltFetched = fetched;
    return hr == ENUM_RAN_OUT ? S_FALSE : hr;
}

class TEnumConnectionPoints final
    : public TSnapshotEnumerator<IEnumConnectionPoints, TEnumConnectionPoints, IID_IEnumConnectionPoints> {
public:
    static HRESULT Create(const std::vector<IConnectionPoint*>& points, IEnumConnectionPoints** out) {
        return Make(points, out);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, IConnectionPoint** rgelt, ULONG* pceltFetched) override {
        return StandardNext(cursor_, celt, rgelt, pceltFetched, points_.size(), [this](size_t i, IConnectionPoint*& s) {
            (s = points_[i])->AddRef();
            return true;
        });
    }
    const std::vector<IConnectionPoint*>& Elements() const { return points_; }

private:
    friend class TSnapshotEnumerator<IEnumConnectionPoints, TEnumConnectionPoints, IID_IEnumConnectionPoints>;
    explicit TEnumConnectionPoints(const std::vector<IConnectionPoint*>& points) : points_(points) {
        for (IConnectionPoint* p : points_) p->AddRef();
    }
    ~TEnumConnectionPoints() override {
        for (IConnectionPoint* p : points_) p->Release();
    }
    std::vector<IConnectionPoint*> points_;
};

class TEnumConnections final : public TSnapshotEnumerator<IEnumConnections, TEnumConnections, IID_IEnumConnections> {
public:
    static HRESULT Create(const std::vector<CONNECTDATA>& connections, IEnumConnections** out) {
        return Make(connections, out);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, CONNECTDATA* rgelt, ULONG* pceltFetched) override {
        return StandardNext(cursor_, celt, rgelt, pceltFetched, connections_.size(), [this](size_t i, CONNECTDATA& s) {
            s = connections_[i];
            s.pUnk->AddRef();
            return true;
        });
    }
    const std::vector<CONNECTDATA>& Elements() const { return connections_; }

private:
    friend class TSnapshotEnumerator<IEnumConnections, TEnumConnections, IID_IEnumConnections>;
    explicit TEnumConnections(const std::vector<CONNECTDATA>& connections) : connections_(connections) {
        for (CONNECTDATA& c : connections_) c.pUnk->AddRef();
    }
    ~TEnumConnections() override {
        for (CONNECTDATA& c : connections_) c.pUnk->Release();
    }
    std::vector<CONNECTDATA> connections_;
};

}  // namespace

TConnectionPoint::TConnectionPoint(IConnectionPointContainer& container, REFIID iid, size_t maxSinks,
                                   TSinkHandler handler)
    : container_(container), iid_(iid), maxSinks_(maxSinks), handler_(std::move(handler)) {}

TConnectionPoint::~TConnectionPoint() {
    // The owner is going away with its points: the handler is not told.
    for (IUnknown*& sink : sinks_) {
        if (!sink) continue;
        IUnknown* s = sink;
        sink = nullptr;
        s->Release();
    }
}

HRESULT TConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT TConnectionPoint::GetConnectionInterface(IID* pIID) {
    if (!pIID) return E_POINTER;
    *pIID = iid_;
    return S_OK;
}

HRESULT TConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (!ppCPC) return E_POINTER;
    container_.AddRef();
    *ppCPC = &container_;
    return S_OK;
}

HRESULT TConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (pdwCookie) *pdwCookie = 0;
    if (!pUnkSink || !pdwCookie) return E_POINTER;
    size_t entry = 0;
    while (entry < sinks_.size() && sinks_[entry]) ++entry;
    if (entry >= maxSinks_) return CONNECT_E_ADVISELIMIT;
    if (entry == sinks_.size()) {
        try {
            sinks_.push_back(nullptr);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    pUnkSink->AddRef();
    sinks_[entry] = pUnkSink;
    *pdwCookie = static_cast<DWORD>(entry + 1);
    if (handler_) {
        // The client may let go of everything while the handler calls out, and may unadvise this very
        // sink (its cookie can be guessed): then what the handler set up for it is undone at once.
        container_.AddRef();
        pUnkSink->AddRef();
        handler_(pUnkSink, true);
        if (sinks_[entry] != pUnkSink) handler_(pUnkSink, false);
        pUnkSink->Release();
        container_.Release();
    }
    return S_OK;
}

HRESULT TConnectionPoint::Unadvise(DWORD dwCookie) {
    if (dwCookie == 0 || dwCookie > sinks_.size() || !sinks_[dwCookie - 1]) return CONNECT_E_NOCONNECTION;
    IUnknown* sink = sinks_[dwCookie - 1];
    if (handler_) handler_(sink, false);
    sinks_[dwCookie - 1] = nullptr;
    sink->Release();  // may call out of the apartment: the entry is already free
    return S_OK;
}

HRESULT TConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        std::vector<CONNECTDATA> connections;
        for (size_t i = 0; i < sinks_.size(); ++i)
            if (sinks_[i]) connections.push_back({sinks_[i], static_cast<DWORD>(i + 1)});
        return TEnumConnections::Create(connections, ppEnum);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void TConnectionPoint::TakeSinks(std::vector<IUnknown*>& out) {
    for (IUnknown*& sink : sinks_) {
        if (!sink) continue;
        out.push_back(sink);
        sink = nullptr;
    }
}

TConnectionPoint& TConnectionPoints::Add(REFIID iid, size_t maxSinks, TSinkHandler handler) {
    points_.reserve(points_.size() + 1);
    points_.push_back(std::make_unique<TConnectionPoint>(container_, iid, maxSinks, std::move(handler)));
    return *points_.back();
}

void TConnectionPoints::Disconnect() {
    for (auto& p : points_) CoDisconnectObject(static_cast<IConnectionPoint*>(p.get()), 0);
}

void TConnectionPoints::TakeSinks(std::vector<IUnknown*>& out) {
    for (auto& p : points_) p->TakeSinks(out);
}

HRESULT TConnectionPoints::Enumerate(IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        std::vector<IConnectionPoint*> points;
        for (auto& p : points_) points.push_back(p.get());
        return SUCCEEDED(TEnumConnectionPoints::Create(points, ppEnum)) ? S_OK : E_UNEXPECTED;
    } catch (const std::bad_alloc&) {
        return E_UNEXPECTED;
    }
}

HRESULT TConnectionPoints::Find(REFIID riid, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    for (auto& p : points_) {
        if (!IsEqualIID(riid, p->Iid())) continue;
        p->AddRef();
        *ppCP = p.get();
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

}  // namespace tw::opc
