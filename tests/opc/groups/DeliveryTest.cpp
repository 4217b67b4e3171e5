// Callbacks on the product's path: a sink that marshals itself is called from its server object's
// delivery thread, as a remote client's proxy is. The sink can hold a callback inside the call, so a
// client that is behind is made at will: its data changes fold, never across a completion; Cancel2
// answers at once; a group or a server object may go while callbacks wait or one is under way; a
// client that is gone, or stuck past the limit, is cut off and logged, one that fails its callbacks
// is not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDataSink.h"
#include "GroupFixture.h"

#include <oleauto.h>

#include "opc/OpcError.h"
#include "opc/server/ServerSlots.h"
#include "values/DataPoints.h"

namespace tw::opc::test {
namespace {

constexpr int32_t kT1 = 0, kT2 = 1;  // tag indexes
constexpr double kNow = 45000.5;
constexpr DWORD kWaitMs = 10000;

class Delivery : public GroupFixture {
protected:
    void SetUp() override {
        GroupFixture::SetUp();
        SetClientLogListener([this](const std::string& line) { log.push_back(line); });
        DataPoints[kT1].Store(0, kQualityGood);
        DataPoints[kT2].Store(0, kQualityGood);
    }
    void TearDown() override {
        SetClientLogListener(nullptr);
        SetStuckCallbackLimit(kStuckCallbackMs);
        sink.Open();
        GroupFixture::TearDown();
        EXPECT_TRUE(sink.WaitReleased(kWaitMs)) << "a delivery thread kept the sink";
    }
    // A group due on every pass with the items, advised to the threaded sink.
    TOPCGroup* Subscribed(const wchar_t* name, const std::vector<TDef>& items) {
        TOPCGroup* g = name ? NewGroup(name, TRUE, 10) : group;
        DWORD revised = 0, rate = 10;
        g->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
        handles = AddHandles(g, items);
        IConnectionPoint* cp = nullptr;
        EXPECT_EQ(g->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(cp->Advise(&sink, &cookie), S_OK);
        cp->Release();
        return g;
    }
    void Pass() { da2->PulseServer(kNow); }
    void Flush() { ASSERT_TRUE(FlushDeliveries(kWaitMs)) << "callbacks still on their way"; }
    static void Set(int32_t tag, uint16_t v) { DataPoints[static_cast<size_t>(tag)].Store(v, kQualityGood); }
    IOPCAsyncIO2* Async(TOPCGroup* g) { return As<IOPCAsyncIO2>(g, IID_IOPCAsyncIO2); }

    TFakeDataSink sink{true};
    std::vector<OPCHANDLE> handles;
    std::vector<std::string> log;
};

// What a data change told of each item: client handle and value, in order.
using TReported = std::vector<std::pair<OPCHANDLE, LONG>>;
TReported Reported(const TCallback& c) {
    TReported r;
    for (std::size_t i = 0; i < c.clients.size(); ++i) r.emplace_back(c.clients[i], c.values[i]);
    return r;
}

TEST_F(Delivery, AClientThatIsBehindGetsItsDataChangesFoldedInTheirOrder) {
    Subscribed(nullptr, {{L"T1"}, {L"T2"}});
    Set(kT1, 1);
    sink.Hold();
    Pass();
    ASSERT_TRUE(sink.WaitEntered(1, kWaitMs)) << "the first data change did not start";
    // Behind from here on: the first data change is held inside the call.
    DWORD readId = 0, writeId = 0;
    HRESULT* e = nullptr;
    ASSERT_EQ(Async(group)->Read(1, &handles[0], 70, &readId, &e), S_OK);
    CoTaskMemFree(e);
    Set(kT1, 2);
    Pass();  // the read completes, then T1's change
    Set(kT1, 3);
    Pass();  // folds into the change before
    Set(kT2, 5);
    Pass();  // so does T2's, after T1 in the same data change
    EXPECT_EQ(Async(group)->Cancel2(readId), E_FAIL) << "the read completed, though its callback waits";
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 9;
    ASSERT_EQ(Async(group)->Write(1, &handles[1], &v, 71, &writeId, &e), S_OK);
    CoTaskMemFree(e);
    EXPECT_EQ(Async(group)->Cancel2(writeId), S_OK) << "Cancel2 answers at once";
    Set(kT1, 4);
    Pass();  // the cancel notice stands between: no fold across it
    sink.Open();
    Flush();

    const std::vector<TCallback> calls = sink.Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(Reported(calls[0]), (TReported{{100, 1}, {101, 0}}));
    EXPECT_EQ(calls[1].kind, TCallbackKind::ReadComplete);
    EXPECT_EQ(calls[1].transid, 70u);
    EXPECT_EQ(calls[2].kind, TCallbackKind::DataChange);
    EXPECT_EQ(Reported(calls[2]), (TReported{{100, 3}, {101, 5}}));
    EXPECT_EQ(calls[3].kind, TCallbackKind::CancelComplete);
    EXPECT_EQ(calls[3].transid, 71u);
    EXPECT_EQ(Reported(calls[4]), (TReported{{100, 4}}));
    for (const TCallback& c : calls) EXPECT_EQ(c.group, 7u);
    EXPECT_NE(device->Register(41), 9) << "the cancelled write reached the device";
}

TEST_F(Delivery, AGroupThatGoesTakesItsWaitingCallbacksWithIt) {
    Subscribed(nullptr, {{L"T1"}});
    TOPCGroup* doomed = Subscribed(L"doomed", {{L"T2"}});
    IUnknown* doomedRef = held.back();
    held.pop_back();
    Set(kT1, 11);
    Set(kT2, 22);
    sink.Hold();
    Pass();  // G's data change is held inside the call, the doomed group's waits behind it
    ASSERT_TRUE(sink.WaitEntered(1, kWaitMs));
    EXPECT_EQ(server->RemoveGroup(doomed->ServerHandle(), TRUE), S_OK);
    doomedRef->Release();
    sink.Open();
    Flush();
    const std::vector<TCallback> calls = sink.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Reported(calls[0]), (TReported{{100, 11}}));

    // An unadvised sink gets nothing that was on its way either.
    sink.Hold();
    Set(kT1, 12);
    Pass();
    ASSERT_TRUE(sink.WaitEntered(2, kWaitMs));
    Set(kT1, 13);
    Pass();
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(group->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    EXPECT_EQ(cp->Unadvise(1), S_OK);
    cp->Release();
    sink.Open();
    Flush();
    ASSERT_EQ(sink.Calls().size(), 2u);
    EXPECT_EQ(Reported(sink.Calls()[1]), (TReported{{100, 12}}));
}

TEST_F(Delivery, TheServerObjectMayGoWhileItsThreadIsInsideACall) {
    Subscribed(nullptr, {{L"T1"}});
    sink.Hold();
    Pass();
    ASSERT_TRUE(sink.WaitEntered(1, kWaitMs));
    const int slot = da2->Slot();
    for (IUnknown* u : held) u->Release();
    held.clear();
    EXPECT_EQ(server->Release(), 0u) << "released while its thread is held in the client";
    server = nullptr;
    EXPECT_EQ(ServerSlots[slot], nullptr);
    // The thread ends by itself once the call returns, and lets go of the sink.
    sink.Open();
    EXPECT_TRUE(sink.WaitReleased(kWaitMs));
    EXPECT_EQ(sink.Calls().size(), 1u);
}

// Results that say the client has vanished cut it off; a result it chose keeps it.
TEST_F(Delivery, AClientThatIsGoneIsCutOffAndOneThatFailsItsCallbacksIsNot) {
    struct TRow {
        HRESULT result;
        bool cutOff;
    };
    const TRow rows[] = {{HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), true},
                         {RPC_E_DISCONNECTED, true},
                         {RPC_E_SERVER_DIED_DNE, true},
                         {CO_E_OBJNOTCONNECTED, true},
                         {E_FAIL, false},
                         {OPC_E_INVALIDHANDLE, false}};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.result);
        IOPCServer* client = nullptr;
        ASSERT_EQ(TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&client)), S_OK);
        auto* other = static_cast<TDA2*>(client);
        const int slot = other->Slot();
        OPCHANDLE h = 0;
        DWORD revised = 0;
        IUnknown* g = nullptr;
        ASSERT_EQ(client->AddGroup(L"", TRUE, 10, 7, nullptr, nullptr, 0x409, &h, &revised, IID_IUnknown, &g), S_OK);
        TOPCGroup* otherGroup = other->PrivateGroups().back();
        AddHandles(otherGroup, {{L"T1"}});
        IConnectionPoint* cp = nullptr;
        ASSERT_EQ(otherGroup->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
        cp->Release();
        sink.result = row.result;
        log.clear();
        other->PulseServer(kNow);
        Flush();
        CutOffLostClients();
        EXPECT_EQ(ServerSlots[slot] == nullptr, row.cutOff);
        EXPECT_EQ(other->PrivateGroups().empty(), row.cutOff) << "its groups ended";
        if (row.cutOff) {
            EXPECT_EQ(log, std::vector<std::string>{"OPC client in slot " + std::to_string(slot + 1) +
                                                     " does not answer: its connection and 1 group were closed."});
        } else {
            EXPECT_TRUE(log.empty());
            const std::size_t before = sink.Calls().size();
            Set(kT1, static_cast<uint16_t>(before + 100));
            other->PulseServer(kNow);
            Flush();
            EXPECT_EQ(sink.Calls().size(), before + 1) << "no longer served";
        }
        g->Release();
        client->Release();
        EXPECT_TRUE(sink.WaitReleased(kWaitMs)) << "the client's sinks were never let go";
    }
    sink.result = S_OK;
}

TEST_F(Delivery, AClientStuckInACallbackPastTheLimitIsCutOffWithoutWaitingForIt) {
    Subscribed(nullptr, {{L"T1"}});
    sink.Hold();
    Pass();
    ASSERT_TRUE(sink.WaitEntered(1, kWaitMs));
    // The clock is the caller's: the call counts as stuck only once the limit has passed.
    const ULONGLONG now = GetTickCount64();
    EXPECT_FALSE(da2->Delivery().Lost(now, kStuckCallbackMs));
    EXPECT_FALSE(da2->Delivery().Lost(now + kStuckCallbackMs - 1000, kStuckCallbackMs));
    EXPECT_TRUE(da2->Delivery().Lost(now + kStuckCallbackMs + 1, kStuckCallbackMs));

    const int slot = da2->Slot();
    SetStuckCallbackLimit(0);
    Sleep(20);
    CutOffLostClients();  // returns although the client still holds the thread
    EXPECT_EQ(ServerSlots[slot], nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "OPC client in slot " + std::to_string(slot + 1) +
                          " does not answer: its connection and 1 group were closed.");
    CutOffLostClients();
    EXPECT_EQ(log.size(), 1u) << "logged twice";
    Pass();  // a cut-off server object sends nothing more
    sink.Open();
    EXPECT_TRUE(sink.WaitReleased(kWaitMs)) << "the stuck thread did not let go once the call returned";
    EXPECT_EQ(sink.Calls().size(), 1u);
}

}  // namespace
}  // namespace tw::opc::test
