// Every string and array of strings that the server's interfaces carry, in either direction, through
// the registered proxy/stub from this process to a configured copy of Tarnowick.exe started by COM.
// The expected texts are the tag names this test writes into the configuration and the standard OPC
// texts; in-process calls cannot show a marshalling fault, so each one is asked across processes.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "OPCCOMN.h"
#include "OPCDA.h"
#include "Processes.h"
#include "Tarnowick.h"
#include "e2e/ConfigDatabase.h"
#include "e2e/ProcessDriver.h"
#include "opc/ComText.h"
#include "opc/OpcError.h"

namespace tw::opc {
namespace {

// Names of odd and even lengths, one long enough to span many NDR alignment units.
const std::vector<std::wstring> kTags = {L"P1", L"Boiler.Temperature", L"Valve_42",
                                         L"Line3.Filler.Outlet.Pressure.Setpoint.High"};

std::string WriteConfiguration(const std::wstring& folder) {
    std::string rows;
    for (std::size_t i = 0; i < kTags.size(); ++i)
        rows += std::string(i ? "," : "") + "(1, 'tag " + std::to_string(i) + "', " + std::to_string(10 + i) +
                ", 0, '" + Narrow(kTags[i].c_str()) + "')";
    // The device is never polled here: the test needs only its tags.
    return e2e::ExecSql(folder + L"TARNOWICK.GDB",
                        std::string(e2e::kConfigSchema) +
                            "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('Plant', "
                            "'127.0.0.1', 1, 1, 0);"
                            "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
                            "VALUES " + rows + ";");
}

// A callee-allocated string as text, freed; "(null)" when the proxy delivered none, which no answer
// asked for here may be.
std::wstring Take(LPWSTR s) {
    if (!s) return L"(null)";
    std::wstring text(s);
    CoTaskMemFree(s);
    return text;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The system's text for a code as the server describes its rule: trailing characters below 33 and
// full stops removed; empty when the system has none.
std::wstring SystemText(HRESULT code) {
    char buffer[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) < 33 || text.back() == '.')) text.pop_back();
    return std::wstring(text.begin(), text.end());
}

// Every string an IEnumString yields, asked `celt` at a time until it runs out.
std::vector<std::wstring> Drain(IEnumString* e, ULONG celt) {
    std::vector<std::wstring> out;
    for (int guard = 0; guard < 100; ++guard) {
        std::vector<LPOLESTR> got(celt, nullptr);
        ULONG fetched = 0;
        const HRESULT hr = e->Next(celt, got.data(), &fetched);
        EXPECT_TRUE(hr == S_OK || hr == ENUM_RAN_OUT) << std::hex << hr;
        EXPECT_LE(fetched, celt);
        for (ULONG i = 0; i < fetched && i < celt; ++i) out.push_back(Take(got[i]));
        if (hr != S_OK || fetched < celt) break;
    }
    return out;
}

class StringsEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = e2e::InstallCopy(L"strings", e2e::GatewayFiles());
        configured = WriteConfiguration(folder);
        test::RunProgram(L"regsvr32.exe /s \"" + e2e::BinFolder() + L"TarnowickPS.dll\"", 30000);
        registered = test::RunProgram(L"\"" + folder + L"Tarnowick.exe\" /RegServer", 30000).exitCode == 0;
    }
    static void TearDownTestSuite() {
        test::RunProgram(L"\"" + e2e::BinFolder() + L"Tarnowick.exe\" /RegServer", 30000);
    }
    static std::wstring folder;
    static std::string configured;
    static bool registered;
};
std::wstring StringsEndToEnd::folder;
std::string StringsEndToEnd::configured;
bool StringsEndToEnd::registered = false;

void CheckErrorStrings(IOPCServer* server) {
    IOPCCommon* common = nullptr;
    ASSERT_EQ(server->QueryInterface(&common), S_OK);
    EXPECT_EQ(common->SetClientName(L"strings end-to-end client"), S_OK);
    const struct {
        HRESULT code;
        std::wstring text;
    } rows[] = {
        {OPC_E_DUPLICATENAME, L"Duplicate name not allowed."},
        {OPC_S_ALREADYACKED, L"The condition has already been acknowleged."},
        {OPC_E_INVALID_PID, L"The server does not recognise the passed property ID."},
        {OPC_E_INVALIDFILTER, L"The filter string was not valid."},
        {E_INVALIDARG, SystemText(E_INVALIDARG)},
        {static_cast<HRESULT>(0x8004FEDC), SystemText(static_cast<HRESULT>(0x8004FEDC))},  // likely no text: ""
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << row.code);
        LPWSTR text = nullptr;
        EXPECT_EQ(server->GetErrorString(row.code, 0x409, &text), S_OK);
        EXPECT_EQ(Take(text), row.text);
        text = nullptr;
        EXPECT_EQ(common->GetErrorString(row.code, &text), S_OK);
        EXPECT_EQ(Take(text), row.text);
    }
    common->Release();
}

void CheckBrowsing(IOPCServer* server) {
    IOPCBrowseServerAddressSpace* space = nullptr;
    ASSERT_EQ(server->QueryInterface(&space), S_OK);
    // GetItemID: an existing tag, the empty name, a name that is no tag.
    for (const std::wstring& name : kTags) {
        LPWSTR id = nullptr;
        EXPECT_EQ(space->GetItemID(const_cast<LPWSTR>(name.c_str()), &id), S_OK);
        EXPECT_EQ(Take(id), name);
    }
    LPWSTR id = nullptr;
    EXPECT_EQ(space->GetItemID(const_cast<LPWSTR>(L""), &id), S_OK);
    EXPECT_EQ(Take(id), L"");
    id = nullptr;
    EXPECT_EQ(space->GetItemID(const_cast<LPWSTR>(L"no.such.tag"), &id), E_INVALIDARG);
    EXPECT_EQ(id, nullptr);

    // The enumerator of names: several at a time (the last batch runs short), then one at a time.
    IEnumString* names = nullptr;
    ASSERT_EQ(space->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, &names), S_OK);
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(Sorted(Drain(names, 3)), Sorted(kTags));
    EXPECT_EQ(names->Reset(), S_OK);
    EXPECT_EQ(Sorted(Drain(names, 1)), Sorted(kTags));
    EXPECT_EQ(names->Reset(), S_OK);
    EXPECT_EQ(Sorted(Drain(names, 10)), Sorted(kTags));
    names->Release();
    // The filter travels in: only names beginning with "b" or "B".
    names = nullptr;
    ASSERT_EQ(space->BrowseOPCItemIDs(OPC_FLAT, L"b*", VT_EMPTY, 0, &names), S_OK);
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(Drain(names, 5), std::vector<std::wstring>{L"Boiler.Temperature"});
    names->Release();
    space->Release();
}

void CheckProperties(IOPCServer* server) {
    IOPCItemProperties* props = nullptr;
    ASSERT_EQ(server->QueryInterface(&props), S_OK);
    const std::vector<std::wstring> standard = {L"Item Canonical Data Type", L"Item Value", L"Item Quality",
                                                L"Item Timestamp", L"Item Access Rights", L"Server Scan Rate"};
    for (const std::wstring& name : kTags) {
        SCOPED_TRACE(Narrow(name.c_str()));
        DWORD count = 0;
        DWORD* ids = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        ASSERT_EQ(props->QueryAvailableProperties(const_cast<LPWSTR>(name.c_str()), &count, &ids, &descriptions, &types),
                  S_OK);
        ASSERT_EQ(count, standard.size() + 1);
        ASSERT_NE(descriptions, nullptr);
        std::vector<std::wstring> texts;
        for (DWORD i = 0; i < count; ++i) texts.push_back(Take(descriptions[i]));
        std::vector<std::wstring> expected = standard;
        expected.push_back(name);  // the tag's own property: its value, described by its name
        EXPECT_EQ(texts, expected);
        for (DWORD i = 0; i + 1 < count; ++i) EXPECT_EQ(ids[i], i + 1);
        const DWORD own = ids[count - 1];
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);

        // Several ids: only the tag's own translates to an item id. The array's holder sits between
        // guards: a proxy that sized it by the array would write over them.
        DWORD asked[] = {1, own, 5, own, 2};
        struct {
            std::uint64_t before = 0x5A5A5A5A5A5A5A5AULL;
            LPWSTR* itemIds = nullptr;
            std::uint64_t after[4] = {0x5A5A5A5A5A5A5A5AULL, 0x5A5A5A5A5A5A5A5AULL, 0x5A5A5A5A5A5A5A5AULL,
                                      0x5A5A5A5A5A5A5A5AULL};
        } out;
        HRESULT* errors = nullptr;
        const HRESULT hr = props->LookupItemIDs(const_cast<LPWSTR>(name.c_str()), 5, asked, &out.itemIds, &errors);
        EXPECT_EQ(out.before, 0x5A5A5A5A5A5A5A5AULL);
        for (std::uint64_t g : out.after) EXPECT_EQ(g, 0x5A5A5A5A5A5A5A5AULL);
        ASSERT_EQ(hr, S_FALSE);
        ASSERT_NE(out.itemIds, nullptr);
        ASSERT_NE(errors, nullptr);
        std::vector<std::wstring> itemIds;
        for (int i = 0; i < 5; ++i) itemIds.push_back(Take(out.itemIds[i]));
        EXPECT_EQ(itemIds, (std::vector<std::wstring>{L"", name, L"", name, L""}));
        EXPECT_EQ(std::vector<HRESULT>(errors, errors + 5),
                  (std::vector<HRESULT>{OPC_E_INVALID_PID, S_OK, OPC_E_INVALID_PID, S_OK, OPC_E_INVALID_PID}));
        CoTaskMemFree(out.itemIds);
        CoTaskMemFree(errors);
    }
    props->Release();
}

void CheckStatus(IOPCServer* server) {
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    ASSERT_NE(status, nullptr);
    // A maker's name followed by its web address in parentheses.
    const std::wstring vendor = Take(status->szVendorInfo);
    const std::size_t open = vendor.find(L" (");
    EXPECT_TRUE(open != std::wstring::npos && open > 0 && vendor.back() == L')' &&
                vendor.find(L'.', open) < vendor.size() - 1)
        << Narrow(vendor.c_str());
    CoTaskMemFree(status);
}

// Group names in and out; item ids in (AddItems) and out (the item attributes enumerator).
void CheckGroupAndItems(IOPCServer* server) {
    OPCHANDLE hGroup = 0;
    DWORD rate = 0;
    IUnknown* u = nullptr;
    ASSERT_EQ(server->AddGroup(L"Strings group one", TRUE, 1000, 1, nullptr, nullptr, 0x409, &hGroup, &rate,
                               IID_IOPCGroupStateMgt, &u),
              S_OK);
    auto* state = static_cast<IOPCGroupStateMgt*>(u);
    const auto name = [state] {
        DWORD r = 0, lcid = 0;
        BOOL active = FALSE;
        LPWSTR n = nullptr;
        LONG bias = 0;
        FLOAT band = 0;
        OPCHANDLE hc = 0, hs = 0;
        EXPECT_EQ(state->GetState(&r, &active, &n, &bias, &band, &lcid, &hc, &hs), S_OK);
        return Take(n);
    };
    EXPECT_EQ(name(), L"Strings group one");
    EXPECT_EQ(state->SetName(L"G2"), S_OK);
    EXPECT_EQ(name(), L"G2");
    IUnknown* found = nullptr;
    EXPECT_EQ(server->GetGroupByName(L"Strings group one", IID_IUnknown, &found), E_INVALIDARG);
    ASSERT_EQ(server->GetGroupByName(L"G2", IID_IUnknown, &found), S_OK);
    found->Release();
    IUnknown* groups = nullptr;
    ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL_CONNECTIONS, IID_IEnumString, &groups), S_OK);
    EXPECT_EQ(Drain(static_cast<IEnumString*>(groups), 2), std::vector<std::wstring>{L"G2"});
    groups->Release();

    IOPCItemMgt* mgt = nullptr;
    ASSERT_EQ(state->QueryInterface(&mgt), S_OK);
    std::vector<std::wstring> asked = kTags;
    asked.push_back(L"p1");  // names are case-sensitive: no tag
    std::vector<OPCITEMDEF> defs(asked.size());
    for (std::size_t i = 0; i < asked.size(); ++i) {
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(asked[i].c_str());
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(100 + i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(mgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors), S_FALSE);
    std::vector<HRESULT> expectedErrors(kTags.size(), S_OK);
    expectedErrors.push_back(OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(std::vector<HRESULT>(errors, errors + defs.size()), expectedErrors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    IUnknown* e = nullptr;
    ASSERT_EQ(mgt->CreateEnumerator(IID_IEnumOPCItemAttributes, &e), S_OK);
    auto* attributes = static_cast<IEnumOPCItemAttributes*>(e);
    std::map<OPCHANDLE, std::wstring> listed;
    for (ULONG celt : {3UL, 10UL}) {  // several, then more than are left
        OPCITEMATTRIBUTES* items = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = attributes->Next(celt, &items, &fetched);
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        for (ULONG i = 0; i < fetched; ++i) {
            EXPECT_EQ(Take(items[i].szAccessPath), L"");
            listed[items[i].hClient] = Take(items[i].szItemID);
            CoTaskMemFree(items[i].pBlob);
            VariantClear(&items[i].vEUInfo);
        }
        CoTaskMemFree(items);
    }
    std::map<OPCHANDLE, std::wstring> added;
    for (std::size_t i = 0; i < kTags.size(); ++i) added[static_cast<OPCHANDLE>(100 + i)] = kTags[i];
    EXPECT_EQ(listed, added);
    attributes->Release();
    mgt->Release();
    state->Release();
    EXPECT_EQ(server->RemoveGroup(hGroup, TRUE), S_OK);
}

TEST_F(StringsEndToEnd, EveryStringAndStringArrayCrossesTheProxyIntact) {
    ASSERT_TRUE(test::FileExists(folder + L"Tarnowick.exe")) << "Tarnowick.exe is not built";
    ASSERT_EQ(configured, "");
    ASSERT_TRUE(registered);
    IOPCServer* server = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    CheckErrorStrings(server);
    CheckBrowsing(server);
    CheckProperties(server);
    CheckStatus(server);
    CheckGroupAndItems(server);
    server->Release();
    EXPECT_TRUE(test::EndedByItself(L"Tarnowick.exe")) << "the server did not end with its last client";
}

}  // namespace
}  // namespace tw::opc
