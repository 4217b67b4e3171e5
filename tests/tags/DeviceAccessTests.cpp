// Tag-level reads and writes reach the right register of the right device.
#include "FakeDevice.h"
#include "tags/DeviceAccess.h"
#include "tags/TagTable.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

TEST(DeviceAccess, TagsReachTheirDeviceAndRegister) {
    TFakeDevice first, second;
    second.SetRegister(20, 2020);
    TModBusObj& a = DeviceList.Add();
    a.SetConnection("127.0.0.1", first.Port(), 1);
    TModBusObj& b = DeviceList.Add();
    b.SetConnection("127.0.0.1", second.Port(), 2);
    for (TModBusObj* d : {&a, &b}) {
        for (int no : {10, 20}) {
            TIOPointObj& p = d->Registers[static_cast<std::size_t>(d->AddRegister())];
            p.RegisterNo = no;
            p.TagName = "T" + std::to_string(no);
        }
    }
    b.Registers[0].RegisterType = 1;
    BuildTagTable(DeviceList);

    WriteTagToDevice(1, 70000);  // the low 16 bits go out
    EXPECT_EQ(first.Register(20), 4464);
    WriteTagToDevice(2, 1);
    EXPECT_TRUE(second.Coil(10));
    EXPECT_EQ(second.Requests().back()[6], 2);  // unit of device b
    EXPECT_EQ(ReadTagFromDevice(3), 2020);
    EXPECT_EQ(DataPoints[3].Value(), 2020);

    // Indexes that name no tag, or a tag whose device is gone, do nothing.
    EXPECT_EQ(ReadTagFromDevice(-1), 0);
    EXPECT_EQ(ReadTagFromDevice(4), 0);
    WriteTagToDevice(4, 1);
    DeviceList.Clear();
    EXPECT_EQ(ReadTagFromDevice(0), 0);
    ResetTagTable();
}

}  // namespace
}  // namespace tw::test
