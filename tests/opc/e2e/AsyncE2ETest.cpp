// Subscriptions and asynchronous I/O across processes: a copy of Tarnowick.exe, started as an
// operator starts it with "Start Polling" ticked, polls a fake Modbus device on loopback whose
// values this test changes; this process and opcda-cli subscribe through the proxy.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FakeDevice.h"
#include "OPCDA.h"
#include "ClientSupport.h"
#include "Processes.h"
#include "Tarnowick.h"
#include "e2e/ProcessDriver.h"
#include "groups/FakeDataSink.h"
#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "opc/server/ConsoleResource.h"
#include "resource.h"

namespace tw::opc {
namespace {

using test::TCallback;
using test::TCallbackKind;
using test::TFakeDataSink;
using test::PumpUntil;

constexpr DWORD kStartMs = 20000;
constexpr OPCHANDLE kGroupClient = 77;

const TCallback* Find(const TFakeDataSink& sink, TCallbackKind kind, DWORD transid) {
    for (const TCallback& c : sink.calls)
        if (c.kind == kind && c.transid == transid) return &c;
    return nullptr;
}

class AsyncEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        copy = new test::TGatewayCopy(L"async");
        copy->device.SetRegister(40, 100);
        copy->device.SetRegister(41, 41);
        device = &copy->device;
        folder = copy->folder;
    }
    static void TearDownTestSuite() {
        delete copy;
        copy = nullptr;
    }

    static test::TGatewayCopy* copy;
    static tw::test::TFakeDevice* device;
    static std::wstring folder;
};
test::TGatewayCopy* AsyncEndToEnd::copy = nullptr;
tw::test::TFakeDevice* AsyncEndToEnd::device = nullptr;
std::wstring AsyncEndToEnd::folder;

// The data changes of the subscription (transid 0) carrying a T1 value, in order.
std::vector<LONG> SubscribedValues(const TFakeDataSink& sink, std::size_t from = 0) {
    std::vector<LONG> values;
    for (std::size_t i = from; i < sink.calls.size(); ++i) {
        const TCallback& c = sink.calls[i];
        if (c.kind != TCallbackKind::DataChange || c.transid != 0) continue;
        for (std::size_t j = 0; j < c.clients.size(); ++j)
            if (c.clients[j] == 1) values.push_back(c.values[j]);
    }
    return values;
}

// Lines of opcda-cli --json subscribe output that report T1 with good quality: their values.
std::set<std::string> CliGoodValues(const std::string& output) {
    std::set<std::string> values;
    std::size_t at = 0;
    while ((at = output.find("{\"event\":\"dataChange\"", at)) != std::string::npos) {
        const std::string line = output.substr(at, output.find('\n', at) - at);
        at += line.size();
        if (line.find("\"item\":\"T1\"") == std::string::npos || line.find("\"quality\":192") == std::string::npos)
            continue;
        const std::size_t v = line.find("\"value\":\"") + 9;
        values.insert(line.substr(v, line.find('"', v) - v));
    }
    return values;
}

TEST_F(AsyncEndToEnd, SubscriptionAndAsyncRequestsThroughTheProxyOutliveAKilledClient) {
    ASSERT_TRUE(test::FileExists(folder + L"Tarnowick.exe")) << "Tarnowick.exe is not built";
    ASSERT_EQ(copy->configured, "");
    e2e::TProcess gateway = e2e::TProcess::Start(folder + L"Tarnowick.exe");
    HWND main = test::TickStartPolling(gateway.Pid(), kStartMs, kStartMs);
    ASSERT_NE(main, nullptr) << "the gateway showed no main window";

    IOPCServer* server = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    OPCHANDLE hGroup = 0;
    DWORD rate = 0;
    IOPCItemMgt* mgt = nullptr;
    ASSERT_EQ(server->AddGroup(L"async", TRUE, 200, kGroupClient, nullptr, nullptr, 0x409, &hGroup, &rate,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(&mgt)),
              S_OK);
    std::vector<OPCHANDLE> h = test::AddActiveItems(mgt, {L"T1", L"T2"});
    ASSERT_EQ(h.size(), 2u);

    TFakeDataSink sink;
    IConnectionPointContainer* cpc = nullptr;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    ASSERT_EQ(mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    IOPCAsyncIO2* async = nullptr;
    ASSERT_EQ(mgt->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void**>(&async)), S_OK);

    // The first data change reports both items with the device's values.
    ASSERT_TRUE(PumpUntil([&] { return !SubscribedValues(sink).empty() && SubscribedValues(sink).back() == 100; },
                          kStartMs))
        << "no data change with the device's value; is the pulse running?";
    for (const TCallback& c : sink.calls) {
        EXPECT_EQ(c.group, kGroupClient);
        for (WORD q : c.qualities) EXPECT_EQ(q, 0xC0);
    }

    // Another client subscribes through opcda-cli and is killed while subscribed.
    std::string cliOutput;
    std::thread killed([&] {
        const std::wstring cli = L"\"" + e2e::BinFolder() + L"opcda-cli.exe\" --json " +
                                 L"{FE4F5263-11D5-4724-95BA-A978983B6369} subscribe T1,T2 --rate 100";
        cliOutput = test::RunProgram(cli, 5000).output;  // ended by its id at the time-out
    });
    const std::size_t mark = sink.calls.size();
    const ULONGLONG changing = GetTickCount64();
    for (uint16_t v = 101; GetTickCount64() - changing < 4000; ++v) {
        device->SetRegister(40, v);
        PumpUntil([] { return false; }, 300);
    }
    PumpUntil([] { return false; }, 1000);  // the kill happens meanwhile
    killed.join();
    EXPECT_GE(CliGoodValues(cliOutput).size(), 3u) << cliOutput;

    // This client's subscription followed the changes at its own rate, and goes on after the kill.
    const std::size_t perRate = SubscribedValues(sink, mark).size();
    EXPECT_GE(perRate, 4u);
    EXPECT_LE(perRate, 5000u / 200u + 2u) << "more data changes than the update rate allows";
    const std::size_t afterKill = sink.calls.size();
    device->SetRegister(40, 4242);
    EXPECT_TRUE(PumpUntil(
        [&] {
            const auto v = SubscribedValues(sink, afterKill);
            return !v.empty() && v.back() == 4242;
        },
        5000))
        << "updates stopped after another client was killed";

    // Read, write and refresh complete through the proxy with the request's transaction id.
    DWORD cancel = 0;
    HRESULT* e = nullptr;
    ASSERT_EQ(async->Read(2, h.data(), 11, &cancel, &e), S_OK);
    CoTaskMemFree(e);
    ASSERT_TRUE(PumpUntil([&] { return Find(sink, TCallbackKind::ReadComplete, 11) != nullptr; }, 5000));
    const TCallback* read = Find(sink, TCallbackKind::ReadComplete, 11);
    EXPECT_EQ(read->values, (std::vector<LONG>{4242, 41}));
    EXPECT_EQ(read->masterQuality, S_OK);

    VARIANT values[2];
    for (VARIANT& v : values) {
        VariantInit(&v);
        v.vt = VT_I4;
    }
    values[0].lVal = 70000;
    values[1].lVal = 5;
    ASSERT_EQ(async->Write(2, h.data(), values, 12, &cancel, &e), S_OK);
    CoTaskMemFree(e);
    ASSERT_TRUE(PumpUntil([&] { return Find(sink, TCallbackKind::WriteComplete, 12) != nullptr; }, 5000));
    const TCallback* write = Find(sink, TCallbackKind::WriteComplete, 12);
    EXPECT_EQ(write->errors, (std::vector<HRESULT>{DISP_E_OVERFLOW, S_OK}));
    EXPECT_EQ(write->masterError, S_FALSE);
    EXPECT_EQ(device->Register(41), 5);
    EXPECT_EQ(device->Register(40), 4242);

    ASSERT_EQ(async->Refresh2(OPC_DS_CACHE, 13, &cancel), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return Find(sink, TCallbackKind::DataChange, 13) != nullptr; }, 5000));
    EXPECT_EQ(Find(sink, TCallbackKind::DataChange, 13)->clients, (std::vector<OPCHANDLE>{1, 2}));

    // Cancel2 from inside a callback. Callbacks come from this client's own delivery thread, so what
    // it calls inside one reaches the server between passes: the read being completed is gone (E_FAIL,
    // no notice); a read queued and cancelled at once is either still queued (S_OK, its notice, never
    // its completion) or already carried out by a pass (E_FAIL, its completion, no notice). Read 35,
    // asked for after that callback, completes after whichever came.
    DWORD first = 0, queued = 0;
    HRESULT cancelCompleted = S_OK, cancelQueued = S_OK;
    sink.inside = [&](const TCallback& c) {
        if (c.kind != TCallbackKind::ReadComplete || c.transid != 30) return;
        cancelCompleted = async->Cancel2(first);
        HRESULT* errors = nullptr;
        EXPECT_EQ(async->Read(2, h.data(), 31, &queued, &errors), S_OK);
        CoTaskMemFree(errors);
        cancelQueued = async->Cancel2(queued);
    };
    ASSERT_EQ(async->Read(2, h.data(), 30, &first, &e), S_OK);
    CoTaskMemFree(e);
    ASSERT_TRUE(PumpUntil([&] { return Find(sink, TCallbackKind::ReadComplete, 30) != nullptr; }, 5000));
    sink.inside = nullptr;
    ASSERT_EQ(async->Read(2, h.data(), 35, &cancel, &e), S_OK);
    CoTaskMemFree(e);
    ASSERT_TRUE(PumpUntil([&] { return Find(sink, TCallbackKind::ReadComplete, 35) != nullptr; }, 5000));
    EXPECT_EQ(cancelCompleted, E_FAIL);
    EXPECT_EQ(Find(sink, TCallbackKind::CancelComplete, 30), nullptr) << "a cancel notice for a completed read";
    const bool noticed = Find(sink, TCallbackKind::CancelComplete, 31) != nullptr;
    const bool completed = Find(sink, TCallbackKind::ReadComplete, 31) != nullptr;
    EXPECT_NE(noticed, completed) << "read 31: a cancel notice and a completion, or neither";
    EXPECT_EQ(cancelQueued == S_OK, noticed) << "Cancel2 answered " << std::hex << cancelQueued;

    // A forced RemoveGroup while this client still holds the group and its connection point (kept for
    // a later Unadvise, as clients do): the group is gone at once, counted and listed nowhere, its name
    // is free, and the sink hears nothing more, while a new group of that name reports a change.
    ASSERT_EQ(server->RemoveGroup(hGroup, TRUE), S_OK);
    const std::size_t removedAt = sink.calls.size();
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 0u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    IUnknown* names = nullptr;
    EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, &names), S_FALSE) << "still listed";
    if (names) names->Release();
    OPCHANDLE hAgain = 0;
    IOPCItemMgt* again = nullptr;
    ASSERT_EQ(server->AddGroup(L"async", TRUE, 200, kGroupClient, nullptr, nullptr, 0x409, &hAgain, &rate,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(&again)),
              S_OK)
        << "the removed group's name is still taken";
    ASSERT_EQ(test::AddActiveItems(again, {L"T1"}).size(), 1u);
    TFakeDataSink sinkAgain;
    DWORD cookieAgain = 0;
    IConnectionPoint* cpAgain = test::AdviseDataCallback(again, &sinkAgain, &cookieAgain);
    ASSERT_NE(cpAgain, nullptr);
    device->SetRegister(40, 5151);
    EXPECT_TRUE(PumpUntil(
        [&] {
            const auto v = SubscribedValues(sinkAgain);
            return !v.empty() && v.back() == 5151;
        },
        5000));
    EXPECT_EQ(sink.calls.size(), removedAt) << "the removed group still sends to its sink";
    EXPECT_TRUE(FAILED(cp->Unadvise(cookie))) << "the removed group's connection point still answers";
    cpAgain->Unadvise(cookieAgain);
    CoDisconnectObject(&sinkAgain, 0);
    cpAgain->Release();
    again->Release();

    cp->Unadvise(cookie);
    CoDisconnectObject(&sink, 0);
    async->Release();
    cp->Release();
    cpc->Release();
    mgt->Release();
    server->Release();
    ASSERT_TRUE(e2e::SendCopyData(main, "Exit"));
    EXPECT_TRUE(gateway.WaitExit(15000));
}

// A 32-bit client (opcda-cli32) against the 64-bit gateway, as most plant clients are: it reaches the
// server only through the 32-bit proxy/stub, which the gateway's register mode registers in the 32-bit
// registry view. Every kind of string the widl repair concerns crosses here (item ids from GetItemID
// and LookupItemIDs, the group's name, error texts); the device is the oracle of the writes.
TEST_F(AsyncEndToEnd, A32BitClientDoesEverythingThroughTheProxyStubTheRegisterModeRegisters) {
    const std::wstring bin = e2e::BinFolder();
    const std::wstring cli = L"\"" + bin + L"x86\\opcda-cli32.exe\" ";
    ASSERT_TRUE(test::FileExists(bin + L"x86\\opcda-cli32.exe")) << "opcda-cli32.exe is not built";
    wchar_t wow64[MAX_PATH];
    ASSERT_GT(GetSystemWow64DirectoryW(wow64, MAX_PATH), 0u) << "no 32-bit Windows (wine32) here";
    // No 32-bit proxy/stub of ours registered; the copy's register mode registers the one beside it.
    test::RunProgram(L"\"" + std::wstring(wow64) + L"\\regsvr32.exe\" /s /u \"" + bin + L"x86\\TarnowickPS32.dll\"",
                     30000);
    CreateDirectoryW((folder + L"x86").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((bin + L"x86\\TarnowickPS32.dll").c_str(), (folder + L"x86\\TarnowickPS32.dll").c_str(),
                          FALSE));
    ASSERT_EQ(test::RunProgram(L"\"" + folder + L"Tarnowick.exe\" /RegServer /S", 60000).exitCode, 0u);

    device->SetRegister(40, 300);
    device->SetRegister(41, 41);
    e2e::TProcess gateway = e2e::TProcess::Start(folder + L"Tarnowick.exe");
    HWND main = test::TickStartPolling(gateway.Pid(), kStartMs, kStartMs);
    ASSERT_NE(main, nullptr) << "the gateway showed no main window";
    HWND console = test::OpenServerConsole(gateway.Pid(), main, kStartMs);
    ASSERT_NE(console, nullptr);

    // By ProgID: the address space, the strings, items, synchronous and asynchronous reads and writes.
    auto r = test::RunProgram(cli + L"VelmoraTarnowick.DA2.1 status browse --item-ids properties T2 --item-ids "
                                    L"error 0xC0040007 --common add-group G --rate 100 state G add G T1,T2 read G "
                                    L"write G T2=9 read G --async write G T2=11,nosuch=1 --async remove-group G",
                              60000);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    for (const char* expected : {"state: running",
                                 "- T1\tT1", "- T2\tT2", "- U1\tU1",                 // GetItemID
                                 "\tItem Canonical Data Type\t2\t18\t",
                                 "text: The item is no longer available in the server address space.",
                                 "name: G", "updateRate: 100",                      // GetState
                                 "T2: value=41 vt=3 quality=0xC0 (good)",           // read from the device
                                 "T2: value=9 vt=3 quality=0xC0 (good)",            // the async read after the write
                                 "nosuch: error=0xC0040001", "remove-group: ok"})
        EXPECT_NE(r.output.find(expected), std::string::npos) << "no \"" << expected << "\" in\n" << r.output;
    EXPECT_EQ(device->Register(41), 11) << "the asynchronous write did not reach the device";
    // LookupItemIDs: the property that stands for the item itself names the item.
    const std::size_t own = r.output.find("\tT2\t18\t");
    ASSERT_NE(own, std::string::npos) << r.output;
    const std::string line = r.output.substr(own, r.output.find_first_of("\r\n", own) - own);
    EXPECT_EQ(line.substr(line.rfind('\t')), "\tT2") << line;

    // By CLSID: a subscription follows the device's changes.
    std::string subscribed;
    std::thread client([&] {
        subscribed = test::RunProgram(cli + L"--json {FE4F5263-11D5-4724-95BA-A978983B6369} subscribe T1 --rate 100 "
                                            L"--duration 4",
                                      60000)
                         .output;
    });
    for (uint16_t v = 301; v < 320; ++v) {
        device->SetRegister(40, v);
        Sleep(250);
    }
    client.join();
    EXPECT_GE(CliGoodValues(subscribed).size(), 3u) << subscribed;
    EXPECT_NE(subscribed.find("\"ok\":true"), std::string::npos) << subscribed;

    // Both let go of everything they held.
    EXPECT_TRUE(test::WaitConsoleCounts(console, L"0", L"0", 15000))
        << "clients " << Narrow(e2e::ControlText(console, IDC_CLIENTCONLBL).c_str()) << ", groups "
        << Narrow(e2e::ControlText(console, IDC_GRPCOUNTLBL).c_str());
    e2e::PressButton(console, L"Close");
    ASSERT_TRUE(e2e::SendCopyData(main, "Exit"));
    EXPECT_TRUE(gateway.WaitExit(15000));
}

}  // namespace
}  // namespace tw::opc
