// The IOPCShutdown connection point of an in-process server object, the shutdown requests and the
// client count.
#include <gtest/gtest.h>
#include <olectl.h>

#include "../ConnectionSinks.h"
#include "TagFixture.h"
#include "opc/server/ShutDownRequest.h"

namespace tw::opc {
namespace {

using test::ShutdownPoint;
using test::TShutdownSink;

class Shutdown : public test::TagServer {};

TEST_F(Shutdown, OnePointForIOPCShutdownOnly) {
    IOPCServer* server = NewServer<IOPCServer>(IID_IOPCServer);
    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
    IConnectionPoint* cp = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp, nullptr);
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCShutdown, &cp), S_OK);
    IID iid{};
    EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCShutdown));
    IConnectionPointContainer* back = nullptr;
    EXPECT_EQ(cp->GetConnectionPointContainer(&back), S_OK);
    EXPECT_EQ(back, cpc);
    back->Release();

    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(cpc->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* got[2] = {};
    ULONG n = 0;
    EXPECT_EQ(points->Next(2, got, &n), S_FALSE);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(got[0], cp);
    got[0]->Release();
    points->Release();
    cp->Release();
    cpc->Release();
}

TEST_F(Shutdown, SingleSinkAdviseUnadviseAndAdviseAgain) {
    IOPCServer* server = NewServer<IOPCServer>(IID_IOPCServer);
    auto* da2 = static_cast<TDA2*>(server);
    IConnectionPoint* cp = ShutdownPoint(server);
    ASSERT_NE(cp, nullptr);
    TShutdownSink first, second;
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(&first, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    EXPECT_EQ(da2->ShutdownSink(), &first);
    EXPECT_EQ(first.refs, 2);
    EXPECT_EQ(cp->Advise(&second, &cookie), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(da2->ShutdownSink(), &first) << "the first sink stays";
    EXPECT_EQ(second.refs, 1);

    EXPECT_EQ(test::EnumeratedConnections(cp), (test::TConnections{{&first, 1}}));

    EXPECT_EQ(cp->Unadvise(2), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(1), S_OK);
    EXPECT_EQ(cp->Unadvise(1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(da2->ShutdownSink(), nullptr);
    EXPECT_EQ(first.refs, 1);
    ASSERT_EQ(cp->Advise(&second, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    EXPECT_EQ(da2->ShutdownSink(), &second);
    cp->Release();

    // The server object's end releases a sink still connected.
    servers.clear();
    EXPECT_EQ(server->Release(), 0u);
    EXPECT_EQ(second.refs, 1);
}

TEST_F(Shutdown, RequestReachesOnlyASinkThatAnswersIOPCShutdown) {
    IOPCServer* server = NewServer<IOPCServer>(IID_IOPCServer);
    auto* da2 = static_cast<TDA2*>(server);
    EXPECT_EQ(RequestClientShutdown(*da2), TShutdownAnswer::NoSink);

    IConnectionPoint* cp = ShutdownPoint(server);
    TShutdownSink mute;
    mute.answersShutdown = false;
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(&mute, &cookie), S_OK);
    EXPECT_EQ(RequestClientShutdown(*da2), TShutdownAnswer::NotSupported);
    EXPECT_TRUE(mute.reasons.empty());
    ASSERT_EQ(cp->Unadvise(cookie), S_OK);

    TShutdownSink sink;
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(RequestClientShutdown(*da2), TShutdownAnswer::Sent);
    EXPECT_EQ(sink.reasons, std::vector<std::wstring>{L"Velmora Tarnowick IOPCShutdown request."});
    EXPECT_EQ(sink.refs, 2) << "the interface asked for was released";
    ASSERT_EQ(cp->Unadvise(cookie), S_OK);
    cp->Release();
    EXPECT_EQ(mute.refs, 1);
}

TEST_F(Shutdown, EveryClientIsAskedAndOneThatLetsGoInsideTheCallIsSafe) {
    IOPCServer* a = NewServer<IOPCServer>(IID_IOPCServer);
    IOPCServer* b = NewServer<IOPCServer>(IID_IOPCServer);
    IOPCServer* c = NewServer<IOPCServer>(IID_IOPCServer);
    (void)b;  // advises nothing
    TShutdownSink sinkA, sinkC;
    DWORD cookie = 0;
    for (auto [server, sink] : {std::pair{a, &sinkA}, std::pair{c, &sinkC}}) {
        IConnectionPoint* cp = ShutdownPoint(server);
        ASSERT_EQ(cp->Advise(sink, &cookie), S_OK);
        cp->Release();
    }
    EXPECT_EQ(CountConnectedClients(), 3);
    // Client a lets go of its server object while the request is on its way.
    servers.erase(servers.begin());
    sinkA.releaseOnRequest = a;
    RequestShutdownOfEveryClient();
    EXPECT_EQ(sinkA.reasons.size(), 1u);
    EXPECT_EQ(sinkC.reasons.size(), 1u);
    EXPECT_EQ(sinkA.refs, 1) << "the departed server object released its sink";
    EXPECT_EQ(ServerSlots[0], nullptr);
    EXPECT_EQ(CountConnectedClients(), 2);
    for (IUnknown* s : servers) s->Release();  // before the sinks go
    servers.clear();
}

TEST_F(Shutdown, DisconnectingCutsOffAClientThatHoldsOnlyTheConnectionPoint) {
    IOPCServer* server = NewServer<IOPCServer>(IID_IOPCServer);
    IConnectionPoint* cp = ShutdownPoint(server);
    TShutdownSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    // A client's proxy of the point, as a client that keeps it for Unadvise has.
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(CoMarshalInterface(stream, IID_IConnectionPoint, cp, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL), S_OK);
    cp->Release();
    servers.clear();
    server->Release();
    ASSERT_NE(ServerSlots[0], nullptr) << "the point's stub keeps the server object";

    ServerSlots[0]->DisconnectClients();
    EXPECT_EQ(ServerSlots[0], nullptr);
    EXPECT_EQ(sink.refs, 1) << "the sink was not released";
    stream->Release();
}

TEST_F(Shutdown, DialogEntriesNameTheOccupiedSlots) {
    EXPECT_TRUE(ShutDownEntries().empty());
    for (int i = 0; i < 5; ++i) NewServer<IOPCServer>(IID_IOPCServer);
    for (int i = 0; i < 4; ++i) servers[static_cast<size_t>(i)]->Release();
    servers.erase(servers.begin(), servers.begin() + 4);
    const auto entries = ShutDownEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "5");
    EXPECT_EQ(entries[0].slot, 4);
    NewServer<IOPCServer>(IID_IOPCServer);  // takes slot 0
    const auto two = ShutDownEntries();
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].text, "1");
    EXPECT_EQ(two[1].text, "5");
}

}  // namespace
}  // namespace tw::opc
