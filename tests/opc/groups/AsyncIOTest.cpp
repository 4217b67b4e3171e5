#include <gtest/gtest.h>

#include "GroupFixture.h"
#include "FakeDataSink.h"
#include "HostileObjects.h"

#include <oleauto.h>

#include <utility>

#include "opc/OpcError.h"
#include "values/DataPoints.h"

namespace tw::opc::test {
namespace {

constexpr int32_t kT1 = 0, kT2 = 1;  // tag indexes
constexpr double kNow = 45000.5;

class AsyncIO : public GroupFixture {
protected:
    void TearDown() override {
        if (group && cookie) Point(group)->Unadvise(cookie);
        GroupFixture::TearDown();
    }
    IConnectionPoint* Point(TOPCGroup* g) {
        IConnectionPoint* cp = nullptr;
        EXPECT_EQ(g->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
        cp->Release();  // the group holds it
        return cp;
    }
    void Advise() { ASSERT_EQ(Point(group)->Advise(&sink, &cookie), S_OK); }
    void Unadvise() {
        ASSERT_EQ(Point(group)->Unadvise(cookie), S_OK);
        cookie = 0;
    }
    IOPCAsyncIO2* Async() { return As<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2); }
    void Passes(int n) {
        for (int i = 0; i < n; ++i) group->Pulse(kNow);
    }
    static void Set(int32_t tag, uint16_t v) { DataPoints[static_cast<size_t>(tag)].Store(v, kQualityGood); }
    static uint16_t Get(int32_t tag) { return DataPoints[static_cast<size_t>(tag)].Value(); }
    HRESULT Read(std::vector<OPCHANDLE> h, DWORD transid, DWORD* cancel, std::vector<HRESULT>* errors = nullptr) {
        HRESULT* e = nullptr;
        const HRESULT hr = Async()->Read(static_cast<DWORD>(h.size()), h.data(), transid, cancel, &e);
        const auto got = Errors(e, static_cast<DWORD>(h.size()));
        if (errors) *errors = got;
        return hr;
    }
    HRESULT Write(std::vector<OPCHANDLE> h, std::vector<LONG> values, DWORD transid, DWORD* cancel,
                  std::vector<HRESULT>* errors = nullptr) {
        std::vector<VARIANT> v(values.size());
        for (size_t i = 0; i < v.size(); ++i) {
            VariantInit(&v[i]);
            v[i].vt = VT_I4;
            v[i].lVal = values[i];
        }
        HRESULT* e = nullptr;
        const HRESULT hr = Async()->Write(static_cast<DWORD>(h.size()), h.data(), v.data(), transid, cancel, &e);
        const auto got = Errors(e, static_cast<DWORD>(h.size()));
        if (errors) *errors = got;
        return hr;
    }
    HRESULT Remove(TOPCGroup* g, std::vector<OPCHANDLE> h) {
        HRESULT* e = nullptr;
        const HRESULT hr = g->RemoveItems(static_cast<DWORD>(h.size()), h.data(), &e);
        CoTaskMemFree(e);
        return hr;
    }
    HRESULT SetActive(std::vector<OPCHANDLE> h, BOOL active) {
        HRESULT* e = nullptr;
        const HRESULT hr = group->SetActiveState(static_cast<DWORD>(h.size()), h.data(), active, &e);
        CoTaskMemFree(e);
        return hr;
    }
    std::vector<TCallback> Take() {
        std::vector<TCallback> c;
        c.swap(sink.calls);
        return c;
    }

    TFakeDataSink sink;
    DWORD cookie = 0;
};

// Counts the data changes over passes with a value that changes on every pass.
int DataChangesOver(AsyncIO& t, TOPCGroup* g, TFakeDataSink& sink, int passes) {
    sink.calls.clear();
    for (int i = 0; i < passes; ++i) {
        DataPoints[kT1].Store(static_cast<uint16_t>(1000 + i), kQualityGood);
        g->Pulse(kNow);
    }
    (void)t;
    return static_cast<int>(sink.Count(TCallbackKind::DataChange));
}

TEST_F(AsyncIO, UpdateRateCountsPassesOfTenMilliseconds) {
    AddHandles(group, {{L"T1"}});
    Advise();
    // Due once every rate / 10 passes, rounded up: a rate that is a whole number of passes is due on
    // the pass that completes it, not one later.
    const std::vector<std::pair<DWORD, int>> rows = {{1000, 2}, {15, 100}, {5, 200}, {10, 200},
                                                     {20, 100}, {100, 20}, {500, 4}, {30, 66}};
    for (const auto& [rate, expected] : rows) {
        DWORD revised = 0;
        DWORD requested = rate;
        ASSERT_EQ(group->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(DataChangesOver(*this, group, sink, 200), expected) << "rate " << rate;
        EXPECT_EQ(group->Elapsed() % 10, 0u);
    }
}

TEST_F(AsyncIO, FirstDuePassReportsEveryActiveItemThenOnlyChanges) {
    Advise();  // active and advised: the first pass is due at once
    Set(kT1, 11);
    Set(kT2, 22);
    AddHandles(group, {{L"T1"}, {L"T2"}, {L"C1", VT_EMPTY, FALSE}});
    Passes(1);
    auto calls = Take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::DataChange);
    EXPECT_EQ(calls[0].transid, 0u);
    EXPECT_EQ(calls[0].group, 7u);
    EXPECT_EQ(calls[0].masterQuality, S_OK);
    EXPECT_EQ(calls[0].masterError, S_OK);
    EXPECT_EQ(calls[0].clients, (std::vector<OPCHANDLE>{100, 101}));  // the inactive item is not reported
    EXPECT_EQ(calls[0].values, (std::vector<LONG>{11, 22}));
    EXPECT_EQ(calls[0].qualities, (std::vector<WORD>{0xC0, 0xC0}));
    EXPECT_TRUE(calls[0].stampsSet);

    Passes(20);  // rate 100: two due passes, nothing changed
    EXPECT_TRUE(Take().empty());
    Set(kT2, 23);
    Passes(10);
    calls = Take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].clients, std::vector<OPCHANDLE>{101});
    EXPECT_EQ(calls[0].values, std::vector<LONG>{23});
}

TEST_F(AsyncIO, InactiveItemIsSilentAndReportsOnReactivationOnlyIfStillDifferent) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}});
    Passes(1);
    Take();
    ASSERT_EQ(SetActive({h[0]}, FALSE), S_OK);
    Set(kT1, 500);
    Passes(10);
    EXPECT_TRUE(Take().empty());
    ASSERT_EQ(SetActive({h[0]}, TRUE), S_OK);
    Passes(10);
    auto calls = Take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].clients, std::vector<OPCHANDLE>{100});
    EXPECT_EQ(calls[0].values, std::vector<LONG>{500});

    // A change undone while inactive is not reported.
    ASSERT_EQ(SetActive({h[0]}, FALSE), S_OK);
    Set(kT1, 501);
    Passes(5);
    Set(kT1, 500);
    ASSERT_EQ(SetActive({h[0]}, TRUE), S_OK);
    Passes(10);
    EXPECT_TRUE(Take().empty());
}

// A pass skips items whose data point still holds what they last saw; a synchronous read that notices
// a change in between must still have it reported, even when the data point has moved back since.
TEST_F(AsyncIO, ChangeNoticedBySyncReadBetweenPassesIsReported) {
    Advise();
    OPCHANDLE h = AddHandles(group, {{L"T1"}})[0];
    Passes(10);
    ASSERT_EQ(Take().size(), 1u);
    device->SetRegister(40, 9);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(group->Read(OPC_DS_DEVICE, 1, &h, &states, &errors), S_OK);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    Set(kT1, 0);
    Passes(10);
    const auto calls = Take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].values, std::vector<LONG>{0});
}

TEST_F(AsyncIO, RequestsWithoutSinkOrEntriesAreRefused) {
    const auto h = AddHandles(group, {{L"T1"}});
    DWORD cancel = 0;
    BOOL enable = 0;
    EXPECT_EQ(Read({h[0]}, 1, &cancel), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(Write({h[0]}, {1}, 1, &cancel), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(Async()->Refresh2(OPC_DS_CACHE, 1, &cancel), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(Async()->SetEnable(FALSE), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(Async()->GetEnable(&enable), CONNECT_E_NOCONNECTION);
    Advise();
    EXPECT_EQ(Async()->GetEnable(&enable), S_OK);
    EXPECT_EQ(enable, -1);
    EXPECT_EQ(Read({}, 1, &cancel), E_INVALIDARG);
    EXPECT_EQ(Async()->Refresh2(static_cast<OPCDATASOURCE>(3), 1, &cancel), E_INVALIDARG);
    std::vector<HRESULT> errors;
    cancel = 0;
    EXPECT_EQ(Read({31337}, 1, &cancel, &errors), S_FALSE);  // nothing queued, but a cancel id is given
    EXPECT_NE(cancel, 0u);
    EXPECT_EQ(errors, std::vector<HRESULT>{OPC_E_INVALIDHANDLE});
    EXPECT_EQ(group->PendingCount(), 0u);
    EXPECT_EQ(Async()->Cancel2(cancel), E_FAIL);
}

TEST_F(AsyncIO, ReadCompletesAtNextPassWithCachedValuesAndRequestId) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}, {L"T2", VT_EMPTY, FALSE}});
    Set(kT1, 41);
    Passes(1);  // the item takes the value; the subscription reports it
    Take();
    Set(kT1, 42);  // not refreshed yet when the read runs: the read serves the cached value
    DWORD cancel1 = 0, cancel2 = 0;
    std::vector<HRESULT> errors;
    EXPECT_EQ(Read({h[0], 31337, h[1]}, 77, &cancel1, &errors), S_OK);
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    EXPECT_EQ(Read({h[0]}, 78, &cancel2), S_OK);
    EXPECT_EQ(cancel2, cancel1 + 1);
    EXPECT_TRUE(sink.calls.empty());
    Passes(1);
    const auto calls = Take();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::ReadComplete);
    EXPECT_EQ(calls[0].transid, 77u);
    EXPECT_EQ(calls[0].clients, (std::vector<OPCHANDLE>{100, 101}));
    EXPECT_EQ(calls[0].values[0], 41);
    EXPECT_EQ(calls[0].qualities, (std::vector<WORD>{0xC0, 0x1C}));
    EXPECT_EQ(calls[0].masterQuality, S_FALSE);
    EXPECT_EQ(calls[0].masterError, S_OK);
    EXPECT_EQ(calls[1].transid, 78u);
    EXPECT_EQ(group->PendingCount(), 0u);
}

TEST_F(AsyncIO, CancelBeforeExecutionNotifiesAtOnceAndSuppressesTheCompletion) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}});
    Passes(1);
    Take();
    DWORD cancel = 0;
    ASSERT_EQ(Write({h[0]}, {9}, 55, &cancel), S_OK);
    EXPECT_EQ(Async()->Cancel2(cancel), S_OK);
    auto calls = Take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::CancelComplete);
    EXPECT_EQ(calls[0].transid, 55u);
    EXPECT_EQ(calls[0].group, 7u);
    Passes(1);
    EXPECT_TRUE(Take().empty());
    EXPECT_NE(Get(kT1), 9);
    EXPECT_EQ(Async()->Cancel2(cancel), E_FAIL);  // dropped by the pass
}

TEST_F(AsyncIO, RefreshReportsActiveItemsAndIsRefusedWithAnInactiveOne) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}});
    Set(kT1, 3);
    Set(kT2, 4);
    Passes(1);
    Take();
    DWORD cancel = 0;
    ASSERT_EQ(Async()->Refresh2(OPC_DS_DEVICE, 91, &cancel), S_OK);
    Passes(1);
    auto calls = Take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::DataChange);
    EXPECT_EQ(calls[0].transid, 91u);
    EXPECT_EQ(calls[0].values, (std::vector<LONG>{3, 4}));
    EXPECT_EQ(calls[0].masterQuality, S_OK);

    // An item deactivated between request and pass is left out, and the master quality says so.
    ASSERT_EQ(Async()->Refresh2(OPC_DS_CACHE, 92, &cancel), S_OK);
    ASSERT_EQ(SetActive({h[0]}, FALSE), S_OK);
    Passes(1);
    calls = Take();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].clients, std::vector<OPCHANDLE>{101});
    EXPECT_EQ(calls[0].masterQuality, S_FALSE);
    EXPECT_EQ(Async()->Refresh2(OPC_DS_CACHE, 93, &cancel), E_FAIL);

    BOOL inactive = FALSE;
    ASSERT_EQ(SetActive({h[0]}, TRUE), S_OK);
    group->SetState(nullptr, nullptr, &inactive, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(Async()->Refresh2(OPC_DS_CACHE, 94, &cancel), E_FAIL);
}

TEST_F(AsyncIO, DisabledGroupStillCompletesRequestsButSendsNoDataChanges) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}});
    ASSERT_EQ(Async()->SetEnable(FALSE), S_OK);
    BOOL enable = -1;
    ASSERT_EQ(Async()->GetEnable(&enable), S_OK);
    EXPECT_EQ(enable, FALSE);
    DWORD cancel = 0;
    ASSERT_EQ(Read({h[0]}, 1, &cancel), S_OK);
    ASSERT_EQ(Async()->Refresh2(OPC_DS_CACHE, 2, &cancel), S_OK);
    Passes(1);  // due, and every item is new
    auto calls = Take();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::ReadComplete);
    EXPECT_EQ(calls[1].transid, 2u);
    // Changes seen while disabled are consumed, not sent after enabling.
    Set(kT1, 321);
    Passes(10);
    ASSERT_EQ(Async()->SetEnable(TRUE), S_OK);
    Passes(10);
    EXPECT_TRUE(Take().empty());
}

TEST_F(AsyncIO, UnadviseDropsQueuedRequestsWithoutCallbacks) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}});
    DWORD cancel = 0;
    ASSERT_EQ(Read({h[0]}, 1, &cancel), S_OK);
    ASSERT_EQ(Write({h[0]}, {77}, 2, &cancel), S_OK);
    Unadvise();
    Passes(1);
    EXPECT_EQ(group->PendingCount(), 0u);
    EXPECT_NE(Get(kT1), 77);
    EXPECT_TRUE(sink.calls.empty());
}

TEST_F(AsyncIO, WriteStoresInRangeValuesAndRefusesOverflow) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}});
    Set(kT1, 8);
    Passes(1);
    Take();
    DWORD cancel = 0;
    ASSERT_EQ(Write({h[0], h[1]}, {70000, 5}, 31, &cancel), S_OK);
    EXPECT_EQ(Get(kT2), 0);  // nothing happens before the pass
    Passes(1);
    const auto calls = Take();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::WriteComplete);
    EXPECT_EQ(calls[0].transid, 31u);
    EXPECT_EQ(calls[0].clients, (std::vector<OPCHANDLE>{100, 101}));
    EXPECT_EQ(calls[0].errors, (std::vector<HRESULT>{DISP_E_OVERFLOW, S_OK}));
    EXPECT_EQ(calls[0].masterError, S_FALSE);
    EXPECT_EQ(Get(kT1), 8);
    EXPECT_EQ(Get(kT2), 5);
    EXPECT_EQ(device->Register(41), 5);
    EXPECT_EQ(device->Register(40), 0);
}

// The data point's quality travels with every callback; a change of quality alone is a change;
// the master quality asks for the GOOD class; a write the device refuses fails its entry.
TEST_F(AsyncIO, TheDataPointsQualityTravelsWithEveryCallback) {
    Advise();
    Set(kT1, 11);
    DataPoints[kT2].Store(22, kQualityNotConnected);  // never obtained from the device
    // A read queued before any pass serves what the points hold, never a value the tag never had.
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}});
    DWORD cancel = 0;
    ASSERT_EQ(Read({h[0], h[1]}, 5, &cancel), S_OK);
    Passes(1);
    auto calls = Take();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::ReadComplete);
    EXPECT_EQ(calls[0].values, (std::vector<LONG>{11, 22}));
    EXPECT_EQ(calls[0].qualities, (std::vector<WORD>{kQualityGood, kQualityNotConnected}));
    EXPECT_EQ(calls[0].masterQuality, S_FALSE);

    struct TStep {
        uint16_t quality;        // of T1's point, its value unchanged
        HRESULT masterQuality;   // of the data change that reports it
    };
    DataPoints[kT2].Store(22, kQualityGood);
    Passes(10);
    Take();
    for (const TStep step : {TStep{kQualityCommFailure, S_FALSE}, TStep{kQualityLocalOverride, S_OK},
                             TStep{kQualityConfigError, S_FALSE}, TStep{kQualityGood, S_OK}}) {
        DataPoints[kT1].SetQuality(step.quality);
        Passes(10);
        calls = Take();
        ASSERT_EQ(calls.size(), 1u) << step.quality;
        EXPECT_EQ(calls[0].clients, std::vector<OPCHANDLE>{100});
        EXPECT_EQ(calls[0].values, std::vector<LONG>{11});
        EXPECT_EQ(calls[0].qualities, std::vector<WORD>{step.quality});
        EXPECT_EQ(calls[0].masterQuality, step.masterQuality);
    }

    DataPoints[kT1].SetQuality(kQualityCommFailure);
    Passes(1);  // a refresh serves the items' values as the last pass took them
    Take();
    ASSERT_EQ(Async()->Refresh2(OPC_DS_CACHE, 6, &cancel), S_OK);
    device->SetMode(tw::test::TFakeDevice::Refusing);
    ASSERT_EQ(Write({h[0], h[1]}, {1, 2}, 7, &cancel), S_OK);
    Passes(1);
    calls = Take();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].transid, 6u);
    EXPECT_EQ(calls[0].qualities, (std::vector<WORD>{kQualityCommFailure, kQualityGood}));
    EXPECT_EQ(calls[0].masterQuality, S_FALSE);
    EXPECT_EQ(calls[1].kind, TCallbackKind::WriteComplete);
    EXPECT_EQ(calls[1].errors, (std::vector<HRESULT>{E_FAIL, E_FAIL}));
    EXPECT_EQ(calls[1].masterError, S_FALSE);
    EXPECT_EQ(Get(kT1), 11);
}

// A queued write does not keep an object the client passed as a value: the pass could turn it into a
// number only by calling the client (and letting go of it could call the client too). It is refused
// as before, without the call.
TEST_F(AsyncIO, AQueuedWriteKeepsNoObjectOfTheClient) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}});
    Passes(1);
    Take();
    TFakeDataSink object;
    VARIANT values[2];
    for (VARIANT& v : values) VariantInit(&v);
    values[0].vt = VT_I4;
    values[0].lVal = 5;
    values[1].vt = VT_UNKNOWN;
    values[1].punkVal = &object;
    DWORD cancel = 0;
    HRESULT* e = nullptr;
    ASSERT_EQ(Async()->Write(2, const_cast<OPCHANDLE*>(h.data()), values, 40, &cancel, &e), S_OK);
    EXPECT_EQ(Errors(e, 2), (std::vector<HRESULT>{S_OK, S_OK}));
    EXPECT_EQ(object.refs(), 0u) << "the queued write holds the client's object";
    Passes(1);
    const auto calls = Take();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, TCallbackKind::WriteComplete);
    EXPECT_EQ(calls[0].errors, (std::vector<HRESULT>{S_OK, OPC_E_BADTYPE}));
    EXPECT_EQ(device->Register(40), 5);
}

// Requests made before a RemoveItems must reach the items the client named, not the items that
// moved into their positions.
TEST_F(AsyncIO, QueuedRequestsFollowTheirItemsAcrossRemoveItems) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}, {L"C1"}});
    Passes(1);
    Take();
    DWORD cancel = 0;
    ASSERT_EQ(Write({h[1], h[0]}, {6, 7}, 1, &cancel), S_OK);
    ASSERT_EQ(Read({h[2], h[0]}, 2, &cancel), S_OK);
    ASSERT_EQ(Remove(group, {h[0]}), S_OK);  // T2 and C1 move up one position
    Passes(1);
    const auto calls = Take();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].clients, (std::vector<OPCHANDLE>{101, 0}));
    EXPECT_EQ(calls[0].errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID}));
    EXPECT_EQ(device->Register(41), 6);
    EXPECT_EQ(device->Register(40), 0);  // the removed item's value went nowhere
    EXPECT_EQ(Get(kT1), 0);
    EXPECT_FALSE(device->Coil(5));
    EXPECT_EQ(calls[1].clients, (std::vector<OPCHANDLE>{102, 0}));
    EXPECT_EQ(calls[1].errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID}));
}

TEST_F(AsyncIO, SinkMayRemoveItemsAndQueueOrCancelRequestsInsideCallbacks) {
    Advise();
    // The reads mark C1 as seen, so only T1 and T2 count as changed.
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}, {L"C1"}});
    DWORD first = 0, second = 0, third = 0, queued = 0;
    ASSERT_EQ(Read({h[2]}, 1, &first), S_OK);
    ASSERT_EQ(Read({h[2]}, 2, &second), S_OK);
    ASSERT_EQ(Read({h[2]}, 3, &third), S_OK);
    sink.inside = [&](const TCallback& c) {
        if (c.kind != TCallbackKind::ReadComplete) return;
        if (c.transid == 1) {
            EXPECT_EQ(Read({h[2]}, 4, &queued), S_OK);   // runs with the pass's data change
            EXPECT_EQ(Async()->Cancel2(first), E_FAIL);  // the one completing: too late, no notice
            EXPECT_EQ(Async()->Cancel2(third), S_OK);    // still to come in this run: the notice instead
        } else if (c.transid == 2) {
            EXPECT_EQ(Async()->Cancel2(first), E_FAIL);  // completed earlier in this run: gone
        } else {
            // The changed items are collected by now: one of them goes before its data change.
            EXPECT_EQ(Remove(group, {h[0]}), S_OK);
        }
    };
    Passes(1);
    sink.inside = nullptr;
    const auto calls = Take();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[1].kind, TCallbackKind::CancelComplete);
    EXPECT_EQ(calls[1].transid, 3u);
    EXPECT_EQ(calls[2].transid, 2u);
    EXPECT_EQ(calls[3].transid, 4u);
    EXPECT_EQ(calls[4].kind, TCallbackKind::DataChange);
    EXPECT_EQ(calls[4].clients, std::vector<OPCHANDLE>{101});
    EXPECT_EQ(group->PendingCount(), 0u);
}

TEST_F(AsyncIO, SinkMayRemoveAndReleaseTheGroupInsideItsDataChange) {
    TOPCGroup* doomed = NewGroup(L"doomed", TRUE, 10);
    IUnknown* doomedRef = held.back();
    held.pop_back();
    IConnectionPoint* cp = Point(doomed);
    DWORD doomedCookie = 0;
    ASSERT_EQ(cp->Advise(&sink, &doomedCookie), S_OK);
    const auto h = AddHandles(doomed, {{L"T1"}, {L"T2"}});
    const OPCHANDLE serverHandle = doomed->ServerHandle();
    sink.inside = [&](const TCallback& c) {
        if (c.kind != TCallbackKind::DataChange || !doomedRef) return;
        HRESULT* e = nullptr;
        OPCHANDLE first = h[0];
        EXPECT_EQ(doomed->RemoveItems(1, &first, &e), S_OK);
        CoTaskMemFree(e);
        EXPECT_EQ(server->RemoveGroup(serverHandle, TRUE), S_OK);
        doomedRef->Release();
        doomedRef = nullptr;
    };
    da2->PulseServer(kNow);  // the fixture's group has no items; the doomed one reports and goes
    EXPECT_EQ(sink.Count(TCallbackKind::DataChange), 1u);
    EXPECT_EQ(TDA2::FindGroupByHandle(da2->PrivateGroups(), serverHandle), -1);
    EXPECT_EQ(sink.refs(), 0u);  // the group let go of the sink when it ended
    da2->PulseServer(kNow);
    EXPECT_EQ(sink.Count(TCallbackKind::DataChange), 1u);
}

// A client answers the server's queries while its Advise is handled, and may unadvise the sink then
// (its cookie is easily guessed): the group sends that sink nothing and keeps no hold of it.
TEST_F(AsyncIO, ASinkUnadvisedInsideItsOwnAdviseGetsNothing) {
    const auto h = AddHandles(group, {{L"T1"}});
    IConnectionPoint* cp = Point(group);
    bool first = true;
    sink.queried = [&](REFIID) {
        if (!std::exchange(first, false)) return;
        EXPECT_EQ(cp->Unadvise(1), S_OK);
    };
    DWORD own = 0;
    ASSERT_EQ(cp->Advise(&sink, &own), S_OK);
    sink.queried = nullptr;
    ASSERT_FALSE(first) << "the server asked the sink nothing during its Advise";
    EXPECT_EQ(own, 1u);
    Passes(3);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_EQ(sink.refs(), 0u);
    DWORD cancel = 0;
    EXPECT_EQ(Read(h, 1, &cancel), CONNECT_E_NOCONNECTION);
}

// A queued write keeps no value that holds the client's objects or records (no write takes one):
// kept until the pass, the last release of an object would call out to the client in the middle
// of the pending list, and under Wine the copy of a record is never freed.
TEST_F(AsyncIO, QueuedWritesKeepNoClientObjectsOrRecords) {
    Advise();
    const auto h = AddHandles(group, {{L"T1"}});
    auto* object = new hostile::TValueObject(hostile::TValueObject::Number);
    auto* record = new hostile::TRecordInfo;
    LONG fields = 5;
    std::vector<VARIANT> values = ObjectValues(object, record, &fields);
    std::vector<OPCHANDLE> handles(values.size(), h[0]);
    DWORD cancel = 0;
    HRESULT* e = nullptr;
    ASSERT_EQ(Async()->Write(static_cast<DWORD>(values.size()), handles.data(), values.data(), 31, &cancel, &e), S_OK);
    EXPECT_EQ(Errors(e, 4), std::vector<HRESULT>(4, S_OK));
    EXPECT_EQ(object->References(), 2u);  // the test's and the array's, none of the group's
    EXPECT_EQ(record->Copies(), 0);
    Take();
    Passes(1);
    ASSERT_EQ(sink.Count(TCallbackKind::WriteComplete), 1u);
    for (const TCallback& c : Take()) {
        if (c.kind == TCallbackKind::WriteComplete) {
            EXPECT_EQ(c.errors, std::vector<HRESULT>(4, OPC_E_BADTYPE));
        }
    }
    EXPECT_EQ(object->CalledInto(), 0);
    SafeArrayDestroy(values[3].parray);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(record->Release(), 0u);
}

}  // namespace
}  // namespace tw::opc::test
