#include "config/ConfigStatements.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "values/TypedValue.h"

namespace tw {

namespace {
constexpr char kDeviceTable[] = "DEVICE";
constexpr char kRegisterTable[] = "I_O_SETTING";

std::string IdCondition(int64_t id) { return "ID = " + std::to_string(id); }

bool IsOne(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const long value = std::strtol(begin, &end, 10);
    return end != begin && value == 1;
}
}  // namespace

bool RowDisabled(const TRecordSet& row) { return IsOne(row.FieldAsString(fld::DISABLED)); }

bool RowBlockReads(const TRecordSet& row) {
    try {
        return IsOne(row.FieldAsString(fld::BLOCK_READS));
    } catch (const EDatabaseError&) {
        return false;  // no such field
    }
}

int64_t RowAddedNumber(const TRecordSet& row, const char* field) {
    std::string text;
    try {
        text = row.FieldAsString(field);
    } catch (const EDatabaseError&) {
        return 0;  // no such field: a database no version with it has opened
    }
    try {
        return row.FieldAsInteger(field);
    } catch (const EDatabaseError&) {
        return -1;  // text that is no number: no setting any list offers
    }
}

namespace {
// A field added after the first version as text; empty when the row lacks it.
std::string AddedText(const TRecordSet& row, const char* field) {
    try {
        return row.FieldAsString(field);
    } catch (const EDatabaseError&) {
        return {};
    }
}

// An optional number for a statement: NULL when empty.
std::string SqlNumberOrNull(const std::string& text) {
    const std::optional<double> number = ScalingNumber(text);
    return number ? SqlQuoted(ShortestText(*number)) : "NULL";
}
}  // namespace

void RowScaling(const TRecordSet& row, TRegisterFields& fields) {
    fields.RawLow = AddedText(row, fld::RAW_LOW);
    fields.RawHigh = AddedText(row, fld::RAW_HIGH);
    fields.EuLow = AddedText(row, fld::EU_LOW);
    fields.EuHigh = AddedText(row, fld::EU_HIGH);
    fields.Units = AddedText(row, fld::EU_UNITS);
    fields.Clamp = RowAddedNumber(row, fld::EU_CLAMP) == 1;
}

std::optional<double> ScalingNumber(const std::string& text) {
    std::string number = text;
    if (number.find('.') == std::string::npos)
        for (char& c : number)
            if (c == ',') c = '.';
    const std::optional<TValueBits> bits = ParseValue(number, TDataType::Float64);
    if (!bits) return std::nullopt;
    const double value = AsDouble(*bits, TDataType::Float64);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::string RowScanIntervalText(const TRecordSet& row) {
    try {
        return row.FieldAsString(fld::SCAN_INTERVAL_MS);
    } catch (const EDatabaseError&) {
        return {};  // no such field
    }
}

uint32_t ScanIntervalMs(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const long long value = std::strtoll(begin, &end, 10);
    return end != begin && *end == '\0' && value >= 0 && value <= kMaxScanIntervalMs ? static_cast<uint32_t>(value) : 0;
}

std::string SqlQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += '\'';
        quoted += c;
    }
    return quoted + "'";
}

std::string SqlSelectDevices() { return "SELECT * FROM DEVICE ORDER BY DESCRIPTION"; }

std::string SqlSelectRegisters(int64_t deviceId) {
    return "SELECT * FROM I_O_SETTING WHERE DEVICE_ID = " + std::to_string(deviceId) + " ORDER BY DESCRIPTION";
}

std::string SqlSelectDevice(int64_t deviceId) { return "SELECT * FROM DEVICE WHERE " + IdCondition(deviceId); }

std::string SqlSelectMaxRegisterId() { return "SELECT MAX(ID) FROM I_O_SETTING"; }

std::string SqlSelectRegister(int64_t registerId) { return "SELECT * FROM I_O_SETTING WHERE " + IdCondition(registerId); }

std::string SqlTagNameExists(const std::string& tagName, int64_t registerId) {
    return "SELECT TAG_NAME FROM I_O_SETTING WHERE TAG_NAME = " + SqlQuoted(tagName) +
           " AND ID <> " + std::to_string(registerId);
}

std::string SqlUpdateRegister(int64_t registerId, const TRegisterFields& f) {
    return "UPDATE I_O_SETTING SET DESCRIPTION = " + SqlQuoted(f.Description) +
           ", REGISTER_NO = " + SqlQuoted(f.RegisterNo) +
           ", REGISTER_TYPE = " + SqlQuoted(std::to_string(f.RegisterType)) +
           ", TAG_NAME = " + SqlQuoted(f.TagName) + ", DATA_TYPE = " + std::to_string(f.DataType) +
           ", RAW_LOW = " + SqlNumberOrNull(f.RawLow) + ", RAW_HIGH = " + SqlNumberOrNull(f.RawHigh) +
           ", EU_LOW = " + SqlNumberOrNull(f.EuLow) + ", EU_HIGH = " + SqlNumberOrNull(f.EuHigh) +
           ", EU_UNITS = " + (f.Units.empty() ? std::string("NULL") : SqlQuoted(f.Units)) +
           ", EU_CLAMP = " + (f.Clamp ? "1" : "0") + " WHERE " + IdCondition(registerId);
}

std::string SqlUpdateDevice(int64_t deviceId, const TDeviceFields& f) {
    return "UPDATE DEVICE SET DESCRIPTION = " + SqlQuoted(f.Description) +
           ", IP_ADDRESS = " + SqlQuoted(f.IpAddress) + ", PORT = " + SqlQuoted(f.Port) +
           ", UNIT_ID = " + SqlQuoted(f.UnitId) + ", DISABLED = " + (f.Disabled ? "1" : "0") +
           ", BLOCK_READS = " + (f.BlockReads ? "1" : "0") + ", WORD_ORDER = " + std::to_string(f.WordOrder) +
           ", WRITE_MULTIPLE = " + (f.WriteMultiple ? "1" : "0") +
           ", SCAN_INTERVAL_MS = " + (f.ScanIntervalMs.empty() ? "NULL" : SqlQuoted(f.ScanIntervalMs)) + " WHERE " +
           IdCondition(deviceId);
}

std::unique_ptr<TRecordSet> TConfigDatabase::Devices() { return db_.QueryRecords(Conn(), SqlSelectDevices(), true); }

std::unique_ptr<TRecordSet> TConfigDatabase::Registers(int64_t deviceId) {
    return db_.QueryRecords(Conn(), SqlSelectRegisters(deviceId), true);
}

std::unique_ptr<TRecordSet> TConfigDatabase::Device(int64_t deviceId) {
    return db_.QueryRecords(Conn(), SqlSelectDevice(deviceId), true);
}

std::unique_ptr<TRecordSet> TConfigDatabase::Register(int64_t registerId) {
    return db_.QueryRecords(Conn(), SqlSelectRegister(registerId), true);
}

int64_t TConfigDatabase::MaxRegisterId() {
    std::unique_ptr<TRecordSet> rs = db_.QueryRecords(Conn(), SqlSelectMaxRegisterId(), true);
    rs->First();
    // MAX over an empty table is one row holding NULL.
    if (rs->Eof() || rs->FieldAsString(fld::MAX).empty()) return -1;
    return rs->FieldAsInteger(fld::MAX);
}

bool TConfigDatabase::TagNameExists(const std::string& tagName, int64_t registerId) {
    return db_.QueryIfRecordExists(Conn(), SqlTagNameExists(tagName, registerId), true) > 0;
}

// Values of an insert go to the library as a list, never inside statement text: no quoting here.
int TConfigDatabase::InsertRegister(int64_t deviceId, const TRegisterFields& f) {
    return db_.InsertRecord(Conn(), kRegisterTable,
                            {fld::DEVICE_ID, fld::DESCRIPTION, fld::REGISTER_NO, fld::TAG_NAME, fld::REGISTER_TYPE,
                             fld::DATA_TYPE, fld::RAW_LOW, fld::RAW_HIGH, fld::EU_LOW, fld::EU_HIGH, fld::EU_UNITS,
                             fld::EU_CLAMP},
                            {std::to_string(deviceId), f.Description, f.RegisterNo, f.TagName,
                             std::to_string(f.RegisterType), std::to_string(f.DataType), f.RawLow, f.RawHigh, f.EuLow,
                             f.EuHigh, f.Units, f.Clamp ? "1" : "0"},
                            true);
}

int TConfigDatabase::InsertDevice(const TDeviceFields& f) {
    std::vector<std::string> fields{fld::DESCRIPTION, fld::IP_ADDRESS, fld::PORT,     fld::UNIT_ID,
                                    fld::DISABLED,    fld::BLOCK_READS, fld::WORD_ORDER, fld::WRITE_MULTIPLE};
    std::vector<std::string> values{f.Description, f.IpAddress, f.Port, f.UnitId, f.Disabled ? "1" : "0",
                                    f.BlockReads ? "1" : "0", std::to_string(f.WordOrder), f.WriteMultiple ? "1" : "0"};
    if (!f.ScanIntervalMs.empty()) {  // left out, it stays NULL
        fields.push_back(fld::SCAN_INTERVAL_MS);
        values.push_back(f.ScanIntervalMs);
    }
    return db_.InsertRecord(Conn(), kDeviceTable, fields, values, true);
}

int TConfigDatabase::UpdateRegister(int64_t registerId, const TRegisterFields& f) {
    return db_.UpdateRecords(Conn(), SqlUpdateRegister(registerId, f), true);
}

int TConfigDatabase::UpdateDevice(int64_t deviceId, const TDeviceFields& f) {
    return db_.UpdateRecords(Conn(), SqlUpdateDevice(deviceId, f), true);
}

int TConfigDatabase::DeleteRegister(int64_t registerId) {
    return db_.DeleteRecords(Conn(), kRegisterTable, IdCondition(registerId), true);
}

int TConfigDatabase::DeleteDevice(int64_t deviceId) {
    return db_.DeleteRecords(Conn(), kDeviceTable, IdCondition(deviceId), true);
}

}  // namespace tw
