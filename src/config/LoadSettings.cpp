#include "config/LoadSettings.h"

#include <optional>
#include <vector>

#include "config/ConfigStatements.h"
#include "config/IOSetting.h"
#include "config/LoadedDevices.h"
#include "config/Settings.h"

namespace tw {

namespace {
void Call(const std::function<void()>& f) {
    if (f) f();
}
}  // namespace

TSettingsLoader::TSettingsLoader(TConfigDatabase& db, TSettings& settings, TLoadedDevices& devices,
                                 TLoadSettingsHooks hooks)
    : db_(db), settings_(settings), devices_(devices), hooks_(std::move(hooks)) {}

void TSettingsLoader::LoadSettings(bool afterSave) {
    TModBusObjList& list = devices_.List();
    const bool wasRunning = list.Count() > 0 && list[0].Running;
    Log(kLogLoading);
    Call(hooks_.Stop);
    devices_.Clear();
    if (hooks_.SetCaption) hooks_.SetCaption(kMainCaption);
    settings_.Load();
    if (settings_.HideOnStartup() && !afterSave) Call(hooks_.HideMainWindow);
    Call(hooks_.RefreshDevices);

    std::unique_ptr<TRecordSet> rows = db_.Devices();
    for (rows->First(); !rows->Eof(); rows->Next())
        if (!RowDisabled(*rows)) LoadDevice(*rows);

    Log(kLogLoaded);
    if (wasRunning) Call(hooks_.Start);
}

void TSettingsLoader::LoadDevice(const TRecordSet& row) {
    // Everything is read before the device object exists, so a row that fails half-way never leaves
    // a half-built device in the list.
    const int64_t id = row.FieldAsInteger(fld::ID);
    const std::string description = row.FieldAsString(fld::DESCRIPTION);
    const std::string host = row.FieldAsString(fld::IP_ADDRESS);
    const auto port = static_cast<int32_t>(row.FieldAsInteger(fld::PORT));
    const auto unitId = static_cast<uint8_t>(row.FieldAsInteger(fld::UNIT_ID));
    const bool blockReads = RowBlockReads(row);
    const TWordOrder wordOrder = WordOrderOf(RowAddedNumber(row, fld::WORD_ORDER));
    const bool writeMultiple = RowAddedNumber(row, fld::WRITE_MULTIPLE) == 1;
    const uint32_t scanIntervalMs = ScanIntervalMs(RowScanIntervalText(row));

    std::vector<TIOPointObj> registers;
    std::unique_ptr<TRecordSet> regs = db_.Registers(id);
    for (regs->First(); !regs->Eof(); regs->Next()) {
        TIOPointObj point;
        point.Description = regs->FieldAsString(fld::DESCRIPTION);
        point.RegisterNo = static_cast<int32_t>(regs->FieldAsInteger(fld::REGISTER_NO));
        point.RegisterType = static_cast<int32_t>(regs->FieldAsInteger(fld::REGISTER_TYPE));
        point.TagName = regs->FieldAsString(fld::TAG_NAME);
        const std::optional<TDataType> type = DataTypeOf(RowAddedNumber(*regs, fld::DATA_TYPE));
        point.DataType = point.IsBit() || !type ? TDataType::UInt16 : *type;
        // A row the dialogs would not have saved (edited by hand, or by a later version) is loaded, so
        // its tag exists, but never read or written: its quality says config error.
        TRegisterFields stored;
        RowScaling(*regs, stored);
        const std::optional<TScaling> scaling = point.IsBit() ? TScaling{} : ScalingOf(stored);
        if (scaling && scaling->Enabled) {
            point.Scaling = *scaling;
            point.Units = stored.Units;
        }
        point.Unusable = (!point.IsBit() && !type) || !FitsRegisters(point.RegisterNo, point.Width()) || !scaling;
        registers.push_back(std::move(point));  // TagIndex stays -1 until the tag table is built
    }

    TModBusObj& device = devices_.Add(id);
    device.Description = description;
    device.SetConnection(host, port, unitId);
    device.BlockReads = blockReads;
    device.WordOrder = wordOrder;
    device.WriteMultiple = writeMultiple;
    device.ScanIntervalMs = scanIntervalMs;
    device.ClearRegisters();
    for (TIOPointObj& point : registers)
        device.Registers[static_cast<std::size_t>(device.AddRegister())] = std::move(point);
}

}  // namespace tw
