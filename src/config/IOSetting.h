// The "Register Setting" dialog's logic: its fields and the OK check, including the tag name that
// must be unique over all registers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/ConfigStatements.h"
#include "values/Scaling.h"

namespace tw {

class IGeneral;

inline constexpr char kIOSettingCaption[] = "Register Setting";
inline constexpr char kTagNameExists[] = "Tag Name already exists!\r\rPlease use a different OPC Tag Name.";
// The "Type:" list, in list-position order (the stored REGISTER_TYPE).
inline constexpr const char* kRegisterTypes[] = {"Register", "Coil", "Input Register", "Discrete Input"};
inline constexpr int kRegisterTypeCount = 4;

// The list entry of a stored type; "Register" for a number the list does not have.
std::string RegisterTypeText(int64_t type);
// The list position of a type text; "Register" (0) for a text that is not in the list.
int RegisterTypeOf(const std::string& text);
// Whether the type holds bits (coils, discrete inputs), which take no data type.
bool RegisterTypeIsBit(int type);
// The warning for a value of dataType that would run past the last register from registerNo on.
std::string RegisterNoTooHigh(int dataType);
inline constexpr char kScalingNumbers[] =
    "Scaling needs four numbers!\r\rRaw low, raw high, EU low and EU high must all be numbers, or all be empty "
    "(no scaling; then the units stay empty too).";
inline constexpr char kScalingRawEqual[] = "Raw low and raw high must differ!";
inline constexpr char kScalingEuEqual[] = "EU low and EU high must differ!";
// The scaling the fields describe: disabled when all four numbers are empty; nullopt when they are not
// four numbers with raw low unlike raw high and EU low unlike EU high, or when units come without them.
std::optional<TScaling> ScalingOf(const TRegisterFields& fields);

class TfrmIOSetting {
public:
    TfrmIOSetting(IGeneral& general, TConfigDatabase& db) : general_(general), db_(db) {}

    // "Description:", "Register No.:", "Type:" (list position), "OPC Tag Name:", "Data type:" (list
    // position)
    TRegisterFields Fields;
    int64_t RegisterId = -1;  // -1: a new register

    // true: the dialog closes with OK (a coil's or discrete input's data type set to 0 and its scaling
    // emptied; the scaling's numbers written as they are stored); false: it stays open after the
    // warning.
    bool bbOKClick();

private:
    IGeneral& general_;
    TConfigDatabase& db_;
};

}  // namespace tw
