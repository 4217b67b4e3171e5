// Value conversion and time helpers for everything the server hands to a client.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace tw::opc {

// A plain type from VT_EMPTY to VT_CLSID; any modifier bit (array, by-reference, vector) is refused.
bool IsValidVarType(VARTYPE vt);

// Converts source to target in the user's default locale. DISP_E_OVERFLOW marks the quality bad (0);
// other failures leave it alone. dest must be initialised; what it held is released.
void ConvertVariant(const VARIANT& source, VARTYPE target, WORD& quality, VARIANT& dest, HRESULT& result);

// Local date-times are OLE automation dates (days since 30 December 1899) in local time.
double NowLocalDateTime();
// UTC FILETIME of a local date-time; the offset in force now is applied, not the one of the date.
FILETIME LocalDateTimeToFileTime(double localDateTime);

}  // namespace tw::opc
