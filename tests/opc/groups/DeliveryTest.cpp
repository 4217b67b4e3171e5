// Callbacks on the product's path: a sink that marshals itself is called from its server object's
// delivery thread, as a remote client's proxy is. The sink can hold a callback inside the call, so a
// client that is behind is made at will: its data changes fold, never across a completion; Cancel2
// answers at once; a group or a server object may go while callbacks wait or one is under way; a
// client that is gone, or stuck past the limit, is cut off and logged, one that fails its callbacks
// is not.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FakeDataSink.h"
#include "GroupFixture.h"

#include <oleauto.h>

#include "opc/OpcError.h"
#include "opc/delivery/WakeChain.h"
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
        SetClientProbeInterval(kClientProbeIntervalMs);
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
    // Queues a write to the group's item and cancels it before any pass: its cancel notice is sent at once.
    void WriteAndCancel(OPCHANDLE item, DWORD transactionId) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 9;
        DWORD cancelId = 0;
        HRESULT* e = nullptr;
        ASSERT_EQ(Async(group)->Write(1, &item, &v, transactionId, &cancelId, &e), S_OK);
        CoTaskMemFree(e);
        EXPECT_EQ(Async(group)->Cancel2(cancelId), S_OK) << "Cancel2 answers at once";
    }

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
    DWORD readId = 0;
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
    WriteAndCancel(handles[1], 71);
    Set(kT1, 4);
    Pass();  // the cancel notice stands between: no fold across it
    OPCHANDLE renamed = 8;
    ASSERT_EQ(group->SetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &renamed), S_OK);
    Set(kT1, 6);
    Pass();  // folds in, under the group's new client handle
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
    EXPECT_EQ(Reported(calls[4]), (TReported{{100, 6}}));
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(calls[i].group, 7u);
    EXPECT_EQ(calls[4].group, 8u) << "the folded data change kept the old client group handle";
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

// Results that say the client has vanished cut it off; one that says a sink object is gone ends the
// callbacks to that sink only; a result the client chose keeps everything.
TEST_F(Delivery, AClientThatIsGoneIsCutOffAndOneThatFailsItsCallbacksIsNot) {
    enum class TFate { Kept, SinkDropped, CutOff };
    struct TRow {
        HRESULT result;
        TFate fate;
    };
    const TRow rows[] = {{HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), TFate::CutOff},
                         {RPC_E_DISCONNECTED, TFate::SinkDropped},
                         {RPC_E_SERVER_DIED_DNE, TFate::CutOff},
                         {CO_E_OBJNOTCONNECTED, TFate::SinkDropped},
                         {E_FAIL, TFate::Kept},
                         {OPC_E_INVALIDHANDLE, TFate::Kept}};
    TFakeDataSink other{true};  // the same client's sink on a second group
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.result);
        IOPCServer* client = nullptr;
        ASSERT_EQ(TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&client)), S_OK);
        auto* server2 = static_cast<TDA2*>(client);
        const int slot = server2->Slot();
        std::vector<IUnknown*> groups;
        for (IUnknown* s : {static_cast<IUnknown*>(&sink), static_cast<IUnknown*>(&other)}) {
            OPCHANDLE h = 0;
            DWORD revised = 0;
            IUnknown* g = nullptr;
            ASSERT_EQ(client->AddGroup(L"", TRUE, 10, 7, nullptr, nullptr, 0x409, &h, &revised, IID_IUnknown, &g), S_OK);
            groups.push_back(g);
            TOPCGroup* added = server2->PrivateGroups().back();
            AddHandles(added, {{L"T1"}});
            IConnectionPoint* cp = nullptr;
            ASSERT_EQ(added->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
            DWORD cookie = 0;
            ASSERT_EQ(cp->Advise(s, &cookie), S_OK);
            cp->Release();
        }
        sink.result = row.result;
        log.clear();
        server2->PulseServer(kNow);
        Flush();
        CutOffLostClients();
        EXPECT_EQ(ServerSlots[slot] == nullptr, row.fate == TFate::CutOff);
        EXPECT_EQ(server2->PrivateGroups().empty(), row.fate == TFate::CutOff) << "its groups ended";
        if (row.fate == TFate::CutOff) {
            EXPECT_EQ(log, std::vector<std::string>{"OPC client in slot " + std::to_string(slot + 1) +
                                                     " does not answer: its connection and 2 groups were closed."});
        } else {
            EXPECT_TRUE(log.empty());
            const std::size_t before = sink.Calls().size(), otherBefore = other.Calls().size();
            Set(kT1, static_cast<uint16_t>(before + 100));
            server2->PulseServer(kNow);
            Flush();
            EXPECT_EQ(sink.Calls().size(), before + (row.fate == TFate::Kept ? 1 : 0));
            EXPECT_EQ(other.Calls().size(), otherBefore + 1) << "the client's other sink is no longer served";
        }
        for (IUnknown* g : groups) g->Release();
        client->Release();
        EXPECT_TRUE(sink.WaitReleased(kWaitMs)) << "the client's sinks were never let go";
        EXPECT_TRUE(other.WaitReleased(kWaitMs));
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
    // Each reference went where it was held: the main thread's to the main thread, the delivery
    // thread's to that thread; none to a thread of its own.
    std::set<DWORD> holders = sink.CallingThreads();
    holders.insert(GetCurrentThreadId());
    for (DWORD thread : sink.ReleasingThreads()) EXPECT_EQ(holders.count(thread), 1u) << "released on thread " << thread;
}

// A client cut off while the server asks its sink for its interface, inside its Advise (its other
// sink has hung in a callback past the limit): the sink is not linked to the cut-off object, and goes
// back to its client.
TEST_F(Delivery, AClientCutOffInsideItsOwnAdviseGetsItsSinkBack) {
    Subscribed(nullptr, {{L"T1"}});
    sink.Hold();
    Pass();
    ASSERT_TRUE(sink.WaitEntered(1, kWaitMs));
    SetStuckCallbackLimit(0);
    Sleep(20);
    TFakeDataSink inside{true};
    bool cut = false;
    inside.queried = [&](REFIID riid) {
        if (cut || !IsEqualIID(riid, IID_IOPCDataCallback)) return;
        cut = true;
        CutOffLostClients();
    };
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(NewGroup(L"second")->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    DWORD cookie = 0;
    cp->Advise(&inside, &cookie);
    cp->Release();
    inside.queried = nullptr;
    EXPECT_TRUE(cut);
    EXPECT_EQ(log.size(), 1u);
    sink.Open();
    EXPECT_TRUE(inside.WaitReleased(kWaitMs)) << inside.refs() << " references held";
}

// A client with nothing to receive is asked every few seconds, by its delivery thread, for an
// interface none of its sinks has; once its process is gone (the question fails as it fails through a
// vanished client's proxy on Windows) it is cut off, though no callback ever failed.
TEST_F(Delivery, AClientWithNothingToReceiveIsAskedWhetherItIsThereAndCutOffOnceGone) {
    SetClientProbeInterval(10);
    Subscribed(nullptr, {{L"T1"}});
    Pass();
    Flush();  // the first report; nothing changes from here
    static std::atomic<int> probes{0};
    static std::atomic<bool> onMain{false};
    const DWORD mainThread = GetCurrentThreadId();
    sink.queried = [mainThread](REFIID riid) {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOPCDataCallback) || IsEqualIID(riid, IID_IMarshal))
            return;
        ++probes;
        if (GetCurrentThreadId() == mainThread) onMain = true;
    };
    for (const ULONGLONG end = GetTickCount64() + kWaitMs; probes < 2 && GetTickCount64() < end;) Sleep(1);
    EXPECT_GE(probes, 2) << "the client was not asked";
    EXPECT_FALSE(onMain) << "asked on the main thread";
    EXPECT_FALSE(da2->Delivery().Lost(GetTickCount64(), kStuckCallbackMs)) << "a client that answers counts as lost";
    const int slot = da2->Slot();
    sink.queryResult = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    EXPECT_TRUE(sink.WaitReleased(kWaitMs)) << "the vanished client was not cut off";
    EXPECT_EQ(ServerSlots[slot], nullptr);
    EXPECT_EQ(log.size(), 1u);
}

// Nothing needs the pulse to reach a client: a thread that an update pass left asleep (its turn in
// the wake-up chain never came) gets what is sent after the pulse stopped, and what the pass queued.
TEST_F(Delivery, WithThePulseOffEveryQueuedCallbackIsDelivered) {
    Subscribed(nullptr, {{L"T1"}});
    Pass();
    Flush();  // the first report; the thread sleeps from here
    Set(kT1, 1);
    da2->Delivery().BeginBatch();
    Pass();
    da2->Delivery().EndBatch(false);  // and nobody wakes the chain
    WriteAndCancel(handles[0], 71);
    Flush();
    const std::vector<TCallback> calls = sink.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(Reported(calls[1]), (TReported{{100, 1}}));
    EXPECT_EQ(calls[2].kind, TCallbackKind::CancelComplete);
}

// The chain wakes every sleeping thread, passing over those that are not asleep: one inside a call
// to a hung client, one that has ended.
TEST(WakeChain, PassesOverThreadsThatAreNotAsleep) {
    TWakeChain chain;
    struct TThread final : TSleeper {
        TThread(TWakeChain& c, bool a) : chain(c), asleep(a) {}
        bool WakeIfAsleep() override {
            if (!asleep) return false;
            asleep = false;
            woken = true;
            chain.WakeNext();  // as a woken delivery thread does
            return true;
        }
        TWakeChain& chain;
        bool asleep;
        bool woken = false;
    };
    const bool asleep[] = {true, false, true, false, false, true};
    std::vector<std::shared_ptr<TThread>> threads;
    for (bool a : asleep) {
        threads.push_back(std::make_shared<TThread>(chain, a));
        chain.Add(threads.back());
    }
    chain.WakeNext();  // the update pass wakes one
    for (std::size_t i = 0; i < threads.size(); ++i) EXPECT_EQ(threads[i]->woken, asleep[i]) << "thread " << i;
}

}  // namespace
}  // namespace tw::opc::test
