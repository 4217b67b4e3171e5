// The OPC address space: one tag per register of every enabled device, built once per run.
#pragma once

#include "acquisition/ModBusObjList.h"
#include "values/DataPoints.h"
#include "values/Scaling.h"
#include "values/TypedValue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

constexpr uint32_t FirstTagId = 6000;  // identifier = FirstTagId + tag index; 0 means no tag
// The VARIANT types of tag values, by number: the tag table needs no COM to name them.
constexpr uint32_t VtI2 = 2, VtI4 = 3, VtR4 = 4, VtR8 = 5, VtBool = 11, VtUI2 = 18, VtUI4 = 19;
constexpr std::size_t MaxTagNameLength = 64;

// The canonical type of a value of this data type: UInt16 VT_UI2 (registers, coils and discrete
// inputs alike), Int16 VT_I2, UInt32 VT_UI4, Int32 VT_I4, Float32 VT_R4, Float64 VT_R8; Bool VT_BOOL. A
// scaled value's is VT_R8, or VT_R4 for a Float32 register.
uint32_t CanonicalVarType(TDataType type, bool scaled = false);

struct TTagEntry {
    uint32_t Id = 0;
    std::string Name;
    uint32_t CanonicalType = 0;
    TDataType DataType = TDataType::UInt16;  // of the value its data point holds
    bool Writable = false;                   // input registers and discrete inputs are not
    TScaling Scaling;                        // into engineering units for clients; the point holds raw
    std::string Units;
};

// Tags in index order, followed by one blank entry that is not a tag.
extern std::vector<TTagEntry> TagTable;
// For each tag: its device's position in the device list and its register's index in that device.
extern std::vector<int32_t> TagDevice;
extern std::vector<int32_t> TagRegister;

// Numbers the registers device by device, sets their TagIndex and creates one data point per tag;
// with statusItems, each device's status tags follow the register tags (DeviceStatusTags.h).
void BuildTagTable(const TModBusObjList& devices, bool statusItems = false);
// Appends a tag while the table is built; register -1: a tag of its device that is no register.
void AppendTag(const std::string& name, TDataType type, bool writable, int32_t device, int32_t reg,
               const TScaling& scaling = {}, const std::string& units = {});
// Number of tags (the blank entry not counted).
int TagCount();
// Identifier of the first tag with exactly this name (case-sensitive); 0 when none.
uint32_t TagIdByName(const std::string& name);
std::string TagNameById(uint32_t id);
// False for input registers and discrete inputs, and for an identifier that names no tag.
bool TagIsWritable(uint32_t id);
// The tag's canonical type; VT_UI2 for an identifier that names no tag.
uint32_t TagCanonicalType(uint32_t id);
// The data type of the tag's data point; UInt16 for an identifier that names no tag.
TDataType TagDataType(uint32_t id);
// The tag's entry; null for an identifier that names no tag.
const TTagEntry* TagEntry(uint32_t id);
// The first tag, in tag-index order, of the device at deviceIndex whose register, as the device
// object has it now, carries this name; -1 when none. After a reload the tag arrays may name
// registers the new device objects do not have: those are passed over.
int DeviceTagByName(const TModBusObj& device, int deviceIndex, const std::string& tagName);
// Empties the table, the arrays and the data points (a fresh process, for tests).
void ResetTagTable();

}  // namespace tw
