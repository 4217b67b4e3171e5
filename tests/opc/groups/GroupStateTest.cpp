#include <gtest/gtest.h>

#include <olectl.h>

#include <tuple>

#include "../ConnectionSinks.h"
#include "GroupFixture.h"
#include "OPCCOMN.h"
#include "opc/DataChangeSink.h"
#include "opc/Guids.h"
#include "opc/OpcError.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc::test {
namespace {

// A heap sink that goes with its last reference.
class TSink final : public TDataChangeSink {
public:
    static TSink* Make() {
        auto* s = new TSink;
        s->AddRef();
        return s;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override {
        return S_OK;
    }

private:
    ULONG refs_ = 0;
};

struct TState {
    DWORD rate = 0;
    BOOL active = 0;
    std::wstring name;
    LONG bias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE client = 0, server = 0;
};

TState StateOf(IOPCGroupStateMgt* g) {
    TState s;
    LPWSTR name = nullptr;
    EXPECT_EQ(g->GetState(&s.rate, &s.active, &name, &s.bias, &s.deadband, &s.lcid, &s.client, &s.server), S_OK);
    if (name) s.name = name;
    CoTaskMemFree(name);
    return s;
}

using GroupState = GroupFixture;

TEST_F(GroupState, SetStateChangesOnlyWhatIsGivenAndActivationForcesAReport) {
    TOPCGroup* g = NewGroup(L"idle", FALSE, 250);
    auto* state = As<IOPCGroupStateMgt>(g, IID_IOPCGroupStateMgt);
    AddHandles(g, {{L"T1"}, {L"T2", VT_EMPTY, FALSE}});
    const TState before = StateOf(state);

    BOOL five = 5;
    EXPECT_EQ(state->SetState(nullptr, nullptr, &five, nullptr, nullptr, nullptr, nullptr), S_OK);
    TState after = StateOf(state);
    EXPECT_EQ(after.active, 5);  // stored as given
    after.active = before.active;
    EXPECT_EQ(std::tie(after.rate, after.name, after.bias, after.deadband, after.lcid, after.client, after.server),
              std::tie(before.rate, before.name, before.bias, before.deadband, before.lcid, before.client,
                       before.server));
    // Every item counts as changed at the next pass, which is due at once.
    EXPECT_EQ(g->Items()[0].LastSeenQuality, kQualityForceReport);
    EXPECT_EQ(g->Items()[1].LastSeenQuality, kQualityForceReport);
    EXPECT_EQ(g->Elapsed(), 250u);

    DWORD zero = 0, revised = 0;
    FLOAT band = 12.5f;
    EXPECT_EQ(state->SetState(&zero, &revised, nullptr, nullptr, &band, nullptr, nullptr), OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 1000u);
    EXPECT_EQ(g->Elapsed(), 0u);
    DWORD one = 1;
    EXPECT_EQ(state->SetState(&one, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(revised, 1u);
    EXPECT_EQ(StateOf(state).deadband, 12.5f);  // a null deadband left it alone

}

TEST_F(GroupState, NamesAndTheRemovedFlag) {
    auto* state = As<IOPCGroupStateMgt>(group, IID_IOPCGroupStateMgt);
    NewGroup(L"other");
    EXPECT_EQ(state->SetName(L"G"), OPC_E_DUPLICATENAME);  // its own name
    EXPECT_EQ(state->SetName(L"other"), OPC_E_DUPLICATENAME);
    EXPECT_EQ(state->SetName(L""), E_INVALIDARG);
    EXPECT_EQ(state->SetName(L"g"), S_OK);
    EXPECT_EQ(group->Name(), "g");

    EXPECT_EQ(server->RemoveGroup(group->ServerHandle(), FALSE), OPC_S_INUSE);
    BOOL on = TRUE;
    EXPECT_EQ(state->SetName(L"renamed"), E_FAIL);
    EXPECT_EQ(state->SetState(nullptr, nullptr, &on, nullptr, nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(StateOf(state).name, L"g");  // GetState still answers
}

TEST_F(GroupState, ClonesAreInactiveShareItemHandlesAndTakeTheEmptyNameOnce) {
    auto* state = As<IOPCGroupStateMgt>(group, IID_IOPCGroupStateMgt);
    const auto h = AddHandles(group, {{L"T1", VT_I2}, {L"C1", VT_EMPTY, FALSE}});
    group->Items()[0].Refresh();
    TSink* sink = TSink::Make();
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(group->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(sink, &cookie), S_OK);

    IUnknown* u = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(state->CloneGroup(L"x", IID_IUnknown, &u), E_NOINTERFACE);
    EXPECT_EQ(u, nullptr);
    EXPECT_EQ(state->CloneGroup(L"G", IID_IOPCGroupStateMgt, &u), OPC_E_DUPLICATENAME);

    ASSERT_EQ(state->CloneGroup(L"", IID_IOPCGroupStateMgt, &u), S_OK);
    held.push_back(u);
    // The pointer is the interface asked for.
    const TState first = StateOf(static_cast<IOPCGroupStateMgt*>(u));
    EXPECT_EQ(std::tie(first.name, first.active, first.rate, first.client, first.server),
              std::make_tuple(std::wstring(), FALSE, 100ul, 7ul, group->ServerHandle() + 1));
    TOPCGroup* copy = da2->PrivateGroups().back();
    EXPECT_EQ(copy->Sink(), nullptr);
    ASSERT_EQ(copy->Items().Count(), 2u);
    EXPECT_EQ(copy->Items().Find(h[1]), &copy->Items()[1]);  // same handles, own index
    EXPECT_EQ(copy->Items()[0].ServerHandle, h[0]);
    EXPECT_EQ(copy->Items()[0].RequestedType, VT_I2);
    EXPECT_EQ(copy->Items()[0].LastSeenQuality, kQualityNeverSeen);

    // The enumerators' class identifier names no interface the clone could be handed out as.
    EXPECT_EQ(state->CloneGroup(nullptr, CLSID_OPCEnumerators, &u), E_NOINTERFACE);
    EXPECT_EQ(u, nullptr);
    ASSERT_EQ(state->CloneGroup(nullptr, IID_IOPCGroupStateMgt, &u), S_OK);
    held.push_back(u);
    const std::string second = da2->PrivateGroups().back()->Name();
    EXPECT_FALSE(second.empty());
    EXPECT_EQ(second.find_first_not_of("0123456789"), std::string::npos);

    EXPECT_EQ(cp->Unadvise(cookie), S_OK);
    cp->Release();
    EXPECT_EQ(sink->Release(), 0u);
}

TEST_F(GroupState, EveryUnadviseEndsTheCallbacksAndCookiesReuseFreedSlots) {
    TSink* a = TSink::Make();
    TSink* b = TSink::Make();
    IConnectionPoint* cp = nullptr;
    EXPECT_EQ(group->FindConnectionPoint(IID_IOPCShutdown, &cp), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(group->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    AddHandles(group, {{L"T1"}});
    group->Items()[0].Refresh();
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(cp->Advise(a, &ca), S_OK);
    EXPECT_EQ(ca, 1u);
    EXPECT_EQ(group->Items()[0].LastSeenQuality, kQualityForceReport);  // advised while active
    ASSERT_EQ(cp->Advise(b, &cb), S_OK);
    EXPECT_EQ(cb, 2u);
    EXPECT_EQ(group->Sink(), b);
    EXPECT_EQ(EnumeratedConnections(cp), (TConnections{{a, 1}, {b, 2}}));
    EXPECT_EQ(cp->Unadvise(ca), S_OK);
    EXPECT_EQ(group->Sink(), nullptr);  // b is still advised, yet no sink
    EXPECT_EQ(cp->Unadvise(ca), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(cp->Advise(a, &ca), S_OK);
    EXPECT_EQ(ca, 1u);

    // Its points come one at a time without a count: with one, a client that asked for more could
    // not tell how many (each with a reference) it got.
    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(group->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* got[2] = {};
    EXPECT_EQ(points->Next(2, got, nullptr), E_POINTER);
    EXPECT_EQ(got[0], nullptr);
    ASSERT_EQ(points->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0], cp);
    got[0]->Release();
    points->Release();

    // The group's teardown lets go of the sinks still advised.
    cp->Release();
    EXPECT_EQ(server->RemoveGroup(group->ServerHandle(), TRUE), S_OK);
    held.erase(held.begin());
    ASSERT_EQ(group->Release(), 0u);
    EXPECT_EQ(a->Release(), 0u);
    EXPECT_EQ(b->Release(), 0u);
}

TEST_F(GroupState, AGroupOutlivesItsServerAndStillServesItsItems) {
    const auto h = AddHandles(group, {{L"T1"}});
    device->SetRegister(40, 77);
    auto* state = As<IOPCGroupStateMgt>(group, IID_IOPCGroupStateMgt);
    ASSERT_EQ(server->Release(), 0u);
    server = nullptr;
    EXPECT_EQ(group->Server(), nullptr);
    EXPECT_EQ(CountServerObjects(), 0);

    EXPECT_EQ(StateOf(state).name, L"G");
    EXPECT_EQ(state->SetName(L"alone"), S_OK);
    IUnknown* u = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(state->CloneGroup(L"copy", IID_IOPCGroupStateMgt, &u), E_FAIL);
    EXPECT_EQ(u, nullptr);
    OPCITEMSTATE* values = nullptr;
    HRESULT* errors = nullptr;
    OPCHANDLE handles[1] = {h[0]};
    ASSERT_EQ(group->Read(OPC_DS_DEVICE, 1, handles, &values, &errors), S_OK);
    EXPECT_EQ(values[0].vDataValue.lVal, 77);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    // The fixture's release of the group must not reach the destroyed server.
}

// A client that keeps the group's connection point (for a later Unadvise) holds the group through
// it; the group's end must cut it off, whether the server object goes (as at process end) or the
// client removes the group by force. Otherwise the group stays listed, its name taken, and its sink
// is kept (and released only after COM has ended).
TEST_F(GroupState, ItsEndCutsOffAClientThatHoldsOnlyTheGroupsConnectionPoint) {
    for (const bool byRemoveGroup : {true, false}) {
        SCOPED_TRACE(byRemoveGroup ? "forced RemoveGroup" : "end of the server object");
        if (!byRemoveGroup) {
            group = NewGroup(L"G");
            ASSERT_NE(group, nullptr) << "the removed group's name is still taken";
        }
        TSink* sink = TSink::Make();
        IConnectionPoint* cp = nullptr;
        ASSERT_EQ(group->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(cp->Advise(sink, &cookie), S_OK);
        // A client's proxy of the point.
        IStream* stream = nullptr;
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        ASSERT_EQ(CoMarshalInterface(stream, IID_IConnectionPoint, cp, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL),
                  S_OK);
        cp->Release();
        for (IUnknown* u : held) u->Release();
        held.clear();

        if (byRemoveGroup) {
            const OPCHANDLE handle = group->ServerHandle();
            EXPECT_EQ(server->RemoveGroup(handle, TRUE), S_OK);
            EXPECT_EQ(TDA2::FindGroupByHandle(da2->PrivateGroups(), handle), -1);
        } else {
            ASSERT_EQ(server->Release(), 0u);
            server = nullptr;
        }
        EXPECT_EQ(sink->Release(), 0u) << "the group still holds its sink";
        stream->Release();
    }
}

}  // namespace
}  // namespace tw::opc::test
