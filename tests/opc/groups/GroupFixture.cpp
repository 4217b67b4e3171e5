#include "GroupFixture.h"

#include <oleauto.h>

#include "acquisition/ModBusObjList.h"
#include "opc/ComText.h"
#include "tags/TagTable.h"

namespace tw::opc::test {
namespace {

void AddRegister(TModBusObj& device, int number, int type, const char* tag) {
    TIOPointObj& r = device.Registers[static_cast<size_t>(device.AddRegister())];
    r.RegisterNo = number;
    r.RegisterType = type;
    r.TagName = tag;
}

}  // namespace

void GroupFixture::SetUp() {
    device = std::make_unique<tw::test::TFakeDevice>();
    DeviceList.Clear();
    TModBusObj& fake = DeviceList.Add();
    fake.SetConnection("127.0.0.1", device->Port(), 1);
    AddRegister(fake, 40, 0, "T1");
    AddRegister(fake, 41, 0, "T2");
    AddRegister(fake, 5, 1, "C1");
    TModBusObj& gone = DeviceList.Add();
    gone.SetConnection("127.0.0.1", 1, 1);  // nothing listens there
    AddRegister(gone, 1, 0, "U1");
    BuildTagTable(DeviceList);

    ASSERT_EQ(TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&server)), S_OK);
    da2 = static_cast<TDA2*>(server);
    group = NewGroup(L"G");
}

void GroupFixture::TearDown() {
    for (IUnknown* u : held) u->Release();
    if (server) server->Release();
    DeviceList.Clear();
    ResetTagTable();
}

TOPCGroup* GroupFixture::NewGroup(const wchar_t* name, BOOL active, DWORD rate) {
    OPCHANDLE h = 0;
    DWORD revised = 0;
    IUnknown* u = nullptr;
    EXPECT_TRUE(SUCCEEDED(server->AddGroup(name, active, rate, 7, nullptr, nullptr, 0x409, &h, &revised,
                                           IID_IUnknown, &u)));
    if (!u) return nullptr;
    held.push_back(u);
    return da2->PrivateGroups().back();
}

TAddResult GroupFixture::Add(TOPCGroup* g, const std::vector<TDef>& defs) {
    std::vector<OPCITEMDEF> items(defs.size());
    for (size_t i = 0; i < defs.size(); ++i) {
        items[i] = OPCITEMDEF{};
        items[i].szItemID = const_cast<LPWSTR>(defs[i].name);
        items[i].szAccessPath = const_cast<LPWSTR>(L"");
        items[i].bActive = defs[i].active;
        items[i].hClient = static_cast<OPCHANDLE>(100 + i);
        items[i].vtRequestedDataType = defs[i].type;
    }
    TAddResult r;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    r.hr = g->AddItems(static_cast<DWORD>(items.size()), items.data(), &results, &errors);
    if (results) r.results.assign(results, results + items.size());
    r.errors = Errors(errors, static_cast<DWORD>(items.size()));
    CoTaskMemFree(results);
    return r;
}

std::vector<OPCHANDLE> GroupFixture::AddHandles(TOPCGroup* g, const std::vector<TDef>& defs) {
    const TAddResult r = Add(g, defs);
    std::vector<OPCHANDLE> handles;
    for (size_t i = 0; i < r.results.size(); ++i)
        if (r.errors[i] == S_OK) handles.push_back(r.results[i].hServer);
    return handles;
}

std::vector<HRESULT> GroupFixture::Errors(HRESULT* errors, DWORD count) {
    std::vector<HRESULT> out;
    if (errors) out.assign(errors, errors + count);
    CoTaskMemFree(errors);
    return out;
}

std::vector<VARIANT> GroupFixture::ObjectValues(IDispatch* object, IRecordInfo* record, void* fields) {
    std::vector<VARIANT> values(4);
    for (VARIANT& v : values) VariantInit(&v);
    values[0].vt = VT_DISPATCH;
    values[0].pdispVal = object;
    values[1].vt = VT_UNKNOWN;
    values[1].punkVal = object;
    values[2].vt = VT_RECORD;
    values[2].pRecInfo = record;
    values[2].pvRecord = fields;
    values[3].vt = VT_ARRAY | VT_DISPATCH;
    values[3].parray = SafeArrayCreateVector(VT_DISPATCH, 0, 1);
    LONG at = 0;
    SafeArrayPutElement(values[3].parray, &at, object);
    return values;
}

}  // namespace tw::opc::test
