// Every statement the configuration sends to the database, and the operations that send them.
// Typed text only ever reaches a composed statement between single quotes with its own quotes doubled,
// so any text is stored and read back unchanged and cannot end the literal early.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "libs/DataAccess.h"

namespace tw {

// Field names of the two tables.
namespace fld {
inline constexpr char ID[] = "ID";
inline constexpr char DESCRIPTION[] = "DESCRIPTION";
inline constexpr char IP_ADDRESS[] = "IP_ADDRESS";
inline constexpr char PORT[] = "PORT";
inline constexpr char UNIT_ID[] = "UNIT_ID";
inline constexpr char DISABLED[] = "DISABLED";
// Nullable, added to databases of earlier versions when missing: NULL (or 0) reads one register per
// request, 1 reads runs of consecutive registers in one request.
inline constexpr char BLOCK_READS[] = "BLOCK_READS";
// Nullable likewise: NULL or 0 high word first ("ABCD"), 1 low word first ("CDAB"), 2 and 3 the same
// with the bytes of each word swapped ("BADC", "DCBA").
inline constexpr char WORD_ORDER[] = "WORD_ORDER";
// Nullable likewise: 1 writes 16-bit registers with function 16, NULL or 0 with function 6.
inline constexpr char WRITE_MULTIPLE[] = "WRITE_MULTIPLE";
// Nullable, added likewise: the least time in ms from the start of one scan pass to the start of the
// next; NULL or 0 scans continuously.
inline constexpr char SCAN_INTERVAL_MS[] = "SCAN_INTERVAL_MS";
inline constexpr char DEVICE_ID[] = "DEVICE_ID";
inline constexpr char REGISTER_NO[] = "REGISTER_NO";
inline constexpr char REGISTER_TYPE[] = "REGISTER_TYPE";
inline constexpr char TAG_NAME[] = "TAG_NAME";
// Nullable likewise: the register's data type (NULL or 0 UInt16 ... 5 Float64, TDataType).
inline constexpr char DATA_TYPE[] = "DATA_TYPE";
// Nullable likewise: linear scaling into engineering units, all four NULL when there is none; the
// units' text; 1 clamps engineering values to the range.
inline constexpr char RAW_LOW[] = "RAW_LOW";
inline constexpr char RAW_HIGH[] = "RAW_HIGH";
inline constexpr char EU_LOW[] = "EU_LOW";
inline constexpr char EU_HIGH[] = "EU_HIGH";
inline constexpr char EU_UNITS[] = "EU_UNITS";
inline constexpr char EU_CLAMP[] = "EU_CLAMP";
inline constexpr char MAX[] = "MAX";
}  // namespace fld

// A device as typed in the device dialog; numbers stay as typed.
struct TDeviceFields {
    std::string Description;
    std::string IpAddress;
    std::string Port;
    std::string UnitId;
    bool Disabled = false;
    bool BlockReads = false;
    std::string ScanIntervalMs{};  // empty: none (NULL)
    int WordOrder = 0;  // "Word order:" list position
    bool WriteMultiple = false;
};

// The longest scan interval the device dialog takes: an hour.
inline constexpr uint32_t kMaxScanIntervalMs = 3600000;

// A register as typed in the register dialog; RegisterType is the list position (0 Register, 1 Coil,
// 2 Input Register, 3 Discrete Input), DataType that of "Data type:" (0 for coils and discrete inputs).
struct TRegisterFields {
    std::string Description;
    std::string RegisterNo;
    int RegisterType = 0;
    std::string TagName;
    int DataType = 0;
    // Scaling as typed: four numbers, or all four empty for none; units; clamp to the EU range.
    std::string RawLow{}, RawHigh{}, EuLow{}, EuHigh{};
    std::string Units{};
    bool Clamp = false;
};

// DISABLED of the current DEVICE row counts as set only when it reads as the number 1: 0, 2, empty
// text or NULL leave the device enabled.
bool RowDisabled(const TRecordSet& row);
// BLOCK_READS of the current DEVICE row likewise; a row without the field (a database no version of
// ours with block reads has opened) reads as off.
bool RowBlockReads(const TRecordSet& row);
// A nullable number added after the first version (WORD_ORDER, WRITE_MULTIPLE, DATA_TYPE): NULL, empty
// text and a row without the field read as 0, text that is no number as -1.
int64_t RowAddedNumber(const TRecordSet& row, const char* field);

// The scaling fields of the current I_O_SETTING row, as the register dialog shows them (empty where
// the row has NULL or lacks the field).
void RowScaling(const TRecordSet& row, TRegisterFields& fields);
// A number as typed or stored ("27648", "-0.5", "1e3"; a decimal comma is taken too); nullopt for
// anything else.
std::optional<double> ScalingNumber(const std::string& text);
// SCAN_INTERVAL_MS of the current DEVICE row as typed: empty for NULL or a row without the field.
std::string RowScanIntervalText(const TRecordSet& row);
// The interval a device scans with: 0 (continuously) for NULL, an absent field or anything that is
// not a number from 0 to kMaxScanIntervalMs.
uint32_t ScanIntervalMs(const std::string& text);

// 'text' with every quote doubled.
std::string SqlQuoted(const std::string& text);

// The composed statements.
std::string SqlSelectDevices();
std::string SqlSelectRegisters(int64_t deviceId);
std::string SqlSelectDevice(int64_t deviceId);
std::string SqlSelectMaxRegisterId();
std::string SqlSelectRegister(int64_t registerId);
std::string SqlTagNameExists(const std::string& tagName, int64_t registerId);
std::string SqlUpdateRegister(int64_t registerId, const TRegisterFields& fields);
std::string SqlUpdateDevice(int64_t deviceId, const TDeviceFields& fields);

// The configuration tables over the data-access library. The connection is asked for at each call: it is
// made by the main window's creation, after this object exists.
class TConfigDatabase {
public:
    TConfigDatabase(IDataAccess& db, std::function<DbConnection()> connection)
        : db_(db), connection_(std::move(connection)) {}

    // Result sets; EDatabaseError when the statement fails.
    std::unique_ptr<TRecordSet> Devices();
    std::unique_ptr<TRecordSet> Registers(int64_t deviceId);
    std::unique_ptr<TRecordSet> Device(int64_t deviceId);
    std::unique_ptr<TRecordSet> Register(int64_t registerId);
    // Largest register ID; -1 when the table gives no row.
    int64_t MaxRegisterId();
    // True when a register other than registerId (-1: a new one) carries this tag name.
    bool TagNameExists(const std::string& tagName, int64_t registerId);

    // Above 0 on success.
    int InsertRegister(int64_t deviceId, const TRegisterFields& fields);
    int InsertDevice(const TDeviceFields& fields);
    int UpdateRegister(int64_t registerId, const TRegisterFields& fields);
    int UpdateDevice(int64_t deviceId, const TDeviceFields& fields);
    int DeleteRegister(int64_t registerId);
    int DeleteDevice(int64_t deviceId);

private:
    DbConnection Conn() const { return connection_ ? connection_() : 0; }

    IDataAccess& db_;
    std::function<DbConnection()> connection_;
};

}  // namespace tw
