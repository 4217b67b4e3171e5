#include "config/SettingsPage.h"

#include <exception>
#include <optional>

#include "config/ConfigStatements.h"
#include "config/DeviceSetting.h"
#include "config/DialogChecks.h"
#include "config/IOSetting.h"
#include "config/LoadedDevices.h"
#include "config/SettingDialogs.h"
#include "libs/General.h"
#include "tags/TagTable.h"

namespace tw {

namespace {
constexpr const char* kGridTitles[kGridColumns] = {"No.", "Description", "Reg.No.", "Reg.Type", "OPC Tag Name",
                                                   "Tag Value"};
constexpr char kRestart[] = "\r\rYou must restart Tarnowick for the new setting to be effective.";
constexpr char kSelectDeviceFirst[] = "Please select a Device first!";
constexpr char kErrorSavingDevice[] = "Error saving Device Settings!";
constexpr char kErrorDeleting[] = "Error deleting Device Settings!";
}  // namespace

TSettingsPage::TSettingsPage(ISettingsPageView& view, ISettingDialogs& dialogs, IGeneral& general,
                             TConfigDatabase& db, const TLoadedDevices& devices, int& selectedRow)
    : view_(view), dialogs_(dialogs), general_(general), db_(db), devices_(devices), selectedRow_(selectedRow),
      grid_(2) {}

// Database errors reach the operator as the engine's message; the page stays usable.
template <class Body>
void TSettingsPage::Guarded(Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        general_.ShowMsg(e.what(), mkError, mbOKOnly, 0);
    }
}

void TSettingsPage::Notify(const std::string& text, int kind) const { general_.ShowMsg(text, kind, mbOKOnly, 0); }

// A database operation's result (above 0: success) told to the operator.
void TSettingsPage::Outcome(int result, const std::string& done, const std::string& failed) const {
    if (result > 0)
        Notify(done, mkInformation);
    else
        Notify(failed, mkError);
}

void TSettingsPage::PublishGrid() const { view_.SetGridRows(grid_, selectedRow_); }

void TSettingsPage::SetGridTitles() {
    for (int c = 0; c < kGridColumns; ++c) grid_[0][static_cast<std::size_t>(c)] = kGridTitles[c];
    PublishGrid();
}

int64_t TSettingsPage::SelectedDeviceId() const {
    if (selectedEntry_ < 0 || selectedEntry_ >= static_cast<int>(entries_.size())) return 0;
    return entries_[static_cast<std::size_t>(selectedEntry_)].Id;
}

TModBusObj* TSettingsPage::DisplayedDevice() const {
    return displayedDeviceId_ > 0 ? devices_.Find(displayedDeviceId_) : nullptr;
}

int TSettingsPage::DisplayedDeviceIndex() const {
    return displayedDeviceId_ > 0 ? devices_.IndexOf(displayedDeviceId_) : -1;
}

void TSettingsPage::RefreshDevices() {
    entries_.clear();
    selectedEntry_ = -1;
    std::vector<std::string> texts;
    try {
        std::unique_ptr<TRecordSet> rows = db_.Devices();
        for (rows->First(); !rows->Eof(); rows->Next()) {
            entries_.push_back({rows->FieldAsString(fld::DESCRIPTION) + " - " + rows->FieldAsString(fld::IP_ADDRESS),
                                rows->FieldAsInteger(fld::ID)});
            texts.push_back(entries_.back().Text);
        }
    } catch (...) {
        view_.SetDeviceItems(texts);  // the entries read so far
        throw;
    }
    view_.SetDeviceItems(texts);
}

void TSettingsPage::lbxDevicesClick(int itemIndex) {
    if (itemIndex < 0 || itemIndex >= static_cast<int>(entries_.size())) return;
    selectedEntry_ = itemIndex;
    const int64_t id = SelectedDeviceId();
    Guarded([&] {
        TDeviceDetails details;
        std::unique_ptr<TRecordSet> row = db_.Device(id);
        row->First();
        if (!row->Eof())
            details = {row->FieldAsString(fld::DESCRIPTION), row->FieldAsString(fld::IP_ADDRESS),
                       row->FieldAsString(fld::PORT), row->FieldAsString(fld::UNIT_ID)};
        view_.SetDeviceDetails(details);
        RefreshIOPoints(id);
    });
}

void TSettingsPage::RefreshIOPoints(int64_t deviceId) {
    if (deviceId <= 0) return;
    displayedDeviceId_ = deviceId;
    const TModBusObj* device = DisplayedDevice();
    grid_.resize(2);
    grid_[1] = TGridRow{};
    try {
        std::unique_ptr<TRecordSet> rows = db_.Registers(deviceId);
        std::size_t r = 1;
        for (rows->First(); !rows->Eof(); rows->Next(), ++r) {
            if (grid_.size() < r + 1) grid_.emplace_back();
            TGridRow& row = grid_[r];
            row[colNo] = rows->FieldAsString(fld::ID);
            row[colDescription] = rows->FieldAsString(fld::DESCRIPTION);
            row[colRegNo] = rows->FieldAsString(fld::REGISTER_NO);
            row[colRegType] = RegisterTypeText(rows->FieldAsInteger(fld::REGISTER_TYPE));
            row[colTagName] = rows->FieldAsString(fld::TAG_NAME);
            row[colTagValue] = TagValueText(device, row[colTagName]);
        }
    } catch (...) {
        PublishGrid();  // the rows read so far
        throw;
    }
    PublishGrid();
}

// Values follow the register's tag name, not its row position: rows added or deleted since the load
// would otherwise show another register's value. A register without a data point shows nothing.
std::string TSettingsPage::TagValueText(const TModBusObj* device, const std::string& tagName) const {
    if (device == nullptr || tagName.empty()) return {};
    for (const TIOPointObj& point : device->Registers) {
        if (point.TagName != tagName) continue;
        if (point.TagIndex < 0 || static_cast<std::size_t>(point.TagIndex) >= DataPoints.size()) return {};
        return point.ShownValue(DataPoints[static_cast<std::size_t>(point.TagIndex)].Value());
    }
    return {};
}

int TSettingsPage::RowOfTag(const std::string& tagName) const {
    for (std::size_t r = 1; r < grid_.size(); ++r)
        if (!grid_[r][colRegNo].empty() && grid_[r][colTagName] == tagName) return static_cast<int>(r);
    return -1;
}

void TSettingsPage::RefreshTagValues() {
    if (grid_.size() <= 1 || displayedDeviceId_ <= 0) return;
    // Looked up on every tick: after a reload the old device objects are gone, and the new ones have no
    // data points, so stale values are cleared rather than kept.
    const TModBusObj* device = DisplayedDevice();
    for (std::size_t r = 1; r < grid_.size(); ++r) {
        TGridRow& row = grid_[r];
        if (row[colRegNo].empty()) continue;
        std::string text = TagValueText(device, row[colTagName]);
        if (text == row[colTagValue]) continue;
        row[colTagValue] = std::move(text);
        view_.SetGridCell(static_cast<int>(r), colTagValue, row[colTagValue]);
    }
}

void TSettingsPage::ShowTagValue(int tagIndex, const std::string& value) {
    if (!view_.SettingsPageActive() || tagIndex < 0) return;
    const auto tag = static_cast<std::size_t>(tagIndex);
    if (tag >= TagDevice.size() || tag >= TagRegister.size()) return;
    const int index = DisplayedDeviceIndex();
    if (index < 0 || TagDevice[tag] != index) return;
    const TModBusObj& device = devices_.List()[index];
    const int32_t reg = TagRegister[tag];
    if (reg < 0 || static_cast<std::size_t>(reg) >= device.Registers.size()) return;
    // After a reload the positions of the tag arrays name new records that carry no tag.
    const TIOPointObj& point = device.Registers[static_cast<std::size_t>(reg)];
    if (point.TagIndex != tagIndex) return;
    const int row = RowOfTag(point.TagName);
    if (row < 1) return;
    grid_[static_cast<std::size_t>(row)][colTagValue] = value;
    view_.SetGridCell(row, colTagValue, grid_[static_cast<std::size_t>(row)][colTagValue]);
}

void TSettingsPage::btnNewDeviceClick() {
    Guarded([&] {
        TfrmDeviceSetting dialog(general_);
        if (dialogs_.ShowDeviceSetting(dialog))
            Outcome(db_.InsertDevice(dialog.Fields), "New Device added!", kErrorSavingDevice);
    });
    Guarded([&] { RefreshDevices(); });
}

void TSettingsPage::btnEditDeviceClick() {
    const int64_t id = SelectedDeviceId();
    if (id <= 0) return;
    Guarded([&] {
        TfrmDeviceSetting dialog(general_);
        {
            std::unique_ptr<TRecordSet> row = db_.Device(id);
            row->First();
            if (row->Eof()) return;  // deleted meanwhile: the refresh below drops its entry
            dialog.DeviceId = row->FieldAsInteger(fld::ID);
            dialog.Fields = {row->FieldAsString(fld::DESCRIPTION), row->FieldAsString(fld::IP_ADDRESS),
                             row->FieldAsString(fld::PORT), row->FieldAsString(fld::UNIT_ID), RowDisabled(*row),
                             RowBlockReads(*row), RowScanIntervalText(*row),
                             static_cast<int>(WordOrderOf(RowAddedNumber(*row, fld::WORD_ORDER))),
                             RowAddedNumber(*row, fld::WRITE_MULTIPLE) == 1};
        }
        if (!dialogs_.ShowDeviceSetting(dialog)) return;
        Outcome(db_.UpdateDevice(dialog.DeviceId, dialog.Fields), "Device Settings updated!", kErrorSavingDevice);
    });
    Guarded([&] { RefreshDevices(); });
}

void TSettingsPage::btnDeleteDeviceClick() {
    const int64_t id = SelectedDeviceId();
    if (id <= 0) return;
    const std::string text = entries_[static_cast<std::size_t>(selectedEntry_)].Text;
    if (general_.ShowMsg("Are you sure to delete Device for " + text + "?", mkConfirmation, mbYesCancel, 0) != mrYes)
        return;
    // Only the DEVICE row goes; its registers stay in I_O_SETTING.
    Guarded([&] { Outcome(db_.DeleteDevice(id), "Device deleted!", kErrorDeleting); });
    Guarded([&] { RefreshDevices(); });
}

void TSettingsPage::bbnNewClick() {
    const int64_t deviceId = SelectedDeviceId();
    if (deviceId <= 0) {
        Notify(kSelectDeviceFirst, mkWarning);
        return;
    }
    Guarded([&] {
        TfrmIOSetting dialog(general_, db_);
        if (!dialogs_.ShowIOSetting(dialog)) return;
        if (db_.InsertRegister(deviceId, dialog.Fields) <= 0) {
            Notify("Error adding Register!", mkError);
            return;
        }
        Notify(std::string("New Register added!") + kRestart, mkInformation);
        const int64_t newId = db_.MaxRegisterId();
        // The first register of an empty grid takes the empty row 1.
        if (grid_.size() > 2 || (grid_.size() == 2 && !grid_[1][colNo].empty())) grid_.emplace_back();
        TGridRow& row = grid_.back();
        row[colNo] = std::to_string(newId);
        row[colDescription] = dialog.Fields.Description;
        row[colRegNo] = dialog.Fields.RegisterNo;
        row[colRegType] = RegisterTypeText(dialog.Fields.RegisterType);
        row[colTagName] = dialog.Fields.TagName;
        PublishGrid();
    });
}

// The remembered row holds a register: not the title row, not past the last row (rows are removed
// under it) and not the empty row of an empty grid.
bool TSettingsPage::RegisterRowSelected() const {
    return selectedRow_ >= 1 && static_cast<std::size_t>(selectedRow_) < grid_.size() &&
           IsWholeNumber(grid_[static_cast<std::size_t>(selectedRow_)][colNo]);
}

void TSettingsPage::bbnEditClick() {
    if (!RegisterRowSelected()) return;
    const auto selected = static_cast<std::size_t>(selectedRow_);
    Guarded([&] {
        TfrmIOSetting dialog(general_, db_);
        {
            const TGridRow& row = grid_[selected];
            dialog.RegisterId = std::stoll(row[colNo]);
            dialog.Fields = {row[colDescription], row[colRegNo], RegisterTypeOf(row[colRegType]), row[colTagName]};
            StoredFields(dialog.RegisterId, dialog.Fields);
        }
        if (!dialogs_.ShowIOSetting(dialog)) return;
        // The grid is indexed again: the modal dialog let timers run meanwhile.
        if (selected < grid_.size()) {
            TGridRow& row = grid_[selected];
            row[colDescription] = dialog.Fields.Description;
            row[colRegNo] = dialog.Fields.RegisterNo;
            row[colRegType] = RegisterTypeText(dialog.Fields.RegisterType);
            row[colTagName] = dialog.Fields.TagName;
            PublishGrid();
        }
        Outcome(db_.UpdateRegister(dialog.RegisterId, dialog.Fields),
                std::string("Register Settings updated!") + kRestart, "Error saving Register Settings!");
    });
}

// The grid does not show a register's data type and scaling: the database has them. A data type the
// list does not have shows as the first entry; a database that cannot say leaves the save to report it.
void TSettingsPage::StoredFields(int64_t registerId, TRegisterFields& fields) const {
    try {
        std::unique_ptr<TRecordSet> row = db_.Register(registerId);
        row->First();
        if (row->Eof()) return;
        const std::optional<TDataType> type = DataTypeOf(RowAddedNumber(*row, fld::DATA_TYPE));
        fields.DataType = type ? static_cast<int>(*type) : 0;
        RowScaling(*row, fields);
    } catch (const std::exception&) {
    }
}

void TSettingsPage::bbnDeleteClick() {
    // The title row or an empty row would hand the database "ID = " and no register.
    if (!RegisterRowSelected()) return;
    const auto selected = static_cast<std::size_t>(selectedRow_);
    if (general_.ShowMsg("Are you sure to delete Register Setting for " + grid_[selected][colRegNo] + "?",
                         mkConfirmation, mbYesCancel, 0) != mrYes)
        return;
    const int64_t registerId = std::stoll(grid_[selected][colNo]);
    if (grid_.size() <= 2)
        grid_[1] = TGridRow{};
    else
        grid_.erase(grid_.begin() + static_cast<std::ptrdiff_t>(selected));
    PublishGrid();
    Guarded([&] {
        Outcome(db_.DeleteRegister(registerId), std::string("Device deleted!") + kRestart, kErrorDeleting);
    });
}

}  // namespace tw
