// The simulate dialog's value filter and the hand-set write and store.
#include "acquisition/SimulateOPC.h"

#include "DeviceTestSupport.h"
#include "acquisition/ModBusObjList.h"
#include "tags/TagTable.h"

namespace tw::test {
namespace {

TEST(SimulateValueField, AcceptsOnlyWholeSigned32BitNumbers) {
    for (const char* text : {"0", "123", "-1", "007", "2147483647", "-2147483648"})
        EXPECT_TRUE(WholeNumberValue(text).has_value()) << text;
    for (const char* text : {"", "-", "+1", "1.5", " 1", "1 ", "--1", "2147483648", "-2147483649", "99999999999"})
        EXPECT_FALSE(WholeNumberValue(text).has_value()) << text;
    EXPECT_EQ(*WholeNumberValue("-2147483648"), INT32_MIN);
}

TEST(SimulateValueField, KeyFilterRefusesWhatWouldLeaveNoWholeNumber) {
    struct Case {
        const char* text;
        std::size_t from, to;
        char key;
        bool accepted;
    };
    const Case cases[] = {
        {"", 0, 0, '-', true},            {"", 0, 0, 'a', false},           {"12", 1, 1, '-', false},
        {"12", 0, 0, '-', true},          {"12", 2, 2, '.', false},         {"12", 2, 2, '\b', true},
        {"214748364", 9, 9, '7', true},   {"214748364", 9, 9, '8', false},  {"-214748364", 10, 10, '8', true},
        {"-214748364", 10, 10, '9', false}, {"65535", 0, 5, '9', true},     {"65535", 5, 0, 'x', false},
        {"1", 7, 9, '0', true},
    };
    for (const Case& c : cases) {
        TfrmSimulate form;
        form.edtValue = c.text;
        EXPECT_EQ(form.edtValueKeyPress(c.key, c.from, c.to), c.accepted) << c.text << " + " << c.key;
    }
    EXPECT_FALSE(TfrmSimulate::AcceptsEdit("1", 0, 0, "2a"));  // a paste is judged whole
}

class FakeSimulateDialog : public ISimulateDialog {
public:
    std::optional<std::string> typed;  // "Set" with this text; none: "Cancel"
    std::vector<std::pair<std::string, std::string>> opened;  // tag label and value field as shown
    bool Execute(TfrmSimulate& form) override {
        opened.emplace_back(form.lblOPCTag, form.edtValue);
        if (typed) form.edtValue = *typed;
        return typed.has_value();
    }
};

struct SimulateTest : DeviceTest {
    TFakeDevice peer;
    TModBusObjList devices;
    FakeSimulateDialog dialog;
    std::vector<std::string> warnings;
    std::vector<std::pair<int, std::string>> shownValues;

    void SetUp() override {
        devices.Add().Description = "Other";  // the tested device sits at position 1
        TModBusObj& device = devices.Add();
        device.SetConnection("127.0.0.1", peer.Port(), 1);
        UseShortTimeOuts(device);
        AddRegister(device, 40, 0, "Level");
        AddRegister(device, 7, 1, "Valve");
        AddRegister(devices[0], 40, 0, "Level");  // same name on another device
        BuildTagTable(devices);
    }
    void TearDown() override {
        ResetTagTable();
        DeviceTest::TearDown();
    }
    static void AddRegister(TModBusObj& device, int number, int type, const std::string& tag) {
        const int r = device.AddRegister();
        device.Registers[static_cast<std::size_t>(r)].RegisterNo = number;
        device.Registers[static_cast<std::size_t>(r)].RegisterType = type;
        device.Registers[static_cast<std::size_t>(r)].TagName = tag;
    }
    TSimulateSelection Row(const std::string& tag, int row = 1) {
        TSimulateSelection selection;
        selection.Row = row;
        selection.TagName = tag;
        selection.TagValue = "5";
        selection.Device = &devices[1];
        selection.Tag = DeviceTagByName(devices[1], 1, tag);
        if (selection.Tag >= 0) selection.Register = TagRegister[static_cast<std::size_t>(selection.Tag)];
        selection.ShowTagValue = [this](int tagIndex, const std::string& value) { shownValues.emplace_back(tagIndex, value); };
        selection.Warn = [this](const std::string& text) { warnings.push_back(text); };
        return selection;
    }
    void Set(const std::string& tag, const std::string& value) {
        dialog.typed = value;
        SimulatePortClick(Row(tag), dialog);
    }
    static int TagOf(const TModBusObj& device, int reg) { return device.Registers[static_cast<std::size_t>(reg)].TagIndex; }
};

TEST_F(SimulateTest, OnlineDeviceIsWrittenAndTheDataPointStored) {
    const int level = TagOf(devices[1], 0), valve = TagOf(devices[1], 1);
    Set("Level", "123");
    ASSERT_EQ(dialog.opened.size(), 1u);
    EXPECT_EQ(dialog.opened[0], std::make_pair(std::string("Level"), std::string("5")));
    EXPECT_EQ(peer.Register(40), 123);
    EXPECT_EQ(PointValue(level), 123);
    EXPECT_EQ(shownValues, (std::vector<std::pair<int, std::string>>{{level, "123"}}));

    Set("Level", "-1");
    EXPECT_EQ(peer.Register(40), 0xFFFF);
    EXPECT_EQ(PointValue(level), 65535);
    EXPECT_EQ(shownValues.back().second, "65535");

    Set("Valve", "-1");
    EXPECT_TRUE(peer.Coil(7));
    Set("Valve", "0");
    EXPECT_FALSE(peer.Coil(7));
    const TRequest last = peer.Requests().back();
    EXPECT_EQ(last[7], 5);
    EXPECT_EQ(last[10], 0);
    EXPECT_EQ(last[11], 0);
    EXPECT_EQ(PointValue(valve), 0);
    EXPECT_EQ(PointValue(TagOf(devices[0], 0)), 0);  // the same name on another device is left alone
}

TEST_F(SimulateTest, SimulatedDeviceStoresAndSendsNothing) {
    devices[1].Simulated = true;
    Set("Level", "123");
    EXPECT_EQ(PointValue(TagOf(devices[1], 0)), 123);
    EXPECT_EQ(shownValues.size(), 1u);
    EXPECT_EQ(peer.Connections(), 0);
}

TEST_F(SimulateTest, DoesNothingWithoutASelectionATagOrAWholeNumber) {
    dialog.typed = "9";
    SimulatePortClick(Row("Level", 0), dialog);  // the title row
    TSimulateSelection noDevice = Row("Level");
    noDevice.Device = nullptr;
    SimulatePortClick(noDevice, dialog);
    EXPECT_TRUE(dialog.opened.empty());

    Set("level", "9");  // names compare case-sensitively
    Set("Level", "-");
    Set("Level", "");
    dialog.typed.reset();  // Cancel
    SimulatePortClick(Row("Level"), dialog);
    EXPECT_EQ(dialog.opened.size(), 4u);

    // After a reload the tag arrays may point past the device's new registers.
    devices[1].ClearRegisters();
    AddRegister(devices[1], 40, 0, "Fresh");
    Set("Valve", "9");
    EXPECT_EQ(peer.Connections(), 0);
    EXPECT_TRUE(shownValues.empty());
    for (std::size_t i = 0; i < DataPoints.size(); ++i) EXPECT_EQ(PointValue(static_cast<int>(i)), 0);
}

}  // namespace
}  // namespace tw::test
