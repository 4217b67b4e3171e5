// The "Register Setting" dialog's logic: its fields and the OK check, including the tag name that
// must be unique over all registers.
#pragma once

#include <cstdint>
#include <string>

#include "config/ConfigStatements.h"

namespace tw {

class IGeneral;

inline constexpr char kIOSettingCaption[] = "Register Setting";
inline constexpr char kTagNameExists[] = "Tag Name already exists!\r\rPlease use a different OPC Tag Name.";
// The "Type:" list, in list-position order (the stored REGISTER_TYPE).
inline constexpr const char* kRegisterTypes[] = {"Register", "Coil"};

// "Coil" for type 1, "Register" for anything else.
std::string RegisterTypeText(int64_t type);
// The list position of a type text; "Register" for a text that is not "Coil".
int RegisterTypeOf(const std::string& text);

class TfrmIOSetting {
public:
    TfrmIOSetting(IGeneral& general, TConfigDatabase& db) : general_(general), db_(db) {}

    TRegisterFields Fields;  // "Description:", "Register No.:", "Type:" (list position), "OPC Tag Name:"
    int64_t RegisterId = -1;  // -1: a new register

    // true: the dialog closes with OK; false: it stays open after the warning.
    bool bbOKClick();

private:
    IGeneral& general_;
    TConfigDatabase& db_;
};

}  // namespace tw
