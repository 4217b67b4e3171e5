// The OPC address space: one tag per register of every enabled device, built once per run.
#pragma once

#include "acquisition/ModBusObjList.h"
#include "tags/DataPoints.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

constexpr uint32_t FirstTagId = 6000;  // identifier = FirstTagId + tag index; 0 means no tag
constexpr uint32_t VtUI2 = 18;         // the canonical type of every tag
constexpr std::size_t MaxTagNameLength = 64;

struct TTagEntry {
    uint32_t Id = 0;
    std::string Name;
    uint32_t CanonicalType = 0;
};

// Tags in index order, followed by one blank entry that is not a tag.
extern std::vector<TTagEntry> TagTable;
// For each tag: its device's position in the device list and its register's index in that device.
extern std::vector<int32_t> TagDevice;
extern std::vector<int32_t> TagRegister;

// Numbers the registers device by device, sets their TagIndex and creates one data point per tag.
void BuildTagTable(const TModBusObjList& devices);
// Number of tags (the blank entry not counted).
int TagCount();
// Identifier of the first tag with exactly this name (case-sensitive); 0 when none.
uint32_t TagIdByName(const std::string& name);
std::string TagNameById(uint32_t id);
bool TagIsWritable(uint32_t id);
// The tag's canonical type; VT_UI2 for an identifier that names no tag.
uint32_t TagCanonicalType(uint32_t id);
// Empties the table, the arrays and the data points (a fresh process, for tests).
void ResetTagTable();

}  // namespace tw
