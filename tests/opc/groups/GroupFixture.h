// A server object with one group over a small tag table: device 0 is a fake Modbus device on
// loopback (tags "T1" holding register 40, "T2" register 41, "C1" coil 5), device 1 cannot be
// reached (tag "U1").
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "OPCDA.h"
#include "opc/groups/GroupUnit.h"
#include "opc/server/ServIMPL.h"

namespace tw::opc::test {

struct TAddResult {
    HRESULT hr = E_FAIL;
    std::vector<HRESULT> errors;
    std::vector<OPCITEMRESULT> results;
};

class GroupFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a group to the server; its IUnknown is released at tear-down.
    TOPCGroup* NewGroup(const wchar_t* name, BOOL active = TRUE, DWORD rate = 100);
    template <class Itf>
    Itf* As(TOPCGroup* g, REFIID iid) {
        Itf* p = nullptr;
        EXPECT_EQ(g->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
        p->Release();  // the group is held by the fixture
        return p;
    }
    // AddItems of (name, requested type, active) entries.
    struct TDef {
        const wchar_t* name;
        VARTYPE type = VT_EMPTY;
        BOOL active = TRUE;
    };
    TAddResult Add(TOPCGroup* g, const std::vector<TDef>& defs);
    // Server handles of newly added valid items, in order.
    std::vector<OPCHANDLE> AddHandles(TOPCGroup* g, const std::vector<TDef>& defs);
    static std::vector<HRESULT> Errors(HRESULT* errors, DWORD count);
    // Values that hold a client's objects or records, which no write takes: the object as
    // VT_DISPATCH and VT_UNKNOWN, a record of it, and an array holding the object (one reference).
    static std::vector<VARIANT> ObjectValues(IDispatch* object, IRecordInfo* record, void* fields);

    std::unique_ptr<tw::test::TFakeDevice> device;
    IOPCServer* server = nullptr;
    TDA2* da2 = nullptr;
    TOPCGroup* group = nullptr;
    std::vector<IUnknown*> held;
};

}  // namespace tw::opc::test
