#include <gtest/gtest.h>

#include "GroupFixture.h"
#include "HostileObjects.h"

#include <oleauto.h>

#include <chrono>
#include <thread>

#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "values/DataPoints.h"

namespace tw::opc::test {
namespace {

constexpr int32_t kT1 = 0, kT2 = 1, kC1 = 2, kU1 = 3;  // tag indexes

struct TRead {
    HRESULT hr = E_FAIL;
    std::vector<OPCITEMSTATE> states;
    std::vector<HRESULT> errors;
};

class SyncIO : public GroupFixture {
protected:
    TRead Read(TOPCGroup* g, OPCDATASOURCE source, std::vector<OPCHANDLE> handles) {
        TRead r;
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        r.hr = g->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
        if (states) r.states.assign(states, states + handles.size());
        r.errors = Errors(errors, static_cast<DWORD>(handles.size()));
        CoTaskMemFree(states);
        return r;
    }
    std::vector<HRESULT> Write(std::vector<OPCHANDLE> handles, std::vector<VARIANT> values, HRESULT* hr) {
        HRESULT* errors = nullptr;
        *hr = group->Write(static_cast<DWORD>(handles.size()), handles.data(), values.data(), &errors);
        for (VARIANT& v : values) VariantClear(&v);
        return Errors(errors, static_cast<DWORD>(handles.size()));
    }
    static VARIANT I4(LONG v) {
        VARIANT x;
        VariantInit(&x);
        x.vt = VT_I4;
        x.lVal = v;
        return x;
    }
    static VARIANT Text(const wchar_t* s) {
        VARIANT x;
        VariantInit(&x);
        x.vt = VT_BSTR;
        x.bstrVal = SysAllocString(s);
        return x;
    }
    static uint16_t Point(int32_t index) { return DataPoints[static_cast<size_t>(index)].Value(); }
    static std::vector<WORD> Qualities(const TRead& r) {
        std::vector<WORD> q;
        for (const auto& s : r.states) q.push_back(s.wQuality);
        return q;
    }
};

TEST_F(SyncIO, ReadFetchesEveryItemFromItsDeviceWithQualitiesBySource) {
    const auto h = AddHandles(group, {{L"T1"}, {L"T2", VT_EMPTY, FALSE}, {L"C1"}});
    device->SetRegister(40, 1234);
    device->SetRegister(41, 4321);
    device->SetCoil(5, true);
    da2->SetLastUpdateTime(45000.5);

    TRead r = Read(group, OPC_DS_CACHE, {h[0], h[1], 31337, h[2]});
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    ASSERT_EQ(r.states.size(), 4u);
    EXPECT_EQ(r.states[0].vDataValue.vt, VT_I4);  // the canonical type is served as VT_I4
    EXPECT_EQ(r.states[0].vDataValue.lVal, 1234);
    EXPECT_EQ(r.states[1].vDataValue.lVal, 4321);  // inactive items are read through too
    EXPECT_EQ(r.states[3].vDataValue.lVal, 1);
    EXPECT_EQ(Qualities(r), (std::vector<WORD>{0xC0, 0x1C, 0, 0xC0}));
    EXPECT_EQ(r.states[2].hClient, 0u);  // the unknown handle's entry stays zero
    EXPECT_EQ(r.states[2].vDataValue.vt, VT_EMPTY);
    EXPECT_EQ(r.states[0].hClient, 100u);
    const FILETIME stamp = LocalDateTimeToFileTime(45000.5);
    EXPECT_EQ(r.states[0].ftTimeStamp.dwLowDateTime, stamp.dwLowDateTime);
    EXPECT_EQ(r.states[0].ftTimeStamp.dwHighDateTime, stamp.dwHighDateTime);
    EXPECT_EQ(Point(kT1), 1234);

    device->SetRegister(40, 99);
    r = Read(group, OPC_DS_DEVICE, {h[0], h[1]});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(Qualities(r), (std::vector<WORD>{0xC0, 0xC0}));
    EXPECT_EQ(r.states[0].vDataValue.lVal, 99);

    // An inactive group: its active items are out of service from the cache, good from the device.
    BOOL off = FALSE;
    auto* state = As<IOPCGroupStateMgt>(group, IID_IOPCGroupStateMgt);
    ASSERT_EQ(state->SetState(nullptr, nullptr, &off, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Qualities(Read(group, OPC_DS_CACHE, {h[0], h[1]})), (std::vector<WORD>{0x1C, 0x1C}));
    r = Read(group, OPC_DS_DEVICE, {h[0]});
    EXPECT_EQ(Qualities(r), std::vector<WORD>{0xC0});
    EXPECT_EQ(r.states[0].vDataValue.lVal, 99);

    OPCITEMSTATE* states = reinterpret_cast<OPCITEMSTATE*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    for (DWORD source : {0u, 3u}) {
        EXPECT_EQ(group->Read(static_cast<OPCDATASOURCE>(source), 1, const_cast<OPCHANDLE*>(h.data()), &states,
                              &errors),
                  E_INVALIDARG);
        EXPECT_EQ(states, nullptr);
        EXPECT_EQ(errors, nullptr);
    }
    EXPECT_EQ(group->Read(OPC_DS_CACHE, 0, const_cast<OPCHANDLE*>(h.data()), &states, &errors), E_INVALIDARG);
}

// A read reports how the device answered: the last value with the quality of the failure, and 0 as
// not connected for a device that never answered.
TEST_F(SyncIO, ReadReportsTheQualityTheDeviceAnsweredWith) {
    const auto h = AddHandles(group, {{L"T1"}, {L"U1"}});
    device->SetRegister(40, 1234);
    TRead r = Read(group, OPC_DS_DEVICE, h);
    EXPECT_EQ(Qualities(r), (std::vector<WORD>{kQualityGood, kQualityCommFailure}));
    EXPECT_EQ(r.states[1].vDataValue.lVal, 0);
    device->SetMode(tw::test::TFakeDevice::Refusing);
    device->SetRegister(40, 1);
    for (OPCDATASOURCE source : {OPC_DS_DEVICE, OPC_DS_CACHE}) {
        r = Read(group, source, {h[0]});
        EXPECT_EQ(r.hr, S_OK);  // the quality, not the entry, carries the device's failure
        EXPECT_EQ(Qualities(r), std::vector<WORD>{kQualityConfigError});
        EXPECT_EQ(r.states[0].vDataValue.lVal, 1234);
    }
}

// A poll read that was in flight may store an older value into the point just after a read from the
// device stored its own: the read still answers the value it obtained.
TEST_F(SyncIO, ReadAnswersWhatItObtainedThoughTheCacheTakesAnOlderValue) {
    const auto h = AddHandles(group, {{L"T1"}});
    device->SetRegister(40, 1051);
    device->AfterNextReadAnswer([] {
        // The reader stores what it received, then pauses before it answers: the stale store lands there.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (DataPoints[kT1].Value() != 1051 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        DataPoints[kT1].Store(1050, kQualityGood);
    });
    const TRead r = Read(group, OPC_DS_DEVICE, h);
    ASSERT_EQ(r.states.size(), 1u);
    EXPECT_EQ(r.states[0].vDataValue.lVal, 1051);
    EXPECT_EQ(r.states[0].wQuality, kQualityGood);
}

TEST_F(SyncIO, ValuesFollowTheRequestedTypeAndOverflowIsBadQuality) {
    const auto h = AddHandles(group, {{L"T1", VT_UI2}, {L"T1", VT_I2}, {L"T1", VT_BSTR}, {L"T2", VT_I2}});
    device->SetRegister(40, 40000);
    device->SetRegister(41, 123);
    const TRead r = Read(group, OPC_DS_DEVICE, h);
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{S_OK, DISP_E_OVERFLOW, S_OK, S_OK}));
    EXPECT_EQ(r.states[0].vDataValue.vt, VT_I4);
    EXPECT_EQ(r.states[0].vDataValue.lVal, 40000);
    EXPECT_EQ(r.states[1].wQuality, 0x00);
    EXPECT_EQ(r.states[1].vDataValue.vt, VT_EMPTY);
    EXPECT_EQ(group->Items()[1].Quality, kQualityGood);  // the item's own quality is untouched
    ASSERT_EQ(r.states[2].vDataValue.vt, VT_BSTR);
    EXPECT_STREQ(r.states[2].vDataValue.bstrVal, L"40000");
    EXPECT_EQ(r.states[3].vDataValue.vt, VT_I2);
    EXPECT_EQ(r.states[3].vDataValue.iVal, 123);
    for (OPCITEMSTATE s : r.states) VariantClear(&s.vDataValue);
}

TEST_F(SyncIO, WriteRangeChecksThenWritesTheDeviceWhoseAnswerDecides) {
    const auto h = AddHandles(group, {{L"T1"}, {L"C1"}, {L"U1"}});
    device->SetRegister(40, 8);
    HRESULT hr = E_FAIL;
    VARIANT empty;
    VariantInit(&empty);
    VARIANT array;
    VariantInit(&array);
    array.vt = VT_ARRAY | VT_I4;  // refused by its type before anything looks at the contents
    EXPECT_EQ(Write({h[0], h[0], h[0], h[0], h[0], 555}, {I4(70000), I4(-1), empty, Text(L"abc"), array, I4(1)}, &hr),
              (std::vector<HRESULT>{DISP_E_OVERFLOW, DISP_E_OVERFLOW, OPC_E_BADTYPE, OPC_E_BADTYPE, OPC_E_BADTYPE,
                                    OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(Point(kT1), 0);
    EXPECT_EQ(device->Register(40), 8);  // not written
    EXPECT_TRUE(device->Requests().empty());

    EXPECT_EQ(Write({h[0], h[1]}, {Text(L"123"), I4(5)}, &hr), (std::vector<HRESULT>{S_OK, S_OK}));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Point(kT1), 123);
    EXPECT_EQ(device->Register(40), 123);
    EXPECT_TRUE(device->Coil(5));
    EXPECT_EQ(Point(kC1), 1);  // what the coil holds
    EXPECT_EQ(DataPoints[kT1].Quality(), kQualityGood);

    EXPECT_EQ(Write({h[0]}, {I4(65535)}, &hr), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(device->Register(40), 65535);

    // A device that does not take the value fails its entry; the data point does not pretend it did.
    device->SetMode(tw::test::TFakeDevice::Refusing);
    EXPECT_EQ(Write({h[0], h[2]}, {I4(7), I4(5)}, &hr), (std::vector<HRESULT>{E_FAIL, E_FAIL}));
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(Point(kT1), 65535);
    EXPECT_EQ(DataPoints[kT1].Quality(), kQualityGood);  // refused: the device still holds 65535
    EXPECT_EQ(Point(kU1), 0);
    EXPECT_EQ(DataPoints[kU1].Quality(), kQualityCommFailure);
    (void)kT2;
}

// Objects and records are no numbers: a write refuses them without calling into them. Converting
// an object asks the client for its value from inside the write, and this one's value is the
// object itself again, which never converts (the write would never return).
TEST_F(SyncIO, ObjectsAndRecordsAreRefusedWithoutCallingIntoThem) {
    const auto h = AddHandles(group, {{L"T1"}});
    ASSERT_EQ(h.size(), 1u);
    auto* itself = new hostile::TValueObject(hostile::TValueObject::Itself);
    auto* record = new hostile::TRecordInfo;
    LONG fields = 5;
    std::vector<VARIANT> values = ObjectValues(itself, record, &fields);
    std::vector<OPCHANDLE> handles(values.size(), h[0]);
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->Write(static_cast<DWORD>(values.size()), handles.data(), values.data(), &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 4), std::vector<HRESULT>(4, OPC_E_BADTYPE));
    EXPECT_EQ(itself->CalledInto(), 0);
    EXPECT_EQ(record->Copies(), 0);
    SafeArrayDestroy(values[3].parray);
    EXPECT_EQ(itself->Release(), 0u);
    EXPECT_EQ(record->Release(), 0u);
}

}  // namespace
}  // namespace tw::opc::test
